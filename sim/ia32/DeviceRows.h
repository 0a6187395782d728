// The flash device rows of a loaded image, found by their shape (two names, the fixed reserved
// bytes, an operations pointer into the image) so that no symbols are needed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/ia32/Pe32Loader.h"

namespace sim::ia32 {

struct DeviceRow {
  std::uint32_t address = 0;  // where the row lies in emulated memory
  std::uint32_t id = 0;
  std::uint32_t probe = 0;  // entry of the row's Probe operation
  std::string vendor, part;
};

// Every row of both tables in `placed` (the image as loaded at `base`).
std::vector<DeviceRow> find_device_rows(const Pe32Image& image, std::span<const std::uint8_t> placed,
                                        std::uint32_t base);

// The row a call of the Probe at `probe` with `argument` is about: SPI probes take their row's
// address, LPC probes the row's Id.
std::optional<DeviceRow> probed_row(const std::vector<DeviceRow>& rows, std::uint32_t probe,
                                    std::uint32_t argument);

}  // namespace sim::ia32
