#include "layers/IniFile.h"

#include "base/SideFileWrites.h"

namespace kestrune {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// The blanks the profile functions trim around names and values.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// s without leading and trailing blanks.
std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Lower case of an ASCII letter; other bytes unchanged.
char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Names compare as the profile functions compare them: ASCII letters without case.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// True when s would end the line it is written on.
bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// A name that reads back as itself: not empty, not blank-padded, one line.
bool IsWritableName(std::string_view name) {
  return !name.empty() && Trim(name) == name && !HasLineBreak(name);
}

}  // namespace

// Sorts one raw line into section header, key line or other, with its name and value.
IniFile::LineKind IniFile::Classify(std::string_view raw, std::string_view* nameOut, std::string_view* valueOut) {
  const std::string_view text = Trim(raw);
  if (text.empty() || text.front() == ';') return LineKind::Other;  // blank line or comment
  if (text.front() == '[') {
    std::string_view name = text.substr(1);
    const std::size_t close = name.find(']');
    if (close != std::string_view::npos) name = name.substr(0, close);
    if (nameOut) *nameOut = Trim(name);
    return LineKind::Section;
  }
  const std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) return LineKind::Other;  // a line without a value is no key
  const std::string_view name = Trim(text.substr(0, eq));
  if (name.empty()) return LineKind::Other;
  std::string_view value = Trim(text.substr(eq + 1));
  // One pair of enclosing quotes is not part of the value.
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  if (nameOut) *nameOut = name;
  if (valueOut) *valueOut = value;
  return LineKind::Key;
}

// The name of a section or key line.
std::string_view IniFile::Name(const Line& line) const {
  std::string_view name;
  Classify(Raw(line), &name);
  return name;
}

// The value of a key line.
std::string_view IniFile::Value(const Line& line) const {
  std::string_view name, value;
  Classify(Raw(line), &name, &value);
  return value;
}

// Appends one raw line to the buffer and classifies it.
IniFile::Line IniFile::AddLine(std::string_view raw) {
  Line line;
  line.begin = static_cast<uint32_t>(text_.size());
  line.size = static_cast<uint32_t>(raw.size());
  line.kind = Classify(raw);
  text_.append(raw.data(), raw.size());
  return line;
}

// Splits text into lines at CRLF, LF or CR and classifies each; a run of
// lines that are neither sections nor keys becomes one entry.
IniFile IniFile::Parse(std::string_view text) {
  IniFile file;
  if (text.substr(0, kBom.size()) == kBom) {
    file.bom_ = true;
    text.remove_prefix(kBom.size());
  }
  // Offsets are 32-bit; files are read only up to a few MiB anyway.
  constexpr std::size_t kMaxText = std::size_t{1} << 30;
  if (text.size() > kMaxText) text = text.substr(0, kMaxText);
  std::size_t start = 0;
  bool lastIsOther = false;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    const bool last = end == std::string_view::npos;
    if (last) end = text.size();
    const std::string_view raw = text.substr(start, end - start);
    Line line = file.AddLine(raw);
    if (line.kind == LineKind::Other && lastIsOther) {
      // Joined to the run before it: the text moves in behind a CRLF.
      Line& run = file.lines_.back();
      file.text_.resize(line.begin);
      file.text_ += "\r\n";
      file.text_.append(raw.data(), raw.size());
      run.size = static_cast<uint32_t>(file.text_.size() - run.begin);
    } else {
      file.lines_.push_back(line);
    }
    lastIsOther = line.kind == LineKind::Other;
    if (last) break;
    // CRLF is one line end; a lone CR or LF is one too.
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  // What is kept is what the text needs, not what growing it took.
  file.text_.shrink_to_fit();
  file.lines_.shrink_to_fit();
  return file;
}

// Reads and parses a file, telling a missing file from one that cannot be read.
IniLoadStatus IniFile::Load(const std::string& path, int* error) {
  *this = IniFile{};
  std::string bytes;
  switch (ReadSideFile(path, kMaxSettingsFileBytes, bytes, SideFileLimit::Refuse, error)) {
    case SideFileStatus::Ok: break;
    case SideFileStatus::Missing:
    case SideFileStatus::NotRegular: return IniLoadStatus::Missing;
    case SideFileStatus::TooLarge: return IniLoadStatus::TooLarge;
    case SideFileStatus::Unreadable: return IniLoadStatus::Unreadable;
  }
  *this = Parse(bytes);
  return IniLoadStatus::Ok;
}

