// Register behaviour and cycle sequencing of the SPI host controller.
#include "sim/devices/SpiHostController.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "sim/Platform.h"
#include "sim/devices/LpcBridge.h"

namespace sim {

namespace {
// Register offsets inside the window.
constexpr std::uint32_t kBfpr = 0x00;
constexpr std::uint32_t kHsfs = 0x04;
constexpr std::uint32_t kHsfc = 0x06;
constexpr std::uint32_t kFaddr = 0x08;
constexpr std::uint32_t kFdata = 0x10;
constexpr std::uint32_t kFdataEnd = 0x50;
constexpr std::uint32_t kFreg = 0x54;
constexpr std::uint32_t kSsfs = 0x90;
constexpr std::uint32_t kSsfc = 0x91;
constexpr std::uint32_t kPreop = 0x94;
constexpr std::uint32_t kOptype = 0x96;
constexpr std::uint32_t kOpmenu = 0x98;
constexpr std::uint32_t kFdoc = 0xB0;
constexpr std::uint32_t kFdod = 0xB4;
constexpr std::uint32_t kLvscc = 0xC4;
constexpr std::uint32_t kUvscc = 0xC8;
constexpr std::uint32_t kFpb = 0xD0;

// HSFS bits 7:0 and SSFS.
constexpr std::uint8_t kFdone = 0x01, kHwFcerr = 0x02, kHwAel = 0x04, kHwScip = 0x20;
constexpr std::uint8_t kSwScip = 0x01, kCds = 0x04, kSwFcerr = 0x08, kSwAel = 0x10;
// HSFS bits 15:8.
constexpr std::uint8_t kFdopss = 0x20, kFdv = 0x40, kFlockdn = 0x80;

constexpr std::uint32_t kVsccWsr = 0x08, kVsccWews = 0x10;

constexpr std::uint8_t kOpWrsr = 0x01, kOpProgram = 0x02, kOpRead = 0x03, kOpRdsr = 0x05, kOpWren = 0x06,
                       kOpEwsr = 0x50;

// How each byte of the window takes a write, as bit masks so that every byte of an access is
// handled at once. A byte is either replaced by what is written (`replace`; only its `store`
// bits keep the written value, the rest read 0) or changed bit by bit: written ones clear its
// `clear` bits and set its `set` bits. `hw_start`/`sw_start` are the cycle start bits (they read
// 0); `cycle` marks the cycle registers, which a running cycle refuses; `lockable` the bytes that
// FLOCKDN freezes; `fdoc` the bytes FDOD follows. Three zero bytes past the window let any access
// load four bytes of each table.
struct WriteRules {
  using Table = std::array<std::uint8_t, 0x200 + 3>;
  Table replace{}, store{}, clear{}, set{}, hw_start{}, sw_start{}, cycle{}, lockable{}, fdoc{};
};

constexpr WriteRules make_write_rules() {
  WriteRules r;
  // Read/write storage unless set otherwise below.
  for (std::uint32_t o = 0; o < 0x200; o++) r.replace[o] = r.store[o] = 0xFF;
  auto read_only = [&r](std::uint32_t first, std::uint32_t count) {
    for (std::uint32_t o = first; o < first + count; o++) r.replace[o] = r.store[o] = 0;
  };
  auto cycle_register = [&r](std::uint32_t first, std::uint32_t count) {
    for (std::uint32_t o = first; o < first + count; o++) r.cycle[o] = 0xFF;
  };
  // BFPR, FREGn and FDOD come from the descriptor.
  read_only(kBfpr, 4);
  read_only(kFreg, 20);
  read_only(kFdod, 4);
  // HSFS 7:0 and SSFS: status bits are write-1-to-clear; HSFS 15:8: FLOCKDN sets once.
  read_only(kHsfs, 2);
  r.clear[kHsfs] = kFdone | kHwFcerr | kHwAel;
  r.set[kHsfs + 1] = kFlockdn;
  read_only(kSsfs, 1);
  r.clear[kSsfs] = kCds | kSwFcerr | kSwAel;
  // HSFC 7:0 keeps FCYCLE; FGO starts a hardware cycle and reads 0. SSFC 7:0 keeps bits 6:2;
  // SCGO starts a software cycle and reads 0; bits 0 and 7 are reserved.
  r.store[kHsfc] = 0x06;
  r.hw_start[kHsfc] = 0x01;
  r.store[kSsfc] = 0x7C;
  r.sw_start[kSsfc] = 0x02;
  cycle_register(kHsfc, 2);
  cycle_register(kFaddr, 4);
  cycle_register(kFdata, kFdataEnd - kFdata);
  cycle_register(kSsfc, 3);
  for (std::uint32_t o = kPreop; o < kOpmenu + 8; o++) r.lockable[o] = 0xFF;
  for (std::uint32_t o = kFdoc; o < kFdoc + 4; o++) r.fdoc[o] = 0xFF;
  return r;
}
constexpr WriteRules kWriteRules = make_write_rules();

// Four bytes from `p`, the first the least significant, as the register image is laid out.
inline std::uint32_t load32(const std::uint8_t* p) {
  static_assert(std::endian::native == std::endian::little);
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
}  // namespace

const char* block_name(SpiBlock b) {
  switch (b) {
    case SpiBlock::WriteDisabled:
      return "bios-write-disabled";
    case SpiBlock::RegionDenied:
      return "region-denied";
    case SpiBlock::NoDescriptor:
      return "no-descriptor";
    case SpiBlock::ReservedCycle:
      return "reserved-cycle";
    case SpiBlock::WhileBusy:
      return "while-busy";
    case SpiBlock::Injected:
      return "injected-cycle-error";
    case SpiBlock::kCount:
      break;
  }
  return "?";
}

SpiHostController::SpiHostController(Platform& platform, LpcBridge& lpc,
                                     std::vector<SpiFlashPart*> components, SpiControllerOptions options)
    : platform_(platform), lpc_(lpc), components_(std::move(components)), options_(options) {
  for (SpiFlashPart* p : components_) total_size_ += p->size();
  power_on();
}

void SpiHostController::power_on() {
  regs_.fill(0);
  sw_busy_ = hw_busy_ = false;
  done_at_ = 0;
  pending_status_ = 0;
  descriptor_.load(components_.front()->array());
  // Descriptor-derived registers: BFPR shows the BIOS region (0 without a descriptor).
  put32(kBfpr, descriptor_.region(1));
  for (int r = 0; r < SpiFlashDescriptor::kRegions; r++) put32(kFreg + 4 * r, descriptor_.region(r));
  regs_[kHsfs + 1] = static_cast<std::uint8_t>(kFdopss | (descriptor_.valid() ? kFdv : 0));
  show_berase();
  show_fdod();
}

std::uint16_t SpiHostController::reg16(std::uint32_t offset) const {
  return static_cast<std::uint16_t>(regs_[offset] | (regs_[offset + 1] << 8));
}

std::uint32_t SpiHostController::reg32(std::uint32_t offset) const {
  return std::uint32_t{reg16(offset)} | (std::uint32_t{reg16(offset + 2)} << 16);
}

void SpiHostController::put32(std::uint32_t offset, std::uint32_t value) {
  for (unsigned i = 0; i < 4; i++) regs_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void SpiHostController::show_busy() {
  regs_[kHsfs] = static_cast<std::uint8_t>((regs_[kHsfs] & ~kHwScip) | (hw_busy_ ? kHwScip : 0));
  regs_[kSsfs] = static_cast<std::uint8_t>((regs_[kSsfs] & ~kSwScip) | (sw_busy_ ? kSwScip : 0));
}

void SpiHostController::show_berase() {
  // HSFS.BERASE: erase block size of the VSCC that covers FADDR.
  regs_[kHsfs] = static_cast<std::uint8_t>((regs_[kHsfs] & ~0x18) | ((vscc_for(faddr()) & 3) << 3));
}

void SpiHostController::show_fdod() {
  std::uint32_t fdoc = reg32(kFdoc);
  put32(kFdod, descriptor_.dword((fdoc >> 12) & 7, (fdoc >> 2) & 0x3FF));
}

// Called before every register access: a running cycle ends once the clock passes its end.
inline void SpiHostController::settle() {
  if ((sw_busy_ || hw_busy_) && platform_.now() >= done_at_) complete_cycle();
}

void SpiHostController::complete_cycle() {
  regs_[sw_busy_ ? kSsfs : kHsfs] |= pending_status_;
  sw_busy_ = hw_busy_ = false;
  show_busy();
}

std::uint32_t SpiHostController::vscc_for(std::uint32_t linear) const {
  std::uint32_t fpb = reg32(kFpb) & 0x1FFF;
  return reg32(linear < (fpb << 12) ? kLvscc : kUvscc);
}

std::uint32_t SpiHostController::mem_read(std::uint32_t address, Width w) {
  settle();
  std::uint32_t offset = address & (kWindowSize - 1);
  // HSFS.BERASE follows FADDR and the VSCC registers; worked out when read.
  if (offset <= kHsfs && offset + static_cast<std::uint32_t>(w) > kHsfs) show_berase();
  // The register image holds what a read returns, least significant byte first.
  std::uint32_t value = load32(&regs_[offset]) & all_ones(w);
  bool status_read = sw_busy_ ? offset == kSsfs : hw_busy_ && offset == kHsfs;
  if (status_read && ++busy_status_reads_ >= 2 && options_.fast_forward_polls) {
    platform_.advance(done_at_ - platform_.now());
    counters_.fast_forwards++;
  }
  return value;
}

void SpiHostController::mem_write(std::uint32_t address, Width w, std::uint32_t value) {
  settle();
  std::uint32_t offset = address & (kWindowSize - 1);
  // The rules act on every byte of the access at once, and no cycle starts before every byte has
  // landed. `value` holds only the access's bytes (zeros above them), so a rule loaded for four
  // bytes acts on no byte past the access; only the bytes of the access are stored, and none past
  // the end of the window.
  auto rule = [offset](const WriteRules::Table& t) { return load32(&t[offset]); };
  std::uint32_t bytes = static_cast<std::uint32_t>(w);
  if (offset + bytes > kWindowSize) [[unlikely]] {
    bytes = kWindowSize - offset;
  }
  auto touched = [bytes] { return 0xFFFFFFFFu >> (32 - 8 * bytes); };
  std::uint32_t replace = rule(kWriteRules.replace);
  std::uint32_t store = rule(kWriteRules.store);
  std::uint32_t hw_start = rule(kWriteRules.hw_start);
  std::uint32_t sw_start = rule(kWriteRules.sw_start);
  std::uint32_t refused = 0;
  if (sw_busy_ || hw_busy_) [[unlikely]] {
    // Writing a cycle register while a cycle runs is refused and flagged.
    refused = rule(kWriteRules.cycle) & touched();
    replace &= ~refused;
    store &= ~refused;
    hw_start &= ~refused;
    sw_start &= ~refused;
  }
  if ((regs_[kHsfs + 1] & kFlockdn) != 0) [[unlikely]] {
    std::uint32_t frozen = rule(kWriteRules.lockable);
    replace &= ~frozen;
    store &= ~frozen;
  }
  std::uint32_t old = load32(&regs_[offset]);
  std::uint32_t now = (value & store) | (old & ~replace & ~(value & rule(kWriteRules.clear))) |
                      (value & rule(kWriteRules.set));
  // (A store wider than the access would also delay the next read of a neighbouring register.)
  if (bytes == 1) {
    regs_[offset] = static_cast<std::uint8_t>(now);
  } else if (bytes == 2) {
    std::memcpy(&regs_[offset], &now, 2);
  } else if (bytes == 4) {
    std::memcpy(&regs_[offset], &now, 4);
  } else {
    std::memcpy(&regs_[offset], &now, 3);  // a dword that runs past the end of the window
  }
  if (refused != 0) [[unlikely]] {
    regs_[sw_busy_ ? kSsfs : kHsfs] |= sw_busy_ ? kSwFcerr : kHwFcerr;
    counters_.blocked[static_cast<std::size_t>(SpiBlock::WhileBusy)] +=
        static_cast<std::uint64_t>(std::popcount(refused)) / 8;
  }
  WriteEffects effects{.sw_go = (value & sw_start) != 0,
                       .hw_go = (value & hw_start) != 0,
                       .fdod = rule(kWriteRules.fdoc) != 0 && (rule(kWriteRules.fdoc) & touched()) != 0};
  if (effects.fdod || effects.sw_go || effects.hw_go) [[unlikely]] {
    act_on(effects);
  }
}

void SpiHostController::act_on(WriteEffects effects) {
  if (effects.fdod) show_fdod();
  // The start bit acts after every byte of the same access has landed.
  if (effects.sw_go) start_software_cycle();
  if (effects.hw_go) start_hardware_cycle();
}

Nanos SpiHostController::clock() const {
  // SSFC bits 18:16: 000 20 MHz, 001 33 MHz.
  return (regs_[kSsfc + 2] & 0x07) == 1 ? 30 : 50;
}

SpiHostController::Target SpiHostController::target(std::uint32_t linear) const {
  // Descriptor mode: component 0 followed by component 1 in one linear space. Without a
  // descriptor only chip select 0 is used.
  std::size_t n =
      descriptor_.valid() ? std::min<std::size_t>(components_.size(), descriptor_.components()) : 1;
  std::uint32_t address = linear;
  for (std::size_t i = 0; i < n; i++) {
    SpiFlashPart* p = components_[i];
    if (address < p->size() || i + 1 == n) return Target{p, address};
    address -= p->size();
  }
  return Target{components_.front(), linear};
}

bool SpiHostController::access_allowed(std::uint32_t linear, bool write) const {
  if (!descriptor_.valid()) return true;
  int region = descriptor_.region_of(linear);
  // The host master always reaches its own BIOS region; other regions need its grant.
  if (region < 0 || region == 1) return true;
  return (descriptor_.flmstr1() & (1u << ((write ? 24 : 16) + region))) != 0;
}

void SpiHostController::block(bool hardware, SpiBlock why, bool access_error) {
  counters_.blocked[static_cast<std::size_t>(why)]++;
  // Nothing goes on the bus; the cycle appears to finish with the error bit set.
  if (hardware) {
    hw_busy_ = true;
    pending_status_ = static_cast<std::uint8_t>(kFdone | kHwFcerr | (access_error ? kHwAel : 0));
  } else {
    sw_busy_ = true;
    pending_status_ = static_cast<std::uint8_t>(kCds | kSwFcerr | (access_error ? kSwAel : 0));
  }
  show_busy();
  done_at_ = platform_.now() + 8 * clock();
  busy_status_reads_ = 0;
}

Nanos SpiHostController::command(Nanos at, const Target& t, const std::uint8_t* out, std::size_t out_len,
                                 std::uint8_t* in, std::size_t in_len) {
  Nanos end = at + static_cast<Nanos>(out_len + in_len) * 8 * clock();
  t.part->transfer(end, out, out_len, in, in_len);
  counters_.commands++;
  return end + options_.deselect;
}

Nanos SpiHostController::poll_ready(Nanos at, const Target& t) {
  // Repeated 05h reads until bit 0 reads 0. Only the last read needs the bus model: the part's
  // status cannot change between the earlier ones except by becoming ready.
  Nanos sample = 16 * clock();
  Nanos period = sample + options_.deselect;
  Nanos first_end = at + sample;
  Nanos ready = t.part->busy_until();
  std::uint64_t earlier = ready > first_end ? (ready - first_end + period - 1) / period : 0;
  Nanos last_start = at + earlier * period;
  std::uint8_t op = kOpRdsr, status = 0;
  Nanos end = command(last_start, t, &op, 1, &status, 1);
  t.part->note_status_polls(earlier);
  counters_.commands += earlier;
  counters_.status_polls += earlier + 1;
  return end;
}

bool SpiHostController::injected_error() {
  return error_cycle_ != 0 && counters_.sw_cycles + counters_.hw_cycles == error_cycle_;
}

void SpiHostController::start_software_cycle() {
  if (sw_busy_ || hw_busy_) {
    block(false, SpiBlock::WhileBusy, false);
    return;
  }
  counters_.sw_cycles++;
  if (injected_error()) {
    block(false, SpiBlock::Injected, false);
    return;
  }
  std::uint32_t ssfc = std::uint32_t{regs_[kSsfc]} | (std::uint32_t{regs_[kSsfc + 1]} << 8);
  unsigned cop = (ssfc >> 4) & 7;
  std::uint8_t opcode = regs_[kOpmenu + cop];
  unsigned optype = ((regs_[kOptype] | (regs_[kOptype + 1] << 8)) >> (2 * cop)) & 3;
  bool with_address = (optype & 2) != 0;
  bool write_type = (optype & 1) != 0;
  bool data = (ssfc & 0x4000) != 0;
  std::size_t count = ((ssfc >> 8) & 0x3F) + 1;
  bool atomic = (ssfc & 0x0004) != 0;
  std::uint8_t prefix = regs_[kPreop + ((ssfc & 0x0008) != 0 ? 1 : 0)];
  std::uint32_t linear = faddr();

  // Protection is checked for the whole sequence before anything goes on the bus.
  if (write_type && !lpc_.bios_write_enabled()) {
    block(false, SpiBlock::WriteDisabled, false);
    return;
  }
  if (with_address && !access_allowed(linear, write_type)) {
    block(false, SpiBlock::RegionDenied, true);
    return;
  }

  Target t = target(linear);
  Nanos at = platform_.now();
  if (atomic) at = command(at, t, &prefix, 1, nullptr, 0);
  std::uint8_t out[4 + 64];
  std::size_t n = 0;
  out[n++] = opcode;
  if (with_address) {
    out[n++] = static_cast<std::uint8_t>(t.address >> 16);
    out[n++] = static_cast<std::uint8_t>(t.address >> 8);
    out[n++] = static_cast<std::uint8_t>(t.address);
  }
  std::uint8_t in[64];
  std::size_t in_len = 0;
  if (data && write_type) {
    std::copy_n(&regs_[kFdata], count, &out[n]);
    n += count;
  } else if (data) {
    in_len = count;
  }
  at = command(at, t, out, n, in, in_len);
  std::copy_n(in, in_len, &regs_[kFdata]);
  if (atomic) at = poll_ready(at, t);

  sw_busy_ = true;
  show_busy();
  busy_status_reads_ = 0;
  pending_status_ = kCds;
  done_at_ = at;
  counters_.bus_time += at - platform_.now();
}

void SpiHostController::start_hardware_cycle() {
  if (sw_busy_ || hw_busy_) {
    block(true, SpiBlock::WhileBusy, false);
    return;
  }
  counters_.hw_cycles++;
  if (injected_error()) {
    block(true, SpiBlock::Injected, false);
    return;
  }
  std::uint16_t hsfc = static_cast<std::uint16_t>(regs_[kHsfc] | (regs_[kHsfc + 1] << 8));
  unsigned cycle = (hsfc >> 1) & 3;
  std::size_t count = ((hsfc >> 8) & 0x3F) + 1;
  std::uint32_t linear = faddr();
  bool write = cycle >= 2;

  // The hardware sequencer exists only in descriptor mode.
  if (!descriptor_.valid()) {
    block(true, SpiBlock::NoDescriptor, false);
    return;
  }
  if (cycle == 1) {
    block(true, SpiBlock::ReservedCycle, false);
    return;
  }
  if (write && !lpc_.bios_write_enabled()) {
    block(true, SpiBlock::WriteDisabled, false);
    return;
  }
  if (!access_allowed(linear, write)) {
    block(true, SpiBlock::RegionDenied, true);
    return;
  }

  Target t = target(linear);
  Nanos at = platform_.now();
  std::uint8_t out[4 + 64];
  out[1] = static_cast<std::uint8_t>(t.address >> 16);
  out[2] = static_cast<std::uint8_t>(t.address >> 8);
  out[3] = static_cast<std::uint8_t>(t.address);
  if (cycle == 0) {
    out[0] = kOpRead;
    at = command(at, t, out, 4, &regs_[kFdata], count);
  } else {
    std::uint32_t vscc = vscc_for(linear);
    if ((vscc & kVsccWsr) != 0) {
      // Unlock: the status register is written with 00h, enabled by WREN or EWSR.
      std::uint8_t enable = (vscc & kVsccWews) != 0 ? kOpWren : kOpEwsr;
      std::uint8_t wrsr[2] = {kOpWrsr, 0x00};
      at = command(at, t, &enable, 1, nullptr, 0);
      at = command(at, t, wrsr, 2, nullptr, 0);
      if (options_.wsr_waits_for_ready) at = poll_ready(at, t);
    }
    std::uint8_t wren = kOpWren;
    at = command(at, t, &wren, 1, nullptr, 0);
    if (cycle == 2) {
      // One program command with every byte; the part decides what it programs.
      out[0] = kOpProgram;
      std::copy_n(&regs_[kFdata], count, &out[4]);
      at = command(at, t, out, 4 + count, nullptr, 0);
    } else {
      out[0] = static_cast<std::uint8_t>(vscc >> 8);  // erase opcode from the VSCC
      at = command(at, t, out, 4, nullptr, 0);
    }
    at = poll_ready(at, t);
  }
  hw_busy_ = true;
  show_busy();
  busy_status_reads_ = 0;
  pending_status_ = kFdone;
  done_at_ = at;
  counters_.bus_time += at - platform_.now();
}

}  // namespace sim
