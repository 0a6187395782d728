// Loads a PE32 image the way a PEI core does: headers and sections copied to their offsets at a
// chosen address, base relocations applied for the difference to the image's preferred base.
#pragma once

#include <stdint.h>

namespace harness {

struct LoadedImage {
  uint32_t base = 0;         // where the image now lies
  uint32_t size = 0;         // SizeOfImage
  uint32_t entry = 0;        // address of the entry point
  uint32_t relocations = 0;  // 32-bit fix-ups applied
  uint16_t subsystem = 0;
};

// Loads the image file at load_address, which has room for capacity bytes. Fails the run (with the
// reason) on anything but a well-formed relocatable PE32 image for i386.
LoadedImage load_pe32(const uint8_t* file, uint32_t file_size, uint32_t load_address, uint32_t capacity);

}  // namespace harness
