// Degrees to map units: the closed-form sphere Mercator against PROJ doing the
// same projection, one point at a time and in batches.
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>
#include <proj.h>

#include "geo/MapProjection.h"
#include "geo/ZoneCalls.h"

namespace {

using kestrune::MapPoint;

constexpr int kPoints = 4096;
constexpr double kOffset = 1050000000.0;

struct Positions {
  std::vector<double> lat, lon;
  Positions() {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> la(-85.0, 85.0), lo(-180.0, 180.0);
    for (int i = 0; i < kPoints; ++i) {
      lat.push_back(la(rng));
      lon.push_back(lo(rng));
    }
  }
};

const Positions& Input() {
  static Positions p;
  return p;
}

// Same rounding as the map projection, so every path does the whole job.
MapPoint ToMap(double x, double y) {
  return {static_cast<int32_t>(x * 50 + kOffset + 0.5), static_cast<int32_t>(kOffset - y * 50 + 0.5)};
}

void BM_GeoToMapClosedForm(benchmark::State& state) {
  const Positions& in = Input();
  kestrune::SphereMercatorProjection projection;
  std::vector<MapPoint> out(kPoints);
  for (auto _ : state) {
    for (int i = 0; i < kPoints; ++i) projection.GeoToMap(in.lat[i], in.lon[i], out[i]);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_GeoToMapClosedForm);

PJ* SphereMercatorPipeline() {
  return proj_create(nullptr,
                     "+proj=pipeline +step +proj=unitconvert +xy_in=deg +xy_out=rad "
                     "+step +proj=merc +R=6370997 +lon_0=0");
}

void BM_ProjTransPerPoint(benchmark::State& state) {
  const Positions& in = Input();
  PJ* merc = SphereMercatorPipeline();
  std::vector<MapPoint> out(kPoints);
  for (auto _ : state) {
    for (int i = 0; i < kPoints; ++i) {
      const PJ_COORD c = proj_trans(merc, PJ_FWD, proj_coord(in.lon[i], in.lat[i], 0, 0));
      out[i] = ToMap(c.xy.x, c.xy.y);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
  proj_destroy(merc);
}
BENCHMARK(BM_ProjTransPerPoint);

void BM_ProjTransGenericBatch(benchmark::State& state) {
  const Positions& in = Input();
  PJ* merc = SphereMercatorPipeline();
  std::vector<double> x(kPoints), y(kPoints);
  std::vector<MapPoint> out(kPoints);
  for (auto _ : state) {
    x = in.lon;
    y = in.lat;
    proj_trans_generic(merc, PJ_FWD, x.data(), sizeof(double), kPoints, y.data(), sizeof(double), kPoints,
                       nullptr, 0, 0, nullptr, 0, 0);
    for (int i = 0; i < kPoints; ++i) out[i] = ToMap(x[i], y[i]);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
  proj_destroy(merc);
}
BENCHMARK(BM_ProjTransGenericBatch);

// The numbered Mercator calls as the closed library was used: initialise, then
// transform, for every point.
void BM_NumberedCallsPerPoint(benchmark::State& state) {
  const Positions& in = Input();
  double params[kestrune::zones::kParamCount] = {};
  constexpr double kRad = 0.017453292519943295;
  std::vector<MapPoint> out(kPoints);
  for (auto _ : state) {
    for (int i = 0; i < kPoints; ++i) {
      double x = 0, y = 0;
      kestrune::zones::PrepareMercatorForward(kestrune::zones::kProjectionMercator, 0, params, kestrune::zones::kDatumSphere,
                                  nullptr);
      kestrune::zones::MercatorForward(in.lon[i] * kRad, in.lat[i] * kRad, &x, &y);
      out[i] = ToMap(x, y);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_NumberedCallsPerPoint);

}  // namespace

BENCHMARK_MAIN();
