// The rows the identify report adds to a record's Attributes dialog: the
// position of a point, the calculated area of an area, the ground length of
// a line, as labels and texts ready for AddRow.
#pragma once

#include <string>
#include <vector>

#include "geo/MapPoint.h"
#include "shapes/AttributeReport.h"
#include "shapes/RecordSink.h"

namespace kestrune {

class Shape;

// Keys of the computed rows: -1 for the two position rows (told apart by their
// labels), -2 for the area and -3 for the length.
constexpr int kReportKeyPosition = -1;
constexpr int kReportKeyArea = -2;
constexpr int kReportKeyLength = -3;
// Keys of the Z and M rows of a record of a Z or M file.
constexpr int kReportKeyElevation = -4;
constexpr int kReportKeyMeasure = -5;

constexpr const char* kLongitudeLabel = "#10000019:Longitude";
constexpr const char* kLatitudeLabel = "#10000020:Latitude";
constexpr const char* kAreaLabel = "#10000021:Area (calc)";
constexpr const char* kLengthLabel = "#10000022:Length";
constexpr const char* kElevationLabel = "#20300001:Elevation";
constexpr const char* kMeasureLabel = "#20300002:Measure";

// One computed row: translated label, value text (UTF-8) and key.
struct ReportRow {
  std::string label;
  std::string value;
  int key = kReportKeyPosition;
};

// The rows for a record in the order they are added (a point: Longitude, then
// Latitude, so that the dialog shows Latitude on top). Units, position style,
// zone and datum come from the preferences.
// A record of a Z or M file also has an Elevation row (its Z, taken as metres
// and shown in feet under U.S. units) and a Measure row (its M, as written),
// each the lowest and highest value of a record that is not a point, and no
// row for a value the record lacks; they show under the position rows.
std::vector<ReportRow> ComputeReportRows(Shape& shape);
// The text of an Elevation or Measure row; empty for a record without one.
std::string ZMRowText(const RecordZM& zm, bool z, bool metric);

// A map point's latitude and longitude texts in the preferences' position style
// (styles 4 and 5: northing and easting in the preferences' zone and datum),
// as the Latitude and Longitude rows of a point show them.
LatLongText PositionTexts(const MapPoint& point);
// The pointer's position for the status bar: the latitude text, two blanks and
// the longitude text; empty for a style that gives none.
std::string PointerPositionText(const MapPoint& point);

}  // namespace kestrune
