// The Summary by Zones panel: a zone file (any open area file), a log, the
// log's numeric fields and the zones' label field are chosen; the figures
// show in a sortable table, one row per zone and one for what lies outside
// every zone. A click on a row selects that zone on the map; Copy puts the
// table on the clipboard and Export CSV writes it (UTF-8, the user's decimal
// point) through the safe-write path; Export Zones writes the zones with
// their figures as a new shape file set. A long summary shows its progress
// with Cancel. With "Print with the page" ticked the table prints as a block
// of the page.
#pragma once

#include <QDockWidget>

#include <atomic>
#include <string>

#include "zones/ZoneSummary.h"

class QCheckBox;
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
constexpr const char* kZonesExportShapes = "#20830030:Export Zones...";
constexpr const char* kZonesShapeFilter = "#20830031:Shape files (*.shp)";
constexpr const char* kZonesPrintWithPage = "#20830032:Print with the page";
constexpr const char* kZonesProgress = "#20830033:Summarising %s by %s...";
constexpr const char* kZonesCancel = "#20830034:Cancel";
constexpr const char* kZonesNothingToExport = "#20830035:Summarise first: there are no figures to export yet.";
constexpr const char* kZonesFilesGone = "#20830036:The files summarised are no longer open; summarise again.";

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
  // Writes the zones with the figures as a shape file set (".shp" added
  // when missing); false (and told) when it could not be written.
  bool ExportShapes(const QString& path);
  // Whether the table is to print with the page, and the names it prints under.
  bool PrintsWithPage() const;
  QCheckBox* PrintBox() const { return printBox_; }
  std::string SummaryZoneFile() const { return summaryZoneFile_; }
  std::string SummaryLogFile() const { return summaryLogFile_; }
  // A summary that shows its progress dialog (after this many milliseconds;
  // tests set 0) and can be cancelled; the atomic is raised by Cancel.
  void SetProgressDelay(int milliseconds) { progressDelay_ = milliseconds; }
  std::atomic<bool>& CancelFlag() { return cancel_; }

 private:
  void RefillLayers();
  void RefillFields();
  void FillTable();
  void SelectZone(int row);
  Layer* Chosen(const QComboBox* box) const;
  bool IsOpen(const Layer* layer) const;

  LayerList* layers_ = nullptr;
  ZoneSummary summary_;
  Layer* summaryZones_ = nullptr;
  Layer* summaryLog_ = nullptr;
  std::string summaryZoneFile_, summaryLogFile_;
  QCheckBox* printBox_ = nullptr;
  int progressDelay_ = 400;
  std::atomic<bool> cancel_{false};
  QComboBox* zonesBox_ = nullptr;
  QComboBox* logBox_ = nullptr;
  QComboBox* labelBox_ = nullptr;
  QListWidget* fields_ = nullptr;
  QLabel* note_ = nullptr;
  QTableWidget* table_ = nullptr;
};

}  // namespace kestrune
