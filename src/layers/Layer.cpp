#include "layers/Layer.h"

#include <algorithm>
#include <cmath>
#include <future>
#include <limits>
#include <map>

#include "base/Paths.h"
#include "base/Platform.h"
#include "base/Preferences.h"
#include "lang/LangString.h"
#include "geo/Canvas.h"
#include "geo/CMapTransform.h"
#include "layers/IniFile.h"
#include "layers/PixelMapper.h"
#include "layers/RowScan.h"
#include "shapes/DbfTable.h"
#include "shapes/FileSet.h"
#include "shapes/ShapeCollection.h"

namespace kestrune {

namespace {

// A field's number in the row read (0 for a field the table cannot give).
double ReadNumber(const DbfTable& table, int16_t column) {
  double value = 0.0;
  table.GetNumber(column, value);
  return value;
}

// The start and end of the lowest and highest values ComputeValues looks for.
constexpr double kValueMaxStart = -1e99;
constexpr double kValueMinStart = 1e99;

// Points symbols handed to the canvas per batch.
constexpr size_t kBatchSize = 4096;

// Lower case of an ASCII letter; other bytes unchanged.
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// ASCII comparison ignoring case, for extensions.
bool EqualsIgnoringCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return i == a.size() && b[i] == '\0';
}

// Keeps a widened map coordinate within the 32-bit map range.
int32_t Clamp32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// Grows a union of rectangles by one more.
void Unite(MapRect& into, const MapRect& r) {
  into.left = std::min(into.left, r.left);
  into.top = std::min(into.top, r.top);
  into.right = std::max(into.right, r.right);
  into.bottom = std::max(into.bottom, r.bottom);
}

// The outer area of a record that is an area, for the selection's drawing order.
double OuterAreaOf(const Shape* shape) { return static_cast<const AreaShape*>(shape)->GetOuterArea(); }

// The order an ordered insert of each record, one after the other, into an
// empty list would give: a record that is not an area goes to the front; an
// area goes after the leading areas of strictly larger outer area. The list is
// always [leading areas, largest first] + [the rest, which starts with a
// record that is not an area]; the rest only ever grows at its front.
std::vector<Shape*> OrderedInsertOrder(const std::vector<Shape*>& inserted) {
  // Leading areas keyed largest first; among equal areas the newest first.
  std::multimap<double, Shape*, std::greater<double>> leading;
  std::vector<Shape*> restReversed;
  for (Shape* shape : inserted) {
    if (shape->GetRecordClass() == kRecordArea) {
      const double area = OuterAreaOf(shape);
      // In front of the first leading area that is not larger.
      leading.emplace_hint(leading.lower_bound(area), area, shape);
    } else {
      for (auto it = leading.rbegin(); it != leading.rend(); ++it) restReversed.push_back(it->second);
      leading.clear();
      restReversed.push_back(shape);
    }
  }
  std::vector<Shape*> order;
  order.reserve(inserted.size());
  for (const auto& entry : leading) order.push_back(entry.second);
  order.insert(order.end(), restReversed.rbegin(), restReversed.rend());
  return order;
}

// Tells the status line that a table's values could not be read, and why.
void ReportUnreadableTable(const RowScan& rows) {
  const std::string reason = rows.error == DbfError::Locked ? LangText(kMsgTableLocked) : rows.errorText;
  ShowStatus(LangFormat(kMsgTableValuesUnread, rows.path.c_str(), reason.c_str()));
}

// One set bit per position of count.
void SetAllBits(SpatialIndex::Bits& bits, size_t count) {
  bits.assign((count + 63) / 64, ~uint64_t{0});
  if (count % 64 != 0) bits.back() = (uint64_t{1} << (count % 64)) - 1;
}

}  // namespace

// ---------------------------------------------------------------- life

// A layer with no file yet and the initial display state.
Layer::Layer() = default;

// Destroys any records still held.
Layer::~Layer() { Clear(); }

// Destroys every record and empties the selection.
void Layer::Clear() {
  records_.ForEach([](Shape* shape) { delete shape; });
  records_.Clear();
  DropIndex();
  selection_.clear();
  selection_.shrink_to_fit();
  selectionOrder_.clear();
  selectionOrder_.shrink_to_fit();
  selectionOrderValid_ = true;
}

// Recognises the file kind by its extension; a shape file's header decides.
bool Layer::Open() {
  if (fileKind_ == kFileKindUnknown) {
    if (EqualsIgnoringCase(extension_, "shp")) {
      fileKind_ = kFileKindShape;
    }
  }
  loadError_ = Error{};
  if (fileKind_ != kFileKindShape) return false;
  if (reader_.CheckHeader(path_, coordSystemKind_, datum_, zone_, shapeKind_) &&
      reader_.CheckPlaceKnown(coordSystemKind_, zoneGiven_)) {
    return true;
  }
  loadError_ = reader_.GetError();
  return false;
}

