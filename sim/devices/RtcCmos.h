// The RTC's CMOS bytes behind the index (0x70) and data (0x71) ports. Bit 7 of the index gates
// NMI and is not part of the address.
#pragma once

#include <array>
#include <cstdint>

#include "sim/Bus.h"

namespace sim {

class RtcCmos : public IoHandler {
 public:
  std::uint32_t io_read(std::uint16_t port, Width w) override;
  void io_write(std::uint16_t port, Width w, std::uint32_t value) override;

  // Test face. CMOS is battery-backed: a power cut keeps the bytes (and loses the index).
  void set(std::uint8_t index, std::uint8_t value) { bytes_[index & 0x7F] = value; }
  std::uint8_t get(std::uint8_t index) const { return bytes_[index & 0x7F]; }
  std::uint32_t reads_of(std::uint8_t index) const { return reads_[index & 0x7F]; }
  void power_on() { index_ = 0; }

 private:
  std::array<std::uint8_t, 128> bytes_{};
  std::array<std::uint32_t, 128> reads_{};
  std::uint8_t index_ = 0;
};

}  // namespace sim
