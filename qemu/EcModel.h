// The embedded controller QEMU lacks, as the harness serves it from trapped port accesses: the
// ACPI-style pair 0x66/0x62, the keyboard-controller pair 0x64/0x60, and the register window
// 0xFF2D/0xFF2E/0xFF2F with its flash-mode register 0xF554 and control register 0xFF14.
// Written from the controller's side of the protocol; every command and register access is logged.
#pragma once

#include <stdint.h>

namespace harness {

// TRUE for the ports the model serves (the ones the I/O permission bitmap traps).
bool ec_port(uint16_t port);

// One trapped access of width 8, 16 or 32 bits at a port for which ec_port() holds. The controller's
// ports are byte ports: a wider access is refused and logged (reads then see all ones).
uint32_t ec_read(uint16_t port, uint32_t width);
void ec_write(uint16_t port, uint32_t width, uint32_t value);

// TRUE once the final command (0x59 0xF6) has arrived.
bool ec_final_command_received();

// Makes the model hold its acceptance of the last preparation byte (0x77) until the PM timer reads
// inside [low, high]. Used to place the stall that follows across a wrap of the timer.
void ec_hold_after_prepare(uint32_t pm_low, uint32_t pm_high);

// "ec: summary ..." with the counts of status reads and refused accesses.
void ec_report();

}  // namespace harness