// Reads the records once, then on every call the settings, values, legend and
// colours. On the first read the attribute table is read in a second thread
// while the shapes load (the two files take about as long), by the legend
// column and log fields the side files name; should reading the settings
// afterwards settle on others, the table is read again for them.
bool Layer::Load(bool keepRecords) {
  const bool first = !loaded_;
  std::future<RowScan> rows;
  int16_t scannedColumn = 0;
  LogFields scannedFields;
  if (first) {
    WaitCursor wait;
    if (!keepRecords) Clear();
    if (fileKind_ == kFileKindShape) {
      if (!basePath_.empty()) {
        // A look at the keys that writes and reports nothing: that is left
        // to the settings load after the records.
        IniFile file;
        file.Load(GetSettingsPath());
        LayerSettings peek = settings_;
        ApplySettingsKeys(file, peek);
        scannedColumn = peek.legendColumn;
        scannedFields = LoadLogFields(GetSettingsPath(), GetTablePath());
        rows = std::async(std::launch::async, ScanRows, GetTablePath(), scannedColumn, scannedFields, cancel_);
      }
      loading_ = true;
      loadedSinceReport_ = 0;
      loadPercent_ = 0;
      reader_.SetProgressHandler([this](uint64_t bytesRead, uint64_t bytesTotal) {
        loadPercent_ = bytesTotal > 0 ? static_cast<int>(bytesRead * 100 / bytesTotal) : 100;
        loadedSinceReport_ = 0;
        emit loadProgress(static_cast<qint64>(records_.size()), loadPercent_);
        return !Cancelled();
      });
      reader_.LoadRecords(*this, coordSystemKind_, datum_, zone_);
      reader_.SetProgressHandler(nullptr);
      loading_ = false;
      emit loadProgress(static_cast<qint64>(records_.size()), 100);
    }
    SetModified(false);
  }
  // The pass is over before anything else opens the table (each open takes
  // the table's lock).
  const bool scannedRows = rows.valid();
  const RowScan scanned = scannedRows ? rows.get() : RowScan{};
  // A cancelled load stops before the settings load, the first step that may
  // write beside the file.
  if (Cancelled()) return false;
  LoadSettings();
  loaded_ = true;
  if (scannedRows) {
    if (settings_.legendColumn == scannedColumn && logFields_ == scannedFields) {
      ComputeValues(scanned);
    } else {
      ComputeValues();
    }
  } else {
    ComputeValues();
  }
  // A legend file applies only to the field it was made for.
  if (!basePath_.empty() && LegendFileFitsColumn()) {
    Error notice;
    if (!legend_.LoadFile(GetLegendPath(), &notice) && notice) loadNotices_.push_back(std::move(notice));
  }
  ApplyColors();
  EnsureIndex();
  return true;
}

// The display settings from the settings file (or the rules alone without a
// file) and the log fields of the table.
void Layer::LoadSettings() {
  const double defaultSize = GetPreferences().GetDefaultDisplaySize(false);
  if (!basePath_.empty()) {
    LoadLayerSettings(GetSettingsPath(), settings_, defaultSize);
  } else {
    // No file, no settings file: the same rules on what is in memory.
    if (settings_.legendColumn <= 0) settings_.colorMethod = kColorMethodSolid;
    if (!(settings_.displaySizeFt >= 1.0)) settings_.displaySizeFt = defaultSize;
  }
  logFields_ = basePath_.empty() ? LogFields{} : LoadLogFields(GetSettingsPath(), GetTablePath());
}

// Writes the legend when the legend dialog changed it, and the categories
// when they differ from their file; false, with the error, when that failed.
bool Layer::SaveLegend(Error* error) {
  // A layer coloured by a text field has no numeric legend to keep.
  if (!categorised_ && legend_.IsChanged() && !basePath_.empty()) {
    if (!legend_.SaveFile(GetLegendPath(), error)) return false;
    WriteSetting(kKeyLegendField, LegendColumnName());
  }
  if (categorised_ && categories_.IsChanged() && !basePath_.empty()) {
    if (!categories_.SaveFile(GetCategoryPath(), error)) return false;
    categories_.SetChanged(false);
  }
  return true;
}

// The name of the legend column's field; empty without one.
std::string Layer::LegendColumnName() const {
  std::string name;
  if (settings_.legendColumn > 0) {
    DbfTable table;
    if (table.Open(GetTablePath())) table.GetFieldName(settings_.legendColumn, name);
  }
  return name;
}

// Whether the legend file was made for the legend column's field: a settings
// file that names no field (one written before the name was kept) says yes.
bool Layer::LegendFileFitsColumn() const {
  const std::string made = ReadSettingText(GetSettingsPath(), kKeyLegendField);
  return made.empty() || made == LegendColumnName();
}

// Drops the records and forgets the file.
bool Layer::Close() {
  Clear();
  SetPathName(std::string());
  return true;
}

// ---------------------------------------------------------------- paths

