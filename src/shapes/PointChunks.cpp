// The chunked reading of a Point file: its records are all 28 bytes long, so
// where each chunk of records starts is known without reading the ones
// before it. Several threads take chunks in turn, each reading its chunk
// into a buffer of its own (reused from chunk to chunk), checking that every
// record is a plain point record in step with the one before, and making the
// records straight into their slots of the point pool, so each record's
// memory is written once. The loading thread hands the finished chunks to
// the sink in file order as they come, and tells the progress.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "geo/MapProjection.h"
#include "shapes/RecordList.h"
#include "shapes/RecordSink.h"
#include "shapes/Shape.h"
#include "shapes/ShapeFileReader.h"

namespace kestrune {

namespace {

constexpr uint64_t kHeaderBytes = 100;
// Record header (8), type (4), x and y (16).
constexpr uint64_t kPointRecordBytes = 28;
constexpr int32_t kPointContentWords = 10;
// Records read at once: a buffer small enough to come from the heap the
// thread reuses, rather than megabytes mapped afresh for every chunk.
constexpr size_t kPieceRecords = 4096;

uint32_t Big32(const unsigned char* b) {
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | uint32_t{b[3]};
}
int32_t Little32(const unsigned char* b) {
  const uint32_t v = uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
  int32_t i;
  std::memcpy(&i, &v, sizeof i);
  return i;
}
int32_t AsInt(uint32_t v) {
  int32_t i;
  std::memcpy(&i, &v, sizeof i);
  return i;
}
double LittleDouble(const unsigned char* b) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | b[i];
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

// Reads n bytes at an offset; false when fewer came.
bool ReadAt(int fd, unsigned char* buffer, size_t n, uint64_t offset) {
  while (n > 0) {
    const ssize_t got = ::pread(fd, buffer, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    buffer += got;
    n -= static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

// What became of one chunk.
struct Chunk {
  enum : int { kPending = 0, kDone = 1, kOdd = 2 };
  std::atomic<int> state{kPending};
  char* first = nullptr;     // its first slot
  size_t slots = 0;          // its records in the file, so its slots
  size_t made = 0;           // records made, in its first slots
  int64_t badCoordinates = 0;
  int64_t noPosition = 0;
  int32_t lastStored = 0;    // the stored number of its last record
};

}  // namespace

bool ShapeFileReader::LoadPointChunks(uint64_t bytesTotal, uint64_t& resumeAt, int& recordNumber,
                                      int32_t& lastStoredNumber) {
  resumeAt = kHeaderBytes;
  const size_t records = static_cast<size_t>((bytesTotal - kHeaderBytes) / kPointRecordBytes);
  const size_t perBlock = PointShape::SlotsPerPoolBlock();
  const size_t perChunk = std::max<size_t>(1, std::min(chunkRecords_ ? chunkRecords_ : perBlock, perBlock));
  const size_t chunksPerBlock = perBlock / perChunk;
  const size_t chunkCount = (records + perChunk - 1) / perChunk;
  const size_t blockCount = (chunkCount + chunksPerBlock - 1) / chunksPerBlock;
  const int fd = ::open(shpPath_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  const size_t lastSlots = records - std::min(records, (blockCount - 1) * chunksPerBlock * perChunk);
  std::vector<void*> blocks = PointShape::TakePoolBlocks(blockCount, sink_->PointRecordOwner(), lastSlots);
  if (blocks.empty()) {
    ::close(fd);
    return true;
  }
  std::unique_ptr<Chunk[]> chunks(new Chunk[chunkCount]);
  for (size_t c = 0; c < chunkCount; ++c) {
    chunks[c].first = static_cast<char*>(blocks[c / chunksPerBlock]) + (c % chunksPerBlock) * perChunk * RecordList::kRunStride;
    chunks[c].slots = std::min(perChunk, records - c * perChunk);
  }

  std::atomic<size_t> next{0};
  // The first chunk that is not plain: no chunk from it on is handed over.
  std::atomic<size_t> firstOdd{chunkCount};
  std::atomic<bool> stop{false};
  CoordConverter* converter = converter_;
  const MapProjection* projection = projection_;
  const bool checkDegrees = checkDegrees_;

  // Parses chunk c into its slots, a piece at a time through the thread's
  // buffer; false when it is not plain.
  auto parse = [&](size_t c, std::vector<unsigned char>& buffer) {
    Chunk& chunk = chunks[c];
    const size_t firstRecord = c * perChunk;
    // The record before the chunk comes along for its stored number.
    const size_t lead = c > 0 ? kPointRecordBytes : 0;
    int32_t previous = 0;
    char* slot = chunk.first;
    for (size_t done = 0; done < chunk.slots;) {
      const size_t piece = std::min(kPieceRecords, chunk.slots - done);
      const size_t before = done == 0 ? lead : 0;
      const uint64_t from = kHeaderBytes + (firstRecord + done) * kPointRecordBytes - before;
      const size_t bytes = piece * kPointRecordBytes + before;
      buffer.resize(bytes);
      if (!ReadAt(fd, buffer.data(), bytes, from)) return false;
      if (before > 0) previous = AsInt(Big32(buffer.data()));
      const unsigned char* record = buffer.data() + before;
      for (size_t i = done; i < done + piece; ++i, record += kPointRecordBytes) {
        const int32_t stored = AsInt(Big32(record));
        if (stored <= previous || AsInt(Big32(record + 4)) != kPointContentWords ||
            Little32(record + 8) != kShapePoint) {
          return false;
        }
        previous = stored;
        const double x = LittleDouble(record + 12), y = LittleDouble(record + 20);
        if (checkDegrees && std::isfinite(x) && std::isfinite(y) &&
            (x < -180.0 || x > 180.0 || y < -90.0 || y > 90.0)) {
          return false;
        }
        double longitude = 0.0, latitude = 0.0;
        if (!converter->ToGeographic(x, y, longitude, latitude) || !std::isfinite(longitude) ||
            !std::isfinite(latitude)) {
          ++chunk.badCoordinates;
          continue;
        }
        if (latitude >= -1.0 && latitude <= 1.0 && longitude >= -1.0 && longitude <= 1.0) {
          ++chunk.noPosition;
          continue;
        }
        latitude = std::clamp(latitude, -85.0, 85.0);
        MapPoint p;
        projection->GeoToMap(latitude, longitude, p);
        PointShape::MakeInSlot(slot, static_cast<int>(firstRecord + i + 1), p);
        slot += RecordList::kRunStride;
        ++chunk.made;
      }
      done += piece;
    }
    chunk.lastStored = previous;
    return true;
  };
  // Takes chunks in turn until none is left before the first odd one.
  auto work = [&](std::vector<unsigned char>& buffer, const std::function<void()>& afterChunk) {
    for (;;) {
      const size_t c = next.fetch_add(1);
      if (c >= chunkCount || c >= firstOdd.load() || stop.load()) return;
      const bool plain = parse(c, buffer);
      if (!plain) {
        size_t odd = firstOdd.load();
        while (c < odd && !firstOdd.compare_exchange_weak(odd, c)) {
        }
      }
      chunks[c].state.store(plain ? Chunk::kDone : Chunk::kOdd, std::memory_order_release);
      if (afterChunk) afterChunk();
    }
  };

  // The loading thread hands over the finished chunks in order.
  size_t handed = 0;
  auto lastReport = std::chrono::steady_clock::now();
  bool cancelled = false;
  size_t reportedHanded = 0;
  auto handOver = [&] {
    while (handed < chunkCount && handed < firstOdd.load() &&
           chunks[handed].state.load(std::memory_order_acquire) == Chunk::kDone) {
      Chunk& chunk = chunks[handed];
      if (chunk.made > 0) sink_->AppendPointRun(reinterpret_cast<Shape*>(chunk.first), chunk.made);
      stats_.recordHeaders += static_cast<int64_t>(chunk.slots);
      stats_.recordsMade += static_cast<int64_t>(chunk.made);
      stats_.pointsDropped += chunk.badCoordinates + chunk.noPosition;
      stats_.skipped[kSkipBadCoordinates] += chunk.badCoordinates;
      stats_.skipped[kSkipNoPosition] += chunk.noPosition;
      lastStoredNumber = chunk.lastStored;
      ++handed;
    }
    // A report tells records handed over since the last one.
    const auto now = std::chrono::steady_clock::now();
    if (progress_ && !cancelled && handed != reportedHanded &&
        now - lastReport >= std::chrono::milliseconds(kProgressIntervalMs)) {
      lastReport = now;
      reportedHanded = handed;
      ++stats_.progressReports;
      if (!progress_(kHeaderBytes + std::min(handed * perChunk, records) * kPointRecordBytes, bytesTotal)) {
        cancelled = true;
        stop = true;
      }
    }
  };

  const unsigned hardware = std::max(1u, std::thread::hardware_concurrency());
  const unsigned threads = static_cast<unsigned>(
      std::min<size_t>(chunkCount, std::min(chunkThreads_ ? chunkThreads_ : hardware, 16u)));
  std::vector<std::thread> helpers;
  for (unsigned t = 1; t < threads; ++t) {
    helpers.emplace_back([&] {
      std::vector<unsigned char> buffer;
      work(buffer, nullptr);
    });
  }
  {
    std::vector<unsigned char> buffer;
    work(buffer, handOver);
  }
  for (std::thread& helper : helpers) helper.join();
  ::close(fd);
  if (!cancelled) handOver();
  // Chunks not handed over are undone: their records destroyed, their slots
  // given back, as are the slots no record took.
  for (size_t c = 0; c < chunkCount; ++c) {
    Chunk& chunk = chunks[c];
    if (c < handed) {
      PointShape::GivePoolSlotsBack(chunk.first + chunk.made * RecordList::kRunStride, chunk.slots - chunk.made);
      continue;
    }
    for (size_t i = 0; i < chunk.made; ++i) reinterpret_cast<Shape*>(chunk.first + i * RecordList::kRunStride)->~Shape();
    PointShape::GivePoolSlotsBack(chunk.first, chunk.slots);
  }
  // The slots of each block past its chunks.
  for (size_t b = 0; b < blocks.size(); ++b) {
    const size_t lastChunk = std::min(chunkCount, (b + 1) * chunksPerBlock) - 1;
    const size_t end = (lastChunk - b * chunksPerBlock) * perChunk + chunks[lastChunk].slots;
    PointShape::GivePoolSlotsBack(static_cast<char*>(blocks[b]) + end * RecordList::kRunStride, perBlock - end);
  }
  recordNumber = static_cast<int>(std::min(handed * perChunk, records));
  resumeAt = kHeaderBytes + static_cast<uint64_t>(recordNumber) * kPointRecordBytes;
  return !cancelled;
}

}  // namespace kestrune
