// SPI erase, write, read and protection: the cycles each operation issues in both sequencing
// modes, the protection steps around them, the writable window, and what reaches the flash.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "flash/spi/SpiController.h"
#include "flash/spi/SpiOps.h"
#include "tests/support/spi_cycle_recorder.h"
#include "tests/support/spi_rig.h"

namespace testing_support {
namespace {

constexpr int kWinbond25X16 = 0, kSst25VF016B = 11, kAtmel26DF161 = 14, kM25PE80 = 19;

sim::SpiSetupConfig config(const char* part, bool descriptor = false, std::uint32_t flmstr1 = 0x0F0F0000) {
  sim::SpiSetupConfig c;
  c.part = part;
  c.descriptor = descriptor;
  c.descriptor_config.flmstr1 = flmstr1;  // every grant by default: the whole part is the window
  c.protection = sim::SpiProtectionStart::Cleared;
  return c;
}

// Probes `row` (as detection leaves the driver), then records the cycles of `body`.
struct DataRig {
  DataRig(const sim::SpiSetupConfig& c, int row) : rig(c), row(row) {}
  EFI_STATUS run(const std::function<EFI_STATUS()>& body) {
    EFI_STATUS status = 0xFFFFFFFF;
    auto outcome = rig.with_driver(row, [&] {
      rig.machine.platform().set_trace(&cycles);
      status = body();
      rig.machine.platform().set_trace(nullptr);
      return status;
    });
    EXPECT_EQ(outcome.kind, sim::OutcomeKind::Returned);
    return status;
  }
  std::vector<std::uint32_t> addresses(const std::vector<SpiCycleRecord>& v) const {
    std::vector<std::uint32_t> a;
    for (const auto& c : v) a.push_back(c.address);
    return a;
  }
  SpiRig rig;
  int row;
  SpiCycleRecorder cycles;
};

TEST(SpiErase, OneSoftwareCycleForOneUnitOnAnUnprotectedPart) {
  DataRig r(config("25X16"), kWinbond25X16);
  EXPECT_EQ(r.run([] { return SpiErase(0xFFE00000, 0x1000); }), EFI_SUCCESS);
  ASSERT_EQ(r.cycles.cycles().size(), 1u);
  EXPECT_EQ(r.cycles.cycles()[0],
            (SpiCycleRecord{false, 0, 0, 1, false, true, false, r.cycles.cycles()[0].fdata0}));
  EXPECT_EQ(r.rig.flash.part().counters().erases, 1u);
  for (std::uint32_t a = 0; a < 0x1000; a++) ASSERT_EQ(r.rig.flash.part().array()[a], 0xFF);
  EXPECT_EQ(r.rig.flash.part().array()[0x1000], r.rig.before[0x1000]);
}

TEST(SpiErase, UnalignedAddressStartsAtTheUnitBelow) {
  DataRig r(config("25X16"), kWinbond25X16);
  r.run([] { return SpiErase(0xFFE01800, 0x1000); });
  EXPECT_EQ(r.addresses(r.cycles.software(1)), std::vector<std::uint32_t>{0x1000});
}

TEST(SpiErase, PageErasePartWithBlockProtection) {
  // 256-byte erase unit: sixteen erase cycles, bracketed by one unprotect and one re-protect cycle
  // for the 64 KiB block that holds the chunk, each carrying its data byte.
  for (bool descriptor : {false, true}) {
    DataRig r(config("M25PE80", descriptor), kM25PE80);
    EXPECT_EQ(r.run([] { return SpiErase(0xFFF21000, 0x1000); }), EFI_SUCCESS);
    const auto& all = r.cycles.cycles();
    ASSERT_EQ(all.size(), 18u);
    EXPECT_EQ(all.front(), (SpiCycleRecord{false, 0x20000, 0, 7, false, true, true, 0x00}));
    EXPECT_EQ(all.back(), (SpiCycleRecord{false, 0x20000, 0, 6, false, true, true, 0x01}));
    std::vector<SpiCycleRecord> erases(all.begin() + 1, all.end() - 1);
    for (std::size_t i = 0; i < erases.size(); i++) {
      EXPECT_EQ(erases[i].hardware, descriptor);
      EXPECT_EQ(erases[i].cycle, descriptor ? 3u : 1u);
      EXPECT_EQ(erases[i].address, 0x21000u + 0x100 * i);
    }
    EXPECT_EQ(r.rig.flash.part().counters().erased_bytes, 0x1000u);
  }
}

TEST(SpiErase, ZeroLengthRunsOnlyTheProtectionSteps) {
  DataRig sst(config("25VF016B"), kSst25VF016B);
  EXPECT_EQ(sst.run([] { return SpiErase(0xFFE10000, 0); }), EFI_SUCCESS);
  // Status written to unprotect (00h) then re-protect (1Ch), entry 3 with prefix 1.
  ASSERT_EQ(sst.cycles.cycles().size(), 2u);
  EXPECT_EQ(sst.cycles.cycles()[0], (SpiCycleRecord{false, 0, 0, 3, true, true, true, 0x00}));
  EXPECT_EQ(sst.cycles.cycles()[1], (SpiCycleRecord{false, 0, 0, 3, true, true, true, 0x1C}));
  EXPECT_EQ(sst.rig.flash.part().status() & 0x3C, 0x1C);

  DataRig pe(config("M25PE80"), kM25PE80);
  pe.run([] { return SpiErase(0xFFF00000, 0); });
  EXPECT_TRUE(pe.cycles.cycles().empty()) << "the per-block step has no block to cover";
}

TEST(SpiErase, OnlyUnitsInsideTheWindowAreErased) {
  // BIOS region from 0x180000: the unit at 0x17F000 is passed over silently.
  sim::SpiSetupConfig c = config("25X16", true, 0x00030000);
  c.descriptor_config.bios_region = 0x01FF0180;
  DataRig r(c, kWinbond25X16);
  EXPECT_EQ(r.run([] { return SpiErase(0xFFF7F000, 0x2000); }), EFI_SUCCESS);
  EXPECT_EQ(r.addresses(r.cycles.hardware(3)), std::vector<std::uint32_t>{0x180000});
  EXPECT_EQ(r.rig.flash.part().array()[0x17F000], r.rig.before[0x17F000]);
}

TEST(SpiErase, FailedCycleStopsWithoutReprotection) {
  // Write grant for the network region only: the management-engine region below the BIOS region
  // refuses the hardware erase, and the re-protect cycle never follows.
  sim::SpiSetupConfig c = config("M25PE80", true, 0x08030000);
  c.descriptor_config.bios_region = 0x00FF0080;
  DataRig r(c, kM25PE80);
  EXPECT_EQ(r.run([] { return SpiErase(0xFFF10000, 0x1000); }), EFI_DEVICE_ERROR);
  EXPECT_EQ(r.cycles.software(7).size(), 1u);
  EXPECT_EQ(r.cycles.hardware(3).size(), 1u);
  EXPECT_TRUE(r.cycles.software(6).empty());
}

TEST(SpiWrite, SoftwareSequencingProgramsOneBytePerCycle) {
  DataRig r(config("25X16"), kWinbond25X16);
  std::vector<std::uint8_t> source(0x1000);
  for (std::size_t i = 0; i < source.size(); i++) source[i] = static_cast<std::uint8_t>(i * 7 + 1);
  UINT32 length = 0x1000;
  EXPECT_EQ(r.run([&] {
    SpiErase(0xFFE05000, 0x1000);
    return SpiWrite(0xFFE05000, source.data(), &length, 0xFFE05000);
  }),
            EFI_SUCCESS);
  EXPECT_EQ(length, 0x1000u);
  auto programs = r.cycles.software(2);
  ASSERT_EQ(programs.size(), 0x1000u);
  for (std::size_t i = 0; i < programs.size(); i++) {
    ASSERT_EQ(programs[i], (SpiCycleRecord{false, static_cast<std::uint32_t>(0x5000 + i), 0, 2, false, true,
                                           true, source[i]}));
  }
  EXPECT_TRUE(std::equal(source.begin(), source.end(), r.rig.flash.part().array().begin() + 0x5000));
}

TEST(SpiWrite, HardwareSequencingPiecesNeverCrossSixtyFourBytes) {
  DataRig r(config("25X16", true), kWinbond25X16);
  std::vector<std::uint8_t> source(100, 0x5A);
  UINT32 length = 100;
  r.run([&] {
    SpiErase(0xFFE00000, 0x1000);
    return SpiWrite(0xFFE00030, source.data(), &length, 0xFFE00000);
  });
  auto writes = r.cycles.hardware(2);
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(std::make_pair(writes[0].address, writes[0].dbc), std::make_pair(0x30u, 15u));
  EXPECT_EQ(std::make_pair(writes[1].address, writes[1].dbc), std::make_pair(0x40u, 63u));
  EXPECT_EQ(std::make_pair(writes[2].address, writes[2].dbc), std::make_pair(0x80u, 19u));
  for (std::uint32_t a = 0x30; a < 0x94; a++) ASSERT_EQ(r.rig.flash.part().array()[a], 0x5A);
  EXPECT_EQ(r.rig.flash.part().array()[0x94], 0xFF);

  DataRig full(config("25X16", true), kWinbond25X16);
  std::vector<std::uint8_t> chunk(0x1000, 0x00);
  length = 0x1000;
  full.run([&] { return SpiWrite(0xFFE40000, chunk.data(), &length, 0xFFE40000); });
  auto pieces = full.cycles.hardware(2);
  ASSERT_EQ(pieces.size(), 64u);
  for (const auto& p : pieces) EXPECT_EQ(p.dbc, 63u);
}

// The last chunk below 4 GiB: memory address + flash size drops the carry, so 0xFFFFF000 on a
// 4 MiB part is linear 0x3FF000, the top of the part; nothing wraps to linear 0.
TEST(SpiWrite, TheChunkEndingAt4GiBIsTheTopOfThePart) {
  DataRig r(config("25Q32", true), 1);
  std::vector<std::uint8_t> source(0x1000);
  for (std::size_t i = 0; i < source.size(); i++) source[i] = static_cast<std::uint8_t>(i * 7 + 1);
  UINT32 length = 0x1000;
  EXPECT_EQ(r.run([&] {
    EFI_STATUS status = SpiErase(0xFFFFF000, 0x1000);
    return EFI_ERROR(status) ? status : SpiWrite(0xFFFFF000, source.data(), &length, 0xFFFFF000);
  }),
            EFI_SUCCESS);
  EXPECT_EQ(r.addresses(r.cycles.hardware(3)), std::vector<std::uint32_t>{0x3FF000});
  auto pieces = r.cycles.hardware(2);
  ASSERT_EQ(pieces.size(), 64u);
  EXPECT_EQ(pieces.front().address, 0x3FF000u);
  EXPECT_EQ(pieces.back().address, 0x3FFFC0u);
  const auto& array = r.rig.flash.part().array();
  EXPECT_TRUE(std::equal(source.begin(), source.end(), array.begin() + 0x3FF000));
  EXPECT_TRUE(std::equal(array.begin(), array.begin() + 0x1000, r.rig.before.begin()));
}

TEST(SpiWrite, ZeroLengthAndRangesLeavingTheWindow) {
  // Length 0 above linear 0: both protection steps, no program cycle.
  DataRig sst(config("25VF016B"), kSst25VF016B);
  UINT32 length = 0;
  EXPECT_EQ(sst.run([&] { return SpiWrite(0xFFE00100, nullptr, &length, 0xFFE00000); }), EFI_SUCCESS);
  EXPECT_EQ(sst.cycles.software(3).size(), 2u);
  EXPECT_TRUE(sst.cycles.software(2).empty());
  EXPECT_EQ(length, 0u);

  // Length 0 at linear 0 ends before linear 0: refused by the window check, nothing runs.
  DataRig at_zero(config("25VF016B"), kSst25VF016B);
  at_zero.run([&] { return SpiWrite(0xFFE00000, nullptr, &length, 0xFFE00000); });
  EXPECT_TRUE(at_zero.cycles.cycles().empty());

  // A range straddling WritableLow programs nothing, not even its part inside, and succeeds.
  sim::SpiSetupConfig c = config("25X16", true, 0x00030000);
  c.descriptor_config.bios_region = 0x01FF0180;
  DataRig window(c, kWinbond25X16);
  std::vector<std::uint8_t> source(0x200, 0);
  length = 0x200;
  EXPECT_EQ(window.run([&] { return SpiWrite(0xFFF7FF00, source.data(), &length, 0xFFF7F000); }),
            EFI_SUCCESS);
  EXPECT_TRUE(window.cycles.cycles().empty());
  EXPECT_EQ(window.rig.flash.image(), window.rig.before);
}

TEST(SpiProtection, StatusRegisterStepOnlyUnderSoftwareSequencing) {
  std::vector<std::uint8_t> source(0x40, 0);
  for (bool descriptor : {false, true}) {
    DataRig r(config("26DF161", descriptor), kAtmel26DF161);
    UINT32 length = 0x40;
    r.run([&] {
      SpiErase(0xFFE80000, 0x1000);
      return SpiWrite(0xFFE80000, source.data(), &length, 0xFFE80000);
    });
    EXPECT_EQ(r.cycles.software(3).size(), descriptor ? 0u : 4u);
    EXPECT_EQ(r.rig.flash.part().array()[0x80000], 0x00) << "programmed either way";
  }
}

TEST(SpiProtection, PerBlockCyclesCoverEachUnitFromTheBlockBase) {
  DataRig r(config("M25PE80"), kM25PE80);
  r.run([] {
    SpiSetProtection(0, 0x1F000, 0x2000);  // starts 4 KiB below a block boundary
    SpiSetProtection(1, 0x10000, 0x20001);
    SpiSetProtection(2, 0x10000, 0x10000);  // any other mode does nothing
    return EFI_SUCCESS;
  });
  EXPECT_EQ(r.addresses(r.cycles.software(7)), std::vector<std::uint32_t>{0x10000});
  EXPECT_EQ(r.addresses(r.cycles.software(6)), (std::vector<std::uint32_t>{0x10000, 0x20000, 0x30000}));
}

TEST(SpiProtection, LengthNearFourGiBEndsAfterTheLastBlock) {
  // The offset would wrap past 4 GiB and the loop never end; it stops after the block holding
  // the last byte of the range.
  DataRig r(config("M25PE80"), kM25PE80);
  auto outcome = r.rig.with_driver(kM25PE80, [&] {
    r.rig.machine.platform().set_trace(&r.cycles);
    return SpiSetProtection(1, 0, 0xFFFFFFFF);
  });
  EXPECT_EQ(outcome.to_string(), "returned(0x00000000)");
  auto cycles = r.cycles.software(6);
  ASSERT_EQ(cycles.size(), 0x10000u);
  EXPECT_EQ(cycles.back().address, 0xFFFF0000u);
}

TEST(SpiRead, SoftwareSequencingReadsTheMemoryWindow) {
  DataRig r(config("25LF080A"), 9);
  std::vector<std::uint8_t> out(40, 0xEE);
  sim::BoundedTrace trace(100);
  r.rig.with_driver(9, [&] {
    r.rig.machine.platform().set_trace(&trace);
    SpiRead(out.data(), 0xFFF00010, 0);
    EXPECT_TRUE(trace.accesses().empty());
    return SpiRead(out.data(), 0xFFF00010, 40);
  });
  // A 1 MiB part: memory 0xFFF00010 is linear 0x10, read as 40 byte loads.
  EXPECT_TRUE(std::equal(out.begin(), out.end(), r.rig.before.begin() + 0x10));
  EXPECT_EQ(trace.accesses().size(), 40u);
}

TEST(SpiRead, HardwareSequencingReadsInPieces) {
  DataRig r(config("25Q32", true), 1);
  std::vector<std::uint8_t> out(130);
  EXPECT_EQ(r.run([&] { return SpiRead(out.data(), 0xFFC10020, 130); }), EFI_SUCCESS);
  // Linear 0x10020 (4 MiB part), pieces 0x20-0x3F, 0x40-0x7F, 0x80-0xA1.
  auto reads = r.cycles.hardware(0);
  ASSERT_EQ(reads.size(), 3u);
  EXPECT_EQ(r.addresses(reads), (std::vector<std::uint32_t>{0x10020, 0x10040, 0x10080}));
  EXPECT_EQ(reads[2].dbc, 33u);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), r.rig.before.begin() + 0x10020));
}

