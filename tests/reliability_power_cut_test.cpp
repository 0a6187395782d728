// Power lost at sampled and targeted points of a whole recovery, then power-on and a recovery
// from a freshly loaded module: it must complete, leave exactly the expected flash and never
// change a byte outside the chunk it was working on.
#include <gtest/gtest.h>

#include <map>
#include <ostream>

#include "tests/support/reliability_campaign.h"

namespace testing_support {
namespace {

// Cut points per platform, weighted by what one recovery costs on the host: 206 in all, about a
// minute of host time. The long campaign (power_cut_campaign) covers every platform at length.
struct Plan {
  const char* platform;
  std::size_t sampled, targeted;
};
constexpr Plan kPlans[] = {
    {"winbond-25x16-hardware", 40, 20},
    {"atmel-26df161-power-on", 26, 18},
    {"st-m25pe80",             58, 18},
    {"pmc-25lv040-software",   6,  12},
    {"sst-49lf008a-lpc",       2,  6 },
};
void PrintTo(const Plan& p, std::ostream* os) { *os << p.platform; }

constexpr std::uint64_t kSeed = 20261208;
// PM-timer reads charged 20 us: the stalls take the same simulated time in a twentieth of the reads.
constexpr sim::Nanos kPmTimerRead = 20'000;

class PowerCut : public testing::TestWithParam<Plan> {};

TEST_P(PowerCut, RecoveryAfterPowerOnCompletesWhereverPowerWasLost) {
  const Plan& plan = GetParam();
  const ReliabilityConfig config = campaign_platform(plan.platform, kPmTimerRead).config;
  Timeline t = reference_timeline(config);
  ASSERT_FALSE(t.ec.empty());
  ASSERT_EQ(t.chunk_starts.size(), 496u) << "every chunk counter of a complete recovery";
  std::vector<CutPoint> points = choose_cut_points(t, plan.sampled, plan.targeted, kSeed);
  ASSERT_GE(points.size(), plan.sampled + plan.targeted - 2) << "cut points collide rarely";

  std::map<CutKind, int> tried, passed;
  for (const CutPoint& p : points) {
    TrialResult r = run_trial(config, p.access);
    tried[p.kind]++;
    passed[p.kind] += r.ok() ? 1 : 0;
    EXPECT_TRUE(r.ok()) << "power lost after access " << p.access << " of " << t.total << " ("
                        << cut_kind_name(p.kind) << "): " << r.describe();
  }
  for (CutKind k : {CutKind::Sampled, CutKind::EcHandshake, CutKind::Detection, CutKind::BetweenChunks,
                    CutKind::MidErase, CutKind::MidProgram, CutKind::BeforeFinalCommand}) {
    EXPECT_GT(tried[k], 0) << "no cut point " << cut_kind_name(k);
    std::printf("  %-22s %3d tried, %3d passed\n", cut_kind_name(k), tried[k], passed[k]);
  }
  std::printf("  %zu cut points over %llu accesses\n", points.size(),
              static_cast<unsigned long long>(t.total));
}

// The cut points above only show that the rerun repairs the flash; this shows that the cut
// itself leaves the chunk being erased half done, neither its old contents nor erased.
TEST(PowerCutMidErase, LeavesTheBlockMixedAndTheRecoveryAfterPowerOnRepairsIt) {
  const ReliabilityConfig config = campaign_platform("winbond-25x16-hardware", kPmTimerRead).config;
  Timeline t = reference_timeline(config);
  ASSERT_GT(t.erases.size(), 10u);
  ReliabilityRig rig(config);
  ASSERT_EQ(rig.run(t.erases[10] + 1).kind, sim::OutcomeKind::PowerCut);  // the part is busy
  ASSERT_TRUE(!rig.changes().empty() && rig.changes().back().erase);
  const AuditedChange erase = rig.changes().back();
  rig.power_cycle();
  std::vector<std::uint8_t> flash = rig.flash();
  std::size_t old = 0, between = 0;
  for (std::uint32_t i = erase.offset; i < erase.offset + erase.length; i++) {
    old += flash[i] == rig.before()[i] ? 1 : 0;
    between += flash[i] != rig.before()[i] && flash[i] != 0xFF ? 1 : 0;
    ASSERT_EQ(flash[i] | rig.before()[i], flash[i]) << "an erase only sets bits, at 0x" << std::hex << i;
  }
  EXPECT_GT(old, 0u);
  EXPECT_GT(between, 0u);
  EXPECT_EQ(rig.run().kind, sim::OutcomeKind::FinalSpin);
  EXPECT_TRUE(rig.flash() == rig.expected());
  EXPECT_EQ(rig.unentitled_changes(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Platforms, PowerCut, testing::ValuesIn(kPlans),
                         [](const testing::TestParamInfo<Plan>& info) {
                           std::string n;
                           for (const char* c = info.param.platform; *c != 0; c++) n += *c == '-' ? '_' : *c;
                           return n;
                         });

}  // namespace
}  // namespace testing_support
