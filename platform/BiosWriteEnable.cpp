// BIOS write enable through configuration mechanism #1, after the embedded-controller handshake.
#include "platform/BiosWriteEnable.h"

#include "platform/EmbeddedController.h"
#include "platform/HwAccess.h"
#include "platform/PciConfig.h"

EFI_STATUS SetBiosWriteEnable(UINT8 Enable) {
  EcFlashHandshake(Enable);
  IoWrite32(PCI_CONFIG_ADDRESS_PORT, LpcBridgeConfigAddress(LPC_BIOS_CNTL));
  UINT8 BiosCntl = IoRead8(PCI_CONFIG_DATA_PORT);
  if (Enable != 0) {
    BiosCntl |= BIOS_CNTL_BIOSWE;
  } else {
    BiosCntl &= (UINT8)~BIOS_CNTL_BIOSWE;
  }
  IoWrite32(PCI_CONFIG_ADDRESS_PORT, LpcBridgeConfigAddress(LPC_BIOS_CNTL));
  IoWrite8(PCI_CONFIG_DATA_PORT, BiosCntl);
  return EFI_SUCCESS;
}