TEST(SpiRead, HardwareSequencingRefusesALinearRangePast4GiBBeforeAnyAccess) {
  DataRig r(config("25Q32", true), 1);
  std::vector<std::uint8_t> out(0x80, 0xEE);
  sim::BoundedTrace trace(100);
  EFI_STATUS status = 0;
  r.rig.with_driver(1, [&] {
    r.rig.machine.platform().set_trace(&trace);
    // Memory 0xFFBFFFC0 is linear 0xFFFFFFC0 on a 4 MiB part: 0x80 bytes would end at linear 0x3F.
    status = SpiRead(out.data(), 0xFFBFFFC0, 0x80);
    return status;
  });
  EXPECT_EQ(status, EFI_INVALID_PARAMETER);
  EXPECT_TRUE(trace.accesses().empty());
  EXPECT_EQ(out, std::vector<std::uint8_t>(0x80, 0xEE));
}

// A cycle error stops a write or read at the cycle that failed: no further cycle (for a write no
// re-protection either), and what the cycles before it moved stays moved. The controller fails the
// second cycle of each: the second byte of a software write, the second 64-byte piece (from 0x40)
// of a hardware write or read. 100 bytes of 00h from 0x30.
TEST(SpiData, CycleErrorStopsWriteAndReadAtTheFailedCycle) {
  struct Case {
    bool descriptor;
    bool read;
    std::uint32_t moved;  // bytes the first cycle moved
  } cases[] = {
      {false, false, 1   },
      {true,  false, 0x10},
      {true,  true,  0x10}
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.moved + k.read);
    DataRig r(config("25X16", k.descriptor), kWinbond25X16);
    std::vector<std::uint8_t> source(100, 0x00), out(100, 0xEE);
    UINT32 length = 100;
    EXPECT_EQ(r.run([&] {
      r.rig.flash.controller().inject_cycle_error(2);
      return k.read ? SpiRead(out.data(), 0xFFE00030, 100) : SpiWrite(0xFFE00030, source.data(), &length, 0);
    }),
              EFI_DEVICE_ERROR);
    EXPECT_EQ(r.cycles.cycles().size(), 2u);
    std::vector<std::uint8_t> expected(r.rig.before.begin() + 0x30, r.rig.before.begin() + 0x30 + 100);
    if (k.read) {
      std::fill(expected.begin() + k.moved, expected.end(), 0xEE);
      EXPECT_EQ(out, expected);
    } else {
      std::fill_n(expected.begin(), k.moved, 0x00);
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), r.rig.flash.part().array().begin() + 0x30));
    }
  }
}

}  // namespace
}  // namespace testing_support
