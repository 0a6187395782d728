// A simulated LPC flash part with the JEDEC software command set: unlock cycles AA/55 at A14-A0
// 5555/2AAA, software identification, 4 KiB sector and 64 KiB block erase, byte program, and the
// DQ7/DQ6 write-status bits while busy.
#pragma once

#include "sim/devices/LpcFlashPart.h"

namespace sim {

class JedecFlashPart : public LpcFlashPart {
 public:
  JedecFlashPart(const Platform& platform, const LpcPartInfo& info, LpcDecode decode);

  // Which final erase command erases a 4 KiB sector and which a 64 KiB block (a part variant may
  // differ from its catalogue row).
  void set_erase_commands(std::uint8_t sector, std::uint8_t block) {
    sector_erase_command_ = sector;
    block_erase_command_ = block;
  }
  bool in_id_mode() const { return id_mode_; }

 protected:
  std::uint8_t read_array(std::uint32_t offset) override;
  void write_array(std::uint32_t offset, std::uint8_t value) override;
  std::uint8_t read_register(std::uint32_t offset) override;
  void reset_command_state() override;

 private:
  // Where the part is in a command sequence.
  enum class Step { Idle, Unlock1, Unlock2, EraseSetup, EraseUnlock1, EraseUnlock2, ProgramData };

  void command(std::uint32_t offset, std::uint8_t value);
  void erase(std::uint32_t offset, std::uint8_t command);
  std::uint8_t id_byte(std::uint32_t index) const;

  Step step_ = Step::Idle;
  bool id_mode_ = false;
  std::uint8_t sector_erase_command_;
  std::uint8_t block_erase_command_;
  std::uint8_t toggle_ = 0;    // DQ6 while busy
  std::uint8_t busy_dq7_ = 0;  // DQ7 while busy: complement of the programmed bit, 0 for erase
};

}  // namespace sim
