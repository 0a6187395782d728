// Runs the rehearsal over every part of both tables and prints what an engineer choosing a part
// needs: whether a recovery completes and verifies under each sequencing/decode and protection
// state (and why not), and how long it takes on hardware against the part's own busy time.
#pragma once

#include <ostream>

#include "tools/recovery-sim/Options.h"

namespace rsim {

// Markdown table: part, mode, outcome from power-on protection, outcome with protection cleared.
void print_compatibility_matrix(std::ostream& out, const Options& engine = {});

// Markdown table: part, mode, estimated recovery time, the part's erase+program busy time, ratio.
void print_duration_estimates(std::ostream& out, const Options& engine = {});

}  // namespace rsim
