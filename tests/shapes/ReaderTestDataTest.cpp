// Every real file of the test data loads to the records listed in expected/:
// record numbers, classes and map points in drawing order, symbol bounds and
// ground areas; refused files give their message.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "base/Preferences.h"
#include "ShapeTestFiles.h"

namespace kestrune {
namespace {

using namespace kestrune::test;
namespace fs = std::filesystem;

std::vector<QJsonObject> ReadJsonLines(const fs::path& path) {
  std::vector<QJsonObject> out;
  std::istringstream in(ReadFileBytes(path));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << path << ": " << line.substr(0, 80);
    out.push_back(doc.object());
  }
  return out;
}

std::vector<MapPoint> PointsOf(const QJsonArray& array) {
  std::vector<MapPoint> out;
  for (const auto& v : array) {
    const QJsonArray xy = v.toArray();
    out.push_back({static_cast<int32_t>(xy.at(0).toDouble()), static_cast<int32_t>(xy.at(1).toDouble())});
  }
  return out;
}

bool Near(const MapPoint& a, const MapPoint& b, int tolerance) {
  return std::abs(int64_t{a.x} - b.x) <= tolerance && std::abs(int64_t{a.y} - b.y) <= tolerance;
}

std::string Text(const MapPoint& p) { return "[" + std::to_string(p.x) + "," + std::to_string(p.y) + "]"; }

// Compares one loaded record with its expected line; empty when they agree.
std::string Compare(Shape* shape, const QJsonObject& want) {
  std::ostringstream d;
  const RecordView got = ViewOf(shape);
  if (got.number != want["rec"].toInt()) d << " rec " << got.number << " != " << want["rec"].toInt();
  if (got.recordClass != want["class"].toInt()) d << " class " << got.recordClass;
  std::vector<std::vector<MapPoint>> wantRings;
  if (want.contains("rings")) {
    for (const auto& r : want["rings"].toArray()) wantRings.push_back(PointsOf(r.toArray()));
  } else {
    wantRings.push_back(PointsOf(want["points"].toArray()));
  }
  std::vector<std::vector<MapPoint>> gotRings;
  if (got.ringSizes.empty()) {
    gotRings.push_back(got.points);
  } else {
    size_t at = 0;
    for (int32_t n : got.ringSizes) {
      gotRings.emplace_back(got.points.begin() + static_cast<long>(at), got.points.begin() + static_cast<long>(at + n));
      at += static_cast<size_t>(n);
    }
  }
  if (gotRings.size() != wantRings.size()) {
    d << " rings " << gotRings.size() << " != " << wantRings.size();
  } else {
    for (size_t r = 0; r < gotRings.size(); ++r) {
      if (gotRings[r].size() != wantRings[r].size()) {
        d << " ring " << r << " has " << gotRings[r].size() << " points, not " << wantRings[r].size();
        continue;
      }
      for (size_t i = 0; i < gotRings[r].size(); ++i) {
        if (!Near(gotRings[r][i], wantRings[r][i], 1)) {
          d << " ring " << r << " point " << i << " " << Text(gotRings[r][i]) << " != " << Text(wantRings[r][i]);
          break;
        }
      }
    }
  }
  const QJsonArray wb = want["bounds"].toArray();
  if (wb.size() == 4) {
    const MapRect b = shape->GetHitBounds();
    const int32_t w[4] = {wb[0].toInt(), wb[1].toInt(), wb[2].toInt(), wb[3].toInt()};
    const int32_t g[4] = {b.left, b.top, b.right, b.bottom};
    for (int i = 0; i < 4; ++i) {
      if (std::abs(int64_t{w[i]} - g[i]) > 1) {
        d << " bounds[" << i << "] " << g[i] << " != " << w[i];
        break;
      }
    }
  }
  if (want.contains("area")) {
    const double wantArea = want["area"].toDouble();
    const double area = shape->GetArea(false);
    if (std::fabs(area - wantArea) > 1e-6 * std::max(1.0, std::fabs(wantArea))) d << " area " << area << " != " << wantArea;
  }
  return d.str();
}

// The test data's ".shp" of a name, in whichever folder it lies.
fs::path FindShp(const fs::path& data, const std::string& name) {
  for (const char* folder : {"field", "shapes", "projected"}) {
    if (fs::exists(data / folder / (name + ".shp"))) return data / folder / (name + ".shp");
  }
  return {};
}

class TestData : public ::testing::Test {
 protected:
  void SetUp() override {
    // The expected files were made with the default preferences: metric.
    wasMetric_ = GetPreferences().IsMetric();
    GetPreferences().SetMetric(true);
  }
  void TearDown() override { GetPreferences().SetMetric(wasMetric_); }
  bool wasMetric_ = true;
};

TEST_F(TestData, EveryFileLoadsToItsExpectedRecords) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  int files = 0, refused = 0, records = 0;
  for (const auto& entry : fs::directory_iterator(data / "expected")) {
    const std::string name = entry.path().stem().string();
    // Z and M files are read as their plain twins now (tests/scripts/cli_zm.sh);
    // their ".err" files tell what builds that refused them said.
    if (name == "pointz" || name == "polylinem" || name == "polygonz") continue;
    const fs::path shp = FindShp(data, name);
    ASSERT_FALSE(shp.empty()) << name;
    TempDir dir;
    const fs::path copy = CopyFileSet(shp, dir.path());
    if (entry.path().extension() == ".err") {
      MessageCatcher messages;
      const LoadedFile f = LoadShp(copy);
      EXPECT_FALSE(f.headerOk) << name;
      ASSERT_EQ(messages.messages.size(), 1u) << name;
      std::string want = ReadFileBytes(entry.path());
      while (!want.empty() && (want.back() == '\n' || want.back() == '\r')) want.pop_back();
      // The message, then the type found.
      EXPECT_EQ(messages.messages[0].text.substr(0, messages.messages[0].text.find('\n')), want) << name;
      ++refused;
      continue;
    }
    const std::vector<QJsonObject> lines = ReadJsonLines(entry.path());
    ASSERT_FALSE(lines.empty()) << name;
    const QJsonObject& summary = lines[0];
    LoadedFile f;
    f.records->SetDisplaySizeFeet(summary["display_size_ft"].toDouble());
    f.records->SetPathName(copy.string());
    {
      ShapeFileReader reader;
      f.headerOk = reader.CheckHeader(copy.string(), f.coordSystemKind, 8, -1, f.shapeKind);
      ASSERT_TRUE(f.headerOk) << name;
      reader.LoadRecords(*f.records, f.coordSystemKind, 8, -1);
    }
    EXPECT_EQ(f.shapeKind, summary["shape_kind"].toInt()) << name;
    EXPECT_EQ(f.coordSystemKind, summary["coord_system"].toInt()) << name;
    ++files;
    if (summary["records"].isNull()) continue;  // placed by its ".prj": compared below
    ASSERT_EQ(f.records->Records().size(), lines.size() - 1) << name;
    EXPECT_EQ(static_cast<int>(f.records->Records().size()), summary["records"].toInt()) << name;
    int differences = 0;
    size_t i = 1;
    for (Shape* shape : f.records->Records()) {
      const std::string d = Compare(shape, lines[i]);
      if (!d.empty() && ++differences <= 5) ADD_FAILURE() << name << " line " << i << ":" << d;
      ++i;
      ++records;
    }
    EXPECT_EQ(differences, 0) << name;
  }
  EXPECT_EQ(refused, 1);  // the MultiPatch
  EXPECT_GE(files, 11);
  EXPECT_GT(records, 5000);
}

TEST_F(TestData, TheUtmCopyOfAYieldLogLandsOnTheDegreesOriginalThroughItsPrj) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  TempDir dir;
  const LoadedFile utm = LoadShp(CopyFileSet(data / "projected" / "yield-utm28.shp", dir.path()));
  const LoadedFile geo = LoadShp(CopyFileSet(data / "field" / "yield-simple1.shp", dir.path()));
  ASSERT_TRUE(utm.headerOk);
  EXPECT_EQ(utm.coordSystemKind, kCoordProjected);
  EXPECT_TRUE(utm.stats.usedPrj);
  const auto a = utm.Views();
  const auto b = geo.Views();
  ASSERT_EQ(a.size(), b.size());
  ASSERT_EQ(a.size(), 3365u);
  int far = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    ASSERT_EQ(a[i].number, b[i].number);
    if (!Near(a[i].points[0], b[i].points[0], 2) && ++far <= 5) {
      ADD_FAILURE() << "record " << a[i].number << " " << Text(a[i].points[0]) << " vs " << Text(b[i].points[0]);
    }
  }
  EXPECT_EQ(far, 0);
}

}  // namespace
}  // namespace kestrune
