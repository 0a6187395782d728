// Property: Stall waits at least the time asked for, and not much longer, whatever value and phase
// the 24-bit PM timer starts from (wraps included) and however long one timer read takes.
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

// `phase` ns into the starting tick; the PM block decoded again at this read time.
sim::Nanos stall_time(std::uint32_t start, std::uint32_t us, sim::Nanos read_cost, sim::Nanos phase = 0) {
  sim::MachineConfig c;
  c.pm_timer_start = start;
  sim::Machine machine(c);
  machine.platform().costs().io_port = read_cost;
  machine.pm().decode_at(machine.lpc().pmbase(), machine.lpc().acpi_enabled());
  machine.platform().advance(phase);
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

// Any phase inside the starting tick, any starting count (targets just below a wrap included), any
// length, and timer reads that take at least one tick (279 ns; about 1 us on the LPC bus): the
// stall never ends early, and at most two ticks after the asked time counted at the module's 3.58
// ticks per microsecond (3.579545 MHz rounded up), plus the first and the last timer read.
RC_GTEST_PROP(StallProperty, EndsWithinTwoTicksOfTheAskedTimeWhateverThePhase, ()) {
  constexpr double kTickNs = 1e9 / 3579545;
  // Drawn over their whole ranges from the first case on (the default size grows from 0), often
  // late in the starting tick and short, where a lost partial tick weighs most.
  auto full = [](auto gen) { return *rc::gen::resize(rc::kNominalSize, gen); };
  std::uint32_t us = full(rc::gen::oneOf(rc::gen::inRange<std::uint32_t>(1, 64), microseconds()));
  // Also starts that put the target in the last few counts below 2^24, so that the counter wraps
  // past it between two reads and the wait must see the wrap to end.
  std::uint32_t ticks = us * 358 / 100 + 1;
  std::uint32_t start =
      ticks >= kTimerPeriod
          ? full(timer_start())
          : full(rc::gen::oneOf(timer_start(), rc::gen::map(rc::gen::inRange<std::uint32_t>(1, 5),
                                                            [ticks](std::uint32_t below) {
                                                              return kTimerPeriod - below - ticks;
                                                            })));
  sim::Nanos phase =
      full(rc::gen::oneOf(rc::gen::inRange<sim::Nanos>(0, 280), rc::gen::inRange<sim::Nanos>(250, 280)));
  sim::Nanos read_cost =
      full(rc::gen::oneOf(rc::gen::just<sim::Nanos>(1000), rc::gen::inRange<sim::Nanos>(280, 400),
                          rc::gen::inRange<sim::Nanos>(280, 3000)));
  sim::Nanos elapsed = stall_time(start, us, read_cost, phase);
  RC_ASSERT(elapsed >= sim::Nanos{us} * 1000);
  RC_ASSERT(static_cast<double>(elapsed) <= (us * 3.58 + 2) * kTickNs + 2.0 * static_cast<double>(read_cost));
}

}  // namespace
}  // namespace testing_support
