#include "import/TimeLog.h"

#include <QXmlStreamReader>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "lang/LangString.h"

namespace kestrune {

namespace {

constexpr const char* kMsgNoTim = "#20400020:it is no time log header (no TIM element)";
constexpr const char* kMsgBadXml = "#20400021:line %lld: %s";
constexpr const char* kMsgTooManyValues = "#20400022:it lists %d values, more than a record can name";
constexpr const char* kMsgCutShort = "#20400023:cut short in record %zu at byte %zu";
constexpr const char* kMsgBadIndex =
    "#20400024:record %zu at byte %zu names value %d, but the header lists %d";

const char* const kPositionAttributes[kTlgPositionSlots] = {"A", "B", "C", "D", "E",
                                                            "F", "G", "H", "I"};
// Bytes of each position attribute in a record.
constexpr std::size_t kPositionBytes[kTlgPositionSlots] = {4, 4, 4, 1, 2, 2, 1, 4, 2};

TlgSlot SlotOf(const QXmlStreamAttributes& attrs, const char* name, QString& value) {
  if (!attrs.hasAttribute(QLatin1String(name))) return TlgSlot::Absent;
  value = attrs.value(QLatin1String(name)).toString().trimmed();
  return value.isEmpty() ? TlgSlot::Binary : TlgSlot::Fixed;
}

// Days since 1980-01-01 of a civil date.
int64_t DaysSince1980(int year, int month, int day) {
  const int64_t y = year - (month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 - 3652;  // 3652 days from 1970 to 1980
}

// "YYYY-MM-DDTHH:MM:SS[.fff]" as days and milliseconds; false when it is none.
bool ParseStart(const QString& text, int64_t& days, uint32_t& ms) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0;
  double s = 0;
  const std::string t = text.toStdString();
  if (std::sscanf(t.c_str(), "%d-%d-%dT%d:%d:%lf", &y, &mo, &d, &h, &mi, &s) != 6) return false;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || !(s >= 0) ||
      s >= 61)
    return false;
  days = DaysSince1980(y, mo, d);
  ms = static_cast<uint32_t>(((h * 60 + mi) * 60) * 1000 + std::llround(s * 1000));
  return true;
}

uint32_t U32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
int32_t I32(const unsigned char* p) { return static_cast<int32_t>(U32(p)); }
uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

}  // namespace

bool ParseTimeLogHeader(const std::string& xml, TlgHeader& header, std::string& why) {
  header = TlgHeader{};
  QXmlStreamReader reader(QByteArray::fromRawData(xml.data(), static_cast<int>(xml.size())));
  bool sawTim = false;
  int depth = 0;
  while (!reader.atEnd()) {
    const auto token = reader.readNext();
    if (token == QXmlStreamReader::EndElement) {
      --depth;
      continue;
    }
    if (token != QXmlStreamReader::StartElement) continue;
    ++depth;
    const QStringView name = reader.name();
    const QXmlStreamAttributes attrs = reader.attributes();
    QString value;
    if (name == QLatin1String("TIM") && !sawTim) {
      sawTim = true;
      header.time = SlotOf(attrs, "A", value);
      if (header.time == TlgSlot::Fixed &&
          !ParseStart(value, header.fixedDays, header.fixedMs)) {
        header.time = TlgSlot::Absent;
      }
    } else if (name == QLatin1String("PTN") && sawTim) {
      for (int i = 0; i < kTlgPositionSlots; ++i) {
        header.position[i] = SlotOf(attrs, kPositionAttributes[i], value);
        if (header.position[i] == TlgSlot::Fixed) header.fixedPosition[i] = value.toDouble();
      }
    } else if (name == QLatin1String("DLV") && sawTim) {
      TlgValueSpec logged;
      bool ok = false;
      logged.ddi = attrs.value(QLatin1String("A")).toString().trimmed().toInt(&ok, 16);
      if (!ok) logged.ddi = -1;
      logged.element = attrs.value(QLatin1String("C")).toString().trimmed().toStdString();
      header.values.push_back(std::move(logged));
    }
  }
  if (reader.hasError() && !(sawTim && reader.error() == QXmlStreamReader::PrematureEndOfDocumentError)) {
    why = LangFormat(kMsgBadXml, static_cast<long long>(reader.lineNumber()),
                     reader.errorString().toStdString().c_str());
    return false;
  }
  if (!sawTim) {
    why = LangText(kMsgNoTim);
    return false;
  }
  if (header.values.size() > 256) {
    why = LangFormat(kMsgTooManyValues, static_cast<int>(header.values.size()));
    return false;
  }
  return true;
}

