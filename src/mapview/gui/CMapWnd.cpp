#include "mapview/gui/CMapWnd.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <QAction>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QResizeEvent>
#include <QWheelEvent>

#include "geo/gui/QPainterCanvas.h"
#include "lang/gui/LangWidgets.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "mapview/gui/MapTools.h"
#include "mapview/gui/MeasureTool.h"
#include "mapview/gui/SelectionCommands.h"
#include "shapes/SelectionLook.h"

namespace kestrune {

namespace {

// How far past a part being drawn again the layers are drawn, in pixels:
// records are passed over by their hit bounds, while a selected symbol's
// halo reaches a few pixels further.
constexpr int kPartMargin = kSelectionRepaintPixels + 2;
// After a pan, how far into the moved picture the part that came into view
// is drawn, and the rows or columns drawn again at the opposite edge. At the
// seam, records that came into view reach over it; at the opposite edge,
// records that left the view (by their hit bounds) left symbols and halos
// reaching a few pixels into it, and a pixel edge exactly half a pixel
// outside the window rounds away from zero, one pixel apart in the two views.
constexpr int kPanSeam = kPartMargin;
constexpr int kPanEdge = kPartMargin;
// Parts drawn one by one; a region of more is drawn as its bounding rectangle.
constexpr int kMaxParts = 8;

// Moves an image's pixels dx left and dy up (right and down when negative);
// what comes in keeps its old pixels, to be drawn again.
void ShiftImage(QImage& image, int dx, int dy) {
  const int w = image.width(), h = image.height();
  if (std::abs(dx) >= w || std::abs(dy) >= h) return;
  const qsizetype stride = image.bytesPerLine();
  uchar* bits = image.bits();
  const int bytes = image.depth() / 8;
  const size_t rowBytes = static_cast<size_t>(w - std::abs(dx)) * static_cast<size_t>(bytes);
  const int fromX = std::max(dx, 0), toX = std::max(-dx, 0);
  const auto moveRow = [&](int y) {
    std::memmove(bits + (y - dy) * stride + toX * bytes, bits + y * stride + fromX * bytes, rowBytes);
  };
  if (dy >= 0) {
    for (int y = dy; y < h; ++y) moveRow(y);
  } else {
    for (int y = h - 1 + dy; y >= 0; --y) moveRow(y);
  }
}

// The desktop key code of a Qt key, for the keys the map window knows.
int VirtualKeyOf(int qtKey) {
  switch (qtKey) {
    case Qt::Key_Left: return kKeyLeft;
    case Qt::Key_Up: return kKeyUp;
    case Qt::Key_Right: return kKeyRight;
    case Qt::Key_Down: return kKeyDown;
    case Qt::Key_A: return kKeyZoomAll;
    case Qt::Key_I: return kKeyZoomIn;
    case Qt::Key_O: return kKeyZoomOut;
    default: return 0;
  }
}

// Whether the layer is still one of the open layers (a menu or dialog runs
// its own event loop, during which a layer may have gone).
bool IsOpenLayer(const LayerList* list, const Layer* layer) {
  if (!list || !layer) return false;
  const std::vector<Layer*>& layers = list->Layers();
  return std::find(layers.begin(), layers.end(), layer) != layers.end();
}

// The client pixel of a mouse event.
QPoint EventPoint(const QMouseEvent* event) { return event->position().toPoint(); }

// The map point under a client pixel.
MapPoint MapPointAt(const CMapTransform& transform, const QPoint& pixel) {
  const DevicePoint device{pixel.x(), pixel.y()};
  MapPoint point;
  transform.DeviceToWorld(&device, 1, &point);
  return point;
}

}  // namespace

// Makes the window with its select tool and publishes its transform and itself.
CMapWnd::CMapWnd(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("MapWnd"));
  setFocusPolicy(Qt::StrongFocus);
  // Every pixel comes from the picture of the layers; nothing to erase first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  // Moves arrive without a button too, as the tools expect of a desktop window.
  setMouseTracking(true);
  // The right button belongs to the tools; no menu of the frame's comes up.
  setContextMenuPolicy(Qt::PreventContextMenu);
  // Selected records are haloed in the platform's highlight colour, here,
  // in the exported picture and on the printed page alike.
  const QColor highlight = palette().color(QPalette::Active, QPalette::Highlight);
  SetSelectionHighlight(RGBColor(highlight.red(), highlight.green(), highlight.blue()));
  view_.SetInvalidateHandler([this] {
    InvalidateMap(true);
    if (viewChanged_) viewChanged_();
  });
  view_.SetPannedHandler([this](int dx, int dy) {
    MovePicture(dx, dy);
    if (viewChanged_) viewChanged_();
  });
  selectTool_ = std::make_unique<CSelectTool>(*this);
}

