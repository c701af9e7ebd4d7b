#include "layers/LayerList.h"

#include <QFile>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <new>
#include <system_error>

#include "base/Paths.h"
#include "base/Platform.h"
#include "geo/Canvas.h"
#include "geo/CMapTransform.h"

namespace kestrune {

namespace {

LayerList* g_layerList = nullptr;

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

// The process-wide list, once the main frame (or a tool) has set one.
LayerList* GetLayerList() { return g_layerList; }
// Makes a list the process-wide one (null for none).
void SetLayerList(LayerList* list) { g_layerList = list; }

// An empty list whose layers belong to the owner window.
LayerList::LayerList(void* ownerWindow) : ownerWindow_(ownerWindow) {}

// Removes every layer and, if it is the process-wide list, forgets it.
LayerList::~LayerList() {
  RemoveAll();
  if (g_layerList == this) g_layerList = nullptr;
}

// Opens and loads a file as a new layer and links it in.
Layer* LayerList::AddLayer(const std::string& path, void* ownerWindow, bool mustExist, bool atTail) {
  if (!ownerWindow) ownerWindow = ownerWindow_;
  const bool exists = FileExists(path);
  if (mustExist && !exists) return nullptr;
  auto* layer = new Layer(ownerWindow_);
  layer->SetPathName(path);
  if (exists) {
    layer->SetLoadProgressHandler(progress_);
    if (!layer->Open() || !layer->Load(false)) {
      delete layer;
      return nullptr;
    }
  }
  if (atTail) {
    layers_.push_back(layer);
  } else {
    layers_.insert(layers_.begin(), layer);
    // The cursor keeps pointing at the same layer.
    if (cursor_ < layers_.size()) ++cursor_;
  }
  return layer;
}

// Saves a changed legend, closes the layer and, when asked, unlinks and destroys it.
void LayerList::RemoveLayer(Layer* layer, bool unlinkAndDelete) {
  if (!layer) return;
  layer->SaveLegend();
  layer->Close();
  if (!unlinkAndDelete) return;
  auto it = std::find(layers_.begin(), layers_.end(), layer);
  if (it != layers_.end()) {
    const auto index = static_cast<std::size_t>(it - layers_.begin());
    layers_.erase(it);
    if (index < cursor_) --cursor_;
  }
  if (active_ == layer) active_ = nullptr;
  delete layer;
}

// Removes and destroys every layer.
void LayerList::RemoveAll() {
  // Taken out of the list first, so nothing reached during the removals
  // (a repaint, say) finds a layer half destroyed.
  std::vector<Layer*> layers;
  layers.swap(layers_);
  cursor_ = 0;
  active_ = nullptr;
  for (Layer* layer : layers) {
    RemoveLayer(layer, false);
    delete layer;
  }
}

// Starts the cursor at the head layer.
Layer* LayerList::First() {
  cursor_ = 0;
  return Current();
}

// Moves the cursor on one layer.
Layer* LayerList::Next() {
  if (HasMore()) ++cursor_;
  return Current();
}

// Draws every layer from the tail, so the newest lies on top.
void LayerList::DrawAll(Canvas& dc, const CMapTransform& transform) {
  for (auto it = layers_.rbegin(); it != layers_.rend(); ++it) (*it)->Draw(transform, dc);
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
    std::string notes;
    LoadNotes(*layer, notes);
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
  if (!layer) return false;
  const std::vector<Shape*> found = layer->FindInRect(rect);
  if (!extend) layer->ClearSelection();
  if (!found.empty()) layer->SelectRecords(found);
  return !found.empty();
}

// ---------------------------------------------------------------- notes

// Reads the whole notes file.
bool LoadNotes(const Layer& layer, std::string& text) {
  text.clear();
  QFile file(QString::fromStdString(layer.GetNotesPath()));
  if (!file.open(QIODevice::ReadOnly)) return false;
  // Read in pieces rather than trusting the size the file claims.
  constexpr qint64 kChunk = 64 * 1024;
  std::string content;
  try {
    for (;;) {
      const std::size_t before = content.size();
      content.resize(before + kChunk);
      const qint64 got = file.read(content.data() + before, kChunk);
      if (got <= 0) {
        content.resize(before);
        break;
      }
      content.resize(before + static_cast<std::size_t>(got));
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  // The notes are text: they end at a zero byte.
  const std::size_t zero = content.find('\0');
  if (zero != std::string::npos) content.resize(zero);
  text.swap(content);
  return true;
}

// Replaces the notes file safely, or tells the user it could not.
bool SaveNotes(const Layer& layer, const std::string& text) {
  QSaveFile file(QString::fromStdString(layer.GetNotesPath()));
  bool ok = file.open(QIODevice::WriteOnly);
  if (ok) {
    ok = file.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size());
    // Only a complete write replaces the old notes.
    ok = ok && file.commit();
    if (!ok) file.cancelWriting();
  }
  if (!ok) {
    ShowMessage(MessageRequest{kMsgCannotSaveNotes, kMsgNotesCaption, MessageIcon::Warning, MessageButtons::Ok});
  }
  return ok;
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