// Stores the path and caches its base path, file name and extension.
void Layer::SetPathName(const std::string& path) {
  path_ = path;
  fileName_ = FileNameOf(path);
  basePath_ = BasePathOf(path);
  extension_ = ExtensionOf(path);
}

// The attribute table beside the file, whatever the case of its extension.
std::string Layer::GetTablePath() const {
  return SideFilePath(basePath_, "dbf");
}

// The legend file beside the shape file.
std::string Layer::GetLegendPath() const { return SideFilePath(basePath_, "lgd"); }

// The display settings file beside the shape file.
std::string Layer::GetSettingsPath() const { return SideFilePath(basePath_, "gpe"); }

// The notes file beside the shape file.
std::string Layer::GetNotesPath() const { return SideFilePath(basePath_, "txt"); }

// The categories file beside the shape file.
std::string Layer::GetCategoryPath() const { return SideFilePath(basePath_, "lgc"); }

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

// ---------------------------------------------------------------- display state

// Stores a symbol size or line width (metres when metric) and writes "DISPLAY_SIZE".
void Layer::SetDisplaySize(double value, bool metric) {
  kestrune::SetDisplaySize(settings_, value, metric);
  WriteKey(SettingKey::DisplaySize);
}

// Stores the border choice and writes "DRAW_BORDER".
void Layer::SetDrawBorder(bool on) {
  settings_.drawBorder = on;
  WriteKey(SettingKey::DrawBorder);
}

// Stores the fill opacity (kept within 0 to 100) and writes "FILL_OPACITY".
void Layer::SetFillOpacity(int percent) {
  settings_.fillOpacity = ClampFillOpacity(percent);
  WriteKey(SettingKey::FillOpacity);
}

// Stores the colour method and writes "COLOR_METHOD".
void Layer::SetColorMethod(int method) {
  settings_.colorMethod = method;
  WriteKey(SettingKey::ColorMethod);
}

// Stores the solid colour and writes "SOLID_COLOR".
void Layer::SetSolidColor(Color color) {
  settings_.solidColor = color;
  WriteKey(SettingKey::SolidColor);
}

// Stores the legend column and writes "LEGEND_COL".
void Layer::SetLegendColumn(int16_t column) {
  settings_.legendColumn = column;
  categoriesChosen_ = true;
  WriteKey(SettingKey::LegendColumn);
}

// A layer without a file has no settings file: nothing is read or written
// (a relative ".gpe" in the current folder is no file of the layer's).
bool Layer::ReadSetting(const std::string& key, int32_t& value) const {
  if (basePath_.empty()) {
    value = 0;
    return false;
  }
  return kestrune::ReadSetting(GetSettingsPath(), key, value);
}

// Writes key = value into the settings file.
void Layer::WriteSetting(const std::string& key, const std::string& value) const {
  if (!basePath_.empty()) kestrune::WriteSetting(GetSettingsPath(), key, value);
}

// Writes key = a decimal number into the settings file.
void Layer::WriteIntSetting(const std::string& key, int32_t value) const {
  if (!basePath_.empty()) kestrune::WriteIntSetting(GetSettingsPath(), key, value);
}

// Writes one display setting's key from the layer's state.
void Layer::WriteKey(SettingKey key) const {
  if (!basePath_.empty()) WriteLayerSetting(GetSettingsPath(), settings_, key);
}

// ---------------------------------------------------------------- colours

// Reads each record's value of the legend column (in list order) and rebuilds the legend from their range.
void Layer::ComputeValues() {
  if (!loaded_) return;
  WaitCursor wait;
  ComputeValues(ScanRows(GetTablePath(), settings_.legendColumn, logFields_));
}

// The values, the legend's range, then the log fields' flags and summary.
void Layer::ComputeValues(const RowScan& rows) {
  WaitCursor wait;
  if (!loaded_) return;
  const int16_t column = settings_.legendColumn;
  // Without a column nothing is read, so the table need not be opened. A table
  // that cannot be read is told, rather than every value silently showing 0.
  if (column > 0 && !rows.opened) ReportUnreadableTable(rows);
  categorised_ = false;
  if (column > 0 && rows.textColumn) {
    DbfTable table;
    if (table.Open(GetTablePath())) ComputeCategories(table, column);
    ApplyLogValues(*this, rows);
    return;
  }
  double value = 0.0;
  double max = kValueMaxStart;
  double min = kValueMinStart;
  records_.ForEach([&](Shape* shape) {
    // A record without a readable attribute row has no value.
    const int row = shape->GetRecordNumber();
    if (column > 0) {
      value = row >= 1 && static_cast<size_t>(row) <= rows.values.size() ? rows.values[static_cast<size_t>(row) - 1]
                                                                        : kNoValue;
    }
    shape->SetValue(value);
    if (value > max) max = value;
    if (value < min) min = value;
  });
  if (column > 0) legend_.BuildAutomatic(max, min);
  // The filter flags and the summary come from the log fields.
  ApplyLogValues(*this, rows);
}

