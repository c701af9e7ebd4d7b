// The records of a layer that are selected, in the order they were selected,
// and the order they are drawn in: each record placed as an ordered insert
// would have placed it (areas largest first, other records in front), worked
// out again only after a change. Each selected record also carries its
// selected flag, so membership is a flag test, not a search. The selection
// never owns or destroys a record; the layer tells the views of a change.
#pragma once

#include <cstddef>
#include <vector>

#include "geo/MapPoint.h"
#include "shapes/Shape.h"

namespace kestrune {

// The order an ordered insert of each record, one after the other, into an
// empty list would give.
std::vector<Shape*> OrderedInsertOrder(const std::vector<Shape*>& inserted);

class LayerSelection {
 public:
  // The selection in the order records were selected.
  const std::vector<Shape*>& Records() const { return selection_; }
  bool IsEmpty() const { return selection_.empty(); }
  size_t Count() const { return selection_.size(); }
  // The selection in drawing order.
  const std::vector<Shape*>& DrawOrder() const;

  // Marks a record selected and keeps it, unless it is already; true when added.
  bool Add(Shape* shape);
  // The union of the records' hit bounds (an empty rectangle without records).
  MapRect Bounds() const;
  // Clears every record's selected flag, keeping the list; the union of their
  // hit bounds as Bounds gives it.
  MapRect Unselect();
  // Forgets the records (after Unselect, or once they are gone).
  void Forget();
  // Forgets the records and gives back the memory they took.
  void Release();
  // Hands the records over and forgets them.
  std::vector<Shape*> Take();
  // Forgets one record; false when it was not selected.
  bool Remove(Shape* shape);
  // Unselects and forgets the records the filter hides.
  void DropFilteredOut();
  // Whether the selection is one record number (one record, or the parcels
  // or parts of one).
  bool IsOneRecordSelected() const;

 private:
  std::vector<Shape*> selection_;
  mutable std::vector<Shape*> selectionOrder_;
  mutable bool selectionOrderValid_ = true;
};

}  // namespace kestrune
