#include "base/ImportInputs.h"

#include <cctype>

#include "base/Paths.h"

namespace kestrune {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::string ImportInputKind(const std::string& path) {
  std::string name = FileNameOf(path);
  // A folder given with its trailing "/".
  if (name.empty() && path.find_last_not_of('/') != std::string::npos) {
    name = FileNameOf(path.substr(0, path.find_last_not_of('/') + 1));
  }
  const std::string lower = Lower(name);
  if (lower == "taskdata" || lower == "taskdata.xml") return "ISOXML task data";
  struct Kind {
    const char* ext;
    const char* name;
  };
  static const Kind kinds[] = {
      {"zip", "zip archive"}, {"geojson", "GeoJSON"}, {"json", "GeoJSON"},      {"kml", "KML"},
      {"kmz", "KMZ"},         {"gpkg", "GeoPackage"}, {"fgb", "FlatGeobuf"},  {"gml", "GML"},
      {"gpx", "GPX"},         {"csv", "CSV"},
  };
  const std::string ext = Lower(ExtensionOf(name));
  for (const Kind& k : kinds) {
    if (ext == k.ext) return k.name;
  }
  return {};
}

}  // namespace kestrune
