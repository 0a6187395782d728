// The platform speaker PPI: a tone frequency and beeps of a given count, duration and interval.
#ifndef PI_SPEAKER_PPI_H_
#define PI_SPEAKER_PPI_H_

#include "pi/PeiServices.h"

// {30AC275E-BB30-4B84-A1CD-0AF1322C89C0}
extern const EFI_GUID gPeiSpeakerInterfacePpiGuid;

typedef EFI_STATUS(EFIAPI* PEI_SPEAKER_SET_FREQUENCY)(EFI_PEI_SERVICES** PeiServices, UINT16 Frequency);
typedef EFI_STATUS(EFIAPI* PEI_SPEAKER_GENERATE_BEEP)(EFI_PEI_SERVICES** PeiServices, UINTN NumberOfBeeps,
                                                      UINTN BeepDuration, UINTN TimeInterval);

typedef struct {
  PEI_SPEAKER_SET_FREQUENCY SetFrequency;
  PEI_SPEAKER_GENERATE_BEEP Beep;
} PEI_SPEAKER_IF_PPI;

static_assert(offsetof(PEI_SPEAKER_IF_PPI, Beep) == sizeof(VOID*), "SetFrequency, then Beep");

#endif  // PI_SPEAKER_PPI_H_
