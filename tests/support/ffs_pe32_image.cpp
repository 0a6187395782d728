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
  put16(image, pe + 6, 0);        // no sections
  put16(image, pe + 20, 224);     // size of the PE32 optional header
  put16(image, pe + 22, 0x0102);  // 32-bit machine, executable
  put16(image, pe + 24, shape.magic);
  put16(image, pe + 24 + 68, 11);  // subsystem: EFI boot service driver
  return image;
}

}  // namespace testing_support
