// SPI erase, write and read: memory addresses below 4 GiB become linear flash addresses, each
// modification is bracketed by the protection steps, and only the writable window is modified.
#include "flash/FlashWindow.h"
#include "flash/spi/SpiController.h"
#include "flash/spi/SpiOps.h"
#include "platform/HwAccess.h"
#include "platform/PciConfig.h"

namespace {

// The hardware sequencer moves at most 64 bytes per cycle, and a cycle must not cross a 64-byte
// boundary of the linear address.
constexpr UINT32 SPI_PIECE_ALIGN = 0x40;

UINT32 SpiPieceLength(UINT32 Current, UINT32 Left) {
  UINT32 BlockEnd = (Current & ~(SPI_PIECE_ALIGN - 1)) + (SPI_PIECE_ALIGN - 1);
  UINT32 ToBlockEnd = BlockEnd - Current + 1;
  return Left < ToBlockEnd ? Left : ToBlockEnd;
}

// The flash occupies the top FlashSize bytes below 4 GiB: adding the size, carry dropped, gives
// the linear address.
UINT32 SpiLinearAddress(UINT32 Address) { return Address + SpiControllerState.ActiveSpiParams.FlashSize; }

}  // namespace

EFI_STATUS SpiErase(UINT32 Address, UINT32 Length) {
  UINT32 EraseUnit = SpiControllerState.ActiveSpiParams.EraseUnit;
  UINT8 Hardware = SpiControllerState.HwSequencing;
  UINT32 Start = SpiLinearAddress(Address & ~(EraseUnit - 1));

  SpiSetProtection(0, Start, Length);
  UINT32 Current = Start;
  INT32 Remaining = (INT32)Length;
  while (Remaining > 0) {
    // Units outside the writable window are passed over without a cycle and without an error.
    if (IsInWritableRange(Current, EraseUnit)) {
      EFI_STATUS Status =
          SpiCycle(Current, Hardware, 0, Hardware != 0 ? HSFC_CYCLE_ERASE : SPI_MENU_ERASE, 0, 1, 0);
      if (EFI_ERROR(Status)) {
        return Status;
      }
    }
    Remaining -= (INT32)EraseUnit;
    Current += EraseUnit;
  }
  SpiSetProtection(1, Start, Length);
  return EFI_SUCCESS;
}

EFI_STATUS SpiWrite(UINT32 Address, const UINT8* Source, UINT32* Length, UINT32 BlockBase) {
  (void)BlockBase;
  UINT32 Count = *Length;
  UINT32 Start = SpiLinearAddress(Address);
  // A range that leaves the window is not written at all, not even its part inside.
  if (!IsInWritableRange(Start, Count)) {
    return EFI_SUCCESS;
  }

  SpiSetProtection(0, Start, Count);
  if (SpiControllerState.HwSequencing == 0) {
    for (UINT32 Index = 0; Index < Count; Index++) {
      MmioWrite8(SpiControllerState.SpiBase + SPI_FDATA0, Source[Index]);
      EFI_STATUS Status = SpiCycle(Start + Index, 0, 0, SPI_MENU_PROGRAM, 0, 1, 1);
      if (EFI_ERROR(Status)) {
        return Status;
      }
    }
  } else {
    UINT32 Done = 0;
    while (Done < Count) {
      UINT32 Current = Start + Done;
      UINT32 Piece = SpiPieceLength(Current, Count - Done);
      for (UINT32 Index = 0; Index < Piece; Index++) {
        MmioWrite8(SpiControllerState.SpiBase + SPI_FDATA0 + Index, Source[Done + Index]);
      }
      EFI_STATUS Status = SpiCycle(Current, 1, (UINT8)(Piece - 1), HSFC_CYCLE_WRITE, 0, 0, 0);
      if (EFI_ERROR(Status)) {
        return Status;
      }
      Done += Piece;
    }
  }
  SpiSetProtection(1, Start, Count);
  return EFI_SUCCESS;
}

EFI_STATUS SpiRead(UINT8* Destination, UINT32 Address, UINT32 Length) {
  if (SpiControllerState.HwSequencing != 1) {
    // The chipset maps the flash just below 4 GiB for direct reads.
    CopyFromFlash(Destination, Address, Length);
    return EFI_SUCCESS;
  }
  UINT32 Start = SpiLinearAddress(Address);
  // A linear range that runs past 4 GiB would continue at linear 0, which is not the flash the
  // caller asked for: it is refused before any access.
  if (Length != 0 && Start + (Length - 1) < Start) {
    return EFI_INVALID_PARAMETER;
  }
  UINT32 Done = 0;
  while (Done < Length) {
    UINT32 Current = Start + Done;
    UINT32 Piece = SpiPieceLength(Current, Length - Done);
    EFI_STATUS Status = SpiCycle(Current, 1, (UINT8)(Piece - 1), HSFC_CYCLE_READ, 0, 0, 0);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    for (UINT32 Index = 0; Index < Piece; Index++) {
      Destination[Done + Index] = MmioRead8(ReadRcba() + RCBA_SPI_BAR + SPI_FDATA0 + Index);
    }
    Done += Piece;
  }
  return EFI_SUCCESS;
}
