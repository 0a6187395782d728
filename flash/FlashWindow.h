// Byte stores to and copies out of the memory-mapped flash window below 4 GiB. Every flash
// access goes through the hardware-access seam: one byte-wide access per byte, in address order.
#ifndef FLASH_FLASH_WINDOW_H_
#define FLASH_FLASH_WINDOW_H_

#include "pi/PiBase.h"

// Stores one byte at a flash address: exactly one 8-bit store. This is how every LPC flash
// command byte reaches the part, so it must never be merged with, split into or repeated as
// other accesses.
void FlashStore8(UINT32 Address, UINT8 Value);

// Copies Length bytes of flash content starting at Address into RAM at Destination: one 8-bit
// load per byte, in ascending address order. Length 0 touches nothing. The range must not run
// past the top of the 4 GiB space (the address would wrap to 0).
void CopyFromFlash(UINT8* Destination, UINT32 Address, UINT32 Length);

#endif  // FLASH_FLASH_WINDOW_H_
