// Layers of 32-bit pixels the size of an image, written by several threads at
// once (one layer each) and then laid over the image in their order. A pixel
// no symbol wrote stays 0, a value no written pixel has (every written pixel
// is opaque, alpha 0xFF), so the merge knows exactly which pixels to take:
// the image ends as if every layer's symbols had been written into it, layer
// 0's first, on one thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include <QImage>

#include "geo/Canvas.h"

namespace kestrune {

class SymbolLayers {
 public:
  // Pictures up to this many pixels are layered; bigger ones (a poster's
  // worth of memory per layer) are not.
  static constexpr int64_t kMaxPixels = int64_t{1} << 25;

  // Empty layers over the image (a 32-bit image whose pixels are written
  // directly, detached already); IsReady is false when the image is too big
  // or the memory is not there.
  SymbolLayers(QImage& image, int layers);
  // Gives the layers' memory back for the next drawing, emptied.
  ~SymbolLayers();
  SymbolLayers(const SymbolLayers&) = delete;
  SymbolLayers& operator=(const SymbolLayers&) = delete;

  bool IsReady() const { return ready_; }
  int Count() const { return static_cast<int>(layers_.size()); }

  // WriteSolidRectangles into one layer (whole rows, every symbol).
  void Write(int layer, const Pen& pen, const DeviceRect* rects, const Color* fills, int count);
  // Lays the layers' written pixels of rows top..bottom-1 over the image,
  // layer 0 first, and empties those rows of the layers.
  void Merge(int top, int bottom);
  // Empties every layer, leaving the image as it is.
  void Clear();

  // The layers' memory kept between drawings (tests).
  static size_t SpareLayers();

 private:
  struct FreeDeleter {
    void operator()(uint32_t* p) const;
  };
  using Buffer = std::unique_ptr<uint32_t, FreeDeleter>;

  QImage& image_;
  int width_ = 0;
  int height_ = 0;
  bool ready_ = false;
  std::vector<Buffer> layers_;
  // Each layer seen as an image, for the rectangle writer.
  std::vector<QImage> views_;
  // Rows merged so far: a layer handed back with rows left unmerged is emptied first.
  std::atomic<int64_t> rowsMerged_{0};

  friend struct SymbolLayerStore;
};

}  // namespace kestrune
