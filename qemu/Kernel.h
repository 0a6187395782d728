// The harness's run of the module: where the image lies, and the two ways a run ends.
#pragma once

#include <stdint.h>

namespace harness {

struct ModuleImage {
  uint32_t base;
  uint32_t size;
};

// The loaded image (zero before it is loaded), for fault reports.
const ModuleImage& module_image();

// The module returned to its caller with this status.
[[noreturn]] void finish_returned(uint32_t status);

// The module sent the embedded controller its final command; it would now spin forever.
[[noreturn]] void finish_final_command();

}  // namespace harness
