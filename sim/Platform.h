// The simulated PC's buses and clock: decodes I/O ports and physical addresses to devices,
// charges each access its documented time, keeps an optional trace, and ends a run with exactly
// one outcome (returned, final spin, hang, power cut).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/Bus.h"
#include "sim/Outcome.h"

namespace sim {

// Time charged per hardware access. The figures are typical of the platform's buses:
// legacy I/O ports behind the LPC bridge take about a microsecond per access; chipset registers
// (configuration window, RCBA block, SPI controller) a few hundred nanoseconds over the
// chipset's internal bus; a read of memory-mapped flash waits for the flash interface.
struct AccessCosts {
  Nanos io_port = 1000;
  Nanos chipset_register = 250;
  Nanos flash_window = 1000;
  Nanos unclaimed = 1000;  // nothing decodes the address: the cycle ends by timeout/master abort
  Nanos pause = 10;        // one iteration of a pause loop
};

// Receives every access while tracing is on.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void record(const Access& a) = 0;
};

// Keeps the first `capacity` accesses and counts the rest.
class BoundedTrace : public TraceSink {
 public:
  explicit BoundedTrace(std::size_t capacity) : capacity_(capacity) {}
  void record(const Access& a) override;
  const std::vector<Access>& accesses() const { return accesses_; }
  std::uint64_t dropped() const { return dropped_; }
  void clear() {
    accesses_.clear();
    dropped_ = 0;
  }

 private:
  std::size_t capacity_;
  std::vector<Access> accesses_;
  std::uint64_t dropped_ = 0;
};

struct RunLimits {
  // Simulated time after which an unfinished run is a hang. A complete recovery on the slowest
  // supported part takes a few minutes of simulated time.
  Nanos max_time = Nanos{15} * 60 * 1000000000;
  std::uint64_t max_accesses = 2000000000;
  // Power is lost right after the access with this index (Access::index, counted over the
  // platform's life, not from the start of the run; 0: never).
  std::uint64_t power_cut_after = 0;
  // Power is lost right after the first access that ends this long after the start of the run
  // (0: never).
  Nanos power_cut_at = 0;
  // Consecutive CpuPause calls with no hardware access in between that make a final spin.
  std::uint32_t spin_pauses = 1000;
  // A wait that repeats the same few accesses with the same values (a register that never
  // changes) for this long is a hang. No device of the platform keeps a status unchanged for more
  // than a few seconds while it works (the longest is a firmware-hub block erase or a 3 s stall).
  Nanos stuck_loop_time = Nanos{30} * 1000000000;
};

class Platform {
 public:
  Platform();
  ~Platform();
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;

  // --- wiring ---------------------------------------------------------------------------------
  void map_io(std::uint16_t first, std::uint32_t count, IoHandler* handler, Nanos cost);
  void unmap_io(std::uint16_t first, std::uint32_t count);
  // Returns an id with which the region can be moved (a base register was reprogrammed).
  int map_mem(std::uint32_t base, std::uint64_t size, MemHandler* handler, Nanos cost);
  void move_mem(int id, std::uint32_t base);
  void unmap_mem(int id);
  AccessCosts& costs() { return costs_; }
  // Installs `decorator` between the platform and `device`: every mapping of `device`, present
  // and later (a base register reprogrammed), reaches `decorator` instead, which forwards to it.
  void interpose(IoHandler* device, IoHandler* decorator);
  void interpose(MemHandler* device, MemHandler* decorator);

  // --- the bus face (what the seam calls) -------------------------------------------------------
  // Every access: decode, the device's handler, then the clock and the run's limits. Inline, so
  // that an access costs a table lookup, the device and a few counters.
  // The device and the cost are taken before the handler runs: a handler may change the map (a
  // base register written through the configuration window).
  std::uint32_t io_read(std::uint16_t port, Width w) {
    const IoSlot slot = io_[port];
    std::uint32_t value = all_ones(w);
    if (slot.handler != nullptr) {
      value &= slot.handler->io_read(port, w);
    }
    account(Space::Io, false, w, port, value, slot.handler, slot.cost);
    return value;
  }
  void io_write(std::uint16_t port, Width w, std::uint32_t value) {
    const IoSlot slot = io_[port];
    value &= all_ones(w);
    if (slot.handler != nullptr) {
      slot.handler->io_write(port, w, value);
    }
    account(Space::Io, true, w, port, value, slot.handler, slot.cost);
  }
  std::uint32_t mem_read(std::uint32_t address, Width w) {
    const Span& span = decode(address);
    MemHandler* handler = span.handler;
    Nanos cost = span.cost;
    std::uint32_t value = all_ones(w);
    if (handler != nullptr) {
      value &= handler->mem_read(address, w);
    }
    account(Space::Mem, false, w, address, value, handler, cost);
    return value;
  }
  void mem_write(std::uint32_t address, Width w, std::uint32_t value) {
    const Span& span = decode(address);
    MemHandler* handler = span.handler;
    Nanos cost = span.cost;
    value &= all_ones(w);
    if (handler != nullptr) {
      handler->mem_write(address, w, value);
    }
    account(Space::Mem, true, w, address, value, handler, cost);
  }
  void cpu_pause();

  // --- clock -----------------------------------------------------------------------------------
  Nanos now() const { return now_; }
  void advance(Nanos ns) { now_ += ns; }
  std::uint64_t accesses() const { return accesses_; }
  std::uint64_t unclaimed_accesses() const { return unclaimed_; }

