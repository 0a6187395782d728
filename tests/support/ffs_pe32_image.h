// Small synthetic PE32 images for the packaging tests: real DOS, COFF and optional-header fields,
// a recognisable byte pattern elsewhere, and knobs to break one header field at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace testing_support {

// A valid image has one section holding everything after the headers, starting with one base
// relocation block; the optional fields override what a consistent image would hold.
struct Pe32Shape {
  size_t size = 1024;
  uint32_t pe_offset = 0x80;  // e_lfanew
  uint16_t machine = 0x014C;
  uint16_t magic = 0x010B;
  uint16_t subsystem = 11;
  std::optional<uint32_t> size_of_image = std::nullopt;
  std::optional<uint32_t> raw_size = std::nullopt;          // the section's SizeOfRawData
  std::optional<uint32_t> relocation_block = std::nullopt;  // the relocation block's size
};

std::vector<uint8_t> make_pe32_image(const Pe32Shape& shape = {});

}  // namespace testing_support
