// The 2 MiB window 0xFFE00000-0xFFFFFFFF as 512 cells of 4 KiB, each in one state after a run:
// what a page draws as the flash map, and what the JSON report counts.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/recovery-sim/CutWatch.h"
#include "tools/recovery-sim/FlashRig.h"

namespace rsim {

constexpr std::uint32_t kMapCells = 512;

enum class CellState {
  Rewritten,   // the recovery wrote it and it holds what it should
  Differs,     // it does not hold what a complete recovery leaves
  Kept,        // 0xFFF70000-0xFFF7FFFF, which the recovery leaves alone, and it did
  Torn,        // a power cut stopped an erase or program of it half way
  NotReached,  // the recovery never got to it, and it still holds its old contents
  Outside,     // no recovery writes it here: outside the BIOS region, or not decoded to the part
};

// "rewritten", "differs", "kept", "torn", "not_reached", "outside": the page's data-state and the
// report's flash.map keys.
const char* cell_state_name(CellState s);
const std::array<CellState, 6>& cell_states();

struct MapCell {
  CellState state = CellState::Outside;
  std::uint32_t differing = 0;  // bytes unlike what a complete recovery leaves
};

// Which cells of the window a complete recovery writes on this platform (whatever the capsule).
std::array<bool, kMapCells> cells_written(const FlashRig& rig);

// The window after a run. `before`, `expected` and `now` are the whole flash (the rig's layout);
// `chunks_started` counts the chunk counters the module wrote (it works upwards from 0xFFE00000).
std::vector<MapCell> map_flash(const FlashRig& rig, const std::array<bool, kMapCells>& written,
                               const std::vector<std::uint8_t>& before,
                               const std::vector<std::uint8_t>& expected,
                               const std::vector<std::uint8_t>& now, std::uint32_t chunks_started,
                               const std::optional<CutFacts>& cut);

// Cells per state, every state present (0 included).
std::map<std::string, std::uint64_t> cell_counts(const std::vector<MapCell>& cells);

}  // namespace rsim