  // --- trace -----------------------------------------------------------------------------------
  // The device that decodes a port or an address now (null: nothing does), for naming the device
  // of a traced access.
  const IoHandler* io_device(std::uint16_t port) const { return io_[port].handler; }
  const MemHandler* mem_device(std::uint32_t address) const { return search_span(address).handler; }
  void set_trace(TraceSink* sink) {
    trace_ = sink;
    arm_limits();
  }

  // --- runs ------------------------------------------------------------------------------------
  // Changes take effect at the next run (or the next set_trace).
  RunLimits& limits() { return limits_; }
  // Makes this platform the one the seam reaches, runs `body` and reports how it ended.
  Outcome run(const std::function<EFI_STATUS()>& body);
  // Ends the current run from inside a seam call or a platform service.
  [[noreturn]] void end_run(Outcome outcome);
  // A hang at `where` (the access being repeated), declared now for reason `why`.
  Outcome hang(std::string where, const char* why) const;
  // Called at a power cut, after the run has ended: every registered callback returns its device
  // to its power-on state (flash arrays keep their contents).
  void on_power_cycle(std::function<void()> callback) { power_cycle_.push_back(std::move(callback)); }
  void power_cycle();
  // Moves the power cut of the current run to right after access `index` (0: none). A device may
  // call it while it handles an access, to lose power just after that access.
  void cut_power_after(std::uint64_t index) {
    limits_.power_cut_after = index;
    arm_limits();
  }
  // Asked when the run reaches its power cut, before power is lost: returning false lets the run
  // go on (a survey that copies the machine at each cut point moves the cut on from here).
  std::function<bool(const Access&)> before_power_cut;

  // The platform that the seam forwards to; null outside Platform::run.
  static Platform* current() { return current_; }

 private:
  struct MemRegion {
    std::uint32_t base = 0;
    std::uint64_t size = 0;
    MemHandler* handler = nullptr;
    Nanos cost = 0;
    bool mapped = false;
  };
  // The memory map resolved into disjoint spans that cover the whole 4 GiB, later mappings over
  // earlier ones; a gap is a span without a handler.
  struct Span {
    std::uint32_t base = 0;
    std::uint32_t last = 0;  // offset of the span's last byte from base
    MemHandler* handler = nullptr;
    Nanos cost = 0;
  };
  struct IoSlot {
    IoHandler* handler = nullptr;
    Nanos cost = 0;
  };

  // Charges an access to the clock; an access nothing decodes costs the master-abort time.
  void account(Space space, bool write, Width w, std::uint32_t address, std::uint32_t value,
               const void* device, Nanos cost) {
    if (device == nullptr) [[unlikely]] {
      unclaimed_++;
      cost = costs_.unclaimed;
    }
    std::uint64_t index = ++accesses_;
    Nanos start = now_;
    now_ += cost;
    if (index >= access_limit_ || now_ >= time_limit_) [[unlikely]] {
      account_slowly(Access{index, start, space, write, w, address, value});
    }
  }
  [[gnu::noinline]] void account_slowly(Access a);
  // Recomputes when account() must leave its fast path (tracing, power cut, limits).
  void arm_limits();
  // Samples a window of accesses now and then; true when the module has been repeating the same
  // few accesses with the same values for longer than the stuck-loop time.
  bool stuck(const Access& a);
  void check_limits(const Access& a, bool looping);
  // Accesses come in runs on one device, so the span of the previous access is tried first.
  const Span& decode(std::uint32_t address) {
    if (address - last_span_->base > last_span_->last) [[unlikely]] {
      last_span_ = &search_span(address);
    }
    return *last_span_;
  }
  const Span& search_span(std::uint32_t address) const;
  // Rebuilds spans_ from regions_ after a mapping changed.
  void resolve_spans();

  std::array<IoSlot, 65536> io_{};
  std::vector<MemRegion> regions_;
  AccessCosts costs_;
  RunLimits limits_;
  Nanos now_ = 0;
  std::uint64_t accesses_ = 0;
  std::uint64_t unclaimed_ = 0;
  std::uint32_t pauses_in_a_row_ = 0;
  std::uint64_t accesses_at_last_pause_ = 0;
  TraceSink* trace_ = nullptr;
  // Loop detection: every kSampleEvery accesses the next kSampleSize accesses are sampled. A loop
  // of up to kSampleSize accesses shows the same set of distinct accesses in every sample, whatever
  // its phase; a wait on anything that changes (a timer, a status that progresses) does not.
  static constexpr unsigned kSampleSize = 16;
  static constexpr std::uint64_t kSampleEvery = 65536;
  std::vector<std::uint64_t> sample_, previous_sample_;
  std::uint64_t next_sample_ = 0;
  bool same_since_valid_ = false;
  Nanos same_since_ = 0;
  // Fast-path thresholds: the access count and the time at which account() must look closer
  // (an access limit of 0 sends every access there: tracing or a power cut to come).
  std::uint64_t access_limit_ = 0;
  Nanos time_limit_ = 0;
  std::vector<Span> spans_;
  const Span* last_span_ = nullptr;
  // Decorators installed by interpose(), as (device, decorator) pairs.
  std::vector<std::pair<IoHandler*, IoHandler*>> io_decorators_;
  std::vector<std::pair<MemHandler*, MemHandler*>> mem_decorators_;

  static inline Platform* current_ = nullptr;
  friend struct CurrentGuard;
  Nanos run_start_ = 0;
  std::uint64_t run_start_accesses_ = 0;
  std::vector<std::function<void()>> power_cycle_;
};

}  // namespace sim
