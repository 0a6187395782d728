// The JEDEC and array-ID operation sets against a scripted flash window: command sequences and
// loads of probe, erase and write, the erase unit choice, the poll bounds, and how write shortens
// its length on failure.
#include <gtest/gtest.h>

#include <cstring>

#include "flash/DeviceTables.h"
#include "flash/lpc/JedecFlash.h"
#include "flash/lpc/LpcServices.h"
#include "tests/lpc_test_support.h"

namespace sim {
namespace {

const Ops kUnlock = {"w8 fff05555 aa", "w8 fff02aaa 55"};

Ops concat(std::initializer_list<Ops> parts) {
  Ops out;
  for (const Ops& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// One unit erase at `unit` that completes at the first poll.
Ops unit_erase(std::uint32_t unit, const char* command) {
  char u[9];
  std::snprintf(u, sizeof u, "%08x", unit);
  std::string a = u;
  return concat({
      kUnlock, {"w8 fff05555 80"},
       kUnlock, { "w8 " + a + " " + command, "r8 " + a, "r8 " + a, "r32 " + a}
  });
}

// Reads erased wherever it is read, whatever was stored.
std::optional<std::uint8_t> erased(std::uint32_t) { return 0xFF; }

TEST(JedecProbe, BothSetsSendTheIdSequenceAndAlwaysLeaveIdMode) {
  ScriptedRig rig;
  rig.window.cells = {
      {0xFFBC0000, 0xBF},
      {0xFFBC0001, 0x5A},
      {0xFFF00000, 0xBF},
      {0xFFF00001, 0xD8}
  };
  rig.run([] { return JedecInit(nullptr) | JedecArrayIdInit(nullptr); });
  const Ops jedec = concat({
      kUnlock, {"w8 fff05555 90", "r16 ffbc0000", "w8 fff05555 f0"}
  });
  EXPECT_EQ(rig.run([] { return JedecProbe(0xABCD5ABF); }), EFI_SUCCESS);  // low 16 bits compared
  EXPECT_EQ(ops(rig.trace), jedec);
  EXPECT_EQ(rig.run([] { return JedecProbe(0x5ABE); }), EFI_UNSUPPORTED);
  EXPECT_EQ(ops(rig.trace), jedec);
  EXPECT_EQ(rig.run([] { return JedecArrayIdProbe(0xD8BF); }), EFI_SUCCESS);
  EXPECT_EQ(ops(rig.trace), concat({
                                kUnlock, {"w8 fff05555 90", "r16 fff00000", "w8 fff05555 f0"}
  }));
}

TEST(JedecErase, OneUnitSizePerCallUpwardsAndNothingForPartialSectors) {
  struct Case {
    std::uint32_t length, units, unit_size;
    const char* command;
  };
  for (const Case& c : {
           Case{0x1000,  1,  0x1000,  "30"},
           Case{0x10000, 1,  0x10000, "50"},
           Case{0x20000, 2,  0x10000, "50"},
           Case{0x11000, 17, 0x1000,  "30"}
  }) {
    ScriptedRig rig;
    rig.window.on_read = erased;
    rig.run([] { return JedecInit(nullptr); });
    EXPECT_EQ(rig.run([&] { return JedecErase(0xFFE20000, c.length); }), EFI_SUCCESS);
    Ops expected;
    for (std::uint32_t i = 0; i < c.units; i++)
      expected = concat({expected, unit_erase(0xFFE20000 + i * c.unit_size, c.command)});
    EXPECT_EQ(ops(rig.trace), expected) << c.length;
    for (std::uint32_t bad : {0u, 0x800u, 0x10800u}) {
      EXPECT_EQ(rig.run([&] { return JedecErase(0xFFE00000, bad); }), EFI_INVALID_PARAMETER);
      EXPECT_TRUE(rig.trace.accesses().empty());
    }
  }
}

TEST(JedecErase, GivesUpAUnitAfter50001PollsAndGoesOn) {
  // DQ6 toggling for ever: no 32-bit load is ever made.
  ScriptedRig rig;
  std::uint8_t toggle = 0;
  rig.window.on_read = [&](std::uint32_t a) -> std::optional<std::uint8_t> {
    return a == 0xFFE00000 ? (toggle ^= 0x40) : 0xFF;
  };
  rig.run([] { return JedecInit(nullptr); });
  EXPECT_EQ(rig.run([] { return JedecErase(0xFFE00000, 0x2000); }), EFI_SUCCESS);
  EXPECT_EQ(rig.window.reads[0xFFE00000], 1u + 50001u);
  EXPECT_EQ(rig.window.reads[0xFFE00001], 0u);
  EXPECT_EQ(rig.window.reads[0xFFE01000], 3u);  // the next sector, done at its first poll

  // DQ6 still but the unit not erased: each poll adds the 32-bit load.
  rig.window.on_read = [](std::uint32_t) -> std::optional<std::uint8_t> { return 0x00; };
  rig.window.reads.clear();
  EXPECT_EQ(rig.run([] { return JedecErase(0xFFE00000, 0x1000); }), EFI_SUCCESS);
  EXPECT_EQ(rig.window.reads[0xFFE00000], 1u + 2 * 50001u);
  EXPECT_EQ(rig.window.reads[0xFFE00003], 50001u);
}

TEST(JedecWrite, ProgramsOnlyBytesThatDifferAndVerifiesEach) {
  ScriptedRig rig;
  rig.run([] { return JedecInit(nullptr); });
  const std::uint8_t source[] = {0xFF, 0x12, 0xFF};
  UINT32 length = 3;
  EXPECT_EQ(rig.run([&] { return JedecWrite(0xFFE00010, source, &length, 0xFFE00000); }), EFI_SUCCESS);
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(
      ops(rig.trace),
      concat({
          {"r8 ffe00010",  "r8 ffe00011"},
          kUnlock,
          { "w8 fff05555 a0", "w8 ffe00011 12", "r8 ffe00011", "r8 ffe00011", "r8 ffe00011", "r8 ffe00012"}
  }));
  length = 0;
  EXPECT_EQ(rig.run([&] { return JedecWrite(0xFFE00010, source, &length, 0xFFE00000); }), EFI_SUCCESS);
  EXPECT_TRUE(rig.trace.accesses().empty());
}

TEST(JedecWrite, VerifyMismatchOrToggleGiveUpStopsWithTheBytesDone) {
  const std::uint8_t source[] = {0x11, 0x22, 0x33};
  // A cell stuck at 00h.
  ScriptedRig stuck;
  stuck.window.on_read = [](std::uint32_t a) -> std::optional<std::uint8_t> {
    return a == 0xFFE00001 ? std::optional<std::uint8_t>(0x00) : std::nullopt;
  };
  stuck.run([] { return JedecInit(nullptr); });
  UINT32 length = 3;
  EXPECT_EQ(stuck.run([&] { return JedecWrite(0xFFE00000, source, &length, 0xFFE00000); }), EFI_DEVICE_ERROR);
  EXPECT_EQ(length, 1u);
  EXPECT_EQ(stuck.window.cells[0xFFE00000], 0x11);
  EXPECT_EQ(stuck.window.cells.count(0xFFE00002), 0u);

  // A byte that reads 00h (so it is programmed), then toggles DQ6 so that the load after the
  // give-up happens to show the source value: still a failure.
  ScriptedRig toggling;
  std::uint64_t n = 0;
  toggling.window.on_read = [&](std::uint32_t a) -> std::optional<std::uint8_t> {
    if (a != 0xFFE00001) return std::nullopt;
    return ++n == 1 ? 0x00 : n % 2 == 1 ? 0x22 : 0x62;
  };
  toggling.run([] { return JedecInit(nullptr); });
  length = 3;
  EXPECT_EQ(toggling.run([&] { return JedecWrite(0xFFE00000, source, &length, 0xFFE00000); }),
            EFI_DEVICE_ERROR);
  EXPECT_EQ(length, 1u);
  EXPECT_EQ(toggling.window.reads[0xFFE00001], 1u + 1u + 50000u + 1u);  // compare, previous, polls, verify
  EXPECT_EQ(toggling.window.reads.count(0xFFE00002), 0u);
}

TEST(JedecInit, AllocatesOnceThroughTheContextAndTheSetsDifferOnlyInIdAddress) {
  static std::vector<VOID**> references;
  static UINT64 storage[4];
  references.clear();
  LPC_ALLOCATION_CONTEXT context = {[](EFI_MEMORY_TYPE type, UINTN size, VOID** buffer) -> EFI_STATUS {
    EXPECT_EQ(type, EfiRuntimeServicesData);
    EXPECT_EQ(size, sizeof(JedecCommandBlock));
    references.push_back(buffer);
    *buffer = &storage[2 * (references.size() - 1)];
    return EFI_SUCCESS;
  }};
  ScriptedRig rig;
  rig.run([&] { return JedecInit(&context); });
  JedecCommandBlock first = *JedecCommands;
  rig.run([&] { return JedecInit(&context) | JedecInit(nullptr) | JedecArrayIdInit(&context); });
  ASSERT_EQ(references, (std::vector<VOID**>{reinterpret_cast<VOID**>(&JedecCommands),
                                             reinterpret_cast<VOID**>(&JedecArrayIdCommands)}));
  EXPECT_EQ(std::memcmp(&first, JedecCommands, sizeof first), 0);
  EXPECT_EQ(first.Initialized, 1);
  EXPECT_EQ(first.Converted, 0);
  EXPECT_EQ(first.UnlockAddress1, 0xFFF05555u);
  EXPECT_EQ(first.UnlockAddress2, 0xFFF02AAAu);
  EXPECT_EQ(first.IdAddress, 0xFFBC0000u);
  JedecCommandBlock array_id = *JedecArrayIdCommands;
  EXPECT_EQ(array_id.IdAddress, 0xFFF00000u);
  array_id.IdAddress = first.IdAddress;
  EXPECT_EQ(std::memcmp(&array_id, &first, sizeof first), 0);
}

TEST(JedecArrayId, EraseAndWriteOfItsRowUseTheJedecSetsUnlockAddresses) {
  ScriptedRig rig;
  rig.window.on_read = erased;
  rig.run([] { return JedecInit(nullptr) | JedecArrayIdInit(nullptr); });
  JedecArrayIdCommands->UnlockAddress1 = 0xFFF0AAAA;  // would show if erase or write used it
  JedecArrayIdCommands->UnlockAddress2 = 0xFFF05554;
  const FlashDeviceOps* row = LpcDeviceList[6].Ops;
  ASSERT_EQ(row, &gJedecArrayIdDeviceOps);
  EXPECT_EQ(rig.run([&] { return row->Erase(0xFFE00000, 0x1000); }), EFI_SUCCESS);
  EXPECT_EQ(ops(rig.trace), unit_erase(0xFFE00000, "30"));
  rig.window.on_read = nullptr;
  const std::uint8_t source[] = {0x5A};
  UINT32 length = 1;
  EXPECT_EQ(rig.run([&] { return row->Write(0xFFE00000, source, &length, 0xFFE00000); }), EFI_SUCCESS);
  EXPECT_EQ(ops(rig.trace),
            concat({
                {"r8 ffe00000" },
                kUnlock,
                { "w8 fff05555 a0", "w8 ffe00000 5a", "r8 ffe00000", "r8 ffe00000", "r8 ffe00000"}
  }));
}

// Every LPC family reads through its table slot with byte loads from the window, in address order
// and once each (the part must be in array mode; the read sends no command).
TEST(LpcRead, EveryFamilyCopiesTheWindowOneByteLoadEach) {
  for (UINT32 row : {0u, 1u, 6u}) {
    ScriptedRig rig;
    rig.window.cells = {
        {0xFFF00010, 0x11},
        {0xFFF00011, 0x22},
        {0xFFF00012, 0x33}
    };
    std::uint8_t out[3] = {};
    EXPECT_EQ(rig.run([&] { return LpcDeviceList[row].Ops->Read(out, 0xFFF00010, 3); }), EFI_SUCCESS);
    EXPECT_EQ(out[0] | out[1] << 8 | out[2] << 16, 0x332211) << row;
    EXPECT_EQ(ops(rig.trace), (Ops{"r8 fff00010", "r8 fff00011", "r8 fff00012"})) << row;
  }
}

}  // namespace
}  // namespace sim
