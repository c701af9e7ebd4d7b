#include "clean/gui/CleanLogDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "clean/CleanSource.h"
#include "clean/LayerCleaning.h"
#include "lang/LangString.h"
#include "layers/Layer.h"
#include "shapes/DbfTable.h"

namespace kestrune {

namespace {

constexpr const char* kTitle = "#20600040:Clean Log";
constexpr const char* kFilterTexts[kCleanFilterCount] = {
    "#20600041:Value range", "#20600042:Speed range",     "#20600043:Standard deviations",
    "#20600044:Local outliers", "#20600045:Start and end of pass", "#20600046:Flow delay",
    "#20600047:Duplicates (same place and time)", "#20600048:Zero or missing width"};
constexpr const char* kShowRemoved = "#20600049:Show removed records as shadows";
constexpr const char* kRestore = "#20600050:Restore";
constexpr const char* kCounting = "#20840000:Counting the records each filter removes...";
constexpr const char* kCancel = "#20840001:Cancel";
constexpr const char* kCountCancelled = "#20840002:Counting cancelled; the counts come back after the next change.";
constexpr const char* kCleaning = "#20860000:Cleaning the log...";
constexpr const char* kCleanCancelled = "#20860001:Cleaning cancelled; the log is as it was.";
constexpr const char* kSeconds = "#20600051:seconds";
constexpr const char* kRecords = "#20600052:records";
constexpr const char* kCountText = "#20600053:%s removed (%s alone)";
constexpr const char* kTotalText = "#20600054:%s of %s records removed";
constexpr const char* kMin = "#20600055:min";
constexpr const char* kMax = "#20600056:max";
constexpr const char* kSigma = "#20600057:k σ";
constexpr const char* kNeighbours = "#20600058:nearest";
constexpr const char* kStart = "#20600059:start";
constexpr const char* kEnd = "#20600060:end";
constexpr const char* kCannotRead = "#20600061:The log's data could not be read; the filters cannot count.";

QString L(const char* text) { return QString::fromStdString(LangText(text)); }

QDoubleSpinBox* Number(double low, double high, int decimals) {
  auto* box = new QDoubleSpinBox;
  // The same digits whatever the user's locale.
  box->setLocale(QLocale::c());
  box->setRange(low, high);
  box->setDecimals(decimals);
  box->setKeyboardTracking(false);
  return box;
}

int FieldOf(const QComboBox* box) { return box->currentData().toInt(); }

}  // namespace

CCleanLogDialog::CCleanLogDialog(Layer& layer, QWidget* parent) : QDialog(parent), layer_(layer) {
  setWindowTitle(L(kTitle) + QStringLiteral(" – ") + QString::fromStdString(layer.GetFileName()));
  DbfTable table(layer.GetTablePath());
  for (int f = 1; f <= table.GetFieldCount(); ++f) {
    const DbfField* field = table.GetField(f);
    if (field && IsNumericLogField(*field)) fields_.emplace_back(f, QString::fromStdString(field->name));
  }
  table.Close();
  Error error;
  CleanSettings all;
  inputOk_ = LoadCleanInput(layer.GetPathName(), all, input_, &error);

  auto* grid = new QGridLayout;
  for (int f = 0; f < kCleanFilterCount; ++f) {
    on_[size_t(f)] = new QCheckBox(L(kFilterTexts[f]));
    counts_[size_t(f)] = new QLabel;
    counts_[size_t(f)]->setMinimumWidth(180);
    grid->addWidget(on_[size_t(f)], f, 0);
    grid->addWidget(counts_[size_t(f)], f, 2);
    connect(on_[size_t(f)], &QCheckBox::toggled, this, &CCleanLogDialog::Changed);
  }
  auto row = [&](int f, std::initializer_list<QWidget*> widgets) {
    auto* line = new QHBoxLayout;
    for (QWidget* w : widgets) line->addWidget(w);
    line->addStretch();
    grid->addLayout(line, f, 1);
  };
  auto label = [](const char* text) { return new QLabel(L(text)); };
  rangeField_ = new QComboBox;
  sdField_ = new QComboBox;
  localField_ = new QComboBox;
  flowField_ = new QComboBox;
  rangeMin_ = Number(-1e12, 1e12, 2);
  rangeMax_ = Number(-1e12, 1e12, 2);
  speedMin_ = Number(0, 1e6, 2);
  speedMax_ = Number(0, 1e6, 2);
  sdK_ = Number(0.1, 100, 2);
  localK_ = Number(0.1, 100, 2);
  localN_ = new QSpinBox;
  localN_->setRange(1, 1000);
  startDelay_ = Number(0, 1e6, 1);
  endDelay_ = Number(0, 1e6, 1);
  flowDelay_ = Number(-1e6, 1e6, 1);
  minWidth_ = Number(0, 1e6, 2);
  passUnit_ = new QComboBox;
  flowUnit_ = new QComboBox;
  for (QComboBox* unit : {passUnit_, flowUnit_}) {
    unit->addItem(L(kSeconds));
    unit->addItem(L(kRecords));
  }
  row(0, {rangeField_, label(kMin), rangeMin_, label(kMax), rangeMax_});
  row(1, {label(kMin), speedMin_, label(kMax), speedMax_});
  row(2, {sdField_, label(kSigma), sdK_});
  row(3, {localField_, label(kSigma), localK_, label(kNeighbours), localN_});
  row(4, {label(kStart), startDelay_, label(kEnd), endDelay_, passUnit_});
  row(5, {flowField_, flowDelay_, flowUnit_});
  row(7, {label(kMin), minWidth_});

  showRemoved_ = new QCheckBox(L(kShowRemoved));
  showRemoved_->setChecked(layer.GetFilter().ShowsCleanRemoved());
  total_ = new QLabel;
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QPushButton* restore = buttons->addButton(L(kRestore), QDialogButtonBox::ResetRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &CCleanLogDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(restore, &QPushButton::clicked, this, &CCleanLogDialog::Restore);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(showRemoved_);
  layout->addWidget(total_);
  if (!inputOk_) layout->addWidget(new QLabel(L(kCannotRead)));
  layout->addWidget(buttons);

  timer_ = new QTimer(this);
  timer_->setSingleShot(true);
  timer_->setInterval(250);
  connect(timer_, &QTimer::timeout, this, &CCleanLogDialog::Recount);

  const CleanSettings stored = StoredCleanSettings(layer);
  SetSettings(stored.Any() ? stored : Defaults());
  for (QComboBox* box : {rangeField_, sdField_, localField_, flowField_, passUnit_, flowUnit_}) {
    connect(box, qOverload<int>(&QComboBox::currentIndexChanged), this, &CCleanLogDialog::Changed);
  }
  for (QDoubleSpinBox* box : {rangeMin_, rangeMax_, speedMin_, speedMax_, sdK_, localK_, startDelay_, endDelay_,
                              flowDelay_, minWidth_}) {
    connect(box, qOverload<double>(&QDoubleSpinBox::valueChanged), this, &CCleanLogDialog::Changed);
  }
  connect(localN_, qOverload<int>(&QSpinBox::valueChanged), this, &CCleanLogDialog::Changed);
  Recount();
}

CCleanLogDialog::~CCleanLogDialog() = default;

void CCleanLogDialog::FillFieldBox(QComboBox* box, int selected) const {
  const QSignalBlocker block(box);
  box->clear();
  for (const auto& [number, name] : fields_) box->addItem(name, number);
  const int at = box->findData(selected);
  box->setCurrentIndex(at >= 0 ? at : 0);
}

CleanSettings CCleanLogDialog::Defaults() {
  CleanSettings s;
  // The theme field when it is numeric, else the rate field, else the first number.
  int field = layer_.GetLegendColumn();
  bool numeric = false;
  for (const auto& f : fields_) numeric = numeric || f.first == field;
  if (!numeric) field = layer_.GetLogFields()[LogField::Rate];
  if (field <= 0 && !fields_.empty()) field = fields_.front().first;
  s.rangeField = s.sdField = s.localField = s.flowField = field;
  Error error;
  if (inputOk_ && field > 0 && LoadCleanField(layer_.GetPathName(), field, input_, &error)) {
    const std::vector<double>& v = input_.values[size_t(field)];
    s.rangeMin = Percentile(v, 0.01);
    s.rangeMax = Percentile(v, 0.99);
  }
  if (inputOk_) {
    const std::vector<double> speeds = RecordSpeeds(input_);
    const double low = Percentile(speeds, 0.01), high = Percentile(speeds, 0.99);
    if (std::isfinite(low) && std::isfinite(high)) {
      s.speedMin = low;
      s.speedMax = high;
    }
  }
  s.startDelay = {4, false};
  s.endDelay = {2, false};
  s.flowDelay = {12, false};
  s.minWidth = 0;
  return s;
}

void CCleanLogDialog::SetSettings(const CleanSettings& s) {
  const QSignalBlocker blocker(this);
  for (int f = 0; f < kCleanFilterCount; ++f) {
    const QSignalBlocker b(on_[size_t(f)]);
    on_[size_t(f)]->setChecked(s.IsOn(static_cast<CleanFilter>(f)));
  }
  FillFieldBox(rangeField_, s.rangeField);
  FillFieldBox(sdField_, s.sdField);
  FillFieldBox(localField_, s.localField);
  FillFieldBox(flowField_, s.flowField);
  const auto set = [](QDoubleSpinBox* box, double v) {
    const QSignalBlocker b(box);
    box->setValue(v);
  };
  set(rangeMin_, s.rangeMin);
  set(rangeMax_, s.rangeMax);
  set(speedMin_, s.speedMin);
  set(speedMax_, s.speedMax);
  set(sdK_, s.sdK);
  set(localK_, s.localK);
  set(startDelay_, s.startDelay.amount);
  set(endDelay_, s.endDelay.amount);
  set(flowDelay_, s.flowDelay.amount);
  set(minWidth_, s.minWidth);
  {
    const QSignalBlocker b(localN_);
    localN_->setValue(s.localN);
  }
  {
    const QSignalBlocker b(passUnit_);
    passUnit_->setCurrentIndex(s.startDelay.records ? 1 : 0);
  }
  {
    const QSignalBlocker b(flowUnit_);
    flowUnit_->setCurrentIndex(s.flowDelay.records ? 1 : 0);
  }
}

CleanSettings CCleanLogDialog::Settings() const {
  CleanSettings s;
  for (int f = 0; f < kCleanFilterCount; ++f) s.SetOn(static_cast<CleanFilter>(f), on_[size_t(f)]->isChecked());
  s.showRemoved = showRemoved_ && showRemoved_->isChecked();
  s.rangeField = FieldOf(rangeField_);
  s.sdField = FieldOf(sdField_);
  s.localField = FieldOf(localField_);
  s.flowField = FieldOf(flowField_);
  s.rangeMin = rangeMin_->value();
  s.rangeMax = rangeMax_->value();
  s.speedMin = speedMin_->value();
  s.speedMax = speedMax_->value();
  s.sdK = sdK_->value();
  s.localK = localK_->value();
  s.localN = localN_->value();
  const bool passRecords = passUnit_->currentIndex() == 1;
  s.startDelay = {startDelay_->value(), passRecords};
  s.endDelay = {endDelay_->value(), passRecords};
  s.flowDelay = {flowDelay_->value(), flowUnit_->currentIndex() == 1};
  s.minWidth = minWidth_->value();
  return s;
}

bool CCleanLogDialog::ShowRemoved() const { return showRemoved_->isChecked(); }

void CCleanLogDialog::Changed() { timer_->start(); }

void CCleanLogDialog::Recount() {
  timer_->stop();
  if (counting_) {
    timer_->start();  // a change while counting: counted again after
    return;
  }
  const CleanSettings s = Settings();
  for (QLabel* label : counts_) label->clear();
  total_->clear();
  if (!inputOk_) return;
  Error error;
  for (int field : s.ValueFields()) LoadCleanField(layer_.GetPathName(), field, input_, &error);
  const std::string problem = CleanSettingsProblem(input_, s);
  if (!problem.empty()) {
    total_->setText(QString::fromStdString(problem));
    return;
  }
  // On a worker, with a progress window and its Cancel once the count takes
  // long (a big log with local outliers).
  CleanResult r;
  counting_ = true;
  RunWithProgress(kCounting, [&](const CleanProgress& progress) { r = CleanLog(input_, s, true, progress); });
  counting_ = false;
  if (r.cancelled) {
    total_->setText(QString::fromStdString(LangText(kCountCancelled)));
    return;
  }
  for (int f = 0; f < kCleanFilterCount; ++f) {
    if (r.after[size_t(f)] < 0) continue;
    counts_[size_t(f)]->setText(QString::fromStdString(LangFormat(kCountText, GroupedCount(uint64_t(r.after[size_t(f)])).c_str(),
                                                                 GroupedCount(uint64_t(r.alone[size_t(f)])).c_str())));
  }
  total_->setText(QString::fromStdString(LangFormat(kTotalText, GroupedCount(uint64_t(r.Removed())).c_str(),
                                                    GroupedCount(r.removedBy.size()).c_str())));
}

void CCleanLogDialog::RunWithProgress(const char* text, const std::function<void(const CleanProgress&)>& work) {
  QProgressDialog progress(QString::fromStdString(LangText(text)), QString::fromStdString(LangText(kCancel)), 0, 100,
                           this);
  progress.setWindowTitle(QString::fromStdString(LangText(kTitle)));
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(500);
  progress.setAutoReset(false);
  progress.setAutoClose(false);
  std::atomic<int> percent{0};
  std::atomic<bool> cancel{false}, done{false};
  std::thread worker([&] {
    work([&](int p) {
      percent = p;
      if (observer_ && !observer_(p)) cancel = true;
      return !cancel.load();
    });
    done = true;
  });
  while (!done) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 30);
    if (progress.wasCanceled()) cancel = true;
    progress.setValue(percent.load());
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  worker.join();
  progress.close();
}

QString CCleanLogDialog::CountText(CleanFilter filter) const { return counts_[size_t(filter)]->text(); }
QString CCleanLogDialog::TotalText() const { return total_->text(); }

void CCleanLogDialog::accept() {
  if (counting_) return;  // OK again while a run goes on
  Error error;
  const CleanSettings s = Settings();
  if (!s.Any()) {
    if (!RestoreLayer(layer_, &error)) QMessageBox::warning(this, QString::fromStdString(error.caption), QString::fromStdString(error.text));
    QDialog::accept();
    return;
  }
  if (!inputOk_ || !CanCleanLayer(&layer_)) {
    if (!CleanLayer(layer_, s, ShowRemoved(), true, nullptr, &error)) {
      QMessageBox::warning(this, QString::fromStdString(error.caption), QString::fromStdString(error.text));
      if (!CleanSettingsProblem(input_, s).empty() || !inputOk_) return;
    }
    QDialog::accept();
    return;
  }
  // The data read for the counts, on a worker with a progress window and
  // its Cancel; a cancelled run leaves the layer and its settings as they were.
  for (int field : s.ValueFields()) LoadCleanField(layer_.GetPathName(), field, input_, &error);
  CleanResult r;
  bool ran = false;
  counting_ = true;
  RunWithProgress(kCleaning, [&](const CleanProgress& progress) {
    ran = RunLayerCleaning(input_, s, false, progress, r, &error);
  });
  counting_ = false;
  if (!ran) {
    // Settings that cannot run leave the dialog open.
    QMessageBox::warning(this, QString::fromStdString(error.caption), QString::fromStdString(error.text));
    return;
  }
  if (r.cancelled) {
    total_->setText(QString::fromStdString(LangText(kCleanCancelled)));
    return;
  }
  // A settings file that could not be written does not undo the cleaning.
  if (!ApplyLayerCleaning(layer_, s, ShowRemoved(), true, std::move(r), nullptr, &error)) {
    QMessageBox::warning(this, QString::fromStdString(error.caption), QString::fromStdString(error.text));
  }
  QDialog::accept();
}

void CCleanLogDialog::Restore() {
  Error error;
  if (!RestoreLayer(layer_, &error)) {
    QMessageBox::warning(this, QString::fromStdString(error.caption), QString::fromStdString(error.text));
  }
  SetSettings(Defaults());
  for (QCheckBox* box : on_) box->setChecked(false);
  Recount();
}

bool ShowCleanLogDialog(Layer& layer, QWidget* parent) {
  CCleanLogDialog dialog(layer, parent);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace kestrune
