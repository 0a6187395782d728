// Installs a simulated LPC flash part on a machine: which of the seven parts, how it decodes in
// the window below 4 GiB, whether earlier firmware left its block locks set, and injected faults.
#pragma once

#include <cstdint>
#include <string>

#include "sim/Machine.h"
#include "sim/devices/LpcFlashPart.h"

namespace sim {

enum class LpcProtection {
  PowerOn,  // every lock as the part powers up (firmware-hub style block locks set)
  Cleared,  // the firmware that runs before the recovery clears every block lock at each boot
};

struct LpcSetupOptions {
  std::string part = "49LF008A";  // a name from the LPC part catalog, case ignored
  LpcDecode decode = LpcDecode::Aliased;
  LpcProtection protection = LpcProtection::PowerOn;
  bool stuck_busy = false;  // every program and erase stays busy for ever
  std::string variant;      // a named variant of the part (sim/devices/PartVariants.h); empty: none
  // Chooses which bits a program or erase cut by a power loss leaves old or new.
  std::uint64_t interruption_seed = InterruptedWrite::kDefaultSeed;
};

// Maps the part over 0xFF800000-0xFFFFFFFF (the chipset's LPC firmware decode), gates its writes
// with the LPC bridge's BIOS_CNTL.BIOSWE, returns it to its power-on state at every power cycle,
// and keeps it alive with the machine. The array starts erased (all FFh). Throws
// std::invalid_argument for an unknown part or variant. The boot straps are left as they are.
LpcFlashPart& install_lpc_part(Machine& machine, const LpcSetupOptions& options);

}  // namespace sim
