// The Legend Setup dialog over the grid control.
#include "attributes/gui/LegendSetupDialog.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <QComboBox>
#include <QDir>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QToolTip>

#include "attributes/AttributeRows.h"
#include "attributes/gui/DialogSupport.h"
#include "attributes/gui/HistogramView.h"
#include "base/Platform.h"
#include "base/SafeFile.h"
#include "lang/LangString.h"
#include "layers/Classes.h"
#include "layers/Layer.h"
#include "layers/LayerStats.h"
#include "layers/gui/CLayersWnd.h"

namespace kestrune {

namespace {

constexpr uint32_t kRightAligned = kDtRight | kDtVCenter;
constexpr uint32_t kCentred = kDtCenter | kDtVCenter;
constexpr int kTextCapacity = 64;

// Dialog geometry, in pixels.
constexpr int kMargin = 10;
constexpr int kGridWidth = 300;
constexpr int kButtonWidth = 170;
constexpr int kButtonHeight = 26;
constexpr int kButtonGap = 6;

}  // namespace

// ---------------------------------------------------------------- grid

// Mirrors an Under value into the Over cell of the row above.
void CLegendGrid::OnCellChanged(int row, int col) {
  CSpreadSheet::OnCellChanged(row, col);
  if (col != kColUnder || row < 1 || row >= RowCount()) return;
  double value = 0.0;
  GetCellNumber(row, kColUnder, value);
  // Row 0 is the header: the top class's Under is the open end and never a number.
  if (row - 1 >= kRowTopClass) SetCellNumber(row - 1, kColOver, value);
  emit underChanged();
}

// ---------------------------------------------------------------- dialog

// Builds the controls as the dialog template lays them out.
CLegendSetupDialog::CLegendSetupDialog(Legend& legend, QWidget* parent)
    : CLangDialog(kLegendSetupDialogId, parent), legend_(legend) {
  setObjectName(QString::number(kLegendSetupDialogId));
  setWindowTitle(QString::fromUtf8(kLegendSetupTitle));
  font_ = QFont(QStringLiteral("Arial"));
  font_.setPixelSize(16);
  font_.setWeight(QFont::Normal);

  // The placeholder shows exactly kLegendRowsShown rows (and its border), so
  // the scroll range of row count - kLegendRowsShown reaches the last row.
  const int gridHeight = kLegendRowsShown * CSpreadSheet::RowHeightForFont(font_) + 2;
  auto* placeholder = new QWidget(this);
  placeholder->setObjectName(ControlName(kGridPlaceholderId));
  placeholder->setGeometry(kMargin, kMargin, kGridWidth, gridHeight);

  struct ButtonDef {
    int id;
    const char* text;
  };
  const ButtonDef buttons[] = {{kIdLoadTemplate, kTextLoadTemplate},
                              {kIdSaveTemplate, kTextSaveTemplate},
                              {kIdAddRow, kTextAddRow},
                              {kIdRemoveRow, kTextRemoveRow}};
  const int x = kMargin + kGridWidth + kMargin;
  int y = kMargin;
  for (const ButtonDef& def : buttons) {
    auto* button = new QPushButton(QString::fromUtf8(def.text), this);
    button->setObjectName(ControlName(def.id));
    button->setAutoDefault(false);
    button->setGeometry(x, y, kButtonWidth, kButtonHeight);
    y += kButtonHeight + kButtonGap;
  }
  connect(FindControl<QPushButton>(this, kIdLoadTemplate), &QPushButton::clicked, this,
          &CLegendSetupDialog::LoadTemplate);
  connect(FindControl<QPushButton>(this, kIdSaveTemplate), &QPushButton::clicked, this,
          &CLegendSetupDialog::SaveTemplate);
  connect(FindControl<QPushButton>(this, kIdAddRow), &QPushButton::clicked, this,
          [this] { AddClassRow(); });
  connect(FindControl<QPushButton>(this, kIdRemoveRow), &QPushButton::clicked, this,
          &CLegendSetupDialog::RemoveRow);

  const int bottom = std::max(kMargin + gridHeight, y + kButtonHeight * 2 + kButtonGap);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(ControlName(kIdLegendOk));
  ok->setDefault(true);
  ok->setGeometry(x, bottom - 2 * kButtonHeight - kButtonGap, kButtonWidth, kButtonHeight);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(ControlName(kIdLegendCancel));
  cancel->setAutoDefault(false);
  cancel->setGeometry(x, bottom - kButtonHeight, kButtonWidth, kButtonHeight);
  connect(ok, &QPushButton::clicked, this, &CLegendSetupDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &CLegendSetupDialog::reject);
  setFixedSize(x + kButtonWidth + kMargin, bottom + kMargin);

  // The histogram and the methods, shown once values are given.
  const int width = x + kButtonWidth - kMargin;
  histogram_ = new CHistogramView(this);
  histogram_->setGeometry(kMargin, bottom + kMargin, width, 110);
  method_ = new QComboBox(this);
  method_->setObjectName(QStringLiteral("ClassMethod"));
  for (const char* label : kLabelClassMethods) method_->addItem(QString::fromStdString(LangText(label)));
  classes_ = new QSpinBox(this);
  classes_->setObjectName(QStringLiteral("ClassCount"));
  classes_->setRange(kMinClasses, kMaxClasses);
  classes_->setValue(kMaxClasses);
  apply_ = new QPushButton(QString::fromStdString(LangText(kTextApplyMethod)), this);
  apply_->setObjectName(QStringLiteral("ApplyMethod"));
  apply_->setAutoDefault(false);
  auto* label = new QLabel(QString::fromStdString(LangText(kTextClassMethod)), this);
  const int line = bottom + kMargin + 110 + kMargin;
  label->setGeometry(kMargin, line, 70, kButtonHeight);
  method_->setGeometry(kMargin + 75, line, 200, kButtonHeight);
  classes_->setGeometry(kMargin + 285, line, 60, kButtonHeight);
  apply_->setGeometry(x, line, kButtonWidth, kButtonHeight);
  for (QWidget* w : std::initializer_list<QWidget*>{histogram_, method_, classes_, apply_, label}) w->hide();
  label->setObjectName(QStringLiteral("ClassMethodLabel"));
  connect(apply_, &QPushButton::clicked, this, &CLegendSetupDialog::ApplyMethod);
  connect(histogram_, &CHistogramView::breakMoved, this, &CLegendSetupDialog::OnBreakDragged);
}

void CLegendSetupDialog::SetValues(std::vector<double> values) {
  sorted_.clear();
  for (double v : values) {
    if (!std::isnan(v)) sorted_.push_back(v);
  }
  std::sort(sorted_.begin(), sorted_.end());
  histogram_->SetValues(sorted_);
  for (QWidget* w : std::initializer_list<QWidget*>{histogram_, method_, classes_, apply_,
                                                   findChild<QLabel*>(QStringLiteral("ClassMethodLabel"))}) {
    w->show();
  }
  setFixedSize(width(), apply_->geometry().bottom() + 1 + 10);
  UpdateHistogram();
}

void CLegendSetupDialog::ApplyMethod() {
  if (!grid_ || sorted_.empty()) return;
  if (!grid_->EndEdit()) return;
  const int method = method_->currentIndex();
  const int classes = classes_->value();
  legend_.BuildFromBreaks(ClassBreaks(static_cast<ClassMethod>(method), sorted_, classes), sorted_.back());
  appliedMethod_ = method;
  appliedClasses_ = classes;
  FillGrid();
  UpdateScrollRange();
  UpdateHistogram();
}

void CLegendSetupDialog::UpdateHistogram() {
  if (!grid_ || !histogram_) return;
  // Break rows run from the highest (row 2) down to the lowest class's.
  std::vector<double> breaks;
  std::vector<Color> colours;
  for (int row = grid_->RowCount() - 1; row > kRowTopClass; --row) {
    double value = 0.0;
    grid_->GetCellNumber(row, kColUnder, value);
    breaks.push_back(value);
    colours.push_back(grid_->GetCellBackColour(row, kColColor));
  }
  histogram_->SetBreaks(breaks, colours);
}

void CLegendSetupDialog::OnBreakDragged(int index, double value) {
  const int row = grid_->RowCount() - 1 - index;
  if (row <= kRowTopClass) return;
  const double shown = Legend::RoundTo(value, 2);
  grid_->SetCellNumber(row, kColUnder, shown);
  grid_->SetCellNumber(row - 1, kColOver, shown);
  grid_->Redraw();
}

// Translates the texts, puts the grid over its placeholder and fills it.
void CLegendSetupDialog::OnInitDialog() {
  CLangDialog::OnInitDialog();
  grid_ = new CLegendGrid;
  grid_->setObjectName(QStringLiteral("LegendGrid"));
  // Rows made for the grid's own font are then already tall enough for the cells'.
  grid_->setFont(font_);
  grid_->Create(this, QRect(), kGridPlaceholderId, true);
  // A break takes only a number: text is refused with the column's name.
  grid_->SetNumberRefusal([this](int, int col, const QString& text) {
    ShowMessage(MessageRequest{LangFormat(kAttrNotANumberText, grid_->CellText(kRowHeader, col).toUtf8().constData(),
                                          text.toUtf8().constData()),
                               windowTitle().toStdString(), MessageIcon::Warning, MessageButtons::Ok});
  });
  grid_->ShowHorzScrollBar(false);
  grid_->ShowVertScrollBar(true);
  connect(grid_, &CSpreadSheet::buttonClicked, this, &CLegendSetupDialog::OnColourCell);
  connect(grid_, &CLegendGrid::underChanged, this, &CLegendSetupDialog::UpdateHistogram);
  FillGrid();
  UpdateHistogram();
}

// Column widths: 65, 65 and the rest of the client width less a scroll bar.
void CLegendSetupDialog::SetColumnWidths() {
  grid_->SetColumnWidth(kColOver, kLegendValueColumnWidth);
  grid_->SetColumnWidth(kColUnder, kLegendValueColumnWidth);
  const int rest = grid_->ClientRect().width() - grid_->SystemVertScrollWidth() - 2 * kLegendValueColumnWidth;
  grid_->SetColumnWidth(kColColor, std::max(rest, 0));
}

// Lets the last rows scroll into view once there are more than fit.
void CLegendSetupDialog::UpdateScrollRange() {
  grid_->SetVertScrollRange(0, std::max(0, grid_->RowCount() - kLegendRowsShown));
}

// Header, top class and lowest class, then one row per further break.
void CLegendSetupDialog::FillGrid() {
  if (!grid_) return;
  if (!grid_->Model().HasCells()) {
    grid_->AllocateCells(3, 3);
  } else {
    // A refill (after loading a template) starts again from the three fixed rows.
    while (grid_->RowCount() > 3) grid_->DeleteRow(2);
  }
  SetColumnWidths();
  grid_->SetVertScrollRange(0, 0);

  const Color face = grid_->ButtonFaceColour();
  grid_->SetCellFont(-1, -1, font_);
  grid_->SetCellBackColour(-1, -1, kWhite);

  // Header.
  grid_->SetCellKind(kRowHeader, -1, kCellText, kTextCapacity);
  grid_->SetCellLocked(kRowHeader, -1, true);
  grid_->SetCellBackColour(kRowHeader, -1, face);
  grid_->SetCellFormat(kRowHeader, -1, kDtLeft | kDtVCenter);
  grid_->SetCellText(kRowHeader, kColOver, LangQString(kHeaderOver));
  grid_->SetCellText(kRowHeader, kColUnder, LangQString(kHeaderUnder));
  grid_->SetCellText(kRowHeader, kColColor, LangQString(kHeaderColor));

  // Top class: over the highest break, open above.
  const int top = kRowTopClass;
  grid_->SetCellFormat(top, -1, kRightAligned);
  grid_->SetCellKind(top, kColOver, kCellNumber);
  grid_->SetCellLocked(top, kColOver, true);
  grid_->SetCellBackColour(top, kColOver, face);
  grid_->SetCellNumber(top, kColOver, 0.0);
  grid_->SetCellKind(top, kColUnder, kCellText, kTextCapacity);
  grid_->SetCellLocked(top, kColUnder, true);
  grid_->SetCellBackColour(top, kColUnder, face);
  grid_->SetCellFormat(top, kColUnder, kCentred);
  grid_->SetCellText(top, kColUnder, kOpenEndText);
  grid_->SetCellKind(top, kColColor, kCellButton, kTextCapacity);
  grid_->SetCellLocked(top, kColColor, false);
  grid_->SetCellBackColour(top, kColColor, kNeutralColor);

  // Lowest class: open below, its break editable.
  const int last = 2;
  grid_->SetCellFormat(last, -1, kRightAligned);
  grid_->SetCellKind(last, kColOver, kCellText, kTextCapacity);
  grid_->SetCellLocked(last, kColOver, true);
  grid_->SetCellBackColour(last, kColOver, face);
  grid_->SetCellFormat(last, kColOver, kCentred);
  grid_->SetCellText(last, kColOver, kOpenEndText);
  grid_->SetCellKind(last, kColUnder, kCellNumber);
  grid_->SetCellLocked(last, kColUnder, false);
  grid_->SetCellNumber(last, kColUnder, 0.0);
  grid_->SetCellKind(last, kColColor, kCellButton, kTextCapacity);
  grid_->SetCellLocked(last, kColColor, false);
  grid_->SetCellBackColour(last, kColColor, kNeutralColor);

  int row = -1;
  for (const LegendEntry& entry : legend_.GetEntries()) {
    if (entry.value > kLegendTopThreshold) {
      grid_->SetCellBackColour(top, kColColor, entry.color);
      row = top;
    } else if (row < 0) {
      row = last;
      grid_->SetCellNumber(row, kColUnder, entry.value);
      grid_->SetCellBackColour(row, kColColor, entry.color);
    } else {
      row = AddClassRow();
      grid_->SetCellNumber(row, kColUnder, entry.value);
      grid_->SetCellNumber(top, kColOver, entry.value);
      grid_->SetCellBackColour(row, kColColor, entry.color);
    }
  }
  grid_->Redraw();
}

// A new class at the selected row (under the top class without one), its
// Over following the row below.
int CLegendSetupDialog::AddClassRow() {
  if (!grid_) return -1;
  const int current = grid_->CurrentRow();
  const int row = current > kRowTopClass && current < grid_->RowCount() ? current : kRowTopClass + 1;
  grid_->InsertRow(row);
  SetColumnWidths();
  grid_->SetCellFont(row, -1, font_);
  grid_->SetCellFormat(row, -1, kRightAligned);
  grid_->SetCellKind(row, kColOver, kCellNumber);
  grid_->SetCellKind(row, kColUnder, kCellNumber);
  grid_->SetCellKind(row, kColColor, kCellButton, kTextCapacity);
  grid_->SetCellLocked(row, kColOver, true);
  grid_->SetCellBackColour(row, kColOver, grid_->ButtonFaceColour());
  grid_->SetCellBackColour(row, kColColor, kNeutralColor);
  grid_->SetCellNumber(row, kColUnder, 0.0);
  double below = 0.0;
  grid_->GetCellNumber(row + 1, kColUnder, below);
  grid_->SetCellNumber(row, kColOver, below);
  if (grid_->RowCount() >= kLegendRowsShown) UpdateScrollRange();
  return row;
}

// Drops the highest break; the top class starts where the next one ends.
void CLegendSetupDialog::RemoveRow() {
  // Header, top class and two breaks at least: the lowest class always stays.
  if (!grid_ || grid_->RowCount() < 4) return;
  const Color colour = grid_->GetCellBackColour(2, kColColor);
  grid_->DeleteRow(2);
  double under = 0.0;
  grid_->GetCellNumber(2, kColUnder, under);
  grid_->SetCellNumber(kRowTopClass, kColOver, under);
  grid_->SetCellBackColour(kRowTopClass, kColColor, colour);
  // A range left from the longer table would scroll past the last row.
  UpdateScrollRange();
  grid_->Redraw();
}

// The rows top to bottom as (break, colour), the top class at the open top value.
bool CLegendSetupDialog::ReadRows() {
  if (!grid_) return false;
  // A value still being typed belongs to the rows; one that is not a number
  // keeps the dialog open.
  if (!grid_->EndEdit()) return false;
  std::vector<LegendRow> rows;
  rows.reserve(static_cast<std::size_t>(std::max(0, grid_->RowCount() - 1)));
  for (int row = kRowTopClass; row < grid_->RowCount(); ++row) {
    LegendRow r;
    if (row == kRowTopClass) {
      r.value = kLegendTopValue;
    } else {
      grid_->GetCellNumber(row, kColUnder, r.value);
    }
    r.color = grid_->GetCellBackColour(row, kColColor);
    rows.push_back(r);
  }
  Error error;
  if (legend_.BuildFromRows(rows, &error)) return true;
  ShowError(error);
  return false;
}

// Enter or Return while the grid has the focus belongs to the grid.
void CLegendSetupDialog::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  QWidget* focus = focusWidget();
  if (enter && grid_ && focus && (focus == grid_ || grid_->isAncestorOf(focus))) {
    event->accept();
    return;
  }
  CLangDialog::keyPressEvent(event);
}