// Categories in the order their values first appear in the table; each
// record's value is its category's index.
void Layer::ComputeCategories(DbfTable& table, int column) {
  categorised_ = true;
  CategoryLegend fresh;
  fresh.Begin(table.GetField(column)->name);
  const int rows = table.GetRecordCount();
  std::vector<int> categoryOfRow(static_cast<size_t>(rows) + 1, -1);
  std::string text;
  for (int row = 1; row <= rows; ++row) {
    if (table.ReadRecord(row) && table.GetString(column, text)) categoryOfRow[static_cast<size_t>(row)] = fresh.IndexOf(text);
  }
  table.Close();
  CategoryLegend stored;
  if (!basePath_.empty() && stored.LoadFile(GetCategoryPath())) fresh.ApplyStored(stored);
  fresh.SetChanged(categoriesChosen_ && fresh.SaveBytes() != stored.SaveBytes());
  categories_ = std::move(fresh);
  for (Shape* shape : records_) {
    const int r = shape->GetRecordNumber();
    // A record without an attribute row has no value, as under a numeric legend.
    shape->SetValue(r >= 1 && r <= rows ? categoryOfRow[static_cast<size_t>(r)] : kNoValue);
  }
}

// The category text of a record of a categorised layer.
std::string Layer::GetCategoryOf(const Shape& shape) const {
  return categorised_ && shape.HasValue() ? categories_.ValueOf(static_cast<int>(shape.GetValue())) : std::string();
}

// The legend colour of the record's value, or the solid colour.
Color Layer::ColorFor(const Shape& shape) const {
  if (settings_.colorMethod != kColorMethodSolid && settings_.legendColumn != kNoLegendColumn) {
    if (categorised_) return shape.HasValue() ? categories_.ColorOf(static_cast<int>(shape.GetValue())) : kNeutralColor;
    return shape.HasValue() ? GetValueColor(shape.GetValue()) : kNeutralColor;
  }
  return settings_.solidColor;
}

// Gives every record its colour by the layer's method.
void Layer::ApplyColors() {
  for (Shape* shape : records_) shape->SetColor(ColorFor(*shape));
}

// Colours by another field: writes the keys, recomputes, recolours and repaints.
void Layer::SetThemeField(int16_t field) {
  if (field < 1 || field == settings_.legendColumn) return;
  SetLegendColumn(field);
  SetColorMethod(kColorMethodLegend);
  ComputeValues();
  // The legend of the new field is written on close, so the next open shows it.
  legend_.SetChanged(true);
  ApplyColors();
  RequestRepaint();
}

// ---------------------------------------------------------------- drawing

// Point symbols of the normal pass are collected and handed to the canvas
// together; anything else draws itself. A batch gives the same calls, in the
// same order, as each symbol drawing itself would. Without a shadow pass
// before it, the normal pass also decides each record's visibility.
void Layer::DrawPass(const PixelMapper& mapper, const CMapTransform& transform, Canvas& dc, DrawPassKind pass,
                     bool indexed) {
  const bool normal = pass != DrawPassKind::Shadows;
  const bool setVisibility = pass == DrawPassKind::NormalDecidingVisibility;
  std::vector<DeviceRect>& rects = batchRects_;
  std::vector<Color>& fills = batchFills_;
  rects.clear();
  fills.clear();
  // Whether the batch's symbols are outlined; symbols too small for an
  // outline go in batches of their own, so the order stays that of the list.
  bool outlined = settings_.drawBorder;
  const auto flush = [&]() {
    if (rects.empty()) return;
    const Pen old = dc.GetPen();
    dc.SetPen(outlined ? BlackPen() : NullPen());
    dc.SolidRectangles(rects.data(), fills.data(), static_cast<int>(rects.size()));
    dc.SetPen(old);
    rects.clear();
    fills.clear();
  };
  const bool batching = normal && mapper.Usable();
  ForEachDrawn(indexed, [&](Shape* shape) {
    if (batching && shape->GetRecordClass() == kRecordPoint && shape->GetOwner() == this) {
      auto* point = static_cast<PointShape*>(shape);
      // Selected and shadowed symbols use other brushes; they draw themselves.
      if (!point->IsSelected() && !point->IsFilteredOut()) {
        const bool geometry = point->HasGeometry();
        // The symbol is drawn one map unit outside its bounds, as the record does.
        const MapRect b = point->GetBounds();
        const DeviceRect box =
            geometry ? mapper.RectangleBox(Clamp32(int64_t{b.left} - 1), Clamp32(int64_t{b.top} - 1),
                                           Clamp32(int64_t{b.right} + 1), Clamp32(int64_t{b.bottom} + 1))
                     : DeviceRect{};
        if (setVisibility) {
          // The drawing box settles most symbols' visibility without converting the bounds too.
          const bool visible = (geometry && mapper.BoxShowsWholeBounds(box)) || mapper.IsRectVisible(dc, b);
          // Written only when it changes: a million records stay clean in the cache.
          if (point->IsVisible() != visible) point->SetVisible(visible);
        }
        if (!geometry || !point->IsVisible()) return;
        labelled_ = labelled_ || point->HasLabel();
        const bool keep = settings_.drawBorder && SymbolKeepsOutline(box);
        if (settings_.drawBorder && keep != outlined) {
          flush();
          outlined = keep;
        }
        rects.push_back(keep || !settings_.drawBorder ? box : UnoutlinedSymbolRect(box));
        fills.push_back(point->GetColor());
        if (rects.size() >= kBatchSize) flush();
        return;
      }
    }
    if (setVisibility) shape->SetVisible(mapper.IsRectVisible(dc, shape->GetHitBounds()));
    if (!shape->IsVisible()) return;
    labelled_ = labelled_ || shape->HasLabel();
    if (normal ? (shape->IsSelected() || shape->IsFilteredOut()) : !shape->IsFilteredOut()) return;
    flush();
    shape->Draw(transform, dc);
  });
  flush();
}

