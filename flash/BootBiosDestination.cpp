// Boot BIOS destination from the chipset's GCS straps.
#include "flash/BootBiosDestination.h"

#include "platform/HwAccess.h"
#include "platform/PciConfig.h"

EFI_STATUS ReadBootBiosDestination(BOOT_BIOS_DESTINATION* Destination) {
  if (Destination == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  // RCBA is read afresh from the configuration window: earlier firmware may have moved the block.
  UINT32 Gcs = MmioRead32(ReadRcba() + RCBA_GCS);
  switch ((Gcs >> GCS_BBS_SHIFT) & GCS_BBS_MASK) {
    case GCS_BBS_SPI:
      *Destination = BootBiosDestinationSpi;
      return EFI_SUCCESS;
    case GCS_BBS_LPC:
      *Destination = BootBiosDestinationLpc;
      return EFI_SUCCESS;
    default:
      return EFI_UNSUPPORTED;
  }
}

BOOLEAN IsLpcBoot(void) {
  BOOT_BIOS_DESTINATION Destination;
  return !EFI_ERROR(ReadBootBiosDestination(&Destination)) && Destination == BootBiosDestinationLpc;
}

BOOLEAN IsSpiBoot(void) {
  BOOT_BIOS_DESTINATION Destination;
  return !EFI_ERROR(ReadBootBiosDestination(&Destination)) && Destination == BootBiosDestinationSpi;
}
