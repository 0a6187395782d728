// Bad input to a whole recovery: capsules of the wrong size, recovery PPIs without capsules, a
// failing load, unsupported boot straps and a flash part no table row knows. Each ends with its
// status and beeps and leaves every flash array unchanged.
#include <gtest/gtest.h>

#include "recovery/RecoveryEntry.h"
#include "sim/devices/SpiBiosWindow.h"
#include "sim/devices/SpiPartCatalog.h"
#include "sim/pei/RecoveryPpiModel.h"
#include "tests/support/reliability_beeps.h"
#include "tests/support/reliability_rig.h"
#include "tests/support/spi_rig.h"

namespace testing_support {
namespace {

using sim::BeepRequest;

ReliabilityConfig platform(bool lpc) {
  ReliabilityConfig c;
  c.lpc = lpc;
  c.spi.part = "25X16";
  c.spi.descriptor = true;
  c.lpc_part.part = "49LF008A";
  return c;
}

void expect_flash_untouched(ReliabilityRig& rig) {
  EXPECT_TRUE(rig.changes().empty());
  EXPECT_EQ(rig.flash(), rig.before());
}

TEST(BadInput, CapsulesShorterThanTheWindowAreRefusedBeforeTheFlashIsOpened) {
  for (bool lpc : {false, true}) {
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{0x1FFFFF}, std::size_t{0x100000}}) {
      SCOPED_TRACE((lpc ? "LPC, size " : "SPI, size ") + std::to_string(size));
      ReliabilityRig rig(platform(lpc));
      sim::Outcome o = rig.run(0, [size](sim::PeiEnvironment& pei, const std::vector<std::uint8_t>& capsule) {
        pei.install_speaker();
        pei.install_recovery_ppi().add_capsule(
            std::vector<std::uint8_t>(capsule.begin(), capsule.begin() + static_cast<std::ptrdiff_t>(size)));
      });
      ASSERT_EQ(o.kind, sim::OutcomeKind::Returned) << o.to_string();
      EXPECT_EQ(o.status, EFI_BAD_BUFFER_SIZE);
      EXPECT_EQ(rig.beeps(), (std::vector<BeepRequest>{kBeepHello, kBeepNoCapsule}));
      EXPECT_TRUE(rig.pei().allocations().empty()) << "nothing allocated for a capsule that cannot be used";
      EXPECT_TRUE(rig.machine().ec().commands().empty());
      EXPECT_FALSE(rig.machine().lpc().bios_write_enabled());
      expect_flash_untouched(rig);
    }
  }
}

TEST(BadInput, CapsuleLongerThanTheWindowProgramsItsFirstTwoMebibytes) {
  ReliabilityConfig c = platform(false);
  c.capsule = make_capsule(0x77);
  std::vector<std::uint8_t> tail(0x100000, 0x00);  // would clear every bit if it were used
  ReliabilityRig rig(c);
  sim::Outcome o = rig.run(0, [&tail](sim::PeiEnvironment& pei, const std::vector<std::uint8_t>& capsule) {
    std::vector<std::uint8_t> longer = capsule;
    longer.insert(longer.end(), tail.begin(), tail.end());
    ReliabilityRig::default_pei(pei, longer);
  });
  EXPECT_EQ(o.kind, sim::OutcomeKind::FinalSpin) << o.to_string();
  EXPECT_EQ(rig.flash(), rig.expected());
  EXPECT_EQ(rig.unentitled_changes(), 0u);
}

