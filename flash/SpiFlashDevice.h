// The SPI extension of the flash descriptor and the 32-byte SPI parameter block. Bytes 0-11 of
// the block are laid out exactly as the controller registers loaded from them (OPMENU, OPTYPE,
// PREOP), so they are copied as whole words.
#ifndef FLASH_SPI_FLASH_DEVICE_H_
#define FLASH_SPI_FLASH_DEVICE_H_

#include "flash/FlashDevice.h"

// Flags bits.
constexpr UINT32 FlagStatusProtect = 1u << 0;        // unprotect/re-protect through the status register
constexpr UINT32 FlagBlockProtect = 1u << 1;         // unprotect/re-protect block by block
constexpr UINT32 FlagBlockProtectHasData = 1u << 2;  // per-block commands carry one data byte
constexpr UINT32 FlagWrite64 = 1u << 3;              // 64-byte write granularity
constexpr UINT32 FlagIdLengthShift = 4;              // bits 6:4: identification bytes read (2 or 3)
constexpr UINT32 FlagIdLengthMask = 7u << FlagIdLengthShift;
constexpr UINT32 FlagNoPrefixWriteEnable = 1u << 10;  // VSCC write-enable bits not derived from PREOP

typedef struct {
  UINT8 OpcodeMenu[8];     // menu entries 0-7 (OPMENU)
  UINT16 OpcodeTypes;      // 2 bits per entry: 0 read, 1 write, 2 read+address, 3 write+address (OPTYPE)
  UINT8 PrefixOpcodes[2];  // PREOP
  UINT32 Flags;
  UINT8 ProtectStatus;
  UINT8 UnprotectStatus;
  UINT8 BlockProtectData;
  UINT8 BlockUnprotectData;
  UINT32 FlashSize;
  UINT32 EraseUnit;
  UINT32 BlockProtectUnit;
} SpiDeviceParams;

static_assert(sizeof(SpiDeviceParams) == 32, "SPI parameter block is 32 bytes");
static_assert(offsetof(SpiDeviceParams, OpcodeTypes) == 8, "OPTYPE image at byte 8");
static_assert(offsetof(SpiDeviceParams, PrefixOpcodes) == 10, "PREOP image at byte 10");
static_assert(offsetof(SpiDeviceParams, Flags) == 12, "Flags at byte 12");
static_assert(offsetof(SpiDeviceParams, ProtectStatus) == 16, "status bytes at 16");
static_assert(offsetof(SpiDeviceParams, BlockUnprotectData) == 19, "block data bytes at 18-19");
static_assert(offsetof(SpiDeviceParams, FlashSize) == 20, "FlashSize at byte 20");
static_assert(offsetof(SpiDeviceParams, EraseUnit) == 24, "EraseUnit at byte 24");
static_assert(offsetof(SpiDeviceParams, BlockProtectUnit) == 28, "BlockProtectUnit at byte 28");

typedef struct {
  FlashDevice Device;
  const SpiDeviceParams* Params;  // the row's own block
} SpiFlashDevice;

// Detection hands the recovery &Row.Device; the SPI family converts that pointer back to its row.
static_assert(offsetof(SpiFlashDevice, Device) == 0, "Device is the first member of an SPI row");

constexpr UINT32 SpiIdLength(const SpiDeviceParams* Params) {
  return (Params->Flags & FlagIdLengthMask) >> FlagIdLengthShift;
}

#endif  // FLASH_SPI_FLASH_DEVICE_H_
