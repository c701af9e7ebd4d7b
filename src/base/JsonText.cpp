#include "base/JsonText.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace kestrune {

namespace {

// Length of a valid UTF-8 sequence starting at i, or 0 when it is not one.
std::size_t Utf8Length(std::string_view s, std::size_t i) {
  const auto byte = [&s](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  std::size_t n = 0;
  uint32_t cp = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and values past the last code point are not UTF-8.
  if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    return 0;
  }
  return n;
}

}  // namespace

// Shortest round-trip text of a double, kept a float.
void AppendJsonDouble(std::string& out, double value) {
  // JSON has no NaN or infinity: a value that is not finite is null.
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  const std::string_view s(text, static_cast<std::size_t>(result.ptr - text));
  out += s;
  if (s.find_first_of(".e") == std::string_view::npos) out += ".0";
}

// An integer in decimal.
void AppendJsonInt(std::string& out, int64_t value) { out += std::to_string(value); }

// A quoted string with JSON escapes.
void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20) {
      switch (c) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          out += esc;
        }
      }
      ++i;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else if (const std::size_t n = Utf8Length(text, i)) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
      ++i;
    }
  }
  out += '"';
}

// Every byte sequence checked for UTF-8.
bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
    } else if (const std::size_t n = Utf8Length(text, i)) {
      i += n;
    } else {
      return false;
    }
  }
  return true;
}

// One character per byte: ASCII as AppendJsonString writes it, every other byte \u00XX.
void AppendJsonByteString(std::string& out, std::string_view bytes) {
  out += '"';
  for (const char ch : bytes) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      std::string one;
      AppendJsonString(one, std::string_view(&ch, 1));
      out.append(one, 1, one.size() - 2);
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    }
  }
  out += '"';
}

}  // namespace kestrune
