// The SPI flash part model: command decoding, protection, program and erase semantics and timing.
#include "sim/devices/SpiFlashPart.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace sim {

namespace {
constexpr std::uint8_t kStatusBusy = 0x01;
constexpr std::uint8_t kStatusWel = 0x02;
constexpr std::uint32_t kPageSize = 256;

// SPI opcodes every part of the family decodes the same way.
constexpr std::uint8_t kWrsr = 0x01;
constexpr std::uint8_t kProgram = 0x02;
constexpr std::uint8_t kRead = 0x03;
constexpr std::uint8_t kWrdi = 0x04;
constexpr std::uint8_t kRdsr = 0x05;
constexpr std::uint8_t kWren = 0x06;
constexpr std::uint8_t kFastRead = 0x0B;
constexpr std::uint8_t kAtmelProtectSector = 0x36;
constexpr std::uint8_t kAtmelUnprotectSector = 0x39;
constexpr std::uint8_t kEwsr = 0x50;
constexpr std::uint8_t kRems = 0x90;
constexpr std::uint8_t kRdid = 0x9F;
constexpr std::uint8_t kRes = 0xAB;

// Sets `n` bytes. Most data phases are empty or one byte (a status poll, an SST byte program);
// those are written directly rather than through the C library.
inline void fill_bytes(std::uint8_t* p, std::size_t n, std::uint8_t value) {
  if (n == 1) {
    *p = value;
  } else if (n > 1) {
    std::memset(p, value, n);
  }
}

bool power_of_two(std::uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

SpiPartTraits checked(SpiPartTraits t) {
  // Addresses wrap at the end of the array and sectors are found by shifting: both sizes are powers
  // of two on every real part.
  if (!power_of_two(t.size) || !power_of_two(t.sector_size) || t.sector_size > t.size) {
    throw std::invalid_argument("SPI part " + t.name + ": array size " + std::to_string(t.size) +
                                " and sector size " + std::to_string(t.sector_size) +
                                " must be powers of two, the sector no larger than the array");
  }
  return t;
}
}  // namespace

const char* refusal_name(SpiRefusal r) {
  switch (r) {
    case SpiRefusal::NoWriteEnable:
      return "no-write-enable";
    case SpiRefusal::Protected:
      return "protected";
    case SpiRefusal::Locked:
      return "locked";
    case SpiRefusal::Busy:
      return "busy";
    case SpiRefusal::UnknownOpcode:
      return "unknown-opcode";
    case SpiRefusal::Incomplete:
      return "incomplete";
    case SpiRefusal::StatusLocked:
      return "status-locked";
    case SpiRefusal::kCount:
      break;
  }
  return "?";
}

std::uint64_t SpiPartCounters::total_refusals() const {
  std::uint64_t n = 0;
  for (auto r : refusals) n += r;
  return n;
}

SpiFlashPart::SpiFlashPart(SpiPartTraits traits)
    : traits_(checked(std::move(traits))),
      address_mask_(traits_.size - 1),
      sector_shift_(static_cast<unsigned>(std::countr_zero(traits_.sector_size))),
      array_(traits_.size, 0xFF),
      sector_protect_(traits_.size / traits_.sector_size, 0),
      locks_(traits_.size / traits_.sector_size, 0) {
  power_on();
}

void SpiFlashPart::power_on(Nanos lost_at) {
  if (lost_at < busy_until_ && in_flight_ == InFlight::Array && interrupted_.pending()) {
    std::uint32_t offset = interrupted_.offset(), length = interrupted_.length();
    std::uint32_t torn = interrupted_.tear(array_);
    if (observer_) observer_({SpiArrayChange::Kind::Interrupted, lost_at, offset, length, busy_until_, torn});
  } else if (lost_at < busy_until_ && in_flight_ == InFlight::Status) {
    // A non-volatile status write cut short: each bit kept its old value or took the new one.
    std::uint8_t after = stored_status_;
    stored_status_ = interrupted_.mix(status_before_, after);
    std::uint32_t torn = stored_status_ != status_before_ && stored_status_ != after ? 1 : 0;
    if (observer_) observer_({SpiArrayChange::Kind::StatusInterrupted, lost_at, 0, 0, busy_until_, torn});
  }
  in_flight_ = InFlight::None;
  interrupted_.forget();
  wel_ = false;
  wel_clear_pending_ = false;
  ewsr_armed_ = false;
  busy_until_ = 0;
  if (traits_.status_volatile) {
    stored_status_ = traits_.power_on_status;
  }
  if (traits_.scheme == SpiStatusScheme::AtmelGlobal) {
    // Sector protection registers are volatile; SPRL powers up clear.
    protect_every_sector(traits_.power_on_sectors_protected);
    stored_status_ = 0;
  }
  // Lock registers power up unlocked.
  std::fill(locks_.begin(), locks_.end(), 0);
}

void SpiFlashPart::clear_protection() {
  stored_status_ = 0;
  protect_every_sector(false);
  std::fill(locks_.begin(), locks_.end(), 0);
}

void SpiFlashPart::protect_all() {
  if (traits_.scheme == SpiStatusScheme::AtmelGlobal) {
    protect_every_sector(true);
  } else {
    stored_status_ = static_cast<std::uint8_t>((stored_status_ & ~traits_.bp_mask) | traits_.bp_mask);
  }
  if (traits_.has_lock_registers) {
    std::fill(locks_.begin(), locks_.end(), 1);
  }
}

void SpiFlashPart::set_sector_locks(std::uint8_t value) { std::fill(locks_.begin(), locks_.end(), value); }

std::uint8_t SpiFlashPart::sector_lock(std::uint32_t address) const { return locks_[sector_of(address)]; }

bool SpiFlashPart::sector_protected(std::uint32_t address) const {
  return sector_protect_[sector_of(address)] != 0;
}

void SpiFlashPart::protect_every_sector(bool on) {
  std::fill(sector_protect_.begin(), sector_protect_.end(), on ? 1 : 0);
  protected_sectors_ = on ? static_cast<std::uint32_t>(sector_protect_.size()) : 0;
}

void SpiFlashPart::protect_sector(std::uint32_t address, bool on) {
  std::uint8_t& p = sector_protect_[sector_of(address)];
  protected_sectors_ = protected_sectors_ - p + (on ? 1 : 0);
  p = on ? 1 : 0;
}

std::uint32_t SpiFlashPart::protected_top_bytes() const {
  if (traits_.scheme != SpiStatusScheme::BlockProtectBits) return 0;
  unsigned level = (stored_status_ & traits_.bp_mask) >> std::countr_zero(traits_.bp_mask);
  if (level == 0) return 0;
  if (level >= traits_.bp_all_level) return traits_.size;
  std::uint64_t bytes = std::uint64_t{traits_.bp_first_bytes} << (level - 1);
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, traits_.size));
}

