// The boot block: the range the CPU starts from after a reset (the reset vector at 0xFFFFFFF0 and
// the code around it). While any of its bytes is neither its old nor its new value, a board that
// loses power cannot start again; these spans of simulated time are the brick window.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/Bus.h"
#include "tools/recovery-sim/FlashRig.h"

namespace rsim {

// One stretch of the brick window, in simulated nanoseconds from the start of the run.
struct BrickSpan {
  sim::Nanos start = 0;
  std::optional<sim::Nanos> end;  // none: still open when the run ended
};

struct BrickWindow {
  std::uint32_t first = 0, last = 0;  // boot block, memory addresses (inclusive)
  std::vector<BrickSpan> spans;
  sim::Nanos total(sim::Nanos run_end) const;
  // The window's share of a run that ended `run_end` after its start, in percent.
  double share_percent(sim::Nanos run_end) const;
};

class BootBlockWatch {
 public:
  // `before` and `expected` are the whole flash before the run and after a complete recovery.
  BootBlockWatch(const FlashRig& rig, std::uint32_t first, std::uint32_t last,
                 const std::vector<std::uint8_t>& before, const std::vector<std::uint8_t>& expected,
                 sim::Nanos run_start);
  // Every change of the arrays: re-examines the bytes of the boot block it touched.
  void changed(const FlashChange& c);
  // Bytes of the boot block now neither old nor new (0: a board could start from it).
  std::uint32_t torn() const { return torn_; }
  const BrickWindow& window() const { return window_; }

 private:
  const FlashRig& rig_;
  std::uint64_t base_ = 0;  // layout offset of the boot block's first byte
  std::vector<std::uint8_t> old_, new_;
  std::vector<bool> neither_;
  std::uint32_t torn_ = 0;
  sim::Nanos run_start_ = 0;
  BrickWindow window_;
};

}  // namespace rsim
