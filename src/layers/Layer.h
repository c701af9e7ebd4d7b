// One opened shape file set as the viewer holds it: its records in drawing
// order, read from its source (LayerSource), looked at through its style
// (LayerStyle, kept in the ".gpe" beside the file), its selection
// (LayerSelection) and its filter (LayerFilter), and drawn and hit by its
// renderer (LayerRenderer). The layer owns the records, runs the load and
// answers for its parts under one name. Layers are owned by the LayerList.
// The layer never knows who shows it: it signals what changed (a selection,
// a part of the map to paint again, the progress of its load) and the views
// that listen follow.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QObject>

#include "base/Error.h"
#include "geo/Canvas.h"
#include "geo/MapPoint.h"
#include "layers/CategoryLegend.h"
#include "layers/FileSummary.h"
#include "layers/LayerFilter.h"
#include "layers/LayerRenderer.h"
#include "layers/LayerSelection.h"
#include "layers/LayerSettings.h"
#include "layers/LayerSource.h"
#include "layers/LayerStyle.h"
#include "layers/Legend.h"
#include "layers/LogFields.h"
#include "layers/SpatialIndex.h"
#include "shapes/RecordList.h"
#include "shapes/RecordSink.h"
#include "shapes/Shape.h"
#include "shapes/ShapeFileReader.h"

namespace kestrune {

class Canvas;
class CMapTransform;

// The area of a repaint request that means the whole map.
constexpr MapRect kWholeMap{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};

class Layer : public QObject, public RecordSink, public ShapeOwner {
  Q_OBJECT
 public:
  // How many records pass between two progress reports at most.
  static constexpr int64_t kProgressInterval = 4096;

  // A layer reading a shape file set (see SetPathName).
  Layer();
  ~Layer() override;
  Layer(const Layer&) = delete;
  Layer& operator=(const Layer&) = delete;

  // ---- Virtual operations.
  virtual void Clear();
  // Recognises the file by its extension and checks the shape file header;
  // a refusal is kept in GetLoadError.
  virtual bool Open();
  // Reads the records (unless already loaded), the settings, the values, the
  // legend and the colours. True once the records are loaded; false when the
  // cancel flag was raised before the settings were read, or the source was
  // refused for what its records hold (GetLoadError tells why); the layer is
  // then to be discarded: nothing beside the file was written. May run in a
  // worker thread, on a layer no view knows yet.
  virtual bool Load(bool keepRecords = false);
  // Writes the legend to its ".lgd" when it carries its changed mark (the
  // categories to their ".lgc" when changed); false when a write failed, with
  // its error in error when given.
  virtual bool SaveLegend(Error* error = nullptr) { return style_.SaveLegend(error); }
  virtual bool Close();
  virtual void Draw(const CMapTransform& transform, Canvas& dc) { renderer_.Draw(transform, dc); }
  virtual MapRect GetBounds() const { return renderer_.GetBounds(); }
  // Removes the selected records in one pass; the layer is then modified, the
  // map repaints where they were and the selection change is told. False
  // when nothing was selected.
  bool RemoveSelectedRecords();
  // After the one selected record's attributes were edited: reads its value
  // of the legend column again (a new text is a new category) and recolours
  // its parts at once; false unless the selection is one record number.
  bool RereadSelectedRecord();
  // Whether the selection is one record number (one record, or the parcels
  // or parts of one).
  bool IsOneRecordSelected() const { return selection_.IsOneRecordSelected(); }
  virtual int GetSelectionCount() const { return static_cast<int>(selection_.Count()); }
  virtual bool IsModified();
  Shape* CreateRecord(int recordClass, int recordNumber, bool addNow) override;
  void AddRecord(Shape* shape, bool append) override;
  ShapeOwner* PointRecordOwner() override { return this; }
  void AppendPointRun(Shape* first, size_t count) override;
  void SetRecordZM(int recordNumber, const RecordZM& zm) override;
  // The Z and M values of a record number of a Z or M file; none otherwise.
  const RecordZM* GetRecordZM(int recordNumber) const;
  // 'z' for a file with Z values, 'm' for one with only M values, else 0.
  char GetZMKind() const { return GetReader().GetZMKind(); }
  // Unlinks and destroys a record; the layer is then modified.
  virtual void RemoveRecord(Shape* shape);

