// Chipset base addresses read from the LPC bridge's memory-mapped configuration space.
#include "platform/PciConfig.h"

#include "platform/HwAccess.h"

UINT32 ReadRcba(void) { return MmioRead32(LPC_BRIDGE_MMCFG + LPC_RCBA) & ~1u; }

UINT16 ReadPmBase(void) { return (UINT16)(MmioRead16(LPC_BRIDGE_MMCFG + LPC_PMBASE) & ~1u); }
