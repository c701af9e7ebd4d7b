#include "app/gui/Panes.h"

#include <QPainter>
#include <QResizeEvent>

#include "app/gui/AppResources.h"
#include "app/gui/FrameLayers.h"
#include "app/gui/MainFrame.h"

namespace kestrune {

ILayersPane* CreateLayersPane(QWidget* parent) { return new CFileListPane(parent); }
IMapPane* CreateMapPane(QWidget* parent) { return new CBlankMapPane(parent); }

CFileListPane::CFileListPane(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QListWidget::itemSelectionChanged, this, &CFileListPane::OnSelectionChanged);
}

void CFileListPane::RefreshFileList() {
  // The rebuild selects nothing until the head is chosen below.
  const QSignalBlocker block(this);
  clear();
  active_ = nullptr;
  for (Layer* layer : shell::Layers()) {
    auto* item = new QListWidgetItem(QString::fromStdString(shell::LayerFileName(layer)), this);
    item->setData(Qt::UserRole, QVariant::fromValue(static_cast<void*>(layer)));
    item->setToolTip(QString::fromStdString(shell::LayerPath(layer)));
  }
  // The newest layer, at the head, becomes the active one.
  if (count() > 0) setCurrentRow(0);
  OnSelectionChanged();
}

void CFileListPane::OnSelectionChanged() {
  const QList<QListWidgetItem*> selected = selectedItems();
  active_ = selected.isEmpty() ? nullptr : static_cast<Layer*>(selected.front()->data(Qt::UserRole).value<void*>());
  if (CMainFrame* frame = GetMainFrame()) frame->UpdateCommandStates();
}

CBlankMapPane::CBlankMapPane(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  view_.SetInvalidateHandler([this] { update(); });
}

void CBlankMapPane::ToggleZoomTool() {
  zoomTool_ = !zoomTool_;
  if (zoomTool_) setCursor(ZoomCursor());
  else unsetCursor();
}

void CBlankMapPane::InvalidateMap(bool) { update(); }

void CBlankMapPane::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  view_.Resize(event->size().width(), event->size().height());
}

void CBlankMapPane::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
}

}  // namespace kestrune
