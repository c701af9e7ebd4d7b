// The ISOXML task data reader against the real task set (checked against this
// file's own reading of the time log bytes), and against small task sets
// written here for what the real one lacks: holes, guidance, grids, records
// without a position, values not logged in every record, broken logs.
#include <cpl_conv.h>
#include <cpl_vsi.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/Preferences.h"
#include "import/Ddi.h"
#include "import/TaskData.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace kestrune {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

// ---- An independent reading of the real set's time logs: each record is the
// start (u32 ms, u16 days since 1980), north and east (i32, 1e-7 degrees), the
// status (u8), then a count and that many (u8 index, i32 value) pairs.
struct RawRecord {
  uint32_t ms;
  uint16_t days;
  int32_t north, east;
  std::map<int, int32_t> values;
};

template <typename T>
T Le(const std::string& b, std::size_t at) {
  T v;
  std::memcpy(&v, b.data() + at, sizeof v);
  return v;
}

std::vector<RawRecord> ReadRaw(const std::string& b) {
  std::vector<RawRecord> out;
  std::size_t p = 0;
  while (p + 16 <= b.size()) {
    RawRecord r;
    r.ms = Le<uint32_t>(b, p);
    r.days = Le<uint16_t>(b, p + 4);
    r.north = Le<int32_t>(b, p + 6);
    r.east = Le<int32_t>(b, p + 10);
    const int count = static_cast<unsigned char>(b[p + 15]);
    p += 16;
    for (int i = 0; i < count; ++i, p += 5) r.values[static_cast<unsigned char>(b[p])] = Le<int32_t>(b, p + 1);
    out.push_back(r);
  }
  EXPECT_EQ(p, b.size());
  return out;
}

fs::path TimeLogSet(const fs::path& data) { return data / "isoxml" / "timelogs"; }

// A writable copy of the real set.
fs::path CopyTaskSet(const fs::path& from, const fs::path& to) {
  fs::create_directories(to);
  for (const auto& e : fs::directory_iterator(from)) {
    fs::copy_file(e.path(), to / e.path().filename());
    fs::permissions(to / e.path().filename(), fs::perms::owner_write, fs::perm_options::add);
  }
  return to;
}

const FeatureSet* FindSet(const ImportContent& c, const std::string& name) {
  for (const FeatureSet& s : c.sets) {
    if (s.name == name) return &s;
  }
  return nullptr;
}

std::string Setting(const FeatureSet& s, const std::string& key) {
  for (const auto& [k, v] : s.settings) {
    if (k == key) return v;
  }
  return "(absent)";
}

std::string ExpectedDate(uint16_t days) {
  // 1980-01-01 plus days, by the calendar.
  int y = 1980, m = 1, d = 1;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int left = days; left > 0; --left) {
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (++d > kDays[m - 1] + (m == 2 && leap ? 1 : 0)) {
      d = 1;
      if (++m > 12) m = 1, ++y;
    }
  }
  char t[40];
  std::snprintf(t, sizeof t, "%04d%02d%02d", y, m, d);
  return t;
}

// ---------------------------------------------------------------- real set

// The records of every time log, and the tasks holding two.
const std::map<std::string, std::size_t> kTimeLogRecords = {
    {"TLG00001", 4716}, {"TLG00002", 4135}, {"TLG00003", 1599}, {"TLG00004", 2496},
    {"TLG00005", 1785}, {"TLG00006", 187},  {"TLG00007", 3883}, {"TLG00008", 4952},
    {"TLG00009", 4497}, {"TLG00015", 3433}, {"TLG00016", 2956}, {"TLG00017", 6359},
    {"TLG00018", 1877}, {"TLG00019", 2484}, {"TLG00020", 1053}, {"TLG00021", 2416},
    {"TLG00022", 5092}, {"TLG00023", 1525}, {"TLG00024", 2797}, {"TLG00025", 2088},
    {"TLG00026", 984}};

