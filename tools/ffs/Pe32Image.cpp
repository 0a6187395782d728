// PE32 header checks: DOS header, PE signature, COFF machine and optional-header magic.
#include "tools/ffs/Pe32Image.h"

#include <cstdio>
#include <string>

#include "tools/ffs/FfsError.h"

namespace packaging {
namespace {

constexpr size_t kDosHeaderSize = 64;
constexpr size_t kNewHeaderOffsetField = 0x3C;  // e_lfanew: file offset of the PE signature
constexpr size_t kCoffHeaderSize = 20;
constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kPe32Magic = 0x010B;

uint16_t load16(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

uint32_t load32(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint32_t>(load16(bytes, at)) | static_cast<uint32_t>(load16(bytes, at + 2)) << 16;
}

std::string hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

}  // namespace

void check_pe32_image(std::span<const uint8_t> image) {
  if (image.size() < kDosHeaderSize) {
    throw FfsError("not a PE32 image: " + std::to_string(image.size()) +
                   " bytes is too short for a DOS header");
  }
  if (image[0] != 'M' || image[1] != 'Z') {
    throw FfsError("not a PE32 image: no MZ signature");
  }
  // The PE signature, the COFF header and the optional header's 2-byte magic must all lie inside.
  const uint64_t pe_offset = load32(image, kNewHeaderOffsetField);
  const uint64_t magic_offset = pe_offset + 4 + kCoffHeaderSize;
  if (magic_offset + 2 > image.size()) {
    throw FfsError("not a PE32 image: PE header offset " + hex(static_cast<uint32_t>(pe_offset)) +
                   " lies outside the " + std::to_string(image.size()) + "-byte file");
  }
  if (image[pe_offset] != 'P' || image[pe_offset + 1] != 'E' || image[pe_offset + 2] != 0 ||
      image[pe_offset + 3] != 0) {
    throw FfsError("not a PE32 image: no PE signature at " + hex(static_cast<uint32_t>(pe_offset)));
  }
  const uint16_t machine = load16(image, pe_offset + 4);
  if (machine != kMachineI386) {
    throw FfsError("not a PE32 image for i386: machine is " + hex(machine) + ", expected 0x14C");
  }
  const uint16_t optional_header_size = load16(image, pe_offset + 4 + 16);
  if (optional_header_size < 2) {
    throw FfsError("not a PE32 image: no optional header");
  }
  const uint16_t magic = load16(image, magic_offset);
  if (magic != kPe32Magic) {
    throw FfsError("not a PE32 image: optional header magic is " + hex(magic) + ", expected 0x10B");
  }
}

}  // namespace packaging
