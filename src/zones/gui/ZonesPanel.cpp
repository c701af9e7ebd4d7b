#include "zones/gui/ZonesPanel.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include <QApplication>
#include <QCoreApplication>
#include <QClipboard>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

#include "base/Platform.h"
#include "base/SafeFile.h"
#include "lang/FileErrorText.h"
#include "lang/LangString.h"
#include "layers/Layer.h"
#include "layers/LayerList.h"
#include "layers/LogFields.h"
#include "shapes/DbfTable.h"
#include "zones/ZoneExport.h"

namespace kestrune {

namespace {

QString Text(const char* id) { return QString::fromStdString(LangText(id)); }

char DecimalPoint() {
  const QString point = QLocale().decimalPoint();
  return point.size() == 1 && point[0].unicode() < 128 ? static_cast<char>(point[0].unicode()) : '.';
}

bool HasAreas(const Layer& layer) {
  bool any = false;
  layer.Records().ForEach([&](Shape* s) { any = any || s->GetRecordClass() == kRecordArea; });
  return any;
}

// A cell that sorts by its number.
QTableWidgetItem* NumberItem(bool present, double value) {
  auto* item = new QTableWidgetItem;
  if (present && std::isfinite(value)) {
    item->setData(Qt::DisplayRole, value);
    item->setData(Qt::ToolTipRole, QLocale().toString(value, 'g', 15));
  }
  item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  item->setFlags(item->flags() & ~Qt::ItemIsEditable);
  return item;
}

}  // namespace

CZonesPanel::CZonesPanel(QWidget* parent) : QDockWidget(Text(kZonesPanelTitle), parent) {
  setObjectName(QStringLiteral("ZonesPanel"));
  auto* body = new QWidget(this);
  auto* grid = new QGridLayout;
  zonesBox_ = new QComboBox(body);
  logBox_ = new QComboBox(body);
  labelBox_ = new QComboBox(body);
  fields_ = new QListWidget(body);
  fields_->setMaximumHeight(90);
  grid->addWidget(new QLabel(Text(kZonesLabelZones), body), 0, 0);
  grid->addWidget(zonesBox_, 0, 1);
  grid->addWidget(new QLabel(Text(kZonesLabelLabel), body), 1, 0);
  grid->addWidget(labelBox_, 1, 1);
  grid->addWidget(new QLabel(Text(kZonesLabelLog), body), 0, 2);
  grid->addWidget(logBox_, 0, 3);
  grid->addWidget(new QLabel(Text(kZonesLabelFields), body), 1, 2);
  grid->addWidget(fields_, 1, 3, 2, 1);
  auto* run = new QPushButton(Text(kZonesRun), body);
  grid->addWidget(run, 2, 1);
  note_ = new QLabel(body);
  table_ = new QTableWidget(body);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  auto* copy = new QPushButton(Text(kZonesCopy), body);
  auto* exportCsv = new QPushButton(Text(kZonesExport), body);
  auto* exportShapes = new QPushButton(Text(kZonesExportShapes), body);
  exportShapes->setObjectName(QStringLiteral("ExportZones"));
  printBox_ = new QCheckBox(Text(kZonesPrintWithPage), body);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(note_, 1);
  buttons->addWidget(printBox_);
  buttons->addWidget(copy);
  buttons->addWidget(exportCsv);
  buttons->addWidget(exportShapes);
  auto* column = new QVBoxLayout(body);
  column->addLayout(grid);
  column->addWidget(table_, 1);
  column->addLayout(buttons);
  setWidget(body);

  connect(zonesBox_, &QComboBox::currentIndexChanged, this, [this] { RefillFields(); });
  connect(logBox_, &QComboBox::currentIndexChanged, this, [this] { RefillFields(); });
  connect(run, &QPushButton::clicked, this, [this] { Summarise(); });
  connect(copy, &QPushButton::clicked, this, [this] { QApplication::clipboard()->setText(TableText()); });
  connect(exportCsv, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, Text(kZonesExport).remove(QStringLiteral("...")), QString(),
                                                      Text(kZonesCsvFilter));
    if (!path.isEmpty()) ExportCsv(path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive) ? path : path + ".csv");
  });
  connect(exportShapes, &QPushButton::clicked, this, [this] {
    if (summary_.zones.empty()) {
      ShowMessage(MessageRequest{LangText(kZonesNothingToExport), LangText(kZonesPanelTitle), MessageIcon::Warning,
                                 MessageButtons::Ok});
      return;
    }
    const QString path = QFileDialog::getSaveFileName(this, Text(kZonesExportShapes).remove(QStringLiteral("...")),
                                                      QString(), Text(kZonesShapeFilter));
    if (!path.isEmpty()) ExportShapes(path);
  });
  connect(table_, &QTableWidget::cellClicked, this, [this](int row, int) { SelectZone(row); });
}

void CZonesPanel::SetLayers(LayerList* layers) {
  if (layers_) disconnect(layers_, nullptr, this, nullptr);
  layers_ = layers;
  if (layers_) connect(layers_, &LayerList::layersChanged, this, [this] { RefillLayers(); });
  RefillLayers();
}

