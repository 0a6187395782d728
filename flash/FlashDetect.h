// Detection of the installed flash part: the boot BIOS straps choose a device table, which is
// walked in order; the first candidate whose probe succeeds is the device the recovery drives.
#ifndef FLASH_FLASH_DETECT_H_
#define FLASH_FLASH_DETECT_H_

#include "flash/FlashDevice.h"
#include "flash/SpiFlashDevice.h"

// On success *Device points at the chosen descriptor (for an SPI part, the Device member of its
// SpiFlashDevice row); on failure it is null. Context is handed unchanged to every candidate's
// Init. EFI_UNSUPPORTED for unsupported straps or when no candidate answers;
// EFI_INVALID_PARAMETER, with no hardware touched, when Device itself is null.
EFI_STATUS DetectFlashDevice(const FlashDevice** Device, VOID* Context);

#ifdef RECOVERY_HOST_BUILD
// Test hook: detection walks these lists instead of the built-in tables. A null list restores
// that table's built-in rows. The lists must outlive every detection that uses them.
void FlashDetectUseTables(const FlashDevice* LpcList, UINT32 LpcCount, const SpiFlashDevice* SpiList,
                          UINT32 SpiCount);
// Back to the built-in tables, as at load.
void FlashDetectReset(void);
// The descriptor the last successful detection chose; null before one succeeded. Lets a host
// tool name the part a run detected.
const FlashDevice* FlashDetectLastDevice(void);
#endif

#endif  // FLASH_FLASH_DETECT_H_
