#include "app/gui/ImportCommand.h"

#include <atomic>
#include <thread>

#include <QApplication>
#include <QMetaObject>
#include <QProgressDialog>

#include "attributes/gui/DialogSupport.h"
#include "base/Error.h"
#include "base/Paths.h"
#include "base/Platform.h"
#include "base/Preferences.h"
#include "import/Importer.h"
#include "lang/LangString.h"
#include "lang/gui/LangWidgets.h"

namespace kestrune {

namespace {

constexpr const char* kMsgImporting = "#20300033:Importing %s...";
constexpr const char* kMsgReplace =
    "#20300034:%s was imported before into %s.\n\nReplace that folder with a new import?";
constexpr const char* kMsgDataFolder =
    "#20300035:The folder of %s cannot be written, so the imported sets were written to %s.";
constexpr const char* kMsgSkipped = "#20300036:Not imported from %s: %s";
constexpr const char* kCancelText = "#20300037:Cancel";

}  // namespace

bool IsImportPath(const QString& path) { return IsImportInput(path.toStdString()); }

QString ChooseImportFile(QWidget* parent, const QString& startFolder) {
  FileDialogRequest request;
  request.parent = parent;
  request.filter = QtFilterFromPairs(LangQString(kImportFilter));
  request.title = LangQString(kImportTitle);
  request.startFolder = startFolder;
  request.mustExist = true;
  return ChooseFile(request);
}

std::vector<std::string> ImportWithProgress(QWidget* parent, const std::string& source) {
  const std::string name = FileNameOf(source);
  QProgressDialog dialog(QString::fromStdString(LangFormat(kMsgImporting, name.c_str())), LangQString(kCancelText),
                         0, 100, parent);
  dialog.setWindowTitle(LangQString(kImportTitle));
  dialog.setWindowModality(Qt::WindowModal);
  dialog.setMinimumDuration(400);
  dialog.setAutoReset(false);
  dialog.setAutoClose(false);

  std::atomic<int> percent{0};
  std::atomic<bool> cancel{false};
  std::atomic<bool> done{false};
  ImportOptions options;
  options.progress = [&](int p) {
    percent = p;
    return !cancel.load();
  };
  // Asked from the worker: the question is shown by the window's thread.
  options.confirmReplace = [&](const std::string& folder) {
    bool yes = false;
    QMetaObject::invokeMethod(
        qApp,
        [&] {
          const MessageRequest request{LangFormat(kMsgReplace, name.c_str(), folder.c_str()), LangText(kImportTitle),
                                       MessageIcon::Question, MessageButtons::YesNo};
          yes = ShowMessage(request) == MessageAnswer::Yes;
        },
        Qt::BlockingQueuedConnection);
    return yes;
  };
  ImportResult result;
  Error error;
  bool ok = false;
  std::thread worker([&] {
    ok = RunImport(source, options, result, error);
    done = true;
  });
  while (!done) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 30);
    if (dialog.wasCanceled()) cancel = true;
    dialog.setValue(percent.load());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  worker.join();
  dialog.close();
  std::vector<std::string> sets;
  if (!ok) {
    if (!cancel) ShowError(error);
    return sets;
  }
  if (result.inDataFolder) {
    ShowMessage(LangFormat(kMsgDataFolder, name.c_str(), result.folder.c_str()), LangText(kImportTitle),
                MessageIcon::Information);
  }
  for (const ImportSkip& skip : result.skipped) {
    ShowStatus(LangFormat(kMsgSkipped, skip.what.c_str(), skip.why.c_str()));
  }
  for (const ImportedSet& set : result.sets) sets.push_back(set.path);
  return sets;
}

}  // namespace kestrune
