// One line of the harness's log on QEMU's debug port 0x402, built piece by piece and ended when the
// line object goes out of scope; and the debug exit port that ends the run.
#pragma once

#include <stdint.h>

namespace harness {

class LogLine {
 public:
  explicit LogLine(const char* text) { *this << text; }
  ~LogLine();
  LogLine(const LogLine&) = delete;
  LogLine& operator=(const LogLine&) = delete;

  LogLine& operator<<(const char* text);
  LogLine& operator<<(uint32_t decimal);
  LogLine& hex(uint32_t value);  // 0x and eight digits
};

// Ends QEMU (isa-debug-exit at 0xF4): its exit status is (code << 1) | 1.
[[noreturn]] void exit_qemu(uint8_t code);

}  // namespace harness
