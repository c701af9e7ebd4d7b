#include "layers/gui/CLayersWnd.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTimer>

#include "base/gui/AppFont.h"
#include "base/Platform.h"
#include "base/gui/AppResources.h"
#include "geo/gui/QPainterCanvas.h"
#include "lang/gui/LangWidgets.h"
#include "lang/LangString.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "layers/TargetTheme.h"
#include "layers/LayerStats.h"
#include "shapes/DbfTable.h"

namespace kestrune {

namespace {

// Where a line keeps its item.
constexpr int kItemRole = Qt::UserRole;
// Where a theme box line keeps its field number.
constexpr int kFieldRole = Qt::UserRole;

// The fonts' height: the program's family with an em of 14 pixels, a cell
// height of about 16.
constexpr int kFontPixelSize = 14;

// Geometry of a colour line's swatch and texts.
constexpr int kSwatchLeft = 5;
constexpr int kSwatchRight = 21;
constexpr int kSwatchInset = 2;
constexpr int kColorTextLeft = 25;
constexpr int kFileIconLeft = 17;
constexpr int kFileTextLeft = 37;
constexpr int kTwoColumnInset = 3;
// The check box of a file line and the room it takes before the name.
constexpr int kShownBoxSize = 14;
constexpr int kShownBoxWidth = 18;

// Whether the layer is still one of the open layers.
bool IsOpenLayer(const LayerList* list, const Layer* layer) {
  if (!list || !layer) return false;
  const std::vector<Layer*>& layers = list->Layers();
  return std::find(layers.begin(), layers.end(), layer) != layers.end();
}

// An item's text for display.
QString TextOf(const std::string& text) { return QString::fromStdString(text); }

// Where a file line's check box sits: right of the file icon.
QRect ShownBoxRect(const QRect& line) {
  return QRect(line.left() + kFileTextLeft + 1, line.top() + (line.height() - kShownBoxSize) / 2, kShownBoxSize,
               kShownBoxSize);
}

// Draws the check box of a file line in the style's look.
void DrawShownBox(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) {
  QStyleOptionViewItem box(option);
  box.rect = ShownBoxRect(option.rect);
  box.state &= ~QStyle::State_HasFocus;
  box.state |= index.data(Qt::CheckStateRole).toInt() == Qt::Checked ? QStyle::State_On : QStyle::State_Off;
  const QWidget* widget = option.widget;
  QStyle* style = widget ? widget->style() : QApplication::style();
  style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &box, painter, widget);
}

// Draws the lines of both lists as the window's items say: file lines with
// the icon and the active mark, colour lines with a swatch, two-column lines.
class LayersItemDelegate : public QStyledItemDelegate {
 public:
  // Draws with the window's fonts and pictures.
  explicit LayersItemDelegate(CLayersWnd* window) : QStyledItemDelegate(window), window_(window) {}

  // Draws one line by its item's kind.
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const LayerListItem* item = reinterpret_cast<const LayerListItem*>(index.data(kItemRole).value<quintptr>());
    // A line without an item is not drawn.
    if (!item) return;
    const QRect r = option.rect;
    const int bottom = r.top() + r.height();  // excluded: a box covers its left and top edges only
    painter->save();
    // The list's own colours (white and black in a light theme), so a dark theme stays readable.
    painter->fillRect(r, option.palette.color(QPalette::Base));
    painter->setFont(window_->NormalFont());
    painter->setPen(option.palette.color(QPalette::Text));
    const int flags = Qt::AlignVCenter | Qt::TextSingleLine;
    switch (item->kind) {
      case kItemFile:
        painter->drawPixmap(QRect(r.left() + kFileIconLeft, r.top(), kLayersBitmapSize, kLayersBitmapSize),
                            window_->FileIcon());
        if (option.state & QStyle::State_Selected) {
          painter->drawPixmap(QRect(r.left(), r.top(), kLayersBitmapSize, kLayersBitmapSize), window_->ActiveMark());
        }
        DrawShownBox(painter, option, index);
        painter->drawText(QRect(r.left() + kFileTextLeft + kShownBoxWidth, r.top(),
                                std::max(0, r.width() - kFileTextLeft - kShownBoxWidth), r.height()),
                          flags | Qt::AlignLeft, TextOf(item->text));
        break;
      case kItemTwoColumn:
        painter->drawText(QRect(r.left() + kTwoColumnInset, r.top(), std::max(0, r.width() - 2 * kTwoColumnInset), r.height()),
                          flags | Qt::AlignLeft, TextOf(item->text));
        painter->drawText(QRect(r.left() + kTwoColumnInset, r.top(), std::max(0, r.width() - 2 * kTwoColumnInset), r.height()),
                          flags | Qt::AlignRight, TextOf(item->text2));
        break;
      default: {
        {
          QPainterCanvas canvas(*painter);
          const QColor text = option.palette.color(QPalette::Text);
          canvas.SetPen(Pen{PenStyle::Solid, 0, RGBColor(text.red(), text.green(), text.blue())});
          canvas.SetBrush(SolidBrush(item->color));
          canvas.Rectangle(r.left() + kSwatchLeft, r.top() + kSwatchInset, r.left() + kSwatchRight, bottom - kSwatchInset);
        }
        painter->drawText(QRect(r.left() + kColorTextLeft, r.top(), std::max(0, r.width() - kColorTextLeft), r.height()),
                          flags | Qt::AlignLeft, TextOf(item->text));
        break;
      }
    }
    painter->restore();
  }

