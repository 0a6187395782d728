// Whole recoveries on LPC-boot machines with each real LPC part: the five JEDEC-command parts end
// in the final spin with every part byte holding the capsule byte last written to it; the two
// firmware-hub parts stop at the first chunk, untouched.
#include <gtest/gtest.h>

#include "recovery/RecoveryEntry.h"
#include "sim/LpcSetup.h"
#include "sim/pei/PeiEnvironment.h"
#include "sim/pei/RecoveryPpiModel.h"
#include "sim/pei/SpeakerModel.h"

namespace sim {
namespace {

constexpr std::uint64_t kWindowBase = 0xFFE00000;
constexpr std::uint32_t kWindowSize = 0x200000;
constexpr std::uint32_t kChunk = 0x1000;
constexpr std::uint32_t kPreservedOffset = 0x170000;
constexpr std::uint32_t kPreservedSize = 0x10000;

// Pseudo-random bytes, about one in four of them FFh (which the JEDEC write skips on an erased
// cell), so that a wrong source offset or a skipped chunk shows.
std::vector<std::uint8_t> make_capsule() {
  std::vector<std::uint8_t> c(kWindowSize);
  std::uint32_t x = 0x9E3779B9;
  for (auto& b : c) {
    x = x * 1664525 + 1013904223;
    b = (x >> 29) == 0 || (x >> 29) == 7 ? 0xFF : static_cast<std::uint8_t>(x >> 21);
  }
  return c;
}

// What the part must hold afterwards: chunk by chunk in the order the window is written, each
// chunk landing at its address modulo the part size (the part ignores the address bits above its
// size), the preserved 64 KiB never written.
std::vector<std::uint8_t> expected_part(std::vector<std::uint8_t> before,
                                        const std::vector<std::uint8_t>& capsule) {
  const std::uint64_t size = before.size();
  for (std::uint32_t offset = 0; offset < kWindowSize; offset += kChunk) {
    if (offset >= kPreservedOffset && offset < kPreservedOffset + kPreservedSize) {
      continue;
    }
    std::uint64_t at = (kWindowBase + offset) % size;
    std::copy_n(capsule.begin() + offset, kChunk, before.begin() + static_cast<std::ptrdiff_t>(at));
  }
  return before;
}

struct LpcRecovery {
  // `part_name` is a catalogue name, optionally followed by ":variant".
  explicit LpcRecovery(const std::string& part_name) {
    machine.chipset().set_boot_straps(0);  // LPC
    LpcSetupOptions options;
    std::size_t colon = part_name.find(':');
    options.part = part_name.substr(0, colon);
    if (colon != std::string::npos) options.variant = part_name.substr(colon + 1);
    options.protection = LpcProtection::Cleared;
    part = &install_lpc_part(machine, options);
    for (std::size_t i = 0; i < part->array().size(); i++) {
      part->array()[i] = static_cast<std::uint8_t>(i * 7 + (i >> 12));  // old firmware
    }
    before = part->array();
    pei.install_speaker();
    pei.install_recovery_ppi().add_capsule(capsule);
  }
  Outcome run() {
    return machine.run([&] { return RecoveryEntry(nullptr, pei.services()); });
  }

  Machine machine;
  PeiEnvironment pei;
  LpcFlashPart* part = nullptr;
  std::vector<std::uint8_t> capsule = make_capsule();
  std::vector<std::uint8_t> before;
};

class JedecRecovery : public ::testing::TestWithParam<const char*> {};

TEST_P(JedecRecovery, CompletesAndThePartHoldsTheLastCapsuleByteWrittenToEachOffset) {
  LpcRecovery r(GetParam());
  Outcome outcome = r.run();
  EXPECT_EQ(outcome.to_string(), "final-spin");
  std::vector<std::uint8_t> expected = expected_part(r.before, r.capsule);
  std::size_t wrong = 0, first_wrong = 0;
  for (std::size_t i = 0; i < expected.size(); i++) {
    if (r.part->array()[i] != expected[i] && wrong++ == 0) {
      first_wrong = i;
    }
  }
  EXPECT_EQ(wrong, 0u) << "first wrong part offset 0x" << std::hex << first_wrong;
  // The module never spoke to the part while it was busy, locked, or closed for writes.
  EXPECT_EQ(r.part->refusals(LpcRefusal::Busy), 0u);
  EXPECT_EQ(r.part->refusals(LpcRefusal::Locked), 0u);
  EXPECT_EQ(r.part->refusals(LpcRefusal::WriteDisabled), 0u);
  EXPECT_EQ(r.part->counters().sector_erases, 496u);
  EXPECT_FALSE(r.machine.lpc().bios_write_enabled());
}

INSTANTIATE_TEST_SUITE_P(Parts, JedecRecovery,
                         ::testing::Values("49LF008A", "49LF004A", "49FL004T", "39V040FPA:30h-sector",
                                           "39VF080"));

// The Winbond part's 30h erases a 64 KiB block: every chunk's erase wipes what the chunks before it
// wrote there. The module does not read back and ends in the final spin all the same.
TEST(JedecRecoveryLosesData, WinbondPartErasesA64KiBBlockPerChunk) {
  LpcRecovery r("39V040FPA");
  EXPECT_EQ(r.run().to_string(), "final-spin");
  EXPECT_EQ(r.part->counters().block_erases, 496u);
  EXPECT_FALSE(r.part->array() == expected_part(r.before, r.capsule));
}

class FirmwareHubRecovery : public ::testing::TestWithParam<const char*> {};

// A firmware-hub part only erases whole 64 KiB blocks; the recovery erases 4 KiB chunks, so its
// first erase is refused and the recovery stops there.
TEST_P(FirmwareHubRecovery, StopsAtTheFirstChunkWithInvalidParameterAndTheFlashUntouched) {
  LpcRecovery r(GetParam());
  Outcome outcome = r.run();
  EXPECT_EQ(outcome.to_string(), "returned(0x80000002)");
  ASSERT_NE(r.pei.speaker(), nullptr);
  ASSERT_FALSE(r.pei.speaker()->beeps().empty());
  EXPECT_EQ(r.pei.speaker()->beeps().back(), (BeepRequest{3, 50000, 20000}));
  EXPECT_TRUE(r.part->array() == r.before);
  EXPECT_EQ(r.part->counters().block_erases, 0u);
  EXPECT_EQ(r.part->counters().bytes_programmed, 0u);
}

INSTANTIATE_TEST_SUITE_P(Parts, FirmwareHubRecovery, ::testing::Values("82802AC", "50FLW040A"));

}  // namespace
}  // namespace sim
