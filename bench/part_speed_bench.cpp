// Simulator speed on every row of the duration table (`recovery-sim --estimate-all`): each part
// under each sequencing (SPI) or the default decode (LPC), protection cleared. Reports simulated
// seconds per host CPU second (speedup) and host nanoseconds per hardware access. The CPU time
// covers the whole rehearsal; its setup and flash comparison are about 1% of it.
#include <benchmark/benchmark.h>

#include <string>

#include "tools/recovery-sim/Rehearsal.h"
#include "tools/recovery-sim/Survey.h"

namespace {

void rehearsal(benchmark::State& state, rsim::Options options) {
  options.initial_protection = "cleared";
  options.quiet = true;
  double simulated = 0, accesses = 0;
  for (auto _ : state) {
    rsim::Report r = rsim::rehearse(options).report;
    simulated += static_cast<double>(r.simulated_ns) / 1e9;
    accesses += static_cast<double>(r.accesses);
  }
  state.counters["accesses"] = benchmark::Counter(accesses, benchmark::Counter::kAvgIterations);
  state.counters["simulated_s"] = benchmark::Counter(simulated, benchmark::Counter::kAvgIterations);
  state.counters["speedup"] = benchmark::Counter(simulated, benchmark::Counter::kIsRate);
  state.counters["ns_per_access"] =
      benchmark::Counter(accesses / 1e9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// One benchmark per row, named "Part/<part>/<mode>".
const bool registered = [] {
  for (const rsim::SurveyRow& row : rsim::survey_rows(false)) {
    std::string name = "Part/" + row.part + "/" + row.mode;
    benchmark::RegisterBenchmark(name.c_str(), rehearsal, row.options)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
  }
  return true;
}();

}  // namespace
