// The SPI host controller cycles as the module drives them: register access order and widths of
// a software and a hardware cycle, error reporting and clearing, component count, and the
// simulated controller's register behaviour behind them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/DeviceTables.h"
#include "flash/spi/SpiController.h"
#include "flash/spi/SpiOps.h"
#include "platform/HwAccess.h"
#include "sim/SpiSetup.h"
#include "tests/support/spi_rig.h"

namespace testing_support {
namespace {

constexpr std::uint32_t kSpiBase = 0xFED1C000 + 0x3800;

sim::SpiSetupConfig cleared(const char* part, bool descriptor = false) {
  sim::SpiSetupConfig c;
  c.part = part;
  c.descriptor = descriptor;
  c.protection = sim::SpiProtectionStart::Cleared;
  return c;
}

// "R16 90" / "W16 91=4000": the controller accesses of a trace, offsets from the SPI base.
std::vector<std::string> controller_accesses(const sim::BoundedTrace& trace) {
  std::vector<std::string> lines;
  for (const sim::Access& a : trace.accesses()) {
    if (a.space != sim::Space::Mem || a.address < kSpiBase || a.address >= kSpiBase + 0x200) continue;
    char buf[40];
    unsigned bits = static_cast<unsigned>(a.width) * 8;
    if (a.write) {
      std::snprintf(buf, sizeof buf, "W%u %02x=%x", bits, a.address - kSpiBase, a.value);
    } else {
      std::snprintf(buf, sizeof buf, "R%u %02x", bits, a.address - kSpiBase);
    }
    lines.emplace_back(buf);
  }
  return lines;
}

// Runs `body` after SpiInit with BIOS writes enabled, tracing every access.
struct ControllerRig {
  explicit ControllerRig(const sim::SpiSetupConfig& config) : rig(config), trace(100000) {
    rig.machine.lpc().config_write(sim::LpcBridge::kBiosCntl, sim::Width::Byte,
                                   sim::LpcBridge::kBiosWriteEnable);
  }
  sim::Outcome run(const std::function<EFI_STATUS()>& body) {
    return rig.machine.run([&] {
      SpiInit(nullptr);
      rig.machine.platform().set_trace(&trace);
      EFI_STATUS s = body();
      rig.machine.platform().set_trace(nullptr);
      return s;
    });
  }
  sim::SpiHostController& controller() { return rig.flash.controller(); }
  SpiRig rig;
  sim::BoundedTrace trace;
};

TEST(SpiController, SoftwareCycleAccessesEachFieldOnceStartBitLast) {
  ControllerRig r(cleared("25X16"));
  r.controller().options().fast_forward_polls = false;
  // Program menu 0x9F (type 0) so that entry 0 is a read with data; the reset value of the menu is 0.
  auto outcome = r.run([] {
    MmioWrite32(kSpiBase + SPI_OPMENU, 0x9F);
    MmioWrite16(kSpiBase + SPI_PREOP, 0x5006);
    return SpiCycle(0x00123456, 0, 2, 0, 0, 1, 1);
  });
  EXPECT_EQ(outcome.to_string(), "returned(0x00000000)");
  std::vector<std::string> lines = controller_accesses(r.trace);
  // Skip the two set-up writes.
  lines.erase(lines.begin(), lines.begin() + 2);
  std::vector<std::string> expected = {
      "R16 90", "R16 90",     "W16 90=1c", "W32 08=123456", "R16 91", "W16 91=200",  "R16 91", "W16 91=200",
      "R16 91", "W16 91=200", "R16 91",    "W16 91=204",    "R16 91", "W16 91=4204", "R16 91", "W16 91=4206",
  };
  ASSERT_GE(lines.size(), expected.size() + 3);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + expected.size()), expected);
  // Then the status polls until done, one more read and the clearing write.
  std::size_t polls = lines.size() - expected.size() - 2;
  EXPECT_GT(polls, 3u) << "the cycle (WREN, 9Fh, three bytes, status poll) keeps the controller busy";
  for (std::size_t i = expected.size(); i < lines.size() - 1; i++) EXPECT_EQ(lines[i], "R16 90");
  EXPECT_EQ(lines.back(), "W16 90=41c") << "SSFC bits 7:0 (atomic) written back as read";
  // The identification landed in FDATA0 and the status is clear again.
  EXPECT_EQ(r.controller().reg32(0x10), 0x001530EFu);
  EXPECT_EQ(r.controller().reg8(0x90), 0);
}

