// Collecting the times of a rehearsal's flash work, block by block.
#include "tools/recovery-sim/Timeline.h"

#include <algorithm>

#include "tools/recovery-sim/Expectation.h"

namespace rsim {

void Timeline::flash_changed(const FlashChange& c, std::optional<std::uint32_t> chunk, sim::Nanos run_start) {
  const bool erase = c.kind == FlashChange::Kind::Erase;
  if (!chunk || (!erase && c.kind != FlashChange::Kind::Program)) return;
  BlockTimes& block = blocks[*chunk / (0x10000 / kChunk)];
  std::optional<Span>& span = erase ? block.erase : block.program;
  const Span now{c.time - run_start, std::max(c.done, c.time) - run_start};
  if (!span) {
    span = now;
  } else {
    span->end = std::max(span->end, now.end);
  }
}

}  // namespace rsim
