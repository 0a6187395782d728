// Building and wiring a simulated LPC flash part.
#include "sim/LpcSetup.h"

#include <memory>
#include <stdexcept>

#include "sim/devices/FwhFlashPart.h"
#include "sim/devices/JedecFlashPart.h"
#include "sim/devices/PartVariants.h"

namespace sim {

LpcFlashPart& install_lpc_part(Machine& machine, const LpcSetupOptions& options) {
  const LpcPartInfo* info = find_lpc_part(options.part);
  if (info == nullptr) {
    throw std::invalid_argument("unknown LPC part: " + options.part);
  }
  std::unique_ptr<LpcFlashPart> part;
  if (info->command_set == LpcCommandSet::Jedec) {
    part = std::make_unique<JedecFlashPart>(machine.platform(), *info, options.decode);
  } else {
    part = std::make_unique<FwhFlashPart>(machine.platform(), *info, options.decode);
  }
  if (!options.variant.empty()) apply_lpc_variant(*part, options.variant);
  part->set_interruption_seed(options.interruption_seed);

  LpcFlashPart& installed = machine.own(std::move(part));
  bool locked = options.protection == LpcProtection::PowerOn && info->locked_at_power_on;
  installed.set_power_on_lock(locked ? LpcFlashPart::kWriteLock : 0);
  installed.set_write_gate([&machine] { return machine.lpc().bios_write_enabled(); });
  if (options.stuck_busy) {
    installed.inject_stuck_busy();
  }
  installed.power_on();
  machine.platform().map_mem(LpcFlashPart::kWindowBase, LpcFlashPart::kWindowSize, &installed,
                             machine.platform().costs().flash_window);
  machine.platform().on_power_cycle([&installed] { installed.power_on(); });
  return installed;
}

}  // namespace sim
