// Firmware-hub-command LPC flash parts: every command is one byte stored inside the part, with no
// unlock cycles; progress is read from the status register, whose bit 7 means ready.
#include "flash/lpc/FwhFlash.h"

#include "flash/FlashWindow.h"
#include "flash/MemoryHelpers.h"
#include "flash/lpc/LpcServices.h"
#include "platform/HwAccess.h"
#include "platform/Stall.h"

FwhCommandBlock* FwhCommands;

namespace {

// Command bytes.
constexpr UINT8 FWH_READ_ID = 0x90;
constexpr UINT8 FWH_READ_ARRAY = 0xFF;
constexpr UINT8 FWH_ERASE_SETUP = 0x20;
constexpr UINT8 FWH_ERASE_CONFIRM = 0xD0;
constexpr UINT8 FWH_PROGRAM = 0x40;
constexpr UINT8 FWH_READ_STATUS = 0x70;
constexpr UINT8 FWH_CLEAR_STATUS = 0x50;

constexpr UINT8 FWH_STATUS_READY = 0x80;
constexpr UINT32 FWH_BLOCK_SIZE = 0x10000;
// Erase and program waits are bounded by a microsecond budget that grows by the delay handed to
// PollDelay: at most 5,000,000 status loads, since PollDelay returns at once.
constexpr UINT32 FWH_POLL_DELAY_US = 2;
constexpr UINT32 FWH_POLL_BUDGET_US = 10000000;
// After a block erase, array reading is restored at this offset of the block's 1 MiB region.
constexpr UINT32 FWH_REGION_MASK = 0xFFF00000;
constexpr UINT32 FWH_READ_ARRAY_OFFSET = 0xC0000;

// EFI_DEVICE_ERROR when the block never showed ready; the caller does not use it.
EFI_STATUS EraseBlock(UINT32 Block) {
  FlashStore8(Block, FWH_ERASE_SETUP);
  FlashStore8(Block, FWH_ERASE_CONFIRM);
  FlashStore8(Block, FWH_READ_STATUS);
  UINT32 Waited = 0;
  for (;;) {
    UINT8 Status = MmioRead8(Block);
    PollDelay(FWH_POLL_DELAY_US);
    if ((Status & FWH_STATUS_READY) != 0) {
      break;
    }
    Waited += FWH_POLL_DELAY_US;
    if (Waited >= FWH_POLL_BUDGET_US) {
      break;
    }
  }
  FlashStore8(Block, FWH_CLEAR_STATUS);
  FlashStore8((Block & FWH_REGION_MASK) + FWH_READ_ARRAY_OFFSET, FWH_READ_ARRAY);
  return Waited >= FWH_POLL_BUDGET_US ? EFI_DEVICE_ERROR : EFI_SUCCESS;
}

// FALSE when the byte's status never showed ready within the budget.
BOOLEAN ProgramByte(UINT32 Address, UINT8 Value) {
  FlashStore8(Address, FWH_PROGRAM);
  FlashStore8(Address, Value);
  FlashStore8(Address, FWH_READ_STATUS);
  for (UINT32 Waited = 0; Waited < FWH_POLL_BUDGET_US; Waited += FWH_POLL_DELAY_US) {
    if ((MmioRead8(Address) & FWH_STATUS_READY) != 0) {
      return 1;
    }
    PollDelay(FWH_POLL_DELAY_US);
  }
  return 0;
}

}  // namespace

EFI_STATUS FwhInit(VOID* Context) {
  if (FwhCommands != nullptr && FwhCommands->Initialized != 0) {
    return EFI_SUCCESS;
  }
  if (EFI_ERROR(LpcAllocateCommandBlock(Context, sizeof(FwhCommandBlock),
                                        reinterpret_cast<VOID**>(&FwhCommands)))) {
    return EFI_SUCCESS;  // no block: the set's probe fails and its operations refuse
  }
  ZeroMem(FwhCommands, sizeof(*FwhCommands));
  FwhCommands->Initialized = 1;
  FwhCommands->BaseAddress = FWH_BASE_ADDRESS;
  return EFI_SUCCESS;
}

EFI_STATUS FwhProbe(UINTN ExpectedId) {
  const FwhCommandBlock* Block = FwhCommands;
  if (Block == nullptr) {
    return EFI_UNSUPPORTED;
  }
  FlashStore8(Block->BaseAddress, FWH_READ_ID);
  UINT16 Id = MmioRead16(Block->BaseAddress);
  FlashStore8(Block->BaseAddress, FWH_READ_ARRAY);
  return Id == static_cast<UINT16>(ExpectedId) ? EFI_SUCCESS : EFI_UNSUPPORTED;
}

EFI_STATUS FwhErase(UINT32 Address, UINT32 Length) {
  if ((Length & (FWH_BLOCK_SIZE - 1)) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (FwhCommands == nullptr) {
    return EFI_NOT_READY;
  }
  UINT32 Count = Length / FWH_BLOCK_SIZE;
  for (UINT32 Index = 0; Index < Count; Index++) {
    EraseBlock(Address + Index * FWH_BLOCK_SIZE);
  }
  return EFI_SUCCESS;
}

EFI_STATUS FwhWrite(UINT32 Destination, const UINT8* Source, UINT32* Length, UINT32 BlockBase) {
  if (FwhCommands == nullptr) {
    *Length = 0;
    return EFI_NOT_READY;
  }
  EFI_STATUS Result = EFI_SUCCESS;
  for (UINT32 Index = 0; Index < *Length; Index++) {
    if (!ProgramByte(Destination + Index, Source[Index])) {
      *Length = Index;
      Result = EFI_DEVICE_ERROR;
      break;
    }
  }
  FlashStore8(BlockBase, FWH_CLEAR_STATUS);
  FlashStore8(BlockBase, FWH_READ_ARRAY);
  return Result;
}

// Converts the reference only (the part's base address stays physical), and marks the block each
// time it runs.
EFI_STATUS FwhConvertPointers(VOID) {
  if (FwhCommands == nullptr || !LpcConvertPointerInstalled()) {
    return EFI_SUCCESS;
  }
  LpcConvertPointer(reinterpret_cast<VOID**>(&FwhCommands));
  FwhCommands->Converted = 1;
  return EFI_SUCCESS;
}

#ifdef RECOVERY_HOST_BUILD
void FwhFlashReset(void) { FwhCommands = nullptr; }
#endif
