// The Open command of the frame: its file dialog request, the remembered
// folder, the chosen file added as the newest layer, and the platform dialog
// set up from a request.
#include <filesystem>
#include <string>
#include <vector>

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>

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
  std::vector<std::string> paths;
  ASSERT_TRUE(OpenLayerDialog(&owner, paths));
  EXPECT_EQ(paths, std::vector<std::string>{chosen});
  ASSERT_EQ(chooser.requests.size(), 1u);
  const FileDialogRequest& r = chooser.requests[0];
  EXPECT_EQ(r.title, "Open Layer");
  // Shape files, and the files an import turns into them.
  EXPECT_EQ(r.filter,
            "Shape Files and Files to Import (*.shp *.zip *.geojson *.json *.kml *.kmz *.gpkg *.fgb *.gml *.gpx *.csv "
            "TASKDATA.XML);;Shape Files (*.shp)");
  EXPECT_EQ(r.startFolder, "/srv/fields");
  EXPECT_EQ(r.parent, &owner);
  EXPECT_FALSE(r.save);
  EXPECT_FALSE(r.mustExist);
  EXPECT_TRUE(r.multiple);
  const std::string folder = (dir_ / "north").string();
  EXPECT_EQ(GetPreferences().GetOpenFolder(), folder);
  EXPECT_EQ(prefs_.Stored().GetOpenFolder(), folder);

  // Cancel: no path, the folder stays.
  chooser.SetAnswer(QString());
  paths = {"left over"};
  EXPECT_FALSE(OpenLayerDialog(&owner, paths));
  EXPECT_TRUE(paths.empty());
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

  // Several files chosen at once open in the order chosen, the last newest.
  LayerList many;
  chooser.SetAnswer(QString::fromStdString(points.string() + "\n" + field.string()));
  EXPECT_TRUE(OpenLayerCommand(many, nullptr));
  ASSERT_EQ(many.GetCount(), 2);
  EXPECT_EQ(many.Layers()[0]->GetFileName(), "boundary-simple1.shp");
  EXPECT_EQ(many.Layers()[1]->GetFileName(), "yield-simple1.shp");

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

TEST_F(OpenLayerTest, ThePlatformDialogIsSetUpFromTheRequest) {
  WriteFileBytes(dir_ / "a.shp", "");
  WriteFileBytes(dir_ / "b.txt", "");
  FileDialogRequest request;
  request.title = "Open Layer";
  request.filter = "Shape Files (*.shp)";
  request.startFolder = QString::fromStdString(dir_.path().string());
  WhenModal("FileDialog", [&](QDialog* d) {
    auto* files = qobject_cast<QFileDialog*>(d);
    ASSERT_NE(files, nullptr);
    EXPECT_EQ(files->windowTitle(), "Open Layer");
    EXPECT_EQ(files->nameFilters(), QStringList{"Shape Files (*.shp)"});
    EXPECT_EQ(QDir(files->directory()).canonicalPath(), QDir(request.startFolder).canonicalPath());
    EXPECT_EQ(files->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(files->fileMode(), QFileDialog::AnyFile);
    // The name typed into the dialog's file name line, as a user would.
    auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->clear();
    QTest::keyClicks(name, "a.shp");
    EXPECT_EQ(QFileInfo(files->selectedFiles().value(0)).fileName(), "a.shp");
    static_cast<QDialog*>(files)->accept();
  });
  EXPECT_EQ(QFileInfo(RunFileDialog(request)).fileName(), "a.shp");

  request.save = true;
  request.confirmOverwrite = true;
  request.defaultSuffix = "lgd";
  WhenModal("FileDialog", [&](QDialog* d) {
    auto* files = qobject_cast<QFileDialog*>(d);
    ASSERT_NE(files, nullptr);
    EXPECT_EQ(files->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(files->defaultSuffix(), "lgd");
    EXPECT_FALSE(files->testOption(QFileDialog::DontConfirmOverwrite));
    files->reject();
  });
  EXPECT_TRUE(RunFileDialog(request).isEmpty());
}

}  // namespace
}  // namespace kestrune::test
