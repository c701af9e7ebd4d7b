// The selection's bookkeeping and the drawing order an ordered insert gives.
#include "layers/LayerSelection.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <map>

#include "shapes/ShapeCollection.h"

namespace kestrune {

namespace {

// Grows a union of rectangles by one more.
void Unite(MapRect& into, const MapRect& r) {
  into.left = std::min(into.left, r.left);
  into.top = std::min(into.top, r.top);
  into.right = std::max(into.right, r.right);
  into.bottom = std::max(into.bottom, r.bottom);
}

// The start of a union of hit bounds.
constexpr MapRect kNoSelectionBounds{std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max(),
                                     -std::numeric_limits<int32_t>::max(), -std::numeric_limits<int32_t>::max()};

// The outer area of a record that is an area, for the selection's drawing order.
double OuterAreaOf(const Shape* shape) { return static_cast<const AreaShape*>(shape)->GetOuterArea(); }

}  // namespace

// A record that is not an area goes to the front; an area goes after the
// leading areas of strictly larger outer area. The list is always [leading
// areas, largest first] + [the rest, which starts with a record that is not
// an area]; the rest only ever grows at its front.
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

// The selection in drawing order, worked out again only after a change.
const std::vector<Shape*>& LayerSelection::DrawOrder() const {
  if (!selectionOrderValid_) {
    selectionOrder_ = OrderedInsertOrder(selection_);
    selectionOrderValid_ = true;
  }
  return selectionOrder_;
}

// Keeps the record and sets its flag.
bool LayerSelection::Add(Shape* shape) {
  if (shape->IsSelected()) return false;
  selection_.push_back(shape);
  shape->SetSelected(true);
  selectionOrderValid_ = false;
  return true;
}

// The area the records cover.
MapRect LayerSelection::Bounds() const {
  MapRect rect = kNoSelectionBounds;
  for (Shape* shape : selection_) Unite(rect, shape->GetHitBounds());
  return rect;
}

// Every record unselected, the area they cover gathered.
MapRect LayerSelection::Unselect() {
  MapRect rect = kNoSelectionBounds;
  for (Shape* shape : selection_) {
    shape->SetSelected(false);
    Unite(rect, shape->GetHitBounds());
  }
  return rect;
}

// Empties both lists.
void LayerSelection::Forget() {
  selection_.clear();
  selectionOrder_.clear();
  selectionOrderValid_ = true;
}

// Empties both lists and frees their memory.
void LayerSelection::Release() {
  selection_.clear();
  selection_.shrink_to_fit();
  selectionOrder_.clear();
  selectionOrder_.shrink_to_fit();
  selectionOrderValid_ = true;
}

// The records, in selection order; the selection is then empty.
std::vector<Shape*> LayerSelection::Take() {
  std::vector<Shape*> taken;
  taken.swap(selection_);
  selectionOrder_.clear();
  selectionOrderValid_ = true;
  return taken;
}

// One record out of the list (its flag is the record's own business).
bool LayerSelection::Remove(Shape* shape) {
  auto it = std::find(selection_.begin(), selection_.end(), shape);
  if (it == selection_.end()) return false;
  selection_.erase(it);
  selectionOrderValid_ = false;
  return true;
}

// A hidden record cannot stay selected.
void LayerSelection::DropFilteredOut() {
  if (selection_.empty()) return;
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

// Whether the selection is the parts of one record number.
bool LayerSelection::IsOneRecordSelected() const {
  if (selection_.empty()) return false;
  const int number = selection_.front()->GetRecordNumber();
  return std::all_of(selection_.begin(), selection_.end(),
                     [number](const Shape* shape) { return shape->GetRecordNumber() == number; });
}

}  // namespace kestrune
