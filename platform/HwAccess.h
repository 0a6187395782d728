// The hardware-access seam: the only primitives through which the module reaches hardware.
// Every call is exactly one access of the stated width, performed in program order. Two bindings
// exist, chosen at link time: platform/ia32 (real port instructions and volatile accesses) and
// the simulator's, which forwards each access to the simulated platform.
#ifndef PLATFORM_HW_ACCESS_H_
#define PLATFORM_HW_ACCESS_H_

#include "pi/PiBase.h"

extern "C" {

UINT8 IoRead8(UINT16 Port);
UINT16 IoRead16(UINT16 Port);
UINT32 IoRead32(UINT16 Port);
void IoWrite8(UINT16 Port, UINT8 Value);
void IoWrite16(UINT16 Port, UINT16 Value);
void IoWrite32(UINT16 Port, UINT32 Value);

// Loads and stores at a 32-bit physical address (flat addressing, no paging).
UINT8 MmioRead8(UINT32 Address);
UINT16 MmioRead16(UINT32 Address);
UINT32 MmioRead32(UINT32 Address);
void MmioWrite8(UINT32 Address, UINT8 Value);
void MmioWrite16(UINT32 Address, UINT16 Value);
void MmioWrite32(UINT32 Address, UINT32 Value);

// One iteration's worth of waiting in a spin that never ends (the pause hint on x86).
void CpuPause(void);

}  // extern "C"

#endif  // PLATFORM_HW_ACCESS_H_
