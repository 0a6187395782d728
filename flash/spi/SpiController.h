// The chipset SPI host controller as the driver sees it: register offsets and bits at SpiBase
// (RCBA + 0x3800), the driver's module-wide state, and the cycle primitives through which every
// byte to or from an SPI flash part passes.
#ifndef FLASH_SPI_SPI_CONTROLLER_H_
#define FLASH_SPI_SPI_CONTROLLER_H_

#include "flash/SpiFlashDevice.h"
#include "platform/PciConfig.h"

// Register offsets from SpiBase.
constexpr UINT32 SPI_BFPR = 0x00;    // 32: BIOS region, base bits 11:0, limit bits 27:16 (4 KiB units)
constexpr UINT32 SPI_HSFS = 0x04;    // 16: hardware-sequencing status
constexpr UINT32 SPI_HSFC = 0x06;    // 16: hardware-sequencing control
constexpr UINT32 SPI_FADDR = 0x08;   // 32: linear flash address of the cycle
constexpr UINT32 SPI_FDATA0 = 0x10;  // 64-byte data buffer, byte 0 first on the wire
constexpr UINT32 SPI_SSFS = 0x90;    // 8: software-sequencing status; a 16-bit access also covers SSFC 7:0
constexpr UINT32 SPI_SSFC = 0x91;    // 24: software-sequencing control, reached as a 16-bit word at 0x91
constexpr UINT32 SPI_PREOP = 0x94;   // 16: prefix opcodes 0 and 1
constexpr UINT32 SPI_OPTYPE = 0x96;  // 16: 2 bits per menu entry
constexpr UINT32 SPI_OPMENU = 0x98;  // 64: eight menu opcodes
constexpr UINT32 SPI_FDOC = 0xB0;    // 32: descriptor observability control
constexpr UINT32 SPI_FDOD = 0xB4;    // 32: observed descriptor dword
constexpr UINT32 SPI_LVSCC = 0xC4;   // 32: lower vendor-specific component capabilities
constexpr UINT32 SPI_UVSCC = 0xC8;   // 32: upper vendor-specific component capabilities

// HSFS bits.
constexpr UINT16 HSFS_FDONE = 0x0001;
constexpr UINT16 HSFS_FCERR = 0x0002;
constexpr UINT16 HSFS_AEL = 0x0004;
constexpr UINT16 HSFS_STATUS_W1C = HSFS_FDONE | HSFS_FCERR | HSFS_AEL;
constexpr UINT16 HSFS_SCIP = 0x0020;
constexpr UINT32 HSFS_FDV = 0x4000;  // a valid flash descriptor was found at power-on

// HSFC fields.
constexpr UINT16 HSFC_FGO = 0x0001;
constexpr UINT16 HSFC_FCYCLE_KEEP = 0xFFF9;  // AND mask clearing the cycle type, bits 2:1
constexpr UINT16 HSFC_FDBC_KEEP = 0xC0FF;    // AND mask clearing the byte count, bits 13:8
constexpr UINT8 HSFC_CYCLE_READ = 0;
constexpr UINT8 HSFC_CYCLE_WRITE = 2;
constexpr UINT8 HSFC_CYCLE_ERASE = 3;

// The 16-bit word at 0x90: SSFS in bits 7:0, SSFC bits 7:0 above it.
constexpr UINT16 SSFS_SCIP = 0x0001;
constexpr UINT16 SSFS_CDS = 0x0004;
constexpr UINT16 SSFS_FCERR = 0x0008;
constexpr UINT16 SSFS_AEL = 0x0010;
constexpr UINT16 SSFS_STATUS_W1C = SSFS_CDS | SSFS_FCERR | SSFS_AEL;

// SSFC bits 15:0 as the 16-bit word at 0x91.
constexpr UINT16 SSFC_SCGO = 0x0002;
constexpr UINT16 SSFC_ACS = 0x0004;       // atomic sequence: prefix, opcode, status polling
constexpr UINT16 SSFC_SPOP = 0x0008;      // prefix opcode 1 instead of 0
constexpr UINT16 SSFC_COP_KEEP = 0xFF8F;  // AND mask clearing the menu index, bits 6:4
constexpr UINT16 SSFC_DBC_KEEP = 0xC0FF;  // AND mask clearing the byte count, bits 13:8
constexpr UINT16 SSFC_DS = 0x4000;        // the cycle has a data phase

// Descriptor observability: section in bits 14:12, dword index in bits 11:2.
constexpr UINT32 FDOC_FLMAP0 = 0x0004;               // section 0 (descriptor map), dword 1
constexpr UINT32 FDOC_FLMSTR1 = 0x3000;              // section 3 (masters), dword 0
constexpr UINT32 FLMSTR1_WRITE_GRANTS = 0x0F000000;  // write grants for regions 0-3

// The register map as the controller decodes it.
static_assert(SPI_HSFC == SPI_HSFS + 2, "HSFC is the upper half of the dword at 0x04");
static_assert(SPI_FADDR == 0x08 && SPI_FDATA0 == 0x10, "FADDR, then the data buffer at 0x10");
static_assert(SPI_FDATA0 + 64 <= SPI_SSFS, "the 64-byte data buffer ends before SSFS");
static_assert(SPI_SSFC == SPI_SSFS + 1, "SSFC starts at the odd byte after SSFS");
static_assert(SPI_PREOP == SPI_SSFC + 3, "PREOP follows the 24-bit SSFC");
static_assert(SPI_OPTYPE == SPI_PREOP + 2 && SPI_OPMENU == SPI_OPTYPE + 2, "PREOP, OPTYPE, OPMENU");
static_assert(SPI_OPMENU + 8 <= SPI_FDOC, "eight menu bytes end before FDOC");
static_assert(SPI_FDOD == SPI_FDOC + 4, "FDOD follows FDOC");
static_assert(SPI_UVSCC == SPI_LVSCC + 4, "UVSCC follows LVSCC");
static_assert(RCBA_SPI_BAR + SPI_UVSCC == 0x38C8, "UVSCC in the chipset register block");

