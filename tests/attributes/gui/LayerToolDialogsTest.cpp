// The Notes dialog with the notes
// file, the Show Me filter dialog and the Total Summary dialog, on real widgets.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include "base/Preferences.h"

#include "attributes/gui/DialogSupport.h"
#include "attributes/gui/DisplayDialog.h"
#include "attributes/gui/LayerToolDialogs.h"
#include "attributes/gui/LegendSetupDialog.h"
#include "lang/LangFile.h"
#include "lang/LangStringCache.h"
#include "layers/LayerList.h"
#include "support/TestSupport.h"
#include "DialogTestSupport.h"

namespace kestrune::test {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------- Notes

class NotesTest : public ::testing::Test {
 protected:
  // An empty layer named in the scratch folder: its notes file is beside it.
  void SetUp() override { layer_ = list_.AddLayer((dir_ / "field.shp").string()); }

  static QPlainTextEdit* Edit(const QDialog* d) { return FindControl<QPlainTextEdit>(d, kIdNotesEdit); }

  TempDir dir_;
  LayerList list_;
  Layer* layer_ = nullptr;
};

// Ten kilobytes of notes with accents, a non-breaking space, tabs and CR LF lines.
std::string TenKilobyteNotes() {
  std::string notes;
  int line = 0;
  while (notes.size() < 10 * 1024) {
    notes += "Line " + std::to_string(++line) + ":\tsprayed 12\xC2\xA0gal/ac, caf\xC3\xA9 corner \xE2\x80\x94 ok\r\n";
  }
  return notes;
}

TEST_F(NotesTest, TenKilobytesOfNotesSurviveTheDialogByteForByte) {
  const std::string notes = TenKilobyteNotes();
  WriteFileBytes(layer_->GetNotesPath(), notes);
  WhenModal(ControlName(kNotesDialogId), [](QDialog* d) {
    EXPECT_EQ(d->windowTitle(), "Notes");
    // Shown whole, with the lines as lines.
    EXPECT_TRUE(Edit(d)->toPlainText().endsWith(QString::fromUtf8("\xE2\x80\x94 ok\n")));
    EXPECT_GT(Edit(d)->document()->blockCount(), 150);
    QTest::mouseClick(FindControl<QPushButton>(d, 1), Qt::LeftButton);
  });
  EXPECT_TRUE(EditNotes(*layer_));
  EXPECT_EQ(ReadFileBytes(layer_->GetNotesPath()), notes);

  // Typed text of the same size is saved whole and reads back the same.
  fs::remove(layer_->GetNotesPath());
  const QString typed = QString::fromStdString(notes).replace("\r\n", "\n").repeated(2) + "last line";
  WhenModal(ControlName(kNotesDialogId), [&](QDialog* d) {
    EXPECT_TRUE(Edit(d)->toPlainText().isEmpty());
    Edit(d)->setPlainText(typed);
    QTest::keyClick(Edit(d), Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(Edit(d), Qt::Key_Return);
    QTest::keyClicks(Edit(d), "typed");
    QTest::mouseClick(FindControl<QPushButton>(d, 1), Qt::LeftButton);
  });
  EXPECT_TRUE(EditNotes(*layer_));
  const std::string expected = (typed + "\ntyped").toStdString();
  EXPECT_GT(expected.size(), 10u * 1024);
  EXPECT_EQ(ReadFileBytes(layer_->GetNotesPath()), expected);
  std::string loaded;
  ASSERT_TRUE(LoadNotes(*layer_, loaded));
  EXPECT_EQ(loaded, expected);
}

TEST_F(NotesTest, EditedNotesKeepTheirLineEndsAndOldCodePage) {
  // Notes from a Windows code page (0xE9 is "é" there) with CR LF lines.
  WriteFileBytes(layer_->GetNotesPath(), "Caf\xE9 field\r\nnorth end");
  WhenModal(ControlName(kNotesDialogId), [](QDialog* d) {
    EXPECT_EQ(Edit(d)->toPlainText(), QString::fromUtf8("Caf\xC3\xA9 field\nnorth end"));
    QTest::keyClick(Edit(d), Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(Edit(d), Qt::Key_Return);
    QTest::keyClicks(Edit(d), "dry");
    QTest::mouseClick(FindControl<QPushButton>(d, 1), Qt::LeftButton);
  });
  EXPECT_TRUE(EditNotes(*layer_));
  EXPECT_EQ(ReadFileBytes(layer_->GetNotesPath()), "Caf\xE9 field\r\nnorth end\r\ndry");

  // Cancel writes nothing.
  WhenModal(ControlName(kNotesDialogId), [](QDialog* d) {
    Edit(d)->setPlainText("gone");
    QTest::mouseClick(FindControl<QPushButton>(d, 2), Qt::LeftButton);
  });
  EXPECT_FALSE(EditNotes(*layer_));
  EXPECT_EQ(ReadFileBytes(layer_->GetNotesPath()), "Caf\xE9 field\r\nnorth end\r\ndry");

  // The codec alone: UTF-8 with LF stays so; a character beyond Latin-1 makes old notes UTF-8.
  NotesEncoding encoding;
  EXPECT_EQ(NotesTextFromBytes("a\nb", encoding), "a\nb");
  EXPECT_FALSE(encoding.crlf);
  EXPECT_FALSE(encoding.latin1);
  EXPECT_EQ(NotesBytesFromText("a\nb", encoding), "a\nb");
  NotesTextFromBytes("x\xE9\r\n", encoding);
  EXPECT_TRUE(encoding.latin1);
  EXPECT_EQ(NotesBytesFromText(QString::fromUtf8("\xE2\x82\xAC"), encoding), "\xE2\x82\xAC");
}

TEST_F(NotesTest, NotesThatCannotBeWrittenAreReportedAndStayInTheDialog) {
  // A folder where the notes file should be: it can be neither read nor replaced.
  fs::create_directory(layer_->GetNotesPath());
  MessageCapture messages;
  WhenModal(ControlName(kNotesDialogId), [&](QDialog* d) {
    QTest::keyClicks(Edit(d), "Scout: weeds in the NE corner");
    QTest::mouseClick(FindControl<QPushButton>(d, 1), Qt::LeftButton);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, "Unable to save notes to file.\n\n" + layer_->GetNotesPath() +
                                             " is not a regular file and was not written.");
    EXPECT_EQ(messages.messages[0].caption, "Kestrune Notes");  // the standard edition's name
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(Edit(d)->toPlainText(), "Scout: weeds in the NE corner");
    // Once the way is clear, OK saves what was typed.
    fs::remove(layer_->GetNotesPath());
    QTest::mouseClick(FindControl<QPushButton>(d, 1), Qt::LeftButton);
    EXPECT_FALSE(d->isVisible());
  });
  EXPECT_TRUE(EditNotes(*layer_));
  EXPECT_EQ(ReadFileBytes(layer_->GetNotesPath()), "Scout: weeds in the NE corner");
}

// ---------------------------------------------------------------- Show Me

class ShowMeTest : public ::testing::Test {
 protected:
  static QRadioButton* Radio(const QDialog* d, int id) { return FindControl<QRadioButton>(d, id); }
  static QCheckBox* Shadows(const QDialog* d) { return FindControl<QCheckBox>(d, kIdShadows); }
};

TEST_F(ShowMeTest, TheMaskRoundTripsThroughTheChoices) {
  // Mask 0 opens with the first choice of each group and no shadows.
  int mask = 0;
  CShowMeDialog dialog(mask);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  EXPECT_EQ(dialog.windowTitle(), "Show Me");
  EXPECT_TRUE(Radio(&dialog, kIdBoomOnOnly)->isChecked());
  EXPECT_TRUE(Radio(&dialog, kIdRateAboveZero)->isChecked());
  EXPECT_FALSE(Shadows(&dialog)->isChecked());
  EXPECT_EQ(FindControl<QGroupBox>(&dialog, kIdBoomGroup)->title(), "Boom State");
  EXPECT_EQ(Radio(&dialog, kIdRateAny)->text(), "Do not filter by applied rate");

  // Booms ON only, no rate filter, shadows: 0x100D.
  ClickIndicator(Radio(&dialog, kIdRateAny));
  ClickIndicator(Shadows(&dialog));
  EXPECT_FALSE(Radio(&dialog, kIdRateAboveZero)->isChecked());
  QTest::mouseClick(FindControl<QPushButton>(&dialog, 1), Qt::LeftButton);
  EXPECT_EQ(mask, 0x100D);

  // Every mask opens as its choices and OK gives back the mask of those choices.
  const struct {
    int mask;
    int boomId;
    int rateId;
    bool shadows;
    int back;
  } cases[] = {
      {0x100D, kIdBoomOnOnly, kIdRateAny, true, 0x100D},  {0x1005, kIdBoomOnOnly, kIdRateAboveZero, true, 0x1005},
      {0x000F, kIdBoomAny, kIdRateAny, false, 0x000F},    {0x0002, kIdBoomOffOnly, kIdRateAboveZero, false, 0x0006},
      {0x0008, kIdBoomOnOnly, kIdRateZeroOnly, false, 0x0009}, {0x100A, kIdBoomOffOnly, kIdRateZeroOnly, true, 0x100A},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mask);
    int m = c.mask;
    CShowMeDialog d(m);
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    EXPECT_TRUE(Radio(&d, c.boomId)->isChecked());
    EXPECT_TRUE(Radio(&d, c.rateId)->isChecked());
    EXPECT_EQ(Shadows(&d)->isChecked(), c.shadows);
    QTest::mouseClick(FindControl<QPushButton>(&d, 1), Qt::LeftButton);
    EXPECT_EQ(m, c.back);
  }

  // Cancel leaves the mask alone.
  int kept = 0x1005;
  CShowMeDialog cancelled(kept);
  cancelled.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&cancelled));
  ClickIndicator(Radio(&cancelled, kIdBoomOffOnly));
  QTest::mouseClick(FindControl<QPushButton>(&cancelled, 2), Qt::LeftButton);
  EXPECT_EQ(kept, 0x1005);
}