bool SpiFlashPart::range_protected(std::uint32_t address, std::uint32_t length) const {
  std::uint32_t top = protected_top_bytes();
  if (top != 0 && address + length > traits_.size - top) return true;
  if (traits_.scheme == SpiStatusScheme::AtmelGlobal && protected_sectors_ != 0) {
    for (std::uint32_t a = address & ~(traits_.sector_size - 1); a < address + length;
         a += traits_.sector_size) {
      if (sector_protected(a)) return true;
    }
  }
  return false;
}

std::uint8_t SpiFlashPart::status_at(Nanos at) const {
  bool busy = at < busy_until_;
  bool wel = wel_ && !(wel_clear_pending_ && !busy);
  std::uint8_t s = static_cast<std::uint8_t>((busy ? kStatusBusy : 0) | (wel ? kStatusWel : 0));
  if (traits_.scheme == SpiStatusScheme::AtmelGlobal) {
    std::uint32_t n = protected_sectors_;
    std::uint8_t swp = n == 0 ? 0x00 : n == sector_protect_.size() ? 0x0C : 0x04;
    // SPRL stored in bit 7; WPP (bit 4) reads 1 with the WP# pin deasserted.
    return static_cast<std::uint8_t>(s | (stored_status_ & 0x80) | 0x10 | swp);
  }
  if (traits_.scheme == SpiStatusScheme::None) return s;
  return static_cast<std::uint8_t>(s | (stored_status_ & traits_.status_writable));
}

