// JEDEC-command LPC flash parts: every command is two unlock cycles and a command byte, each one
// byte store into the flash window; program and erase progress is watched through the DQ6 toggle.
#include "flash/lpc/JedecFlash.h"

#include "flash/FlashWindow.h"
#include "flash/MemoryHelpers.h"
#include "flash/lpc/LpcServices.h"
#include "platform/HwAccess.h"
#include "platform/Stall.h"

JedecCommandBlock* JedecCommands;
JedecCommandBlock* JedecArrayIdCommands;

namespace {

// Command bytes.
constexpr UINT8 JEDEC_UNLOCK_1 = 0xAA;
constexpr UINT8 JEDEC_UNLOCK_2 = 0x55;
constexpr UINT8 JEDEC_ENTER_ID = 0x90;
constexpr UINT8 JEDEC_EXIT_ID = 0xF0;
constexpr UINT8 JEDEC_ERASE_SETUP = 0x80;
constexpr UINT8 JEDEC_SECTOR_ERASE = 0x30;
constexpr UINT8 JEDEC_BLOCK_ERASE = 0x50;
constexpr UINT8 JEDEC_PROGRAM = 0xA0;

constexpr UINT32 JEDEC_SECTOR_SIZE = 0x1000;
constexpr UINT32 JEDEC_BLOCK_SIZE = 0x10000;
// DQ6 toggles on every read while the part is busy programming or erasing.
constexpr UINT8 JEDEC_TOGGLE_BIT = 0x40;
// An erase is watched for at most this many polls after the first (50,001 in all), a program for
// at most 50,000 successive loads that differ. PollDelay returns at once, so these count loads.
constexpr UINT32 JEDEC_ERASE_POLL_LIMIT = 50000;
constexpr UINT32 JEDEC_PROGRAM_POLL_LIMIT = 49999;
constexpr UINT32 JEDEC_POLL_DELAY_US = 2;

EFI_STATUS InitBlock(JedecCommandBlock** Reference, UINT32 IdAddress, VOID* Context) {
  if (*Reference != nullptr && (*Reference)->Initialized != 0) {
    return EFI_SUCCESS;
  }
  if (EFI_ERROR(
          LpcAllocateCommandBlock(Context, sizeof(JedecCommandBlock), reinterpret_cast<VOID**>(Reference)))) {
    return EFI_SUCCESS;  // no block: the set's probe fails and its operations refuse
  }
  JedecCommandBlock* Block = *Reference;
  ZeroMem(Block, sizeof(*Block));
  Block->Initialized = 1;
  Block->UnlockAddress1 = JEDEC_UNLOCK_ADDRESS_1;
  Block->UnlockAddress2 = JEDEC_UNLOCK_ADDRESS_2;
  Block->IdAddress = IdAddress;
  return EFI_SUCCESS;
}

void Unlock(const JedecCommandBlock* Block) {
  FlashStore8(Block->UnlockAddress1, JEDEC_UNLOCK_1);
  FlashStore8(Block->UnlockAddress2, JEDEC_UNLOCK_2);
}

EFI_STATUS ProbeBlock(const JedecCommandBlock* Block, UINTN ExpectedId) {
  if (Block == nullptr) {
    return EFI_UNSUPPORTED;
  }
  Unlock(Block);
  FlashStore8(Block->UnlockAddress1, JEDEC_ENTER_ID);
  UINT16 Id = MmioRead16(Block->IdAddress);
  FlashStore8(Block->UnlockAddress1, JEDEC_EXIT_ID);
  return Id == static_cast<UINT16>(ExpectedId) ? EFI_SUCCESS : EFI_UNSUPPORTED;
}

// One sector or block erase at Unit. Completion is DQ6 holding still with the unit reading
// erased; a unit that never gets there is given up silently after the poll limit.
void EraseUnit(const JedecCommandBlock* Block, UINT32 Unit, UINT8 Command) {
  Unlock(Block);
  FlashStore8(Block->UnlockAddress1, JEDEC_ERASE_SETUP);
  Unlock(Block);
  FlashStore8(Unit, Command);

  UINT8 Previous = MmioRead8(Unit) & JEDEC_TOGGLE_BIT;
  for (UINT32 Count = 0;;) {
    PollDelay(JEDEC_POLL_DELAY_US);
    UINT8 Current = MmioRead8(Unit) & JEDEC_TOGGLE_BIT;
    if (Current == Previous && MmioRead32(Unit) == 0xFFFFFFFF) {
      break;
    }
    Count++;
    if (Count > JEDEC_ERASE_POLL_LIMIT) {
      break;
    }
    Previous = Current;
  }
  PollDelay(JEDEC_POLL_DELAY_US);
}

EFI_STATUS ConvertBlock(JedecCommandBlock** Reference) {
  JedecCommandBlock* Block = *Reference;
  if (Block == nullptr || Block->Converted != 0 || !LpcConvertPointerInstalled()) {
    return EFI_SUCCESS;
  }
  LpcConvertAddress(&Block->UnlockAddress1);
  LpcConvertAddress(&Block->UnlockAddress2);
  LpcConvertAddress(&Block->IdAddress);
  LpcConvertPointer(reinterpret_cast<VOID**>(Reference));
  (*Reference)->Converted = 1;
  return EFI_SUCCESS;
}

}  // namespace

