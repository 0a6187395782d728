// The firmware-hub command state machine. While a program or erase runs, reads return the status
// register (bit 7 clear) and only read-status is accepted; a failed operation sets error bits that
// make later ones fail too until clear-status.
#include "sim/devices/FwhFlashPart.h"

namespace sim {

namespace {
constexpr std::uint8_t kErrorBits =
    FwhFlashPart::kEraseError | FwhFlashPart::kProgramError | FwhFlashPart::kVppError;
}  // namespace

FwhFlashPart::FwhFlashPart(const Platform& platform, const LpcPartInfo& info, LpcDecode decode)
    : LpcFlashPart(platform, info, decode) {}

void FwhFlashPart::reset_command_state() {
  mode_ = Mode::Array;
  pending_ = Pending::None;
  errors_ = 0;
}

std::uint8_t FwhFlashPart::status() const {
  return static_cast<std::uint8_t>((busy() ? 0 : kReady) | errors_);
}

std::uint8_t FwhFlashPart::read_array(std::uint32_t offset) {
  if (busy()) {
    return status();  // during program and erase every read returns the status
  }
  switch (mode_) {
    case Mode::Array:
      return array()[offset];
    case Mode::Identifier:
      return offset == 0 ? info().manufacturer_id : offset == 1 ? info().device_id : 0x00;
    case Mode::Status:
      return status();
  }
  return 0xFF;
}

void FwhFlashPart::write_array(std::uint32_t offset, std::uint8_t value) {
  if (busy()) {
    if (value == 0x70) {
      mode_ = Mode::Status;
    } else {
      refuse(LpcRefusal::Busy);
    }
    return;
  }
  if (pending_ == Pending::ProgramData) {
    pending_ = Pending::None;
    program(offset, value);
    return;
  }
  if (pending_ == Pending::EraseConfirm) {
    pending_ = Pending::None;
    if (value == 0xD0) {
      erase_block(offset);
    } else {
      errors_ |= kEraseError | kProgramError;  // improper command sequence
      mode_ = Mode::Status;
      refuse(LpcRefusal::BadSequence);
    }
    return;
  }
  switch (value) {
    case 0xFF:
      mode_ = Mode::Array;
      break;
    case 0x90:
      mode_ = Mode::Identifier;
      counters_.id_entries++;
      break;
    case 0x70:
      mode_ = Mode::Status;
      break;
    case 0x50:
      errors_ = 0;
      break;
    case 0x20:
      pending_ = Pending::EraseConfirm;
      break;
    case 0x40:
    case 0x10:
      pending_ = Pending::ProgramData;
      break;
    default:
      refuse(LpcRefusal::UnknownCommand);
      break;
  }
}

void FwhFlashPart::program(std::uint32_t offset, std::uint8_t value) {
  mode_ = Mode::Status;
  if ((errors_ & kErrorBits) != 0) {
    errors_ |= kProgramError;
    refuse(LpcRefusal::StatusError);
  } else if (write_locked(offset, 1)) {
    errors_ |= kProgramError | kBlockLocked;
    refuse(LpcRefusal::Locked);
  } else {
    start_program(offset, value, info().program_time);
  }
}

void FwhFlashPart::erase_block(std::uint32_t offset) {
  mode_ = Mode::Status;
  std::uint32_t base = offset & ~(kLockBlockSize - 1);
  if ((errors_ & kErrorBits) != 0) {
    errors_ |= kEraseError;
    refuse(LpcRefusal::StatusError);
  } else if (write_locked(base, kLockBlockSize)) {
    errors_ |= kEraseError | kBlockLocked;
    refuse(LpcRefusal::Locked);
  } else {
    counters_.block_erases++;
    start_erase(base, kLockBlockSize, info().block_erase_time);
  }
}

}  // namespace sim
