// The simulated SPI flash parts on their bus face: identification, write-enable rules, program and
// erase semantics, each protection scheme, busy behaviour and power cycles.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/devices/LpcFlashPart.h"
#include "sim/devices/PartVariants.h"
#include "sim/devices/SpiFlashPart.h"
#include "sim/devices/SpiHostController.h"
#include "sim/devices/SpiPartCatalog.h"

namespace sim {
namespace {

constexpr Nanos kSecond = 1'000'000'000;

// Drives a part as the controller would, one chip-select period at a time, with time moving on
// far enough that every operation has finished unless `at` says otherwise.
struct Bus {
  explicit Bus(const char* name, const char* variant = nullptr) : part(traits(name, variant)) {}
  static SpiPartTraits traits(const char* name, const char* variant) {
    SpiPartTraits s = *find_spi_part(name);
    if (variant != nullptr) apply_spi_variant(s, variant);
    return s;
  }
  std::vector<std::uint8_t> cmd(std::vector<std::uint8_t> out, std::size_t in_len = 0) {
    std::vector<std::uint8_t> in(in_len);
    now = std::max(now, part.busy_until()) + 1000;
    part.transfer(now, out.data(), out.size(), in.data(), in.size());
    return in;
  }
  std::uint8_t status() { return cmd({0x05}, 1)[0]; }
  void wren() { cmd({0x06}); }
  void program(std::uint32_t a, std::vector<std::uint8_t> data) {
    std::vector<std::uint8_t> out = {0x02, std::uint8_t(a >> 16), std::uint8_t(a >> 8), std::uint8_t(a)};
    out.insert(out.end(), data.begin(), data.end());
    cmd(out);
  }
  void erase(std::uint8_t op, std::uint32_t a) {
    cmd({op, std::uint8_t(a >> 16), std::uint8_t(a >> 8), std::uint8_t(a)});
  }
  std::uint64_t refused(SpiRefusal r) const { return part.counters().refused(r); }
  SpiFlashPart part;
  Nanos now = 0;
};

TEST(SimSpiPart, IdentificationAsEachCommandAnswers) {
  Bus winbond("25X16");
  EXPECT_EQ(winbond.cmd({0x9F}, 3), (std::vector<std::uint8_t>{0xEF, 0x30, 0x15}));
  EXPECT_EQ(winbond.cmd({0xAB, 0, 0, 0}, 2), (std::vector<std::uint8_t>{0x14, 0x14}));

  Bus sst("25LF040A");
  EXPECT_EQ(sst.cmd({0x9F}, 3), (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF})) << "no JEDEC ID";
  EXPECT_EQ(sst.cmd({0x90, 0, 0, 0}, 4), (std::vector<std::uint8_t>{0xBF, 0x44, 0xBF, 0x44}));
  EXPECT_EQ(sst.cmd({0x90, 0, 0, 1}, 2), (std::vector<std::uint8_t>{0x44, 0xBF}));

  // The PMC part answers ABh after three dummy bytes, as RES does; its variant right away.
  Bus pmc("25LV040");
  EXPECT_EQ(pmc.cmd({0xAB}, 5), (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0x9D, 0x7E}));
  EXPECT_EQ(pmc.cmd({0xAB, 0, 0, 0}, 2), (std::vector<std::uint8_t>{0x9D, 0x7E}));
  Bus pmc_variant("25LV040", "res-without-dummy");
  EXPECT_EQ(pmc_variant.cmd({0xAB}, 2), (std::vector<std::uint8_t>{0x9D, 0x7E}));
}

TEST(SimSpiPart, ProgramNeedsWriteEnableAndOnlyClearsBits) {
  Bus b("25Q16");
  b.part.array()[0x100] = 0xF0;
  b.program(0x100, {0x0F});
  EXPECT_EQ(b.part.array()[0x100], 0xF0);
  EXPECT_EQ(b.refused(SpiRefusal::NoWriteEnable), 1u);

  b.wren();
  EXPECT_EQ(b.status() & 0x02, 0x02);
  b.program(0x100, {0x3C});
  EXPECT_EQ(b.part.array()[0x100], 0x30) << "old AND new";
  EXPECT_EQ(b.status() & 0x03, 0x00) << "WEL cleared when the program completed";
  b.program(0x100, {0x00});
  EXPECT_EQ(b.part.array()[0x100], 0x30) << "WEL is needed again";
}

