// Hand-made dBase tables for the table tests, laid out byte by byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrune::test {

struct DbfFieldLayout {
  std::string name;  // written NUL-padded into 11 bytes (longer names fill all 11)
  char letter;
  int length;
  int decimals;
};

struct DbfTableLayout {
  std::vector<DbfFieldLayout> fields;
  std::vector<std::string> rows;  // whole rows, deletion flag first
  std::uint8_t version = 0x03;
  int headerLength = -1;          // -1: 32 + 32 per field + 1 terminator
  int recordLength = -1;          // -1: 1 + the field lengths
  std::int64_t recordCount = -1;  // -1: the number of rows
  std::string tail = "\x1a";      // bytes after the last row
};

// Little-endian integers into a byte string.
inline void PutLe(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(char((value >> (8 * i)) & 0xFF));
}

// The bytes of a table laid out as described.
inline std::string MakeDbf(const DbfTableLayout& layout) {
  int rowLength = 1;
  for (const auto& f : layout.fields) rowLength += f.length;
  const int headerLength =
      layout.headerLength >= 0 ? layout.headerLength : 32 + 32 * int(layout.fields.size()) + 1;
  const int recordLength = layout.recordLength >= 0 ? layout.recordLength : rowLength;
  const std::int64_t count = layout.recordCount >= 0 ? layout.recordCount : std::int64_t(layout.rows.size());

  std::string out;
  out.push_back(char(layout.version));
  out += std::string("\x7c\x01\x02", 3);  // last update 2024-01-02
  PutLe(out, std::uint64_t(count), 4);
  PutLe(out, std::uint64_t(headerLength), 2);
  PutLe(out, std::uint64_t(recordLength), 2);
  out += std::string(20, '\0');
  for (const auto& f : layout.fields) {
    std::string name = f.name.substr(0, 11);
    name.resize(11, '\0');
    out += name;
    out.push_back(f.letter);
    out += std::string(4, '\0');
    out.push_back(char(f.length));
    out.push_back(char(f.decimals));
    out += std::string(14, '\0');
  }
  // The terminator and any padding up to the header length.
  if (int(out.size()) < headerLength) {
    out.push_back('\r');
    out.resize(std::size_t(headerLength), '\0');
  }
  for (const auto& row : layout.rows) out += row;
  out += layout.tail;
  return out;
}

// A field's text padded with spaces on the right to its length.
inline std::string Left(const std::string& text, int length) {
  std::string s = text.substr(0, std::size_t(length));
  s.resize(std::size_t(length), ' ');
  return s;
}

// A field's text padded with spaces on the left to its length.
inline std::string Right(const std::string& text, int length) {
  if (int(text.size()) >= length) return text.substr(0, std::size_t(length));
  return std::string(std::size_t(length) - text.size(), ' ') + text;
}

}  // namespace kestrune::test