TEST(TaskDataReal, NineteenLogsOneAreaSetOfTwentyOnePartfields) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  TempDir tmp;
  const fs::path dir = CopyTaskSet(TimeLogSet(data), tmp / "TASKDATA");
  ASSERT_TRUE(IsTaskData(dir.string()));
  ImportContent content;
  std::string why;
  std::vector<int> percents;
  ASSERT_TRUE(ReadTaskData(dir.string(), content, why, [&](int p) {
    percents.push_back(p);
    return true;
  })) << why;
  EXPECT_TRUE(content.skipped.empty());
  ASSERT_EQ(content.sets.size(), 20u);
  const FeatureSet* fields = FindSet(content, "partfields");
  ASSERT_NE(fields, nullptr);
  EXPECT_EQ(fields->kind, FeatureKind::Areas);
  ASSERT_EQ(fields->features.size(), 21u);
  const Feature& pfd2 = fields->features[0];
  EXPECT_EQ(pfd2.values[0].text, "5uvmpgDU");
  EXPECT_EQ(pfd2.values[1].number, 46316);
  EXPECT_EQ(pfd2.values[2].text, "hWTWDXQdCTr");
  EXPECT_EQ(pfd2.values[3].text, "E0L SxxpcMJ");
  ASSERT_EQ(pfd2.parts.size(), 1u);
  EXPECT_EQ(pfd2.parts[0].points.size(), 16u);  // 15 points, closed
  EXPECT_DOUBLE_EQ(pfd2.parts[0].points[0].y, 54.580684068);
  EXPECT_DOUBLE_EQ(pfd2.parts[0].points[0].x, 10.209195754);

  // Every log's records, checked against the byte count of its records.
  std::size_t points = 0;
  for (const FeatureSet& s : content.sets) {
    if (s.kind != FeatureKind::Points) continue;
    ++points;
    std::size_t expected = 0;
    for (const auto& [tlg, n] : kTimeLogRecords) {
      if (s.source.find(tlg + ".bin") != std::string::npos) {
        expected += n;
        EXPECT_EQ(ReadRaw(ReadFileBytes(dir / (tlg + ".bin"))).size(), n) << tlg;
      }
    }
    EXPECT_EQ(s.features.size(), expected) << s.name << " " << s.source;
    for (std::size_t i = 1; i < s.features.size(); ++i) {
      const auto& a = s.features[i - 1].values;
      const auto& b = s.features[i].values;
      ASSERT_LE(a[0].text + a[1].text, b[0].text + b[1].text) << s.name << " record " << i;
    }
  }
  EXPECT_EQ(points, 19u);
  const FeatureSet* two = FindSet(content, "TSK6_jk");
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(two->features.size(), 187u + 3883u);
  ASSERT_FALSE(percents.empty());
  EXPECT_EQ(percents.front(), 0);
  EXPECT_EQ(percents.back(), 100);
}

