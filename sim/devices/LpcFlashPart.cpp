// Decoding, array, block locks, busy time and bookkeeping shared by the simulated LPC parts.
#include "sim/devices/LpcFlashPart.h"

#include <algorithm>

#include "sim/Platform.h"

namespace sim {

namespace {
constexpr std::uint64_t kTop = std::uint64_t{1} << 32;
constexpr std::uint64_t kRegisterTop = kTop - LpcFlashPart::kArraySpaceBit;
}  // namespace

std::string_view refusal_name(LpcRefusal cause) {
  switch (cause) {
    case LpcRefusal::WriteDisabled:
      return "write-disabled";
    case LpcRefusal::Locked:
      return "locked";
    case LpcRefusal::LockedDown:
      return "locked-down";
    case LpcRefusal::Busy:
      return "busy";
    case LpcRefusal::BadSequence:
      return "bad-sequence";
    case LpcRefusal::UnknownCommand:
      return "unknown-command";
    case LpcRefusal::StatusError:
      return "status-error";
    case LpcRefusal::Undecoded:
      return "undecoded";
  }
  return "unknown";
}

LpcFlashPart::LpcFlashPart(const Platform& platform, const LpcPartInfo& info, LpcDecode decode)
    : platform_(platform),
      info_(info),
      decode_(decode),
      array_(info.size, 0xFF),
      locks_(info.has_register_space ? info.size / kLockBlockSize : 0),
      power_on_lock_(info.locked_at_power_on ? kWriteLock : 0) {
  std::fill(locks_.begin(), locks_.end(), power_on_lock_);
}

std::uint64_t LpcFlashPart::total_refusals() const {
  std::uint64_t total = 0;
  for (std::uint64_t n : refusals_) {
    total += n;
  }
  return total;
}

void LpcFlashPart::inject_stuck_busy(std::uint64_t after_operations) {
  stuck_armed_ = true;
  stuck_from_ = operations_started_ + after_operations;
}

void LpcFlashPart::power_on() {
  if (busy() && interrupted_.pending()) {
    // Cut short: the unit is neither old nor new.
    std::uint32_t offset = interrupted_.offset(), length = interrupted_.length();
    std::uint32_t torn = interrupted_.tear(array_);
    if (observer_)
      observer_(LpcArrayChange{LpcArrayChange::Kind::Interrupted, now(), offset, length, busy_until_, torn});
  }
  interrupted_.forget();
  busy_until_ = 0;
  stuck_ = false;
  std::fill(locks_.begin(), locks_.end(), power_on_lock_);
  reset_command_state();
}

inline LpcFlashPart::Space LpcFlashPart::locate(std::uint32_t address, std::uint32_t* offset) const {
  if (address < kWindowBase) {
    return Space::None;
  }
  bool array_space = (address & kArraySpaceBit) != 0;
  if (!array_space && !info_.has_register_space) {
    return Space::None;
  }
  if (decode_ == LpcDecode::TopOnly) {
    std::uint64_t top = array_space ? kTop : kRegisterTop;
    if (address < top - info_.size) {
      return Space::None;
    }
  }
  *offset = address & (info_.size - 1);
  return array_space ? Space::Array : Space::Registers;
}

std::uint32_t LpcFlashPart::mem_read(std::uint32_t address, Width w) {
  // Nearly every access is a byte: it goes straight to the byte cycle.
  if (w == Width::Byte) [[likely]] {
    return read_byte(address);
  }
  return read_cycles(address, w);
}

void LpcFlashPart::mem_write(std::uint32_t address, Width w, std::uint32_t value) {
  if (w == Width::Byte) [[likely]] {
    write_byte(address, static_cast<std::uint8_t>(value));
    return;
  }
  write_cycles(address, w, value);
}

std::uint32_t LpcFlashPart::read_cycles(std::uint32_t address, Width w) {
  // Byte cycles, lowest address first (at most four: written out).
  std::uint32_t value = read_byte(address);
  if (w != Width::Byte) {
    value |= std::uint32_t{read_byte(address + 1)} << 8;
    if (w == Width::Dword) {
      value |= std::uint32_t{read_byte(address + 2)} << 16;
      value |= std::uint32_t{read_byte(address + 3)} << 24;
    }
  }
  return value;
}

void LpcFlashPart::write_cycles(std::uint32_t address, Width w, std::uint32_t value) {
  write_byte(address, static_cast<std::uint8_t>(value));
  if (w != Width::Byte) {
    write_byte(address + 1, static_cast<std::uint8_t>(value >> 8));
    if (w == Width::Dword) {
      write_byte(address + 2, static_cast<std::uint8_t>(value >> 16));
      write_byte(address + 3, static_cast<std::uint8_t>(value >> 24));
    }
  }
}

inline std::uint8_t LpcFlashPart::read_byte(std::uint32_t address) {
  std::uint32_t offset = 0;
  switch (locate(address, &offset)) {
    case Space::None:
      return 0xFF;
    case Space::Array:
      counters_.reads++;
      return read_array(offset);
    case Space::Registers:
      counters_.reads++;
      if (offset % kLockBlockSize == kLockRegisterOffset) {
        return locks_[offset / kLockBlockSize];
      }
      return read_register(offset);
  }
  return 0xFF;
}

void LpcFlashPart::write_byte(std::uint32_t address, std::uint8_t value) {
  if (write_gate_ && !write_gate_()) {
    refuse(LpcRefusal::WriteDisabled);
    return;
  }
  std::uint32_t offset = 0;
  switch (locate(address, &offset)) {
    case Space::None:
      refuse(LpcRefusal::Undecoded);
      return;
    case Space::Array:
      counters_.writes++;
      write_array(offset, value);
      return;
    case Space::Registers:
      counters_.writes++;
      if (offset % kLockBlockSize == kLockRegisterOffset) {
        std::uint8_t& lock = locks_[offset / kLockBlockSize];
        if ((lock & kLockDown) != 0) {
          refuse(LpcRefusal::LockedDown);
        } else {
          lock = value & (kWriteLock | kLockDown | kReadLock);
        }
      }
      return;  // other register locations take no writes
  }
}

bool LpcFlashPart::write_locked(std::uint32_t offset, std::uint32_t length) const {
  if (locks_.empty()) {
    return false;
  }
  for (std::uint32_t block = offset / kLockBlockSize; block <= (offset + length - 1) / kLockBlockSize;
       block++) {
    if ((locks_[block] & kWriteLock) != 0) {
      return true;
    }
  }
  return false;
}

void LpcFlashPart::start_operation(Nanos duration) {
  operations_started_++;
  if (stuck_armed_ && operations_started_ > stuck_from_) {
    stuck_ = true;
  }
  busy_until_ = now() + duration;
  counters_.busy_time += duration;
}

void LpcFlashPart::start_erase(std::uint32_t offset, std::uint32_t length, Nanos duration) {
  start_operation(duration);
  interrupted_.begin(array_, offset, length);
  std::fill_n(array_.begin() + offset, length, 0xFF);
  counters_.erased_bytes += length;
  record(LpcArrayChange::Kind::Erase, offset, length);
}

void LpcFlashPart::start_program(std::uint32_t offset, std::uint8_t value, Nanos duration) {
  start_operation(duration);
  interrupted_.begin(array_, offset, 1);
  array_[offset] &= value;
  counters_.bytes_programmed++;
  record(LpcArrayChange::Kind::Program, offset, 1);
}

void LpcFlashPart::record(LpcArrayChange::Kind kind, std::uint32_t offset, std::uint32_t length) {
  if (observer_) {
    observer_(LpcArrayChange{kind, now(), offset, length, busy_until_});
  }
}

}  // namespace sim
