// The layers window: the narrow pane left of the map with the open files
// (newest first), the "Theme" box of the active file's numeric fields and the
// legend of the active file. The layer of the selected file line is the
// active layer, which the main window's layer commands act on.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QFont>
#include <QPixmap>
#include <QWidget>

#include "base/gui/PaneInterfaces.h"
#include "geo/MapPoint.h"

class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;

namespace kestrune {

class Layer;
class LayerList;
class Legend;

// Control ids of the window's children.
constexpr int kIdOpenFilesLabel = 201;
constexpr int kIdLegendLabel = 202;
constexpr int kIdThemeLabel = 204;
constexpr int kIdFileList = 101;
constexpr int kIdLegendList = 102;
constexpr int kIdThemeBox = 104;

// Label texts.
constexpr const char* kTextOpenFiles = "#10000025:Open Files";
constexpr const char* kTextLegend = "#10000026:Legend";
constexpr const char* kTextTheme = "#10000028:Theme";

// Kinds of list lines.
constexpr int kItemFile = 0;
constexpr int kItemColor = 2;      // a legend class or the solid colour
constexpr int kItemTwoColumn = 3;  // text left, text 2 right-aligned

// Every line of both lists is this many pixels high.
constexpr int kLayersItemHeight = 20;
// The file icon and the active mark are this size.
constexpr int kLayersBitmapSize = 20;

// One line of the file list or of the legend list.
struct LayerListItem {
  int kind = kItemColor;
  std::string text;
  std::string text2;
  Color color = kNeutralColor;
  Layer* layer = nullptr;
};

class CLayersWnd : public QWidget, public ILayersPane {
  Q_OBJECT
 public:
  explicit CLayersWnd(QWidget* parent = nullptr);
  ~CLayersWnd() override;

  // ---- The pane as the main frame sees it.
  QWidget* AsWidget() override { return this; }
  // The layers the window lists (the frame's).
  void SetLayers(LayerList* layers) { layers_ = layers; }
  LayerList* Layers() const { return layers_; }
  void RefreshFileList() override;
  void RefreshLegend() override;
  Layer* GetActiveLayer() const override;

  // Rebuilds the theme box for the active layer, then the legend.
  void RefreshTheme();

  // ---- What the window asks of others; the main frame installs these.
  // Zooms the map to a rectangle with the margin (a double click on a file).
  void SetZoomHandler(std::function<void(MapRect&)> handler) { zoom_ = std::move(handler); }
  // Runs the Display dialog for a layer (a double click on a solid colour legend).
  void SetDisplayDialogHandler(std::function<void(Layer*)> handler) { displayDialog_ = std::move(handler); }
  // Runs the Legend setup dialog on a legend copy; true when it ended with OK.
  void SetLegendSetupHandler(std::function<bool(Legend&, QWidget*)> handler) {
    legendSetup_ = std::move(handler);
  }
  // Told whenever the active layer changes (the frame's commands follow it).
  void SetActiveLayerChangedHandler(std::function<void()> handler) { activeChanged_ = std::move(handler); }

  // ---- The children and their lines, for the frame and for tests.
  QListWidget* FileList() const { return fileList_; }
  QListWidget* LegendList() const { return legendList_; }
  QComboBox* ThemeBox() const { return themeBox_; }
  QLabel* OpenFilesLabel() const { return filesLabel_; }
  QLabel* ThemeLabel() const { return themeLabel_; }
  QLabel* LegendLabel() const { return legendLabel_; }
  // The item a line shows, or none.
  static const LayerListItem* ItemOf(const QListWidgetItem* line);
  const QFont& NormalFont() const { return normalFont_; }
  const QPixmap& FileIcon() const { return fileIcon_; }
  const QPixmap& ActiveMark() const { return activeMark_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  LayerList* layers_ = nullptr;
  // Places the children from the client height.
  void Layout();
  // The selected file line's layer becomes active (clearing the selection of
  // the layer active before); what drawing a selected line does.
  void ActivateSelectedLine();
  void OnFileSelected();
  void OnFileDoubleClicked();
  void OnFileLineChanged(QListWidgetItem* line);
  void TakeOrderFromLines();
  void OnThemeSelected(int index);
  void OnLegendDoubleClicked();
  void SetActive(Layer* layer);
  // Appends (or, at the top, inserts) a line for an item the list keeps.
  void AddLine(QListWidget* list, std::vector<std::unique_ptr<LayerListItem>>& items,
               std::unique_ptr<LayerListItem> item, bool atTop);

  QLabel* filesLabel_ = nullptr;
  QLabel* legendLabel_ = nullptr;
  QListWidget* fileList_ = nullptr;
  QListWidget* legendList_ = nullptr;
  QLabel* themeLabel_ = nullptr;
  QComboBox* themeBox_ = nullptr;
  Layer* active_ = nullptr;
  std::vector<std::unique_ptr<LayerListItem>> fileItems_;
  std::vector<std::unique_ptr<LayerListItem>> legendItems_;
  QFont boldFont_;
  QFont normalFont_;
  QPixmap fileIcon_;
  QPixmap activeMark_;

  std::function<void(MapRect&)> zoom_;
  std::function<void(Layer*)> displayDialog_;
  std::function<bool(Legend&, QWidget*)> legendSetup_;
  std::function<void()> activeChanged_;
};

}  // namespace kestrune
