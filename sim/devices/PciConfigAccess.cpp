// PCI configuration mechanism #1 and the memory-mapped configuration window.
#include "sim/devices/PciConfigAccess.h"

#include "sim/Platform.h"

namespace sim {

void PciConfigAccess::attach(Platform& platform, Nanos io_cost, Nanos mem_cost) {
  platform.map_io(0xCF8, 8, this, io_cost);
  platform.map_mem(kWindowBase, kWindowSize, this, mem_cost);
}

void PciConfigAccess::add_function(std::uint8_t bus, std::uint8_t device, std::uint8_t function,
                                   PciFunction* f) {
  functions_[std::uint32_t{bus} << 8 | std::uint32_t{device} << 3 | function] = f;
}

PciFunction* PciConfigAccess::find(std::uint32_t bdf) const {
  auto it = functions_.find(bdf);
  return it == functions_.end() ? nullptr : it->second;
}

PciFunction* PciConfigAccess::selected(std::uint16_t port, std::uint16_t* offset) const {
  if ((config_address_ & 0x80000000u) == 0) {
    return nullptr;
  }
  *offset = static_cast<std::uint16_t>((config_address_ & 0xFC) + (port - 0xCFC));
  return find((config_address_ >> 8) & 0xFFFF);
}

std::uint32_t PciConfigAccess::io_read(std::uint16_t port, Width w) {
  if (port < 0xCFC) {
    // Only a 32-bit access at 0xCF8 is CONFIG_ADDRESS; narrower ones are ordinary (unclaimed) I/O.
    return port == 0xCF8 && w == Width::Dword ? config_address_ : all_ones(w);
  }
  std::uint16_t offset = 0;
  PciFunction* f = selected(port, &offset);
  return f != nullptr ? f->config_read(offset, w) : all_ones(w);
}

void PciConfigAccess::io_write(std::uint16_t port, Width w, std::uint32_t value) {
  if (port < 0xCFC) {
    if (port == 0xCF8 && w == Width::Dword) {
      config_address_ = value & 0x80FFFFFCu;
    }
    return;
  }
  std::uint16_t offset = 0;
  PciFunction* f = selected(port, &offset);
  if (f != nullptr) {
    f->config_write(offset, w, value);
  }
}

std::uint32_t PciConfigAccess::mem_read(std::uint32_t address, Width w) {
  std::uint32_t rel = address - kWindowBase;
  PciFunction* f = find(rel >> 12);
  return f != nullptr ? f->config_read(static_cast<std::uint16_t>(rel & 0xFFF), w) : all_ones(w);
}

void PciConfigAccess::mem_write(std::uint32_t address, Width w, std::uint32_t value) {
  std::uint32_t rel = address - kWindowBase;
  PciFunction* f = find(rel >> 12);
  if (f != nullptr) {
    f->config_write(static_cast<std::uint16_t>(rel & 0xFFF), w, value);
  }
}

}  // namespace sim
