#include "attributes/IdentifyReport.h"

#include "base/Preferences.h"
#include "geo/MapProjection.h"
#include "lang/LangString.h"
#include "shapes/AttributeReport.h"
#include "shapes/Shape.h"

namespace kestrune {

// The computed rows of a point, a line or an area, in the order they are added.
std::vector<ReportRow> ComputeReportRows(Shape& shape) {
  const CPreferences& prefs = GetPreferences();
  const bool metric = prefs.IsMetric();
  std::vector<ReportRow> rows;
  if (auto* point = dynamic_cast<PointShape*>(&shape)) {
    double latitude = 0.0, longitude = 0.0;
    GetMapProjection().MapToGeo(point->GetPoint(), latitude, longitude);
    const LatLongText text = FormatLatLong(latitude, longitude, prefs.GetLatLongStyle(),
                                           prefs.GetProjectionZone(), prefs.GetProjectionDatum());
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
