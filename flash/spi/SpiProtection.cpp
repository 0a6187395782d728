// The writable window check and the lifting and restoring of a part's write protection around
// every erase and write.
#include "flash/spi/SpiController.h"
#include "flash/spi/SpiOps.h"
#include "platform/HwAccess.h"

BOOLEAN IsInWritableRange(UINT64 Address, UINT32 Length) {
  // 64-bit arithmetic: the end of a range never wraps, and a zero length at address 0 ends at the
  // 64-bit maximum, which is refused.
  UINT64 Last = Address + Length - 1;
  return Address >= SpiControllerState.WritableLow && Last <= SpiControllerState.WritableHigh;
}

EFI_STATUS SpiSetProtection(UINT8 Mode, UINT32 Address, UINT32 Length) {
  if (Mode != 0 && Mode != 1) {
    return EFI_SUCCESS;
  }
  const SpiDeviceParams* Params = &SpiControllerState.ActiveSpiParams;
  UINT32 Data0 = SpiControllerState.SpiBase + SPI_FDATA0;

  // Under hardware sequencing the controller writes the status register itself (VSCC).
  if ((Params->Flags & FlagStatusProtect) != 0 && SpiControllerState.HwSequencing == 0) {
    MmioWrite8(Data0, Mode == 0 ? Params->UnprotectStatus : Params->ProtectStatus);
    SpiCycle(0, 0, 0, SPI_MENU_WRITE_STATUS, 1, 1, 1);
  }

  // Per-block commands exist only as programmed opcodes, so they are software-sequenced under
  // either mode. The data byte stays in FDATA0 across the run of cycles.
  if ((Params->Flags & FlagBlockProtect) != 0) {
    UINT32 Unit = Params->BlockProtectUnit;
    UINT32 BlockBase = Address & ~(Unit - 1);
    UINT8 HasData = (Params->Flags & FlagBlockProtectHasData) != 0 ? 1 : 0;
    UINT8 Entry = Mode == 0 ? SPI_MENU_BLOCK_UNPROTECT : SPI_MENU_BLOCK_PROTECT;
    MmioWrite8(Data0, Mode == 0 ? Params->BlockUnprotectData : Params->BlockProtectData);
    // One cycle per whole or partial unit of Length, counted from the block holding Address. The
    // loop stops before Offset could wrap, so a length near 4 GiB cannot make it endless.
    for (UINT32 Offset = 0; Offset < Length;) {
      SpiCycle(BlockBase + Offset, 0, 0, Entry, 0, 1, HasData);
      if (Length - Offset <= Unit) {
        break;
      }
      Offset += Unit;
    }
  }
  return EFI_SUCCESS;
}
