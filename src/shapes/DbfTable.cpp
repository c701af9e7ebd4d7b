#include "shapes/DbfTable.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <locale.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrune {

namespace {

constexpr int kHeaderSize = 32;
constexpr int kDescriptorSize = 32;
// Rows read in order come in blocks of this many bytes; a row asked for out of
// order (identify, the Attributes dialog) reads a small block around it only.
constexpr std::size_t kWindowBytes = 256 * 1024;
constexpr std::size_t kSmallWindowBytes = 4 * 1024;

// Little-endian integers of the header.
std::uint32_t ReadU32(const unsigned char* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}
int ReadU16(const unsigned char* p) { return int(p[0]) | (int(p[1]) << 8); }

// Maps a type letter to the type code the rest of the program works with.
int TypeCodeOf(char letter) {
  switch (letter) {
    case 'N':
    case 'F': return kDbfNumeric;  // "F" (float) holds the same number text as "N"
    case 'D': return kDbfDate;
    case 'L': return kDbfLogical;
    default: return kDbfCharacter;  // C, M and anything unknown are text
  }
}

// The "C" locale, so numbers read and write with a point whatever the user's locale.
locale_t CLocale() {
  static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return c;
}

// Switches the calling thread to the "C" locale for the life of the object.
class CLocaleScope {
 public:
  CLocaleScope() : old_(uselocale(CLocale())) {}
  ~CLocaleScope() { uselocale(old_); }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;

 private:
  locale_t old_;
};

// White space as the C library's scan skips it in the "C" locale.
bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
// A decimal digit, whatever the locale.
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// pread until the whole length arrives, the file ends or an error occurs.
std::int64_t PreadAll(int fd, unsigned char* out, std::size_t length, std::int64_t offset) {
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd, out + done, length - done, static_cast<off_t>(offset + std::int64_t(done)));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += std::size_t(n);
  }
  return std::int64_t(done);
}

// pwrite until the whole length is written; false on any error.
bool PwriteAll(int fd, const unsigned char* data, std::size_t length, std::int64_t offset) {
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::pwrite(fd, data + done, length - done, static_cast<off_t>(offset + std::int64_t(done)));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += std::size_t(n);
  }
  return true;
}

// A number as text for the diagnostics.
std::string Num(std::int64_t v) { return std::to_string(v); }

}  // namespace

// Parses like sscanf "%lf" in the "C" locale; plain decimals take a fast path.
double ParseDbfNumber(const char* text, std::size_t length) {
  // The field is a C string of its own: it ends at its first NUL byte.
  const char* end = static_cast<const char*>(std::memchr(text, '\0', length));
  if (!end) end = text + length;
  const char* p = text;
  while (p < end && IsCSpace(*p)) ++p;
  if (p == end) return 0.0;  // blank field: the scan finds nothing

  const char* q = p;
  bool negative = false;
  if (*q == '+' || *q == '-') {
    negative = *q == '-';
    ++q;
  }
  if (q < end && (IsDigit(*q) || (*q == '.' && q + 1 < end && IsDigit(q[1])))) {
    // Up to 15 digits with at most 22 after the point: the digits and the
    // power of ten are exact doubles, so their quotient is the correctly
    // rounded value, as from_chars gives it.
    static constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                              1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                              1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* r = q;
    uint64_t digits = 0;
    int count = 0, decimals = 0;
    while (r < end && IsDigit(*r) && count < 16) digits = digits * 10 + uint64_t(*r++ - '0'), ++count;
    if (r < end && *r == '.') {
      ++r;
      while (r < end && IsDigit(*r) && count < 16 && decimals < 22) {
        digits = digits * 10 + uint64_t(*r++ - '0');
        ++count;
        ++decimals;
      }
    }
    if (count <= 15 && (r == end || !(IsDigit(*r) || *r == 'e' || *r == 'E' || *r == 'x' || *r == 'X'))) {
      const double v = double(digits) / kPowersOfTen[decimals];
      return negative ? -v : v;
    }
    double v = 0.0;
    auto [stop, ec] = std::from_chars(q, end, v, std::chars_format::general);
    // Anything the scan might read differently (an exponent without digits, a hex
    // prefix, overflow) goes to the C library itself.
    if (ec == std::errc() &&
        (stop == end || !(*stop == 'e' || *stop == 'E' || *stop == 'x' || *stop == 'X'))) {
      return negative ? -v : v;
    }
  }
  std::string copy(p, end);
  double v = 0.0;
  CLocaleScope scope;
  if (std::sscanf(copy.c_str(), "%lf", &v) != 1) return 0.0;
  return v;
}

