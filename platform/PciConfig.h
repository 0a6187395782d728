// The LPC bridge (bus 0, device 31, function 0) reached through PCI configuration mechanism #1
// and through the memory-mapped configuration window at 0xE0000000, and the chipset base
// addresses it holds.
#ifndef PLATFORM_PCI_CONFIG_H_
#define PLATFORM_PCI_CONFIG_H_

#include "pi/PiBase.h"

constexpr UINT16 PCI_CONFIG_ADDRESS_PORT = 0xCF8;
constexpr UINT16 PCI_CONFIG_DATA_PORT = 0xCFC;

// Memory-mapped configuration: base + bus << 20 + device << 15 + function << 12 + register.
constexpr UINT32 PCI_EXPRESS_BASE = 0xE0000000;
constexpr UINT32 LPC_BRIDGE_MMCFG = PCI_EXPRESS_BASE + (31u << 15);  // 0xE00F8000

// LPC bridge configuration registers.
constexpr UINT8 LPC_PMBASE = 0x40;     // 16-bit ACPI PM I/O base, bit 0 is the I/O indicator
constexpr UINT8 LPC_BIOS_CNTL = 0xDC;  // 8-bit; bit 0 BIOS write enable, bits 3:2 SPI read config
constexpr UINT8 LPC_RCBA = 0xF0;       // 32-bit root complex base address, bit 0 enable

constexpr UINT8 BIOS_CNTL_BIOSWE = 0x01;

// Mechanism #1 address of an LPC bridge register: enable bit 31, bus 0, device 31, function 0.
constexpr UINT32 LpcBridgeConfigAddress(UINT8 Register) { return 0x80000000u | (31u << 11) | Register; }
static_assert(LpcBridgeConfigAddress(LPC_BIOS_CNTL) == 0x8000F8DC, "BIOS_CNTL through mechanism #1");
static_assert(LPC_BRIDGE_MMCFG + LPC_RCBA == 0xE00F80F0, "RCBA through the configuration window");

// Chipset register block at RCBA.
constexpr UINT32 RCBA_GCS = 0x3410;      // general control and status; bits 11:10 boot BIOS straps
constexpr UINT32 RCBA_SPI_BAR = 0x3800;  // SPI host controller registers

// RCBA read afresh from the configuration window, enable bit cleared.
UINT32 ReadRcba(void);

// ACPI PM I/O base read afresh from the configuration window, I/O indicator bit cleared.
UINT16 ReadPmBase(void);

#endif  // PLATFORM_PCI_CONFIG_H_
