// Colours by a text field: the soil map by its map unit symbol, values past
// the palette, the ".lgc" beside the legend, and the category in `info`.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <tuple>
#include <sstream>

#include "layers/CategoryLegend.h"
#include "layers/Layer.h"
#include "layers/LayerInfo.h"
#include "layers/LayerTestFiles.h"
#include "shapes/DbfTestTables.h"
#include "support/TestSupport.h"

namespace kestrune {
namespace {

using test::TempDir;

// The colour of a record of the layer with that record number.
Color ColorOfRecord(const Layer& layer, int record) {
  for (const Shape* s : layer.Records()) {
    if (s->GetRecordNumber() == record) return s->GetColor();
  }
  return 0xFFFFFFFF;
}

TEST(CategoryLegend, SoilMapByMapUnitSymbolInOrderOfFirstAppearance) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  TempDir dir;
  const auto shp = test::CopyFileSet(data / "field" / "ssurgo-simple1.shp", dir.path());
  Layer layer;
  ASSERT_TRUE(test::OpenAndLoad(layer, shp.string()));
  EXPECT_FALSE(layer.IsCategorised());  // its settings colour by clay
  layer.SetThemeField(1);               // musym
  ASSERT_TRUE(layer.IsCategorised());
  const CategoryLegend& categories = layer.GetCategories();
  EXPECT_EQ(categories.GetField(), "musym");
  EXPECT_EQ(categories.GetValues(), (std::vector<std::string>{"3A", "14C2", "584B2", "2A", "3B", "912A", "218A"}));
  EXPECT_FALSE(categories.HasOther());
  // Records 1..11 hold 3A 14C2 584B2 584B2 2A 3B 3B 3A 3B 912A 218A.
  const int categoryOfRecord[] = {0, 1, 2, 2, 3, 4, 4, 0, 4, 5, 6};
  for (int r = 1; r <= 11; ++r) {
    EXPECT_EQ(ColorOfRecord(layer, r), kCategoryPalette[categoryOfRecord[r - 1]]) << r;
  }
  const std::vector<CategoryLegend::Line> lines = categories.GetLines();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[3].label, "2A");
  EXPECT_EQ(lines[3].color, kCategoryPalette[3]);

  // Chosen by the user, the categories are written beside the legend on close.
  EXPECT_TRUE(layer.SaveLegend());
  const std::string stored = test::ReadFileBytes(dir / "ssurgo-simple1.lgc");
  EXPECT_EQ(stored.rfind("KESTRUNE CATEGORIES 1\nfield=musym\n1F78B4\t3A\n33A02C\t14C2\n", 0), 0u) << stored;
  EXPECT_FALSE(std::filesystem::exists(dir / "ssurgo-simple1.lgd"));

  // `info` tells each record's category and lists them all, and writes nothing.
  std::filesystem::remove(dir / "ssurgo-simple1.lgc");
  std::ostringstream out, err;
  ASSERT_EQ(RunInfoCommand({shp.string(), "--records"}, out, err), 0) << err.str();
  const std::string text = out.str();
  EXPECT_NE(text.find("\"legend_column\": 1, \"legend\": [], "), std::string::npos) << text.substr(0, 600);
  EXPECT_NE(text.find("\"categories\": [[\"3A\", 11827231], [\"14C2\", 2924595]"), std::string::npos)
      << text.substr(0, 600);
  EXPECT_NE(text.find("{\"rec\": 10, \"class\": 8, \"color\": 2644401, \"value\": 5.0, \"category\": \"912A\", "),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "ssurgo-simple1.lgc"));
}

// A point set whose table has one text field "Crop", one row per value.
std::string WriteCropSet(const TempDir& dir, const std::vector<std::string>& crops) {
  std::vector<test::XY> points;
  for (size_t i = 0; i < crops.size(); ++i) points.push_back({-95.0 + 0.01 * double(i), 42.0});
  const std::string shp = test::WritePointSet(dir, "crops", points, std::vector<double>(crops.size(), 0.0));
  test::DbfTableLayout layout;
  layout.fields = {{"Crop", 'C', 12, 0}};
  for (const std::string& c : crops) layout.rows.push_back(" " + test::Left(c, 12));
  test::WriteFileBytes(dir / "crops.dbf", test::MakeDbf(layout));
  return shp;
}

TEST(CategoryLegend, ValuesPastThePaletteAreNeutralAndOtherComesLast) {
  TempDir dir;
  std::vector<std::string> crops;
  for (int i = 15; i >= 1; --i) crops.push_back("hybrid " + std::to_string(i));
  crops.push_back("hybrid 15");  // seen before: its first colour
  crops.push_back("");           // a blank is a category of its own
  const std::string shp = WriteCropSet(dir, crops);
  Layer layer;
  ASSERT_TRUE(test::OpenAndLoad(layer, shp));
  layer.SetThemeField(1);
  const CategoryLegend& categories = layer.GetCategories();
  ASSERT_EQ(categories.GetCount(), 16u);
  EXPECT_EQ(categories.ValueOf(0), "hybrid 15");
  EXPECT_EQ(categories.ValueOf(15), "");
  for (int r = 1; r <= 12; ++r) EXPECT_EQ(ColorOfRecord(layer, r), kCategoryPalette[r - 1]) << r;
  for (int r = 13; r <= 15; ++r) EXPECT_EQ(ColorOfRecord(layer, r), kCategoryOtherColor) << r;
  EXPECT_EQ(ColorOfRecord(layer, 16), kCategoryPalette[0]);
  EXPECT_EQ(ColorOfRecord(layer, 17), kCategoryOtherColor);
  const std::vector<CategoryLegend::Line> lines = categories.GetLines();
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[11].label, "hybrid 4");
  EXPECT_EQ(lines.back().label, "Other");
  EXPECT_EQ(lines.back().color, kCategoryOtherColor);
}

