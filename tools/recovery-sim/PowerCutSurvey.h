// Cutting power at many points of one recovery and running the recovery again after each: when
// each cut fell, what was in flight, whether the boot block survived and whether the next run
// verified. The recovery runs once; at each cut point the process forks, and the copy of the
// machine loses power there and recovers. The cut points are fixed before the run, so a shard K/N
// takes every N-th of them and the shards of one survey merge into the unsharded result.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/recovery-sim/Options.h"
#include "tools/recovery-sim/Survey.h"

namespace rsim {

struct CutSurveySettings {
  std::size_t spread = 64;   // cuts spread evenly over the recovery's time
  bool block_points = true;  // ...beside those at the start, middle and end of each block's work
  unsigned shard = 1, shards = 1;
  unsigned workers = 0;  // 0: one per core
};

// Parses "K/N" (1 <= K <= N). Throws std::invalid_argument.
std::pair<unsigned, unsigned> parse_shard(const std::string& text);

// The survey of the configuration `options` describe (no power cut of its own), as JSON.
nlohmann::json power_cut_survey(const Options& options, const CutSurveySettings& settings,
                                const SurveyProgress& progress = {});
// A survey's JSON report as --merge reads it. Throws std::invalid_argument.
nlohmann::json read_survey_report(const std::string& path);
// Joins the shards of one survey; throws std::invalid_argument naming the first difference between
// their settings, or a shard missing or given twice.
nlohmann::json merge_power_cut_surveys(const std::vector<nlohmann::json>& shards);
// The table and the summary line.
void print_power_cut_survey(std::ostream& out, const nlohmann::json& survey);
// What became of one cut of a survey: "recovered" (the next run verified), "bricked" (it fell inside
// the brick window: the board cannot start) or "failed" (the next run did not verify, or the cut
// was never reached).
std::string cut_outcome(const nlohmann::json& cut);
// True when every cut outside the brick window recovered on the next run.
bool power_cut_survey_passed(const nlohmann::json& survey);

// Markdown table, a line per row of the survey tables (every part and variant in every sequencing
// mode, LPC parts in their default decode): the brick window of the default recovery and a survey of
// `settings.spread` cuts spread over it, each followed by a recovery.
void print_power_cut_table(std::ostream& out, const Options& engine, const CutSurveySettings& settings,
                           const SurveyProgress& progress = {});

}  // namespace rsim
