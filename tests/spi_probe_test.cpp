// SPI probe and configuration: what a matching and a mismatching probe change, detection of every
// part by its own row, component scaling, and the writable window from FLMSTR1 and BFPR.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>

#include "flash/DeviceTables.h"
#include "flash/FlashDetect.h"
#include "flash/spi/SpiController.h"
#include "flash/spi/SpiOps.h"
#include "flash/spi/SpiPlatformHooks.h"
#include "sim/devices/SpiPartCatalog.h"
#include "tests/support/spi_cycle_recorder.h"
#include "tests/support/spi_rig.h"

namespace testing_support {
namespace {

sim::SpiSetupConfig config(const char* part, bool descriptor = false) {
  sim::SpiSetupConfig c;
  c.part = part;
  c.descriptor = descriptor;
  c.protection = sim::SpiProtectionStart::Cleared;
  return c;
}

UINTN row(int i) { return reinterpret_cast<UINTN>(&SpiDeviceList[i]); }

// Probes one row after SpiInit; BIOS_CNTL starts with BIOSWE and both SPI read-configuration bits.
struct ProbeRig {
  explicit ProbeRig(const sim::SpiSetupConfig& c) : rig(c) {
    rig.machine.lpc().config_write(sim::LpcBridge::kBiosCntl, sim::Width::Byte, 0x0D);
  }
  EFI_STATUS probe(int i) {
    EFI_STATUS status = 0;
    rig.machine.run([&] {
      SpiInit(nullptr);
      rig.machine.platform().set_trace(&cycles);
      status = SpiProbe(row(i));
      rig.machine.platform().set_trace(nullptr);
      return status;
    });
    return status;
  }
  sim::SpiHostController& controller() { return rig.flash.controller(); }
  SpiRig rig;
  SpiCycleRecorder cycles;
};

TEST(SpiProbe, MatchingProbeConfiguresTheDriverForThePart) {
  ProbeRig r(config("25X16"));
  EXPECT_EQ(r.probe(0), EFI_SUCCESS);
  EXPECT_EQ(r.rig.machine.post().codes(), std::vector<std::uint8_t>{0x41});
  EXPECT_EQ(r.rig.machine.lpc().bios_cntl(), 0x01) << "SPI read configuration bits 3:2 cleared";
  const SpiDeviceParams* p = SpiDeviceList[0].Params;
  EXPECT_EQ(std::memcmp(&SpiControllerState.ActiveSpiParams, p, sizeof *p), 0);
  EXPECT_EQ(SpiControllerState.HwSequencing, 0);
  EXPECT_EQ(SpiControllerState.WritableLow, 0u);
  EXPECT_EQ(SpiControllerState.WritableHigh, 0x1FFFFFu);
  EXPECT_EQ(r.controller().reg32(SPI_OPMENU), 0x0102209Fu);
  EXPECT_EQ(r.controller().reg32(SPI_OPMENU + 4), 0x00000503u);
  EXPECT_EQ(r.controller().reg16(SPI_OPTYPE), 0xF27C);
  EXPECT_EQ(r.controller().reg16(SPI_PREOP), 0x5006);
  EXPECT_EQ(r.controller().reg32(SPI_LVSCC), 0x2015u);
  EXPECT_EQ(r.controller().reg32(SPI_UVSCC), 0x2015u);
  // One identification cycle: entry 0, prefix 0 atomically, three data bytes, address 0.
  ASSERT_EQ(r.cycles.cycles().size(), 1u);
  EXPECT_EQ(r.cycles.cycles()[0], (SpiCycleRecord{false, 0, 2, 0, false, true, true, 0}));
}

TEST(SpiProbe, MismatchingProbeLeavesTheDriverStateAlone) {
  ProbeRig r(config("25X16"));
  EXPECT_EQ(r.probe(19), EFI_UNSUPPORTED);
  EXPECT_EQ(r.rig.machine.post().codes(), std::vector<std::uint8_t>{0x41});
  // The controller holds the candidate's tables and VSCC, and FDATA0 what the part answered.
  EXPECT_EQ(r.controller().reg32(SPI_OPMENU), 0x0002DB9Fu);
  EXPECT_EQ(r.controller().reg16(SPI_PREOP), 0x0006);
  EXPECT_EQ(r.controller().reg32(SPI_UVSCC), 0xDB14u);
  EXPECT_EQ(r.controller().reg32(SPI_FDATA0), 0x001530EFu);
  EXPECT_EQ(r.rig.machine.lpc().bios_cntl(), 0x0D);
  EXPECT_EQ(SpiControllerState.HwSequencing, 0);
  EXPECT_EQ(SpiControllerState.WritableHigh, 0u);
  EXPECT_EQ(SpiControllerState.ActiveSpiParams.FlashSize, 0u);
  EXPECT_NE(SpiControllerState.SpiBase, 0u);
}

TEST(SpiProbe, DetectionFindsEveryPartByItsOwnRow) {
  const auto& catalog = sim::spi_part_catalog();
  ASSERT_EQ(catalog.size(), SpiDeviceListLength);
  for (std::size_t i = 0; i < catalog.size(); i++) {
    sim::SpiSetupConfig c = config(catalog[i].name.c_str());
    // The Pm25LV040 answers ABh only after dummy bytes, which its row does not send: only the
    // variant that answers without them is found.
    if (catalog[i].name == "25LV040") c.variant = "res-without-dummy";
    SpiRig rig(c);
    const FlashDevice* device = nullptr;
    auto outcome = rig.machine.run([&] { return DetectFlashDevice(&device, nullptr); });
    EXPECT_EQ(outcome.to_string(), "returned(0x00000000)") << catalog[i].name;
    EXPECT_EQ(device, &SpiDeviceList[i].Device) << catalog[i].name;
    // One 0x41 per candidate probed.
    EXPECT_EQ(rig.machine.post().codes(), std::vector<std::uint8_t>(i + 1, 0x41)) << catalog[i].name;
  }
}

TEST(SpiProbe, TwoByteIdentificationComparesWithZeroUpperBytes) {
  ProbeRig r(config("25LF040"));
  EXPECT_EQ(r.probe(7), EFI_SUCCESS);
  ASSERT_EQ(r.cycles.cycles().size(), 1u);
  EXPECT_EQ(r.cycles.cycles()[0].dbc, 1u);
  EXPECT_EQ(r.controller().reg32(SPI_FDATA0), 0x000040BFu);
}

TEST(SpiProbe, TwoComponentsDoubleTheActiveSizeOnly) {
  sim::SpiSetupConfig c = config("25X16", true);
  c.components = 2;
  c.descriptor_config.flmstr1 = 0x0A0B0000;  // write grants: the whole flash is writable
  ProbeRig r(c);
  EXPECT_EQ(r.probe(0), EFI_SUCCESS);
  EXPECT_EQ(SpiControllerState.ActiveSpiParams.FlashSize, 0x400000u);
  EXPECT_EQ(SpiDeviceList[0].Params->FlashSize, 0x200000u);
  EXPECT_EQ(SpiControllerState.HwSequencing, 1);
  EXPECT_EQ(SpiControllerState.WritableLow, 0u);
  EXPECT_EQ(SpiControllerState.WritableHigh, 0x3FFFFFu);
}

TEST(SpiProbe, WritableWindowFromFlmstr1AndBfpr) {
  struct Case {
    UINT32 flmstr1, bfpr;
    UINT64 low, high;
  } cases[] = {
      {0x00030000, 0x01FF0180, 0x180000, 0x1FFFFF}, // no write grants: the BIOS region
      {0x01030000, 0x01FF0180, 0,        0x1FFFFF}, // any grant in 27:24: the whole part
      {0x08030000, 0x01FF0180, 0,        0x1FFFFF},
      {0x00030000, 0x01800180, 0,        0x1FFFFF}, // base not below limit: the whole part
  };
  for (const Case& k : cases) {
    sim::SpiSetupConfig c = config("25X16", true);
    c.descriptor_config.flmstr1 = k.flmstr1;
    c.descriptor_config.bios_region = k.bfpr;
    ProbeRig r(c);
    EXPECT_EQ(r.probe(0), EFI_SUCCESS);
    EXPECT_EQ(SpiControllerState.WritableLow, k.low) << std::hex << k.flmstr1 << " " << k.bfpr;
    EXPECT_EQ(SpiControllerState.WritableHigh, k.high) << std::hex << k.flmstr1 << " " << k.bfpr;
  }
}

TEST(SpiProbe, NoDescriptorSoftwareSequencingWholePartNoFdocWrite) {
  ProbeRig r(config("25Q32"));
  sim::BoundedTrace trace(10000);
  r.rig.machine.run([&] {
    SpiInit(nullptr);
    r.rig.machine.platform().set_trace(&trace);
    return SpiProbe(row(1));
  });
  EXPECT_EQ(SpiControllerState.HwSequencing, 0);
  EXPECT_EQ(SpiControllerState.ActiveSpiParams.FlashSize, 0x400000u);
  EXPECT_EQ(SpiControllerState.WritableHigh, 0x3FFFFFu);
  for (const sim::Access& a : trace.accesses()) {
    EXPECT_FALSE(a.write && a.address == 0xFED1F8B0) << "FDOC written";
  }
}

// Unpacks the memory-write entry's trailing arguments as the boot-script save interface defines them.
struct BootScriptSpy : EFI_BOOT_SCRIPT_SAVE_PROTOCOL {
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wvarargs"  // the interface's last named parameter is a UINT16
#endif
  static EFI_STATUS EFIAPI write(EFI_BOOT_SCRIPT_SAVE_PROTOCOL* self, UINT16 table, UINT16 opcode, ...) {
    auto* spy = static_cast<BootScriptSpy*>(self);
    va_list rest;
    va_start(rest, opcode);
    UINT32 width = va_arg(rest, UINT32);
    UINT64 address = va_arg(rest, UINT64);
    UINTN count = va_arg(rest, UINTN);
    VOID* buffer = va_arg(rest, VOID*);
    va_end(rest);
    spy->calls++;
    spy->args = {table, opcode, width, address, count, reinterpret_cast<UINT64>(buffer)};
    return EFI_SUCCESS;
  }
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
  int calls = 0;
  std::vector<UINT64> args;
};

TEST(SpiProbe, BootScriptRecordsTheVsccWriteOnlyWhenAnInterfaceExists) {
  EXPECT_EQ(BootScriptMemWrite(0, 2, 0xFED1F8C8, 1, nullptr), EFI_NOT_FOUND);
  ProbeRig r(config("25X16"));
  BootScriptSpy spy;
  spy.Write = BootScriptSpy::write;
  r.rig.machine.run([&] {
    SpiInit(nullptr);
    BootScriptHook = &spy;
    return SpiProbe(row(0));
  });
  EXPECT_EQ(spy.calls, 1);
  EXPECT_EQ(spy.args, (std::vector<UINT64>{0, 2, 2, 0xFED1F8C8, 1, 0xFED1F8C8}));
}

// RCBA is read from the LPC bridge at every use: once for SpiBase, once more for the attribute
// request when there is a memory-space service, and twice (address, value source) for the boot
// script entry between the VSCC writes and the FDATA0 clear of every probe.
TEST(SpiProbe, RcbaIsReadAfreshAtEachUse) {
  constexpr std::uint32_t kRcbaRegister = 0xE00F80F0;
  static UINT64 attribute_base;
  static SPI_MEMORY_SPACE_SERVICES services = {[](UINT64 base, UINT64, UINT64) -> EFI_STATUS {
    attribute_base = base;
    return EFI_SUCCESS;
  }};
  auto rcba_reads = [&](const std::vector<sim::Access>& accesses) {
    std::vector<std::uint64_t> at;
    for (std::size_t i = 0; i < accesses.size(); i++) {
      const sim::Access& a = accesses[i];
      if (a.space == sim::Space::Mem && !a.write && a.width == sim::Width::Dword &&
          a.address == kRcbaRegister) {
        at.push_back(i);
      }
    }
    return at;
  };
  for (bool hook : {false, true}) {
    ProbeRig r(config("25X16"));
    sim::BoundedTrace init(100), probe(1000);
    attribute_base = 0;
    r.rig.machine.run([&] {
      MemorySpaceHook = hook ? &services : nullptr;
      r.rig.machine.platform().set_trace(&init);
      SpiInit(nullptr);
      r.rig.machine.platform().set_trace(&probe);
      return SpiProbe(row(0));
    });
    EXPECT_EQ(rcba_reads(init.accesses()).size(), hook ? 2u : 1u);
    EXPECT_EQ(attribute_base, hook ? 0xFED1C000u : 0u);
    // POST code, OPMENU twice, OPTYPE, PREOP, LVSCC, UVSCC (accesses 0-6), two RCBA reads, FDATA0.
    EXPECT_EQ(rcba_reads(probe.accesses()), (std::vector<std::uint64_t>{7, 8}));
    ASSERT_GT(probe.accesses().size(), 9u);
    EXPECT_EQ(probe.accesses()[6].address, 0xFED1F8C8u);  // UVSCC
    EXPECT_EQ(probe.accesses()[9].address, 0xFED1F810u);  // FDATA0
  }
}

TEST(SpiProbe, ConvertedPointersLeaveBiosCntlAlone) {
  ProbeRig r(config("25X16"));
  r.rig.machine.run([&] {
    SpiInit(nullptr);
    SpiConvertPointers();
    return SpiProbe(row(0));
  });
  EXPECT_EQ(SpiControllerState.PointersConverted, 1);
  EXPECT_EQ(r.rig.machine.lpc().bios_cntl(), 0x0D);
}

// With a conversion service connected, the controller base is converted once, however often the
// family's ConvertPointers is called (a second conversion would move it again).
EFI_STATUS convert_by_offset(UINTN disposition, VOID** address) {
  EXPECT_EQ(disposition, SPI_CONVERT_DISPOSITION);
  *address = static_cast<std::uint8_t*>(*address) + 0x1000;
  return EFI_SUCCESS;
}

TEST(SpiProbe, ConversionServiceMovesTheControllerBaseOnce) {
  ProbeRig r(config("25X16"));
  UINT32 before = 0;
  r.rig.machine.run([&] {
    SpiInit(nullptr);
    before = SpiControllerState.SpiBase;
    SpiConvertPointerHook = convert_by_offset;
    SpiConvertPointers();
    SpiConvertPointers();
    return EFI_SUCCESS;
  });
  SpiConvertPointerHook = nullptr;
  EXPECT_EQ(SpiControllerState.SpiBase, before + 0x1000);
}

}  // namespace
}  // namespace testing_support
