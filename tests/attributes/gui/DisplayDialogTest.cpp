// The Display dialog on real points, lines and areas layers: what it shows per
// kind and unit, what OK refuses, what OK writes to the ".gpe" and in which
// order, the log fields, the colour button, and what ShowDisplayDialog does
// afterwards.
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QRadioButton>
#include <QStringList>
#include <QTest>

#include <gtest/gtest.h>

#include "attributes/gui/DialogSupport.h"
#include "attributes/gui/DisplayDialog.h"
#include "attributes/gui/LegendSetupDialog.h"
#include "layers/IniFile.h"
#include "layers/LayerSettings.h"
#include "layers/LogFields.h"
#include "shapes/DbfTable.h"
#include "support/TestSupport.h"
#include "DialogTestSupport.h"

namespace kestrune::test {
namespace {

namespace fs = std::filesystem;

class DisplayDialogTest : public ::testing::Test {
 protected:
  // A loaded layer on a copy of one of the field files.
  std::unique_ptr<Layer> Open(const std::string& name) {
    const fs::path data = TestDataDir();
    if (data.empty()) return nullptr;
    return OpenCopiedLayer(data / "field" / name, dir_);
  }

  template <class T>
  static T* Control(const QWidget* dialog, int id) {
    T* control = FindControl<T>(dialog, id);
    EXPECT_NE(control, nullptr) << "control " << id;
    return control;
  }

  // The keys of section Options in file order.
  static QStringList GpeKeys(const Layer& layer) {
    QStringList keys;
    const std::string text = ReadFileBytes(layer.GetSettingsPath());
    for (const QString& line : QString::fromStdString(text).split('\n')) {
      const QString t = line.trimmed();
      if (t.isEmpty() || t.startsWith('[')) continue;
      keys << t.section('=', 0, 0);
    }
    return keys;
  }

