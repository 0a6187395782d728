// POST-code log.
#include "sim/devices/PostPort.h"

#include "sim/Platform.h"

namespace sim {

std::uint32_t PostPort::io_read(std::uint16_t, Width w) {
  // The diagnostic latch is write-only on this platform.
  return all_ones(w);
}

void PostPort::io_write(std::uint16_t, Width w, std::uint32_t value) {
  if (w != Width::Byte) {
    wide_writes_++;
    return;
  }
  codes_.push_back(static_cast<std::uint8_t>(value));
  times_.push_back(platform_.now());
  if (on_write) {
    on_write(static_cast<std::uint8_t>(value));
  }
}

}  // namespace sim