TEST_F(ShowMeTest, ShowFilterDialogFiltersTheLayerAndRepaintsHoweverItEnds) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  TempDir dir;
  std::unique_ptr<Layer> layer = OpenCopiedLayer(data / "field" / "as-applied-simple1.shp", dir);
  ASSERT_NE(layer, nullptr);
  CountingMapHost map(*layer);
  const auto filteredOut = [&] {
    std::size_t n = 0;
    for (Shape* shape : layer->Records()) n += shape->IsFilteredOut() ? 1 : 0;
    return n;
  };

  // The log has a (target) rate field and no boom field: the boom choices are
  // disabled. Zero rates only shows the 4 records whose rate is 0.
  WhenModal(ControlName(kShowMeDialogId), [](QDialog* d) {
    EXPECT_FALSE(FindControl<QGroupBox>(d, kIdBoomGroup)->isEnabled());
    EXPECT_EQ(FindControl<QGroupBox>(d, kIdBoomGroup)->toolTip(),
              "This file has no boom field (Display Settings, Log fields).");
    EXPECT_TRUE(FindControl<QGroupBox>(d, kIdRateGroup)->toolTip().isEmpty());
    EXPECT_FALSE(Radio(d, kIdBoomOffOnly)->isEnabled());
    EXPECT_TRUE(Radio(d, kIdRateZeroOnly)->isEnabled());
    ClickIndicator(Radio(d, kIdBoomOffOnly));  // refused
    ClickIndicator(Radio(d, kIdRateZeroOnly));
    QTest::mouseClick(FindControl<QPushButton>(d, 1), Qt::LeftButton);
  });
  EXPECT_EQ(ShowFilterDialog(*layer), QDialog::Accepted);
  EXPECT_EQ(layer->GetFilterMask(), 0x1009);
  EXPECT_EQ(filteredOut(), layer->GetRecordCount() - 4);
  EXPECT_EQ(map.invalidations, 1);
  EXPECT_TRUE(map.lastErase);

  // Cancel keeps the mask, yet filters and repaints again.
  WhenModal(ControlName(kShowMeDialogId), [](QDialog* d) {
    ClickIndicator(Radio(d, kIdRateAny));
    QTest::mouseClick(FindControl<QPushButton>(d, 2), Qt::LeftButton);
  });
  EXPECT_EQ(ShowFilterDialog(*layer), QDialog::Rejected);
  EXPECT_EQ(layer->GetFilterMask(), 0x1009);
  EXPECT_EQ(map.invalidations, 2);

  WhenModal(ControlName(kShowMeDialogId), [](QDialog* d) {
    ClickIndicator(Radio(d, kIdRateAny));
    QTest::mouseClick(FindControl<QPushButton>(d, 1), Qt::LeftButton);
  });
  ShowFilterDialog(*layer);
  EXPECT_EQ(layer->GetFilterMask(), 0x100D);
  EXPECT_EQ(filteredOut(), 0u);

  // A dialog told of neither field offers neither group.
  int mask = kDefaultFilterMask;
  CShowMeDialog bare(mask, nullptr, false, false);
  bare.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&bare));
  EXPECT_FALSE(FindControl<QGroupBox>(&bare, kIdBoomGroup)->isEnabled());
  EXPECT_FALSE(FindControl<QGroupBox>(&bare, kIdRateGroup)->isEnabled());
  EXPECT_TRUE(Shadows(&bare)->isEnabled());
  bare.reject();
}

