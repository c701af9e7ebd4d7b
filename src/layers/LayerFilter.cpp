// The filter pass over the records and the count of those it hides.
#include "layers/LayerFilter.h"

#include <cstdint>
#include <utility>

#include "layers/LayerSelection.h"
#include "shapes/Shape.h"

namespace kestrune {

// A record is out when it has a flag the mask lacks.
void LayerFilter::Apply(const RecordList& records, LayerSelection& selection) {
  const uint32_t mask = static_cast<uint32_t>(filterMask_);
  anyFilteredOut_ = false;
  anyShowMeHidden_ = false;
  filterApplied_ = true;
  for (Shape* shape : records) {
    const uint32_t flags = shape->GetFilterFlags();
    const bool out = (mask & flags) != flags;
    shape->SetFilteredOut(out);
    anyFilteredOut_ = anyFilteredOut_ || out;
    anyShowMeHidden_ = anyShowMeHidden_ || (out && !(flags & kFilterCleanRemoved));
  }
  // A hidden record cannot stay selected.
  if (anyFilteredOut_) selection.DropFilteredOut();
}

// Counts the filtered-out records, only when the filter left any.
size_t LayerFilter::CountFilteredOut(const RecordList& records) const {
  if (!anyFilteredOut_) return 0;
  size_t n = 0;
  for (const Shape* shape : records) n += shape->IsFilteredOut() ? 1 : 0;
  return n;
}

void LayerFilter::SetCleanRemoved(std::vector<uint8_t> removed) {
  cleanRemoved_ = std::move(removed);
  cleanRemovedCount_ = 0;
  for (uint8_t r : cleanRemoved_) cleanRemovedCount_ += r ? 1 : 0;
  if (cleanRemovedCount_ == 0) cleanRemoved_.clear();
}

}  // namespace kestrune
