// Power-cut campaigns: the platforms they cover, the timeline of a reference recovery (where the
// embedded-controller dialogue, detection, each chunk, each erase and program happen), cut points
// sampled from it, and one cut-then-recover trial.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/reliability_rig.h"

namespace testing_support {

struct CampaignPlatform {
  std::string name;
  ReliabilityConfig config;
};

// Software and hardware sequencing, status-register-protected parts from power-on, the
// per-block-protected part and a JEDEC LPC part. `pm_timer_read`: see ReliabilityConfig.
std::vector<CampaignPlatform> campaign_platforms(sim::Nanos pm_timer_read = 0);
// Throws std::invalid_argument for an unknown name.
CampaignPlatform campaign_platform(const std::string& name, sim::Nanos pm_timer_read = 0);

// Access numbers (1-based, within the run) of the landmarks of a complete recovery.
struct Timeline {
  std::uint64_t total = 0;                  // accesses up to the final spin
  std::vector<std::uint64_t> ec;            // every embedded-controller port access
  std::vector<std::uint64_t> chunk_starts;  // the chunk counter written to port 80h
  std::vector<std::uint64_t> erases;        // an erase changed the array right at this access
  std::vector<std::uint64_t> programs;      // likewise a program
};

// Runs a complete recovery on a fresh rig and records its timeline. Throws std::runtime_error
// when the reference recovery itself does not complete with the expected flash.
Timeline reference_timeline(const ReliabilityConfig& config);

enum class CutKind {
  Sampled,
  EcHandshake,
  Detection,
  BetweenChunks,
  MidErase,
  MidProgram,
  BeforeFinalCommand
};
const char* cut_kind_name(CutKind k);

struct CutPoint {
  std::uint64_t access;
  CutKind kind;
};

// `sampled` points spread over the whole run (one random point per equal slice) plus `targeted`
// points drawn from the landmarks, all distinct and sorted. Deterministic for a seed.
std::vector<CutPoint> choose_cut_points(const Timeline& t, std::size_t sampled, std::size_t targeted,
                                        std::uint64_t seed);

struct TrialResult {
  bool cut = false;             // the first run really ended in the power cut
  sim::Outcome second;          // the recovery after power-on
  std::size_t first_wrong = 0;  // first wrong byte after the second run (SIZE_MAX: none)
  std::size_t unentitled = 0;   // changes outside the chunk being worked on, over both runs
  bool write_enable_left = false;
  bool ok() const {
    return cut && second.kind == sim::OutcomeKind::FinalSpin && first_wrong == SIZE_MAX && unentitled == 0 &&
           !write_enable_left;
  }
  std::string describe() const;
};

// Cuts power after access `cut` of a recovery, powers on and recovers again.
TrialResult run_trial(const ReliabilityConfig& config, std::uint64_t cut);

}  // namespace testing_support
