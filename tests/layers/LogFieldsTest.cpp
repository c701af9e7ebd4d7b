// Log fields: their detection from the field names, the keys that override
// it, the values of a row (dates, times), each record's filter flags, the
// layer's summary from a small log with figures worked out by hand, the real
// files' fields, and the Show Me choices on the sample farm's log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "base/Preferences.h"
#include "layers/IniFile.h"
#include "layers/Layer.h"
#include "layers/LayerInfo.h"
#include "layers/LayerList.h"
#include "layers/LayerTestFiles.h"
#include "layers/LogFields.h"

namespace kestrune {
namespace {

using test::DbfFieldLayout;
using test::DbfTableLayout;
using test::Left;
using test::Right;
using test::ShpBuilder;
using test::TempDir;
using test::XY;

LogFields Fields(int rate, int boom, int date, int time, int width) {
  LogFields f;
  f.column = {rate, boom, date, time, width};
  return f;
}

std::vector<DbfField> Named(const std::vector<std::pair<std::string, char>>& fields) {
  std::vector<DbfField> out;
  for (const auto& [name, letter] : fields) {
    DbfField f;
    f.name = name;
    f.letter = letter;
    out.push_back(f);
  }
  return out;
}

// The record at a place in drawing order.
Shape* Nth(const Layer& layer, int index) {
  auto it = layer.Records().begin();
  for (int i = 0; i < index; ++i) ++it;
  return *it;
}

// The units of the preferences for one test.
class Units {
 public:
  explicit Units(bool metric) : was_(GetPreferences().IsMetric()) { GetPreferences().SetMetric(metric); }
  ~Units() { GetPreferences().SetMetric(was_); }
  Units(const Units&) = delete;
  Units& operator=(const Units&) = delete;

 private:
  bool was_;
};

// ---------------------------------------------------------------- detection

TEST(LogFieldDetection, TheNameRulesPickTheFirstFieldOfEachKind) {
  const struct {
    const char* what;
    std::vector<std::pair<std::string, char>> fields;
    LogFields expected;
  } cases[] = {
      {"applied rate before the target, any case",
       {{"Tgt_Rate", 'N'}, {"AppliedRate", 'N'}, {"boom_st", 'N'}, {"Logged", 'D'}, {"GpsTime", 'C'}, {"Width", 'N'}},
       Fields(2, 3, 4, 5, 6)},
      {"only target rates: the first of them", {{"TARGET_RATE", 'N'}, {"Tgt_Rate_k", 'N'}}, Fields(1, 0, 0, 0, 0)},
      {"rate, boom and width must be numbers",
       {{"RATE", 'C'}, {"BOOM", 'C'}, {"SWATH", 'C'}, {"Rate2", 'F'}, {"Section1", 'N'}, {"SwthW", 'N'}},
       Fields(4, 5, 0, 0, 6)},
      {"a 'D' field beats a field named DATE; TIME of any type",
       {{"DATE", 'C'}, {"Applied", 'D'}, {"TIME", 'N'}}, Fields(0, 0, 2, 3, 0)},
      {"a field named DATE without a 'D' field", {{"Dated", 'C'}, {"date", 'C'}}, Fields(0, 0, 2, 0, 0)},
      {"SECTION counts as boom, SWATH as width", {{"SECTION_ON", 'N'}, {"SWATH_FT", 'N'}}, Fields(0, 1, 0, 0, 2)},
      {"nothing of a log", {{"Yld_Vol_Dr", 'N'}, {"musym", 'C'}}, Fields(0, 0, 0, 0, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DetectLogFields(Named(c.fields)).column, c.expected.column);
  }
}

TEST(LogFieldDetection, TheRealFilesGiveTheirOwnFields) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  const struct {
    const char* name;
    LogFields expected;
  } cases[] = {
      {"ab-line-simple1", Fields(0, 0, 0, 0, 0)},
      {"as-applied-simple1", Fields(1, 0, 0, 0, 0)},  // only a target rate, Tgt_Rate_k
      {"boundary-simple1", Fields(0, 0, 0, 0, 0)},
      {"field_boundary_with_holes", Fields(0, 0, 0, 0, 0)},
      {"ssurgo-simple1", Fields(0, 0, 0, 0, 0)},
      {"yield-simple1", Fields(0, 0, 0, 0, 0)},
  };
  std::size_t seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(data / "field")) {
    if (entry.path().extension() == ".dbf") ++seen;
  }
  EXPECT_EQ(seen, std::size(cases)) << "a file of the field folder has no case here";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DbfTable table;
    ASSERT_TRUE(table.Open((data / "field" / (std::string(c.name) + ".dbf")).string()));
    EXPECT_EQ(DetectLogFields(TableFields(table)).column, c.expected.column);
  }
}

