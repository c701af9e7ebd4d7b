// File coordinates to degrees: geographic files (with the NAD27 shift), zone
// coordinates, and coordinate systems read from ".prj" files by PROJ.
#include <cctype>
#include <cmath>
#include <string>

#include "geo/MapProjection.h"
#include "geo/ProjSupport.h"
#include "geo/ZoneCalls.h"

namespace kestrune {

namespace {

constexpr double kDegreesPerRadian = 57.29577951308232;

// A ".prj" coordinate system has no datum or zone code of ours.
constexpr int kPrjDatum = -1;
constexpr int kPrjZone = 0;

// Degrees already on WGS 84: handed through without PROJ, so geographic files
// with a ".prj" load as fast as those without.
class PassThroughConverter : public CoordConverter {
 public:
  PassThroughConverter() : CoordConverter(kPrjDatum, kPrjZone) {}
  bool ToGeographic(double x, double y, double& longitude, double& latitude) override {
    longitude = x;
    latitude = y;
    return std::isfinite(x) && std::isfinite(y);
  }
};

// Any coordinate system PROJ reads from the WKT, to WGS 84 degrees.
class PrjConverter : public CoordConverter {
 public:
  explicit PrjConverter(PjPtr transform) : CoordConverter(kPrjDatum, kPrjZone), transform_(std::move(transform)) {}
  ~PrjConverter() override {
    std::lock_guard<std::mutex> lock(ProjMutex());
    transform_.reset();
  }
  bool ToGeographic(double x, double y, double& longitude, double& latitude) override {
    if (!std::isfinite(x) || !std::isfinite(y)) return false;
    std::lock_guard<std::mutex> lock(ProjMutex());
    proj_errno_reset(transform_.get());
    PJ_COORD c = proj_trans(transform_.get(), PJ_FWD, proj_coord(x, y, 0.0, 0.0));
    if (proj_errno(transform_.get()) != 0 || !std::isfinite(c.xy.x) || !std::isfinite(c.xy.y)) {
      return false;
    }
    longitude = c.xy.x;
    latitude = c.xy.y;
    return true;
  }

