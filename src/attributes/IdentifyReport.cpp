#include "attributes/IdentifyReport.h"

#include "base/Preferences.h"
#include "geo/MapProjection.h"
#include "lang/LangString.h"
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

// The computed rows of a point, a line or an area, in the order they are added.
std::vector<ReportRow> ComputeReportRows(Shape& shape) {
  const CPreferences& prefs = GetPreferences();
  const bool metric = prefs.IsMetric();
  std::vector<ReportRow> rows;
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