TEST(LogFieldDetection, TheRealAsAppliedLogHasFourZeroRatesAndNoTimes) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  TempDir dir;
  LayerList list;
  Layer* layer = list.AddLayer(test::CopyFileSet(data / "field" / "as-applied-simple1.shp", dir.path()).string(), true);
  ASSERT_NE(layer, nullptr);
  std::vector<int> zero;
  for (Shape* s : layer->Records()) {
    if (s->GetFilterFlags() != 0x5u) {
      zero.push_back(s->GetRecordNumber());
      EXPECT_EQ(s->GetFilterFlags(), 0x9u);
    }
  }
  EXPECT_EQ(zero, (std::vector<int>{57, 133, 1026, 1101}));
  // A summary (there is a rate) without dates or times; points without a width cover nothing.
  const FileSummary& s = layer->GetSummary();
  EXPECT_EQ(s.productCount, 1);
  EXPECT_FALSE(s.hasDate || s.hasTimes);
  EXPECT_EQ(s.fieldArea[0], 0.0);
  EXPECT_EQ(s.fieldVolume[0], 0.0);
  EXPECT_EQ(s.FormatLogLine(), "");
}

// ---------------------------------------------------------------- values

TEST(LogValues, DatesAndTimesInTheFormsLogsWrite) {
  const struct {
    const char* text;
    bool ok;
    int y, m, d;
  } dates[] = {
      {"20260415", true, 2026, 4, 15}, {" 2026-04-15 ", true, 2026, 4, 15}, {"2024/2/29", true, 2024, 2, 29},
      {"04/15/2026", true, 2026, 4, 15}, {"4/5/2026", true, 2026, 4, 5},   {"20230229", false, 0, 0, 0},
      {"", false, 0, 0, 0},              {"2026-04", false, 0, 0, 0},      {"15.04.2026", false, 0, 0, 0},
      {"2026-13-01", false, 0, 0, 0},    {"2026-04/15", false, 0, 0, 0},
  };
  for (const auto& c : dates) {
    SCOPED_TRACE(c.text);
    int64_t days = -1;
    ASSERT_EQ(ParseLogDate(c.text, days), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(days, DaysFromCivil(c.y, c.m, c.d));
    int y = 0, m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    EXPECT_EQ((std::vector<int>{y, m, d}), (std::vector<int>{c.y, c.m, c.d}));
  }
  // Day 0 is 1 January 1601; the file time of a day is its midnight.
  EXPECT_EQ(DaysFromCivil(1601, 1, 1), 0);
  EXPECT_EQ(DaysFromCivil(1970, 1, 1), 134774);
  EXPECT_EQ(IsoDate(FileTimeOfDay(DaysFromCivil(2026, 4, 15))), "2026-04-15");
  FileSummary s;
  s.date = FileTimeOfDay(DaysFromCivil(2026, 4, 15));
  EXPECT_EQ(s.FormatDate(), "04/15/2026");

  const struct {
    const char* text;
    bool ok;
    double seconds;
  } times[] = {
      {"08:00", true, 28800.0},  {"13:05:09", true, 47109.0}, {"7:30", true, 27000.0}, {"  43200 ", true, 43200.0},
      {"86399.5", true, 86399.5}, {"86400", false, 0},        {"24:00", false, 0},     {"12:60", false, 0},
      {"12:5", false, 0},        {"", false, 0},              {"noon", false, 0},      {"-5", false, 0},
  };
  for (const auto& c : times) {
    SCOPED_TRACE(c.text);
    double seconds = -1.0;
    ASSERT_EQ(ParseLogTime(c.text, seconds), c.ok);
    if (c.ok) {
      EXPECT_DOUBLE_EQ(seconds, c.seconds);
    }
  }
}

TEST(LogValues, FlagsFollowBoomAndRateWhenTheLayerHasThoseFields) {
  const LogFields both = Fields(1, 2, 0, 0, 0);
  const LogFields rateOnly = Fields(1, 0, 0, 0, 0);
  const LogFields none;
  const auto row = [](double rate, double boom, bool hasRow = true) {
    LogRecordValues v;
    v.hasRow = hasRow;
    v.rate = rate;
    v.boom = boom;
    return v;
  };
  const struct {
    LogFields fields;
    LogRecordValues values;
    uint32_t flags;
  } cases[] = {
      {both, row(120.0, 1.0), 0x5},  {both, row(0.0, 1.0), 0x9},      {both, row(-2.0, 1.0), 0x9},
      {both, row(120.0, 0.0), 0x6},  {both, row(0.0, 0.0), 0xA},      {both, row(0.0, 0.0, false), 0x5},
      {rateOnly, row(0.0, 0.0), 0x9}, {rateOnly, row(5.0, 0.0), 0x5}, {none, row(0.0, 0.0), 0x5},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LogFilterFlags(c.fields, c.values), c.flags) << c.values.rate << " " << c.values.boom;
  }
  // Only boom on with a rate above zero is applied.
  EXPECT_TRUE(IsAppliedRecord(0x5));
  for (uint32_t flags : {0x6u, 0x9u, 0xAu}) EXPECT_FALSE(IsAppliedRecord(flags)) << flags;
}