// The index's candidates in list order, or every record.
template <class F>
void Layer::ForEachDrawn(bool indexed, F f) {
  if (indexed) {
    SpatialIndex::ForEachSet(drawn_, [&](uint32_t position) { f(index_.At(position)); });
  } else {
    records_.ForEach(f);
  }
}

// Draws the visible records in passes: shadows, normal, selected on top, labels.
void Layer::Draw(const CMapTransform& transform, Canvas& dc) {
  Shape::PrepareView(transform);
  PixelMapper mapper(transform);
  DeviceRect area;
  const bool plain = dc.GetPlainVisibleArea(area);
  if (plain) mapper.SetPlainArea(area);
  labelled_ = false;
  // Records the index leaves out are not visible: they are skipped, their
  // visible flags cleared.
  const bool indexed = mapper.Usable() && MarkDrawn(transform, plain ? &area : nullptr);
  // The walk may leave any record visible.
  if (!indexed && index_.IsBuilt()) SetAllBits(maybeVisible_, index_.size());
  if ((filterMask_ & kFilterShowShadows) && anyFilteredOut_) {
    ForEachDrawn(indexed, [&](Shape* shape) { shape->SetVisible(mapper.IsRectVisible(dc, shape->GetHitBounds())); });
    DrawPass(mapper, transform, dc, DrawPassKind::Shadows, indexed);
    DrawPass(mapper, transform, dc, DrawPassKind::Normal, indexed);
  } else {
    // Without shadows the visibility is decided on the way, in one pass.
    DrawPass(mapper, transform, dc, DrawPassKind::NormalDecidingVisibility, indexed);
  }
  const std::vector<Shape*>& selected = GetSelectionDrawOrder();
  DrawSelected(mapper, transform, dc, selected.data(), selected.size(), true);
  // Only records with a label draw one; when no visible record has one
  // (the passes above saw them all) the pass is skipped.
  if (labelled_) {
    ForEachDrawn(indexed, [&](Shape* shape) {
      if (shape->IsVisible() && shape->HasLabel()) shape->DrawLabel(transform, dc);
    });
  }
  batchRects_ = {};
  batchFills_ = {};
}

// Draws the given records as they are (selected ones hatched) for the immediate drawing of a selection.
void Layer::DrawRecords(const CMapTransform& transform, Canvas& dc, Shape* const* records, size_t count) {
  Shape::PrepareView(transform);
  DrawSelected(PixelMapper(transform), transform, dc, records, count, false);
}

// Selected point symbols of the layer's own go to the canvas in batches of
// hatched rectangles, split where the outline changes; anything else draws
// itself. The calls and their order are those of each record drawing itself.
void Layer::DrawSelected(const PixelMapper& mapper, const CMapTransform& transform, Canvas& dc,
                         Shape* const* records, size_t count, bool visibleOnly) {
  std::vector<DeviceRect>& rects = batchRects_;
  rects.clear();
  bool outlined = settings_.drawBorder;
  const auto flush = [&]() {
    if (rects.empty()) return;
    const Pen old = dc.GetPen();
    dc.SetPen(outlined ? BlackPen() : NullPen());
    dc.HatchedRectangles(rects.data(), static_cast<int>(rects.size()));
    dc.SetPen(old);
    rects.clear();
  };
  for (size_t i = 0; i < count; ++i) {
    Shape* shape = records[i];
    if (!shape || (visibleOnly && !shape->IsVisible())) continue;
    if (mapper.Usable() && shape->IsSelected() && shape->GetRecordClass() == kRecordPoint &&
        shape->GetOwner() == this) {
      auto* point = static_cast<PointShape*>(shape);
      if (!point->HasGeometry()) continue;
      const MapRect b = point->GetBounds();
      const DeviceRect box = mapper.RectangleBox(Clamp32(int64_t{b.left} - 1), Clamp32(int64_t{b.top} - 1),
                                                 Clamp32(int64_t{b.right} + 1), Clamp32(int64_t{b.bottom} + 1));
      const bool keep = settings_.drawBorder && SymbolKeepsOutline(box);
      if (settings_.drawBorder && keep != outlined) {
        flush();
        outlined = keep;
      }
      rects.push_back(keep || !settings_.drawBorder ? box : UnoutlinedSymbolRect(box));
      if (rects.size() >= kBatchSize) flush();
      continue;
    }
    flush();
    shape->Draw(transform, dc);
  }
  flush();
  batchRects_ = {};
}

