// The recovery sequence: find and load a recovery capsule, open the flash for writes, detect the
// part and rewrite the top 2 MiB below 4 GiB from the capsule, signalling with beeps and POST codes.
#include "recovery/RecoveryEntry.h"

#include "flash/FlashDetect.h"
#include "flash/FlashDevice.h"
#include "pi/DeviceRecoveryPpi.h"
#include "pi/SpeakerPpi.h"
#include "platform/BiosWriteEnable.h"
#include "platform/EmbeddedController.h"
#include "platform/HwAccess.h"
#include "platform/PostCode.h"
#include "platform/Stall.h"
#include "recovery/BeepCodes.h"

// The capsule is a raw image of the flash window 0xFFE00000-0xFFFFFFFF, byte n at base + n.
constexpr UINT32 RECOVERY_WINDOW_BASE = 0xFFE00000;
constexpr UINT32 RECOVERY_IMAGE_SIZE = 0x200000;
// 64 KiB inside the window that the update leaves as it is, with the matching capsule bytes.
constexpr UINT32 PRESERVED_BASE = 0xFFF70000;
constexpr UINT32 PRESERVED_SIZE = 0x10000;
// Erased and written 4 KiB at a time; a beep marks every 64 KiB.
constexpr UINT32 CHUNK_SIZE = 0x1000;
constexpr UINT32 BLOCK_BEEP_MASK = 0xF000;
constexpr UINT32 BLOCK_BASE_MASK = 0xFFFFF000;
constexpr UINT32 PAGE_SHIFT = 12;
// Pause before each erase and each write, and after opening the flash.
constexpr UINT32 FLASH_SETTLE_US = 2000;
constexpr UINT16 SPEAKER_FREQUENCY_HZ = 1000;

typedef struct {
  PEI_SPEAKER_IF_PPI* Ppi;  // null: no speaker, the sequence runs silently
  EFI_PEI_SERVICES** PeiServices;
} Speaker;

static void Beep(const Speaker* Sp, BeepPattern Pattern) {
  if (Sp->Ppi != nullptr) {
    Sp->Ppi->Beep(Sp->PeiServices, Pattern.Count, Pattern.Duration, Pattern.Interval);
  }
}

// Finds the first recovery PPI instance that offers a capsule. A failed count query counts as no
// capsules, whatever the producer left in the count; so does an instance located without an
// interface.
static EFI_STATUS FindRecoveryPpi(const EFI_PEI_SERVICES** PeiServices,
                                  EFI_PEI_DEVICE_RECOVERY_MODULE_PPI** Ppi) {
  for (UINT32 Instance = 0;; Instance++) {
    VOID* Found = nullptr;
    EFI_STATUS Status =
        (*PeiServices)
            ->LocatePpi(PeiServices, &gEfiPeiDeviceRecoveryModulePpiGuid, Instance, nullptr, &Found);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* Recovery = (EFI_PEI_DEVICE_RECOVERY_MODULE_PPI*)Found;
    // A producer that reports success but hands back no interface offers no capsules.
    if (Recovery == nullptr) {
      continue;
    }
    UINTN NumberOfCapsules = 0;
    if (EFI_ERROR(Recovery->GetNumberRecoveryCapsules((EFI_PEI_SERVICES**)PeiServices, Recovery,
                                                      &NumberOfCapsules))) {
      NumberOfCapsules = 0;
    }
    if ((UINT32)NumberOfCapsules != 0) {
      *Ppi = Recovery;
      return EFI_SUCCESS;
    }
  }
}

// Erases and writes the window chunk by chunk, skipping the preserved region. Returns the first
// failing device status.
static EFI_STATUS ProgramFlash(const FlashDevice* Device, const UINT8* Capsule, const Speaker* Sp) {
  UINT32 Target = RECOVERY_WINDOW_BASE;
  const UINT8* Source = Capsule;
  UINT32 Chunk = CHUNK_SIZE;
  UINT32 Remaining = RECOVERY_IMAGE_SIZE;
  UINT8 Progress = 0;

  Beep(Sp, BEEP_PROGRAMMING);
  do {
    if ((Target & BLOCK_BEEP_MASK) == 0) {
      Beep(Sp, BEEP_BLOCK);
    }
    if (Target == PRESERVED_BASE) {
      Source += PRESERVED_SIZE;
      Remaining -= PRESERVED_SIZE;
      Target = PRESERVED_BASE + PRESERVED_SIZE;
    }
    WritePostCode(Progress);

    Stall(FLASH_SETTLE_US);
    EFI_STATUS Status = Device->Ops->Erase(Target, Chunk);
    if (EFI_ERROR(Status)) {
      Beep(Sp, BEEP_FLASH_FAILED);
      return Status;
    }
    Stall(FLASH_SETTLE_US);
    Status = Device->Ops->Write(Target, Source, &Chunk, Target & BLOCK_BASE_MASK);
    if (EFI_ERROR(Status)) {
      Beep(Sp, BEEP_FLASH_FAILED);
      return Status;
    }

    Progress++;
    Target += Chunk;
    Source += Chunk;
    Remaining -= Chunk;
  } while (Remaining != 0);
  return EFI_SUCCESS;
}