// The shortest decimal that reads back as the same double, padded with zeros
// to the field's decimals, so a typed 123.45 is stored 123.450 and not with
// the binary value's noise digits; a value needing more digits than the field
// keeps is rounded as "%*.*f" rounds. Right-aligned in width.
std::string FormatDbfNumber(double value, int width, int decimals) {
  if (std::isfinite(value) && decimals >= 0) {
    char shortest[400];
    const auto result = std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::fixed);
    if (result.ec == std::errc()) {
      std::string text(shortest, result.ptr);
      const std::size_t point = text.find('.');
      const int digits = point == std::string::npos ? 0 : int(text.size() - point - 1);
      if (digits <= decimals) {
        if (decimals > 0 && point == std::string::npos) text += '.';
        text.append(std::size_t(decimals - digits), '0');
        if (int(text.size()) < width) text.insert(0, std::size_t(width - int(text.size())), ' ');
        return text;
      }
    }
  }
  CLocaleScope scope;
  char small[512];
  int n = std::snprintf(small, sizeof small, "%*.*f", width, decimals, value);
  if (n < 0) return std::string();
  if (std::size_t(n) < sizeof small) return std::string(small, std::size_t(n));
  std::string big(std::size_t(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), "%*.*f", width, decimals, value);
  big.resize(std::size_t(n));
  return big;
}

// Eight digits forming a real calendar day.
bool IsValidDbfDate(const std::string& text) {
  if (text.size() != 8) return false;
  for (char c : text) {
    if (!IsDigit(c)) return false;
  }
  const int year = std::stoi(text.substr(0, 4));
  const int month = std::stoi(text.substr(4, 2));
  const int day = std::stoi(text.substr(6, 2));
  if (year < 1 || month < 1 || month > 12 || day < 1) return false;
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int last = (month == 2 && leap) ? 29 : kDays[month - 1];
  return day <= last;
}

// A table opened on path at once.
DbfTable::DbfTable(const std::string& path) { Open(path); }

// Lets go of the file.
DbfTable::~DbfTable() { Close(); }

// Records why an operation failed; always false so callers can return it.
bool DbfTable::Fail(DbfError error, std::string text) const {
  lastError_ = error;
  lastErrorText_ = std::move(text);
  return false;
}

// Refuses a field that runs past the row; always false.
bool DbfTable::FailPastRow(int field) const {
  const DbfField& f = fields_[std::size_t(field) - 1];
  return Fail(DbfError::BadField, "field " + Num(field) + " (" + f.name + ") ends at byte " +
                                      Num(f.offset + f.length) + " of a " + Num(recordLength_) + "-byte row");
}

// Clears the failure of an earlier operation; always true.
bool DbfTable::Succeed() const {
  lastError_ = DbfError::None;
  lastErrorText_.clear();
  return true;
}

// Opens the file for reading and writing (reading only when writing is not
// permitted), holding it exclusively, and reads its header and descriptors.
bool DbfTable::Open(const std::string& path) {
  Close();
  path_ = path;
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  writable_ = fd >= 0;
  // A table on read-only media or without write permission still shows its
  // values; only writing back is refused then.
  if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (fd < 0) {
    return Fail(DbfError::CannotOpen, "cannot open \"" + path + "\": " + std::strerror(errno));
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return Fail(DbfError::CannotOpen, "\"" + path + "\" is not a regular file");
  }
  // No sharing: a second table object on the same file is not ready. A file
  // system without locks (some network shares) still gives its values.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && (errno == EWOULDBLOCK || errno == EAGAIN)) {
    ::close(fd);
    return Fail(DbfError::Locked, "\"" + path + "\" is in use by another table");
  }
  fd_ = fd;
  fileSize_ = std::int64_t(st.st_size);
  if (!ReadHeader()) {
    // Not a table: no fields, no buffer, and the file is let go at once so it
    // does not stay locked for nothing.
    const DbfError error = lastError_;
    const std::string text = lastErrorText_;
    Close();
    path_ = path;
    return Fail(error, text);
  }
  ready_ = true;
  currentRow_ = 1;
  BlankRecord();
  return Succeed();
}

