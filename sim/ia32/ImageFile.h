// Reads the module image the IA32 engine runs: a PE32 `.efi` file, or a firmware file whose PE32
// section holds it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim::ia32 {

struct ImageFile {
  std::string path;
  std::vector<std::uint8_t> bytes;  // the whole file as read (what the SHA-256 covers)
  std::vector<std::uint8_t> pe32;   // the PE32 image inside it
  bool firmware_file = false;
};

// Throws ImageError with one line: unreadable file, a firmware file without a PE32 section, or
// neither a PE32 image nor a firmware file.
ImageFile read_image_file(const std::string& path);

}  // namespace sim::ia32
