// Following the boot block through a recovery: which of its bytes are neither old nor new, and when.
#include "tools/recovery-sim/BootBlock.h"

#include <algorithm>

namespace rsim {

sim::Nanos BrickWindow::total(sim::Nanos run_end) const {
  sim::Nanos t = 0;
  for (const BrickSpan& s : spans) t += s.end.value_or(run_end) - s.start;
  return t;
}

double BrickWindow::share_percent(sim::Nanos run_end) const {
  return run_end == 0 ? 0.0 : static_cast<double>(total(run_end)) * 100.0 / static_cast<double>(run_end);
}

BootBlockWatch::BootBlockWatch(const FlashRig& rig, std::uint32_t first, std::uint32_t last,
                               const std::vector<std::uint8_t>& before,
                               const std::vector<std::uint8_t>& expected, sim::Nanos run_start)
    : rig_(rig), base_(rig.offset_of(first)), run_start_(run_start) {
  window_.first = first;
  window_.last = last;
  std::uint64_t n = std::min<std::uint64_t>(std::uint64_t{last} - first + 1, rig.size() - base_);
  old_.assign(before.begin() + static_cast<std::ptrdiff_t>(base_),
              before.begin() + static_cast<std::ptrdiff_t>(base_ + n));
  new_.assign(expected.begin() + static_cast<std::ptrdiff_t>(base_),
              expected.begin() + static_cast<std::ptrdiff_t>(base_ + n));
  neither_.assign(n, false);
}

void BootBlockWatch::changed(const FlashChange& c) {
  std::uint64_t from = std::max(c.offset, base_), to = std::min(c.offset + c.length, base_ + old_.size());
  if (c.kind == FlashChange::Kind::StatusInterrupted || from >= to) return;
  std::uint32_t was = torn_;
  for (std::uint64_t off = from; off < to; off++) {
    std::size_t i = off - base_;
    std::uint8_t b = rig_.byte(off);
    bool neither = b != old_[i] && b != new_[i];
    if (neither != neither_[i]) {
      neither_[i] = neither;
      torn_ = neither ? torn_ + 1 : torn_ - 1;
    }
  }
  if (c.kind == FlashChange::Kind::Interrupted) return;  // power is lost: time stops here
  if (was == 0 && torn_ != 0) {
    window_.spans.push_back(BrickSpan{c.time - run_start_, std::nullopt});
  } else if (was != 0 && torn_ == 0 && !window_.spans.empty()) {
    // The last bytes hold their new value once the part has finished writing them.
    window_.spans.back().end = c.done - run_start_;
  }
}

}  // namespace rsim
