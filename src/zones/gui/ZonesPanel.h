// The Summary by Zones panel: a zone file (any open area file), a log, the
// log's numeric fields and the zones' label field are chosen; the figures
// show in a sortable table, one row per zone and one for what lies outside
// every zone. A click on a row selects that zone on the map; Copy puts the
// table on the clipboard and Export CSV writes it (UTF-8, the user's decimal
// point) through the safe-write path.
#pragma once

#include <QDockWidget>

#include "zones/ZoneSummary.h"

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace kestrune {

class Layer;
class LayerList;

constexpr const char* kZonesPanelTitle = "#20500040:Summary by Zones";
constexpr const char* kZonesLabelZones = "#20500041:Zones:";
constexpr const char* kZonesLabelLog = "#20500042:Log:";
constexpr const char* kZonesLabelLabel = "#20500043:Label:";
constexpr const char* kZonesLabelFields = "#20500044:Fields:";
constexpr const char* kZonesRun = "#20500045:Summarise";
constexpr const char* kZonesCopy = "#20500046:Copy";
constexpr const char* kZonesExport = "#20500047:Export CSV...";
constexpr const char* kZonesRecordNumber = "#20500048:(record number)";
constexpr const char* kZonesHiddenNote = "#20500049:%s records hidden by the filter are left out.";
constexpr const char* kZonesNoFields = "#20500050:Choose at least one numeric field of the log.";
constexpr const char* kZonesExportFailed = "#20500051:The table could not be written.";
constexpr const char* kZonesCsvFilter = "#20500052:CSV files (*.csv)";

class CZonesPanel : public QDockWidget {
  Q_OBJECT
 public:
  explicit CZonesPanel(QWidget* parent = nullptr);

  // The open layers offered; the lists follow the list's changes.
  void SetLayers(LayerList* layers);
  // Works the table out for the chosen files and fields; false with the
  // reason told when it cannot.
  bool Summarise();
  const ZoneSummary& Summary() const { return summary_; }
  QTableWidget* Table() const { return table_; }
  QComboBox* ZonesBox() const { return zonesBox_; }
  QComboBox* LogBox() const { return logBox_; }
  QComboBox* LabelBox() const { return labelBox_; }
  QListWidget* FieldList() const { return fields_; }
  // The table as the clipboard gets it (tabs, the user's decimal point).
  QString TableText() const;
  // Writes the CSV; false (and told) when it could not be written.
  bool ExportCsv(const QString& path);

 private:
  void RefillLayers();
  void RefillFields();
  void FillTable();
  void SelectZone(int row);
  Layer* Chosen(const QComboBox* box) const;

  LayerList* layers_ = nullptr;
  ZoneSummary summary_;
  Layer* summaryZones_ = nullptr;
  QComboBox* zonesBox_ = nullptr;
  QComboBox* logBox_ = nullptr;
  QComboBox* labelBox_ = nullptr;
  QListWidget* fields_ = nullptr;
  QLabel* note_ = nullptr;
  QTableWidget* table_ = nullptr;
};

}  // namespace kestrune