TEST(SimSpiPart, PageProgramWrapsInsideThePage) {
  Bus b("25X16");
  std::fill(b.part.array().begin(), b.part.array().end(), 0xFF);
  b.wren();
  b.program(0x1FE, {1, 2, 3, 4});
  EXPECT_EQ(b.part.array()[0x1FE], 1);
  EXPECT_EQ(b.part.array()[0x1FF], 2);
  EXPECT_EQ(b.part.array()[0x100], 3) << "wrapped to the start of the page";
  EXPECT_EQ(b.part.array()[0x101], 4);
  EXPECT_EQ(b.part.array()[0x200], 0xFF);

  // More than a page: only the last 256 bytes are programmed.
  std::vector<std::uint8_t> data(300);
  for (std::size_t i = 0; i < data.size(); i++) data[i] = static_cast<std::uint8_t>(i);
  b.wren();
  b.program(0x400, data);
  EXPECT_EQ(b.part.array()[0x400], 0) << "byte 44 lands at column 44, byte 256 wraps to column 0";
  EXPECT_EQ(b.part.array()[0x400 + 43], 43);
  EXPECT_EQ(b.part.array()[0x400 + 44], 44);
  EXPECT_EQ(b.part.counters().programmed_bytes, 4u + 256u);
}

TEST(SimSpiPart, SstProgramsOneBytePerCommand) {
  Bus b("25VF016B");
  b.part.clear_protection();
  std::fill(b.part.array().begin(), b.part.array().end(), 0xFF);
  b.wren();
  b.program(0x10, {0x11, 0x22, 0x33});
  EXPECT_EQ(b.part.array()[0x10], 0x11);
  EXPECT_EQ(b.part.array()[0x11], 0xFF);
  EXPECT_EQ(b.part.counters().programmed_bytes, 1u);
}

TEST(SimSpiPart, EraseSetsTheAlignedUnitAndRefusesWhileBusy) {
  Bus b("25X16");
  std::fill(b.part.array().begin(), b.part.array().end(), 0x00);
  b.wren();
  b.erase(0x20, 0x1234);
  Nanos erase_started = b.now;
  EXPECT_EQ(b.part.busy_until() - erase_started, 100'000'000u);
  // Anything but a status read while the erase runs is ignored.
  std::vector<std::uint8_t> in(1);
  std::uint8_t wren = 0x06, rdsr = 0x05;
  b.part.transfer(erase_started + 1000, &wren, 1, nullptr, 0);
  b.part.transfer(erase_started + 2000, &rdsr, 1, in.data(), 1);
  EXPECT_EQ(in[0] & 0x01, 0x01);
  EXPECT_EQ(b.refused(SpiRefusal::Busy), 1u);
  for (std::uint32_t a = 0x1000; a < 0x2000; a++) ASSERT_EQ(b.part.array()[a], 0xFF);
  EXPECT_EQ(b.part.array()[0x0FFF], 0x00);
  EXPECT_EQ(b.part.array()[0x2000], 0x00);
}

TEST(SimSpiPart, Macronix3205ASectorEraseClears64KiBAndItsDVariant4KiB) {
  for (bool variant : {false, true}) {
    Bus b("25L3205A", variant ? "25L3205D" : nullptr);
    std::fill(b.part.array().begin(), b.part.array().end(), 0x00);
    b.wren();
    b.erase(0x20, 0x21000);
    EXPECT_EQ(b.part.counters().erased_bytes, variant ? 0x1000u : 0x10000u);
    EXPECT_EQ(b.part.array()[0x20000], variant ? 0x00 : 0xFF);
    EXPECT_EQ(b.part.array()[0x21000], 0xFF);
  }
}

TEST(SimSpiPart, BlockProtectBitsProtectTheTopOfTheArray) {
  Bus b("25X16");
  b.wren();
  b.cmd({0x01, 0x04});  // BP level 1: top 64 KiB
  EXPECT_EQ(b.status() & 0x1C, 0x04);
  b.wren();
  b.erase(0x20, 0x1F0000);
  EXPECT_EQ(b.refused(SpiRefusal::Protected), 1u);
  b.wren();
  b.erase(0x20, 0x1E0000);
  EXPECT_EQ(b.part.counters().erases, 1u);
  b.wren();
  b.cmd({0x01, 0x1C});  // everything
  b.wren();
  b.program(0, {0});
  EXPECT_EQ(b.refused(SpiRefusal::Protected), 2u);
}

