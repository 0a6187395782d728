// Power cuts on the IA32 engine: the shipped image is cut off at points spread over a whole
// recovery, and a rerun of the image from load, on the flash as the cut left it, must finish the
// recovery with exactly the expected flash.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/engines_comparison.h"

namespace {

using testing_support::rehearse_on;

constexpr int kCutsPerPart = 10;

struct CutPlatform {
  const char* name;
  const char* part;
  const char* protection;
};

void PrintTo(const CutPlatform& p, std::ostream* os) { *os << p.name; }

// Parts of 4 MiB: the descriptor lies below the 2 MiB window, so the flash left by a cut is what
// the platform powers on with.
const CutPlatform kPlatforms[] = {
    {"Winbond25Q32", "Winbond 25Q32", "cleared" },
    {"Atmel26DF321", "Atmel 26DF321", "power-on"},
};

class Ia32PowerCut : public testing::TestWithParam<CutPlatform> {};

TEST_P(Ia32PowerCut, RerunFromLoadRepairsEveryCut) {
  rsim::Options o;
  o.part = GetParam().part;
  o.initial_protection = GetParam().protection;
  // The host build makes the same accesses (the engines tests show it) and counts them faster.
  const std::uint64_t total = rehearse_on(o, "host").result.report.accesses;
  const std::string flash = testing::TempDir() + "engines_cut_" + GetParam().name + ".bin";
  for (int k = 1; k <= kCutsPerPart; k++) {
    // Spread over the run, off the round numbers the recovery's loops fall on.
    const std::uint64_t cut = total * k / (kCutsPerPart + 1) + 7 * k;
    rsim::Options cut_run = o;
    cut_run.faults.push_back(rsim::Fault{rsim::FaultKind::PowerCut, cut});
    rsim::RehearsalResult cut_result = rehearse_on(cut_run, "ia32").result;
    ASSERT_EQ(cut_result.report.outcome.kind, sim::OutcomeKind::PowerCut) << "cut " << cut;
    EXPECT_EQ(cut_result.report.outcome.access, cut);
    std::ofstream(flash, std::ios::binary)
        .write(reinterpret_cast<const char*>(cut_result.final_flash.data()),
               static_cast<std::streamsize>(cut_result.final_flash.size()));
    rsim::Options rerun = o;
    rerun.flash_in = flash;
    rsim::Report after = rehearse_on(rerun, "ia32").result.report;
    EXPECT_EQ(after.outcome.to_string(), "final-spin") << "after the cut at access " << cut;
    EXPECT_EQ(after.flash.mismatches, 0u) << "after the cut at access " << cut;
  }
}

INSTANTIATE_TEST_SUITE_P(, Ia32PowerCut, testing::ValuesIn(kPlatforms),
                         [](const testing::TestParamInfo<CutPlatform>& info) { return info.param.name; });

}  // namespace
