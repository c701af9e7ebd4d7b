#include "clean/SubsetWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <thread>

#include "base/Paths.h"
#include "base/LandingJournal.h"
#include "base/SafeFile.h"
#include "base/SetLanding.h"
#include "clean/CleanSource.h"
#include "lang/LangString.h"
#include "layers/IniFile.h"
#include "shapes/DbfTable.h"
#include "shapes/FileSet.h"

namespace kestrune {

namespace {

// Reads and writes go in blocks of 128 KiB: a block stays in the core's own
// cache between being filled here and copied by the kernel (with blocks of
// 4 MiB, a 10M-record save spent twice the system time on those copies).
constexpr size_t kBlock = size_t(1) << 17;

Error MakeError(const char* text, const std::string& path, int errorNumber = 0) {
  Error e;
  e.text = LangFormat(text, path.c_str());
  e.caption = LangText(kMsgSubsetCaption);
  e.file = path;
  if (errorNumber != 0) e.reason = std::strerror(errorNumber);
  e.id = TextIdOf(text);
  return e;
}

Error WriteError(const SafeFile& file, const std::string& path) {
  const FileWriteError& w = file.Error();
  Error e = MakeError(kMsgSubsetFailed, path, w.failure == FileWriteFailure::System ? w.error : 0);
  if (w.failure == FileWriteFailure::SymbolicLink) e.reason = "a symbolic link";
  if (w.failure == FileWriteFailure::NotRegular) e.reason = "not a regular file";
  return e;
}

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

void PutBig(unsigned char* p, int32_t v) {
  const uint32_t u = uint32_t(v);
  p[0] = uint8_t(u >> 24);
  p[1] = uint8_t(u >> 16);
  p[2] = uint8_t(u >> 8);
  p[3] = uint8_t(u);
}
void PutLittle32(unsigned char* p, uint32_t u) {
  p[0] = uint8_t(u);
  p[1] = uint8_t(u >> 8);
  p[2] = uint8_t(u >> 16);
  p[3] = uint8_t(u >> 24);
}
int32_t BigInt(const unsigned char* p) { return int32_t(uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]); }
int32_t LittleInt(const unsigned char* p) { return int32_t(uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]); }
double LittleDouble(const unsigned char* p) {
  double d;
  std::memcpy(&d, p, 8);
  return d;
}

// Appends to a SafeFile in large writes.
class Output {
 public:
  explicit Output(SafeFile& file) : file_(file), buffer_(kBlock + 65536) {}
  bool Add(const void* bytes, size_t count) {
    if (count > buffer_.size() - used_) {
      if (!Flush()) return false;
      if (count > buffer_.size()) return file_.Write(std::string_view(static_cast<const char*>(bytes), count));
    }
    std::memcpy(buffer_.data() + used_, bytes, count);
    used_ += count;
    return used_ < kBlock || Flush();
  }
  // Room for count bytes written in place, then Commit(count); null when a
  // flush on the way failed.
  char* Reserve(size_t count) {
    if (count > buffer_.size() - used_) {
      if (!Flush()) return nullptr;
      if (count > buffer_.size()) buffer_.resize(count);
    }
    return buffer_.data() + used_;
  }
  bool Commit(size_t count) {
    used_ += count;
    return used_ < kBlock || Flush();
  }
  bool Flush() {
    const bool ok = used_ == 0 || file_.Write(std::string_view(buffer_.data(), used_));
    used_ = 0;
    return ok;
  }

 private:
  SafeFile& file_;
  std::vector<char> buffer_;
  size_t used_ = 0;
};

