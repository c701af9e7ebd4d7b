// The binary time logs of ISOXML task data: a TLGnnnnn.xml header naming what
// each record holds, and the TLGnnnnn.bin records themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrune {

// One attribute of the header's TIM or PTN: absent (not logged), fixed (the
// header gives the value for every record) or written in each binary record.
enum class TlgSlot : uint8_t { Absent, Fixed, Binary };

// Value logged by a time log, as its header names it (DLV).
struct TlgValueSpec {
  int ddi = 0;             // the data dictionary identifier (from hex)
  std::string element;     // the device element it belongs to (DET id)
};

// The position attributes of a header in record order: north, east, up,
// status, PDOP, HDOP, satellites, GPS time, GPS date.
constexpr int kTlgPositionSlots = 9;

struct TlgHeader {
  TlgSlot time = TlgSlot::Absent;  // TIM start
  // A fixed start: days since 1 January 1980 and milliseconds after midnight.
  int64_t fixedDays = 0;
  uint32_t fixedMs = 0;
  TlgSlot position[kTlgPositionSlots] = {};
  double fixedPosition[kTlgPositionSlots] = {};  // north and east in degrees
  std::vector<TlgValueSpec> values;
};

// Reads a header from its XML text. False with WHY (for the user) when it is
// no time log header.
bool ParseTimeLogHeader(const std::string& xml, TlgHeader& header, std::string& why);

// One binary record.
struct TlgRecord {
  int64_t days = 0;   // since 1 January 1980
  uint32_t ms = 0;    // after midnight
  bool hasPosition = false;
  double north = 0;   // degrees
  double east = 0;
};

// The records of a binary time log, in file order, with each value carried
// forward: values[r * n + v] is the last value logged for header value v at or
// before record r (n the header's value count), known[] says whether there was
// one. A broken file keeps the records before the break.
struct TlgData {
  std::vector<TlgRecord> records;
  std::vector<int32_t> values;
  std::vector<uint8_t> known;
  bool broken = false;
  std::size_t brokenOffset = 0;  // byte where the broken record starts
  std::string brokenWhy;         // for the user
  bool cancelled = false;
};

// Reads the binary records of SIZE bytes at DATA. TICK, when given, is called
// now and then with the bytes read so far; when it returns false the reading
// stops and OUT says it was cancelled.
void ReadTimeLogBinary(const TlgHeader& header, const char* data, std::size_t size, TlgData& out,
                       const std::function<bool(std::size_t done)>& tick = {});

// "YYYYMMDD" and "HH:MM:SS" of a record's time.
std::string TlgDateText(int64_t days, uint32_t ms);
std::string TlgTimeText(uint32_t ms);

}  // namespace kestrune
