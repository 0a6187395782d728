// The SPI rehearsal platform: the chosen part (one or two components) behind the chipset's SPI
// host controller, with or without a flash descriptor.
#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "sim/SpiSetup.h"
#include "tools/recovery-sim/Expectation.h"
#include "tools/recovery-sim/FlashRig.h"
#include "tools/recovery-sim/Report.h"

namespace rsim {

namespace {

// The BIOS master may read and write the descriptor and BIOS regions.
constexpr std::uint32_t kDefaultFlmstr1 = 0x03030000;

class SpiRig : public FlashRig {
 public:
  SpiRig(sim::Machine& machine, const PartEntry& part, const Options& o) {
    sim::SpiSetupConfig c;
    c.part = part.name;
    c.variant = o.variant;
    c.components = o.components;
    c.descriptor = o.descriptor;
    c.descriptor_config.flmstr1 = o.flmstr1.value_or(kDefaultFlmstr1);
    c.descriptor_config.bios_region = o.bfpr.value_or(0);
    c.erased = true;  // the rehearsal loads its own contents
    c.protection = o.initial_protection == "cleared" ? sim::SpiProtectionStart::Cleared
                                                     : sim::SpiProtectionStart::PowerOn;
    if (o.components == 2 && !o.descriptor) {
      throw std::invalid_argument(
          "--components 2 needs --descriptor valid: without one the chipset reaches one part");
    }
    c.interruption_seed = o.seed;
    system_ = &sim::install_spi_flash(machine, c);
    if (c.protection == sim::SpiProtectionStart::Cleared) {
      // The firmware that runs before the module clears the protection at every start, so it does
      // again when power comes back after a cut.
      machine.platform().on_power_cycle([system = system_] {
        for (std::size_t i = 0; i < system->component_count(); i++) system->part(i).clear_protection();
      });
    }
    config_ = c;
    for (const auto& f : o.faults) {
      if (f.kind == FaultKind::SpiCycleError) {
        system_->controller().inject_cycle_error(f.n);
      } else if (f.kind == FaultKind::ChipStuckBusy) {
        for (std::size_t i = 0; i < system_->component_count(); i++) {
          system_->part(i).inject_stuck_busy();
        }
      }
    }
  }

  void on_change(std::function<void(const FlashChange&)> listener) override {
    std::uint64_t base = 0;
    for (std::size_t i = 0; i < system_->component_count(); i++) {
      system_->part(i).set_change_observer([listener, base, i](const sim::SpiArrayChange& c) {
        listener(FlashChange{static_cast<FlashChange::Kind>(c.kind), c.time, c.done, base + c.offset,
                             c.length, c.torn, i});
      });
      base += system_->part(i).size();
    }
  }
  std::uint8_t byte(std::uint64_t offset) const override {
    std::size_t i = 0;
    while (offset >= system_->part(i).size()) offset -= system_->part(i++).size();
    return system_->part(i).array()[offset];
  }

  std::uint64_t size() const override { return system_->total_size(); }
  std::vector<std::uint8_t> contents() const override { return system_->image(); }
  std::vector<std::uint8_t> load(std::vector<std::uint8_t> image, bool write_descriptor) override {
    if (write_descriptor && config_.descriptor) {
      sim::SpiDescriptorConfig d = config_.descriptor_config;
      d.components = static_cast<std::uint8_t>(config_.components);
      sim::SpiFlashDescriptor::write(image, system_->total_size(), d);
    } else if (write_descriptor) {
      // No descriptor: the first 4 KiB as an erased part holds them.
      std::fill_n(image.begin(), std::min<std::size_t>(image.size(), 0x1000), 0xFF);
    }
    system_->set_image(image);
    // The chipset reads the descriptor at power-on: let the controller read the loaded one. (A
    // whole power cycle would also return the parts to their power-on protection.)
    system_->controller().power_on();
    return image;
  }

  std::vector<std::uint8_t> expected(std::vector<std::uint8_t> before,
                                     const std::uint8_t* capsule) const override {
    std::uint64_t low = 0, high = before.size() - 1;
    const sim::SpiFlashDescriptor& d = system_->controller().descriptor();
    if (d.valid() && (d.flmstr1() & 0x0F000000) == 0) {
      // Without write grants in the master section, the BIOS region bounds what the BIOS writes.
      std::uint32_t bfpr = d.region(1);
      std::uint64_t base = std::uint64_t{bfpr & 0xFFF} << 12,
                    limit = std::uint64_t{(bfpr >> 16) & 0xFFF} << 12;
      if (base < limit) {
        low = base;
        high = limit | 0xFFF;
      }
    }
    return expected_spi(std::move(before), capsule, low, high);
  }

  std::string where(std::uint64_t offset) const override {
    std::uint32_t memory = static_cast<std::uint32_t>(offset + 0x100000000ull - size());
    char buf[64];
    std::snprintf(buf, sizeof buf, "linear 0x%06llX (memory 0x%08X)", static_cast<unsigned long long>(offset),
                  memory);
    return buf;
  }

  void name_devices(TraceDevices& devices) const override {
    devices.add("spi", nullptr, &system_->controller());
    devices.add("flash", nullptr, &system_->window());
  }

  std::map<std::string, std::uint64_t> refusals() const override {
    std::map<std::string, std::uint64_t> r;
    for (std::size_t i = 0; i < static_cast<std::size_t>(sim::SpiRefusal::kCount); i++) {
      auto cause = static_cast<sim::SpiRefusal>(i);
      r[sim::refusal_name(cause)] = system_->refusals(cause);
    }
    const auto& blocked = system_->controller().counters();
    for (std::size_t i = 0; i < static_cast<std::size_t>(sim::SpiBlock::kCount); i++) {
      auto why = static_cast<sim::SpiBlock>(i);
      r[std::string("controller-") + sim::block_name(why)] = blocked.blocked_by(why);
    }
    return r;
  }

  std::map<std::string, std::uint64_t> work() const override {
    std::map<std::string, std::uint64_t> w;
    const auto& c = system_->controller().counters();
    w["software_cycles"] = c.sw_cycles;
    w["hardware_cycles"] = c.hw_cycles;
    w["bus_commands"] = c.commands;
    for (std::size_t i = 0; i < system_->component_count(); i++) {
      const auto& p = system_->part(i).counters();
      w["erases"] += p.erases;
      w["erased_bytes"] += p.erased_bytes;
      w["programs"] += p.programs;
      w["programmed_bytes"] += p.programmed_bytes;
      w["status_writes"] += p.status_writes;
      w["part_busy_us"] += p.busy_time / 1000;
    }
    return w;
  }

  std::map<std::string, std::string> chipset_registers() const override {
    const auto& c = system_->controller();
    std::uint64_t opmenu = std::uint64_t{c.reg32(0x9C)} << 32 | c.reg32(0x98);
    return {
        {"LVSCC",             hex(c.reg32(0xC4))},
        {        "UVSCC", hex(c.reg32(0xC8))                  },
        { "OPTYPE",                 hex(c.reg16(0x96),                                   4)},
        {  "PREOP",                 hex(c.reg16(0x94),                                   4)},
        { "OPMENU",                hex(opmenu,                                  16)},
        {   "HSFS",                 hex(c.reg16(0x04),                                   4)}
    };
  }

 private:
  sim::SpiFlashSystem* system_ = nullptr;
  sim::SpiSetupConfig config_;
};

}  // namespace

std::unique_ptr<FlashRig> make_spi_rig(sim::Machine& machine, const PartEntry& part, const Options& options) {
  return std::make_unique<SpiRig>(machine, part, options);
}

}  // namespace rsim
