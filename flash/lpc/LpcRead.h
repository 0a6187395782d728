// The Read operation shared by the JEDEC, array-ID and firmware-hub sets.
#ifndef FLASH_LPC_LPC_READ_H_
#define FLASH_LPC_LPC_READ_H_

#include "pi/PiBase.h"

// Copies Length bytes of flash content from the flash address Source to Destination, writing no
// command. Always 0.
EFI_STATUS LpcRead(UINT8* Destination, UINT32 Source, UINT32 Length);

#endif  // FLASH_LPC_LPC_READ_H_
