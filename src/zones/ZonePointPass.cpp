#include "zones/ZonePointPass.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <thread>

#include "geo/MapProjection.h"
#include "layers/LogFields.h"
#include "shapes/BufferedFile.h"
#include "shapes/DbfNumberField.h"
#include "shapes/DbfTable.h"
#include "shapes/Shape.h"
#include "zones/ZoneGeometry.h"
#include "zones/ZoneGrid.h"
#include "zones/ZoneStatsAdd.h"

namespace kestrune {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Records taken at a time: their rows read in one go stay in the core's cache.
constexpr size_t kPiece = 1024;
constexpr size_t kRun = 64;  // the aligned runs the records come in
// Below this many records a second thread costs more than it saves.
constexpr size_t kRecordsForTwoThreads = 200000;
// A piece whose record numbers spread wider than this reads its rows one by one.
constexpr int64_t kWidestSpan = 4 * static_cast<int64_t>(kPiece);


// The rows of one piece of records, read through a descriptor of its own.
class PieceRows {
 public:
  PieceRows(const DbfTable& table)
      : fd_(::open(table.GetPath().c_str(), O_RDONLY | O_CLOEXEC)),
        header_(table.GetHeaderLength()),
        rowBytes_(static_cast<size_t>(table.GetRecordLength())),
        rows_(std::max(table.GetRecordCount(), 0)) {}
  ~PieceRows() {
    if (fd_ >= 0) ::close(fd_);
  }
  PieceRows(const PieceRows&) = delete;
  PieceRows& operator=(const PieceRows&) = delete;

  // Reads the rows of the records numbered in recs.
  void Load(const int32_t* recs, size_t count) {
    oneByOne_ = false;
    first_ = 0;
    held_ = 0;
    if (fd_ < 0 || rowBytes_ == 0 || count == 0) return;
    int64_t low = std::numeric_limits<int64_t>::max(), high = 0;
    for (size_t k = 0; k < count; ++k) {
      if (recs[k] < 1 || recs[k] > rows_) continue;
      low = std::min<int64_t>(low, recs[k]);
      high = std::max<int64_t>(high, recs[k]);
    }
    if (high == 0) return;
    if (high - low < kWidestSpan) {
      const size_t want = static_cast<size_t>(high - low + 1);
      bytes_.resize(want * rowBytes_ + kSlack);
      const size_t got =
          ReadBytesAt(fd_, bytes_.data(), want * rowBytes_, header_ + (low - 1) * static_cast<int64_t>(rowBytes_));
      first_ = low;
      held_ = static_cast<int64_t>(got / rowBytes_);
      return;
    }
    // Records far apart in the table: each row on its own.
    oneByOne_ = true;
    bytes_.resize(count * rowBytes_ + kSlack);
    whole_.assign(count, 0);
    for (size_t k = 0; k < count; ++k) {
      if (recs[k] < 1 || recs[k] > rows_) continue;
      whole_[k] = ReadBytesAt(fd_, bytes_.data() + k * rowBytes_, rowBytes_,
                         header_ + (recs[k] - 1) * static_cast<int64_t>(rowBytes_)) == rowBytes_;
    }
  }
  // The row of the k-th record of the piece, numbered rec; null for a row
  // the table does not hold whole.
  const char* Row(size_t k, int32_t rec) const {
    if (oneByOne_) return whole_[k] ? bytes_.data() + k * rowBytes_ : nullptr;
    const int64_t i = int64_t{rec} - first_;
    return i >= 0 && i < held_ ? bytes_.data() + static_cast<size_t>(i) * rowBytes_ : nullptr;
  }

