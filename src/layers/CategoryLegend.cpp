#include "layers/CategoryLegend.h"

#include <QString>

#include <algorithm>
#include <cstdio>

#include "base/Platform.h"
#include "base/SafeFile.h"
#include "base/SideFileWrites.h"
#include "lang/FileErrorText.h"
#include "lang/LangString.h"
#include "layers/Legend.h"

namespace kestrune {

namespace {

// A value written on one line of the file.
std::string Escape(const std::string& value) {
  std::string out;
  for (char c : value) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c; break;
    }
  }
  return out;
}

// The value of one line of the file.
std::string Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      const char next = text[++i];
      out += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The next line of the bytes (without its end), advancing the position.
bool NextLine(std::string_view bytes, std::size_t& pos, std::string_view& line) {
  if (pos >= bytes.size()) return false;
  std::size_t end = bytes.find('\n', pos);
  if (end == std::string_view::npos) end = bytes.size();
  line = bytes.substr(pos, end - pos);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  pos = end + 1;
  return true;
}

}  // namespace

// Itself when it is UTF-8, else read as Latin-1.
std::string CategoryLabelText(const std::string& bytes) {
  const QByteArray raw(bytes.data(), qsizetype(bytes.size()));
  const QString utf8 = QString::fromUtf8(raw);
  if (utf8.toUtf8() == raw) return bytes;
  return QString::fromLatin1(raw).toUtf8().toStdString();
}

bool IsCategoryField(const DbfField& field) { return field.letter == 'C' || field.letter == 'c'; }

bool IsThemeField(const DbfField& field) { return field.type == kDbfNumeric || IsCategoryField(field); }

void CategoryLegend::Clear() {
  field_.clear();
  values_.clear();
  colors_.clear();
  index_.clear();
  beyond_.clear();
}

void CategoryLegend::Begin(const std::string& fieldName) {
  Clear();
  field_ = fieldName;
}

// Existing or new, in order of first appearance.
int CategoryLegend::IndexOf(const std::string& value) {
  const int found = Find(value);
  if (found >= 0) return found;
  if (values_.size() >= kMaxCategories) {
    beyond_.insert(std::hash<std::string>{}(value));
    return kBeyondCategories;
  }
  values_.push_back(value);
  const std::size_t i = values_.size() - 1;
  index_.emplace(value, int(i));
  colors_.push_back(i < std::size_t(kCategoryPaletteSize) ? kCategoryPalette[i] : kCategoryOtherColor);
  return int(i);
}

int CategoryLegend::Find(const std::string& value) const {
  const auto it = index_.find(value);
  return it == index_.end() ? -1 : it->second;
}

std::string CategoryLegend::ValueOf(int index) const {
  return index >= 0 && std::size_t(index) < values_.size() ? values_[std::size_t(index)] : std::string();
}

Color CategoryLegend::ColorOf(int index) const {
  if (index < 0 || std::size_t(index) >= ColouredCount()) return kCategoryOtherColor;
  return colors_[std::size_t(index)];
}

std::size_t CategoryLegend::ColouredCount() const {
  return std::min(values_.size(), std::size_t(kCategoryPaletteSize));
}

// The stored colours of the coloured values the stored legend also lists.
void CategoryLegend::ApplyStored(const CategoryLegend& stored) {
  if (stored.field_ != field_) return;
  for (std::size_t i = 0; i < ColouredCount(); ++i) {
    const int at = stored.Find(values_[i]);
    if (at >= 0) colors_[i] = stored.colors_[std::size_t(at)];
  }
}

// The legend's lines, "Other" last.
std::vector<CategoryLegend::Line> CategoryLegend::GetLines() const {
  std::vector<Line> lines;
  for (std::size_t i = 0; i < ColouredCount(); ++i) lines.push_back({CategoryLabelText(values_[i]), colors_[i]});
  if (HasOther()) lines.push_back({LangText(kCategoryOtherLabel), kCategoryOtherColor});
  return lines;
}

// Text lines; colours as RRGGBB.
std::string CategoryLegend::SaveBytes() const {
  std::string out = std::string(kCategoryMagic) + "\nfield=" + Escape(field_) + "\n";
  for (std::size_t i = 0; i < values_.size(); ++i) {
    const Color c = ColorOf(int(i));
    char rgb[8];
    std::snprintf(rgb, sizeof rgb, "%02X%02X%02X", unsigned(c & 0xFF), unsigned((c >> 8) & 0xFF),
                  unsigned((c >> 16) & 0xFF));
    out += std::string(rgb) + "\t" + Escape(values_[i]) + "\n";
  }
  return out;
}

// The file's categories; false, unchanged, for anything else.
bool CategoryLegend::LoadBytes(std::string_view bytes) {
  std::size_t pos = 0;
  std::string_view line;
  if (!NextLine(bytes, pos, line) || line != kCategoryMagic) return false;
  if (!NextLine(bytes, pos, line) || line.substr(0, 6) != "field=") return false;
  CategoryLegend read;
  read.field_ = Unescape(line.substr(6));
  while (NextLine(bytes, pos, line)) {
    if (line.empty()) continue;
    if (line.size() < 7 || line[6] != '\t') return false;
    unsigned value = 0;
    for (int i = 0; i < 6; ++i) {
      const char c = line[std::size_t(i)];
      const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (digit < 0) return false;
      value = value * 16 + unsigned(digit);
    }
    // RRGGBB into 0x00BBGGRR.
    const Color color = ((value & 0xFF) << 16) | (value & 0xFF00) | ((value >> 16) & 0xFF);
    read.values_.push_back(Unescape(line.substr(7)));
    read.colors_.push_back(color);
    read.index_.emplace(read.values_.back(), int(read.values_.size()) - 1);
  }
  *this = std::move(read);
  return true;
}

// Only a regular file of at most kMaxCategoryFileBytes is read; a pipe or a
// device counts as no file, one too large or unreadable is told.
bool CategoryLegend::LoadFile(const std::string& path) {
  std::string bytes;
  int error = 0;
  const SideFileStatus status = ReadSideFile(path, kMaxCategoryFileBytes, bytes, SideFileLimit::Refuse, &error);
  if (status != SideFileStatus::Ok) {
    ShowStatus(SideFileRefusalText(path, status, kMaxCategoryFileBytes, error));
    return false;
  }
  return LoadBytes(bytes);
}

// Through the safe-write path; a failure gives the file's name and reason.
bool CategoryLegend::SaveFile(const std::string& path, Error* error) const {
  FileWriteError failure;
  if (WriteSideFile(path, SaveBytes(), &failure)) return true;
  return Fail(error, FileWriteErrorOf(failure, LangText(kMsgLegendCaption)));
}

}  // namespace kestrune
