// The one reader of firmware files: finds the PE32 section of a file (24-byte header, or 32 bytes
// for a large file, then 4-byte aligned sections with 24-bit sizes, or 32-bit ones after FFFFFFh).
#ifndef TOOLS_FFS_FIRMWARE_FILE_H_
#define TOOLS_FFS_FIRMWARE_FILE_H_

#include <cstdint>
#include <span>

namespace packaging {

// The PE32 image inside `file`, a view into it. Throws FfsError when the file header or a section
// runs past the bytes given, or no section is a PE32 section.
std::span<const std::uint8_t> pe32_section(std::span<const std::uint8_t> file);

}  // namespace packaging

#endif  // TOOLS_FFS_FIRMWARE_FILE_H_