TEST(LogValues, APointCoversItsWidthTimesItsStepUnlessTheStepIsTooLong) {
  EXPECT_DOUBLE_EQ(PointStepArea(10.0, 6.0, false), 60.0);
  EXPECT_DOUBLE_EQ(PointStepArea(10.0, 40.0, false), 400.0);  // four widths still count
  EXPECT_DOUBLE_EQ(PointStepArea(10.0, 40.5, false), 0.0);
  EXPECT_DOUBLE_EQ(PointStepArea(10.0, 6.0, true), 0.0);      // the first record
  EXPECT_DOUBLE_EQ(PointStepArea(0.0, 6.0, false), 0.0);
}

// ---------------------------------------------------------------- a small log

// A log of six points 1/10000 degree of latitude apart (one jump of eight),
// the sixth without a row, with rate, target, boom, date, time and width.
class SmallLog : public ::testing::Test {
 protected:
  void SetUp() override {
    ShpBuilder shp(1, -94.0, 41.0, -92.0, 43.0);
    for (double lat : {42.0, 42.0001, 42.0002, 42.0010, 42.0011, 42.0012}) shp.Point(-93.0, lat);
    path_ = (dir_ / "log.shp").string();
    test::WriteFileBytes(path_, shp.Bytes());
    DbfTableLayout layout;
    layout.fields = {{"RATE", 'N', 8, 2},  {"TGT_RATE", 'N', 8, 2}, {"BOOM", 'N', 1, 0},
                     {"LOGGED", 'D', 8, 0}, {"TIME", 'C', 8, 0},    {"WIDTH", 'N', 6, 2}};
    const auto row = [](double rate, int boom, const char* date, const char* time) {
      return " " + test::Number(rate, 8) + test::Number(150.0, 8) + std::to_string(boom) + Left(date, 8) +
             Left(time, 8) + test::Number(10.0, 6);
    };
    layout.rows = {row(100, 1, "20260416", "08:00:10"), row(120, 1, "20260415", "07:59:30"),
                   row(0, 0, "", ""), row(80, 1, "20260415", "09:15"), row(90, 1, "20260415", "09:15:59")};
    test::WriteFileBytes(dir_ / "log.dbf", test::MakeDbf(layout));
  }
  std::string Gpe() const { return (dir_ / "log.gpe").string(); }

  TempDir dir_;
  std::string path_;
};

