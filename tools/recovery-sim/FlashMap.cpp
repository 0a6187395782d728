// Sorting the window's 4 KiB cells into the states of the flash map.
#include "tools/recovery-sim/FlashMap.h"

#include <algorithm>
#include <cstring>

#include "tools/recovery-sim/Expectation.h"

namespace rsim {

const char* cell_state_name(CellState s) {
  switch (s) {
    case CellState::Rewritten:
      return "rewritten";
    case CellState::Differs:
      return "differs";
    case CellState::Kept:
      return "kept";
    case CellState::Torn:
      return "torn";
    case CellState::NotReached:
      return "not_reached";
    case CellState::Outside:
      break;
  }
  return "outside";
}

const std::array<CellState, 6>& cell_states() {
  static const std::array<CellState, 6> all{CellState::Rewritten, CellState::Differs,    CellState::Kept,
                                            CellState::Torn,      CellState::NotReached, CellState::Outside};
  return all;
}

namespace {

// A part smaller than the window answers below its own range only as an alias of its own bytes.
bool own_bytes(const FlashRig& rig, std::uint32_t address) { return 0x100000000ull - address <= rig.size(); }

}  // namespace

std::array<bool, kMapCells> cells_written(const FlashRig& rig) {
  // Over an all-zero flash a capsule of 0xFF bytes marks exactly the bytes a recovery writes.
  static const std::vector<std::uint8_t> ones(kCapsuleBytes, 0xFF);
  const std::vector<std::uint8_t> marked =
      rig.expected(std::vector<std::uint8_t>(rig.size(), 0), ones.data());
  std::array<bool, kMapCells> written{};
  for (std::uint32_t i = 0; i < kMapCells; i++) {
    const std::uint32_t address = kWindowBase + i * kChunk;
    const auto at = static_cast<std::ptrdiff_t>(rig.offset_of(address));
    written[i] = own_bytes(rig, address) && std::any_of(marked.begin() + at, marked.begin() + at + kChunk,
                                                        [](std::uint8_t b) { return b != 0; });
  }
  return written;
}

namespace {

constexpr std::uint32_t kFirstSkipped = (kSkipBase - kWindowBase) / kChunk;
constexpr std::uint32_t kSkipped = (kSkipEnd - kSkipBase) / kChunk;

// The module's chunk counters skip the preserved range: the counter value of window cell `i`.
std::uint32_t counter_of(std::uint32_t i) { return i < kFirstSkipped ? i : i - kSkipped; }

bool overlaps(std::uint64_t a, std::uint64_t a_len, std::uint64_t b, std::uint64_t b_len) {
  return a < b + b_len && b < a + a_len;
}

}  // namespace

std::vector<MapCell> map_flash(const FlashRig& rig, const std::array<bool, kMapCells>& written,
                               const std::vector<std::uint8_t>& before,
                               const std::vector<std::uint8_t>& expected,
                               const std::vector<std::uint8_t>& now, std::uint32_t chunks_started,
                               const std::optional<CutFacts>& cut) {
  std::vector<MapCell> cells(kMapCells);
  const std::uint64_t size = std::min({before.size(), expected.size(), now.size()});
  const std::optional<InFlight> torn_op =
      cut && cut->in_flight && cut->in_flight->torn != 0 && cut->in_flight->length != 0 ? cut->in_flight
                                                                                        : std::nullopt;
  for (std::uint32_t i = 0; i < kMapCells; i++) {
    const std::uint32_t address = kWindowBase + i * kChunk;
    const std::uint64_t at = rig.offset_of(address);
    MapCell& cell = cells[i];
    if (!own_bytes(rig, address) || at + kChunk > size) continue;  // an alias: its bytes are another cell's
    for (std::uint32_t k = 0; k < kChunk; k++) cell.differing += now[at + k] != expected[at + k] ? 1 : 0;
    const bool preserved = address >= kSkipBase && address < kSkipEnd;
    const bool untouched = std::memcmp(now.data() + static_cast<std::ptrdiff_t>(at),
                                       before.data() + static_cast<std::ptrdiff_t>(at), kChunk) == 0;
    if (torn_op && cell.differing != 0 && overlaps(at, kChunk, torn_op->offset, torn_op->length)) {
      cell.state = CellState::Torn;
    } else if (!written[i]) {
      cell.state = cell.differing != 0 ? CellState::Differs
                   : preserved         ? CellState::Kept
                                       : CellState::Outside;
    } else if (untouched && (preserved || counter_of(i) >= chunks_started)) {
      cell.state = CellState::NotReached;  // (a refused capsule leaves every cell so, as it should)
    } else {
      cell.state = cell.differing == 0 ? CellState::Rewritten : CellState::Differs;
    }
  }
  return cells;
}

std::map<std::string, std::uint64_t> cell_counts(const std::vector<MapCell>& cells) {
  std::map<std::string, std::uint64_t> counts;
  for (CellState s : cell_states()) counts[cell_state_name(s)] = 0;
  for (const MapCell& c : cells) counts[cell_state_name(c.state)]++;
  return counts;
}

}  // namespace rsim
