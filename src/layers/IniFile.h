// INI text: "[section]" lines, each followed by "KEY=value" lines, in the
// form other programs that keep ".gpe" files read and write:
// - lines end in CRLF, LF or CR when read; CRLF when written;
// - section and key names compare ignoring ASCII case; blanks around names and
//   values are dropped, and one pair of enclosing quotes is taken off a value;
// - the first occurrence of a key (over all sections of that name) is the one
//   read and the one replaced;
// - replacing a key rewrites only its own line; every other line (other
//   sections, other keys, comments, blank lines) keeps its text and place;
// - a new key goes after the last line of its section, a new section at the end.
//
// Memory stays a small multiple of the text: every line's text lives in one
// buffer, a line is a few offsets into it, and a run of lines that are neither
// sections nor keys (blank lines, comments) is kept as one entry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/SafeFile.h"

namespace kestrune {

// How loading a file went. A file that is not a regular file (a pipe, a
// device, a folder) counts as Missing and is never opened for long.
enum class IniLoadStatus { Ok, Missing, Unreadable, TooLarge };

class IniFile {
 public:
  IniFile() = default;

  // Parses text; never fails (a line that is neither a section nor a key is kept as it is).
  static IniFile Parse(std::string_view text);
  // Reads a file of at most kMaxSettingsFileBytes. Missing gives an empty file;
  // Unreadable (no permission, a read error) and TooLarge also leave it empty,
  // and writers must then not replace the file.
  // error (when given) gets the system's reason of Unreadable.
  IniLoadStatus Load(const std::string& path, int* error = nullptr);

  // The value of key in section, or nothing when there is no such key with a value.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  // GetPrivateProfileString: the value, or def when the key is absent.
  std::string GetString(std::string_view section, std::string_view key,
                        std::string_view def = {}) const;

  // WritePrivateProfileString: replaces the key's value or adds the key (and the
  // section). False, and nothing changed, for names or values that cannot be
  // written as one line of the format (line breaks, "=" in a key, "]" in a
  // section, empty names).
  bool SetString(std::string_view section, std::string_view key, std::string_view value);
  // Removes the first occurrence of key; false when there was none.
  bool RemoveKey(std::string_view section, std::string_view key);

  // The text with CRLF line ends (a byte-order mark read at the start is kept).
  std::string ToText() const;
  // Replaces the file through the safe-write path (never through a symbolic link).
  bool Save(const std::string& path, FileWriteError* error = nullptr) const;

  // The raw lines, without their line ends.
  std::vector<std::string> GetLines() const;

 private:
  enum class LineKind : uint8_t { Other, Section, Key };
  // A line's text in text_; an Other entry may hold several lines joined by CRLF.
  struct Line {
    uint32_t begin = 0;
    uint32_t size = 0;
    LineKind kind = LineKind::Other;
  };

  // Sorts a raw line into section header, key line or other; name and value
  // (when given) get the trimmed name and the trimmed, unquoted value.
  static LineKind Classify(std::string_view raw, std::string_view* name = nullptr,
                           std::string_view* value = nullptr);
  // Appends raw to text_ and classifies it.
  Line AddLine(std::string_view raw);
  std::string_view Raw(const Line& line) const { return std::string_view(text_).substr(line.begin, line.size); }
  std::string_view Name(const Line& line) const;
  std::string_view Value(const Line& line) const;
  // Index of the key's line, or npos. Searches every section named section in order.
  std::size_t FindKeyLine(std::string_view section, std::string_view key) const;

  std::string text_;
  std::vector<Line> lines_;
  bool bom_ = false;
};

// One-call forms over a file path, as the profile functions work.
// A missing file, section or key gives def.
std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view def = {});
// Creates the file or section when missing; false when nothing was written.
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value, FileWriteError* error = nullptr);

}  // namespace kestrune
