#include "base/PngEncoder.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace kestrune {

namespace {

void PutBigEndian(std::string& out, uint32_t v) {
  const char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                         static_cast<char>(v)};
  out.append(bytes, 4);
}

// One chunk: length, type, data, and the CRC of type and data.
void PutChunk(std::string& out, const char type[4], const unsigned char* data, std::size_t size) {
  PutBigEndian(out, static_cast<uint32_t>(size));
  const std::size_t typeAt = out.size();
  out.append(type, 4);
  if (size) out.append(reinterpret_cast<const char*>(data), size);
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, reinterpret_cast<const Bytef*>(out.data() + typeAt), static_cast<uInt>(4));
  // crc32 takes at most uInt bytes at a time.
  for (std::size_t done = 0; done < size;) {
    const uInt step = static_cast<uInt>(std::min<std::size_t>(size - done, std::numeric_limits<uInt>::max()));
    crc = crc32(crc, data + done, step);
    done += step;
  }
  PutBigEndian(out, static_cast<uint32_t>(crc));
}

void PutBigEndian(unsigned char* at, uint32_t v) {
  at[0] = static_cast<unsigned char>(v >> 24);
  at[1] = static_cast<unsigned char>(v >> 16);
  at[2] = static_cast<unsigned char>(v >> 8);
  at[3] = static_cast<unsigned char>(v);
}

// Row Y as the filter byte 2 ("up") and each byte of R, G, B less the one
// above it (the row above row 0 is zero).
void FilterRow(const unsigned char* bits, std::size_t bytesPerLine, int width, int y, unsigned char* out) {
  out[0] = 2;
  unsigned char* p = out + 1;
  uint32_t word = 0;
  const unsigned char* row = bits + static_cast<std::size_t>(y) * bytesPerLine;
  if (y == 0) {
    for (int x = 0; x < width; ++x) {
      std::memcpy(&word, row + 4 * static_cast<std::size_t>(x), 4);
      p[0] = static_cast<unsigned char>(word >> 16);
      p[1] = static_cast<unsigned char>(word >> 8);
      p[2] = static_cast<unsigned char>(word);
      p += 3;
    }
    return;
  }
  const unsigned char* above = row - bytesPerLine;
  uint32_t up = 0;
  for (int x = 0; x < width; ++x) {
    std::memcpy(&word, row + 4 * static_cast<std::size_t>(x), 4);
    std::memcpy(&up, above + 4 * static_cast<std::size_t>(x), 4);
    p[0] = static_cast<unsigned char>((word >> 16) - (up >> 16));
    p[1] = static_cast<unsigned char>((word >> 8) - (up >> 8));
    p[2] = static_cast<unsigned char>(word - up);
    p += 3;
  }
}

}  // namespace

std::string EncodeOpaquePng(const unsigned char* bits, int width, int height, std::size_t bytesPerLine,
                            int dotsPerMeterX, int dotsPerMeterY) {
  // PNG sizes are 31-bit; a row's bytes must fit zlib's counters.
  if (!bits || width <= 0 || height <= 0 || width > (1 << 24) || height > std::numeric_limits<int32_t>::max() ||
      bytesPerLine < 4 * static_cast<std::size_t>(width)) {
    return {};
  }
  const std::size_t rowBytes = 1 + 3 * static_cast<std::size_t>(width);

  z_stream z{};
  // Runs only: the rows' differences to the rows above are mostly zeros.
  if (deflateInit2(&z, 6, Z_DEFLATED, 15, 8, Z_RLE) != Z_OK) return {};
  std::string idat;
  std::vector<unsigned char> row(rowBytes);
  std::vector<unsigned char> buffer(1 << 16);
  bool ok = true;
  for (int y = 0; y < height && ok; ++y) {
    FilterRow(bits, bytesPerLine, width, y, row.data());
    z.next_in = row.data();
    z.avail_in = static_cast<uInt>(rowBytes);
    const int flush = y + 1 == height ? Z_FINISH : Z_NO_FLUSH;
    int status = Z_OK;
    do {
      z.next_out = buffer.data();
      z.avail_out = static_cast<uInt>(buffer.size());
      status = deflate(&z, flush);
      if (status == Z_STREAM_ERROR) {
        ok = false;
        break;
      }
      idat.append(reinterpret_cast<const char*>(buffer.data()), buffer.size() - z.avail_out);
    } while (z.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
  }
  deflateEnd(&z);
  if (!ok) return {};

  std::string out("\x89PNG\r\n\x1a\n", 8);
  unsigned char header[13];
  PutBigEndian(header, static_cast<uint32_t>(width));
  PutBigEndian(header + 4, static_cast<uint32_t>(height));
  header[8] = 8;   // bits per sample
  header[9] = 2;   // RGB
  header[10] = 0;  // deflate
  header[11] = 0;  // adaptive filtering (one filter type a row)
  header[12] = 0;  // not interlaced
  PutChunk(out, "IHDR", header, sizeof header);
  if (dotsPerMeterX > 0 && dotsPerMeterY > 0) {
    unsigned char size[9];
    PutBigEndian(size, static_cast<uint32_t>(dotsPerMeterX));
    PutBigEndian(size + 4, static_cast<uint32_t>(dotsPerMeterY));
    size[8] = 1;  // per metre
    PutChunk(out, "pHYs", size, sizeof size);
  }
  // Chunks of at most 1 MiB, as readers that buffer a chunk whole prefer.
  constexpr std::size_t kChunk = std::size_t{1} << 20;
  for (std::size_t at = 0; at < idat.size(); at += kChunk) {
    PutChunk(out, "IDAT", reinterpret_cast<const unsigned char*>(idat.data()) + at,
             std::min(kChunk, idat.size() - at));
  }
  PutChunk(out, "IEND", nullptr, 0);
  return out;
}

}  // namespace kestrune
