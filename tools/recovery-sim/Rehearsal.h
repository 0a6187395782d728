// One rehearsal: a simulated platform configured from the options, the module's RecoveryEntry run
// on it, and everything the platform saw.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "sim/Platform.h"
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
// message fit to show the user as one line. `observer`, when given, sees every hardware access of
// the run (a rehearsal takes it or options.trace, not both).
RehearsalResult rehearse(const Options& options, const ProgressFn& progress = {},
                         sim::TraceSink* observer = nullptr);

}  // namespace rsim
