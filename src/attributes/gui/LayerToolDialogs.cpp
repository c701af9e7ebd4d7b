// Notes, Show Me and Total Summary.
#include "attributes/gui/LayerToolDialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTextDocument>
#include <QVBoxLayout>

#include "attributes/gui/DialogSupport.h"
#include "base/Platform.h"
#include "base/Paths.h"
#include "base/Preferences.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "layers/SummaryUnits.h"

namespace kestrune {

namespace {

// A control of a dialog with its id as object name.
template <class T>
T* Named(T* widget, int id) {
  widget->setObjectName(ControlName(id));
  return widget;
}

// An OK (and optionally Cancel) row at the bottom of a dialog.
QHBoxLayout* OkCancelRow(QDialog* dialog, const char* okText, const char* cancelText) {
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  auto* ok = Named(new QPushButton(QString::fromUtf8(okText), dialog), 1);
  ok->setDefault(true);
  QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
  row->addWidget(ok);
  if (cancelText) {
    auto* cancel = Named(new QPushButton(QString::fromUtf8(cancelText), dialog), 2);
    cancel->setAutoDefault(false);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    row->addWidget(cancel);
  }
  return row;
}

// The checked radio's place in its group (0, 1, 2), 0 when none is.
int CheckedIndex(const QDialog* dialog, const int (&ids)[3]) {
  for (int i = 0; i < 3; ++i) {
    if (auto* radio = FindControl<QRadioButton>(dialog, ids[i]); radio && radio->isChecked()) return i;
  }
  return 0;
}

constexpr int kBoomIds[3] = {kIdBoomOnOnly, kIdBoomOffOnly, kIdBoomAny};
constexpr int kRateIds[3] = {kIdRateAboveZero, kIdRateZeroOnly, kIdRateAny};

}  // namespace

// ---------------------------------------------------------------- Notes

// Decodes notes bytes, remembering how, so they can go back unchanged.
QString NotesTextFromBytes(const std::string& bytes, NotesEncoding& encoding) {
  encoding = NotesEncoding{};
  // A byte order mark is text like any other: it is shown and written back.
  QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::ConvertInitialBom);
  QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (utf8.hasError()) {
    encoding.latin1 = true;
    text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  }
  if (text.contains(QLatin1String("\r\n"))) {
    encoding.crlf = true;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  }
  return text;
}

// Encodes notes text the way its file was read.
std::string NotesBytesFromText(const QString& text, const NotesEncoding& encoding) {
  QString t = text;
  if (encoding.crlf) t.replace(QLatin1String("\n"), QLatin1String("\r\n"));
  QByteArray bytes;
  bool latin1 = encoding.latin1;
  // Characters beyond Latin-1 typed into old notes turn the file into UTF-8
  // rather than into question marks.
  if (latin1) {
    for (QChar c : t) {
      if (c.unicode() > 0xFF) {
        latin1 = false;
        break;
      }
    }
  }
  bytes = latin1 ? t.toLatin1() : t.toUtf8();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// One multi-line edit and OK / Cancel.
CNotesDialog::CNotesDialog(QString& text, QWidget* parent, Saver saver)
    : CLangDialog(kNotesDialogId, parent), text_(text), saver_(std::move(saver)) {
  setObjectName(ControlName(kNotesDialogId));
  setWindowTitle(QString::fromUtf8(kNotesTitle));
  auto* edit = Named(new QPlainTextEdit(this), kIdNotesEdit);
  edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  edit->setTabChangesFocus(false);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(edit, 1);
  layout->addLayout(OkCancelRow(this, "OK", "Cancel"));
  resize(440, 320);
}

// Translates, then shows the caller's text.
void CNotesDialog::OnInitDialog() {
  CLangDialog::OnInitDialog();
  FindControl<QPlainTextEdit>(this, kIdNotesEdit)->setPlainText(text_);
}

// The text as typed: the raw document keeps non-breaking spaces, which the
// plain-text form would turn into ordinary ones.
QString CNotesDialog::EditText() const {
  QString raw = FindControl<QPlainTextEdit>(this, kIdNotesEdit)->document()->toRawText();
  raw.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  return raw;
}

// Moves the text to the caller and saves it; a failed save keeps the dialog open.
void CNotesDialog::accept() {
  text_ = EditText();
  if (saver_ && !saver_(text_)) return;
  CLangDialog::accept();
}

// Loads, edits and saves the layer's notes.
bool EditNotes(Layer& layer, QWidget* parent) {
  std::string bytes, refusal;
  // Notes that cannot be read whole are not edited: saving would replace them.
  if (!LoadNotes(layer, bytes, &refusal) && !refusal.empty()) {
    ShowMessage(MessageRequest{refusal, NotesCaption(), MessageIcon::Warning, MessageButtons::Ok});
    return false;
  }
  NotesEncoding encoding;
  const QString original = NotesTextFromBytes(bytes, encoding);
  QString text = original;
  bool saved = false;
  CNotesDialog dialog(text, parent, [&](const QString& edited) {
    // Untouched notes go back exactly as they were read, whatever their line ends.
    Error error;
    saved = SaveNotes(layer, edited == original ? bytes : NotesBytesFromText(edited, encoding), &error);
    ShowError(error);
    return saved;
  });
  dialog.exec();
  return saved;
}

// ---------------------------------------------------------------- Show Me

// Two groups of three choices and the shadows check box.
CShowMeDialog::CShowMeDialog(int& mask, QWidget* parent, bool boomField, bool rateField)
    : CLangDialog(kShowMeDialogId, parent), mask_(mask), boomField_(boomField), rateField_(rateField) {
  setObjectName(ControlName(kShowMeDialogId));
  setWindowTitle(QString::fromUtf8(kShowMeTitle));
  const auto group = [this](int id, const char* title, const int (&ids)[3], const char* const (&texts)[3]) {
    auto* box = Named(new QGroupBox(QString::fromUtf8(title), this), id);
    auto* layout = new QVBoxLayout(box);
    auto* buttons = new QButtonGroup(box);
    for (int i = 0; i < 3; ++i) {
      auto* radio = Named(new QRadioButton(QString::fromUtf8(texts[i]), box), ids[i]);
      buttons->addButton(radio, i);
      layout->addWidget(radio);
    }
    return box;
  };
  const char* const boomTexts[3] = {"#10312:Booms ON only", "#10313:Booms OFF only",
                                    "#10314:Do not filter by boom status"};
  const char* const rateTexts[3] = {"#10316:Rates greater than zero", "#10317:Zero rates only",
                                    "#10318:Do not filter by applied rate"};
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group(kIdBoomGroup, "#10311:Boom State", kBoomIds, boomTexts));
  layout->addWidget(group(kIdRateGroup, "#10315:Applied Rate", kRateIds, rateTexts));
  layout->addWidget(Named(new QCheckBox(QStringLiteral("#10319:Show filtered out points as shadows"), this), kIdShadows));
  layout->addLayout(OkCancelRow(this, "#10320:OK", "#10321:Cancel"));
}

