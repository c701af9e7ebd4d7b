// The layer: its paths, opening, loading with the settings file, values and
// colours, the setters that write their keys, the filter, records, the
// context commands and drawing in passes.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <set>

#include "base/Preferences.h"
#include "geo/RecordingCanvas.h"
#include "layers/IniFile.h"
#include "layers/Layer.h"
#include "layers/LayerInfo.h"
#include "layers/LayerTestFiles.h"
#include "mapview/MapView.h"

namespace kestrune {
namespace {

using test::RecordingHost;
using test::TempDir;
using test::WritePointSet;
using test::XY;

std::string Setting(const std::string& settingsPath, const char* key) {
  return ReadProfileString(settingsPath, "Options", key, "<none>");
}

// ---------------------------------------------------------------- paths

TEST(LayerPaths, BaseNameAndExtensionFollowTheFileName) {
  Layer layer;
  layer.SetPathName("/data/north field.v2/yield.SHP");
  EXPECT_EQ(layer.GetBasePath(), "/data/north field.v2/yield");
  EXPECT_EQ(layer.GetFileName(), "yield.SHP");
  EXPECT_EQ(layer.GetExtension(), "SHP");
}

TEST(LayerPaths, SideFilesAreFoundWhateverTheCaseOfTheirExtension) {
  TempDir dir;
  test::WriteFileBytes(dir / "FIELD.SHP", "");
  test::WriteFileBytes(dir / "FIELD.DBF", "");
  Layer layer;
  layer.SetPathName((dir / "FIELD.SHP").string());
  EXPECT_EQ(layer.GetTablePath(), (dir / "FIELD.DBF").string());
  // New side files follow the set's upper case.
  EXPECT_EQ(layer.GetSettingsPath(), (dir / "FIELD.GPE").string());
  EXPECT_EQ(layer.GetLegendPath(), (dir / "FIELD.LGD").string());
  EXPECT_EQ(layer.GetNotesPath(), (dir / "FIELD.TXT").string());
  test::WriteFileBytes(dir / "FIELD.gpe", "[Options]\r\n");
  EXPECT_EQ(layer.GetSettingsPath(), (dir / "FIELD.gpe").string());

}

TEST(LayerOpen, OnlyShapeFilesOpen) {
  TempDir dir;
  const std::string shp = WritePointSet(dir, "pts", {{-93.6, 42.03}}, {1.0});
  test::MessageCatcher messages;
  for (const char* name : {"pts.gpl", "pts", "pts.txt"}) {
    test::WriteFileBytes(dir / name, test::ReadFileBytes(shp));
    Layer layer;
    layer.SetPathName((dir / name).string());
    EXPECT_FALSE(layer.Open()) << name;
    EXPECT_EQ(layer.GetFileKind(), kFileKindUnknown);
  }
  // The extension is compared ignoring case.
  test::WriteFileBytes(dir / "upper.SHP", test::ReadFileBytes(shp));
  Layer upper;
  upper.SetPathName((dir / "upper.SHP").string());
  EXPECT_TRUE(upper.Open());
  EXPECT_EQ(upper.GetShapeKind(), kShapeKindPoints);
  EXPECT_TRUE(messages.messages.empty());
}

// ---------------------------------------------------------------- loading and settings

class LayerLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = WritePointSet(dir_, "log", {{-93.60, 42.03}, {-93.59, 42.04}, {-93.58, 42.05}}, {10.0, 20.0, 40.0});
  }
  std::string Gpe() const { return (dir_ / "log.gpe").string(); }
  void WriteGpe(const std::string& lines) { test::WriteFileBytes(dir_ / "log.gpe", "[Options]\r\n" + lines); }

  TempDir dir_;
  std::string path_;
};

