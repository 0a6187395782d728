// SPI device probe and configuration: SpiInit, SpiProbe (controller opcode tables, VSCC,
// identification, flash size, sequencing mode and writable window), SpiConvertPointers, and the
// module-wide controller state they fill.
#include "flash/MemoryHelpers.h"
#include "flash/spi/SpiController.h"
#include "flash/spi/SpiOps.h"
#include "flash/spi/SpiPlatformHooks.h"
#include "platform/HwAccess.h"
#include "platform/PciConfig.h"
#include "platform/PostCode.h"

SPI_CONTROLLER_STATE SpiControllerState;
SPI_MEMORY_SPACE_SERVICES* MemorySpaceHook;
EFI_BOOT_SCRIPT_SAVE_PROTOCOL* BootScriptHook;
SPI_CONVERT_POINTER SpiConvertPointerHook;

namespace {

constexpr UINT8 SPI_PROBE_POST_CODE = 0x41;
constexpr UINT32 BIOS_CNTL_ADDRESS = LPC_BRIDGE_MMCFG + LPC_BIOS_CNTL;  // 0xE00F80DC
constexpr UINT8 BIOS_CNTL_SRC_KEEP = 0xF3;  // clears the SPI read configuration, bits 3:2

// VSCC fields as the controller reads them.
constexpr UINT32 VSCC_BES_256 = 0;
constexpr UINT32 VSCC_BES_4K = 1;
constexpr UINT32 VSCC_BES_64K = 3;
constexpr UINT32 VSCC_WG_64 = 0x04;  // 64-byte write granularity
constexpr UINT32 VSCC_WSR = 0x08;    // the part needs a status write before write/erase
constexpr UINT32 VSCC_WEWS = 0x10;   // that status write is enabled by WREN (06h)
constexpr UINT8 SPI_OPCODE_WREN = 0x06;
constexpr UINT8 SPI_OPCODE_EWSR = 0x50;

constexpr UINT32 Le32(const UINT8* Bytes) {
  return (UINT32)Bytes[0] | ((UINT32)Bytes[1] << 8) | ((UINT32)Bytes[2] << 16) | ((UINT32)Bytes[3] << 24);
}

constexpr UINT16 Le16(const UINT8* Bytes) { return (UINT16)(Bytes[0] | (Bytes[1] << 8)); }

}  // namespace

// The controller's erase opcode, erase size, write granularity and status-write handling for the
// part, as the hardware sequencer needs them.
UINT32 SpiComputeVscc(const SpiDeviceParams* Params) {
  UINT32 EraseSize;
  switch (Params->EraseUnit) {
    case 0x100:
      EraseSize = VSCC_BES_256;
      break;
    case 0x1000:
      EraseSize = VSCC_BES_4K;
      break;
    case 0x10000:
      EraseSize = VSCC_BES_64K;
      break;
    default:
      EraseSize = VSCC_BES_256;
      break;
  }
  UINT32 Value = ((UINT32)Params->OpcodeMenu[SPI_MENU_ERASE] << 8) |
                 ((Params->Flags & FlagStatusProtect) != 0 ? VSCC_WSR : 0) |
                 ((Params->Flags & FlagWrite64) != 0 ? VSCC_WG_64 : 0) | EraseSize;
  if ((Params->Flags & FlagNoPrefixWriteEnable) == 0) {
    const UINT8* Prefix = Params->PrefixOpcodes;
    if (Prefix[0] == SPI_OPCODE_WREN || Prefix[1] == SPI_OPCODE_WREN) {
      Value |= VSCC_WEWS;
    } else if (Prefix[0] == SPI_OPCODE_EWSR || Prefix[1] == SPI_OPCODE_EWSR) {
      Value |= VSCC_WSR;
    }
  }
  return Value;
}

EFI_STATUS SpiInit(VOID* Context) {
  (void)Context;
  // RCBA is read afresh at each use: the module keeps no copy of a chipset base it does not own.
  SpiControllerState.SpiBase = ReadRcba() + RCBA_SPI_BAR;
  if (MemorySpaceHook != nullptr) {
    MemorySpaceHook->SetMemorySpaceAttributes(ReadRcba(), SPI_RCBA_BLOCK_SIZE, SPI_RCBA_RUNTIME_ATTRIBUTE);
  }
  return EFI_SUCCESS;
}

EFI_STATUS BootScriptMemWrite(UINT32 Table, UINT32 Width, UINT64 Address, UINT32 Count, VOID* Buffer) {
  if (BootScriptHook == nullptr) {
    return EFI_NOT_FOUND;
  }
  // The memory-write entry's trailing arguments: width, 64-bit address, count, value source.
  BootScriptHook->Write(BootScriptHook, (UINT16)Table, EFI_BOOT_SCRIPT_MEM_WRITE_OPCODE, Width, Address,
                        (UINTN)Count, Buffer);
  return EFI_SUCCESS;
}