void SpiFlashPart::settle(Nanos at) {
  if (wel_clear_pending_ && at >= busy_until_) {
    wel_ = false;
    wel_clear_pending_ = false;
  }
}

void SpiFlashPart::refuse(SpiRefusal r) { counters_.refusals[static_cast<std::size_t>(r)]++; }

void SpiFlashPart::start_busy(Nanos at, Nanos duration) {
  busy_until_ = stuck_busy_ ? kForever : at + duration;
  counters_.busy_time += duration;
  // Program, erase and status writes clear WEL when they complete.
  wel_clear_pending_ = true;
}

std::uint32_t SpiFlashPart::address_of(const std::uint8_t* out) {
  return (std::uint32_t{out[1]} << 16) | (std::uint32_t{out[2]} << 8) | out[3];
}

bool SpiFlashPart::check_target(std::uint32_t address, std::uint32_t length) {
  bool locked = false;
  if (traits_.has_lock_registers) {
    for (std::uint32_t a = address & ~(traits_.sector_size - 1); a < address + length;
         a += traits_.sector_size) {
      locked = locked || (sector_lock(a) & 1) != 0;
    }
  }
  bool prot = range_protected(address, length);
  if (!locked && !prot) return true;
  refuse(locked ? SpiRefusal::Locked : SpiRefusal::Protected);
  if (!traits_.keeps_wel_on_refusal) wel_ = false;
  return false;
}

void SpiFlashPart::read_id(const std::vector<std::uint8_t>& id, std::size_t skip, std::uint8_t* in,
                           std::size_t in_len) const {
  for (std::size_t i = 0; i < in_len; i++) {
    if (i < skip || id.empty()) {
      in[i] = 0xFF;  // nothing drives the data line yet
    } else {
      in[i] = id[(i - skip) % id.size()];
    }
  }
}

