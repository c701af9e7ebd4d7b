// A cache of loaded layers, so a file set opened again shows at once. After a
// load of a shape file set the projected geometry of its records (points in
// runs of record numbers, lines and areas with their rings), the Z and M
// values and the rows the load read from the table (the legend column's
// values, the log fields' flags, rates and widths, the dates; or, for a big
// point log whose rows went straight into its records, each record's value
// and log flags in list order) and the grid of the spatial index are written to
// one file under the user's cache folder ($XDG_CACHE_HOME/Kestrune/layers, by
// default ~/.cache/Kestrune/layers), in the background and through SafeFile.
// The next load of the same set maps that file and hands its records over
// instead of parsing and projecting the ".shp" and scanning the ".dbf".
//
// A cache file is used only when its key matches the files as they are now:
// the ".shp" and ".dbf" sizes, modification times (ns) and inodes, a hash of
// sampled 4 KiB blocks of both files (so bytes changed under a forged-back
// time are caught), the place the records were projected by (coordinate
// system, datum, zone), the shape kind and the format version. A file whose
// header checksum, section sizes, length or body checksum do not add up is
// ignored. Colours, legends and filters are never cached: the load applies
// them from the settings as it always does. A cache that cannot be written is
// left unwritten without a word: nothing the user sees depends on it.
//
// The folder is bounded (4 GiB by default): after each write the files used
// longest ago are removed until the rest fits. Using a cache file touches its
// time, so the oldest is the one opened longest ago.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "layers/DirectRows.h"
#include "layers/LogFields.h"
#include "layers/RowScan.h"
#include "layers/SpatialIndex.h"
#include "shapes/RecordSink.h"

namespace kestrune {

class Layer;

// Raise it whenever the file's layout or what it holds changes.
constexpr uint32_t kLayerCacheFormat = 4;
constexpr uint64_t kDefaultLayerCacheLimit = uint64_t{4} << 30;

// ---- Process-wide switch. Off until a program turns it on (the viewer and
// kestrune-cli render and info do, unless the preferences turned the cache
// off); the environment variable KESTRUNE_LAYER_CACHE=0 keeps it off whatever
// the program asks.
void SetLayerCacheEnabled(bool on);
bool IsLayerCacheEnabled();
// The most bytes the cache folder may hold.
void SetLayerCacheLimit(uint64_t bytes);
uint64_t GetLayerCacheLimit();
// $XDG_CACHE_HOME/Kestrune/layers, or $HOME/.cache/Kestrune/layers.
std::string LayerCacheFolder();
// The cache file of a ".shp" path (named by a hash of its absolute path).
std::string LayerCachePathFor(const std::string& shpPath);

// Takes the bound from the preferences and gives whether they keep the cache on.
bool LayerCacheFromPreferences();

// Whether a load leaves the gathering of its cache's contents to the
// background thread that writes them, so the first picture does not wait for
// it. Only for a program whose layers keep their records, values and flags
// as loaded (nothing but drawing touches them) until the write is done, as
// kestrune-cli render's do; a layer's Clear (and so its destruction) waits
// for its gathering. Process-wide; off by default.
void SetLayerCacheGatherDeferred(bool on);
bool IsLayerCacheGatherDeferred();
// Waits until no background gathering reads the layer.
void WaitForLayerCacheGather(const Layer& layer);

// Turns the cache on for a command's run as the preferences say (with its
// gathering in the background when deferGather), and on leaving waits for
// the cache writes it started and puts the switches back.
class ScopedLayerCache {
 public:
  explicit ScopedLayerCache(bool on, bool deferGather = false);
  ~ScopedLayerCache();
  ScopedLayerCache(const ScopedLayerCache&) = delete;
  ScopedLayerCache& operator=(const ScopedLayerCache&) = delete;

 private:
  bool old_;
  bool oldDeferred_;
};

// What a cache file must match: the files as they are and the projection.
struct LayerCacheKey {
  struct FileKey {
    uint64_t size = 0;
    int64_t mtimeNs = 0;
    uint64_t inode = 0;
    uint64_t device = 0;
    uint64_t sampleHash = 0;
  };
  FileKey shp;
  FileKey dbf;  // all zero when the set has no table
  int32_t coordSystemKind = 0;
  int32_t datum = 0;
  int32_t zone = 0;
  int32_t shapeKind = 0;
  uint32_t format = kLayerCacheFormat;
  uint32_t reserved = 0;

  bool operator==(const LayerCacheKey& other) const;
  bool operator!=(const LayerCacheKey& other) const { return !(*this == other); }
};

// The key of a set as it is now; false when the ".shp" cannot be looked at.
bool ComputeLayerCacheKey(const std::string& shpPath, const std::string& dbfPath, int coordSystemKind, int datum,
                          int zone, int shapeKind, LayerCacheKey& key);

// A 64-bit checksum of bytes, at memory speed; any one changed 8-byte word
// changes it.
uint64_t LayerCacheChecksum(const void* data, size_t size, uint64_t seed = 0);

// A cache file mapped into memory and found whole and matching its key.
class LayerCacheFile {
 public:
  ~LayerCacheFile();
  LayerCacheFile(const LayerCacheFile&) = delete;
  LayerCacheFile& operator=(const LayerCacheFile&) = delete;

  // Maps the file and checks it; null when it is missing, damaged, of
  // another format or made for another key.
  static std::unique_ptr<LayerCacheFile> Open(const std::string& path, const LayerCacheKey& key);

