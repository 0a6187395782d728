// The GUIDs of the PPIs the module locates, and GUID comparison.
#include "pi/DeviceRecoveryPpi.h"
#include "pi/SpeakerPpi.h"

const EFI_GUID gEfiPeiDeviceRecoveryModulePpiGuid = {
    0x0DE2CE25, 0x446A, 0x45A7, {0xBF, 0xC9, 0x37, 0xDA, 0x26, 0x34, 0x4B, 0x37}
};

const EFI_GUID gPeiSpeakerInterfacePpiGuid = {
    0x30AC275E, 0xBB30, 0x4B84, {0xA1, 0xCD, 0x0A, 0xF1, 0x32, 0x2C, 0x89, 0xC0}
};

BOOLEAN CompareGuid(const EFI_GUID* A, const EFI_GUID* B) {
  const UINT8* a = (const UINT8*)A;
  const UINT8* b = (const UINT8*)B;
  for (UINTN i = 0; i < sizeof(EFI_GUID); i++) {
    if (a[i] != b[i]) {
      return 0;
    }
  }
  return 1;
}