TEST_F(LayerLoad, SettingsAreReadAndTheDisplaySizeDefaultsBelowOneFoot) {
  WriteGpe("DISPLAY_SIZE=150\r\nDRAW_BORDER=2\r\nSOLID_COLOR=255\r\nLEGEND_COL=65537\r\nCOLOR_METHOD=1\r\n");
  Layer layer;
  ASSERT_TRUE(test::OpenAndLoad(layer, path_));
  EXPECT_EQ(layer.GetRecordCount(), 3u);
  EXPECT_DOUBLE_EQ(layer.GetDisplaySize(false), 1.5);
  EXPECT_FALSE(layer.GetDrawBorder());  // only 1 means a border
  EXPECT_EQ(layer.GetSolidColor(), 255u);
  EXPECT_EQ(layer.GetLegendColumn(), 1);  // low 16 bits of 65537
  EXPECT_EQ(layer.GetColorMethod(), 1);
  EXPECT_FALSE(layer.IsModified());

  for (const char* stored : {"50", "99"}) {
    WriteGpe(std::string("DISPLAY_SIZE=") + stored + "\r\n");
    Layer small;
    ASSERT_TRUE(test::OpenAndLoad(small, path_));
    EXPECT_DOUBLE_EQ(small.GetDisplaySize(false), GetPreferences().GetDefaultDisplaySize(false)) << stored;
    EXPECT_EQ(Setting(Gpe(), "DISPLAY_SIZE"), "3000") << "the default is written back";
  }
}

TEST_F(LayerLoad, WithoutALegendColumnTheSolidColourIsUsed) {
  for (const char* lines : {"COLOR_METHOD=1\r\nLEGEND_COL=0\r\n", "COLOR_METHOD=1\r\n", "COLOR_METHOD=1\r\nLEGEND_COL=x\r\n"}) {
    WriteGpe(std::string("DISPLAY_SIZE=200\r\nSOLID_COLOR=4660\r\n") + lines);
    Layer layer;
    ASSERT_TRUE(test::OpenAndLoad(layer, path_));
    EXPECT_EQ(layer.GetColorMethod(), kColorMethodSolid) << lines;
    for (Shape* s : layer.Records()) EXPECT_EQ(s->GetColor(), 4660u);
    // The file keeps what it said.
    EXPECT_EQ(Setting(Gpe(), "COLOR_METHOD"), "1");
  }
}

TEST_F(LayerLoad, ValuesComeFromTheLegendColumnAndColourTheRecords) {
  WriteGpe("DISPLAY_SIZE=200\r\nCOLOR_METHOD=1\r\nLEGEND_COL=1\r\n");
  Layer layer;
  ASSERT_TRUE(test::OpenAndLoad(layer, path_));
  std::vector<double> values;
  for (Shape* s : layer.Records()) {
    values.push_back(s->GetValue());
    EXPECT_EQ(s->GetFilterFlags(), static_cast<uint32_t>(kComputedRecordFlags));
    EXPECT_EQ(s->GetColor(), layer.GetLegend().GetColor(s->GetValue()));
  }
  EXPECT_EQ(values, (std::vector<double>{10.0, 20.0, 40.0}));
  // The automatic legend spans the values: the lowest class holds 10, the open top class is last.
  const auto& entries = layer.GetLegend().GetEntries();
  ASSERT_FALSE(entries.empty());
  EXPECT_GE(entries.front().value, 10.0);
  EXPECT_EQ(entries.back().value, kLegendTopValue);
  EXPECT_NE(layer.Records().front()->GetColor(), layer.Records().back()->GetColor());
}

TEST_F(LayerLoad, ARecordWithoutAnAttributeRowHasNoValueAndTheNeutralColour) {
  // The table has rows for the first two records only.
  test::WriteFileBytes(dir_ / "log.dbf", test::RateTable({7.0, 9.0}));
  WriteGpe("COLOR_METHOD=1\r\nLEGEND_COL=1\r\n");
  Layer layer;
  ASSERT_TRUE(test::OpenAndLoad(layer, path_));
  std::vector<Shape*> records(layer.Records().begin(), layer.Records().end());
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0]->GetValue(), 7.0);
  EXPECT_EQ(records[1]->GetValue(), 9.0);
  EXPECT_FALSE(records[2]->HasValue());
  EXPECT_EQ(records[2]->GetColor(), kNeutralColor);
  EXPECT_EQ(records[1]->GetColor(), layer.GetLegend().GetColor(9.0));
  // The automatic legend spans the values there are.
  Legend automatic;
  automatic.BuildAutomatic(9.0, 7.0);
  EXPECT_EQ(layer.GetLegend().GetEntries(), automatic.GetEntries());
  EXPECT_NE(RecordJson(*records[2]).find("\"value\": null, "), std::string::npos);

  // Under one solid colour such a record takes it, as every record does.
  WriteGpe("COLOR_METHOD=0\r\nLEGEND_COL=1\r\nSOLID_COLOR=4660\r\n");
  Layer solid;
  ASSERT_TRUE(test::OpenAndLoad(solid, path_));
  for (Shape* s : solid.Records()) EXPECT_EQ(s->GetColor(), 4660u);

  // Without any table no record has a value.
  std::filesystem::remove(dir_ / "log.dbf");
  Layer noTable;
  ASSERT_TRUE(test::OpenAndLoad(noTable, path_));
  for (Shape* s : noTable.Records()) EXPECT_FALSE(s->HasValue());
}

