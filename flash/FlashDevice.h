// The constant flash device descriptor: identification, size, names, erase geometry and the six
// operations that drive the part, in slot order Init, Probe, Erase, Write, Read, ConvertPointers.
#ifndef FLASH_FLASH_DEVICE_H_
#define FLASH_FLASH_DEVICE_H_

#include "pi/PiBase.h"

// Prepares the family's module-wide state. Context is the optional allocation context handed
// through by detection (the recovery passes null). Idempotent.
typedef EFI_STATUS (*FLASH_INIT)(VOID* Context);
// 0 when the installed part is this row's part, EFI_UNSUPPORTED otherwise. LPC families take the
// row's 32-bit Id value; the SPI family takes the address of the SpiFlashDevice row itself.
typedef EFI_STATUS (*FLASH_PROBE)(UINTN Argument);
// Address is the 32-bit memory address of the first flash byte (the flash sits just below 4 GiB).
typedef EFI_STATUS (*FLASH_ERASE)(UINT32 Address, UINT32 Length);
// Length is passed by reference: the LPC families shorten it to the bytes done when they stop on
// an error. BlockBase is Address with its low 12 bits cleared.
typedef EFI_STATUS (*FLASH_WRITE)(UINT32 Address, const UINT8* Source, UINT32* Length, UINT32 BlockBase);
typedef EFI_STATUS (*FLASH_READ)(UINT8* Destination, UINT32 Address, UINT32 Length);
typedef EFI_STATUS (*FLASH_CONVERT_POINTERS)(VOID);

typedef struct {
  FLASH_INIT Init;
  FLASH_PROBE Probe;
  FLASH_ERASE Erase;
  FLASH_WRITE Write;
  FLASH_READ Read;
  FLASH_CONVERT_POINTERS ConvertPointers;
} FlashDeviceOps;

typedef struct {
  UINT32 Id;
  UINT8 SizeCode;  // the part holds 2^(16 + SizeCode) bytes
  CHAR8 VendorName[32];
  CHAR8 PartName[32];
  UINT16 BlockSize;   // erase block in units of 256 bytes
  UINT16 BlockCount;  // BlockSize * 256 * BlockCount is the part size
  UINT8 Reserved[3];  // 0xFF, 0xFF, 0x00 in every row
  const FlashDeviceOps* Ops;
} FlashDevice;

#endif  // FLASH_FLASH_DEVICE_H_
