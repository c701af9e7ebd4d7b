// The GDAL side of imports, built as the module libkestrune_gdal.so: reading
// any vector format GDAL reads into feature sets, listing zips, and GDAL's
// file system for the task data reader.
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_vsi.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include "import/GdalModule.h"

namespace kestrune {

namespace {

// The vector drivers an import reads with; no other driver may claim a file.
const char* const kDrivers[] = {"GeoJSON", "GeoJSONSeq", "ESRIJSON", "TopoJSON", "KML", "LIBKML", "GPKG",
                                "FlatGeobuf", "GML", "GPX", "CSV", "ESRI Shapefile", nullptr};

struct DatasetCloser {
  void operator()(GDALDataset* d) const { GDALClose(d); }
};

struct FeatureDeleter {
  void operator()(OGRFeature* f) const { OGRFeature::DestroyFeature(f); }
};

// The last GDAL error message, or a fallback.
std::string GdalWhy(const char* fallback) {
  const char* message = CPLGetLastErrorMsg();
  return message && *message ? std::string(message) : std::string(fallback);
}

FeatureKind KindOf(OGRwkbGeometryType flat, bool& known) {
  known = true;
  switch (flat) {
    case wkbPoint:
    case wkbMultiPoint: return FeatureKind::Points;
    case wkbLineString:
    case wkbMultiLineString:
    case wkbCircularString:
    case wkbCompoundCurve:
    case wkbMultiCurve: return FeatureKind::Lines;
    case wkbPolygon:
    case wkbMultiPolygon:
    case wkbCurvePolygon:
    case wkbMultiSurface: return FeatureKind::Areas;
    default: known = false; return FeatureKind::Points;
  }
}

const char* KindSuffix(FeatureKind kind) {
  switch (kind) {
    case FeatureKind::Points: return "points";
    case FeatureKind::Lines: return "lines";
    case FeatureKind::Areas: return "areas";
  }
  return "";
}

FeaturePart PartOf(const OGRSimpleCurve& curve, bool hole) {
  FeaturePart part;
  part.hole = hole;
  const int n = curve.getNumPoints();
  part.points.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) part.points.push_back({curve.getX(i), curve.getY(i)});
  return part;
}

// The geometry's pieces by kind: points one feature each, lines and areas
// one feature of all their parts.
void Collect(const OGRGeometry& g, std::map<FeatureKind, std::vector<std::vector<FeaturePart>>>& out) {
  const OGRwkbGeometryType flat = wkbFlatten(g.getGeometryType());
  switch (flat) {
    case wkbPoint: {
      const auto& p = *g.toPoint();
      if (p.IsEmpty()) return;
      FeaturePart part;
      part.points.push_back({p.getX(), p.getY()});
      out[FeatureKind::Points].push_back({part});
      return;
    }
    case wkbLineString: {
      if (g.IsEmpty()) return;
      auto& lines = out[FeatureKind::Lines];
      if (lines.empty()) lines.emplace_back();
      lines.back().push_back(PartOf(*g.toLineString(), false));
      return;
    }
    case wkbPolygon: {
      if (g.IsEmpty()) return;
      const auto& polygon = *g.toPolygon();
      auto& areas = out[FeatureKind::Areas];
      if (areas.empty()) areas.emplace_back();
      if (const OGRLinearRing* ring = polygon.getExteriorRing()) areas.back().push_back(PartOf(*ring, false));
      for (int i = 0; i < polygon.getNumInteriorRings(); ++i) {
        areas.back().push_back(PartOf(*polygon.getInteriorRing(i), true));
      }
      return;
    }
    case wkbMultiPoint:
    case wkbMultiLineString:
    case wkbMultiPolygon:
    case wkbGeometryCollection: {
      const auto& collection = *g.toGeometryCollection();
      for (int i = 0; i < collection.getNumGeometries(); ++i) Collect(*collection.getGeometryRef(i), out);
      return;
    }
    default: {
      // Curves and surfaces as straight segments.
      std::unique_ptr<OGRGeometry> linear(g.getLinearGeometry());
      if (linear && wkbFlatten(linear->getGeometryType()) != flat) Collect(*linear, out);
      return;
    }
  }
}

FeatureField FieldOf(const OGRFieldDefn& defn) {
  FeatureField field;
  field.name = defn.GetNameRef();
  switch (defn.GetType()) {
    case OFTInteger:
    case OFTInteger64:
      field.type = defn.GetSubType() == OFSTBoolean ? FeatureFieldType::Number : FeatureFieldType::Number;
      field.decimals = 0;
      break;
    case OFTReal:
      field.type = FeatureFieldType::Number;
      field.decimals = defn.GetPrecision() > 0 ? defn.GetPrecision() : -1;
      break;
    case OFTDate:
    case OFTDateTime: field.type = FeatureFieldType::Date; break;
    default: field.type = FeatureFieldType::Text; break;
  }
  return field;
}

FeatureValue ValueOf(OGRFeature& feature, int i, const FeatureField& field) {
  if (!feature.IsFieldSetAndNotNull(i)) return {};
  switch (field.type) {
    case FeatureFieldType::Number: return FeatureValue::Of(feature.GetFieldAsDouble(i));
    case FeatureFieldType::Date: {
      int y = 0, m = 0, d = 0, hh = 0, mm = 0, tz = 0;
      float ss = 0;
      if (!feature.GetFieldAsDateTime(i, &y, &m, &d, &hh, &mm, &ss, &tz) || y <= 0) return {};
      char text[16];
      std::snprintf(text, sizeof text, "%04d%02d%02d", y % 10000, m % 100, d % 100);
      return FeatureValue::Of(std::string(text));
    }
    case FeatureFieldType::Text: return FeatureValue::Of(std::string(feature.GetFieldAsString(i)));
  }
  return {};
}

// Registers the drivers once, with network access off.
void SetUpGdal() {
  static std::once_flag once;
  std::call_once(once, [] {
    // No file of an import makes GDAL reach out to the network.
    CPLSetConfigOption("GDAL_HTTP_TIMEOUT", "1");
    CPLSetConfigOption("CPL_VSIL_CURL_ALLOWED_EXTENSIONS", "none");
    CPLSetConfigOption("GDAL_DISABLE_READDIR_ON_OPEN", "NO");
    CPLSetConfigOption("OGR_GEOJSON_MAX_OBJ_SIZE", "0");
    GDALAllRegister();
  });
}

bool Read(const GdalModuleHost& host, const std::string& path, const std::string& sourceName,
                  ImportContent& content, std::vector<std::string>& taken, std::string& why,
                  const std::function<bool(int percent)>& progress) {
  SetUpGdal();
  CPLErrorReset();
  // A CSV places its rows by the usual names of longitude and latitude columns.
  const char* const openOptions[] = {"X_POSSIBLE_NAMES=X,LON,LONG,LNG,LONGITUDE,EASTING",
                                     "Y_POSSIBLE_NAMES=Y,LAT,LATITUDE,NORTHING", "KEEP_GEOM_COLUMNS=YES", nullptr};
  const std::string extension = host.extensionOf(path);
  const bool csv = extension == "csv" || extension == "CSV";
  CPLPushErrorHandler(CPLQuietErrorHandler);
  std::unique_ptr<GDALDataset, DatasetCloser> dataset(GDALDataset::Open(
      path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, kDrivers, csv ? openOptions : nullptr, nullptr));
  CPLPopErrorHandler();
  if (!dataset) {
    why = GdalWhy("no reader of this program knows its format");
    return false;
  }
  OGRSpatialReference wgs84;
  wgs84.SetWellKnownGeogCS("WGS84");
  wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);

