// The harness's time base: the chipset's high-precision event timer, which QEMU drives from the host
// clock. It timestamps log lines and measures the module's stalls, independently of the PM timer
// that the module itself counts.
#pragma once

#include <stdint.h>

namespace harness {

// Restarts the event timer's main counter from 0. FALSE when no usable timer answers.
bool clock_start();

// Microseconds since clock_start (0 when the clock did not start).
uint32_t clock_us();

// The timer's tick period in femtoseconds as the hardware reports it.
uint32_t clock_period_fs();

}  // namespace harness
