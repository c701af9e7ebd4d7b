// Small writers of JSON text for the command-line tools: numbers in their
// shortest round-trip form, strings escaped (bytes that are not UTF-8 are
// taken as Latin-1), so any file's names come out as valid JSON.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrune {

// Appends a double as the shortest text that reads back to the same value,
// with ".0" on whole numbers so it stays a JSON float ("30.0", "1e+16",
// "0.1"); NaN and infinities, which JSON cannot hold, as null.
void AppendJsonDouble(std::string& out, double value);
// Appends an integer.
void AppendJsonInt(std::string& out, int64_t value);
// Appends a quoted, escaped string.
void AppendJsonString(std::string& out, std::string_view text);
// Whether text is valid UTF-8 throughout.
bool IsValidUtf8(std::string_view text);
// Appends a string of bytes losslessly: one JSON character per byte, bytes
// 0x80-0xFF as \u0080-\u00ff. For file names that are not UTF-8, written
// with a "file_bytes": true beside them so a reader takes each character's
// code as one byte of the name.
void AppendJsonByteString(std::string& out, std::string_view bytes);
// Appends true or false.
inline void AppendJsonBool(std::string& out, bool value) { out += value ? "true" : "false"; }

}  // namespace kestrune
