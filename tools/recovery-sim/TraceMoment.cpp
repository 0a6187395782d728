// Placing a failed run's first refusal between two POST code writes, from the parts' own counters.
#include "tools/recovery-sim/TraceMoment.h"

namespace rsim {

TraceMoment::TraceMoment(const sim::Platform& platform, const FlashRig& rig)
    : platform_(platform), rig_(rig), mark_(platform.accesses() + 1), refused_at_mark_(refusals()) {}

std::uint64_t TraceMoment::refusals() const {
  std::uint64_t n = 0;
  for (const auto& [cause, count] : rig_.refusals()) n += count;
  return n;
}

// The counters are read a few hundred times a run (at each POST code), not at each access.
void TraceMoment::sample() {
  const std::uint64_t now = refusals();
  if (now == refused_at_mark_) return;
  if (!first_refusal_) first_refusal_ = mark_;
  if (mark_in_chunks_ && !first_refusal_in_chunks_) first_refusal_in_chunks_ = mark_;
  refused_at_mark_ = now;
}

void TraceMoment::post_code(bool chunk_counter) {
  sample();
  mark_ = platform_.accesses() + 1;  // this write, counted once the port has taken it
  if (chunk_counter && !first_chunk_) first_chunk_ = mark_;
  mark_in_chunks_ = mark_in_chunks_ || chunk_counter;
}

void TraceMoment::changed(const FlashChange& c) {
  if (!first_change_ && (c.kind == FlashChange::Kind::Erase || c.kind == FlashChange::Kind::Program)) {
    first_change_ = platform_.accesses() + 1;
  }
}

std::optional<TraceMoment::Point> TraceMoment::point() {
  sample();
  if (first_refusal_in_chunks_) {
    return Point{*first_refusal_in_chunks_, "from the chunk in which the part first refused"};
  }
  if (first_refusal_ && !first_change_) {
    return Point{*first_refusal_, "from just before the part first refused"};
  }
  if (first_change_) return Point{*first_change_, "from the first erase or program"};
  if (first_chunk_) return Point{*first_chunk_, "from the first chunk counter"};
  return std::nullopt;
}

}  // namespace rsim
