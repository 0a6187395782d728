// Flash descriptor layout: signature at 0, FLMAP0/1 pointing at the component, region and master
// sections (base fields in 16-byte units).
#include "sim/devices/SpiFlashDescriptor.h"

#include <algorithm>

namespace sim {

namespace {
constexpr std::uint32_t kComponentBase = 0x30;
constexpr std::uint32_t kRegionBase = 0x40;
constexpr std::uint32_t kMasterBase = 0x60;
constexpr std::uint32_t kUnusedRegion = 0x00001FFF;  // base above limit

void put32(std::vector<std::uint8_t>& image, std::uint32_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; i++) image[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t region_value(std::uint32_t first, std::uint32_t last) {
  return (first >> 12) | ((last >> 12) << 16);
}

std::uint32_t density_code(std::uint32_t bytes) {
  std::uint32_t code = 0;
  while ((std::uint32_t{512 * 1024} << code) < bytes && code < 5) code++;
  return code;
}
}  // namespace

void SpiFlashDescriptor::write(std::vector<std::uint8_t>& image, std::uint32_t total_size,
                               const SpiDescriptorConfig& config) {
  std::fill(image.begin(), image.begin() + kSize, 0xFF);
  std::uint32_t nc = static_cast<std::uint32_t>(std::clamp<int>(config.components, 1, 4) - 1);
  put32(image, 0x00, kSignature);
  // FLMAP0: FCBA 7:0, NC 9:8, FRBA 23:16, NR 26:24.
  put32(image, 0x04, (kComponentBase >> 4) | (nc << 8) | ((kRegionBase >> 4) << 16) | (4u << 24));
  // FLMAP1: FMBA 7:0, NM 10:8.
  put32(image, 0x08, (kMasterBase >> 4) | (2u << 8));
  put32(image, 0x0C, 0);
  std::uint32_t per_component = total_size / (nc + 1);
  std::uint32_t density = density_code(per_component);
  put32(image, kComponentBase, density | (nc != 0 ? density << 3 : 0));
  std::uint32_t bios = config.bios_region != 0 ? config.bios_region : region_value(kSize, total_size - 1);
  std::uint32_t bios_base = (bios & 0x1FFF) << 12;
  put32(image, kRegionBase + 0, region_value(0, kSize - 1));
  put32(image, kRegionBase + 4, bios);
  // Whatever lies between the descriptor and the BIOS region belongs to the management engine.
  put32(image, kRegionBase + 8, bios_base > kSize ? region_value(kSize, bios_base - 1) : kUnusedRegion);
  put32(image, kRegionBase + 12, kUnusedRegion);
  put32(image, kRegionBase + 16, kUnusedRegion);
  put32(image, kMasterBase + 0, config.flmstr1);
  put32(image, kMasterBase + 4, 0x0C0D0000);  // management engine master
  put32(image, kMasterBase + 8, 0x08080000);  // network master
}

void SpiFlashDescriptor::load(const std::vector<std::uint8_t>& component0) {
  std::fill(bytes_.begin(), bytes_.end(), 0xFF);
  std::copy_n(component0.begin(), std::min<std::size_t>(kSize, component0.size()), bytes_.begin());
  valid_ = word_at(0) == kSignature;
}

std::uint32_t SpiFlashDescriptor::word_at(std::uint32_t offset) const {
  if (offset + 4 > kSize) return 0xFFFFFFFF;
  return std::uint32_t{bytes_[offset]} | (std::uint32_t{bytes_[offset + 1]} << 8) |
         (std::uint32_t{bytes_[offset + 2]} << 16) | (std::uint32_t{bytes_[offset + 3]} << 24);
}

std::uint32_t SpiFlashDescriptor::dword(unsigned section, unsigned index) const {
  if (!valid_) return 0;
  std::uint32_t map0 = word_at(4), map1 = word_at(8);
  std::uint32_t base = 0;
  switch (section) {
    case 0:
      base = 0;
      break;
    case 1:
      base = (map0 & 0xFF) << 4;
      break;
    case 2:
      base = ((map0 >> 16) & 0xFF) << 4;
      break;
    case 3:
      base = (map1 & 0xFF) << 4;
      break;
    default:
      return 0;
  }
  return word_at(base + 4 * index);
}

int SpiFlashDescriptor::region_of(std::uint32_t address) const {
  for (int r = 0; r < kRegions; r++) {
    std::uint32_t v = region(r);
    std::uint32_t first = (v & 0x1FFF) << 12;
    std::uint32_t last = (((v >> 16) & 0x1FFF) << 12) | 0xFFF;
    if (first <= last && address >= first && address <= last) return r;
  }
  return -1;
}

}  // namespace sim
