// The layer cache: its key, its file (a header, then sections of fixed-size
// items, each padded to 8 bytes), writing it in the background and trimming
// the folder, and the load's use of it.
#include "layers/LayerCache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <future>
#include <tuple>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include <QDir>

#include "base/Preferences.h"
#include "base/SafeFile.h"
#include "layers/Layer.h"
#include "layers/LayerFilter.h"
#include "layers/LayerStyle.h"
#include "layers/RecordShares.h"
#include "shapes/Shape.h"

namespace kestrune {

// ---------------------------------------------------------------- layout

namespace {

constexpr char kMagic[8] = {'K', 'S', 'T', 'R', 'L', 'Y', 'R', '\n'};
constexpr size_t kSampleBlock = 4096;
constexpr int kSampleBlocks = 5;
constexpr uint64_t kBodySeed = 0x626f6479;

enum Section : int {
  kSecRuns,     // CacheRun: point records, by runs of record numbers
  kSecShapes,   // CacheShape: line and area records
  kSecPoints,   // MapPoint: every point, in record order
  kSecRings,    // int32_t: the ring sizes of the areas
  kSecZM,       // RecordZM by record number - 1
  kSecRows,     // CacheRows: what the row pass read besides its arrays
  kSecValues,   // double (by row, or by record with CacheRows::perRecord)
  kSecFlags,    // uint8_t (the same)
  kSecRates,    // double
  kSecWidths,   // double
  kSecIndex,    // CacheIndex: the index grid's shape
  kSecCellStart,  // uint32_t
  kSecCellItems,  // uint32_t
  kSecAlways,     // uint32_t
  kSectionCount
};

struct CacheRun {
  int32_t first;   // record number of the first point
  int32_t step;    // 1 for consecutive numbers, 0 for the points of one record
  uint64_t count;  // points in the run
};

struct CacheShape {
  int32_t recordNumber;
  uint32_t pointCount;
  uint32_t ringCount;  // areas only
  uint32_t reserved;
};

struct CacheRows {
  int32_t legendColumn;
  int32_t logColumns[kLogFieldCount];
  uint8_t textColumn;
  uint8_t ratesAreValues;
  uint8_t flagsOnly;
  uint8_t perRecord;  // values and flags by record in list order, not by row
  uint8_t reserved[4];
  uint64_t rows;
  int64_t claimedRows;
  int64_t heldRows;
  alignas(8) unsigned char dates[sizeof(LogSummaryBuilder)];
};

struct CacheIndex {
  int64_t originX, originY, columns, rows;
  int32_t cellShift, maxUnitsPerFoot;
  double boundsSizeFt;  // the display size the bounds were found at
  int32_t bounds[4];    // left, top, right, bottom
};
static_assert(sizeof(CacheIndex) == 64, "the index's shape holds no padding bytes");

static_assert(std::is_trivially_copyable<LogSummaryBuilder>::value, "the dates are kept as bytes");
static_assert(sizeof(LogSummaryBuilder) == 48, "the dates' bytes hold no padding");
static_assert(std::is_trivially_copyable<RecordZM>::value, "Z and M values are kept as bytes");
static_assert(sizeof(MapPoint) == 8, "points are kept as two 32-bit numbers");

uint64_t Pad8(uint64_t n) { return (n + 7) & ~uint64_t{7}; }

}  // namespace

struct LayerCacheHeader {
  char magic[8];
  uint32_t format;
  uint32_t headerBytes;
  LayerCacheKey key;
  int32_t recordClass;  // 0 for a layer without records
  uint32_t hasRows;
  uint64_t recordCount;
  uint64_t itemCount[kSectionCount];
  uint64_t sectionBytes[kSectionCount];
  uint64_t bodyChecksum;
  uint64_t headerChecksum;  // of every byte before it
};

// Everything one cache file holds, gathered from a loaded layer.
struct LayerCacheContents {
  LayerCacheHeader header{};
  std::vector<CacheRun> runs;
  std::vector<CacheShape> shapes;
  std::vector<MapPoint> points;
  std::vector<int32_t> rings;
  std::vector<RecordZM> zm;
  CacheRows meta{};
  RowScan rows;
  CacheIndex index{};
  SpatialIndex::Grid grid;
  std::array<const void*, kSectionCount> data{};
  // A big point layer's points, values and flags, written by every core into
  // memory nothing touched before (a vector would clear it first).
  std::unique_ptr<unsigned char[]> pointArray;
  std::unique_ptr<double[]> valueArray;
  std::unique_ptr<uint8_t[]> flagArray;
};

namespace {

constexpr size_t kItemSize[kSectionCount] = {sizeof(CacheRun), sizeof(CacheShape), sizeof(MapPoint), sizeof(int32_t),
                                             sizeof(RecordZM),  sizeof(CacheRows),  sizeof(double),   sizeof(uint8_t),
                                             sizeof(double),    sizeof(double),     sizeof(CacheIndex), sizeof(uint32_t),
                                             sizeof(uint32_t),  sizeof(uint32_t)};

uint64_t HeaderChecksum(const LayerCacheHeader& h) {
  return LayerCacheChecksum(&h, offsetof(LayerCacheHeader, headerChecksum), 0x6b6c79);
}

// ---------------------------------------------------------------- switch

std::atomic<bool> g_enabled{false};
std::atomic<uint64_t> g_limit{kDefaultLayerCacheLimit};

std::mutex g_writesMutex;
std::condition_variable g_writesDone;
int g_writesRunning = 0;
// The layers background gatherings read, one entry per gathering (under g_writesMutex).
std::vector<const Layer*> g_gathering;
// The threads writing in the background (under g_writesMutex).
std::vector<pid_t> g_writers;

// A cache write yields the cores to the drawing and everything else: its
// thread runs at the lowest priority until someone waits for it.
constexpr int kBackgroundNice = 19;

// Marks the calling thread as a background writer, at the lowest priority.
void BecomeBackgroundWriter(bool lowest = true) {
  const auto tid = static_cast<pid_t>(::syscall(SYS_gettid));
  if (lowest) ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), kBackgroundNice);
  std::lock_guard<std::mutex> lock(g_writesMutex);
  g_writers.push_back(tid);
}

// Ends a background write (its thread is forgotten before it ends).
void EndBackgroundWrite() {
  const auto tid = static_cast<pid_t>(::syscall(SYS_gettid));
  std::lock_guard<std::mutex> lock(g_writesMutex);
  g_writers.erase(std::remove(g_writers.begin(), g_writers.end(), tid), g_writers.end());
  --g_writesRunning;
  g_writesDone.notify_all();
}
std::atomic<bool> g_gatherDeferred{false};

// The environment's word, when it turns the cache off.
bool EnvironmentForbids() {
  const char* value = std::getenv("KESTRUNE_LAYER_CACHE");
  return value && (std::strcmp(value, "0") == 0 || std::strcmp(value, "off") == 0);
}

uint64_t Mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}

// Fills a file's key: its stat and a hash of sampled blocks. False when the
// file cannot be looked at.
bool FileKeyOf(const std::string& path, LayerCacheKey::FileKey& key) {
  key = {};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  key.size = static_cast<uint64_t>(st.st_size);
  key.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  key.inode = static_cast<uint64_t>(st.st_ino);
  key.device = static_cast<uint64_t>(st.st_dev);
  // The first block, the last, and three evenly between.
  unsigned char block[kSampleBlock];
  uint64_t hash = key.size;
  const uint64_t span = key.size > kSampleBlock ? key.size - kSampleBlock : 0;
  for (int i = 0; i < kSampleBlocks; ++i) {
    const uint64_t offset = span * static_cast<uint64_t>(i) / (kSampleBlocks - 1);
    const ssize_t got = ::pread(fd, block, sizeof block, static_cast<off_t>(offset));
    if (got < 0) {
      ::close(fd);
      return false;
    }
    hash = LayerCacheChecksum(block, static_cast<size_t>(got), hash ^ offset);
  }
  key.sampleHash = hash;
  ::close(fd);
  return true;
}

}  // namespace

