// The chipset's direct-read decode of the SPI flash just below 4 GiB on an SPI-boot platform:
// memory reads return flash contents (linear address = memory address + total flash size, carry
// dropped; a flash smaller than the window repeats every flash-size bytes). Writes do nothing.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/Bus.h"
#include "sim/devices/SpiFlashPart.h"

namespace sim {

class SpiBiosWindow : public MemHandler {
 public:
  static constexpr std::uint64_t kMinimumSize = 4 * 1024 * 1024;  // the top 4 MiB are always decoded

  explicit SpiBiosWindow(std::vector<SpiFlashPart*> components);
  std::uint32_t mem_read(std::uint32_t address, Width w) override;
  void mem_write(std::uint32_t address, Width w, std::uint32_t value) override;

  // Where the window starts and how far it reaches.
  std::uint32_t base() const { return static_cast<std::uint32_t>((std::uint64_t{1} << 32) - window_size()); }
  std::uint64_t window_size() const { return total_ > kMinimumSize ? total_ : kMinimumSize; }
  std::uint64_t ignored_writes() const { return ignored_writes_; }

 private:
  std::uint8_t byte_at(std::uint32_t address) const;

  std::vector<SpiFlashPart*> components_;
  std::uint64_t total_ = 0;
  std::uint64_t ignored_writes_ = 0;
};

}  // namespace sim
