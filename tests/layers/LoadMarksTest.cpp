// A load leaves no record marked changed: lines (marked as their vertices
// come), points read in runs and points read one by one; and a load that
// keeps records already listed clears their marks too.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "layers/DirectRows.h"
#include "layers/Layer.h"
#include "support/TestSupport.h"

namespace kestrune {
namespace {

size_t MarkedRecords(const Layer& layer) {
  size_t marked = 0;
  layer.Records().ForEach([&marked](Shape* s) { marked += s->IsModified() ? 1 : 0; });
  return marked;
}

TEST(LoadMarks, ALoadLeavesNoRecordMarkedChanged) {
  const test::TempDir dir;
  std::vector<std::string> files;
  const std::string command = std::string("/usr/bin/python3 '") + KESTRUNE_SHARED_TOOLS_DIR + "/make_field_log.py' '" +
                              dir.path().string() + "' --points 9000 >/dev/null 2>&1";
  if (std::system(command.c_str()) == 0) files.push_back((dir.path() / "points.shp").string());
  const std::filesystem::path data = test::TestDataDir();
  if (!data.empty() && std::filesystem::exists(data / "shapes/polyline.shp")) {
    for (const char* name : {"shapes/polyline.shp", "shapes/polygon.shp", "shapes/point.shp", "shapes/multipoint.shp"}) {
      files.push_back(test::CopyFileSet(data / name, dir.path()).string());
    }
  } else if (test::TestDataRequired()) {
    FAIL() << "no test data";
  }
  ASSERT_FALSE(files.empty());
  for (const std::string& shp : files) {
    SCOPED_TRACE(shp);
    Layer layer;
    layer.SetPathName(shp);
    ASSERT_TRUE(layer.Open() && layer.Load());
    ASSERT_GT(layer.GetRecordCount(), 0u);
    EXPECT_EQ(MarkedRecords(layer), 0u);
    EXPECT_FALSE(layer.IsModified());
  }
}

TEST(LoadMarks, ALoadKeepingRecordsClearsTheirMarks) {
  Layer layer;
  // Points side by side in the pool (a run) and a line, all marked changed.
  for (int i = 1; i <= 50; ++i) {
    Shape* point = layer.CreateRecord(kRecordPoint, i, true);
    point->SetPoint({1000 + i, 2000 + i});
    point->SetModified(true);
  }
  Shape* line = layer.CreateRecord(kRecordLine, 51, true);
  const MapPoint pts[] = {{100, 100}, {200, 200}};
  line->AddPoints(pts, 2);
  line->SetModified(true);
  ASSERT_EQ(MarkedRecords(layer), 51u);
  ASSERT_TRUE(layer.Load(true));
  EXPECT_EQ(layer.GetRecordCount(), 51u);
  EXPECT_EQ(MarkedRecords(layer), 0u);
  EXPECT_FALSE(layer.IsModified());
}

}  // namespace
}  // namespace kestrune
