// Fuzzes RecoveryEntry on a hostile platform and PEI core: any input whose run breaks a property
// (fuzz/HostileRun.h) is reported as a crash with the properties it broke. Environment:
// FUZZ_VERBOSE prints every run's platform and ending (to look at a corpus); FUZZ_WHOLE_RUNS gives
// every run a whole recovery's budget (slow: seconds per input).
#include <cstdio>
#include <cstdlib>

#include "fuzz/HostileRun.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool verbose = std::getenv("FUZZ_VERBOSE") != nullptr;
  static const bool whole_runs = std::getenv("FUZZ_WHOLE_RUNS") != nullptr;
  const fuzzing::HostileRunResult r = fuzzing::run_hostile({data, size}, whole_runs);
  if (verbose) std::fprintf(stderr, "%s: %s\n", r.platform.c_str(), r.outcome.to_string().c_str());
  if (!r.violations.empty()) {
    std::fprintf(stderr, "property broken on %s, run ended %s:\n", r.platform.c_str(),
                 r.outcome.to_string().c_str());
    for (const std::string& v : r.violations) std::fprintf(stderr, "  %s\n", v.c_str());
    std::abort();
  }
  return 0;
}