TEST_F(LayerLoad, ALegendFileReplacesTheAutomaticLegend) {
  WriteGpe("COLOR_METHOD=1\r\nLEGEND_COL=1\r\n");
  Legend saved;
  saved.Insert(15.0, 0x0000FF);
  saved.Insert(kLegendTopValue, 0x00FF00);
  ASSERT_TRUE(saved.SaveFile((dir_ / "log.lgd").string()));
  Layer layer;
  ASSERT_TRUE(test::OpenAndLoad(layer, path_));
  EXPECT_EQ(layer.GetLegend().GetEntries(), saved.GetEntries());
  std::vector<Color> colours;
  for (Shape* s : layer.Records()) colours.push_back(s->GetColor());
  EXPECT_EQ(colours, (std::vector<Color>{0x0000FF, 0x00FF00, 0x00FF00}));

  // A legend file with a wrong header is reported and leaves the automatic legend.
  test::WriteFileBytes(dir_ / "log.lgd", "NOTALEGEND");
  test::MessageCatcher messages;
  Layer bad;
  ASSERT_TRUE(test::OpenAndLoad(bad, path_));
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0].text, "Invalid legend file.");
  EXPECT_EQ(bad.GetLegend().GetEntries().back().value, kLegendTopValue);
  EXPECT_GT(bad.GetLegend().GetCount(), 2u);
}

TEST_F(LayerLoad, LoadingReportsProgressAndKeepsRecordsWhenAsked) {
  std::vector<XY> points;
  std::vector<double> values;
  for (int i = 0; i < 10000; ++i) {
    points.push_back({-93.6 + i * 1e-5, 42.03});
    values.push_back(i);
  }
  const std::string path = WritePointSet(dir_, "big", points, values);
  Layer layer;
  std::vector<int64_t> reports;
  QObject::connect(&layer, &Layer::loadProgress, [&reports](qint64 n, int) { reports.push_back(n); });
  layer.SetPathName(path);
  ASSERT_TRUE(layer.Open());
  ASSERT_TRUE(layer.Load());
  ASSERT_GE(reports.size(), 2u);
  EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
  EXPECT_EQ(reports.back(), 10000);
  EXPECT_TRUE(layer.IsLoaded());

  // A second load reads the settings again but not the records.
  Shape* first = layer.Records().front();
  EXPECT_TRUE(layer.Load());
  EXPECT_EQ(layer.Records().front(), first);
  EXPECT_EQ(layer.GetRecordCount(), 10000u);
}

// ---------------------------------------------------------------- setters

TEST_F(LayerLoad, EverySetterWritesItsKeyAtOnce) {
  Layer layer;
  ASSERT_TRUE(test::OpenAndLoad(layer, path_));
  layer.SetDisplaySize(1.0, true);
  EXPECT_DOUBLE_EQ(layer.GetDisplaySize(false), 3.280839895);
  EXPECT_EQ(Setting(Gpe(), "DISPLAY_SIZE"), "328");
  EXPECT_NEAR(layer.GetDisplaySize(true), 1.0, 1e-12);
  layer.SetDisplaySize(2.345, false);
  EXPECT_EQ(Setting(Gpe(), "DISPLAY_SIZE"), "234");
  layer.SetDrawBorder(false);
  EXPECT_EQ(Setting(Gpe(), "DRAW_BORDER"), "0");
  layer.SetSolidColor(0xC0C0C0);
  EXPECT_EQ(Setting(Gpe(), "SOLID_COLOR"), "12632256");
  layer.SetLegendColumn(-1);
  EXPECT_EQ(Setting(Gpe(), "LEGEND_COL"), "-1");
  layer.SetColorMethod(1);
  EXPECT_EQ(Setting(Gpe(), "COLOR_METHOD"), "1");

  // What was written reads back on the next load: 2.345 ft comes back as 2.34.
  Layer again;
  ASSERT_TRUE(test::OpenAndLoad(again, path_));
  EXPECT_DOUBLE_EQ(again.GetDisplaySize(false), 2.34);
  EXPECT_FALSE(again.GetDrawBorder());
}

