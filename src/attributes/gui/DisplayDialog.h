// The Display dialog: how a layer is drawn (symbol size or line width,
// borders, solid colour or colours by a numeric field through the legend).
// The layer's settings change only on OK; the legend changes at once when the
// Legend Setup dialog opened from here ends with OK.
#pragma once

#include <QPixmap>
#include <QString>

#include "geo/MapPoint.h"
#include "lang/gui/LangWidgets.h"

namespace kestrune {

class Layer;

// Dialog resource and control ids.
constexpr int kDisplayDialogId = 147;
constexpr int kIdSolidColor = 1004;
constexpr int kIdLegendColors = 1005;
constexpr int kIdSizeLabel = 1014;
constexpr int kIdSize = 1009;
constexpr int kIdUnitLabel = 1010;
constexpr int kIdDrawBorders = 1008;
constexpr int kIdColorLabel = 1011;
constexpr int kIdColorButton = 1021;
constexpr int kIdDataItemLabel = 1013;
constexpr int kIdFieldList = 1006;
constexpr int kIdLegendSetup = 1016;
constexpr int kIdDisplayOk = 1;
constexpr int kIdDisplayCancel = 2;
// The "Log fields" group: a box per log field (rate, boom, date, time, width in
// that order, ids 1221 to 1225) and the note on the width's unit.
constexpr int kIdLogFieldsGroup = 1220;
constexpr int kIdLogFieldFirst = 1221;
constexpr int kIdWidthUnitNote = 1226;

// Texts of the dialog.
constexpr const char* kDisplayTitle = "#10266:Display";
constexpr const char* kTextSolidColor = "#10273:Solid Color";
constexpr const char* kTextLegendColors = "#10274:Legend Colors";
constexpr const char* kTextPointSizeTemplate = "#10267:Point Size";
constexpr const char* kTextUnitTemplate = "#10268:ft.";
constexpr const char* kTextDrawBorders = "#10269:Draw Borders";
constexpr const char* kTextColor = "#10270:Color";
constexpr const char* kTextColorByDataItem = "#10271:Color by Data Item";
constexpr const char* kTextLegendSetup = "#10272:Legend Setup";
constexpr const char* kTextDisplayOk = "#10275:OK";
constexpr const char* kTextDisplayCancel = "#10276:Cancel";
// The size label by shape kind, and the unit label.
constexpr const char* kTextPointSize = "Point Size";
constexpr const char* kTextLineWidth = "Line Width";
constexpr const char* kTextUnitMetres = "m";
constexpr const char* kTextUnitFeet = "ft";
constexpr const char* kTextLogFields = "#20012010:Log fields";
constexpr const char* kTextLogFieldLabels[] = {"#20012011:Rate", "#20012012:Boom", "#20012013:Date",
                                               "#20012014:Time", "#20012015:Width"};
constexpr const char* kTextNoLogField = "#20012016:(none)";
constexpr const char* kTextWidthInFeet = "#20012017:The width is read in feet (U.S. units).";
constexpr const char* kTextWidthInMetres = "#20012018:The width is read in metres (metric units).";
constexpr const char* kMsgLogFieldsNotWritten =
    "#20012019:The log fields could not be written to %s. They hold until the file is closed.";
// OK's refusals.
constexpr const char* kMsgSelectDataItem = "Must select a data item by which to color.";
constexpr const char* kMsgDisplayCaption = "Display";
constexpr const char* kMsgBadDisplaySize = "#20001000:The size must be a number greater than zero.";

// The colour button's picture.
constexpr int kColourSwatchWidth = 100;
constexpr int kColourSwatchHeight = 25;

class CDisplayDialog : public CLangDialog {
  Q_OBJECT
 public:
  // Takes its starting values from the layer, in the units of the preferences.
  explicit CDisplayDialog(Layer& layer, QWidget* parent = nullptr);

  // Moves the members into the controls (save false) or the controls into the
  // members (save true); both ways the chosen field follows the list and the
  // colour controls are enabled by the colour method.
  void UpdateData(bool save);

  Color GetColour() const { return colour_; }
  void SetColour(Color colour);
  int GetField() const { return field_; }
  int GetColorMethod() const { return colorMethod_; }
  const QString& GetSizeText() const { return sizeText_; }
  // The swatch on the colour button (null until first drawn).
  const QPixmap& GetSwatch() const { return swatch_; }
  // Whether a Legend Setup ended with OK, so the layer's legend was replaced.
  bool LegendAssigned() const { return legendAssigned_; }

 protected:
  void OnInitDialog() override;
  // OK: checks the choices, then hands all five settings and the log fields to the layer.
  void accept() override;

 private:
  void DrawColourButton();
  void FillFieldList();
  // The fields each log field box offers, the layer's own chosen.
  void FillLogFieldLists();
  void OnColourButton();
  void OnLegendSetup();

  Layer& layer_;
  bool metric_ = false;
  Color colour_ = kNeutralColor;
  QPixmap swatch_;
  int field_ = 0;
  bool drawBorder_ = false;
  QString sizeText_;
  QString initialSizeText_;
  int colorMethod_ = 0;
  QString unitText_;
  QString sizeLabelText_;
  bool legendAssigned_ = false;
};

// Runs the Display dialog on a layer (parented to parent, or without one to the
// layer's owner window) and, however it ends, recomputes the values when the
// colouring field changed, recolours the records and repaints the map.
// Returns the dialog's result.
int ShowDisplayDialog(Layer& layer, QWidget* parent = nullptr);

}  // namespace kestrune