  PreferencesSandbox prefs_;
  TempDir dir_;
};

TEST_F(DisplayDialogTest, EachShapeKindShowsItsSizeLabelAndEnablesItsControls) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  GetPreferences().SetMetric(false);
  struct Case {
    const char* file;
    const char* sizeLabel;
    bool sizeEnabled;
    bool bordersEnabled;
    const char* sizeText;
    QStringList fields;
    QString selectedField;
    bool legendMethod;
  };
  const Case cases[] = {
      // Points with a ".gpe": 20 ft, no borders, legend colours by field 1.
      {"as-applied-simple1.shp", "Point Size", true, true, "20.00",
       {"Tgt_Rate_k", "Elevation_", "Speed_mph_"}, "Tgt_Rate_k", true},
      // A line with one text field and no ".gpe": the 30 ft default, solid colour.
      {"ab-line-simple1.shp", "Line Width", true, false, "30.00", {"AB_Line"}, QString(), false},
      // Areas: no size label, the size disabled; the clay field (3) colours them;
      // the text fields colour by category.
      {"ssurgo-simple1.shp", "", false, true, "30.00",
       {"musym", "mukey", "clay", "sand", "silt", "wtr_str", "muname", "drclssd", "drclssw"}, "clay", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::unique_ptr<Layer> layer = Open(c.file);
    ASSERT_NE(layer, nullptr);
    CDisplayDialog dialog(*layer);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    EXPECT_EQ(dialog.windowTitle(), "Display");
    EXPECT_EQ(Control<QLabel>(&dialog, kIdSizeLabel)->text(), c.sizeLabel);
    EXPECT_EQ(Control<QLabel>(&dialog, kIdSizeLabel)->isEnabled(), c.sizeEnabled);
    EXPECT_EQ(Control<QLineEdit>(&dialog, kIdSize)->isEnabled(), c.sizeEnabled);
    EXPECT_EQ(Control<QLabel>(&dialog, kIdUnitLabel)->isEnabled(), c.sizeEnabled);
    EXPECT_EQ(Control<QLineEdit>(&dialog, kIdSize)->text(), c.sizeText);
    EXPECT_EQ(Control<QLabel>(&dialog, kIdUnitLabel)->text(), "ft");
    EXPECT_EQ(Control<QCheckBox>(&dialog, kIdDrawBorders)->isEnabled(), c.bordersEnabled);
    EXPECT_EQ(Control<QCheckBox>(&dialog, kIdDrawBorders)->isChecked(), layer->GetDrawBorder());

    auto* list = Control<QComboBox>(&dialog, kIdFieldList);
    QStringList names;
    for (int i = 0; i < list->count(); ++i) names << list->itemText(i);
    EXPECT_EQ(names, c.fields);
    EXPECT_EQ(list->currentText(), c.selectedField);
    if (!c.selectedField.isEmpty()) {
      EXPECT_EQ(list->currentData().toInt(), layer->GetLegendColumn());
    }

    EXPECT_EQ(Control<QRadioButton>(&dialog, kIdLegendColors)->isChecked(), c.legendMethod);
    EXPECT_EQ(Control<QRadioButton>(&dialog, kIdSolidColor)->isChecked(), !c.legendMethod);
    // The colour controls follow the method; the field controls the other way.
    EXPECT_EQ(Control<QPushButton>(&dialog, kIdColorButton)->isEnabled(), !c.legendMethod);
    EXPECT_EQ(Control<QLabel>(&dialog, kIdColorLabel)->isEnabled(), !c.legendMethod);
    EXPECT_EQ(list->isEnabled(), c.legendMethod);
    EXPECT_EQ(Control<QLabel>(&dialog, kIdDataItemLabel)->isEnabled(), c.legendMethod);
    EXPECT_EQ(Control<QPushButton>(&dialog, kIdLegendSetup)->isEnabled(), c.legendMethod);

    // Clicking the other method swaps the enabling at once.
    ClickIndicator(Control<QRadioButton>(&dialog, c.legendMethod ? kIdSolidColor : kIdLegendColors));
    EXPECT_EQ(dialog.GetColorMethod(), c.legendMethod ? 0 : 1);
    EXPECT_EQ(Control<QPushButton>(&dialog, kIdColorButton)->isEnabled(), c.legendMethod);
    EXPECT_EQ(list->isEnabled(), !c.legendMethod);
    EXPECT_EQ(Control<QPushButton>(&dialog, kIdLegendSetup)->isEnabled(), !c.legendMethod);
    dialog.reject();
  }
}

TEST_F(DisplayDialogTest, MetricShowsMetresAndAnUntouchedSizeKeepsItsExactFeet) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  std::unique_ptr<Layer> layer = Open("yield-simple1.shp");
  ASSERT_NE(layer, nullptr);
  layer->SetDisplaySize(3.280839895, false);
  GetPreferences().SetMetric(true);
  {
    CDisplayDialog dialog(*layer);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_EQ(Control<QLineEdit>(&dialog, kIdSize)->text(), "1.00");
    EXPECT_EQ(Control<QLabel>(&dialog, kIdUnitLabel)->text(), "m");
    dialog.reject();
  }
  // 30 ft shows as 9.14 m; taking the rounded text back would store 29.98 ft.
  layer->SetDisplaySize(30.0, false);
  CDisplayDialog dialog(*layer);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  EXPECT_EQ(Control<QLineEdit>(&dialog, kIdSize)->text(), "9.14");
  QTest::mouseClick(Control<QPushButton>(&dialog, kIdDisplayOk), Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_DOUBLE_EQ(layer->GetDisplaySize(false), 30.0);
  int32_t stored = 0;
  ASSERT_TRUE(layer->ReadSetting(kKeyDisplaySize, stored));
  EXPECT_EQ(stored, 3000);
  EXPECT_DOUBLE_EQ(GetPreferences().GetDefaultDisplaySize(false), 30.0);

  // A typed metric size is converted to feet.
  CDisplayDialog typed(*layer);
  typed.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&typed));
  Control<QLineEdit>(&typed, kIdSize)->setText("2");
  QTest::mouseClick(Control<QPushButton>(&typed, kIdDisplayOk), Qt::LeftButton);
  EXPECT_NEAR(layer->GetDisplaySize(false), 6.56167979, 1e-9);
  ASSERT_TRUE(layer->ReadSetting(kKeyDisplaySize, stored));
  EXPECT_EQ(stored, 656);
  EXPECT_NEAR(GetPreferences().GetDefaultDisplaySize(true), 2.0, 1e-9);
}