void SetLayerCacheEnabled(bool on) { g_enabled.store(on); }
bool IsLayerCacheEnabled() { return g_enabled.load() && !EnvironmentForbids(); }
void SetLayerCacheLimit(uint64_t bytes) { g_limit.store(bytes); }
uint64_t GetLayerCacheLimit() { return g_limit.load(); }

std::string LayerCacheFolder() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && xdg[0] == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && home[0] != '\0') {
    base = std::string(home) + "/.cache";
  } else {
    return std::string();
  }
  return base + "/Kestrune/layers";
}

std::string LayerCachePathFor(const std::string& shpPath) {
  const std::string folder = LayerCacheFolder();
  if (folder.empty()) return std::string();
  std::string absolute = shpPath;
  if (char* real = ::realpath(shpPath.c_str(), nullptr)) {
    absolute = real;
    std::free(real);
  }
  const uint64_t hash = LayerCacheChecksum(absolute.data(), absolute.size(), 0x70617468);
  char name[40];
  std::snprintf(name, sizeof name, "/%016llx.kly", static_cast<unsigned long long>(hash));
  return folder + name;
}

bool LayerCacheFromPreferences() {
  const CPreferences& prefs = GetPreferences();
  SetLayerCacheLimit(static_cast<uint64_t>(std::max(1, prefs.GetLayerCacheMB())) << 20);
  return prefs.IsLayerCacheOn();
}

void SetLayerCacheGatherDeferred(bool on) { g_gatherDeferred.store(on); }
bool IsLayerCacheGatherDeferred() { return g_gatherDeferred.load(); }

void WaitForLayerCacheGather(const Layer& layer) {
  std::unique_lock<std::mutex> lock(g_writesMutex);
  if (std::find(g_gathering.begin(), g_gathering.end(), &layer) == g_gathering.end()) return;
  for (pid_t tid : g_writers) ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), 0);
  g_writesDone.wait(lock, [&layer] { return std::find(g_gathering.begin(), g_gathering.end(), &layer) == g_gathering.end(); });
}

ScopedLayerCache::ScopedLayerCache(bool on, bool deferGather)
    : old_(g_enabled.load()), oldDeferred_(g_gatherDeferred.load()) {
  SetLayerCacheEnabled(on);
  SetLayerCacheGatherDeferred(deferGather);
}

ScopedLayerCache::~ScopedLayerCache() {
  FinishLayerCacheWrites();
  SetLayerCacheEnabled(old_);
  SetLayerCacheGatherDeferred(oldDeferred_);
}

// ---------------------------------------------------------------- key

bool LayerCacheKey::operator==(const LayerCacheKey& o) const {
  auto same = [](const FileKey& a, const FileKey& b) {
    return a.size == b.size && a.mtimeNs == b.mtimeNs && a.inode == b.inode && a.device == b.device &&
           a.sampleHash == b.sampleHash;
  };
  return same(shp, o.shp) && same(dbf, o.dbf) && coordSystemKind == o.coordSystemKind && datum == o.datum &&
         zone == o.zone && shapeKind == o.shapeKind && format == o.format;
}

bool ComputeLayerCacheKey(const std::string& shpPath, const std::string& dbfPath, int coordSystemKind, int datum,
                          int zone, int shapeKind, LayerCacheKey& key) {
  key = LayerCacheKey{};
  if (!FileKeyOf(shpPath, key.shp)) return false;
  if (!dbfPath.empty()) FileKeyOf(dbfPath, key.dbf);
  key.coordSystemKind = coordSystemKind;
  key.datum = datum;
  key.zone = zone;
  key.shapeKind = shapeKind;
  key.format = kLayerCacheFormat;
  return true;
}

// Four lanes of multiply-and-shift over 8-byte words, then the tail bytes.
// Fed in pieces of any size, it gives what one call over their bytes gives.
namespace {
class ChecksumStream {
 public:
  explicit ChecksumStream(uint64_t seed)
      : lane_{seed ^ 0x243f6a8885a308d3ULL, seed ^ 0x13198a2e03707344ULL, seed ^ 0xa4093822299f31d0ULL,
              seed ^ 0x082efa98ec4e6c89ULL} {}

  void Add(const void* data, size_t size) {
    // An empty section may come without any bytes to point at.
    if (size == 0) return;
    const auto* p = static_cast<const unsigned char*>(data);
    total_ += size;
    if (pending_ > 0) {
      const size_t take = std::min(size, kBlock - pending_);
      std::memcpy(held_ + pending_, p, take);
      pending_ += take;
      p += take;
      size -= take;
      if (pending_ < kBlock) return;
      Blocks(held_, kBlock);
      pending_ = 0;
    }
    const size_t whole = size / kBlock * kBlock;
    Blocks(p, whole);
    pending_ = size - whole;
    std::memcpy(held_, p + whole, pending_);
  }

  uint64_t Finish() const {
    uint64_t h = Mix(lane_[0]) ^ Mix(lane_[1] + 1) ^ Mix(lane_[2] + 2) ^ Mix(lane_[3] + 3) ^ total_;
    for (size_t i = 0; i < pending_; ++i) h = (h ^ held_[i]) * 0x100000001b3ULL;
    return Mix(h);
  }

 private:
  static constexpr size_t kBlock = 32;
  void Blocks(const unsigned char* p, size_t size) {
    constexpr uint64_t kPrime = 0x9e3779b97f4a7c15ULL;
    uint64_t l0 = lane_[0], l1 = lane_[1], l2 = lane_[2], l3 = lane_[3];
    for (size_t i = 0; i < size; i += kBlock) {
      uint64_t w[4];
      std::memcpy(w, p + i, sizeof w);
      l0 = (l0 ^ w[0]) * kPrime;
      l0 ^= l0 >> 29;
      l1 = (l1 ^ w[1]) * kPrime;
      l1 ^= l1 >> 29;
      l2 = (l2 ^ w[2]) * kPrime;
      l2 ^= l2 >> 29;
      l3 = (l3 ^ w[3]) * kPrime;
      l3 ^= l3 >> 29;
    }
    lane_[0] = l0, lane_[1] = l1, lane_[2] = l2, lane_[3] = l3;
  }

  uint64_t lane_[4];
  uint64_t total_ = 0;
  unsigned char held_[kBlock] = {};
  size_t pending_ = 0;
};
}  // namespace

uint64_t LayerCacheChecksum(const void* data, size_t size, uint64_t seed) {
  ChecksumStream sum(seed);
  sum.Add(data, size);
  return sum.Finish();
}

// ---------------------------------------------------------------- reading

LayerCacheFile::~LayerCacheFile() {
  // A copy of the index's grid still reading the mapping ends first.
  if (gridCopy_.valid()) gridCopy_.wait();
  if (data_) ::munmap(const_cast<unsigned char*>(data_), size_);
}

std::unique_ptr<LayerCacheFile> LayerCacheFile::Open(const std::string& path, const LayerCacheKey& key) {
  if (path.empty()) return nullptr;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < static_cast<off_t>(sizeof(LayerCacheHeader))) {
    ::close(fd);
    return nullptr;
  }
  void* map = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
  if (map == MAP_FAILED) return nullptr;
  std::unique_ptr<LayerCacheFile> file(new LayerCacheFile());
  file->data_ = static_cast<const unsigned char*>(map);
  file->size_ = static_cast<size_t>(st.st_size);
  if (!file->Check(key)) return nullptr;
  return file;
}

