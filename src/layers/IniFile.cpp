#include "layers/IniFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>

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
IniFile::Line IniFile::Classify(std::string raw) {
  Line line;
  line.raw = std::move(raw);
  const std::string_view text = Trim(line.raw);
  if (text.empty() || text.front() == ';') return line;  // blank line or comment
  if (text.front() == '[') {
    std::string_view name = text.substr(1);
    const std::size_t close = name.find(']');
    if (close != std::string_view::npos) name = name.substr(0, close);
    line.kind = LineKind::Section;
    line.name = std::string(Trim(name));
    return line;
  }
  const std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) return line;  // a line without a value is no key
  const std::string_view name = Trim(text.substr(0, eq));
  if (name.empty()) return line;
  std::string_view value = Trim(text.substr(eq + 1));
  // One pair of enclosing quotes is not part of the value.
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  line.kind = LineKind::Key;
  line.name = std::string(name);
  line.value = std::string(value);
  return line;
}

// Splits text into lines at CRLF, LF or CR and classifies each.
IniFile IniFile::Parse(std::string_view text) {
  IniFile file;
  if (text.substr(0, kBom.size()) == kBom) {
    file.bom_ = true;
    text.remove_prefix(kBom.size());
  }
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      file.lines_.push_back(Classify(std::string(text.substr(start))));
      break;
    }
    file.lines_.push_back(Classify(std::string(text.substr(start, end - start))));
    // CRLF is one line end; a lone CR or LF is one too.
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  return file;
}

// Reads and parses a file, telling a missing file from one that cannot be read.
IniLoadStatus IniFile::Load(const std::string& path) {
  lines_.clear();
  bom_ = false;
  const QString name = QString::fromStdString(path);
  const QFileInfo info(name);
  if (!info.exists()) return IniLoadStatus::Missing;
  if (info.isDir()) return IniLoadStatus::Unreadable;
  QFile file(name);
  if (!file.open(QIODevice::ReadOnly)) return IniLoadStatus::Unreadable;
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) return IniLoadStatus::Unreadable;
  *this = Parse(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  return IniLoadStatus::Ok;
}

// The line of the first key of that name in any section of that name.
std::size_t IniFile::FindKeyLine(std::string_view section, std::string_view key) const {
  bool inSection = false;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Line& line = lines_[i];
    if (line.kind == LineKind::Section) {
      inSection = SameName(line.name, section);
    } else if (inSection && line.kind == LineKind::Key && SameName(line.name, key)) {
      return i;
    }
  }
  return std::string::npos;
}

// The value of a key, or nothing when absent.
std::optional<std::string> IniFile::Find(std::string_view section, std::string_view key) const {
  const std::size_t i = FindKeyLine(section, key);
  if (i == std::string::npos) return std::nullopt;
  return lines_[i].value;
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
    const std::string name = lines_[existing].name;
    lines_[existing] = Classify(name + "=" + std::string(value));
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
      if (SameName(line.name, section)) {
        inSection = true;
        insertAt = i + 1;
      }
    } else if (inSection && line.kind == LineKind::Key) {
      insertAt = i + 1;
    }
  }
  const std::string keyLine = std::string(key) + "=" + std::string(value);
  if (insertAt == std::string::npos) {
    lines_.push_back(Classify("[" + std::string(section) + "]"));
    lines_.push_back(Classify(keyLine));
  } else {
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), Classify(keyLine));
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
  if (bom_) text += kBom;
  for (const Line& line : lines_) {
    text += line.raw;
    text += "\r\n";
  }
  return text;
}

// Writes the file through a temporary file renamed over the old one.
bool IniFile::Save(const std::string& path) const {
  QSaveFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::WriteOnly)) return false;
  const std::string text = ToText();
  if (file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size())) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

// The raw lines, for callers that compare files.
std::vector<std::string> IniFile::GetLines() const {
  std::vector<std::string> out;
  out.reserve(lines_.size());
  for (const Line& line : lines_) out.push_back(line.raw);
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
                        std::string_view value) {
  IniFile file;
  // A file that exists but cannot be read must not be replaced by one holding only this key.
  if (file.Load(path) == IniLoadStatus::Unreadable) return false;
  if (!file.SetString(section, key, value)) return false;
  return file.Save(path);
}

}  // namespace kestrune
