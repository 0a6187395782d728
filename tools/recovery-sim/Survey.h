// Runs the rehearsal over every part of both tables and prints what an engineer choosing a part
// needs: whether a recovery completes and verifies under each sequencing/decode and protection
// state (and why not), and how long it takes on hardware against the part's own busy time.
#pragma once

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

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

// Called as the survey goes: rows finished, rows in all, the next row to finish.
using SurveyProgress = std::function<void(std::size_t done, std::size_t total, const std::string& what)>;

// The rows are rehearsed in worker processes on every core, in table order.
// Every part in every mode, from power-on protection and with protection cleared, on the engine
// `engine` names, as JSON: an array of {part, bus, mode, power_on, cleared}, each state {verdict,
// outcome, status, verified, mismatches, refused, simulated_us (the recovery's time on hardware, or
// the attempt's), part_busy_us (the part's own erase and program busy time)}.
nlohmann::json compatibility_matrix(const Options& engine = {}, const SurveyProgress& progress = {});

// The matrix as a Markdown table: part, mode, outcome from power-on protection, outcome with
// protection cleared.
void print_compatibility_matrix(std::ostream& out, const nlohmann::json& matrix);
// What the matrix's rows do not say: a note per part that has one, and how each named variant
// differs from its part ("Mxic 25L3205A, variant 25L3205D: ...").
std::vector<std::string> part_notes();

// Every row of survey_rows(false) with protection cleared, as JSON: an array of states as in the
// matrix, each with its part, bus and mode.
nlohmann::json duration_estimates(const Options& engine = {}, const SurveyProgress& progress = {});
// Markdown table: part, mode, estimated recovery time, the part's erase+program busy time, ratio.
void print_duration_estimates(std::ostream& out, const nlohmann::json& estimates);

}  // namespace rsim
