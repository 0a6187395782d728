// Wiring of the simulated PC.
#include "sim/Machine.h"

#include "recovery/ModuleReset.h"

namespace sim {

namespace {
LpcBridgeConfig bridge_config(const MachineConfig& c) {
  LpcBridgeConfig b;
  b.pmbase = c.pmbase;
  b.rcba = c.rcba;
  return b;
}
AcpiPmConfig pm_config(const MachineConfig& c) {
  AcpiPmConfig p;
  p.pm1_cnt = c.pm1_cnt_low;
  p.timer_start = c.pm_timer_start;
  return p;
}
}  // namespace

Machine::Machine(const MachineConfig& config)
    : config_(config),
      pm_(platform_, pm_config(config)),
      post_(platform_),
      lpc_(bridge_config(config)),
      chipset_(config.boot_straps),
      ec_(platform_, config.ec) {
  const AccessCosts& costs = platform_.costs();
  pci_.attach(platform_, costs.io_port, costs.chipset_register);
  pci_.add_function(0, 31, 0, &lpc_);
  platform_.map_io(0x70, 2, &cmos_, costs.io_port);
  platform_.map_io(0x80, 1, &post_, costs.io_port);
  cmos_.set(0x6E, config.cmos_6e);
  ec_.attach();
  chipset_region_ =
      platform_.map_mem(lpc_.rcba(), ChipsetRegisters::kSize, &chipset_, costs.chipset_register);
  chipset_.set_base(lpc_.rcba());
  follow_pm_decode();
  lpc_.on_pm_decode_change = [this] { follow_pm_decode(); };
  lpc_.on_rcba_change = [this] { follow_rcba(); };

  platform_.on_power_cycle([this] {
    pci_.power_on();
    lpc_.power_on();
    follow_rcba();
    follow_pm_decode();
    pm_.power_on();
    cmos_.power_on();
    chipset_.power_on();
    ec_.power_on();
  });
}

void Machine::follow_pm_decode() { pm_.decode_at(lpc_.pmbase(), lpc_.acpi_enabled()); }

void Machine::follow_rcba() {
  std::uint32_t base = lpc_.rcba();
  platform_.move_mem(chipset_region_, base);
  chipset_.set_base(base);
  for (const auto& w : chipset_windows_) {
    platform_.move_mem(w.region, base + w.offset);
  }
}

void Machine::map_chipset_window(std::uint32_t offset, std::uint32_t size, MemHandler* handler, Nanos cost) {
  int region = platform_.map_mem(lpc_.rcba() + offset, size, handler, cost);
  chipset_windows_.push_back(ChipsetWindow{region, offset});
}

Outcome Machine::run(const std::function<EFI_STATUS()>& body) {
  RecoveryModuleReset();
  return platform_.run(body);
}

}  // namespace sim
