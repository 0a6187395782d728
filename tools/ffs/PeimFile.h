// Builds the firmware file that carries the recovery PEIM: file header, dependency expression,
// PE32 image and user-interface name, with sizes and checksums as a firmware volume expects.
#ifndef TOOLS_FFS_PEIM_FILE_H_
#define TOOLS_FFS_PEIM_FILE_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/ffs/Depex.h"
#include "tools/ffs/Guid.h"

namespace packaging {

// The recovery PEIM's file name, fixed once for every build: {B0EB5CCC-C6CF-42B5-8D0C-2AB8C6671E24}.
inline constexpr Guid kRecoveryPeimFileGuid = {
    0xB0EB5CCC, 0xC6CF, 0x42B5, {0x8D, 0x0C, 0x2A, 0xB8, 0xC6, 0x67, 0x1E, 0x24}
};
inline constexpr const char* kDefaultUiName = "FlashRecovery";

// A size field is 24 bits wide, header included.
inline constexpr size_t kMaxFileSize = 0xFFFFFF;

struct PeimFileOptions {
  // The file's name in the volume; two files in one volume must differ.
  Guid file_guid = kRecoveryPeimFileGuid;
  // When the PEI core may dispatch the module (encode_depex).
  std::string depex = kDefaultDepex;
  // The module name for the user-interface section (UTF-8 here, UTF-16LE in the file).
  std::string ui_name = kDefaultUiName;
  // Attribute 0x40: the file checksum covers the data; otherwise it is the fixed value 0xAA.
  bool data_checksum = false;
  // The erase polarity of the volume the file goes into. Flash erases to ones, so volumes are
  // normally polarity 1 and every State bit that is "set" is stored as 0.
  bool erase_polarity_one = true;
};

// Checks pe32_image (check_pe32_image) and the options, then returns the whole firmware file.
// Throws FfsError for a bad image, a bad name or dependency expression, or a file too large for the
// 24-bit size field.
std::vector<uint8_t> build_peim_file(std::span<const uint8_t> pe32_image, const PeimFileOptions& options);

}  // namespace packaging

#endif  // TOOLS_FFS_PEIM_FILE_H_