  // A click on a file line's check box, or the space bar on the line, shows or hides its layer.
  bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
    // Only file lines carry a box (every line of a list widget counts as checkable).
    const LayerListItem* item = reinterpret_cast<const LayerListItem*>(index.data(kItemRole).value<quintptr>());
    if (!item || item->kind != kItemFile) return false;
    bool toggle = false;
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease || type == QEvent::MouseButtonDblClick) {
      // The box is the press's alone: taken here, the press neither selects
      // the line nor makes its file active, and release and double click
      // in the box do nothing more.
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() != Qt::LeftButton || !ShownBoxRect(option.rect).contains(mouse->position().toPoint())) {
        return false;
      }
      if (type != QEvent::MouseButtonPress) return true;
      toggle = true;
    } else if (type == QEvent::KeyPress) {
      toggle = static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space;
    }
    if (!toggle) return false;
    const bool shown = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    return model->setData(index, shown ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
  }

  // Every line is 20 pixels high.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
    return QSize(option.rect.width(), kLayersItemHeight);
  }

 private:
  CLayersWnd* window_;
};

// A list box as both lists are: owner-drawn lines of one height, a border
// with the sunken edge, a vertical scroll bar when needed, one selected line.
QListWidget* MakeList(CLayersWnd* window, int id, QAbstractItemDelegate* delegate) {
  auto* list = new QListWidget(window);
  list->setObjectName(QStringLiteral("List%1").arg(id));
  list->setItemDelegate(delegate);
  list->setUniformItemSizes(true);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  return list;
}

// A label as the window's three are: bold, translated, top left.
QLabel* MakeLabel(CLayersWnd* window, int id, const char* text, const QFont& font) {
  auto* label = new QLabel(LangQString(text), window);
  label->setObjectName(QStringLiteral("Label%1").arg(id));
  label->setFont(font);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

}  // namespace

