// The layer cache: a cached open gives what a parsing open gives, every
// change of the files or the projection makes it parse again, a damaged cache
// file is ignored, and the folder stays within its bound.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/SideFileWrites.h"
#include "geo/RecordingCanvas.h"
#include "layers/DirectRows.h"
#include "layers/Layer.h"
#include "layers/LayerCache.h"
#include "layers/LayerInfo.h"
#include "layers/LayerTestFiles.h"
#include "support/SafeWriteTesting.h"

namespace kestrune::test {
namespace {

namespace fs = std::filesystem;

// Every test caches into a folder of its own, never the user's.
class LayerCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("XDG_CACHE_HOME")) oldCache_ = old, hadCache_ = true;
    ::setenv("XDG_CACHE_HOME", cacheDir_.path().c_str(), 1);
    ::unsetenv("KESTRUNE_LAYER_CACHE");
    SetLayerCacheEnabled(true);
  }
  void TearDown() override {
    FinishLayerCacheWrites();
    SetLayerCacheEnabled(false);
    SetLayerCacheLimit(kDefaultLayerCacheLimit);
    SetDirectRowsMinRecords(4096);
    if (hadCache_) {
      ::setenv("XDG_CACHE_HOME", oldCache_.c_str(), 1);
    } else {
      ::unsetenv("XDG_CACHE_HOME");
    }
  }

  // A loaded layer (opened as kestrune-cli opens it: nothing written beside it).
  static std::unique_ptr<Layer> Load(const std::string& path) {
    const ScopedSideFileWrites untouched(SideFileWrites::InMemory);
    auto layer = std::make_unique<Layer>();
    layer->SetPathName(path);
    if (!layer->Open() || !layer->Load()) return nullptr;
    FinishLayerCacheWrites();
    return layer;
  }
  static std::vector<std::string> Info(const std::string& path) {
    const ScopedSideFileWrites untouched(SideFileWrites::InMemory);
    auto layer = Load(path);
    return layer ? LayerInfoLines(*layer, path, true) : std::vector<std::string>{};
  }
  // Truncations, one byte more, and flipped bytes in every part of the set's
  // cache file (header, sections, checksums, the last byte, and flips at the
  // given fractions of its length): each is ignored, the open gives what a
  // parsing open gives, and the cache is written whole again.
  static void ExpectDamageIgnored(const std::string& shp, const std::vector<double>& fractions = {});
  // Whether a load of the set now would take its records from the cache.
  static bool WouldHit(const std::string& path) {
    Layer layer;
    layer.SetPathName(path);
    if (!layer.Open()) return false;
    return LayerCacheLoad(layer).Hit() != nullptr;
  }

  TempDir cacheDir_;
  TempDir data_;
  std::string oldCache_;
  bool hadCache_ = false;
};

std::vector<XY> Points(int n, double shift = 0.0) {
  std::vector<XY> points;
  for (int i = 0; i < n; ++i) points.push_back({-95.0 + 0.001 * i + shift, 42.0 + 0.0005 * (i % 37)});
  return points;
}
std::vector<double> Values(int n) {
  std::vector<double> values;
  for (int i = 0; i < n; ++i) values.push_back(10.0 + (i * 7) % 23);
  return values;
}

