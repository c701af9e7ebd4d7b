// `kestrune-cli info`: its JSON texts, its exit statuses and messages, and
// what the real files give.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <sstream>
#include <utility>

#include "base/JsonText.h"
#include "layers/LayerInfo.h"
#include "layers/LayerList.h"
#include "layers/LayerTestFiles.h"

namespace kestrune {
namespace {

using test::TempDir;

std::string Double(double v) {
  std::string s;
  AppendJsonDouble(s, v);
  return s;
}

std::string Quoted(const std::string& text) {
  std::string s;
  AppendJsonString(s, text);
  return s;
}

TEST(JsonText, DoublesInTheirShortestRoundTripForm) {
  EXPECT_EQ(Double(30.0), "30.0");
  EXPECT_EQ(Double(0.1), "0.1");
  EXPECT_EQ(Double(29.700000000000003), "29.700000000000003");
  EXPECT_EQ(Double(-0.0), "-0.0");
  EXPECT_EQ(Double(999999.0), "999999.0");
  EXPECT_EQ(Double(1e16), "1e+16");
  EXPECT_EQ(Double(327031.68578758027), "327031.68578758027");
  EXPECT_EQ(Double(std::numeric_limits<double>::quiet_NaN()), "null");
  EXPECT_EQ(Double(-std::numeric_limits<double>::infinity()), "null");
  EXPECT_EQ(Double(std::numeric_limits<double>::infinity()), "null");
  // Every text reads back to the same value.
  for (double v : {1.0 / 3.0, 1e-300, 123456789.123456789, 5e-324, 1.7976931348623157e308}) {
    EXPECT_EQ(std::strtod(Double(v).c_str(), nullptr), v);
  }
}

TEST(JsonText, StringsAreEscapedAndStayValidUtf8) {
  EXPECT_EQ(Quoted("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(Quoted("tab\there\n"), "\"tab\\there\\n\"");
  EXPECT_EQ(Quoted(std::string("\x01", 1)), "\"\\u0001\"");
  EXPECT_EQ(Quoted("Fl\xC3\xA4" "che"), "\"Fl\xC3\xA4" "che\"");  // UTF-8 kept
  EXPECT_EQ(Quoted("Fl\xE4" "che"), "\"Fl\\u00e4che\"");            // Latin-1 byte escaped
  EXPECT_EQ(Quoted("\xC3"), "\"\\u00c3\"");                         // a cut sequence
  EXPECT_EQ(Quoted("\xED\xA0\x80"), "\"\\u00ed\\u00a0\\u0080\"");   // a surrogate is no UTF-8
}

struct CliRun {
  int status = 0;
  std::string out;
  std::string err;
};

CliRun RunInfo(std::vector<std::string> args) {
  std::ostringstream out, err;
  CliRun run;
  run.status = RunInfoCommand(args, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(InfoCommand, BadArgumentsGiveTheUsage) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"--records"}, {"a.shp", "b.shp"}, {"--bogus", "a.shp"}, {""}}) {
    const CliRun run = RunInfo(args);
    EXPECT_EQ(run.status, kCliUsage);
    EXPECT_TRUE(run.out.empty());
    EXPECT_EQ(run.err, "usage: kestrune-cli info [--records] FILE.shp\n");
  }
}

TEST(InfoCommand, AMissingOrRefusedFileGivesItsMessageAndNoOutput) {
  TempDir dir;
  CliRun run = RunInfo({(dir / "none.shp").string()});
  EXPECT_EQ(run.status, kCliFailed);
  EXPECT_TRUE(run.out.empty());
  EXPECT_EQ(run.err, "File or path does not exist.\n");

  // A Z type opens; a MultiPatch is refused naming the type it is.
  test::WriteFileBytes(dir / "z.shp", test::ShpBuilder(31).Bytes());
  run = RunInfo({"--records", (dir / "z.shp").string()});
  EXPECT_EQ(run.status, kCliFailed);
  EXPECT_TRUE(run.out.empty());
  EXPECT_EQ(run.err, "Unknown Shape file type.\nz.shp is of type 31 (MultiPatch), which the viewer does not read.\n");

  // Files to import, other files and folders say what they are: stderr is
  // never empty.
  test::WriteFileBytes(dir / "field.zip", "PK");
  test::WriteFileBytes(dir / "notes.txt", "text");
  std::filesystem::create_directories(dir / "folder");
  const std::pair<const char*, const char*> cases[] = {
      {"field.zip", "field.zip (zip archive) is not a shape file set. Import it with File > Import..."},
      {"notes.txt", "notes.txt is not a shape file set"},
      {"folder", "folder is not a shape file set"}};
  for (const auto& [name, text] : cases) {
    run = RunInfo({(dir / name).string()});
    EXPECT_EQ(run.status, kCliFailed) << name;
    EXPECT_TRUE(run.out.empty()) << name;
    EXPECT_NE(run.err.find(text), std::string::npos) << run.err;
  }
}

TEST(InfoCommand, SummaryAndRecordsOfAHandMadeFile) {
  TempDir dir;
  const std::string shp =
      test::WritePointSet(dir, "pts", {{-93.60, 42.03}, {-93.59, 42.04}}, {12.5, 30.0});
  test::WriteFileBytes(dir / "pts.gpe", "[Options]\r\nLEGEND_COL=1\r\nCOLOR_METHOD=1\r\nDISPLAY_SIZE=1500\r\n");
  const CliRun run = RunInfo({shp, "--records"});
  ASSERT_EQ(run.status, kCliOk) << run.err;
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 3u);
  const std::string& summary = lines[0];
  EXPECT_NE(summary.find("\"shape_kind\": 1, \"coord_system\": 1, \"records\": 2, \"bounds\": ["), std::string::npos);
  EXPECT_NE(summary.find("\"display_size_ft\": 15.0, \"draw_border\": true, \"color_method\": 1, "
                         "\"solid_color\": 12632256, \"legend_column\": 1, \"legend\": [["),
            std::string::npos);
  EXPECT_NE(summary.find("\"fields\": [{\"name\": \"Rate\", \"type\": 2, \"length\": 10, \"decimals\": 2}], \"skipped\": {}}"),
            std::string::npos);
  EXPECT_EQ(lines[1].rfind("{\"rec\": 1, \"class\": 4, \"color\": ", 0), 0u);
  EXPECT_NE(lines[1].find("\"value\": 12.5, \"bounds\": ["), std::string::npos);
  EXPECT_NE(lines[2].find("\"value\": 30.0, "), std::string::npos);
  // Without --records only the summary.
  EXPECT_EQ(Lines(RunInfo({shp}).out).size(), 1u);
}