// Reads and checks the 32-byte header and the field descriptors after it.
bool DbfTable::ReadHeader() {
  unsigned char header[kHeaderSize];
  const std::int64_t got = PreadAll(fd_, header, sizeof header, 0);
  if (got < 1) {
    return Fail(DbfError::NotATable, "\"" + path_ + "\" is empty or unreadable");
  }
  if (header[0] != 0x03 && header[0] != 0x83) {
    return Fail(DbfError::NotATable, "\"" + path_ + "\" has version byte " + Num(header[0]) +
                                         ", not 3 or 131");
  }
  if (got < kHeaderSize) {
    return Fail(DbfError::NotATable, "\"" + path_ + "\" has " + Num(got) +
                                         " bytes, fewer than the 32 of a table header");
  }
  recordCount_ = std::int64_t(ReadU32(header + 4));
  headerLength_ = ReadU16(header + 8);
  recordLength_ = ReadU16(header + 10);
  // Rows that began inside the 32-byte header would overwrite it when written.
  if (headerLength_ < kHeaderSize) {
    return Fail(DbfError::BadHeader, "header length " + Num(headerLength_) + " is below 32");
  }
  const int count = (headerLength_ - kHeaderSize) / kDescriptorSize;
  const std::int64_t descriptorEnd = kHeaderSize + std::int64_t(count) * kDescriptorSize;
  if (descriptorEnd > fileSize_) {
    return Fail(DbfError::BadHeader, Num(count) + " field descriptors need " + Num(descriptorEnd) +
                                         " bytes, the file has " + Num(fileSize_));
  }
  std::vector<unsigned char> descriptors(std::size_t(count) * kDescriptorSize);
  if (count > 0 && PreadAll(fd_, descriptors.data(), descriptors.size(), kHeaderSize) !=
                       std::int64_t(descriptors.size())) {
    return Fail(DbfError::BadHeader, "field descriptors could not be read: " +
                                         Num(descriptors.size()) + " bytes at offset 32");
  }
  fields_.clear();
  fields_.reserve(std::size_t(count));
  int offset = 1;
  for (int i = 0; i < count; ++i) {
    const unsigned char* d = descriptors.data() + std::size_t(i) * kDescriptorSize;
    DbfField f;
    const void* nul = std::memchr(d, 0, 11);
    f.name.assign(reinterpret_cast<const char*>(d),
                  nul ? std::size_t(static_cast<const unsigned char*>(nul) - d) : 11u);
    f.letter = char(d[11]);
    f.type = TypeCodeOf(f.letter);
    f.length = d[16];
    f.decimals = d[17];
    f.offset = offset;
    // A field that runs past the row cannot be read (that would run off the
    // buffer); it stays in the list, so the fields keep their numbers, and the
    // fields that lie inside the row are read as usual.
    f.readable = offset + f.length <= recordLength_;
    offset += f.length;
    fields_.push_back(std::move(f));
  }
  record_.assign(std::size_t(recordLength_), 0);
  // A count larger than the file holds (a damaged or hostile header) is cut
  // to the whole rows there are, so no reader walks or reserves rows that
  // are not there.
  claimedRecordCount_ = recordCount_;
  if (recordLength_ > 0) {
    const std::int64_t held = std::max<std::int64_t>(0, fileSize_ - headerLength_) / recordLength_;
    recordCount_ = std::min(recordCount_, held);
  }
  return true;
}

// Blanks the record buffer: zero bytes, character fields spaces, numbers 0.
void DbfTable::BlankRecord() {
  std::fill(record_.begin(), record_.end(), 0);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const DbfField& f = fields_[i];
    if (!f.readable) continue;
    if (f.type == kDbfCharacter) {
      StoreText(f, std::string());
    } else if (f.type == kDbfNumeric || f.type == kDbfLogical) {
      StoreNumber(int(i) + 1, 0.0, false);
    }
  }
  rejected_.clear();
}

// Releases the file, the buffer and the fields.
void DbfTable::Close() {
  if (fd_ >= 0) {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }
  fd_ = -1;
  ready_ = false;
  writable_ = false;
  fileSize_ = 0;
  recordCount_ = 0;
  claimedRecordCount_ = 0;
  headerLength_ = 0;
  recordLength_ = 0;
  currentRow_ = 1;
  lastReadRow_ = 0;
  block_ = {};
  blockFirstRow_ = blockRows_ = 0;
  fields_.clear();
  record_.clear();
  rejected_.clear();
  window_.clear();
  window_.shrink_to_fit();
  windowStart_ = 0;
  windowLength_ = 0;
}

