// Puts QEMU's q35 chipset where the platform's earlier firmware would leave it for the module
// (PM I/O base, memory-mapped configuration, boot straps, CMOS), and reports its state afterwards.
#pragma once

#include <stdint.h>

#include "qemu/CommandLine.h"

namespace harness {

// The fixed places the module relies on.
constexpr uint16_t kPmBase = 0x400;
constexpr uint16_t kPmTimerPort = kPmBase + 0x08;
constexpr uint32_t kPmTimerMask = 0xFFFFFF;
constexpr uint32_t kPciExpressBase = 0xE0000000;

// Moves the configuration window and the PM I/O block, sets the straps and the CMOS byte the
// options ask for, and logs every value read back. Fails the run when the chipset does not follow.
void prepare_platform(const Options& options);

// Logs BIOS_CNTL (through both configuration mechanisms), GCS and CMOS 0x6E as the run left them.
void report_platform();

// The 24-bit ACPI PM timer.
uint32_t pm_timer();

}  // namespace harness
