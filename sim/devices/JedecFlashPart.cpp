// The JEDEC command state machine. A cycle that does not continue the sequence under way returns
// the part to idle and is counted; F0h at any point leaves identification mode.
#include "sim/devices/JedecFlashPart.h"

namespace sim {

namespace {
constexpr std::uint32_t kUnlockMask = 0x7FFF;  // the parts decode A14-A0 for unlock cycles
constexpr std::uint32_t kUnlockAddress1 = 0x5555;
constexpr std::uint32_t kUnlockAddress2 = 0x2AAA;
constexpr std::uint32_t kSector = 0x1000;
constexpr std::uint32_t kBlock = 0x10000;
// In the register space, the identification bytes sit at the image of 0xFFBC0000.
constexpr std::uint32_t kRegisterIdFromTop = 0x40000;
constexpr std::uint8_t kDq6 = 0x40;
constexpr std::uint8_t kDq7 = 0x80;
}  // namespace

JedecFlashPart::JedecFlashPart(const Platform& platform, const LpcPartInfo& info, LpcDecode decode)
    : LpcFlashPart(platform, info, decode),
      sector_erase_command_(info.sector_erase_command),
      block_erase_command_(info.block_erase_command) {}

void JedecFlashPart::reset_command_state() {
  step_ = Step::Idle;
  id_mode_ = false;
  toggle_ = 0;
  busy_dq7_ = 0;
}

std::uint8_t JedecFlashPart::id_byte(std::uint32_t index) const {
  return index == 0 ? info().manufacturer_id : info().device_id;
}

std::uint8_t JedecFlashPart::read_array(std::uint32_t offset) {
  if (busy()) {
    // Write-status detection: DQ7 shows the operation's pending value, DQ6 toggles on every read.
    std::uint8_t status = static_cast<std::uint8_t>(busy_dq7_ | toggle_);
    toggle_ ^= kDq6;
    return status;
  }
  if (id_mode_) {
    return offset <= 1 ? id_byte(offset) : 0x00;
  }
  return array()[offset];
}

std::uint8_t JedecFlashPart::read_register(std::uint32_t offset) {
  std::uint32_t id_offset = info().size - kRegisterIdFromTop;
  if (id_mode_ && info().id_in_register_space && !busy() && offset - id_offset <= 1) {
    return id_byte(offset - id_offset);
  }
  return 0x00;
}

void JedecFlashPart::write_array(std::uint32_t offset, std::uint8_t value) {
  if (busy()) {
    refuse(LpcRefusal::Busy);  // the part ignores commands until the operation completes
    return;
  }
  command(offset, value);
}

void JedecFlashPart::command(std::uint32_t offset, std::uint8_t value) {
  std::uint32_t unlock = offset & kUnlockMask;
  if (value == 0xF0 && step_ != Step::ProgramData) {
    id_mode_ = false;  // software ID exit / reset, single cycle or after the unlock cycles
    step_ = Step::Idle;
    return;
  }
  Step next = Step::Idle;
  bool valid = false;
  switch (step_) {
    case Step::Idle:
      valid = value == 0xAA && unlock == kUnlockAddress1;
      next = Step::Unlock1;
      break;
    case Step::Unlock1:
      valid = value == 0x55 && unlock == kUnlockAddress2;
      next = Step::Unlock2;
      break;
    case Step::Unlock2:
      valid = unlock == kUnlockAddress1 && (value == 0x90 || value == 0x80 || value == 0xA0);
      if (valid && value == 0x90) {
        id_mode_ = true;
        counters_.id_entries++;
      }
      next = value == 0x80 ? Step::EraseSetup : value == 0xA0 ? Step::ProgramData : Step::Idle;
      break;
    case Step::EraseSetup:
      valid = value == 0xAA && unlock == kUnlockAddress1;
      next = Step::EraseUnlock1;
      break;
    case Step::EraseUnlock1:
      valid = value == 0x55 && unlock == kUnlockAddress2;
      next = Step::EraseUnlock2;
      break;
    case Step::EraseUnlock2:
      // Sector and block erase; chip erase (10h) exists only in the parallel programming mode,
      // not on the LPC bus.
      valid = value == sector_erase_command_ || value == block_erase_command_;
      if (valid) {
        erase(offset, value);
      } else {
        refuse(LpcRefusal::UnknownCommand);
        step_ = Step::Idle;
        return;
      }
      break;
    case Step::ProgramData:
      valid = true;
      id_mode_ = false;
      if (write_locked(offset, 1)) {
        refuse(LpcRefusal::Locked);  // ignored: no busy time, data unchanged
      } else {
        busy_dq7_ = static_cast<std::uint8_t>(~value & kDq7);
        start_program(offset, value, info().program_time);
      }
      break;
  }
  if (!valid) {
    refuse(LpcRefusal::BadSequence);
    step_ = Step::Idle;
    return;
  }
  step_ = next;
}

void JedecFlashPart::erase(std::uint32_t offset, std::uint8_t command) {
  id_mode_ = false;
  bool sector = command == sector_erase_command_;
  std::uint32_t unit = sector ? kSector : kBlock;
  std::uint32_t base = offset & ~(unit - 1);  // the address selects the unit; low bits are ignored
  if (write_locked(base, unit)) {
    refuse(LpcRefusal::Locked);  // ignored: no busy time, data unchanged
    return;
  }
  if (sector) {
    counters_.sector_erases++;
  } else {
    counters_.block_erases++;
  }
  busy_dq7_ = 0;
  start_erase(base, unit, sector ? info().sector_erase_time : info().block_erase_time);
}

}  // namespace sim
