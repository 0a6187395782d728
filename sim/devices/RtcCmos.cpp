// RTC CMOS index/data access.
#include "sim/devices/RtcCmos.h"

namespace sim {

std::uint32_t RtcCmos::io_read(std::uint16_t port, Width) {
  if (port == 0x71) {
    reads_[index_]++;
    return bytes_[index_];
  }
  return 0xFF;  // the index register is write-only
}

void RtcCmos::io_write(std::uint16_t port, Width, std::uint32_t value) {
  if (port == 0x70) {
    index_ = static_cast<std::uint8_t>(value & 0x7F);
  } else {
    bytes_[index_] = static_cast<std::uint8_t>(value);
  }
}

}  // namespace sim
