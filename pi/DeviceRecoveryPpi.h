// The PI device recovery module PPI: the producer of recovery capsules.
#ifndef PI_DEVICE_RECOVERY_PPI_H_
#define PI_DEVICE_RECOVERY_PPI_H_

#include "pi/PeiServices.h"

// {0DE2CE25-446A-45A7-BFC9-37DA26344B37}
extern const EFI_GUID gEfiPeiDeviceRecoveryModulePpiGuid;

struct EFI_PEI_DEVICE_RECOVERY_MODULE_PPI;

typedef EFI_STATUS(EFIAPI* EFI_PEI_DEVICE_GET_NUMBER_RECOVERY_CAPSULE)(
    EFI_PEI_SERVICES** PeiServices, EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* This, UINTN* NumberRecoveryCapsules);
typedef EFI_STATUS(EFIAPI* EFI_PEI_DEVICE_GET_RECOVERY_CAPSULE_INFO)(EFI_PEI_SERVICES** PeiServices,
                                                                     EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* This,
                                                                     UINTN CapsuleInstance, UINTN* Size,
                                                                     EFI_GUID* CapsuleType);
typedef EFI_STATUS(EFIAPI* EFI_PEI_DEVICE_LOAD_RECOVERY_CAPSULE)(EFI_PEI_SERVICES** PeiServices,
                                                                 EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* This,
                                                                 UINTN CapsuleInstance, VOID* Buffer);

struct EFI_PEI_DEVICE_RECOVERY_MODULE_PPI {
  EFI_PEI_DEVICE_GET_NUMBER_RECOVERY_CAPSULE GetNumberRecoveryCapsules;
  EFI_PEI_DEVICE_GET_RECOVERY_CAPSULE_INFO GetRecoveryCapsuleInfo;
  EFI_PEI_DEVICE_LOAD_RECOVERY_CAPSULE LoadRecoveryCapsule;
};

static_assert(offsetof(EFI_PEI_DEVICE_RECOVERY_MODULE_PPI, LoadRecoveryCapsule) == 2 * sizeof(VOID*),
              "PI member order");

#endif  // PI_DEVICE_RECOVERY_PPI_H_