TEST(SimSpiPart, SstStatusWriteNeedsEwsrImmediatelyBefore) {
  Bus b("25LF040A");
  EXPECT_EQ(b.status() & 0x0C, 0x0C) << "protected at power-up";
  b.wren();
  b.cmd({0x01, 0x00});
  EXPECT_EQ(b.refused(SpiRefusal::NoWriteEnable), 1u) << "this part takes EWSR only";
  b.cmd({0x50});
  b.cmd({0x05}, 1);  // anything in between disarms it
  b.cmd({0x01, 0x00});
  EXPECT_EQ(b.refused(SpiRefusal::NoWriteEnable), 2u);
  b.cmd({0x50});
  b.cmd({0x01, 0x00});
  EXPECT_EQ(b.status() & 0x0C, 0x00);

  Bus either("25VF016B");
  either.wren();
  either.cmd({0x01, 0x00});
  EXPECT_EQ(either.status() & 0x3C, 0x00) << "WREN also enables the status write";
}

TEST(SimSpiPart, AtmelGlobalProtectAndUnprotect) {
  Bus b("26DF161");
  EXPECT_EQ(b.status() & 0x0C, 0x0C) << "every sector protected at power-up";
  b.wren();
  b.program(0, {0});
  EXPECT_EQ(b.refused(SpiRefusal::Protected), 1u);
  EXPECT_EQ(b.status() & 0x02, 0x00) << "Atmel resets WEL on a refused command";

  b.wren();
  b.cmd({0x01, 0x00});  // global unprotect
  EXPECT_EQ(b.status() & 0x0C, 0x00);
  b.wren();
  b.cmd({0x01, 0x14});  // bits 5:2 neither 1111 nor 0000: no change, not stored
  EXPECT_EQ(b.status() & 0x3C, 0x10);
  b.wren();
  b.cmd({0x01, 0x3C});  // global protect
  EXPECT_EQ(b.status() & 0x0C, 0x0C);
  b.wren();
  b.cmd({0x01, 0xBC});  // protect and lock (SPRL)
  b.wren();
  b.cmd({0x01, 0x00});  // SPRL cleared, but the protection stays while it was set
  EXPECT_EQ(b.status() & 0x8C, 0x0C);
}

TEST(SimSpiPart, AtmelStatusTellsNoneSomeOrEverySectorProtected) {
  Bus b("25DF041");  // 8 sectors of 64 KiB, all protected at power-up
  auto unprotect = [&b](std::uint32_t a, std::uint8_t op = 0x39) {
    b.wren();
    b.erase(op, a);  // 36h/39h take an address like an erase
  };
  unprotect(0x10000);
  EXPECT_EQ(b.status() & 0x0C, 0x04) << "some sectors protected";
  unprotect(0x1FFFF);  // the same sector again
  for (std::uint32_t a = 0x20000; a < 0x80000; a += 0x10000) unprotect(a);
  EXPECT_EQ(b.status() & 0x0C, 0x04) << "sector 0 is still protected";
  unprotect(0x80000);  // wraps to sector 0
  EXPECT_EQ(b.status() & 0x0C, 0x00);
  unprotect(0x70000, 0x36);
  EXPECT_EQ(b.status() & 0x0C, 0x04);
}

TEST(SimSpiPart, ArrayAndSectorSizesMustBePowersOfTwo) {
  SpiPartTraits t = *find_spi_part("25X16");
  t.size = 3 * 0x100000;
  EXPECT_THROW(SpiFlashPart{t}, std::invalid_argument);
  t = *find_spi_part("25DF041");
  t.sector_size = 0x18000;
  EXPECT_THROW(SpiFlashPart{t}, std::invalid_argument);
}

