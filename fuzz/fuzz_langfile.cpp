// Fuzzes the language file reader: the input becomes the language file and a few
// ids are looked up through the cache, the single-id reader and the dump reader.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "lang/LangFile.h"
#include "lang/LangString.h"
#include "lang/LangStringCache.h"

namespace {

// One scratch file per fuzzing process, rewritten for every input and removed at exit.
struct ScratchFile {
  std::string path;
  ScratchFile() {
    char name[] = "/tmp/fuzz_langfile_XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0) std::abort();
    close(fd);
    path = name;
  }
  ~ScratchFile() { unlink(path.c_str()); }
};

const std::string& ScratchPath() {
  static const ScratchFile file;
  return file.path;
}

uint32_t U32At(const uint8_t* data, size_t size, size_t at) {
  if (at + 4 > size) return 0;
  return uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 |
         uint32_t(data[at + 3]) << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrune;
  const std::string& path = ScratchPath();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  SetLangFilePath(path);
  ResetLangStringCacheForTesting();

  // Fixed ids, and the ids of the first two slots so that hits are reached too.
  std::vector<uint32_t> ids = {1, 7, 12, 10264, 10000040, 0x7FFFFFFDu, 0xFFFFFFFEu,
                               U32At(data, size, 8), U32At(data, size, 20)};
  // A text may hold at most 3 UTF-8 bytes per 2 file bytes (or 1 per byte narrow).
  const size_t maxText = size * 2;
  for (uint32_t id : ids) {
    std::string text;
    if (ReadLangFileString(path, id, text) && text.size() > maxText) std::abort();
    const std::string literal = "#" + std::to_string(id) + ":default";
    const char* shown = GetLangString(literal.c_str());
    if (!shown) std::abort();
  }
  // Formats from the file must never be used with arguments they do not match.
  const std::string formatted = LangFormat("#12:%d of %s", 5, "seven");
  const std::string alone = LangFormat("#7:%.*s", 2, "abc");
  if (formatted.size() > maxText + 4096 || alone.size() > maxText + 4096) std::abort();

  std::vector<LangEntry> entries;
  bool wide = false;
  std::string error;
  if (ReadLangFileEntries(path, entries, &wide, &error)) {
    if (entries.size() > size / kLangSlotSize) std::abort();
    // Whatever was read must survive a rewrite and read back the same when storable.
    std::vector<LangEntry> storable;
    for (const LangEntry& e : entries) {
      bool dup = false;
      for (const LangEntry& s : storable) dup = dup || s.id == e.id;
      if (!dup && IsStorableLangId(e.id)) storable.push_back(e);
    }
    std::string bytes;
    if (storable.size() < 64 && BuildLangFile(storable, wide, 0, bytes, &error)) {
      std::FILE* g = std::fopen(path.c_str(), "wb");
      if (!g) std::abort();
      std::fwrite(bytes.data(), 1, bytes.size(), g);
      std::fclose(g);
      for (const LangEntry& e : storable) {
        std::string text;
        if (!ReadLangFileString(path, e.id, text)) std::abort();
        // Narrow bytes are kept exactly; wide texts are valid UTF-8 and survive UTF-16.
        if (text != e.text) std::abort();
      }
    }
  }

  // The input as a literal exercises the parser of "#id:default" texts.
  std::string literal(reinterpret_cast<const char*>(data), size);
  const char* shown = GetLangString(literal.c_str());
  if (!shown) std::abort();
  return 0;
}
