// Reads a named file from QEMU's firmware configuration device, which the test's command line
// fills (-fw_cfg name=...,string=...): how a run chooses its scenario without rebuilding anything.
#pragma once

#include <stdint.h>

namespace harness {

// Copies up to capacity - 1 bytes of the file and a NUL into text. False when there is no such file.
bool read_fw_cfg_file(const char* name, char* text, uint32_t capacity);

}  // namespace harness
