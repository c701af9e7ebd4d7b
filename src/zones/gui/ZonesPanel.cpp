#include "zones/gui/ZonesPanel.h"

#include <cmath>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
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
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(note_, 1);
  buttons->addWidget(copy);
  buttons->addWidget(exportCsv);
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
  QApplication::setOverrideCursor(Qt::WaitCursor);
  Error error;
  const bool done = SummariseByZones(*zones, *log, request, summary_, &error);
  QApplication::restoreOverrideCursor();
  if (!done) {
    ShowError(error);
    return false;
  }
  summaryZones_ = zones;
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

void CZonesPanel::SelectZone(int row) {
  QTableWidgetItem* item = table_->item(row, 0);
  if (!item || !summaryZones_ || !layers_) return;
  const int record = item->data(Qt::UserRole).toInt();
  bool open = false;
  for (Layer* layer : layers_->Layers()) open = open || layer == summaryZones_;
  if (!open || record <= 0) return;
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

}  // namespace kestrune
