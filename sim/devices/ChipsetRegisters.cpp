// Chipset configuration register block with the boot BIOS straps.
#include "sim/devices/ChipsetRegisters.h"

#include <algorithm>

namespace sim {

ChipsetRegisters::ChipsetRegisters(std::uint8_t straps) : straps_(straps & 3), bytes_(kSize, 0) {
  power_on();
}

void ChipsetRegisters::power_on() {
  std::fill(bytes_.begin(), bytes_.end(), 0);
  set_boot_straps(straps_);
}

void ChipsetRegisters::set_boot_straps(std::uint8_t straps) {
  straps_ = straps & 3;
  std::uint8_t& b = bytes_[kGcs + 1];  // bits 15:8 of GCS
  b = static_cast<std::uint8_t>((b & ~0x0C) | (straps_ << 2));
}

std::uint32_t ChipsetRegisters::read32(std::uint32_t offset) const {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; i--) {
    v = v << 8 | bytes_[(offset + i) % kSize];
  }
  return v;
}

std::uint32_t ChipsetRegisters::mem_read(std::uint32_t address, Width w) {
  std::uint32_t offset = address - base_;
  std::uint32_t v = 0;
  for (int i = static_cast<int>(w) - 1; i >= 0; i--) {
    v = v << 8 | bytes_[(offset + i) % kSize];
  }
  return v;
}

void ChipsetRegisters::mem_write(std::uint32_t address, Width w, std::uint32_t value) {
  std::uint32_t offset = address - base_;
  for (unsigned i = 0; i < static_cast<unsigned>(w); i++) {
    std::uint32_t at = (offset + i) % kSize;
    std::uint8_t byte = static_cast<std::uint8_t>(value >> (8 * i));
    if (at == kGcs + 1) {
      byte = static_cast<std::uint8_t>((byte & ~0x0C) | (straps_ << 2));  // straps are read-only
    }
    bytes_[at] = byte;
  }
}

}  // namespace sim
