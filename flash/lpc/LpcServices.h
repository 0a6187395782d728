// What the LPC flash families need from their surroundings: pool memory for their command blocks,
// and the runtime pointer conversion used after a switch to virtual addressing.
#ifndef FLASH_LPC_LPC_SERVICES_H_
#define FLASH_LPC_LPC_SERVICES_H_

#include "pi/PiBase.h"

// A pool allocator as an allocation context supplies it: it stores the address of Size bytes of
// MemoryType pool in *Buffer and returns 0, or returns an error.
typedef EFI_STATUS(EFIAPI* LPC_ALLOCATE_POOL)(EFI_MEMORY_TYPE MemoryType, UINTN Size, VOID** Buffer);

// The allocation context that detection may hand to a family's Init. Null means "use the module's
// own pool".
typedef struct {
  LPC_ALLOCATE_POOL AllocatePool;
} LPC_ALLOCATION_CONTEXT;

// The runtime pointer conversion: rewrites the pointer stored at *Address for virtual addressing.
typedef EFI_STATUS(EFIAPI* LPC_CONVERT_POINTER)(UINTN DebugDisposition, VOID** Address);

// Command blocks live for the module's life as runtime-services data.
constexpr EFI_MEMORY_TYPE LPC_COMMAND_BLOCK_MEMORY_TYPE = EfiRuntimeServicesData;
// The disposition value the families hand to the pointer conversion.
constexpr UINTN LPC_CONVERT_DISPOSITION = 4;

// Allocates Size bytes for a command block into *Reference. A non-null Context (an
// LPC_ALLOCATION_CONTEXT) supplies the allocator, which is called with memory type 6, Size and
// Reference itself; otherwise the block comes from the module's own pool. Returns 0 with
// *Reference set, or EFI_OUT_OF_RESOURCES with *Reference null: an allocator that reports an error
// or leaves the reference null has given no block, whatever it stored.
EFI_STATUS LpcAllocateCommandBlock(VOID* Context, UINTN Size, VOID** Reference);

// Installs (or, with null, removes) the runtime pointer conversion. Without one the families'
// ConvertPointers operations convert nothing.
void LpcSetConvertPointer(LPC_CONVERT_POINTER ConvertPointer);

// TRUE when a runtime pointer conversion is installed.
BOOLEAN LpcConvertPointerInstalled(void);

// Converts the pointer stored at *Address. EFI_UNSUPPORTED, with *Address untouched, when no
// conversion is installed.
EFI_STATUS LpcConvertPointer(VOID** Address);

// Converts a 32-bit physical address held in a command block: the conversion works on a
// pointer-sized value, so the address travels through one and is stored back.
EFI_STATUS LpcConvertAddress(UINT32* Address);

#ifdef RECOVERY_HOST_BUILD
// Host builds: empties the module's pool and removes the conversion, as at load.
void LpcServicesReset(void);
#endif

#endif  // FLASH_LPC_LPC_SERVICES_H_
