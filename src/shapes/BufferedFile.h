// Sequential reading of a file through one buffer: many small exact reads
// cost a memory copy each, not a system call each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kestrune {

// Reads COUNT bytes at OFFSET of the open file FD into INTO, retrying short
// and interrupted reads; the bytes read, fewer at the file's end or on an error.
size_t ReadBytesAt(int fd, void* into, size_t count, int64_t offset);

class BufferedFile {
 public:
  BufferedFile() = default;
  ~BufferedFile();
  BufferedFile(const BufferedFile&) = delete;
  BufferedFile& operator=(const BufferedFile&) = delete;

  // Opens an existing file for reading; on failure gives the system error number.
  bool Open(const std::string& path, int& error);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  // Reads exactly n bytes; false (with the position at the end of what came)
  // when the file ends first or the read call fails.
  bool ReadExact(void* buffer, size_t n) {
    // The common case, a few bytes already in the buffer, stays inline.
    if (n <= end_ - begin_ && n <= limit_ - position_) {
      if (n) std::memcpy(buffer, buffer_.data() + begin_, n);
      begin_ += n;
      position_ += n;
      return true;
    }
    return ReadExactSlow(buffer, n);
  }
  // Reads up to n bytes, fewer at the end of the file; -1 when a read call
  // fails (a folder, a device that cannot be read).
  int64_t ReadUpTo(void* buffer, size_t n);
  // Moves the position forward; false when the file ends first.
  bool Skip(uint64_t n);
  // Bytes between the position and the file's size when it was opened (or
  // the limit, when one is set and lies before it).
  uint64_t Remaining() const {
    const uint64_t end = size_ < limit_ ? size_ : limit_;
    return position_ < end ? end - position_ : 0;
  }
  // Reads and skips stop at this offset, not at or before the position (one
  // record's end); ClearLimit lifts it.
  void SetLimit(uint64_t offset) { limit_ = offset < position_ ? position_ : offset; }
  void ClearLimit() { limit_ = UINT64_MAX; }
  uint64_t Position() const { return position_; }
  // Whether the file is now shorter than when it was opened (asks the system).
  bool Shrank() const;
  uint64_t Size() const { return size_; }

  static constexpr size_t kBufferSize = 256 * 1024;

 private:
  bool ReadExactSlow(void* buffer, size_t n);
  // Refills the buffer after moving what is left to its start; false at the end.
  bool Refill();
  // One read call that retries when interrupted; -1 on failure.
  int64_t ReadCall(void* buffer, size_t n);

  int fd_ = -1;
  bool failed_ = false;
  uint64_t size_ = 0;
  uint64_t position_ = 0;
  uint64_t limit_ = UINT64_MAX;
  std::vector<unsigned char> buffer_;
  size_t begin_ = 0;  // first unread byte in the buffer
  size_t end_ = 0;    // one past the last byte in the buffer
};

}  // namespace kestrune
