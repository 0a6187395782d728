// JEDEC-command LPC flash parts: the command block with the addresses a set works with, the two
// module-wide references, and the operations of the JEDEC set and the array-ID set.
#ifndef FLASH_LPC_JEDEC_FLASH_H_
#define FLASH_LPC_JEDEC_FLASH_H_

#include "pi/PiBase.h"

typedef struct {
  UINT8 Initialized;      // 1 once Init has filled the block
  UINT8 Converted;        // 1 once ConvertPointers has run
  UINT32 UnlockAddress1;  // first unlock cycle, and the command-selecting third cycle
  UINT32 UnlockAddress2;  // second unlock cycle
  UINT32 IdAddress;       // 16-bit identification read
} JedecCommandBlock;

static_assert(offsetof(JedecCommandBlock, Converted) == 1, "JedecCommandBlock layout");
static_assert(offsetof(JedecCommandBlock, UnlockAddress1) == 4, "JedecCommandBlock layout");
static_assert(offsetof(JedecCommandBlock, UnlockAddress2) == 8, "JedecCommandBlock layout");
static_assert(offsetof(JedecCommandBlock, IdAddress) == 12, "JedecCommandBlock layout");
static_assert(sizeof(JedecCommandBlock) == 16, "JedecCommandBlock layout");

// JEDEC unlock offsets 0x5555 and 0x2AAA (the parts decode A14-A0) above the boot part's base.
constexpr UINT32 JEDEC_UNLOCK_ADDRESS_1 = 0xFFF05555;
constexpr UINT32 JEDEC_UNLOCK_ADDRESS_2 = 0xFFF02AAA;
// JEDEC-set parts answer their identification word in the register space (A22 = 0).
constexpr UINT32 JEDEC_ID_ADDRESS = 0xFFBC0000;
// The array-ID part answers it at its array offsets 0 and 1.
constexpr UINT32 JEDEC_ARRAY_ID_ADDRESS = 0xFFF00000;

// Null at load; filled by the matching Init, never freed. Erase and write of both sets take their
// unlock addresses from JedecCommands.
extern JedecCommandBlock* JedecCommands;
extern JedecCommandBlock* JedecArrayIdCommands;

// Always 0. Allocates and fills the set's block once; later calls change nothing. When no block
// can be had the reference stays null and the set is never detected.
EFI_STATUS JedecInit(VOID* Context);
EFI_STATUS JedecArrayIdInit(VOID* Context);

// 0 when the part answers the low 16 bits of ExpectedId, else EFI_UNSUPPORTED.
EFI_STATUS JedecProbe(UINTN ExpectedId);
EFI_STATUS JedecArrayIdProbe(UINTN ExpectedId);

// Erases Length bytes from Address in 64 KiB blocks when Length is a non-zero multiple of 64 KiB,
// else in 4 KiB sectors. 0, EFI_INVALID_PARAMETER for a Length that is 0 or not a multiple of
// 4 KiB, EFI_NOT_READY when JedecCommands could not be had.
EFI_STATUS JedecErase(UINT32 Address, UINT32 Length);

// Programs *Length bytes from Source at Destination, skipping bytes that already match. 0, or
// EFI_DEVICE_ERROR with *Length shortened to the bytes done; EFI_NOT_READY with *Length 0 when
// JedecCommands could not be had. BlockBase is not used.
EFI_STATUS JedecWrite(UINT32 Destination, const UINT8* Source, UINT32* Length, UINT32 BlockBase);

// Always 0. Converts the set's block addresses and reference once, through the runtime pointer
// conversion when one is installed.
EFI_STATUS JedecConvertPointers(VOID);
EFI_STATUS JedecArrayIdConvertPointers(VOID);

#ifdef RECOVERY_HOST_BUILD
// Host builds: both references back to null, as at load.
void JedecFlashReset(void);
#endif

#endif  // FLASH_LPC_JEDEC_FLASH_H_