TEST_F(LayerLoad, ThemeFieldRecolours) {
  RecordingHost host;
  Layer layer;
  host.Listen(layer);
  ASSERT_TRUE(test::OpenAndLoad(layer, path_));
  for (Shape* s : layer.Records()) EXPECT_EQ(s->GetValue(), 0.0);
  layer.SetThemeField(1);
  EXPECT_EQ(layer.GetLegendColumn(), 1);
  EXPECT_EQ(layer.GetColorMethod(), kColorMethodLegend);
  EXPECT_EQ(Setting(Gpe(), "LEGEND_COL"), "1");
  EXPECT_EQ(Setting(Gpe(), "COLOR_METHOD"), "1");
  EXPECT_EQ(layer.Records().back()->GetValue(), 40.0);
  EXPECT_EQ(layer.Records().back()->GetColor(), layer.GetLegend().GetColor(40.0));
  ASSERT_EQ(host.allInvalidated, std::vector<bool>{true});
  // The same field again, or no field, changes nothing.
  layer.SetThemeField(1);
  layer.SetThemeField(0);
  EXPECT_EQ(host.allInvalidated.size(), 1u);
}

// ---------------------------------------------------------------- records

TEST(LayerRecords, CreateAddRemoveAndTheModifiedMark) {
  Layer layer;
  EXPECT_EQ(layer.CreateRecord(3, 1, true), nullptr);
  Shape* line = layer.CreateRecord(kRecordLine, 1, false);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(layer.GetRecordCount(), 0u) << "not added without add now";
  const MapPoint pts[] = {{100, 100}, {200, 200}};
  line->AddPoints(pts, 2);
  layer.AddRecord(line, true);
  EXPECT_EQ(line->GetOwner(), &layer);
  Shape* point = layer.CreateRecord(kRecordPoint, 2, true);
  ASSERT_NE(point, nullptr);
  EXPECT_EQ(point->GetOwner(), &layer);
  layer.AddRecord(nullptr, true);
  EXPECT_EQ(layer.GetRecordCount(), 2u);

  // The line's points marked it changed: the layer reads that mark.
  EXPECT_TRUE(layer.IsModified());
  layer.SetModified(false);
  EXPECT_FALSE(line->IsModified());
  EXPECT_FALSE(layer.IsModified());

  layer.Select(point);
  layer.RemoveRecord(point);
  EXPECT_EQ(layer.GetRecordCount(), 1u);
  EXPECT_EQ(layer.GetSelectionCount(), 0);
  EXPECT_TRUE(layer.IsModified());

  // Iteration over the records.
  std::vector<Shape*> records;
  for (Shape* shape : layer.Records()) records.push_back(shape);
  EXPECT_EQ(records, std::vector<Shape*>{line});

  // A record of another layer is not taken.
  Layer other;
  Shape* foreign = other.CreateRecord(kRecordPoint, 1, true);
  layer.RemoveRecord(foreign);
  EXPECT_EQ(other.GetRecordCount(), 1u);

  layer.Close();
  EXPECT_EQ(layer.GetRecordCount(), 0u);
  EXPECT_EQ(layer.GetPathName(), "");
}

TEST(LayerRecords, APointRecordAndItsListEntryFitThirtyTwoBytes) {
  // Ten million points must not need more than 320 MB beside their file: a
  // record of 32 bytes, and points loaded one after another kept as runs.
  EXPECT_LE(sizeof(PointShape), 32u);
  Layer layer;
  for (int i = 1; i <= 10000; ++i) layer.CreateRecord(kRecordPoint, i, true)->SetPoint({i, i});
  if (PointShape::IsPooled()) {
    EXPECT_EQ(layer.Records().RunBlockCount(), (10000u + RecordList::kBlockSize - 1) / RecordList::kBlockSize);
  }
  for (Shape* shape : layer.Records()) ASSERT_EQ(shape->GetOwner(), &layer);
}