// The union of the records' hit bounds; right and bottom start from 0. Kept
// from the walk that builds the index, for as long as the records and the
// display size stay as they were.
MapRect Layer::GetBounds() const {
  if (index_.IsBuilt() && boundsKept_ && boundsSizeFt_ == settings_.displaySizeFt) return bounds_;
  MapRect bounds = kEmptyBounds;
  for (Shape* shape : records_) Unite(bounds, shape->GetHitBounds());
  if (index_.IsBuilt()) {
    bounds_ = bounds;
    boundsSizeFt_ = settings_.displaySizeFt;
    boundsKept_ = true;
  }
  return bounds;
}

// ---------------------------------------------------------------- selection

// Marks one of the layer's records selected and keeps it in the selection.
bool Layer::AddToSelection(Shape* shape) {
  // Only the layer's own records: it destroys what it removes from the selection.
  if (!shape || shape->GetOwner() != this || shape->IsSelected()) return false;
  selection_.push_back(shape);
  shape->SetSelected(true);
  selectionOrderValid_ = false;
  return true;
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
  if (selection_.empty()) return;
  MapRect rect{std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max(),
               -std::numeric_limits<int32_t>::max(), -std::numeric_limits<int32_t>::max()};
  for (Shape* shape : selection_) {
    shape->SetSelected(false);
    Unite(rect, shape->GetHitBounds());
  }
  RequestRepaint(rect);
  selection_.clear();
  selectionOrder_.clear();
  selectionOrderValid_ = true;
  NotifySelectionChanged();
}

// The selection in drawing order, worked out again only after a change.
const std::vector<Shape*>& Layer::GetSelectionDrawOrder() const {
  if (!selectionOrderValid_) {
    selectionOrder_ = OrderedInsertOrder(selection_);
    selectionOrderValid_ = true;
  }
  return selectionOrder_;
}

// The records a selection rectangle (or a click) takes.
std::vector<Shape*> Layer::FindInRect(const MapRect& rect) {
  std::vector<Shape*> found;
  if (rect.left == rect.right && rect.top == rect.bottom) {
    if (Shape* hit = HitTestPoint({rect.left, rect.top})) found.push_back(hit);
    return found;
  }
  const auto consider = [&](Shape* shape) {
    // A record the filter hides cannot be selected.
    if (shape->IsFilteredOut()) return;
    const MapRect b = shape->GetHitBounds();
    if (b.left <= b.right && b.left >= rect.left && b.right <= rect.right && b.top >= rect.top &&
        b.bottom <= rect.bottom) {
      found.push_back(shape);
    }
  };
  if (!EnsureIndex()) {
    for (Shape* shape : records_) consider(shape);
    return found;
  }
  // A record's hit bounds inside the rectangle hold its point; the points of
  // cells deep enough inside are taken without a look at their bounds.
  size_t low = 0, high = 0;
  size_t marked = 0;
  index_.MarkSparse(rect, 0, found_, sure_, PointMargin(), low, high, &marked);
  found.reserve(marked);
  for (size_t w = low; w <= high && w < found_.size(); ++w) {
    const uint64_t sure = sure_[w];
    uint64_t word = found_[w] | sure;
    if (!anyFilteredOut_ && word == sure) {
      // Only records taken unread: a log's passes give long runs of them.
      if (sure == ~uint64_t{0}) {
        index_.AppendRecords(w * 64, 64, found);
      } else if (sure != 0) {
        index_.AppendMarked(w, sure, found);
      }
      word = 0;
    }
    while (word != 0) {
      const int bit = __builtin_ctzll(word);
      Shape* shape = index_.At(w * 64 + static_cast<size_t>(bit));
      if ((sure >> bit) & 1) {
        // Without hidden records a sure record is taken unread.
        if (!anyFilteredOut_ || !shape->IsFilteredOut()) found.push_back(shape);
      } else {
        consider(shape);
      }
      word &= word - 1;
    }
    // Left clear for the next rectangle.
    found_[w] = 0;
    sure_[w] = 0;
  }
  return found;
}

