// One rehearsal as a self-contained HTML page (--html): the settings and the verdict, the flash
// map, the timeline, the beeps to play, the EC dialogue, the chipset registers and the counters.
#pragma once

#include <string>

#include "tools/recovery-sim/Options.h"
#include "tools/recovery-sim/Report.h"

namespace rsim {

// `status` is the exit status the run ends with.
std::string rehearsal_page(const Options& o, const Report& r, int status);

}  // namespace rsim
