#include "zones/ZoneExport.h"

#include <cmath>
#include <filesystem>
#include <map>
#include <system_error>
#include <utility>

#include "geo/MapProjection.h"
#include "import/SetWriter.h"
#include "lang/LangString.h"
#include "layers/Layer.h"

namespace kestrune {

namespace {

FeatureValue NumberOrBlank(bool present, double value) {
  return present && std::isfinite(value) ? FeatureValue::Of(value) : FeatureValue{};
}

// The first bytes of a field name, never cutting a UTF-8 character.
std::string Prefix(const std::string& name, size_t bytes) {
  if (name.size() <= bytes) return name;
  size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace

FeatureSet ZoneFeatureSet(const Layer& zones, const ZoneSummary& summary) {
  FeatureSet set;
  set.kind = FeatureKind::Areas;
  set.name = std::filesystem::path(zones.GetFileName()).stem().string();
  const auto number = [&](const std::string& name, int decimals = -1) {
    set.fields.push_back({name, FeatureFieldType::Number, decimals});
  };
  set.fields.push_back({"ZONE", FeatureFieldType::Text, -1});
  number("RECORD", 0);
  number("COUNT", 0);
  number(summary.metric ? "AREA_HA" : "AREA_AC");
  static const char* const kCodes[5] = {"MIN", "MAX", "AVG", "WAV", "SD"};
  for (const std::string& name : summary.fieldNames) {
    for (const char* code : kCodes) number(Prefix(name, 6) + "_" + code);
  }
  if (summary.hasVolume) number("VOLUME");
  if (summary.hasTarget) {
    number("IN5_AREA");
    number("IN10_AREA");
  }

  // Each zone record's parcels, in the order the layer holds them.
  std::map<int, std::vector<const AreaShape*>> parcels;
  for (const Shape* shape : zones.Records()) {
    if (shape->GetRecordClass() == kRecordArea && shape->HasGeometry()) {
      parcels[shape->GetRecordNumber()].push_back(static_cast<const AreaShape*>(shape));
    }
  }
  const MapProjection& projection = GetMapProjection();
  for (const ZoneRow& row : summary.zones) {
    Feature feature;
    for (const AreaShape* area : parcels[row.record]) {
      const auto& points = area->GetPoints();
      size_t offset = 0;
      for (int r = 0; r < area->GetRingCount(); ++r) {
        const int32_t size = area->GetRingSize(r);
        if (size < 0 || offset + static_cast<size_t>(size) > points.size()) break;
        FeaturePart part;
        part.hole = r > 0;
        for (int32_t k = 0; k < size; ++k) {
          double latitude = 0.0, longitude = 0.0;
          projection.MapToGeo(points[offset + static_cast<size_t>(k)], latitude, longitude);
          part.points.push_back({longitude, latitude});
        }
        offset += static_cast<size_t>(size);
        feature.parts.push_back(std::move(part));
      }
    }
    feature.values.push_back(FeatureValue::Of(row.label));
    feature.values.push_back(FeatureValue::Of(static_cast<double>(row.record)));
    feature.values.push_back(FeatureValue::Of(static_cast<double>(row.count)));
    feature.values.push_back(FeatureValue::Of(row.area));
    for (const ZoneFieldStats& f : row.fields) {
      const bool any = f.count > 0;
      feature.values.push_back(NumberOrBlank(any, f.min));
      feature.values.push_back(NumberOrBlank(any, f.max));
      feature.values.push_back(NumberOrBlank(any, f.mean));
      feature.values.push_back(NumberOrBlank(f.HasWeightedMean(), f.HasWeightedMean() ? f.WeightedMean() : 0.0));
      feature.values.push_back(NumberOrBlank(any, f.Sd()));
    }
    if (summary.hasVolume) feature.values.push_back(FeatureValue::Of(row.volume));
    if (summary.hasTarget) {
      feature.values.push_back(FeatureValue::Of(row.areaWithin5));
      feature.values.push_back(FeatureValue::Of(row.areaWithin10));
    }
    set.features.push_back(std::move(feature));
  }
  return set;
}

bool ExportZones(const Layer& zones, const Layer& log, const ZoneSummary& summary, const std::string& shpPath,
                 Error& error) {
  const std::filesystem::path path(shpPath);
  std::string ext = path.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext != ".shp" || path.stem().empty()) {
    error = Error{LangFormat(kMsgZonesExportName, shpPath.c_str()), {}, shpPath, {}, TextIdOf(kMsgZonesExportName)};
    return false;
  }
  // The inputs' own files are never replaced by a summary of them.
  const std::string base = shpPath.substr(0, shpPath.size() - 4);
  for (const Layer* input : {&zones, &log}) {
    const std::string inputBase = input->GetBasePath();
    for (const char* e : {".shp", ".shx", ".dbf"}) {
      if (SameFile(base + e, inputBase + e) || SameFile(shpPath, input->GetPathName())) {
        error = Error{LangFormat(kMsgZonesExportOntoInput, shpPath.c_str()), {}, shpPath, {},
                      TextIdOf(kMsgZonesExportOntoInput)};
        return false;
      }
    }
  }
  FeatureSet set = ZoneFeatureSet(zones, summary);
  set.name = path.stem().string();
  return LandFeatureSet(set, shpPath, error);
}

}  // namespace kestrune