// Every check before anything is handed out: header, key, sizes, length,
// checksum, and that the counts inside agree with each other.
bool LayerCacheFile::Check(const LayerCacheKey& key) {
  const auto* h = reinterpret_cast<const LayerCacheHeader*>(data_);
  if (std::memcmp(h->magic, kMagic, sizeof kMagic) != 0 || h->format != kLayerCacheFormat ||
      h->headerBytes != sizeof(LayerCacheHeader) || h->headerChecksum != HeaderChecksum(*h)) {
    return false;
  }
  if (h->key != key) return false;
  uint64_t at = sizeof(LayerCacheHeader);
  for (int s = 0; s < kSectionCount; ++s) {
    const uint64_t items = h->itemCount[s];
    if (items > size_ / kItemSize[s] || h->sectionBytes[s] != Pad8(items * kItemSize[s])) return false;
    if (h->sectionBytes[s] > size_ - at) return false;
    sections_[s] = data_ + at;
    at += h->sectionBytes[s];
  }
  if (at != size_ || h->itemCount[kSecIndex] > 1) return false;
  uint64_t sums[kSectionCount] = {};
  for (int s = 0; s < kSectionCount; ++s) {
    for (uint64_t i = h->itemCount[s] * kItemSize[s]; i < h->sectionBytes[s]; ++i) {
      if (sections_[s][i] != 0) return false;
    }
  }
  SumSections(sums);
  if (h->bodyChecksum != LayerCacheChecksum(sums, sizeof sums, kBodySeed)) return false;

  // The records' counts add up to the points and rings held.
  const uint64_t points = h->itemCount[kSecPoints];
  uint64_t used = 0, rings = 0, records = 0;
  if (h->recordClass == kRecordPoint) {
    if (h->itemCount[kSecShapes] != 0) return false;
    const auto* runs = reinterpret_cast<const CacheRun*>(sections_[kSecRuns]);
    for (uint64_t r = 0; r < h->itemCount[kSecRuns]; ++r) {
      if (runs[r].count > points - used) return false;
      used += runs[r].count;
      const int64_t last = int64_t{runs[r].first} + int64_t{runs[r].step} * static_cast<int64_t>(runs[r].count - 1);
      if (runs[r].count == 0 || last > INT32_MAX) return false;
    }
    records = used;
  } else if (h->recordClass == kRecordLine || h->recordClass == kRecordArea) {
    if (h->itemCount[kSecRuns] != 0) return false;
    const auto* shapes = reinterpret_cast<const CacheShape*>(sections_[kSecShapes]);
    const auto* sizes = reinterpret_cast<const int32_t*>(sections_[kSecRings]);
    for (uint64_t i = 0; i < h->itemCount[kSecShapes]; ++i) {
      const CacheShape& c = shapes[i];
      if (c.pointCount > points - used || c.pointCount > INT_MAX) return false;
      used += c.pointCount;
      if (h->recordClass == kRecordArea) {
        if (c.ringCount > h->itemCount[kSecRings] - rings) return false;
        uint64_t inRings = 0;
        for (uint32_t k = 0; k < c.ringCount; ++k) {
          if (sizes[rings + k] < 0) return false;
          inRings += static_cast<uint64_t>(sizes[rings + k]);
        }
        if (inRings != c.pointCount) return false;
        rings += c.ringCount;
      } else if (c.ringCount != 0) {
        return false;
      }
    }
    records = h->itemCount[kSecShapes];
  } else if (h->recordClass != 0) {
    return false;
  }
  if (used != points || rings != h->itemCount[kSecRings] || records != h->recordCount) return false;
  if (h->hasRows) {
    if (h->itemCount[kSecRows] != 1) return false;
    const auto* meta = reinterpret_cast<const CacheRows*>(sections_[kSecRows]);
    if (meta->perRecord) {
      // One value and one flag byte per point record, nothing by row.
      if (h->recordClass != kRecordPoint || h->itemCount[kSecValues] != h->recordCount ||
          h->itemCount[kSecFlags] != h->recordCount || h->itemCount[kSecRates] != 0 || h->itemCount[kSecWidths] != 0) {
        return false;
      }
    } else if (h->itemCount[kSecValues] > meta->rows || h->itemCount[kSecFlags] > meta->rows) {
      return false;
    }
  } else if (h->itemCount[kSecRows] != 0) {
    return false;
  }
  header_ = h;
  return true;
}

void LayerCacheFile::SumSections(uint64_t* sums) const {
  const auto* h = reinterpret_cast<const LayerCacheHeader*>(data_);
  auto sum = [&](int s) {
    sums[s] = LayerCacheChecksum(sections_[s], static_cast<size_t>(h->itemCount[s] * kItemSize[s]),
                                 static_cast<uint64_t>(s));
  };
  // A big file's sections are summed by two cores, the largest first, each
  // to the core with less to do so far.
  if (size_ < (size_t{1} << 20) || std::thread::hardware_concurrency() < 2) {
    for (int s = 0; s < kSectionCount; ++s) sum(s);
    return;
  }
  std::array<int, kSectionCount> order;
  for (int s = 0; s < kSectionCount; ++s) order[static_cast<size_t>(s)] = s;
  std::sort(order.begin(), order.end(), [h](int a, int b) { return h->sectionBytes[a] > h->sectionBytes[b]; });
  std::vector<int> mine, other;
  uint64_t mineBytes = 0, otherBytes = 0;
  for (int s : order) {
    if (mineBytes <= otherBytes) {
      mine.push_back(s);
      mineBytes += h->sectionBytes[s];
    } else {
      other.push_back(s);
      otherBytes += h->sectionBytes[s];
    }
  }
  std::thread helper([&] {
    for (int s : other) sum(s);
  });
  for (int s : mine) sum(s);
  helper.join();
}

bool LayerCacheFile::KeptBounds(double displaySizeFt, MapRect& bounds) const {
  if (header_->itemCount[kSecIndex] != 1) return false;
  const auto* meta = reinterpret_cast<const CacheIndex*>(sections_[kSecIndex]);
  if (!(meta->boundsSizeFt == displaySizeFt)) return false;
  bounds = {meta->bounds[0], meta->bounds[1], meta->bounds[2], meta->bounds[3]};
  return true;
}

bool LayerCacheFile::IndexGrid(SpatialIndex::Grid& grid) const {
  if (header_->itemCount[kSecIndex] != 1) return false;
  const auto* meta = reinterpret_cast<const CacheIndex*>(sections_[kSecIndex]);
  grid.originX = meta->originX;
  grid.originY = meta->originY;
  grid.columns = meta->columns;
  grid.rows = meta->rows;
  grid.cellShift = meta->cellShift;
  grid.maxUnitsPerFoot = meta->maxUnitsPerFoot;
  if (gridCopy_.valid()) {
    std::tie(grid.cellStart, grid.cellItems, grid.always) = gridCopy_.get();
  } else {
    std::tie(grid.cellStart, grid.cellItems, grid.always) = CopyGridArrays();
  }
return true;
}

LayerCacheFile::GridArrays LayerCacheFile::CopyGridArrays() const {
  GridArrays arrays;
  auto numbers = [this](int s, std::vector<uint32_t>& into) {
    const auto* p = reinterpret_cast<const uint32_t*>(sections_[s]);
    into.assign(p, p + header_->itemCount[s]);
    Drop(s);
  };
  numbers(kSecCellStart, std::get<0>(arrays));
  numbers(kSecCellItems, std::get<1>(arrays));
  numbers(kSecAlways, std::get<2>(arrays));
  return arrays;
}

