// Property: whatever the flash descriptor says (valid or not, one or two components, any FLMSTR1
// and BIOS region), whatever the capsule and the old flash hold, a recovery never changes a byte
// outside the window the BIOS may write or inside the preserved block, and every byte it was
// entitled to write ends equal to the capsule. Case count: RC_PARAMS="max_success=N".
#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>

#include "sim/SpiSetup.h"
#include "tests/support/reliability_rig.h"
#include "tools/recovery-sim/Expectation.h"

namespace testing_support {
namespace {

// Parts that program pages and erase 4 KiB, and accept the controller's hardware sequence.
const char* const kParts[] = {"25X16", "25Q16", "25X32", "25F16", "M25PE80"};

std::vector<std::uint8_t> random_bytes(std::size_t size, std::uint32_t seed) {
  return sim::spi_fill_pattern(static_cast<std::uint32_t>(size), seed);
}

// A BIOS region: often a sensible one inside the flash, sometimes anything at all.
rc::Gen<std::uint32_t> bios_region() {
  return rc::gen::oneOf(
      rc::gen::arbitrary<std::uint32_t>(),
      rc::gen::apply([](std::uint32_t base, std::uint32_t limit) { return (limit << 16) | base; },
                     rc::gen::inRange<std::uint32_t>(0, 0x400), rc::gen::inRange<std::uint32_t>(0, 0x400)));
}

// FLMSTR1: either no write grants (the BIOS region bounds the window) or any value.
rc::Gen<std::uint32_t> flmstr1() {
  return rc::gen::oneOf(
      rc::gen::map(rc::gen::arbitrary<std::uint32_t>(), [](std::uint32_t v) { return v & ~0x0F000000u; }),
      rc::gen::arbitrary<std::uint32_t>());
}

RC_GTEST_PROP(WritableWindowProperty, RecoveryChangesOnlyWhatItIsEntitledTo, ()) {
  ReliabilityConfig c;
  c.spi.part = *rc::gen::elementOf(std::vector<std::string>(std::begin(kParts), std::end(kParts)));
  c.spi.descriptor = *rc::gen::arbitrary<bool>();
  c.spi.components = *rc::gen::inRange(1, 3);
  c.spi.descriptor_config.flmstr1 = *flmstr1();
  c.spi.descriptor_config.bios_region = *bios_region();
  c.spi.protection = sim::SpiProtectionStart::Cleared;
  c.pm_timer_read = 20'000;  // stalls in fewer reads: see ReliabilityConfig
  c.spi.fill_seed = *rc::gen::arbitrary<std::uint32_t>();
  c.capsule = random_bytes(rsim::kCapsuleBytes, *rc::gen::arbitrary<std::uint32_t>());
  RC_CLASSIFY(c.spi.descriptor, "descriptor");
  RC_CLASSIFY(c.spi.components == 2, "two components");

  ReliabilityRig rig(c);
  sim::Outcome o = rig.run();
  RC_TAG(o.kind_name());
  RC_LOG() << c.spi.part << " descriptor " << c.spi.descriptor << " components " << c.spi.components
           << std::hex << " FLMSTR1 " << c.spi.descriptor_config.flmstr1 << " BIOS region "
           << c.spi.descriptor_config.bios_region;
  std::vector<std::uint8_t> flash = rig.flash();
  const std::vector<std::uint8_t>& before = rig.before();
  const std::vector<bool>& entitled = rig.entitled_bytes();

  // Nothing outside the chunks the window allows, and nothing in the preserved block.
  RC_ASSERT(rig.unentitled_changes() == 0u);
  std::uint64_t total = flash.size();
  for (std::uint64_t m = rsim::kSkipBase; m < rsim::kSkipEnd; m++) {
    std::uint64_t linear = (m + total) & 0xFFFFFFFFull;
    if (linear < total) RC_ASSERT(flash[linear] == before[linear]);
  }
  for (std::size_t i = 0; i < flash.size(); i++) {
    if (!entitled[i]) RC_ASSERT(flash[i] == before[i]);
  }
  std::vector<std::uint8_t> expected = rig.expected();
  if (o.kind == sim::OutcomeKind::FinalSpin) {
    // A recovery that completed wrote every entitled byte from the capsule.
    RC_ASSERT(first_difference(flash, expected) == flash.size());
    return;
  }
  // The window comes from FLMSTR1 and the BIOS region alone; where it reaches a region the
  // chipset does not let the host write, the controller refuses the cycle and the update stops
  // at that chunk with a device error and three short beeps. The chunks before it are complete.
  RC_LOG() << o.to_string() << " after " << rig.chunks_started() << " chunks";
  RC_ASSERT(o.kind == sim::OutcomeKind::Returned);
  RC_ASSERT(o.status == EFI_DEVICE_ERROR);
  RC_ASSERT(rig.spi().controller().counters().blocked_by(sim::SpiBlock::RegionDenied) > 0u);
  RC_ASSERT((rig.beeps().back() == sim::BeepRequest{3, 50000, 20000}));
  std::vector<bool> done = rig.entitled_bytes_of_chunks(rig.chunks_started() - 1);
  for (std::size_t i = 0; i < flash.size(); i++) {
    if (done[i]) RC_ASSERT(flash[i] == expected[i]);
  }
}

}  // namespace
}  // namespace testing_support
