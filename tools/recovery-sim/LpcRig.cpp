// The LPC rehearsal platform: one LPC or firmware-hub part decoded at the top of the 4 GiB space.
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "sim/LpcSetup.h"
#include "tools/recovery-sim/Expectation.h"
#include "tools/recovery-sim/FlashRig.h"
#include "tools/recovery-sim/Report.h"

namespace rsim {

namespace {

class LpcRig : public FlashRig {
 public:
  LpcRig(sim::Machine& machine, const PartEntry& part, const Options& o) {
    if (o.components != 1) {
      throw std::invalid_argument("--components applies to SPI parts only");
    }
    sim::LpcSetupOptions c;
    c.part = part.name;
    c.decode = o.decode == "top" ? sim::LpcDecode::TopOnly : sim::LpcDecode::Aliased;
    c.protection =
        o.initial_protection == "cleared" ? sim::LpcProtection::Cleared : sim::LpcProtection::PowerOn;
    c.variant = o.variant;
    for (const auto& f : o.faults) {
      c.stuck_busy = c.stuck_busy || f.kind == FaultKind::ChipStuckBusy;
      if (f.kind == FaultKind::SpiCycleError) {
        throw std::invalid_argument("fault spi-cycle-error needs an SPI part");
      }
    }
    c.interruption_seed = o.seed;
    part_ = &sim::install_lpc_part(machine, c);
    aliased_ = c.decode == sim::LpcDecode::Aliased;
  }

  void on_change(std::function<void(const FlashChange&)> listener) override {
    part_->set_change_observer([listener](const sim::LpcArrayChange& c) {
      listener(
          FlashChange{static_cast<FlashChange::Kind>(c.kind), c.time, c.done, c.offset, c.length, c.torn, 0});
    });
  }
  std::uint8_t byte(std::uint64_t offset) const override { return part_->array()[offset]; }

  std::uint64_t size() const override { return part_->array().size(); }
  std::vector<std::uint8_t> contents() const override { return part_->array(); }
  std::vector<std::uint8_t> load(std::vector<std::uint8_t> bytes, bool) override {
    part_->array() = bytes;
    return bytes;
  }

  std::vector<std::uint8_t> expected(std::vector<std::uint8_t> before,
                                     const std::uint8_t* capsule) const override {
    return expected_lpc(std::move(before), capsule, aliased_);
  }

  std::string where(std::uint64_t offset) const override {
    char buf[64];
    std::snprintf(buf, sizeof buf, "part offset 0x%06llX (memory 0x%08llX)",
                  static_cast<unsigned long long>(offset),
                  static_cast<unsigned long long>(0x100000000ull - size() + offset));
    return buf;
  }

  void name_devices(TraceDevices& devices) const override { devices.add("flash", nullptr, part_); }

  std::map<std::string, std::uint64_t> refusals() const override {
    std::map<std::string, std::uint64_t> r;
    for (std::size_t i = 0; i < sim::kLpcRefusalCauses; i++) {
      auto cause = static_cast<sim::LpcRefusal>(i);
      r[std::string(sim::refusal_name(cause))] = part_->refusals(cause);
    }
    return r;
  }

  std::map<std::string, std::uint64_t> work() const override {
    const auto& c = part_->counters();
    return {
        {"erases",           c.sector_erases + c.block_erases},
        {"erased_bytes",     c.erased_bytes                  },
        {"sector_erases",    c.sector_erases                 },
        {"block_erases",     c.block_erases                  },
        {"programmed_bytes", c.bytes_programmed              },
        {"part_busy_us",     c.busy_time / 1000              }
    };
  }

  std::map<std::string, std::string> chipset_registers() const override { return {}; }

 private:
  sim::LpcFlashPart* part_ = nullptr;
  bool aliased_ = true;
};

}  // namespace

std::unique_ptr<FlashRig> make_lpc_rig(sim::Machine& machine, const PartEntry& part, const Options& options) {
  return std::make_unique<LpcRig>(machine, part, options);
}

}  // namespace rsim