TEST(BadInput, RecoveryPpisWithoutCapsulesArePassedOver) {
  auto empty_ppis = [](int empty, bool last_has_capsule) {
    return [=](sim::PeiEnvironment& pei, const std::vector<std::uint8_t>& capsule) {
      pei.install_speaker();
      for (int i = 0; i < empty; i++) pei.install_recovery_ppi();
      if (last_has_capsule) pei.install_recovery_ppi().add_capsule(capsule);
    };
  };
  {
    SCOPED_TRACE("three instances, none with a capsule");
    ReliabilityRig rig(platform(false));
    sim::Outcome o = rig.run(0, empty_ppis(3, false));
    ASSERT_EQ(o.kind, sim::OutcomeKind::Returned) << o.to_string();
    EXPECT_EQ(o.status, EFI_NOT_FOUND) << "LocatePpi's status for the missing fourth instance";
    EXPECT_EQ(rig.beeps(), (std::vector<BeepRequest>{kBeepHello, kBeepNoCapsule}));
    EXPECT_EQ(rig.pei().count("GetNumberRecoveryCapsules"), 3u);
    EXPECT_FALSE(rig.machine().lpc().bios_write_enabled());
    expect_flash_untouched(rig);
  }
  {
    SCOPED_TRACE("two empty instances, then one with the capsule");
    ReliabilityRig rig(platform(false));
    EXPECT_EQ(rig.run(0, empty_ppis(2, true)).kind, sim::OutcomeKind::FinalSpin);
    EXPECT_EQ(rig.pei().count("LoadRecoveryCapsule"), 1u);
    EXPECT_EQ(rig.flash(), rig.expected());
  }
}

TEST(BadInput, UnsupportedBootStrapsFindNoPartAndLeaveTheFlashOpen) {
  for (int straps : {1, 2}) {
    SCOPED_TRACE(straps);
    ReliabilityConfig c = platform(false);
    c.straps = straps;
    ReliabilityRig rig(c);
    sim::Outcome o = rig.run();
    ASSERT_EQ(o.kind, sim::OutcomeKind::Returned) << o.to_string();
    EXPECT_EQ(o.status, EFI_UNSUPPORTED);
    EXPECT_EQ(rig.beeps(), (std::vector<BeepRequest>{kBeepHello, kBeepNoPart, kBeepTwoShort}));
    EXPECT_EQ(rig.spi().controller().counters().sw_cycles + rig.spi().controller().counters().hw_cycles, 0u);
    EXPECT_TRUE(rig.machine().lpc().bios_write_enabled()) << "detection failures leave write enable set";
    expect_flash_untouched(rig);
  }
}

// A 2 MiB SPI part that answers an identification no table row has.
TEST(BadInput, UnknownSpiPartIsRefusedWithoutAnyFlashChange) {
  sim::SpiPartTraits traits = *sim::find_spi_part("25X16");
  traits.name = "unknown";
  traits.jedec_id = {0xEF, 0x99, 0x99};
  traits.rems_id = {0xEF, 0x99};
  traits.res_id = {0x99};
  sim::SpiFlashPart part(traits);
  part.array().assign(part.size(), 0x5A);
  int changes = 0;
  part.set_change_observer([&changes](const sim::SpiArrayChange&) { changes++; });

  sim::Machine machine;
  sim::SpiHostController controller(machine.platform(), machine.lpc(), {&part});
  sim::SpiBiosWindow window({&part});
  machine.map_chipset_window(sim::SpiHostController::kWindowOffset, sim::SpiHostController::kWindowSize,
                             &controller, machine.platform().costs().chipset_register);
  machine.platform().map_mem(window.base(), window.window_size(), &window,
                             machine.platform().costs().flash_window);
  sim::PeiEnvironment pei;
  pei.install_speaker();
  pei.install_recovery_ppi().add_capsule(make_capsule(1));

  sim::Outcome o = machine.run([&] { return RecoveryEntry(nullptr, pei.services()); });
  ASSERT_EQ(o.kind, sim::OutcomeKind::Returned) << o.to_string();
  EXPECT_EQ(o.status, EFI_UNSUPPORTED);
  EXPECT_EQ(pei.speaker()->beeps(), (std::vector<BeepRequest>{kBeepHello, kBeepNoPart, kBeepTwoShort}));
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(part.counters().erases + part.counters().programs, 0u);
  EXPECT_EQ(part.array(), std::vector<std::uint8_t>(part.size(), 0x5A));
}

}  // namespace
}  // namespace testing_support