// The rows the header announces (capped to int), or 0 when not ready.
int DbfTable::GetRecordCount() const {
  if (!IsReady()) return 0;
  return int(std::min<std::int64_t>(recordCount_, INT_MAX));
}

// The fields of the table, or 0 when not ready.
int DbfTable::GetFieldCount() const { return IsReady() ? int(fields_.size()) : 0; }

// The descriptor of a field number from 1, or null.
const DbfField* DbfTable::GetField(int field) const {
  if (!IsReady() || field < 1 || field > int(fields_.size())) return nullptr;
  return &fields_[std::size_t(field) - 1];
}

// The field's name as stored.
bool DbfTable::GetFieldName(int field, std::string& name) const {
  const DbfField* f = GetField(field);
  if (!f) return false;
  name = f->name;
  return true;
}

// The field's type code (kDbfCharacter, kDbfNumeric, kDbfDate, kDbfLogical).
bool DbfTable::GetFieldType(int field, int& type) const {
  const DbfField* f = GetField(field);
  if (!f) return false;
  type = f->type;
  return true;
}

// The field's width in bytes.
bool DbfTable::GetFieldLength(int field, int& length) const {
  const DbfField* f = GetField(field);
  if (!f) return false;
  length = f->length;
  return true;
}

// The field's decimal count.
bool DbfTable::GetFieldDecimals(int field, int& decimals) const {
  const DbfField* f = GetField(field);
  if (!f) return false;
  decimals = f->decimals;
  return true;
}

// The field's type letter as stored.
bool DbfTable::GetFieldLetter(int field, char& letter) const {
  const DbfField* f = GetField(field);
  if (!f) return false;
  letter = f->letter;
  return true;
}

// The number of the first field named exactly so, or 0.
int DbfTable::FindField(const std::string& name) const {
  if (!IsReady()) return 0;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (fields_[i].name == name) return int(i) + 1;
  }
  return 0;
}

// Reads a block of the file starting at offset into the window; true when it
// holds at least length bytes from there.
bool DbfTable::FillWindow(std::int64_t offset, std::size_t length, bool sequential) {
  const std::size_t want = std::max(length, sequential ? kWindowBytes : kSmallWindowBytes);
  if (window_.size() < want) window_.resize(want);
  const std::int64_t got = PreadAll(fd_, window_.data(), want, offset);
  if (got < 0) {
    windowLength_ = 0;
    return false;
  }
  windowStart_ = offset;
  windowLength_ = std::size_t(got);
  return windowLength_ >= length;
}

// Copies length bytes at offset, through the window; false when they are not all
// in the file.
bool DbfTable::ReadAt(std::int64_t offset, unsigned char* out, std::size_t length, bool sequential) {
  if (length == 0) return offset <= fileSize_;
  const bool inWindow = windowLength_ > 0 && offset >= windowStart_ &&
                        offset + std::int64_t(length) <= windowStart_ + std::int64_t(windowLength_);
  if (!inWindow && !FillWindow(offset, length, sequential)) return false;
  std::memcpy(out, window_.data() + (offset - windowStart_), length);
  return true;
}

// Reads a row into the record buffer and makes it the current row.
bool DbfTable::ReadRecord(int row) {
  if (!IsReady()) return Fail(DbfError::NotReady, "the table is not open");
  if (row < 1 || std::int64_t(row) > recordCount_) {
    return Fail(DbfError::BadRow, "row " + Num(row) + " is outside 1 to " + Num(recordCount_));
  }
  const bool sequential = row == lastReadRow_ + 1 || row == lastReadRow_;
  currentRow_ = row;
  lastReadRow_ = row;
  rejected_.clear();
  const std::int64_t offset = headerLength_ + std::int64_t(row - 1) * recordLength_;
  // ReadAt copies nothing unless the whole row is there, so a row past the end
  // leaves the buffer as it was and never shows bytes from beyond the file.
  if (!ReadAt(offset, record_.data(), record_.size(), sequential)) {
    return Fail(DbfError::RowPastEnd, "row " + Num(row) + " needs bytes " + Num(offset) + " to " +
                                          Num(offset + recordLength_) + ", the file has " +
                                          Num(fileSize_));
  }
  return Succeed();
}

