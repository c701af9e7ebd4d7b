#include "attributes/IdentifyReport.h"

#include <cmath>
#include <cstdio>

#include "base/Preferences.h"
#include "geo/MapProjection.h"
#include "lang/LangString.h"
#include "layers/Layer.h"
#include "shapes/AttributeReport.h"
#include "shapes/Shape.h"

namespace kestrune {

// A map point in the preferences' position style, zone and datum.
LatLongText PositionTexts(const MapPoint& point) {
  const CPreferences& prefs = GetPreferences();
  double latitude = 0.0, longitude = 0.0;
  GetMapProjection().MapToGeo(point, latitude, longitude);
  return FormatLatLong(latitude, longitude, prefs.GetLatLongStyle(), prefs.GetProjectionZone(),
                       prefs.GetProjectionDatum());
}

// Latitude, two blanks, longitude; empty when the style gives no texts.
std::string PointerPositionText(const MapPoint& point) {
  const LatLongText text = PositionTexts(point);
  if (text.latitude.empty() && text.longitude.empty()) return {};
  return text.latitude + "  " + text.longitude;
}

namespace {

// A value with as many digits as it needs (at most 10 significant).
std::string ShortNumber(double v) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.10g", v);
  return buffer;
}

}  // namespace

std::string ZMRowText(const RecordZM& zm, bool z, bool metric) {
  double lo = z ? zm.zMin : zm.mMin;
  double hi = z ? zm.zMax : zm.mMax;
  if (std::isnan(lo)) return {};
  if (!z) return zm.point || lo == hi ? ShortNumber(lo) : ShortNumber(lo) + " \u2013 " + ShortNumber(hi);
  const char* unit = metric ? " m" : " ft";
  if (!metric) {
    lo /= 0.3048;
    hi /= 0.3048;
  }
  char buffer[80];
  if (zm.point || lo == hi) {
    std::snprintf(buffer, sizeof buffer, "%.2f%s", lo, unit);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.2f \u2013 %.2f%s", lo, hi, unit);
  }
  return buffer;
}

// The computed rows of a point, a line or an area, in the order they are added.
std::vector<ReportRow> ComputeReportRows(Shape& shape) {
  const CPreferences& prefs = GetPreferences();
  const bool metric = prefs.IsMetric();
  std::vector<ReportRow> rows;
  // Added first, so they show under the rows added after them.
  if (const auto* layer = dynamic_cast<const Layer*>(shape.GetOwner())) {
    if (const RecordZM* zm = layer->GetRecordZM(shape.GetRecordNumber())) {
      const std::string measure = ZMRowText(*zm, false, metric);
      if (!measure.empty()) rows.push_back({LangText(kMeasureLabel), measure, kReportKeyMeasure});
      const std::string elevation = ZMRowText(*zm, true, metric);
      if (!elevation.empty()) rows.push_back({LangText(kElevationLabel), elevation, kReportKeyElevation});
    }
  }
  if (auto* point = dynamic_cast<PointShape*>(&shape)) {
    const LatLongText text = PositionTexts(point->GetPoint());
    rows.push_back({LangText(kLongitudeLabel), text.longitude, kReportKeyPosition});
    rows.push_back({LangText(kLatitudeLabel), text.latitude, kReportKeyPosition});
  } else if (auto* line = dynamic_cast<LineShape*>(&shape)) {
    // The ground length along the vertices, in metres or feet; kilometres
    // or miles from 1000 m or 5280 ft.
    const double length = GroundLength(line->GetPoints(), !metric);
    rows.push_back({LangText(kLengthLabel), FormatLengthText(length, metric, false), kReportKeyLength});
  } else if (shape.GetRecordClass() == kRecordArea) {
    rows.push_back({LangText(kAreaLabel), FormatAreaText(shape.GetArea(false), metric), kReportKeyArea});
  }
  return rows;
}

}  // namespace kestrune