Layer* CZonesPanel::Chosen(const QComboBox* box) const {
  if (!layers_ || box->currentIndex() < 0) return nullptr;
  auto* wanted = static_cast<Layer*>(box->currentData().value<void*>());
  for (Layer* layer : layers_->Layers()) {
    if (layer == wanted) return layer;
  }
  return nullptr;
}

void CZonesPanel::RefillLayers() {
  Layer* zones = Chosen(zonesBox_);
  Layer* log = Chosen(logBox_);
  const QSignalBlocker a(zonesBox_), b(logBox_);
  zonesBox_->clear();
  logBox_->clear();
  if (layers_) {
    for (Layer* layer : layers_->Layers()) {
      const QString name = QString::fromStdString(layer->GetFileName());
      if (HasAreas(*layer)) zonesBox_->addItem(name, QVariant::fromValue<void*>(layer));
      logBox_->addItem(name, QVariant::fromValue<void*>(layer));
    }
  }
  const auto keep = [](QComboBox* box, Layer* layer, int otherwise) {
    const int at = box->findData(QVariant::fromValue<void*>(layer));
    box->setCurrentIndex(at >= 0 ? at : std::min(otherwise, box->count() - 1));
  };
  keep(zonesBox_, zones, 0);
  // A log other than the zones when there is one.
  keep(logBox_, log, logBox_->count() > 1 && logBox_->itemData(0) == zonesBox_->currentData() ? 1 : 0);
  RefillFields();
}

void CZonesPanel::RefillFields() {
  fields_->clear();
  labelBox_->clear();
  labelBox_->addItem(Text(kZonesRecordNumber), 0);
  if (Layer* zones = Chosen(zonesBox_)) {
    DbfTable table;
    if (table.Open(zones->GetTablePath())) {
      for (int f = 1; f <= table.GetFieldCount(); ++f) labelBox_->addItem(QString::fromStdString(table.GetField(f)->name), f);
    }
  }
  if (Layer* log = Chosen(logBox_)) {
    DbfTable table;
    if (table.Open(log->GetTablePath())) {
      for (int f = 1; f <= table.GetFieldCount(); ++f) {
        const DbfField* field = table.GetField(f);
        if (!IsNumericLogField(*field)) continue;
        auto* item = new QListWidgetItem(QString::fromStdString(field->name), fields_);
        item->setData(Qt::UserRole, f);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        // The rate field is chosen to begin with.
        item->setCheckState(f == log->GetLogFields()[LogField::Rate] ? Qt::Checked : Qt::Unchecked);
      }
    }
  }
}

