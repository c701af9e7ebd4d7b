// The import as a whole: a GeoJSON read into sets by kind, reprojected to
// WGS 84; all or nothing on a failed write, a cancel or a refused replace;
// the data folder when the source's folder cannot be written.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/TestSupport.h"
#include "base/SafeFile.h"
#include "import/Importer.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Two points, a line and a polygon; the numbers as a GIS writes them.
const char* const kMixed = R"({"type": "FeatureCollection", "features": [
 {"type": "Feature", "properties": {"Rate": 120.5, "Product": "UAN 28%", "Day": "2024-05-01"},
  "geometry": {"type": "Point", "coordinates": [-93.61, 42.03]}},
 {"type": "Feature", "properties": {"Rate": 0, "Product": "UAN 28%", "Day": "2024-05-02"},
  "geometry": {"type": "MultiPoint", "coordinates": [[-93.62, 42.04], [-93.63, 42.05]]}},
 {"type": "Feature", "properties": {"Rate": null, "Product": "edge", "Day": null},
  "geometry": {"type": "LineString", "coordinates": [[-93.6, 42.0], [-93.5, 42.1]]}},
 {"type": "Feature", "properties": {"Rate": 3, "Product": "field", "Day": null},
  "geometry": {"type": "Polygon", "coordinates": [[[-93.6, 42.0], [-93.5, 42.0], [-93.5, 42.1], [-93.6, 42.0]]]}}
]})";

// A point in UTM zone 15N (EPSG:32615): 500000 E, 4649776 N is about 42°N 93°W.
const char* const kUtm = R"({"type": "FeatureCollection",
 "crs": {"type": "name", "properties": {"name": "urn:ogc:def:crs:EPSG::32615"}},
 "features": [{"type": "Feature", "properties": {"ID": 7},
  "geometry": {"type": "Point", "coordinates": [500000, 4649776.22]}}]})";

TEST(ImportRead, GeoJsonGivesOneSetPerKindWithTypedValues) {
  TempDir dir;
  test::WriteFileBytes(dir / "mixed.geojson", kMixed);
  ImportContent content;
  Error error;
  ASSERT_TRUE(ReadImportSource((dir / "mixed.geojson").string(), content, error)) << error.text;
  ASSERT_EQ(content.sets.size(), 3u);
  const FeatureSet& points = content.sets[0];
  EXPECT_EQ(points.kind, FeatureKind::Points);
  EXPECT_EQ(points.name, "mixed_points");
  EXPECT_EQ(points.source, "mixed.geojson");
  // The multipoint gives one record per point, each with its feature's row.
  ASSERT_EQ(points.features.size(), 3u);
  EXPECT_DOUBLE_EQ(points.features[0].parts[0].points[0].x, -93.61);
  EXPECT_DOUBLE_EQ(points.features[2].parts[0].points[0].y, 42.05);
  ASSERT_EQ(points.fields.size(), 3u);
  EXPECT_EQ(points.fields[0].type, FeatureFieldType::Number);
  EXPECT_EQ(points.fields[2].type, FeatureFieldType::Date);
  EXPECT_DOUBLE_EQ(points.features[0].values[0].number, 120.5);
  EXPECT_EQ(points.features[0].values[1].text, "UAN 28%");
  EXPECT_EQ(points.features[1].values[2].text, "20240502");
  EXPECT_EQ(content.sets[1].kind, FeatureKind::Lines);
  EXPECT_EQ(content.sets[1].features[0].values[0].kind, FeatureValue::Blank);
  EXPECT_EQ(content.sets[2].kind, FeatureKind::Areas);
  EXPECT_EQ(content.sets[2].features[0].parts[0].points.size(), 4u);
}

TEST(ImportRead, ProjectedInputIsReprojectedToWgs84) {
  TempDir dir;
  test::WriteFileBytes(dir / "utm.geojson", kUtm);
  ImportContent content;
  Error error;
  ASSERT_TRUE(ReadImportSource((dir / "utm.geojson").string(), content, error)) << error.text;
  ASSERT_EQ(content.sets.size(), 1u);
  const FeatureXY p = content.sets[0].features[0].parts[0].points[0];
  EXPECT_NEAR(p.x, -93.0, 1e-6);
  EXPECT_NEAR(p.y, 42.0, 1e-6);
}

TEST(ImportRead, RefusalsSayWhy) {
  TempDir dir;
  test::WriteFileBytes(dir / "notes.geojson", "not a map");
  test::WriteFileBytes(dir / "empty.geojson", R"({"type": "FeatureCollection", "features": []})");
  test::WriteFileBytes(dir / "plain.txt", "x,y\n1,2\n");
  for (const char* name : {"notes.geojson", "empty.geojson", "plain.txt", "missing.kml"}) {
    ImportContent content;
    Error error;
    EXPECT_FALSE(ReadImportSource((dir / name).string(), content, error)) << name;
    EXPECT_NE(error.text.find(name), std::string::npos) << error.text;
    EXPECT_GT(error.text.size(), std::string(name).size() + 20) << "the reason follows: " << error.text;
  }
}

