#include "attributes/gui/AttributeReportDlg.h"

#include <QWidget>

#include "attributes/gui/AttributesDlg.h"
#include "attributes/IdentifyReport.h"
#include "layers/Layer.h"
#include "shapes/Shape.h"

namespace kestrune {

// The dialog on the record's row with the computed rows added, added rows not editable.
std::unique_ptr<CAttributesDlg> BuildAttributeReport(Shape& shape, QWidget* parent) {
  // Only a layer knows the table; a record without one shows nothing.
  auto* layer = dynamic_cast<Layer*>(shape.GetOwner());
  if (!layer) return nullptr;
  auto dialog = std::make_unique<CAttributesDlg>(parent, layer->GetTablePath(), shape.GetRecordNumber());
  for (const ReportRow& row : ComputeReportRows(shape)) dialog->AddRow(row.label, row.value, row.key, false);
  return dialog;
}

// Builds the report and runs it modally; it is gone when this returns.
void ShowAttributeReport(Shape& shape, void* parentWindow) {
  std::unique_ptr<CAttributesDlg> dialog = BuildAttributeReport(shape, static_cast<QWidget*>(parentWindow));
  if (dialog) dialog->DoModal();
}

}  // namespace kestrune