// A number as the table writes it (FormatDbfNumber), right-aligned in the
// width bytes at out without allocating; false when it does not fit.
constexpr double kTens[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

bool PutDbfNumber(char* out, double value, int width, int decimals) {
  // A value that is a whole number of the field's smallest steps (as a
  // logged value is), well within the doubles' exact range: its shortest
  // text has no more decimals than the field, so the digits of that whole
  // number with the point put in are the same text, written without
  // to_chars. Minus zero keeps its sign through to_chars below.
  if (decimals >= 0 && decimals < 16 && !(value == 0.0 && std::signbit(value))) {
    const double scaled = value * kTens[decimals];
    if (std::fabs(scaled) < 1e15) {
      const long long whole = std::llround(scaled);
      if (double(whole) / kTens[decimals] == value) {
        char text[40];
        char* p = text + sizeof text;
        unsigned long long u = whole < 0 ? 0ull - static_cast<unsigned long long>(whole)
                                         : static_cast<unsigned long long>(whole);
        for (int k = 0; k < decimals; ++k) {
          *--p = char('0' + u % 10);
          u /= 10;
        }
        if (decimals > 0) *--p = '.';
        do {
          *--p = char('0' + u % 10);
          u /= 10;
        } while (u > 0);
        if (whole < 0) *--p = '-';
        const int length = int(text + sizeof text - p);
        if (length > width) return false;
        std::memset(out, ' ', size_t(width - length));
        std::memcpy(out + (width - length), p, size_t(length));
        return true;
      }
    }
  }
  char text[400];
  char* end = nullptr;
  const auto shortest = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
  if (shortest.ec == std::errc()) {
    char* point = std::find(text, shortest.ptr, '.');
    const int digits = point == shortest.ptr ? 0 : int(shortest.ptr - point - 1);
    if (digits <= decimals && (shortest.ptr - text) + 1 + decimals < int(sizeof text)) {
      end = shortest.ptr;
      if (decimals > 0 && point == shortest.ptr) *end++ = '.';
      for (int k = digits; k < decimals; ++k) *end++ = '0';
    }
  }
  if (!end) {
    const auto fixed = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (fixed.ec != std::errc()) return false;
    end = fixed.ptr;
  }
  const int length = int(end - text);
  if (length > width) return false;
  std::memset(out, ' ', size_t(width - length));
  std::memcpy(out + (width - length), text, size_t(length));
  return true;
}

// Overwrites the start of a SafeFile's temporary with a header.
bool PatchHeader(SafeFile& file, const unsigned char* header, size_t count) {
  const std::string& temp = file.TemporaryPath();
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::pwrite(fd, header, count, 0) == ssize_t(count);
  return ::close(fd) == 0 && ok;
}

// Reads a source file in blocks.
class Input {
 public:
  bool Open(const std::string& path) {
    file_.reset(std::fopen(path.c_str(), "rb"));
    buffer_.resize(kBlock);
    return bool(file_);
  }
  // count bytes at the reading place, or null at the end of the file.
  const unsigned char* Take(size_t count) {
    if (have_ - at_ < count) {
      std::memmove(buffer_.data(), buffer_.data() + at_, have_ - at_);
      have_ -= at_;
      at_ = 0;
      if (buffer_.size() < count) buffer_.resize(count);
      while (have_ < count) {
        const size_t got = std::fread(buffer_.data() + have_, 1, buffer_.size() - have_, file_.get());
        if (got == 0) return nullptr;
        have_ += got;
      }
    }
    const unsigned char* p = buffer_.data() + at_;
    at_ += count;
    return p;
  }

 private:
  FilePtr file_;
  std::vector<unsigned char> buffer_;
  size_t have_ = 0, at_ = 0;
};

// One file of the new set on its way.
struct Pending {
  std::string destination;
  std::unique_ptr<SafeFile> temp;  // null for a stale file to remove
};

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The shape records kept: the ".shp" and ".shx" into their temporaries.
bool WriteGeometry(const std::string& source, const std::vector<uint8_t>& keep, SafeFile& shp, SafeFile& shx,
                   std::vector<int64_t>& keptRecords, Error* error, const std::string& shpPath,
                   const std::string& shxPath) {
  Input in;
  if (!in.Open(source)) return Fail(error, MakeError(kMsgSubsetSource, source, errno));
  const unsigned char* head = in.Take(100);
  if (!head || BigInt(head) != 9994) return Fail(error, MakeError(kMsgSubsetSource, source));
  unsigned char header[100];
  std::memcpy(header, head, 100);
  Output shpOut(shp), shxOut(shx);
  unsigned char blank[100] = {};
  if (!shpOut.Add(blank, 100)) return Fail(error, WriteError(shp, shpPath));
  if (!shxOut.Add(blank, 100)) return Fail(error, WriteError(shx, shxPath));
  double box[4] = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  int64_t offsetWords = 50;
  int64_t number = 0;
  while (const unsigned char* rec = in.Take(8)) {
    const int32_t words = BigInt(rec + 4);
    const size_t bytes = size_t(std::max(words, 0)) * 2;
    const unsigned char* content = in.Take(bytes);
    if (!content) break;
    ++number;
    if (size_t(number) > keep.size() || !keep[size_t(number - 1)]) continue;
    keptRecords.push_back(number);
    unsigned char recordHeader[8];
    PutBig(recordHeader, int32_t(keptRecords.size()));
    PutBig(recordHeader + 4, words);
    unsigned char index[8];
    PutBig(index, int32_t(offsetWords));
    PutBig(index + 4, words);
    offsetWords += 4 + words;
    if (!shpOut.Add(recordHeader, 8) || !shpOut.Add(content, bytes)) return Fail(error, WriteError(shp, shpPath));
    if (!shxOut.Add(index, 8)) return Fail(error, WriteError(shx, shxPath));
    const int32_t type = bytes >= 4 ? LittleInt(content) : 0;
    if (type == 1 || type == 11 || type == 21) {
      if (bytes >= 20) {
        const double x = LittleDouble(content + 4), y = LittleDouble(content + 12);
        box[0] = std::min(box[0], x);
        box[1] = std::min(box[1], y);
        box[2] = std::max(box[2], x);
        box[3] = std::max(box[3], y);
      }
    } else if (type != 0 && bytes >= 40) {
      // The box of the points themselves: a record's own box may be wrong.
      const bool multipoint = type == 8 || type == 18 || type == 28;
      const int64_t parts = multipoint ? 0 : std::max(LittleInt(content + 36), 0);
      const int64_t count = std::max(LittleInt(content + (multipoint ? 36 : 40)), 0);
      const size_t first = size_t(multipoint ? 40 : 44 + 4 * parts);
      for (int64_t k = 0; k < count && first + size_t(k) * 16 + 16 <= bytes; ++k) {
        const double x = LittleDouble(content + first + size_t(k) * 16);
        const double y = LittleDouble(content + first + size_t(k) * 16 + 8);
        box[0] = std::min(box[0], x);
        box[1] = std::min(box[1], y);
        box[2] = std::max(box[2], x);
        box[3] = std::max(box[3], y);
      }
    }
  }
  if (offsetWords > std::numeric_limits<int32_t>::max()) return Fail(error, MakeError(kMsgSubsetFailed, shpPath, EFBIG));
  if (!(box[0] <= box[2])) std::fill(box, box + 4, 0.0);
  for (int i = 0; i < 4; ++i) std::memcpy(header + 36 + 8 * i, &box[i], 8);
  if (!shpOut.Flush()) return Fail(error, WriteError(shp, shpPath));
  if (!shxOut.Flush()) return Fail(error, WriteError(shx, shxPath));
  PutBig(header + 24, int32_t(offsetWords));
  if (!PatchHeader(shp, header, 100)) return Fail(error, MakeError(kMsgSubsetFailed, shpPath, errno));
  PutBig(header + 24, int32_t(50 + 4 * keptRecords.size()));
  if (!PatchHeader(shx, header, 100)) return Fail(error, MakeError(kMsgSubsetFailed, shxPath, errno));
  if (!shp.Finish()) return Fail(error, WriteError(shp, shpPath));
  if (!shx.Finish()) return Fail(error, WriteError(shx, shxPath));
  return true;
}

// The rows of the kept records with their source numbers into the ".dbf" temporary.
bool WriteTable(const std::string& source, const std::vector<int64_t>& keptRecords, const SubsetOptions& options,
                SafeFile& dbf, Error* error, const std::string& dbfPath) {
  Input in;
  if (!in.Open(source)) return Fail(error, MakeError(kMsgSubsetSource, source, errno));
  const unsigned char* h = in.Take(32);
  if (!h) return Fail(error, MakeError(kMsgSubsetSource, source));
  std::vector<unsigned char> header(h, h + 32);
  const int headerLength = h[8] | h[9] << 8;
  const int recordLength = h[10] | h[11] << 8;
  const int64_t sourceRows = uint32_t(LittleInt(h + 4));
  if (headerLength < 33 || recordLength < 1) return Fail(error, MakeError(kMsgSubsetSource, source));
  const unsigned char* rest = in.Take(size_t(headerLength - 32));
  if (!rest) return Fail(error, MakeError(kMsgSubsetSource, source));
  // The descriptors, up to the terminator.
  struct Field {
    std::string name;
    char type;
    int offset, length, decimals;
  };
  std::vector<unsigned char> descriptors;
  std::vector<Field> fields;
  int offset = 1;
  for (int at = 0; at + 32 <= headerLength - 32 && rest[at] != 0x0D; at += 32) {
    descriptors.insert(descriptors.end(), rest + at, rest + at + 32);
    Field f;
    f.name.assign(reinterpret_cast<const char*>(rest + at), strnlen(reinterpret_cast<const char*>(rest + at), 11));
    f.type = char(rest[at + 11]);
    f.length = rest[at + 16];
    f.decimals = rest[at + 17];
    f.offset = offset;
    offset += f.length;
    fields.push_back(f);
  }
  int sourceField = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    std::string upper = fields[i].name;
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (upper == kSourceRecordField && (fields[i].type == 'N' || fields[i].type == 'F')) sourceField = int(i) + 1;
  }
  int newRecordLength = recordLength;
  int sourceOffset = 0, sourceLength = 10;
  if (sourceField > 0) {
    sourceOffset = fields[size_t(sourceField - 1)].offset;
    sourceLength = fields[size_t(sourceField - 1)].length;
  } else {
    unsigned char d[32] = {};
    std::memcpy(d, kSourceRecordField, std::strlen(kSourceRecordField));
    d[11] = 'N';
    d[16] = 10;
    descriptors.insert(descriptors.end(), d, d + 32);
    sourceOffset = recordLength;
    newRecordLength = recordLength + sourceLength;
  }
  if (newRecordLength > 65535) return Fail(error, MakeError(kMsgSubsetFailed, dbfPath, EFBIG));
  if (sourceLength < 1) return Fail(error, MakeError(kMsgSubsetFailed, dbfPath, ERANGE));
  const int newHeaderLength = 32 + int(descriptors.size()) + 1;
  PutLittle32(header.data() + 4, uint32_t(keptRecords.size()));
  header[8] = uint8_t(newHeaderLength);
  header[9] = uint8_t(newHeaderLength >> 8);
  header[10] = uint8_t(newRecordLength);
  header[11] = uint8_t(newRecordLength >> 8);
  Output out(dbf);
  if (!out.Add(header.data(), 32) || !out.Add(descriptors.data(), descriptors.size()) || !out.Add("\r", 1)) {
    return Fail(error, WriteError(dbf, dbfPath));
  }
  const Field* replaced = options.replaceField >= 1 && size_t(options.replaceField) <= fields.size() &&
                                  options.replaceValues
                              ? &fields[size_t(options.replaceField - 1)]
                              : nullptr;
  // Each row goes straight into the output: its bytes as they are, the
  // replaced field and the source number written over them in place.
  int64_t rowNumber = 0;
  for (int64_t record : keptRecords) {
    // The rows between are skipped in the source.
    const unsigned char* bytes = nullptr;
    while (rowNumber < record && rowNumber < sourceRows) {
      bytes = in.Take(size_t(recordLength));
      if (!bytes) break;
      ++rowNumber;
    }
    char* row = out.Reserve(size_t(newRecordLength));
    if (!row) return Fail(error, WriteError(dbf, dbfPath));
    if (bytes && rowNumber == record) {
      std::memcpy(row, bytes, size_t(recordLength));
      std::memset(row + recordLength, ' ', size_t(newRecordLength - recordLength));
    } else {
      std::memset(row, ' ', size_t(newRecordLength));  // a record without a row gets a blank one
    }
    if (replaced) {
      const double v = size_t(record - 1) < options.replaceValues->size()
                           ? (*options.replaceValues)[size_t(record - 1)]
                           : std::numeric_limits<double>::quiet_NaN();
      char* field = row + replaced->offset;
      if (!std::isfinite(v)) {
        std::memset(field, ' ', size_t(replaced->length));
      } else if (!PutDbfNumber(field, v, replaced->length, replaced->decimals)) {
        return Fail(error, MakeError(kMsgSubsetFailed, dbfPath, ERANGE));
      }
    }
    // The source number right-aligned in its field, blanks before it.
    char* const digits = row + sourceOffset;
    char* at = digits + sourceLength;
    uint64_t rest = uint64_t(record);
    do {
      *--at = char('0' + rest % 10);
      rest /= 10;
    } while (rest > 0 && at > digits);
    if (rest > 0) return Fail(error, MakeError(kMsgSubsetFailed, dbfPath, ERANGE));
    std::memset(digits, ' ', size_t(at - digits));
    if (!out.Commit(size_t(newRecordLength))) return Fail(error, WriteError(dbf, dbfPath));
  }
  if (!out.Add("\x1A", 1) || !out.Flush() || !dbf.Finish()) return Fail(error, WriteError(dbf, dbfPath));
  return true;
}

}  // namespace