// Writes the record buffer over a row that lies wholly inside the file.
bool DbfTable::WriteRecord(int row) {
  if (!IsReady()) return Fail(DbfError::NotReady, "the table is not open");
  // RowBytes reads the file afresh after a write.
  blockRows_ = 0;
  if (row < 1 || std::int64_t(row) > recordCount_) {
    return Fail(DbfError::BadRow, "row " + Num(row) + " is outside 1 to " + Num(recordCount_));
  }
  if (!rejected_.empty()) {
    const DbfField& f = fields_[std::size_t(GetRejectedField()) - 1];
    return Fail(DbfError::PendingRejection, "row " + Num(row) + " not written: field " +
                                                Num(GetRejectedField()) + " (" + f.name +
                                                ") refused its value");
  }
  if (!writable_) return Fail(DbfError::ReadOnly, "\"" + path_ + "\" is open for reading only");
  const std::int64_t offset = headerLength_ + std::int64_t(row - 1) * recordLength_;
  // Rows are never appended: the row must lie wholly inside the file as it is now.
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return Fail(DbfError::IoFailed, std::string("fstat: ") + std::strerror(errno));
  fileSize_ = std::int64_t(st.st_size);
  if (offset + recordLength_ > fileSize_) {
    return Fail(DbfError::RowPastEnd, "row " + Num(row) + " needs bytes " + Num(offset) + " to " +
                                          Num(offset + recordLength_) + ", the file has " +
                                          Num(fileSize_));
  }
  // Keep the bytes being replaced, to put them back if the write fails half way.
  std::vector<unsigned char> before(record_.size());
  if (PreadAll(fd_, before.data(), before.size(), offset) != std::int64_t(before.size())) {
    return Fail(DbfError::IoFailed, "row " + Num(row) + " could not be read before writing");
  }
  if (!PwriteAll(fd_, record_.data(), record_.size(), offset)) {
    const int error = errno;
    PwriteAll(fd_, before.data(), before.size(), offset);
    windowLength_ = 0;
    return Fail(DbfError::IoFailed, "row " + Num(row) + ": writing " + Num(recordLength_) +
                                        " bytes at offset " + Num(offset) + " failed: " +
                                        std::strerror(error));
  }
  // A written row must reach the disk: the user confirmed the edit.
  if (::fdatasync(fd_) != 0) {
    const int error = errno;
    windowLength_ = 0;
    return Fail(DbfError::IoFailed, "row " + Num(row) + ": flushing to disk failed: " +
                                        std::strerror(error));
  }
  // Keep the read window in step with what is now in the file.
  const std::int64_t winEnd = windowStart_ + std::int64_t(windowLength_);
  const std::int64_t lo = std::max(offset, windowStart_);
  const std::int64_t hi = std::min(offset + std::int64_t(recordLength_), winEnd);
  if (windowLength_ > 0 && lo < hi) {
    std::memcpy(window_.data() + (lo - windowStart_), record_.data() + (lo - offset),
                std::size_t(hi - lo));
  }
  return Succeed();
}

// True when the buffered row carries the deletion mark.
bool DbfTable::IsDeleted() const { return IsReady() && !record_.empty() && record_[0] == '*'; }

// The number a field of the buffered row holds, or 0.
bool DbfTable::GetNumber(int field, double& value) const {
  value = 0.0;
  const DbfField* f = GetField(field);
  if (!f) return Fail(DbfError::BadField, "field " + Num(field) + " is outside 1 to " + Num(GetFieldCount()));
  if (!f->readable) return FailPastRow(field);
  value = ParseDbfNumber(reinterpret_cast<const char*>(record_.data()) + f->offset, std::size_t(f->length));
  return true;
}

