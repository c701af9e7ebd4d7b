#include "shapes/BufferedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kestrune {

size_t ReadBytesAt(int fd, void* into, size_t count, int64_t offset) {
  char* bytes = static_cast<char*>(into);
  size_t done = 0;
  while (done < count) {
    const ssize_t got = ::pread(fd, bytes + done, count - done, static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

// Closes the file.
BufferedFile::~BufferedFile() { Close(); }

// Opens a file for reading and notes its size.
bool BufferedFile::Open(const std::string& path, int& error) {
  Close();
  // Non-blocking so that a named pipe given as a file cannot hang the program;
  // it then fails on its first read like any file that cannot be read.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) {
    error = errno;
    return false;
  }
  struct stat st {};
  if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
    size_ = static_cast<uint64_t>(st.st_size);
    // Regular files never block; reads may as well wait for the disk.
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  } else {
    size_ = 0;
    failed_ = true;  // only regular files are read
  }
  position_ = 0;
  limit_ = UINT64_MAX;
  begin_ = end_ = 0;
  error = 0;
  return true;
}

// The file's size now against its size at opening.
bool BufferedFile::Shrank() const {
  struct stat st {};
  return fd_ >= 0 && ::fstat(fd_, &st) == 0 && static_cast<uint64_t>(st.st_size) < size_;
}

// Closes the file and frees the buffer.
void BufferedFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  failed_ = false;
  size_ = position_ = 0;
  limit_ = UINT64_MAX;
  begin_ = end_ = 0;
  buffer_.clear();
  buffer_.shrink_to_fit();
}

// One read call, repeated when a signal interrupts it.
int64_t BufferedFile::ReadCall(void* buffer, size_t n) {
  if (failed_ || fd_ < 0) return -1;
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, n);
    if (got >= 0) return got;
    if (errno != EINTR) {
      failed_ = true;
      return -1;
    }
  }
}

// Tops up the buffer from the file.
bool BufferedFile::Refill() {
  // A small file needs no more buffer than its own size.
  if (buffer_.empty()) buffer_.resize(static_cast<size_t>(std::clamp<uint64_t>(size_, 4096, kBufferSize)));
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  const int64_t got = ReadCall(buffer_.data() + end_, buffer_.size() - end_);
  if (got <= 0) return false;
  end_ += static_cast<size_t>(got);
  return true;
}

// Exact reads that need the file: across the buffer's end or larger than it.
bool BufferedFile::ReadExactSlow(void* buffer, size_t n) {
  // Nothing is taken of a read that runs past the limit.
  if (n > limit_ - position_) return false;
  auto* out = static_cast<unsigned char*>(buffer);
  size_t need = n;
  for (;;) {
    const size_t avail = end_ - begin_;
    const size_t take = avail < need ? avail : need;
    if (take) {
      std::memcpy(out, buffer_.data() + begin_, take);
      begin_ += take;
      position_ += take;
      out += take;
      need -= take;
    }
    if (need == 0) return true;
    // A large read goes straight to the caller's memory.
    if (need >= kBufferSize || (!buffer_.empty() && need >= buffer_.size())) {
      const int64_t got = ReadCall(out, need);
      if (got <= 0) return false;
      position_ += static_cast<uint64_t>(got);
      out += got;
      need -= static_cast<size_t>(got);
      continue;
    }
    if (!Refill()) return false;
  }
}

// Reads what there is, up to n bytes.
int64_t BufferedFile::ReadUpTo(void* buffer, size_t n) {
  auto* out = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  while (done < n) {
    if (begin_ == end_) {
      const bool had = Refill();
      if (failed_) return -1;
      if (!had) break;
    }
    const size_t take = std::min(end_ - begin_, n - done);
    std::memcpy(out + done, buffer_.data() + begin_, take);
    begin_ += take;
    position_ += take;
    done += take;
  }
  return static_cast<int64_t>(done);
}

// Steps over bytes, within the buffer or by seeking.
bool BufferedFile::Skip(uint64_t n) {
  if (n > limit_ - position_) return false;
  const size_t avail = end_ - begin_;
  if (n <= avail) {
    begin_ += static_cast<size_t>(n);
    position_ += n;
    return true;
  }
  n -= avail;
  position_ += avail;
  begin_ = end_ = 0;
  if (n > Remaining()) {
    // Past the end: the position goes to the end and the skip comes short.
    position_ = size_;
    ::lseek(fd_, static_cast<off_t>(size_), SEEK_SET);
    return false;
  }
  if (::lseek(fd_, static_cast<off_t>(position_ + n), SEEK_SET) < 0) {
    failed_ = true;
    return false;
  }
  position_ += n;
  return true;
}

}  // namespace kestrune
