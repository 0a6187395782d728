// One rehearsal: a simulated platform configured from the options, the module's RecoveryEntry run
// on it, and everything the platform saw.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "tools/recovery-sim/Options.h"
#include "tools/recovery-sim/Report.h"

namespace rsim {

struct RehearsalResult {
  Report report;
  std::vector<std::uint8_t> final_flash;
};

// Called after each chunk counter reaches port 0x80: chunks started so far and the chunk's address.
using ProgressFn = std::function<void(std::uint32_t chunks, std::uint32_t address)>;

// Throws std::invalid_argument for bad options (unknown part, unreadable file, ...), with a
// message fit to show the user as one line.
RehearsalResult rehearse(const Options& options, const ProgressFn& progress = {});

class Engine;
// The same on an engine the caller keeps for several runs (a recovery after a power cut, a survey
// worker): the options' engine choice is not looked at, and each run starts from a freshly loaded
// module, whatever ran on `engine` before.
RehearsalResult rehearse(const Options& options, Engine& engine, const ProgressFn& progress = {});

}  // namespace rsim
