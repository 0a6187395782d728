// The simulated chipset answers configuration, RCBA and PM accesses as the hardware does.
#include <gtest/gtest.h>

#include "platform/HwAccess.h"
#include "platform/PciConfig.h"
#include "sim/Machine.h"

namespace {

TEST(SimChipset, ConfigurationSpaceThroughBothMechanisms) {
  sim::Machine m;
  m.run([] {
    // Mechanism #1 and the memory-mapped window reach the same LPC bridge registers.
    IoWrite32(0xCF8, 0x8000F800);
    EXPECT_EQ(IoRead32(0xCFC), 0x29188086u);
    EXPECT_EQ(IoRead16(0xCFE), 0x2918u);  // CONFIG_DATA + 2 is the upper half of the dword
    EXPECT_EQ(MmioRead32(0xE00F8000), 0x29188086u);
    EXPECT_EQ(ReadRcba(), 0xFED1C000u);
    EXPECT_EQ(ReadPmBase(), 0x400u);
    // Absent functions read all ones, both ways.
    IoWrite32(0xCF8, 0x8000F000);  // device 30
    EXPECT_EQ(IoRead32(0xCFC), 0xFFFFFFFFu);
    EXPECT_EQ(MmioRead16(0xE0100000), 0xFFFFu);  // bus 1
    // Disabled mechanism #1 reaches nothing.
    IoWrite32(0xCF8, 0x0000F800);
    EXPECT_EQ(IoRead32(0xCFC), 0xFFFFFFFFu);
    // A byte write to 0xCF8 is ordinary I/O, not a new configuration address.
    IoWrite32(0xCF8, 0x8000F8DC);
    IoWrite8(0xCF8, 0x00);
    EXPECT_EQ(IoRead32(0xCF8), 0x8000F8DCu);
    return EFI_SUCCESS;
  });
}

TEST(SimChipset, BootStrapsAreReadOnlyAndRcbaMoves) {
  sim::MachineConfig cfg;
  cfg.boot_straps = 0;
  sim::Machine m(cfg);
  m.run([] {
    UINT32 rcba = ReadRcba();
    MmioWrite32(rcba + RCBA_GCS, 0xFFFFFFFF);
    EXPECT_EQ(MmioRead32(rcba + RCBA_GCS) & 0xC00, 0u);  // straps 00b stay
    EXPECT_EQ(MmioRead32(rcba + RCBA_GCS) & 0x3FF, 0x3FFu);
    // Moving RCBA moves the block and what is mapped inside it.
    MmioWrite32(0xE00F80F0, 0xFED20001);
    EXPECT_EQ(ReadRcba(), 0xFED20000u);
    EXPECT_EQ(MmioRead32(0xFED20000 + RCBA_GCS) & 0x3FF, 0x3FFu);
    return EFI_SUCCESS;
  });
  m.chipset().set_boot_straps(3);
  EXPECT_EQ(m.chipset().gcs() & 0xC00, 0xC00u);
}

TEST(SimChipset, PmBlockFollowsPmBaseAndAcpiEnable) {
  sim::MachineConfig cfg;
  cfg.pm1_cnt_low = 0x21;
  sim::Machine m(cfg);
  m.run([] {
    EXPECT_EQ(IoRead8(0x404), 0x21);
    UINT32 t1 = IoRead32(0x408);
    UINT32 t2 = IoRead32(0x408);
    EXPECT_LT(t1, t2);  // a microsecond per port access is several timer ticks
    EXPECT_EQ(t1 >> 24, 0u);
    MmioWrite16(0xE00F8040, 0x0501);  // PMBASE to 0x500
    EXPECT_EQ(IoRead8(0x504), 0x21);
    EXPECT_EQ(IoRead8(0x404), 0xFF);
    MmioWrite8(0xE00F8044, 0x00);  // ACPI decode off
    EXPECT_EQ(IoRead8(0x504), 0xFF);
    return EFI_SUCCESS;
  });
}

TEST(SimChipset, PowerCycleRestoresVolatileStateAndKeepsCmos) {
  sim::Machine m;
  m.cmos().set(0x6E, 4);
  m.run([] {
    IoWrite32(0xCF8, 0x8000F8DC);
    IoWrite8(0xCFC, 0x0B);  // BIOSWE, BLE, SPI read configuration
    return EFI_SUCCESS;
  });
  EXPECT_EQ(m.lpc().bios_cntl(), 0x0B);
  m.power_cycle();
  EXPECT_EQ(m.lpc().bios_cntl(), 0x00);
  EXPECT_EQ(m.cmos().get(0x6E), 4);
}

// The PM timer counts 3,579,545 ticks a second in 24 bits (bits 31:24 read 0) and is read-only;
// PM1_CNT takes each byte lane on its own. Port accesses are made free here, so that one simulated
// second is exactly 3,579,545 ticks.
TEST(SimChipset, PmTimerRateWidthAndReadOnly) {
  sim::MachineConfig cfg;
  cfg.pm_timer_start = 0xFFFFF0;
  cfg.pm1_cnt_low = 0x21;
  sim::Machine m(cfg);
  m.platform().costs().io_port = 0;
  m.pm().decode_at(m.lpc().pmbase(), m.lpc().acpi_enabled());
  m.run([&] {
    EXPECT_EQ(IoRead32(0x408), 0xFFFFF0u);
    m.platform().advance(1'000'000'000);
    UINT32 later = IoRead32(0x408);
    EXPECT_EQ(later, (0xFFFFF0u + 3579545u) & 0xFFFFFFu);  // wrapped past 2^24
    IoWrite32(0x408, 0);
    IoWrite8(0x40B, 0xFF);
    EXPECT_EQ(IoRead32(0x408), later);
    IoWrite8(0x405, 0x1C);
    EXPECT_EQ(IoRead32(0x404), 0x1C21u);
    IoWrite16(0x404, 0x0001);
    EXPECT_EQ(IoRead32(0x404), 0x0001u);
    return EFI_SUCCESS;
  });
}

// CMOS: bit 7 of the index gates NMI and is no address bit; the index port reads nothing back.
// The POST latch takes byte writes only; wider ones are refused and counted.
TEST(SimChipset, CmosIndexAndPostLatchTakeBytes) {
  sim::Machine m;
  m.run([] {
    IoWrite8(0x70, 0x80 | 0x6E);
    IoWrite8(0x71, 0x04);
    EXPECT_EQ(IoRead8(0x70), 0xFF);
    IoWrite8(0x70, 0x6E);
    EXPECT_EQ(IoRead8(0x71), 0x04);
    IoWrite8(0x80, 0x41);
    IoWrite16(0x80, 0x4243);
    IoWrite32(0x80, 0x44454647);
    EXPECT_EQ(IoRead8(0x80), 0xFF);
    return EFI_SUCCESS;
  });
  EXPECT_EQ(m.cmos().get(0x6E), 0x04);
  EXPECT_EQ(m.post().codes(), std::vector<std::uint8_t>{0x41});
  EXPECT_EQ(m.post().wide_writes(), 2u);
}

// The bridge's identification header is read-only; PMBASE keeps bit 0 set (I/O space) and bits
// 6:1 clear; RCBA bits 13:1 are reserved; BIOS_CNTL keeps BLE once set, its top-swap status bit
// read-only and bits 7:5 reserved.
TEST(SimChipset, BridgeHeaderAndReservedBitsAreReadOnly) {
  sim::Machine m;
  m.run([] {
    MmioWrite32(0xE00F8000, 0);
    MmioWrite32(0xE00F8008, 0);
    EXPECT_EQ(MmioRead32(0xE00F8000), 0x29188086u);
    EXPECT_EQ(MmioRead32(0xE00F8008), 0x06010002u);
    MmioWrite16(0xE00F8040, 0x057E);
    EXPECT_EQ(MmioRead16(0xE00F8040), 0x0501u);
    MmioWrite32(0xE00F80F0, 0xFED1FFFF);
    EXPECT_EQ(MmioRead32(0xE00F80F0), 0xFED1C001u);
    MmioWrite8(0xE00F80DC, 0xFF);
    EXPECT_EQ(MmioRead8(0xE00F80DC), 0x0F);
    MmioWrite8(0xE00F80DC, 0x00);
    EXPECT_EQ(MmioRead8(0xE00F80DC), 0x02);
    return EFI_SUCCESS;
  });
}

}  // namespace
