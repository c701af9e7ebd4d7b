// Inputs to import given to the frame as any file is (Open, a drop, the
// command line, a hand-over): written as shape file sets that open as layers
// in order; importing again asks first; a file that cannot be read says which
// and why.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <QSettings>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "app/Commands.h"
#include "app/gui/MainFrame.h"
#include "base/Platform.h"
#include "base/Preferences.h"
#include "lang/LangFile.h"
#include "lang/LangStringCache.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace kestrune::test {
namespace {

const char* const kMixed = R"({"type": "FeatureCollection", "features": [
 {"type": "Feature", "properties": {"Rate": 120.5}, "geometry": {"type": "Point", "coordinates": [-93.61, 42.03]}},
 {"type": "Feature", "properties": {"Rate": 80}, "geometry": {"type": "Point", "coordinates": [-93.62, 42.04]}},
 {"type": "Feature", "properties": {"Rate": null},
  "geometry": {"type": "LineString", "coordinates": [[-93.6, 42.0], [-93.5, 42.1]]}},
 {"type": "Feature", "properties": {"Rate": 3},
  "geometry": {"type": "Polygon", "coordinates": [[[-93.6, 42.0], [-93.5, 42.0], [-93.5, 42.1], [-93.6, 42.0]]]}}
]})";

class FrameImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir_.path().string()));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(dir_.path().string()));
    GetPreferences() = CPreferences();
    SetLangFilePath((dir_ / "KRLang.dat").string());
    ResetLangStringCacheForTesting();
    oldHandler_ = SetMessageHandler([this](const MessageRequest& r) {
      messages_.push_back(r);
      return r.buttons == MessageButtons::YesNo ? answer_ : MessageAnswer::Ok;
    });
  }
  void TearDown() override {
    SetMessageHandler(oldHandler_);
    GetPreferences() = CPreferences();
    SetLangFilePath("KRLang.dat");
    ResetLangStringCacheForTesting();
  }
  std::vector<std::string> Listed(CMainFrame& frame) {
    std::vector<std::string> names;
    for (Layer* layer : frame.Layers().Layers()) names.push_back(layer->GetFileName());
    return names;
  }
  QString Path(const std::string& name) { return QString::fromStdString((dir_ / name).string()); }

  TempDir dir_;
  std::vector<MessageRequest> messages_;
  MessageAnswer answer_ = MessageAnswer::No;
  MessageHandler oldHandler_;
};

TEST_F(FrameImportTest, AGeoJsonOpenedByNameIsImportedAndItsSetsOpenInOrder) {
  WriteFileBytes(dir_ / "mixed.geojson", kMixed);
  CMainFrame frame(kStandardSet);
  frame.show();
  frame.OpenByName(Path("mixed.geojson"));
  frame.WaitForLoads();
  // Newest at the top: the last set opened is listed first.
  EXPECT_EQ(Listed(frame), (std::vector<std::string>{"mixed_areas.shp", "mixed_lines.shp", "mixed_points.shp"}));
  EXPECT_TRUE(fs::exists(dir_ / "mixed-import" / "mixed_points.shp"));
  EXPECT_TRUE(messages_.empty()) << messages_.front().text;
  EXPECT_EQ(frame.Layers().Layers().back()->GetRecordCount(), 2u);

  // Handed over again: the question comes; No keeps the earlier import and
  // says so, opening nothing more.
  frame.OnHandOver(Path("mixed.geojson"));
  frame.WaitForLoads();
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[0].buttons, MessageButtons::YesNo);
  EXPECT_NE(messages_[0].text.find("mixed-import"), std::string::npos) << messages_[0].text;
  EXPECT_NE(messages_[1].text.find("kept"), std::string::npos) << messages_[1].text;
  EXPECT_EQ(frame.Layers().GetCount(), 3);
}

TEST_F(FrameImportTest, AFileThatCannotBeReadSaysWhichAndWhy) {
  WriteFileBytes(dir_ / "broken.geojson", "{ not json");
  WriteFileBytes(dir_ / "notes.txt", "not a shape file");
  CMainFrame frame(kStandardSet);
  frame.show();
  for (const char* name : {"broken.geojson", "notes.txt"}) {
    messages_.clear();
    frame.OpenByName(Path(name));
    frame.WaitForLoads();
    ASSERT_EQ(messages_.size(), 1u) << name;
    EXPECT_NE(messages_[0].text.find(name), std::string::npos) << messages_[0].text;
    EXPECT_EQ(messages_[0].caption.find('/'), std::string::npos) << "the title is no path: " << messages_[0].caption;
  }
  EXPECT_EQ(frame.Layers().GetCount(), 0);
  EXPECT_FALSE(fs::exists(dir_ / "broken-import"));
}

TEST_F(FrameImportTest, AMultiPatchIsRefusedNamingItsType) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  for (const char* ext : {"shp", "shx", "dbf"}) {
    fs::copy_file(data / "shapes" / (std::string("multipatch.") + ext), dir_ / (std::string("multipatch.") + ext));
  }
  CMainFrame frame(kStandardSet);
  frame.show();
  frame.OpenByName(Path("multipatch.shp"));
  frame.WaitForLoads();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_NE(messages_[0].text.find("multipatch.shp is of type 31 (MultiPatch)"), std::string::npos)
      << messages_[0].text;
  EXPECT_EQ(messages_[0].caption, "multipatch.shp");
}

}  // namespace
}  // namespace kestrune::test