 private:
  // The fixed-field reader reads 8 bytes from a field's start.
  static constexpr size_t kSlack = 8;
  int fd_;
  int64_t header_;
  size_t rowBytes_;
  int64_t rows_;
  std::vector<char> bytes_;
  std::vector<uint8_t> whole_;
  bool oneByOne_ = false;
  int64_t first_ = 0, held_ = 0;
};

constexpr size_t kBlockBytes = size_t{2} << 20;
// Blocks kept for the next summary: fresh memory costs the system a cleared
// page each time, more than the pass spends on the records it holds.
constexpr size_t kKeptBlocks = 64;

std::mutex& PoolMutex() {
  static std::mutex mutex;
  return mutex;
}
// The kept blocks, given back to the system when the program ends.
struct BlockPool {
  std::vector<void*> blocks;
  BlockPool() = default;
  BlockPool(const BlockPool&) = delete;
  BlockPool& operator=(const BlockPool&) = delete;
  ~BlockPool() {
    for (void* block : blocks) std::free(block);
  }
};
std::vector<void*>& Pool() {
  static BlockPool pool;
  return pool.blocks;
}

void* TakeBlock() {
  {
    std::lock_guard<std::mutex> lock(PoolMutex());
    if (!Pool().empty()) {
      void* block = Pool().back();
      Pool().pop_back();
      return block;
    }
  }
  void* block = std::aligned_alloc(kBlockBytes, kBlockBytes);
  if (!block) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  ::madvise(block, kBlockBytes, MADV_HUGEPAGE);
#endif
  return block;
}

void GiveBlock(void* block) {
  {
    std::lock_guard<std::mutex> lock(PoolMutex());
    if (Pool().size() < kKeptBlocks) {
      Pool().push_back(block);
      return;
    }
  }
  std::free(block);
}

// What the second half brings to the zones, kept until the first half is
// done: for each (record, zone) the zone and the target flags, the area and
// the values, in blocks of 2 MB (huge pages where the system gives them, so
// few pages are cleared and mapped one by one).
class Entries {
 public:
  explicit Entries(size_t stride) : stride_(stride), perBlock_(kBlockBytes / (stride * sizeof(double))) {}
  ~Entries() {
    for (double* b : blocks_) GiveBlock(b);
  }
  Entries(const Entries&) = delete;
  Entries& operator=(const Entries&) = delete;

  bool Empty() const { return blocks_.empty(); }
  double* Append() {
    if (blocks_.empty() || used_ == perBlock_) {
      blocks_.push_back(static_cast<double*>(TakeBlock()));
      used_ = 0;
    }
    return blocks_.back() + (used_++) * stride_;
  }
  template <class F>
  void ForEach(F f) const {
    for (size_t b = 0; b < blocks_.size(); ++b) {
      const size_t count = b + 1 == blocks_.size() ? used_ : perBlock_;
      const double* e = blocks_[b];
      for (size_t i = 0; i < count; ++i, e += stride_) f(e);
    }
  }

 private:
  size_t stride_;
  size_t perBlock_;
  std::vector<double*> blocks_;
  size_t used_ = 0;
};

// A numeric field of the rows, read in place; the value of the last text read
// is kept, so a text equal to the one before (a width or a target held over
// many records) is not read again.
class FieldReader {
 public:
  explicit FieldReader(const DbfField* field) : field_(field) {
    if (!field) return;
    length_ = static_cast<size_t>(field->length);
    memo_ = length_ >= 1 && length_ <= 16;
    first_ = length_ >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * length_)) - 1;
    second_ = length_ <= 8 ? 0 : length_ >= 16 ? ~uint64_t{0} : (uint64_t{1} << (8 * (length_ - 8))) - 1;
  }
  // The row is followed by at least 8 readable bytes.
  __attribute__((always_inline)) double Read(const char* row) {
    if (!row) return kNaN;
    const char* text = row + field_->offset;
    if (!memo_) return ParseDbfNumberOrBlankFixed(text, length_, field_->decimals);
    uint64_t a, b = 0;
    std::memcpy(&a, text, sizeof a);
    a &= first_;
    if (second_) {
      std::memcpy(&b, text + 8, sizeof b);
      b &= second_;
    }
    if (a == lastFirst_ && b == lastSecond_ && known_) return value_;
    value_ = ParseDbfNumberOrBlankFixed(text, length_, field_->decimals);
    lastFirst_ = a;
    lastSecond_ = b;
    known_ = true;
    return value_;
  }

 private:
  const DbfField* field_;
  size_t length_ = 0;
  bool memo_ = false;
  uint64_t first_ = 0, second_ = 0;  // the bytes of the text in each word
  uint64_t lastFirst_ = 0, lastSecond_ = 0;
  bool known_ = false;
  double value_ = kNaN;
};

constexpr uint64_t kWithin5 = 1, kWithin10 = 2;

uint64_t Code(const double* entry) {
  uint64_t code;
  std::memcpy(&code, entry, sizeof code);
  return code;
}

// What one half of the pass keeps.
struct Half {
  ZoneRow outside;
  int64_t hidden = 0;
};

}  // namespace