TEST(SimSpiPart, PowerCycleKeepsArrayAndNonVolatileBitsOnly) {
  Bus sst("25VF016B");
  sst.wren();
  sst.cmd({0x01, 0x00});
  sst.part.array()[5] = 0x12;
  sst.wren();
  sst.part.power_on();
  EXPECT_EQ(sst.status(), 0x3C) << "volatile BP back to all-protected, WEL lost";
  EXPECT_EQ(sst.part.array()[5], 0x12);

  Bus winbond("25X16");
  winbond.wren();
  winbond.cmd({0x01, 0x08});
  winbond.part.power_on();
  EXPECT_EQ(winbond.status(), 0x08) << "non-volatile BP kept";

  Bus atmel("25DF081A");
  atmel.wren();
  atmel.cmd({0x01, 0x00});
  atmel.part.power_on();
  EXPECT_EQ(atmel.status() & 0x0C, 0x0C);
}

TEST(SimSpiPart, PowerLostWhileBusyLeavesEachBitOldOrNewReproducibly) {
  // A 4 KiB erase over 00h cut at once: bits read 0 (old) or 1 (new), and nothing else changes.
  auto cut_erase = [] {
    Bus b("25X16");
    std::fill(b.part.array().begin(), b.part.array().begin() + 0x3000, 0x00);
    b.wren();
    b.erase(0x20, 0x1000);
    b.part.power_on(b.now + 1);
    return std::vector<std::uint8_t>(b.part.array().begin(), b.part.array().begin() + 0x3000);
  };
  std::vector<std::uint8_t> torn = cut_erase();
  EXPECT_EQ(std::count(torn.begin(), torn.begin() + 0x1000, 0x00), 0x1000) << "before the block";
  EXPECT_EQ(std::count(torn.begin() + 0x2000, torn.end(), 0x00), 0x1000) << "after the block";
  auto block = torn.begin() + 0x1000;
  EXPECT_GT(std::count(block, block + 0x1000, 0x00), 0) << "some bytes still old";
  EXPECT_LT(std::count(block, block + 0x1000, 0x00) + std::count(block, block + 0x1000, 0xFF), 0x1000)
      << "some bytes half erased";
  EXPECT_EQ(cut_erase(), torn) << "same seed, same bits";

  // A page program of 0Fh over 55h (new value 05h): no 0 turns to 1, no unprogrammed bit falls.
  Bus p("25X16");
  std::fill(p.part.array().begin(), p.part.array().begin() + 0x100, 0x55);
  p.wren();
  p.program(0, std::vector<std::uint8_t>(0x100, 0x0F));
  p.part.power_on(p.now + 1);
  std::set<std::uint8_t> seen(p.part.array().begin(), p.part.array().begin() + 0x100);
  EXPECT_EQ(seen, (std::set<std::uint8_t>{0x05, 0x15, 0x45, 0x55}));

  // A non-volatile status write cut short: each BP bit old (0) or new (1), nothing else set.
  Bus w("25X16");
  w.wren();
  w.cmd({0x01, 0x1C});
  w.part.power_on(w.now + 1);
  EXPECT_EQ(w.status() & ~0x1C, 0);
}

TEST(SimSpiPart, M25pe80PageEraseAndSectorLocks) {
  Bus b("M25PE80");
  std::fill(b.part.array().begin(), b.part.array().end(), 0x00);
  b.wren();
  b.erase(0xDB, 0x10180);
  EXPECT_EQ(b.part.counters().erased_bytes, 256u);
  EXPECT_EQ(b.part.array()[0x10100], 0xFF);
  EXPECT_EQ(b.part.array()[0x10200], 0x00);

  // Lock the sector through its lock register (E5h); the row's per-block opcode 00h is no command.
  b.wren();
  b.cmd({0x00, 0x01, 0x00, 0x00, 0x01});
  EXPECT_EQ(b.refused(SpiRefusal::UnknownOpcode), 1u);
  b.cmd({0xE5, 0x01, 0x00, 0x00, 0x01});
  EXPECT_EQ(b.part.sector_lock(0x10000), 1);
  b.wren();
  b.erase(0xDB, 0x10200);
  EXPECT_EQ(b.refused(SpiRefusal::Locked), 1u);
  EXPECT_EQ(b.status() & 0x02, 0x02) << "this part keeps WEL on a refused command";
  b.part.power_on();
  EXPECT_EQ(b.part.sector_lock(0x10000), 0) << "lock registers clear at power-up";
}

