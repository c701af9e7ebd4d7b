// Colours by a text field: each distinct value of the field gets a colour of
// a fixed palette in the order the values first appear in the table; values
// past the palette share the neutral colour and are listed as "Other", last.
// The categories are kept beside the ".lgd" in a ".lgc" text file (written
// with the legend); a colour given there to one of the coloured values is
// kept for it. Readers of ".lgd" files never see the ".lgc".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/Error.h"
#include "geo/MapPoint.h"
#include "shapes/DbfTable.h"

namespace kestrune {

// Twelve colours told apart at a glance (0x00BBGGRR): no two of them, nor
// one and the neutral grey, closer than 60 in RGB.
constexpr int kCategoryPaletteSize = 12;
constexpr Color kCategoryPalette[kCategoryPaletteSize] = {
    0xB4781F,  // blue         (31, 120, 180)
    0x2CA033,  // green        (51, 160, 44)
    0x1C1AE3,  // red          (227, 26, 28)
    0x007FFF,  // orange       (255, 127, 0)
    0x9A3D6A,  // purple       (106, 61, 154)
    0x2859B1,  // brown        (177, 89, 40)
    0xBEBE00,  // teal         (0, 190, 190)
    0x64E696,  // light green  (150, 230, 100)
    0xBF81F7,  // pink         (247, 129, 191)
    0x6FBFFD,  // light orange (253, 191, 111)
    0x8A29E7,  // magenta      (231, 41, 138)
    0x99FFFF,  // light yellow (255, 255, 153)
};
// The colour of every value past the palette.
constexpr Color kCategoryOtherColor = 0xC0C0C0;
constexpr const char* kCategoryOtherLabel = "#20014030:Other";
// The largest ".lgc" read: far more categories than a legend lists.
constexpr std::size_t kMaxCategoryFileBytes = std::size_t{1} << 20;

// The first line of a ".lgc" file.
constexpr const char* kCategoryMagic = "KESTRUNE CATEGORIES 1";

// Whether the Theme box and the Display dialog offer a field: numbers colour
// through the legend, text fields ("C") by category.
bool IsThemeField(const DbfField& field);
// Whether a field colours by category.
bool IsCategoryField(const DbfField& field);

// A value's text as UTF-8: itself when it is UTF-8, else read as Latin-1.
std::string CategoryLabelText(const std::string& bytes);

// The most values a categorised theme collects: past them every new value
// falls into "Other", and only how many distinct values there were is kept.
constexpr std::size_t kMaxCategories = 4096;
// The index of a value past the bound (coloured as "Other").
constexpr int kBeyondCategories = static_cast<int>(kMaxCategories);
constexpr const char* kMsgCategoriesBounded =
    "#20500200:%s has %s distinct values: the first 12 have colours, the rest show as Other.";

class CategoryLegend {
 public:
  // No categories, for no field.
  void Clear();
  // Starts over for a field, with no values.
  void Begin(const std::string& fieldName);
  // Takes the colours another legend (a ".lgc" read back) gives the same
  // values of the same field, for the values with a colour of their own.
  void ApplyStored(const CategoryLegend& stored);

  // The index of a value (its bytes without trailing blanks), added after
  // the others when it is new; kBeyondCategories for a new value once
  // kMaxCategories are listed.
  int IndexOf(const std::string& value);
  // The index of a value, or -1 when it has none.
  int Find(const std::string& value) const;

  const std::string& GetField() const { return field_; }
  const std::vector<std::string>& GetValues() const { return values_; }
  std::size_t GetCount() const { return values_.size(); }
  // The value of an index, or empty.
  std::string ValueOf(int index) const;
  // The colour of an index: its own up to the palette's size, else neutral.
  Color ColorOf(int index) const;
  // Values with a colour of their own, and whether some fall into "Other".
  std::size_t ColouredCount() const;
  bool HasOther() const { return values_.size() > ColouredCount(); }
  // Whether values came past the bound, and how many distinct values there were in all.
  bool IsBounded() const { return !beyond_.empty(); }
  std::size_t DistinctCount() const { return values_.size() + beyond_.size(); }

  // One legend line per coloured value in order, then "Other" (translated)
  // when some values share the neutral colour. Texts are UTF-8; a value that
  // is no UTF-8 reads as Latin-1.
  struct Line {
    std::string label;
    Color color;
  };
  std::vector<Line> GetLines() const;

  // The ".lgc" file: the magic line, "field=NAME", then "RRGGBB<TAB>value"
  // per category in order (values as stored in the table; tab, line breaks
  // and backslash escaped as \t, \n, \r and \\).
  std::string SaveBytes() const;
  bool LoadBytes(std::string_view bytes);
  // Reads a file; false (and the legend unchanged) when it is missing, not a
  // regular file, over kMaxCategoryFileBytes (told on the status line) or not one.
  bool LoadFile(const std::string& path);
  // Writes a file through the safe-write path, replacing any old one only once
  // the new one is whole on disk (never through a symbolic link). False on
  // failure, with the error (the file's name and the reason) in error when given.
  bool SaveFile(const std::string& path, Error* error = nullptr) const;

  bool IsChanged() const { return changed_; }
  void SetChanged(bool changed) { changed_ = changed; }

 private:
  std::string field_;
  std::vector<std::string> values_;
  std::vector<Color> colors_;
  std::unordered_map<std::string, int> index_;  // value -> index, for large tables
  std::unordered_set<std::size_t> beyond_;      // hashes of the values past the bound
  bool changed_ = false;
};

}  // namespace kestrune