// The hint of the Over column.
bool CLegendGrid::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    int row = 0, col = 0, left = 0, top = 0;
    if (HitTest(help->pos(), row, col, left, top) && col == kColOver) {
      QToolTip::showText(help->globalPos(), LangQString(kTipOverFollowsUnder), this);
    } else {
      QToolTip::hideText();
      event->ignore();
    }
    return true;
  }
  return CSpreadSheet::event(event);
}

// OK keeps the dialog open while the breaks are out of order.
void CLegendSetupDialog::accept() {
  if (!ReadRows()) return;
  legend_.SetChanged(true);
  CLangDialog::accept();
}

// Opens a template into the legend and shows it.
void CLegendSetupDialog::LoadTemplate() {
  FileDialogRequest request;
  request.parent = this;
  request.filter = QtFilterFromPairs(QString::fromUtf8(kTemplateFilter));
  request.defaultSuffix = QString::fromUtf8(kTemplateSuffix);
  request.startFolder = QDir::currentPath();
  request.mustExist = true;
  const QString path = ChooseFile(request);
  if (path.isEmpty()) return;
  // A file the user chose but that cannot be read is said so, rather than
  // nothing happening at all; a pipe or device is never waited on.
  std::string first;
  if (ReadSideFile(path.toStdString(), 1, first, SideFileLimit::Truncate) != SideFileStatus::Ok) {
    ShowMessage(MessageRequest{LangText(kMsgCannotOpenLegendFile), LangText(kMsgLegendCaption),
                               MessageIcon::Warning, MessageButtons::Ok});
    return;
  }
  // Only a template that was read replaces the rows: after a refused one the
  // rows the user was editing stay as they were.
  Error error;
  if (legend_.LoadFile(path.toStdString(), &error)) {
    FillGrid();
  } else {
    ShowError(error);
  }
}

