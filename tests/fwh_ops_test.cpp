// The firmware-hub operation set against a scripted flash window: identification, the 64 KiB
// erase rule with each block's read-array address, programming with status polls, the poll
// bounds, and the closing clear-status and read-array stores of a write.
#include <gtest/gtest.h>

#include "flash/lpc/FwhFlash.h"
#include "tests/lpc_test_support.h"

namespace sim {
namespace {

using Stores = std::vector<std::pair<std::uint32_t, std::uint8_t>>;

std::optional<std::uint8_t> ready(std::uint32_t) { return 0x80; }

TEST(FwhProbe, ReadsTheIdentifierAtTheBaseAndAlwaysRestoresArrayReading) {
  ScriptedRig rig;
  rig.window.on_read = [](std::uint32_t a) -> std::optional<std::uint8_t> {
    if (a == 0xFFF00000) return 0x89;
    if (a == 0xFFF00001) return 0xAC;
    return std::nullopt;
  };
  rig.run([] { return FwhInit(nullptr); });
  const Ops expected = {"w8 fff00000 90", "r16 fff00000", "w8 fff00000 ff"};
  EXPECT_EQ(rig.run([] { return FwhProbe(0x5555AC89); }), EFI_SUCCESS);  // upper half ignored
  EXPECT_EQ(ops(rig.trace), expected);
  EXPECT_EQ(rig.run([] { return FwhProbe(0x0820); }), EFI_UNSUPPORTED);
  EXPECT_EQ(ops(rig.trace), expected);
}

TEST(FwhErase, Whole64KiBBlocksOnlyEachEndingWithArrayReadingAtItsRegionsC0000Offset) {
  ScriptedRig rig;
  rig.window.on_read = ready;
  rig.run([] { return FwhInit(nullptr); });
  for (std::uint32_t bad : {0x1000u, 0x18000u}) {
    EXPECT_EQ(rig.run([&] { return FwhErase(0xFFE00000, bad); }), EFI_INVALID_PARAMETER);
    EXPECT_TRUE(rig.trace.accesses().empty());
  }
  EXPECT_EQ(rig.run([] { return FwhErase(0xFFE00000, 0); }), EFI_SUCCESS);
  EXPECT_TRUE(rig.trace.accesses().empty());

  EXPECT_EQ(rig.run([] { return FwhErase(0xFFE20000, 0x20000); }), EFI_SUCCESS);
  EXPECT_EQ(ops(rig.trace), (Ops{"w8 ffe20000 20", "w8 ffe20000 d0", "w8 ffe20000 70", "r8 ffe20000",
                                 "w8 ffe20000 50", "w8 ffec0000 ff", "w8 ffe30000 20", "w8 ffe30000 d0",
                                 "w8 ffe30000 70", "r8 ffe30000", "w8 ffe30000 50", "w8 ffec0000 ff"}));
  EXPECT_EQ(rig.run([] { return FwhErase(0xFFF80000, 0x10000); }), EFI_SUCCESS);
  EXPECT_EQ(ops(rig.trace).back(), "w8 fffc0000 ff");
}

TEST(FwhWrite, ProgramsEveryByteIncludingFFAndClosesAtTheBlockBase) {
  ScriptedRig rig;
  rig.window.on_read = ready;
  rig.run([] { return FwhInit(nullptr); });
  const std::uint8_t source[] = {0xFF, 0x3C};
  UINT32 length = 2;
  EXPECT_EQ(rig.run([&] { return FwhWrite(0xFFE01FFE, source, &length, 0xFFE01000); }), EFI_SUCCESS);
  EXPECT_EQ(length, 2u);
  EXPECT_EQ(ops(rig.trace),
            (Ops{"w8 ffe01ffe 40", "w8 ffe01ffe ff", "w8 ffe01ffe 70", "r8 ffe01ffe", "w8 ffe01fff 40",
                 "w8 ffe01fff 3c", "w8 ffe01fff 70", "r8 ffe01fff", "w8 ffe01000 50", "w8 ffe01000 ff"}));
  length = 0;
  EXPECT_EQ(rig.run([&] { return FwhWrite(0xFFE01FFE, source, &length, 0xFFE01000); }), EFI_SUCCESS);
  EXPECT_EQ(ops(rig.trace), (Ops{"w8 ffe01000 50", "w8 ffe01000 ff"}));
}

TEST(FwhPolls, AreAbandonedAfter5MillionStatusLoads) {
  // The byte at 0xFFE00001 and the block at 0xFFE10000 never show ready.
  ScriptedRig rig(16);
  rig.window.on_read = [](std::uint32_t a) -> std::optional<std::uint8_t> {
    return a == 0xFFE00001 || a == 0xFFE10000 ? 0x7F : 0x80;
  };
  rig.run([] { return FwhInit(nullptr); });
  const std::uint8_t source[] = {0x01, 0x02, 0x03};
  UINT32 length = 3;
  EXPECT_EQ(rig.run([&] { return FwhWrite(0xFFE00000, source, &length, 0xFFE00000); }), EFI_DEVICE_ERROR);
  EXPECT_EQ(length, 1u);
  EXPECT_EQ(rig.window.reads[0xFFE00001], 5000000u);
  EXPECT_EQ(rig.window.stores, (Stores{
                                   {0xFFE00000, 0x40},
                                   {0xFFE00000, 0x01},
                                   {0xFFE00000, 0x70},
                                   {0xFFE00001, 0x40},
                                   {0xFFE00001, 0x02},
                                   {0xFFE00001, 0x70},
                                   {0xFFE00000, 0x50},
                                   {0xFFE00000, 0xFF}
  }));

  // The block erase gives up silently; the status is cleared and the next block still erased.
  rig.window.stores.clear();
  EXPECT_EQ(rig.run([] { return FwhErase(0xFFE10000, 0x20000); }), EFI_SUCCESS);
  EXPECT_EQ(rig.window.reads[0xFFE10000], 5000000u);
  EXPECT_EQ(rig.window.stores, (Stores{
                                   {0xFFE10000, 0x20},
                                   {0xFFE10000, 0xD0},
                                   {0xFFE10000, 0x70},
                                   {0xFFE10000, 0x50},
                                   {0xFFEC0000, 0xFF},
                                   {0xFFE20000, 0x20},
                                   {0xFFE20000, 0xD0},
                                   {0xFFE20000, 0x70},
                                   {0xFFE20000, 0x50},
                                   {0xFFEC0000, 0xFF}
  }));
}

}  // namespace
}  // namespace sim