TEST(LayerRecords, AreasInsertedInOrderNeverCostQuadraticTime) {
  // Every new area is the largest so far, so each ordered insert goes to the
  // front of all the others: a walk per insert would take minutes.
  Layer layer;
  constexpr int kCount = 200000;
  for (int i = 0; i < kCount; ++i) {
    Shape* area = layer.CreateRecord(kRecordArea, i + 1, false);
    const int32_t s = 10 + i;
    const MapPoint ring[] = {{1000, 1000}, {1000, 1000 + s}, {1000 + s, 1000 + s}, {1000 + s, 1000}, {1000, 1000}};
    area->AddPoints(ring, 5);
    area->FinishGeometry();
    layer.AddRecord(area, false);
  }
  ASSERT_EQ(layer.GetRecordCount(), static_cast<size_t>(kCount));
  // Largest first.
  double last = std::numeric_limits<double>::infinity();
  for (Shape* s : layer.Records()) {
    const double area = static_cast<AreaShape*>(s)->GetOuterArea();
    ASSERT_LE(area, last);
    last = area;
  }
}

TEST(LayerBounds, EmptyLayerAndUnionStartingFromZero) {
  Layer layer;
  EXPECT_EQ(layer.GetBounds(), kEmptyBounds);
  Shape* line = layer.CreateRecord(kRecordLine, 1, true);
  const MapPoint pts[] = {{100, 300}, {250, 200}};
  line->AddPoints(pts, 2);
  Shape* second = layer.CreateRecord(kRecordLine, 2, true);
  const MapPoint more[] = {{50, 400}, {60, 410}};
  second->AddPoints(more, 2);
  const MapRect a = line->GetHitBounds();
  const MapRect b = second->GetHitBounds();
  EXPECT_EQ(layer.GetBounds(), (MapRect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                                        std::max(a.bottom, b.bottom)}));
}

TEST(LayerFilter, TheMaskDecidesWhichRecordsPass) {
  Layer layer;
  for (int i = 1; i <= 3; ++i) layer.CreateRecord(kRecordPoint, i, true)->SetFilterFlags(kComputedRecordFlags);
  layer.ApplyFilter();
  for (Shape* s : layer.Records()) EXPECT_FALSE(s->IsFilteredOut());
  for (int mask : {0x1004, 0x1001, 0x2, 0x8, 0}) {
    layer.SetFilterMask(mask);
    layer.ApplyFilter();
    for (Shape* s : layer.Records()) EXPECT_TRUE(s->IsFilteredOut()) << mask;
  }
  layer.SetFilterMask(0x3 | 0xC);
  layer.ApplyFilter();
  for (Shape* s : layer.Records()) EXPECT_FALSE(s->IsFilteredOut());
}

// ---------------------------------------------------------------- selection commands

using LayerCommands = LayerLoad;

TEST_F(LayerCommands, AfterAnEditTheOneSelectedRecordIsReadAgainAndRecoloured) {
  WriteGpe("COLOR_METHOD=1\r\nLEGEND_COL=1\r\n");
  RecordingHost host;
  Layer layer;
  host.Listen(layer);
  ASSERT_TRUE(test::OpenAndLoad(layer, path_));
  Shape* first = layer.Records().front();
  EXPECT_FALSE(layer.IsOneRecordSelected());
  EXPECT_FALSE(layer.RereadSelectedRecord()) << "nothing selected";
  layer.Select(first);
  EXPECT_TRUE(layer.IsOneRecordSelected());
  // A new value in the row, as the Attributes dialog writes it.
  test::WriteFileBytes(dir_ / "log.dbf", test::RateTable({40.0, 20.0, 40.0}));
  EXPECT_TRUE(layer.RereadSelectedRecord());
  EXPECT_EQ(first->GetValue(), 40.0);
  EXPECT_EQ(first->GetColor(), layer.GetLegend().GetColor(40.0));
  layer.Select(layer.Records().back());
  EXPECT_FALSE(layer.IsOneRecordSelected());
  EXPECT_FALSE(layer.RereadSelectedRecord()) << "two selected";
}

