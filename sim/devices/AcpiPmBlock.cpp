// ACPI PM1 control and PM timer.
#include "sim/devices/AcpiPmBlock.h"

#include "sim/Platform.h"

namespace sim {

namespace {
constexpr std::uint16_t kBlockSize = 0x80;
}

AcpiPmBlock::AcpiPmBlock(Platform& platform, const AcpiPmConfig& config)
    : platform_(platform), config_(config) {
  power_on();
}

void AcpiPmBlock::power_on() {
  pm1_cnt_ = config_.pm1_cnt;
  timer_reads_ = 0;
}

void AcpiPmBlock::decode_at(std::uint16_t base, bool enabled) {
  if (mapped_) {
    platform_.unmap_io(base_, kBlockSize);
    mapped_ = false;
  }
  base_ = base;
  if (enabled && base != 0) {
    platform_.map_io(base_, kBlockSize, this, platform_.costs().io_port);
    mapped_ = true;
  }
}

std::uint32_t AcpiPmBlock::timer_now() const {
  // ticks = ns * 3579545 / 1e9, exact: in 64 bits for the first 85 minutes, in 128 bits after.
  std::uint64_t ns = platform_.now();
  std::uint64_t ticks =
      ns < (~std::uint64_t{0}) / kTimerHz
          ? ns * kTimerHz / 1000000000u
          : static_cast<std::uint64_t>(static_cast<unsigned __int128>(ns) * kTimerHz / 1000000000u);
  return static_cast<std::uint32_t>((ticks + config_.timer_start) & 0xFFFFFF);
}

std::uint32_t AcpiPmBlock::io_read(std::uint16_t port, Width w) {
  std::uint16_t offset = static_cast<std::uint16_t>(port - base_);
  if (offset >= kPmTimer && offset < kPmTimer + 4) {
    timer_reads_++;
    return timer_now() >> (8 * (offset - kPmTimer));  // bits 31:24 read 0
  }
  if (offset >= kPm1Cnt && offset < kPm1Cnt + 4) {
    return pm1_cnt_ >> (8 * (offset - kPm1Cnt));
  }
  (void)w;
  return 0;
}

void AcpiPmBlock::io_write(std::uint16_t port, Width w, std::uint32_t value) {
  std::uint16_t offset = static_cast<std::uint16_t>(port - base_);
  if (offset >= kPm1Cnt && offset < kPm1Cnt + 4) {
    unsigned shift = 8 * (offset - kPm1Cnt);
    std::uint32_t mask = all_ones(w) << shift;
    pm1_cnt_ = (pm1_cnt_ & ~mask) | ((value << shift) & mask);
  }
}

}  // namespace sim