TEST(InfoCommand, AreasListTheirRingsAndArea) {
  TempDir dir;
  const std::string shp = test::WriteAreaSet(dir, "zones", {test::Square(-93.6, 42.0, 0.01)}, {4.0});
  Layer layer;
  ASSERT_TRUE(test::OpenAndLoad(layer, shp));
  const std::string line = RecordJson(*layer.Records().front());
  EXPECT_EQ(line.rfind("{\"rec\": 1, \"class\": 8, ", 0), 0u);
  EXPECT_NE(line.find("\"rings\": [[["), std::string::npos);
  const size_t at = line.find("\"area\": ");
  ASSERT_NE(at, std::string::npos);
  // 0.02 degrees each way at 42 degrees north: about 1.65 km by 2.22 km of
  // ground, in square metres (the default units are metric).
  const double area = std::strtod(line.c_str() + at + 8, nullptr);
  EXPECT_NEAR(area, 1654.0 * 2222.0, 1654.0 * 2222.0 * 0.05);
}

TEST(InfoCommand, RealFilesLoadAsTheirSideFilesSay) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  TempDir dir;
  const auto shp = test::CopyFileSet(data / "field" / "as-applied-simple1.shp", dir.path());
  Layer layer;
  ASSERT_TRUE(test::OpenAndLoad(layer, shp.string()));
  EXPECT_EQ(layer.GetRecordCount(), 2081u);
  EXPECT_DOUBLE_EQ(layer.GetDisplaySize(false), 20.0);
  EXPECT_FALSE(layer.GetDrawBorder());
  EXPECT_EQ(layer.GetLegendColumn(), 1);
  // The ".lgd" beside it, not the automatic legend.
  ASSERT_EQ(layer.GetLegend().GetCount(), 5u);
  EXPECT_EQ(layer.GetLegend().GetEntries()[0].value, 1000.0);
  EXPECT_EQ(layer.GetLegend().GetEntries()[0].color, 255u);
  std::string notes;
  ASSERT_TRUE(LoadNotes(layer, notes));
  EXPECT_EQ(notes.rfind("Applied UAN 32%", 0), 0u);
  // Loading wrote nothing beside the file: its settings need no default.
  EXPECT_EQ(test::ReadFileBytes(dir / "as-applied-simple1.gpe"),
            test::ReadFileBytes(data / "field" / "as-applied-simple1.gpe"));
}

