// Every fault the rehearsal tool can inject, on the platforms where it matters: how the run ends,
// its status and beeps, and an audit of every flash-array change against the chunk the module was
// entitled to change at that moment.
#include <gtest/gtest.h>

#include "sim/pei/RecoveryPpiModel.h"
#include "tests/support/reliability_beeps.h"
#include "tests/support/reliability_rig.h"

namespace testing_support {
namespace {

using sim::BeepRequest;

// PM-timer reads charged 20 us: the stalls take the same simulated time in fewer reads.
constexpr sim::Nanos kPmTimerRead = 20'000;

// A valid descriptor selects hardware sequencing; without one the module sequences in software.
ReliabilityConfig spi_platform(bool hardware_sequencing = true) {
  ReliabilityConfig c;
  c.pm_timer_read = kPmTimerRead;
  c.spi.part = "25X16";
  c.spi.descriptor = hardware_sequencing;
  c.spi.protection = sim::SpiProtectionStart::Cleared;
  return c;
}

ReliabilityConfig lpc_platform() {
  ReliabilityConfig c;
  c.pm_timer_read = kPmTimerRead;
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
      {"NoRecoveryPpi",
       [](sim::PeiEnvironment& pei, const auto&) { pei.install_speaker(); },
       EFI_NOT_FOUND,                                                                              {kBeepHello, kBeepNoCapsule}},
      {"CapsuleInfoFails",
       [](sim::PeiEnvironment& pei, const auto& capsule) {
         ReliabilityRig::default_pei(pei, capsule);
         pei.recovery_ppi(0).fail(sim::RecoveryOp::GetRecoveryCapsuleInfo, EFI_DEVICE_ERROR);
       },                                 EFI_DEVICE_ERROR,
       {kBeepHello, kBeepNoCapsule}                                                                                            },
      {"AllocatePagesFails",
       [](sim::PeiEnvironment& pei, const auto& capsule) {
         ReliabilityRig::default_pei(pei, capsule);
         pei.fail_allocate_pages(EFI_OUT_OF_RESOURCES);
       },                                 EFI_OUT_OF_RESOURCES,
       {kBeepHello, kBeepNoMemory}                                                                                             },
      {"LoadCapsuleFails",
       [](sim::PeiEnvironment& pei, const auto& capsule) {
         ReliabilityRig::default_pei(pei, capsule);
         pei.recovery_ppi(0).fail(sim::RecoveryOp::LoadRecoveryCapsule, EFI_DEVICE_ERROR);
       },                                 EFI_DEVICE_ERROR,
       {kBeepHello, kBeepLoadFailed, kBeepTwoShort}                                                                            },
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
  // The unbounded wait reads the flash-mode register through the register window FF2Dh-FF2Fh.
  EXPECT_NE(o.where.find("0xFF2"), std::string::npos) << o.where;
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
  for (bool hardware : {false, true}) {
    SCOPED_TRACE(hardware ? "hardware" : "software");
    ReliabilityRig rig(spi_platform(hardware));
    rig.spi().part().inject_stuck_busy();
    sim::Outcome o = rig.run();
    EXPECT_EQ(o.kind, sim::OutcomeKind::Hang) << o.to_string();
    // With the descriptor's BIOS region starting at 0x1000, chunk 0 lies outside the window and
    // the first erase is chunk 1's.
    int chunks = hardware ? 2 : 1;
    EXPECT_EQ(rig.chunks_started(), chunks);
    EXPECT_EQ(rig.beeps(), programming_beeps(chunks));
    EXPECT_LE(rig.changes().size(), 1u) << "at most the one erase that never finishes";
    EXPECT_EQ(rig.unentitled_changes(), 0u);
    EXPECT_TRUE(rig.machine().lpc().bios_write_enabled());
  }
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

// Cycle numbers (counted from the start of the run, from 1) of the cycles that changed the array.
struct CycleMarks {
  std::vector<std::uint64_t> erase_cycles, program_cycles;
  std::vector<int> erase_chunks, program_chunks;
};

CycleMarks cycle_marks(const ReliabilityConfig& c) {
  ReliabilityRig rig(c);
  CycleMarks m;
  rig.on_change = [&](const AuditedChange& change) {
    const auto& k = rig.spi().controller().counters();
    std::uint64_t cycle = k.sw_cycles + k.hw_cycles;
    (change.erase ? m.erase_cycles : m.program_cycles).push_back(cycle);
    (change.erase ? m.erase_chunks : m.program_chunks).push_back(change.chunk);
  };
  EXPECT_EQ(rig.run().kind, sim::OutcomeKind::FinalSpin);
  return m;
}

// The cycles that changed chunk `chunk`, in order.
std::vector<std::uint64_t> cycles_of(const std::vector<std::uint64_t>& cycles, const std::vector<int>& chunks,
                                     int chunk) {
  std::vector<std::uint64_t> v;
  for (std::size_t i = 0; i < cycles.size(); i++) {
    if (chunks[i] == chunk) v.push_back(cycles[i]);
  }
  return v;
}

TEST(InjectedFaults, SpiCycleErrorStopsTheUpdateAtTheFailingChunkInBothSequencingModes) {
  // Software sequencing programs one byte per cycle: a 512 KiB part keeps that affordable (only
  // the chunks from 0xFFF80000 up land in it).
  ReliabilityConfig software = spi_platform(false);
  software.spi.part = "25LV040";
  software.spi.variant = "res-without-dummy";  // the named part is not found by its row
  struct Mode {
    const char* name;
    ReliabilityConfig config;
    int chunk;
  };
  for (const Mode& mode : {
           Mode{"hardware", spi_platform(true), 37 },
           Mode{"software", software,           400}
  }) {
    CycleMarks marks = cycle_marks(mode.config);
    // The chunk's erase, a program in its middle and its last program.
    std::vector<std::uint64_t> erases = cycles_of(marks.erase_cycles, marks.erase_chunks, mode.chunk);
    std::vector<std::uint64_t> programs = cycles_of(marks.program_cycles, marks.program_chunks, mode.chunk);
    ASSERT_EQ(erases.size(), 1u);
    ASSERT_GT(programs.size(), 2u);
    for (std::uint64_t cycle : {erases.front(), programs[programs.size() / 2], programs.back()}) {
      SCOPED_TRACE(std::string(mode.name) + ", cycle " + std::to_string(cycle));
      ReliabilityRig rig(mode.config);
      rig.spi().controller().inject_cycle_error(cycle);
      sim::Outcome o = rig.run();
      ASSERT_EQ(o.kind, sim::OutcomeKind::Returned) << o.to_string();
      EXPECT_EQ(o.status, EFI_DEVICE_ERROR);
      EXPECT_EQ(rig.chunks_started(), mode.chunk + 1);
      std::vector<BeepRequest> beeps = programming_beeps(mode.chunk + 1);
      beeps.push_back(kBeepFlashFailed);
      EXPECT_EQ(rig.beeps(), beeps);
      EXPECT_EQ(rig.unentitled_changes(), 0u);
      // Chunks before the failing one hold the capsule.
      std::vector<std::uint8_t> flash = rig.flash(), expected = rig.expected();
      std::vector<bool> done = rig.entitled_bytes_of_chunks(mode.chunk);
      std::size_t wrong = 0;
      for (std::size_t i = 0; i < flash.size(); i++) wrong += done[i] && flash[i] != expected[i] ? 1 : 0;
      EXPECT_EQ(wrong, 0u);
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
  sim::Outcome o = rig.run(1'000'000);
  EXPECT_EQ(o.kind, sim::OutcomeKind::PowerCut);
  EXPECT_EQ(rig.last_run_accesses(), 1'000'000u);
  EXPECT_EQ(rig.unentitled_changes(), 0u);
}

}  // namespace
}  // namespace testing_support
