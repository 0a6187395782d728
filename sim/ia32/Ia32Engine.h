// The IA32 engine: runs the shipped PE32 image of the module, instruction by instruction, on the
// simulated platform. Port instructions and decoded memory reach the platform's buses; PEI calls
// reach the simulated PEI environment; a run ends with the same outcomes as a host run.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/Outcome.h"
#include "sim/Platform.h"
#include "sim/ia32/DeviceRows.h"
#include "sim/ia32/Pe32Loader.h"
#include "sim/pei/PeiCore.h"

namespace sim::ia32 {

class Ia32Engine {
 public:
  // Where the image is loaded unless the caller picks another base: low RAM that the host keeps
  // free and that no PEI allocation can take.
  static constexpr std::uint32_t kDefaultBase = 0x10000000;

  // Checks that the image can be placed at `base` (relocations applied); throws ImageError.
  Ia32Engine(const Pe32Image& image, std::uint32_t base = kDefaultBase);
  ~Ia32Engine();

  // Loads the image afresh (module state zero, as after a load by the PEI core) and runs its entry
  // point, RecoveryEntry(NULL, PeiServices), on `platform` with `pei` as the PEI core.
  Outcome run(Platform& platform, PeiCore& pei);

  std::uint32_t base() const { return base_; }
  // Instructions of the image that are `pause`, found by scanning its code (no symbols needed).
  const std::vector<std::uint32_t>& pause_sites() const { return pauses_; }
  // The part ("vendor", "name") whose Probe last returned success in the last run, if any.
  const std::optional<std::pair<std::string, std::string>>& detected() const { return detected_; }

 private:
  std::vector<std::uint8_t> placed_;
  std::uint32_t base_;
  std::uint32_t entry_;
  std::vector<std::uint32_t> pauses_;
  std::vector<DeviceRow> rows_;
  std::vector<std::uint32_t> probes_;  // distinct Probe entries of the rows
  std::optional<std::pair<std::string, std::string>> detected_;
};

}  // namespace sim::ia32
