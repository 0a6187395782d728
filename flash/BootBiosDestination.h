// Where the chipset routes the BIOS range (LPC bus or SPI controller), read from the boot BIOS
// straps in GCS, and the two predicates that detection builds on it.
#ifndef FLASH_BOOT_BIOS_DESTINATION_H_
#define FLASH_BOOT_BIOS_DESTINATION_H_

#include "pi/PiBase.h"

// GCS (RCBA + 0x3410) bits 11:10: the boot BIOS straps sampled at power-up. The module reads 11b
// as SPI and 00b as LPC; 01b and 10b route the BIOS elsewhere and are not supported.
constexpr UINT32 GCS_BBS_SHIFT = 10;
constexpr UINT32 GCS_BBS_MASK = 0x3;
constexpr UINT32 GCS_BBS_LPC = 0x0;
constexpr UINT32 GCS_BBS_SPI = 0x3;

typedef enum {
  BootBiosDestinationLpc = 0,
  BootBiosDestinationSpi = 1,
} BOOT_BIOS_DESTINATION;

// Reads GCS afresh. EFI_SUCCESS with the destination for straps 00b and 11b; EFI_UNSUPPORTED for
// 01b and 10b (Destination left as it was); EFI_INVALID_PARAMETER, with no register read, for a
// null Destination.
EFI_STATUS ReadBootBiosDestination(BOOT_BIOS_DESTINATION* Destination);

// True only when the straps read successfully and name the LPC bus (resp. the SPI controller).
BOOLEAN IsLpcBoot(void);
BOOLEAN IsSpiBoot(void);

#endif  // FLASH_BOOT_BIOS_DESTINATION_H_
