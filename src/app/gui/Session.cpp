#include "app/gui/Session.h"

#include <QFileInfo>
#include <QListWidget>
#include <QPointer>
#include <QSettings>
#include <QTimer>
#include <QVariant>

#include "app/gui/MainFrame.h"
#include "base/AppIdentity.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "layers/gui/CLayersWnd.h"

namespace kestrune {

namespace {

constexpr const char* kSessionGroup = "Session";
constexpr const char* kFilesKey = "Files";
constexpr const char* kHiddenKey = "Hidden";
constexpr const char* kActiveKey = "Active";
constexpr const char* kRestoreKey = "Restore";

QSettings& Open(QSettings& settings) {
  settings.beginGroup(QString::fromLatin1(kSessionGroup));
  return settings;
}

// Hides and activates the layers as saved, matched by path.
void ApplySession(CMainFrame& frame, const SessionState& state) {
  LayerList& layers = frame.Layers();
  Layer* active = nullptr;
  for (Layer* layer : layers.Layers()) {
    const QString path = QString::fromStdString(layer->GetPathName());
    const int index = int(state.paths.indexOf(path));
    if (index < 0) continue;
    const bool hidden = size_t(index) < state.hidden.size() && state.hidden[size_t(index)];
    if (layer->IsHidden() != hidden) {
      layer->SetHidden(hidden);
      layer->RequestRepaint();
    }
    if (index == state.active) active = layer;
  }
  auto* pane = dynamic_cast<CLayersWnd*>(frame.LayersPane());
  if (!pane) return;
  pane->RefreshFileList();
  if (!active) return;
  QListWidget* list = pane->FileList();
  for (int row = 0; row < list->count(); ++row) {
    const LayerListItem* item = CLayersWnd::ItemOf(list->item(row));
    if (item && item->layer == active) list->setCurrentRow(row);
  }
}

}  // namespace

SessionState SessionOf(const LayerList& layers, const Layer* active) {
  SessionState state;
  for (const Layer* layer : layers.Layers()) {
    const std::string path = layer->GetPathName();
    if (path.empty()) continue;
    if (layer == active) state.active = int(state.paths.size());
    state.paths << QString::fromStdString(path);
    state.hidden.push_back(layer->IsHidden());
  }
  return state;
}

void SaveSession(const SessionState& state) {
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kOrganizationName, kApplicationName);
  Open(settings);
  settings.setValue(kFilesKey, state.paths);
  QVariantList hidden;
  for (bool h : state.hidden) hidden << QVariant(h ? 1 : 0);
  settings.setValue(kHiddenKey, hidden);
  settings.setValue(kActiveKey, state.active);
}

SessionState LoadSession() {
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kOrganizationName, kApplicationName);
  Open(settings);
  SessionState state;
  state.paths = settings.value(kFilesKey).toStringList();
  const QVariantList hidden = settings.value(kHiddenKey).toList();
  for (int i = 0; i < state.paths.size(); ++i) state.hidden.push_back(i < hidden.size() && hidden[i].toInt() != 0);
  bool ok = false;
  state.active = settings.value(kActiveKey, -1).toInt(&ok);
  if (!ok || state.active >= state.paths.size()) state.active = -1;
  return state;
}

bool SessionRestoreEnabled() {
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kOrganizationName, kApplicationName);
  Open(settings);
  const QString value = settings.value(kRestoreKey, QStringLiteral("true")).toString().trimmed().toLower();
  return !(value == QLatin1String("false") || value == QLatin1String("0") || value == QLatin1String("no"));
}

void SetSessionRestoreEnabled(bool on) {
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kOrganizationName, kApplicationName);
  Open(settings);
  settings.setValue(kRestoreKey, on ? QStringLiteral("true") : QStringLiteral("false"));
}

// Oldest first, so the newest comes out on top as before.
void RestoreSession(CMainFrame& frame, const SessionState& state) {
  bool any = false;
  for (int i = int(state.paths.size()) - 1; i >= 0; --i) {
    if (!QFileInfo::exists(state.paths[i])) continue;
    frame.OpenByName(state.paths[i]);
    any = true;
  }
  if (!any) return;
  // The readings run beside the window; the states apply once all are in.
  QPointer<CMainFrame> guard(&frame);
  auto* timer = new QTimer(&frame);
  timer->setInterval(50);
  QObject::connect(timer, &QTimer::timeout, &frame, [guard, timer, state] {
    if (!guard) return;
    if (guard->IsBusy() || guard->HasPendingNames()) return;
    timer->stop();
    timer->deleteLater();
    ApplySession(*guard, state);
  });
  timer->start();
}

}  // namespace kestrune