void LayerCacheFile::Drop(int section) const {
  const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  const uint64_t from = static_cast<uint64_t>(sections_[section] - data_);
  const uint64_t start = (from + page - 1) / page * page;
  const uint64_t end = (from + header_->sectionBytes[section]) / page * page;
  if (end > start) ::madvise(const_cast<unsigned char*>(data_ + start), static_cast<size_t>(end - start), MADV_DONTNEED);
}

size_t LayerCacheFile::RecordCount() const { return static_cast<size_t>(header_->recordCount); }

bool LayerCacheFile::HasRows(int legendColumn, const LogFields& fields) const {
  if (!header_->hasRows) return false;
  const auto* meta = reinterpret_cast<const CacheRows*>(sections_[kSecRows]);
  if (meta->perRecord || meta->legendColumn != legendColumn) return false;
  for (int f = 0; f < kLogFieldCount; ++f) {
    if (meta->logColumns[f] != fields.column[static_cast<size_t>(f)]) return false;
  }
  return true;
}

bool LayerCacheFile::HasRecordValues(int legendColumn, const LogFields& fields) const {
  if (!header_->hasRows) return false;
  const auto* meta = reinterpret_cast<const CacheRows*>(sections_[kSecRows]);
  if (!meta->perRecord || meta->legendColumn != legendColumn) return false;
  for (int f = 0; f < kLogFieldCount; ++f) {
    if (meta->logColumns[f] != fields.column[static_cast<size_t>(f)]) return false;
  }
  return true;
}

RowScan LayerCacheFile::Rows(const std::string& tablePath) const {
  RowScan scan;
  scan.path = tablePath;
  scan.opened = true;
  const auto* meta = reinterpret_cast<const CacheRows*>(sections_[kSecRows]);
  scan.textColumn = meta->textColumn != 0;
  scan.ratesAreValues = meta->ratesAreValues != 0;
  scan.flagsOnly = meta->flagsOnly != 0;
  scan.rows = static_cast<size_t>(meta->rows);
  scan.claimedRows = meta->claimedRows;
  scan.heldRows = meta->heldRows;
  std::memcpy(static_cast<void*>(&scan.dates), meta->dates, sizeof scan.dates);
  auto doubles = [this](int s, std::vector<double>& into) {
    const auto* p = reinterpret_cast<const double*>(sections_[s]);
    into.assign(p, p + header_->itemCount[s]);
  };
  doubles(kSecValues, scan.values);
  doubles(kSecRates, scan.rates);
  doubles(kSecWidths, scan.widths);
  const auto* flags = sections_[kSecFlags];
  scan.flags.assign(flags, flags + header_->itemCount[kSecFlags]);
  for (int s : {kSecValues, kSecFlags, kSecRates, kSecWidths}) Drop(s);
  return scan;
}

void LayerCacheFile::ReadRecords(RecordSink& sink) const {
  // A big point layer's records are made in the pool's blocks by every core.
  if (auto* layer = dynamic_cast<Layer*>(&sink);
      layer && header_->recordClass == kRecordPoint && RecordShareCount(RecordCount()) > 1) {
    MakePointRecords(*layer, LogFields{}, false);
    return;
  }
  ReadRecordsOneByOne(sink);
}

void LayerCacheFile::ReadRecordsOneByOne(RecordSink& sink) const {
  const auto* points = reinterpret_cast<const MapPoint*>(sections_[kSecPoints]);
  if (header_->recordClass == kRecordPoint) {
    const auto* runs = reinterpret_cast<const CacheRun*>(sections_[kSecRuns]);
    size_t at = 0;
    for (uint64_t r = 0; r < header_->itemCount[kSecRuns]; ++r) {
      int32_t number = runs[r].first;
      for (uint64_t i = 0; i < runs[r].count; ++i, number += runs[r].step) {
        Shape* shape = sink.CreateRecord(kRecordPoint, number, true);
        if (shape) {
          shape->SetPoint(points[at]);
          shape->FinishGeometry();
        }
        ++at;
      }
    }
  } else if (header_->recordClass == kRecordLine) {
    const auto* shapes = reinterpret_cast<const CacheShape*>(sections_[kSecShapes]);
    size_t at = 0;
    for (uint64_t i = 0; i < header_->itemCount[kSecShapes]; ++i) {
      Shape* shape = sink.CreateRecord(kRecordLine, shapes[i].recordNumber, true);
      if (shape) {
        shape->AddPoints(points + at, static_cast<int>(shapes[i].pointCount));
        shape->FinishGeometry();
      }
      at += shapes[i].pointCount;
    }
  } else if (header_->recordClass == kRecordArea) {
    // Held in drawing order; placed from the last, each in front of those
    // after it, so the ordered insert leaves them as they were.
    const auto* shapes = reinterpret_cast<const CacheShape*>(sections_[kSecShapes]);
    const auto* sizes = reinterpret_cast<const int32_t*>(sections_[kSecRings]);
    const size_t count = static_cast<size_t>(header_->itemCount[kSecShapes]);
    std::vector<size_t> pointAt(count), ringAt(count);
    size_t p = 0, r = 0;
    for (size_t i = 0; i < count; ++i) {
      pointAt[i] = p;
      ringAt[i] = r;
      p += shapes[i].pointCount;
      r += shapes[i].ringCount;
    }
    for (size_t i = count; i-- > 0;) {
      Shape* shape = sink.CreateRecord(kRecordArea, shapes[i].recordNumber, false);
      if (!shape) continue;
      size_t at = pointAt[i];
      for (uint32_t k = 0; k < shapes[i].ringCount; ++k) {
        const int32_t n = sizes[ringAt[i] + k];
        shape->AddPoints(points + at, n);
        at += static_cast<size_t>(n);
      }
      shape->FinishGeometry();
      sink.AddRecord(shape, false);
    }
  }
  const auto* zm = reinterpret_cast<const RecordZM*>(sections_[kSecZM]);
  for (uint64_t i = 0; i < header_->itemCount[kSecZM]; ++i) {
    sink.SetRecordZM(static_cast<int>(i + 1), zm[i]);
  }
  for (int s : {kSecRuns, kSecShapes, kSecPoints, kSecRings, kSecZM}) Drop(s);
}

DirectRows LayerCacheFile::ReadPointRecords(Layer& layer, const LogFields& fields) const {
  return MakePointRecords(layer, fields, true);
}

