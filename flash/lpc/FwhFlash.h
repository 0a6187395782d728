// Firmware-hub-command LPC flash parts: the command block, its module-wide reference and the
// operations of the firmware-hub set (its Read is LpcRead).
#ifndef FLASH_LPC_FWH_FLASH_H_
#define FLASH_LPC_FWH_FLASH_H_

#include "pi/PiBase.h"

typedef struct {
  UINT8 Initialized;   // 1 once FwhInit has filled the block
  UINT8 Converted;     // 1 once FwhConvertPointers has run
  UINT32 BaseAddress;  // where the identification commands go and the identification word is read
} FwhCommandBlock;

static_assert(offsetof(FwhCommandBlock, Converted) == 1, "FwhCommandBlock layout");
static_assert(offsetof(FwhCommandBlock, BaseAddress) == 4, "FwhCommandBlock layout");
static_assert(sizeof(FwhCommandBlock) == 8, "FwhCommandBlock layout");

// The boot part's identification is read at its array offsets 0 and 1 below 4 GiB.
constexpr UINT32 FWH_BASE_ADDRESS = 0xFFF00000;

// Null at load; filled by FwhInit, never freed.
extern FwhCommandBlock* FwhCommands;

// Always 0. Allocates and fills the block once; later calls change nothing. When no block can be
// had FwhCommands stays null and the set is never detected.
EFI_STATUS FwhInit(VOID* Context);

// 0 when the part answers the low 16 bits of ExpectedId, else EFI_UNSUPPORTED.
EFI_STATUS FwhProbe(UINTN ExpectedId);

// Erases Length bytes from Address in 64 KiB blocks. 0 (also for Length 0, and whatever each
// block erase showed), EFI_INVALID_PARAMETER when Length is not a multiple of 64 KiB,
// EFI_NOT_READY when FwhCommands could not be had.
EFI_STATUS FwhErase(UINT32 Address, UINT32 Length);

// Programs *Length bytes from Source at Destination, then clears the status and restores array
// reading at BlockBase. 0, or EFI_DEVICE_ERROR with *Length shortened to the bytes done;
// EFI_NOT_READY with *Length 0 when FwhCommands could not be had.
EFI_STATUS FwhWrite(UINT32 Destination, const UINT8* Source, UINT32* Length, UINT32 BlockBase);

// Always 0. Converts the reference through the runtime pointer conversion when one is installed.
EFI_STATUS FwhConvertPointers(VOID);

#ifdef RECOVERY_HOST_BUILD
// Host builds: the reference back to null, as at load.
void FwhFlashReset(void);
#endif

#endif  // FLASH_LPC_FWH_FLASH_H_
