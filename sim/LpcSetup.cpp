// Building and wiring a simulated LPC flash part.
#include "sim/LpcSetup.h"

#include <memory>
#include <stdexcept>

#include "sim/devices/FwhFlashPart.h"
#include "sim/devices/JedecFlashPart.h"

namespace sim {

LpcFlashPart& install_lpc_part(Machine& machine, const LpcSetupOptions& options) {
  const LpcPartInfo* info = find_lpc_part(options.part);
  if (info == nullptr) {
    throw std::invalid_argument("unknown LPC part: " + options.part);
  }
  std::unique_ptr<LpcFlashPart> part;
  if (info->command_set == LpcCommandSet::Jedec) {
    auto jedec = std::make_unique<JedecFlashPart>(machine.platform(), *info, options.decode);
    for (const std::string& quirk : options.quirks) {
      if (quirk != "64k-sector-erase" || info->name != "39V040FPA") {
        throw std::invalid_argument("quirk " + quirk + " does not apply to " + options.part);
      }
      jedec->set_swapped_erase_units(true);
    }
    part = std::move(jedec);
  } else {
    if (!options.quirks.empty()) {
      throw std::invalid_argument("quirk " + options.quirks.front() + " does not apply to " + options.part);
    }
    part = std::make_unique<FwhFlashPart>(machine.platform(), *info, options.decode);
  }

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