TEST(TaskDataReal, FirstLogMatchesItsBytes) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  TempDir tmp;
  const fs::path dir = CopyTaskSet(TimeLogSet(data), tmp / "TASKDATA");
  ImportContent content;
  std::string why;
  ASSERT_TRUE(ReadTaskData((dir / "TASKDATA.XML").string(), content, why)) << why;
  const FeatureSet* log = FindSet(content, "TSK1_SAV");
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(log->source, "TASKDATA.XML TSK1 TLG00001.bin");
  const std::vector<RawRecord> raw = ReadRaw(ReadFileBytes(dir / "TLG00001.bin"));
  ASSERT_EQ(log->features.size(), 4716u);
  ASSERT_EQ(raw.size(), 4716u);

  const std::vector<std::string> names = {"DATE", "TIME", "Aktuelle A", "Ertrag pro", "Ertrag p_2",
                                          "Gesamtertr", "Feuchtegeh", "Gesamtflae"};
  ASSERT_GE(log->fields.size(), names.size() + 5);
  for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(log->fields[i].name, names[i]);
  EXPECT_EQ(log->fields.size(), 2u + 26u);
  EXPECT_EQ(log->fields[0].type, FeatureFieldType::Date);
  EXPECT_EQ(log->fields[12].name, "Arbeitssta");
  EXPECT_EQ(Setting(*log, "DATE_COL"), "1");
  EXPECT_EQ(Setting(*log, "TIME_COL"), "2");
  EXPECT_EQ(Setting(*log, "WIDTH_COL"), "3");
  EXPECT_EQ(Setting(*log, "BOOM_COL"), "13");
  EXPECT_EQ(Setting(*log, "RATE_COL"), "0");

  const Feature& first = log->features[0];
  EXPECT_NEAR(first.parts[0].points[0].y, 54.5822941, 1e-9);
  EXPECT_NEAR(first.parts[0].points[0].x, 10.2119904, 1e-9);
  EXPECT_EQ(first.values[0].text, "20200102");
  EXPECT_EQ(first.values[1].text, "17:30:20");

  // Header values 0 (width, 0.001 m), 1 (yield per area, 1e-5 t/ha) and 10
  // (work state), each carried forward from the last record that logged it.
  struct Checked {
    int index, field;
    double scale;
  };
  const Checked checked[] = {{0, 2, 0.001}, {1, 3, 1e-5}, {2, 4, 3.6e-6}, {10, 12, 1}};
  std::map<int, int32_t> last;
  for (std::size_t r = 0; r < raw.size(); ++r) {
    const RawRecord& want = raw[r];
    const Feature& got = log->features[r];
    for (const auto& [k, v] : want.values) last[k] = v;
    ASSERT_NEAR(got.parts[0].points[0].y, want.north * 1e-7, 1e-12) << r;
    ASSERT_NEAR(got.parts[0].points[0].x, want.east * 1e-7, 1e-12) << r;
    char time[16];
    const unsigned s = want.ms / 1000;
    std::snprintf(time, sizeof time, "%02u:%02u:%02u", s / 3600, s / 60 % 60, s % 60);
    ASSERT_EQ(got.values[1].text, time) << r;
    ASSERT_EQ(got.values[0].text, ExpectedDate(want.days)) << r;
    for (const Checked& c : checked) {
      const FeatureValue& v = got.values[c.field];
      if (!last.count(c.index)) {
        ASSERT_EQ(v.kind, FeatureValue::Blank) << r;
        continue;
      }
      ASSERT_EQ(v.kind, FeatureValue::Number) << r;
      ASSERT_NEAR(v.number, last[c.index] * c.scale, 0.5 * std::pow(10, -log->fields[c.field].decimals) + 1e-9)
          << "record " << r << " field " << c.field;
    }
  }
}

// Writes the zip of a folder's files under PREFIX/ with GDAL's zip writer.
void ZipFolder(const fs::path& dir, const fs::path& zip, const std::string& prefix) {
  void* z = CPLCreateZip(zip.string().c_str(), nullptr);
  ASSERT_NE(z, nullptr);
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string bytes = ReadFileBytes(e.path());
    const std::string name = prefix + "/" + e.path().filename().string();
    ASSERT_EQ(CPLCreateFileInZip(z, name.c_str(), nullptr), CE_None);
    ASSERT_EQ(CPLWriteFileInZip(z, bytes.data(), static_cast<int>(bytes.size())), CE_None);
    CPLCloseFileInZip(z);
  }
  CPLCloseZip(z);
}

TEST(TaskDataReal, AZipGivesWhatTheFolderGives) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  TempDir tmp;
  ZipFolder(TimeLogSet(data), tmp / "set.zip", "TASKDATA");
  const std::string inZip = "/vsizip/" + (tmp / "set.zip").string() + "/TASKDATA";
  ASSERT_TRUE(IsTaskData(inZip));
  EXPECT_TRUE(IsTaskData("/vsizip/" + (tmp / "set.zip").string()));  // the set's folder inside
  ImportContent zipped, plain;
  std::string why;
  ASSERT_TRUE(ReadTaskData(inZip, zipped, why)) << why;
  ASSERT_TRUE(ReadTaskData(TimeLogSet(data).string(), plain, why)) << why;
  ASSERT_EQ(zipped.sets.size(), plain.sets.size());
  for (std::size_t i = 0; i < plain.sets.size(); ++i) {
    const FeatureSet& a = zipped.sets[i];
    const FeatureSet& b = plain.sets[i];
    EXPECT_EQ(a.name, b.name);
    ASSERT_EQ(a.features.size(), b.features.size()) << a.name;
    const Feature& fa = a.features.back();
    const Feature& fb = b.features.back();
    EXPECT_EQ(fa.parts[0].points[0].x, fb.parts[0].points[0].x);
    EXPECT_EQ(fa.values[0].text, fb.values[0].text);
  }
}