  const int layerCount = dataset->GetLayerCount();
  int64_t total = 0;
  for (int l = 0; l < layerCount; ++l) {
    const GIntBig n = dataset->GetLayer(l)->GetFeatureCount(FALSE);
    if (n > 0) total += n;
  }
  int64_t done = 0;
  int lastPercent = -1;
  const size_t setsBefore = content.sets.size();
  for (int l = 0; l < layerCount; ++l) {
    OGRLayer* layer = dataset->GetLayer(l);
    const std::string layerName = layer->GetName();
    const std::string source = layerCount > 1 || layerName != host.basePathOf(host.fileNameOf(path))
                                   ? sourceName + " layer '" + layerName + "'"
                                   : sourceName;
    OGRFeatureDefn* defn = layer->GetLayerDefn();
    std::vector<FeatureField> fields;
    for (int i = 0; i < defn->GetFieldCount(); ++i) fields.push_back(FieldOf(*defn->GetFieldDefn(i)));

    std::unique_ptr<OGRCoordinateTransformation> transform;
    const OGRSpatialReference* srs = layer->GetSpatialRef();
    if (srs && !srs->IsEmpty()) {
      OGRSpatialReference from(*srs);
      from.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
      if (!from.IsSame(&wgs84)) {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        transform.reset(OGRCreateCoordinateTransformation(&from, &wgs84));
        CPLPopErrorHandler();
        if (!transform) {
          content.skipped.push_back({source, "its coordinate system cannot be turned into WGS 84"});
          continue;
        }
      }
    }
    bool declaredKnown = false;
    const FeatureKind declared = KindOf(wkbFlatten(layer->GetGeomType()), declaredKnown);

    std::map<FeatureKind, FeatureSet> sets;
    int64_t noGeometry = 0;
    int64_t unplaced = 0;
    layer->ResetReading();
    for (std::unique_ptr<OGRFeature, FeatureDeleter> feature(layer->GetNextFeature()); feature;
         feature.reset(layer->GetNextFeature())) {
      ++done;
      if (progress && total > 0) {
        const int percent = static_cast<int>(std::min<int64_t>(99, done * 100 / total));
        if (percent != lastPercent) {
          lastPercent = percent;
          if (!progress(percent)) {
            why = "cancelled";
            content.sets.resize(setsBefore);
            return false;
          }
        }
      }
      std::vector<FeatureValue> values;
      values.reserve(fields.size());
      for (size_t i = 0; i < fields.size(); ++i) values.push_back(ValueOf(*feature, static_cast<int>(i), fields[i]));
      OGRGeometry* geometry = feature->GetGeometryRef();
      std::map<FeatureKind, std::vector<std::vector<FeaturePart>>> pieces;
      if (geometry && !geometry->IsEmpty()) {
        if (transform && geometry->transform(transform.get()) != OGRERR_NONE) {
          ++unplaced;
          continue;
        }
        Collect(*geometry, pieces);
      }
      if (pieces.empty()) {
        // A row without a place keeps its place among the rows of its
        // layer's kind, so the record numbers stay those of the source.
        if (!declaredKnown) {
          ++noGeometry;
          continue;
        }
        pieces[declared].emplace_back();
      }
      size_t left = 0;
      for (const auto& entry : pieces) left += entry.second.size();
      for (auto& [kind, features] : pieces) {
        FeatureSet& set = sets[kind];
        for (auto& parts : features) {
          Feature f;
          f.parts = std::move(parts);
          // The row is copied for all but the last piece of the feature.
          if (--left == 0) {
            f.values = std::move(values);
          } else {
            f.values = values;
          }
          set.features.push_back(std::move(f));
        }
      }
    }
    if (sets.empty()) {
      content.skipped.push_back({source, "it holds no features with a place"});
      continue;
    }
    for (auto& [kind, set] : sets) {
      set.kind = kind;
      set.fields = fields;
      const std::string wanted = sets.size() > 1 ? layerName + "_" + KindSuffix(kind) : layerName;
      set.name = host.uniqueSetName(wanted, taken);
      set.source = source;
      content.sets.push_back(std::move(set));
    }
    if (noGeometry > 0) {
      content.skipped.push_back({source, std::to_string(noGeometry) + " features without a place"});
    }
    if (unplaced > 0) {
      content.skipped.push_back({source, std::to_string(unplaced) + " features that could not be placed in WGS 84"});
    }
  }
  if (content.sets.size() == setsBefore) {
    why = "it holds no features with a place";
    return false;
  }
  return true;
}