TEST(SpiController, HardwareCycleAccessesEachFieldOnceStartBitLast) {
  ControllerRig r(cleared("25X16", true));
  auto outcome = r.run([] { return SpiCycle(0x1000, 1, 15, HSFC_CYCLE_READ, 1, 1, 1); });
  EXPECT_EQ(outcome.to_string(), "returned(0x00000000)");
  std::vector<std::string> lines = controller_accesses(r.trace);
  std::vector<std::string> expected = {"R16 04",     "R16 04", "W16 04=6007", "W32 08=1000", "R16 06",
                                       "W16 06=f00", "R16 06", "W16 06=f00",  "R16 06",      "W16 06=f01"};
  ASSERT_GE(lines.size(), expected.size() + 3);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + expected.size()), expected);
  EXPECT_EQ(lines[lines.size() - 2], "R16 04");
  EXPECT_EQ(lines.back().substr(0, 7), "W16 04=");
  // Sixteen bytes of the array arrived in FDATA.
  for (unsigned i = 0; i < 16; i++) EXPECT_EQ(r.controller().reg8(0x10 + i), r.rig.before[0x1000 + i]);
}

TEST(SpiController, AnyNonZeroHardwareFlagSelectsHardwareSequencing) {
  for (UINT8 hardware : {UINT8{2}, UINT8{0xFF}}) {
    ControllerRig r(cleared("25X16", true));
    r.run([&] { return SpiCycle(0x2000, hardware, 3, HSFC_CYCLE_READ, 0, 0, 0); });
    EXPECT_EQ(r.controller().counters().hw_cycles, 1u);
    EXPECT_EQ(r.controller().counters().sw_cycles, 0u);
    EXPECT_EQ(r.controller().reg8(0x10), r.rig.before[0x2000]);
  }
}

TEST(SpiController, ErrorsAreReportedOnceAndCleared) {
  // BIOS writes disabled: a write-type cycle is blocked (nothing on the bus) and reports an error;
  // the next cycle, a read, starts from a clean status and succeeds.
  ControllerRig r(cleared("25X16"));
  r.rig.machine.lpc().config_write(sim::LpcBridge::kBiosCntl, sim::Width::Byte, 0);
  EFI_STATUS blocked = 0, next = 0;
  r.run([&] {
    MmioWrite32(kSpiBase + SPI_OPMENU, 0x0020009F);  // 0: 9Fh, 1: (00h), 2: 20h
    MmioWrite16(kSpiBase + SPI_OPTYPE, 0x0030);      // entry 2 writes with an address
    MmioWrite16(kSpiBase + SPI_PREOP, 0x0006);
    blocked = SpiCycle(0x1000, 0, 0, 2, 0, 1, 0);
    next = SpiCycle(0, 0, 2, 0, 0, 1, 1);
    return EFI_SUCCESS;
  });
  EXPECT_EQ(blocked, EFI_DEVICE_ERROR);
  EXPECT_EQ(next, EFI_SUCCESS);
  EXPECT_EQ(r.controller().counters().blocked_by(sim::SpiBlock::WriteDisabled), 1u);
  EXPECT_EQ(r.rig.flash.part().counters().erases, 0u);
  EXPECT_EQ(r.controller().reg8(0x90), 0) << "status clear after the failed cycle";
}

