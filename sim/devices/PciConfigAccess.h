// The two ways to reach PCI configuration space: mechanism #1 (CONFIG_ADDRESS at 0xCF8, CONFIG_DATA
// at 0xCFC-0xCFF) and the memory-mapped configuration window (4 KiB per function). Functions that
// are not present read all ones and ignore writes.
#pragma once

#include <cstdint>
#include <map>

#include "sim/Bus.h"
#include "sim/devices/PciFunction.h"

namespace sim {

class Platform;

class PciConfigAccess : public IoHandler, public MemHandler {
 public:
  static constexpr std::uint32_t kWindowBase = 0xE0000000;
  static constexpr std::uint64_t kWindowSize = 0x10000000;  // 256 buses

  // Maps ports 0xCF8-0xCFF and the window on `platform`.
  void attach(Platform& platform, Nanos io_cost, Nanos mem_cost);
  void add_function(std::uint8_t bus, std::uint8_t device, std::uint8_t function, PciFunction* f);

  std::uint32_t io_read(std::uint16_t port, Width w) override;
  void io_write(std::uint16_t port, Width w, std::uint32_t value) override;
  std::uint32_t mem_read(std::uint32_t address, Width w) override;
  void mem_write(std::uint32_t address, Width w, std::uint32_t value) override;

  std::uint32_t config_address() const { return config_address_; }
  void power_on() { config_address_ = 0; }

 private:
  PciFunction* find(std::uint32_t bdf) const;
  PciFunction* selected(std::uint16_t port, std::uint16_t* offset) const;

  std::map<std::uint32_t, PciFunction*> functions_;  // key: bus << 8 | device << 3 | function
  std::uint32_t config_address_ = 0;
};

}  // namespace sim