TEST_F(DisplayDialogTest, OkWritesTheFiveSettingsInOrderAndTheDefaultSize) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  GetPreferences().SetMetric(false);
  std::unique_ptr<Layer> layer = Open("as-applied-simple1.shp");
  ASSERT_NE(layer, nullptr);
  // Without a settings file every key is new, so the file shows the order of the writes.
  fs::remove(layer->GetSettingsPath());

  CDisplayDialog dialog(*layer);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  dialog.SetColour(RGBColor(0x12, 0x34, 0x56));
  auto* size = Control<QLineEdit>(&dialog, kIdSize);
  size->selectAll();
  QTest::keyClicks(size, "12.5");
  ClickIndicator(Control<QCheckBox>(&dialog, kIdDrawBorders));
  Control<QComboBox>(&dialog, kIdFieldList)->setCurrentIndex(2);  // Speed_mph_, field 3
  QTest::mouseClick(Control<QPushButton>(&dialog, kIdDisplayOk), Qt::LeftButton);

  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(GpeKeys(*layer), QStringList({"SOLID_COLOR", "DISPLAY_SIZE", "DRAW_BORDER", "COLOR_METHOD", "LEGEND_COL",
                                          "RATE_COL", "BOOM_COL", "DATE_COL", "TIME_COL", "WIDTH_COL"}));
  IniFile gpe;
  ASSERT_EQ(gpe.Load(layer->GetSettingsPath()), IniLoadStatus::Ok);
  int32_t v = 0;
  ASSERT_TRUE(ReadSetting(gpe, kKeySolidColor, v));
  EXPECT_EQ(v, 0x563412);
  ASSERT_TRUE(ReadSetting(gpe, kKeyDisplaySize, v));
  EXPECT_EQ(v, 1250);
  ASSERT_TRUE(ReadSetting(gpe, kKeyDrawBorder, v));
  EXPECT_EQ(v, 1);
  ASSERT_TRUE(ReadSetting(gpe, kKeyColorMethod, v));
  EXPECT_EQ(v, 1);
  ASSERT_TRUE(ReadSetting(gpe, kKeyLegendColumn, v));
  EXPECT_EQ(v, 3);
  EXPECT_EQ(layer->GetLegendColumn(), 3);
  EXPECT_DOUBLE_EQ(GetPreferences().GetDefaultDisplaySize(false), 12.5);
  // The default is kept in memory; the preferences are saved elsewhere.
  EXPECT_DOUBLE_EQ(prefs_.Stored().GetDefaultDisplaySize(false), 30.0);
}

TEST_F(DisplayDialogTest, AreasAloneOfferAFillOpacityWrittenOnlyWhenChanged) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  for (const char* file : {"as-applied-simple1.shp", "ab-line-simple1.shp"}) {
    std::unique_ptr<Layer> layer = Open(file);
    ASSERT_NE(layer, nullptr);
    CDisplayDialog dialog(*layer);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_FALSE(Control<QSpinBox>(&dialog, kIdFillOpacity)->isEnabled()) << file;
    dialog.reject();
  }
  std::unique_ptr<Layer> layer = Open("ssurgo-simple1.shp");
  ASSERT_NE(layer, nullptr);
  {
    CDisplayDialog dialog(*layer);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    auto* opacity = Control<QSpinBox>(&dialog, kIdFillOpacity);
    EXPECT_TRUE(opacity->isEnabled());
    EXPECT_EQ(opacity->value(), 100);
    QTest::mouseClick(Control<QPushButton>(&dialog, kIdDisplayOk), Qt::LeftButton);
    EXPECT_FALSE(GpeKeys(*layer).contains("FILL_OPACITY"));
  }
  CDisplayDialog dialog(*layer);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  Control<QSpinBox>(&dialog, kIdFillOpacity)->setValue(30);
  QTest::mouseClick(Control<QPushButton>(&dialog, kIdDisplayOk), Qt::LeftButton);
  EXPECT_EQ(layer->GetFillOpacity(), 30);
  int32_t v = 0;
  ASSERT_TRUE(layer->ReadSetting(kKeyFillOpacity, v));
  EXPECT_EQ(v, 30);
}