TEST_F(SmallLog, FlagsAndSummaryMatchTheFiguresWorkedOutByHand) {
  // One step is 1e-4 degree of the 6,370,997 m sphere: 11.119487 m, 36.481258 ft.
  const double stepM = 11.119487428468117;
  const double stepFt = stepM / 0.3048;
  for (bool metric : {true, false}) {
    SCOPED_TRACE(metric ? "metric" : "U.S. units");
    Units units(metric);
    Layer layer;
    ASSERT_TRUE(test::OpenAndLoad(layer, path_));
    EXPECT_EQ(layer.GetLogFields().column, Fields(1, 3, 4, 5, 6).column);
    std::vector<uint32_t> flags;
    for (Shape* s : layer.Records()) flags.push_back(s->GetFilterFlags());
    // The third is off with no rate; the sixth has no row.
    EXPECT_EQ(flags, (std::vector<uint32_t>{0x5, 0x5, 0xA, 0x5, 0x5, 0x5}));

    // Records 2 and 5 cover 10 widths times one step; 1 is first, 3 is off, 4
    // comes after a jump of 8 steps (more than 4 widths), 6 has no width.
    const double step = metric ? stepM : stepFt;
    const double perUnit = metric ? 1.0 / 10000.0 : 1.0 / 43560.0;
    const FileSummary& s = layer.GetSummary();
    EXPECT_EQ(s.productCount, 1);
    EXPECT_TRUE(layer.IsFieldAreaKnown(0) && layer.IsFieldVolumeKnown(0));
    // Map points are whole map units of a few millimetres: a step is known to about 1/1000.
    EXPECT_NEAR(s.fieldArea[0], 2 * 10.0 * step * perUnit, 1e-3 * s.fieldArea[0]);
    EXPECT_NEAR(s.fieldVolume[0], (120.0 + 90.0) * 10.0 * step * perUnit, 1e-3 * s.fieldVolume[0]);
    EXPECT_TRUE(CanShowTotals(&layer));
    // The earliest date; the earliest and latest time of day, to the minute.
    ASSERT_TRUE(s.hasDate && s.hasTimes);
    EXPECT_EQ(IsoDate(s.date), "2026-04-15");
    EXPECT_EQ(s.FormatStartTime(), "7:59 AM");
    EXPECT_EQ(s.FormatEndTime(), "9:15 AM");
    EXPECT_EQ(s.FormatDuration(), "1:16");
  }
}

TEST(LogRows, RowsNoRecordUsesLeaveTheDatesTimesAndValuesAlone) {
  // Three points over a table of five rows: the two rows no record uses hold
  // the earliest date and the widest times, and must not reach the summary,
  // on the first load (the table read beside the shapes) or a recomputation.
  TempDir dir;
  ShpBuilder shp(1, -94.0, 41.0, -92.0, 43.0);
  for (double lat : {42.0, 42.0001, 42.0002}) shp.Point(-93.0, lat);
  const std::string path = (dir / "few.shp").string();
  test::WriteFileBytes(path, shp.Bytes());
  DbfTableLayout layout;
  layout.fields = {{"RATE", 'N', 8, 2}, {"LOGGED", 'D', 8, 0}, {"TIME", 'C', 8, 0}, {"WIDTH", 'N', 6, 2}};
  const auto row = [](double rate, const char* date, const char* time) {
    return " " + test::Number(rate, 8) + Left(date, 8) + Left(time, 8) + test::Number(10.0, 6);
  };
  layout.rows = {row(100, "20260415", "08:00"), row(0, "20260416", "08:30"), row(120, "20260415", "09:00"),
                 row(500, "20200101", "05:00"), row(600, "20300101", "23:00")};
  test::WriteFileBytes(dir / "few.dbf", test::MakeDbf(layout));
  test::WriteFileBytes(dir / "few.gpe", std::string("[Options]\r\nLEGEND_COL=1\r\nCOLOR_METHOD=1\r\n"));
  Layer layer;
  ASSERT_TRUE(test::OpenAndLoad(layer, path));
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass == 0 ? "first load" : "recomputed");
    std::vector<double> values;
    std::vector<uint32_t> flags;
    for (Shape* s : layer.Records()) {
      values.push_back(s->GetValue());
      flags.push_back(s->GetFilterFlags());
    }
    EXPECT_EQ(values, (std::vector<double>{100.0, 0.0, 120.0}));
    EXPECT_EQ(flags, (std::vector<uint32_t>{0x5, 0x9, 0x5}));
    const FileSummary& s = layer.GetSummary();
    ASSERT_TRUE(s.hasDate && s.hasTimes);
    EXPECT_EQ(IsoDate(s.date), "2026-04-15");
    EXPECT_EQ(s.FormatStartTime(), "8:00 AM");
    EXPECT_EQ(s.FormatEndTime(), "9:00 AM");
    EXPECT_GT(s.fieldArea[0], 0.0);
    layer.ComputeValues();
  }
}