bool CZonesPanel::Summarise() {
  Layer* zones = Chosen(zonesBox_);
  Layer* log = Chosen(logBox_);
  if (!zones || !log) return false;
  ZoneSummaryRequest request;
  for (int i = 0; i < fields_->count(); ++i) {
    if (fields_->item(i)->checkState() == Qt::Checked) request.fields.push_back(fields_->item(i)->data(Qt::UserRole).toInt());
  }
  if (request.fields.empty()) {
    ShowMessage(MessageRequest{LangText(kZonesNoFields), LangText(kZonesPanelTitle), MessageIcon::Warning,
                               MessageButtons::Ok});
    return false;
  }
  request.labelField = labelBox_->currentData().toInt();
  // The work runs beside the window, which waits in a modal progress dialog
  // (shown once it takes a while) whose Cancel stops it; the table keeps what
  // it showed when it is cancelled.
  ZoneSummary result;
  Error error;
  std::atomic<int> percent{0};
  std::atomic<bool> finished{false};
  cancel_ = false;
  bool done = false;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  std::thread worker([&] {
    done = SummariseByZones(*zones, *log, request, result, &error, &cancel_, &percent);
    finished = true;
  });
  // Until the dialog shows, the window takes no input (the files summarised
  // must stay open); then the modal dialog keeps it off.
  QElapsedTimer clock;
  clock.start();
  while (!finished && clock.elapsed() < progressDelay_) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!finished) {
    QProgressDialog progress(QString::fromStdString(LangFormat(kZonesProgress, log->GetFileName().c_str(),
                                                               zones->GetFileName().c_str())),
                             Text(kZonesCancel), 0, 100, this);
    progress.setObjectName(QStringLiteral("ZonesProgress"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    connect(&progress, &QProgressDialog::canceled, this, [this] { cancel_ = true; });
    progress.setValue(std::clamp(percent.load(), 0, 99));
    QEventLoop loop;
    QTimer timer;
    timer.setInterval(20);
    connect(&timer, &QTimer::timeout, &loop, [&] {
      if (!progress.wasCanceled()) progress.setValue(std::clamp(percent.load(), 0, 99));
      if (finished) loop.quit();
    });
    timer.start();
    if (!finished) loop.exec();
    timer.stop();
  }
  worker.join();
  QApplication::restoreOverrideCursor();
  if (cancel_) return false;
  if (!done) {
    ShowError(error);
    return false;
  }
  summary_ = std::move(result);
  summaryZones_ = zones;
  summaryLog_ = log;
  summaryZoneFile_ = zones->GetFileName();
  summaryLogFile_ = log->GetFileName();
  FillTable();
  return true;
}

void CZonesPanel::FillTable() {
  table_->setSortingEnabled(false);
  table_->clear();
  QStringList header{Text(kCsvZone), Text(kCsvRecord), Text(kCsvCount),
                     Text(summary_.metric ? kCsvAreaHectares : kCsvAreaAcres)};
  for (const std::string& name : summary_.fieldNames) {
    for (const char* stat : kCsvStatNames) header << QString::fromStdString(name) + " " + Text(stat);
  }
  if (summary_.hasVolume) header << Text(kCsvVolume);
  if (summary_.hasTarget) header << Text(kCsvWithin5) << Text(kCsvWithin10);
  table_->setColumnCount(header.size());
  table_->setHorizontalHeaderLabels(header);
  table_->setRowCount(static_cast<int>(summary_.zones.size()) + 1);
  const auto fill = [&](int r, const ZoneRow& row, bool outside) {
    int c = 0;
    auto* label = new QTableWidgetItem(QString::fromStdString(row.label));
    label->setData(Qt::UserRole, outside ? 0 : row.record);
    table_->setItem(r, c++, label);
    table_->setItem(r, c++, NumberItem(!outside, row.record));
    table_->setItem(r, c++, NumberItem(true, static_cast<double>(row.count)));
    table_->setItem(r, c++, NumberItem(true, row.area));
    for (const ZoneFieldStats& f : row.fields) {
      const bool any = f.count > 0;
      table_->setItem(r, c++, NumberItem(any, f.min));
      table_->setItem(r, c++, NumberItem(any, f.max));
      table_->setItem(r, c++, NumberItem(any, f.mean));
      table_->setItem(r, c++, NumberItem(f.HasWeightedMean(), f.HasWeightedMean() ? f.WeightedMean() : 0.0));
      table_->setItem(r, c++, NumberItem(any, f.Sd()));
    }
    if (summary_.hasVolume) table_->setItem(r, c++, NumberItem(true, row.volume));
    if (summary_.hasTarget) {
      table_->setItem(r, c++, NumberItem(true, row.areaWithin5));
      table_->setItem(r, c++, NumberItem(true, row.areaWithin10));
    }
  };
  int r = 0;
  for (const ZoneRow& row : summary_.zones) fill(r++, row, false);
  fill(r, summary_.outside, true);
  table_->setSortingEnabled(true);
  table_->resizeColumnsToContents();
  note_->setText(summary_.hidden > 0
                     ? QString::fromStdString(LangFormat(kZonesHiddenNote, GroupedCount(summary_.hidden).c_str()))
                     : QString());
}

bool CZonesPanel::IsOpen(const Layer* layer) const {
  if (!layer || !layers_) return false;
  for (Layer* open : layers_->Layers()) {
    if (open == layer) return true;
  }
  return false;
}

void CZonesPanel::SelectZone(int row) {
  QTableWidgetItem* item = table_->item(row, 0);
  if (!item || !summaryZones_ || !layers_) return;
  const int record = item->data(Qt::UserRole).toInt();
  if (!IsOpen(summaryZones_) || record <= 0) return;
  std::vector<Shape*> parcels;
  summaryZones_->Records().ForEach([&](Shape* s) {
    if (s->GetRecordNumber() == record) parcels.push_back(s);
  });
  summaryZones_->ClearSelection();
  summaryZones_->SelectRecords(parcels);
  summaryZones_->RequestRepaint();
}

QString CZonesPanel::TableText() const {
  return QString::fromStdString(ZoneSummaryTable(summary_, DecimalPoint(), true));
}

bool CZonesPanel::ExportCsv(const QString& path) {
  FileWriteError error;
  if (WriteFileSafely(path.toStdString(), ZoneSummaryTable(summary_, DecimalPoint()), &error)) return true;
  ShowError(FileWriteErrorOf(error, LangText(kZonesPanelTitle), LangText(kZonesExportFailed)));
  return false;
}

bool CZonesPanel::ExportShapes(const QString& chosen) {
  if (!IsOpen(summaryZones_) || !IsOpen(summaryLog_)) {
    ShowMessage(MessageRequest{LangText(kZonesFilesGone), LangText(kZonesPanelTitle), MessageIcon::Warning,
                               MessageButtons::Ok});
    return false;
  }
  const QString path = chosen.endsWith(QStringLiteral(".shp"), Qt::CaseInsensitive) ? chosen : chosen + ".shp";
  Error error;
  if (ExportZones(*summaryZones_, *summaryLog_, summary_, path.toStdString(), error)) return true;
  if (error.caption.empty()) error.caption = LangText(kZonesPanelTitle);
  ShowError(error);
  return false;
}

bool CZonesPanel::PrintsWithPage() const { return printBox_->isChecked() && !summary_.zones.empty(); }

}  // namespace kestrune