// The files under a folder, hidden ones included.
std::vector<std::string> Listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(dir)) names.push_back(fs::relative(e.path(), dir).string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ImportRun, WritesSetsBesideTheSourceAndAsksBeforeReplacing) {
  TempDir dir;
  test::WriteFileBytes(dir / "mixed.geojson", kMixed);
  ImportOptions options;
  int asked = 0;
  bool answer = false;
  options.confirmReplace = [&](const std::string& folder) {
    ++asked;
    EXPECT_EQ(folder, (dir / "mixed-import").string());
    return answer;
  };
  ImportResult result;
  Error error;
  ASSERT_TRUE(RunImport((dir / "mixed.geojson").string(), options, result, error)) << error.text;
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(result.folder, (dir / "mixed-import").string());
  EXPECT_FALSE(result.inDataFolder);
  ASSERT_EQ(result.sets.size(), 3u);
  EXPECT_EQ(result.sets[0].records, 3u);
  for (const char* ext : {"shp", "shx", "dbf", "prj", "cpg"}) {
    EXPECT_TRUE(fs::exists(dir / "mixed-import" / (std::string("mixed_areas.") + ext))) << ext;
  }
  const std::vector<std::string> first = Listing(dir.path());

  // Again, refused: the earlier result stays, nothing else is left.
  EXPECT_FALSE(RunImport((dir / "mixed.geojson").string(), options, result, error));
  EXPECT_EQ(asked, 1);
  EXPECT_NE(error.text.find("kept"), std::string::npos) << error.text;
  EXPECT_EQ(Listing(dir.path()), first);

  // Again, accepted: the folder is replaced whole.
  test::WriteFileBytes(dir / "mixed-import" / "stale.txt", "old");
  answer = true;
  ASSERT_TRUE(RunImport((dir / "mixed.geojson").string(), options, result, error)) << error.text;
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(Listing(dir.path()), first);
}

TEST(ImportRun, AFailedWriteOrACancelLeavesNothingBehind) {
  TempDir dir;
  test::WriteFileBytes(dir / "mixed.geojson", kMixed);
  const std::vector<std::string> before = Listing(dir.path());
  struct Case {
    const char* what;
    SafeWriteStep step;
    int failAt;  // which write fails (the third file of a set is its ".dbf")
    bool cancel;
  };
  const Case cases[] = {{"full disk at the first file", SafeWriteStep::Write, 1, false},
                        {"full disk in the second set", SafeWriteStep::Flush, 7, false},
                        {"rename refused", SafeWriteStep::Rename, 3, false},
                        {"cancelled while writing", SafeWriteStep::Write, 0, true}};
  for (const Case& c : cases) {
    int writes = 0;
    SetSafeWriteFaultForTesting([&](SafeWriteStep step, const std::string&) {
      if (step == c.step && ++writes == c.failAt) return ENOSPC;
      return 0;
    });
    ImportOptions options;
    if (c.cancel) options.progress = [](int percent) { return percent < 85; };
    ImportResult result;
    Error error;
    EXPECT_FALSE(RunImport((dir / "mixed.geojson").string(), options, result, error)) << c.what;
    SetSafeWriteFaultForTesting(nullptr);
    EXPECT_FALSE(error.text.empty()) << c.what;
    if (!c.cancel) {
      EXPECT_NE(error.text.find("mixed.geojson"), std::string::npos) << error.text;
    }
    EXPECT_EQ(Listing(dir.path()), before) << c.what;
  }
}

TEST(ImportRun, AReadOnlySourceFolderSendsTheSetsToTheDataFolder) {
  TempDir dir;
  fs::create_directories(dir / "stick");
  test::WriteFileBytes(dir / "stick" / "mixed.geojson", kMixed);
  ::chmod((dir / "stick").c_str(), 0555);
  const char* old = std::getenv("XDG_DATA_HOME");
  const std::string saved = old ? old : "";
  ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  ImportResult result;
  Error error;
  const bool ok = RunImport((dir / "stick" / "mixed.geojson").string(), ImportOptions{}, result, error);
  if (old) {
    ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("XDG_DATA_HOME");
  }
  ::chmod((dir / "stick").c_str(), 0755);
  ASSERT_TRUE(ok) << error.text;
  EXPECT_TRUE(result.inDataFolder);
  EXPECT_EQ(result.folder, (dir / "data" / "Kestrune" / "imports" / "mixed-import").string());
  EXPECT_TRUE(fs::exists(result.sets[0].path));
  EXPECT_EQ(Listing(dir / "stick"), std::vector<std::string>{"mixed.geojson"});
}

TEST(ImportRun, JsonLineNamesEverySet) {
  ImportResult result;
  result.folder = "/d/x-import";
  result.sets.push_back({"/d/x-import/x.shp", 4, FeatureKind::Areas, "x.gpkg layer 'x'"});
  result.skipped.push_back({"x.gpkg layer 'y'", "it holds no features with a place"});
  EXPECT_EQ(ImportResultJson("x.gpkg", result),
            "{\"import\": \"x.gpkg\", \"sets\": [{\"path\": \"/d/x-import/x.shp\", \"records\": 4, \"kind\": "
            "\"areas\", \"source\": \"x.gpkg layer 'x'\"}], \"skipped\": [{\"what\": \"x.gpkg layer 'y'\", "
            "\"why\": \"it holds no features with a place\"}], \"folder\": \"/d/x-import\", \"in_data_folder\": "
            "false}");
}

}  // namespace
}  // namespace kestrune
