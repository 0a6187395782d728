// Every committed input of the module fuzzer replays on the shipped IA32 image as on the host
// build: the hostile platform and PEI core, decoded by the fuzzer's own code, give the same
// outcome and the same accesses one for one (index, simulated time, port or address, value), and
// neither engine breaks a property.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "fuzz/HostileRun.h"
#include "sim/ia32/Ia32Engine.h"
#include "sim/ia32/ImageFile.h"
#include "tests/support/engines_comparison.h"

namespace {

using testing_support::built_image;
using testing_support::TraceDigest;

std::vector<std::string> corpus() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(FUZZ_MODULE_CORPUS)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

sim::ia32::Ia32Engine& image_engine() {
  static std::unique_ptr<sim::ia32::Ia32Engine> engine = std::make_unique<sim::ia32::Ia32Engine>(
      sim::ia32::Pe32Image(sim::ia32::read_image_file(built_image()).pe32));
  return *engine;
}

struct Replay {
  fuzzing::HostileRunResult result;
  TraceDigest digest;
};

Replay replay(const std::vector<std::uint8_t>& input, bool on_image, std::uint64_t keep_from = 0,
              std::uint64_t keep_to = 0) {
  Replay r{{}, TraceDigest(keep_from, keep_to)};
  r.result = fuzzing::run_hostile(input, false, [&](sim::Machine& machine, sim::PeiCore& pei) {
    machine.platform().set_trace(&r.digest);
    return on_image ? image_engine().run(machine.platform(), pei) : fuzzing::run_host_build(machine, pei);
  });
  return r;
}

std::string ending(const fuzzing::HostileRunResult& r) {
  std::string s = r.outcome.to_string();
  if (!r.outcome.why.empty())
    s += " (" + r.outcome.why + " after " + std::to_string(r.outcome.declared_after) + " ns)";
  for (const std::string& c : r.pei_calls) s += "\n  " + c;
  for (const std::string& v : r.violations) s += "\n  property broken: " + v;
  return s;
}

// One test for the whole corpus: a process per input would cost more than the replays.
TEST(HostileReplay, EveryModuleInputEndsAsOnTheHostBuild) {
  ASSERT_EQ(access(built_image().c_str(), R_OK), 0)
      << "no IA32 image at " << built_image() << ": cmake --preset ia32 && cmake --build --preset ia32";
  const std::vector<std::string> names = corpus();
  ASSERT_FALSE(names.empty()) << "no inputs in " << FUZZ_MODULE_CORPUS;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    std::ifstream in(std::string(FUZZ_MODULE_CORPUS) + "/" + name, std::ios::binary);
    const std::vector<std::uint8_t> input(std::istreambuf_iterator<char>(in), {});
    const Replay host = replay(input, false), image = replay(input, true);
    EXPECT_TRUE(host.result.violations.empty()) << ending(host.result);
    EXPECT_EQ(ending(image.result), ending(host.result)) << "on " << host.result.platform;
    EXPECT_EQ(testing_support::trace_differences(host.digest, image.digest, "host", "ia32",
                                                 [&](bool second, std::uint64_t from, std::uint64_t to) {
                                                   return replay(input, second, from, to).digest;
                                                 }),
              "");
  }
}

}  // namespace
