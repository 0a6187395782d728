// The long power-cut campaign: many cut points per platform, drawn from a seed that is printed so
// that a failure can be replayed. The trials run in worker processes on every core; the report
// comes out in cut-point order whatever the number of cores. Usage:
//   power_cut_campaign [--seed N] [--points M] [--platform NAME] [--pm-timer-read NS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/reliability_campaign.h"
#include "tools/recovery-sim/WorkerProcesses.h"

int main(int argc, char** argv) {
  using namespace testing_support;
  std::uint64_t seed =
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  std::size_t points = 400;
  std::string only;
  sim::Nanos pm_timer_read = 0;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    bool has_value = i + 1 < argc;
    if (a == "--seed" && has_value) {
      seed = std::strtoull(argv[++i], nullptr, 0);
    } else if (a == "--points" && has_value) {
      points = std::strtoull(argv[++i], nullptr, 0);
    } else if (a == "--pm-timer-read" && has_value) {
      pm_timer_read = std::strtoull(argv[++i], nullptr, 0);
    } else if (a == "--platform" && has_value) {
      only = argv[++i];
    } else {
      std::fprintf(
          stderr,
          "usage: %s [--seed N] [--points M] [--platform NAME] [--pm-timer-read NS]\nplatforms:", argv[0]);
      for (const auto& p : campaign_platforms()) std::fprintf(stderr, " %s", p.name.c_str());
      std::fprintf(stderr, "\n");
      return 2;
    }
  }
  std::printf("seed %llu, %zu cut points per platform\n", static_cast<unsigned long long>(seed), points);
  int failures = 0;
  bool any = false;
  for (const auto& platform : campaign_platforms(pm_timer_read)) {
    if (!only.empty() && platform.name != only) continue;
    any = true;
    Timeline t = reference_timeline(platform.config);
    auto cuts = choose_cut_points(t, points * 2 / 3, points - points * 2 / 3, seed);
    std::size_t passed = 0;
    // A worker hands back nothing for a trial that passed, and the failure line otherwise.
    auto trial = [&](std::size_t i) {
      const CutPoint& p = cuts[i];
      TrialResult r = run_trial(platform.config, p.access);
      if (r.ok()) return std::string();
      return "FAIL " + platform.name + ": power lost after access " + std::to_string(p.access) + " (" +
             cut_kind_name(p.kind) + "): " + r.describe() + "\n";
    };
    rsim::run_in_workers(cuts.size(), trial, [&](std::size_t, const std::string& failure) {
      if (failure.empty()) {
        passed++;
      } else {
        failures++;
        std::fputs(failure.c_str(), stdout);
        std::fflush(stdout);
      }
    });
    std::printf("%-26s %zu cut points over %llu accesses, %zu passed\n", platform.name.c_str(), cuts.size(),
                static_cast<unsigned long long>(t.total), passed);
  }
  if (!any) {
    std::fprintf(stderr, "no platform named '%s'\n", only.c_str());
    return 2;
  }
  return failures == 0 ? 0 : 1;
}