// The line of the first key of that name in any section of that name.
std::size_t IniFile::FindKeyLine(std::string_view section, std::string_view key) const {
  bool inSection = false;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Line& line = lines_[i];
    if (line.kind == LineKind::Section) {
      inSection = SameName(Name(line), section);
    } else if (inSection && line.kind == LineKind::Key && SameName(Name(line), key)) {
      return i;
    }
  }
  return std::string::npos;
}

// The value of a key, or nothing when absent.
std::optional<std::string> IniFile::Find(std::string_view section, std::string_view key) const {
  const std::size_t i = FindKeyLine(section, key);
  if (i == std::string::npos) return std::nullopt;
  return std::string(Value(lines_[i]));
}

// The value of a key, or the default with its trailing blanks dropped.
std::string IniFile::GetString(std::string_view section, std::string_view key,
                               std::string_view def) const {
  std::optional<std::string> value = Find(section, key);
  if (value) return *value;
  // The profile functions drop trailing blanks of the default too.
  while (!def.empty() && IsBlank(def.back())) def.remove_suffix(1);
  return std::string(def);
}

// Replaces or adds one key, changing no other line.
bool IniFile::SetString(std::string_view section, std::string_view key, std::string_view value) {
  if (!IsWritableName(section) || section.find(']') != std::string_view::npos) return false;
  if (!IsWritableName(key) || key.find('=') != std::string_view::npos || key.front() == '[' ||
      key.front() == ';') {
    return false;
  }
  if (HasLineBreak(value)) return false;

  const std::size_t existing = FindKeyLine(section, key);
  if (existing != std::string::npos) {
    // Keep the key's own spelling; only its value changes.
    const std::string name(Name(lines_[existing]));
    lines_[existing] = AddLine(name + "=" + std::string(value));
    return true;
  }
  // After the last key of the first section of that name (or its header), so a
  // comment or blank line that leads into the next section stays with it.
  std::size_t insertAt = std::string::npos;
  bool inSection = false;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Line& line = lines_[i];
    if (line.kind == LineKind::Section) {
      if (inSection) break;
      if (SameName(Name(line), section)) {
        inSection = true;
        insertAt = i + 1;
      }
    } else if (inSection && line.kind == LineKind::Key) {
      insertAt = i + 1;
    }
  }
  const std::string keyLine = std::string(key) + "=" + std::string(value);
  if (insertAt == std::string::npos) {
    lines_.push_back(AddLine("[" + std::string(section) + "]"));
    lines_.push_back(AddLine(keyLine));
  } else {
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), AddLine(keyLine));
  }
  return true;
}

// Drops the first line of a key.
bool IniFile::RemoveKey(std::string_view section, std::string_view key) {
  const std::size_t i = FindKeyLine(section, key);
  if (i == std::string::npos) return false;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
  return true;
}

// The whole file as text with CRLF line ends.
std::string IniFile::ToText() const {
  std::string text;
  text.reserve(text_.size() + 2 * lines_.size() + kBom.size());
  if (bom_) text += kBom;
  for (const Line& line : lines_) {
    text += Raw(line);
    text += "\r\n";
  }
  return text;
}

// Writes the file through the safe-write path.
bool IniFile::Save(const std::string& path, FileWriteError* error) const {
  return WriteSideFile(path, ToText(), error);
}

// The raw lines, for callers that compare files.
std::vector<std::string> IniFile::GetLines() const {
  std::vector<std::string> out;
  out.reserve(lines_.size());
  for (const Line& line : lines_) {
    // A run of other lines splits back at the CRLFs that joined it.
    std::string_view raw = Raw(line);
    for (;;) {
      const std::size_t crlf = line.kind == LineKind::Other ? raw.find("\r\n") : std::string_view::npos;
      out.emplace_back(raw.substr(0, crlf));
      if (crlf == std::string_view::npos) break;
      raw.remove_prefix(crlf + 2);
    }
  }
  return out;
}

// Loads a file and reads one key.
std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view def) {
  IniFile file;
  file.Load(path);
  return file.GetString(section, key, def);
}

// Loads a file, sets one key and saves it.
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value, FileWriteError* error) {
  IniFile file;
  // A file that exists but cannot be read must not be replaced by one holding only this key.
  const IniLoadStatus status = file.Load(path);
  if (status == IniLoadStatus::Unreadable || status == IniLoadStatus::TooLarge) return false;
  if (!file.SetString(section, key, value)) return false;
  return file.Save(path, error);
}

}  // namespace kestrune
