// Trap dispatch: port accesses for the embedded-controller model, the module's return, faults.
#include "qemu/Traps.h"

#include "qemu/Console.h"
#include "qemu/CpuTables.h"
#include "qemu/EcModel.h"
#include "qemu/Kernel.h"
#include "qemu/Watchdog.h"

namespace harness {

namespace {

constexpr uint32_t kGeneralProtection = 13;
constexpr uint8_t kOperandSizePrefix = 0x66;

void report_fault(const TrapFrame* frame) {
  bool from_user = (frame->cs & 3) == 3;
  const ModuleImage& image = module_image();
  if (frame->eip >= image.base && frame->eip - image.base < image.size) {
    fail("fault: vector %u, error code 0x%x, at image rva 0x%x (eip 0x%08x, %s privilege)", frame->vector,
         frame->error_code, frame->eip - image.base, frame->eip, from_user ? "user" : "kernel");
  }
  fail("fault: vector %u, error code 0x%x, at eip 0x%08x (%s privilege)", frame->vector, frame->error_code,
       frame->eip, from_user ? "user" : "kernel");
}

// A wide access traps when any of its bytes is a trapped port; the model then refuses it, as the
// controller's byte ports would.
bool reaches_trapped_port(const PortInstruction& io) {
  for (uint32_t byte = 0; byte < io.width / 8; byte++) {
    if (ec_port(static_cast<uint16_t>(io.port + byte))) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool decode_port_instruction(const uint8_t* code, uint32_t edx, PortInstruction* decoded) {
  uint32_t length = 0;
  bool operand_16 = false;
  if (code[0] == kOperandSizePrefix) {
    operand_16 = true;
    length = 1;
  }
  uint8_t opcode = code[length++];
  uint32_t wide = operand_16 ? 16 : 32;
  switch (opcode) {
    case 0xE4:  // in al, imm8
    case 0xE5:  // in ax/eax, imm8
    case 0xE6:  // out imm8, al
    case 0xE7:  // out imm8, ax/eax
      decoded->port = code[length++];
      break;
    case 0xEC:  // in al, dx
    case 0xED:  // in ax/eax, dx
    case 0xEE:  // out dx, al
    case 0xEF:  // out dx, ax/eax
      decoded->port = static_cast<uint16_t>(edx);
      break;
    default:
      return false;
  }
  decoded->write = (opcode & 0x02) != 0;
  decoded->width = (opcode & 0x01) != 0 ? wide : 8;
  decoded->length = length;
  return true;
}

}  // namespace harness

using namespace harness;

extern "C" void trap_dispatch(TrapFrame* frame) {
  bool from_user = (frame->cs & 3) == 3;
  if (from_user && frame->vector == kReturnVector) {
    finish_returned(frame->eax);
  }
  if (frame->vector == kTimerVector) {
    watchdog_tick(frame->eip);
    return;
  }
  // The I/O permission bitmap raises #GP with error code 0 for the trapped ports. Anything else is
  // a fault of the module (or of the harness).
  PortInstruction io;
  if (!from_user || frame->vector != kGeneralProtection || frame->error_code != 0 ||
      !decode_port_instruction(reinterpret_cast<const uint8_t*>(frame->eip), frame->edx, &io) ||
      !reaches_trapped_port(io)) {
    report_fault(frame);
  }
  if (io.write) {
    ec_write(io.port, io.width, frame->eax);
  } else {
    uint32_t value = ec_read(io.port, io.width);
    uint32_t keep = io.width == 32 ? 0 : io.width == 16 ? 0xFFFF0000u : 0xFFFFFF00u;
    frame->eax = (frame->eax & keep) | (value & ~keep);
  }
  frame->eip += io.length;
  if (ec_final_command_received()) {
    finish_final_command();
  }
}
