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

}  // namespace
