// Opening and closing the flash for writes: the embedded-controller handshake, then the chipset's
// BIOS write-enable bit.
#ifndef PLATFORM_BIOS_WRITE_ENABLE_H_
#define PLATFORM_BIOS_WRITE_ENABLE_H_

#include "pi/PiBase.h"

// Enable non-zero opens the flash, 0 closes it. Always returns 0.
EFI_STATUS SetBiosWriteEnable(UINT8 Enable);

#endif  // PLATFORM_BIOS_WRITE_ENABLE_H_
