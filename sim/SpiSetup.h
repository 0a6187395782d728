// Installs an SPI flash configuration on a simulated machine: the part(s), the host controller at
// RCBA + 0x3800, the flash descriptor (or none), the initial protection state, and the direct-read
// window below 4 GiB.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/Machine.h"
#include "sim/devices/SpiBiosWindow.h"
#include "sim/devices/SpiFlashDescriptor.h"
#include "sim/devices/SpiFlashPart.h"
#include "sim/devices/SpiHostController.h"

namespace sim {

enum class SpiProtectionStart {
  PowerOn,  // each part as its datasheet says it powers up (SST and Atmel protected)
  Cleared,  // earlier firmware left every protection off
};

struct SpiSetupConfig {
  std::string part = "25X16";  // a name from the catalogue (sim/devices/SpiPartCatalog.h)
  std::string variant;         // a named variant of the part (sim/devices/PartVariants.h); empty: none
  int components = 1;          // 1 or 2 identical parts; the second is reached only with a descriptor
  bool descriptor = false;     // a valid flash descriptor at the bottom of component 0
  SpiDescriptorConfig descriptor_config;  // its components field is taken from `components`
  SpiProtectionStart protection = SpiProtectionStart::PowerOn;
  SpiControllerOptions controller;
  // Initial contents of the whole linear flash (component 0 then 1). Empty: a deterministic
  // pattern derived from `fill_seed`, so that untouched bytes are recognisable.
  std::vector<std::uint8_t> image;
  std::uint32_t fill_seed = 1;
  // The parts start erased (all FFh), without `image`, the pattern or a descriptor: for a caller
  // that loads its own contents afterwards (and then powers the controller on to read them).
  bool erased = false;
  // Chooses which bits an erase, program or status write cut by a power loss leaves old or new.
  std::uint64_t interruption_seed = InterruptedWrite::kDefaultSeed;
};

class SpiFlashSystem {
 public:
  SpiFlashPart& part(std::size_t i = 0) { return *parts_.at(i); }
  std::size_t component_count() const { return parts_.size(); }
  SpiHostController& controller() { return *controller_; }
  SpiBiosWindow& window() { return *window_; }
  std::uint32_t total_size() const;
  // The linear flash contents, component 0 followed by component 1.
  std::vector<std::uint8_t> image() const;
  void set_image(const std::vector<std::uint8_t>& image);
  // Sum of refusals of one cause over all components.
  std::uint64_t refusals(SpiRefusal cause) const;

 private:
  friend SpiFlashSystem& install_spi_flash(Machine& machine, const SpiSetupConfig& config);
  std::vector<std::unique_ptr<SpiFlashPart>> parts_;
  std::unique_ptr<SpiHostController> controller_;
  std::unique_ptr<SpiBiosWindow> window_;
};

// Throws std::invalid_argument for an unknown part or variant, or a component count other than 1-2.
SpiFlashSystem& install_spi_flash(Machine& machine, const SpiSetupConfig& config = {});

// The deterministic fill pattern used when no image is given.
std::vector<std::uint8_t> spi_fill_pattern(std::uint32_t size, std::uint32_t seed);

}  // namespace sim