int64_t MtimeNs(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}
void SetMtimeNs(const std::string& path, int64_t ns) {
  const timespec times[2] = {{ns / 1000000000, ns % 1000000000}, {ns / 1000000000, ns % 1000000000}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}
// Overwrites bytes in place (same inode), then puts the time back.
void PatchForgingTime(const std::string& path, size_t offset, const std::string& bytes) {
  const int64_t before = MtimeNs(path);
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  f.close();
  SetMtimeNs(path, before);
}

// ---------------------------------------------------------------- same result

TEST_F(LayerCacheTest, CachedOpenOfRealSetsGivesTheSameRecordsValuesAndHits) {
  KESTRUNE_TESTDATA_OR_SKIP(data);
  const char* const sets[] = {"field/yield-simple1.shp",     "field/as-applied-simple1.shp",
                              "field/ab-line-simple1.shp",   "field/boundary-simple1.shp",
                              "field/field_boundary_with_holes.shp", "field/ssurgo-simple1.shp",
                              "shapes/multipoint.shp",       "shapes/polyline.shp",
                              "shapes/polygon.shp",          "projected/yield-utm28.shp"};
  for (const char* set : sets) {
    SCOPED_TRACE(set);
    TempDir dir;
    const std::string path = CopyFileSet(data / set, dir.path()).string();
    ASSERT_FALSE(WouldHit(path));
    const std::vector<std::string> parsed = Info(path);
    ASSERT_FALSE(parsed.empty());
    ASSERT_TRUE(fs::exists(LayerCachePathFor(path)));
    ASSERT_TRUE(WouldHit(path));
    EXPECT_EQ(Info(path), parsed);

    // The same records are found by a rectangle and a click.
    auto fresh = Load(path);
    ASSERT_TRUE(fresh);
    SetLayerCacheEnabled(false);
    auto reference = Load(path);
    SetLayerCacheEnabled(true);
    ASSERT_TRUE(reference);
    EXPECT_EQ(fresh->GetBounds(), reference->GetBounds());
    EXPECT_TRUE(fresh->GetSpatialIndex().IsBuilt());
    EXPECT_TRUE(fresh->GetSpatialIndex().GetGrid() == reference->GetSpatialIndex().GetGrid());
    EXPECT_EQ(fresh->FindInRect(reference->GetBounds()).size(), reference->FindInRect(reference->GetBounds()).size());
    Shape* first = reference->Records().front();
    const MapPoint at = first->GetLabelPoint();
    Shape* hitFresh = fresh->HitTestPoint(at);
    Shape* hitReference = reference->HitTestPoint(at);
    ASSERT_EQ(hitFresh == nullptr, hitReference == nullptr);
    if (hitReference) {
      EXPECT_EQ(hitFresh->GetRecordNumber(), hitReference->GetRecordNumber());
    }
  }
}

TEST_F(LayerCacheTest, ChangedLegendColumnRereadsTheTableAndCachesItsRows) {
  const std::string path = WritePointSet(data_, "log", Points(50), Values(50));
  ASSERT_TRUE(Load(path));
  // The theme is chosen (and written to the ".gpe"): the cache holds no rows
  // for it, so the next load reads the table again and caches those rows.
  {
    auto layer = Load(path);
    ASSERT_TRUE(layer);
    layer->SetThemeField(1);
  }
  {
    Layer probe;
    probe.SetPathName(path);
    ASSERT_TRUE(probe.Open());
    EXPECT_TRUE(LayerCacheLoad(probe).Hit());
  }
  auto again = Load(path);
  ASSERT_TRUE(again);
  ASSERT_EQ(again->GetLegendColumn(), 1);
  EXPECT_DOUBLE_EQ(again->Records().front()->GetValue(), 10.0);
  EXPECT_DOUBLE_EQ(again->Records().back()->GetValue(), Values(50).back());
  Layer probe;
  probe.SetPathName(path);
  ASSERT_TRUE(probe.Open());
  LayerCacheLoad cache(probe);
  ASSERT_TRUE(cache.Hit());
  EXPECT_TRUE(cache.Hit()->HasRows(1, again->GetLogFields()));
  EXPECT_EQ(cache.Hit()->Rows("").values, std::vector<double>(Values(50)));
}

// ---------------------------------------------------------------- values by record

// Writes a ".gpe" that colours by a field through the legend.
void ThemeBy(const std::string& shp, int field) {
  std::ofstream(fs::path(shp).replace_extension(".gpe")) << "[Options]\r\nLEGEND_COL=" << field
                                                         << "\r\nCOLOR_METHOD=1\r\n";
}

// Whether the set's cache holds the records' values of that legend column.
bool CachesRecordValues(const std::string& shp, int column) {
  Layer probe;
  probe.SetPathName(shp);
  if (!probe.Open()) return false;
  LayerCacheLoad cache(probe);
  return cache.Hit() && cache.Hit()->HasRecordValues(column, LoadLogFields(probe.GetSettingsPath(), probe.GetTablePath()));
}

// A point log whose rows go straight into its records keeps their values by
// record: the cached open reads no row and gives the records, legend, flags,
// summary and hits of a fresh load; a theme field the cache did not keep is
// read from the table and cached in its turn. Real logs (every size counted
// big) and a generated log over one pool block, filled by every core.
TEST_F(LayerCacheTest, ValuesKeptByRecordGiveWhatAFreshLoadGives) {
  struct Set {
    std::string shp;
    std::vector<int> themes;  // the first is cached first; then each in turn
  };
  std::vector<Set> sets;
  TempDir generated;
  const std::string command = std::string("/usr/bin/python3 '") + KESTRUNE_SHARED_TOOLS_DIR + "/make_field_log.py' '" +
                              generated.path().string() + "' --points 66000 >/dev/null 2>&1";
  // Fields: Rate, Target, Boom, Speed, Elev, Product, Logged, Time, Width.
  if (std::system(command.c_str()) == 0) sets.push_back({(generated / "points.shp").string(), {1, 2, 5}});
  TempDir real;
  const fs::path data = TestDataDir();
  if (fs::exists(data / "field")) {
    SetDirectRowsMinRecords(1);
    for (const char* set : {"field/yield-simple1.shp", "field/as-applied-simple1.shp"}) {
      sets.push_back({CopyFileSet(data / set, real.path()).string(), {1, 2}});
    }
  } else {
    EXPECT_NE(std::getenv("KESTRUNE_REQUIRE_TESTDATA"), std::string("1")) << "the test data is missing";
  }
  if (sets.empty()) GTEST_SKIP() << "neither python3 with pyshp nor the test data";
  for (const Set& set : sets) {
    SCOPED_TRACE(set.shp);
    fs::remove(LayerCachePathFor(set.shp));
    for (size_t i = 0; i < set.themes.size(); ++i) {
      const int theme = set.themes[i];
      SCOPED_TRACE("theme " + std::to_string(theme));
      ThemeBy(set.shp, theme);
      SetLayerCacheEnabled(false);
      const std::vector<std::string> fresh = Info(set.shp);
      auto reference = Load(set.shp);
      SetLayerCacheEnabled(true);
      ASSERT_FALSE(fresh.empty());
      ASSERT_TRUE(reference);
      ASSERT_TRUE(UsesDirectRows(reference->GetShapeKind(), theme, set.shp));
      // The cache holds another theme's values (or none): this open reads the
      // table, then keeps this theme's values.
      EXPECT_EQ(CachesRecordValues(set.shp, theme), false);
      EXPECT_EQ(Info(set.shp), fresh);
      ASSERT_TRUE(CachesRecordValues(set.shp, theme));
      // Served by the cache: the same lines, bounds, index and hits.
      EXPECT_EQ(Info(set.shp), fresh);
      auto cached = Load(set.shp);
      ASSERT_TRUE(cached);
      EXPECT_EQ(cached->GetBounds(), reference->GetBounds());
      EXPECT_TRUE(cached->GetSpatialIndex().GetGrid() == reference->GetSpatialIndex().GetGrid());
      EXPECT_EQ(cached->FindInRect(reference->GetBounds()).size(), reference->FindInRect(reference->GetBounds()).size());
      size_t differing = 0;
      auto a = cached->Records().begin();
      for (Shape* b : reference->Records()) {
        Shape* s = *a++;
        const bool same = s->GetRecordNumber() == b->GetRecordNumber() && s->GetColor() == b->GetColor() &&
                          s->GetFilterFlags() == b->GetFilterFlags() && s->GetOwner() == cached.get() &&
                          (s->GetValue() == b->GetValue() || (std::isnan(s->GetValue()) && std::isnan(b->GetValue())));
        differing += same ? 0 : 1;
      }
      EXPECT_EQ(differing, 0u);
      EXPECT_EQ(cached->GetSummary().fieldArea, reference->GetSummary().fieldArea);
    }
  }
}

// ---------------------------------------------------------------- key

TEST_F(LayerCacheTest, EveryChangeOfTheFilesMakesTheLoadParseAgain) {
  struct Case {
    const char* name;
    std::function<void(const std::string& shp, const std::string& dbf)> change;
    // The first record's expected x after the change, relative to before (0 same).
    bool movesPoints;
  };
  const std::vector<Case> cases = {
      {"shp size",
       [](const std::string& shp, const std::string&) {
         const TempDir other;
         const std::string p = WritePointSet(other, "x", Points(51), Values(51));
         fs::copy_file(p, shp, fs::copy_options::overwrite_existing);
       },
       false},
      {"shp time",
       [](const std::string& shp, const std::string&) { SetMtimeNs(shp, MtimeNs(shp) - 5000000000LL); }, false},
      {"shp inode",
       [](const std::string& shp, const std::string&) {
         const int64_t t = MtimeNs(shp);
         fs::copy_file(shp, shp + ".new");
         fs::rename(shp + ".new", shp);
         SetMtimeNs(shp, t);
       },
       false},
      {"shp bytes, time and inode forged back",
       [](const std::string& shp, const std::string&) {
         // The first point's x (record header 8 + type 4 after the 100-byte header).
         const double x = -94.5;
         PatchForgingTime(shp, 112, std::string(reinterpret_cast<const char*>(&x), 8));
       },
       true},
      {"shp bytes in the middle, time forged back",
       [](const std::string& shp, const std::string&) {
         const double x = -94.25;
         PatchForgingTime(shp, 100 + 28 * 25 + 12, std::string(reinterpret_cast<const char*>(&x), 8));
       },
       true},
      {"dbf bytes, time forged back",
       [](const std::string&, const std::string& dbf) {
         // The first row's value: after the header (32 + 32 per field + 1) and the deletion flag.
         PatchForgingTime(dbf, 32 + 32 + 1 + 1, Number(99.0));
       },
       false},
      {"dbf time", [](const std::string&, const std::string& dbf) { SetMtimeNs(dbf, MtimeNs(dbf) + 1000); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string shp = WritePointSet(dir, "log", Points(50), Values(50));
    const std::string dbf = (dir / "log.dbf").string();
    auto first = Load(shp);
    ASSERT_TRUE(first);
    ASSERT_TRUE(WouldHit(shp));
    c.change(shp, dbf);
    EXPECT_FALSE(WouldHit(shp));
    // The load after the change gives what the files now hold, and caches it.
    const std::vector<std::string> now = Info(shp);
    SetLayerCacheEnabled(false);
    const std::vector<std::string> parsed = Info(shp);
    SetLayerCacheEnabled(true);
    EXPECT_EQ(now, parsed);
    if (c.movesPoints) {
      EXPECT_NE(now, LayerInfoLines(*first, shp, true));
    }
    EXPECT_TRUE(WouldHit(shp));
  }
}

TEST_F(LayerCacheTest, KeyOfAnotherProjectionOrFormatIsRefused) {
  const std::string shp = WritePointSet(data_, "log", Points(20), Values(20));
  auto layer = Load(shp);
  ASSERT_TRUE(layer);
  const std::string cache = LayerCachePathFor(shp);
  LayerCacheKey key;
  ASSERT_TRUE(ComputeLayerCacheKey(shp, (data_ / "log.dbf").string(), layer->GetCoordSystemKind(), layer->GetDatum(),
                                   layer->GetZone(), layer->GetShapeKind(), key));
  ASSERT_TRUE(LayerCacheFile::Open(cache, key));
  struct Case {
    const char* name;
    std::function<void(LayerCacheKey&)> change;
  };
  const std::vector<Case> cases = {
      {"coordinate system", [](LayerCacheKey& k) { k.coordSystemKind ^= 1; }},
      {"datum", [](LayerCacheKey& k) { k.datum += 1; }},
      {"zone", [](LayerCacheKey& k) { k.zone += 1; }},
      {"shape kind", [](LayerCacheKey& k) { k.shapeKind += 1; }},
      {"format", [](LayerCacheKey& k) { k.format += 1; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LayerCacheKey other = key;
    c.change(other);
    EXPECT_FALSE(LayerCacheFile::Open(cache, other));
  }
  // A file written by another format version is refused even for its own key.
  std::string bytes = ReadFileBytes(cache);
  bytes[8] = static_cast<char>(kLayerCacheFormat + 1);
  WriteFileBytes(cache, bytes);
  EXPECT_FALSE(LayerCacheFile::Open(cache, key));
}

// ---------------------------------------------------------------- damage

TEST_F(LayerCacheTest, TruncatedOrFlippedCacheFileIsIgnored) {
  ExpectDamageIgnored(WritePointSet(data_, "log", Points(300), Values(300)));
}

// The same for a cache holding values by record (its values and flags
// sections, from the middle of the file to the index).
TEST_F(LayerCacheTest, TruncatedOrFlippedCacheOfValuesByRecordIsIgnored) {
  SetDirectRowsMinRecords(1);
  const std::string shp = WritePointSet(data_, "log", Points(300), Values(300));
  ThemeBy(shp, 1);
  ASSERT_TRUE(Load(shp));
  ASSERT_TRUE(CachesRecordValues(shp, 1));
  ExpectDamageIgnored(shp, {0.55, 0.65, 0.72, 0.8, 0.9});
}

void LayerCacheTest::ExpectDamageIgnored(const std::string& shp, const std::vector<double>& fractions) {
  SetLayerCacheEnabled(false);
  const std::vector<std::string> parsed = Info(shp);
  SetLayerCacheEnabled(true);
  ASSERT_TRUE(Load(shp));
  const std::string cache = LayerCachePathFor(shp);
  const std::string good = ReadFileBytes(cache);
  ASSERT_GT(good.size(), 2000u);
  ASSERT_TRUE(WouldHit(shp));

  std::vector<std::pair<std::string, std::string>> damaged;
  for (size_t length : {size_t{0}, size_t{7}, size_t{100}, size_t{300}, good.size() / 2, good.size() - 8,
                        good.size() - 1}) {
    damaged.push_back({"truncated to " + std::to_string(length), good.substr(0, length)});
  }
  damaged.push_back({"one byte more", good + '\0'});
  // A flip in the magic, the key, the counts and sizes, the checksums, the
  // first section, the middle and the very last byte.
  std::vector<size_t> flips = {size_t{0}, size_t{20},      size_t{150},    size_t{260},
                               size_t{330}, size_t{400}, good.size() / 2, good.size() - 1};
  for (double f : fractions) flips.push_back(static_cast<size_t>(static_cast<double>(good.size()) * f));
  for (size_t at : flips) {
    std::string flipped = good;
    flipped[at] = static_cast<char>(flipped[at] ^ 0x10);
    damaged.push_back({"flipped at " + std::to_string(at), flipped});
  }
  for (const auto& [name, bytes] : damaged) {
    SCOPED_TRACE(name);
    WriteFileBytes(cache, bytes);
    EXPECT_FALSE(WouldHit(shp));
    EXPECT_EQ(Info(shp), parsed);
    // The load wrote a whole cache again.
    EXPECT_EQ(ReadFileBytes(cache), good);
  }
}

// ---------------------------------------------------------------- switch and bound

TEST_F(LayerCacheTest, OffWritesNothing) {
  const std::string shp = WritePointSet(data_, "log", Points(10), Values(10));
  SetLayerCacheEnabled(false);
  ASSERT_TRUE(Load(shp));
  EXPECT_FALSE(fs::exists(LayerCachePathFor(shp)));
  SetLayerCacheEnabled(true);
  ::setenv("KESTRUNE_LAYER_CACHE", "0", 1);
  ASSERT_TRUE(Load(shp));
  ::unsetenv("KESTRUNE_LAYER_CACHE");
  EXPECT_FALSE(fs::exists(LayerCachePathFor(shp)));
  // Nothing is ever written beside the user's files.
  ASSERT_TRUE(Load(shp));
  EXPECT_TRUE(fs::exists(LayerCachePathFor(shp)));
  EXPECT_EQ(LayerCachePathFor(shp).rfind(cacheDir_.path().string() + "/Kestrune/layers/", 0), 0u);
  for (const auto& entry : fs::directory_iterator(data_.path())) {
    EXPECT_NE(entry.path().extension(), ".kly");
  }
}

TEST_F(LayerCacheTest, TrimDropsTheFilesUsedLongestAgoFirst) {
  const std::string folder = LayerCacheFolder();
  fs::create_directories(folder);
  const int64_t base = int64_t{1700000000} * 1000000000;
  // name, age order (larger is newer), size
  struct File {
    const char* name;
    int64_t usedAt;
    size_t size;
  };
  const std::vector<File> files = {{"c.kly", 3, 100}, {"a.kly", 1, 100}, {"d.kly", 4, 100}, {"b.kly", 2, 100}};
  for (const File& f : files) {
    WriteFileBytes(folder + "/" + f.name, std::string(f.size, 'x'));
    SetMtimeNs(folder + "/" + f.name, base + f.usedAt * 1000000000);
  }
  WriteFileBytes(folder + "/notes.txt", std::string(500, 'y'));

  struct Step {
    uint64_t limit;
    const char* keep;
    std::vector<const char*> left;
  };
  const std::vector<Step> steps = {
      {400, "", {"a.kly", "b.kly", "c.kly", "d.kly"}},
      {250, "", {"c.kly", "d.kly"}},
      {100, "c.kly", {"c.kly"}},
      {0, "", {}},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.limit);
    TrimLayerCacheFolder(folder, s.limit, s.keep[0] ? folder + "/" + s.keep : std::string());
    for (const char* name : {"a.kly", "b.kly", "c.kly", "d.kly"}) {
      const bool expected = std::find_if(s.left.begin(), s.left.end(),
                                         [&](const char* l) { return std::string(l) == name; }) != s.left.end();
      EXPECT_EQ(fs::exists(folder + "/" + name), expected) << name;
    }
    EXPECT_TRUE(fs::exists(folder + "/notes.txt"));
  }
}

TEST_F(LayerCacheTest, WritingPastTheBoundDropsTheOldestCache) {
  const std::string a = WritePointSet(data_, "a", Points(100), Values(100));
  const std::string b = WritePointSet(data_, "b", Points(100, 0.5), Values(100));
  ASSERT_TRUE(Load(a));
  const uint64_t one = fs::file_size(LayerCachePathFor(a));
  SetMtimeNs(LayerCachePathFor(a), MtimeNs(LayerCachePathFor(a)) - 10000000000LL);
  SetLayerCacheLimit(one + one / 2);
  ASSERT_TRUE(Load(b));
  EXPECT_FALSE(fs::exists(LayerCachePathFor(a)));
  EXPECT_TRUE(fs::exists(LayerCachePathFor(b)));
}

TEST(LayerCacheChecksum, EveryWordAndTailByteCounts) {
  std::string bytes(203, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + 7);
  const uint64_t base = LayerCacheChecksum(bytes.data(), bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::string changed = bytes;
    changed[i] = static_cast<char>(changed[i] ^ 1);
    EXPECT_NE(LayerCacheChecksum(changed.data(), changed.size()), base) << i;
  }
  EXPECT_NE(LayerCacheChecksum(bytes.data(), bytes.size() - 1), base);
  EXPECT_NE(LayerCacheChecksum(bytes.data(), bytes.size(), 1), base);
}

}  // namespace
}  // namespace kestrune::test

namespace kestrune::test {
namespace {

// Gathered by the writing thread while the loaded layer is drawn, and while
// the layer is closed at once: the cache file is byte for byte the one a
// gathering at the end of the load writes, for values kept by record (a big
// point log) and for rows kept beside the records (a small one).
TEST_F(LayerCacheTest, GatheringInTheBackgroundWritesTheSameFile) {
  struct Case {
    const char* name;
    int points;
    bool closeAtOnce;
  };
  const Case cases[] = {{"values by record, drawn", 60000, false},
                        {"values by record, closed at once", 60000, true},
                        {"rows beside the records, closed at once", 300, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string shp = WritePointSet(dir, "log", Points(c.points), Values(c.points));
    ThemeBy(shp, 1);
    const std::string cachePath = LayerCachePathFor(shp);
    fs::remove(cachePath);
    ASSERT_NE(Load(shp), nullptr);  // gathered at the end of the load
    const std::string atLoad = ReadFileBytes(cachePath);
    ASSERT_FALSE(atLoad.empty());
    fs::remove(cachePath);
    {
      const ScopedLayerCache deferred(true, true);
      const ScopedSideFileWrites untouched(SideFileWrites::InMemory);
      auto layer = std::make_unique<Layer>();
      layer->SetPathName(shp);
      ASSERT_TRUE(layer->Open() && layer->Load());
      if (!c.closeAtOnce) {
        RecordingCanvas canvas;
        CMapTransform transform;
        const MapRect b = layer->GetBounds();
        transform.SetWorldOrigin({b.left, b.top});
        transform.SetWorldExtent(b.right - b.left, b.bottom - b.top);
        transform.SetDeviceExtent(200, 200);
        layer->Draw(transform, canvas);
      }
      layer.reset();  // waits for the gathering, not for the write
    }
    EXPECT_FALSE(IsLayerCacheGatherDeferred());
    EXPECT_TRUE(ReadFileBytes(cachePath) == atLoad);
  }
}

}  // namespace
}  // namespace kestrune::test

namespace kestrune::test {
namespace {

// A big point layer's cache written by kestrune-cli render's thread comes
// straight from the records in pieces: it must be the file a gathering at the
// end of the load writes, byte for byte, for values kept by record over
// several pieces, rows kept beside the records, and records whose numbers do
// not make one run (a multipoint's points share their record's number); and
// the next open must find it and give what a parsing open gives (its point
// records made in the pool by every core, with or without their values).
TEST_F(LayerCacheTest, CacheWrittenInPiecesIsTheGatheredFileAndOpensAsAParse) {
  struct Case {
    const char* name;
    int points;
    bool multipoint;  // two points a record
    bool direct;      // rows read straight into the records (values by record)
  };
  const Case cases[] = {{"values by record, two whole pieces and a part", 140000, false, true},
                        {"rows beside the records", 60000, false, false},
                        {"multipoint records, rows beside them", 60000, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetDirectRowsMinRecords(c.direct ? 4096 : size_t{1} << 40);
    TempDir dir;
    std::string shp;
    if (c.multipoint) {
      ShpBuilder builder(8, -100.0, 40.0, -90.0, 45.0);
      const std::vector<XY> points = Points(c.points);
      for (size_t i = 0; i + 1 < points.size(); i += 2) builder.MultiPoint({points[i], points[i + 1]});
      shp = (dir / "log.shp").string();
      WriteFileBytes(shp, builder.Bytes());
      WriteFileBytes(dir / "log.dbf", RateTable(Values(c.points / 2)));
    } else {
      shp = WritePointSet(dir, "log", Points(c.points), Values(c.points));
    }
    ThemeBy(shp, 1);
    SetLayerCacheEnabled(false);
    const std::vector<std::string> parsed = Info(shp);
    SetLayerCacheEnabled(true);
    ASSERT_FALSE(parsed.empty());

    const std::string cachePath = LayerCachePathFor(shp);
    ASSERT_NE(Load(shp), nullptr);  // gathered at the end of the load
    const std::string gathered = ReadFileBytes(cachePath);
    ASSERT_GT(gathered.size(), static_cast<size_t>(c.points) * sizeof(MapPoint));
    ASSERT_EQ(CachesRecordValues(shp, 1), c.direct);
    fs::remove(cachePath);
    {
      // As kestrune-cli render loads: the write is left to its thread.
      const ScopedLayerCache deferred(true, true);
      const ScopedSideFileWrites untouched(SideFileWrites::InMemory);
      Layer layer;
      layer.SetPathName(shp);
      ASSERT_TRUE(layer.Open() && layer.Load());
    }
    // Written before the program goes on: the next open finds it.
    EXPECT_TRUE(ReadFileBytes(cachePath) == gathered);
    EXPECT_TRUE(WouldHit(shp));
    EXPECT_EQ(Info(shp), parsed);
    {
      // The index's grid, copied out beside the rest of the cached load.
      auto cached = Load(shp);
      SetLayerCacheEnabled(false);
      auto reference = Load(shp);
      SetLayerCacheEnabled(true);
      ASSERT_TRUE(cached && reference);
      EXPECT_TRUE(cached->GetSpatialIndex().GetGrid() == reference->GetSpatialIndex().GetGrid());
      EXPECT_FALSE(cached->IsModified());
    }
    // A byte changed in any of its big sections (summed by two cores) is found.
    for (double at : {0.2, 0.5, 0.8, 0.97}) {
      std::string changed = gathered;
      const size_t i = static_cast<size_t>(static_cast<double>(changed.size()) * at);
      changed[i] = static_cast<char>(changed[i] ^ 0x01);
      WriteFileBytes(cachePath, changed);
      EXPECT_FALSE(WouldHit(shp)) << at;
    }
  }
}

// A streamed write that fails at any step leaves no temporary file and the
// cache file already there byte for byte, and lets the layer go.
TEST_F(LayerCacheTest, CacheWrittenInPiecesThatFailsLeavesTheOldFile) {
  const std::string shp = WritePointSet(data_, "log", Points(60000), Values(60000));
  ThemeBy(shp, 1);
  const std::string cachePath = LayerCachePathFor(shp);
  fs::create_directories(fs::path(cachePath).parent_path());
  const std::string stale = "not a cache file of this set";
  for (const WriteFaultCase& fault : WriteFaultCases()) {
    SCOPED_TRACE(fault.name);
    WriteFileBytes(cachePath, stale);
    {
      const ScopedWriteFault failing(fault);
      const ScopedLayerCache deferred(true, true);
      const ScopedSideFileWrites untouched(SideFileWrites::InMemory);
      Layer layer;
      layer.SetPathName(shp);
      ASSERT_TRUE(layer.Open() && layer.Load());
      EXPECT_GT(layer.GetRecordCount(), 0u);
    }
    EXPECT_EQ(ReadFileBytes(cachePath), stale);
    EXPECT_TRUE(TemporaryFilesIn(fs::path(cachePath).parent_path()).empty());
  }
}

}  // namespace
}  // namespace kestrune::test