DirectRows LayerCacheFile::MakePointRecords(Layer& layer, const LogFields& fields, bool takeValues) const {
  DirectRows out;
  out.max = LayerStyle::RangeMaxStart();
  out.min = LayerStyle::RangeMinStart();
  const auto* meta = reinterpret_cast<const CacheRows*>(sections_[kSecRows]);
  const bool withValues = takeValues && header_->hasRows && meta->perRecord;
  const size_t total = static_cast<size_t>(header_->recordCount);
  const auto* points = reinterpret_cast<const MapPoint*>(sections_[kSecPoints]);
  const auto* runs = reinterpret_cast<const CacheRun*>(sections_[kSecRuns]);
  const size_t runCount = static_cast<size_t>(header_->itemCount[kSecRuns]);
  const auto* values = reinterpret_cast<const double*>(sections_[kSecValues]);
  const unsigned char* flags = sections_[kSecFlags];
  const LayerFilter& filter = layer.GetFilter();
  // The value and flags of record i (numbered number), and the range they make.
  auto apply = [&](Shape* shape, size_t i, int32_t number, double& max, double& min) {
    const double value = values[i];
    // Only the log bits: a code the record could not hold in its byte never comes.
    uint32_t bits = flags[i] & 0x0Fu;
    if (filter.IsCleanRemoved(static_cast<size_t>(number) - 1)) bits |= kFilterCleanRemoved;
    shape->SetValue(value);
    shape->SetFilterFlags(bits);
    if (value > max) max = value;
    if (value < min) min = value;
  };

  const size_t perBlock = PointShape::SlotsPerPoolBlock();
  std::vector<void*> blocks;
  if (header_->recordClass == kRecordPoint && total > 0 && PointShape::IsPooled()) {
    blocks = PointShape::TakePoolBlocks((total + perBlock - 1) / perBlock, layer.PointRecordOwner());
  }
  if (blocks.empty()) {
    // One record at a time, as the reader makes them.
    ReadRecordsOneByOne(layer);
    if (withValues && layer.Records().size() == total) {
      size_t i = 0;
      layer.Records().ForEach([&](Shape* shape) {
        apply(shape, i, shape->GetRecordNumber(), out.max, out.min);
        ++i;
      });
    }
  } else {
    // The first record of each run, counted over the runs before it.
    std::vector<uint64_t> runStart(runCount + 1, 0);
    for (size_t r = 0; r < runCount; ++r) runStart[r + 1] = runStart[r] + runs[r].count;
    struct Range {
      double max, min;
    };
    std::vector<Range> ranges(blocks.size(), Range{out.max, out.min});
    std::atomic<size_t> next{0};
    auto work = [&] {
      for (size_t b; (b = next.fetch_add(1)) < blocks.size();) {
        const size_t from = b * perBlock, to = std::min(total, from + perBlock);
        size_t r = static_cast<size_t>(std::upper_bound(runStart.begin(), runStart.end(), from) - runStart.begin()) - 1;
        int64_t number = int64_t{runs[r].first} + int64_t{runs[r].step} * static_cast<int64_t>(from - runStart[r]);
        char* slot = static_cast<char*>(blocks[b]);
        Range& range = ranges[b];
        for (size_t i = from; i < to; ++i, slot += RecordList::kRunStride) {
          while (i >= runStart[r + 1]) number = runs[++r].first;
          PointShape* shape = PointShape::MakeInSlot(slot, static_cast<int>(number), points[i]);
          if (withValues) apply(shape, i, static_cast<int32_t>(number), range.max, range.min);
          number += runs[r].step;
        }
      }
    };
    const unsigned threads = std::min<unsigned>(std::max(1u, std::thread::hardware_concurrency()), 16u);
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads && t < blocks.size(); ++t) helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers) helper.join();
    for (size_t b = 0; b < blocks.size(); ++b) {
      const size_t count = std::min(total - b * perBlock, perBlock);
      layer.AppendPointRun(static_cast<Shape*>(blocks[b]), count);
      if (withValues) {
        out.max = std::max(out.max, ranges[b].max);
        out.min = std::min(out.min, ranges[b].min);
      }
    }
    const size_t lastCount = total - (blocks.size() - 1) * perBlock;
    PointShape::GivePoolSlotsBack(static_cast<char*>(blocks.back()) + lastCount * RecordList::kRunStride,
                                  perBlock - lastCount);
    const auto* zm = reinterpret_cast<const RecordZM*>(sections_[kSecZM]);
    for (uint64_t i = 0; i < header_->itemCount[kSecZM]; ++i) layer.SetRecordZM(static_cast<int>(i + 1), zm[i]);
    for (int s : {kSecRuns, kSecPoints, kSecZM}) Drop(s);
    // The index's grid is copied out by a core of its own while the load
    // goes on to the settings and the colours.
    if (header_->itemCount[kSecIndex] == 1) {
      gridCopy_ = std::async(std::launch::async, [this] { return CopyGridArrays(); });
    }
  }
  if (!withValues) return out;
  for (int s : {kSecValues, kSecFlags}) Drop(s);
  RowScan sizes;
  sizes.path = layer.GetTablePath();
  sizes.opened = true;
  sizes.claimedRows = meta->claimedRows;
  sizes.heldRows = meta->heldRows;
  out.shortTableText = ShortTableText(sizes);
  const bool hasRate = fields.Has(LogField::Rate);
  layer.SetFieldKnown(0, hasRate, hasRate);
  out.applied = true;
  return out;
}

// ---------------------------------------------------------------- writing

// Counts a point record's number into the runs of record numbers.
void AddToRuns(std::vector<CacheRun>& runs, int32_t number) {
  if (!runs.empty()) {
    CacheRun& run = runs.back();
    if (run.count == 1 && (number == run.first || int64_t{number} == int64_t{run.first} + 1)) {
      run.step = number - run.first;
      ++run.count;
      return;
    }
    if (int64_t{number} == int64_t{run.first} + int64_t{run.step} * static_cast<int64_t>(run.count)) {
      ++run.count;
      return;
    }
  }
  runs.push_back({number, 1, 1});
}

// The parts of a cache beside the records: Z and M values, the rows (moved
// out of rows; with recordValues the values and flags by record already in
// c.rows), the index's shape and grid (copied, or with gridInPlace pointed
// at in the layer's index), with their items counted in the header.
void GatherRowsAndIndex(LayerCacheContents& c, const Layer& layer, RowScan* rows, int legendColumn,
                        const LogFields& fields, bool recordValues, const LayerCacheTableRows* tableRows,
                        bool gridInPlace) {
  LayerCacheHeader& h = c.header;
  const RecordList& records = layer.Records();
  std::vector<RecordZM>& zm = c.zm;
  for (int n = 1; const RecordZM* z = layer.GetRecordZM(n); ++n) zm.push_back(*z);

  CacheRows& meta = c.meta;
  if (recordValues) {
    h.hasRows = 1;
    meta.perRecord = 1;
    meta.legendColumn = legendColumn;
    for (int f = 0; f < kLogFieldCount; ++f) meta.logColumns[f] = fields.column[static_cast<size_t>(f)];
    meta.rows = records.size();
    // The table's sizes, for the status text of a short table.
    if (tableRows) {
      meta.claimedRows = static_cast<int64_t>(tableRows->claimed);
      meta.heldRows = static_cast<int64_t>(tableRows->held);
    } else if (DbfTable table; table.Open(layer.GetTablePath())) {
      meta.claimedRows = table.GetClaimedRecordCount();
      meta.heldRows = table.GetRecordCount();
    }
  } else if (rows) {
    h.hasRows = 1;
    meta.legendColumn = legendColumn;
    for (int f = 0; f < kLogFieldCount; ++f) meta.logColumns[f] = fields.column[static_cast<size_t>(f)];
    meta.textColumn = rows->textColumn ? 1 : 0;
    meta.ratesAreValues = rows->ratesAreValues ? 1 : 0;
    meta.flagsOnly = rows->flagsOnly ? 1 : 0;
    meta.rows = rows->rows;
    meta.claimedRows = rows->claimedRows;
    meta.heldRows = rows->heldRows;
    std::memcpy(meta.dates, static_cast<const void*>(&rows->dates), sizeof meta.dates);
  }

  CacheIndex& index = c.index;
  SpatialIndex::Grid& grid = c.grid;
  const SpatialIndex& built = layer.GetSpatialIndex();
  const bool indexed = built.IsBuilt() && built.size() == records.size();
  const std::vector<uint32_t>* arrays[3] = {&grid.cellStart, &grid.cellItems, &grid.always};
  if (indexed) {
    grid = gridInPlace ? built.GetGridShape() : built.GetGrid();
    if (gridInPlace) {
      arrays[0] = &built.GridCellStart();
      arrays[1] = &built.GridCellItems();
      arrays[2] = &built.GridAlways();
    }
    const MapRect bounds = layer.GetBounds();
    index = {grid.originX,
             grid.originY,
             grid.columns,
             grid.rows,
             grid.cellShift,
             grid.maxUnitsPerFoot,
             layer.GetSettings().displaySizeFt,
             {bounds.left, bounds.top, bounds.right, bounds.bottom}};
  }

  // The rows' arrays are taken, not copied.
  if (rows) c.rows = std::move(*rows);
  const bool hasRows = rows != nullptr || recordValues;
  c.data[kSecZM] = zm.data();
  c.data[kSecRows] = &meta;
  c.data[kSecValues] = c.rows.values.data();
  c.data[kSecFlags] = c.rows.flags.data();
  c.data[kSecRates] = c.rows.rates.data();
  c.data[kSecWidths] = c.rows.widths.data();
  c.data[kSecIndex] = &index;
  h.itemCount[kSecZM] = zm.size();
  h.itemCount[kSecRows] = hasRows ? 1u : 0u;
  h.itemCount[kSecValues] = c.rows.values.size();
  h.itemCount[kSecFlags] = c.rows.flags.size();
  h.itemCount[kSecRates] = c.rows.rates.size();
  h.itemCount[kSecWidths] = c.rows.widths.size();
  h.itemCount[kSecIndex] = indexed ? 1u : 0u;
  for (int a = 0; a < 3; ++a) {
    c.data[static_cast<size_t>(kSecCellStart + a)] = arrays[a]->data();
    h.itemCount[kSecCellStart + a] = arrays[a]->size();
  }
}

