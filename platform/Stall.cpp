// Busy-wait on the 24-bit ACPI PM timer, counting wraps of the counter.
#include "platform/Stall.h"

#include "platform/HwAccess.h"

EFI_STATUS Stall(UINT32 Microseconds) {
  if (Microseconds == 0) {
    return EFI_SUCCESS;
  }
  // Taken unmasked: this chipset's timer is 24 bits wide and reads 0 in bits 31:24. A timer with
  // the 32-bit extension would put its upper byte into the wrap count below.
  UINT32 Latest = IoRead32(PM_TIMER_PORT);
  // 3.58 ticks per microsecond; +1 so that a partly elapsed first tick never shortens the wait.
  UINT32 Target = Microseconds * 358 / 100 + Latest + 1;
  UINT32 Wraps = Target >> 24;
  Target &= PM_TIMER_MASK;

  UINT32 Previous = Latest;
  while (Wraps != 0) {
    Latest = IoRead32(PM_TIMER_PORT);
    // Only a reading below the previous one is a wrap. Two reads inside one tick (279 ns) return
    // the same value on real chipsets; counting that as a wrap would end the stall seconds early.
    if (Latest < Previous) {
      Wraps--;
    }
    Previous = Latest;
  }
  while (Target > Latest) {
    if (Previous > Latest) {
      break;  // the counter wrapped again: the target has passed
    }
    Previous = Latest;
    Latest = IoRead32(PM_TIMER_PORT);
  }
  return EFI_SUCCESS;
}

EFI_STATUS PollDelay(UINT32 Microseconds) {
  (void)Microseconds;
  return EFI_SUCCESS;
}
