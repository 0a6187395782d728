// Flash-window stores and copies through the hardware-access seam.
#include "flash/FlashWindow.h"

#include "platform/HwAccess.h"

void FlashStore8(UINT32 Address, UINT8 Value) { MmioWrite8(Address, Value); }

void CopyFromFlash(UINT8* Destination, UINT32 Address, UINT32 Length) {
  for (UINT32 Index = 0; Index < Length; Index++) {
    Destination[Index] = MmioRead8(Address + Index);
  }
}