EFI_STATUS JedecInit(VOID* Context) { return InitBlock(&JedecCommands, JEDEC_ID_ADDRESS, Context); }

EFI_STATUS JedecArrayIdInit(VOID* Context) {
  return InitBlock(&JedecArrayIdCommands, JEDEC_ARRAY_ID_ADDRESS, Context);
}

EFI_STATUS JedecProbe(UINTN ExpectedId) { return ProbeBlock(JedecCommands, ExpectedId); }

// The array-ID part is erased and written with JedecCommands, so it is only reported present when
// that block exists too.
EFI_STATUS JedecArrayIdProbe(UINTN ExpectedId) {
  if (JedecCommands == nullptr) {
    return EFI_UNSUPPORTED;
  }
  return ProbeBlock(JedecArrayIdCommands, ExpectedId);
}

EFI_STATUS JedecErase(UINT32 Address, UINT32 Length) {
  if (Length == 0 || (Length & (JEDEC_SECTOR_SIZE - 1)) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  const JedecCommandBlock* Block = JedecCommands;
  if (Block == nullptr) {
    return EFI_NOT_READY;
  }
  // One unit size per call: whole 64 KiB blocks when the length allows, otherwise 4 KiB sectors.
  UINT32 UnitSize = JEDEC_SECTOR_SIZE;
  UINT8 Command = JEDEC_SECTOR_ERASE;
  if ((Length & (JEDEC_BLOCK_SIZE - 1)) == 0) {
    UnitSize = JEDEC_BLOCK_SIZE;
    Command = JEDEC_BLOCK_ERASE;
  }
  UINT32 Count = Length / UnitSize;
  UINT32 Unit = Address;
  for (UINT32 Index = 0; Index < Count; Index++) {
    EraseUnit(Block, Unit, Command);
    Unit += UnitSize;
  }
  return EFI_SUCCESS;
}

EFI_STATUS JedecWrite(UINT32 Destination, const UINT8* Source, UINT32* Length, UINT32 BlockBase) {
  (void)BlockBase;
  const JedecCommandBlock* Block = JedecCommands;
  if (Block == nullptr) {
    *Length = 0;
    return EFI_NOT_READY;
  }
  EFI_STATUS Result = EFI_SUCCESS;
  for (UINT32 Index = 0; Index < *Length; Index++) {
    UINT32 Address = Destination + Index;
    if (MmioRead8(Address) == Source[Index]) {
      continue;
    }
    Unlock(Block);
    FlashStore8(Block->UnlockAddress1, JEDEC_PROGRAM);
    FlashStore8(Address, Source[Index]);

    // The part is busy while successive reads differ (DQ6 toggles); the same value twice is the
    // programmed data.
    PollDelay(JEDEC_POLL_DELAY_US);
    UINT8 Previous = MmioRead8(Address);
    for (UINT32 Count = 0;; Count++) {
      PollDelay(JEDEC_POLL_DELAY_US);
      UINT8 Current = MmioRead8(Address);
      if (Current == Previous) {
        break;
      }
      if (Count == JEDEC_PROGRAM_POLL_LIMIT) {
        *Length = Index;
        Result = EFI_DEVICE_ERROR;
        break;
      }
      Previous = Current;
    }
    if (MmioRead8(Address) != Source[Index]) {
      *Length = Index;
      return EFI_DEVICE_ERROR;
    }
  }
  return Result;
}

EFI_STATUS JedecConvertPointers(VOID) { return ConvertBlock(&JedecCommands); }

EFI_STATUS JedecArrayIdConvertPointers(VOID) { return ConvertBlock(&JedecArrayIdCommands); }

#ifdef RECOVERY_HOST_BUILD
void JedecFlashReset(void) {
  JedecCommands = nullptr;
  JedecArrayIdCommands = nullptr;
}
#endif
