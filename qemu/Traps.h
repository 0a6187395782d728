// What the harness does when the module traps: serve a trapped port access from the embedded-
// controller model, take the module's return, or stop the run on any other fault.
#pragma once

#include <stdint.h>

namespace harness {

// The registers as the trap entry stub leaves them (pusha order, then vector and error code, then
// the processor's frame; user_esp and user_ss only when the trap came from user privilege).
struct TrapFrame {
  uint32_t edi, esi, ebp, esp_unused, ebx, edx, ecx, eax;
  uint32_t vector, error_code;
  uint32_t eip, cs, eflags;
  uint32_t user_esp, user_ss;
};

// A decoded in/out instruction.
struct PortInstruction {
  bool write;
  uint16_t port;
  uint32_t width;   // 8, 16 or 32
  uint32_t length;  // bytes, to step over it
};

// Decodes in/out with an 8-bit immediate port or the port in DX, with an optional operand-size
// prefix. FALSE for anything else (string I/O included).
bool decode_port_instruction(const uint8_t* code, uint32_t edx, PortInstruction* decoded);

}  // namespace harness

extern "C" void trap_dispatch(harness::TrapFrame* frame);
