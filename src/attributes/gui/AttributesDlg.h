// CAttributesDlg: one attribute record in a two-column grid, names on the left
// and values on the right, with the rows the identify report computes on top.
// OK writes every file row back into the record; closing otherwise writes nothing.
#pragma once

#include <string>

#include <QFont>
#include <QString>

#include "attributes/AttributeRows.h"
#include "lang/gui/LangWidgets.h"

class QPushButton;
class QWidget;

namespace kestrune {

class CSpreadSheet;

// Dialog template 142 and its controls.
constexpr int kAttributesDialogId = 142;
constexpr int kIdOk = 1;
constexpr const char* kAttributesTitle = "#10264:Attributes";
constexpr const char* kAttributesOkText = "#10265:OK";
constexpr const char* kAttributesCancelText = "#20700001:Cancel";
// Column 0 (the names) in pixels.
constexpr int kNameColumnWidth = 100;
// Capacity of a name cell, in characters with the terminator.
constexpr int kNameCapacity = 64;

class CAttributesDlg : public CLangDialog {
  Q_OBJECT
 public:
  // Loads the file rows of record recordIndex of the table (none when the path
  // is empty or the record cannot be read). A negative index writes nothing.
  CAttributesDlg(QWidget* parent, const std::string& dbfPath, int recordIndex);
  ~CAttributesDlg() override;

  // Adds a computed row on top, or replaces the name and value of the row of
  // the same identity. Call before the dialog is shown.
  void AddRow(const QString& name, const QString& valueText, int key, bool editable);
  // The same with UTF-8 texts.
  void AddRow(const std::string& name, const std::string& valueText, int key, bool editable);

  // Shows the dialog modally: QDialog::Accepted after OK, Rejected otherwise.
  int DoModal();

  CSpreadSheet* Grid() const { return grid_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }
  const AttributeRowList& RowList() const { return rows_; }
  const std::string& GetDbfPath() const { return dbfPath_; }
  int GetRecordIndex() const { return recordIndex_; }
  const QFont& CellFont() const { return font_; }
  // Index into RowList() of the row shown at grid row r, or -1.
  int RowIndexAt(int gridRow) const;

 protected:
  void OnInitDialog() override;

 private:
  // Reads the grid, writes the record, and ends the dialog unless the table
  // refused the edits.
  void OnOK();
  // Puts the rows into the grid and lays it out.
  void FillGrid();

  CSpreadSheet* grid_;
  QWidget* placeholder_;
  QPushButton* ok_;
  QPushButton* cancel_ = nullptr;
  QFont font_;
  AttributeRowList rows_;
  std::string dbfPath_;
  int recordIndex_;
};

}  // namespace kestrune