namespace {

// The fields every cache file's header opens with.
void StartHeader(LayerCacheHeader& h, const LayerCacheKey& key) {
  std::memcpy(h.magic, kMagic, sizeof kMagic);
  h.format = kLayerCacheFormat;
  h.headerBytes = sizeof(LayerCacheHeader);
  h.key = key;
}

// A point record's log flags as the cache keeps them by record (the low four
// bits); false when it carries other flags, which the reading never gives.
bool RecordLogFlags(const Shape* shape, uint8_t& flags) {
  const uint32_t bits = shape->GetFilterFlags() & ~static_cast<uint32_t>(kFilterCleanRemoved);
  flags = static_cast<uint8_t>(bits & 0x0Fu);
  return bits <= 0x0Fu;
}

}  // namespace

std::unique_ptr<LayerCacheContents> GatherLayerCache(const Layer& layer, const LayerCacheKey& key, RowScan* rows,
                                                     int legendColumn, const LogFields& fields, bool recordValues,
                                                     const LayerCacheTableRows* tableRows) {
  auto contents = std::make_unique<LayerCacheContents>();
  LayerCacheContents& c = *contents;
  LayerCacheHeader& h = c.header;
  StartHeader(h, key);
  std::vector<CacheRun>& runs = c.runs;
  std::vector<CacheShape>& shapes = c.shapes;
  std::vector<MapPoint>& points = c.points;
  std::vector<int32_t>& rings = c.rings;
  bool mixed = false;
  const RecordList& records = layer.Records();
  h.recordClass = records.empty() ? 0 : records.front()->GetRecordClass();
  // Each point record's value and log flags, by record.
  if (h.recordClass != kRecordPoint) recordValues = false;
  if (recordValues) rows = nullptr;
  if (h.recordClass == kRecordPoint && RecordShareCount(records.size()) == 1) points.reserve(records.size());
  std::vector<double> recordValueList;
  std::vector<uint8_t> recordFlagList;
  // A big point layer: points, values and flags by every core, each over its
  // share of the list; then the runs of record numbers in one walk.
  const unsigned shares = h.recordClass == kRecordPoint ? RecordShareCount(records.size()) : 1;
  const bool byShares = shares > 1;
  if (byShares) {
    const size_t n = records.size();
    c.pointArray.reset(new unsigned char[n * sizeof(MapPoint)]);
    if (recordValues) {
      c.valueArray.reset(new double[n]);
      c.flagArray.reset(new uint8_t[n]);
    }
    std::vector<size_t> next(shares);
    for (unsigned k = 0; k < shares; ++k) next[k] = n * k / shares;
    std::atomic<bool> odd{false}, otherFlags{false};
    ForEachRecordInShares(records, shares, [&](unsigned k, Shape* shape) {
      const size_t i = next[k]++;
      if (shape->GetRecordClass() != kRecordPoint) {
        odd.store(true, std::memory_order_relaxed);
        return;
      }
      const MapPoint p = static_cast<const PointShape*>(shape)->GetPoint();
      std::memcpy(c.pointArray.get() + i * sizeof(MapPoint), &p, sizeof p);
      if (c.valueArray) {
        c.valueArray[i] = shape->GetValue();
        if (!RecordLogFlags(shape, c.flagArray[i])) otherFlags.store(true, std::memory_order_relaxed);
      }
    });
    if (odd) return nullptr;
    if (otherFlags) recordValues = false;
  } else if (recordValues) {
    recordValueList.reserve(records.size());
    recordFlagList.reserve(records.size());
  }
  records.ForEach([&](Shape* shape) {
    if (shape->GetRecordClass() != h.recordClass) {
      mixed = true;
      return;
    }
    const int32_t number = shape->GetRecordNumber();
    if (h.recordClass == kRecordPoint) {
      if (!byShares) points.push_back(static_cast<const PointShape*>(shape)->GetPoint());
      if (recordValues && !byShares) {
        uint8_t flags = 0;
        // Flags beyond the log bits are not the reading's: nothing by record then.
        if (!RecordLogFlags(shape, flags)) recordValues = false;
        recordValueList.push_back(shape->GetValue());
        recordFlagList.push_back(flags);
      }
      AddToRuns(runs, number);
    } else if (h.recordClass == kRecordLine) {
      const auto& p = static_cast<const LineShape*>(shape)->GetPoints();
      shapes.push_back({number, static_cast<uint32_t>(p.size()), 0, 0});
      points.insert(points.end(), p.begin(), p.end());
    } else if (h.recordClass == kRecordArea) {
      const auto* area = static_cast<const AreaShape*>(shape);
      const auto& p = area->GetPoints();
      shapes.push_back({number, static_cast<uint32_t>(p.size()), static_cast<uint32_t>(area->GetRingCount()), 0});
      points.insert(points.end(), p.begin(), p.end());
      rings.insert(rings.end(), area->GetRingSizes().begin(), area->GetRingSizes().end());
    } else {
      mixed = true;
    }
  });
  if (mixed) return nullptr;
  h.recordCount = records.size();

  if (recordValues) {
    c.rows.values = std::move(recordValueList);
    c.rows.flags = std::move(recordFlagList);
  }
  GatherRowsAndIndex(c, layer, rows, legendColumn, fields, recordValues, tableRows, false);
  h.itemCount[kSecRuns] = runs.size();
  h.itemCount[kSecShapes] = shapes.size();
  h.itemCount[kSecPoints] = points.size();
  h.itemCount[kSecRings] = rings.size();
  c.data[kSecRuns] = runs.data();
  c.data[kSecShapes] = shapes.data();
  c.data[kSecPoints] = points.data();
  c.data[kSecRings] = rings.data();
  if (byShares) {
    c.data[kSecPoints] = c.pointArray.get();
    h.itemCount[kSecPoints] = records.size();
    if (recordValues) {
      c.data[kSecValues] = c.valueArray.get();
      c.data[kSecFlags] = c.flagArray.get();
      h.itemCount[kSecValues] = h.itemCount[kSecFlags] = records.size();
    }
  }
  for (int s = 0; s < kSectionCount; ++s) h.sectionBytes[s] = Pad8(h.itemCount[s] * kItemSize[s]);
  return contents;
}

