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
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

// How loading a file went.
enum class IniLoadStatus { Ok, Missing, Unreadable };

class IniFile {
 public:
  IniFile() = default;

  // Parses text; never fails (a line that is neither a section nor a key is kept as it is).
  static IniFile Parse(std::string_view text);
  // Reads a file. Missing gives an empty file; Unreadable (a folder, no permission,
  // a read error) also leaves it empty, and writers must then not replace the file.
  IniLoadStatus Load(const std::string& path);

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
  // Replaces the file safely: a temporary file beside it is written, then renamed.
  bool Save(const std::string& path) const;

  // The raw lines, without their line ends.
  std::vector<std::string> GetLines() const;

 private:
  enum class LineKind { Other, Section, Key };
  struct Line {
    std::string raw;   // the text as read or written, without the line end
    LineKind kind = LineKind::Other;
    std::string name;  // section or key name, trimmed
    std::string value; // key value, trimmed and unquoted
  };

  static Line Classify(std::string raw);
  // Index of the key's line, or npos. Searches every section named section in order.
  std::size_t FindKeyLine(std::string_view section, std::string_view key) const;

  std::vector<Line> lines_;
  bool bom_ = false;
};

// One-call forms over a file path, as the profile functions work.
// A missing file, section or key gives def.
std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view def = {});
// Creates the file or section when missing; false when nothing was written.
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

}  // namespace kestrune