TEST(InfoCommand, AProjectedCopyLoadsOntoTheSamePointsAsItsSource) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  TempDir dir;
  Layer geographic, projected;
  ASSERT_TRUE(test::OpenAndLoad(geographic, test::CopyFileSet(data / "field" / "yield-simple1.shp", dir.path()).string()));
  ASSERT_TRUE(test::OpenAndLoad(projected, test::CopyFileSet(data / "projected" / "yield-utm28.shp", dir.path()).string()));
  EXPECT_EQ(projected.GetCoordSystemKind(), kCoordProjected);
  ASSERT_EQ(projected.GetRecordCount(), geographic.GetRecordCount());
  auto g = geographic.Records().begin();
  for (Shape* p : projected.Records()) {
    const MapPoint a = static_cast<PointShape*>(p)->GetPoint();
    const MapPoint b = static_cast<PointShape*>(*g)->GetPoint();
    ASSERT_LE(std::abs(a.x - b.x), 2) << "record " << p->GetRecordNumber();
    ASSERT_LE(std::abs(a.y - b.y), 2) << "record " << p->GetRecordNumber();
    ++g;
  }
}

TEST(InfoCommand, AProjectedFileWithoutAUsablePrjIsRefused) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  TempDir dir;
  const std::string shp = test::CopyFileSet(data / "projected" / "yield-utm28.shp", dir.path()).string();
  const std::string prj = (dir / "yield-utm28.prj").string();
  const std::string wkt = test::ReadFileBytes(prj);
  for (const char* side : {"", "not a coordinate system"}) {
    std::filesystem::remove(prj);
    if (*side) test::WriteFileBytes(prj, side);
    const CliRun run = RunInfo({shp});
    EXPECT_EQ(run.status, 1) << side;
    EXPECT_TRUE(run.out.empty()) << side;
    EXPECT_NE(run.err.find("coordinate system of this file is unknown"), std::string::npos) << run.err;
  }
  // A zone given by the caller places it; so does its ".prj".
  Layer zoned;
  zoned.SetPathName(shp);
  zoned.SetZone(28);
  EXPECT_TRUE(zoned.Open() && zoned.Load());
  test::WriteFileBytes(prj, wkt);
  EXPECT_EQ(RunInfo({shp}).status, 0);
}

TEST(InfoCommand, FloatFieldsAreNumbersOfTypeTwo) {
  TempDir dir;
  test::DbfTableLayout layout;
  layout.fields = {{"Yield", 'F', 12, 3}, {"Note", 'C', 4, 0}};
  layout.rows = {" " + test::Right("4.250", 12) + "ab  ", " " + test::Right("1.5e1", 12) + "cd  "};
  const std::string shp = test::WritePointSet(dir, "f", {{-93.6, 42.03}, {-93.61, 42.04}}, {0.0, 0.0});
  test::WriteFileBytes(dir / "f.dbf", test::MakeDbf(layout));
  test::WriteFileBytes(dir / "f.gpe", "[Options]\r\nCOLOR_METHOD=1\r\nLEGEND_COL=1\r\n");
  const CliRun run = RunInfo({"--records", shp});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("{\"name\": \"Yield\", \"type\": 2, \"length\": 12, \"decimals\": 3}"),
            std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("\"value\": 4.25,"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("\"value\": 15.0,"), std::string::npos) << lines[2];
}

}  // namespace
}  // namespace kestrune
