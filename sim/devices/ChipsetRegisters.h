// The chipset configuration register block at RCBA (16 KiB). GCS at offset 0x3410 carries the
// boot BIOS straps in bits 11:10 (read-only); the rest of the block keeps what is written.
// Devices inside the block (the SPI host controller at 0x3800) are mapped over it by the machine.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/Bus.h"

namespace sim {

class ChipsetRegisters : public MemHandler {
 public:
  static constexpr std::uint32_t kSize = 0x4000;
  static constexpr std::uint32_t kGcs = 0x3410;

  // `straps`: GCS bits 11:10 as the module reads them: 3 SPI, 0 LPC, 1 and 2 unsupported.
  explicit ChipsetRegisters(std::uint8_t straps);

  void set_base(std::uint32_t base) { base_ = base; }
  std::uint32_t mem_read(std::uint32_t address, Width w) override;
  void mem_write(std::uint32_t address, Width w, std::uint32_t value) override;

  // Test face.
  std::uint32_t gcs() const { return read32(kGcs); }
  void set_boot_straps(std::uint8_t straps);
  std::uint32_t read32(std::uint32_t offset) const;
  void power_on();

 private:
  std::uint32_t base_ = 0;
  std::uint8_t straps_;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace sim
