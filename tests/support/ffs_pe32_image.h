// Small synthetic PE32 images for the packaging tests: real DOS, COFF and optional-header fields,
// a recognisable byte pattern elsewhere, and knobs to break one header field at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testing_support {

struct Pe32Shape {
  size_t size = 1024;
  uint32_t pe_offset = 0x80;  // e_lfanew
  uint16_t machine = 0x014C;
  uint16_t magic = 0x010B;
};

std::vector<uint8_t> make_pe32_image(const Pe32Shape& shape = {});

}  // namespace testing_support