// Rows in blocks straight from the file, each field parsed in place.
bool DbfTable::ReadNumberColumn(int field, std::vector<double>& values) {
  values.clear();
  if (!IsReady()) return Fail(DbfError::NotReady, "the table is not open");
  const DbfField* f = GetField(field);
  // A field running past the row gives nothing, as GetNumber gives 0 for it.
  if (f && !f->readable) f = nullptr;
  const std::size_t rowBytes = std::size_t(recordLength_);
  if (rowBytes == 0) return Succeed();
  values.reserve(std::size_t(recordCount_));
  constexpr std::size_t kBlockBytes = std::size_t{4} << 20;
  // No bigger than the rows there are: a small table costs a small block.
  const std::size_t rowsPerBlock = std::max<std::size_t>(
      1, std::min<std::size_t>(kBlockBytes / rowBytes, std::size_t(std::max<std::int64_t>(recordCount_, 1))));
  std::vector<unsigned char> block(rowsPerBlock * rowBytes);
  for (std::int64_t row = 0; row < recordCount_;) {
    const std::size_t rows = std::size_t(std::min<std::int64_t>(std::int64_t(rowsPerBlock), recordCount_ - row));
    const std::int64_t got = PreadAll(fd_, block.data(), rows * rowBytes, headerLength_ + row * std::int64_t(rowBytes));
    // Only whole rows are read, as ReadRecord reads them.
    const std::size_t whole = got > 0 ? std::size_t(got) / rowBytes : 0;
    for (std::size_t i = 0; i < whole; ++i) {
      values.push_back(f ? ParseDbfNumber(reinterpret_cast<const char*>(block.data()) + i * rowBytes + f->offset,
                                          std::size_t(f->length))
                         : 0.0);
    }
    if (whole < rows) break;
    row += std::int64_t(rows);
  }
  return Succeed();
}

// The row from the current block, or the block that starts at it.
const unsigned char* DbfTable::RowBytes(int row) {
  if (!IsReady() || row < 1 || std::int64_t(row) > recordCount_ || recordLength_ <= 0) return nullptr;
  const std::size_t rowBytes = std::size_t(recordLength_);
  if (row < blockFirstRow_ || row >= blockFirstRow_ + blockRows_) {
    constexpr std::size_t kBlockBytes = std::size_t{4} << 20;
    const std::size_t rowsPerBlock = std::max<std::size_t>(1, kBlockBytes / rowBytes);
    const std::size_t rows = std::size_t(std::min<std::int64_t>(std::int64_t(rowsPerBlock), recordCount_ - row + 1));
    block_.resize(rows * rowBytes);
    const std::int64_t got =
        PreadAll(fd_, block_.data(), rows * rowBytes, headerLength_ + std::int64_t(row - 1) * std::int64_t(rowBytes));
    // Only whole rows are read, as ReadRecord reads them.
    blockFirstRow_ = row;
    blockRows_ = got > 0 ? got / std::int64_t(rowBytes) : 0;
    if (blockRows_ == 0) return nullptr;
  }
  return block_.data() + std::size_t(row - blockFirstRow_) * rowBytes;
}

// A field's text into a C buffer, cut to size - 1 bytes, trailing spaces removed.
bool DbfTable::GetString(int field, char* buffer, int size) const {
  const DbfField* f = GetField(field);
  if (!f) return Fail(DbfError::BadField, "field " + Num(field) + " is outside 1 to " + Num(GetFieldCount()));
  if (!f->readable) return FailPastRow(field);
  // No room even for the terminator: nothing can be given back.
  if (!buffer || size < 1) return Fail(DbfError::BadField, "no room for the text of field " + Num(field));
  const std::size_t n = std::min<std::size_t>(std::size_t(f->length), std::size_t(size) - 1);
  std::memcpy(buffer, record_.data() + f->offset, n);
  buffer[n] = '\0';
  std::size_t len = std::strlen(buffer);
  while (len > 0 && buffer[len - 1] == ' ') buffer[--len] = '\0';
  return true;
}

// A field's whole text up to its first NUL, trailing spaces removed.
bool DbfTable::GetString(int field, std::string& text) const {
  const DbfField* f = GetField(field);
  if (!f) return Fail(DbfError::BadField, "field " + Num(field) + " is outside 1 to " + Num(GetFieldCount()));
  if (!f->readable) return FailPastRow(field);
  const char* p = reinterpret_cast<const char*>(record_.data()) + f->offset;
  const void* nul = std::memchr(p, 0, std::size_t(f->length));
  std::size_t len = nul ? std::size_t(static_cast<const char*>(nul) - p) : std::size_t(f->length);
  while (len > 0 && p[len - 1] == ' ') --len;
  text.assign(p, len);
  return true;
}

// The lowest field refused since the last read, or 0.
int DbfTable::GetRejectedField() const {
  if (rejected_.empty()) return 0;
  return *std::min_element(rejected_.begin(), rejected_.end());
}

// Remembers that a field refused its value.
void DbfTable::MarkRejected(int field) {
  if (std::find(rejected_.begin(), rejected_.end(), field) == rejected_.end()) rejected_.push_back(field);
}

