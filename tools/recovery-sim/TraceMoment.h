// The moment of a run that a failed run's summary points the reader to, as an access number to
// start a trace at: the chunk in which the parts first refused something (before the first chunk,
// the first refusal at all: a part not detected), or else the first erase or program, or else the
// first chunk counter.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sim/Platform.h"
#include "tools/recovery-sim/FlashRig.h"

namespace rsim {

class TraceMoment {
 public:
  // Starts watching at the run's first access.
  TraceMoment(const sim::Platform& platform, const FlashRig& rig);
  // Every value the module writes to port 0x80, while that write is handled; `chunk_counter` when
  // it is one of the chunk counters (the module writes one before each 4 KiB chunk).
  void post_code(bool chunk_counter);
  // Every change of a flash array, while the access that makes it is handled.
  void changed(const FlashChange& c);
  // After the run: the access to start at and what is there ("the chunk in which the part first
  // refused"); none when the run reached no flash and refused nothing.
  struct Point {
    std::uint64_t access;
    std::string what;
  };
  std::optional<Point> point();

 private:
  std::uint64_t refusals() const;
  void sample();

  const sim::Platform& platform_;
  const FlashRig& rig_;
  std::uint64_t mark_;           // the access that opened the span being watched
  bool mark_in_chunks_ = false;  // ...and whether it was a chunk counter
  std::uint64_t refused_at_mark_;
  std::optional<std::uint64_t> first_refusal_, first_refusal_in_chunks_, first_change_, first_chunk_;
};

}  // namespace rsim
