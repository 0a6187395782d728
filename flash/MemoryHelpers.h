// Copy, fill, zero and compare on ordinary RAM (capsule buffer, command blocks, locals). Flash and
// register addresses are never passed here; see flash/FlashWindow.h.
#ifndef FLASH_MEMORY_HELPERS_H_
#define FLASH_MEMORY_HELPERS_H_

#include "pi/PiBase.h"

// Copies Length bytes; the ranges may overlap (copies backwards when Destination lies above an
// overlapping Source). Returns Destination.
VOID* CopyMem(VOID* Destination, const VOID* Source, UINTN Length);

// Sets Length bytes to Value. Returns Buffer.
VOID* SetMem(VOID* Buffer, UINTN Length, UINT8 Value);

// Sets Length bytes to 0. Returns Buffer.
VOID* ZeroMem(VOID* Buffer, UINTN Length);

// 0 when the ranges are equal; otherwise the difference Left[i] - Right[i] of the first differing
// bytes, taken as unsigned bytes (so 0x80 compares above 0x7F).
INTN CompareMem(const VOID* Left, const VOID* Right, UINTN Length);

#endif  // FLASH_MEMORY_HELPERS_H_
