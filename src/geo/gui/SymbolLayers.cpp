#include "geo/gui/SymbolLayers.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "geo/gui/ImageRectangles.h"

namespace kestrune {

// Emptied layers of the last size drawn, kept for the next drawing: fresh
// pages cost the kernel's zeroing on every one of them.
struct SymbolLayerStore {
  std::mutex mutex;
  int width = 0;
  int height = 0;
  std::vector<SymbolLayers::Buffer> spare;

  static SymbolLayerStore& Get() {
    static SymbolLayerStore store;
    return store;
  }
  // An empty layer of the size, from the spares or new; null without memory.
  SymbolLayers::Buffer Take(int w, int h) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (w == width && h == height && !spare.empty()) {
        SymbolLayers::Buffer b = std::move(spare.back());
        spare.pop_back();
        return b;
      }
    }
    const size_t pixels = static_cast<size_t>(w) * static_cast<size_t>(h);
    return SymbolLayers::Buffer(static_cast<uint32_t*>(std::calloc(pixels, sizeof(uint32_t))));
  }
  // Keeps an empty layer; layers of another size are dropped.
  void Give(SymbolLayers::Buffer b, int w, int h) {
    constexpr size_t kMaxSpare = 16;
    std::lock_guard<std::mutex> lock(mutex);
    if (w != width || h != height) {
      spare.clear();
      width = w;
      height = h;
    }
    if (spare.size() < kMaxSpare) spare.push_back(std::move(b));
  }
};

void SymbolLayers::FreeDeleter::operator()(uint32_t* p) const { std::free(p); }

SymbolLayers::SymbolLayers(QImage& image, int layers) : image_(image), width_(image.width()), height_(image.height()) {
  const bool direct = image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32 ||
                      image.format() == QImage::Format_ARGB32_Premultiplied;
  if (!direct || layers < 1 || width_ <= 0 || height_ <= 0 || int64_t{width_} * height_ > kMaxPixels) return;
  SymbolLayerStore& store = SymbolLayerStore::Get();
  for (int k = 0; k < layers; ++k) {
    Buffer b = store.Take(width_, height_);
    if (!b) return;  // the destructor gives back those taken
    views_.emplace_back(reinterpret_cast<uchar*>(b.get()), width_, height_, width_ * 4, QImage::Format_ARGB32);
    layers_.push_back(std::move(b));
  }
  ready_ = true;
}

SymbolLayers::~SymbolLayers() {
  if (rowsMerged_.load() < height_) Clear();
  views_.clear();
  SymbolLayerStore& store = SymbolLayerStore::Get();
  for (Buffer& b : layers_) store.Give(std::move(b), width_, height_);
}

void SymbolLayers::Write(int layer, const Pen& pen, const DeviceRect* rects, const Color* fills, int count) {
  if (!ready_ || layer < 0 || layer >= Count()) return;
  WriteSolidRectanglesInRows(views_[static_cast<size_t>(layer)], pen, rects, fills, count, 0, height_);
}

void SymbolLayers::Merge(int top, int bottom) {
  if (!ready_) return;
  top = std::max(top, 0);
  bottom = std::min(bottom, height_);
  if (top >= bottom) return;
  // constBits: the image was detached on the painter's thread; threads
  // merging other rows must not detach it again.
  uchar* bits = const_cast<uchar*>(image_.constBits());
  const qsizetype stride = image_.bytesPerLine();
  const size_t w = static_cast<size_t>(width_);
  for (int y = top; y < bottom; ++y) {
    auto* dst = reinterpret_cast<uint32_t*>(bits + y * stride);
    for (Buffer& layer : layers_) {
      uint32_t* src = layer.get() + static_cast<size_t>(y) * w;
      size_t x = 0;
#if defined(__SSE2__)
      // Four pixels at a time; groups nothing wrote are only read.
      const __m128i zero = _mm_setzero_si128();
      for (; x + 4 <= w; x += 4) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
        const __m128i empty = _mm_cmpeq_epi32(s, zero);
        if (_mm_movemask_epi8(empty) == 0xFFFF) continue;
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), _mm_or_si128(_mm_and_si128(empty, d), s));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(src + x), zero);
      }
#endif
      for (; x < w; ++x) {
        if (src[x] != 0) {
          dst[x] = src[x];
          src[x] = 0;
        }
      }
    }
  }
  rowsMerged_.fetch_add(bottom - top);
}

void SymbolLayers::Clear() {
  const size_t bytes = static_cast<size_t>(width_) * static_cast<size_t>(height_) * sizeof(uint32_t);
  for (Buffer& b : layers_) std::memset(b.get(), 0, bytes);
  rowsMerged_.store(height_);
}

size_t SymbolLayers::SpareLayers() {
  SymbolLayerStore& store = SymbolLayerStore::Get();
  std::lock_guard<std::mutex> lock(store.mutex);
  return store.spare.size();
}

}  // namespace kestrune
