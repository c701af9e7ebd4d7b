#include "attributes/gui/AttributesDlg.h"

#include <algorithm>

#include <QFontMetrics>
#include <QFrame>
#include <QPushButton>

#include "attributes/AttributeUndo.h"
#include "base/Platform.h"
#include "base/gui/AppFont.h"
#include "grid/gui/CSpreadSheet.h"
#include "lang/LangString.h"

namespace kestrune {

namespace {

// The template in dialog units: the dialog, the grid's place and the OK button.
constexpr QRect kDialogRect(0, 0, 264, 313);
constexpr QRect kGridRect(8, 8, 188, 296);
constexpr QRect kOkRect(204, 284, 50, 14);
constexpr QRect kCancelRect(204, 266, 50, 14);

// Dialog units to pixels by the font's base units, as dialog templates are laid out.
QRect DialogUnitsToPixels(const QRect& units, const QFont& font) {
  const QFontMetrics metrics(font);
  const int baseX = std::max(1, (metrics.horizontalAdvance(QStringLiteral(
                                     "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 26 + 1) / 2);
  const int baseY = std::max(1, metrics.height());
  return QRect(units.x() * baseX / 4, units.y() * baseY / 8, units.width() * baseX / 4,
               units.height() * baseY / 8);
}

// The cells' font: the program's family with 14-pixel characters (a cell of about 16), normal weight.
QFont MakeCellFont() {
  QFont font = AppFont(14, false);
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  return font;
}

}  // namespace

// Builds the template's controls and loads the file rows of the record.
CAttributesDlg::CAttributesDlg(QWidget* parent, const std::string& dbfPath, int recordIndex)
    : CLangDialog(kAttributesDialogId, parent),
      grid_(new CSpreadSheet(this)),
      placeholder_(new QFrame(this)),
      ok_(new QPushButton(this)),
      font_(MakeCellFont()),
      dbfPath_(dbfPath),
      recordIndex_(recordIndex) {
  setWindowTitle(QString::fromUtf8(kAttributesTitle));
  setFixedSize(DialogUnitsToPixels(kDialogRect, font()).size());

  placeholder_->setProperty("controlId", kGridPlaceholderId);
  placeholder_->setGeometry(DialogUnitsToPixels(kGridRect, font()));
  placeholder_->hide();
  grid_->hide();

  ok_->setText(QString::fromUtf8(kAttributesOkText));
  ok_->setProperty("controlId", kIdOk);
  ok_->setObjectName(QStringLiteral("IDOK"));
  ok_->setGeometry(DialogUnitsToPixels(kOkRect, font()));
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &CAttributesDlg::OnOK);
  // Cancel, as Esc: nothing typed is written.
  cancel_ = new QPushButton(LangQString(kAttributesCancelText), this);
  cancel_->setObjectName(QStringLiteral("IDCANCEL"));
  cancel_->setGeometry(DialogUnitsToPixels(kCancelRect, font()));
  cancel_->setAutoDefault(false);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

  // A table or record that cannot be read leaves only the added rows.
  if (recordIndex_ >= 0) rows_.LoadFileRows(dbfPath_, recordIndex_);
}

// The grid, its cells and the font go with the dialog.
CAttributesDlg::~CAttributesDlg() = default;

// Adds or replaces a computed row.
void CAttributesDlg::AddRow(const QString& name, const QString& valueText, int key, bool editable) {
  rows_.AddRow(name, valueText, key, editable);
}

// AddRow over UTF-8 texts.
void CAttributesDlg::AddRow(const std::string& name, const std::string& valueText, int key, bool editable) {
  AddRow(QString::fromUtf8(name.c_str()), QString::fromUtf8(valueText.c_str()), key, editable);
}

// Runs the dialog modally.
int CAttributesDlg::DoModal() { return exec(); }

// The row list index the grid row carries.
int CAttributesDlg::RowIndexAt(int gridRow) const {
  if (!grid_->IsValidCell(gridRow, 0)) return -1;
  const uint32_t index = grid_->GetCellData(gridRow, 0);
  return index < rows_.Count() ? static_cast<int>(index) : -1;
}

// Translates the texts, then builds the grid in the placeholder's place.
void CAttributesDlg::OnInitDialog() {
  CLangDialog::OnInitDialog();
  grid_->Create(this, placeholder_->geometry(), kGridPlaceholderId, true);
  grid_->AllocateCells(0, 2);
  // A number field takes only a number: text is refused with the field's name.
  grid_->SetNumberRefusal([this](int row, int, const QString& text) {
    ShowMessage(LangFormat(kAttrNotANumberText, grid_->CellText(row, 0).toUtf8().constData(),
                           text.toUtf8().constData()),
                windowTitle().toStdString(), MessageIcon::Warning);
  });
  grid_->ShowHorzScrollBar(false);
  grid_->ShowVertScrollBar(true);
  FillGrid();
}

// One grid row per dialog row, in list order, then the page and column sizes.
void CAttributesDlg::FillGrid() {
  const Color buttonFace = grid_->ButtonFaceColour();
  const std::vector<AttributeRow>& rows = rows_.Rows();
  for (size_t i = 0; i < rows.size(); ++i) {
    const AttributeRow& row = rows[i];
    const int r = static_cast<int>(i);
    grid_->InsertRow(r);
    grid_->SetCellLocked(r, 0, true);
    grid_->SetCellBackColour(r, 0, buttonFace);
    grid_->SetCellKind(r, 0, kCellText, kNameCapacity);
    grid_->SetCellText(r, 0, row.name);
    if (row.IsNumeric()) {
      grid_->SetCellKind(r, 1, kCellNumber, kDefaultTextCapacity);
      // The field's own decimals before the number, so none of its digits are cut.
      grid_->SetCellDecimals(r, 1, row.decimals);
      grid_->SetCellNumber(r, 1, row.value);
    } else {
      grid_->SetCellKind(r, 1, kCellText, row.width + 1);
      grid_->SetCellText(r, 1, row.valueText);
    }
    grid_->SetCellLocked(r, 1, !row.editable);
    grid_->SetCellBackColour(r, 1, row.editable ? kWhite : buttonFace);
    grid_->SetCellData(r, 0, static_cast<uint32_t>(i));
  }
  if (grid_->RowCount() > 0) grid_->SetCellFont(-1, -1, font_);
  grid_->SetGridLineColour(kBlack);

  const int rowHeight = grid_->RowCount() > 0 ? grid_->GetRowHeight(0)
                                              : CSpreadSheet::RowHeightForFont(font_);
  const int rowsPerPage = grid_->ClientRect().height() / std::max(1, rowHeight);
  grid_->SetVertScrollRange(0, std::max(grid_->RowCount() - rowsPerPage, 0));
  grid_->SetRowsPerPage(rowsPerPage);

  grid_->SetColumnWidth(0, kNameColumnWidth);
  grid_->SetColumnWidth(1, grid_->ClientRect().width() - grid_->SystemVertScrollWidth() - kNameColumnWidth);
  grid_->EnsureVisible(0, 0);
  grid_->Redraw();
}

// Stores what is being typed, takes every value from the grid and writes the
// record; a refused value or a table that cannot be written is told and keeps
// the dialog open with the edits.
void CAttributesDlg::OnOK() {
  // A number cell holding text keeps the dialog open, the text in its cell.
  if (!grid_->EndEdit()) return;
  std::vector<AttributeRow>& rows = rows_.Rows();
  for (int r = 0; r < grid_->RowCount(); ++r) {
    const int index = RowIndexAt(r);
    if (index < 0) continue;
    AttributeRow& row = rows[static_cast<size_t>(index)];
    if (row.IsNumeric()) {
      double value = 0.0;
      grid_->GetCellNumber(r, 1, value, true);
      row.value = value;
    } else {
      QString text;
      grid_->GetCellText(r, 1, text, kMaxEditorText + 1, true);
      row.valueText = text;
    }
  }

  // The row as it was, for Undo once the edit is written.
  RowBefore before;
  const bool kept = ReadRowBefore(dbfPath_, recordIndex_, before);
  const SaveOutcome outcome = SaveAttributeRows(dbfPath_, recordIndex_, rows, rows_.TableLayout());
  if (outcome.status == SaveStatus::Saved && kept) GetAttributeUndo().Push(std::move(before));
  if (!outcome.message.empty()) {
    ShowMessage(outcome.message, windowTitle().toStdString(), MessageIcon::Warning);
  }
  switch (outcome.status) {
    case SaveStatus::Saved:
      accept();
      return;
    case SaveStatus::Refused:
      // Back to the value the table refused, for the user to correct.
      for (int r = 0; r < grid_->RowCount(); ++r) {
        if (RowIndexAt(r) != outcome.refusedRow) continue;
        grid_->EnsureVisible(r, 1);
        if (rows[static_cast<size_t>(outcome.refusedRow)].editable) grid_->ActivateCell(r, 1, 0, 0);
        break;
      }
      return;
    default:
      // Nothing edited and nothing written: closing loses nothing.
      if (outcome.message.empty()) accept();
      return;
  }
}

}  // namespace kestrune
