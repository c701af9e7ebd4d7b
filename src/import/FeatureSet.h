// What an import reads from a source that is not a shape file set, before it
// is written out as shape file sets: one FeatureSet per layer of the input,
// in WGS 84 longitude (x) and latitude (y), with typed attribute values.
// The readers (GDAL's vector drivers, the ISOXML reader) fill it; the set
// writer cuts the field names to fit dBase, sizes the columns, orients the
// rings and writes each set through the safe-write path.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kestrune {

enum class FeatureKind { Points, Lines, Areas };

enum class FeatureFieldType { Text, Number, Date };

struct FeatureField {
  // As the source names it (UTF-8); the writer cuts it to 10 bytes and keeps
  // the names of one set unique.
  std::string name;
  FeatureFieldType type = FeatureFieldType::Number;
  // Decimals a number needs, as the source says or the reader found; -1 lets
  // the writer find them from the values.
  int decimals = -1;
};

struct FeatureValue {
  enum Kind { Blank, Number, Text } kind = Blank;
  double number = 0;
  // UTF-8 text; for a Date field "YYYYMMDD".
  std::string text;

  static FeatureValue Of(double v) { FeatureValue f; f.kind = Number; f.number = v; return f; }
  static FeatureValue Of(std::string v) {
    FeatureValue f; f.kind = Text; f.text = std::move(v); return f;
  }
};

struct FeatureXY {
  double x = 0;  // longitude, degrees
  double y = 0;  // latitude, degrees
};

// A run of points: a line string, or one ring of an area.
struct FeaturePart {
  std::vector<FeatureXY> points;
  // For an area: the ring is a hole of the outer ring before it.
  bool hole = false;
};

struct Feature {
  // A point record has one part of one point.
  std::vector<FeaturePart> parts;
  // One value per field of the set, in the set's field order.
  std::vector<FeatureValue> values;
};

struct FeatureSet {
  // The name the set's files take (before ".shp"), unique within one import.
  std::string name;
  FeatureKind kind = FeatureKind::Points;
  std::vector<FeatureField> fields;
  std::vector<Feature> features;
  // What it came from, for the user: "TASKDATA.XML TSK1 TLG00001.bin",
  // "fields.gpkg layer 'boundaries'".
  std::string source;
  // Keys for the set's ".gpe" (for a time log the log fields, as
  // "RATE_COL" = "3"), written beside the set.
  std::vector<std::pair<std::string, std::string>> settings;
};

// Something of the input that was not imported, and why.
struct ImportSkip {
  std::string what;
  std::string why;
};

struct ImportContent {
  std::vector<FeatureSet> sets;
  std::vector<ImportSkip> skipped;
};

}  // namespace kestrune
