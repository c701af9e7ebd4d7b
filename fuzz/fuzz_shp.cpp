// Fuzzes the shape file reader: the input becomes a ".shp", its header is
// checked and its records loaded as a layer would, and every record made is
// measured, hit-tested and drawn.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/Platform.h"
#include "geo/CMapTransform.h"
#include "geo/RecordingCanvas.h"
#include "shapes/ShapeCollection.h"
#include "shapes/ShapeFileReader.h"

namespace {

// One scratch folder per fuzzing process, its ".shp" rewritten for every input.
struct ScratchFolder {
  std::string path;
  ScratchFolder() {
    char name[] = "/tmp/fuzz_shp_XXXXXX";
    if (!mkdtemp(name)) std::abort();
    path = name;
  }
  ~ScratchFolder() {
    unlink((path + "/in.shp").c_str());
    rmdir(path.c_str());
  }
};

const std::string& ShpPath() {
  static const ScratchFolder folder;
  static const std::string shp = folder.path + "/in.shp";
  return shp;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrune;
  static const bool quiet = [] {
    SetMessageHandler([](const MessageRequest&) { return MessageAnswer::Ok; });
    return true;
  }();
  (void)quiet;
  const std::string& path = ShpPath();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);

  ShapeCollection records(path);
  int coordSystemKind = 1;
  int shapeKind = 0;
  {
    ShapeFileReader reader;
    if (!reader.CheckHeader(path, coordSystemKind, 8, -1, shapeKind)) return 0;
  }
  ShapeFileReader reader;
  reader.LoadRecords(records, coordSystemKind, 8, -1);
  // Records never outnumber what the file can hold: a point needs 16 bytes.
  if (records.Records().size() > size / 16 + 1) std::abort();

  CMapTransform view;
  view.SetWorldOrigin({1000000000, 1000000000});
  view.SetWorldExtent(100000000, 100000000);
  view.SetDeviceExtent(640, 480);
  Shape::PrepareView(view);
  RecordingCanvas dc;
  for (Shape* shape : records.Records()) {
    const MapRect b = shape->GetHitBounds();
    (void)shape->GetBounds();
    (void)shape->GetArea(false);
    (void)shape->GetLabelPoint();
    (void)shape->HitDistance({b.left, b.top});
    (void)shape->Contains({b.left / 2 + b.right / 2, b.top / 2 + b.bottom / 2});
    shape->Draw(view, dc);
    dc.Clear();
  }
  return 0;
}
