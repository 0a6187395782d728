// For a part that does not complete on the platform as configured: the platform settings (sequencing,
// protection at power-on, decode) with which it does, found by rehearsing every one of them, what
// each means on a board, and, when none works, the related parts (variants) that would.
#pragma once

#include <optional>
#include <string>

#include "tools/recovery-sim/Options.h"

namespace rsim {

struct Remedy {
  // The options, as the user would type them, of the working setting with the fewest changes.
  std::optional<std::string> works_with;
  // The summary's hint: the setting and what the board must do for it, or that no setting works.
  std::string hint;
};

// Rehearses every other combination of sequencing (SPI; a plain one-component descriptor only) or
// decode (LPC) and protection at power-on, going back to a default as readily as away from it.
// `failed_cause` is the failed run's cause line: an alternative failing for another reason says so.
Remedy find_remedy(const Options& failed, const std::string& failed_cause);

}  // namespace rsim
