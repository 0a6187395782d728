// Decodes UTF-8 code point by code point and emits UTF-16LE units, surrogate pairs above U+FFFF.
#include "tools/ffs/Utf16.h"

#include <string>

#include "tools/ffs/FfsError.h"

namespace packaging {
namespace {

void put_unit(std::vector<uint8_t>& out, uint32_t unit) {
  out.push_back(static_cast<uint8_t>(unit));
  out.push_back(static_cast<uint8_t>(unit >> 8));
}

}  // namespace

std::vector<uint8_t> utf8_to_utf16le(std::string_view text) {
  std::vector<uint8_t> out;
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t lead = static_cast<uint8_t>(text[i]);
    size_t extra;
    uint32_t code;
    uint32_t smallest;  // below this the sequence is overlong
    if (lead < 0x80) {
      extra = 0, code = lead, smallest = 0;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, code = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, code = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, code = lead & 0x07, smallest = 0x10000;
    } else {
      throw FfsError("name is not valid UTF-8: unexpected byte at offset " + std::to_string(i));
    }
    if (i + extra >= text.size()) {
      throw FfsError("name is not valid UTF-8: sequence cut short at offset " + std::to_string(i));
    }
    for (size_t k = 1; k <= extra; ++k) {
      const uint8_t next = static_cast<uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        throw FfsError("name is not valid UTF-8: sequence cut short at offset " + std::to_string(i));
      }
      code = code << 6 | (next & 0x3F);
    }
    if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      throw FfsError("name is not valid UTF-8: bad code point at offset " + std::to_string(i));
    }
    if (code >= 0x10000) {
      put_unit(out, 0xD800 + ((code - 0x10000) >> 10));
      put_unit(out, 0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      put_unit(out, code);
    }
    i += extra + 1;
  }
  return out;
}

}  // namespace packaging
