// Encodes an opaque picture as a PNG quickly: 8-bit RGB, each row filtered
// by its difference to the row above, compressed as runs. A map is mostly
// long runs of one colour, so this is many times faster than a general
// encoder's search for the smallest file, at a size close to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrune {

// A picture of WIDTH × HEIGHT pixels whose row Y starts at
// BITS + Y × BYTES_PER_LINE and holds 32-bit 0xAARRGGBB words in the
// machine's byte order (alpha is ignored). DOTS_PER_METER, when above 0,
// goes into the file's pixel size. Empty when the picture is empty or too
// big for one PNG, or when compression fails.
std::string EncodeOpaquePng(const unsigned char* bits, int width, int height, std::size_t bytesPerLine,
                            int dotsPerMeterX = 0, int dotsPerMeterY = 0);

}  // namespace kestrune
