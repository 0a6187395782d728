// The LPC families' pool allocator and pointer conversion.
//
// The module's own pool is a small piece of module storage sized for the three command blocks
// that can ever exist (JedecCommands, JedecArrayIdCommands, FwhCommands). The recovery reaches
// the LPC Init operations without an allocation context, and a PEIM that rewrites the flash runs
// from memory, so its storage is writable and lasts as long as the blocks must. It cannot fail for
// those three blocks and needs nothing saved at entry; a request beyond its capacity fails and
// leaves the reference null, which the families treat as "family absent".
#include "flash/lpc/LpcServices.h"

#include "flash/lpc/FwhFlash.h"
#include "flash/lpc/JedecFlash.h"

namespace {

constexpr UINTN PoolAlignment = 8;
constexpr UINTN AlignUp(UINTN Value) { return (Value + PoolAlignment - 1) & ~(PoolAlignment - 1); }
constexpr UINTN PoolCapacity = 2 * AlignUp(sizeof(JedecCommandBlock)) + AlignUp(sizeof(FwhCommandBlock));

// UINT64 elements keep every block 8-byte aligned.
UINT64 mPool[PoolCapacity / sizeof(UINT64)];
UINTN mPoolUsed;
LPC_CONVERT_POINTER mConvertPointer;

VOID* AllocateFromModulePool(UINTN Size) {
  UINTN Rounded = AlignUp(Size);
  if (Size == 0 || Rounded < Size || Rounded > PoolCapacity - mPoolUsed) {
    return nullptr;
  }
  VOID* Block = reinterpret_cast<UINT8*>(mPool) + mPoolUsed;
  mPoolUsed += Rounded;
  return Block;
}

}  // namespace

EFI_STATUS LpcAllocateCommandBlock(VOID* Context, UINTN Size, VOID** Reference) {
  if (Context == nullptr) {
    *Reference = AllocateFromModulePool(Size);
  } else {
    const LPC_ALLOCATION_CONTEXT* Allocation = static_cast<const LPC_ALLOCATION_CONTEXT*>(Context);
    EFI_STATUS Status = EFI_OUT_OF_RESOURCES;
    if (Allocation->AllocatePool != nullptr) {
      Status = Allocation->AllocatePool(LPC_COMMAND_BLOCK_MEMORY_TYPE, Size, Reference);
    }
    if (EFI_ERROR(Status)) {
      *Reference = nullptr;
    }
  }
  return *Reference != nullptr ? EFI_SUCCESS : EFI_OUT_OF_RESOURCES;
}

void LpcSetConvertPointer(LPC_CONVERT_POINTER ConvertPointer) { mConvertPointer = ConvertPointer; }

BOOLEAN LpcConvertPointerInstalled(void) { return mConvertPointer != nullptr; }

EFI_STATUS LpcConvertPointer(VOID** Address) {
  if (mConvertPointer == nullptr) {
    return EFI_UNSUPPORTED;
  }
  return mConvertPointer(LPC_CONVERT_DISPOSITION, Address);
}

EFI_STATUS LpcConvertAddress(UINT32* Address) {
  VOID* Pointer = reinterpret_cast<VOID*>(static_cast<UINTN>(*Address));
  EFI_STATUS Status = LpcConvertPointer(&Pointer);
  *Address = static_cast<UINT32>(reinterpret_cast<UINTN>(Pointer));
  return Status;
}

#ifdef RECOVERY_HOST_BUILD
void LpcServicesReset(void) {
  for (UINT64& Word : mPool) {
    Word = 0;
  }
  mPoolUsed = 0;
  mConvertPointer = nullptr;
}
#endif
