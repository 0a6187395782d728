// Every fault the rehearsal tool can inject, on the platforms where it matters: how the run ends,
// its status and beeps, and an audit of every flash-array change against the chunk the module was
// entitled to change at that moment.
#include <gtest/gtest.h>

#include "sim/pei/RecoveryPpiModel.h"
#include "tests/support/reliability_beeps.h"
#include "tests/support/reliability_campaign.h"

namespace testing_support {
namespace {

using sim::BeepRequest;

ReliabilityConfig spi_platform(bool hardware_sequencing = false) {
  ReliabilityConfig c;
  c.spi.part = "25X16";
  c.spi.descriptor = hardware_sequencing;
  c.spi.protection = sim::SpiProtectionStart::Cleared;
  return c;
}

ReliabilityConfig lpc_platform() {
  ReliabilityConfig c;
  c.lpc = true;
  c.lpc_part.part = "49LF008A";
  c.lpc_part.protection = sim::LpcProtection::Cleared;
  return c;
}

// A failure before the flash is opened: nothing reaches the embedded controller or the flash.
void expect_untouched(ReliabilityRig& rig) {
  EXPECT_TRUE(rig.changes().empty());
  EXPECT_EQ(rig.flash(), rig.before());
  EXPECT_TRUE(rig.machine().ec().commands().empty());
  EXPECT_FALSE(rig.machine().lpc().bios_write_enabled());
}

// --- PEI-side faults: the same on every platform ----------------------------------------------

struct PeiFault {
  const char* name;
  ReliabilityRig::PeiSetup setup;
  EFI_STATUS status;
  std::vector<BeepRequest> beeps;
};

std::vector<PeiFault> pei_faults() {
  return {
      {"NoRecoveryPpi", [](sim::PeiEnvironment& pei, const auto&) { pei.install_speaker(); }, EFI_NOT_FOUND,
       {kBeepHello, kBeepNoCapsule}},
      {"CapsuleInfoFails",
       [](sim::PeiEnvironment& pei, const auto& capsule) {
         ReliabilityRig::default_pei(pei, capsule);
         pei.recovery_ppi(0).fail(sim::RecoveryOp::GetRecoveryCapsuleInfo, EFI_DEVICE_ERROR);
       },
       EFI_DEVICE_ERROR, {kBeepHello, kBeepNoCapsule}},
      {"AllocatePagesFails",
       [](sim::PeiEnvironment& pei, const auto& capsule) {
         ReliabilityRig::default_pei(pei, capsule);
         pei.fail_allocate_pages(EFI_OUT_OF_RESOURCES);
       },
       EFI_OUT_OF_RESOURCES, {kBeepHello, kBeepNoMemory}},
      {"LoadCapsuleFails",
       [](sim::PeiEnvironment& pei, const auto& capsule) {
         ReliabilityRig::default_pei(pei, capsule);
         pei.recovery_ppi(0).fail(sim::RecoveryOp::LoadRecoveryCapsule, EFI_DEVICE_ERROR);
       },
       EFI_DEVICE_ERROR, {kBeepHello, kBeepLoadFailed, kBeepTwoShort}},
  };
}

TEST(InjectedFaults, PeiFailuresReturnTheirStatusWithTheirBeepsBeforeTheFlashIsOpened) {
  for (bool lpc : {false, true}) {
    for (const PeiFault& f : pei_faults()) {
      SCOPED_TRACE(std::string(f.name) + (lpc ? " on LPC" : " on SPI"));
      ReliabilityRig rig(lpc ? lpc_platform() : spi_platform());
      sim::Outcome o = rig.run(0, f.setup);
      ASSERT_EQ(o.kind, sim::OutcomeKind::Returned) << o.to_string();
      EXPECT_EQ(o.status, f.status);
      EXPECT_EQ(rig.beeps(), f.beeps);
      expect_untouched(rig);
    }
  }
}

TEST(InjectedFaults, WithoutASpeakerTheRecoveryIsSilentButComplete) {
  for (bool lpc : {false, true}) {
    SCOPED_TRACE(lpc ? "LPC" : "SPI");
    ReliabilityRig rig(lpc ? lpc_platform() : spi_platform());
    sim::Outcome o = rig.run(0, [](sim::PeiEnvironment& pei, const std::vector<std::uint8_t>& capsule) {
      pei.install_recovery_ppi().add_capsule(capsule);
    });
    EXPECT_EQ(o.kind, sim::OutcomeKind::FinalSpin) << o.to_string();
    EXPECT_EQ(rig.pei().speaker(), nullptr);
    EXPECT_EQ(first_difference(rig.flash(), rig.expected()), rig.flash().size());
    EXPECT_EQ(rig.unentitled_changes(), 0u);
  }
}

// --- Platform faults ------------------------------------------------------------------------------

TEST(InjectedFaults, AbsentEmbeddedControllerHangsInTheFlashModeWaitWithTheFlashClosed) {
  ReliabilityConfig c = spi_platform();
  c.ec_present = false;
  ReliabilityRig rig(c);
  sim::Outcome o = rig.run();
  EXPECT_EQ(o.kind, sim::OutcomeKind::Hang) << o.to_string();
  // The unbounded wait reads the flash-mode register through the register window.
  EXPECT_NE(o.where.find("0xff2f"), std::string::npos) << o.where;
  EXPECT_EQ(rig.beeps(), std::vector<BeepRequest>{kBeepHello});
  EXPECT_TRUE(rig.changes().empty());
  EXPECT_FALSE(rig.machine().lpc().bios_write_enabled()) << "the handshake comes before the chipset bit";
}

// Detection runs the LPC Init operations without an allocation context, so their command blocks
// come from the module's own storage: a failing PEI pool changes nothing on either bus.
TEST(InjectedFaults, FailingPeiPoolDoesNotStopTheRecovery) {
  auto fail_pool = [](sim::PeiEnvironment& pei, const std::vector<std::uint8_t>& capsule) {
    ReliabilityRig::default_pei(pei, capsule);
    pei.fail_allocate_pool(EFI_OUT_OF_RESOURCES);
  };
  for (bool lpc : {false, true}) {
    SCOPED_TRACE(lpc ? "LPC" : "SPI");
    ReliabilityRig rig(lpc ? lpc_platform() : spi_platform());
    EXPECT_EQ(rig.run(0, fail_pool).kind, sim::OutcomeKind::FinalSpin);
    EXPECT_EQ(rig.pei().count("AllocatePool"), 0u);
    EXPECT_EQ(rig.flash(), rig.expected());
    EXPECT_EQ(rig.unentitled_changes(), 0u);
  }
}

TEST(InjectedFaults, SpiPartStuckBusyHangsInTheFirstErase) {
  ReliabilityRig rig(spi_platform());
  rig.spi().part().inject_stuck_busy();
  sim::Outcome o = rig.run();
  EXPECT_EQ(o.kind, sim::OutcomeKind::Hang) << o.to_string();
  EXPECT_EQ(rig.chunks_started(), 1);
  EXPECT_EQ(rig.beeps(), programming_beeps(1));
  EXPECT_EQ(rig.unentitled_changes(), 0u);
  EXPECT_TRUE(rig.machine().lpc().bios_write_enabled());
}

TEST(InjectedFaults, LpcPartStuckBusyEndsTheUpdateAtTheFirstChunkWithThreeShortBeeps) {
  ReliabilityConfig c = lpc_platform();
  c.lpc_part.stuck_busy = true;
  ReliabilityRig rig(c);
  sim::Outcome o = rig.run();
  ASSERT_EQ(o.kind, sim::OutcomeKind::Returned) << o.to_string();
  // The erase poll gives up and reports success; the first byte's program poll gives up as a
  // device error.
  EXPECT_EQ(o.status, EFI_DEVICE_ERROR);
  EXPECT_EQ(rig.chunks_started(), 1);
  std::vector<BeepRequest> beeps = programming_beeps(1);
  beeps.push_back(kBeepFlashFailed);
  EXPECT_EQ(rig.beeps(), beeps);
  EXPECT_EQ(rig.unentitled_changes(), 0u);
  EXPECT_TRUE(rig.machine().lpc().bios_write_enabled());
}

// --- SPI cycle errors -----------------------------------------------------------------------------

struct CycleMarks {
  std::vector<std::uint64_t> at_chunk;  // controller cycles started when each chunk began
  std::uint64_t total = 0;
};

CycleMarks cycle_marks(const ReliabilityConfig& c) {
  ReliabilityRig rig(c);
  CycleMarks m;
  auto cycles = [&rig] {
    const auto& k = rig.spi().controller().counters();
    return k.sw_cycles + k.hw_cycles;
  };
  rig.on_chunk = [&](int) { m.at_chunk.push_back(cycles()); };
  EXPECT_EQ(rig.run().kind, sim::OutcomeKind::FinalSpin);
  m.total = cycles();
  return m;
}

TEST(InjectedFaults, SpiCycleErrorStopsTheUpdateAtTheFailingChunkInBothSequencingModes) {
  for (bool hardware : {false, true}) {
    ReliabilityConfig c = spi_platform(hardware);
    CycleMarks marks = cycle_marks(c);
    ASSERT_EQ(marks.at_chunk.size(), 496u);
    constexpr int kChunk = 37;
    std::uint64_t cycles_in_chunk = marks.at_chunk[kChunk + 1] - marks.at_chunk[kChunk];
    // The first cycle of a chunk belongs to its erase (with protection handling, the first
    // cycles); the last one is a program.
    for (std::uint64_t nth_in_chunk : {std::uint64_t{1}, cycles_in_chunk / 2, cycles_in_chunk}) {
      SCOPED_TRACE((hardware ? "hardware, cycle " : "software, cycle ") + std::to_string(nth_in_chunk));
      ReliabilityRig rig(c);
      rig.spi().controller().inject_cycle_error(marks.at_chunk[kChunk] + nth_in_chunk);
      sim::Outcome o = rig.run();
      ASSERT_EQ(o.kind, sim::OutcomeKind::Returned) << o.to_string();
      EXPECT_EQ(o.status, EFI_DEVICE_ERROR);
      EXPECT_EQ(rig.chunks_started(), kChunk + 1);
      std::vector<BeepRequest> beeps = programming_beeps(kChunk + 1);
      beeps.push_back(kBeepFlashFailed);
      EXPECT_EQ(rig.beeps(), beeps);
      EXPECT_EQ(rig.unentitled_changes(), 0u);
      // Chunks before the failing one hold the capsule.
      std::vector<std::uint8_t> flash = rig.flash(), expected = rig.expected();
      std::size_t done = std::size_t{kChunk} * 0x1000;
      EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + static_cast<std::ptrdiff_t>(done), expected.begin()));
      EXPECT_TRUE(rig.machine().lpc().bios_write_enabled()) << "left open after the failure";
      // Power-on and a second attempt repair everything.
      rig.power_cycle();
      EXPECT_EQ(rig.run().kind, sim::OutcomeKind::FinalSpin);
      EXPECT_EQ(rig.flash(), rig.expected());
    }
  }
}

TEST(InjectedFaults, SpiCycleErrorDuringDetectionMakesThePartUnrecognised) {
  ReliabilityRig rig(spi_platform());
  // The first cycle of the run is the first probe's identification read, of the installed
  // part's own row (the first of the table).
  rig.spi().controller().inject_cycle_error(1);
  sim::Outcome o = rig.run();
  ASSERT_EQ(o.kind, sim::OutcomeKind::Returned) << o.to_string();
  EXPECT_EQ(o.status, EFI_UNSUPPORTED);
  EXPECT_EQ(rig.beeps(), (std::vector<BeepRequest>{kBeepHello, kBeepNoPart, kBeepTwoShort}));
  EXPECT_TRUE(rig.changes().empty());
}

TEST(InjectedFaults, PowerCutEndsTheRunAtTheChosenAccess) {
  ReliabilityRig rig(spi_platform(true));
  sim::Outcome o = rig.run(5'000'000);
  EXPECT_EQ(o.kind, sim::OutcomeKind::PowerCut);
  EXPECT_EQ(rig.last_run_accesses(), 5'000'000u);
  EXPECT_EQ(rig.unentitled_changes(), 0u);
}

}  // namespace
}  // namespace testing_support
