// Fuzzes the time log reader: the input is a header (up to and including its
// "</TIM>") followed by the binary records. The records read must agree with
// the values carried forward, a broken file must say where it broke, and the
// bytes up to the break must read again to the same records.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "import/TimeLog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrune;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t end = input.find("</TIM>");
  const std::size_t split = end == std::string::npos ? input.size() : end + 6;
  TlgHeader header;
  std::string why;
  if (!ParseTimeLogHeader(input.substr(0, split), header, why)) {
    if (why.empty()) std::abort();
    return 0;
  }
  const std::string bin = input.substr(split);
  TlgData out;
  ReadTimeLogBinary(header, bin.data(), bin.size(), out);
  const std::size_t n = header.values.size();
  if (out.values.size() != out.records.size() * n || out.known.size() != out.values.size()) std::abort();
  for (const TlgRecord& r : out.records) {
    if (r.ms >= 86400000u) std::abort();
    if (r.hasPosition && (r.north < -90 || r.north > 90 || r.east < -180 || r.east > 180)) std::abort();
    if (TlgTimeText(r.ms).size() != 8) std::abort();
    (void)TlgDateText(r.days, r.ms);
  }
  if (out.broken) {
    if (out.brokenWhy.empty() || out.brokenOffset > bin.size()) std::abort();
    TlgData again;
    ReadTimeLogBinary(header, bin.data(), out.brokenOffset, again);
    if (again.broken || again.records.size() != out.records.size() || again.values != out.values) std::abort();
  }
  return 0;
}
