// One opened shape file set as the viewer holds it: its records in drawing
// order, its display state (kept in the ".gpe" beside the file), its legend,
// its selection and its filter mask. Layers are owned by the LayerList. The
// layer never knows who shows it: it signals what changed (a selection, a
// part of the map to paint again, the progress of its load) and the views
// that listen follow.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QObject>

#include "base/Error.h"
#include "geo/Canvas.h"
#include "geo/MapPoint.h"
#include "layers/CategoryLegend.h"
#include "layers/FileSummary.h"
#include "layers/LayerSettings.h"
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
class DbfTable;
class PixelMapper;

// What a layer's file was recognised as, from its extension.
enum LayerFileKind : int { kFileKindUnknown = 0, kFileKindShape = 1 };

// Filter bits of the layer's mask and of each record's flags.
constexpr int kFilterBoomOn = 0x1;
constexpr int kFilterBoomOff = 0x2;
constexpr int kFilterRateAboveZero = 0x4;
constexpr int kFilterRateZero = 0x8;
constexpr int kFilterShowShadows = 0x1000;  // mask only
constexpr int kDefaultFilterMask = 0x1005;
// The flags of a record the log fields say nothing against (no boom or rate
// field, or no attribute row): boom on, rate above zero.
constexpr int kComputedRecordFlags = kFilterBoomOn | kFilterRateAboveZero;

// The status line when the values of the legend column cannot be read.
constexpr const char* kMsgTableValuesUnread = "#20010030:The values of %s could not be read (%s); they show as 0.";
constexpr const char* kMsgTableLocked = "#20010031:the table is locked by another program";

// Datum and zone a layer hands to the reader until told otherwise.
constexpr int kDefaultLayerDatum = 8;
constexpr int kDefaultLayerZone = -1;

// The area of a repaint request that means the whole map.
constexpr MapRect kWholeMap{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};

class Layer : public QObject, public RecordSink, public ShapeOwner {
  Q_OBJECT
 public:
  // How many records pass between two progress reports at most.
  static constexpr int64_t kProgressInterval = 4096;

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
  // cancel flag was raised before the settings were read (the layer is then
  // to be discarded: nothing beside the file was written). May run in a
  // worker thread, on a layer no view knows yet.
  virtual bool Load(bool keepRecords = false);
  // Writes the legend to its ".lgd" when it carries its changed mark (the
  // categories to their ".lgc" when changed); false when a write failed, with
  // its error in error when given.
  virtual bool SaveLegend(Error* error = nullptr);
  virtual bool Close();
  virtual void Draw(const CMapTransform& transform, Canvas& dc);
  virtual MapRect GetBounds() const;
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
  bool IsOneRecordSelected() const;
  virtual int GetSelectionCount() const { return static_cast<int>(selection_.size()); }
  virtual bool IsModified();
  Shape* CreateRecord(int recordClass, int recordNumber, bool addNow) override;
  void AddRecord(Shape* shape, bool append) override;
  // Unlinks and destroys a record; the layer is then modified.
  virtual void RemoveRecord(Shape* shape);

  // ---- Paths.
  void SetPathName(const std::string& path);
  std::string GetPathName() const override { return path_; }
  // The path without its extension (cut at the last "." of the file name,
  // unless that "." starts the name).
  const std::string& GetBasePath() const { return basePath_; }
  // The part after the last "/" or "\".
  const std::string& GetFileName() const { return fileName_; }
  // The extension without its "." (empty when there is none).
  const std::string& GetExtension() const { return extension_; }
  // The attribute table: the ".dbf" beside the file, found whatever the case
  // of its extension.
  std::string GetTablePath() const;
  std::string GetLegendPath() const;
  std::string GetSettingsPath() const;
  std::string GetNotesPath() const;
  // The categorised legend beside the ".lgd".
  std::string GetCategoryPath() const;

  // ---- State.
  void SetModified(bool modified);
  bool IsLoaded() const { return loaded_; }
  void SetLoaded(bool loaded) { loaded_ = loaded; }
  int GetFileKind() const { return fileKind_; }
  int GetShapeKind() const { return shapeKind_; }
  int GetCoordSystemKind() const { return coordSystemKind_; }
  int GetDatum() const { return datum_; }
  int GetZone() const { return zone_; }
  // A zone set here places a projected file that has no ".prj".
  void SetZone(int zone) {
    zone_ = zone;
    zoneGiven_ = true;
  }
  // A hidden layer (its check box in the file list cleared) is neither drawn,
  // printed nor hit by the tools; only this run remembers it.
  bool IsHidden() const { return hidden_; }
  void SetHidden(bool hidden) { hidden_ = hidden; }

