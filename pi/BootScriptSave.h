// The boot-script save interface: records register writes that the platform replays on resume
// from S3. One variadic Write operation, whose trailing arguments depend on the opcode.
#ifndef PI_BOOT_SCRIPT_SAVE_H_
#define PI_BOOT_SCRIPT_SAVE_H_

#include "pi/PiBase.h"

struct EFI_BOOT_SCRIPT_SAVE_PROTOCOL;

// For EFI_BOOT_SCRIPT_MEM_WRITE_OPCODE the trailing arguments are
// (EFI_BOOT_SCRIPT_WIDTH Width, UINT64 Address, UINTN Count, VOID* Buffer).
typedef EFI_STATUS(EFIAPI* EFI_BOOT_SCRIPT_WRITE)(EFI_BOOT_SCRIPT_SAVE_PROTOCOL* This, UINT16 TableName,
                                                  UINT16 OpCode, ...);
typedef EFI_STATUS(EFIAPI* EFI_BOOT_SCRIPT_CLOSE_TABLE)(EFI_BOOT_SCRIPT_SAVE_PROTOCOL* This, UINT16 TableName,
                                                        EFI_PHYSICAL_ADDRESS* Address);

struct EFI_BOOT_SCRIPT_SAVE_PROTOCOL {
  EFI_BOOT_SCRIPT_WRITE Write;
  EFI_BOOT_SCRIPT_CLOSE_TABLE CloseTable;
};

static_assert(offsetof(EFI_BOOT_SCRIPT_SAVE_PROTOCOL, CloseTable) == sizeof(VOID*), "Write, then CloseTable");

constexpr UINT16 EFI_ACPI_S3_RESUME_SCRIPT_TABLE = 0;
constexpr UINT16 EFI_BOOT_SCRIPT_MEM_WRITE_OPCODE = 2;

// Access width of a recorded write, an enumeration passed through the variadic part as a 32-bit
// value: 0 for 8 bits, 1 for 16, 2 for 32, 3 for 64.
typedef UINT32 EFI_BOOT_SCRIPT_WIDTH;
constexpr EFI_BOOT_SCRIPT_WIDTH EfiBootScriptWidthUint32 = 2;

#endif  // PI_BOOT_SCRIPT_SAVE_H_
