// The layer's load, its selection commands, its records and the operations
// it hands to its parts.
#include "layers/Layer.h"

#include <algorithm>
#include "layers/DefaultTheme.h"
#include "layers/DirectRows.h"

#include <future>
#include <utility>

#include "base/Platform.h"
#include "layers/IniFile.h"
#include "layers/LayerCache.h"
#include "layers/RowScan.h"

namespace kestrune {

// ---------------------------------------------------------------- life

// A layer with no file yet and the initial display state.
Layer::Layer()
    : source_(std::make_unique<ShapeFileSource>()), renderer_(*this, records_, style_, selection_, filter_) {
  style_.SetSource(source_.get());
}

// Destroys any records still held.
Layer::~Layer() { Clear(); }

// Destroys every record and empties the selection. Runs of pooled points go
// back to the pool a run at a time (at once when they are all it holds).
void Layer::Clear() {
  // A cache's gathering in the background may still read the records.
  WaitForLayerCacheGather(*this);
  std::vector<std::pair<Shape*, size_t>> pooled;
  const bool pool = PointShape::IsPooled();
  records_.ForEachRun([&](Shape* first, size_t count) {
    if (pool && count > 1 && first->GetRecordClass() == kRecordPoint) {
      pooled.emplace_back(first, count);
      return;
    }
    for (size_t i = 0; i < count; ++i) delete RecordList::RunAt(first, i);
  });
  if (!pooled.empty()) PointShape::DestroyPooledRuns(pooled);
  records_.Clear();
  zm_ = {};
  renderer_.DropIndex();
  selection_.Release();
  summaryPending_ = false;
}

// The style's side files follow the source.
void Layer::SetSource(std::unique_ptr<LayerSource> source) {
  if (!source) return;
  source_ = std::move(source);
  style_.SetSource(source_.get());
}

// The source decides whether it can be read.
bool Layer::Open() { return source_->Open(); }

// Reads the records once, then on every call the settings, values, legend and
// colours. On the first read the attribute table is read in a second thread
// while the shapes load (the two files take about as long), by the legend
// column and log fields the side files name; should reading the settings
// afterwards settle on others, the table is read again for them.
bool Layer::Load(bool keepRecords) {
  const bool first = !loaded_;
  // Before the rows: a scan from the cache reads its mapping until taken.
  std::unique_ptr<LayerCacheLoad> cache;
  std::future<RowScan> rows;
  int16_t scannedColumn = 0;
  LogFields scannedFields;
  int defaultTheme = 0;
  bool direct = false;
  // The records' values and flags come with them from the cache.
  bool cachedValues = false;
  DirectRows directRows;
  if (first) {
    WaitCursor wait;
    if (!keepRecords) Clear();
    if (source_->HasRecords()) {
      // A cache of the same files, when there is one, stands in for the
      // parse and the row pass.
      cache = std::make_unique<LayerCacheLoad>(*this);
      const LayerCacheFile* hit = cache->Hit();
      if (!GetBasePath().empty()) {
        // A look at the keys that writes and reports nothing: that is left
        // to the settings load after the records.
        IniFile file;
        file.Load(GetSettingsPath());
        LayerSettings peek = style_.GetSettings();
        ApplySettingsKeys(file, peek);
        scannedColumn = peek.legendColumn;
        scannedFields = LoadLogFields(GetSettingsPath(), GetTablePath());
        // A file whose settings name no theme is coloured at once by its rate
        // (or an area's first measure), read along with the shapes.
        if (DefaultThemeOnOpen() && !SettingsNameTheme(file)) {
          const DbfTable table(GetTablePath());
          defaultTheme = DefaultThemeField(TableFields(table), scannedFields, ShapeTypeOfFile(GetPathName()));
          if (defaultTheme > 0) scannedColumn = static_cast<int16_t>(defaultTheme);
        }
        // A big point log has its rows read straight into its records once
        // they are all in (every core on the ".shp", then every core on the
        // ".dbf"); other files have them read beside the shapes, or taken
        // from the cache when it holds them. No more rows than the ".shp"
        // can hold records: a table announcing millions of rows for a few
        // records costs what those rows cost. The log fields give the flags
        // alone: the summary waits for its first use.
        direct = UsesDirectRows(GetShapeKind(), scannedColumn, GetPathName());
        if (hit && direct && hit->HasRecordValues(scannedColumn, scannedFields)) {
          direct = false;
          cachedValues = true;
        } else if (hit && hit->HasRows(scannedColumn, scannedFields)) {
          direct = false;
          rows = std::async(std::launch::async, [hit, path = GetTablePath()] { return hit->Rows(path); });
        } else if (!direct) {
          rows = std::async(std::launch::async, ScanRows, GetTablePath(), scannedColumn, scannedFields, cancel_,
                            MaxRowsOfShapeFile(GetPathName()), true);
        }
      }
      loading_ = true;
      loadedSinceReport_ = 0;
      loadPercent_ = 0;
      if (hit && cachedValues) {
        directRows = hit->ReadPointRecords(*this, scannedFields);
      } else if (hit) {
        hit->ReadRecords(*this);
      } else {
        source_->ReadRecords(*this, [this](uint64_t bytesRead, uint64_t bytesTotal) {
          loadPercent_ = bytesTotal > 0 ? static_cast<int>(bytesRead * 100 / bytesTotal) : 100;
          loadedSinceReport_ = 0;
          emit loadProgress(static_cast<qint64>(records_.size()), loadPercent_);
          return !Cancelled();
        });
      }
      loading_ = false;
      emit loadProgress(static_cast<qint64>(records_.size()), 100);
      if (Error notice = source_->TakeReadNotice()) loadNotices_.push_back(std::move(notice));
      // A source refused for what its records hold leaves no layer.
      if (source_->GetError()) {
        Clear();
        return false;
      }
      if (direct && !Cancelled()) {
        directRows = ApplyRowsDirect(*this, GetTablePath(), scannedColumn, scannedFields, cancel_,
                                     MaxRowsOfShapeFile(GetPathName()));
        // A text column or a table that cannot be read: the usual reading.
        if (!directRows.applied && !Cancelled()) {
          rows = std::async(std::launch::deferred, ScanRows, GetTablePath(), scannedColumn, scannedFields, cancel_,
                            MaxRowsOfShapeFile(GetPathName()), true);
        }
      }
    }
    // Runs of point records this load made side by side carry no changed
    // mark: only the other records (lines are marked as their vertices come)
    // and a kept list are cleared, and only a record marked is written.
    modified_ = false;
    records_.ForEachRun([keepRecords](Shape* first, size_t count) {
      if (!keepRecords && count > 1 && first->GetRecordClass() == kRecordPoint) return;
      for (size_t i = 0; i < count; ++i) {
        Shape* shape = RecordList::RunAt(first, i);
        if (shape->IsModified()) shape->SetModified(false);
      }
    });
  }
  // The pass is over before anything else opens the table (each open takes
  // the table's lock).
  const bool scannedRows = rows.valid();
  RowScan scanned = scannedRows ? rows.get() : RowScan{};
  // A cancelled load stops before the settings load, the first step that may
  // write beside the file.
  if (Cancelled()) return false;
  if (scannedRows) {
    const std::string shortTable = ShortTableText(scanned);
    if (!shortTable.empty()) ShowStatus(shortTable);
  } else if (directRows.applied && !directRows.shortTableText.empty()) {
    ShowStatus(directRows.shortTableText);
  }
  LoadSettings();
  loaded_ = true;
  // The default theme is written as a choice of the user's would be.
  const bool themedByDefault = defaultTheme > 0 && GetLegendColumn() <= 0;
  if (themedByDefault) {
    style_.SetLegendColumn(static_cast<int16_t>(defaultTheme));
    style_.SetColorMethod(kColorMethodLegend);
  }
  const bool sameReading = GetLegendColumn() == scannedColumn && GetLogFields() == scannedFields;
  if (directRows.applied && sameReading) {
    // The values and flags are in the records: the legend from their range.
    style_.ComputeLegendFromRange(records_, directRows.max, directRows.min);
    SetSummaryPending(true);
  } else if (scannedRows && sameReading) {
    ComputeValues(scanned);
  } else {
    ComputeValues();
  }
  // The rows' arrays are applied: their memory goes before the index takes
  // its own, unless the cache is to take them.
  if (!cache || !cache->Active()) scanned = RowScan{};
  // Its legend is written on close, as a theme chosen in the box is.
  if (themedByDefault) GetLegend().SetChanged(true);
  // A legend file applies only to the field it was made for.
  Error notice;
  if (!style_.LoadLegendFile(notice) && notice) loadNotices_.push_back(std::move(notice));
  ApplyColors();
  // A cached load takes its index's grid from the cache, and the records'
  // bounds when it found them at this display size.
  SpatialIndex::Grid grid;
  MapRect keptBounds;
  const bool boundsCached =
      cache && cache->Hit() && cache->Hit()->KeptBounds(style_.GetSettings().displaySizeFt, keptBounds);
  const bool indexCached = cache && cache->Hit() && cache->Hit()->IndexGrid(grid) &&
                           renderer_.AdoptIndex(std::move(grid), boundsCached ? &keptBounds : nullptr);
  if (!indexCached) renderer_.EnsureIndex();
  if (cache) {
    cache->Store(*this, scannedRows ? &scanned : nullptr, scannedColumn, scannedFields,
                 directRows.applied && sameReading);
  }
  return true;
}

// The display settings from the settings file (or the rules alone without a
// file) and the log fields of the table.
void Layer::LoadSettings() {
  style_.LoadSettings();
  filter_.SetLogFields(GetBasePath().empty() ? LogFields{} : LoadLogFields(GetSettingsPath(), GetTablePath()));
}

// Drops the records and forgets the file.
bool Layer::Close() {
  Clear();
  SetPathName(std::string());
  return true;
}

// An idle reader stands in for a source that reads no shape file.
const ShapeFileReader& Layer::GetReader() const {
  if (const auto* shapes = dynamic_cast<const ShapeFileSource*>(source_.get())) return shapes->GetReader();
  static const ShapeFileReader idle;
  return idle;
}

// Kept by record number; a record number the file skipped keeps no values.
void Layer::SetRecordZM(int recordNumber, const RecordZM& zm) {
  if (recordNumber < 1) return;
  const size_t index = static_cast<size_t>(recordNumber) - 1;
  if (index >= zm_.size()) zm_.resize(index + 1);
  zm_[index] = zm;
}

const RecordZM* Layer::GetRecordZM(int recordNumber) const {
  if (recordNumber < 1 || static_cast<size_t>(recordNumber) > zm_.size()) return nullptr;
  return &zm_[static_cast<size_t>(recordNumber) - 1];
}

// ---------------------------------------------------------------- state

// Stores the mark; clearing it also clears every record's changed mark.
void Layer::SetModified(bool modified) {
  modified_ = modified;
  if (!modified) records_.ForEach([](Shape* shape) { shape->SetModified(false); });
}

// The layer's mark, taken from the first changed record when it is clear.
bool Layer::IsModified() {
  if (!modified_) {
    for (Shape* shape : records_) {
      if (shape->IsModified()) {
        modified_ = true;
        break;
      }
    }
  }
  return modified_;
}

// ---------------------------------------------------------------- colours

// Reads each record's value of the legend column (in list order) and rebuilds the legend from their range.
void Layer::ComputeValues() {
  if (!loaded_) return;
  WaitCursor wait;
  // No row past the last record's is of use.
  size_t lastRecord = 0;
  records_.ForEach([&lastRecord](Shape* shape) {
    lastRecord = std::max(lastRecord, static_cast<size_t>(std::max(0, shape->GetRecordNumber())));
  });
  ComputeValues(ScanRows(GetTablePath(), GetLegendColumn(), GetLogFields(), nullptr, lastRecord));
}

// The values, the legend's range, then the log fields' flags and summary.
void Layer::ComputeValues(const RowScan& rows) {
  WaitCursor wait;
  if (!loaded_) return;
  style_.ComputeValues(records_, rows, &zm_, &GetLogFields());
  // The filter flags and the summary come from the log fields.
  ApplyLogValues(*this, rows);
}

// Colours by another field: writes the keys, recomputes, recolours and repaints.
void Layer::SetThemeField(int16_t field) {
  if ((field < 1 && !IsComputedLegendColumn(field)) || field == GetLegendColumn()) return;
  SetLegendColumn(field);
  SetColorMethod(kColorMethodLegend);
  ComputeValues();
  // The legend of the new field is written on close, so the next open shows it.
  GetLegend().SetChanged(true);
  ApplyColors();
  RequestRepaint();
}

// ---------------------------------------------------------------- selection

// Marks one of the layer's records selected and keeps it in the selection.
bool Layer::AddToSelection(Shape* shape) {
  // Only the layer's own records: it destroys what it removes from the selection.
  if (!shape || shape->GetOwner() != this) return false;
  return selection_.Add(shape);
}

// Selects a record unless it is already; the views draw it at once.
void Layer::Select(Shape* shape) {
  if (!AddToSelection(shape)) return;
  emit recordsSelected({shape});
  NotifySelectionChanged();
}

// Selects many records with one immediate drawing of those newly selected.
void Layer::SelectRecords(const std::vector<Shape*>& shapes) {
  std::vector<Shape*> added;
  for (Shape* shape : shapes) {
    if (AddToSelection(shape)) added.push_back(shape);
  }
  if (added.empty()) return;
  emit recordsSelected(added);
  NotifySelectionChanged();
}

// Unselects every record and repaints where they lie.
void Layer::ClearSelection() {
  if (selection_.IsEmpty()) return;
  RequestRepaint(selection_.Unselect());
  selection_.Forget();
  NotifySelectionChanged();
}

// Removed in one pass over the records (one search per record would be
// quadratic), and the map repaints where they were: once they are gone the
// selection is empty and clearing it would repaint nothing.
bool Layer::RemoveSelectedRecords() {
  if (selection_.IsEmpty()) return false;
  // A summary left for later is that of the records as loaded.
  if (summaryPending_) GetSummary();
  const MapRect rect = selection_.Bounds();
  const std::vector<Shape*> doomed = selection_.Take();
  records_.RemoveIf([](const Shape* shape) { return shape->IsSelected(); });
  renderer_.DropIndex();
  for (Shape* shape : doomed) delete shape;
  SetModified(true);
  RequestRepaint(rect);
  NotifySelectionChanged();
  return true;
}

// Reads the one selected record's value again (one record number, which may
// be several parcels) and recolours it.
bool Layer::RereadSelectedRecord() {
  if (!IsOneRecordSelected()) return false;
  const double value = style_.RereadValue(*selection_.Records().front());
  for (Shape* part : selection_.Records()) {
    if (GetLegendColumn() != kNoLegendColumn) part->SetValue(value);
    part->SetColor(style_.ColorFor(*part));
    // The new colour shows at once rather than at the next repaint.
    RequestRepaint(part->GetHitBounds());
  }
  return true;
}

// ---------------------------------------------------------------- log fields

// Stores and writes the log fields; flags, summary and filter follow.
bool Layer::SetLogFields(const LogFields& fields) {
  filter_.SetLogFields(fields);
  const bool written = GetBasePath().empty() || WriteLogFieldKeys(GetSettingsPath(), GetLogFields());
  ComputeLogValues(*this);
  if (filter_.IsApplied()) ApplyFilter();
  // A theme of the rate against the target follows the fields it is worked out from.
  if (IsTargetLegendColumn(GetLegendColumn())) {
    ComputeValues();
    ApplyColors();
    RequestRepaint();
  }
  return written;
}

// ---------------------------------------------------------------- records

// Makes an empty record of a class, appended at once with addNow.
Shape* Layer::CreateRecord(int recordClass, int recordNumber, bool addNow) {
  return MakeAndMaybeAdd(recordClass, recordNumber, addNow);
}

// Takes a record: appended, or placed in drawing order.
void Layer::AddRecord(Shape* shape, bool append) {
  if (!shape) return;
  shape->SetOwner(this);
  if (append) {
    records_.Append(shape);
  } else {
    records_.InsertOrdered(shape);
  }
  renderer_.DropIndex();
  if (loading_ && ++loadedSinceReport_ >= kProgressInterval) {
    loadedSinceReport_ = 0;
    emit loadProgress(static_cast<qint64>(records_.size()), loadPercent_);
  }
}

// A run of point records made with this layer as their owner: appended as
// AddRecord appends them, with a progress report for every interval passed.
void Layer::AppendPointRun(Shape* first, size_t count) {
  if (!first || count == 0) return;
  for (size_t i = 0; i < count; ++i) records_.Append(RecordList::RunAt(first, i));
  renderer_.DropIndex();
  loadedSinceReport_ += static_cast<int64_t>(count);
  if (loading_ && loadedSinceReport_ >= kProgressInterval) {
    loadedSinceReport_ = 0;
    emit loadProgress(static_cast<qint64>(records_.size()), loadPercent_);
  }
}

// Unlinks a record from the records and the selection and destroys it.
void Layer::RemoveRecord(Shape* shape) {
  if (!shape) return;
  if (summaryPending_) GetSummary();
  const bool listed = records_.Remove(shape);
  if (listed) renderer_.DropIndex();
  if (selection_.Remove(shape)) NotifySelectionChanged();
  // A record the layer does not hold is not the layer's to destroy.
  if (!listed) return;
  delete shape;
  SetModified(true);
}

// ---------------------------------------------------------------- summary

// A summary the load left for later is worked out from the rows now, read
// whole, as the load would have worked it out.
const FileSummary& Layer::GetSummary() const {
  if (summaryPending_) {
    summaryPending_ = false;
    // The rows the load read: as many as the ".shp" can hold records.
    BuildLogSummary(*const_cast<Layer*>(this),
                    ScanRows(GetTablePath(), 0, GetLogFields(), nullptr, MaxRowsOfShapeFile(GetPathName())));
  }
  return summary_;
}

FileSummary& Layer::GetSummary() {
  static_cast<const Layer*>(this)->GetSummary();
  return summary_;
}

// ---------------------------------------------------------------- product slots

// Whether the field area of a product slot is known.
bool Layer::IsFieldAreaKnown(int slot) const {
  return slot >= 0 && slot < kProductSlots && fieldAreaKnown_[static_cast<size_t>(slot)];
}

// Whether the field volume of a product slot is known.
bool Layer::IsFieldVolumeKnown(int slot) const {
  return slot >= 0 && slot < kProductSlots && fieldVolumeKnown_[static_cast<size_t>(slot)];
}

// Records which figures of a product slot are known.
void Layer::SetFieldKnown(int slot, bool area, bool volume) {
  if (slot < 0 || slot >= kProductSlots) return;
  fieldAreaKnown_[static_cast<size_t>(slot)] = area;
  fieldVolumeKnown_[static_cast<size_t>(slot)] = volume;
}

}  // namespace kestrune