// Broken copies of TLG00001: cut inside record 101, and record 101 naming a
// value past the 26 of the header. The 100 records before stay.
TEST(TaskDataReal, ABrokenLogKeepsTheRecordsBeforeTheBreak) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  const std::string bytes = ReadFileBytes(TimeLogSet(data) / "TLG00001.bin");
  std::size_t at = 0;  // offset of record 101
  for (int r = 0; r < 100; ++r) at += 16 + 5 * static_cast<unsigned char>(bytes[at + 15]);
  struct Case {
    const char* name;
    std::string bytes;
    const char* says;
  };
  std::string badIndex = bytes;
  badIndex[at + 16] = static_cast<char>(26);
  const Case cases[] = {{"cut short", bytes.substr(0, at + 9), "cut short in record 101 at byte "},
                        {"index past header", badIndex, "names value 26, but the header lists 26"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    const fs::path dir = CopyTaskSet(TimeLogSet(data), tmp / "TASKDATA");
    WriteFileBytes(dir / "TLG00001.bin", c.bytes);
    ImportContent content;
    std::string why;
    ASSERT_TRUE(ReadTaskData(dir.string(), content, why)) << why;
    const FeatureSet* log = FindSet(content, "TSK1_SAV");
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->features.size(), 100u);
    ASSERT_EQ(content.skipped.size(), 1u);
    EXPECT_EQ(content.skipped[0].what, "TASKDATA.XML TSK1 TLG00001.bin");
    EXPECT_NE(content.skipped[0].why.find(c.says), std::string::npos) << content.skipped[0].why;
    EXPECT_NE(content.skipped[0].why.find("byte " + std::to_string(at)), std::string::npos);
    EXPECT_EQ(FindSet(content, "TSK2_A02")->features.size(), 4135u);
  }
}

// ---------------------------------------------------------------- small sets

// Little-endian bytes of a record: time, north, east (1e-7 degrees), values.
std::string Record(uint32_t ms, uint16_t days, int32_t north, int32_t east,
                   const std::vector<std::pair<int, int32_t>>& values) {
  std::string b;
  const auto put = [&](const void* p, std::size_t n) { b.append(static_cast<const char*>(p), n); };
  put(&ms, 4);
  put(&days, 2);
  put(&north, 4);
  put(&east, 4);
  b += static_cast<char>(values.size());
  for (const auto& [i, v] : values) {
    b += static_cast<char>(i);
    put(&v, 4);
  }
  return b;
}

const char* const kSmallTaskData = R"(<?xml version="1.0" encoding="UTF-8"?>
<ISO11783_TaskData VersionMajor="4" VersionMinor="2">
  <CTR A="CTR1" B="Müller"/>
  <FRM A="FRM1" B="North Farm" I="CTR1"/>
  <PFD A="PFD1" C="Two parcels" D="12000" E="CTR1" F="FRM1">
    <PLN A="1">
      <LSG A="1"><PNT A="2" C="1" D="1"/><PNT A="2" C="1" D="2"/><PNT A="2" C="2" D="2"/><PNT A="2" C="2" D="1"/></LSG>
      <LSG A="2"><PNT A="2" C="1.2" D="1.2"/><PNT A="2" C="1.4" D="1.2"/><PNT A="2" C="1.4" D="1.4"/></LSG>
    </PLN>
    <PLN A="1">
      <LSG A="1"><PNT A="2" C="5" D="5"/><PNT A="2" C="5" D="6"/><PNT A="2" C="6" D="6"/><PNT A="2" C="5" D="5"/></LSG>
    </PLN>
    <PLN A="6"><LSG A="1"><PNT A="2" C="9" D="9"/><PNT A="2" C="9" D="8"/><PNT A="2" C="8" D="8"/></LSG></PLN>
    <GGP A="GGP1" B="Lines">
      <GPN A="GPN1" B="AB east" C="1">
        <LSG A="5"><PNT A="6" C="1.5" D="1.1"/><PNT A="7" C="1.5" D="1.9"/></LSG>
      </GPN>
    </GGP>
  </PFD>
  <PFD A="PFD2" C="No boundary"/>
  <VPN A="VPN1" B="0" C="0.001" D="1" E="kg/ha"/>
  <DVC A="DVC1" B="Sprayer">
    <DET A="DET-1" B="1" C="1"><DOR A="5"/></DET>
    <DPD A="5" B="0043" E="Arbeitsbreite" F="9"/>
    <DVP A="9" B="0" C="1" D="0" E="mm"/>
  </DVC>
  <TSK A="TSK1" B="Spray" E="PFD1">
    <TZN A="1" B="low"><PDV A="0001" B="1000000"/></TZN>
    <TZN A="2" B="high"><PDV A="0001" B="2500000"/></TZN>
    <GRD A="10" B="20" C="0.01" D="0.02" E="2" F="2" G="GRD00001" I="1"/>
    <TLG A="tlg00001"/>
  </TSK>
  <TSK A="TSK2" B="Seed">
    <TZN A="3"><PDV A="0006" B="0" E="VPN1"/><PDV A="0007" B="0"/></TZN>
    <GRD A="10" B="20" C="0.01" D="0.02" E="3" F="1" G="GRD00002" I="2" J="3"/>
  </TSK>
