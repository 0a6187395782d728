// Bus decoding, the simulated clock, tracing and the ending of runs.
#include "sim/Platform.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace sim {

struct CurrentGuard {
  Platform* previous;
  explicit CurrentGuard(Platform* p) : previous(Platform::current_) { Platform::current_ = p; }
  ~CurrentGuard() { Platform::current_ = previous; }
};

std::string describe(const Access& a) {
  char buf[96];
  unsigned bits = static_cast<unsigned>(a.width) * 8;
  if (a.space == Space::Io) {
    std::snprintf(buf, sizeof buf, "io %s %u 0x%04X = 0x%0*X", a.write ? "write" : "read", bits, a.address,
                  static_cast<int>(a.width) * 2, a.value);
  } else {
    std::snprintf(buf, sizeof buf, "mem %s %u 0x%08X = 0x%0*X", a.write ? "write" : "read", bits, a.address,
                  static_cast<int>(a.width) * 2, a.value);
  }
  return buf;
}

void BoundedTrace::record(const Access& a) {
  if (accesses_.size() < capacity_) {
    accesses_.push_back(a);
  } else {
    dropped_++;
  }
}

Platform::Platform() { resolve_spans(); }
Platform::~Platform() = default;

namespace {
template <class Handler>
Handler* decorated(const std::vector<std::pair<Handler*, Handler*>>& decorators, Handler* handler) {
  for (const auto& [device, decorator] : decorators) {
    if (device == handler) return decorator;
  }
  return handler;
}
}  // namespace

void Platform::interpose(IoHandler* device, IoHandler* decorator) {
  io_decorators_.emplace_back(device, decorator);
  for (IoSlot& slot : io_) {
    if (slot.handler == device) slot.handler = decorator;
  }
}

void Platform::interpose(MemHandler* device, MemHandler* decorator) {
  mem_decorators_.emplace_back(device, decorator);
  resolve_spans();
}

void Platform::map_io(std::uint16_t first, std::uint32_t count, IoHandler* handler, Nanos cost) {
  handler = decorated(io_decorators_, handler);
  for (std::uint32_t i = 0; i < count && first + i < 65536u; i++) {
    io_[first + i] = IoSlot{handler, cost};
  }
}

void Platform::unmap_io(std::uint16_t first, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count && first + i < 65536u; i++) {
    io_[first + i] = IoSlot{};
  }
}

int Platform::map_mem(std::uint32_t base, std::uint64_t size, MemHandler* handler, Nanos cost) {
  regions_.push_back(MemRegion{base, size, handler, cost, true});
  resolve_spans();
  return static_cast<int>(regions_.size() - 1);
}

void Platform::move_mem(int id, std::uint32_t base) {
  regions_.at(static_cast<std::size_t>(id)).base = base;
  resolve_spans();
}

void Platform::unmap_mem(int id) {
  regions_.at(static_cast<std::size_t>(id)).mapped = false;
  resolve_spans();
}

void Platform::resolve_spans() {
  // Every region edge starts a piece; each piece belongs to the latest mapping that covers it
  // (a device can overlay part of a wider window), and neighbouring pieces of one mapping merge.
  constexpr std::uint64_t kTop = std::uint64_t{1} << 32;
  std::vector<std::uint64_t> edges{0, kTop};
  for (const MemRegion& r : regions_) {
    if (r.mapped) {
      edges.push_back(r.base);
      edges.push_back(std::min(kTop, r.base + r.size));
    }
  }
  std::sort(edges.begin(), edges.end());
  edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
  spans_.clear();
  for (std::size_t i = 0; i + 1 < edges.size(); i++) {
    const MemRegion* owner = nullptr;
    for (auto it = regions_.rbegin(); it != regions_.rend() && owner == nullptr; ++it) {
      if (it->mapped && edges[i] >= it->base && edges[i] - it->base < it->size) owner = &*it;
    }
    MemHandler* handler = owner != nullptr ? decorated(mem_decorators_, owner->handler) : nullptr;
    Nanos cost = owner != nullptr ? owner->cost : 0;
    auto last = static_cast<std::uint32_t>(edges[i + 1] - 1);
    if (!spans_.empty() && spans_.back().handler == handler && spans_.back().cost == cost) {
      spans_.back().last = last - spans_.back().base;
    } else {
      spans_.push_back(Span{static_cast<std::uint32_t>(edges[i]), last - static_cast<std::uint32_t>(edges[i]),
                            handler, cost});
    }
  }
  last_span_ = &spans_.front();
}

const Platform::Span& Platform::search_span(std::uint32_t address) const {
  // The spans are sorted and cover every address: the last one starting at or below it.
  auto after = std::upper_bound(spans_.begin(), spans_.end(), address,
                                [](std::uint32_t a, const Span& s) { return a < s.base; });
  return *(after - 1);
}

