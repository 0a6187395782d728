// High-precision event timer at its fixed chipset address: capabilities, enable, 64-bit counter.
#include "qemu/Clock.h"

#include "qemu/PortIo.h"

namespace harness {

namespace {

constexpr uint32_t kHpetBase = 0xFED00000;
constexpr uint32_t kCapabilitiesHigh = kHpetBase + 0x004;  // bits 63:32: counter period in fs
constexpr uint32_t kConfiguration = kHpetBase + 0x010;     // bit 0: counter runs
constexpr uint32_t kCounterLow = kHpetBase + 0x0F0;
constexpr uint32_t kCounterHigh = kHpetBase + 0x0F4;
constexpr uint32_t kEnable = 0x1;
// The architecture caps the period at 100 ns.
constexpr uint32_t kMaxPeriodFs = 100000000;
constexpr uint32_t kFsPerUs = 1000000000;

uint32_t ticks_per_us;
uint32_t period_fs;

// (high:low) / divisor for a quotient that fits in 32 bits, without a runtime helper.
uint32_t divide(uint32_t high, uint32_t low, uint32_t divisor) {
  uint32_t remainder = high % divisor;
  uint32_t quotient;
  __asm__("divl %4" : "=a"(quotient), "=d"(remainder) : "a"(low), "d"(remainder), "rm"(divisor));
  return quotient;
}

}  // namespace

bool clock_start() {
  uint32_t period = mmio_read32(kCapabilitiesHigh);
  if (period == 0 || period > kMaxPeriodFs || kFsPerUs / period == 0) {
    return false;
  }
  period_fs = period;
  ticks_per_us = kFsPerUs / period;
  // The counter may only be written while it is stopped.
  mmio_write32(kConfiguration, mmio_read32(kConfiguration) & ~kEnable);
  mmio_write32(kCounterLow, 0);
  mmio_write32(kCounterHigh, 0);
  mmio_write32(kConfiguration, mmio_read32(kConfiguration) | kEnable);
  return true;
}

uint32_t clock_us() {
  if (ticks_per_us == 0) {
    return 0;
  }
  // Two halves of a running counter: read the high half again until it did not move.
  uint32_t high;
  uint32_t low;
  do {
    high = mmio_read32(kCounterHigh);
    low = mmio_read32(kCounterLow);
  } while (mmio_read32(kCounterHigh) != high);
  return divide(high, low, ticks_per_us);
}

uint32_t clock_period_fs() { return period_fs; }

}  // namespace harness