void ReadTimeLogBinary(const TlgHeader& header, const char* data, std::size_t size, TlgData& out,
                       const std::function<bool(std::size_t done)>& tick) {
  out = TlgData{};
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  const std::size_t n = header.values.size();
  // The fixed part of every record: the time, the position attributes, the value count.
  std::size_t fixedBytes = (header.time == TlgSlot::Binary ? 6 : 0) + 1;
  for (int i = 0; i < kTlgPositionSlots; ++i) {
    if (header.position[i] == TlgSlot::Binary) fixedBytes += kPositionBytes[i];
  }
  std::vector<int32_t> last(n, 0);
  std::vector<uint8_t> seen(n, 0);
  std::size_t pos = 0;
  // A bound for the reserve: every record takes at least its fixed bytes.
  out.records.reserve(size / fixedBytes + 1);
  while (pos < size) {
    const std::size_t start = pos;
    const std::size_t index = out.records.size() + 1;
    if (tick && index % 65536 == 0 && !tick(pos)) {
      out.cancelled = true;
      break;
    }
    if (size - pos < fixedBytes) {
      out.broken = true;
      out.brokenOffset = start;
      out.brokenWhy = LangFormat(kMsgCutShort, index, start);
      break;
    }
    TlgRecord rec;
    if (header.time == TlgSlot::Binary) {
      rec.ms = U32(bytes + pos);
      rec.days = U16(bytes + pos + 4);
      pos += 6;
    } else if (header.time == TlgSlot::Fixed) {
      rec.ms = header.fixedMs;
      rec.days = header.fixedDays;
    }
    double pv[kTlgPositionSlots] = {};
    bool have[kTlgPositionSlots] = {};
    for (int i = 0; i < kTlgPositionSlots; ++i) {
      if (header.position[i] == TlgSlot::Binary) {
        const unsigned char* p = bytes + pos;
        switch (kPositionBytes[i]) {
          case 4: pv[i] = i < 3 ? double(I32(p)) : double(U32(p)); break;
          case 2: pv[i] = U16(p); break;
          default: pv[i] = p[0]; break;
        }
        if (i < 2) pv[i] *= 1e-7;
        have[i] = true;
        pos += kPositionBytes[i];
      } else if (header.position[i] == TlgSlot::Fixed) {
        pv[i] = header.fixedPosition[i];
        have[i] = true;
      }
    }
    const unsigned count = bytes[pos++];
    if (size - pos < std::size_t(count) * 5) {
      out.broken = true;
      out.brokenOffset = start;
      out.brokenWhy = LangFormat(kMsgCutShort, index, start);
      break;
    }
    bool badIndex = false;
    std::vector<std::pair<unsigned, int32_t>> logged;
    logged.reserve(count);
    for (unsigned k = 0; k < count; ++k) {
      const unsigned v = bytes[pos];
      if (v >= n) {
        out.broken = true;
        out.brokenOffset = start;
        out.brokenWhy = LangFormat(kMsgBadIndex, index, start, static_cast<int>(v), static_cast<int>(n));
        badIndex = true;
        break;
      }
      logged.emplace_back(v, I32(bytes + pos + 1));
      pos += 5;
    }
    if (badIndex) break;
    for (const auto& [v, value] : logged) {
      last[v] = value;
      seen[v] = 1;
    }
    // Normalise a time past midnight into the next day.
    rec.days += rec.ms / 86400000u;
    rec.ms %= 86400000u;
    const double north = pv[0], east = pv[1];
    rec.hasPosition = have[0] && have[1] && std::isfinite(north) && std::isfinite(east) &&
                      !(north == 0 && east == 0) && std::fabs(north) <= 90 && std::fabs(east) <= 180;
    rec.north = north;
    rec.east = east;
    out.records.push_back(rec);
    out.values.insert(out.values.end(), last.begin(), last.end());
    out.known.insert(out.known.end(), seen.begin(), seen.end());
  }
}

std::string TlgDateText(int64_t days, uint32_t ms) {
  days += ms / 86400000u;
  // Civil date from days since 1980-01-01.
  const int64_t z = days + 3652 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const long long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  char text[32];
  std::snprintf(text, sizeof text, "%04lld%02d%02d", y, m, d);
  return text;
}

std::string TlgTimeText(uint32_t ms) {
  const uint32_t s = (ms % 86400000u) / 1000u;
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", s / 3600u, s / 60u % 60u, s % 60u);
  return text;
}

}  // namespace kestrune
