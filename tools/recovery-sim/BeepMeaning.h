// What a beep pattern of the module says, from the module's own beep table.
#pragma once

#include <string>

#include "tools/recovery-sim/Report.h"

namespace rsim {

// "capsule refused", "flash write failed", ...; empty for a pattern the module does not use.
// `next` is the beep that followed (null for the last): the module gives a 64 KiB block's pattern
// to a failed capsule load, and completion's to a missing flash part, each then followed by two
// short beeps.
std::string beep_meaning(const Beep& beep, const Beep* next);

}  // namespace rsim
