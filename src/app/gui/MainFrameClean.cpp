// The main frame's cleaning commands: Log › Clean Log… and the File menu's
// Save Cleaned As…, Save Selection As… and Save Shown As….
#include "app/gui/MainFrame.h"

#include <QStatusBar>

#include "base/Error.h"
#include "base/Paths.h"
#include "base/Platform.h"
#include "base/Preferences.h"
#include "base/gui/PaneInterfaces.h"
#include "clean/CleanSource.h"
#include "clean/LayerCleaning.h"
#include "clean/SubsetWriter.h"
#include "clean/gui/CleanLogDialog.h"
#include "lang/LangString.h"
#include "layers/Layer.h"
#include "layers/LogFields.h"

namespace kestrune {

namespace {
constexpr const char* kMsgSaved = "#20600080:%s records written to \"%s\".";
}  // namespace

// Clean Log: the dialog on the active point log.
void CMainFrame::OnCleanLog() {
  Layer* active = ActiveLayer();
  if (!active) return;
  if (!CanCleanLayer(active)) {
    ShowMessage(LangText(kMsgCannotCleanLayer), LangText(kMsgCleanCaption), MessageIcon::Warning);
    return;
  }
  ShowCleanLogDialog(*active, this);
  layersPane_->RefreshLegend();
  UpdateCommandStates();
}

// The active layer's cleaned, selected or shown records as a new set.
void CMainFrame::OnSaveRecords(int which) {
  Layer* active = ActiveLayer();
  if (!active) return;
  const QString chosen = saveChooser_ ? saveChooser_(this, QString::fromStdString(GetPreferences().GetSaveFolder()))
                                      : QString();
  if (chosen.isEmpty()) return;
  const std::string path = chosen.toStdString();
  const SavedRecords records = which == 0 ? SavedRecords::Cleaned
                               : which == 1 ? SavedRecords::Selection
                                            : SavedRecords::Shown;
  Error error;
  int64_t written = 0;
  if (!SaveLayerRecords(*active, records, path, &written, &error)) {
    ShowError(error);
    return;
  }
  statusBar()->showMessage(QString::fromStdString(
                               LangFormat(kMsgSaved, GroupedCount(uint64_t(written)).c_str(), path.c_str())),
                           15000);
  const std::string folder = FolderOf(path);
  if (!folder.empty()) {
    GetPreferences().SetSaveFolder(folder);
    GetPreferences().SaveToConfigFile();
  }
}

}  // namespace kestrune
