// The text lookup: "#id:default" texts to the language file's wording.
#include "lang/LangString.h"

#include <cctype>
#include <cstdarg>
#include <cstring>
#include <cstdio>
#include <vector>

#include "lang/LangFile.h"
#include "lang/LangStringCache.h"

namespace kestrune {

const std::string& LangStringCache::Lookup(uint32_t id, const char* defaultText) {
  std::lock_guard<std::mutex> lock(mutex_);
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

namespace {

// The default part of a "#id:default" text (the whole text when it has no colon).
const char* DefaultPart(const char* text) {
  if (!text || text[0] != '#') return text;
  const char* p = text + 1;
  while (*p >= '0' && *p <= '9') ++p;
  return *p == ':' ? p + 1 : text;
}

// The conversions of a printf format in order, flags, widths and precisions left
// out ("%-5.2f %s" gives "f|s|"); "*" takes an argument, so it is kept. False for
// "%n" (writes through an argument), for widths or precisions over 999 and for a
// format that ends inside a conversion.
bool Conversions(const char* format, std::string& out) {
  out.clear();
  for (const char* p = format; *p; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    std::string conversion;
    int digits = 0;
    while (*p && std::strchr("-+ #0123456789.$'*hlLqjzt", *p)) {
      if (*p == '*' || *p == '$' || std::isalpha(static_cast<unsigned char>(*p))) conversion.push_back(*p);
      // A width or precision of thousands of characters is no wording, only a way
      // to make the formatted text huge.
      digits = std::isdigit(static_cast<unsigned char>(*p)) ? digits + 1 : 0;
      if (digits > 3) return false;
      ++p;
    }
    if (!*p || *p == 'n') return false;
    conversion.push_back(*p);
    out += conversion;
    out.push_back('|');
  }
  return true;
}

}  // namespace

std::string LangFormat(const char* format, ...) {
  const char* translated = GetLangString(format);
  if (!translated) return {};
  // The arguments were written for the default's placeholders. A language file
  // whose text asks for others would read arguments of the wrong type, so such a
  // text is not used for formatting.
  if (translated != format) {
    const char* fallback = DefaultPart(format);
    std::string expected, got;
    if (translated != fallback &&
        (!Conversions(fallback, expected) || !Conversions(translated, got) || expected != got)) {
      translated = fallback;
    }
  }
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
