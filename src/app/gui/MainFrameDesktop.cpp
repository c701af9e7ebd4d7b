// The main frame's desktop habits: the window's size, position and splitter
// kept between runs, the Open Recent list, the arrow keys from anywhere in
// the window, the status bar's position and scale, and Export Map Image.
#include "app/gui/MainFrame.h"

#include <cmath>

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QShortcut>
#include <QToolButton>
#include <QLocale>
#include <QMenu>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>

#include "lang/gui/LangWidgets.h"
#include "attributes/IdentifyReport.h"
#include "base/AppIdentity.h"
#include "base/Paths.h"
#include "base/Platform.h"
#include "base/Preferences.h"
#include "base/gui/PaneInterfaces.h"
#include "lang/FileErrorText.h"
#include "lang/LangString.h"
#include "layers/LayerList.h"
#include "mapview/MapView.h"
#include "mapview/gui/CliMapFiles.h"
#include "mapview/gui/CliRender.h"

namespace kestrune {

namespace {

// Where the window state is kept: the preferences' file, its own section.
constexpr const char* kWindowGroup = "Window";
constexpr const char* kGeometryKey = "Geometry";
constexpr const char* kSplitterKey = "Splitter";

constexpr const char* kMsgRecentGone = "#20013010:%s no longer exists; it was taken off the recent files.";
constexpr const char* kMsgRecentCaption = "#20013011:Open Recent";
constexpr const char* kMsgExportCaption = "#20013012:Export Map Image";

}  // namespace

// The kept geometry and splitter, when there are any.
bool CMainFrame::RestoreWindowState() {
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QString::fromUtf8(kOrganizationName),
                     QString::fromUtf8(kApplicationName));
  settings.beginGroup(QString::fromUtf8(kWindowGroup));
  const QByteArray geometry = settings.value(QString::fromUtf8(kGeometryKey)).toByteArray();
  const QByteArray splitter = settings.value(QString::fromUtf8(kSplitterKey)).toByteArray();
  settings.endGroup();
  if (geometry.isEmpty() || !restoreGeometry(geometry)) return false;
  if (!splitter.isEmpty()) splitter_->restoreState(splitter);
  return true;
}

// Keeps the geometry (maximised or not) and the splitter for the next start.
void CMainFrame::SaveWindowState() const {
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QString::fromUtf8(kOrganizationName),
                     QString::fromUtf8(kApplicationName));
  settings.beginGroup(QString::fromUtf8(kWindowGroup));
  settings.setValue(QString::fromUtf8(kGeometryKey), saveGeometry());
  settings.setValue(QString::fromUtf8(kSplitterKey), splitter_->saveState());
  settings.endGroup();
  settings.sync();
}

// The arrow keys are the map's as long as the focus is not in a text field,
// which claims them (Qt's shortcut override) for its own cursor.
void CMainFrame::AddMapKeys() {
  const struct {
    Qt::Key key;
    void (MapView::*pan)();
  } keys[] = {{Qt::Key_Left, &MapView::PanLeft},
              {Qt::Key_Right, &MapView::PanRight},
              {Qt::Key_Up, &MapView::PanUp},
              {Qt::Key_Down, &MapView::PanDown}};
  for (const auto& k : keys) {
    auto* action = new QAction(this);
    action->setObjectName(QStringLiteral("MapKey%1").arg(int(k.key)));
    action->setShortcut(QKeySequence(k.key));
    action->setShortcutContext(Qt::WindowShortcut);
    const auto pan = k.pan;
    connect(action, &QAction::triggered, this, [this, pan] {
      if (mapPane_) (mapPane_->GetMapView().*pan)();
    });
    addAction(action);
  }
}

// Filter note, pointer position and scale, at the right of the status bar.
void CMainFrame::BuildStatusBar() {
  filterNoteLabel_ = new QLabel(this);
  filterNoteLabel_->setObjectName(QStringLiteral("StatusFilterNote"));
  positionLabel_ = new QLabel(this);
  positionLabel_->setObjectName(QStringLiteral("StatusPosition"));
  scaleLabel_ = new QLabel(this);
  scaleLabel_->setObjectName(QStringLiteral("StatusScale"));
  statusBar()->addPermanentWidget(filterNoteLabel_);
  statusBar()->addPermanentWidget(positionLabel_);
  statusBar()->addPermanentWidget(scaleLabel_);
  filterNoteLabel_->hide();
  // The reading of a file: how far it has come, and a way to stop it.
  loadBar_ = new QProgressBar(this);
  loadBar_->setObjectName(QStringLiteral("StatusLoadProgress"));
  loadBar_->setRange(0, 100);
  loadBar_->setMaximumWidth(160);
  loadCancel_ = new QToolButton(this);
  loadCancel_->setObjectName(QStringLiteral("StatusLoadCancel"));
  loadCancel_->setText(LangQString("#20000801:Cancel"));
  loadCancel_->setToolTip(LangQString("#20000802:Stop reading the file (Esc)"));
  loadCancel_->setAutoRaise(true);
  connect(loadCancel_, &QToolButton::clicked, this, [this] { CancelLoad(); });
  // No taller than the status bar's texts: the map keeps its height whether
  // a file is being read or not.
  const int lineHeight = positionLabel_->sizeHint().height();
  loadBar_->setMaximumHeight(lineHeight);
  loadCancel_->setMaximumHeight(lineHeight);
  statusBar()->addPermanentWidget(loadBar_);
  statusBar()->addPermanentWidget(loadCancel_);
  cancelKey_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  cancelKey_->setContext(Qt::WindowShortcut);
  connect(cancelKey_, &QShortcut::activated, this, [this] { CancelLoad(); });
  ShowLoadControls(false);
}