// Listens to the list: a selection is drawn at once, a repaint request paints
// its area again, and layers that come, go or move repaint the map.
void CMapWnd::SetLayers(LayerList* layers) {
  if (layers_) layers_->disconnect(this);
  layers_ = layers;
  if (!layers_) return;
  connect(layers_, &LayerList::recordsSelected, this,
          [this](Layer* layer, const std::vector<Shape*>& records) {
            DrawRecordsNow(*layer, records.data(), records.size());
          });
  connect(layers_, &LayerList::repaintRequested, this, &CMapWnd::RepaintMapArea);
  connect(layers_, &LayerList::layersChanged, this, [this] { InvalidateMap(true); });
}

// The whole map, or the pixels of a map area with room for a selection's halo.
void CMapWnd::RepaintMapArea(const MapRect& area) {
  if (area == kWholeMap) {
    InvalidateMap(true);
  } else {
    view_.Transform().InvalidateWorldRect(*this, area, true, kSelectionRepaintPixels);
  }
}

// Drops any band and the tools, and withdraws what the constructor published.
CMapWnd::~CMapWnd() {
  if (handPanning_) QGuiApplication::restoreOverrideCursor();
  delete CRubberBand::Current();
  measureTool_.reset();
  zoomTool_.reset();
  selectTool_.reset();
}

// The zoom tool while it exists, else the select tool.
CMapTool* CMapWnd::ActiveTool() const {
  if (measureTool_) return measureTool_.get();
  if (zoomTool_) return zoomTool_.get();
  return selectTool_.get();
}

// Creates the zoom tool, or deletes it when it exists.
void CMapWnd::ToggleZoomTool() {
  // A drag in progress ends with the tool that began it, without its action.
  if (capture_) {
    ReleaseCapture();
    if (CRubberBand* band = CRubberBand::Current()) {
      band->Draw(*this, kBandEraseOnly);
      delete band;
    }
  }
  if (zoomTool_) {
    zoomTool_.reset();
  } else {
    if (measureTool_) ToggleMeasureTool();
    zoomTool_ = std::make_unique<CZoomTool>(*this);
  }
}

// Creates the measure tool, or deletes it (and its text) when it exists.
void CMapWnd::ToggleMeasureTool() {
  if (measureTool_) {
    measureTool_.reset();
    ShowMeasureText(std::string());
    update();
    return;
  }
  if (zoomTool_) ToggleZoomTool();
  measureTool_ = std::make_unique<CMeasureTool>(*this);
}

// Repaints the whole map from the layers.
void CMapWnd::InvalidateMap(bool) {
  invalid_ = QRegion(rect());
  update();
}

// Prints through the handler the frame installed.
void CMapWnd::Print() {
  if (print_) print_();
}

// A part of the map to draw again; erasing is implied, as every repaint of
// the picture starts from the background.
void CMapWnd::InvalidateRect(const DeviceRect& rect, bool) {
  QRect r(QPoint(std::min(rect.left, rect.right), std::min(rect.top, rect.bottom)),
          QPoint(std::max(rect.left, rect.right) - 1, std::max(rect.top, rect.bottom) - 1));
  r &= this->rect();
  if (r.isEmpty()) return;
  invalid_ += r;
  update(r);
}

// Draws records (a selection just made) over the current picture at once.
void CMapWnd::DrawRecordsNow(Layer& layer, Shape* const* records, std::size_t count) {
  // Without a picture yet, the first paint draws everything anyway.
  if (picture_.isNull() || count == 0) return;
  {
    QPainter painter(&picture_);
    QPainterCanvas canvas(painter);
    layer.DrawRecords(view_.Transform(), canvas, records, count);
  }
  update();
}

