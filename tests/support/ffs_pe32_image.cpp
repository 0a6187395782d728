// Builds the synthetic PE32 images of ffs_pe32_image.h.
#include "tests/support/ffs_pe32_image.h"

namespace testing_support {
namespace {

void put16(std::vector<uint8_t>& image, size_t at, uint16_t value) {
  if (at + 2 <= image.size()) {
    image[at] = static_cast<uint8_t>(value);
    image[at + 1] = static_cast<uint8_t>(value >> 8);
  }
}

void put32(std::vector<uint8_t>& image, size_t at, uint32_t value) {
  put16(image, at, static_cast<uint16_t>(value));
  put16(image, at + 2, static_cast<uint16_t>(value >> 16));
}

}  // namespace

std::vector<uint8_t> make_pe32_image(const Pe32Shape& shape) {
  std::vector<uint8_t> image(shape.size);
  for (size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<uint8_t>(i * 7 + 3);
  }
  put16(image, 0, 0x5A4D);  // "MZ"
  put32(image, 0x3C, shape.pe_offset);
  const size_t pe = shape.pe_offset;
  put32(image, pe, 0x00004550);  // "PE\0\0"
  put16(image, pe + 4, shape.machine);
  put16(image, pe + 6, 1);        // one section
  put16(image, pe + 20, 224);     // size of the PE32 optional header
  put16(image, pe + 22, 0x0102);  // 32-bit machine, executable
  const size_t optional = pe + 24;
  const uint32_t headers = static_cast<uint32_t>(optional + 224 + 40);
  const uint32_t data = shape.size > headers ? static_cast<uint32_t>(shape.size - headers) : 0;
  put16(image, optional, shape.magic);
  put32(image, optional + 16, headers);  // entry point: the start of the section
  put32(image, optional + 32, 32);       // section alignment
  put32(image, optional + 36, 32);       // file alignment
  put32(image, optional + 56, shape.size_of_image.value_or((headers + data + 31) & ~31u));
  put32(image, optional + 60, headers);
  put16(image, optional + 68, shape.subsystem);
  put32(image, optional + 92, 16);  // data directories
  for (size_t d = 0; d < 16; ++d) {
    put32(image, optional + 96 + d * 8, 0);
    put32(image, optional + 100 + d * 8, 0);
  }
  const size_t section = optional + 224;
  for (size_t i = 0; i < 8 && section + i < image.size(); ++i) {
    image[section + i] = i < 5 ? static_cast<uint8_t>(".text"[i]) : 0;
  }
  put32(image, section + 8, data);
  put32(image, section + 12, headers);
  put32(image, section + 16, shape.raw_size.value_or(data));
  put32(image, section + 20, headers);
  if (data >= 12) {
    // One block: the 32-bit address at the section's offset 0x10, then a padding entry.
    put32(image, optional + 96 + 5 * 8, headers);
    put32(image, optional + 100 + 5 * 8, 12);
    put32(image, headers, headers);
    put32(image, headers + 4, shape.relocation_block.value_or(12));
    put16(image, headers + 8, 0x3010);
    put16(image, headers + 10, 0);
  }
  return image;
}

}  // namespace testing_support
