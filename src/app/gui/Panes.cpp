#include "app/gui/Panes.h"

#include <QPainter>
#include <QResizeEvent>

#include "app/gui/AppResources.h"
#include "app/gui/MainFrame.h"
#include "layers/LayerList.h"
#include "mapview/gui/QPainterCanvas.h"

namespace kestrune {

// The layers pane the frame puts on the left.
ILayersPane* CreateLayersPane(QWidget* parent) { return new CFileListPane(parent); }
// The map pane the frame puts on the right.
IMapPane* CreateMapPane(QWidget* parent) { return new CBlankMapPane(parent); }

// A one-choice list that follows its selection.
CFileListPane::CFileListPane(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QListWidget::itemSelectionChanged, this, &CFileListPane::OnSelectionChanged);
}

// Lists the layers newest first and makes the newest active.
void CFileListPane::RefreshFileList() {
  // The rebuild selects nothing until the head is chosen below.
  const QSignalBlocker block(this);
  clear();
  active_ = nullptr;
  if (LayerList* list = GetLayerList()) {
    for (Layer* layer : list->Layers()) {
      auto* item = new QListWidgetItem(QString::fromStdString(layer->GetFileName()), this);
      item->setData(Qt::UserRole, QVariant::fromValue(static_cast<void*>(layer)));
      item->setToolTip(QString::fromStdString(layer->GetPathName()));
    }
  }
  // The newest layer, at the head, becomes the active one.
  if (count() > 0) setCurrentRow(0);
  OnSelectionChanged();
}

// Makes the selected line's layer the active one.
void CFileListPane::OnSelectionChanged() {
  const QList<QListWidgetItem*> selected = selectedItems();
  active_ = selected.isEmpty() ? nullptr : static_cast<Layer*>(selected.front()->data(Qt::UserRole).value<void*>());
  // The map's selection tools work on the list's active layer.
  if (LayerList* list = GetLayerList()) list->SetActiveLayer(active_);
  if (CMainFrame* frame = GetMainFrame()) frame->UpdateCommandStates();
}

// A map that repaints whenever its view changes.
CBlankMapPane::CBlankMapPane(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  view_.SetInvalidateHandler([this] { update(); });
}

// Switches the zoom tool and its cursor.
void CBlankMapPane::ToggleZoomTool() {
  zoomTool_ = !zoomTool_;
  if (zoomTool_) setCursor(ZoomCursor());
  else unsetCursor();
}

// Repaints the whole map.
void CBlankMapPane::InvalidateMap(bool) { update(); }

// Keeps the view the size of the window.
void CBlankMapPane::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  view_.Resize(event->size().width(), event->size().height());
}

// White ground, then every layer.
void CBlankMapPane::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  // Every layer, oldest first, through the view's transform.
  if (LayerList* list = GetLayerList()) {
    QPainterCanvas canvas(p);
    list->DrawAll(canvas, view_.Transform());
  }
}

}  // namespace kestrune
