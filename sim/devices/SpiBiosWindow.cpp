// Direct reads of the SPI flash through the top of the 4 GiB space.
#include "sim/devices/SpiBiosWindow.h"

namespace sim {

SpiBiosWindow::SpiBiosWindow(std::vector<SpiFlashPart*> components) : components_(std::move(components)) {
  for (SpiFlashPart* p : components_) total_ += p->size();
}

std::uint8_t SpiBiosWindow::byte_at(std::uint32_t address) const {
  std::uint64_t below_top = (std::uint64_t{1} << 32) - address;
  std::uint64_t linear = (total_ - below_top % total_) % total_;
  for (SpiFlashPart* p : components_) {
    if (linear < p->size()) return p->array()[linear];
    linear -= p->size();
  }
  return 0xFF;
}

std::uint32_t SpiBiosWindow::mem_read(std::uint32_t address, Width w) {
  std::uint32_t value = 0;
  for (unsigned i = 0; i < static_cast<unsigned>(w); i++) {
    value |= std::uint32_t{byte_at(address + i)} << (8 * i);
  }
  return value;
}

void SpiBiosWindow::mem_write(std::uint32_t, Width, std::uint32_t) { ignored_writes_++; }

}  // namespace sim