TEST_F(LayerCommands, RemoveCommandDeletesTheSelectionAndRepaintsWhereItWas) {
  RecordingHost host;
  MapView view;
  view.Resize(400, 300);
  Layer layer;
  host.Listen(layer);
  ASSERT_TRUE(test::OpenAndLoad(layer, path_));
  view.ZoomAll({layer.GetBounds()});
  host.SetTransform(&view.Transform());
  Shape* first = layer.Records().front();
  Shape* last = layer.Records().back();
  const MapRect a = first->GetHitBounds();
  const MapRect b = last->GetHitBounds();
  layer.Select(first);
  layer.Select(last);
  layer.SetModified(false);
  EXPECT_TRUE(layer.RemoveSelectedRecords());
  EXPECT_EQ(layer.GetRecordCount(), 1u);
  EXPECT_EQ(layer.GetSelectionCount(), 0);
  EXPECT_TRUE(layer.IsModified());
  // One repaint covering both removed symbols.
  ASSERT_EQ(host.invalidated.size(), 1u);
  RecordingCanvas::Window expected;
  const MapRect both{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                     std::max(a.bottom, b.bottom)};
  view.Transform().InvalidateWorldRect(expected, both, true, 1);
  ASSERT_EQ(expected.invalidated.size(), 1u);
  EXPECT_EQ(host.invalidated[0].rect.left, expected.invalidated[0].rect.left);
  EXPECT_EQ(host.invalidated[0].rect.right, expected.invalidated[0].rect.right);
  EXPECT_EQ(host.invalidated[0].rect.top, expected.invalidated[0].rect.top);
  EXPECT_EQ(host.invalidated[0].rect.bottom, expected.invalidated[0].rect.bottom);
  EXPECT_TRUE(host.invalidated[0].erase);
}

TEST_F(LayerLoad, ChangedLegendIsSavedOnlyWhenMarked) {
  WriteGpe("COLOR_METHOD=1\r\nLEGEND_COL=1\r\n");
  Layer layer;
  ASSERT_TRUE(test::OpenAndLoad(layer, path_));
  EXPECT_TRUE(layer.SaveLegend());
  EXPECT_FALSE(std::filesystem::exists(dir_ / "log.lgd"));
  Legend edited;
  edited.Insert(25.0, 0xFF);
  edited.SetChanged(true);
  layer.SetLegend(edited);
  EXPECT_TRUE(layer.SaveLegend());
  Legend back;
  ASSERT_TRUE(back.LoadFile((dir_ / "log.lgd").string()));
  EXPECT_EQ(back.GetEntries(), edited.GetEntries());
}

TEST(LayerLegendFile, ALegendFileAppliesOnlyToTheFieldItWasMadeFor) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  TempDir dir;
  const std::string shp = test::CopyFileSet(data / "field" / "as-applied-simple1.shp", dir.path()).string();
  const std::string gpe = (dir / "as-applied-simple1.gpe").string();
  const auto colours = [](const Layer& layer) {
    std::set<Color> seen;
    for (Shape* s : layer.Records()) seen.insert(s->GetColor());
    return seen.size();
  };
  Legend speed;
  {
    // A file written before the field name was kept: its ".lgd" applies as it always did.
    Layer layer;
    ASSERT_TRUE(test::OpenAndLoad(layer, shp));
    EXPECT_EQ(layer.GetLegend().GetCount(), 5u);
    layer.SetThemeField(3);  // Speed_mph_
    EXPECT_TRUE(layer.GetLegend().IsChanged()) << "a new field's legend is written on close";
    speed = layer.GetLegend();
    EXPECT_GT(colours(layer), 2u);
    layer.SaveLegend();
  }
  EXPECT_EQ(Setting(gpe, "LEGEND_FIELD"), "Speed_mph_");
  {
    Layer reopened;
    ASSERT_TRUE(test::OpenAndLoad(reopened, shp));
    EXPECT_EQ(reopened.GetLegendColumn(), 3);
    EXPECT_EQ(reopened.GetLegend().GetEntries(), speed.GetEntries());
    EXPECT_GT(colours(reopened), 2u);
  }
  // LEGEND_COL changed by hand: the ".lgd" of Speed does not colour Elevation.
  WriteProfileString(gpe, "Options", "LEGEND_COL", "2");
  Layer edited;
  ASSERT_TRUE(test::OpenAndLoad(edited, shp));
  Legend automatic;
  double lo = 1e99, hi = -1e99;
  for (Shape* s : edited.Records()) {
    lo = std::min(lo, s->GetValue());
    hi = std::max(hi, s->GetValue());
  }
  automatic.BuildAutomatic(hi, lo);
  EXPECT_EQ(edited.GetLegend().GetEntries(), automatic.GetEntries());
}

}  // namespace
}  // namespace kestrune
