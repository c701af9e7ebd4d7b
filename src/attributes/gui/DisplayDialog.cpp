// The Display dialog and ShowDisplayDialog.
#include "attributes/gui/DisplayDialog.h"

#include <cmath>
#include <cstdint>
#include <string>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "attributes/gui/DialogSupport.h"
#include "attributes/gui/LegendSetupDialog.h"
#include "base/Platform.h"
#include "base/Preferences.h"
#include "geo/gui/QPainterCanvas.h"
#include "lang/LangString.h"
#include "layers/Layer.h"
#include "layers/TargetTheme.h"
#include "layers/LogFields.h"
#include "shapes/DbfTable.h"

namespace kestrune {

namespace {

// The field list's mark of a text field, which colours by category.
constexpr int kCategoryFieldRole = Qt::UserRole + 1;


// A control of the dialog with its id as object name.
template <class T>
T* Named(T* widget, int id) {
  widget->setObjectName(ControlName(id));
  return widget;
}

// The size typed, or NaN when the text is not one whole number.
double ParseSize(const QString& text) {
  const QString trimmed = text.trimmed();
  bool ok = false;
  double value = QLocale::c().toDouble(trimmed, &ok);
  // The user's locale's decimal mark is accepted too ("1,5" where that is usual).
  if (!ok) value = QLocale::system().toDouble(trimmed, &ok);
  return ok ? value : std::nan("");
}

// "%.2lf" of a size.
QString FormatSize(double value) { return QString::asprintf("%.2f", value); }

}  // namespace

// Builds the controls and takes the starting values from the layer.
CDisplayDialog::CDisplayDialog(Layer& layer, QWidget* parent)
    : CLangDialog(kDisplayDialogId, parent), layer_(layer) {
  setObjectName(ControlName(kDisplayDialogId));
  setWindowTitle(QString::fromUtf8(kDisplayTitle));

  metric_ = GetPreferences().IsMetric();
  drawBorder_ = layer.GetDrawBorder();
  sizeText_ = FormatSize(layer.GetDisplaySize(metric_));
  initialSizeText_ = sizeText_;
  colorMethod_ = layer.GetColorMethod();
  colour_ = layer.GetSolidColor();
  field_ = layer.GetLegendColumn();
  unitText_ = QString::fromUtf8(metric_ ? kTextUnitMetres : kTextUnitFeet);

  auto* solid = Named(new QRadioButton(QString::fromUtf8(kTextSolidColor), this), kIdSolidColor);
  auto* legend = Named(new QRadioButton(QString::fromUtf8(kTextLegendColors), this), kIdLegendColors);
  auto* methods = new QButtonGroup(this);
  methods->addButton(solid, 0);
  methods->addButton(legend, 1);
  auto* sizeLabel = Named(new QLabel(QString::fromUtf8(kTextPointSizeTemplate), this), kIdSizeLabel);
  auto* size = Named(new QLineEdit(this), kIdSize);
  auto* unit = Named(new QLabel(QString::fromUtf8(kTextUnitTemplate), this), kIdUnitLabel);
  auto* borders = Named(new QCheckBox(QString::fromUtf8(kTextDrawBorders), this), kIdDrawBorders);
  auto* colorLabel = Named(new QLabel(QString::fromUtf8(kTextColor), this), kIdColorLabel);
  auto* colorButton = Named(new QPushButton(this), kIdColorButton);
  colorButton->setIconSize(QSize(kColourSwatchWidth, kColourSwatchHeight));
  colorButton->setAutoDefault(false);
  auto* dataLabel = Named(new QLabel(QString::fromUtf8(kTextColorByDataItem), this), kIdDataItemLabel);
  auto* fields = Named(new QComboBox(this), kIdFieldList);
  fields->setMinimumWidth(140);
  auto* legendSetup = Named(new QPushButton(QString::fromUtf8(kTextLegendSetup), this), kIdLegendSetup);
  legendSetup->setAutoDefault(false);
  // Areas only: how much of what lies beneath shows through their fill.
  auto* opacityLabel = Named(new QLabel(QString::fromUtf8(kTextFillOpacity), this), kIdFillOpacityLabel);
  auto* opacity = Named(new QSpinBox(this), kIdFillOpacity);
  opacity->setRange(0, 100);
  opacity->setSuffix(QStringLiteral(" %"));
  opacity->setValue(layer.GetFillOpacity());
  auto* ok = Named(new QPushButton(QString::fromUtf8(kTextDisplayOk), this), kIdDisplayOk);
  ok->setDefault(true);
  auto* cancel = Named(new QPushButton(QString::fromUtf8(kTextDisplayCancel), this), kIdDisplayCancel);
  cancel->setAutoDefault(false);

  auto* grid = new QGridLayout;
  grid->addWidget(solid, 0, 0, 1, 2);
  grid->addWidget(legend, 0, 2, 1, 2);
  grid->addWidget(sizeLabel, 1, 0);
  grid->addWidget(size, 1, 1);
  grid->addWidget(unit, 1, 2);
  grid->addWidget(borders, 2, 0, 1, 4);
  grid->addWidget(colorLabel, 3, 0);
  grid->addWidget(colorButton, 3, 1, 1, 2, Qt::AlignLeft);
  grid->addWidget(dataLabel, 4, 0);
  grid->addWidget(fields, 4, 1, 1, 2);
  grid->addWidget(legendSetup, 4, 3);
  grid->addWidget(opacityLabel, 5, 0);
  grid->addWidget(opacity, 5, 1);
  // The log fields, one box each, and the unit the width is read in.
  auto* logGroup = Named(new QGroupBox(QString::fromUtf8(kTextLogFields), this), kIdLogFieldsGroup);
  auto* logGrid = new QGridLayout(logGroup);
  for (int i = 0; i < kLogFieldCount; ++i) {
    logGrid->addWidget(new QLabel(QString::fromUtf8(kTextLogFieldLabels[i]), logGroup), i / 2, (i % 2) * 2);
    auto* box = Named(new QComboBox(logGroup), kIdLogFieldFirst + i);
    box->setMinimumWidth(120);
    logGrid->addWidget(box, i / 2, (i % 2) * 2 + 1);
  }
  logGrid->addWidget(Named(new QLabel(QString::fromUtf8(metric_ ? kTextWidthInMetres : kTextWidthInFeet), logGroup),
                           kIdWidthUnitNote),
                     3, 0, 1, 4);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* outer = new QVBoxLayout(this);
  outer->addLayout(grid);
  outer->addWidget(logGroup);
  outer->addLayout(buttons);

  connect(solid, &QRadioButton::clicked, this, [this] { UpdateData(true); });
  connect(legend, &QRadioButton::clicked, this, [this] { UpdateData(true); });
  connect(colorButton, &QPushButton::clicked, this, &CDisplayDialog::OnColourButton);
  connect(legendSetup, &QPushButton::clicked, this, &CDisplayDialog::OnLegendSetup);
  connect(fields, qOverload<int>(&QComboBox::activated), this,
          [this] { UpdateData(true); });
  connect(ok, &QPushButton::clicked, this, &CDisplayDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &CDisplayDialog::reject);
}

// Translation, swatch, field list and the enabling by shape kind.
void CDisplayDialog::OnInitDialog() {
  CLangDialog::OnInitDialog();
  TranslateWindow(FindControl<QGroupBox>(this, kIdLogFieldsGroup));
  DrawColourButton();
  FillFieldList();
  FillLogFieldLists();
  switch (layer_.GetShapeKind()) {
    case kShapeKindPoints:
      sizeLabelText_ = LangQString(kTextPointSize);
      break;
    case kShapeKindLines:
      sizeLabelText_ = LangQString(kTextLineWidth);
      FindControl<QCheckBox>(this, kIdDrawBorders)->setEnabled(false);
      break;
    case kShapeKindAreas:
      // Areas have no size of their own; the label stays empty.
      FindControl<QLabel>(this, kIdSizeLabel)->setEnabled(false);
      FindControl<QLineEdit>(this, kIdSize)->setEnabled(false);
      FindControl<QLabel>(this, kIdUnitLabel)->setEnabled(false);
      break;
    default:
      break;
  }
  const bool areas = layer_.GetShapeKind() == kShapeKindAreas;
  FindControl<QLabel>(this, kIdFillOpacityLabel)->setEnabled(areas);
  FindControl<QSpinBox>(this, kIdFillOpacity)->setEnabled(areas);
  UpdateData(false);
}

// The numeric and text fields of the layer's table, the layer's own one selected.
void CDisplayDialog::FillFieldList() {
  auto* list = FindControl<QComboBox>(this, kIdFieldList);
  list->clear();
  DbfTable table;
  if (!table.Open(layer_.GetTablePath())) return;
  const int count = table.GetFieldCount();
  for (int field = 1; field <= count; ++field) {
    // Numbers colour through the legend, text fields by category.
    const DbfField* f = table.GetField(field);
    if (!f || !IsThemeField(*f)) continue;
    const std::string& name = f->name;
    list->addItem(QString::fromStdString(name), field);
    // A text field colours by category: it has no legend to set up.
    list->setItemData(list->count() - 1, IsCategoryField(*f), kCategoryFieldRole);
    if (field == field_) list->setCurrentIndex(list->count() - 1);
  }
  table.Close();
  // A Z or M file also colours by its Z or M values, a log with a target by
  // its rate against the target.
  for (const auto& [label, column] : ComputedThemeChoices(layer_)) {
    list->addItem(QString::fromStdString(label), column);
    list->setItemData(list->count() - 1, false, kCategoryFieldRole);
    if (column == field_) list->setCurrentIndex(list->count() - 1);
  }
  // Nothing is chosen unless the layer's field is one of them.
  if (list->findData(field_) < 0) list->setCurrentIndex(-1);
}

// Rate, boom and width offer the numeric fields, date and time every field;
// "(none)" comes first. A field the layer uses stays offered whatever its type.
void CDisplayDialog::FillLogFieldLists() {
  DbfTable table;
  const bool open = table.Open(layer_.GetTablePath());
  const std::vector<DbfField> fields = open ? TableFields(table) : std::vector<DbfField>{};
  const LogFields& chosen = layer_.GetLogFields();
  for (int i = 0; i < kLogFieldCount; ++i) {
    const LogField which = kLogFieldOrder[i];
    auto* box = FindControl<QComboBox>(this, kIdLogFieldFirst + i);
    box->clear();
    box->addItem(LangQString(kTextNoLogField), 0);
    const bool numbersOnly = which == LogField::Rate || which == LogField::Boom || which == LogField::Width;
    for (std::size_t f = 0; f < fields.size(); ++f) {
      const int number = static_cast<int>(f) + 1;
      if (numbersOnly && !IsNumericLogField(fields[f]) && number != chosen[which]) continue;
      box->addItem(QString::fromStdString(fields[f].name), number);
    }
    const int index = box->findData(chosen[which]);
    box->setCurrentIndex(index < 0 ? 0 : index);
  }
}

// Data exchange with the controls, then the enabling by colour method.
void CDisplayDialog::UpdateData(bool save) {
  auto* borders = FindControl<QCheckBox>(this, kIdDrawBorders);
  auto* size = FindControl<QLineEdit>(this, kIdSize);
  auto* solid = FindControl<QRadioButton>(this, kIdSolidColor);
  auto* legend = FindControl<QRadioButton>(this, kIdLegendColors);
  auto* unit = FindControl<QLabel>(this, kIdUnitLabel);
  auto* sizeLabel = FindControl<QLabel>(this, kIdSizeLabel);
  auto* fields = FindControl<QComboBox>(this, kIdFieldList);
  if (save) {
    drawBorder_ = borders->isChecked();
    sizeText_ = size->text();
    colorMethod_ = legend->isChecked() ? 1 : 0;
    unitText_ = unit->text();
    sizeLabelText_ = sizeLabel->text();
  } else {
    borders->setChecked(drawBorder_);
    size->setText(sizeText_);
    // Any method but solid colour is the legend's.
    (colorMethod_ == 0 ? solid : legend)->setChecked(true);
    unit->setText(unitText_);
    sizeLabel->setText(sizeLabelText_);
  }
  if (fields->currentIndex() >= 0) field_ = fields->currentData().toInt();

  const bool solidMethod = colorMethod_ == 0;
  FindControl<QLabel>(this, kIdColorLabel)->setEnabled(solidMethod);
  FindControl<QPushButton>(this, kIdColorButton)->setEnabled(solidMethod);
  FindControl<QLabel>(this, kIdDataItemLabel)->setEnabled(!solidMethod);
  fields->setEnabled(!solidMethod);
  FindControl<QPushButton>(this, kIdLegendSetup)
      ->setEnabled(!solidMethod && !fields->currentData(kCategoryFieldRole).toBool());
}

// Sets the solid colour and repaints the swatch.
void CDisplayDialog::SetColour(Color colour) {
  colour_ = colour;
  DrawColourButton();
}

// Paints the 100 x 25 swatch in the current colour onto the colour button.
void CDisplayDialog::DrawColourButton() {
  if (swatch_.isNull()) swatch_ = QPixmap(kColourSwatchWidth, kColourSwatchHeight);
  swatch_.fill(ToQColor(colour_));
  FindControl<QPushButton>(this, kIdColorButton)->setIcon(QIcon(swatch_));
}

// The colour picker on the current colour; the swatch is redrawn either way.
void CDisplayDialog::OnColourButton() {
  Color colour = colour_;
  if (ChooseColour(this, colour)) colour_ = colour;
  DrawColourButton();
}

// Edits a copy of the layer's legend; OK hands it to the layer at once.
void CDisplayDialog::OnLegendSetup() {
  Legend copy = layer_.GetLegend();
  if (RunLegendSetup(copy, this, &layer_) != QDialog::Accepted) return;
  layer_.SetLegend(copy);
  legendAssigned_ = true;
}

// Refuses legend colours without a field and sizes that are no size; then the
// five settings in order, and the size as the new default.
void CDisplayDialog::accept() {
  UpdateData(true);
  if (colorMethod_ != 0 && field_ <= 0 && !IsComputedLegendColumn(static_cast<int16_t>(field_))) {
    ShowMessage(MessageRequest{LangText(kMsgSelectDataItem), LangText(kMsgDisplayCaption),
                               MessageIcon::Warning, MessageButtons::Ok});
    return;
  }
  auto* sizeEdit = FindControl<QLineEdit>(this, kIdSize);
  // The size shown is rounded to hundredths: taken back untouched it would
  // shift the stored size a little on every OK, so the layer's own stays.
  const bool sizeUntouched = sizeText_ == initialSizeText_;
  const double size = sizeUntouched ? layer_.GetDisplaySize(metric_) : ParseSize(sizeText_);
  const bool sizeValid = std::isfinite(size) && size > 0.0;
  if (sizeEdit->isEnabled() && !sizeValid) {
    ShowMessage(MessageRequest{LangText(kMsgBadDisplaySize), LangText(kDisplayTitle), MessageIcon::Warning,
                               MessageButtons::Ok});
    sizeEdit->setFocus();
    sizeEdit->selectAll();
    return;
  }
  layer_.SetSolidColor(colour_);
  layer_.SetDisplaySize(size, metric_);
  layer_.SetDrawBorder(drawBorder_);
  layer_.SetColorMethod(colorMethod_);
  layer_.SetLegendColumn(static_cast<int16_t>(static_cast<uint16_t>(field_ & 0xFFFF)));
  // Written only when changed, so a file that never had the key stays as it was.
  const int opacity = FindControl<QSpinBox>(this, kIdFillOpacity)->value();
  if (opacity != layer_.GetFillOpacity()) layer_.SetFillOpacity(opacity);
  // An area layer's size (not editable) is only a default when it is a size at all.
  if (sizeValid) GetPreferences().SetDefaultDisplaySize(size, metric_);
  // The target field is not among the boxes: it stays as it was.
  LogFields logFields = layer_.GetLogFields();
  for (int i = 0; i < kLogFieldCount; ++i) {
    logFields[kLogFieldOrder[i]] = FindControl<QComboBox>(this, kIdLogFieldFirst + i)->currentData().toInt();
  }
  if (!layer_.SetLogFields(logFields)) {
    ShowMessage(MessageRequest{LangFormat(kMsgLogFieldsNotWritten, layer_.GetSettingsPath().c_str()),
                               LangText(kDisplayTitle), MessageIcon::Warning, MessageButtons::Ok});
  }
  CLangDialog::accept();
}

// Runs the dialog, then brings values, colours and the map up to date.
int ShowDisplayDialog(Layer& layer, QWidget* parent) {
  const int16_t column = layer.GetLegendColumn();
  CDisplayDialog dialog(layer, parent);
  const int result = dialog.exec();
  if (layer.GetLegendColumn() != column) {
    // Values must follow the new field; a legend the user set up in this
    // dialog is kept rather than replaced by the automatic one.
    if (dialog.LegendAssigned()) {
      const Legend edited = layer.GetLegend();
      layer.ComputeValues();
      layer.SetLegend(edited);
    } else {
      layer.ComputeValues();
      // The new field's legend is written on close, so the next open shows it.
      layer.GetLegend().SetChanged(true);
    }
  }
  layer.ApplyColors();
  InvalidateMapWindow(layer);
  return result;
}

}  // namespace kestrune
