// Translation of real widgets, menus and dialogs against a language file on disk.
#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QGroupBox>
#include <QLibraryInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTranslator>
#include <QVBoxLayout>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include "lang/gui/LangWidgets.h"
#include "lang/LangFile.h"
#include "lang/LangStringCache.h"
#include "support/TestSupport.h"

namespace kestrune::test {
namespace {

class LangWidgets : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (dir_ / "KRLang.dat").string();
    std::string error;
    ASSERT_TRUE(WriteLangFile(path_,
                              {{20, "Anzeige"},
                               {21, "Größe"},
                               {22, "Übernehmen"},
                               {23, "Zeigen"},
                               {24, "Legende"},
                               {25, "Innen"},
                               {26, "Eingabe"},
                               {27, "Seite"},
                               {10244, "&Datei  "},
                               {10245, "Ö&ffnen..."},
                               {30, "Zuletzt"},
                               {31, "Keine"},
                               {32, "&Hilfe"}},
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

TEST_F(LangWidgets, WindowTitleAndDirectChildrenAreTranslated) {
  QDialog dialog;
  dialog.setWindowTitle("#20:Display");
  auto* size = new QLabel("#21:Size", &dialog);
  auto* ok = new QPushButton("#22:Apply", &dialog);
  auto* show = new QCheckBox("#23:Show", &dialog);
  auto* box = new QGroupBox("#24:Legend", &dialog);
  auto* inner = new QLabel("#25:Inner", box);
  auto* empty = new QLabel(&dialog);
  auto* plain = new QLabel("Plain text", &dialog);
  auto* missing = new QLabel("#99:Not in the file", &dialog);
  auto* edit = new QLineEdit("#26:typed by the user", &dialog);
  auto* tabs = new QTabWidget(&dialog);
  tabs->addTab(new QLabel("#25:Inner"), "#27:Page");
  // A child window (a dialog parented here) is its own window, translated on its own.
  QDialog* childWindow = new QDialog(&dialog);
  childWindow->setWindowTitle("#20:Display");

  TranslateWindow(&dialog);

  EXPECT_EQ(dialog.windowTitle(), "Anzeige");
  EXPECT_EQ(size->text(), "Größe");
  EXPECT_EQ(ok->text(), "Übernehmen");
  EXPECT_EQ(show->text(), "Zeigen");
  EXPECT_EQ(box->title(), "Legende");
  EXPECT_EQ(inner->text(), "#25:Inner") << "grandchildren are not visited";
  EXPECT_EQ(empty->text(), "");
  EXPECT_EQ(plain->text(), "Plain text");
  EXPECT_EQ(missing->text(), "Not in the file");
  EXPECT_EQ(edit->text(), "#26:typed by the user") << "editable contents are user data";
  EXPECT_EQ(tabs->tabText(0), "Seite");
  EXPECT_EQ(childWindow->windowTitle(), "#20:Display");
}

TEST_F(LangWidgets, AControlPassedAloneTranslatesItsCaptionAndChildren) {
  QWidget window;
  auto* box = new QGroupBox("#24:Legend", &window);
  auto* inner = new QLabel("#25:Inner", box);
  TranslateWindow(box);
  EXPECT_EQ(box->title(), "Legende");
  EXPECT_EQ(inner->text(), "Innen");
  // An empty window title stays empty.
  QDialog untitled;
  TranslateWindow(&untitled);
  EXPECT_EQ(untitled.windowTitle(), "");
  TranslateWindow(nullptr);
}

TEST_F(LangWidgets, MenusKeepTheirActionsIdsAndSubmenus) {
  QMenuBar bar;
  QMenu* file = bar.addMenu("#10244:&File  ");
  QAction* open = file->addAction("#10245:&Open...");
  open->setData(57601);
  open->setObjectName("ID_FILE_OPEN");
  QAction* separator = file->addSeparator();
  QMenu* recent = file->addMenu("#30:Recent");
  QAction* none = recent->addAction("#31:None");
  none->setData(5);
  QAction* metric = file->addAction("Metric");
  metric->setCheckable(true);
  metric->setChecked(true);
  metric->setEnabled(false);
  QAction* untitled = file->addAction(QString());
  untitled->setData(7);
  QMenu* help = bar.addMenu("#32:&Help");
  const int fileCount = file->actions().size();

  TranslateMenu(&bar);

  EXPECT_EQ(file->title(), "&Datei  ");
  EXPECT_EQ(help->title(), "&Hilfe");
  ASSERT_EQ(file->actions().size(), fileCount);
  EXPECT_EQ(file->actions().at(0), open);
  EXPECT_EQ(open->text(), "Ö&ffnen...");
  EXPECT_EQ(open->data().toInt(), 57601);
  EXPECT_EQ(open->objectName(), "ID_FILE_OPEN");
  EXPECT_TRUE(separator->isSeparator());
  EXPECT_EQ(file->actions().at(2)->menu(), recent);
  EXPECT_EQ(recent->title(), "Zuletzt");
  EXPECT_EQ(none->text(), "Keine");
  EXPECT_EQ(none->data().toInt(), 5);
  EXPECT_EQ(metric->text(), "Metric");
  EXPECT_TRUE(metric->isChecked()) << "states are kept, unlike a remove-and-insert";
  EXPECT_FALSE(metric->isEnabled());
  EXPECT_EQ(untitled->text(), "");
  EXPECT_EQ(untitled->data().toInt(), 7);
}

TEST_F(LangWidgets, AMenuReachableTwiceOrFromItselfIsTranslatedOnce) {
  QMenu top;
  QMenu shared("#30:Recent");
  shared.addAction("#31:None");
  top.addMenu(&shared);
  top.addMenu(&shared);
  // Translating a translated text again is a no-op, but a cycle must still end.
  shared.addMenu(&top);
  TranslateMenu(&top);
  EXPECT_EQ(shared.title(), "Zuletzt");
  EXPECT_EQ(shared.actions().at(0)->text(), "Keine");
}

// A dialog that records what it saw when it initialised.
class ProbeDialog : public CLangDialog {
 public:
  explicit ProbeDialog(QWidget* parent = nullptr) : CLangDialog(131, parent) {
    setWindowTitle("#20:Display");
    label = new QLabel("#21:Size", this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
  }
  int inits = 0;
  QString labelAtInit;
  QLabel* label;

 protected:
  void OnInitDialog() override {
    CLangDialog::OnInitDialog();
    ++inits;
    labelAtInit = label->text();
  }
};

TEST_F(LangWidgets, CLangDialogTranslatesItselfOnceWhenFirstShown) {
  ProbeDialog dialog;
  EXPECT_EQ(dialog.GetTemplateId(), 131);
  EXPECT_EQ(dialog.windowTitle(), "#20:Display") << "nothing happens before the dialog opens";
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  EXPECT_EQ(dialog.inits, 1);
  EXPECT_EQ(dialog.labelAtInit, "Größe") << "derived initialisation sees translated controls";
  EXPECT_EQ(dialog.windowTitle(), "Anzeige");
  // A later change is not undone by showing again, and initialisation does not rerun.
  dialog.label->setText("#22:Apply");
  dialog.hide();
  dialog.show();
  EXPECT_EQ(dialog.inits, 1);
  EXPECT_EQ(dialog.label->text(), "#22:Apply");
}

TEST_F(LangWidgets, CLangDialogTranslatesWhenRunModally) {
  ProbeDialog dialog;
  QString titleWhileOpen;
  QTimer::singleShot(0, &dialog, [&] {
    titleWhileOpen = dialog.windowTitle();
    dialog.accept();
  });
  EXPECT_EQ(dialog.exec(), QDialog::Accepted);
  EXPECT_EQ(titleWhileOpen, "Anzeige");
  EXPECT_EQ(dialog.inits, 1);
}

TEST(QtTranslations, QtsOwnTextsFollowTheLocaleWhenTheirTranslationIsInstalled) {
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (!QFile::exists(folder + QStringLiteral("/qtbase_de.qm"))) {
    GTEST_SKIP() << "qtbase_de.qm is not installed (qt6-translations-l10n)";
  }
  const QString before = QCoreApplication::translate("QPlatformTheme", "Cancel");
  QTranslator* german = InstallQtTranslations(QLocale(QLocale::German, QLocale::Germany));
  ASSERT_NE(german, nullptr);
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));
  QCoreApplication::removeTranslator(german);
  delete german;
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), before);
  // A language Qt has no translation for leaves the texts as they are.
  EXPECT_EQ(InstallQtTranslations(QLocale(QLocale::Esperanto)), nullptr);
}

}  // namespace
}  // namespace kestrune::test