// Redraws the invalid part of the picture of the layers.
void CMapWnd::RenderPending() {
  const qreal ratio = devicePixelRatioF();
  const QSize pixels(static_cast<int>(std::ceil(width() * ratio)), static_cast<int>(std::ceil(height() * ratio)));
  if (picture_.size() != pixels || picture_.devicePixelRatio() != ratio) {
    picture_ = QImage(pixels, QImage::Format_RGB32);
    picture_.setDevicePixelRatio(ratio);
    invalid_ = QRegion(rect());
  }
  if (picture_.isNull()) return;
  const QRegion invalid = invalid_ & rect();
  invalid_ = QRegion();
  if (invalid.isEmpty()) return;
  if (invalid.rectCount() > kMaxParts) {
    RenderPart(invalid.boundingRect());
    return;
  }
  for (const QRect& part : invalid) RenderPart(part);
}

// Draws one part of the picture again.
void CMapWnd::RenderPart(const QRect& area) {
  const qreal ratio = devicePixelRatioF();
  const auto drawLayers = [this](QPainter& painter, const QRect& where, const CMapTransform& transform) {
    painter.fillRect(where, ToQColor(kMapBackground));
    if (LayerList* list = layers_) {
      QPainterCanvas canvas(painter);
      list->DrawAll(canvas, transform);
    }
  };
  if (area == rect()) {
    QPainter painter(&picture_);
    drawLayers(painter, area, view_.Transform());
    return;
  }
  // A part is drawn on a picture of its own size through the view moved by
  // the part's corner, so the layers pass over every record outside it as
  // cheaply as over those outside the window. Records are passed over by
  // their hit bounds while their symbols reach a pixel or two further: the
  // picture is drawn a few pixels larger and only the part is kept. It stays
  // within the window, where the whole drawing stops too: at the window's
  // edges the part's pixels are computed as the whole drawing's are.
  const QRect drawn = area.adjusted(-kPartMargin, -kPartMargin, kPartMargin, kPartMargin) & rect();
  QImage part(QSize(static_cast<int>(std::ceil(drawn.width() * ratio)), static_cast<int>(std::ceil(drawn.height() * ratio))),
              QImage::Format_RGB32);
  part.setDevicePixelRatio(ratio);
  CMapTransform shifted = view_.Transform();
  int32_t originX = 0, originY = 0;
  shifted.GetDeviceOrigin(originX, originY);
  shifted.SetDeviceOrigin(originX - drawn.left(), originY - drawn.top());
  {
    QPainter painter(&part);
    drawLayers(painter, QRect(QPoint(0, 0), drawn.size()), shifted);
  }
  QPainter painter(&picture_);
  const QPointF offset(area.left() - drawn.left(), area.top() - drawn.top());
  painter.drawImage(QRectF(area), part, QRectF(offset * ratio, QSizeF(area.size()) * ratio));
}

// The picture moves with the view when every layer drawn moves with it and
// the pixels are the window's own; then only what came into view is drawn,
// with the seam past it and the opposite edge.
void CMapWnd::MovePicture(int dx, int dy) {
  bool reusable = !picture_.isNull() && picture_.devicePixelRatio() == 1.0 && picture_.size() == size() &&
                  std::abs(dx) < width() && std::abs(dy) < height();
  if (reusable && layers_) {
    for (const Layer* layer : layers_->Layers()) {
      if (layer->IsHidden()) continue;
      if (layer->IsLoading() || !layer->MovesWithPicture()) {
        reusable = false;
        break;
      }
    }
  }
  if (!reusable) {
    InvalidateMap(true);
    return;
  }
  ShiftImage(picture_, dx, dy);
  ++movedPictures_;
  QRegion invalid = invalid_.translated(-dx, -dy);
  const int w = width(), h = height();
  if (dx > 0) {
    invalid += QRect(w - dx - kPanSeam, 0, dx + kPanSeam, h);
    invalid += QRect(0, 0, kPanEdge, h);
  } else if (dx < 0) {
    invalid += QRect(0, 0, -dx + kPanSeam, h);
    invalid += QRect(w - kPanEdge, 0, kPanEdge, h);
  }
  if (dy > 0) {
    invalid += QRect(0, h - dy - kPanSeam, w, dy + kPanSeam);
    invalid += QRect(0, 0, w, kPanEdge);
  } else if (dy < 0) {
    invalid += QRect(0, 0, w, -dy + kPanSeam);
    invalid += QRect(0, h - kPanEdge, w, kPanEdge);
  }
  invalid_ = invalid & rect();
  update();
}