bool Platform::stuck(const Access& a) {
  if (a.index < next_sample_) {
    return false;
  }
  sample_.push_back(std::uint64_t{a.address} << 32 ^ a.value ^
                    (std::uint64_t{static_cast<std::uint8_t>(a.width)} << 56 | std::uint64_t{a.write} << 62 |
                     std::uint64_t{static_cast<std::uint8_t>(a.space)} << 63));
  if (sample_.size() < kSampleSize) {
    return false;
  }
  std::sort(sample_.begin(), sample_.end());
  sample_.erase(std::unique(sample_.begin(), sample_.end()), sample_.end());
  bool same = sample_ == previous_sample_;
  if (!same) {
    same_since_valid_ = false;
  } else if (!same_since_valid_) {
    same_since_valid_ = true;
    same_since_ = a.time;
  }
  previous_sample_.swap(sample_);
  sample_.clear();
  next_sample_ = a.index + kSampleEvery;
  return same && a.time - same_since_ > limits_.stuck_loop_time;
}

void Platform::arm_limits() {
  access_limit_ = trace_ != nullptr ? 0 : std::min(run_start_accesses_ + limits_.max_accesses, next_sample_);
  if (limits_.power_cut_after > accesses_) access_limit_ = std::min(access_limit_, limits_.power_cut_after);
  time_limit_ = run_start_ + limits_.max_time;
  if (limits_.power_cut_at != 0) time_limit_ = std::min(time_limit_, run_start_ + limits_.power_cut_at);
}

void Platform::account_slowly(Access a) {
  if (trace_ != nullptr) {
    trace_->record(a);
  }
  bool looping = stuck(a);
  arm_limits();
  check_limits(a, looping);
}

void Platform::check_limits(const Access& a, bool looping) {
  bool cut_now = (limits_.power_cut_after != 0 && a.index == limits_.power_cut_after) ||
                 (limits_.power_cut_at != 0 && now_ - run_start_ >= limits_.power_cut_at);
  if (cut_now && before_power_cut && !before_power_cut(a)) {
    cut_now = false;
    arm_limits();
  }
  if (cut_now) {
    Outcome o;
    o.kind = OutcomeKind::PowerCut;
    o.access = a.index;
    o.where = describe(a);
    end_run(o);
  }
  const char* why = looping                                                   ? "the same accesses repeated"
                    : accesses_ - run_start_accesses_ >= limits_.max_accesses ? "the run's access budget"
                    : now_ - run_start_ >= limits_.max_time                   ? "the run's time budget"
                                                                              : nullptr;
  if (why != nullptr) {
    end_run(hang(describe(a), why));
  }
}

void Platform::cpu_pause() {
  now_ += costs_.pause;
  if (accesses_ != accesses_at_last_pause_) {  // a hardware access ends a run of pauses
    accesses_at_last_pause_ = accesses_;
    pauses_in_a_row_ = 0;
  }
  if (++pauses_in_a_row_ >= limits_.spin_pauses) {
    Outcome o;
    o.kind = OutcomeKind::FinalSpin;
    end_run(o);
  }
  if (now_ - run_start_ >= limits_.max_time) {
    end_run(hang("pause loop", "the run's time budget"));
  }
}

Outcome Platform::hang(std::string where, const char* why) const {
  Outcome o;
  o.kind = OutcomeKind::Hang;
  o.where = std::move(where);
  o.why = why;
  // A device that will never finish (a part stuck busy) may have moved the clock far past the
  // budget in one access; the run was declared hung when it crossed the budget.
  o.declared_after = std::min(now_ - run_start_, limits_.max_time);
  return o;
}

void Platform::end_run(Outcome outcome) { throw RunEnded{std::move(outcome)}; }

Outcome Platform::run(const std::function<EFI_STATUS()>& body) {
  CurrentGuard guard(this);
  run_start_ = now_;
  run_start_accesses_ = accesses_;
  next_sample_ = accesses_ + 1;
  sample_.clear();
  previous_sample_.clear();
  same_since_valid_ = false;
  arm_limits();
  pauses_in_a_row_ = 0;
  accesses_at_last_pause_ = accesses_;
  try {
    Outcome o;
    o.kind = OutcomeKind::Returned;
    o.status = body();
    return o;
  } catch (RunEnded& ended) {
    return ended.outcome;
  }
}

void Platform::power_cycle() {
  for (auto& callback : power_cycle_) {
    callback();
  }
}

std::string Outcome::kind_name() const {
  switch (kind) {
    case OutcomeKind::Returned:
      return "returned";
    case OutcomeKind::FinalSpin:
      return "final-spin";
    case OutcomeKind::Hang:
      return "hang";
    case OutcomeKind::PowerCut:
      return "power-cut";
  }
  return "unknown";
}

std::string Outcome::to_string() const {
  char buf[32];
  switch (kind) {
    case OutcomeKind::Returned:
      std::snprintf(buf, sizeof buf, "returned(0x%08X)", status);
      return buf;
    case OutcomeKind::FinalSpin:
      return "final-spin";
    case OutcomeKind::Hang:
      return "hang(" + where + ")";
    case OutcomeKind::PowerCut:
      return "power-cut(access " + std::to_string(access) + ")";
  }
  return "unknown";
}

}  // namespace sim
