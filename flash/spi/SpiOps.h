// The SPI operation set bound to every SpiDeviceList row (Init, Probe, Erase, Write, Read,
// ConvertPointers) and the helpers around it.
#ifndef FLASH_SPI_SPI_OPS_H_
#define FLASH_SPI_SPI_OPS_H_

#include "flash/SpiFlashDevice.h"

// Points SpiBase at RCBA + 0x3800. Context is not used. Always 0.
EFI_STATUS SpiInit(VOID* Context);
// Argument is the address of the SpiFlashDevice row. Programs the controller for the row, reads
// the part's identification and, when it matches, configures the driver for the part.
EFI_STATUS SpiProbe(UINTN Argument);
// Records a memory write in the boot script; EFI_NOT_FOUND when there is no boot-script interface.
EFI_STATUS BootScriptMemWrite(UINT32 Table, UINT32 Width, UINT64 Address, UINT32 Count, VOID* Buffer);
EFI_STATUS SpiConvertPointers(VOID);
// The VSCC value SpiProbe programs for a row: erase opcode and size, write granularity and
// status-write handling.
UINT32 SpiComputeVscc(const SpiDeviceParams* Params);

// True when the linear range Address .. Address + Length - 1 lies inside the writable window.
BOOLEAN IsInWritableRange(UINT64 Address, UINT32 Length);
// Mode 0 lifts the part's write protection for the linear range, mode 1 restores it; any other
// mode does nothing. Always 0.
EFI_STATUS SpiSetProtection(UINT8 Mode, UINT32 Address, UINT32 Length);

EFI_STATUS SpiErase(UINT32 Address, UINT32 Length);
EFI_STATUS SpiWrite(UINT32 Address, const UINT8* Source, UINT32* Length, UINT32 BlockBase);
// Under hardware sequencing a range whose linear end passes 4 GiB is refused with
// EFI_INVALID_PARAMETER before any access.
EFI_STATUS SpiRead(UINT8* Destination, UINT32 Address, UINT32 Length);

#ifdef RECOVERY_HOST_BUILD
// Back to the just-loaded state: controller state and platform hooks zero.
void SpiDriverReset(void);
#endif

#endif  // FLASH_SPI_SPI_OPS_H_
