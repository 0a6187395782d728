// A PCI function's configuration space as the configuration mechanisms see it.
#pragma once

#include <cstdint>

#include "sim/Bus.h"

namespace sim {

class PciFunction {
 public:
  virtual ~PciFunction() = default;
  // `offset` is the first configuration byte of the access (0..255 or 0..4095).
  virtual std::uint32_t config_read(std::uint16_t offset, Width w) = 0;
  virtual void config_write(std::uint16_t offset, Width w, std::uint32_t value) = 0;
};

}  // namespace sim
