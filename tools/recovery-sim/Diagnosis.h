// Why a rehearsal did not end with the flash it should hold, in hardware terms, worked out from
// what the simulated parts refused and counted, the module's row for the part and the part itself.
#pragma once

#include <string>

#include "tools/recovery-sim/Options.h"
#include "tools/recovery-sim/PartCatalog.h"
#include "tools/recovery-sim/Report.h"

namespace rsim {

// One line naming the cause of a failed run ("not detected: ...", "erases 64 KiB per command:
// ..."); empty when the run succeeded, or when a fault or a refused capsule already explains it.
std::string failure_cause(const Report& r, const Options& o, const PartEntry& part);

}  // namespace rsim
