// Property: Stall waits at least the time asked for, whatever value the 24-bit PM timer starts
// from (wraps included) and however long one timer read takes on the bus.
#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>

#include "platform/Stall.h"
#include "sim/Machine.h"

namespace testing_support {
namespace {

constexpr std::uint32_t kTimerPeriod = 1u << 24;

// Starting values anywhere, and often just below a wrap.
rc::Gen<std::uint32_t> timer_start() {
  return rc::gen::oneOf(
      rc::gen::inRange<std::uint32_t>(0, kTimerPeriod),
      rc::gen::map(rc::gen::inRange<std::uint32_t>(1, 64), [](std::uint32_t k) { return kTimerPeriod - k; }));
}

// Short waits, waits around one timer period (4.69 s) and the long handshake waits.
rc::Gen<std::uint32_t> microseconds() {
  return rc::gen::oneOf(rc::gen::inRange<std::uint32_t>(0, 5000),
                        rc::gen::inRange<std::uint32_t>(4'680'000, 4'700'000),
                        rc::gen::inRange<std::uint32_t>(0, 10'000'000));
}

sim::Nanos stall_time(std::uint32_t start, std::uint32_t us, sim::Nanos read_cost) {
  sim::MachineConfig c;
  c.pm_timer_start = start;
  sim::Machine machine(c);
  // The PM block decoded again, at this access time.
  machine.platform().costs().io_port = read_cost;
  machine.pm().decode_at(machine.lpc().pmbase(), machine.lpc().acpi_enabled());
  sim::Nanos t0 = machine.platform().now();
  sim::Outcome o = machine.run([us] { return Stall(us); });
  RC_ASSERT(o.kind == sim::OutcomeKind::Returned);
  return machine.platform().now() - t0;
}

RC_GTEST_PROP(StallProperty, WaitsAtLeastTheAskedTimeAcrossTimerWraps, ()) {
  std::uint32_t start = *timer_start();
  std::uint32_t us = *microseconds();
  sim::Nanos elapsed = stall_time(start, us, 1000);
  RC_ASSERT(elapsed >= sim::Nanos{us} * 1000);
  // And not a whole timer period too long (a miscounted wrap).
  RC_ASSERT(elapsed < sim::Nanos{us} * 1000 + 1'000'000'000);
}

// A read of the timer port can be faster than one timer tick (279 ns): two readings of the same
// value are not a wrap.
RC_GTEST_PROP(StallProperty, WaitsAtLeastTheAskedTimeForAnyTimerReadTime, ()) {
  std::uint32_t start = *timer_start();
  std::uint32_t us = *microseconds();
  sim::Nanos read_cost = *rc::gen::inRange<sim::Nanos>(50, 3000);
  sim::Nanos elapsed = stall_time(start, us, read_cost);
  RC_ASSERT(elapsed >= sim::Nanos{us} * 1000);
}

}  // namespace
}  // namespace testing_support
