#include "layers/LayerList.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <new>
#include <set>
#include <system_error>

#include "base/Edition.h"
#include "base/Paths.h"
#include "base/Platform.h"
#include "base/SafeFile.h"
#include "base/SideFileWrites.h"
#include "geo/CMapTransform.h"
#include "geo/Canvas.h"
#include "lang/FileErrorText.h"
#include "lang/LangString.h"

namespace kestrune {

namespace {

// Whether anything exists at the path.
bool FileExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::exists(std::filesystem::path(path), ec);
}

// A figure as "%.2f" writes it.
std::string FormatTwoDecimals(double value) {
  char text[512];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

}  // namespace

// An empty list.
LayerList::LayerList() = default;

// Removes every layer.
LayerList::~LayerList() { RemoveAll(); }

// Opens and loads a file as a new layer and links it in.
Layer* LayerList::AddLayer(const std::string& path, bool mustExist, bool atTail, std::vector<Error>* errors) {
  const bool exists = FileExists(path);
  if (mustExist && !exists) return nullptr;
  auto* layer = new Layer();
  layer->SetPathName(path);
  const auto tell = [errors](Error error) {
    if (error && errors) errors->push_back(std::move(error));
  };
  if (exists) {
    if (!layer->Open()) {
      tell(layer->GetLoadError());
      delete layer;
      return nullptr;
    }
    if (!layer->Load(false)) {
      tell(layer->GetLoadError());
      delete layer;
      return nullptr;
    }
    for (Error& notice : layer->TakeLoadNotices()) tell(std::move(notice));
  }
  return Adopt(layer, atTail);
}

// Links a loaded layer in and passes its signals on.
Layer* LayerList::Adopt(Layer* layer, bool atTail) {
  if (!layer) return nullptr;
  if (atTail) {
    layers_.push_back(layer);
  } else {
    layers_.insert(layers_.begin(), layer);
  }
  connect(layer, &Layer::recordsSelected, this,
          [this, layer](const std::vector<Shape*>& records) { emit recordsSelected(layer, records); });
  connect(layer, &Layer::selectionChanged, this, [this, layer] { emit selectionChanged(layer); });
  connect(layer, &Layer::repaintRequested, this, &LayerList::repaintRequested);
  emit layersChanged();
  return layer;
}

// Saves a changed legend, closes the layer and, when asked, unlinks and destroys it.
void LayerList::RemoveLayer(Layer* layer, bool unlinkAndDelete, Error* error) {
  if (!layer) return;
  layer->SaveLegend(error);
  layer->Close();
  if (!unlinkAndDelete) return;
  auto it = std::find(layers_.begin(), layers_.end(), layer);
  if (it != layers_.end()) {
    layers_.erase(it);
  }
  if (active_ == layer) active_ = nullptr;
  delete layer;
  emit layersChanged();
}

// Removes and destroys every layer, keeping each failed legend save's error.
void LayerList::RemoveAll(std::vector<Error>* errors) {
  // Taken out of the list first, so nothing reached during the removals
  // (a repaint, say) finds a layer half destroyed.
  std::vector<Layer*> layers;
  layers.swap(layers_);
  active_ = nullptr;
  for (Layer* layer : layers) {
    Error error;
    RemoveLayer(layer, false, &error);
    if (error && errors) errors->push_back(std::move(error));
    delete layer;
  }
  if (!layers.empty()) emit layersChanged();
}

// Draws every layer from the tail, so the newest lies on top.
void LayerList::DrawAll(Canvas& dc, const CMapTransform& transform) {
  for (auto it = layers_.rbegin(); it != layers_.rend(); ++it) {
    if (!(*it)->IsHidden()) (*it)->Draw(transform, dc);
  }
}

// A permutation of the layers becomes their order.
bool LayerList::SetOrder(const std::vector<Layer*>& order) {
  if (order.size() != layers_.size()) return false;
  std::vector<Layer*> sortedOld = layers_;
  std::vector<Layer*> sortedNew = order;
  std::sort(sortedOld.begin(), sortedOld.end());
  std::sort(sortedNew.begin(), sortedNew.end());
  if (sortedOld != sortedNew) return false;
  layers_ = order;
  emit layersChanged();
  return true;
}

// The union of the layers' bounds.
MapRect LayerList::GetBounds() const {
  MapRect bounds = kEmptyBounds;
  for (const Layer* layer : layers_) {
    const MapRect b = layer->GetBounds();
    bounds.left = std::min(bounds.left, b.left);
    bounds.top = std::min(bounds.top, b.top);
    bounds.right = std::max(bounds.right, b.right);
    bounds.bottom = std::max(bounds.bottom, b.bottom);
  }
  return bounds;
}

// The non-empty notes of every layer, newest first.
std::string LayerList::GatherNotes() const {
  std::string all;
  for (const Layer* layer : layers_) {
    std::string notes, refusal;
    // Notes that are refused (too large, unreadable) are told, not printed.
    if (!LoadNotes(*layer, notes, &refusal) && !refusal.empty()) ShowStatus(refusal);
    if (notes.empty()) continue;
    if (!all.empty()) all += kNotesSeparator;
    all += notes;
  }
  return all;
}

// The layers' names without extensions, newest first.
const std::string& LayerList::GetNamesText() {
  namesText_.clear();
  for (const Layer* layer : layers_) {
    if (!namesText_.empty()) namesText_ += ", ";
    namesText_ += BasePathOf(layer->GetFileName());
  }
  return namesText_;
}

// Adds up field areas and volumes per product slot over the layers.
const FileSummary& LayerList::ComputeTotals() {
  totals_ = FileSummary{};
  for (const Layer* layer : layers_) {
    const FileSummary& s = layer->GetSummary();
    // A count outside the ten slots would read past the arrays.
    const int n = std::clamp(s.productCount, 0, kProductSlots);
    for (int i = 0; i < n; ++i) {
      totals_.fieldArea[static_cast<std::size_t>(i)] += s.fieldArea[static_cast<std::size_t>(i)];
      totals_.fieldVolume[static_cast<std::size_t>(i)] += s.fieldVolume[static_cast<std::size_t>(i)];
    }
    totals_.productCount = std::max(totals_.productCount, n);
    // The earliest date, and the span from the earliest start to the latest end.
    if (s.hasDate && (!totals_.hasDate || s.date < totals_.date)) {
      totals_.date = s.date;
      totals_.hasDate = true;
    }
    if (s.hasTimes) {
      const auto minutes = [](double hour, double minute) { return hour * 60.0 + minute; };
      if (!totals_.hasTimes || minutes(s.startHour, s.startMinute) < minutes(totals_.startHour, totals_.startMinute)) {
        totals_.startHour = s.startHour;
        totals_.startMinute = s.startMinute;
      }
      if (!totals_.hasTimes || minutes(s.endHour, s.endMinute) > minutes(totals_.endHour, totals_.endMinute)) {
        totals_.endHour = s.endHour;
        totals_.endMinute = s.endMinute;
      }
      totals_.hasTimes = true;
    }
  }
  return totals_;
}

// The totals of the head layer's product slot as the totals dialog shows them.
void LayerList::GetTotalsTexts(std::string& area, std::string& volume) {
  int slot = layers_.empty() ? 0 : layers_.front()->GetProductSlot();
  // The command is only offered for slots 0 to 9; anything else reads slot 0.
  if (slot < 0 || slot >= kProductSlots) slot = 0;
  ComputeTotals();
  area = FormatTwoDecimals(totals_.fieldArea[static_cast<std::size_t>(slot)]);
  volume = FormatTwoDecimals(totals_.fieldVolume[static_cast<std::size_t>(slot)]);
}

// Selects what a rectangle or click takes on a layer.
bool LayerList::SelectInRect(Layer* layer, const MapRect& rect, bool extend) {
  if (!layer || layer->IsHidden()) return false;
  std::vector<Shape*> found = layer->FindInRect(rect);
  // An area record of several parcels is selected whole: every parcel of its record number.
  std::set<int> numbers;
  for (const Shape* shape : found) {
    if (shape->GetRecordClass() == kRecordArea) numbers.insert(shape->GetRecordNumber());
  }
  if (!numbers.empty()) {
    const std::set<const Shape*> taken(found.begin(), found.end());
    for (Shape* shape : layer->Records()) {
      if (shape->GetRecordClass() == kRecordArea && numbers.count(shape->GetRecordNumber()) && !taken.count(shape)) {
        found.push_back(shape);
      }
    }
  }
  if (!extend) layer->ClearSelection();
  if (!found.empty()) layer->SelectRecords(found);
  return !found.empty();
}

// ---------------------------------------------------------------- notes

// Reads the whole notes file: a regular file of at most kMaxNotesFileBytes.
bool LoadNotes(const Layer& layer, std::string& text, std::string* refusal) {
  text.clear();
  if (refusal) refusal->clear();
  const std::string path = layer.GetNotesPath();
  std::string content;
  int error = 0;
  const SideFileStatus status = ReadSideFile(path, kMaxNotesFileBytes, content, SideFileLimit::Refuse, &error);
  if (status != SideFileStatus::Ok) {
    if (refusal) *refusal = SideFileRefusalText(path, status, kMaxNotesFileBytes, error);
    return false;
  }
  // The notes are text: they end at a zero byte.
  const std::size_t zero = content.find('\0');
  if (zero != std::string::npos) content.resize(zero);
  text.swap(content);
  return true;
}

// Replaces the notes file through the safe-write path, or gives the reason why not.
std::string NotesCaption() { return LangFormat(kMsgNotesCaptionFormat, EditionTitle().c_str()); }

bool SaveNotes(const Layer& layer, const std::string& text, Error* error) {
  FileWriteError failure;
  if (WriteSideFile(layer.GetNotesPath(), text, &failure)) return true;
  return Fail(error, FileWriteErrorOf(failure, NotesCaption(), std::string(kMsgCannotSaveNotes) + "\n\n"));
}

// ---------------------------------------------------------------- Show Me

// The Show Me dialog's starting choices for a mask.
ShowMeChoices ShowMeChoicesFromMask(int mask) {
  ShowMeChoices c;
  const auto choice = [mask](int first, int second) {
    if ((mask & first) && (mask & second)) return 2;
    if (mask & second) return 1;
    return 0;
  };
  c.boom = choice(kFilterBoomOn, kFilterBoomOff);
  c.rate = choice(kFilterRateAboveZero, kFilterRateZero);
  c.shadows = (mask & kFilterShowShadows) != 0;
  return c;
}

// The mask of the Show Me dialog's choices.
int ShowMeMaskFromChoices(const ShowMeChoices& choices) {
  int mask = 0;
  switch (choices.boom) {
    case 0: mask |= kFilterBoomOn; break;
    case 1: mask |= kFilterBoomOff; break;
    case 2: mask |= kFilterBoomOn | kFilterBoomOff; break;
    default: break;
  }
  switch (choices.rate) {
    case 0: mask |= kFilterRateAboveZero; break;
    case 1: mask |= kFilterRateZero; break;
    case 2: mask |= kFilterRateAboveZero | kFilterRateZero; break;
    default: break;
  }
  if (choices.shadows) mask |= kFilterShowShadows;
  return mask;
}

// Whether the totals apply to the layer.
bool CanShowTotals(const Layer* layer) {
  if (!layer) return false;
  const int slot = layer->GetProductSlot();
  return slot >= 0 && slot < kProductSlots && layer->IsFieldAreaKnown(slot) && layer->IsFieldVolumeKnown(slot);
}

}  // namespace kestrune