extern "C" EFI_STATUS EFIAPI RecoveryEntry(EFI_PEI_FILE_HANDLE FileHandle,
                                           const EFI_PEI_SERVICES** PeiServices) {
  (void)FileHandle;
  // The PPIs take the services pointer without const, as their interfaces declare it.
  Speaker Sp = {nullptr, (EFI_PEI_SERVICES**)PeiServices};

  VOID* Found = nullptr;
  // A producer that reports success but hands back no interface counts as no speaker.
  if (!EFI_ERROR((*PeiServices)->LocatePpi(PeiServices, &gPeiSpeakerInterfacePpiGuid, 0, nullptr, &Found)) &&
      Found != nullptr) {
    Sp.Ppi = (PEI_SPEAKER_IF_PPI*)Found;
    Sp.Ppi->SetFrequency(Sp.PeiServices, SPEAKER_FREQUENCY_HZ);
    Beep(&Sp, BEEP_SPEAKER_FOUND);
  }

  EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* Recovery = nullptr;
  EFI_STATUS Status = FindRecoveryPpi(PeiServices, &Recovery);
  if (EFI_ERROR(Status)) {
    Beep(&Sp, BEEP_NO_CAPSULE);
    return Status;
  }

  UINTN ReportedSize = 0;
  EFI_GUID CapsuleType;
  Status = Recovery->GetRecoveryCapsuleInfo(Sp.PeiServices, Recovery, 0, &ReportedSize, &CapsuleType);
  if (EFI_ERROR(Status)) {
    Beep(&Sp, BEEP_NO_CAPSULE);
    return Status;
  }
  // The whole window is programmed from the capsule: a shorter one would be read past its end.
  // A size that does not fit in 32 bits (possible only off-target) cannot be allocated as asked.
  if (ReportedSize < RECOVERY_IMAGE_SIZE || ((ReportedSize >> 16) >> 16) != 0) {
    Beep(&Sp, BEEP_NO_CAPSULE);
    return EFI_BAD_BUFFER_SIZE;
  }
  UINT32 CapsuleSize = (UINT32)ReportedSize;

  EFI_PHYSICAL_ADDRESS Buffer = 0;
  Status =
      (*PeiServices)
          ->AllocatePages(PeiServices, EfiBootServicesCode, ((CapsuleSize - 1) >> PAGE_SHIFT) + 1, &Buffer);
  if (EFI_ERROR(Status)) {
    Beep(&Sp, BEEP_NO_MEMORY);
    return Status;
  }
  // Memory below 4 GiB: the low 32 bits are the address.
  UINT8* Capsule = (UINT8*)(UINTN)(UINT32)Buffer;

  Status = Recovery->LoadRecoveryCapsule(Sp.PeiServices, Recovery, 0, Capsule);
  if (EFI_ERROR(Status)) {
    Beep(&Sp, BEEP_LOAD_FAILED);
    Beep(&Sp, BEEP_TWO_SHORT);
    return Status;
  }

  // From here on a failure returns with the flash still open (controller in flash mode, BIOS
  // write enable set); only a complete update closes it again.
  SetBiosWriteEnable(1);
  Stall(FLASH_SETTLE_US);

  const FlashDevice* Device = nullptr;
  Status = DetectFlashDevice(&Device, nullptr);
  if (EFI_ERROR(Status)) {
    Beep(&Sp, BEEP_NO_FLASH_PART);
    Beep(&Sp, BEEP_TWO_SHORT);
    return Status;
  }

  Status = ProgramFlash(Device, Capsule, &Sp);
  if (EFI_ERROR(Status)) {
    return Status;
  }

  SetBiosWriteEnable(0);
  Beep(&Sp, BEEP_COMPLETE);
  EcSendFinalCommand();
  // The embedded controller takes the platform from here.
  for (;;) {
    CpuPause();
  }
}