  // ---- Display state; every setter writes its ".gpe" key at once.
  double GetDisplaySize(bool metric) const override {
    return metric ? settings_.displaySizeFt * kMetresPerFoot : settings_.displaySizeFt;
  }
  void SetDisplaySize(double value, bool metric);
  bool GetDrawBorder() const override { return settings_.drawBorder; }
  void SetDrawBorder(bool on);
  // Areas' fill opacity in percent (100 draws them opaque); kept as FILL_OPACITY.
  int GetFillOpacity() const override { return settings_.fillOpacity; }
  void SetFillOpacity(int percent);
  int GetColorMethod() const { return settings_.colorMethod; }
  void SetColorMethod(int method);
  Color GetSolidColor() const { return settings_.solidColor; }
  void SetSolidColor(Color color);
  int16_t GetLegendColumn() const { return settings_.legendColumn; }
  void SetLegendColumn(int16_t column);
  const LayerSettings& GetSettings() const { return settings_; }

  // Settings file access: section "Options" of the ".gpe".
  bool ReadSetting(const std::string& key, int32_t& value) const;
  void WriteSetting(const std::string& key, const std::string& value) const;
  void WriteIntSetting(const std::string& key, int32_t value) const;

  // ---- Legend and colours.
  Legend& GetLegend() { return legend_; }
  const Legend& GetLegend() const { return legend_; }
  void SetLegend(const Legend& legend) { legend_ = legend; }
  // Reads each record's value of the legend column and rebuilds the legend from their range.
  void ComputeValues();
  // The same from rows already read.
  void ComputeValues(const RowScan& rows);
  void ApplyColors();
  Color GetValueColor(double value) const { return legend_.GetColor(value); }
  // Colours the records by another field (1-based) and repaints the map.
  void SetThemeField(int16_t field);
  // Whether the legend column is a text field: each record's value is then
  // the index of its category (-1 for a record without a row).
  bool IsCategorised() const { return categorised_; }
  const CategoryLegend& GetCategories() const { return categories_; }
  // The text of a record's category (empty without one).
  std::string GetCategoryOf(const Shape& shape) const;

  // ---- Selection.
  void Select(Shape* shape);
  // Select for many records, with one immediate drawing of the new ones.
  void SelectRecords(const std::vector<Shape*>& shapes);
  void ClearSelection();
  // The selection in the order records were selected.
  const std::vector<Shape*>& GetSelection() const { return selection_; }
  // The selection in drawing order: each record placed as an ordered insert
  // would have placed it (areas largest first, other records in front).
  const std::vector<Shape*>& GetSelectionDrawOrder() const;
  // Asks the views to paint a map area again (kWholeMap for all of it).
  void RequestRepaint(const MapRect& area = kWholeMap) { emit repaintRequested(area); }

  // Records wholly inside the rectangle, or for a one-point rectangle the one
  // record hit there.
  std::vector<Shape*> FindInRect(const MapRect& rect);
  // The best record at a map point: a point beats a line beats an area;
  // among equals the nearest, the later of equal distances.
  Shape* HitTestPoint(const MapPoint& point);

  // ---- Filter.
  int GetFilterMask() const { return filterMask_; }
  void SetFilterMask(int mask) { filterMask_ = mask; }
  void ApplyFilter();
  // The records the last ApplyFilter filtered out (0 before any).
  size_t CountFilteredOut() const;

  // ---- Log fields (rate, boom, date, time, width; see LogFields.h).
  const LogFields& GetLogFields() const { return logFields_; }
  // The user's choice: writes the five keys, then the records' flags and the
  // summary follow it (and the filter, once one has been applied). False when
  // the keys could not be written (the choice holds for this session).
  bool SetLogFields(const LogFields& fields);

  // ---- Records.
  const RecordList& Records() const { return records_; }
  size_t GetRecordCount() const { return records_.size(); }

  // Draws the records through the transform at once (the map window's
  // immediate drawing of a selection).
  void DrawRecords(const CMapTransform& transform, Canvas& dc, Shape* const* records, size_t count);

  // Whether drawing, clicks and rectangles look records up in the layer's
  // spatial index (the default) or walk every record; both give the same
  // results, the walk serves to check that.
  void SetSpatialIndexUsed(bool used);
  bool IsSpatialIndexUsed() const { return useIndex_; }
  const SpatialIndex& GetSpatialIndex() const { return index_; }

