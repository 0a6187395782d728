// A simulated firmware-hub flash part: single-byte commands (read array FFh, identifier 90h, read
// status 70h, clear status 50h, block erase 20h/D0h, program 40h/10h), a status register whose
// bit 7 means ready, and error bits that stay set until cleared.
#pragma once

#include "sim/devices/LpcFlashPart.h"

namespace sim {

class FwhFlashPart : public LpcFlashPart {
 public:
  static constexpr std::uint8_t kReady = 0x80;
  static constexpr std::uint8_t kEraseError = 0x20;
  static constexpr std::uint8_t kProgramError = 0x10;
  static constexpr std::uint8_t kVppError = 0x08;
  static constexpr std::uint8_t kBlockLocked = 0x02;

  FwhFlashPart(const Platform& platform, const LpcPartInfo& info, LpcDecode decode);

  // The status register as a read would return it now.
  std::uint8_t status() const;

 protected:
  std::uint8_t read_array(std::uint32_t offset) override;
  void write_array(std::uint32_t offset, std::uint8_t value) override;
  void reset_command_state() override;

 private:
  enum class Mode { Array, Identifier, Status };
  enum class Pending { None, EraseConfirm, ProgramData };

  void program(std::uint32_t offset, std::uint8_t value);
  void erase_block(std::uint32_t offset);

  Mode mode_ = Mode::Array;
  Pending pending_ = Pending::None;
  std::uint8_t errors_ = 0;  // status bits 5, 4, 3 and 1
};

}  // namespace sim