 private:
  PjPtr transform_;
};

// Whether a geographic CRS lists longitude (an east axis) first.
bool LongitudeFirst(PJ_CONTEXT* ctx, PJ* crs) {
  PjPtr cs(proj_crs_get_coordinate_system(ctx, crs));
  if (!cs || proj_cs_get_axis_count(ctx, cs.get()) < 2) return false;
  const char* direction = nullptr;
  if (!proj_cs_get_axis_info(ctx, cs.get(), 0, nullptr, nullptr, &direction, nullptr, nullptr, nullptr,
                             nullptr)) {
    return false;
  }
  return direction != nullptr && std::string(direction) == "east";
}

}  // namespace

GeographicConverter::GeographicConverter(int datum) : CoordConverter(datum, 0) {}

// Longitude is x and latitude y; NAD27 positions move to the map's datum.
bool GeographicConverter::ToGeographic(double x, double y, double& longitude, double& latitude) {
  double lon = x;
  double lat = y;
  if (datum_ == zones::kDatumNad27 && !zones::Nad27ToWgs84(&lat, &lon)) return false;
  longitude = lon;
  latitude = lat;
  return true;
}

ProjectedConverter::ProjectedConverter(int datum, int zone) : CoordConverter(datum, zone) {}

// Zone coordinates in metres to degrees through the zone inverse.
bool ProjectedConverter::ToGeographic(double x, double y, double& longitude, double& latitude) {
  double lon = 0.0;
  double lat = 0.0;
  if (!zones::GeographicFromUtm(x, y, &lon, &lat, zone_, datum_)) return false;
  longitude = lon * kDegreesPerRadian;
  latitude = lat * kDegreesPerRadian;
  return true;
}

namespace {

// ASCII upper case, for keywords.
char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Whether text at i holds the keyword (any case, not the tail of a longer
// name) and then, after blanks, an opening bracket, whose place goes to open.
bool KeywordAt(const std::string& text, size_t i, const char* keyword, size_t& open) {
  if (i > 0 && IsNameChar(text[i - 1])) return false;
  size_t j = i;
  for (const char* k = keyword; *k != '\0'; ++k, ++j) {
    if (j >= text.size() || UpperAscii(text[j]) != *k) return false;
  }
  if (j < text.size() && IsNameChar(text[j])) return false;
  while (j < text.size() && IsSpace(text[j])) ++j;
  if (j >= text.size() || (text[j] != '[' && text[j] != '(')) return false;
  open = j;
  return true;
}

// One past the bracket that closes the one at open, quoted text skipped; npos
// when it never closes.
size_t AfterClosingBracket(const std::string& text, size_t open) {
  int depth = 0;
  bool quoted = false;
  for (size_t i = open; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      quoted = !quoted;  // a doubled quote inside quotes toggles twice
    } else if (quoted) {
      continue;
    } else if (c == '[' || c == '(') {
      ++depth;
    } else if (c == ']' || c == ')') {
      if (--depth == 0) return i + 1;
    }
  }
  return std::string::npos;
}

}  // namespace

// WKT only, without the nodes that can name files.
std::string PrjWktText(const std::string& input) {
  if (input.find('\0') != std::string::npos) return {};
  size_t first = input.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (first < input.size() && IsSpace(input[first])) ++first;
  // A keyword of letters (and digits or "_" after the first) and its bracket.
  size_t end = first;
  while (end < input.size() && IsNameChar(input[end])) ++end;
  if (end == first || !std::isalpha(static_cast<unsigned char>(input[first]))) return {};
  while (end < input.size() && IsSpace(input[end])) ++end;
  if (end >= input.size() || (input[end] != '[' && input[end] != '(')) return {};

  std::string text = input.substr(first);
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') {
      quoted = !quoted;
      continue;
    }
    if (quoted || !std::isalpha(static_cast<unsigned char>(text[i]))) continue;
    size_t open = 0;
    if (KeywordAt(text, i, "PARAMETERFILE", open)) return {};
    if (!KeywordAt(text, i, "EXTENSION", open)) continue;
    const size_t after = AfterClosingBracket(text, open);
    if (after == std::string::npos) return {};
    // The comma that led to the node goes with it.
    size_t start = i;
    while (start > 0 && IsSpace(text[start - 1])) --start;
    if (start > 0 && text[start - 1] == ',') --start;
    else start = i;
    text.erase(start, after - start);
    i = start - 1;  // the loop steps on to what followed the node (start > 0: a keyword came first)
  }
  return text;
}

// The converter of a ".prj" text, or null when it is no WKT PROJ reads as a CRS.
std::unique_ptr<CoordConverter> MakePrjConverter(const std::string& text) {
  const std::string wkt = PrjWktText(text);
  if (wkt.empty()) return nullptr;
  std::lock_guard<std::mutex> lock(ProjMutex());
  PJ_CONTEXT* ctx = ProjContext();
  // Read as WKT only: PROJ strings and names of other kinds are not looked at.
  PjPtr source(proj_create_from_wkt(ctx, wkt.c_str(), nullptr, nullptr, nullptr));
  if (!source || !proj_is_crs(source.get())) return nullptr;
  PJ* wgs84 = Wgs84Crs();
  if (wgs84 == nullptr) return nullptr;
  // WGS 84 degrees with longitude first pass through unchanged: no PROJ per point.
  if (proj_is_equivalent_to_with_ctx(ctx, source.get(), wgs84, PJ_COMP_EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS) &&
      LongitudeFirst(ctx, source.get())) {
    return std::make_unique<PassThroughConverter>();
  }
  PjPtr raw(proj_create_crs_to_crs_from_pj(ctx, source.get(), wgs84, nullptr, nullptr));
  if (!raw) return nullptr;
  PjPtr op(proj_normalize_for_visualization(ctx, raw.get()));
  if (!op) return nullptr;
  return std::make_unique<PrjConverter>(std::move(op));
}

// The converter of a load: geographic for kind 1, zone coordinates otherwise.
std::unique_ptr<CoordConverter> MakeCoordConverter(int coordSystemKind, int datum, int zone) {
  if (coordSystemKind == 1) return std::make_unique<GeographicConverter>(datum);
  return std::make_unique<ProjectedConverter>(datum, zone);
}

}  // namespace kestrune
