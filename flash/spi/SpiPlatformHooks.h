// Platform services the SPI driver would use outside the recovery (memory-space attributes for the
// chipset register block, boot-script recording of the VSCC write, pointer conversion for runtime
// use). None is connected in this module: the references stay null and their uses are skipped.
#ifndef FLASH_SPI_SPI_PLATFORM_HOOKS_H_
#define FLASH_SPI_SPI_PLATFORM_HOOKS_H_

#include "pi/BootScriptSave.h"

// The one DXE service the driver needs: give the root-complex register block runtime attributes.
typedef EFI_STATUS (*SPI_SET_MEMORY_SPACE_ATTRIBUTES)(UINT64 BaseAddress, UINT64 Length, UINT64 Attributes);
typedef struct {
  SPI_SET_MEMORY_SPACE_ATTRIBUTES SetMemorySpaceAttributes;
} SPI_MEMORY_SPACE_SERVICES;

// The runtime service that converts a physical pointer for use after the switch to virtual mode.
typedef EFI_STATUS (*SPI_CONVERT_POINTER)(UINTN DebugDisposition, VOID** Address);

extern SPI_MEMORY_SPACE_SERVICES* MemorySpaceHook;
extern EFI_BOOT_SCRIPT_SAVE_PROTOCOL* BootScriptHook;
extern SPI_CONVERT_POINTER SpiConvertPointerHook;

constexpr UINT64 SPI_RCBA_RUNTIME_ATTRIBUTE = 0x8000000000000000ull;
constexpr UINT32 SPI_RCBA_BLOCK_SIZE = 0x4000;
constexpr UINTN SPI_CONVERT_DISPOSITION = 4;

#endif  // FLASH_SPI_SPI_PLATFORM_HOOKS_H_
