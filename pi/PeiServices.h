// EFI_PEI_SERVICES with the complete PI slot order, and the PPI descriptor.
// Only LocatePpi, AllocatePages and AllocatePool are called by the module; every other slot is
// declared with an opaque signature so that the table keeps its IA32 layout.
#ifndef PI_PEI_SERVICES_H_
#define PI_PEI_SERVICES_H_

#include "pi/PiBase.h"

struct EFI_PEI_SERVICES;

typedef struct {
  UINTN Flags;
  EFI_GUID* Guid;
  VOID* Ppi;
} EFI_PEI_PPI_DESCRIPTOR;

typedef EFI_STATUS(EFIAPI* EFI_PEI_LOCATE_PPI)(const EFI_PEI_SERVICES** PeiServices, const EFI_GUID* Guid,
                                               UINTN Instance, EFI_PEI_PPI_DESCRIPTOR** PpiDescriptor,
                                               VOID** Ppi);
typedef EFI_STATUS(EFIAPI* EFI_PEI_ALLOCATE_PAGES)(const EFI_PEI_SERVICES** PeiServices,
                                                   EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                                                   EFI_PHYSICAL_ADDRESS* Memory);
typedef EFI_STATUS(EFIAPI* EFI_PEI_ALLOCATE_POOL)(const EFI_PEI_SERVICES** PeiServices, UINTN Size,
                                                  VOID** Buffer);
// Slots the module never calls.
typedef EFI_STATUS(EFIAPI* EFI_PEI_UNUSED_SERVICE)(VOID);

struct EFI_PEI_SERVICES {
  EFI_TABLE_HEADER Hdr;
  EFI_PEI_UNUSED_SERVICE InstallPpi;
  EFI_PEI_UNUSED_SERVICE ReInstallPpi;
  EFI_PEI_LOCATE_PPI LocatePpi;
  EFI_PEI_UNUSED_SERVICE NotifyPpi;
  EFI_PEI_UNUSED_SERVICE GetBootMode;
  EFI_PEI_UNUSED_SERVICE SetBootMode;
  EFI_PEI_UNUSED_SERVICE GetHobList;
  EFI_PEI_UNUSED_SERVICE CreateHob;
  EFI_PEI_UNUSED_SERVICE FfsFindNextVolume;
  EFI_PEI_UNUSED_SERVICE FfsFindNextFile;
  EFI_PEI_UNUSED_SERVICE FfsFindSectionData;
  EFI_PEI_UNUSED_SERVICE InstallPeiMemory;
  EFI_PEI_ALLOCATE_PAGES AllocatePages;
  EFI_PEI_ALLOCATE_POOL AllocatePool;
  EFI_PEI_UNUSED_SERVICE CopyMem;
  EFI_PEI_UNUSED_SERVICE SetMem;
  EFI_PEI_UNUSED_SERVICE ReportStatusCode;
  EFI_PEI_UNUSED_SERVICE ResetSystem;
  VOID* CpuIo;
  VOID* PciCfg;
  EFI_PEI_UNUSED_SERVICE FfsFindFileByName;
  EFI_PEI_UNUSED_SERVICE FfsGetFileInfo;
  EFI_PEI_UNUSED_SERVICE FfsGetVolumeInfo;
  EFI_PEI_UNUSED_SERVICE RegisterForShadow;
  EFI_PEI_UNUSED_SERVICE FindSectionData3;
  EFI_PEI_UNUSED_SERVICE FfsGetFileInfo2;
  EFI_PEI_UNUSED_SERVICE ResetSystem2;
  EFI_PEI_UNUSED_SERVICE FreePages;
};

// Slot n of the table lies at 0x18 + n * (pointer size); on IA32 every slot is 4 bytes.
#define PEI_SERVICE_SLOT_OFFSET(n) (sizeof(EFI_TABLE_HEADER) + (n) * sizeof(VOID*))
static_assert(offsetof(EFI_PEI_SERVICES, InstallPpi) == PEI_SERVICE_SLOT_OFFSET(0), "slot 0");
static_assert(offsetof(EFI_PEI_SERVICES, LocatePpi) == PEI_SERVICE_SLOT_OFFSET(2), "slot 2");
static_assert(offsetof(EFI_PEI_SERVICES, AllocatePages) == PEI_SERVICE_SLOT_OFFSET(12), "slot 12");
static_assert(offsetof(EFI_PEI_SERVICES, AllocatePool) == PEI_SERVICE_SLOT_OFFSET(13), "slot 13");
static_assert(offsetof(EFI_PEI_SERVICES, CpuIo) == PEI_SERVICE_SLOT_OFFSET(18), "slot 18");
static_assert(offsetof(EFI_PEI_SERVICES, FreePages) == PEI_SERVICE_SLOT_OFFSET(27), "slot 27");
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(EFI_PEI_SERVICES, LocatePpi) == 0x20, "IA32 offset of LocatePpi");
static_assert(offsetof(EFI_PEI_SERVICES, AllocatePages) == 0x48, "IA32 offset of AllocatePages");
static_assert(offsetof(EFI_PEI_SERVICES, AllocatePool) == 0x4C, "IA32 offset of AllocatePool");
static_assert(offsetof(EFI_PEI_SERVICES, FreePages) == 0x84, "IA32 offset of FreePages");
static_assert(sizeof(EFI_PEI_SERVICES) == 0x88, "IA32 size of EFI_PEI_SERVICES");
static_assert(sizeof(EFI_PEI_PPI_DESCRIPTOR) == 12, "IA32 size of EFI_PEI_PPI_DESCRIPTOR");
#endif

#endif  // PI_PEI_SERVICES_H_