void SpiFlashPart::transfer(Nanos at, const std::uint8_t* out, std::size_t out_len, std::uint8_t* in,
                            std::size_t in_len) {
  fill_bytes(in, in_len, 0xFF);
  if (out_len == 0) return;
  if (command_observer_) command_observer_(out, out_len);
  counters_.commands++;
  settle(at);
  std::uint8_t op = out[0];
  // EWSR arms only the command right after it.
  bool ewsr_armed = ewsr_armed_;
  ewsr_armed_ = false;
  if (op == kRdsr) {
    counters_.status_reads++;
    fill_bytes(in, in_len, status_at(at));
    return;
  }
  if (at < busy_until_) {
    refuse(SpiRefusal::Busy);
    return;
  }
  bool has_address = out_len >= 4;
  if (!traits_.needs_write_enable && (op == kWren || op == kWrdi)) {
    refuse(SpiRefusal::UnknownOpcode);  // a part without a write-enable latch
    return;
  }
  switch (op) {
    case kWren:
      wel_ = true;
      wel_clear_pending_ = false;
      return;
    case kWrdi:
      wel_ = false;
      return;
    case kEwsr:
      if (traits_.status_write_enable == SpiStatusWriteEnable::Wren ||
          traits_.scheme == SpiStatusScheme::None)
        break;
      ewsr_armed_ = true;
      return;
    case kWrsr:
      if (traits_.scheme == SpiStatusScheme::None) break;
      write_status(at, out + 1, out_len - 1, ewsr_armed);
      return;
    case kRead:
    case kFastRead: {
      if (!has_address) {
        refuse(SpiRefusal::Incomplete);
        return;
      }
      std::uint32_t a = address_of(out);
      std::size_t dummy = op == kFastRead ? 1 : 0;
      for (std::size_t i = dummy; i < in_len; i++) {
        in[i] = array_[(a + i - dummy) & address_mask_];
      }
      return;
    }
    case kProgram:
      if (!has_address || out_len < 5) {
        refuse(SpiRefusal::Incomplete);
        return;
      }
      program(at, address_of(out), out + 4, out_len - 4);
      return;
    case kRdid:
      if (traits_.jedec_id.empty()) break;
      read_id(traits_.jedec_id, 0, in, std::min(in_len, traits_.jedec_id.size()));
      return;
    case kRems: {
      if (traits_.rems_id.empty()) break;
      // Manufacturer at even addresses, device at odd, alternating while clocked.
      std::size_t first = has_address ? (out[3] & 1u) : 0;
      for (std::size_t i = 0; i < in_len; i++) in[i] = traits_.rems_id[(first + i) % 2];
      return;
    }
    case kRes: {
      if (traits_.res_id.empty()) break;
      std::size_t clocked = out_len - 1;  // address or dummy bytes already sent
      std::size_t skip = clocked >= traits_.res_dummy_bytes ? 0 : traits_.res_dummy_bytes - clocked;
      read_id(traits_.res_id, skip, in, in_len);
      return;
    }
    default:
      break;
  }
  if (traits_.has_lock_registers && op == traits_.lock_write_opcode) {
    if (!has_address || out_len < 5) {
      refuse(SpiRefusal::Incomplete);
      return;
    }
    if (!wel_) {
      refuse(SpiRefusal::NoWriteEnable);
      return;
    }
    std::uint8_t& lock = locks_[sector_of(address_of(out))];
    counters_.lock_writes++;
    if ((lock & 0x02) == 0) lock = out[4] & 0x03;  // lock-down holds until power-off
    in_flight_ = InFlight::None;                   // lock registers are volatile anyway
    start_busy(at, traits_.lock_write);
    return;
  }
  if (traits_.scheme == SpiStatusScheme::AtmelGlobal &&
      (op == kAtmelProtectSector || op == kAtmelUnprotectSector)) {
    if (!has_address) {
      refuse(SpiRefusal::Incomplete);
    } else if (!wel_) {
      refuse(SpiRefusal::NoWriteEnable);
    } else if ((stored_status_ & 0x80) != 0) {
      refuse(SpiRefusal::StatusLocked);
      wel_ = false;
    } else {
      protect_sector(address_of(out), op == kAtmelProtectSector);
      wel_ = false;
    }
    return;
  }
  for (const SpiEraseCommand& e : traits_.erases) {
    if (e.opcode == op) {
      bool chip = e.size >= traits_.size;
      if (!chip && !has_address) {
        refuse(SpiRefusal::Incomplete);
        return;
      }
      erase(at, e, chip ? 0 : address_of(out));
      return;
    }
  }
  refuse(SpiRefusal::UnknownOpcode);
}