// Shows the picture of the layers and the active tool's band over it.
void CMapWnd::paintEvent(QPaintEvent*) {
  ++paintCount_;
  RenderPending();
  QPainter painter(this);
  if (handPanning_) {
    // The picture follows the hand; what it uncovers is background until the drop.
    painter.fillRect(rect(), ToQColor(kMapBackground));
    painter.drawImage(handOffset_, picture_);
    return;
  }
  painter.drawImage(QPoint(0, 0), picture_);
  // A drag's band goes over the layers again after every repaint.
  if (CMapTool* tool = ActiveTool()) tool->DrawOverlay(painter);
}

// Keeps the centre and the width of the view as the window changes size.
void CMapWnd::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  view_.Resize(event->size().width(), event->size().height());
  InvalidateMap(true);
}

// Arrow keys pan; A zooms to all files, I in and O out.
void CMapWnd::keyPressEvent(QKeyEvent* event) {
  // Esc ends a drag in progress without its action; the key goes no further.
  if (event->key() == Qt::Key_Escape && capture_) {
    ReleaseCapture();
    if (CRubberBand* band = CRubberBand::Current()) {
      band->Draw(*this, kBandEraseOnly);
      delete band;
    }
    event->accept();
    return;
  }
  // Esc clears the measured points.
  if (event->key() == Qt::Key_Escape && measureTool_ && !measureTool_->Points().empty()) {
    measureTool_->Clear();
    event->accept();
    return;
  }
  switch (VirtualKeyOf(event->key())) {
    case kKeyLeft: view_.PanLeft(); break;
    case kKeyUp: view_.PanUp(); break;
    case kKeyRight: view_.PanRight(); break;
    case kKeyDown: view_.PanDown(); break;
    case kKeyZoomAll: {
      std::vector<MapRect> bounds;
      if (LayerList* list = layers_) {
        for (const Layer* layer : list->Layers()) bounds.push_back(layer->GetBounds());
      }
      view_.ZoomAll(bounds);
      break;
    }
    case kKeyZoomIn: view_.ZoomIn(nullptr); break;
    case kKeyZoomOut: view_.ZoomOut(nullptr); break;
    default: break;
  }
  // Every key, handled or not, goes on as the default handling would take it.
  QWidget::keyPressEvent(event);
}

// Hands a button press to the active tool; the left button also takes the focus.
void CMapWnd::mousePressEvent(QMouseEvent* event) {
  const QPoint at = EventPoint(event);
  // The middle button moves the map with either tool.
  if (event->button() == Qt::MiddleButton) {
    handPanning_ = true;
    handStart_ = at;
    handOffset_ = QPoint();
    QGuiApplication::setOverrideCursor(Qt::ClosedHandCursor);
    event->accept();
    return;
  }
  const unsigned flags = MouseFlags(event->buttons(), event->modifiers());
  if (event->button() == Qt::LeftButton) {
    if (CMapTool* tool = ActiveTool()) tool->OnLButtonDown(flags, at.x(), at.y());
    setFocus(Qt::MouseFocusReason);
  } else if (event->button() == Qt::RightButton) {
    if (CMapTool* tool = ActiveTool()) tool->OnRButtonDown(flags, at.x(), at.y());
  }
  event->accept();
}

// Hands a button release to the active tool.
void CMapWnd::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint at = EventPoint(event);
  if (event->button() == Qt::MiddleButton) {
    if (handPanning_) {
      handPanning_ = false;
      QGuiApplication::restoreOverrideCursor();
      if (at != handStart_) {
        view_.PanByPixels(handStart_.x(), handStart_.y(), at.x(), at.y());
      } else {
        update();
      }
    }
    event->accept();
    return;
  }
  const unsigned flags = MouseFlags(event->buttons(), event->modifiers());
  CMapTool* tool = ActiveTool();
  if (tool && event->button() == Qt::LeftButton) tool->OnLButtonUp(flags, at.x(), at.y());
  if (tool && event->button() == Qt::RightButton) tool->OnRButtonUp(flags, at.x(), at.y());
  event->accept();
}

// Hands a move to the active tool.
void CMapWnd::mouseMoveEvent(QMouseEvent* event) {
  // A drag whose button came up elsewhere (a menu or dialog took the release)
  // is over; its band goes without an action.
  if (capture_ && !(event->buttons() & Qt::LeftButton)) {
    ReleaseCapture();
    if (CRubberBand* band = CRubberBand::Current()) {
      band->Draw(*this, kBandEraseOnly);
      delete band;
    }
  }
  const QPoint at = EventPoint(event);
  if (pointer_) {
    const MapPoint point = MapPointAt(view_.Transform(), at);
    pointer_(&point);
  }
  if (handPanning_) {
    handOffset_ = at - handStart_;
    update();
    event->accept();
    return;
  }
  if (CMapTool* tool = ActiveTool()) tool->OnMouseMove(MouseFlags(event->buttons(), event->modifiers()), at.x(), at.y());
  event->accept();
}

