// Microsecond busy-wait on the ACPI PM timer, and the per-poll delay hook of the flash drivers.
#ifndef PLATFORM_STALL_H_
#define PLATFORM_STALL_H_

#include "pi/PiBase.h"

// The PM timer as earlier firmware leaves it: PMBASE 0x400, timer register at PMBASE + 8.
constexpr UINT16 PM_TIMER_PORT = 0x408;
// The timer counts 24 bits at 3.579545 MHz; the module rounds to 3.58 ticks per microsecond.
constexpr UINT32 PM_TIMER_MASK = 0xFFFFFF;

// Waits at least Microseconds (at most 11,997,115, where the 32-bit tick product overflows).
EFI_STATUS Stall(UINT32 Microseconds);

// Called between flash status polls. Returns at once: the flash poll bounds count loads.
EFI_STATUS PollDelay(UINT32 Microseconds);

#endif  // PLATFORM_STALL_H_