// The best record under a map point.
Shape* Layer::HitTestPoint(const MapPoint& point) {
  Shape* best = nullptr;
  double bestDistance = kNoHit;
  int bestClass = 0;
  const auto consider = [&](Shape* shape) {
    if (shape->IsFilteredOut()) return;
    const double d = shape->HitDistance(point);
    if (!(d < kNoHit)) return;
    const int c = shape->GetRecordClass();
    bool wins = false;
    if (c == bestClass) {
      wins = d <= bestDistance;
    } else if (c == kRecordPoint) {
      wins = true;
    } else if (c == kRecordLine) {
      wins = bestClass != kRecordPoint;
    } else {
      wins = bestClass == 0;
    }
    if (wins) {
      best = shape;
      bestDistance = d;
      bestClass = c;
    }
  };
  if (EnsureIndex()) {
    // A point is hit only on its symbol; every other record is looked at.
    index_.Collect({point.x, point.y, point.x, point.y}, PointMargin(), positions_);
    for (uint32_t position : positions_) consider(index_.At(position));
  } else {
    for (Shape* shape : records_) consider(shape);
  }
  return best;
}

// ---------------------------------------------------------------- selection commands

// Removed in one pass over the records (one search per record would be
// quadratic), and the map repaints where they were: once they are gone the
// selection is empty and clearing it would repaint nothing.
bool Layer::RemoveSelectedRecords() {
  if (selection_.empty()) return false;
  MapRect rect{std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max(),
               -std::numeric_limits<int32_t>::max(), -std::numeric_limits<int32_t>::max()};
  std::vector<Shape*> doomed;
  doomed.swap(selection_);
  for (Shape* shape : doomed) Unite(rect, shape->GetHitBounds());
  records_.RemoveIf([](const Shape* shape) { return shape->IsSelected(); });
  DropIndex();
  for (Shape* shape : doomed) delete shape;
  selectionOrder_.clear();
  selectionOrderValid_ = true;
  SetModified(true);
  RequestRepaint(rect);
  NotifySelectionChanged();
  return true;
}

// Reads the one selected record's value again (one record number, which may
// be several parcels) and recolours it.
bool Layer::RereadSelectedRecord() {
  if (!IsOneRecordSelected()) return false;
  Shape* shape = selection_.front();
  double value = shape->GetValue();
  if (settings_.legendColumn != kNoLegendColumn) {
    DbfTable table;
    table.Open(GetTablePath());
    std::string text;
    if (!table.ReadRecord(shape->GetRecordNumber())) {
      value = kNoValue;
    } else if (categorised_) {
      // An edited text may be a new category, listed after the others.
      value = -1;
      if (table.GetString(settings_.legendColumn, text)) {
        const size_t before = categories_.GetCount();
        value = categories_.IndexOf(text);
        if (categories_.GetCount() != before) categories_.SetChanged(true);
      }
    } else {
      value = ReadNumber(table, settings_.legendColumn);
    }
    table.Close();
  }
  for (Shape* part : selection_) {
    if (settings_.legendColumn != kNoLegendColumn) part->SetValue(value);
    part->SetColor(ColorFor(*part));
    // The new colour shows at once rather than at the next repaint.
    RequestRepaint(part->GetHitBounds());
  }
  return true;
}

// Whether the selection is the parts of one record number.
bool Layer::IsOneRecordSelected() const {
  if (selection_.empty()) return false;
  const int number = selection_.front()->GetRecordNumber();
  return std::all_of(selection_.begin(), selection_.end(),
                     [number](const Shape* shape) { return shape->GetRecordNumber() == number; });
}

// ---------------------------------------------------------------- filter

// Marks every record whose flags the mask does not cover as filtered out, and
// unselects those.
void Layer::ApplyFilter() {
  const uint32_t mask = static_cast<uint32_t>(filterMask_);
  anyFilteredOut_ = false;
  filterApplied_ = true;
  for (Shape* shape : records_) {
    const uint32_t flags = shape->GetFilterFlags();
    const bool out = (mask & flags) != flags;
    shape->SetFilteredOut(out);
    anyFilteredOut_ = anyFilteredOut_ || out;
  }
  // A hidden record cannot stay selected.
  if (anyFilteredOut_ && !selection_.empty()) {
    std::vector<Shape*> kept;
    for (Shape* shape : selection_) {
      if (shape->IsFilteredOut()) {
        shape->SetSelected(false);
      } else {
        kept.push_back(shape);
      }
    }
    if (kept.size() != selection_.size()) {
      selection_.swap(kept);
      selectionOrderValid_ = false;
    }
  }
}

// Counts the filtered-out records, only when the filter left any.
size_t Layer::CountFilteredOut() const {
  if (!anyFilteredOut_) return 0;
  size_t n = 0;
  for (const Shape* shape : records_) n += shape->IsFilteredOut() ? 1 : 0;
  return n;
}