</ISO11783_TaskData>
)";

// A header logging the time, north and east, and DDIs 2 (rate), 1 (target),
// 141 (work state), 67 (width), 397 (speed) and 57005 (unknown).
const char* const kSmallHeader = R"(<TIM A="" D="4"><PTN A="" B=""/>
<DLV A="0002" C="DET-1"/><DLV A="0001" C="DET-1"/><DLV A="008D" C="DET-1"/>
<DLV A="0043" C="DET-1"/><DLV A="018D" C="DET-1"/><DLV A="DEAD" C="DET-1"/></TIM>)";

void WriteSmallSet(const fs::path& dir) {
  fs::create_directories(dir);
  WriteFileBytes(dir / "taskdata.xml", kSmallTaskData);
  WriteFileBytes(dir / "TLG00001.XML", kSmallHeader);
  std::string bin;
  // 2020-01-02 (14611) 10:00:00, then a record before it in time, one without
  // a position, and one logging only the speed.
  bin += Record(36000000, 14611, 15000000, 15000000, {{0, 2500000}, {1, 3000000}, {2, 1}, {3, 24000}, {4, 2500}});
  bin += Record(35999000, 14611, 15000001, 15000001, {{5, -7}});
  bin += Record(36001000, 14611, 0, 0, {{0, 4000000}});
  bin += Record(36002500, 14611, 15000002, 15000002, {{4, 5000}});
  WriteFileBytes(dir / "tlg00001.BIN", bin);
  WriteFileBytes(dir / "GRD00001.BIN", std::string("\x01\x02\x02\x09", 4));
  std::string grid2;
  for (int32_t v : {100000, 5000, 200000, 6000, 300000}) grid2.append(reinterpret_cast<const char*>(&v), 4);
  WriteFileBytes(dir / "GRD00002.bin", grid2);  // cut short: 2.5 of 3 cells
}

class SmallTaskData : public ::testing::Test {
 protected:
  void SetUp() override { metric_ = GetPreferences().IsMetric(); }
  void TearDown() override { GetPreferences().SetMetric(metric_); }
  bool metric_ = true;
};

