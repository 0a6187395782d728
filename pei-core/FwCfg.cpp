// The firmware configuration device's I/O interface: a 16-bit selector at 0x510 and a byte-wide
// data port at 0x511 that streams the selected item. Item 0x19 is the file directory: a big-endian
// count, then per file a big-endian size, selector, reserved word and a 56-byte name.
#include "pei-core/FwCfg.h"

#include "qemu/PortIo.h"

namespace harness {
namespace {

constexpr uint16_t kSelectorPort = 0x510;
constexpr uint16_t kDataPort = 0x511;
constexpr uint16_t kFileDirectory = 0x19;
constexpr uint32_t kNameLength = 56;

uint32_t read_big_endian(uint32_t bytes) {
  uint32_t value = 0;
  for (uint32_t i = 0; i < bytes; i++) value = value << 8 | port_in8(kDataPort);
  return value;
}

}  // namespace

bool read_fw_cfg_file(const char* name, char* text, uint32_t capacity) {
  port_out16(kSelectorPort, kFileDirectory);
  const uint32_t count = read_big_endian(4);
  for (uint32_t file = 0; file < count; file++) {
    const uint32_t size = read_big_endian(4);
    const uint16_t selector = static_cast<uint16_t>(read_big_endian(2));
    read_big_endian(2);
    bool same = true;
    for (uint32_t i = 0; i < kNameLength; i++) {
      const char c = static_cast<char>(port_in8(kDataPort));
      if (same && c != name[i]) same = false;
      if (same && c == '\0') break;  // the rest of the name field is not needed
    }
    if (same) {
      port_out16(kSelectorPort, selector);
      uint32_t length = 0;
      for (; length < size && length + 1 < capacity; length++)
        text[length] = static_cast<char>(port_in8(kDataPort));
      text[length] = '\0';
      return true;
    }
  }
  return false;
}

}  // namespace harness
