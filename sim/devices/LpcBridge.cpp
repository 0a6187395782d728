// LPC bridge configuration registers with their writable bits.
#include "sim/devices/LpcBridge.h"

namespace sim {

namespace {
void put32(std::array<std::uint8_t, 256>& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; i++) {
    s[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}
}  // namespace

LpcBridge::LpcBridge(const LpcBridgeConfig& config) : config_(config) { power_on(); }

void LpcBridge::power_on() {
  space_.fill(0);
  put32(space_, 0x00, 0x29188086);  // vendor 8086h, device: ICH9-class LPC interface
  put32(space_, 0x08, 0x06010002);  // class: bridge, ISA
  space_[0x0E] = 0x80;              // multi-function
  // PMBASE: bits 15:7 hold the base, bit 0 reads 1 (I/O space indicator).
  put32(space_, kPmBase, (config_.pmbase & 0xFF80u) | 1u);
  space_[kAcpiCntl] = config_.acpi_enabled ? 0x80 : 0x00;
  space_[kBiosCntl] = config_.bios_cntl;
  put32(space_, kRcba, (config_.rcba & 0xFFFFC000u) | 1u);
  bios_cntl_writes_ = 0;
}

std::uint16_t LpcBridge::pmbase() const {
  return static_cast<std::uint16_t>((space_[kPmBase] | space_[kPmBase + 1] << 8) & 0xFF80);
}

std::uint32_t LpcBridge::rcba() const {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; i--) {
    v = v << 8 | space_[kRcba + i];
  }
  return v & 0xFFFFC000u;
}

std::uint32_t LpcBridge::config_read(std::uint16_t offset, Width w) {
  std::uint32_t v = 0;
  for (unsigned i = 0; i < static_cast<unsigned>(w); i++) {
    std::uint16_t at = static_cast<std::uint16_t>(offset + i);
    v |= std::uint32_t{at < 256 ? space_[at] : std::uint8_t{0}} << (8 * i);
  }
  return v;
}

void LpcBridge::config_write(std::uint16_t offset, Width w, std::uint32_t value) {
  bool pm = false, rcba = false, bios = false;
  for (unsigned i = 0; i < static_cast<unsigned>(w); i++) {
    std::uint16_t at = static_cast<std::uint16_t>(offset + i);
    if (at >= 256) {
      continue;
    }
    write_byte(at, static_cast<std::uint8_t>(value >> (8 * i)));
    pm = pm || (at >= kPmBase && at < kPmBase + 2) || at == kAcpiCntl;
    rcba = rcba || (at >= kRcba && at < kRcba + 4);
    bios = bios || at == kBiosCntl;
  }
  if (pm && on_pm_decode_change) {
    on_pm_decode_change();
  }
  if (rcba && on_rcba_change) {
    on_rcba_change();
  }
  if (bios && on_bios_cntl_write) {
    on_bios_cntl_write();
  }
}

void LpcBridge::write_byte(std::uint16_t offset, std::uint8_t value) {
  switch (offset) {
    case kPmBase:
      space_[offset] = static_cast<std::uint8_t>((value & 0x80) | 1);
      return;
    case kPmBase + 1:
      space_[offset] = value;
      return;
    case kAcpiCntl:
      space_[offset] = value;
      return;
    case kBiosCntl: {
      bios_cntl_writes_++;
      std::uint8_t old = space_[offset];
      // BLE stays set once set (until reset); TSS (bit 4) is read-only; bits 7:5 are reserved.
      std::uint8_t ble = static_cast<std::uint8_t>((old | value) & kBiosLockEnable);
      space_[offset] = static_cast<std::uint8_t>((value & 0x0D) | ble | (old & 0x10));
      return;
    }
    case kRcba:
      space_[offset] = static_cast<std::uint8_t>(value & 0x01);  // bits 13:1 reserved, bit 0 enable
      return;
    case kRcba + 1:
      space_[offset] = static_cast<std::uint8_t>(value & 0xC0);
      return;
    case kRcba + 2:
    case kRcba + 3:
      space_[offset] = value;
      return;
    default:
      // Other registers of the bridge are not modelled; they keep what is written, except the
      // identification header, which is read-only.
      if (offset >= 0x10) {
        space_[offset] = value;
      }
  }
}

}  // namespace sim
