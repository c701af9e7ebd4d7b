#include "grid/SheetFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace kestrune {

namespace {

// Large enough for the fixed form of any double (denormals reach ~330 digits)
// plus kMaxCellDecimals.
constexpr int kFixedBufferSize = 1200;

int ClampDecimals(int decimals) { return std::clamp(decimals, 0, kMaxCellDecimals); }

}  // namespace

// Writes the value in fixed notation with the given decimals. When the
// shortest text that reads back as the value has no more decimals than that,
// it is padded with zeros: decimals past it would show only binary rounding
// ("902.853600000000029" for 902.8536).
QString FormatFixed(double value, int decimals) {
  if (!std::isfinite(value)) return std::isnan(value) ? QStringLiteral("nan")
                                                      : (value < 0 ? QStringLiteral("-inf")
                                                                   : QStringLiteral("inf"));
  decimals = ClampDecimals(decimals);
  char buffer[kFixedBufferSize];
  std::string text;
  auto [shortEnd, shortEc] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (shortEc == std::errc()) {
    text.assign(buffer, shortEnd);
    const size_t point = text.find('.');
    const int digits = point == std::string::npos ? 0 : static_cast<int>(text.size() - point - 1);
    if (digits <= decimals) {
      if (decimals > 0 && point == std::string::npos) text += '.';
      text.append(static_cast<size_t>(decimals - digits), '0');
    } else {
      text.clear();
    }
  }
  if (text.empty()) {
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (ec != std::errc()) return QString();
    text.assign(buffer, end);
  }
  // "-0.00" reads as a negative amount of nothing; show it as zero.
  if (!text.empty() && text[0] == '-' &&
      text.find_first_not_of("0.", 1) == std::string::npos) {
    text.erase(0, 1);
  }
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Cuts the value's shortest decimal form after the given number of decimals.
double TruncateToDecimals(double value, int decimals) {
  if (!std::isfinite(value)) return value;
  decimals = ClampDecimals(decimals);
  char buffer[kFixedBufferSize];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (ec != std::errc()) return value;
  char* point = std::find(buffer, end, '.');
  if (point != end) {
    // Keep the point only when digits follow it; from_chars reads "12." badly.
    char* cut = decimals == 0 ? point : std::min(end, point + 1 + decimals);
    end = cut;
  }
  double result = 0.0;
  auto parsed = std::from_chars(buffer, end, result, std::chars_format::fixed);
  if (parsed.ec != std::errc()) return value;
  return result == 0.0 ? 0.0 : result;
}

namespace {

// The number at the start of Latin-1 bytes; *whole tells whether it takes them all.
double ScanNumber(const QByteArray& bytes, bool* whole) {
  if (whole) *whole = false;
  const char* p = bytes.constData();
  const char* const end = p + bytes.size();
  while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' ||
                     *p == '\r')) {
    ++p;
  }
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  const char* digitsStart = p;
  int mantissaDigits = 0;
  while (p < end && *p >= '0' && *p <= '9') { ++p; ++mantissaDigits; }
  if (p < end && *p == '.') {
    ++p;
    while (p < end && *p >= '0' && *p <= '9') { ++p; ++mantissaDigits; }
  }
  if (mantissaDigits == 0) return 0.0;
  const char* numberEnd = p;
  // An exponent counts only when at least one digit follows the 'e' and its sign.
  if (p < end && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    if (q < end && (*q == '+' || *q == '-')) ++q;
    if (q < end && *q >= '0' && *q <= '9') {
      while (q < end && *q >= '0' && *q <= '9') ++q;
      numberEnd = q;
    }
  }
  double magnitude = 0.0;
  auto parsed = std::from_chars(digitsStart, numberEnd, magnitude, std::chars_format::general);
  if (parsed.ec != std::errc() || !std::isfinite(magnitude)) return 0.0;
  if (whole) *whole = numberEnd == end;
  const double value = negative ? -magnitude : magnitude;
  return value == 0.0 ? 0.0 : value;
}

}  // namespace

// Reads the longest number prefix the way "%lf" does for plain decimals.
double ParseNumberPrefix(const QString& text) { return ScanNumber(text.toLatin1(), nullptr); }

// Reads a text that is one number and nothing else.
bool ParseWholeNumber(const QString& text, double& value) {
  const QString trimmed = text.trimmed();
  value = 0.0;
  // Characters beyond Latin-1 are never part of a number.
  for (QChar c : trimmed) {
    if (c.unicode() > 0xFF) return false;
  }
  bool whole = false;
  const double scanned = ScanNumber(trimmed.toLatin1(), &whole);
  if (whole) value = scanned;
  return whole;
}

}  // namespace kestrune