TEST_F(DisplayDialogTest, OkRefusesLegendColoursWithoutAFieldAndSizesThatAreNoSize) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  GetPreferences().SetMetric(false);
  std::unique_ptr<Layer> line = Open("ab-line-simple1.shp");
  ASSERT_NE(line, nullptr);
  const std::string gpeBefore = ReadFileBytes(line->GetSettingsPath());
  {
    MessageCapture messages;
    CDisplayDialog dialog(*line);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    ClickIndicator(Control<QRadioButton>(&dialog, kIdLegendColors));
    QTest::mouseClick(Control<QPushButton>(&dialog, kIdDisplayOk), Qt::LeftButton);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, "Must select a data item by which to color.");
    EXPECT_EQ(messages.messages[0].caption, "Display");
    EXPECT_EQ(messages.messages[0].icon, MessageIcon::Warning);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(line->GetColorMethod(), kColorMethodSolid);
    EXPECT_EQ(ReadFileBytes(line->GetSettingsPath()), gpeBefore);
    dialog.reject();
  }

  std::unique_ptr<Layer> points = Open("yield-simple1.shp");
  ASSERT_NE(points, nullptr);
  const double sizeBefore = points->GetDisplaySize(false);
  for (const char* typed : {"abc", "0", "-3", "", "12abc", "nan"}) {
    SCOPED_TRACE(typed);
    MessageCapture messages;
    CDisplayDialog dialog(*points);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    Control<QLineEdit>(&dialog, kIdSize)->setText(typed);
    QTest::mouseClick(Control<QPushButton>(&dialog, kIdDisplayOk), Qt::LeftButton);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, "The size must be a number greater than zero.");
    EXPECT_EQ(messages.messages[0].caption, "Display");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_DOUBLE_EQ(points->GetDisplaySize(false), sizeBefore);
    EXPECT_DOUBLE_EQ(GetPreferences().GetDefaultDisplaySize(false), 30.0);
    dialog.reject();
  }
}

TEST_F(DisplayDialogTest, TheColourButtonShowsTheColourAndThePickerChangesItOnlyOnOk) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  std::unique_ptr<Layer> layer = Open("ab-line-simple1.shp");
  ASSERT_NE(layer, nullptr);
  layer->SetSolidColor(RGBColor(0, 128, 0));
  CDisplayDialog dialog(*layer);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  ASSERT_FALSE(dialog.GetSwatch().isNull());
  EXPECT_EQ(dialog.GetSwatch().size(), QSize(kColourSwatchWidth, kColourSwatchHeight));
  EXPECT_EQ(dialog.GetSwatch().toImage().pixelColor(50, 12), QColor(0, 128, 0));

  WhenModal("ColourPicker", [](QDialog* picker) {
    static_cast<QColorDialog*>(picker)->setCurrentColor(QColor(255, 0, 0));
    picker->reject();
  });
  QTest::mouseClick(Control<QPushButton>(&dialog, kIdColorButton), Qt::LeftButton);
  EXPECT_EQ(dialog.GetColour(), RGBColor(0, 128, 0));

  WhenModal("ColourPicker", [](QDialog* picker) {
    auto* colours = static_cast<QColorDialog*>(picker);
    EXPECT_EQ(colours->currentColor(), QColor(0, 128, 0));
    colours->setCurrentColor(QColor(255, 0, 0));
    picker->accept();
  });
  QTest::mouseClick(Control<QPushButton>(&dialog, kIdColorButton), Qt::LeftButton);
  EXPECT_EQ(dialog.GetColour(), RGBColor(255, 0, 0));
  EXPECT_EQ(dialog.GetSwatch().toImage().pixelColor(0, 0), QColor(255, 0, 0));
  EXPECT_EQ(dialog.GetSwatch().toImage().pixelColor(99, 24), QColor(255, 0, 0));
  // The layer hears of it only on OK.
  EXPECT_EQ(layer->GetSolidColor(), RGBColor(0, 128, 0));
  QTest::mouseClick(Control<QPushButton>(&dialog, kIdDisplayOk), Qt::LeftButton);
  EXPECT_EQ(layer->GetSolidColor(), RGBColor(255, 0, 0));
}

// The value of a field in a row of the layer's table.
double TableValue(const Layer& layer, int row, int field) {
  DbfTable table;
  EXPECT_TRUE(table.Open(layer.GetTablePath()));
  EXPECT_TRUE(table.ReadRecord(row));
  double value = -1;
  EXPECT_TRUE(table.GetNumber(field, value));
  return value;
}

