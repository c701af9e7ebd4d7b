// Fuzzes the whole open path of a file set as the viewer takes it: one input
// is split at the marker "\n%%\n" into a ".shp", ".dbf", ".gpe", ".lgd" and
// ".prj" (missing parts are absent files), the set is opened and loaded
// through Layer::Open and Layer::Load, drawn once, and closed with its legend
// saved. Run it with -max_len=65536 or more so whole small sets fit.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/Platform.h"
#include "geo/CMapTransform.h"
#include "geo/RecordingCanvas.h"
#include "layers/Layer.h"

namespace {

constexpr std::string_view kMarker = "\n%%\n";
const char* const kExtensions[] = {"shp", "dbf", "gpe", "lgd", "prj"};

// One scratch folder per fuzzing process, its files rewritten for every input.
struct ScratchFolder {
  std::string path;
  ScratchFolder() {
    // In memory where possible: loading writes the ".gpe", and syncing a real disk would slow every run.
    char name[] = "/dev/shm/fuzz_open_XXXXXX";
    char fallback[] = "/tmp/fuzz_open_XXXXXX";
    if (!mkdtemp(name)) {
      if (!mkdtemp(fallback)) std::abort();
      path = fallback;
      return;
    }
    path = name;
  }
  ~ScratchFolder() {
    for (const char* ext : kExtensions) unlink((path + "/in." + ext).c_str());
    rmdir(path.c_str());
  }
};

const std::string& Folder() {
  static const ScratchFolder folder;
  return folder.path;
}

// Writes bytes to path, or removes the file for an absent part.
void Put(const std::string& path, const std::string_view* bytes) {
  unlink(path.c_str());
  if (!bytes) return;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (!bytes->empty() && std::fwrite(bytes->data(), 1, bytes->size(), f) != bytes->size()) std::abort();
  std::fclose(f);
}

}  // namespace

// The address sanitizer keeps freed memory in a quarantine of 256 MiB and its
// allocator keeps freed pages by default, so the process grows to that whatever
// an input costs (replayed without the sanitizer, the inputs of a long run keep
// the process at the same size round after round). A smaller quarantine whose
// pages go back to the system keeps the resident size close to what the
// inputs hold; ASAN_OPTIONS still overrides it.
extern "C" const char* __asan_default_options() {
  return "quarantine_size_mb=32:allocator_release_to_os_interval_ms=500";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrune;
  static const bool quiet = [] {
    SetMessageHandler([](const MessageRequest&) { return MessageAnswer::Ok; });
    SetStatusHandler([](const std::string&) {});
    return true;
  }();
  (void)quiet;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string base = Folder() + "/in";
  for (const char* ext : kExtensions) {
    std::string_view part;
    const bool present = !rest.empty() || ext == kExtensions[0];
    const size_t cut = rest.find(kMarker);
    part = rest.substr(0, cut);
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + kMarker.size());
    Put(base + "." + ext, present ? &part : nullptr);
  }

  Layer layer;
  layer.SetPathName(base + ".shp");
  if (!layer.Open() || !layer.Load()) return 0;
  CMapTransform view;
  view.SetWorldOrigin({1000000000, 1000000000});
  view.SetWorldExtent(100000000, 100000000);
  view.SetDeviceExtent(640, 480);
  RecordingCanvas dc;
  layer.Draw(view, dc);
  (void)layer.GetBounds();
  // A changed legend goes back to its file, as closing the layer writes it.
  layer.GetLegend().SetChanged(true);
  layer.SaveLegend();
  layer.Close();
  return 0;
}