TEST(SpiController, AccessErrorInTheDoneSampleIsAnError) {
  // Descriptor region without a write grant: the hardware cycle completes with done, cycle error
  // and access error together.
  sim::SpiSetupConfig c = cleared("25Q32", true);
  c.descriptor_config.bios_region = 0x03FF0200;  // BIOS from 2 MiB; below it the management engine
  ControllerRig r(c);
  EFI_STATUS denied = 0, allowed = 0;
  r.run([&] {
    MmioWrite32(kSpiBase + SPI_UVSCC, 0x2015);  // 20h erases 4 KiB
    denied = SpiCycle(0x100000, 1, 0, HSFC_CYCLE_ERASE, 0, 0, 0);
    allowed = SpiCycle(0x200000, 1, 0, HSFC_CYCLE_ERASE, 0, 0, 0);
    return EFI_SUCCESS;
  });
  EXPECT_EQ(denied, EFI_DEVICE_ERROR);
  EXPECT_EQ(allowed, EFI_SUCCESS);
  EXPECT_EQ(r.controller().counters().blocked_by(sim::SpiBlock::RegionDenied), 1u);
  EXPECT_EQ(r.rig.flash.part().counters().erases, 1u);
  // The sample that ended the wait carried the access error.
  bool saw_ael = false;
  for (const sim::Access& a : r.trace.accesses()) {
    if (!a.write && a.address == kSpiBase + 4 && (a.value & 0x7) == 0x7) saw_ael = true;
  }
  EXPECT_TRUE(saw_ael);
}

TEST(SpiController, EveryFlagIsRewrittenOnEveryCycle) {
  ControllerRig r(cleared("25X16"));
  r.run([] {
    MmioWrite32(kSpiBase + SPI_OPMENU, 0x0000059F);
    SpiCycle(0, 0, 1, 0, 1, 1, 1);  // prefix 1, atomic, data
    return SpiCycle(0, 0, 0, 1, 0, 0, 0);
  });
  // The last write to SSFC started entry 1 with prefix, atomic and data bits all clear.
  std::string last_go;
  for (const auto& line : controller_accesses(r.trace)) {
    if (line.rfind("W16 91=", 0) == 0) last_go = line;
  }
  EXPECT_EQ(last_go, "W16 91=12");
}

TEST(SpiController, ComponentCountFromTheDescriptor) {
  for (int components : {1, 2}) {
    sim::SpiSetupConfig c = cleared("25X16", true);
    c.components = components;
    ControllerRig r(c);
    UINT8 count = 0;
    EFI_STATUS s = 0;
    r.run([&] { return s = SpiGetComponentCount(&count); });
    EXPECT_EQ(s, EFI_SUCCESS);
    EXPECT_EQ(count, components);
  }
  // A map whose component field reads 3 gives 4.
  sim::SpiSetupConfig c = cleared("25X16", true);
  c.descriptor_config.components = 4;
  auto image = sim::spi_fill_pattern(0x200000, 3);
  sim::SpiFlashDescriptor::write(image, 0x200000, c.descriptor_config);
  c.image = image;
  c.descriptor = false;  // the image already holds it
  ControllerRig four(c);
  UINT8 count = 0;
  four.run([&] { return SpiGetComponentCount(&count); });
  EXPECT_EQ(count, 4);
}

TEST(SpiController, NoDescriptorNoComponentCountAndNoFdocWrite) {
  ControllerRig r(cleared("25X16"));
  UINT8 count = 0x77;
  EFI_STATUS s = 0;
  r.run([&] { return s = SpiGetComponentCount(&count); });
  EXPECT_EQ(s, EFI_UNSUPPORTED);
  EXPECT_EQ(count, 0x77);
  EXPECT_EQ(controller_accesses(r.trace), std::vector<std::string>{"R32 04"});
}

