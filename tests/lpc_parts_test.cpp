// The simulated LPC parts on their own, driven through the seam as any firmware would: where each
// answers its identification, decode and aliasing, the BIOS write-enable gate, busy behaviour,
// block locks, status errors, power cycles, injected faults and the erase-unit variant.
#include <gtest/gtest.h>

#include "flash/DeviceTables.h"
#include "platform/HwAccess.h"
#include "sim/LpcSetup.h"

namespace sim {
namespace {

constexpr Nanos kUs = 1000, kMs = 1000 * kUs;

struct PartRig {
  explicit PartRig(const std::string& name, LpcProtection protection = LpcProtection::Cleared,
                   LpcDecode decode = LpcDecode::Aliased, std::string variant = {}) {
    part = &install_lpc_part(machine, LpcSetupOptions{name, decode, protection, false, std::move(variant)});
    machine.lpc().config_write(LpcBridge::kBiosCntl, Width::Byte, LpcBridge::kBiosWriteEnable);
  }
  // The seam reaches the part only inside a run.
  void run(const std::function<void()>& body) {
    Outcome o = machine.platform().run([&] {
      body();
      return EFI_SUCCESS;
    });
    ASSERT_EQ(o.kind, OutcomeKind::Returned) << o.to_string();
  }
  void wait(Nanos ns) { machine.platform().advance(ns); }