// The checksums, worked out by the writer (off the loading thread).
void SealLayerCache(LayerCacheContents& c) {
  LayerCacheHeader& h = c.header;
  uint64_t sums[kSectionCount] = {};
  for (int s = 0; s < kSectionCount; ++s) {
    sums[s] = LayerCacheChecksum(c.data[static_cast<size_t>(s)], static_cast<size_t>(h.itemCount[s] * kItemSize[s]),
                                 static_cast<uint64_t>(s));
  }
  h.bodyChecksum = LayerCacheChecksum(sums, sizeof sums, kBodySeed);
  h.headerChecksum = HeaderChecksum(h);
}

bool WriteLayerCache(const std::string& path, LayerCacheContents& c) {
  if (path.empty()) return false;
  SealLayerCache(c);
  const std::string folder = path.substr(0, path.rfind('/'));
  if (!QDir().mkpath(QString::fromStdString(folder))) return false;
  SafeFile file;
  if (!file.Open(path)) return false;
  bool ok = file.Write(std::string_view(reinterpret_cast<const char*>(&c.header), sizeof c.header));
  static const char kZeros[8] = {};
  for (int s = 0; ok && s < kSectionCount; ++s) {
    const size_t bytes = static_cast<size_t>(c.header.itemCount[s] * kItemSize[s]);
    if (bytes > 0) ok = file.Write(std::string_view(static_cast<const char*>(c.data[static_cast<size_t>(s)]), bytes));
    const size_t pad = static_cast<size_t>(c.header.sectionBytes[s]) - bytes;
    if (ok && pad > 0) ok = file.Write(std::string_view(kZeros, pad));
  }
  if (!ok || !file.Commit()) return false;
  TrimLayerCacheFolder(folder, GetLayerCacheLimit(), path);
  return true;
}

namespace {

// The records a piece of a streamed cache holds: each piece's points, values
// and flags are written (and summed) while the next are read.
constexpr size_t kStreamPiece = 65536;

bool SameRuns(const std::vector<CacheRun>& a, const std::vector<CacheRun>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const CacheRun& x, const CacheRun& y) {
    return x.first == y.first && x.step == y.step && x.count == y.count;
  });
}

}  // namespace

bool WriteLayerCacheFromRecords(const std::string& path, const Layer& layer, const LayerCacheKey& key, RowScan* rows,
                                int legendColumn, const LogFields& fields, bool recordValues,
                                const LayerCacheTableRows& tableRows, const std::function<void()>& released) {
  const RecordList& records = layer.Records();
  const size_t n = records.size();
  const std::string folder = path.substr(0, path.rfind('/'));
  if (n == 0 || path.empty() || records.front()->GetRecordClass() != kRecordPoint ||
      !QDir().mkpath(QString::fromStdString(folder))) {
    released();
    return false;
  }
  if (recordValues) rows = nullptr;
  LayerCacheContents c;
  LayerCacheHeader& h = c.header;
  StartHeader(h, key);
  h.recordClass = kRecordPoint;
  h.recordCount = n;
  GatherRowsAndIndex(c, layer, rows, legendColumn, fields, recordValues, &tableRows, true);

  // The usual log: one run of consecutive numbers. When the walk finds other
  // runs (or flags the reading never gives), it is made again with them.
  std::vector<CacheRun> runs = {{records.front()->GetRecordNumber(), 1, n}};
  std::vector<MapPoint> points(kStreamPiece);
  std::vector<double> values(recordValues ? kStreamPiece : 0);
  std::vector<uint8_t> flags(recordValues ? kStreamPiece : 0);
  for (int attempt = 0; attempt < 3; ++attempt) {
    h.itemCount[kSecRuns] = runs.size();
    h.itemCount[kSecPoints] = n;
    if (recordValues) h.itemCount[kSecValues] = h.itemCount[kSecFlags] = n;
    uint64_t offset[kSectionCount];
    uint64_t at = sizeof(LayerCacheHeader);
    for (int s = 0; s < kSectionCount; ++s) {
      h.sectionBytes[s] = Pad8(h.itemCount[s] * kItemSize[s]);
      offset[s] = at;
      at += h.sectionBytes[s];
    }
    SafeFile file;
    if (!file.Open(path)) break;
    bool ok = true;
    ChecksumStream pointSum(kSecPoints), valueSum(kSecValues), flagSum(kSecFlags);
    std::vector<CacheRun> found;
    bool odd = false, otherFlags = false;
    size_t held = 0, done = 0;
    auto put = [&](int section, size_t itemSize, const void* data, ChecksumStream& sum) {
      const size_t bytes = held * itemSize;
      sum.Add(data, bytes);
      ok = ok && file.WriteAt(offset[section] + done * itemSize, std::string_view(static_cast<const char*>(data), bytes));
    };
    auto flush = [&] {
      if (held == 0 || !ok) return;
      put(kSecPoints, sizeof(MapPoint), points.data(), pointSum);
      if (recordValues) {
        put(kSecValues, sizeof(double), values.data(), valueSum);
        put(kSecFlags, sizeof(uint8_t), flags.data(), flagSum);
      }
      done += held;
      held = 0;
      // The disk takes what is written while the rest is read.
      if (done % (kStreamPiece * 32) == 0) file.StartFlush();
    };
    records.ForEach([&](Shape* shape) {
      if (odd || !ok) return;
      if (shape->GetRecordClass() != kRecordPoint) {
        odd = true;
        return;
      }
      AddToRuns(found, shape->GetRecordNumber());
      points[held] = static_cast<const PointShape*>(shape)->GetPoint();
      if (recordValues) {
        values[held] = shape->GetValue();
        if (!RecordLogFlags(shape, flags[held])) otherFlags = true;
      }
      if (++held == kStreamPiece) flush();
    });
    flush();
    if (odd || !ok) break;
    if (otherFlags && recordValues) {
      // Flags beyond the log bits are not the reading's: nothing by record.
      recordValues = false;
      h.hasRows = 0;
      h.itemCount[kSecRows] = h.itemCount[kSecValues] = h.itemCount[kSecFlags] = 0;
      runs = std::move(found);
      continue;
    }
    if (!SameRuns(found, runs)) {
      runs = std::move(found);
      continue;
    }
    // Everything else from the gathered parts and the layer's index.
    uint64_t sums[kSectionCount] = {};
    c.data[kSecRuns] = runs.data();
    static const char kZeros[8] = {};
    for (int s = 0; ok && s < kSectionCount; ++s) {
      const size_t bytes = static_cast<size_t>(h.itemCount[s] * kItemSize[s]);
      if (s == kSecPoints) {
        sums[s] = pointSum.Finish();
      } else if (recordValues && s == kSecValues) {
        sums[s] = valueSum.Finish();
      } else if (recordValues && s == kSecFlags) {
        sums[s] = flagSum.Finish();
      } else {
        const void* data = c.data[static_cast<size_t>(s)];
        sums[s] = LayerCacheChecksum(data, bytes, static_cast<uint64_t>(s));
        if (bytes > 0) ok = file.WriteAt(offset[s], std::string_view(static_cast<const char*>(data), bytes));
      }
      const size_t pad = static_cast<size_t>(h.sectionBytes[s]) - bytes;
      if (ok && pad > 0) ok = file.WriteAt(offset[s] + bytes, std::string_view(kZeros, pad));
    }
    // The layer is not read from here on.
    released();
    h.bodyChecksum = LayerCacheChecksum(sums, sizeof sums, kBodySeed);
    h.headerChecksum = HeaderChecksum(h);
    ok = ok && file.WriteAt(0, std::string_view(reinterpret_cast<const char*>(&h), sizeof h));
    if (!ok || !file.Commit()) return false;
    TrimLayerCacheFolder(folder, GetLayerCacheLimit(), path);
    return true;
  }
  released();
  return false;
}