TEST_F(ShowMeTest, TheMainWindowsCommandsOpenTheDialogsOverTheGivenWindow) {
  TempDir dir;
  LayerList list;
  Layer* layer = list.AddLayer((dir / "f.shp").string());
  QWidget frame;
  const auto expectParent = [&frame](const QString& name) {
    WhenModal(name, [&frame](QDialog* d) {
      EXPECT_EQ(d->parentWidget(), &frame);
      d->reject();
    });
  };
  expectParent(ControlName(kShowMeDialogId));
  ShowFilterDialog(*layer, &frame);
  expectParent(ControlName(kNotesDialogId));
  EditNotes(*layer, &frame);
  expectParent(ControlName(kDisplayDialogId));
  ShowDisplayDialog(*layer, &frame);
  expectParent(ControlName(kTotalSummaryDialogId));
  ShowTotals(list, &frame);
  // The layers window's legend double click: Cancel leaves the copy as it was.
  expectParent(ControlName(kLegendSetupDialogId));
  Legend copy;
  copy.Insert(10.0, 0x0000FF);
  EXPECT_NE(RunLegendSetup(copy, &frame), QDialog::Accepted);
  EXPECT_EQ(copy.GetCount(), 1u);
}

// ---------------------------------------------------------------- translation

class DialogTranslation : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (dir_ / "KRLang.dat").string();
    std::string error;
    ASSERT_TRUE(WriteLangFile(path_,
                              {{10310, "Zeig mir"},
                               {10311, "Ausleger"},
                               {10312, "Nur Ausleger AN"},
                               {10266, "Anzeige"},
                               {10269, "Ränder zeichnen"},
                               {10288, "Alle Dateien"},
                               {10289, "Gesamtfläche"},
                               {20001000, "Die Größe muss eine Zahl über null sein."}},
                              false, 0, &error))
        << error;
    SetLangFilePath(path_);
    ResetLangStringCacheForTesting();
  }
  void TearDown() override {
    SetLangFilePath("KRLang.dat");
    ResetLangStringCacheForTesting();
  }

  TempDir dir_;
  std::string path_;
};

