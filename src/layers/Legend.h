// A legend turns a record's numeric value into a colour: an ascending list of
// break values, each the inclusive upper bound of a class, with its colour.
// Legends are built automatically from a value range, edited in the legend
// dialog, and stored in ".lgd" files (magic "LEGEND0001", then 12-byte entries).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Error.h"
#include <string_view>
#include <vector>

#include "base/Error.h"
#include "geo/MapPoint.h"

namespace kestrune {

// The break of the open top class: an entry above kLegendTopThreshold stands for
// everything above the previous break.
constexpr double kLegendTopValue = 999999.0;
constexpr double kLegendTopThreshold = 999998.0;
// The label logic's "no previous break yet" value and the test for it.
constexpr double kLegendBottomValue = -999999.0;
constexpr double kLegendBottomThreshold = -999998.0;

// The automatic palette, lowest class first; index 7 colours the open top class.
constexpr int kLegendPaletteSize = 8;
constexpr Color kLegendPalette[kLegendPaletteSize] = {
    0xFF00FF,  // magenta
    0x0000FF,  // red
    0x00FFFF,  // yellow
    0x00FF00,  // green
    0x008000,  // dark green
    0xFFFF00,  // cyan
    0xFF0000,  // blue
    0x800000,  // navy
};

// The ".lgd" file layout.
constexpr char kLegendMagic[] = "LEGEND0001";
constexpr std::size_t kLegendMagicSize = 10;
constexpr std::size_t kLegendEntrySize = 12;  // 8-byte double value, 4-byte colour
// The most classes a legend keeps: what the legend pane and Legend Setup can
// usefully list. A file with more entries gives its first this many.
constexpr std::size_t kMaxLegendEntries = 256;

// Texts of the legend's messages and labels.
constexpr const char* kMsgInvalidLegendFile = "#10000040:Invalid legend file.";
constexpr const char* kMsgLegendCaption = "#10000041:Legend";
constexpr const char* kMsgCannotOpenLegendFile = "#10000042:Unable to open legend file.";
constexpr const char* kMsgBreakOrder = "#10000046:Break values must be in decending order.";
constexpr const char* kMsgBreakOrderCaption = "#10000047:Legend";
constexpr const char* kMsgCannotWriteLegendFile = "#20000500:Unable to write the legend file.";
constexpr const char* kLabelSolidColor = "#10000031:Solid Color";
constexpr const char* kLabelLowestClass = "#10000032:%.2lf and below ";
constexpr const char* kLabelTopClass = "#10000033:Above %.2lf";

struct LegendEntry {
  double value = 0.0;           // inclusive upper bound of the class
  Color color = kNeutralColor;  // colour of the class
  int32_t reserved1 = 0;        // kept zero; not stored in files
  int32_t reserved2 = 0;
  friend bool operator==(const LegendEntry& a, const LegendEntry& b) {
    return a.value == b.value && a.color == b.color;
  }
  friend bool operator!=(const LegendEntry& a, const LegendEntry& b) { return !(a == b); }
};

// One row of the legend dialog: a break value and its colour.
struct LegendRow {
  double value = 0.0;
  Color color = kNeutralColor;
};

// What LoadBytes made of a file's contents.
enum class LegendLoadResult { Ok, BadHeader };

class Legend {
 public:
  Legend() = default;
  Legend(const Legend&) = default;
  Legend& operator=(const Legend&) = default;
  Legend(Legend&&) = default;
  Legend& operator=(Legend&&) = default;

  // Ordered insert in front of the first entry whose value is >= the new one.
  // A NaN value has no place in an ordered list and is refused (false).
  bool Insert(const LegendEntry& entry);
  bool Insert(double value, Color color) { return Insert(LegendEntry{value, color, 0, 0}); }

  // The colour of the class holding value: the first break >= value, the highest
  // break's colour above them all, the neutral colour for an empty legend.
  Color GetColor(double value) const;

  // Replaces the entries by seven rounded breaks over [min, max] plus the open top class.
  void BuildAutomatic(double max, double min);

  // Replaces the entries by breaks (ascending) and the open top class, the
  // palette spread over the classes (eight classes take it as the automatic
  // legend does); no breaks give the one class at single.
  void BuildFromBreaks(const std::vector<double>& breaks, double single);

  // Replaces the entries by the dialog's rows (top class first). False, with a
  // message, when the break values are not strictly descending from top to bottom.
  // False, telling why in error when given, when the breaks do not descend.
  bool BuildFromRows(const std::vector<LegendRow>& rowsTopToBottom, Error* error = nullptr);

  // One display text per entry, lowest class first.
  std::vector<std::string> GetClassLabels() const;

  // Reads a ".lgd" file (its first kMaxLegendEntries entries); the changed mark
  // is not touched. False without a message when it is missing or not a
  // regular file (a pipe, a device, a folder), false with a message when it
  // cannot be read or has a wrong header; either way the legend is unchanged.
  // A file that is refused or not a legend is told in error, when given.
  bool LoadFile(const std::string& path, Error* error = nullptr);
  // Writes a ".lgd" file through the safe-write path: any old one is replaced
  // only once the new one is whole on disk, a symbolic link is never written
  // through. False on failure, with the error (the file's name and the
  // reason, under the legend caption) in error when given.
  bool SaveFile(const std::string& path, Error* error = nullptr) const;

  // The file contents as LoadFile reads them and SaveFile writes them. LoadBytes
  // shows no message, reads at most kMaxLegendEntries entries, and on a wrong
  // header leaves the legend unchanged.
  LegendLoadResult LoadBytes(std::string_view bytes);
  std::string SaveBytes() const;

  // x rounded to digits decimal places, halves away from zero.
  static double RoundTo(double x, int digits);

  const std::vector<LegendEntry>& GetEntries() const { return entries_; }
  std::size_t GetCount() const { return entries_.size(); }
  bool IsEmpty() const { return entries_.empty(); }
  void RemoveAll() { entries_.clear(); }

  bool IsChanged() const { return changed_; }
  void SetChanged(bool changed) { changed_ = changed; }

  friend bool operator==(const Legend& a, const Legend& b) {
    return a.entries_ == b.entries_ && a.changed_ == b.changed_;
  }
  friend bool operator!=(const Legend& a, const Legend& b) { return !(a == b); }

 private:
  // The one-break legend for a range without width (all values equal, no values).
  void BuildSingleBreak(double value);

  // Ascending by value, never NaN (so binary searches are sound).
  std::vector<LegendEntry> entries_;
  bool changed_ = false;
};

}  // namespace kestrune