TEST_F(SmallLog, KeysOverrideDetectionWhichWritesNothing) {
  Layer detected;
  ASSERT_TRUE(test::OpenAndLoad(detected, path_));
  IniFile gpe;
  gpe.Load(Gpe());
  for (LogField f : kLogFieldOrder) EXPECT_FALSE(gpe.Find("Options", LogFieldKey(f))) << LogFieldKey(f);

  // The target as the rate, no boom field, a width that is no field: the rest detected.
  test::WriteFileBytes(Gpe(), "[Options]\r\nRATE_COL=2\r\nBOOM_COL=0\r\nWIDTH_COL=9\r\n");
  Layer keyed;
  ASSERT_TRUE(test::OpenAndLoad(keyed, path_));
  EXPECT_EQ(keyed.GetLogFields().column, Fields(2, 0, 4, 5, 0).column);
  for (Shape* s : keyed.Records()) EXPECT_EQ(s->GetFilterFlags(), 0x5u);
  EXPECT_DOUBLE_EQ(keyed.GetSummary().fieldArea[0], 0.0) << "points without a width cover nothing";
  EXPECT_TRUE(keyed.GetSummary().hasTimes);

  // The user's choice writes all five keys and the flags follow at once, the filter too once applied.
  keyed.ApplyFilter();
  ASSERT_TRUE(keyed.SetLogFields(Fields(1, 3, 0, 0, 6)));
  gpe.Load(Gpe());
  EXPECT_EQ(gpe.GetString("Options", "RATE_COL"), "1");
  EXPECT_EQ(gpe.GetString("Options", "BOOM_COL"), "3");
  EXPECT_EQ(gpe.GetString("Options", "DATE_COL"), "0");
  EXPECT_EQ(gpe.GetString("Options", "TIME_COL"), "0");
  EXPECT_EQ(gpe.GetString("Options", "WIDTH_COL"), "6");
  EXPECT_EQ(Nth(keyed, 2)->GetFilterFlags(), 0xAu);
  EXPECT_TRUE(Nth(keyed, 2)->IsFilteredOut());
  EXPECT_EQ(keyed.CountFilteredOut(), 1u);
  EXPECT_FALSE(keyed.GetSummary().hasTimes || keyed.GetSummary().hasDate);

  // Without a rate field there is no summary, and no totals.
  ASSERT_TRUE(keyed.SetLogFields(Fields(0, 3, 4, 5, 6)));
  EXPECT_EQ(keyed.GetSummary().productCount, 0);
  EXPECT_FALSE(CanShowTotals(&keyed));
  EXPECT_EQ(Nth(keyed, 2)->GetFilterFlags(), 0x6u);
}

TEST_F(SmallLog, HiddenRecordsCannotBeSelected) {
  Layer layer;
  ASSERT_TRUE(test::OpenAndLoad(layer, path_));
  Shape* off = Nth(layer, 2);
  const MapPoint at = static_cast<PointShape*>(off)->GetPoint();
  EXPECT_EQ(layer.HitTestPoint(at), off);
  layer.Select(off);
  layer.Select(Nth(layer, 0));
  layer.ApplyFilter();  // the default mask: booms on, rates above zero
  ASSERT_TRUE(off->IsFilteredOut());
  // Hiding a selected record unselects it.
  EXPECT_FALSE(off->IsSelected());
  EXPECT_EQ(layer.GetSelection(), std::vector<Shape*>{Nth(layer, 0)});
  EXPECT_EQ(layer.GetSelectionDrawOrder(), std::vector<Shape*>{Nth(layer, 0)});
  EXPECT_NE(layer.HitTestPoint(at), off);
  const std::vector<Shape*> all = layer.FindInRect(layer.GetBounds());
  EXPECT_EQ(all.size(), 5u);
  EXPECT_EQ(std::count(all.begin(), all.end(), off), 0);
}