  // ---- Source: where the records and the attribute table come from.
  // Replaces the source (before Open and Load; a null source is ignored); the
  // path is then the new one's.
  void SetSource(std::unique_ptr<LayerSource> source);
  const LayerSource& Source() const { return *source_; }

  // ---- Paths.
  void SetPathName(const std::string& path) { source_->SetPathName(path); }
  std::string GetPathName() const override { return source_->GetPathName(); }
  // The path without its extension (cut at the last "." of the file name,
  // unless that "." starts the name).
  const std::string& GetBasePath() const { return source_->GetBasePath(); }
  // The part after the last "/" or "\".
  const std::string& GetFileName() const { return source_->GetFileName(); }
  // The extension without its "." (empty when there is none).
  const std::string& GetExtension() const { return source_->GetExtension(); }
  // The attribute table: the ".dbf" beside the file, found whatever the case
  // of its extension.
  std::string GetTablePath() const { return source_->GetTablePath(); }
  std::string GetLegendPath() const { return source_->GetLegendPath(); }
  std::string GetSettingsPath() const { return source_->GetSettingsPath(); }
  std::string GetNotesPath() const { return source_->GetNotesPath(); }
  // The categorised legend beside the ".lgd".
  std::string GetCategoryPath() const { return source_->GetCategoryPath(); }

  // ---- State.
  void SetModified(bool modified);
  bool IsLoaded() const { return loaded_; }
  void SetLoaded(bool loaded) { loaded_ = loaded; }
  int GetFileKind() const { return source_->GetFileKind(); }
  int GetShapeKind() const { return source_->GetShapeKind(); }
  int GetCoordSystemKind() const { return source_->GetCoordSystemKind(); }
  int GetDatum() const { return source_->GetDatum(); }
  int GetZone() const { return source_->GetZone(); }
  // A zone set here places a projected file that has no ".prj".
  void SetZone(int zone) { source_->SetZone(zone); }
  // A hidden layer (its check box in the file list cleared) is neither drawn,
  // printed nor hit by the tools; only this run remembers it.
  bool IsHidden() const { return hidden_; }
  void SetHidden(bool hidden) { hidden_ = hidden; }

  // ---- Display state; every setter writes its ".gpe" key at once.
  const LayerStyle& Style() const { return style_; }
  double GetDisplaySize(bool metric) const override { return style_.GetDisplaySize(metric); }
  void SetDisplaySize(double value, bool metric) { style_.SetDisplaySize(value, metric); }
  bool GetDrawBorder() const override { return style_.GetSettings().drawBorder; }
  void SetDrawBorder(bool on) { style_.SetDrawBorder(on); }
  // Areas' fill opacity in percent (100 draws them opaque); kept as FILL_OPACITY.
  int GetFillOpacity() const override { return style_.GetSettings().fillOpacity; }
  void SetFillOpacity(int percent) { style_.SetFillOpacity(percent); }
  int GetColorMethod() const { return style_.GetSettings().colorMethod; }
  void SetColorMethod(int method) { style_.SetColorMethod(method); }
  Color GetSolidColor() const { return style_.GetSettings().solidColor; }
  void SetSolidColor(Color color) { style_.SetSolidColor(color); }
  int16_t GetLegendColumn() const { return style_.GetSettings().legendColumn; }
  void SetLegendColumn(int16_t column) { style_.SetLegendColumn(column); }
  const LayerSettings& GetSettings() const { return style_.GetSettings(); }

