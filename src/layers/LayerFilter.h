// Which of a layer's records the Show Me filter hides: the mask of filter
// bits a record's flags must fall within, whether a filter was applied and
// whether it hid any record (so drawing knows whether shadows need a pass of
// their own), and the log fields (rate, boom, date, time, width) the flags
// and the summary are read from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "layers/LogFields.h"
#include "shapes/RecordList.h"

namespace kestrune {

class LayerSelection;

// Filter bits of the layer's mask and of each record's flags.
constexpr int kFilterBoomOn = 0x1;
constexpr int kFilterBoomOff = 0x2;
constexpr int kFilterRateAboveZero = 0x4;
constexpr int kFilterRateZero = 0x8;
constexpr int kFilterShowShadows = 0x1000;  // mask only
// Flags only: a record the log's cleaning removed. No mask holds it, so such
// a record is always filtered out (drawn as a shadow when the mask asks for
// shadows) and never counts as applied.
constexpr int kFilterCleanRemoved = 0x10;
constexpr int kDefaultFilterMask = 0x1005;
// The flags of a record the log fields say nothing against (no boom or rate
// field, or no attribute row): boom on, rate above zero.
constexpr int kComputedRecordFlags = kFilterBoomOn | kFilterRateAboveZero;

class LayerFilter {
 public:
  int GetMask() const { return filterMask_; }
  void SetMask(int mask) { filterMask_ = mask; }
  // Whether Apply ran, and whether it hid any record (records added since
  // are not hidden).
  bool IsApplied() const { return filterApplied_; }
  bool AnyFilteredOut() const { return anyFilteredOut_; }
  // Whether hidden records draw as shadows: those Show Me hides by the
  // mask's shadow bit, those the cleaning removed by their own choice.
  bool DrawsShadows() const {
    return ((filterMask_ & kFilterShowShadows) && anyShowMeHidden_) || (showCleanRemoved_ && cleanRemovedCount_ > 0);
  }
  // Whether a hidden record with these filter flags draws as a shadow.
  bool ShadowsRecord(uint32_t flags) const {
    return (flags & kFilterCleanRemoved) ? showCleanRemoved_ : (filterMask_ & kFilterShowShadows) != 0;
  }
  bool ShowsCleanRemoved() const { return showCleanRemoved_; }
  void SetShowCleanRemoved(bool on) { showCleanRemoved_ = on; }

  // Marks every record whose flags the mask does not cover as filtered out,
  // and unselects those.
  void Apply(const RecordList& records, LayerSelection& selection);
  // The records the last Apply filtered out (0 before any).
  size_t CountFilteredOut(const RecordList& records) const;

  const LogFields& GetLogFields() const { return logFields_; }
  void SetLogFields(const LogFields& fields) { logFields_ = fields; }

  // The records the log's cleaning removed, by record number - 1 (empty for
  // none); the flags carry kFilterCleanRemoved for them whenever they are
  // worked out.
  const std::vector<uint8_t>& GetCleanRemoved() const { return cleanRemoved_; }
  size_t GetCleanRemovedCount() const { return cleanRemovedCount_; }
  void SetCleanRemoved(std::vector<uint8_t> removed);
  bool IsCleanRemoved(size_t index) const { return index < cleanRemoved_.size() && cleanRemoved_[index]; }

 private:
  int filterMask_ = kDefaultFilterMask;
  bool filterApplied_ = false;
  bool anyFilteredOut_ = false;
  bool anyShowMeHidden_ = false;  // a hidden record the cleaning did not remove
  LogFields logFields_;
  std::vector<uint8_t> cleanRemoved_;
  size_t cleanRemovedCount_ = 0;
  bool showCleanRemoved_ = false;
};

}  // namespace kestrune
