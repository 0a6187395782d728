// Cycles of the chipset SPI host controller: the waits that bracket every cycle, one software- or
// hardware-sequenced cycle, and the component count from the flash descriptor.
#include "flash/spi/SpiController.h"
#include "platform/HwAccess.h"

namespace {

// Each field change is its own read-modify-write of the 16-bit control word: the controller
// latches the word as written, and the start bit must arrive last, after every other field.
void ModifyControl16(UINT32 Register, UINT16 KeepMask, UINT16 SetBits) {
  UINT16 Value = MmioRead16(Register);
  MmioWrite16(Register, (UINT16)((Value & KeepMask) | SetBits));
}

}  // namespace

EFI_STATUS SpiWaitIdle(UINT8 Hardware) {
  UINT32 Base = SpiControllerState.SpiBase;
  if (Hardware != 0) {
    while ((MmioRead16(Base + SPI_HSFS) & HSFS_SCIP) != 0) {
    }
    ModifyControl16(Base + SPI_HSFS, 0xFFFF, HSFS_STATUS_W1C);
  } else {
    // The word at 0x90 also carries SSFC bits 7:0, written back as read; the start bit reads 0,
    // so this does not start a cycle.
    while ((MmioRead16(Base + SPI_SSFS) & SSFS_SCIP) != 0) {
    }
    ModifyControl16(Base + SPI_SSFS, 0xFFFF, SSFS_STATUS_W1C);
  }
  return EFI_SUCCESS;
}

EFI_STATUS SpiWaitDone(UINT8 Hardware) {
  UINT32 Base = SpiControllerState.SpiBase;
  UINT16 Sample;
  UINT16 ErrorMask;
  if (Hardware != 0) {
    do {
      Sample = MmioRead16(Base + SPI_HSFS);
    } while ((Sample & (HSFS_FDONE | HSFS_FCERR)) == 0);
    ModifyControl16(Base + SPI_HSFS, 0xFFFF, HSFS_STATUS_W1C);
    ErrorMask = HSFS_FCERR | HSFS_AEL;
  } else {
    do {
      Sample = MmioRead16(Base + SPI_SSFS);
    } while ((Sample & (SSFS_CDS | SSFS_FCERR)) == 0);
    ModifyControl16(Base + SPI_SSFS, 0xFFFF, SSFS_STATUS_W1C);
    ErrorMask = SSFS_FCERR | SSFS_AEL;
  }
  // The decision rests on the sample that ended the wait, not on the value read for clearing.
  return (Sample & ErrorMask) != 0 ? EFI_DEVICE_ERROR : EFI_SUCCESS;
}

EFI_STATUS SpiCycle(UINT32 Address, UINT8 Hardware, UINT8 Dbc, UINT8 Cycle, UINT8 Prefix, UINT8 Atomic,
                    UINT8 Data) {
  SpiWaitIdle(Hardware);
  UINT32 Base = SpiControllerState.SpiBase;
  MmioWrite32(Base + SPI_FADDR, Address);
  if (Hardware != 0) {
    UINT32 Control = Base + SPI_HSFC;
    ModifyControl16(Control, HSFC_FDBC_KEEP, (UINT16)(Dbc << 8));
    ModifyControl16(Control, HSFC_FCYCLE_KEEP, (UINT16)(Cycle << 1));
    ModifyControl16(Control, 0xFFFF, HSFC_FGO);
  } else {
    UINT32 Control = Base + SPI_SSFC;
    ModifyControl16(Control, SSFC_DBC_KEEP, (UINT16)(Dbc << 8));
    ModifyControl16(Control, SSFC_COP_KEEP, (UINT16)(Cycle << 4));
    ModifyControl16(Control, (UINT16)~SSFC_SPOP, Prefix != 0 ? SSFC_SPOP : 0);
    ModifyControl16(Control, (UINT16)~SSFC_ACS, Atomic != 0 ? SSFC_ACS : 0);
    ModifyControl16(Control, (UINT16)~SSFC_DS, Data != 0 ? SSFC_DS : 0);
    ModifyControl16(Control, 0xFFFF, SSFC_SCGO);
  }
  return SpiWaitDone(Hardware);
}

EFI_STATUS SpiGetComponentCount(UINT8* Count) {
  UINT32 Base = SpiControllerState.SpiBase;
  if ((MmioRead32(Base + SPI_HSFS) & HSFS_FDV) == 0) {
    return EFI_UNSUPPORTED;
  }
  MmioWrite32(Base + SPI_FDOC, FDOC_FLMAP0);
  // FLMAP0 bits 9:8 hold the number of components minus one.
  *Count = (UINT8)(((MmioRead32(Base + SPI_FDOD) >> 8) & 3) + 1);
  return EFI_SUCCESS;
}
