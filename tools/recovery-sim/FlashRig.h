// The flash side of a rehearsal platform (SPI controller with its parts, or an LPC part): installs
// the simulated hardware on the machine and answers what the report needs from it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/Machine.h"
#include "tools/recovery-sim/Options.h"
#include "tools/recovery-sim/PartCatalog.h"

namespace rsim {

class FlashRig {
 public:
  virtual ~FlashRig() = default;
  // The whole flash in the layout of --flash-in/--flash-out.
  virtual std::uint64_t size() const = 0;
  virtual std::vector<std::uint8_t> contents() const = 0;
  // Loads the initial contents and returns them as loaded (what contents() now returns): an SPI
  // rig with a valid descriptor writes it over the first 4 KiB.
  virtual std::vector<std::uint8_t> load(std::vector<std::uint8_t> bytes) = 0;
  // The expected contents after a complete recovery from `before` (worked out in place).
  virtual std::vector<std::uint8_t> expected(std::vector<std::uint8_t> before,
                                             const std::uint8_t* capsule) const = 0;
  // "linear 0x1F3000 (memory 0xFFFF3000)" for an offset of the layout.
  virtual std::string where(std::uint64_t offset) const = 0;
  virtual std::map<std::string, std::uint64_t> refusals() const = 0;
  virtual std::map<std::string, std::uint64_t> work() const = 0;
  virtual std::map<std::string, std::string> chipset_registers() const = 0;
};

// Builds the SPI or LPC rig for `part` on `machine`. Throws std::invalid_argument for settings the
// platform cannot have (for example two components on an LPC part).
std::unique_ptr<FlashRig> make_spi_rig(sim::Machine& machine, const PartEntry& part, const Options& options);
std::unique_ptr<FlashRig> make_lpc_rig(sim::Machine& machine, const PartEntry& part, const Options& options);

}  // namespace rsim
