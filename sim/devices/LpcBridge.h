// The chipset's LPC bridge (bus 0, device 31, function 0): its configuration registers, of which
// the platform uses PMBASE (0x40), ACPI_CNTL (0x44), BIOS_CNTL (0xDC) and RCBA (0xF0).
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "sim/devices/PciFunction.h"

namespace sim {

struct LpcBridgeConfig {
  std::uint16_t pmbase = 0x400;     // as earlier firmware left it
  bool acpi_enabled = true;         // ACPI_CNTL.ACPI_EN: PM I/O block decoded
  std::uint32_t rcba = 0xFED1C000;  // enabled
  std::uint8_t bios_cntl = 0x00;    // BIOSWE clear, BLE clear, SPI read configuration 00
};

class LpcBridge : public PciFunction {
 public:
  static constexpr std::uint8_t kPmBase = 0x40;
  static constexpr std::uint8_t kAcpiCntl = 0x44;
  static constexpr std::uint8_t kBiosCntl = 0xDC;
  static constexpr std::uint8_t kRcba = 0xF0;
  static constexpr std::uint8_t kBiosWriteEnable = 0x01;
  static constexpr std::uint8_t kBiosLockEnable = 0x02;

  explicit LpcBridge(const LpcBridgeConfig& config);

  std::uint32_t config_read(std::uint16_t offset, Width w) override;
  void config_write(std::uint16_t offset, Width w, std::uint32_t value) override;

  // Test face.
  std::uint8_t bios_cntl() const { return space_[kBiosCntl]; }
  bool bios_write_enabled() const { return (space_[kBiosCntl] & kBiosWriteEnable) != 0; }
  std::uint16_t pmbase() const;  // I/O base with the indicator bit cleared
  bool acpi_enabled() const { return (space_[kAcpiCntl] & 0x80) != 0; }
  std::uint32_t rcba() const;  // base with the enable bit cleared
  std::uint32_t bios_cntl_writes() const { return bios_cntl_writes_; }
  void power_on();

  // Called after PMBASE/ACPI_CNTL or RCBA changed, so that decoders can follow.
  std::function<void()> on_pm_decode_change;
  std::function<void()> on_rcba_change;
  // Called after every write that reaches BIOS_CNTL (a report notes when writing was enabled).
  std::function<void()> on_bios_cntl_write;

 private:
  void write_byte(std::uint16_t offset, std::uint8_t value);

  LpcBridgeConfig config_;
  std::array<std::uint8_t, 256> space_{};
  std::uint32_t bios_cntl_writes_ = 0;
};

}  // namespace sim