TEST_F(DialogTranslation, TitlesAndControlsAreTranslatedWhenTheDialogsOpen) {
  int mask = 0;
  CShowMeDialog showMe(mask);
  // Nothing is translated before the dialog opens.
  EXPECT_EQ(showMe.windowTitle(), "#10310:Show Me");
  showMe.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&showMe));
  EXPECT_EQ(showMe.windowTitle(), "Zeig mir");
  EXPECT_EQ(FindControl<QGroupBox>(&showMe, kIdBoomGroup)->title(), "Ausleger");
  // Controls inside the group boxes too; texts without a translation keep their default.
  EXPECT_EQ(FindControl<QRadioButton>(&showMe, kIdBoomOnOnly)->text(), "Nur Ausleger AN");
  EXPECT_EQ(FindControl<QRadioButton>(&showMe, kIdBoomOffOnly)->text(), "Booms OFF only");

  CTotalSummaryDialog totals("1.00", "2.00");
  totals.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&totals));
  EXPECT_EQ(totals.findChild<QGroupBox*>()->title(), "Alle Dateien");
  QStringList labels;
  for (QLabel* label : totals.findChildren<QLabel*>()) labels << label->text();
  EXPECT_TRUE(labels.contains("Gesamtfläche")) << labels.join(", ").toStdString();

  Layer layer;
  CDisplayDialog display(layer);
  display.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&display));
  EXPECT_EQ(display.windowTitle(), "Anzeige");
  EXPECT_EQ(FindControl<QCheckBox>(&display, kIdDrawBorders)->text(), "Ränder zeichnen");
  // The new size message goes through the language file as well.
  MessageCapture messages;
  FindControl<QLineEdit>(&display, kIdSize)->setText("0");
  QTest::mouseClick(FindControl<QPushButton>(&display, kIdDisplayOk), Qt::LeftButton);
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0].text, "Die Größe muss eine Zahl über null sein.");
  EXPECT_EQ(messages.messages[0].caption, "Anzeige");
}

