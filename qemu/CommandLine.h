// What a scenario asks of the platform, from the kernel's command line (key=value words).
#pragma once

#include <stdint.h>

namespace harness {

struct Options {
  bool set_cmos_6e = false;  // cmos6e=N: the embedded-controller channel byte, written before the run
  uint8_t cmos_6e = 0;
  bool set_straps = false;  // straps=N: boot BIOS straps (GCS bits 11:10), 0 LPC, 3 SPI
  uint8_t straps = 0;
  // stall-wrap=1: hold the controller's answer to the last preparation command until the 3 s stall
  // that follows must cross a wrap of the 24-bit PM timer.
  bool stall_wrap = false;
};

// Parses the words "key=value" (numbers decimal or 0x-hexadecimal). Words without '=' (QEMU puts
// the kernel's file name first) are skipped. An unknown key or a bad value fails the run.
Options parse_command_line(const char* text);

}  // namespace harness