// Makes the fonts, the pictures and the children; the first size places them.
CLayersWnd::CLayersWnd(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("LayersWnd"));
  boldFont_ = AppFont(kFontPixelSize, true);
  normalFont_ = AppFont(kFontPixelSize, false);
  fileIcon_ = AppBitmap(kFileIconBitmapId);
  activeMark_ = AppBitmap(kActiveMarkBitmapId);

  auto* delegate = new LayersItemDelegate(this);
  filesLabel_ = MakeLabel(this, kIdOpenFilesLabel, kTextOpenFiles, boldFont_);
  legendLabel_ = MakeLabel(this, kIdLegendLabel, kTextLegend, boldFont_);
  fileList_ = MakeList(this, kIdFileList, delegate);
  legendList_ = MakeList(this, kIdLegendList, delegate);
  themeLabel_ = MakeLabel(this, kIdThemeLabel, kTextTheme, boldFont_);
  themeBox_ = new QComboBox(this);
  themeBox_->setObjectName(QStringLiteral("Combo%1").arg(kIdThemeBox));
  themeBox_->setFont(normalFont_);
  themeBox_->setEditable(false);

  connect(fileList_, &QListWidget::itemSelectionChanged, this, [this] {
    // The newly selected line's layer is active before anyone reads it.
    ActivateSelectedLine();
    OnFileSelected();
  });
  connect(fileList_, &QListWidget::itemDoubleClicked, this, [this] { OnFileDoubleClicked(); });
  connect(fileList_, &QListWidget::itemChanged, this, &CLayersWnd::OnFileLineChanged);
  // Dragging a file line up or down changes the drawing order; the list's own
  // move is taken up once it is over.
  fileList_->setDragDropMode(QAbstractItemView::InternalMove);
  fileList_->setDefaultDropAction(Qt::MoveAction);
  const auto orderLater = [this] { QTimer::singleShot(0, this, &CLayersWnd::TakeOrderFromLines); };
  connect(fileList_->model(), &QAbstractItemModel::rowsMoved, this, orderLater);
  connect(fileList_->model(), &QAbstractItemModel::rowsInserted, this, orderLater);
  // A move made of a copy and a removal is over only once the removal is.
  connect(fileList_->model(), &QAbstractItemModel::rowsRemoved, this, orderLater);
  connect(themeBox_, QOverload<int>::of(&QComboBox::activated), this, &CLayersWnd::OnThemeSelected);
  connect(legendList_, &QListWidget::itemDoubleClicked, this, [this] { OnLegendDoubleClicked(); });
  // The theme field's statistics, on the legend's context menu.
  auto* stats = new QAction(QString::fromStdString(LangText(kTextThemeStatistics)), legendList_);
  stats->setObjectName(QStringLiteral("ThemeStatistics"));
  legendList_->addAction(stats);
  legendList_->setContextMenuPolicy(Qt::ActionsContextMenu);
  connect(stats, &QAction::triggered, this, [this] {
    Layer* layer = GetActiveLayer();
    if (!layer) return;
    const std::vector<double> values = LegendColumnValues(*layer);
    const std::string text =
        values.empty() ? LangText(kMsgNoThemeStatistics) : ValueStatsText(ComputeValueStats(values));
    ShowMessage(MessageRequest{text, LangText(kTextThemeStatistics), MessageIcon::Information, MessageButtons::Ok});
  });
  Layout();
}

// Empties the lists before the items they point at go.
CLayersWnd::~CLayersWnd() {
  // The lines point at the items; they go first.
  const QSignalBlocker blockFiles(fileList_);
  fileList_->clear();
  legendList_->clear();
}

// The item a list line keeps.
const LayerListItem* CLayersWnd::ItemOf(const QListWidgetItem* line) {
  if (!line) return nullptr;
  return reinterpret_cast<const LayerListItem*>(line->data(kItemRole).value<quintptr>());
}

// The active layer, while it is still open.
Layer* CLayersWnd::GetActiveLayer() const {
  // A layer closed since the last refresh is no longer anyone's to act on.
  return IsOpenLayer(layers_, active_) ? active_ : nullptr;
}

// Makes a layer the active one, for the map's tools too, and tells the frame.
void CLayersWnd::SetActive(Layer* layer) {
  const bool changed = layer != active_;
  active_ = layer;
  if (LayerList* list = layers_) list->SetActiveLayer(layer);
  if (changed && activeChanged_) activeChanged_();
}

// Adds a line for an item the window keeps.
void CLayersWnd::AddLine(QListWidget* list, std::vector<std::unique_ptr<LayerListItem>>& items,
                         std::unique_ptr<LayerListItem> item, bool atTop) {
  auto* line = new QListWidgetItem();
  line->setData(kItemRole, QVariant::fromValue(reinterpret_cast<quintptr>(item.get())));
  // The text lets a typed letter find the line (and serves accessibility);
  // the delegate draws the line.
  line->setText(TextOf(item->text));
  line->setSizeHint(QSize(0, kLayersItemHeight));
  items.push_back(std::move(item));
  if (atTop) {
    list->insertItem(0, line);
  } else {
    list->addItem(line);
  }
}