bool ZipMembers(const std::string& zipPath, std::vector<ZipMember>& members, std::string& why) {
  SetUpGdal();
  const std::string root = "/vsizip/" + zipPath;
  CPLErrorReset();
  char** list = VSIReadDirRecursive(root.c_str());
  if (!list) {
    why = GdalWhy("it is no zip archive that can be read");
    return false;
  }
  for (char** p = list; *p; ++p) {
    const std::string inner = *p;
    if (inner.empty() || inner.back() == '/') continue;
    VSIStatBufL stat;
    const std::string member = root + "/" + inner;
    if (VSIStatL(member.c_str(), &stat) != 0 || VSI_ISDIR(stat.st_mode)) continue;
    members.push_back({member, static_cast<uint64_t>(stat.st_size)});
  }
  CSLDestroy(list);
  return true;
}

bool Stat(const std::string& path, VirtualFileStat& stat) {
  VSIStatBufL st;
  if (VSIStatL(path.c_str(), &st) != 0) return false;
  stat.folder = VSI_ISDIR(st.st_mode);
  stat.size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  return true;
}

bool FolderNames(const std::string& folder, std::vector<std::string>& names) {
  char** list = VSIReadDir(folder.c_str());
  if (!list) return false;
  for (char** p = list; *p; ++p) names.emplace_back(*p);
  CSLDestroy(list);
  return true;
}