TEST_F(SmallLog, InfoLinesCarryTheLogFieldsTheSummaryAndTheFlags) {
  Units units(true);
  LayerList list;
  Layer* layer = list.AddLayer(path_, true);
  ASSERT_NE(layer, nullptr);
  const std::vector<std::string> lines = LayerInfoLines(*layer, "log.shp", true);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_NE(lines[0].find("\"log_fields\": {\"rate\": 1, \"boom\": 3, \"date\": 4, \"time\": 5, \"width\": 6}"),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[0].find("\"summary\": {\"date\": \"2026-04-15\", \"start\": \"07:59\", \"end\": \"09:15\", \"area\": 0.0222"),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[3].find("\"flags\": 10}"), std::string::npos) << lines[3];

  ASSERT_TRUE(layer->SetLogFields(Fields(0, 3, 0, 0, 0)));
  const std::string bare = LayerSummaryJson(*layer, "log.shp");
  EXPECT_NE(bare.find("\"log_fields\": {\"rate\": null, \"boom\": 3, \"date\": null, \"time\": null, \"width\": null}, "
                      "\"summary\": null"),
            std::string::npos)
      << bare;
}

// ---------------------------------------------------------------- the sample farm

// The sample farm's as-applied log, written by tools/make_sample_farm.py.
class SampleFarmLog : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string script = std::string(KESTRUNE_SOURCE_DIR) + "/tools/make_sample_farm.py";
    const std::string command = "/usr/bin/python3 '" + script + "' '" + dir_.path().string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "python3 with pyshp is needed to write the sample farm";
    path_ = (dir_ / "as-applied.shp").string();
  }
  TempDir dir_;
  std::string path_;
};

TEST_F(SampleFarmLog, ShowMeChoicesShowWhatTheirNamesSay) {
  Units units(true);
  LayerList list;
  Layer* layer = list.AddLayer(path_, true);
  ASSERT_NE(layer, nullptr);
  ASSERT_EQ(layer->GetRecordCount(), 2772u);
  // BOOM, RATE, TARGET, SPEED_KMH, TIME, DATE, WIDTH.
  EXPECT_EQ(layer->GetLogFields().column, Fields(2, 1, 6, 5, 7).column);
  EXPECT_EQ(ShowMeStatusNote(list), "") << "nothing is hidden before a filter is chosen";
  // 158 records on the headlands and the clipped corner have the boom off and no rate.
  const struct {
    ShowMeChoices choices;
    std::size_t shown;
  } cases[] = {
      {{0, 0, false}, 2772 - 158}, {{1, 2, false}, 158}, {{1, 0, false}, 0},   {{2, 1, false}, 158},
      {{0, 1, false}, 0},          {{2, 2, true}, 2772}, {{0, 2, true}, 2772 - 158},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.choices.boom << "/" << c.choices.rate);
    layer->SetFilterMask(ShowMeMaskFromChoices(c.choices));
    layer->ApplyFilter();
    EXPECT_EQ(layer->GetRecordCount() - layer->CountFilteredOut(), c.shown);
  }
  layer->SetFilterMask(kDefaultFilterMask);
  layer->ApplyFilter();
  // The note speaks of the active file only.
  EXPECT_EQ(ShowMeStatusNote(list), "") << "no file is active";
  list.SetActiveLayer(layer);
  EXPECT_EQ(ShowMeStatusNote(list), "Show Me: 158 of 2,772 records hidden");
  Layer* other = list.AddLayer(path_, true);
  ASSERT_NE(other, nullptr);
  list.SetActiveLayer(other);
  EXPECT_EQ(ShowMeStatusNote(list), "") << "the other file hides nothing";
  list.SetActiveLayer(layer);

  // 33 passes of 24 m logged every 6 m: about 2,614 applied points of 144 m2, 37.6 ha.
  const FileSummary& s = layer->GetSummary();
  EXPECT_EQ(IsoDate(s.date), "2026-04-15");
  EXPECT_EQ(ClockText(s.startHour, s.startMinute), "08:00");
  EXPECT_EQ(ClockText(s.endHour, s.endMinute), "09:32");
  EXPECT_NEAR(s.fieldArea[0], 2614 * 24.0 * 6.0 / 10000.0, 0.5);
  // The rates lie between 95 and 165 per hectare.
  EXPECT_GT(s.fieldVolume[0], 95.0 * s.fieldArea[0]);
  EXPECT_LT(s.fieldVolume[0], 165.0 * s.fieldArea[0]);
}

TEST(ShowMeNote, CountsAreGroupedByThousands) {
  EXPECT_EQ(GroupedCount(0), "0");
  EXPECT_EQ(GroupedCount(999), "999");
  EXPECT_EQ(GroupedCount(2081), "2,081");
  EXPECT_EQ(GroupedCount(1234567), "1,234,567");
}

}  // namespace
}  // namespace kestrune
