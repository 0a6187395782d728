// Power lost at sampled and targeted points of a whole recovery, then power-on and a recovery
// from a freshly loaded module: it must complete, leave exactly the expected flash and never
// change a byte outside the chunk it was working on.
#include <gtest/gtest.h>

#include <map>

#include "tests/support/reliability_campaign.h"

namespace testing_support {
namespace {

// 5 platforms x (26 sampled + 18 targeted) cut points: well over 200 in every CI run.
constexpr std::size_t kSampled = 26;
constexpr std::size_t kTargeted = 18;
constexpr std::uint64_t kSeed = 20261208;

class PowerCut : public testing::TestWithParam<CampaignPlatform> {};

TEST_P(PowerCut, RecoveryAfterPowerOnCompletesWhereverPowerWasLost) {
  const ReliabilityConfig& config = GetParam().config;
  Timeline t = reference_timeline(config);
  ASSERT_FALSE(t.ec.empty());
  ASSERT_EQ(t.chunk_starts.size(), 496u) << "every chunk counter of a complete recovery";
  std::vector<CutPoint> points = choose_cut_points(t, kSampled, kTargeted, kSeed);
  ASSERT_GE(points.size(), kSampled + kTargeted - 2) << "cut points collide rarely";

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
}

INSTANTIATE_TEST_SUITE_P(Platforms, PowerCut, testing::ValuesIn(campaign_platforms()),
                         [](const testing::TestParamInfo<CampaignPlatform>& info) {
                           std::string n;
                           for (char c : info.param.name) n += c == '-' ? '_' : c;
                           return n;
                         });

}  // namespace
}  // namespace testing_support