TEST(SpiController, VsccForTheTableRows) {
  struct Case {
    int row;
    UINT32 vscc;
  } cases[] = {
      {0,  0x2015},
      {7,  0x2019},
      {12, 0x2001},
      {13, 0x201D},
      {18, 0x201D},
      {19, 0xDB14},
      {20, 0xD719}
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SpiComputeVscc(SpiDeviceList[c.row].Params), c.vscc) << "row " << c.row;
  }
  for (int row = 1; row <= 6; row++) EXPECT_EQ(SpiComputeVscc(SpiDeviceList[row].Params), 0x2015u);

  SpiDeviceParams p = *SpiDeviceList[0].Params;
  p.Flags |= FlagNoPrefixWriteEnable;
  EXPECT_EQ(SpiComputeVscc(&p), 0x2005u) << "no write-enable bits from the prefixes";
  p = *SpiDeviceList[0].Params;
  p.PrefixOpcodes[0] = 0x50;
  p.PrefixOpcodes[1] = 0x06;
  EXPECT_EQ(SpiComputeVscc(&p), 0x2015u) << "06h in either prefix wins";
  p.PrefixOpcodes[1] = 0x00;
  EXPECT_EQ(SpiComputeVscc(&p), 0x200Du);
  for (UINT32 unit : {0x2000u, 0x8000u}) {
    p.EraseUnit = unit;
    EXPECT_EQ(SpiComputeVscc(&p) & 3, 0u);
  }
  p.EraseUnit = 0x10000;
  EXPECT_EQ(SpiComputeVscc(&p) & 3, 3u);
}

TEST(SimSpiController, StatusWordAt90And91OverlapAndWriteOneClears) {
  SpiRig rig(cleared("25X16"));
  rig.machine.lpc().config_write(sim::LpcBridge::kBiosCntl, sim::Width::Byte, 0);
  auto& ctl = rig.flash.controller();
  rig.machine.run([&] {
    MmioWrite16(kSpiBase + 0x91, 0x4000);  // DS at SSFC bit 14 = bit 6 of byte 0x92
    EXPECT_EQ(MmioRead8(kSpiBase + 0x92), 0x40);
    EXPECT_EQ(MmioRead32(kSpiBase + 0x90) >> 8, 0x4000u);
    // A blocked write-type cycle sets CDS and FCERR.
    MmioWrite16(kSpiBase + SPI_OPTYPE, 0x0001);
    MmioWrite16(kSpiBase + 0x91, 0x0002);
    while (MmioRead8(kSpiBase + 0x90) & 1) {
    }
    EXPECT_EQ(MmioRead8(kSpiBase + 0x90), 0x0C);
    MmioWrite8(kSpiBase + 0x90, 0x04);  // clears CDS only
    EXPECT_EQ(MmioRead8(kSpiBase + 0x90), 0x08);
    // The word at 0x90 writes SSFC bits 7:0 back as read without starting a cycle.
    MmioWrite16(kSpiBase + 0x90, static_cast<UINT16>(MmioRead16(kSpiBase + 0x90) | 0x1C));
    EXPECT_EQ(MmioRead8(kSpiBase + 0x90), 0x00);
    return EFI_SUCCESS;
  });
  EXPECT_EQ(ctl.counters().sw_cycles, 1u);
  EXPECT_EQ(ctl.counters().blocked_by(sim::SpiBlock::WriteDisabled), 1u);
}

