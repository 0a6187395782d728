// Protected-mode tables that let the module run at user privilege: flat code and data segments for
// both levels, a task-state segment whose I/O permission bitmap traps exactly the embedded
// controller's ports, and an interrupt table that routes faults and the module's return to the
// harness.
#pragma once

#include <stdint.h>

namespace harness {

constexpr uint16_t kKernelCode = 0x08;
constexpr uint16_t kKernelData = 0x10;
constexpr uint16_t kUserCode = 0x18 | 3;
constexpr uint16_t kUserData = 0x20 | 3;
constexpr uint16_t kTaskState = 0x28;
constexpr uint8_t kReturnVector = 0x80;  // the module's return path: "int $0x80" with the status in EAX

// Loads the tables. Traps from user privilege run on the stack ending at kernel_stack_top. Every
// port for which trapped_port() holds raises #GP at user privilege; all others go to the hardware.
void cpu_tables_init(uint32_t kernel_stack_top, bool (*trapped_port)(uint16_t));

}  // namespace harness

extern "C" {
// Boot.S: leave for user privilege at entry with the given stack; never returns.
[[noreturn]] void enter_user_mode(uint32_t entry, uint32_t user_stack);
// Boot.S: where RecoveryEntry returns to; raises the return vector.
void user_return_stub();
}