  Machine machine;
  LpcFlashPart* part = nullptr;
};

// `at`: where the part's offset 0 decodes (any alias of it in the default decode).
void jedec(std::uint8_t command, std::uint32_t at = 0xFFF00000) {
  MmioWrite8(at + 0x5555, 0xAA);
  MmioWrite8(at + 0x2AAA, 0x55);
  MmioWrite8(at + 0x5555, command);
}
void jedec_program(std::uint32_t address, std::uint8_t value) {
  jedec(0xA0);
  MmioWrite8(address, value);
}
void jedec_erase(std::uint32_t address, std::uint8_t command) {
  jedec(0x80);
  MmioWrite8(0xFFF05555, 0xAA);
  MmioWrite8(0xFFF02AAA, 0x55);
  MmioWrite8(address, command);
}

TEST(LpcParts, EachAnswersTheIdentificationWordOfItsTableRowWhereTheHardwareDoes) {
  ASSERT_EQ(lpc_parts().size(), LpcDeviceListLength);
  for (std::size_t i = 0; i < lpc_parts().size(); i++) {
    const LpcPartInfo& info = lpc_parts()[i];
    SCOPED_TRACE(std::string(info.name));
    EXPECT_EQ(info.name, std::string_view(LpcDeviceList[i].PartName));
    EXPECT_EQ(info.size, 1u << (16 + LpcDeviceList[i].SizeCode));
    std::uint16_t word = static_cast<std::uint16_t>(info.device_id << 8 | info.manufacturer_id);
    EXPECT_EQ(word, LpcDeviceList[i].Id);

    PartRig rig(std::string(info.name));
    rig.part->array()[0] = 0x12;
    rig.part->array()[1] = 0x34;
    std::uint32_t base = static_cast<std::uint32_t>(0x100000000ull - info.size);
    rig.run([&] {
      if (info.command_set == LpcCommandSet::Jedec) {
        jedec(0x90);
        EXPECT_EQ(MmioRead16(base), word);
        EXPECT_EQ(MmioRead16(0xFFF00000), word);  // an alias of array offset 0
        EXPECT_EQ(MmioRead16(0xFFBC0000), info.id_in_register_space ? word
                                          : info.has_register_space ? 0
                                                                    : 0xFFFF);
        MmioWrite8(0xFFF05555, 0xF0);
      } else {
        MmioWrite8(0xFFF00000, 0x90);
        EXPECT_EQ(MmioRead16(base), word);
        EXPECT_EQ(MmioRead16(0xFFBC0000), 0x0000);
        MmioWrite8(0xFFF00000, 0xFF);
      }
      EXPECT_EQ(MmioRead16(base), 0x3412);  // back to the array
    });
    EXPECT_EQ(rig.part->total_refusals(), 0u);

    // Decoded only at its own top range, the part answers from its first byte (and gives its
    // identification there) to 4 GiB; below it nothing answers, where an alias would read its top.
    PartRig top(std::string(info.name), LpcProtection::Cleared, LpcDecode::TopOnly);
    top.part->array()[0] = 0x12;
    top.part->array()[info.size - 1] = 0x34;
    top.run([&] {
      EXPECT_EQ(MmioRead8(base), 0x12);
      EXPECT_EQ(MmioRead8(0xFFFFFFFF), 0x34);
      EXPECT_EQ(MmioRead8(base - 1), 0xFF);
      if (info.command_set == LpcCommandSet::Jedec) {
        jedec(0x90, base);
      } else {
        MmioWrite8(base, 0x90);
      }
      EXPECT_EQ(MmioRead16(base), word);
      EXPECT_EQ(MmioRead16(base - 2), 0xFFFF);
    });
    EXPECT_EQ(top.part->total_refusals(), 0u);
  }
}

TEST(LpcParts, SmallPartsAliasThroughTheWindowOrDecodeOnlyTheirTopRange) {
  PartRig aliased("49LF004A");
  aliased.run([] { jedec_program(0xFFE00123, 0x5A); });  // 512 KiB part: offset 0x123
  aliased.wait(kMs);
  aliased.run([] {
    for (std::uint32_t alias : {0xFFC00123u, 0xFFE80123u, 0xFFF80123u}) EXPECT_EQ(MmioRead8(alias), 0x5A);
  });
  EXPECT_EQ(aliased.part->array()[0x123], 0x5A);

  // A 1 MiB part decoded only at its top range still sees the unlock cycles at 0xFFF0xxxx but not
  // a data cycle below; it goes on waiting for data, and programs the next byte it sees.
  PartRig top("49LF008A", LpcProtection::Cleared, LpcDecode::TopOnly);
  top.run([] {
    jedec_program(0xFFE00123, 0x5A);
    EXPECT_EQ(MmioRead8(0xFFE00123), 0xFF);
    jedec_program(0xFFF00123, 0x5A);
  });
  EXPECT_EQ(top.part->refusals(LpcRefusal::Undecoded), 1u);
  EXPECT_EQ(top.part->array()[0x5555], 0xAA);
  EXPECT_EQ(top.part->array()[0x123], 0xFF);
  // A 512 KiB part decoded that way never sees the unlock cycles at all.
  PartRig small_top("49LF004A", LpcProtection::Cleared, LpcDecode::TopOnly);
  small_top.run([] { jedec_program(0xFFF80123, 0x5A); });
  EXPECT_EQ(small_top.part->refusals(LpcRefusal::Undecoded), 3u);
  EXPECT_EQ(small_top.part->array()[0x123], 0xFF);
}

TEST(LpcParts, JedecProgramTogglesDq6WhileBusyOnlyClearsBitsAndNeedsBiosWriteEnable) {
  PartRig rig("49FL004T");  // 25 us per byte
  rig.part->array()[0x40] = 0xF0;
  rig.run([&] {
    jedec_program(0xFFF80040, 0x3F);
    std::uint8_t a = MmioRead8(0xFFF80040), b = MmioRead8(0xFFF80040);
    EXPECT_EQ(a ^ b, 0x40);           // DQ6 toggles on every read
    EXPECT_EQ(a & 0x80, 0x80);        // DQ7: complement of the programmed bit 7
    jedec_program(0xFFF80041, 0x00);  // ignored while busy
    rig.wait(25 * kUs);
    EXPECT_EQ(MmioRead8(0xFFF80040), 0x30);  // F0 & 3F
  });
  EXPECT_EQ(rig.part->array()[0x41], 0xFF);
  EXPECT_GE(rig.part->refusals(LpcRefusal::Busy), 1u);

  rig.machine.lpc().config_write(LpcBridge::kBiosCntl, Width::Byte, 0);
  rig.run([] { jedec_program(0xFFF80042, 0x00); });
  EXPECT_EQ(rig.part->array()[0x42], 0xFF);
  EXPECT_EQ(rig.part->refusals(LpcRefusal::WriteDisabled), 4u);
}

TEST(LpcParts, JedecEraseTakesItsTimeAndItsUnitOnly) {
  // The Winbond part erases 64 KiB with 30h and 4 KiB with 50h; its variant the other way round.
  for (bool variant : {false, true}) {
    PartRig rig("39V040FPA", LpcProtection::Cleared, LpcDecode::Aliased, variant ? "30h-sector" : "");
    std::fill(rig.part->array().begin(), rig.part->array().end(), 0x00);
    rig.run([&] {
      jedec_erase(0xFFF91234, 0x30);  // any address inside the unit selects it
      rig.wait(24 * kMs);
      EXPECT_EQ(MmioRead8(0xFFF91000) & 0x80, 0);  // still busy: DQ7 reads 0
      rig.wait(kMs);
      EXPECT_EQ(MmioRead32(0xFFF91000), 0xFFFFFFFFu);
      jedec_erase(0xFFFC0000, 0x50);
    });
    const auto& a = rig.part->array();
    EXPECT_EQ(std::count(a.begin() + 0x10000, a.begin() + 0x20000, 0xFF), variant ? 0x1000 : 0x10000);
    EXPECT_EQ(a[0x11000], 0xFF);
    EXPECT_EQ(std::count(a.begin() + 0x40000, a.begin() + 0x50000, 0xFF), variant ? 0x10000 : 0x1000);
  }
  EXPECT_THROW(PartRig("49LF008A", LpcProtection::Cleared, LpcDecode::Aliased, "30h-sector"),
               std::invalid_argument);
}

TEST(LpcParts, PowerOnBlockLocksRefuseCommandsUntilTheLockRegisterIsCleared) {
  PartRig rig("49LF008A", LpcProtection::PowerOn);
  rig.part->array()[0xE0000] = 0x00;
  rig.run([] {
    EXPECT_EQ(MmioRead8(0xFFBF0002), 0x01);  // lock register of the top block
    jedec_program(0xFFFF0000, 0x00);
    EXPECT_EQ(MmioRead8(0xFFFF0000), 0xFF);  // ignored: no busy time, data unchanged
    jedec_erase(0xFFFE0000, 0x50);           // the block below is locked too
    MmioWrite8(0xFFBF0002, 0x00);
    jedec_program(0xFFFF0000, 0x00);
    MmioWrite8(0xFFBE0002, 0x03);  // locked down until the next power-up
    MmioWrite8(0xFFBE0002, 0x00);
  });
  EXPECT_EQ(rig.part->refusals(LpcRefusal::Locked), 2u);
  EXPECT_EQ(rig.part->refusals(LpcRefusal::LockedDown), 1u);
  EXPECT_EQ(rig.part->array()[0xF0000], 0x00);
  EXPECT_EQ(rig.part->array()[0xE0000], 0x00);
  EXPECT_EQ(rig.part->counters().block_erases, 0u);
  rig.machine.power_cycle();
  EXPECT_EQ(rig.part->lock(0xE), 0x01);
  EXPECT_EQ(rig.part->lock(0xF), 0x01);
}

TEST(LpcParts, FirmwareHubErrorsStayUntilClearStatus) {
  PartRig rig("82802AC", LpcProtection::PowerOn);
  rig.part->set_lock(0xF, 0x00);  // the top block unlocked, the rest as at power-on
  rig.run([&] {
    MmioWrite8(0xFFFE0000, 0x20);
    MmioWrite8(0xFFFE0000, 0xD0);  // locked block
    EXPECT_EQ(MmioRead8(0xFFFE0000), 0x80 | 0x20 | 0x02);
    MmioWrite8(0xFFFF0000, 0x50);
    MmioWrite8(0xFFFE0000, 0x40);
    MmioWrite8(0xFFFE0000, 0x00);  // locked block
    EXPECT_EQ(MmioRead8(0xFFFE0000), 0x80 | 0x10 | 0x02);
    MmioWrite8(0xFFFF0000, 0x40);
    MmioWrite8(0xFFFF0000, 0x00);  // unlocked, but the error bits are still set
    EXPECT_EQ(MmioRead8(0xFFFF0000) & 0x10, 0x10);
    MmioWrite8(0xFFFF0000, 0x50);
    MmioWrite8(0xFFFF0000, 0x40);
    MmioWrite8(0xFFFF0000, 0x00);
    MmioWrite8(0xFFFF0000, 0x70);            // accepted while busy
    EXPECT_EQ(MmioRead8(0xFFFF0000), 0x00);  // busy, no errors
    rig.wait(10 * kUs);
    EXPECT_EQ(MmioRead8(0xFFFF0000), 0x80);
    MmioWrite8(0xFFFF0000, 0xFF);
    EXPECT_EQ(MmioRead8(0xFFFF0000), 0x00);
  });
  EXPECT_EQ(rig.part->refusals(LpcRefusal::Locked), 2u);
  EXPECT_EQ(rig.part->refusals(LpcRefusal::StatusError), 1u);
  EXPECT_EQ(rig.part->array()[0xE0000], 0xFF);
  // A reset clears them too.
  rig.run([] {
    MmioWrite8(0xFFFF0000, 0x20);
    MmioWrite8(0xFFFF0000, 0x00);  // an improper sequence
  });
  rig.machine.power_cycle();
  rig.machine.lpc().config_write(LpcBridge::kBiosCntl, Width::Byte, LpcBridge::kBiosWriteEnable);
  rig.run([] {
    MmioWrite8(0xFFFF0000, 0x70);
    EXPECT_EQ(MmioRead8(0xFFFF0000), 0x80);
  });
}

TEST(LpcParts, StuckBusyNeverCompletesAndAPowerCycleLeavesTheEraseHalfDone) {
  PartRig rig("50FLW040A");
  rig.part->inject_stuck_busy(1);  // the second operation hangs
  std::fill_n(rig.part->array().begin() + 0x10000, 0x10000, 0x00);
  rig.run([&] {
    MmioWrite8(0xFFF80000, 0x40);
    MmioWrite8(0xFFF80000, 0x55);
    rig.wait(kMs);
    EXPECT_EQ(MmioRead8(0xFFF80000), 0x80);
    MmioWrite8(0xFFF90000, 0x20);
    MmioWrite8(0xFFF90000, 0xD0);
    rig.wait(10000 * kMs);
    EXPECT_EQ(MmioRead8(0xFFF90000), 0x00);
  });
  rig.machine.power_cycle();  // cuts the erase short: each bit of the block reads 0 (old) or 1
  EXPECT_FALSE(rig.part->busy());
  EXPECT_EQ(rig.part->array()[0x0], 0x55);
  const auto block = rig.part->array().begin() + 0x10000;
  EXPECT_GT(std::count(block, block + 0x10000, 0x00), 0) << "some bytes still old";
  EXPECT_LT(std::count(block, block + 0x10000, 0x00) + std::count(block, block + 0x10000, 0xFF), 0x10000)
      << "some bytes half erased";
  EXPECT_EQ(rig.part->lock(0), 0x00);                       // cleared again by the firmware that runs first
  rig.run([] { EXPECT_EQ(MmioRead8(0xFFF80000), 0x55); });  // array mode after power-up
}

// JEDEC command rules, per part of the family: a command counts only after AAh at 5555h and 55h
// at 2AAAh, with the command byte at 5555h; erase repeats both unlock cycles before its confirm,
// and only 30h and 50h confirm. Whatever the broken sequence, the data write after it changes
// nothing.
class JedecPartRules : public testing::TestWithParam<const char*> {};

TEST_P(JedecPartRules, CommandsNeedBothUnlockCyclesAtTheirAddresses) {
  PartRig rig(GetParam());
  std::uint32_t mask = static_cast<std::uint32_t>(rig.part->array().size()) - 1;
  std::fill(rig.part->array().begin(), rig.part->array().end(), 0xFF);
  rig.part->array()[0xFFFF0000 & mask] = 0x00;  // erased by an accepted sector erase
  using Cycles = std::vector<std::pair<std::uint32_t, std::uint8_t>>;
  std::vector<Cycles> broken;
  broken.push_back({
      {0xFFF05555, 0xAA},
      {0xFFF02AAA, 0x55},
      {0xFFF02AAA, 0xA0},
      {0xFFFF1000, 0x00}
  });  // A0h at 2AAAh
  broken.push_back({
      {0xFFF05555, 0xAA},
      {0xFFF05555, 0x55},
      {0xFFF05555, 0xA0},
      {0xFFFF1000, 0x00}
  });  // 55h at 5555h
  broken.push_back({
      {0xFFF02AAA, 0xAA},
      {0xFFF02AAA, 0x55},
      {0xFFF05555, 0xA0},
      {0xFFFF1000, 0x00}
  });  // AAh at 2AAAh
  broken.push_back({
      {0xFFF05555, 0x55},
      {0xFFF02AAA, 0xAA},
      {0xFFF05555, 0xA0},
      {0xFFFF1000, 0x00}
  });  // swapped
  // Sector erase without the second 55h.
  broken.push_back({
      {0xFFF05555, 0xAA},
      {0xFFF02AAA, 0x55},
      {0xFFF05555, 0x80},
      {0xFFF05555, 0xAA},
      {0xFFFF0000, 0x30}
  });
  std::uint64_t refused = 0;
  for (const Cycles& cycles : broken) {
    rig.run([&] {
      for (auto [address, value] : cycles) MmioWrite8(address, value);
      MmioWrite8(0xFFF05555, 0xF0);  // back to reading, whatever state the part is in
    });
    EXPECT_GT(rig.part->refusals(LpcRefusal::BadSequence), refused) << cycles.size();
    refused = rig.part->refusals(LpcRefusal::BadSequence);
  }
  // Chip erase (10h) does not exist on the LPC bus.
  rig.run([] { jedec_erase(0xFFFF0000, 0x10); });
  EXPECT_EQ(rig.part->refusals(LpcRefusal::UnknownCommand), 1u);
  EXPECT_EQ(rig.part->array()[0xFFFF1000 & mask], 0xFF);
  EXPECT_EQ(rig.part->array()[0xFFFF0000 & mask], 0x00);
  EXPECT_EQ(rig.part->counters().bytes_programmed + rig.part->counters().sector_erases +
                rig.part->counters().block_erases,
            0u);
}

INSTANTIATE_TEST_SUITE_P(Parts, JedecPartRules, testing::Values("49LF008A", "49FL004T", "39VF080"));

// Firmware-hub command rules: block erase 20h counts only with D0h right after it; anything else
// is an improper sequence that sets both error bits, which then refuse every program or erase
// until clear status (50h). A command byte the part does not know is ignored.
class FwhPartRules : public testing::TestWithParam<const char*> {};

TEST_P(FwhPartRules, EraseNeedsItsConfirmAndErrorsAreSticky) {
  PartRig rig(GetParam());
  std::fill(rig.part->array().begin(), rig.part->array().end(), 0x00);
  std::uint32_t mask = static_cast<std::uint32_t>(rig.part->array().size()) - 1;
  rig.run([&] {
    MmioWrite8(0xFFFF0000, 0x20);
    MmioWrite8(0xFFFF0000, 0xFF);  // not the confirm
    EXPECT_EQ(MmioRead8(0xFFFF0000) & 0x30, 0x30);
    // Read array, identifier, a command the part does not know and read status leave them set.
    for (std::uint8_t command : {0xFF, 0x90, 0x60, 0x70}) {
      MmioWrite8(0xFFFF0000, command);
      MmioWrite8(0xFFFF0000, 0x70);
      EXPECT_EQ(MmioRead8(0xFFFF0000) & 0x30, 0x30) << int{command};
    }
    MmioWrite8(0xFFFF0000, 0x20);
    MmioWrite8(0xFFFF0000, 0xD0);  // refused while the error bits stand
    MmioWrite8(0xFFFF0000, 0x50);
    MmioWrite8(0xFFFF0000, 0xFF);
  });
  EXPECT_EQ(rig.part->refusals(LpcRefusal::BadSequence), 1u);
  EXPECT_EQ(rig.part->refusals(LpcRefusal::StatusError), 1u);
  EXPECT_EQ(rig.part->refusals(LpcRefusal::UnknownCommand), 1u);
  EXPECT_EQ(rig.part->array()[0xFFFF0000 & mask], 0x00);
  EXPECT_EQ(rig.part->counters().bytes_programmed + rig.part->counters().sector_erases +
                rig.part->counters().block_erases,
            0u);

  // While the erase runs only read status (70h) is taken; a program command is refused. The dword
  // store reaches the part as four byte cycles, lowest address first: 20h, D0h (the erase starts),
  // then two read-status commands.
  rig.run([] {
    MmioWrite32(0xFFFE0000, 0x7070D020);
    MmioWrite8(0xFFFF0000, 0x40);
    MmioWrite8(0xFFFF0000, 0x5A);
    MmioWrite8(0xFFFF0000, 0x70);
  });
  EXPECT_EQ(rig.part->refusals(LpcRefusal::Busy), 2u);
  EXPECT_EQ(rig.part->counters().block_erases, 1u);
  EXPECT_EQ(rig.part->counters().bytes_programmed, 0u);
}

INSTANTIATE_TEST_SUITE_P(Parts, FwhPartRules, testing::Values("82802AC", "50FLW040A"));

}  // namespace
}  // namespace sim