// Translates (the radios sit in their group boxes) and shows the mask's choices.
void CShowMeDialog::OnInitDialog() {
  CLangDialog::OnInitDialog();
  TranslateWindow(FindControl<QGroupBox>(this, kIdBoomGroup));
  TranslateWindow(FindControl<QGroupBox>(this, kIdRateGroup));
  const ShowMeChoices choices = ShowMeChoicesFromMask(mask_);
  FindControl<QRadioButton>(this, kBoomIds[choices.boom])->setChecked(true);
  FindControl<QRadioButton>(this, kRateIds[choices.rate])->setChecked(true);
  FindControl<QCheckBox>(this, kIdShadows)->setChecked(choices.shadows);
  // Without the field every record has the same state: a choice could only show all or nothing.
  const auto offer = [this](int id, bool enabled, const char* tip) {
    auto* group = FindControl<QGroupBox>(this, id);
    group->setEnabled(enabled);
    group->setToolTip(enabled ? QString() : LangQString(tip));
  };
  offer(kIdBoomGroup, boomField_, kTipNoBoomField);
  offer(kIdRateGroup, rateField_, kTipNoRateField);
}

// The mask of the choices.
void CShowMeDialog::accept() {
  ShowMeChoices choices;
  choices.boom = CheckedIndex(this, kBoomIds);
  choices.rate = CheckedIndex(this, kRateIds);
  choices.shadows = FindControl<QCheckBox>(this, kIdShadows)->isChecked();
  mask_ = ShowMeMaskFromChoices(choices);
  CLangDialog::accept();
}

// Edits a copy of the mask; the layer filters by whatever the copy holds after.
int ShowFilterDialog(Layer& layer, QWidget* parent) {
  int mask = layer.GetFilterMask();
  const LogFields& fields = layer.GetLogFields();
  CShowMeDialog dialog(mask, parent, fields.Has(LogField::Boom),
                       fields.Has(LogField::Rate));
  const int result = dialog.exec();
  layer.SetFilterMask(mask);
  layer.ApplyFilter();
  InvalidateMapWindow(layer);
  return result;
}

// ---------------------------------------------------------------- Total summary

// Two read-only totals in a group and OK.
CTotalSummaryDialog::CTotalSummaryDialog(const QString& area, const QString& volume, QWidget* parent)
    : CLangDialog(kTotalSummaryDialogId, parent) {
  setObjectName(ControlName(kTotalSummaryDialogId));
  setWindowTitle(QString::fromUtf8(kTotalSummaryTitle));
  auto* box = new QGroupBox(QStringLiteral("#10288:All File Summary"), this);
  auto* grid = new QGridLayout(box);
  const auto value = [this](int id, const QString& text) {
    auto* edit = Named(new QLineEdit(text, this), id);
    edit->setReadOnly(true);
    edit->setAlignment(Qt::AlignRight);
    return edit;
  };
  grid->addWidget(new QLabel(QStringLiteral("#10289:Total Field Area"), this), 0, 0);
  grid->addWidget(value(kIdTotalArea, area), 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("#10290:Total Field Volume"), this), 1, 0);
  grid->addWidget(value(kIdTotalVolume, volume), 1, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(box);
  layout->addLayout(OkCancelRow(this, "OK", nullptr));
}

// Translates, the controls inside the group included.
void CTotalSummaryDialog::OnInitDialog() {
  CLangDialog::OnInitDialog();
  for (QGroupBox* box : findChildren<QGroupBox*>(QString(), Qt::FindDirectChildrenOnly)) TranslateWindow(box);
}

// The totals of the newest file's product slot.
void ShowTotals(LayerList& list, QWidget* parent) {
  std::string area;
  std::string volume;
  list.GetTotalsTexts(area, volume);
  // The figures with their units: acres or hectares, the rate times those.
  const bool metric = GetPreferences().IsMetric();
  area = AreaWithUnit(area, metric);
  volume = VolumeWithUnit(volume, metric);
  CTotalSummaryDialog dialog(QString::fromStdString(area), QString::fromStdString(volume),
                             parent);
  dialog.exec();
}

}  // namespace kestrune