// Reads a whole file of at most LIMIT bytes. It grows as the bytes arrive, so
// a size a zip's directory claims is never trusted for the allocation.
bool ReadAll(const std::string& path, uint64_t limit, std::string& bytes) {
  VSIStatBufL st;
  if (VSIStatL(path.c_str(), &st) != 0 || VSI_ISDIR(st.st_mode)) return false;
  VSILFILE* f = VSIFOpenL(path.c_str(), "rb");
  if (!f) return false;
  bytes.clear();
  constexpr std::size_t kMaxChunk = 8u << 20;
  // The claimed size (and one byte to meet the end) as the first step.
  std::size_t chunk = static_cast<std::size_t>(
      std::min<uint64_t>(std::max<int64_t>(st.st_size, 0) + 1, kMaxChunk));
  bool ok = true;
  for (;;) {
    const std::size_t have = bytes.size();
    if (have > limit) {
      ok = false;
      break;
    }
    bytes.resize(have + chunk);
    const std::size_t got = VSIFReadL(bytes.data() + have, 1, chunk, f);
    bytes.resize(have + got);
    if (got < chunk) {
      // The end, or a read error: fewer bytes than the file claims is one.
      ok = st.st_size < 0 || bytes.size() >= static_cast<uint64_t>(st.st_size);
      break;
    }
    chunk = kMaxChunk;
  }
  VSIFCloseL(f);
  return ok && bytes.size() <= limit;
}

const GdalModuleApi kApi{GdalModuleApi::kVersion, Read, ZipMembers, Stat, FolderNames, ReadAll};

}  // namespace
}  // namespace kestrune

// The module's one exported name: its table of calls, GDAL set up first.
extern "C" __attribute__((visibility("default"))) const kestrune::GdalModuleApi* kestrune_gdal_module_api(
    int version) {
  if (version != kestrune::GdalModuleApi::kVersion) return nullptr;
  kestrune::SetUpGdal();
  return &kestrune::kApi;
}
