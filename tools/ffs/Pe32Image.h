// Checks that a byte string is a PE32 image for i386 before it is wrapped into a firmware file.
#ifndef TOOLS_FFS_PE32_IMAGE_H_
#define TOOLS_FFS_PE32_IMAGE_H_

#include <cstdint>
#include <span>

namespace packaging {

// Throws FfsError naming the first thing that is wrong: too short, no MZ signature, a PE header
// offset outside the image, no PE signature, a machine other than i386 (0x14C), an optional
// header that is not PE32 (magic 0x10B), headers cut short, a subsystem other than EFI boot
// service driver (11), sections whose data lies beyond the file or beyond SizeOfImage, or base
// relocations that are not whole blocks of 32-bit addresses inside the image.
void check_pe32_image(std::span<const uint8_t> image);

}  // namespace packaging

#endif  // TOOLS_FFS_PE32_IMAGE_H_
