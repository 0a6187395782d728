// What one cut of the power-cut survey costs against one whole recovery on the host engine. The
// survey runs the recovery once and forks at every cut, so a cut should cost about the recovery
// that follows it. A 4 MiB part keeps its flash descriptor below the rewritten window, so every
// recovery after a cut is the same kind of run as the reference. Counter `cut_vs_recovery`: host
// CPU time of the survey per cut (its processes' user and system time, one worker) divided by that
// of one recovery.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include "tools/recovery-sim/PowerCutSurvey.h"
#include "tools/recovery-sim/Rehearsal.h"

namespace {

// User and system time of this process and of its waited-for children, in seconds.
double cpu_seconds() {
  double total = 0;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage u{};
    getrusage(who, &u);
    total += static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
             static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  }
  return total;
}

void PowerCutSurveyPerCut(benchmark::State& state) {
  rsim::Options o;
  o.part = "Winbond 25Q32";
  o.quiet = true;
  double recovery = 0, per_cut = 0;
  for (auto _ : state) {
    double t0 = cpu_seconds();
    benchmark::DoNotOptimize(rsim::rehearse(o));
    double t1 = cpu_seconds();
    rsim::CutSurveySettings s;
    s.spread = 0;
    s.workers = 1;
    nlohmann::json survey = rsim::power_cut_survey(o, s);
    double t2 = cpu_seconds();
    recovery = t1 - t0;
    // The survey's own reference recovery and forking run are part of what each cut costs.
    per_cut = (t2 - t1) / survey["summary"]["cuts"].get<double>();
  }
  state.counters["recovery_s"] = recovery;
  state.counters["cut_s"] = per_cut;
  state.counters["cut_vs_recovery"] = per_cut / recovery;
}
BENCHMARK(PowerCutSurveyPerCut)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
