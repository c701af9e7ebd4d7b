// Cartographic transformations over PROJ: Mercator forward and inverse,
// UTM and State Plane zones, and the NAD27 datum shift.
#include "geo/ZoneCalls.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <tuple>

#include "geo/ProjSupport.h"

#include <proj_experimental.h>

namespace kestrune {

namespace {

// Swallows PROJ's log lines: failures reach callers as results.
void QuietLog(void*, int, const char*) {}

}  // namespace

// The process's PROJ context; deliberately never destroyed, because converters
// made in it may be held by objects that outlive any static.
PJ_CONTEXT* ProjContext() {
  static PJ_CONTEXT* context = [] {
    PJ_CONTEXT* ctx = proj_context_create();
    proj_log_func(ctx, nullptr, QuietLog);
    proj_log_level(ctx, PJ_LOG_NONE);
    // Grids are used when installed locally; never reach out to the network.
    proj_context_set_enable_network(ctx, 0);
    return ctx;
  }();
  return context;
}

// The lock around every use of the context.
std::mutex& ProjMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

// WGS 84 geographic from the database, made once.
PJ* Wgs84Crs() {
  static PJ* crs = proj_create(ProjContext(), "EPSG:4326");
  return crs;
}

// A WGS 84 to CRS transformation with longitude first on the geographic side.
PjPtr MakeTransformFromWgs84(PJ* crs) {
  if (crs == nullptr || Wgs84Crs() == nullptr) return nullptr;
  PJ_CONTEXT* ctx = ProjContext();
  PjPtr raw(proj_create_crs_to_crs_from_pj(ctx, Wgs84Crs(), crs, nullptr, nullptr));
  if (!raw) return nullptr;
  PjPtr normalized(proj_normalize_for_visualization(ctx, raw.get()));
  return normalized;
}

namespace zones {

namespace {

constexpr double kDegreesPerRadian = 57.29577951308232;

enum class ZoneKind { Utm, StatePlane };
using ZoneKey = std::tuple<ZoneKind, int, int>;

struct State {
  std::map<std::string, PjPtr> mercator;   // by PROJ definition
  std::map<ZoneKey, PjPtr> zones;          // null entries remember failures
  PjPtr nad27Shift;
  bool nad27Tried = false;
  PJ* forward = nullptr;  // set by ForwardInit
  PJ* inverse = nullptr;  // set by InverseInit
};

// The calls' shared state, made on first use and kept for the process.
State& GetState() {
  static State* state = new State;
  return *state;
}

// The ellipsoid part of a PROJ definition for a spheroid code; empty when unknown.
std::string SpheroidDefinition(int spheroid) {
  switch (spheroid) {
    case kDatumNad27: return "+ellps=clrk66";
    case kDatumNad83: return "+ellps=GRS80";
    case kDatumWgs84: return "+ellps=WGS84";
    case kDatumSphere: return "+R=6370997";
    default: return {};
  }
}

// The geographic CRS a datum code stands for; null for an unknown code.
PjPtr GeographicCrsOf(int datum) {
  PJ_CONTEXT* ctx = ProjContext();
  switch (datum) {
    case kDatumNad27: return PjPtr(proj_create(ctx, "EPSG:4267"));
    case kDatumNad83: return PjPtr(proj_create(ctx, "EPSG:4269"));
    case kDatumWgs84: return PjPtr(proj_create(ctx, "EPSG:4326"));
    case kDatumSphere:
      return PjPtr(proj_create(ctx, "+proj=longlat +R=6370997 +no_defs +type=crs"));
    default: return nullptr;
  }
}

// A projected CRS in metres (easting, northing) on a datum with a conversion.
PjPtr ProjectedCrs(const char* name, int datum, PJ* conversion) {
  if (conversion == nullptr) return nullptr;
  PJ_CONTEXT* ctx = ProjContext();
  PjPtr base = GeographicCrsOf(datum);
  if (!base) return nullptr;
  PjPtr cs(proj_create_cartesian_2D_cs(ctx, PJ_CART2D_EASTING_NORTHING, "metre", 1.0));
  if (!cs) return nullptr;
  return PjPtr(proj_create_projected_crs(ctx, name, base.get(), conversion, cs.get()));
}

// UTM of a zone code on a datum, from WGS 84 degrees.
PjPtr MakeUtm(int zone, int datum) {
  PJ_CONTEXT* ctx = ProjContext();
  const int number = zone < 0 ? -zone : zone;
  if (datum == kDatumSphere) {
    // PROJ recognises a transverse Mercator CRS of UTM's constants as UTM, and
    // its UTM refuses a sphere; the sphere has no datum to shift either, so a
    // plain pipeline from degrees serves.
    char definition[200];
    std::snprintf(definition, sizeof definition,
                  "+proj=pipeline +step +proj=unitconvert +xy_in=deg +xy_out=rad "
                  "+step +proj=tmerc +lat_0=0 +lon_0=%d +k=0.9996 +x_0=500000 +y_0=%d +R=6370997",
                  -183 + 6 * number, zone < 0 ? 10000000 : 0);
    return PjPtr(proj_create(ctx, definition));
  }
  PjPtr conversion(proj_create_conversion_utm(ctx, number, zone > 0 ? 1 : 0));
  PjPtr crs = ProjectedCrs("UTM", datum, conversion.get());
  return MakeTransformFromWgs84(crs.get());
}

// State Plane of a FIPS zone code from PROJ's database, from WGS 84 degrees.
PjPtr MakeStatePlane(int fips, int datum) {
  if (datum != kDatumNad27 && datum != kDatumNad83) return nullptr;
  if (fips < 101 || fips > 9999) return nullptr;
  PJ_CONTEXT* ctx = ProjContext();
  const int code = 10000 + fips + (datum == kDatumNad83 ? 30 : 0);
  const std::string codeText = std::to_string(code);
  PjPtr conversion(
      proj_create_from_database(ctx, "EPSG", codeText.c_str(), PJ_CATEGORY_COORDINATE_OPERATION, 0, nullptr));
  if (!conversion || proj_get_type(conversion.get()) != PJ_TYPE_CONVERSION) return nullptr;
  // The numbering is shared with other conversions (UTM, feet variants): make
  // sure the code landed on a State Plane zone of the requested datum.
  const char* name = proj_get_name(conversion.get());
  if (name == nullptr) return nullptr;
  if (datum == kDatumNad27) {
    if (std::strstr(name, "CS27") == nullptr) return nullptr;
  } else if (std::strncmp(name, "SPCS83 ", 7) != 0 || std::strstr(name, "(meters)") == nullptr) {
    return nullptr;
  }
  PjPtr crs = ProjectedCrs(name, datum, conversion.get());
  return MakeTransformFromWgs84(crs.get());
}

// The cached transformation of a zone, made on first use; null when PROJ cannot serve it.
PJ* ZoneTransform(ZoneKind kind, int zone, int datum) {
  State& state = GetState();
  const ZoneKey key{kind, zone, datum};
  auto it = state.zones.find(key);
  if (it != state.zones.end()) return it->second.get();
  PjPtr made = kind == ZoneKind::Utm ? MakeUtm(zone, datum) : MakeStatePlane(zone, datum);
  PJ* result = made.get();
  state.zones.emplace(key, std::move(made));
  return result;
}

// Whether a zone code names a UTM zone (1..60 north, -1..-60 south).
bool IsUtmZone(int zone) { return zone != 0 && zone >= -60 && zone <= 60; }

// Runs one position through a transformation; false when PROJ reports failure.
bool Transform(PJ* op, PJ_DIRECTION direction, double a, double b, double& outA, double& outB) {
  if (op == nullptr || !std::isfinite(a) || !std::isfinite(b)) return false;
  proj_errno_reset(op);
  PJ_COORD c = proj_coord(a, b, 0.0, 0.0);
  c = proj_trans(op, direction, c);
  if (proj_errno(op) != 0 || !std::isfinite(c.xy.x) || !std::isfinite(c.xy.y)) return false;
  outA = c.xy.x;
  outB = c.xy.y;
  return true;
}

// The bare Mercator operation for a projection code, parameters and spheroid.
// Callers initialise before every point, so the last answer is kept at hand.
PJ* MercatorOperation(int projectionCode, const double* params, int spheroid) {
  if (projectionCode != kProjectionMercator || params == nullptr) return nullptr;
  struct Last {
    bool valid = false;
    int spheroid = 0;
    double params[kParamCount] = {};
    PJ* op = nullptr;
  };
  static Last last;
  if (last.valid && last.spheroid == spheroid && std::equal(params, params + kParamCount, last.params)) {
    return last.op;
  }
  const std::string ellipsoid = SpheroidDefinition(spheroid);
  if (ellipsoid.empty()) return nullptr;
  for (int i = 0; i < kParamCount; ++i) {
    if (!std::isfinite(params[i])) return nullptr;
  }
  char definition[256];
  std::snprintf(definition, sizeof definition, "+proj=merc +lon_0=%.17g +lat_ts=%.17g +x_0=%.17g +y_0=%.17g %s",
                params[kParamCentralMeridian], params[kParamTrueScaleLatitude],
                params[kParamFalseEasting], params[kParamFalseNorthing], ellipsoid.c_str());
  State& state = GetState();
  auto it = state.mercator.find(definition);
  if (it == state.mercator.end()) {
    it = state.mercator.emplace(definition, PjPtr(proj_create(ProjContext(), definition))).first;
  }
  last.valid = true;
  last.spheroid = spheroid;
  std::copy(params, params + kParamCount, last.params);
  last.op = it->second.get();
  return last.op;
}

}  // namespace

// Six-degree zones from 180 W, southern ones negative.
int UtmZoneOf(double longitudeDegrees, double latitudeDegrees) {
  double lon = std::fmod(longitudeDegrees + 180.0, 360.0);
  if (lon < 0.0) lon += 360.0;
  int zone = static_cast<int>(std::floor(lon / 6.0)) + 1;
  if (zone < 1) zone = 1;
  if (zone > 60) zone = 60;
  return latitudeDegrees < 0.0 ? -zone : zone;
}

// Selects the Mercator operation for MercatorForward.
bool PrepareMercatorForward(int projectionCode, int /*zone*/, const double* params, int spheroid, int* errorFlag) {
  std::lock_guard<std::mutex> lock(ProjMutex());
  PJ* op = MercatorOperation(projectionCode, params, spheroid);
  GetState().forward = op;
  if (errorFlag != nullptr) *errorFlag = op != nullptr ? 0 : 1;
  return op != nullptr;
}

// Radians to metres through the selected operation.
bool MercatorForward(double longitude, double latitude, double* x, double* y) {
  std::lock_guard<std::mutex> lock(ProjMutex());
  double ox = 0.0, oy = 0.0;
  if (!Transform(GetState().forward, PJ_FWD, longitude, latitude, ox, oy)) return false;
  *x = ox;
  *y = oy;
  return true;
}

// Selects the Mercator operation for MercatorInverse.
bool PrepareMercatorInverse(int projectionCode, int /*zone*/, const double* params, int spheroid, int* errorFlag) {
  std::lock_guard<std::mutex> lock(ProjMutex());
  PJ* op = MercatorOperation(projectionCode, params, spheroid);
  GetState().inverse = op;
  if (errorFlag != nullptr) *errorFlag = op != nullptr ? 0 : 1;
  return op != nullptr;
}

// Metres to radians through the selected operation.
bool MercatorInverse(double x, double y, double* longitude, double* latitude) {
  std::lock_guard<std::mutex> lock(ProjMutex());
  double lon = 0.0, lat = 0.0;
  if (!Transform(GetState().inverse, PJ_INV, x, y, lon, lat)) return false;
  *longitude = lon;
  *latitude = lat;
  return true;
}

// WGS 84 radians to UTM metres of a zone and datum.
bool UtmFromGeographic(double longitude, double latitude, double* x, double* y, int zone, int datum) {
  const double lonDeg = longitude * kDegreesPerRadian;
  const double latDeg = latitude * kDegreesPerRadian;
  if (!std::isfinite(lonDeg) || !std::isfinite(latDeg)) return false;
  // A code that is no UTM zone (a State Plane code, say) means the zone of the position.
  const int utm = IsUtmZone(zone) ? zone : UtmZoneOf(lonDeg, latDeg);
  std::lock_guard<std::mutex> lock(ProjMutex());
  double ox = 0.0, oy = 0.0;
  if (!Transform(ZoneTransform(ZoneKind::Utm, utm, datum), PJ_FWD, lonDeg, latDeg, ox, oy)) return false;
  *x = ox;
  *y = oy;
  return true;
}

// UTM metres of a zone and datum to WGS 84 radians.
bool GeographicFromUtm(double x, double y, double* longitude, double* latitude, int zone, int datum) {
  if (!IsUtmZone(zone)) return false;
  std::lock_guard<std::mutex> lock(ProjMutex());
  double lon = 0.0, lat = 0.0;
  if (!Transform(ZoneTransform(ZoneKind::Utm, zone, datum), PJ_INV, x, y, lon, lat)) return false;
  *longitude = lon / kDegreesPerRadian;
  *latitude = lat / kDegreesPerRadian;
  return true;
}

// WGS 84 radians to State Plane metres of a FIPS zone.
bool StatePlaneFromGeographic(double longitude, double latitude, double* x, double* y, int zone, int datum) {
  std::lock_guard<std::mutex> lock(ProjMutex());
  double ox = 0.0, oy = 0.0;
  if (!Transform(ZoneTransform(ZoneKind::StatePlane, zone, datum), PJ_FWD, longitude * kDegreesPerRadian,
                 latitude * kDegreesPerRadian, ox, oy)) {
    return false;
  }
  *x = ox;
  *y = oy;
  return true;
}

// NAD27 degrees to WGS 84 degrees, in place.
bool Nad27ToWgs84(double* latitude, double* longitude) {
  std::lock_guard<std::mutex> lock(ProjMutex());
  State& state = GetState();
  if (!state.nad27Tried) {
    state.nad27Tried = true;
    PjPtr nad27 = GeographicCrsOf(kDatumNad27);
    if (nad27 && Wgs84Crs() != nullptr) {
      PjPtr raw(proj_create_crs_to_crs_from_pj(ProjContext(), nad27.get(), Wgs84Crs(), nullptr, nullptr));
      if (raw) state.nad27Shift.reset(proj_normalize_for_visualization(ProjContext(), raw.get()));
    }
  }
  double lon = 0.0, lat = 0.0;
  if (!Transform(state.nad27Shift.get(), PJ_FWD, *longitude, *latitude, lon, lat)) return false;
  *latitude = lat;
  *longitude = lon;
  return true;
}

}  // namespace zones

}  // namespace kestrune
