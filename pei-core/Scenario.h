// The four runs the harness can stage, chosen by the fw_cfg file opt/flash-recovery/scenario.
#pragma once

#include <stdint.h>

namespace harness {

enum class Scenario : uint8_t {
  NoRecoveryPpi,  // boot in recovery mode with a speaker, but nothing offers a capsule
  ShortCapsule,   // the capsule on offer is reported one byte short of 2 MiB
  LoadFails,      // a 2 MiB capsule whose load fails with a device error
  NormalBoot,     // everything above except the boot-in-recovery-mode PPI
};

}  // namespace harness