  // Settings file access: section "Options" of the ".gpe".
  bool ReadSetting(const std::string& key, int32_t& value) const { return style_.ReadSetting(key, value); }
  void WriteSetting(const std::string& key, const std::string& value) const { style_.WriteSetting(key, value); }
  void WriteIntSetting(const std::string& key, int32_t value) const { style_.WriteIntSetting(key, value); }

  // ---- Legend and colours.
  Legend& GetLegend() { return style_.GetLegend(); }
  const Legend& GetLegend() const { return style_.GetLegend(); }
  void SetLegend(const Legend& legend) { style_.SetLegend(legend); }
  // Reads each record's value of the legend column and rebuilds the legend from their range.
  void ComputeValues();
  // The same from rows already read.
  void ComputeValues(const RowScan& rows);
  void ApplyColors() { style_.ApplyColors(records_); }
  Color GetValueColor(double value) const { return style_.GetLegend().GetColor(value); }
  // Colours the records by another field (1-based) and repaints the map.
  void SetThemeField(int16_t field);
  // Whether the legend column is a text field: each record's value is then
  // the index of its category (-1 for a record without a row).
  bool IsCategorised() const { return style_.IsCategorised(); }
  const CategoryLegend& GetCategories() const { return style_.GetCategories(); }
  // The text of a record's category (empty without one).
  std::string GetCategoryOf(const Shape& shape) const { return style_.GetCategoryOf(shape); }

  // ---- Selection.
  void Select(Shape* shape);
  // Select for many records, with one immediate drawing of the new ones.
  void SelectRecords(const std::vector<Shape*>& shapes);
  void ClearSelection();
  // The selection in the order records were selected.
  const std::vector<Shape*>& GetSelection() const { return selection_.Records(); }
  // The selection in drawing order: each record placed as an ordered insert
  // would have placed it (areas largest first, other records in front).
  const std::vector<Shape*>& GetSelectionDrawOrder() const { return selection_.DrawOrder(); }
  // Asks the views to paint a map area again (kWholeMap for all of it).
  void RequestRepaint(const MapRect& area = kWholeMap) { emit repaintRequested(area); }

  // Records wholly inside the rectangle, or for a one-point rectangle the one
  // record hit there.
  std::vector<Shape*> FindInRect(const MapRect& rect) { return renderer_.FindInRect(rect); }
  // The best record at a map point: a point beats a line beats an area;
  // among equals the nearest, the later of equal distances.
  Shape* HitTestPoint(const MapPoint& point) { return renderer_.HitTestPoint(point); }

  // ---- Filter.
  int GetFilterMask() const { return filter_.GetMask(); }
  void SetFilterMask(int mask) { filter_.SetMask(mask); }
  void ApplyFilter() { filter_.Apply(records_, selection_); }
  // The records the last ApplyFilter filtered out (0 before any).
  size_t CountFilteredOut() const { return filter_.CountFilteredOut(records_); }
  // The records the log's cleaning removed (by record number - 1), flagged
  // kFilterCleanRemoved through every recomputation of the flags.
  const LayerFilter& GetFilter() const { return filter_; }
  void SetCleanRemoved(std::vector<uint8_t> removed) { filter_.SetCleanRemoved(std::move(removed)); }
  void SetShowCleanRemoved(bool on) { filter_.SetShowCleanRemoved(on); }

  // ---- Log fields (rate, boom, date, time, width; see LogFields.h).
  const LogFields& GetLogFields() const { return filter_.GetLogFields(); }
  // The user's choice: writes the five keys, then the records' flags and the
  // summary follow it (and the filter, once one has been applied). False when
  // the keys could not be written (the choice holds for this session).
  bool SetLogFields(const LogFields& fields);

  // ---- Records.
  const RecordList& Records() const { return records_; }
  size_t GetRecordCount() const { return records_.size(); }