TEST_F(SmallTaskData, PartfieldsGuidanceGridsAndALog) {
  TempDir tmp;
  WriteSmallSet(tmp / "TASKDATA");
  GetPreferences().SetMetric(true);
  ImportContent content;
  std::string why;
  ASSERT_TRUE(ReadTaskData((tmp / "TASKDATA").string(), content, why)) << why;

  const FeatureSet* fields = FindSet(content, "partfields");
  ASSERT_NE(fields, nullptr);
  ASSERT_EQ(fields->features.size(), 1u);
  const Feature& pfd = fields->features[0];
  ASSERT_EQ(pfd.parts.size(), 3u);  // outer, hole, second outer; the obstacle is left out
  EXPECT_FALSE(pfd.parts[0].hole);
  EXPECT_TRUE(pfd.parts[1].hole);
  EXPECT_FALSE(pfd.parts[2].hole);
  EXPECT_EQ(pfd.parts[0].points.size(), 5u);
  EXPECT_EQ(pfd.parts[2].points.size(), 4u);  // closed already
  EXPECT_EQ(pfd.values[2].text, "North Farm");
  EXPECT_EQ(pfd.values[3].text, "Müller");

  const FeatureSet* lines = FindSet(content, "guidance");
  ASSERT_NE(lines, nullptr);
  EXPECT_EQ(lines->kind, FeatureKind::Lines);
  ASSERT_EQ(lines->features.size(), 1u);
  const Feature& ab = lines->features[0];
  EXPECT_EQ(ab.values[0].text, "AB east");
  EXPECT_EQ(ab.values[1].text, "Lines");
  EXPECT_EQ(ab.values[2].text, "Two parcels");
  EXPECT_EQ(ab.values[3].text, "AB");
  ASSERT_EQ(ab.parts[0].points.size(), 2u);
  EXPECT_DOUBLE_EQ(ab.parts[0].points[1].x, 1.9);

  // Grid 1: 2 × 2 cells of zones 1, 2, 2 and 9 (no such zone), rates 100 and 250 L/ha.
  const FeatureSet* grid1 = FindSet(content, "TSK1_Spray_grid");
  ASSERT_NE(grid1, nullptr);
  ASSERT_EQ(grid1->features.size(), 4u);
  EXPECT_EQ(grid1->fields[1].name, "Setpoint V");
  EXPECT_EQ(Setting(*grid1, "RATE_COL"), "2");
  const double rates[] = {100, 250, 250, -1};
  for (int c = 0; c < 4; ++c) {
    const FeatureValue& v = grid1->features[c].values[1];
    if (rates[c] < 0) EXPECT_EQ(v.kind, FeatureValue::Blank);
    else EXPECT_DOUBLE_EQ(v.number, rates[c]) << c;
  }
  // Cell 3 (row 1, column 1) spans 10.01..10.02 N, 20.02..20.04 E.
  const auto& cell = grid1->features[3].parts[0].points;
  EXPECT_DOUBLE_EQ(cell[0].y, 10.01);
  EXPECT_DOUBLE_EQ(cell[0].x, 20.02);
  EXPECT_DOUBLE_EQ(cell[2].y, 10.02);
  EXPECT_DOUBLE_EQ(cell[2].x, 20.04);

  // Grid 2: values per cell, by the zone's presentation (0.001 kg/ha) or the
  // DDI's (mg/m² as kg/ha); the short file gives two of three cells.
  const FeatureSet* grid2 = FindSet(content, "TSK2_Seed_grid");
  ASSERT_NE(grid2, nullptr);
  ASSERT_EQ(grid2->features.size(), 2u);
  EXPECT_DOUBLE_EQ(grid2->features[0].values[0].number, 100);
  EXPECT_DOUBLE_EQ(grid2->features[0].values[1].number, 50);
  EXPECT_DOUBLE_EQ(grid2->features[1].values[0].number, 200);
  EXPECT_DOUBLE_EQ(grid2->features[1].values[1].number, 60);

  const FeatureSet* log = FindSet(content, "TSK1_Spray");
  ASSERT_NE(log, nullptr);
  EXPECT_EQ(log->fields[2].name, "Actual Vol");
  EXPECT_EQ(log->fields[3].name, "Setpoint V");
  EXPECT_EQ(log->fields[4].name, "Actual Wor");
  EXPECT_EQ(log->fields[5].name, "Arbeitsbre");  // the device's name; its mm shown as m
  EXPECT_EQ(log->fields[6].name, "Actual Spe");
  EXPECT_EQ(log->fields[7].name, "DDI_57005");
  EXPECT_EQ(Setting(*log, "RATE_COL"), "3");
  EXPECT_EQ(Setting(*log, "BOOM_COL"), "5");
  EXPECT_EQ(Setting(*log, "WIDTH_COL"), "6");
  ASSERT_EQ(log->features.size(), 3u);  // one without a position
  // In time order: the record of 09:59:59 logged only DDI 57005; the later
  // records carry the earlier values of the file.
  struct Row {
    const char* time;
    double rate, target, state, width, speed, unknown;  // NaN: blank
  };
  const double n = std::nan("");
  const Row rows[] = {{"09:59:59", 250, 300, 1, 24, 9, -7},
                      {"10:00:00", 250, 300, 1, 24, 9, n},
                      {"10:00:02", 400, 300, 1, 24, 18, -7}};
  for (int r = 0; r < 3; ++r) {
    SCOPED_TRACE(r);
    const Feature& f = log->features[r];
    EXPECT_EQ(f.values[0].text, "20200102");
    EXPECT_EQ(f.values[1].text, rows[r].time);
    const double want[] = {rows[r].rate, rows[r].target, rows[r].state, rows[r].width, rows[r].speed,
                           rows[r].unknown};
    for (int k = 0; k < 6; ++k) {
      if (std::isnan(want[k])) EXPECT_EQ(f.values[2 + k].kind, FeatureValue::Blank) << k;
      else EXPECT_NEAR(f.values[2 + k].number, want[k], 1e-9) << k;
    }
  }
  ASSERT_EQ(content.skipped.size(), 3u);
  EXPECT_NE(content.skipped[0].what.find("PFD2"), std::string::npos);
  EXPECT_EQ(content.skipped[1].what, "TASKDATA.XML TSK1 tlg00001.bin");
  EXPECT_EQ(content.skipped[1].why, "records without a position: 1");
  EXPECT_EQ(content.skipped[2].why, "GRD00002.bin is cut short: 2 of 3 cells are imported");
}

