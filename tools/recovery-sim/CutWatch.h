// Where a rehearsal's power cut falls in the recovery's own terms: the 4 KiB chunk the module is
// working on (from its chunk counter on port 0x80), the phase, a cut named by chunk that must land
// inside that chunk's erase or programming, and the operation a part was busy with when power went.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/Platform.h"
#include "tools/recovery-sim/FlashRig.h"
#include "tools/recovery-sim/Options.h"

namespace rsim {

// The operation cut short by the power loss.
struct InFlight {
  std::string operation;  // "erase", "program" or "status write"
  std::size_t chip = 0;
  std::uint64_t offset = 0;  // in the flash layout
  std::uint32_t length = 0;
  std::uint32_t torn = 0;  // bytes (status: registers) left neither old nor new
};

struct CutFacts {
  std::uint64_t access = 0;            // access number of the run, as power-cut@N takes it
  sim::Nanos time = 0;                 // simulated time from the start of the run
  std::optional<std::uint32_t> chunk;  // 4 KiB chunk of 0xFFE00000-0xFFFFFFFF being worked on
  std::string phase;                   // "before the first chunk", "erase", "program", "between operations"
  std::optional<InFlight> in_flight;
  bool board_cannot_start = false;  // the boot block was left neither old nor new
};

class CutWatch {
 public:
  // `cut` is the run's power-cut fault, if any: a cut named by chunk is armed from here.
  CutWatch(sim::Platform& platform, const std::optional<Fault>& cut);
  // Also calls `reached` with the number of the access that reaches `point` (a point named by
  // chunk or status write), while the part handles that access: the access a cut there cuts after.
  void watch(const Fault& point, std::function<void(std::uint64_t access)> reached);
  // Every value the module writes to port 0x80.
  void post_code(std::uint8_t code);
  void changed(const FlashChange& c);
  // The chunk the module works on (window index), if it has started the first.
  std::optional<std::uint32_t> chunk() const;
  // Chunk counters the module has written in this run.
  std::uint32_t chunks_started() const { return counters_; }
  // After the run ended in a power cut and power was lost.
  CutFacts facts(const sim::Outcome& outcome, sim::Nanos run_start) const;

 private:
  struct Watched {
    Fault point;
    std::function<void(std::uint64_t access)> reached;
    bool armed = true;
  };
  void fire(Watched& w);

  sim::Platform& platform_;
  std::vector<Watched> watched_;
  std::uint32_t counters_ = 0;  // chunk counters written so far
  bool counting_ = false;
  std::string phase_ = "before the first chunk";
  std::uint64_t programmed_in_chunk_ = 0;
  std::uint64_t status_writes_ = 0;
  std::vector<FlashChange::Kind> last_kind_;  // per chip
  std::optional<InFlight> in_flight_;
};

}  // namespace rsim
