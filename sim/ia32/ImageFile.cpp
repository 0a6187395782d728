// Recognises a PE32 image by its MZ signature, otherwise walks a firmware file's sections (24-byte
// file header, 4-byte aligned sections with 24-bit sizes) for the PE32 section.
#include "sim/ia32/ImageFile.h"

#include <fstream>
#include <iterator>

#include "sim/ia32/Pe32Loader.h"

namespace sim::ia32 {

namespace {

constexpr std::size_t kFileHeaderSize = 24;
constexpr std::size_t kLargeFileHeaderSize = 32;
constexpr std::uint8_t kLargeFileAttribute = 0x01;
constexpr std::size_t kSectionHeaderSize = 4;
constexpr std::size_t kLargeSectionHeaderSize = 8;  // size field 0xFFFFFF, then a 32-bit size
constexpr std::uint8_t kPe32Section = 0x10;

std::uint32_t size24(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16; }
std::uint32_t size32(const std::uint8_t* p) { return size24(p) | static_cast<std::uint32_t>(p[3]) << 24; }

std::vector<std::uint8_t> pe32_section(const std::vector<std::uint8_t>& file, const std::string& path) {
  const std::string not_one =
      "'" + path + "' is neither a PE32 image nor a firmware file with a PE32 section";
  if (file.size() < kFileHeaderSize) {
    throw ImageError(not_one);
  }
  const bool large = (file[19] & kLargeFileAttribute) != 0;
  std::uint64_t file_size = size24(&file[20]);
  std::size_t at = kFileHeaderSize;
  if (large) {
    if (file.size() < kLargeFileHeaderSize) {
      throw ImageError(not_one);
    }
    file_size = 0;
    for (int i = 7; i >= 0; i--) {
      file_size = file_size << 8 | file[24 + i];
    }
    at = kLargeFileHeaderSize;
  }
  if (file_size < at || file_size > file.size()) {
    throw ImageError(not_one);
  }
  while (at + kSectionHeaderSize <= file_size) {
    std::uint64_t size = size24(&file[at]);
    std::size_t header = kSectionHeaderSize;
    if (size == 0xFFFFFF && at + kLargeSectionHeaderSize <= file_size) {
      size = size32(&file[at + 4]);
      header = kLargeSectionHeaderSize;
    }
    if (size < header || at + size > file_size) {
      throw ImageError("'" + path + "': the firmware file's section at offset " + std::to_string(at) +
                       " runs past the file");
    }
    if (file[at + 3] == kPe32Section) {
      return std::vector<std::uint8_t>(file.begin() + static_cast<long>(at + header),
                                       file.begin() + static_cast<long>(at + size));
    }
    at = (at + size + 3) & ~std::size_t{3};
  }
  throw ImageError(not_one);
}

}  // namespace

ImageFile read_image_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw ImageError("cannot read image '" + path + "'");
  }
  ImageFile image;
  image.path = path;
  image.bytes.assign(std::istreambuf_iterator<char>(in), {});
  if (image.bytes.size() >= 2 && image.bytes[0] == 'M' && image.bytes[1] == 'Z') {
    image.pe32 = image.bytes;
  } else {
    image.pe32 = pe32_section(image.bytes, path);
    image.firmware_file = true;
  }
  return image;
}

}  // namespace sim::ia32
