// The flash descriptor at the bottom of SPI component 0 as the chipset reads it at power-on:
// signature, descriptor map (component count), regions (BIOS region = BFPR) and the host master's
// grants (FLMSTR1). Builds a descriptor into an image and decodes one for the controller.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace sim {

struct SpiDescriptorConfig {
  std::uint8_t components = 1;         // FLMAP0 NC field + 1
  std::uint32_t flmstr1 = 0x00030000;  // host master: read descriptor and BIOS, no write grants
  // BIOS region (FLREG1, shown as BFPR): base bits 12:0 and limit bits 28:16 in 4 KiB units.
  // 0 selects "from 0x1000 to the end of the flash".
  std::uint32_t bios_region = 0;
};

class SpiFlashDescriptor {
 public:
  static constexpr std::uint32_t kSignature = 0x0FF0A55A;
  static constexpr std::uint32_t kSize = 0x1000;
  static constexpr int kRegions = 5;

  // Writes a valid descriptor for a flash of `total_size` bytes into the first 4 KiB of `image`.
  static void write(std::vector<std::uint8_t>& image, std::uint32_t total_size,
                    const SpiDescriptorConfig& config);

  // Decodes the first 4 KiB of component 0 as the chipset does at power-on.
  void load(const std::vector<std::uint8_t>& component0);
  bool valid() const { return valid_; }
  // FDOC section (0 map, 1 component, 2 region, 3 master) and dword index; 0 when invalid.
  std::uint32_t dword(unsigned section, unsigned index) const;
  std::uint32_t flmap0() const { return dword(0, 1); }
  std::uint32_t flmstr1() const { return dword(3, 0); }
  std::uint32_t region(int r) const { return dword(2, static_cast<unsigned>(r)); }
  std::uint8_t components() const {
    return valid_ ? static_cast<std::uint8_t>(((flmap0() >> 8) & 3) + 1) : 1;
  }
  // The region (0-4) holding a linear address, or -1 when no region covers it.
  int region_of(std::uint32_t address) const;

 private:
  std::uint32_t word_at(std::uint32_t offset) const;
  bool valid_ = false;
  std::array<std::uint8_t, kSize> bytes_{};
};

}  // namespace sim