bool WriteShapeSubset(const std::string& sourceShp, const std::string& newShp, const std::vector<uint8_t>& keep,
                      const SubsetOptions& options, SubsetResult& result, Error* error) {
  result = SubsetResult{};
  const std::string oldBase = BasePathOf(sourceShp);
  const std::string newBase = BasePathOf(newShp);
  // A landing to this folder that a kill cut short is finished (or rolled
  // back) first, so the names below are those of a whole set.
  const std::string folder = FolderOf(SideFilePath(newBase, "shp"));
  RecoverLandings(folder.empty() ? std::string(".") : folder);
  const std::string shpSource = FindSideFile(oldBase, "shp");
  const std::string dbfSource = FindSideFile(oldBase, "dbf");
  if (shpSource.empty()) return Fail(error, MakeError(kMsgSubsetSource, oldBase + ".shp", ENOENT));
  if (dbfSource.empty()) return Fail(error, MakeError(kMsgSubsetSource, oldBase + ".dbf", ENOENT));

  static const char* const kKinds[] = {"shp", "shx", "dbf", "prj", "cpg", "gpe", "lgd", "lgc"};
  std::vector<Pending> files;
  for (const char* ext : kKinds) {
    Pending p;
    p.destination = SideFilePath(newBase, ext);
    const std::string from = FindSideFile(oldBase, ext);
    if (!from.empty() && SameFile(from, p.destination)) {
      return Fail(error, MakeError(kMsgSubsetOntoItself, p.destination));
    }
    files.push_back(std::move(p));
  }
  auto open = [&](Pending& p) {
    p.temp = std::make_unique<SafeFile>();
    if (!p.temp->Open(p.destination)) return Fail(error, WriteError(*p.temp, p.destination));
    return true;
  };
  Pending& shp = files[0];
  Pending& shx = files[1];
  Pending& dbf = files[2];
  if (!open(shp) || !open(shx) || !open(dbf)) return false;
  // The ".shp" and ".shx" on a worker while the ".dbf" is written here, for
  // the records chosen; when the ".shp" holds fewer, the ".dbf" is written
  // again for those it holds.
  std::vector<int64_t> chosen, kept;
  for (size_t i = 0; i < keep.size(); ++i) {
    if (keep[i]) chosen.push_back(int64_t(i) + 1);
  }
  bool geometryOk = false;
  Error geometryError;
  std::thread geometry([&] {
    geometryOk = WriteGeometry(shpSource, keep, *shp.temp, *shx.temp, kept, &geometryError, shp.destination,
                               shx.destination);
  });
  Error tableError;
  const bool tableOk = WriteTable(dbfSource, chosen, options, *dbf.temp, &tableError, dbf.destination);
  geometry.join();
  if (!geometryOk) return Fail(error, geometryError);
  if (kept != chosen) {
    if (!open(dbf) || !WriteTable(dbfSource, kept, options, *dbf.temp, error, dbf.destination)) return false;
  } else if (!tableOk) {
    return Fail(error, tableError);
  }

  // The side files: copied, the ".gpe" without the cleaning keys.
  for (size_t i = 3; i < files.size(); ++i) {
    Pending& p = files[i];
    const std::string from = FindSideFile(oldBase, kKinds[i]);
    std::string bytes;
    if (from.empty() || ReadSideFile(from, std::size_t(64) << 20, bytes) != SideFileStatus::Ok) continue;
    if (std::string(kKinds[i]) == "gpe") {
      IniFile ini = IniFile::Parse(bytes);
      if (RemoveCleanSettings(ini)) bytes = ini.ToText();
    }
    if (!open(p)) return false;
    if (!p.temp->Write(bytes) || !p.temp->Finish()) return Fail(error, WriteError(*p.temp, p.destination));
  }

  // Landing, through a journal: a kill on the way is finished or rolled
  // back by the next recovery of the folder.
  std::vector<SetLandingFile> landing;
  for (Pending& p : files) {
    if (p.temp || Exists(p.destination)) landing.push_back({p.destination, p.temp.get()});
  }
  SetLandingFailure failure;
  if (!LandFileSet(newBase, landing, nullptr, &failure)) {
    return Fail(error, MakeError(kMsgSubsetFailed, failure.path, failure.error));
  }
  for (const SetLandingFile& f : landing) (f.incoming ? result.written : result.removed).push_back(f.destination);
  result.records = int64_t(kept.size());
  return true;
}

}  // namespace kestrune
