// The ACPI power-management I/O block at PMBASE: PM1 control (offset 4) and the free-running
// 24-bit PM timer (offset 8) at 3.579545 MHz, derived from the simulated clock.
#pragma once

#include <cstdint>

#include "sim/Bus.h"

namespace sim {

class Platform;

struct AcpiPmConfig {
  std::uint32_t pm1_cnt = 0;      // low byte 0: SCI not enabled by earlier firmware
  std::uint32_t timer_start = 0;  // counter value at simulated time 0
};

class AcpiPmBlock : public IoHandler {
 public:
  static constexpr std::uint32_t kTimerHz = 3579545;
  static constexpr std::uint16_t kPm1Cnt = 4;
  static constexpr std::uint16_t kPmTimer = 8;

  AcpiPmBlock(Platform& platform, const AcpiPmConfig& config);

  std::uint32_t io_read(std::uint16_t port, Width w) override;
  void io_write(std::uint16_t port, Width w, std::uint32_t value) override;

  // Moves the decoded block (PMBASE or ACPI_EN changed). A disabled block decodes nothing.
  void decode_at(std::uint16_t base, bool enabled);

  // Test face.
  std::uint32_t timer_now() const;  // the 24-bit counter at the current simulated time
  std::uint32_t timer_reads() const { return timer_reads_; }
  std::uint32_t pm1_cnt() const { return pm1_cnt_; }
  void power_on();

 private:
  Platform& platform_;
  AcpiPmConfig config_;
  std::uint32_t pm1_cnt_ = 0;
  std::uint16_t base_ = 0;
  bool mapped_ = false;
  std::uint32_t timer_reads_ = 0;
};

}  // namespace sim
