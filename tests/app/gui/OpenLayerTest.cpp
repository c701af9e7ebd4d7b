// The Open command of the frame: its file dialog request, the remembered
// folder and the chosen file added as the newest layer.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "app/gui/FileDialogs.h"
#include "attributes/gui/DialogSupport.h"
#include "attributes/gui/DialogTestSupport.h"
#include "layers/LayerList.h"
#include "support/TestSupport.h"

namespace kestrune::test {
namespace {

namespace fs = std::filesystem;

class OpenLayerTest : public ::testing::Test {
 protected:
  PreferencesSandbox prefs_;
  TempDir dir_;
};

TEST_F(OpenLayerTest, TheDialogStartsInTheOpenFolderAndRemembersTheChosenOne) {
  GetPreferences().SetOpenFolder("/srv/fields");
  const std::string chosen = (dir_ / "north" / "yield.shp").string();
  ChooserScope chooser{QString::fromStdString(chosen)};
  QWidget owner;
  std::string path;
  ASSERT_TRUE(OpenLayerDialog(&owner, path));
  EXPECT_EQ(path, chosen);
  ASSERT_EQ(chooser.requests.size(), 1u);
  const FileDialogRequest& r = chooser.requests[0];
  EXPECT_EQ(r.title, "Open Layer");
  EXPECT_EQ(r.filter, "Shape Files (*.shp)");
  EXPECT_EQ(r.startFolder, "/srv/fields");
  EXPECT_EQ(r.parent, &owner);
  EXPECT_FALSE(r.save);
  EXPECT_FALSE(r.mustExist);
  const std::string folder = (dir_ / "north").string();
  EXPECT_EQ(GetPreferences().GetOpenFolder(), folder);
  EXPECT_EQ(prefs_.Stored().GetOpenFolder(), folder);

  // Cancel: no path, the folder stays.
  chooser.SetAnswer(QString());
  path = "left over";
  EXPECT_FALSE(OpenLayerDialog(&owner, path));
  EXPECT_TRUE(path.empty());
  EXPECT_EQ(prefs_.Stored().GetOpenFolder(), folder);
}

TEST_F(OpenLayerTest, TheOpenCommandAddsTheChosenFileAsTheNewestLayer) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  const fs::path field = CopyFileSet(data / "field" / "boundary-simple1.shp", dir_.path());
  const fs::path points = CopyFileSet(data / "field" / "yield-simple1.shp", dir_.path());
  LayerList list;
  ChooserScope chooser{QString::fromStdString(field.string())};
  EXPECT_TRUE(OpenLayerCommand(list, nullptr));
  chooser.SetAnswer(QString::fromStdString(points.string()));
  EXPECT_TRUE(OpenLayerCommand(list, nullptr));
  ASSERT_EQ(list.GetCount(), 2);
  EXPECT_EQ(list.Layers()[0]->GetFileName(), "yield-simple1.shp");
  EXPECT_EQ(list.Layers()[0]->GetRecordCount(), 3365u);
  EXPECT_EQ(list.Layers()[1]->GetFileName(), "boundary-simple1.shp");

  // A name typed that does not exist gives an empty layer of that name.
  chooser.SetAnswer(QString::fromStdString((dir_ / "new.shp").string()));
  EXPECT_TRUE(OpenLayerCommand(list, nullptr));
  ASSERT_EQ(list.GetCount(), 3);
  EXPECT_EQ(list.Layers()[0]->GetFileName(), "new.shp");
  EXPECT_EQ(list.Layers()[0]->GetRecordCount(), 0u);

  // A file that is no shape file is refused; Cancel adds nothing.
  WriteFileBytes(dir_ / "junk.shp", std::string(100, 'x'));
  chooser.SetAnswer(QString::fromStdString((dir_ / "junk.shp").string()));
  {
    MessageCapture messages;
    EXPECT_FALSE(OpenLayerCommand(list, nullptr));
  }
  chooser.SetAnswer(QString());
  EXPECT_FALSE(OpenLayerCommand(list, nullptr));
  EXPECT_EQ(list.GetCount(), 3);
}

}  // namespace
}  // namespace kestrune::test
