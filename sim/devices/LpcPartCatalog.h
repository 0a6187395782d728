// Hardware facts of the seven LPC flash parts the module's LPC table names: command set, size,
// the identification bytes each part really returns, where it answers them, block locks and busy
// times. The simulated parts are built from these rows.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "sim/Bus.h"

namespace sim {

enum class LpcCommandSet {
  Jedec,        // unlock cycles AA/55 at 5555/2AAA, then a command; DQ6 toggles while busy
  FirmwareHub,  // single-byte commands; status register, bit 7 ready
};

struct LpcPartInfo {
  std::string_view vendor;
  std::string_view name;
  LpcCommandSet command_set;
  std::uint32_t size;  // bytes; a power of two
  std::uint8_t manufacturer_id;
  std::uint8_t device_id;
  // Has a register space (address bit 22 = 0) with a write-lock register per 64 KiB block.
  bool has_register_space;
  // In identification mode a JEDEC part also answers its identification bytes in the register
  // space, at the image of 0xFFBC0000 (register offset size - 0x40000).
  bool id_in_register_space;
  // The block locks read 01h (write-locked) after power-up.
  bool locked_at_power_on;
  Nanos sector_erase_time;  // JEDEC 4 KiB sector erase (30h)
  Nanos block_erase_time;   // 64 KiB block erase (JEDEC 50h, firmware hub 20h/D0h)
  Nanos program_time;       // one byte
  // JEDEC parts: the last erase cycle's command byte that erases a 4 KiB sector, and the one that
  // erases a 64 KiB block.
  std::uint8_t sector_erase_command = 0x30;
  std::uint8_t block_erase_command = 0x50;
};

constexpr std::size_t kLpcPartCount = 7;

// In the order of the module's LPC table.
const std::array<LpcPartInfo, kLpcPartCount>& lpc_parts();

// The row whose name equals `name` ("49LF008A"), ignoring case; null when there is none.
const LpcPartInfo* find_lpc_part(std::string_view name);

}  // namespace sim
