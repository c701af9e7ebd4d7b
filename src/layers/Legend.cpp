#include "layers/Legend.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

#include "base/Platform.h"
#include "base/SafeFile.h"
#include "base/SideFileWrites.h"
#include "lang/FileErrorText.h"
#include "lang/LangString.h"

namespace kestrune {

namespace {

constexpr double kOneSeventh = 0.14285714285714285;

// printf into a std::string of whatever length the text needs.
std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (needed > 0) {
    text.resize(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(needed));
  }
  va_end(args);
  return text;
}

// A legend error: translated text and caption, exclamation icon.
Error LegendError(const char* text, const char* caption) {
  Error error;
  error.text = LangText(text);
  error.caption = LangText(caption);
  error.id = TextIdOf(text);
  error.icon = MessageIcon::Warning;
  return error;
}

// Little-endian field access, independent of the host's byte order.
uint64_t ReadLe64(const char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}
uint32_t ReadLe32(const char* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}
void AppendLe(std::string& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

// Inserts an entry in ascending order, in front of equal values.
bool Legend::Insert(const LegendEntry& entry) {
  // A NaN break would never close a class and would break the ascending order
  // that GetColor and Insert search by.
  if (std::isnan(entry.value)) return false;
  // The first entry >= the new value; an equal value goes in front of the old one.
  auto pos = std::lower_bound(entries_.begin(), entries_.end(), entry.value,
                              [](const LegendEntry& e, double v) { return e.value < v; });
  entries_.insert(pos, entry);
  return true;
}

// The colour of the class a value falls in (the breaks are kept ascending, so
// the first break not below it is the count of those below it).
constexpr size_t kCountedSearch = 32;

Color Legend::GetColor(double value) const {
  if (entries_.empty()) return kNeutralColor;
  // NaN is not <= any break, so it falls above them all.
  if (std::isnan(value)) return entries_.back().color;
  const size_t n = entries_.size();
  size_t below = 0;
  if (n <= kCountedSearch) {
    // The breaks below the value, counted without a branch: values of a log
    // fall in no order, which a binary search pays for in mispredictions.
    for (const LegendEntry& e : entries_) below += e.value < value ? 1 : 0;
  } else {
    below = static_cast<size_t>(std::lower_bound(entries_.begin(), entries_.end(), value,
                                                 [](const LegendEntry& e, double v) { return e.value < v; }) -
                                entries_.begin());
  }
  return below == n ? entries_.back().color : entries_[below].color;
}

// Rounds to a number of decimal places, halves away from zero.
double Legend::RoundTo(double x, int digits) {
  if (!std::isfinite(x)) return x;
  const double p = std::pow(10.0, digits);
  // Rounding to a place far left of every digit leaves nothing.
  if (p == 0.0) return 0.0;
  // So many places that no digit changes.
  if (!std::isfinite(p)) return x;
  const double shifted = x <= 0.0 ? x * p - 0.5 : x * p + 0.5;
  if (!std::isfinite(shifted)) return x;
  // Truncating in double gives the 32-bit integer's result wherever that fits and a
  // sound one beyond it; adding 0.0 turns -0 into 0 as the integer would.
  return (std::trunc(shifted) + 0.0) / p;
}

// One break at value plus the open top class.
void Legend::BuildSingleBreak(double value) {
  Insert(kLegendTopValue, kLegendPalette[7]);
  // A value on the top break already has its class.
  if (value != kLegendTopValue) Insert(value, kLegendPalette[6]);
}

// The breaks with the palette spread over the classes, and the open top class.
void Legend::BuildFromBreaks(const std::vector<double>& breaks, double single) {
  entries_.clear();
  changed_ = false;
  if (breaks.empty()) {
    BuildSingleBreak(single);
    return;
  }
  const size_t classes = std::min(breaks.size() + 1, kMaxLegendEntries);
  const auto colorOf = [&](size_t i) {
    const size_t at = classes > 1 ? (i * (kLegendPaletteSize - 1) + (classes - 1) / 2) / (classes - 1) : 0;
    return kLegendPalette[at];
  };
  for (size_t i = 0; i + 1 < classes; ++i) {
    if (std::isfinite(breaks[i]) && breaks[i] < kLegendTopValue) Insert(breaks[i], colorOf(i));
  }
  Insert(kLegendTopValue, kLegendPalette[kLegendPaletteSize - 1]);
}

// Seven rounded breaks over [min, max] plus the open top class.
void Legend::BuildAutomatic(double max, double min) {
  entries_.clear();
  changed_ = false;

  // No values at all (the caller's max stays below its min) or no numbers: one
  // class at zero, where unreadable rows put their records.
  if (std::isnan(max) || std::isnan(min) || max < min) {
    BuildSingleBreak(0.0);
    return;
  }
  const double largest = std::numeric_limits<double>::max();
  max = std::clamp(max, -largest, largest);
  min = std::clamp(min, -largest, largest);

  double step = (max - min) * kOneSeventh;
  // A range wider than a double holds: take the seventh of each end instead.
  if (!std::isfinite(step)) step = max * kOneSeventh - min * kOneSeventh;
  // All values equal (or too close to tell apart): one class that holds them all.
  if (!(step > 0.0)) {
    BuildSingleBreak(max);
    return;
  }
  const int e = static_cast<int>(std::floor(std::log10(step)));
  const double scale = std::pow(10.0, e);
  // A step so small that its power of ten underflows cannot be rounded to.
  if (!(scale > 0.0) || !std::isfinite(scale)) {
    BuildSingleBreak(max);
    return;
  }

  Insert(kLegendTopValue, kLegendPalette[7]);
  double last = kLegendTopValue;
  double cur = max - step * 0.5;
  for (int i = 6; i >= 0; --i) {
    const double r = RoundTo(cur / scale, 0) * scale;
    // A break that rounds onto the one before is dropped with its colour.
    if (std::isfinite(r) && r != last) {
      Insert(r, kLegendPalette[i]);
      last = r;
    }
    cur -= step;
  }
}

// Entries from the dialog's rows, checking that breaks descend from top to bottom.
bool Legend::BuildFromRows(const std::vector<LegendRow>& rowsTopToBottom, Error* error) {
  entries_.clear();
  double previous = kLegendBottomValue;
  // Walk up from the lowest class; the top row is always the open top class.
  for (std::size_t n = rowsTopToBottom.size(); n-- > 0;) {
    const LegendRow& row = rowsTopToBottom[n];
    const double value = n == 0 ? kLegendTopValue : row.value;
    Insert(value, row.color);
    // Written as "not above" so that a NaN break also fails the order check.
    if (!(value > previous)) return Fail(error, LegendError(kMsgBreakOrder, kMsgBreakOrderCaption));
    previous = value;
  }
  return true;
}

// One label per class, lowest first.
std::vector<std::string> Legend::GetClassLabels() const {
  std::vector<std::string> labels;
  labels.reserve(entries_.size());
  double previous = kLegendBottomValue;
  for (const LegendEntry& entry : entries_) {
    if (previous < kLegendBottomThreshold) {
      labels.push_back(LangFormat(kLabelLowestClass, entry.value));
    } else if (entry.value > kLegendTopThreshold) {
      labels.push_back(LangFormat(kLabelTopClass, previous));
    } else {
      labels.push_back(FormatText("%.2lf - %.2lf", previous, entry.value));
    }
    previous = entry.value;
  }
  return labels;
}

// Reads a legend file's contents.
LegendLoadResult Legend::LoadBytes(std::string_view bytes) {
  if (bytes.size() < kLegendMagicSize ||
      std::memcmp(bytes.data(), kLegendMagic, kLegendMagicSize) != 0) {
    return LegendLoadResult::BadHeader;
  }
  // No count is stored: whole 12-byte entries run to the end, a partial tail is ignored.
  // Entries past what a legend keeps are not read.
  const std::size_t count = std::min((bytes.size() - kLegendMagicSize) / kLegendEntrySize, kMaxLegendEntries);
  std::vector<LegendEntry> read;
  read.reserve(count);
  const char* p = bytes.data() + kLegendMagicSize;
  for (std::size_t k = 0; k < count; ++k, p += kLegendEntrySize) {
    LegendEntry entry;
    const uint64_t bits = ReadLe64(p);
    std::memcpy(&entry.value, &bits, sizeof entry.value);
    entry.color = ReadLe32(p + 8);
    if (!std::isnan(entry.value)) read.push_back(entry);
  }
  // Inserting one by one puts an equal value in front of the earlier one; a stable
  // sort of the reversed list gives that order without quadratic inserts.
  std::reverse(read.begin(), read.end());
  std::stable_sort(read.begin(), read.end(),
                   [](const LegendEntry& a, const LegendEntry& b) { return a.value < b.value; });
  entries_ = std::move(read);
  return LegendLoadResult::Ok;
}

// A legend file's contents.
std::string Legend::SaveBytes() const {
  std::string out(kLegendMagic, kLegendMagicSize);
  out.reserve(kLegendMagicSize + entries_.size() * kLegendEntrySize);
  // Ascending, but each run of equal values backwards: the reader puts an equal
  // value in front of the one before it, so the run loads in its present order.
  for (std::size_t start = 0; start < entries_.size();) {
    std::size_t end = start + 1;
    while (end < entries_.size() && entries_[end].value == entries_[start].value) ++end;
    for (std::size_t i = end; i-- > start;) {
      uint64_t bits = 0;
      std::memcpy(&bits, &entries_[i].value, sizeof bits);
      AppendLe(out, bits, 8);
      AppendLe(out, entries_[i].color, 4);
    }
    start = end;
  }
  return out;
}

// Reads a legend file from disk, reporting a wrong header. Only a regular file
// is read, and only as many entries as a legend keeps.
bool Legend::LoadFile(const std::string& path, Error* error) {
  std::string bytes;
  int errorCode = 0;
  const SideFileStatus status = ReadSideFile(path, kLegendMagicSize + kMaxLegendEntries * kLegendEntrySize, bytes,
                                             SideFileLimit::Truncate, &errorCode);
  if (status == SideFileStatus::Missing || status == SideFileStatus::NotRegular) return false;
  Error refusal;
  refusal.caption = LangText(kMsgLegendCaption);
  refusal.file = path;
  refusal.icon = MessageIcon::Warning;
  if (status != SideFileStatus::Ok) {
    refusal.text = SideFileRefusalText(path, status, 0, errorCode);
    refusal.reason = refusal.text;
  } else if (LoadBytes(bytes) != LegendLoadResult::Ok) {
    refusal.text = LangText(kMsgInvalidLegendFile);
    refusal.id = TextIdOf(kMsgInvalidLegendFile);
  } else {
    return true;
  }
  return Fail(error, std::move(refusal));
}

// Writes a legend file through the safe-write path; a failure gives the
// file's name and the reason.
bool Legend::SaveFile(const std::string& path, Error* error) const {
  FileWriteError failure;
  if (WriteSideFile(path, SaveBytes(), &failure)) return true;
  return Fail(error, FileWriteErrorOf(failure, LangText(kMsgLegendCaption)));
}

}  // namespace kestrune