  // ---- Summary and product slots.
  const FileSummary& GetSummary() const { return summary_; }
  FileSummary& GetSummary() { return summary_; }
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
  const Error& GetLoadError() const { return loadError_; }
  // What the load found wrong beside the file (a legend file that is not
  // one), for the window to tell once the layer shows; emptied by the call.
  std::vector<Error> TakeLoadNotices() { return std::move(loadNotices_); }
  const ShapeFileReader& GetReader() const { return reader_; }
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
  // The legend column's field name, and whether the ".lgd" was made for it.
  std::string LegendColumnName() const;
  bool LegendFileFitsColumn() const;
  // Writes one display setting's key, when the layer has a file.
  void WriteKey(SettingKey key) const;
  // The colour a record gets by the layer's method.
  Color ColorFor(const Shape& shape) const;
  // Drawing of one pass in list order, point symbols in batches.
  enum class DrawPassKind { Shadows, Normal, NormalDecidingVisibility };
  void DrawPass(const PixelMapper& mapper, const CMapTransform& transform, Canvas& dc, DrawPassKind pass,
                bool indexed);
  // Calls f for every record to draw: the index's candidates, or every record.
  template <class F>
  void ForEachDrawn(bool indexed, F f);
  // Builds the index when it is used and missing; true when it can answer.
  bool EnsureIndex();
  // Drops the index after the records changed.
  void DropIndex();
  // Map units a point's symbol box reaches beyond its point, with room to spare.
  int64_t PointMargin() const;
  // Marks in drawn_ the records that may be visible in the view (within the
  // plain visible area when given) and clears the visible flag of records
  // marked last time but not now; false when the index cannot tell.
  bool MarkDrawn(const CMapTransform& transform, const DeviceRect* area);
  // Draws records as they are, selected point symbols in batches (only the
  // visible ones with visibleOnly).
  void DrawSelected(const PixelMapper& mapper, const CMapTransform& transform, Canvas& dc, Shape* const* records,
                    size_t count, bool visibleOnly);
  // Selection bookkeeping shared by Select and SelectRecords; true when added.
  bool AddToSelection(Shape* shape);
  void NotifySelectionChanged() { emit selectionChanged(); }
  // The settings file's display state and the log fields, read before the values.
  void LoadSettings();
  // ComputeValues for a text legend column.
  void ComputeCategories(DbfTable& table, int column);
  // Whether the cancel flag is raised.
  bool Cancelled() const { return cancel_ && cancel_->load(std::memory_order_relaxed); }

  RecordList records_;
  std::string path_;
  std::string basePath_;
  std::string fileName_;
  std::string extension_;
  bool modified_ = false;
  bool loaded_ = false;
  bool hidden_ = false;
  int fileKind_ = kFileKindUnknown;
  LayerSettings settings_;
  int filterMask_ = kDefaultFilterMask;
  bool filterApplied_ = false;
  LogFields logFields_;
  Legend legend_;
  CategoryLegend categories_;
  bool categorised_ = false;
  // Set once the user chose the legend column: only then are the categories
  // written beside the legend (opening a file to look at it writes nothing).
  bool categoriesChosen_ = false;
  std::array<bool, kProductSlots> fieldAreaKnown_{};
  std::array<bool, kProductSlots> fieldVolumeKnown_{};
  int productSlot_ = 0;
  // Selected records in the order they were selected; each also carries its
  // selected flag, so membership is a flag test, not a search.
  std::vector<Shape*> selection_;
  mutable std::vector<Shape*> selectionOrder_;
  mutable bool selectionOrderValid_ = true;
  int coordSystemKind_ = kCoordGeographic;
  int datum_ = kDefaultLayerDatum;
  int zone_ = kDefaultLayerZone;
  bool zoneGiven_ = false;
  int shapeKind_ = kShapeKindNone;
  FileSummary summary_;

  // Scratch of the point symbol batches while drawing.
  std::vector<DeviceRect> batchRects_;
  std::vector<Color> batchFills_;
  // Whether a record drawn in this drawing carries a label.
  bool labelled_ = false;

  ShapeFileReader reader_;
  const std::atomic<bool>* cancel_ = nullptr;
  int64_t loadedSinceReport_ = 0;
  int loadPercent_ = 0;
  Error loadError_;
  std::vector<Error> loadNotices_;
  bool loading_ = false;
  // Whether the last ApplyFilter filtered any record out (records added
  // since are not), so drawing knows whether shadows need a pass of their own.
  bool anyFilteredOut_ = false;

  SpatialIndex index_;
  bool useIndex_ = true;
  // Records the last drawing may have left visible, and those of this drawing.
  SpatialIndex::Bits maybeVisible_;
  SpatialIndex::Bits drawn_;
  SpatialIndex::Bits sure_;
  SpatialIndex::Bits found_;
  // The bounds as of the index's building, for the display size they were taken at.
  mutable MapRect bounds_ = kEmptyBounds;
  mutable double boundsSizeFt_ = 0.0;
  mutable bool boundsKept_ = false;
  std::vector<uint32_t> positions_;
};

}  // namespace kestrune