void CMainFrame::SetFilterNote(const QString& note) {
  filterNoteLabel_->setText(note);
  filterNoteLabel_->setVisible(!note.isEmpty());
}

// The same texts as the Latitude and Longitude rows of a point's attributes.
void CMainFrame::ShowPointerPosition(const MapPoint* at) {
  positionLabel_->setText(at ? QString::fromStdString(PointerPositionText(*at)) : QString());
}

// 1:N with N rounded to a whole number, grouped as the locale groups digits.
void CMainFrame::ShowScale() {
  const double dpi = mapPane_ ? mapPane_->AsWidget()->logicalDpiX() : 0.0;
  const double scale = mapPane_ ? mapPane_->GetMapView().ScaleAtCentre(dpi) : 0.0;
  if (!(scale >= 1.0) || !std::isfinite(scale) || layers_->GetCount() == 0) {
    scaleLabel_->clear();
    return;
  }
  scaleLabel_->setText(QStringLiteral("1:") + QLocale().toString(static_cast<qlonglong>(std::llround(scale))));
}

// Puts the file at the top of the list and keeps the list at once.
void CMainFrame::RememberRecentFile(const QString& path) {
  CPreferences& prefs = GetPreferences();
  prefs.AddRecentFile(QFileInfo(path).absoluteFilePath().toStdString());
  prefs.SaveRecentFiles();
  RebuildRecentMenu();
}

// One line per recent file, "&1 name  (folder)" ... newest first.
void CMainFrame::RebuildRecentMenu() {
  if (!recentMenu_) return;
  recentShown_ = GetPreferences().GetRecentFiles();
  recentMenu_->clear();
  int number = 1;
  for (const std::string& file : recentShown_) {
    const QString path = QString::fromStdString(file);
    const QString text = QStringLiteral("&%1 %2").arg(number++).arg(path);
    QAction* action = recentMenu_->addAction(text);
    action->setData(path);
    action->setToolTip(path);
    connect(action, &QAction::triggered, this, [this, path] { OpenRecentFile(path); });
  }
  recentMenu_->menuAction()->setEnabled(GetCommandState(kIdFileOpenRecent, CurrentContext()).enabled);
}

// Opens a listed file; one that has gone is taken off with a word to the user.
void CMainFrame::OpenRecentFile(const QString& path) {
  if (!QFileInfo::exists(path)) {
    CPreferences& prefs = GetPreferences();
    prefs.RemoveRecentFile(path.toStdString());
    prefs.SaveRecentFiles();
    RebuildRecentMenu();
    ShowMessage(LangFormat(kMsgRecentGone, path.toUtf8().constData()), LangText(kMsgRecentCaption),
                MessageIcon::Warning);
    UpdateCommandStates();
    return;
  }
  OpenByName(path);
}

// The map window's view as it is now, written as PNG or PDF.
void CMainFrame::OnFileExportImage() {
  CPreferences& prefs = GetPreferences();
  const QString chosen =
      exportChooser_ ? exportChooser_(this, QString::fromStdString(prefs.GetSaveFolder())) : QString();
  if (chosen.isEmpty()) return;
  QString path = chosen;
  if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".png");
  const MapView& view = mapPane_->GetMapView();
  FileWriteError error;
  if (!WriteMapPicture(*layers_, view.Transform(), view.ClientWidth(), view.ClientHeight(), path, &error)) {
    // The file and the system's reason, as every other failed write tells them.
    ShowMessage(error ? FileWriteErrorText(error) : LangFormat(kMsgCannotWriteOutput, path.toUtf8().constData()),
                LangText(kMsgExportCaption), MessageIcon::Warning);
    return;
  }
  const std::string folder = FolderOf(path.toStdString());
  if (!folder.empty()) {
    prefs.SetSaveFolder(folder);
    prefs.SaveToConfigFile();
  }
}

}  // namespace kestrune
