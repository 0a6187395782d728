// Interval timer (8254 channel 0) through the 8259 interrupt controllers, remapped above the
// processor's exception vectors.
#include "qemu/Watchdog.h"

#include "qemu/Clock.h"
#include "qemu/Console.h"
#include "qemu/Kernel.h"
#include "qemu/PortIo.h"

namespace harness {

namespace {

constexpr uint16_t kMasterCommand = 0x20;
constexpr uint16_t kMasterData = 0x21;
constexpr uint16_t kSlaveCommand = 0xA0;
constexpr uint16_t kSlaveData = 0xA1;
constexpr uint8_t kEndOfInterrupt = 0x20;
constexpr uint16_t kTimerControl = 0x43;
constexpr uint16_t kTimerChannel0 = 0x40;
constexpr uint8_t kChannel0RateGenerator = 0x34;  // channel 0, low then high byte, mode 2, binary
constexpr uint16_t kDivisor100Hz = 11932;         // 1,193,182 Hz input clock

uint32_t started_us;
uint32_t limit;

}  // namespace

void watchdog_start(uint32_t limit_us) {
  // Initialisation words 1-4: edge triggered and cascaded, vector bases 0x20 and 0x28, the slave on
  // line 2, 8086 mode. Then mask everything but the timer's line 0.
  port_out8(kMasterCommand, 0x11);
  port_out8(kSlaveCommand, 0x11);
  port_out8(kMasterData, kTimerVector);
  port_out8(kSlaveData, kTimerVector + 8);
  port_out8(kMasterData, 0x04);
  port_out8(kSlaveData, 0x02);
  port_out8(kMasterData, 0x01);
  port_out8(kSlaveData, 0x01);
  port_out8(kMasterData, 0xFE);
  port_out8(kSlaveData, 0xFF);
  port_out8(kTimerControl, kChannel0RateGenerator);
  port_out8(kTimerChannel0, kDivisor100Hz & 0xFF);
  port_out8(kTimerChannel0, kDivisor100Hz >> 8);
  started_us = clock_us();
  limit = limit_us;
}

void watchdog_tick(uint32_t eip) {
  port_out8(kMasterCommand, kEndOfInterrupt);
  uint32_t elapsed = clock_us() - started_us;
  if (elapsed < limit) {
    return;
  }
  const ModuleImage& image = module_image();
  if (eip >= image.base && eip - image.base < image.size) {
    fail("hang: the module still runs after %u us, at image rva 0x%x", elapsed, eip - image.base);
  }
  fail("hang: the module still runs after %u us, at eip 0x%08x", elapsed, eip);
}

}  // namespace harness