// The second press of a double click comes as this alone, not as a press.
void CMapWnd::mouseDoubleClickEvent(QMouseEvent* event) {
  const QPoint at = EventPoint(event);
  const unsigned flags = MouseFlags(event->buttons(), event->modifiers());
  CMapTool* tool = ActiveTool();
  if (tool && event->button() == Qt::LeftButton) tool->OnLButtonDblClk(flags, at.x(), at.y());
  if (tool && event->button() == Qt::RightButton) tool->OnRButtonDblClk(flags, at.x(), at.y());
  event->accept();
}

// Hands the turns of the wheel, in screen pixels, to the active tool: one
// step per notch (120 eighths of a degree), however finely a smooth-scrolling
// wheel or a touchpad splits it into events.
void CMapWnd::wheelEvent(QWheelEvent* event) {
  event->accept();
  // Sideways scrolling and a touchpad's bookkeeping events carry no vertical
  // turn; only a turn of the wheel zooms.
  const int delta = event->angleDelta().y();
  if (delta == 0) return;
  // A turn the other way starts afresh rather than first undoing the part notch.
  if ((delta > 0) != (wheelTurn_ > 0)) wheelTurn_ = 0;
  wheelTurn_ += delta;
  const QPoint global = event->globalPosition().toPoint();
  while (wheelTurn_ >= kWheelNotch || wheelTurn_ <= -kWheelNotch) {
    const int step = wheelTurn_ > 0 ? kWheelNotch : -kWheelNotch;
    wheelTurn_ -= step;
    if (CMapTool* tool = ActiveTool()) {
      tool->OnMouseWheel(MouseFlags(event->buttons(), event->modifiers()), step, global.x(), global.y());
    }
  }
}

// The pointer left: no position to tell.
void CMapWnd::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  if (pointer_) pointer_(nullptr);
}

// Marks a drag as begun in this window.
void CMapWnd::SetCapture() { capture_ = true; }

// Marks the drag as over.
void CMapWnd::ReleaseCapture() { capture_ = false; }

// The layers window's active layer, unless it is still being read.
Layer* CMapWnd::GetActiveLayer() const {
  LayerList* list = layers_;
  Layer* layer = list ? list->GetActiveLayer() : nullptr;
  // A layer still being read is not the tools' to select in or edit, nor
  // one the user has hidden.
  if (layer && (layer->IsLoading() || layer->IsHidden())) return nullptr;
  return layer;
}

// Selects records of the active layer in a map rectangle.
bool CMapWnd::SelectInRect(const MapRect& rect, bool extend) {
  return LayerList::SelectInRect(GetActiveLayer(), rect, extend);
}

// Opens the attributes of the active layer's one selected record.
void CMapWnd::EditSelectedAttributes() {
  if (Layer* layer = GetActiveLayer()) kestrune::EditSelectedAttributes(*layer, this);
}

// Shows the active layer's menu at a map point and hands the choice back.
void CMapWnd::ShowContextMenu(const MapPoint& at) {
  Layer* layer = GetActiveLayer();
  if (!layer) return;
  MenuItems items;
  const bool wantsChoice = BuildSelectionMenu(*layer, items);
  if (items.empty()) return;
  // No parent: the menu must not be deleted with the window while it runs.
  QMenu menu;
  menu.setObjectName(QStringLiteral("MapContextMenu"));
  for (const MenuItem& item : items) {
    QAction* action = menu.addAction(LangQString(item.text.c_str()));
    action->setData(item.commandId);
  }
  MapPoint pixel = at;
  view_.Transform().WorldToDevice(pixel);
  QPointer<CMapWnd> self(this);
  QAction* chosen = menu.exec(mapToGlobal(QPoint(pixel.x, pixel.y)));
  // The menu ran its own event loop: the window or the layer may be gone.
  if (!self || !chosen || !wantsChoice || !IsOpenLayer(layers_, layer)) return;
  RunSelectionCommand(*layer, chosen->data().toInt(), this);
}

}  // namespace kestrune
