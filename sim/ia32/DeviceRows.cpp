// Device rows in the loaded image. In the i386 layout of a row the Id is at byte 0, the vendor and
// part names at bytes 5 and 37 (32 bytes each), the reserved bytes FF FF 00 at 74 and the
// operations pointer at 80; Probe is the second operation.
#include "sim/ia32/DeviceRows.h"

#include <cstring>

namespace sim::ia32 {

namespace {

constexpr std::uint32_t kVendorAt = 5, kPartAt = 37, kNameBytes = 32, kReservedAt = 74, kOpsAt = 80;
constexpr std::uint32_t kRowBytes = 84, kProbeSlot = 4;

std::uint32_t load32(std::span<const std::uint8_t> bytes, std::uint32_t at) {
  std::uint32_t v;
  std::memcpy(&v, bytes.data() + at, 4);
  return v;
}

// A non-empty printable string ending inside its field.
std::optional<std::string> name_at(std::span<const std::uint8_t> bytes, std::uint32_t at) {
  std::string s;
  for (std::uint32_t i = 0; i < kNameBytes; i++) {
    const std::uint8_t c = bytes[at + i];
    if (c == 0) {
      return s.empty() ? std::nullopt : std::optional<std::string>(s);
    }
    if (c < 0x20 || c > 0x7E) {
      return std::nullopt;
    }
    s.push_back(static_cast<char>(c));
  }
  return std::nullopt;
}

}  // namespace

std::vector<DeviceRow> find_device_rows(const Pe32Image& image, std::span<const std::uint8_t> placed,
                                        std::uint32_t base) {
  auto executable = [&](std::uint32_t address) {
    for (const ImageSection& s : image.sections()) {
      if (s.executable && address >= base + s.rva && address - (base + s.rva) < s.size) {
        return true;
      }
    }
    return false;
  };
  std::vector<DeviceRow> rows;
  for (std::uint32_t at = 0; at + kRowBytes <= placed.size(); at += 4) {
    if (placed[at + kReservedAt] != 0xFF || placed[at + kReservedAt + 1] != 0xFF ||
        placed[at + kReservedAt + 2] != 0x00) {
      continue;
    }
    const std::uint32_t ops = load32(placed, at + kOpsAt) - base;
    if (ops > placed.size() - 8) {
      continue;
    }
    const std::uint32_t probe = load32(placed, ops + kProbeSlot);
    std::optional<std::string> vendor = name_at(placed, at + kVendorAt), part = name_at(placed, at + kPartAt);
    if (vendor && part && executable(probe)) {
      rows.push_back({base + at, load32(placed, at), probe, *vendor, *part});
    }
  }
  return rows;
}

std::optional<DeviceRow> probed_row(const std::vector<DeviceRow>& rows, std::uint32_t probe,
                                    std::uint32_t argument) {
  for (const DeviceRow& r : rows) {
    if (r.probe == probe && r.address == argument) {
      return r;
    }
  }
  for (const DeviceRow& r : rows) {
    if (r.probe == probe && r.id == argument) {
      return r;
    }
  }
  return std::nullopt;
}

}  // namespace sim::ia32