TEST(SimSpiController, BusyUntilTheFlashFinishesAndCycleRegistersRefusedMeanwhile) {
  SpiRig rig(cleared("25VF016B"));
  rig.machine.lpc().config_write(sim::LpcBridge::kBiosCntl, sim::Width::Byte, 1);
  auto& ctl = rig.flash.controller();
  ctl.options().fast_forward_polls = false;
  sim::Nanos started = 0, finished = 0;
  rig.machine.run([&] {
    MmioWrite32(kSpiBase + SPI_OPMENU, 0x00002000);  // entry 1: 20h sector erase
    MmioWrite16(kSpiBase + SPI_OPTYPE, 0x000C);
    MmioWrite16(kSpiBase + SPI_PREOP, 0x0006);
    MmioWrite32(kSpiBase + SPI_FADDR, 0x3000);
    started = rig.machine.platform().now();
    MmioWrite16(kSpiBase + 0x91, 0x0016);       // entry 1, atomic, go
    MmioWrite32(kSpiBase + SPI_FADDR, 0x5000);  // refused while busy
    while (MmioRead8(kSpiBase + 0x90) & 1) {
    }
    finished = rig.machine.platform().now();
    return EFI_SUCCESS;
  });
  // 18 ms sector erase, then the controller sees bit 0 clear.
  EXPECT_GE(finished - started, 18'000'000u);
  EXPECT_LT(finished - started, 18'100'000u);
  EXPECT_EQ(ctl.reg32(SPI_FADDR), 0x3000u);
  EXPECT_EQ(ctl.reg8(0x90) & 0x0C, 0x0C) << "done, with the error of the refused write";
  EXPECT_EQ(rig.flash.part().counters().erases, 1u);
  EXPECT_GT(ctl.counters().status_polls, 1000u);
  for (std::uint32_t a = 0x3000; a < 0x4000; a++) ASSERT_EQ(rig.flash.part().array()[a], 0xFF);
}

TEST(SimSpiController, PowerCutKeepsTheArraysAndResetsEverythingElse) {
  sim::SpiSetupConfig c = cleared("25VF016B", true);
  SpiRig rig(c);
  rig.machine.platform().limits().power_cut_after = 3;
  auto outcome = rig.machine.run([] {
    MmioWrite32(kSpiBase + SPI_OPMENU, 0x01020304);
    MmioWrite32(kSpiBase + SPI_UVSCC, 0x2015);
    MmioWrite8(kSpiBase + SPI_FDATA0, 0x55);
    return EFI_SUCCESS;
  });
  EXPECT_EQ(outcome.kind, sim::OutcomeKind::PowerCut);
  rig.flash.part().array()[0x123456] = 0x42;
  rig.machine.power_cycle();
  auto& ctl = rig.flash.controller();
  EXPECT_EQ(ctl.reg32(SPI_OPMENU), 0u);
  EXPECT_EQ(ctl.reg32(SPI_UVSCC), 0u);
  EXPECT_EQ(ctl.reg8(SPI_FDATA0), 0u);
  EXPECT_EQ(ctl.reg16(SPI_HSFS) & HSFS_FDV, HSFS_FDV) << "the descriptor is read again at power-on";
  EXPECT_EQ(rig.flash.part().array()[0x123456], 0x42);
  EXPECT_EQ(rig.flash.part().status() & 0x3C, 0x3C) << "SST block protection back on";
}

TEST(SimSpiController, DirectReadsBelowFourGiB) {
  // Two components: linear space is component 0 then component 1, ending at 0xFFFFFFFF.
  sim::SpiSetupConfig two = cleared("25X16", true);
  two.components = 2;
  SpiRig rig(two);
  rig.flash.part(1).array()[0x1FFFFF] = 0xA7;
  rig.flash.part(0).array()[0x000010] = 0x3C;
  rig.machine.run([] {
    EXPECT_EQ(MmioRead8(0xFFFFFFFF), 0xA7);
    EXPECT_EQ(MmioRead8(0xFFC00010), 0x3C);
    return EFI_SUCCESS;
  });
  // A part smaller than the decoded 4 MiB repeats every part-size bytes.
  SpiRig small(cleared("25LV040"));
  small.machine.run([&] {
    EXPECT_EQ(MmioRead32(0xFFF80100), MmioRead32(0xFFC00100));
    EXPECT_EQ(MmioRead8(0xFFF80100), small.before[0x100]);
    return EFI_SUCCESS;
  });
}

// Cycles the controller refuses before anything reaches the bus: it reports them done with the
// cycle error bit (and the access error bit for a region the host master may not reach). One case
// per rule, on the bus face; the part sees no command and nothing changes.
struct BlockedCycle {
  const char* name;
  bool descriptor;
  bool bios_write_enable;
  bool hardware;
  UINT16 control;  // software: SSFC word at 0x91, menu entry 0 (02h, write with address); hardware: HSFC
  sim::SpiBlock cause;
  bool access_error;
};

