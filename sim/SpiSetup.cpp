// Building an SPI flash configuration on a machine.
#include "sim/SpiSetup.h"

#include <algorithm>
#include <stdexcept>

#include "sim/devices/PartVariants.h"
#include "sim/devices/SpiPartCatalog.h"

namespace sim {

std::vector<std::uint8_t> spi_fill_pattern(std::uint32_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> v(size);
  std::uint32_t x = seed * 2654435761u + 0x9E3779B9u;
  for (auto& b : v) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return v;
}

std::uint32_t SpiFlashSystem::total_size() const {
  std::uint32_t n = 0;
  for (const auto& p : parts_) n += p->size();
  return n;
}

std::vector<std::uint8_t> SpiFlashSystem::image() const {
  std::vector<std::uint8_t> v;
  for (const auto& p : parts_) v.insert(v.end(), p->array().begin(), p->array().end());
  return v;
}

void SpiFlashSystem::set_image(const std::vector<std::uint8_t>& image) {
  std::size_t offset = 0;
  for (auto& p : parts_) {
    std::size_t n = std::min<std::size_t>(p->size(), image.size() > offset ? image.size() - offset : 0);
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), n, p->array().begin());
    offset += p->size();
  }
}

std::uint64_t SpiFlashSystem::refusals(SpiRefusal cause) const {
  std::uint64_t n = 0;
  for (const auto& p : parts_) n += p->counters().refused(cause);
  return n;
}

SpiFlashSystem& install_spi_flash(Machine& machine, const SpiSetupConfig& config) {
  const SpiPartTraits* found = find_spi_part(config.part);
  if (found == nullptr) throw std::invalid_argument("unknown SPI part: " + config.part);
  if (config.components < 1 || config.components > 2)
    throw std::invalid_argument("SPI components must be 1 or 2");
  SpiPartTraits traits = *found;
  if (!config.variant.empty()) apply_spi_variant(traits, config.variant);

  auto system = std::make_unique<SpiFlashSystem>();
  std::vector<SpiFlashPart*> raw;
  for (int i = 0; i < config.components; i++) {
    system->parts_.push_back(std::make_unique<SpiFlashPart>(traits));
    system->parts_.back()->set_interruption_seed(config.interruption_seed + static_cast<std::uint64_t>(i));
    raw.push_back(system->parts_.back().get());
  }
  if (!config.erased) {
    std::uint32_t total = system->total_size();
    std::vector<std::uint8_t> image =
        config.image.empty() ? spi_fill_pattern(total, config.fill_seed) : config.image;
    image.resize(total, 0xFF);
    if (config.descriptor) {
      SpiDescriptorConfig d = config.descriptor_config;
      d.components = static_cast<std::uint8_t>(config.components);
      SpiFlashDescriptor::write(image, total, d);
    }
    system->set_image(image);
  }
  for (SpiFlashPart* p : raw) {
    if (config.protection == SpiProtectionStart::Cleared) p->clear_protection();
  }

  Platform& platform = machine.platform();
  system->controller_ = std::make_unique<SpiHostController>(platform, machine.lpc(), raw, config.controller);
  system->window_ = std::make_unique<SpiBiosWindow>(raw);
  machine.map_chipset_window(SpiHostController::kWindowOffset, SpiHostController::kWindowSize,
                             system->controller_.get(), platform.costs().chipset_register);
  platform.map_mem(system->window_->base(), system->window_->window_size(), system->window_.get(),
                   platform.costs().flash_window);

  SpiFlashSystem& ref = machine.own(std::move(system));
  platform.on_power_cycle([&ref, &platform] {
    // The clock stands where power was lost: a part still busy then is left half done.
    for (std::size_t i = 0; i < ref.component_count(); i++) ref.part(i).power_on(platform.now());
    ref.controller().power_on();
  });
  return ref;
}

}  // namespace sim