// Stores and writes the log fields; flags, summary and filter follow.
bool Layer::SetLogFields(const LogFields& fields) {
  logFields_ = fields;
  const bool written = basePath_.empty() || WriteLogFieldKeys(GetSettingsPath(), logFields_);
  ComputeLogValues(*this);
  if (filterApplied_) ApplyFilter();
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
  DropIndex();
  if (loading_ && ++loadedSinceReport_ >= kProgressInterval) {
    loadedSinceReport_ = 0;
    emit loadProgress(static_cast<qint64>(records_.size()), loadPercent_);
  }
}

// Unlinks a record from the records and the selection and destroys it.
void Layer::RemoveRecord(Shape* shape) {
  if (!shape) return;
  const bool listed = records_.Remove(shape);
  if (listed) DropIndex();
  auto it = std::find(selection_.begin(), selection_.end(), shape);
  if (it != selection_.end()) {
    selection_.erase(it);
    selectionOrderValid_ = false;
    NotifySelectionChanged();
  }
  // A record the layer does not hold is not the layer's to destroy.
  if (!listed) return;
  delete shape;
  SetModified(true);
}

// ---------------------------------------------------------------- spatial index

// Switches between the index and the walk of every record.
void Layer::SetSpatialIndexUsed(bool used) { useIndex_ = used; }

// Indexes the records once they are all in, and after each change of the list.
bool Layer::EnsureIndex() {
  if (!useIndex_ || loading_) return false;
  if (!index_.IsBuilt()) {
    index_.Build(records_);
    // Every record starts visible.
    SetAllBits(maybeVisible_, index_.size());
    boundsKept_ = false;
    GetBounds();
  }
  return true;
}

// Forgets the index (cheap when there is none).
void Layer::DropIndex() {
  if (!index_.IsBuilt()) return;
  index_.Clear();
  boundsKept_ = false;
  maybeVisible_ = {};
  drawn_ = {};
  sure_ = {};
  found_ = {};
}

// Half the symbol size in map units at the steepest scale of any point, two units more.
int64_t Layer::PointMargin() const {
  double half = settings_.displaySizeFt * index_.GetMaxUnitsPerFoot() * 0.5;
  if (!(half > 0.0)) half = 0.0;
  return static_cast<int64_t>(std::ceil(std::min(half, 1.0e9))) + 2;
}

// The view's pixels (two more on every side) in map units, widened by the
// point margin, give the grid cells to draw.
bool Layer::MarkDrawn(const CMapTransform& transform, const DeviceRect* area) {
  if (!EnsureIndex()) return false;
  int32_t ox = 0, oy = 0, cx = 0, cy = 0, ww = 0, wh = 0;
  transform.GetDeviceOrigin(ox, oy);
  transform.GetDeviceExtent(cx, cy);
  transform.GetWorldExtent(ww, wh);
  if (cx == 0 || cy == 0 || ww == 0 || wh == 0) return false;
  int64_t left = std::min<int64_t>(ox, int64_t{ox} + cx), right = std::max<int64_t>(ox, int64_t{ox} + cx);
  int64_t top = std::min<int64_t>(oy, int64_t{oy} + cy), bottom = std::max<int64_t>(oy, int64_t{oy} + cy);
  // Visibility clamps pixels to 10000: beyond it a record far off could still count as shown.
  constexpr int64_t kClampSafe = 9000;
  if (left < -kClampSafe || top < -kClampSafe || right > kClampSafe || bottom > kClampSafe) return false;
  if (area) {
    left = std::max<int64_t>(left, std::min(area->left, area->right));
    right = std::min<int64_t>(right, std::max(area->left, area->right));
    top = std::max<int64_t>(top, std::min(area->top, area->bottom));
    bottom = std::min<int64_t>(bottom, std::max(area->top, area->bottom));
  }
  const MapPoint origin = transform.GetWorldOrigin();
  const auto worldX = [&](int64_t px) {
    return static_cast<double>(px - ox) * ww / cx + origin.x;
  };
  const auto worldY = [&](int64_t py) {
    return static_cast<double>(py - oy) * wh / cy + origin.y;
  };
  const double x0 = worldX(left - 2), x1 = worldX(right + 2), y0 = worldY(top - 2), y1 = worldY(bottom + 2);
  const auto clamp = [](double v) {
    return static_cast<int32_t>(std::clamp(v, -2147483648.0, 2147483647.0));
  };
  const MapRect view{clamp(std::floor(std::min(x0, x1))), clamp(std::floor(std::min(y0, y1))),
                     clamp(std::ceil(std::max(x0, x1))), clamp(std::ceil(std::max(y0, y1)))};
  index_.Mark(view, PointMargin(), drawn_);
  // Records left visible last time and not candidates now are not visible.
  for (size_t w = 0; w < drawn_.size(); ++w) {
    uint64_t stale = maybeVisible_[w] & ~drawn_[w];
    while (stale != 0) {
      index_.At(w * 64 + static_cast<size_t>(__builtin_ctzll(stale)))->SetVisible(false);
      stale &= stale - 1;
    }
  }
  maybeVisible_ = drawn_;
  return true;
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
