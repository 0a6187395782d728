// For a part that does not complete on the platform as configured: the platform settings (sequencing,
// protection at power-on, decode) with which it does, found by rehearsing them.
#pragma once

#include <optional>
#include <string>

#include "tools/recovery-sim/Options.h"

namespace rsim {

// The options, as the user would type them, of the first setting that changes only the sequencing,
// protection or decode of `failed` and makes the recovery complete and verify; nothing if none does.
std::optional<std::string> settings_that_work(const Options& failed);

}  // namespace rsim