TEST_F(SmallTaskData, USUnitsConvertRatesWidthAndSpeed) {
  TempDir tmp;
  WriteSmallSet(tmp / "TASKDATA");
  GetPreferences().SetMetric(false);
  ImportContent content;
  std::string why;
  ASSERT_TRUE(ReadTaskData((tmp / "TASKDATA" / "taskdata.xml").string(), content, why)) << why;
  const FeatureSet* log = FindSet(content, "TSK1_Spray");
  ASSERT_NE(log, nullptr);
  const Feature& f = log->features[2];
  EXPECT_NEAR(f.values[2].number, 400 * 0.10691, 0.01);       // gal/ac
  EXPECT_NEAR(f.values[5].number, 24 / 0.3048, 0.01);         // ft
  EXPECT_NEAR(f.values[6].number, 18 / 1.609344, 0.1);        // mph
  const FeatureSet* grid2 = FindSet(content, "TSK2_Seed_grid");
  EXPECT_NEAR(grid2->features[0].values[0].number, 100 * 0.892179, 0.1);  // lb/ac
}

TEST(TaskDataInput, WhatIsTaskDataAndWhatFails) {
  TempDir tmp;
  WriteSmallSet(tmp / "set");
  fs::create_directories(tmp / "empty");
  fs::create_directories(tmp / "bad");
  WriteFileBytes(tmp / "bad" / "TASKDATA.XML", "<ISO11783_TaskData><PFD A=\"x\"></ISO11783_TaskData>");
  fs::create_directories(tmp / "none");
  WriteFileBytes(tmp / "none" / "TASKDATA.XML", "<ISO11783_TaskData><CTR A=\"C\" B=\"x\"/></ISO11783_TaskData>");
  struct Case {
    fs::path path;
    bool isTaskData;
    bool reads;
    const char* why;
  };
  WriteSmallSet(tmp / "outer" / "TaskData");
  const Case cases[] = {
      {tmp / "set", true, true, ""},
      {tmp / "outer", true, true, ""},
      {tmp / "set" / "taskdata.xml", true, true, ""},
      {tmp / "set" / "tlg00001.BIN", false, false, "is no valid task data"},
      {tmp / "empty", false, false, "holds no TASKDATA.XML"},
      {tmp / "missing", false, false, "cannot be read"},
      {tmp / "bad", true, false, "TASKDATA.XML is no valid task data (line 1: "},
      {tmp / "none", true, false, "holds no partfields, guidance lines, grids or time logs"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.string());
    EXPECT_EQ(IsTaskData(c.path.string()), c.isTaskData);
    ImportContent content;
    std::string why;
    EXPECT_EQ(ReadTaskData(c.path.string(), content, why), c.reads);
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
  }
}