ZonePointPassResult SummarisePointLog(const ZonePointPassInput& in, std::vector<ZoneRow>& zones, ZoneRow& outside,
                                      int64_t& hidden) {
  if (!in.projection || !in.table || !in.table->IsReady()) return ZonePointPassResult::NotPoints;
  // The values kept per record: each field read once, the rate shared with
  // a field that is the rate.
  std::vector<const DbfField*> kept;
  const auto slotOf = [&](const DbfField* field) -> int {
    if (!field) return -1;
    const auto at = std::find(kept.begin(), kept.end(), field);
    if (at != kept.end()) return static_cast<int>(at - kept.begin());
    kept.push_back(field);
    return static_cast<int>(kept.size() - 1);
  };
  std::vector<int> fieldSlot;
  for (const DbfField* f : in.fields) fieldSlot.push_back(slotOf(f));
  const int rateSlot = slotOf(in.rate);
  const bool hasRate = in.rate != nullptr;
  const bool hasTarget = hasRate && in.target != nullptr;
  const size_t stride = 2 + kept.size();

  const ZoneGrid grid(in.zones);
  const size_t n = in.size;
  const bool twoThreads = n >= kRecordsForTwoThreads;
  const size_t half = twoThreads ? n / 2 : n;
  std::atomic<bool> stop{false};
  std::atomic<bool> notPoints{false};
  const auto stopped = [&] {
    return stop.load(std::memory_order_relaxed) || (in.cancel && in.cancel->load(std::memory_order_relaxed));
  };
  const auto tell = [&](int value) {
    if (in.percent) in.percent->store(value, std::memory_order_relaxed);
  };

  // One record into a row: as the general pass adds it.
  // Inlined: the running mean's division chain is the pass's floor.
  const auto add = [&](ZoneRow& row, const double* values, double area,
                       uint64_t flags) __attribute__((always_inline)) {
    ++row.count;
    row.area += area;
    for (size_t f = 0; f < fieldSlot.size(); ++f) {
      if (fieldSlot[f] < 0) continue;
      const double v = values[fieldSlot[f]];
      if (!std::isnan(v)) AddZoneValue(row.fields[f], v, area);
    }
    if (area > 0.0 && hasRate) {
      const double rate = values[rateSlot];
      if (!std::isnan(rate)) row.volume += rate * area;
      // Adding 0 to a sum of positive areas leaves it as it is.
      row.areaWithin5 += (flags & kWithin5) ? area : 0.0;
      row.areaWithin10 += (flags & kWithin10) ? area : 0.0;
    }
  };

  // By the zone's number, odd or even: each thread of the replay takes one.
  Entries entries[2] = {Entries(stride), Entries(stride)};
  Half halves[2];
  for (Half& h : halves) h.outside = outside;

  const auto pass = [&](size_t first, size_t last, Half& out, bool direct) {
    PieceRows rows(*in.table);
    StepMeter meter(*in.projection);
    std::vector<Shape*> records;
    std::vector<int32_t> recs;
    // One piece's figures by stage.
    const size_t keptCount = std::max<size_t>(kept.size(), 1);
    std::vector<double> values(kPiece * keptCount), widths(kPiece), targets(kPiece), areas(kPiece);
    std::vector<uint64_t> flagsOf(kPiece);
    std::vector<uint8_t> shown(kPiece);
    std::vector<FieldReader> keptReaders(kept.begin(), kept.end());
    FieldReader widthReader(in.width), targetReader(in.target);
    // The point before the first: the record before it (every record is a point).
    const PointShape* previous = nullptr;
    if (first > 0) {
      const size_t run = (first - 1) / kRun * kRun;
      in.records(run, first - run, records);
      if (records.back()->GetRecordClass() != kRecordPoint) {
        notPoints = true;
        stop = true;
        return;
      }
      previous = static_cast<const PointShape*>(records.back());
    }
    size_t pieces = 0;
    for (size_t at = first; at < last;) {
      if (stopped()) return;
      // A piece: whole aligned runs, the first and last maybe cut.
      const size_t end = std::min(last, (at / kPiece + 1) * kPiece);
      records.clear();
      for (size_t p = at; p < end;) {
        const size_t runEnd = std::min(end, (p / kRun + 1) * kRun);
        in.records(p, runEnd - p, records);
        p = runEnd;
      }
      const size_t count = end - at;
      recs.resize(count);
      for (size_t k = 0; k < count; ++k) {
        if (records[k]->GetRecordClass() != kRecordPoint) {
          notPoints = true;
          stop = true;
          return;
        }
        recs[k] = records[k]->GetRecordNumber();
      }
      rows.Load(recs.data(), count);
      // In stages over the piece, so the divisions and roots of one record
      // need not wait for those of the record before.
      // The fields of the shown records; the hidden ones only need a width.
      for (size_t k = 0; k < count; ++k) {
        const char* row = rows.Row(k, recs[k]);
        widths[k] = in.width ? widthReader.Read(row) : kNaN;
        shown[k] = !records[k]->IsFilteredOut();
        if (!shown[k]) continue;
        for (size_t v = 0; v < kept.size(); ++v) values[k * keptCount + v] = keptReaders[v].Read(row);
        targets[k] = hasTarget ? targetReader.Read(row) : kNaN;
      }
      // The covered area: width × the step from the point before.
      for (size_t k = 0; k < count; ++k) {
        const auto* point = static_cast<const PointShape*>(records[k]);
        double area = 0.0;
        const double w = widths[k];
        if (IsAppliedRecord(point->GetFilterFlags()) && w > 0.0) {
          const bool start = !previous || !previous->HasGeometry() || !point->HasGeometry();
          const double step = start ? 0.0 : meter.Step(previous->GetPoint(), point->GetPoint(), in.inFeet);
          area = PointStepArea(w, step, start) * in.perUnitArea;
        }
        areas[k] = area;
        previous = point;
      }
      // The target flags, where a record covers ground.
      for (size_t k = 0; k < count; ++k) {
        uint64_t flags = 0;
        if (hasTarget && shown[k]) {
          const double rate = values[k * keptCount + static_cast<size_t>(rateSlot)];
          const double target = targets[k];
          if (areas[k] > 0.0 && target > 0.0 && !std::isnan(rate)) {
            // Without a branch: whether a rate is within 5 % is anyone's guess.
            const double miss = std::fabs(rate - target) / target;
            flags = (miss <= 0.05 ? kWithin5 : 0) | (miss <= 0.10 ? kWithin10 : 0);
          }
        }
        flagsOf[k] = flags;
      }
      // Each record into its zones' rows, or the outside row.
      for (size_t k = 0; k < count; ++k) {
        if (!shown[k]) {
          ++out.hidden;
          continue;
        }
        const auto* point = static_cast<const PointShape*>(records[k]);
        const double* v = values.data() + k * keptCount;
        const double area = areas[k];
        const uint64_t flags = flagsOf[k];
        bool inside = false;
        if (point->HasGeometry()) {
          grid.ForEachZoneHolding(point->GetPoint(), [&](uint32_t z) {
            inside = true;
            if (direct) {
              add(zones[z], v, area, flags);
              return;
            }
            double* e = entries[z & 1].Append();
            const uint64_t code = uint64_t{z} << 2 | flags;
            std::memcpy(e, &code, sizeof code);
            e[1] = area;
            std::copy(v, v + kept.size(), e + 2);
          });
        }
        if (!inside) add(out.outside, v, area, flags);
      }
      at = end;
      if (direct && in.percent && (++pieces & 63) == 0) {
        tell(in.percentFrom + static_cast<int>((in.percentTo - in.percentFrom) * 9 * (at - first) /
                                               (10 * std::max<size_t>(last - first, 1))));
      }
    }
  };
  if (twoThreads) {
    std::thread second(pass, half, n, std::ref(halves[1]), false);
    pass(0, half, halves[0], true);
    second.join();
  } else {
    pass(0, n, halves[0], true);
  }
  if (notPoints) return ZonePointPassResult::NotPoints;
  if (stopped()) return ZonePointPassResult::Cancelled;

  // The second half's entries, each zone's in list order: the even zones in
  // one thread, the odd ones in the other.
  if (twoThreads) {
    const auto replay = [&](int part) {
      entries[part].ForEach([&](const double* e) {
        const uint64_t code = Code(e);
        add(zones[static_cast<size_t>(code >> 2)], e + 2, e[1], code & 3);
      });
    };
    if (!entries[1].Empty()) {
      std::thread second(replay, 1);
      replay(0);
      second.join();
    } else {
      replay(0);
    }
  }
  outside = std::move(halves[0].outside);
  if (twoThreads) {
    const ZoneRow& second = halves[1].outside;
    outside.count += second.count;
    outside.area += second.area;
    outside.volume += second.volume;
    outside.areaWithin5 += second.areaWithin5;
    outside.areaWithin10 += second.areaWithin10;
    for (size_t f = 0; f < second.fields.size(); ++f) outside.fields[f].Merge(second.fields[f]);
  }
  hidden = halves[0].hidden + halves[1].hidden;
  tell(in.percentTo);
  return ZonePointPassResult::Done;
}

}  // namespace kestrune