// ---------------------------------------------------------------- totals

TEST(TotalSummaryTest, ShowTotalsAddsUpTheFilesOfTheNewestFilesSlot) {
  TempDir dir;
  LayerList list;
  Layer* older = list.AddLayer((dir / "a.shp").string());
  Layer* newer = list.AddLayer((dir / "b.shp").string());
  FileSummary& a = older->GetSummary();
  a.productCount = 3;
  a.fieldArea = {1.5, 10.0, 100.25};
  a.fieldVolume = {2.0, 20.0, 200.5};
  FileSummary& b = newer->GetSummary();
  b.productCount = 2;
  b.fieldArea = {0.25, 5.004};
  b.fieldVolume = {0.5, 7.126};
  newer->SetProductSlot(1);
  // The figures carry the units of the preference.
  const bool wasMetric = GetPreferences().IsMetric();
  GetPreferences().SetMetric(false);

  WhenModal(ControlName(kTotalSummaryDialogId), [](QDialog* d) {
    EXPECT_EQ(d->windowTitle(), "Total Summary Information");
    auto* area = FindControl<QLineEdit>(d, kIdTotalArea);
    auto* volume = FindControl<QLineEdit>(d, kIdTotalVolume);
    ASSERT_NE(area, nullptr);
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(area->text(), "15.00 ac");
    EXPECT_EQ(volume->text(), "27.13 (rate × ac)");
    EXPECT_TRUE(area->isReadOnly());
    EXPECT_TRUE(volume->alignment() & Qt::AlignRight);
    EXPECT_EQ(FindControl<QPushButton>(d, 2), nullptr);  // OK only
    QTest::mouseClick(FindControl<QPushButton>(d, 1), Qt::LeftButton);
  });
  ShowTotals(list);
  EXPECT_EQ(list.GetTotals().productCount, 3);

  // Without layers the totals are zero; in metric units, hectares.
  GetPreferences().SetMetric(true);
  LayerList empty;
  WhenModal(ControlName(kTotalSummaryDialogId), [](QDialog* d) {
    EXPECT_EQ(FindControl<QLineEdit>(d, kIdTotalArea)->text(), "0.00 ha");
    EXPECT_EQ(FindControl<QLineEdit>(d, kIdTotalVolume)->text(), "0.00 (rate × ha)");
    d->accept();
  });
  ShowTotals(empty);
  GetPreferences().SetMetric(wasMetric);
}

}  // namespace
}  // namespace kestrune::test
