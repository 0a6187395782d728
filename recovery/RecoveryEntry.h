// The module's entry point, called once by the PEI dispatcher.
#ifndef RECOVERY_RECOVERY_ENTRY_H_
#define RECOVERY_RECOVERY_ENTRY_H_

#include "pi/PeiServices.h"

extern "C" EFI_STATUS EFIAPI RecoveryEntry(EFI_PEI_FILE_HANDLE FileHandle,
                                           const EFI_PEI_SERVICES** PeiServices);

#endif  // RECOVERY_RECOVERY_ENTRY_H_