  // Whether it holds the rows read for this legend column and these log fields.
  bool HasRows(int legendColumn, const LogFields& fields) const;
  // Those rows, as a scan of the table at tablePath would give them.
  RowScan Rows(const std::string& tablePath) const;
  // Whether it holds each record's value of this legend column and log flags
  // of these fields, as reading the rows straight into the records gives them.
  bool HasRecordValues(int legendColumn, const LogFields& fields) const;
  // Hands a point layer its records with those values and flags (the
  // filter's records removed by cleaning marked as that reading marks them),
  // as ApplyRowsDirect would leave them: the pool's blocks filled from the
  // mapped arrays by every core. The result is that of ApplyRowsDirect.
  DirectRows ReadPointRecords(Layer& layer, const LogFields& fields) const;
  // Hands the records to the sink as the shape file's reader would: in the
  // same order, with the same geometry and Z and M values (a big point
  // layer's made in the pool's blocks by every core, without values).
  void ReadRecords(RecordSink& sink) const;
  size_t RecordCount() const;
  // The spatial index's grid for those records; false when none was kept.
  bool IndexGrid(SpatialIndex::Grid& grid) const;
  // The records' bounds as the load found them for this display size (feet);
  // false when it kept them for another.
  bool KeptBounds(double displaySizeFt, MapRect& bounds) const;

 private:
  LayerCacheFile() = default;
  bool Check(const LayerCacheKey& key);
  // ReadPointRecords, with the values and flags only when takeValues.
  DirectRows MakePointRecords(Layer& layer, const LogFields& fields, bool takeValues) const;
  // ReadRecords a record at a time.
  void ReadRecordsOneByOne(RecordSink& sink) const;
  // Each section's checksum, into sums (kSectionCount of them).
  void SumSections(uint64_t* sums) const;
  // Gives the pages of a section taken already back to the system (they
  // would be read again from the file if touched).
  void Drop(int section) const;

  // The index's grid arrays (cell starts, cell items, always visited),
  // copied out of the mapping.
  using GridArrays = std::tuple<std::vector<uint32_t>, std::vector<uint32_t>, std::vector<uint32_t>>;
  GridArrays CopyGridArrays() const;
  // That copy, when ReadPointRecords started it beside the rest of the load.
  mutable std::future<GridArrays> gridCopy_;

  const unsigned char* data_ = nullptr;
  size_t size_ = 0;
  const struct LayerCacheHeader* header_ = nullptr;
  const unsigned char* sections_[20] = {};
};

// What a cache file of a loaded layer holds: its records and Z and M values,
// its index's grid, and the rows when given (read for that column and those
// fields; their arrays are moved out of rows, not copied). Null when the
// layer cannot be cached (records of several classes).
struct LayerCacheContents;
// The table's claimed and held row counts, as a gathering by record keeps them.
struct LayerCacheTableRows {
  uint64_t claimed = 0;
  uint64_t held = 0;
};
// tableRows: those counts read before (a gathering in the background must
// not open the table, which takes its lock); null: the table is opened.
std::unique_ptr<LayerCacheContents> GatherLayerCache(const Layer& layer, const LayerCacheKey& key, RowScan* rows,
                                                     int legendColumn, const LogFields& fields,
                                                     bool recordValues = false,
                                                     const LayerCacheTableRows* tableRows = nullptr);

// Seals the contents with their checksums and writes them to path through
// SafeFile, then trims the folder to the limit; false when the write failed.
bool WriteLayerCache(const std::string& path, LayerCacheContents& contents);
// The same in a background thread; failures are never shown.
void StoreLayerCacheInBackground(std::string path, std::unique_ptr<LayerCacheContents> contents);
// Runs write in a background thread that reads the layer until write calls
// released (or returns); WaitForLayerCacheGather waits for that.
void StoreLayerCacheInBackground(std::function<void(const std::function<void()>& released)> write,
                                 const Layer& reading);
// A point layer's cache written straight from its records, in pieces (its
// points, values and flags read a piece at a time, its index's grid as it is),
// never holding a copy of the whole: the same bytes WriteLayerCache writes
// for what GatherLayerCache gathers from the layer. released is called once
// the layer is no longer read. False when nothing was written (a layer of
// other records, or a failed write).
bool WriteLayerCacheFromRecords(const std::string& path, const Layer& layer, const LayerCacheKey& key, RowScan* rows,
                                int legendColumn, const LogFields& fields, bool recordValues,
                                const LayerCacheTableRows& tableRows, const std::function<void()>& released);
// Waits for every background write started so far.
void FinishLayerCacheWrites();
// Removes the cache files of the folder used longest ago until the rest
// holds at most limit bytes; keep (a path) is removed last of all. Also
// removes leftovers of interrupted writes. Gives the bytes removed.
uint64_t TrimLayerCacheFolder(const std::string& folder, uint64_t limit, const std::string& keep = std::string());

// The layer load's use of the cache: made before the records are read, it
// finds a matching cache file (when the cache is on and the layer is a shape
// file set); after a load that parsed the files, Store writes a new one
// unless the files changed while they were read.
class LayerCacheLoad {
 public:
  explicit LayerCacheLoad(const Layer& layer);
  // The matching cache file, or null.
  const LayerCacheFile* Hit() const { return file_.get(); }
  // Whether the cache is in use for this load (on, and a shape file set).
  bool Active() const;
  // After a parsing load: writes the cache in the background (nothing when
  // the cache is off, the load skipped records, or the files changed).
  // The rows' arrays are taken (the load has applied them by then). With
  // recordValues the records' own values and flags (read straight into them
  // for that column and those fields) are kept instead of rows.
  void Store(const Layer& layer, RowScan* rows, int legendColumn, const LogFields& fields, bool recordValues = false);

 private:
  bool active_ = false;
  LayerCacheKey key_;
  std::string path_;
  std::unique_ptr<LayerCacheFile> file_;
};

}  // namespace kestrune