TEST(TaskDataNames, FieldNamesAreCutToTenBytesAndKeptUnique) {
  std::set<std::string> taken = {"DATE", "TIME"};
  const std::pair<const char*, const char*> cases[] = {
      {"Ertrag pro Flaeche", "Ertrag pro"}, {"Ertrag pro Zeit", "Ertrag p_2"},
      {"ertrag PRO", "ertrag P_3"},         {"Größe der Fläche", "Größe de"},
      {"Aktueller Kraftstoff", "Aktueller"}, {"  ", "FIELD"},
      {"date", "date_2"},                   {"ÄÄÄÄÄÄ", "ÄÄÄÄÄ"},
      {"ÄÄÄÄÄÄÄ", "ÄÄÄÄ_2"}};
  for (const auto& [name, want] : cases) EXPECT_EQ(UniqueFieldName(name, taken), want) << name;
}

TEST(TaskDataNames, DdiDefaultsAndUnits) {
  struct Case {
    int ddi;
    bool metric;
    int32_t raw;
    double shown;
    const char* unit;
  };
  const Case cases[] = {{2, true, 1000000, 100, "L/ha"},      {2, false, 1000000, 10.6907, "gal/ac"},
                        {7, true, 25000, 250, "kg/ha"},       {7, false, 25000, 223.0448, "lb/ac"},
                        {12, true, 8000, 80000, "/ha"},       {12, false, 8000, 32374.8514, "/ac"},
                        {67, true, 12000, 12, "m"},           {67, false, 12000, 39.3701, "ft"},
                        {84, true, 4000000, 40, "t/ha"},      {99, true, 180000, 18, "%"},
                        {148, false, 3785412, 1000, "gal"},   {397, true, 2500, 9, "km/h"},
                        {397, false, 2500, 5.5923, "mph"},    {177, true, 5000, 5, "mm"},
                        {141, true, 1, 1, ""},                {40000, true, 7, 7, ""}};
  for (const Case& c : cases) {
    const DdiShown s = DdiDefault(c.ddi, c.metric);
    EXPECT_NEAR(c.raw * s.factor, c.shown, 1e-3) << c.ddi;
    EXPECT_EQ(s.unit, c.unit) << c.ddi;
  }
  EXPECT_EQ(DdiDefault(40000, true).name, "DDI_40000");
  EXPECT_EQ(DdiDefault(1, true).name, "Setpoint Volume Per Area Application Rate");
  EXPECT_EQ(PresentedUnitForUser("t/ha", 2, false, 84).unit, "t/ha");
  EXPECT_NEAR(PresentedUnitForUser(" km/h", 1, false, 397).factor, 0.621371, 1e-6);
  EXPECT_EQ(PresentedUnitForUser("km/h", 1, true, 397).factor, 1);
}

TEST(TaskDataInput, CancelLeavesNoSets) {
  TempDir tmp;
  WriteSmallSet(tmp / "set");
  ImportContent content;
  std::string why;
  EXPECT_FALSE(ReadTaskData((tmp / "set").string(), content, why, [](int p) { return p < 50; }));
  EXPECT_TRUE(content.sets.empty());
  EXPECT_EQ(why, "The import was cancelled.");

  // A long log reports its progress while it is read, and stops there.
  std::string big;
  for (int r = 0; r < 140000; ++r) big += Record(1000u * r, 14611, 15000000 + r, 15000000, {{0, r}});
  WriteFileBytes(tmp / "set" / "tlg00001.BIN", big);
  std::vector<int> percents;
  ImportContent whole;
  ASSERT_TRUE(ReadTaskData((tmp / "set").string(), whole, why, [&](int p) {
    percents.push_back(p);
    return true;
  }));
  EXPECT_EQ(FindSet(whole, "TSK1_Spray")->features.size(), 140000u);
  EXPECT_EQ(percents, (std::vector<int>{0, 46, 93, 100, 100}));
  ImportContent stopped;
  EXPECT_FALSE(ReadTaskData((tmp / "set").string(), stopped, why, [](int p) { return p < 40; }));
  EXPECT_TRUE(stopped.sets.empty());
}

}  // namespace
}  // namespace kestrune