// With SPRL (status bit 7) set, the sector protect and unprotect commands are ignored.
TEST(SimSpiPart, AtmelSectorCommandsRefusedWhileTheStatusIsLocked) {
  Bus b("26DF161");
  b.part.clear_protection();
  b.part.set_status_bits(0x80);
  b.wren();
  b.cmd({0x36, 0x01, 0x00, 0x00});  // protect the sector at 0x10000
  EXPECT_EQ(b.refused(SpiRefusal::StatusLocked), 1u);
  EXPECT_FALSE(b.part.sector_protected(0x10000));
  b.part.set_status_bits(0x00);
  b.wren();
  b.cmd({0x36, 0x01, 0x00, 0x00});
  EXPECT_TRUE(b.part.sector_protected(0x10000));
  EXPECT_FALSE(b.part.sector_protected(0x20000));
}

// Rule families every part enforces on its bus face, each held on one part per scheme: Winbond
// (WREN status writes), Atmel (global sector protection), ST (lock registers), SST (EWSR status
// writes, byte program), Mxic and EON.
class SimSpiPartRules : public testing::TestWithParam<const char*> {
 protected:
  SimSpiPartRules() : b(GetParam()) {
    b.part.clear_protection();
    std::fill(b.part.array().begin(), b.part.array().end(), 0x00);
    b.part.array()[0x2000] = 0xFF;
    erase_opcode = b.part.traits().erases.front().opcode;
  }
  Bus b;
  std::uint8_t erase_opcode;
};

// Program, erase and status write need the write-enable latch; WRDI clears it. Nothing changes.
TEST_P(SimSpiPartRules, ModifyingCommandsNeedTheWriteEnableLatch) {
  auto array = b.part.array();
  std::uint8_t status = b.status();
  b.program(0x2000, {0x5A});
  b.erase(erase_opcode, 0x1000);
  b.cmd({0x01, 0x1C});  // WRSR with no WREN or EWSR before it
  b.wren();
  b.cmd({0x04});  // WRDI
  b.program(0x2000, {0x5A});
  EXPECT_EQ(b.refused(SpiRefusal::NoWriteEnable), 4u);
  EXPECT_EQ(b.part.array(), array);
  EXPECT_EQ(b.status(), status);
  EXPECT_EQ(b.part.counters().erases + b.part.counters().programs + b.part.counters().status_writes, 0u);
}

// While a program, erase or status write runs, every command but RDSR is refused (and WEL kept
// pending); RDSR shows WIP.
TEST_P(SimSpiPartRules, OnlyStatusReadsWhileBusy) {
  b.wren();
  b.erase(erase_opcode, 0x1000);
  Nanos during = b.now + 1;
  std::vector<std::uint8_t> in(1);
  for (std::vector<std::uint8_t> out : {
           std::vector<std::uint8_t>{0x06 },
           {0x02,  0x00, 0x20, 0x00, 0x5A},
           {0x03, 0x00, 0x20, 0x00},
           {0x9F}
  }) {
    b.part.transfer(during++, out.data(), out.size(), in.data(), in.size());
  }
  std::uint8_t rdsr = 0x05;
  b.part.transfer(during, &rdsr, 1, in.data(), 1);
  EXPECT_EQ(in[0] & 0x01, 0x01);
  EXPECT_EQ(b.refused(SpiRefusal::Busy), 4u);
  EXPECT_EQ(b.part.array()[0x2000], 0xFF);
}

// A chip select that rises before the address or data is complete does nothing; an opcode the
// part does not implement does nothing.
TEST_P(SimSpiPartRules, IncompleteAndUnknownCommandsAreIgnored) {
  auto array = b.part.array();
  b.wren();
  b.cmd({0x02, 0x00, 0x20});          // program, address cut short
  b.cmd({0x02, 0x00, 0x20, 0x00});    // program without data
  b.cmd({erase_opcode, 0x00, 0x10});  // erase, address cut short
  b.cmd({0x01});                      // status write without data
  b.cmd({0x03, 0x00}, 2);             // read, address cut short
  b.cmd({0xF7, 0x00, 0x00, 0x00});    // no part implements F7h
  EXPECT_EQ(b.refused(SpiRefusal::Incomplete), 5u);
  EXPECT_EQ(b.refused(SpiRefusal::UnknownOpcode), 1u);
  EXPECT_EQ(b.part.array(), array);
}

INSTANTIATE_TEST_SUITE_P(Parts, SimSpiPartRules,
                         testing::Values("25X16", "26DF161", "M25PE80", "25VF016B", "25L1605A", "25F32"));