EFI_STATUS SpiProbe(UINTN Argument) {
  const SpiFlashDevice* Row = (const SpiFlashDevice*)Argument;
  const SpiDeviceParams* Params = Row->Params;
  UINT32 Base = SpiControllerState.SpiBase;

  WritePostCode(SPI_PROBE_POST_CODE);

  // The controller decodes software-sequenced cycles from these tables.
  MmioWrite32(Base + SPI_OPMENU, Le32(&Params->OpcodeMenu[0]));
  MmioWrite32(Base + SPI_OPMENU + 4, Le32(&Params->OpcodeMenu[4]));
  MmioWrite16(Base + SPI_OPTYPE, Params->OpcodeTypes);
  MmioWrite16(Base + SPI_PREOP, Le16(Params->PrefixOpcodes));

  UINT32 Vscc = SpiComputeVscc(Params);
  MmioWrite32(Base + SPI_LVSCC, Vscc);
  MmioWrite32(Base + SPI_UVSCC, Vscc);
  // Keep the VSCC value across S3 resume; the upper register's own address supplies the value.
  // RCBA is read once for the address and once more for the value source, in that order.
  UINT32 UvsccAddress = ReadRcba() + RCBA_SPI_BAR + SPI_UVSCC;
  UINT32 UvsccSource = ReadRcba() + RCBA_SPI_BAR + SPI_UVSCC;
  BootScriptMemWrite(EFI_ACPI_S3_RESUME_SCRIPT_TABLE, EfiBootScriptWidthUint32, UvsccAddress, 1,
                     (VOID*)(UINTN)UvsccSource);

  // Bytes beyond a 2-byte identification must compare as 0.
  MmioWrite32(Base + SPI_FDATA0, 0);
  SpiCycle(0, 0, (UINT8)(SpiIdLength(Params) - 1), SPI_MENU_ID, 0, 1, 1);
  if (MmioRead32(Base + SPI_FDATA0) != Row->Device.Id) {
    return EFI_UNSUPPORTED;
  }

  if (SpiControllerState.PointersConverted == 0) {
    UINT8 BiosCntl = MmioRead8(BIOS_CNTL_ADDRESS);
    MmioWrite8(BIOS_CNTL_ADDRESS, (UINT8)((BiosCntl & BIOS_CNTL_SRC_KEEP) | SpiControllerState.SpiReadMode));
  }

  CopyMem(&SpiControllerState.ActiveSpiParams, Params, sizeof(SpiDeviceParams));
  UINT8 Components;
  if (!EFI_ERROR(SpiGetComponentCount(&Components))) {
    SpiControllerState.ActiveSpiParams.FlashSize = Params->FlashSize << (Components - 1);
  }
  SpiControllerState.WritableLow = 0;
  SpiControllerState.WritableHigh = (UINT64)(UINT32)(SpiControllerState.ActiveSpiParams.FlashSize - 1);

  if ((MmioRead32(Base + SPI_HSFS) & HSFS_FDV) == 0) {
    SpiControllerState.HwSequencing = 0;
    return EFI_SUCCESS;
  }
  SpiControllerState.HwSequencing = 1;
  MmioWrite32(Base + SPI_FDOC, FDOC_FLMSTR1);
  UINT32 Flmstr1 = MmioRead32(Base + SPI_FDOD);
  if ((Flmstr1 & FLMSTR1_WRITE_GRANTS) == 0) {
    // Without write grants to other regions the host may only modify its own BIOS region.
    UINT32 Bfpr = MmioRead32(Base + SPI_BFPR);
    UINT32 RegionBase = (Bfpr & 0xFFF) << 12;
    UINT32 RegionLimit = (Bfpr >> 4) & 0xFFF000;
    if (RegionBase < RegionLimit) {
      SpiControllerState.WritableLow = RegionBase;
      SpiControllerState.WritableHigh = RegionLimit | 0xFFF;
    }
  }
  return EFI_SUCCESS;
}

EFI_STATUS SpiConvertPointers(VOID) {
  if (SpiControllerState.PointersConverted == 0) {
    if (SpiConvertPointerHook != nullptr) {
      VOID* Pointer = (VOID*)(UINTN)SpiControllerState.SpiBase;
      SpiConvertPointerHook(SPI_CONVERT_DISPOSITION, &Pointer);
      SpiControllerState.SpiBase = (UINT32)(UINTN)Pointer;
    }
    SpiControllerState.PointersConverted = 1;
  }
  return EFI_SUCCESS;
}

#ifdef RECOVERY_HOST_BUILD
void SpiDriverReset(void) {
  ZeroMem(&SpiControllerState, sizeof SpiControllerState);
  MemorySpaceHook = nullptr;
  BootScriptHook = nullptr;
  SpiConvertPointerHook = nullptr;
}
#endif
