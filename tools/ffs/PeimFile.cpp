// Firmware-file assembly for a PEIM: sections 4-byte aligned after a 24-byte file header whose
// header checksum, file checksum, size and state follow the firmware-volume rules.
#include "tools/ffs/PeimFile.h"

#include <algorithm>
#include <string>

#include "tools/ffs/FfsError.h"
#include "tools/ffs/Pe32Image.h"
#include "tools/ffs/Utf16.h"

namespace packaging {
namespace {

constexpr size_t kFileHeaderSize = 24;
constexpr size_t kSectionHeaderSize = 4;
constexpr size_t kSectionAlignment = 4;

constexpr uint8_t kFileTypePeim = 0x06;
constexpr uint8_t kAttributeDataChecksum = 0x40;
constexpr uint8_t kFixedFileChecksum = 0xAA;

// State bits in their logical sense: header under construction, header valid, data valid. A
// complete, valid file has all three. On a polarity-1 volume each set bit is stored as 0.
constexpr uint8_t kStateValidFile = 0x01 | 0x02 | 0x04;

constexpr uint8_t kSectionPe32 = 0x10;
constexpr uint8_t kSectionUserInterface = 0x15;
constexpr uint8_t kSectionPeiDepex = 0x1B;

// File header field offsets.
constexpr size_t kHeaderChecksumAt = 16;
constexpr size_t kFileChecksumAt = 17;
constexpr size_t kTypeAt = 18;
constexpr size_t kAttributesAt = 19;
constexpr size_t kSizeAt = 20;
constexpr size_t kStateAt = 23;

void put_size24(uint8_t* at, size_t size) {
  at[0] = static_cast<uint8_t>(size);
  at[1] = static_cast<uint8_t>(size >> 8);
  at[2] = static_cast<uint8_t>(size >> 16);
}

uint8_t sum8(std::span<const uint8_t> bytes) {
  uint8_t sum = 0;
  for (uint8_t b : bytes) {
    sum = static_cast<uint8_t>(sum + b);
  }
  return sum;
}

size_t aligned(size_t size) { return (size + kSectionAlignment - 1) & ~(kSectionAlignment - 1); }

// Pads the file to the section alignment, then appends one section: header and data.
void append_section(std::vector<uint8_t>& file, uint8_t type, std::span<const uint8_t> data) {
  file.resize(aligned(file.size()), 0x00);
  uint8_t header[kSectionHeaderSize];
  put_size24(header, kSectionHeaderSize + data.size());
  header[3] = type;
  file.insert(file.end(), header, header + kSectionHeaderSize);
  file.insert(file.end(), data.begin(), data.end());
}

}  // namespace

std::vector<uint8_t> build_peim_file(std::span<const uint8_t> pe32_image, const PeimFileOptions& options) {
  check_pe32_image(pe32_image);
  if (options.ui_name.empty()) {
    throw FfsError("the module name is empty");
  }
  std::vector<uint8_t> ui_name = utf8_to_utf16le(options.ui_name);
  ui_name.push_back(0);  // UTF-16 NUL terminator
  ui_name.push_back(0);
  const std::vector<uint8_t> depex = encode_depex(options.depex);

  // Work out the final size before building, so that an oversized image is refused without
  // copying it: header, then each section at a 4-byte boundary.
  size_t size = kFileHeaderSize;
  for (size_t data_size : {depex.size(), pe32_image.size(), ui_name.size()}) {
    size = aligned(size) + kSectionHeaderSize + data_size;
    if (size > kMaxFileSize) {
      throw FfsError("image too large: " + std::to_string(pe32_image.size()) +
                     " bytes do not fit a firmware file, whose 24-bit size is at most " +
                     std::to_string(kMaxFileSize) + " bytes");
    }
  }

  std::vector<uint8_t> file(kFileHeaderSize, 0x00);
  file.reserve(size);
  append_section(file, kSectionPeiDepex, depex);
  append_section(file, kSectionPe32, pe32_image);
  append_section(file, kSectionUserInterface, ui_name);

  uint8_t* header = file.data();
  const auto name = guid_bytes(options.file_guid);
  std::copy(name.begin(), name.end(), header);
  header[kTypeAt] = kFileTypePeim;
  header[kAttributesAt] = options.data_checksum ? kAttributeDataChecksum : 0x00;
  put_size24(header + kSizeAt, file.size());
  // The header checksum is taken with itself, the file checksum and the state all 0, so that
  // later state transitions and the file checksum do not disturb it.
  header[kHeaderChecksumAt] = static_cast<uint8_t>(-sum8({header, kFileHeaderSize}));
  header[kFileChecksumAt] =
      options.data_checksum
          ? static_cast<uint8_t>(-sum8({file.data() + kFileHeaderSize, file.size() - kFileHeaderSize}))
          : kFixedFileChecksum;
  header[kStateAt] = options.erase_polarity_one ? static_cast<uint8_t>(~kStateValidFile) : kStateValidFile;
  return file;
}

}  // namespace packaging
