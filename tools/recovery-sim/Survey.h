// Runs the rehearsal over every part of both tables and prints what an engineer choosing a part
// needs: whether a recovery completes and verifies under each sequencing/decode and protection
// state (and why not), and how long it takes on hardware against the part's own busy time.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tools/recovery-sim/Options.h"

namespace rsim {

// One row of the tables: a part under one sequencing (SPI: no descriptor, or a valid one) or one
// decode (LPC), with the options that rehearse it.
struct SurveyRow {
  std::string part, bus, mode;
  Options options;
};
// Every part in table order, each followed by its named variants; LPC parts under both decodes, or
// only the default aliased decode. `engine` chooses the engine (and image) every row runs on.
std::vector<SurveyRow> survey_rows(bool every_decode, const Options& engine = {});

// The rows are rehearsed in worker processes on every core and printed in table order.
// Markdown table: part, mode, outcome from power-on protection, outcome with protection cleared.
void print_compatibility_matrix(std::ostream& out, const Options& engine = {});

// Markdown table: part, mode, estimated recovery time, the part's erase+program busy time, ratio.
void print_duration_estimates(std::ostream& out, const Options& engine = {});

}  // namespace rsim
