// Why a rehearsal that reached the final spin left a flash other than the expected one, worked out
// from what the simulated parts refused and the work they counted.
#pragma once

#include <string>

#include "tools/recovery-sim/Report.h"

namespace rsim {

// One or more lines for the human summary; empty when the flash is as expected.
std::string explain_wrong_flash(const Report& r);

}  // namespace rsim
