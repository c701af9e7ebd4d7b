// Reading and writing the language file, and its text-table form for krlang.
#include "lang/LangFile.h"

#include <atomic>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <set>
#include <sys/stat.h>

#include "base/SafeFile.h"
#include "lang/FileErrorText.h"
#include "lang/LangString.h"

namespace kestrune {

namespace {

std::string g_langFilePath = "KRLang.dat";
std::atomic<uint64_t> g_openCount{0};

// Closes a stdio file when the reader returns by any path.
struct FileCloser {
  std::FILE* file;
  ~FileCloser() {
    if (file) std::fclose(file);
  }
};

// Little-endian u32 at p.
uint32_t GetU32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Appends a little-endian u32.
void PutU32(std::string& out, uint32_t v) {
  out.push_back(char(v & 0xFF));
  out.push_back(char((v >> 8) & 0xFF));
  out.push_back(char((v >> 16) & 0xFF));
  out.push_back(char((v >> 24) & 0xFF));
}

// Overwrites a little-endian u32 at pos.
void SetU32(std::string& out, size_t pos, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[pos + i] = char((v >> (8 * i)) & 0xFF);
}

// Appends code point cp as UTF-8.
void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(char(cp));
  } else if (cp < 0x800) {
    out.push_back(char(0xC0 | (cp >> 6)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(char(0xE0 | (cp >> 12)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (cp >> 18)));
    out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  }
}

// A text as the lookup hands it on: C strings end at the first NUL.
std::string UpToNul(std::string text) {
  size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

// Decodes length characters of raw text bytes (narrow, or UTF-16LE when wide).
std::string DecodeText(const unsigned char* bytes, uint32_t length, bool wide) {
  if (wide) return UpToNul(Utf16LeToUtf8(bytes, length));
  return UpToNul(std::string(reinterpret_cast<const char*>(bytes), length));
}

void SetError(std::string* error, const std::string& message) {
  if (error) *error = message;
}

}  // namespace

int32_t LangHomeSlot(uint32_t id, int32_t slotCount) {
  if (slotCount <= 0) return -1;
  // id + 2 as a signed 32-bit number; its logarithm must exist and be finite.
  int32_t arg = int32_t(uint32_t(id + 2u));
  if (arg <= 0) return -1;
  double h = std::log(double(arg)) * 1000000.0;
  double slot = std::trunc((h - std::trunc(h)) * double(slotCount));
  // The fraction is below 1, so the slot is below slotCount; guard rounding anyway.
  if (!(slot >= 0.0)) return 0;
  if (slot >= double(slotCount)) return slotCount - 1;
  return int32_t(slot);
}

bool IsStorableLangId(uint32_t id) {
  return id != 0 && id != kLangEmptySlotId && LangHomeSlot(id, 1) >= 0;
}

void SetLangFilePath(const std::string& path) { g_langFilePath = path; }

const std::string& GetLangFilePath() { return g_langFilePath; }

uint64_t LangFileOpenCount() { return g_openCount; }

bool ReadLangFileString(uint32_t id, std::string& text) {
  return ReadLangFileString(g_langFilePath, id, text);
}

bool ReadLangFileString(const std::string& path, uint32_t id, std::string& text) {
  ++g_openCount;
  // Only a regular file is opened: a pipe in its place would block the open.
  struct stat before;
  if (::stat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode)) return false;
  FileCloser f{std::fopen(path.c_str(), "rb")};
  if (!f.file) return false;
  // Every offset and count is checked against the real size before it is used.
  struct stat st;
  if (fstat(fileno(f.file), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const uint64_t fileSize = uint64_t(st.st_size);

  unsigned char header[kLangHeaderSize];
  if (std::fread(header, 1, sizeof header, f.file) != sizeof header) return false;
  const int32_t slotCount = int32_t(GetU32(header));
  const bool wide = GetU32(header + 4) != 0;
  // An empty table holds no ids; a negative count is a lie.
  if (slotCount <= 0) return false;
  // A table that cannot fit in the file is a lie too: give the default.
  if (kLangHeaderSize + uint64_t(kLangSlotSize) * uint64_t(slotCount) > fileSize) return false;

  int32_t index = LangHomeSlot(id, slotCount);
  if (index < 0) return false;
  unsigned char slot[kLangSlotSize];
  bool found = false;
  for (int32_t probes = 0; probes < slotCount; ++probes) {
    long pos = long(kLangHeaderSize + uint64_t(kLangSlotSize) * uint64_t(index));
    if (std::fseek(f.file, pos, SEEK_SET) != 0) return false;
    if (std::fread(slot, 1, sizeof slot, f.file) != sizeof slot) return false;
    uint32_t slotId = GetU32(slot);
    if (slotId == id) {
      found = true;
      break;
    }
    if (slotId == kLangEmptySlotId) return false;
    index = index + 1 == slotCount ? 0 : index + 1;
  }
  if (!found) return false;

  const uint32_t offset = GetU32(slot + 4);
  const uint32_t length = GetU32(slot + 8);
  const uint64_t bytes = uint64_t(length) * (wide ? 2u : 1u);
  // A text running past the end is not read at all (no huge buffer for a lie).
  if (uint64_t(offset) + bytes > fileSize) return false;
  std::string raw(size_t(bytes), '\0');
  if (bytes > 0) {
    if (std::fseek(f.file, long(offset), SEEK_SET) != 0) return false;
    if (std::fread(raw.data(), 1, raw.size(), f.file) != raw.size()) return false;
  }
  text = DecodeText(reinterpret_cast<const unsigned char*>(raw.data()), length, wide);
  return true;
}

bool ReadLangFileEntries(const std::string& path, std::vector<LangEntry>& entries, bool* wide,
                         std::string* error) {
  entries.clear();
  struct stat st;
  const bool regular = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  std::ifstream in;
  if (regular) in.open(path, std::ios::binary);
  if (!regular || !in) {
    SetError(error, LangFormat("#20000200:Cannot open the language file %s.", path.c_str()));
    return false;
  }
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  const uint64_t size = data.size();
  if (size < kLangHeaderSize) {
    SetError(error, LangFormat("#20000201:The language file %s is too short for its header "
                               "(%llu of 8 bytes).",
                               path.c_str(), (unsigned long long)size));
    return false;
  }
  const int32_t slotCount = int32_t(GetU32(p));
  const bool isWide = GetU32(p + 4) != 0;
  if (wide) *wide = isWide;
  const uint64_t tableEnd =
      kLangHeaderSize + uint64_t(kLangSlotSize) * uint64_t(slotCount < 0 ? 0 : slotCount);
  if (slotCount < 0 || tableEnd > size) {
    SetError(error, LangFormat("#20000202:The language file %s declares %d slots, which need "
                               "%llu bytes, but the file has %llu bytes.",
                               path.c_str(), int(slotCount), (unsigned long long)tableEnd,
                               (unsigned long long)size));
    return false;
  }
  for (int32_t k = 0; k < slotCount; ++k) {
    const unsigned char* s = p + kLangHeaderSize + uint64_t(kLangSlotSize) * uint64_t(k);
    const uint32_t id = GetU32(s);
    if (id == kLangEmptySlotId) continue;
    const uint32_t offset = GetU32(s + 4);
    const uint32_t length = GetU32(s + 8);
    const uint64_t bytes = uint64_t(length) * (isWide ? 2u : 1u);
    if (uint64_t(offset) + bytes > size) {
      SetError(error, LangFormat("#20000203:Slot %d (id %u) of the language file %s holds a "
                                 "text of %llu bytes at offset %u, past the end of the file "
                                 "(%llu bytes).",
                                 int(k), unsigned(id), path.c_str(), (unsigned long long)bytes,
                                 unsigned(offset), (unsigned long long)size));
      entries.clear();
      return false;
    }
    entries.push_back({id, DecodeText(p + offset, length, isWide)});
  }
  return true;
}

int64_t DefaultLangSlotCount(size_t entries) {
  int64_t n = int64_t(entries);
  return std::max<int64_t>(n + 1, (3 * n + 1) / 2);
}

bool BuildLangFile(const std::vector<LangEntry>& entries, bool wide, int64_t slotCount,
                   std::string& bytes, std::string* error) {
  bytes.clear();
  std::set<uint32_t> seen;
  for (const LangEntry& e : entries) {
    if (!IsStorableLangId(e.id)) {
      SetError(error, LangFormat("#20000208:Id %u cannot be stored in a language file (ids run "
                                 "from 1 to 2147483645).",
                                 unsigned(e.id)));
      return false;
    }
    if (!seen.insert(e.id).second) {
      SetError(error, LangFormat("#20000209:Id %u appears twice.", unsigned(e.id)));
      return false;
    }
  }
  if (slotCount == 0) slotCount = DefaultLangSlotCount(entries.size());
  // A full table still works (a miss then tries every slot), so entries slots is the floor.
  if (slotCount < 1 || slotCount < int64_t(entries.size()) ||
      slotCount > int64_t(std::numeric_limits<int32_t>::max())) {
    SetError(error, LangFormat("#20000210:%lld slots cannot hold %llu entries.",
                               (long long)slotCount, (unsigned long long)entries.size()));
    return false;
  }
  const uint64_t tableEnd = kLangHeaderSize + uint64_t(kLangSlotSize) * uint64_t(slotCount);
  if (tableEnd > std::numeric_limits<uint32_t>::max()) {
    SetError(error, LangFormat("#20000211:The language file would pass the 4 GB its offsets "
                               "can reach."));
    return false;
  }

  // Entries go in by ascending id, so the same table always gives the same file.
  std::vector<const LangEntry*> order;
  for (const LangEntry& e : entries) order.push_back(&e);
  std::sort(order.begin(), order.end(),
            [](const LangEntry* a, const LangEntry* b) { return a->id < b->id; });

  const int32_t n = int32_t(slotCount);
  std::vector<const LangEntry*> slots(size_t(n), nullptr);
  for (const LangEntry* e : order) {
    int32_t index = LangHomeSlot(e->id, n);
    while (slots[size_t(index)]) index = index + 1 == n ? 0 : index + 1;
    slots[size_t(index)] = e;
  }

  bytes.reserve(size_t(tableEnd));
  PutU32(bytes, uint32_t(n));
  PutU32(bytes, wide ? 1u : 0u);
  for (int32_t k = 0; k < n; ++k) {
    PutU32(bytes, slots[size_t(k)] ? slots[size_t(k)]->id : kLangEmptySlotId);
    PutU32(bytes, 0);
    PutU32(bytes, 0);
  }
  for (int32_t k = 0; k < n; ++k) {
    const LangEntry* e = slots[size_t(k)];
    if (!e) continue;
    const uint64_t offset = bytes.size();
    uint64_t length = 0;
    if (wide) {
      std::u16string units = Utf8ToUtf16(e->text);
      length = units.size();
      for (char16_t u : units) {
        bytes.push_back(char(u & 0xFF));
        bytes.push_back(char(u >> 8));
      }
    } else {
      length = e->text.size();
      bytes += e->text;
    }
    if (bytes.size() > std::numeric_limits<uint32_t>::max()) {
      bytes.clear();
      SetError(error, LangFormat("#20000211:The language file would pass the 4 GB its offsets "
                                 "can reach."));
      return false;
    }
    const size_t slotPos = kLangHeaderSize + size_t(kLangSlotSize) * size_t(k);
    SetU32(bytes, slotPos + 4, uint32_t(offset));
    SetU32(bytes, slotPos + 8, uint32_t(length));
  }
  return true;
}

bool WriteLangFile(const std::string& path, const std::vector<LangEntry>& entries, bool wide,
                   int64_t slotCount, std::string* error) {
  std::string bytes;
  if (!BuildLangFile(entries, wide, slotCount, bytes, error)) return false;
  // Through the safe-write path: a failure leaves any old file whole.
  FileWriteError failure;
  if (!WriteFileSafely(path, bytes, &failure)) {
    SetError(error, LangFormat("#20000212:Cannot write the language file %s.", path.c_str()) + " " +
                        FileWriteErrorText(failure));
    return false;
  }
  return true;
}

bool ParseLangTable(const std::string& table, std::vector<LangEntry>& entries,
                    std::string* error) {
  entries.clear();
  size_t pos = 0;
  int lineNo = 0;
  while (pos < table.size()) {
    size_t end = table.find('\n', pos);
    if (end == std::string::npos) end = table.size();
    std::string line = table.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;

    size_t tab = line.find('\t');
    if (tab == std::string::npos) {
      SetError(error, LangFormat("#20000205:Line %d of the table has no tab between the id and "
                                 "the text.",
                                 lineNo));
      return false;
    }
    uint64_t id = 0;
    bool idOk = tab > 0 && tab <= 10;
    for (size_t i = 0; idOk && i < tab; ++i) {
      if (line[i] < '0' || line[i] > '9') idOk = false;
      else id = id * 10 + uint64_t(line[i] - '0');
    }
    if (!idOk || id > 0xFFFFFFFFull || !IsStorableLangId(uint32_t(id))) {
      SetError(error, LangFormat("#20000204:Line %d of the table: the id is not a decimal "
                                 "number from 1 to 2147483645.",
                                 lineNo));
      return false;
    }
    std::string text;
    for (size_t i = tab + 1; i < line.size(); ++i) {
      char c = line[i];
      if (c != '\\') {
        text.push_back(c);
        continue;
      }
      if (i + 1 == line.size()) {
        SetError(error, LangFormat("#20000207:Line %d of the table ends with a lone backslash.",
                                   lineNo));
        return false;
      }
      char next = line[++i];
      switch (next) {
        case 'n': text.push_back('\n'); break;
        case 't': text.push_back('\t'); break;
        case 'r': text.push_back('\r'); break;
        case '\\': text.push_back('\\'); break;
        default:
          SetError(error, LangFormat("#20000206:Line %d of the table has an unknown escape "
                                     "\\%c.",
                                     lineNo, next));
          return false;
      }
    }
    entries.push_back({uint32_t(id), std::move(text)});
  }
  return true;
}

std::string FormatLangTable(const std::vector<LangEntry>& entries) {
  std::vector<const LangEntry*> order;
  for (const LangEntry& e : entries) order.push_back(&e);
  std::stable_sort(order.begin(), order.end(),
                   [](const LangEntry* a, const LangEntry* b) { return a->id < b->id; });
  std::string out;
  for (const LangEntry* e : order) {
    out += std::to_string(e->id);
    out.push_back('\t');
    for (char c : e->text) {
      switch (c) {
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\\': out += "\\\\"; break;
        default: out.push_back(c);
      }
    }
    out.push_back('\n');
  }
  return out;
}

std::string Utf16LeToUtf8(const unsigned char* bytes, size_t units) {
  std::string out;
  out.reserve(units);
  for (size_t i = 0; i < units; ++i) {
    uint32_t u = uint32_t(bytes[2 * i]) | uint32_t(bytes[2 * i + 1]) << 8;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      uint32_t lo = uint32_t(bytes[2 * i + 2]) | uint32_t(bytes[2 * i + 3]) << 8;
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        ++i;
        continue;
      }
    }
    // A surrogate without its partner has no character to stand for.
    if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
    AppendUtf8(out, u);
  }
  return out;
}

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    uint32_t c = s[i];
    uint32_t cp = 0xFFFD;
    size_t len = 1;
    size_t need = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : 9;
    if (need == 0) {
      cp = c;
    } else if (need <= 3) {
      uint32_t v = c & (0x3F >> need);
      bool ok = true;
      for (size_t k = 1; ok && k <= need; ++k) {
        if (i + k >= n || (s[i + k] & 0xC0) != 0x80) ok = false;
        else v = (v << 6) | (s[i + k] & 0x3F);
      }
      // Overlong forms, surrogates and values past U+10FFFF are not characters.
      static const uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
      if (ok && v >= kMin[need] && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
        cp = v;
        len = need + 1;
      }
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(char16_t(0xD800 + (cp >> 10)));
      out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(char16_t(cp));
    }
  }
  return out;
}

}  // namespace kestrune
