// End-to-end recoveries on every SPI part of the table: RecoveryEntry to the final spin on the
// simulated controller and part, in both sequencing modes, from a cleared and from the power-on
// protection state; where a row cannot update its part, what the part really refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "flash/DeviceTables.h"
#include "flash/spi/SpiOps.h"
#include "sim/devices/SpiPartCatalog.h"
#include "tests/support/spi_rig.h"

namespace testing_support {
namespace {

enum class Mode { Software, Hardware };

struct Case {
  int row;
  Mode mode;
  sim::SpiProtectionStart protection;
  const char* variant = nullptr;
};

std::string name_of(const Case& c) {
  std::string n = sim::spi_part_catalog()[static_cast<std::size_t>(c.row)].name;
  n += c.mode == Mode::Software ? "_Software" : "_Hardware";
  n += c.protection == sim::SpiProtectionStart::Cleared ? "_Cleared" : "_PowerOn";
  if (c.variant != nullptr) n += std::string("_") + c.variant;
  for (char& ch : n) ch = ch == '-' ? '_' : ch;
  return n;
}
// Test listings show the case by name, not as the parameter's raw bytes.
void PrintTo(const Case& c, std::ostream* os) { *os << name_of(c); }

sim::SpiSetupConfig config_for(const Case& c) {
  sim::SpiSetupConfig s;
  s.part = sim::spi_part_catalog()[static_cast<std::size_t>(c.row)].name;
  s.descriptor = c.mode == Mode::Hardware;  // BIOS region from 0x1000 up, no write grants elsewhere
  s.protection = c.protection;
  if (c.variant != nullptr) s.variant = c.variant;
  return s;
}

class SpiRecovery : public testing::TestWithParam<Case> {};

TEST_P(SpiRecovery, CompletesAndLeavesTheCapsuleInTheWindow) {
  const Case& c = GetParam();
  SpiRig rig(config_for(c));
  auto outcome = rig.recover();
  EXPECT_EQ(outcome.to_string(), "final-spin");
  std::uint64_t low = c.mode == Mode::Hardware ? 0x1000 : 0;
  auto expected = expected_after_recovery(rig.before, rig.capsule, low, rig.flash.total_size() - 1);
  auto actual = rig.flash.image();
  std::size_t first_difference = 0;
  while (first_difference < actual.size() && actual[first_difference] == expected[first_difference]) {
    first_difference++;
  }
  EXPECT_EQ(first_difference, actual.size())
      << "first wrong byte at linear 0x" << std::hex << first_difference;
  EXPECT_EQ(rig.flash.part().counters().total_refusals(), rig.flash.refusals(sim::SpiRefusal::UnknownOpcode))
      << "the part refused nothing but opcodes it does not have";
  EXPECT_FALSE(rig.machine.lpc().bios_write_enabled());
  // Software sequencing restores status-register protection after every modification.
  bool status_protected_row = (SpiDeviceList[c.row].Params->Flags & FlagStatusProtect) != 0;
  if (c.mode == Mode::Software && status_protected_row) {
    EXPECT_TRUE(rig.flash.part().range_protected(0, rig.flash.part().size())) << "protection restored";
  }
}

// The part variant a row completes with: the MX25L3205D (4 KiB 20h), a PMC part answering ABh
// without dummy bytes, the AT26DF041 (no write enable at all). The named parts do not complete.
const char* completing_variant(int row) {
  switch (row) {
    case 3:
      return "25L3205D";
    case 12:
      return "26DF041";
    case 20:
      return "res-without-dummy";
    default:
      return nullptr;
  }
}

std::vector<Case> all_completing_cases() {
  using P = sim::SpiProtectionStart;
  std::vector<Case> v;
  // Software sequencing: every row whose prefix opcode 0 is a write enable (all but row 12).
  for (int row = 0; row < 21; row++) v.push_back({row, Mode::Software, P::Cleared, completing_variant(row)});
  // From power-on, the parts that power up protected and whose row lifts it through the status
  // register (SST, Atmel); the other parts power up unprotected, as in the cleared case.
  for (int row : {7, 8, 9, 10, 11, 13, 14, 15, 16}) v.push_back({row, Mode::Software, P::PowerOn});
  // Hardware sequencing: the 64-byte-granularity rows whose part accepts the controller's
  // sequence (the Macronix rows 17 and 18 do not, see below).
  for (int row : {0, 1, 2, 3, 4, 5, 6, 12, 13, 14, 15, 16, 19}) {
    v.push_back({row, Mode::Hardware, P::Cleared, completing_variant(row)});
  }
  // Atmel rows set WSR in the VSCC, so the controller unprotects before every write and erase.
  for (int row : {13, 14, 15, 16}) v.push_back({row, Mode::Hardware, P::PowerOn});
  return v;
}

// Under AddressSanitizer every simulated access costs tens of times more (a 2 MiB software-sequenced
// recovery takes about a minute), so the sanitizer build runs one row per protection scheme and
// size class; the regular build runs every row.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kEveryRow = false;
#else
constexpr bool kEveryRow = true;
#endif

bool representative(const Case& c) {
  // SST with EWSR (512 KiB), Atmel global protection (1 MiB), per-block M25PE80, PMC ABh probe,
  // and a 2 MiB part under hardware sequencing.
  switch (c.row) {
    case 8:
    case 13:
    case 19:
    case 20:
      return true;
    case 0:
      return c.mode == Mode::Hardware;
    default:
      return false;
  }
}

std::vector<Case> completing_cases() {
  std::vector<Case> every = all_completing_cases();
  if (kEveryRow) return every;
  std::vector<Case> some;
  for (const Case& c : every) {
    if (representative(c)) some.push_back(c);
  }
  return some;
}

INSTANTIATE_TEST_SUITE_P(Rows, SpiRecovery, testing::ValuesIn(completing_cases()),
                         [](const testing::TestParamInfo<Case>& info) { return name_of(info.param); });

// Software sequencing (no descriptor) on `part` from the given protection state.
sim::SpiSetupConfig software_config(const char* part, sim::SpiProtectionStart protection) {
  sim::SpiSetupConfig c;
  c.part = part;
  c.protection = protection;
  return c;
}

TEST(SpiRecoveryRefused, NamedPartsThatTheirRowsCannotUpdate) {
  // The MX25L3205A's 20h clears the whole 64 KiB sector: each chunk's erase wipes the chunks
  // written before it in that sector, so only the last chunk of every sector survives.
  SpiRig rig(software_config("25L3205A", sim::SpiProtectionStart::Cleared));
  EXPECT_EQ(rig.recover().to_string(), "final-spin");
  auto expected = expected_after_recovery(rig.before, rig.capsule, 0, rig.flash.total_size() - 1);
  auto image = rig.flash.image();
  // The window's first 64 KiB sector (linear 0x200000): chunks 0-14 erased, chunk 15 written.
  EXPECT_EQ(std::count(image.begin() + 0x200000, image.begin() + 0x20F000, 0xFF), 0xF000);
  EXPECT_TRUE(std::equal(image.begin() + 0x20F000, image.begin() + 0x210000, expected.begin() + 0x20F000));

  // The Pm25LV040 answers ABh only after dummy bytes, which the row's probe does not send.
  SpiRig unknown(software_config("25LV040", sim::SpiProtectionStart::Cleared));
  EXPECT_EQ(unknown.recover().to_string(), "returned(0x80000003)");
  EXPECT_TRUE(unknown.flash.image() == unknown.before);
}

TEST(SpiRecoveryRefused, AtmelRowWithoutWriteEnablePrefix) {
  // Row 12's prefix opcodes are 00 00: its own cycles never send WREN. The only write enable the
  // part sees is the one left by the identification cycles of earlier candidates (their prefix
  // 06h runs before the read), which the first erase consumes. Every later erase and program is
  // ignored. The controller cannot see that; the recovery ends in the final spin regardless.
  constexpr std::uint64_t kCycles = 128 * (1 + 4096);  // the 512 KiB part holds the last 128 chunks
  {
    SpiRig rig(software_config("25DF041", sim::SpiProtectionStart::Cleared));
    EXPECT_EQ(rig.recover().to_string(), "final-spin");
    // The first chunk (linear 0) is left erased and not programmed: its old contents are lost.
    auto expected = rig.before;
    std::fill(expected.begin(), expected.begin() + 0x1000, 0xFF);
    EXPECT_TRUE(rig.flash.image() == expected);
    EXPECT_EQ(rig.flash.part().counters().erases, 1u);
    EXPECT_EQ(rig.flash.part().counters().programs, 0u);
    EXPECT_EQ(rig.flash.refusals(sim::SpiRefusal::NoWriteEnable), kCycles - 1);
  }
  {
    // From power-on every sector is protected: that first erase is refused too.
    SpiRig rig(software_config("25DF041", sim::SpiProtectionStart::PowerOn));
    EXPECT_EQ(rig.recover().to_string(), "final-spin");
    EXPECT_TRUE(rig.flash.image() == rig.before);
    EXPECT_EQ(rig.flash.part().counters().erases, 0u);
    EXPECT_EQ(rig.flash.refusals(sim::SpiRefusal::Protected), 1u);
    EXPECT_EQ(rig.flash.refusals(sim::SpiRefusal::NoWriteEnable), kCycles - 1);
  }
}

TEST(SpiRecoveryRefused, MacronixStatusWriteKeepsThePartBusyUnderHardwareSequencing) {
  // VSCC.WSR is set for these rows, but their status bits are non-volatile: the controller's
  // status write (not waited for) keeps the part busy, so the WREN and the program or erase that
  // follow are ignored. Shown on the first chunks inside the window; the whole recovery behaves
  // the same way, chunk after chunk.
  for (int row : {17, 18}) {
    sim::SpiSetupConfig c;
    c.part = sim::spi_part_catalog()[static_cast<std::size_t>(row)].name;
    c.descriptor = true;
    c.protection = sim::SpiProtectionStart::Cleared;
    SpiRig rig(c);
    std::vector<std::uint8_t> chunk(0x1000, 0x00);
    std::uint32_t target = static_cast<std::uint32_t>(0x100000000 - rig.flash.total_size() + 0x10000);
    auto outcome = rig.with_driver(row, [&] {
      EFI_STATUS erase = SpiErase(target, 0x1000);
      UINT32 length = 0x1000;
      EFI_STATUS write = SpiWrite(target, chunk.data(), &length, target);
      return EFI_ERROR(erase) ? erase : write;
    });
    EXPECT_EQ(outcome.to_string(), "returned(0x00000000)") << "the controller reports success";
    EXPECT_EQ(rig.flash.image(), rig.before) << c.part;
    EXPECT_EQ(rig.flash.part().counters().status_writes, 65u) << "one per cycle";
    EXPECT_EQ(rig.flash.refusals(sim::SpiRefusal::Busy), 2u * 65u) << "WREN and the command, each cycle";

    // With a controller that waits for the status write, the same chunk is written.
    c.controller.wsr_waits_for_ready = true;
    SpiRig waiting(c);
    waiting.with_driver(row, [&] {
      SpiErase(target, 0x1000);
      UINT32 length = 0x1000;
      return SpiWrite(target, chunk.data(), &length, target);
    });
    EXPECT_EQ(waiting.flash.part().array()[0x10000], 0x00);
    EXPECT_EQ(waiting.flash.part().array()[0x10FFF], 0x00);
  }
}

TEST(SpiRecoveryRefused, SstUnderHardwareSequencingProgramsOneBytePerPiece) {
  // Row 11 has byte write granularity, yet the module writes 64-byte pieces; the controller sends
  // them as one program command and the SST part programs only the first byte of each.
  sim::SpiSetupConfig c;
  c.part = "25VF016B";
  c.descriptor = true;
  c.protection = sim::SpiProtectionStart::Cleared;
  SpiRig rig(c);
  EXPECT_EQ(rig.recover().to_string(), "final-spin");
  auto image = rig.flash.image();
  for (std::uint32_t offset = 0x1000; offset < 0x2000; offset++) {
    std::uint8_t want = offset % 64 == 0 ? rig.capsule[offset] : 0xFF;
    ASSERT_EQ(image[offset], want) << std::hex << offset;
  }
}

TEST(SpiRecoveryRefused, M25pe80SectorLocksAndThePerBlockCommands) {
  // Every sector locked before the recovery. The row's per-block commands send 00h, which the part
  // does not know (its lock-register write is E5h): everything in the window stays as it was.
  sim::SpiSetupConfig c;
  c.part = "M25PE80";
  c.descriptor = true;
  c.protection = sim::SpiProtectionStart::Cleared;
  SpiRig real(c);
  real.flash.part().set_sector_locks(1);
  EXPECT_EQ(real.recover().to_string(), "final-spin");
  EXPECT_TRUE(real.flash.image() == real.before);
  EXPECT_GT(real.flash.refusals(sim::SpiRefusal::Locked), 0u);

  // A part whose lock registers answer 00h: each block is unlocked, rewritten and locked again,
  // except the first. Its per-block commands address linear 0, inside the descriptor region, where
  // the host has no write grant: the controller blocks them and that sector stays locked.
  c.variant = "lock-opcode-00";
  SpiRig answering(c);
  answering.flash.part().set_sector_locks(1);
  EXPECT_EQ(answering.recover().to_string(), "final-spin");
  auto expected = expected_after_recovery(answering.before, answering.capsule, 0x1000, 0xFFFFF);
  std::copy(answering.before.begin() + 0x1000, answering.before.begin() + 0x10000, expected.begin() + 0x1000);
  EXPECT_TRUE(answering.flash.image() == expected);
  EXPECT_GT(answering.flash.controller().counters().blocked_by(sim::SpiBlock::RegionDenied), 0u);
  for (std::uint32_t sector = 0; sector < 0x100000; sector += 0x10000) {
    EXPECT_EQ(answering.flash.part().sector_lock(sector), 1) << std::hex << sector;
  }
}

}  // namespace
}  // namespace testing_support