TEST(CategoryLegend, TheTwelveColoursAreDistinctFromEachOtherAndFromNeutral) {
  const auto rgb = [](Color c) { return std::array<int, 3>{int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)}; };
  std::vector<Color> all(std::begin(kCategoryPalette), std::end(kCategoryPalette));
  all.push_back(kCategoryOtherColor);
  for (size_t i = 0; i < all.size(); ++i) {
    for (size_t j = i + 1; j < all.size(); ++j) {
      const auto a = rgb(all[i]);
      const auto b = rgb(all[j]);
      const double d = std::sqrt(double((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                                        (a[2] - b[2]) * (a[2] - b[2])));
      EXPECT_GT(d, 60.0) << std::hex << all[i] << " " << all[j];
    }
  }
}

TEST(CategoryLegend, TheFileRoundTripsKeepsItsColoursAndRefusesOtherFiles) {
  CategoryLegend legend;
  legend.Begin("Crop");
  EXPECT_EQ(legend.IndexOf("corn"), 0);
  EXPECT_EQ(legend.IndexOf("tab\there\\"), 1);
  EXPECT_EQ(legend.IndexOf("corn"), 0);
  const std::string bytes = legend.SaveBytes();
  EXPECT_EQ(bytes, "KESTRUNE CATEGORIES 1\nfield=Crop\n1F78B4\tcorn\n33A02C\ttab\\there\\\\\n");
  CategoryLegend read;
  ASSERT_TRUE(read.LoadBytes(bytes));
  EXPECT_EQ(read.GetValues(), legend.GetValues());
  EXPECT_EQ(read.SaveBytes(), bytes);
  // A colour edited in the file stays with its value when the layer colours again.
  CategoryLegend edited;
  ASSERT_TRUE(edited.LoadBytes("KESTRUNE CATEGORIES 1\r\nfield=Crop\r\nFF0000\tcorn\r\n"));
  CategoryLegend fresh;
  fresh.Begin("Crop");
  fresh.IndexOf("soy");
  fresh.IndexOf("corn");
  fresh.ApplyStored(edited);
  EXPECT_EQ(fresh.ColorOf(0), kCategoryPalette[0]);
  EXPECT_EQ(fresh.ColorOf(1), 0x0000FFu);
  CategoryLegend otherField;
  otherField.Begin("Hybrid");
  otherField.IndexOf("corn");
  otherField.ApplyStored(edited);
  EXPECT_EQ(otherField.ColorOf(0), kCategoryPalette[0]);
  // Not a category file: refused, the legend unchanged.
  for (const char* bad : {"LEGEND0001", "KESTRUNE CATEGORIES 1\nCrop\n", "KESTRUNE CATEGORIES 1\nfield=C\nXX0000\tcorn\n",
                          "KESTRUNE CATEGORIES 1\nfield=C\nFF0000 corn\n"}) {
    EXPECT_FALSE(read.LoadBytes(bad)) << bad;
  }
  EXPECT_EQ(read.SaveBytes(), bytes);
}

TEST(CategoryLegend, AnEditedValueBecomesANewCategoryAndOnlyTextAndNumbersAreThemes) {
  TempDir dir;
  const std::string shp = WriteCropSet(dir, {"corn", "soy"});
  Layer layer;
  ASSERT_TRUE(test::OpenAndLoad(layer, shp));
  layer.SetThemeField(1);
  Shape* second = nullptr;
  for (Shape* s : layer.Records()) {
    if (s->GetRecordNumber() == 2) second = s;
  }
  ASSERT_NE(second, nullptr);
  {
    DbfTable table((dir / "crops.dbf").string());
    ASSERT_TRUE(table.ReadRecord(2));
    ASSERT_TRUE(table.SetString(1, "wheat"));
    ASSERT_TRUE(table.WriteRecord(2));
  }
  layer.Select(second);
  ASSERT_TRUE(layer.RereadSelectedRecord());
  EXPECT_EQ(layer.GetCategoryOf(*second), "wheat");
  EXPECT_EQ(second->GetColor(), kCategoryPalette[2]);
  EXPECT_TRUE(layer.GetCategories().IsChanged());

  DbfField f;
  for (const auto& [letter, type, theme] : std::vector<std::tuple<char, int, bool>>{
           {'C', kDbfCharacter, true}, {'N', kDbfNumeric, true}, {'D', kDbfDate, false},
           {'L', kDbfLogical, false}, {'M', kDbfCharacter, false}}) {
    f.letter = letter;
    f.type = type;
    EXPECT_EQ(IsThemeField(f), theme) << letter;
  }
}

}  // namespace
}  // namespace kestrune