// Sector-register commands: Atmel sector protect (36h) and unprotect (39h) and the ST lock-register
// write (E5h) need WEL and their whole address (and the lock byte); the AT26DF041 has no write-enable
// latch and no sector protection, so WREN and 36h are no commands of it. Nothing changes.
struct SectorCommand {
  const char* name;
  const char* part;
  const char* variant;
  bool cleared;  // protection cleared first, else as at power-on
  bool wren;
  std::vector<std::uint8_t> bytes;
  SpiRefusal refusal;
};

void PrintTo(const SectorCommand& c, std::ostream* os) { *os << c.name; }

class SimSpiSectorCommands : public testing::TestWithParam<SectorCommand> {};

TEST_P(SimSpiSectorCommands, RefusedWithoutWriteEnableOrWhenCutShort) {
  const SectorCommand& c = GetParam();
  Bus b(c.part, c.variant);
  if (c.cleared) b.part.clear_protection();
  if (c.wren) b.wren();
  auto state = [&] {
    return std::vector<int>{b.part.sector_protected(0x10000), b.part.sector_lock(0x10000)};
  };
  auto before = state();
  b.cmd(c.bytes);
  EXPECT_EQ(b.refused(c.refusal), 1u);
  EXPECT_EQ(b.part.counters().total_refusals(), 1u);
  EXPECT_EQ(state(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SimSpiSectorCommands,
    testing::Values(
        SectorCommand{
            "AtmelProtectWithoutWel",
            "26DF161",
            nullptr,
            true,
            false,
            {0x36, 0x01, 0x00, 0x00},
            SpiRefusal::NoWriteEnable
},
        SectorCommand{"AtmelUnprotectWithoutWel",
                      "26DF161",
                      nullptr,
                      false,
                      false,
                      {0x39, 0x01, 0x00, 0x00},
                      SpiRefusal::NoWriteEnable},
        SectorCommand{"AtmelUnprotectAddressCutShort",
                      "26DF161",
                      nullptr,
                      false,
                      true,
                      {0x39, 0x01, 0x00},
                      SpiRefusal::Incomplete},
        SectorCommand{"StLockWithoutWel",
                      "M25PE80",
                      nullptr,
                      true,
                      false,
                      {0xE5, 0x01, 0x00, 0x00, 0x01},
                      SpiRefusal::NoWriteEnable},
        SectorCommand{"StLockWithoutLockByte",
                      "M25PE80",
                      nullptr,
                      true,
                      true,
                      {0xE5, 0x01, 0x00, 0x00},
                      SpiRefusal::Incomplete},
        SectorCommand{
            "At26df041HasNoWren", "25DF041", "26DF041", false, false, {0x06}, SpiRefusal::UnknownOpcode},
        SectorCommand{"At26df041HasNoSectorProtect",
                      "25DF041",
                      "26DF041",
                      false,
                      false,
                      {0x36, 0x01, 0x00, 0x00},
                      SpiRefusal::UnknownOpcode}),
    [](const testing::TestParamInfo<SectorCommand>& info) { return std::string(info.param.name); });

// Every refusal cause of every model has a name of its own: the rehearsal report keys its refusal
// counts by these names, so two causes sharing one would merge their counts.
TEST(SimRefusalNames, EveryCauseHasItsOwnName) {
  std::set<std::string> names;
  for (std::size_t i = 0; i < static_cast<std::size_t>(SpiRefusal::kCount); i++) {
    names.insert(refusal_name(static_cast<SpiRefusal>(i)));
  }
  for (std::size_t i = 0; i < static_cast<std::size_t>(SpiBlock::kCount); i++) {
    names.insert(std::string("controller-") + block_name(static_cast<SpiBlock>(i)));
  }
  EXPECT_EQ(names.size(),
            static_cast<std::size_t>(SpiRefusal::kCount) + static_cast<std::size_t>(SpiBlock::kCount));
  std::set<std::string> lpc;
  for (std::size_t i = 0; i < kLpcRefusalCauses; i++)
    lpc.insert(std::string(refusal_name(static_cast<LpcRefusal>(i))));
  EXPECT_EQ(lpc.size(), kLpcRefusalCauses);
  EXPECT_EQ(names.count("?") + lpc.count("unknown"), 0u);
}

}  // namespace
}  // namespace sim
