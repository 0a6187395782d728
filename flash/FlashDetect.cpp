// Flash device detection: walk the table the boot BIOS straps select, Init then Probe each
// candidate in order, and take the first that answers.
#include "flash/FlashDetect.h"

#include "flash/BootBiosDestination.h"
#include "flash/DeviceTables.h"

#ifdef RECOVERY_HOST_BUILD
// Test-installed lists; null means the built-in table (the state at load).
static const FlashDevice* mLpcListOverride;
static UINT32 mLpcCountOverride;
static const SpiFlashDevice* mSpiListOverride;
static UINT32 mSpiCountOverride;
static const FlashDevice* mLastDetected;

void FlashDetectUseTables(const FlashDevice* LpcList, UINT32 LpcCount, const SpiFlashDevice* SpiList,
                          UINT32 SpiCount) {
  mLpcListOverride = LpcList;
  mLpcCountOverride = LpcList != NULL ? LpcCount : 0;
  mSpiListOverride = SpiList;
  mSpiCountOverride = SpiList != NULL ? SpiCount : 0;
}

void FlashDetectReset(void) {
  FlashDetectUseTables(NULL, 0, NULL, 0);
  mLastDetected = NULL;
}

const FlashDevice* FlashDetectLastDevice(void) { return mLastDetected; }

static void RememberDetected(const FlashDevice* Device) { mLastDetected = Device; }
#else
static void RememberDetected(const FlashDevice* Device) { (void)Device; }
#endif

static const FlashDevice* LpcCandidates(UINT32* Count) {
#ifdef RECOVERY_HOST_BUILD
  if (mLpcListOverride != NULL) {
    *Count = mLpcCountOverride;
    return mLpcListOverride;
  }
#endif
  GetLpcDeviceCount(Count);
  return LpcDeviceList;
}

static const SpiFlashDevice* SpiCandidates(UINT32* Count) {
#ifdef RECOVERY_HOST_BUILD
  if (mSpiListOverride != NULL) {
    *Count = mSpiCountOverride;
    return mSpiListOverride;
  }
#endif
  GetSpiDeviceCount(Count);
  return SpiDeviceList;
}

EFI_STATUS DetectFlashDevice(const FlashDevice** Device, VOID* Context) {
  if (Device == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  *Device = NULL;

  // Each candidate's Init runs right before its own Probe, even when an earlier candidate of the
  // same family has prepared the family's state already: Init is idempotent in every family, and
  // a failed probe may leave controller state that the next candidate must overwrite. Init's
  // status is not consulted; a family that could not prepare itself fails its probes.
  if (IsLpcBoot()) {
    UINT32 Count;
    const FlashDevice* List = LpcCandidates(&Count);
    for (UINT32 Index = 0; Index < Count; Index++) {
      const FlashDevice* Candidate = &List[Index];
      Candidate->Ops->Init(Context);
      // LPC parts are probed with the identification value they must return.
      if (!EFI_ERROR(Candidate->Ops->Probe((UINTN)Candidate->Id))) {
        *Device = Candidate;
        RememberDetected(Candidate);
        return EFI_SUCCESS;
      }
    }
  }

  // The straps are read afresh; after an LPC walk this is false, so the SPI table is never tried
  // on an LPC-boot platform.
  if (IsSpiBoot()) {
    UINT32 Count;
    const SpiFlashDevice* List = SpiCandidates(&Count);
    for (UINT32 Index = 0; Index < Count; Index++) {
      const SpiFlashDevice* Candidate = &List[Index];
      Candidate->Device.Ops->Init(Context);
      // SPI parts are probed with their row, from which the driver takes the Id and the
      // parameter block; Device is the row's first member, so the driver can get back to it.
      if (!EFI_ERROR(Candidate->Device.Ops->Probe((UINTN)Candidate))) {
        *Device = &Candidate->Device;
        RememberDetected(*Device);
        return EFI_SUCCESS;
      }
    }
  }

  return EFI_UNSUPPORTED;
}
