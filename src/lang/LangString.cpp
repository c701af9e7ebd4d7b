// The text lookup: "#id:default" texts to the language file's wording.
#include "lang/LangString.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "lang/LangFile.h"
#include "lang/LangStringCache.h"

namespace kestrune {

const std::string& LangStringCache::Lookup(uint32_t id, const char* defaultText) {
  auto it = texts_.find(id);
  if (it != texts_.end()) return it->second;
  std::string text;
  if (!ReadLangFileString(id, text)) text = defaultText ? defaultText : "";
  return texts_.emplace(id, std::move(text)).first->second;
}

LangStringCache& GetLangStringCache() {
  // Never destroyed: texts handed out may be used by other objects' destructors.
  static LangStringCache* cache = new LangStringCache;
  return *cache;
}

void ResetLangStringCacheForTesting() { GetLangStringCache().ClearForTesting(); }

const char* GetLangString(const char* text) {
  if (!text || text[0] != '#') return text;
  uint32_t id = 0;
  const char* p = text + 1;
  // Unsigned arithmetic: an overlong number wraps, as the ids are 32-bit.
  while (*p >= '0' && *p <= '9') {
    id = id * 10u + uint32_t(*p - '0');
    ++p;
  }
  // Without a colon after the digits the whole input is its own default ("#146").
  const char* defaultText = *p == ':' ? p + 1 : text;
  if (id == 0) return defaultText;
  return GetLangStringCache().Lookup(id, defaultText).c_str();
}

std::string LangFormat(const char* format, ...) {
  const char* translated = GetLangString(format);
  if (!translated) return {};
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  char small[256];
  int needed = std::vsnprintf(small, sizeof small, translated, args);
  va_end(args);
  std::string result;
  if (needed < 0) {
    va_end(copy);
    return result;
  }
  if (size_t(needed) < sizeof small) {
    result.assign(small, size_t(needed));
  } else {
    std::vector<char> buffer(size_t(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), translated, copy);
    result.assign(buffer.data(), size_t(needed));
  }
  va_end(copy);
  return result;
}

}  // namespace kestrune
