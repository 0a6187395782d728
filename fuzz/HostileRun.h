// One run of RecoveryEntry on a hostile platform described by a fuzz input, and the properties
// that must hold after it: the flash is stored to only inside the writable window, nothing is
// erased or programmed before a part was identified, write enable is off when the module returns,
// the run ends, and the PEI core is used as provided.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "sim/Machine.h"
#include "sim/Outcome.h"
#include "sim/pei/PeiCore.h"

namespace fuzzing {

// Runs the module's entry point on `machine` with `pei` as its PEI core: the host build linked in
// (run_host_build), or an engine running the shipped image.
using ModuleRunner = std::function<sim::Outcome(sim::Machine& machine, sim::PeiCore& pei)>;
sim::Outcome run_host_build(sim::Machine& machine, sim::PeiCore& pei);

struct HostileRunResult {
  sim::Outcome outcome;
  std::string platform;                 // "SPI 25X16, descriptor" style, for reports
  std::vector<std::string> violations;  // every property that failed, one line each
  std::vector<std::string> pei_calls;   // the PEI services and PPI operations called, in order
};

// Decodes `input` (any bytes are a valid description) and runs the module on it with `runner`. A
// short run's budget covers probing, detection and the first chunks of the update, so that the
// fuzzer runs many inputs a second; `whole_runs` gives it the budget of a whole recovery on any part.
HostileRunResult run_hostile(std::span<const std::uint8_t> input, bool whole_runs = false,
                             const ModuleRunner& runner = run_host_build);

}  // namespace fuzzing
