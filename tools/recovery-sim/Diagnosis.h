// Why a rehearsal did not end with the flash it should hold, in hardware terms, worked out from
// what the simulated parts refused and counted, the module's row for the part and the part itself.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "tools/recovery-sim/Options.h"
#include "tools/recovery-sim/PartCatalog.h"
#include "tools/recovery-sim/Report.h"

namespace rsim {

// One line naming the cause of a failed run ("not detected: ...", "erases 64 KiB per command:
// ..."); empty when the run succeeded, or when a fault or a refused capsule already explains it.
std::string failure_cause(const Report& r, const Options& o, const PartEntry& part);

// For a successful run that still counted refusals: one line saying what they were and that they
// did not matter (the flash verified).
std::string harmless_refusals(const std::map<std::string, std::uint64_t>& refused);

// Whether the summary shows the trace of a moment of the run: a failure (other than a power cut or
// a refused capsule), or a successful run's refusal of a kind harmless_refusals cannot explain.
bool points_to_trace(const Report& r);

}  // namespace rsim