TEST_F(DisplayDialogTest, LogFieldsShowTheirFieldsAndOkWritesTheFiveKeys) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  std::unique_ptr<Layer> layer = Open("as-applied-simple1.shp");
  ASSERT_NE(layer, nullptr);
  const auto box = [](const QDialog* d, LogField f) {
    return FindControl<QComboBox>(d, kIdLogFieldFirst + static_cast<int>(f));
  };
  const auto items = [](const QComboBox* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) texts << list->itemText(i);
    return texts;
  };
  for (bool metric : {true, false}) {
    GetPreferences().SetMetric(metric);
    CDisplayDialog dialog(*layer);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_EQ(Control<QLabel>(&dialog, kIdWidthUnitNote)->text(),
              metric ? "The width is read in metres (metric units)." : "The width is read in feet (U.S. units).");
    dialog.reject();
  }
  CDisplayDialog dialog(*layer);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  // Only the target rate was detected; every box offers "(none)" and the numeric fields.
  const QStringList numeric{"(none)", "Tgt_Rate_k", "Elevation_", "Speed_mph_"};
  for (LogField f : kLogFieldOrder) EXPECT_EQ(items(box(&dialog, f)), numeric) << LogFieldKey(f);
  EXPECT_EQ(box(&dialog, LogField::Rate)->currentText(), "Tgt_Rate_k");
  EXPECT_EQ(box(&dialog, LogField::Boom)->currentText(), "(none)");
  EXPECT_EQ(FindControl<QGroupBox>(&dialog, kIdLogFieldsGroup)->title(), "Log fields");

  // Speed as the width, no rate: all five keys are written, the summary goes.
  box(&dialog, LogField::Rate)->setCurrentIndex(0);
  box(&dialog, LogField::Width)->setCurrentIndex(3);
  QTest::mouseClick(Control<QPushButton>(&dialog, kIdDisplayOk), Qt::LeftButton);
  ASSERT_EQ(dialog.result(), QDialog::Accepted);
  IniFile gpe;
  ASSERT_EQ(gpe.Load(layer->GetSettingsPath()), IniLoadStatus::Ok);
  const char* const expected[] = {"0", "0", "0", "0", "3"};
  for (int i = 0; i < kLogFieldCount; ++i) {
    EXPECT_EQ(gpe.GetString("Options", LogFieldKey(kLogFieldOrder[i])), expected[i]) << i;
  }
  EXPECT_EQ(layer->GetLogFields()[LogField::Width], 3);
  EXPECT_EQ(layer->GetSummary().productCount, 0);
}

TEST_F(DisplayDialogTest, ShowDisplayDialogRecomputesANewFieldRecoloursAndRepaints) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  std::unique_ptr<Layer> layer = Open("as-applied-simple1.shp");
  ASSERT_NE(layer, nullptr);
  CountingMapHost map(*layer);
  ASSERT_EQ(layer->GetLegendColumn(), 1);

  // Cancel: nothing changes, yet the records are recoloured and the map repainted.
  WhenModal(ControlName(kDisplayDialogId), [](QDialog* d) {
    FindControl<QComboBox>(d, kIdFieldList)->setCurrentIndex(2);
    QTest::mouseClick(FindControl<QPushButton>(d, kIdDisplayCancel), Qt::LeftButton);
  });
  EXPECT_EQ(ShowDisplayDialog(*layer), QDialog::Rejected);
  EXPECT_EQ(layer->GetLegendColumn(), 1);
  EXPECT_EQ(map.invalidations, 1);
  EXPECT_TRUE(map.lastErase);

  // OK with the speed field: the values are now speeds and the colours the new legend's.
  WhenModal(ControlName(kDisplayDialogId), [](QDialog* d) {
    FindControl<QComboBox>(d, kIdFieldList)->setCurrentIndex(2);
    QTest::mouseClick(FindControl<QPushButton>(d, kIdDisplayOk), Qt::LeftButton);
  });
  EXPECT_EQ(ShowDisplayDialog(*layer), QDialog::Accepted);
  EXPECT_EQ(layer->GetLegendColumn(), 3);
  EXPECT_EQ(map.invalidations, 2);
  int checked = 0;
  for (Shape* shape : layer->Records()) {
    if (checked == 5) break;
    EXPECT_DOUBLE_EQ(shape->GetValue(), TableValue(*layer, shape->GetRecordNumber(), 3));
    EXPECT_EQ(shape->GetColor(), layer->GetLegend().GetColor(shape->GetValue()));
    ++checked;
  }
}