void PrintTo(const BlockedCycle& c, std::ostream* os) { *os << c.name; }

class SimSpiControllerBlocks : public testing::TestWithParam<BlockedCycle> {};

TEST_P(SimSpiControllerBlocks, RefusedBeforeTheBus) {
  const BlockedCycle& c = GetParam();
  SpiRig rig(cleared("25X16", c.descriptor));  // FLMSTR1 0x00030000: no write grant for region 0
  rig.machine.lpc().config_write(sim::LpcBridge::kBiosCntl, sim::Width::Byte, c.bios_write_enable ? 1 : 0);
  rig.flash.part().reset_counters();
  UINT16 status = 0;
  rig.machine.run([&] {
    MmioWrite32(kSpiBase + SPI_OPMENU, 0x02);
    MmioWrite16(kSpiBase + SPI_OPTYPE, 0x0003);
    MmioWrite32(kSpiBase + SPI_FADDR, 0x0);  // the descriptor region
    MmioWrite16(kSpiBase + (c.hardware ? SPI_HSFC : SPI_SSFC), c.control);
    UINT32 reg = kSpiBase + (c.hardware ? SPI_HSFS : SPI_SSFS);
    UINT16 busy = c.hardware ? HSFS_SCIP : SSFS_SCIP;
    while ((MmioRead16(reg) & busy) != 0) {
    }
    status = MmioRead8(reg);
    return EFI_SUCCESS;
  });
  UINT16 done = c.hardware ? HSFS_FDONE | HSFS_FCERR : SSFS_CDS | SSFS_FCERR;
  UINT16 access = c.hardware ? HSFS_AEL : SSFS_AEL;
  EXPECT_EQ(status, done | (c.access_error ? access : 0));
  EXPECT_EQ(rig.flash.controller().counters().blocked_by(c.cause), 1u);
  EXPECT_EQ(rig.flash.part().counters().commands, 0u);
  EXPECT_EQ(rig.flash.image(), rig.before);
}

INSTANTIATE_TEST_SUITE_P(Rules, SimSpiControllerBlocks,
                         testing::Values(BlockedCycle{"SoftwareWriteWithoutBiosWriteEnable", false, false,
                                                      false, 0x4002, sim::SpiBlock::WriteDisabled, false},
                                         BlockedCycle{"HardwareWriteWithoutBiosWriteEnable", true, false,
                                                      true, 0x0005, sim::SpiBlock::WriteDisabled, false},
                                         BlockedCycle{"SoftwareWriteToARegionWithoutGrant", true, true, false,
                                                      0x4002, sim::SpiBlock::RegionDenied, true},
                                         BlockedCycle{"HardwareEraseOfARegionWithoutGrant", true, true, true,
                                                      0x0007, sim::SpiBlock::RegionDenied, true},
                                         BlockedCycle{"HardwareCycleWithoutDescriptor", false, true, true,
                                                      0x0001, sim::SpiBlock::NoDescriptor, false},
                                         BlockedCycle{"HardwareReservedCycleType", true, true, true, 0x0003,
                                                      sim::SpiBlock::ReservedCycle, false}),
                         [](const testing::TestParamInfo<BlockedCycle>& info) {
                           return std::string(info.param.name);
                         });