// Lists the open files newest first; the newest becomes active; then the theme.
void CLayersWnd::RefreshFileList() {
  {
    const QSignalBlocker block(fileList_);
    fileList_->clear();
    fileItems_.clear();
    SetActive(nullptr);
    if (LayerList* list = layers_) {
      for (Layer* layer : list->Layers()) {
        auto item = std::make_unique<LayerListItem>();
        item->kind = kItemFile;
        item->text = layer->GetFileName();
        item->color = 0;
        item->layer = layer;
        AddLine(fileList_, fileItems_, std::move(item), false);
        // The check box shows or hides the layer; a line can be dragged up or down.
        QListWidgetItem* line = fileList_->item(fileList_->count() - 1);
        line->setFlags(line->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsDragEnabled);
        line->setCheckState(layer->IsHidden() ? Qt::Unchecked : Qt::Checked);
      }
    }
    if (fileList_->count() > 0) fileList_->setCurrentRow(0);
  }
  // Selecting the head line makes the newest layer active at once.
  ActivateSelectedLine();
  RefreshTheme();
}

// The selected line's layer becomes active, clearing the old active layer's selection.
void CLayersWnd::ActivateSelectedLine() {
  const QList<QListWidgetItem*> selected = fileList_->selectedItems();
  const LayerListItem* item = selected.isEmpty() ? nullptr : ItemOf(selected.front());
  if (!item) return;
  if (Layer* before = GetActiveLayer()) before->ClearSelection();
  SetActive(item->layer);
}

// A new file line chosen: its layer is active and the theme follows.
void CLayersWnd::OnFileSelected() {
  if (Layer* before = GetActiveLayer()) before->ClearSelection();
  const QList<QListWidgetItem*> selected = fileList_->selectedItems();
  const LayerListItem* item = selected.isEmpty() ? nullptr : ItemOf(selected.front());
  SetActive(item ? item->layer : nullptr);
  RefreshTheme();
}

// Zooms the map to the active file.
void CLayersWnd::OnFileDoubleClicked() {
  Layer* layer = GetActiveLayer();
  if (!layer || !zoom_) return;
  MapRect bounds = layer->GetBounds();
  // A file without records has no place on the map; the view stays.
  if (bounds.left > bounds.right || bounds.top > bounds.bottom) return;
  zoom_(bounds);
}

// A file line's check box changed: its layer is shown or hidden.
void CLayersWnd::OnFileLineChanged(QListWidgetItem* line) {
  const LayerListItem* item = ItemOf(line);
  if (!item || !IsOpenLayer(layers_, item->layer)) return;
  const bool hidden = line->checkState() != Qt::Checked;
  if (item->layer->IsHidden() == hidden) return;
  item->layer->SetHidden(hidden);
  item->layer->RequestRepaint();
}

// The layers take the order of the file lines, top line drawn last.
void CLayersWnd::TakeOrderFromLines() {
  LayerList* list = layers_;
  if (!list) return;
  std::vector<Layer*> order;
  for (int row = 0; row < fileList_->count(); ++row) {
    const LayerListItem* item = ItemOf(fileList_->item(row));
    if (item) order.push_back(item->layer);
  }
  // A move half done (or lines out of date) leaves the order as it is.
  // The list tells the map of the new order.
  if (order == list->Layers() || !list->SetOrder(order)) return;
}

// Offers the active layer's numeric and text fields, its legend column chosen; then the legend.
void CLayersWnd::RefreshTheme() {
  {
    // Filling the box is no choice of the user's.
    const QSignalBlocker block(themeBox_);
    themeBox_->clear();
    int selected = -1;
    if (Layer* layer = GetActiveLayer()) {
      DbfTable table;
      if (table.Open(layer->GetTablePath())) {
        const int count = table.GetFieldCount();
        for (int field = 1; field <= count; ++field) {
          // Numbers colour through the legend, text fields by category.
          const DbfField* f = table.GetField(field);
          if (!f || !IsThemeField(*f)) continue;
          const std::string& name = f->name;
          themeBox_->addItem(QString::fromLatin1(name.c_str()), field);
          if (field == layer->GetLegendColumn()) selected = themeBox_->count() - 1;
        }
      }
      table.Close();
      // A Z or M file also colours by its Z or M values, a log with a target by
      // its rate against the target.
      for (const auto& [label, column] : ComputedThemeChoices(*layer)) {
        themeBox_->addItem(QString::fromStdString(label), column);
        if (column == layer->GetLegendColumn()) selected = themeBox_->count() - 1;
      }
    }
    // Qt would show the first field as chosen; nothing is until a field matches.
    themeBox_->setCurrentIndex(selected);
  }
  RefreshLegend();
}