void StoreLayerCacheInBackground(std::string path, std::unique_ptr<LayerCacheContents> contents) {
  // A program that ends without waiting still lets its writes finish.
  static const bool waitsAtExit = std::atexit(FinishLayerCacheWrites) == 0;
  (void)waitsAtExit;
  {
    std::lock_guard<std::mutex> lock(g_writesMutex);
    ++g_writesRunning;
  }
  std::thread([path = std::move(path), contents = std::move(contents)]() {
    BecomeBackgroundWriter();
    WriteLayerCache(path, *contents);
    EndBackgroundWrite();
  }).detach();
}

void StoreLayerCacheInBackground(std::function<void(const std::function<void()>& released)> write,
                                 const Layer& reading) {
  static const bool waitsAtExit = std::atexit(FinishLayerCacheWrites) == 0;
  (void)waitsAtExit;
  {
    std::lock_guard<std::mutex> lock(g_writesMutex);
    ++g_writesRunning;
    g_gathering.push_back(&reading);
  }
  // Waited for at the program's exit anyway: the write takes its share of
  // the cores beside the drawing instead of what the drawing leaves.
  const bool lowest = !IsLayerCacheGatherDeferred();
  std::thread([write = std::move(write), layer = &reading, lowest]() {
    BecomeBackgroundWriter(lowest);
    bool reading = true;
    const std::function<void()> released = [&reading, layer] {
      if (!reading) return;
      reading = false;
      {
        // The layer is free again once nothing more is read from it.
        std::lock_guard<std::mutex> lock(g_writesMutex);
        g_gathering.erase(std::find(g_gathering.begin(), g_gathering.end(), layer));
      }
      g_writesDone.notify_all();
    };
    write(released);
    released();
    EndBackgroundWrite();
  }).detach();
}

void FinishLayerCacheWrites() {
  std::unique_lock<std::mutex> lock(g_writesMutex);
  // Waited for now: the writers get their priority back where the system allows it.
  for (pid_t tid : g_writers) ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), 0);
  g_writesDone.wait(lock, [] { return g_writesRunning == 0; });
}

uint64_t TrimLayerCacheFolder(const std::string& folder, uint64_t limit, const std::string& keep) {
  struct Entry {
    std::string path;
    int64_t usedNs;
    uint64_t size;
  };
  std::vector<Entry> entries;
  uint64_t total = 0;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return 0;
  while (const dirent* d = ::readdir(dir)) {
    const std::string name = d->d_name;
    if (name.size() < 5 || name.compare(name.size() - 4, 4, ".kly") != 0 || name[0] == '.') continue;
    const std::string path = folder + "/" + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    const int64_t used = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    entries.push_back({path, path == keep ? INT64_MAX : used, static_cast<uint64_t>(st.st_size)});
    total += static_cast<uint64_t>(st.st_size);
  }
  ::closedir(dir);
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.usedNs != b.usedNs ? a.usedNs < b.usedNs : a.path < b.path;
  });
  uint64_t removed = 0;
  for (const Entry& e : entries) {
    if (total <= limit) break;
    if (::unlink(e.path.c_str()) == 0 || errno == ENOENT) {
      total -= e.size;
      removed += e.size;
    }
  }
  return removed;
}

// ---------------------------------------------------------------- the load's use

LayerCacheLoad::LayerCacheLoad(const Layer& layer) {
  if (!IsLayerCacheEnabled() || layer.GetBasePath().empty()) return;
  if (!dynamic_cast<const ShapeFileSource*>(&layer.Source())) return;
  if (!ComputeLayerCacheKey(layer.GetPathName(), layer.GetTablePath(), layer.GetCoordSystemKind(), layer.GetDatum(),
                            layer.GetZone(), layer.GetShapeKind(), key_)) {
    return;
  }
  path_ = LayerCachePathFor(layer.GetPathName());
  if (path_.empty()) return;
  active_ = true;
  file_ = LayerCacheFile::Open(path_, key_);
  // Used now: the last to be dropped when the folder is trimmed.
  if (file_) ::utimensat(AT_FDCWD, path_.c_str(), nullptr, 0);
}

bool LayerCacheLoad::Active() const { return active_ && IsLayerCacheEnabled(); }

void LayerCacheLoad::Store(const Layer& layer, RowScan* rows, int legendColumn, const LogFields& fields,
                           bool recordValues) {
  if (!active_ || !IsLayerCacheEnabled()) return;
  if (recordValues) rows = nullptr;
  // A matching file is written again only to keep what it lacks.
  if (file_ && (recordValues ? file_->HasRecordValues(legendColumn, fields)
                             : (!rows || file_->HasRows(legendColumn, fields)))) {
    return;
  }
  if (layer.GetRecordCount() == 0) return;
  const ShapeFileReader::LoadStats& stats = layer.GetReader().GetLoadStats();
  if (!file_ && (stats.SkippedTotal() > 0 || stats.tailLost || stats.stoppedEarly || stats.outsideDegrees)) return;
  if (rows && (!rows->opened || rows->error != DbfError::None)) rows = nullptr;
  // Files that changed while they were read would be cached under a key
  // that no longer describes what was read.
  LayerCacheKey now;
  if (!ComputeLayerCacheKey(layer.GetPathName(), layer.GetTablePath(), layer.GetCoordSystemKind(), layer.GetDatum(),
                            layer.GetZone(), layer.GetShapeKind(), now) ||
      now != key_) {
    return;
  }
  if (IsLayerCacheGatherDeferred()) {
    // The rows' arrays go with the thread that gathers; the table's sizes
    // are read here, while nothing else holds the table.
    auto taken = std::make_shared<RowScan>();
    if (rows) *taken = std::move(*rows);
    const bool withRows = rows != nullptr;
    LayerCacheTableRows tableRows;
    if (DbfTable table; recordValues && table.Open(layer.GetTablePath())) {
      tableRows.claimed = static_cast<uint64_t>(table.GetClaimedRecordCount());
      tableRows.held = static_cast<uint64_t>(table.GetRecordCount());
    }
    StoreLayerCacheInBackground(
        [path = path_, &layer, key = key_, taken, withRows, legendColumn, fields, recordValues,
         tableRows](const std::function<void()>& released) {
          RowScan* rows = withRows ? taken.get() : nullptr;
          // A big point layer is written straight from its records and index.
          if (RecordShareCount(layer.GetRecordCount()) > 1 && layer.Records().front()->GetRecordClass() == kRecordPoint) {
            WriteLayerCacheFromRecords(path, layer, key, rows, legendColumn, fields, recordValues, tableRows, released);
            return;
          }
          std::unique_ptr<LayerCacheContents> contents =
              GatherLayerCache(layer, key, rows, legendColumn, fields, recordValues, &tableRows);
          released();
          if (contents) WriteLayerCache(path, *contents);
        },
        layer);
    return;
  }
  std::unique_ptr<LayerCacheContents> contents = GatherLayerCache(layer, key_, rows, legendColumn, fields, recordValues);
  if (!contents) return;
  StoreLayerCacheInBackground(path_, std::move(contents));
}

}  // namespace kestrune
