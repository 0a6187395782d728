// Walks a firmware file's sections for the PE32 section.
#include "tools/ffs/FirmwareFile.h"

#include <string>

#include "tools/ffs/FfsError.h"

namespace packaging {
namespace {

constexpr std::size_t kFileHeaderSize = 24;
constexpr std::size_t kLargeFileHeaderSize = 32;
constexpr std::size_t kAttributesAt = 19;
constexpr std::size_t kSizeAt = 20;
constexpr std::uint8_t kLargeFileAttribute = 0x01;
constexpr std::size_t kSectionHeaderSize = 4;
constexpr std::size_t kLargeSectionHeaderSize = 8;  // size field FFFFFFh, then a 32-bit size
constexpr std::uint32_t kLargeSectionMark = 0xFFFFFF;
constexpr std::uint8_t kPe32Section = 0x10;

std::uint32_t size24(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16; }
std::uint32_t size32(const std::uint8_t* p) { return size24(p) | static_cast<std::uint32_t>(p[3]) << 24; }

}  // namespace

std::span<const std::uint8_t> pe32_section(std::span<const std::uint8_t> file) {
  const FfsError not_one("neither a PE32 image nor a firmware file with a PE32 section");
  if (file.size() < kFileHeaderSize) {
    throw not_one;
  }
  std::uint64_t file_size = size24(&file[kSizeAt]);
  std::size_t at = kFileHeaderSize;
  if ((file[kAttributesAt] & kLargeFileAttribute) != 0) {
    if (file.size() < kLargeFileHeaderSize) {
      throw not_one;
    }
    file_size = 0;
    for (int i = 7; i >= 0; i--) {
      file_size = file_size << 8 | file[kFileHeaderSize + i];
    }
    at = kLargeFileHeaderSize;
  }
  if (file_size < at || file_size > file.size()) {
    throw not_one;
  }
  while (at + kSectionHeaderSize <= file_size) {
    std::uint64_t size = size24(&file[at]);
    std::size_t header = kSectionHeaderSize;
    if (size == kLargeSectionMark && at + kLargeSectionHeaderSize <= file_size) {
      size = size32(&file[at + 4]);
      header = kLargeSectionHeaderSize;
    }
    if (size < header || at + size > file_size) {
      throw FfsError("the firmware file's section at offset " + std::to_string(at) + " runs past the file");
    }
    if (file[at + 3] == kPe32Section) {
      return file.subspan(at + header, static_cast<std::size_t>(size) - header);
    }
    at = static_cast<std::size_t>((at + size + 3) & ~std::uint64_t{3});
  }
  throw not_one;
}

}  // namespace packaging
