// When each step of a rehearsal happened, in simulated nanoseconds from the start of its run: what
// a page draws on its timeline beside the report's lists of POST codes, beeps and EC commands.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/Bus.h"
#include "tools/recovery-sim/FlashRig.h"

namespace rsim {

constexpr std::uint32_t kBlocks = 32;  // 64 KiB blocks of 0xFFE00000-0xFFFFFFFF

// The first start and the last end of the erases, and of the programs, of one 64 KiB block.
struct Span {
  sim::Nanos start = 0, end = 0;
};
struct BlockTimes {
  std::optional<Span> erase, program;
};

struct Timeline {
  std::vector<sim::Nanos> post_codes;       // one per Report::post_codes
  std::vector<sim::Nanos> beeps;            // one per Report::beeps: when it was requested
  std::vector<sim::Nanos> ec_commands;      // one per Report::ec_commands
  std::optional<sim::Nanos> write_enabled;  // BIOS_CNTL's write enable first set
  std::array<BlockTimes, kBlocks> blocks{};

  // An erase or program the parts started while the module worked on window chunk `chunk`
  // (none: before its first chunk), in a run that started at `run_start`.
  void flash_changed(const FlashChange& c, std::optional<std::uint32_t> chunk, sim::Nanos run_start);
};

}  // namespace rsim