  // Draws the records through the transform at once (the map window's
  // immediate drawing of a selection).
  void DrawRecords(const CMapTransform& transform, Canvas& dc, Shape* const* records, size_t count) {
    renderer_.DrawRecords(transform, dc, records, count);
  }
  // Whether its picture moved by whole pixels is its drawing in the view
  // moved as much (see LayerRenderer::MovesWithPicture).
  bool MovesWithPicture() const { return renderer_.MovesWithPicture(); }

  // Whether drawing, clicks and rectangles look records up in the layer's
  // spatial index (the default) or walk every record; both give the same
  // results, the walk serves to check that.
  void SetSpatialIndexUsed(bool used) { renderer_.SetSpatialIndexUsed(used); }
  bool IsSpatialIndexUsed() const { return renderer_.IsSpatialIndexUsed(); }
  const SpatialIndex& GetSpatialIndex() const { return renderer_.GetSpatialIndex(); }

  // ---- Summary and product slots.
  // Worked out here on first use when the load left it for later.
  const FileSummary& GetSummary() const;
  FileSummary& GetSummary();
  // Whether the summary waits for its first use (the load read the rows for
  // the flags alone); set by ApplyLogValues.
  void SetSummaryPending(bool pending) { summaryPending_ = pending; }
  bool IsSummaryPending() const { return summaryPending_; }
  int GetProductSlot() const { return productSlot_; }
  void SetProductSlot(int slot) { productSlot_ = slot; }
  bool IsFieldAreaKnown(int slot) const;
  bool IsFieldVolumeKnown(int slot) const;
  void SetFieldKnown(int slot, bool area, bool volume);

  // ---- Loading.
  // A flag a load looks at every kProgressIntervalMs; once raised the load
  // stops (see Load). Null for none.
  void SetCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }
  // Why Open refused the file; empty otherwise.
  const Error& GetLoadError() const { return source_->GetError(); }
  // What the load found wrong beside the file (a legend file that is not
  // one), for the window to tell once the layer shows; emptied by the call.
  std::vector<Error> TakeLoadNotices() { return std::move(loadNotices_); }
  // The shape file reader of a shape file source (an idle one for another source).
  const ShapeFileReader& GetReader() const;
  bool IsLoading() const { return loading_; }

 signals:
  // Records were just selected: views draw them at once over their picture.
  void recordsSelected(const std::vector<kestrune::Shape*>& records);
  // The selection changed (Select, SelectRecords, ClearSelection, removing
  // selected records); views of the selection such as the Layer Table follow.
  void selectionChanged();
  // A map area (kWholeMap for all) is to be painted again.
  void repaintRequested(kestrune::MapRect area);
  // While loading, from the loading thread: records read so far and the
  // part of the ".shp" read, in percent.
  void loadProgress(qint64 recordsRead, int percent);

 private:
  // Selection bookkeeping shared by Select and SelectRecords; true when added.
  bool AddToSelection(Shape* shape);
  void NotifySelectionChanged() { emit selectionChanged(); }
  // The settings file's display state and the log fields, read before the values.
  void LoadSettings();
  // Whether the cancel flag is raised.
  bool Cancelled() const { return cancel_ && cancel_->load(std::memory_order_relaxed); }

  RecordList records_;
  std::vector<RecordZM> zm_;  // by record number - 1, for a Z or M file
  std::unique_ptr<LayerSource> source_;
  LayerStyle style_;
  LayerSelection selection_;
  LayerFilter filter_;
  LayerRenderer renderer_;
  bool modified_ = false;
  bool loaded_ = false;
  bool hidden_ = false;
  std::array<bool, kProductSlots> fieldAreaKnown_{};
  std::array<bool, kProductSlots> fieldVolumeKnown_{};
  int productSlot_ = 0;
  mutable FileSummary summary_;
  mutable bool summaryPending_ = false;

  const std::atomic<bool>* cancel_ = nullptr;
  int64_t loadedSinceReport_ = 0;
  int loadPercent_ = 0;
  std::vector<Error> loadNotices_;
  bool loading_ = false;
};

}  // namespace kestrune
