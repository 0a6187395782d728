// The flash side of a rehearsal platform (SPI controller with its parts, or an LPC part): installs
// the simulated hardware on the machine and answers what the report needs from it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/Machine.h"
#include "tools/recovery-sim/Options.h"
#include "tools/recovery-sim/PartCatalog.h"
#include "tools/recovery-sim/TraceDevices.h"

namespace rsim {

// One change of a flash array, in the layout of --flash-in/--flash-out.
struct FlashChange {
  // StatusWrite: a non-volatile status write starts; StatusInterrupted: the power loss cut it
  // (both with offset and length 0). The order is the parts' own.
  enum class Kind { Erase, Program, Interrupted, StatusInterrupted, StatusWrite };
  Kind kind = Kind::Erase;
  sim::Nanos time = 0;
  sim::Nanos done = 0;  // Erase, Program: when the part finishes
  std::uint64_t offset = 0;
  std::uint32_t length = 0;
  std::uint32_t torn = 0;  // Interrupted: bytes left neither old nor new
  std::size_t chip = 0;    // SPI component
};

class FlashRig {
 public:
  virtual ~FlashRig() = default;
  // Receives every change of every part's array as the part makes it (one listener).
  virtual void on_change(std::function<void(const FlashChange&)> listener) = 0;
  // One byte of the layout, read without a bus cycle.
  virtual std::uint8_t byte(std::uint64_t offset) const = 0;
  // The offset of the layout that memory address `address` reaches (the top of the flash sits just
  // below 4 GiB; a smaller LPC part may be aliased below its own range).
  std::uint64_t offset_of(std::uint32_t address) const {
    std::uint64_t below_top = 0x100000000ull - address;
    return (size() - below_top % size()) % size();
  }
  // The whole flash in the layout of --flash-in/--flash-out.
  virtual std::uint64_t size() const = 0;
  virtual std::vector<std::uint8_t> contents() const = 0;
  // Loads the initial contents and returns them as loaded (what contents() now returns). With
  // `write_descriptor` an SPI rig replaces the first 4 KiB with the configured descriptor (or,
  // configured without one, with erased bytes); otherwise the contents' own descriptor holds.
  virtual std::vector<std::uint8_t> load(std::vector<std::uint8_t> bytes, bool write_descriptor) = 0;
  // The expected contents after a complete recovery from `before` (worked out in place).
  virtual std::vector<std::uint8_t> expected(std::vector<std::uint8_t> before,
                                             const std::uint8_t* capsule) const = 0;
  // "linear 0x1F3000 (memory 0xFFFF3000)" for an offset of the layout.
  virtual std::string where(std::uint64_t offset) const = 0;
  virtual std::map<std::string, std::uint64_t> refusals() const = 0;
  virtual std::map<std::string, std::uint64_t> work() const = 0;
  virtual std::map<std::string, std::string> chipset_registers() const = 0;
  // Adds the rig's own devices to the names a trace prints ("spi", "flash").
  virtual void name_devices(TraceDevices& devices) const = 0;
};

// Builds the SPI or LPC rig for `part` on `machine`. Throws std::invalid_argument for settings the
// platform cannot have (for example two components on an LPC part).
std::unique_ptr<FlashRig> make_spi_rig(sim::Machine& machine, const PartEntry& part, const Options& options);
std::unique_ptr<FlashRig> make_lpc_rig(sim::Machine& machine, const PartEntry& part, const Options& options);

}  // namespace rsim
