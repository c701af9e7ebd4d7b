// The attribute report of one shape record: the Attributes dialog on the
// record's row of its layer's table, with the computed rows on top.
#pragma once

#include <memory>

class QWidget;

namespace kestrune {

class CAttributesDlg;
class Shape;

// The dialog for a record, with its computed rows added; null when the record
// has no owning layer.
std::unique_ptr<CAttributesDlg> BuildAttributeReport(Shape& shape, QWidget* parent);

// Shows the report of a record modally. parentWindow is the QWidget that
// owns the dialog (the map window), or null.
void ShowAttributeReport(Shape& shape, void* parentWindow);

}  // namespace kestrune