TEST_F(DisplayDialogTest, ATextFieldColoursByCategoryAndHasNoLegendToSetUp) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  std::unique_ptr<Layer> layer = Open("ssurgo-simple1.shp");
  ASSERT_NE(layer, nullptr);
  CountingMapHost map(*layer);
  bool setupEnabledOnClay = false;
  bool setupEnabledOnMusym = true;
  WhenModal(ControlName(kDisplayDialogId), [&](QDialog* d) {
    auto* fields = FindControl<QComboBox>(d, kIdFieldList);
    auto* setup = FindControl<QPushButton>(d, kIdLegendSetup);
    setupEnabledOnClay = setup->isEnabled();
    // The user steps the closed box up twice: from clay to musym.
    fields->setFocus();
    QTest::keyClick(fields, Qt::Key_Up);
    QTest::keyClick(fields, Qt::Key_Up);
    EXPECT_EQ(fields->currentText(), "musym");
    setupEnabledOnMusym = setup->isEnabled();
    QTest::mouseClick(FindControl<QPushButton>(d, kIdDisplayOk), Qt::LeftButton);
  });
  EXPECT_EQ(ShowDisplayDialog(*layer), QDialog::Accepted);
  EXPECT_TRUE(setupEnabledOnClay);
  EXPECT_FALSE(setupEnabledOnMusym);
  EXPECT_EQ(layer->GetLegendColumn(), 1);
  ASSERT_TRUE(layer->IsCategorised());
  EXPECT_EQ(layer->GetCategories().GetCount(), 7u);
  for (Shape* shape : layer->Records()) {
    EXPECT_EQ(shape->GetColor(), layer->GetCategories().ColorOf(int(shape->GetValue())));
  }
}

TEST_F(DisplayDialogTest, LegendSetupAssignsAtOnceAndSurvivesCancelAndAFieldChange) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  std::unique_ptr<Layer> layer = Open("as-applied-simple1.shp");
  ASSERT_NE(layer, nullptr);
  Legend mine;
  mine.Insert(5.0, 0x0000FF);
  mine.Insert(kLegendTopValue, 0x00FF00);
  layer->SetLegend(mine);

  // Legend Setup with OK, then the Display dialog cancelled: the legend stays.
  WhenModal(ControlName(kDisplayDialogId), [&](QDialog* d) {
    WhenModal(ControlName(kLegendSetupDialogId), [&](QDialog* legend) {
      auto* setup = static_cast<CLegendSetupDialog*>(legend);
      setup->Grid()->SetCellNumber(2, kColUnder, 7.0);
      QTest::mouseClick(FindControl<QPushButton>(legend, kIdLegendOk), Qt::LeftButton);
    });
    QTest::mouseClick(FindControl<QPushButton>(d, kIdLegendSetup), Qt::LeftButton);
    EXPECT_TRUE(layer->GetLegend().IsChanged());
    EXPECT_EQ(layer->GetLegend().GetEntries().front().value, 7.0);
    QTest::mouseClick(FindControl<QPushButton>(d, kIdDisplayCancel), Qt::LeftButton);
  });
  ShowDisplayDialog(*layer);
  ASSERT_EQ(layer->GetLegend().GetCount(), 2u);
  EXPECT_EQ(layer->GetLegend().GetEntries()[0], (LegendEntry{7.0, 0x0000FF, 0, 0}));
  EXPECT_TRUE(layer->GetLegend().IsChanged());

  // A legend set up in the same dialog that changes the field is not replaced
  // by the automatic one of the new field.
  WhenModal(ControlName(kDisplayDialogId), [&](QDialog* d) {
    FindControl<QComboBox>(d, kIdFieldList)->setCurrentIndex(1);
    WhenModal(ControlName(kLegendSetupDialogId), [&](QDialog* legend) {
      static_cast<CLegendSetupDialog*>(legend)->Grid()->SetCellNumber(2, kColUnder, 9.0);
      QTest::mouseClick(FindControl<QPushButton>(legend, kIdLegendOk), Qt::LeftButton);
    });
    QTest::mouseClick(FindControl<QPushButton>(d, kIdLegendSetup), Qt::LeftButton);
    QTest::mouseClick(FindControl<QPushButton>(d, kIdDisplayOk), Qt::LeftButton);
  });
  EXPECT_EQ(ShowDisplayDialog(*layer), QDialog::Accepted);
  EXPECT_EQ(layer->GetLegendColumn(), 2);
  ASSERT_EQ(layer->GetLegend().GetCount(), 2u);
  EXPECT_EQ(layer->GetLegend().GetEntries()[0].value, 9.0);
  EXPECT_TRUE(layer->GetLegend().IsChanged());
  // The values are the new field's all the same.
  Shape* first = *layer->Records().begin();
  EXPECT_DOUBLE_EQ(first->GetValue(), TableValue(*layer, first->GetRecordNumber(), 2));
  EXPECT_EQ(first->GetColor(), first->GetValue() <= 9.0 ? Color(0x0000FF) : Color(0x00FF00));
}

}  // namespace
}  // namespace kestrune::test
