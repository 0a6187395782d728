// A deadline for the module's run: the interval timer interrupts the module 100 times a second,
// and once the run has gone on longer than any scenario needs, the harness stops it and reports
// where the module was (an unbounded wait that never ends, for instance).
#pragma once

#include <stdint.h>

namespace harness {

constexpr uint8_t kTimerVector = 0x20;

// Routes the interval timer to kTimerVector, unmasks only it, and arms the deadline. The timer only
// interrupts while interrupts are enabled, which they are at user privilege alone.
void watchdog_start(uint32_t limit_us);

// The timer vector's handler: acknowledges the interrupt; ends the run once the deadline passed.
void watchdog_tick(uint32_t eip);

}  // namespace harness
