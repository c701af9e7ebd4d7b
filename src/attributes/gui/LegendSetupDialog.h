// The Legend Setup dialog: a legend as a table of break values and colours in
// the grid control, rows added and removed, colours picked per class, and
// legend templates loaded and saved. It edits a copy owned by the caller.
#pragma once

#include <vector>

#include <QFont>

#include "grid/gui/CSpreadSheet.h"
#include "lang/gui/LangWidgets.h"
#include "layers/Legend.h"

class QComboBox;
class QKeyEvent;
class QPushButton;
class QSpinBox;

namespace kestrune {

class CHistogramView;
class Layer;

// Dialog resource and control ids.
constexpr int kLegendSetupDialogId = 151;
constexpr int kIdLoadTemplate = 1026;
constexpr int kIdSaveTemplate = 1027;
constexpr int kIdAddRow = 1023;
constexpr int kIdRemoveRow = 1024;
constexpr int kIdLegendOk = 1;
constexpr int kIdLegendCancel = 2;

// Texts of the dialog.
constexpr const char* kLegendSetupTitle = "#10292:Legend Setup";
constexpr const char* kTextLoadTemplate = "#10293:Load Legend Template";
constexpr const char* kTextSaveTemplate = "#10294:Save Legend Template";
constexpr const char* kTextAddRow = "#10295:Add Row";
constexpr const char* kTextRemoveRow = "#10296:Remove Row";
constexpr const char* kHeaderOver = "#10000043:Over";
constexpr const char* kHeaderUnder = "#10000044:Under";
constexpr const char* kHeaderColor = "#10000045:Color";
constexpr const char* kTemplateFilter = "Legend Templates (*.lgd)|*.lgd||";
constexpr const char* kTemplateSuffix = "lgd";
// The open ends of the top and the lowest class.
constexpr const char* kOpenEndText = "...";

// Grid columns and the fixed rows.
constexpr int kColOver = 0;
constexpr int kColUnder = 1;
constexpr int kColColor = 2;
constexpr int kRowHeader = 0;
constexpr int kRowTopClass = 1;
// Widths of the Over and Under columns; the Color column takes the rest.
constexpr int kLegendValueColumnWidth = 65;
// From this many rows on, the grid scrolls by row count - this.
constexpr int kLegendRowsShown = 10;

// The grid of the dialog: an edited Under value also becomes the Over value of
// the row above, so each row keeps reading "over X, under Y".
constexpr const char* kTipOverFollowsUnder =
    "#20500300:Over follows the Under value of the row below: edit that value to move it.";

class CLegendGrid : public CSpreadSheet {
  Q_OBJECT
 public:
  using CSpreadSheet::CSpreadSheet;
  void OnCellChanged(int row, int col) override;

 signals:
  // An Under value changed.
  void underChanged();

 protected:
  // The Over column tells, on hovering, that it follows the Under column.
  bool event(QEvent* event) override;
};

class CLegendSetupDialog : public CLangDialog {
  Q_OBJECT
 public:
  // legend is the caller's copy; the dialog reads it when it opens and refills
  // it on OK (and before saving a template).
  explicit CLegendSetupDialog(Legend& legend, QWidget* parent = nullptr);

  CLegendGrid* Grid() const { return grid_; }
  CHistogramView* HistogramView() const { return histogram_; }
  QComboBox* MethodBox() const { return method_; }
  QSpinBox* ClassCountBox() const { return classes_; }
  // The field's values: the histogram shows them and the methods class them.
  void SetValues(std::vector<double> values);
  // Replaces the rows by the chosen method's breaks over the values.
  void ApplyMethod();
  // The method last applied (-1 for none) and its number of classes.
  int AppliedMethod() const { return appliedMethod_; }
  int AppliedClasses() const { return appliedClasses_; }
  Legend& GetLegend() const { return legend_; }

  // Lays the legend out in the grid: header, top class, breaks high to low.
  void FillGrid();
  // Inserts an empty class at the selected row ("Add Row"), directly under
  // the top class when no class row is selected; its row.
  int AddClassRow();
  // Removes the highest break; the top class takes over its colour. Needs at
  // least two breaks.
  void RemoveRow();
  // Rebuilds the legend from the rows; false, with the order message, when the
  // breaks do not fall from top to bottom.
  bool ReadRows();
  // The template buttons.
  void LoadTemplate();
  void SaveTemplate();

 protected:
  void OnInitDialog() override;
  // OK: the rows become the legend, which is then marked changed.
  void accept() override;
  // Enter in the grid stays in the grid rather than pressing OK.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // A colour cell was clicked: the colour picker on its colour.
  void OnColourCell(int row, int col);
  // Sets the three column widths from the grid's client width.
  void SetColumnWidths();
  // The grid's vertical range for its current row count.
  void UpdateScrollRange();
  // The histogram's breaks and colours from the rows.
  void UpdateHistogram();
  // A break dragged on the histogram: its Under cell follows.
  void OnBreakDragged(int index, double value);

  Legend& legend_;
  QFont font_;
  CLegendGrid* grid_ = nullptr;
  CHistogramView* histogram_ = nullptr;
  QComboBox* method_ = nullptr;
  QSpinBox* classes_ = nullptr;
  QPushButton* apply_ = nullptr;
  std::vector<double> sorted_;
  int appliedMethod_ = -1;
  int appliedClasses_ = 0;
};

constexpr const char* kTextClassMethod = "#20500301:Classes:";
constexpr const char* kTextApplyMethod = "#20500302:Apply";

// Runs the dialog on a copy of a legend; QDialog::Accepted when it ended with
// OK (the copy then holds the edited legend with its changed mark set).
// With the layer (or, without one, the active layer of a layers pane that is
// the parent) the dialog shows the theme field's histogram and offers the
// classing methods; a method applied and kept with OK is written to the
// layer's ".gpe".
int RunLegendSetup(Legend& copy, QWidget* parent);
int RunLegendSetup(Legend& copy, QWidget* parent, const Layer* layer);

}  // namespace kestrune