void SpiFlashPart::write_status(Nanos at, const std::uint8_t* data, std::size_t len, bool ewsr_armed) {
  if (len == 0) {
    refuse(SpiRefusal::Incomplete);
    return;
  }
  bool enabled = false;
  switch (traits_.status_write_enable) {
    case SpiStatusWriteEnable::Wren:
      enabled = wel_;
      break;
    case SpiStatusWriteEnable::Ewsr:
      enabled = ewsr_armed;
      break;
    case SpiStatusWriteEnable::EwsrOrWren:
      enabled = ewsr_armed || wel_;
      break;
  }
  if (!enabled) {
    refuse(SpiRefusal::NoWriteEnable);
    return;
  }
  std::uint8_t v = data[0];
  counters_.status_writes++;
  in_flight_ = InFlight::Status;
  status_before_ = stored_status_;
  if (traits_.scheme == SpiStatusScheme::AtmelGlobal) {
    // Bits 5:2 are not stored: 1111 protects every sector, 0000 unprotects every sector, and only
    // while the sector protection registers are not locked (SPRL clear).
    if ((stored_status_ & 0x80) == 0) {
      std::uint8_t global = (v >> 2) & 0x0F;
      if (global == 0x0F || global == 0x00) {
        protect_every_sector(global == 0x0F);
      }
    }
    stored_status_ = v & 0x80;
  } else {
    stored_status_ = static_cast<std::uint8_t>((stored_status_ & ~traits_.status_writable) |
                                               (v & traits_.status_writable));
  }
  start_busy(at, traits_.status_write);
  if (observer_) observer_({SpiArrayChange::Kind::StatusWrite, at, 0, 0, busy_until_});
}

void SpiFlashPart::begin_array_write(std::uint32_t offset, std::uint32_t length) {
  in_flight_ = InFlight::Array;
  interrupted_.begin(array_, offset, length);
}

void SpiFlashPart::program(Nanos at, std::uint32_t address, const std::uint8_t* data, std::size_t len) {
  if (traits_.needs_write_enable && !wel_) {
    refuse(SpiRefusal::NoWriteEnable);
    return;
  }
  address &= address_mask_;
  if (!traits_.page_program) {
    // One byte per 02h; further data bytes are ignored.
    if (!check_target(address, 1)) return;
    begin_array_write(address, 1);
    array_[address] &= data[0];
    counters_.programs++;
    counters_.programmed_bytes++;
    start_busy(at, traits_.program_first_byte);
    if (observer_) observer_({SpiArrayChange::Kind::Program, at, address, 1, busy_until_});
    return;
  }
  std::uint32_t page = address & ~(kPageSize - 1);
  if (!check_target(page, kPageSize)) return;
  // Addresses wrap inside the 256-byte page; of more than 256 bytes only the last 256 count.
  std::size_t skip = len > kPageSize ? len - kPageSize : 0;
  std::size_t n = len - skip;
  begin_array_write(page, kPageSize);
  for (std::size_t i = 0; i < n; i++) {
    std::uint32_t column = (address + static_cast<std::uint32_t>(skip + i)) & (kPageSize - 1);
    array_[page | column] &= data[skip + i];
  }
  counters_.programs++;
  counters_.programmed_bytes += n;
  start_busy(at, traits_.program_first_byte + traits_.program_next_byte * (n - 1));
  if (observer_) {
    // A program that wraps inside its page touched bytes on both sides of the start column.
    std::uint32_t start = (address + static_cast<std::uint32_t>(skip)) & (kPageSize - 1);
    bool wraps = start + n > kPageSize;
    observer_({SpiArrayChange::Kind::Program, at, wraps ? page : page | start,
               wraps ? kPageSize : static_cast<std::uint32_t>(n), busy_until_});
  }
}

void SpiFlashPart::erase(Nanos at, const SpiEraseCommand& command, std::uint32_t address) {
  if (traits_.needs_write_enable && !wel_) {
    refuse(SpiRefusal::NoWriteEnable);
    return;
  }
  std::uint32_t size = std::min(command.size, traits_.size);
  std::uint32_t base = (address & address_mask_) & ~(size - 1);
  if (!check_target(base, size)) return;
  begin_array_write(base, size);
  std::fill(array_.begin() + base, array_.begin() + base + size, 0xFF);
  counters_.erases++;
  counters_.erased_bytes += size;
  start_busy(at, command.busy);
  if (observer_) observer_({SpiArrayChange::Kind::Erase, at, base, size, busy_until_});
}

}  // namespace sim