// Saves the rows, once they are in order, as a template.
void CLegendSetupDialog::SaveTemplate() {
  if (!ReadRows()) return;
  FileDialogRequest request;
  request.parent = this;
  request.filter = QtFilterFromPairs(QString::fromUtf8(kTemplateFilter));
  request.defaultSuffix = QString::fromUtf8(kTemplateSuffix);
  request.startFolder = QDir::currentPath();
  request.save = true;
  request.confirmOverwrite = true;
  const QString path = ChooseFile(request);
  if (path.isEmpty()) return;
  Error error;
  if (!legend_.SaveFile(path.toStdString(), &error)) ShowError(error);
}

// Picks a class colour for a colour cell.
void CLegendSetupDialog::OnColourCell(int row, int col) {
  if (col != kColColor || row < kRowTopClass) return;
  Color colour = grid_->GetCellBackColour(row, col);
  if (!ChooseColour(this, colour)) return;
  grid_->SetCellBackColour(row, col, colour);
  grid_->Redraw();
}

// Runs the dialog modally on the caller's copy.
int RunLegendSetup(Legend& copy, QWidget* parent) {
  const auto* pane = qobject_cast<CLayersWnd*>(parent);
  return RunLegendSetup(copy, parent, pane ? pane->GetActiveLayer() : nullptr);
}

int RunLegendSetup(Legend& copy, QWidget* parent, const Layer* layer) {
  CLegendSetupDialog dialog(copy, parent);
  if (layer && !layer->IsCategorised()) {
    std::vector<double> values = LegendColumnValues(*layer);
    if (!values.empty()) {
      // The histogram takes its breaks from the grid once the dialog shows.
      dialog.SetValues(std::move(values));
      dialog.MethodBox()->setCurrentIndex(layer->Style().GetClassMethod());
      dialog.ClassCountBox()->setValue(layer->Style().GetClassCount());
    }
  }
  const int result = dialog.exec();
  if (result == QDialog::Accepted && layer && dialog.AppliedMethod() >= 0) {
    layer->WriteIntSetting(kKeyClassMethod, dialog.AppliedMethod());
    layer->WriteIntSetting(kKeyClassCount, dialog.AppliedClasses());
  }
  return result;
}

}  // namespace kestrune
