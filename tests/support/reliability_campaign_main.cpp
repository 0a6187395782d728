// The long power-cut campaign: many cut points per platform, drawn from a seed that is printed so
// that a failure can be replayed. The reference recoveries, then all the trials, run in worker
// processes on every core; the report comes out in platform and cut-point order whatever the
// number of cores. Usage:
//   power_cut_campaign [--seed N] [--points M] [--platform NAME] [--pm-timer-read NS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

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
  std::vector<CampaignPlatform> platforms;
  for (auto& platform : campaign_platforms(pm_timer_read)) {
    if (only.empty() || platform.name == only) platforms.push_back(std::move(platform));
  }
  if (platforms.empty()) {
    std::fprintf(stderr, "no platform named '%s'\n", only.c_str());
    return 2;
  }

  // Every platform's reference recovery at once, each worker handing back the run's length and its
  // cut points, one "access kind" pair per line.
  struct Plan {
    std::uint64_t total = 0;
    std::vector<CutPoint> cuts;
  };
  std::vector<Plan> plans(platforms.size());
  rsim::run_in_workers(
      platforms.size(),
      [&](std::size_t i) {
        Timeline t = reference_timeline(platforms[i].config);
        std::string out = std::to_string(t.total) + "\n";
        for (const CutPoint& p : choose_cut_points(t, points * 2 / 3, points - points * 2 / 3, seed)) {
          out += std::to_string(p.access) + " " + std::to_string(static_cast<int>(p.kind)) + "\n";
        }
        return out;
      },
      [&](std::size_t i, const std::string& out) {
        std::istringstream in(out);
        in >> plans[i].total;
        std::uint64_t access = 0;
        int kind = 0;
        while (in >> access >> kind) plans[i].cuts.push_back({access, static_cast<CutKind>(kind)});
      });

  // Then every trial of every platform in one pool, reported in platform and cut-point order.
  std::vector<std::pair<std::size_t, std::size_t>> trials;  // platform, cut
  for (std::size_t i = 0; i < plans.size(); i++) {
    for (std::size_t c = 0; c < plans[i].cuts.size(); c++) trials.emplace_back(i, c);
  }
  int failures = 0;
  std::size_t passed = 0;
  // A worker hands back nothing for a trial that passed, and the failure line otherwise.
  auto trial = [&](std::size_t n) {
    const CampaignPlatform& platform = platforms[trials[n].first];
    const CutPoint& p = plans[trials[n].first].cuts[trials[n].second];
    TrialResult r = run_trial(platform.config, p.access);
    if (r.ok()) return std::string();
    return "FAIL " + platform.name + ": power lost after access " + std::to_string(p.access) + " (" +
           cut_kind_name(p.kind) + "): " + r.describe() + "\n";
  };
  auto summary = [&](std::size_t i) {
    std::printf("%-26s %zu cut points over %llu accesses, %zu passed\n", platforms[i].name.c_str(),
                plans[i].cuts.size(), static_cast<unsigned long long>(plans[i].total), passed);
    passed = 0;
  };
  // Platforms without a cut point (none asked for) still get their line.
  std::size_t reported = 0;
  auto report_until = [&](std::size_t platform) {
    for (; reported < platform; reported++) summary(reported);
  };
  rsim::run_in_workers(trials.size(), trial, [&](std::size_t n, const std::string& failure) {
    report_until(trials[n].first);
    if (failure.empty()) {
      passed++;
    } else {
      failures++;
      std::fputs(failure.c_str(), stdout);
      std::fflush(stdout);
    }
  });
  report_until(platforms.size());
  return failures == 0 ? 0 : 1;
}