// Shows the active layer's legend, highest class first, or its solid colour.
void CLayersWnd::RefreshLegend() {
  legendList_->clear();
  legendItems_.clear();
  Layer* layer = GetActiveLayer();
  if (!layer) return;
  if (layer->GetColorMethod() == kColorMethodSolid) {
    auto item = std::make_unique<LayerListItem>();
    item->kind = kItemColor;
    item->text = LangText(kLabelSolidColor);
    item->color = layer->GetSolidColor();
    AddLine(legendList_, legendItems_, std::move(item), false);
    return;
  }
  if (layer->IsCategorised()) {
    // The values in the order they first appear, "Other" last.
    for (const CategoryLegend::Line& line : layer->GetCategories().GetLines()) {
      auto item = std::make_unique<LayerListItem>();
      item->kind = kItemColor;
      item->text = line.label;
      item->color = line.color;
      AddLine(legendList_, legendItems_, std::move(item), false);
    }
    return;
  }
  const Legend& legend = layer->GetLegend();
  const std::vector<std::string> labels = legend.GetClassLabels();
  const std::vector<LegendEntry>& entries = legend.GetEntries();
  // Lowest class first, each at the top: the highest class ends up first.
  for (std::size_t i = 0; i < entries.size() && i < labels.size(); ++i) {
    auto item = std::make_unique<LayerListItem>();
    item->kind = kItemColor;
    item->text = labels[i];
    item->color = entries[i].color;
    AddLine(legendList_, legendItems_, std::move(item), true);
  }
}

// Colours the active layer by the chosen field.
void CLayersWnd::OnThemeSelected(int index) {
  Layer* layer = GetActiveLayer();
  // A layer still being read has no values to colour by yet.
  if (layer && index >= 0 && !layer->IsLoading()) {
    layer->SetThemeField(static_cast<int16_t>(themeBox_->itemData(index, kFieldRole).toInt()));
  }
  RefreshLegend();
}

// Edits the legend (or, under the solid colour or categories, the display settings).
void CLayersWnd::OnLegendDoubleClicked() {
  Layer* layer = GetActiveLayer();
  if (!layer || layer->IsLoading()) return;
  if (layer->GetColorMethod() != kColorMethodSolid && !layer->IsCategorised()) {
    Legend copy = layer->GetLegend();
    if (legendSetup_ && legendSetup_(copy, this) && IsOpenLayer(layers_, layer)) {
      // A legend that differs from the file's is written when the layer closes.
      if (copy.GetEntries() != layer->GetLegend().GetEntries()) copy.SetChanged(true);
      layer->SetLegend(copy);
    }
    // The dialog ran its own event loop; the layer may have been closed meanwhile.
    if (!IsOpenLayer(layers_, layer)) {
      RefreshLegend();
      return;
    }
    layer->ApplyColors();
    layer->RequestRepaint();
  } else if (displayDialog_) {
    displayDialog_(layer);
  }
  RefreshLegend();
}

// Fills the window in the colour of button faces.
void CLayersWnd::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Button));
}

// Places the children for the new size.
void CLayersWnd::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Layout();
}

// Places the labels, lists and box from the client height.
void CLayersWnd::Layout() {
  const int top = 0;
  const int right = width();
  const int h = height();
  // Integer parts, truncated toward zero; a very short pane gives negative
  // heights, which place the children but size the lists to nothing.
  const int f = static_cast<int>(h * 0.25 - 32);
  const int l = static_cast<int>(h * 0.4 - 67);
  const int labelWidth = std::max(0, right - 5);
  const int listWidth = std::max(0, right - 3);
  filesLabel_->setGeometry(3, top + 5, labelWidth, 17);
  fileList_->setGeometry(1, top + 22, listWidth, std::max(0, f));
  themeLabel_->setGeometry(3, top + 32 + f, labelWidth, 17);
  // The box's own height; its list drops down below it.
  themeBox_->setGeometry(1, top + 49 + f, listWidth, themeBox_->sizeHint().height());
  legendLabel_->setGeometry(3, top + 84 + f, labelWidth, 17);
  legendList_->setGeometry(1, top + 101 + f, listWidth, std::max(0, l));
  for (QWidget* child : {static_cast<QWidget*>(filesLabel_), static_cast<QWidget*>(fileList_),
                         static_cast<QWidget*>(themeLabel_), static_cast<QWidget*>(themeBox_),
                         static_cast<QWidget*>(legendLabel_), static_cast<QWidget*>(legendList_)}) {
    child->show();
  }
}

}  // namespace kestrune