// Field positions: HSFS and HSFC.
static_assert(HSFS_FDONE == 1u << 0 && HSFS_FCERR == 1u << 1 && HSFS_AEL == 1u << 2, "HSFS bits 2:0");
static_assert(HSFS_SCIP == 1u << 5, "HSFS bit 5: cycle in progress");
static_assert(HSFS_FDV == 1u << 14, "HSFS bit 14: flash descriptor valid");
static_assert(HSFC_FGO == 1u << 0, "HSFC bit 0: start");
static_assert(HSFC_FCYCLE_KEEP == (UINT16) ~(3u << 1), "HSFC bits 2:1: cycle type");
static_assert(HSFC_FDBC_KEEP == (UINT16) ~(0x3Fu << 8), "HSFC bits 13:8: data byte count");
static_assert(HSFC_CYCLE_READ < 4 && HSFC_CYCLE_WRITE < 4 && HSFC_CYCLE_ERASE < 4, "two-bit cycle types");

// Field positions: SSFS and SSFC (the word at 0x91 is SSFC bits 15:0).
static_assert(SSFS_SCIP == 1u << 0 && SSFS_CDS == 1u << 2, "SSFS bits 0 and 2");
static_assert(SSFS_FCERR == 1u << 3 && SSFS_AEL == 1u << 4, "SSFS bits 3 and 4");
static_assert(SSFS_STATUS_W1C <= 0xFF, "clearing SSFS leaves the SSFC byte above it as read");
static_assert(SSFC_SCGO == 1u << 1 && SSFC_ACS == 1u << 2 && SSFC_SPOP == 1u << 3, "SSFC bits 3:1");
static_assert(SSFC_COP_KEEP == (UINT16) ~(7u << 4), "SSFC bits 6:4: opcode-menu index");
static_assert(SSFC_DBC_KEEP == (UINT16) ~(0x3Fu << 8), "SSFC bits 13:8: data byte count");
static_assert(SSFC_DS == 1u << 14, "SSFC bit 14: data cycle");

// Field positions: descriptor observability and the master grants.
static_assert(FDOC_FLMAP0 == ((0u << 12) | (1u << 2)), "section 0, dword 1");
static_assert(FDOC_FLMSTR1 == ((3u << 12) | (0u << 2)), "section 3, dword 0");
static_assert(FLMSTR1_WRITE_GRANTS == 0xFu << 24, "FLMSTR1 bits 27:24: write grants");

// Menu entries and prefix selections that the driver's cycles use; the row's parameter block
// fills the menu so that these positions hold the right opcodes for its part.
constexpr UINT8 SPI_MENU_ID = 0;
constexpr UINT8 SPI_MENU_ERASE = 1;
constexpr UINT8 SPI_MENU_PROGRAM = 2;
constexpr UINT8 SPI_MENU_WRITE_STATUS = 3;
constexpr UINT8 SPI_MENU_BLOCK_PROTECT = 6;
constexpr UINT8 SPI_MENU_BLOCK_UNPROTECT = 7;

// The SPI driver's module-wide state, zero at load. Written only by SpiInit, SpiProbe and
// SpiConvertPointers; the cycle and data operations read it.
typedef struct {
  UINT32 SpiBase;                   // RCBA + 0x3800
  UINT8 HwSequencing;               // 1 when the controller found a valid flash descriptor
  SpiDeviceParams ActiveSpiParams;  // the detected row's block, FlashSize scaled for the components
  UINT64 WritableLow;               // inclusive window of linear flash addresses the driver modifies
  UINT64 WritableHigh;
  UINT8 PointersConverted;
  UINT8 SpiReadMode;  // BIOS_CNTL bits 3:2 to program; 0 for the module's life
} SPI_CONTROLLER_STATE;

extern SPI_CONTROLLER_STATE SpiControllerState;

// Waits until the controller is idle, then clears its done and error bits. Always 0.
// Hardware non-zero selects the hardware-sequencing registers.
EFI_STATUS SpiWaitIdle(UINT8 Hardware);

// Waits until the cycle reports done or error, clears the status, and returns EFI_DEVICE_ERROR
// when the sample that ended the wait shows a cycle or access error.
EFI_STATUS SpiWaitDone(UINT8 Hardware);

// Runs one cycle and returns when the controller reports it finished. Dbc is the data byte count
// minus one (0-63); Cycle is the hardware cycle type (0, 2, 3) or the software menu index (0-7);
// Prefix, Atomic and Data apply to software sequencing only.
EFI_STATUS SpiCycle(UINT32 Address, UINT8 Hardware, UINT8 Dbc, UINT8 Cycle, UINT8 Prefix, UINT8 Atomic,
                    UINT8 Data);

// Number of flash components (1-4) from the descriptor map; EFI_UNSUPPORTED without a valid
// descriptor, Count untouched.
EFI_STATUS SpiGetComponentCount(UINT8* Count);

#endif  // FLASH_SPI_SPI_CONTROLLER_H_
