// Every user-visible text is written "#id:default" and shown through GetLangString,
// which gives the language file's wording for the id, or the default.
#pragma once

#include <cstdint>
#include <string>

namespace kestrune {

// The input itself, a pointer into it (its default part), or a text owned by the
// cache and valid until the process ends. Never null for a non-null input.
const char* GetLangString(const char* text);

// The same lookup, copied into a std::string.
inline std::string LangText(const char* text) { return GetLangString(text); }
inline std::string LangText(const std::string& text) { return GetLangString(text.c_str()); }

// sprintf-style formatting of a translated format string (placeholders kept in order).
std::string LangFormat(const char* format, ...);

}  // namespace kestrune
