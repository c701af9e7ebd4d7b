// The map window: the right-hand pane of the main window. It draws every open
// layer, oldest first, through its view, hands every mouse message to the
// active tool (the zoom tool while it exists, else the select tool), and turns
// the arrow keys and A, I and O into pans and zooms.
#pragma once

#include <functional>
#include <memory>

#include <QImage>
#include <QRegion>
#include <QWidget>

#include "base/gui/PaneInterfaces.h"
#include "mapview/MapView.h"
#include "shapes/Shape.h"

namespace kestrune {

class CMapTool;
class CSelectTool;
class CZoomTool;
class CMeasureTool;
class Layer;
class LayerList;

// Keys the map window handles.
constexpr int kKeyLeft = 37;
constexpr int kKeyUp = 38;
constexpr int kKeyRight = 39;
constexpr int kKeyDown = 40;
constexpr int kKeyZoomAll = 65;  // A
constexpr int kKeyZoomIn = 73;   // I
constexpr int kKeyZoomOut = 79;  // O

// The map's background where no layer draws.
constexpr Color kMapBackground = 0xFFFFFF;

class CMapWnd : public QWidget, public IMapPane, public InvalidateTarget {
  Q_OBJECT
 public:
  explicit CMapWnd(QWidget* parent = nullptr);
  ~CMapWnd() override;

  // ---- The pane as the main frame sees it.
  QWidget* AsWidget() override { return this; }
  void ToggleZoomTool() override;
  bool IsZoomToolActive() const override { return zoomTool_ != nullptr; }
  // The measure tool replaces the zoom tool while it exists, and the other way round.
  void ToggleMeasureTool() override;
  bool IsMeasureToolActive() const override { return measureTool_ != nullptr; }
  CMeasureTool* MeasureTool() const { return measureTool_.get(); }
  // Told the measure tool's text (empty when the tool goes); the frame shows it.
  void SetMeasureHandler(std::function<void(const std::string&)> handler) { measure_ = std::move(handler); }
  void ShowMeasureText(const std::string& text) {
    if (measure_) measure_(text);
  }
  MapView& GetMapView() override { return view_; }
  void InvalidateMap(bool erase) override;
  void Print() override;

  // ---- The layers the window shows, and what it does when they signal.
  // The window listens to the list (the frame's, or a tool's) from now on.
  void SetLayers(LayerList* layers);
  LayerList* Layers() const { return layers_; }
  // Draws records of the layer over the current picture at once (a selection just made).
  void DrawRecordsNow(Layer& layer, Shape* const* records, std::size_t count);
  // Paints a map area again (kWholeMap: all of it).
  void RepaintMapArea(const MapRect& area);
  void InvalidateRect(const DeviceRect& rect, bool erase) override;
  // How often the window has painted itself.
  int PaintCount() const { return paintCount_; }
  // How often a pan moved the picture rather than drawing it all again.
  int MovedPictureCount() const { return movedPictures_; }

  CMapTransform& Transform() { return view_.Transform(); }
  // The tool mouse messages go to.
  CMapTool* ActiveTool() const;

  // ---- What the tools use.
  // The mouse capture of a drag: set by a button down, released by its button up.
  void SetCapture();
  void ReleaseCapture();
  bool HasCapture() const { return capture_; }
  // The layer the tools work on: the layers window's active layer, unless it
  // is still being read.
  Layer* GetActiveLayer() const;
  // Selects in the active layer (see LayerList::SelectInRect); false with none.
  bool SelectInRect(const MapRect& rect, bool extend);
  // The active layer's attribute report of its one selected record.
  void EditSelectedAttributes();
  // The active layer's right-button menu at a map point; its choice runs on
  // the selection (SelectionCommands.h).
  void ShowContextMenu(const MapPoint& at);

  // Printing is another window's work; the frame installs it here.
  void SetPrintHandler(std::function<void()> handler) { print_ = std::move(handler); }
  // Told the map point under the pointer as it moves over the window, and
  // none when it leaves (the frame's status bar shows the position).
  void SetPointerHandler(std::function<void(const MapPoint*)> handler) { pointer_ = std::move(handler); }
  // Told after every change of the view (zoom, pan, resize).
  void SetViewChangedHandler(std::function<void()> handler) { viewChanged_ = std::move(handler); }
  // Whether a drag with the middle button is moving the map.
  bool IsHandPanning() const { return handPanning_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  // Redraws the invalid part of the picture of the layers.
  void RenderPending();
  // Draws one part of the picture again (all of it: the whole window).
  void RenderPart(const QRect& area);
  // After a pan by whole pixels: moves the picture and marks what came into
  // view to be drawn, or the whole map when the picture cannot be reused.
  void MovePicture(int dx, int dy);

  MapView view_;
  LayerList* layers_ = nullptr;
  int paintCount_ = 0;
  int movedPictures_ = 0;
  std::unique_ptr<CSelectTool> selectTool_;
  std::unique_ptr<CZoomTool> zoomTool_;
  std::unique_ptr<CMeasureTool> measureTool_;
  std::function<void(const std::string&)> measure_;
  bool capture_ = false;
  // The wheel's turn not yet zoomed for, in eighths of a degree; a notch is 120.
  static constexpr int kWheelNotch = 120;
  int wheelTurn_ = 0;
  // The layers as last drawn, and the part of it that must be drawn again.
  // Rubber bands and repaints of uncovered parts reuse the picture, so a map
  // of a million points is not redrawn on every mouse move.
  QImage picture_;
  QRegion invalid_;
  std::function<void()> print_;
  std::function<void(const MapPoint*)> pointer_;
  std::function<void()> viewChanged_;
  // A drag with the middle button: the picture follows the pointer, and the
  // view moves when the button comes up.
  bool handPanning_ = false;
  QPoint handStart_;
  QPoint handOffset_;
};

}  // namespace kestrune
