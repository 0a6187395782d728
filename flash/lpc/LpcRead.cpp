// The shared LPC read: a plain copy out of the flash window, the part being in array-read mode.
#include "flash/lpc/LpcRead.h"

#include "flash/FlashWindow.h"

EFI_STATUS LpcRead(UINT8* Destination, UINT32 Source, UINT32 Length) {
  CopyFromFlash(Destination, Source, Length);
  return EFI_SUCCESS;
}