// How a software cycle is put on the bus: the opcode type decides whether an address goes out and
// in which direction the data moves; the atomic flag sends the selected prefix opcode first. A
// program (menu entry 0, 02h) of 00h over FFh with prefixes 06h (WREN) and 50h (EWSR):
TEST(SimSpiController, OpcodeTypeAndAtomicFlagShapeTheSoftwareCycle) {
  struct Case {
    UINT16 optype;  // entry 0
    UINT16 ssfc;    // go, data phase, and the flags under test
    bool programmed;
    sim::SpiRefusal refusal;
  } cases[] = {
      {0x0003, 0x4006, true,  sim::SpiRefusal::kCount       }, // write with address, atomic: WREN first
      {0x0003, 0x4002, false, sim::SpiRefusal::NoWriteEnable}, // not atomic: no prefix, no WEL
      {0x0003, 0x400E, false, sim::SpiRefusal::NoWriteEnable}, // atomic with prefix 1 (EWSR)
      {0x0001, 0x4006, false, sim::SpiRefusal::Incomplete   }, // write without address: 02h, data
      {0x0002, 0x4006, false, sim::SpiRefusal::Incomplete   }, // read with address: no data goes out
  };
  for (const Case& k : cases) {
    SpiRig rig(cleared("25X16"));
    rig.machine.lpc().config_write(sim::LpcBridge::kBiosCntl, sim::Width::Byte, 1);
    rig.flash.part().array()[0x2000] = 0xFF;
    rig.machine.run([&] {
      MmioWrite32(kSpiBase + SPI_OPMENU, 0x02);
      MmioWrite16(kSpiBase + SPI_OPTYPE, k.optype);
      MmioWrite16(kSpiBase + SPI_PREOP, 0x5006);
      MmioWrite32(kSpiBase + SPI_FADDR, 0x2000);
      MmioWrite8(kSpiBase + SPI_FDATA0, 0x00);
      MmioWrite16(kSpiBase + SPI_SSFC, k.ssfc);
      while ((MmioRead16(kSpiBase + SPI_SSFS) & SSFS_SCIP) != 0) {
      }
      return EFI_SUCCESS;
    });
    SCOPED_TRACE(k.ssfc);
    EXPECT_EQ(rig.flash.part().array()[0x2000], k.programmed ? 0x00 : 0xFF) << k.optype;
    if (!k.programmed) {
      EXPECT_EQ(rig.flash.part().counters().refused(k.refusal), 1u) << k.optype;
    }
  }
}

// FLOCKDN (HSFS bit 15) freezes the prefix opcodes, opcode types and opcode menu until reset, and
// stays set once set: a module that reprograms the menu after lock-down keeps the old opcodes.
// BFPR and the region registers come from the descriptor and take no writes.
TEST(SimSpiController, LockDownFreezesTheOpcodeMenuAndDescriptorRegistersAreReadOnly) {
  SpiRig rig(cleared("25X16", true));
  auto& ctl = rig.flash.controller();
  std::uint32_t bfpr = ctl.reg32(0x00), freg1 = ctl.reg32(0x58);
  rig.machine.run([&] {
    MmioWrite32(kSpiBase + 0x00, 0);
    MmioWrite32(kSpiBase + 0x58, 0);
    MmioWrite32(kSpiBase + SPI_OPMENU, 0x02);
    MmioWrite16(kSpiBase + SPI_OPTYPE, 0x0003);
    MmioWrite16(kSpiBase + SPI_PREOP, 0x5006);
    MmioWrite16(kSpiBase + 0x04, 0x8000);
    MmioWrite32(kSpiBase + SPI_OPMENU, 0x20);
    MmioWrite16(kSpiBase + SPI_OPTYPE, 0x0000);
    MmioWrite16(kSpiBase + SPI_PREOP, 0x0000);
    MmioWrite16(kSpiBase + 0x04, 0x0000);
    return EFI_SUCCESS;
  });
  EXPECT_EQ(ctl.reg32(SPI_OPMENU), 0x02u);
  EXPECT_EQ(ctl.reg16(SPI_OPTYPE), 0x0003u);
  EXPECT_EQ(ctl.reg16(SPI_PREOP), 0x5006u);
  EXPECT_EQ(ctl.reg8(0x05) & 0x80, 0x80);
  EXPECT_EQ(ctl.reg32(0x00), bfpr);
  EXPECT_EQ(ctl.reg32(0x58), freg1);
  EXPECT_NE(bfpr, 0u);
}

}  // namespace
}  // namespace testing_support