// Forgets a refusal once the field took a value.
void DbfTable::ClearRejected(int field) {
  rejected_.erase(std::remove(rejected_.begin(), rejected_.end(), field), rejected_.end());
}

// Formats and stores a number; a refusal is remembered only for callers' values,
// not for the blank row made on opening.
bool DbfTable::StoreNumber(int field, double value, bool markRejection) {
  const DbfField& f = fields_[std::size_t(field) - 1];
  // "nan" or "inf" in a numeric field would be read by no other program.
  if (!std::isfinite(value)) {
    if (markRejection) MarkRejected(field);
    return Fail(DbfError::BadNumber, "field " + Num(field) + " (" + f.name + ") takes no infinite or undefined number");
  }
  const std::string text = FormatDbfNumber(value, f.length, f.decimals);
  if (text.size() > std::size_t(f.length)) {
    if (markRejection) MarkRejected(field);
    return Fail(DbfError::ValueTooWide, "field " + Num(field) + " (" + f.name + "): \"" + text +
                                            "\" has " + Num(text.size()) + " characters, the field " +
                                            Num(f.length));
  }
  // A date field takes only a real date, whichever setter writes it; it is
  // stored left-aligned as dates are.
  if (f.type == kDbfDate) {
    const std::size_t first = text.find_first_not_of(' ');
    const std::string digits = first == std::string::npos ? std::string() : text.substr(first);
    if (!IsValidDbfDate(digits)) {
      if (markRejection) MarkRejected(field);
      return Fail(DbfError::BadDate, "field " + Num(field) + " (" + f.name + "): \"" + text +
                                         "\" is not a date YYYYMMDD");
    }
    StoreText(f, digits);
    if (markRejection) ClearRejected(field);
    return Succeed();
  }
  std::memset(record_.data() + f.offset, ' ', std::size_t(f.length));
  std::memcpy(record_.data() + f.offset, text.data(), text.size());
  if (markRejection) ClearRejected(field);
  return Succeed();
}

// Stores a text left-aligned and padded with spaces (the caller checked its length).
bool DbfTable::StoreText(const DbfField& f, const std::string& text) {
  unsigned char* p = record_.data() + f.offset;
  std::memset(p, 0, std::size_t(f.length));
  std::memcpy(p, text.data(), std::min(text.size(), std::size_t(f.length)));
  for (int i = 0; i < f.length; ++i) {
    if (p[i] == 0) p[i] = ' ';
  }
  return true;
}

// Writes a number into a field of the buffer, if it fits.
bool DbfTable::SetNumber(int field, double value) {
  const DbfField* f = GetField(field);
  if (!f) return Fail(DbfError::BadField, "field " + Num(field) + " is outside 1 to " + Num(GetFieldCount()));
  if (!f->readable) return FailPastRow(field);
  return StoreNumber(field, value, true);
}

// Writes a text into a field of the buffer, if it fits.
bool DbfTable::SetString(int field, const std::string& input) {
  const DbfField* f = GetField(field);
  if (!f) return Fail(DbfError::BadField, "field " + Num(field) + " is outside 1 to " + Num(GetFieldCount()));
  if (!f->readable) return FailPastRow(field);
  // The text is a C string: it ends at its first NUL byte.
  std::string text = input.substr(0, input.find('\0'));
  // Trailing spaces are padding either way; only real characters must fit.
  std::size_t used = text.size();
  while (used > 0 && text[used - 1] == ' ') --used;
  if (used > std::size_t(f->length)) {
    // The buffer shows the text cut at the field length, so reads see what fits, but
    // the refusal is remembered so that WriteRecord never stores the cut text.
    // A date field keeps its date: a cut text would be no date at all.
    if (f->type != kDbfDate) StoreText(*f, text.substr(0, used));
    MarkRejected(field);
    return Fail(DbfError::ValueTooWide, "field " + Num(field) + " (" + f->name + "): a text of " +
                                            Num(used) + " characters, the field " + Num(f->length));
  }
  text.resize(used);
  if (f->type == kDbfDate && !text.empty() && !IsValidDbfDate(text)) {
    MarkRejected(field);
    return Fail(DbfError::BadDate, "field " + Num(field) + " (" + f->name + "): \"" + text +
                                       "\" is not a date YYYYMMDD");
  }
  StoreText(*f, text);
  ClearRejected(field);
  return Succeed();
}

}  // namespace kestrune
