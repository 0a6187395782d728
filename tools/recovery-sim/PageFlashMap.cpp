// Filling the flash map of a rehearsal's page.
#include "tools/recovery-sim/PageFlashMap.h"

#include <cstdio>

#include "tools/recovery-sim/Expectation.h"

namespace rsim {

namespace {

constexpr int kCell = 16, kGap = 2, kLabel = 172, kTop = 22;
constexpr std::uint32_t kCellsPerBlock = 16;

const char* state_words(CellState s) {
  switch (s) {
    case CellState::Rewritten:
      return "rewritten as expected";
    case CellState::Differs:
      return "differs from the expectation";
    case CellState::Kept:
      return "preserved range, kept";
    case CellState::Torn:
      return "torn by the power cut";
    case CellState::NotReached:
      return "not reached, old contents";
    case CellState::Outside:
      break;
  }
  return "outside the BIOS region (no recovery writes it)";
}

std::string cell_title(const Report& r, std::uint32_t i, const MapCell& c) {
  const std::uint32_t address = kWindowBase + i * kChunk;
  const std::uint64_t size = r.flash.size != 0 ? r.flash.size : kCapsuleBytes;
  const std::uint64_t linear = (size - (0x100000000ull - address) % size) % size;
  char buf[192];
  std::snprintf(buf, sizeof buf, "memory 0x%08X-0x%08X, linear 0x%06llX: %s; %u of 4096 bytes differ",
                address, address + kChunk - 1, static_cast<unsigned long long>(linear), state_words(c.state),
                c.differing);
  return buf;
}

// The blocks a reader should look at: runs of cells in one state that is not as it should be.
HtmlData wrong_ranges(const Report& r) {
  HtmlData list{HtmlData::type::list};
  const auto& cells = r.flash.map;
  for (std::uint32_t i = 0; i < cells.size();) {
    const CellState s = cells[i].state;
    std::uint32_t end = i;
    std::uint64_t differing = 0;
    while (end < cells.size() && cells[end].state == s) differing += cells[end++].differing;
    if (s == CellState::Differs || s == CellState::Torn || s == CellState::NotReached) {
      HtmlData item;
      item.set("state", cell_state_name(s));
      item.set("words", state_words(s));
      item.set("range", cell_range_text(i, end - 1));
      item.set("blocks", i / kCellsPerBlock == (end - 1) / kCellsPerBlock
                             ? "block " + std::to_string(i / kCellsPerBlock)
                             : "blocks " + std::to_string(i / kCellsPerBlock) + "-" +
                                   std::to_string((end - 1) / kCellsPerBlock));
      item.set("cells", std::to_string(end - i) + (end - i == 1 ? " cell" : " cells"));
      item.set("differing", std::to_string(differing));
      list.push_back(item);
    }
    i = end;
  }
  return list;
}

}  // namespace

std::string cell_range_text(std::uint32_t first, std::uint32_t last) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%08X-0x%08X", kWindowBase + first * kChunk,
                kWindowBase + (last + 1) * kChunk - 1);
  return buf;
}

HtmlData flash_map_html(const Report& r) {
  HtmlData map;
  const auto& cells = r.flash.map;
  const int width = kLabel + static_cast<int>(kCellsPerBlock) * (kCell + kGap);
  const int rows = static_cast<int>(cells.size() / kCellsPerBlock);
  map.set("width", std::to_string(width));
  map.set("height", std::to_string(kTop + rows * (kCell + kGap) + 4));
  map.set("cell", std::to_string(kCell));
  HtmlData columns{HtmlData::type::list};
  for (std::uint32_t c = 0; c < kCellsPerBlock; c += 4) {
    HtmlData col;
    col.set("x", std::to_string(kLabel + static_cast<int>(c) * (kCell + kGap)));
    col.set("label", "+" + std::to_string(c * 4) + "K");
    columns.push_back(col);
  }
  map.set("columns", columns);
  map.set("top", std::to_string(kTop - 8));
  const std::optional<std::uint32_t> cut_chunk = r.cut ? r.cut->chunk : std::nullopt;
  HtmlData row_list{HtmlData::type::list};
  for (int row = 0; row < rows; row++) {
    HtmlData rd;
    const int y = kTop + row * (kCell + kGap);
    const std::uint32_t address = kWindowBase + static_cast<std::uint32_t>(row) * kCellsPerBlock * kChunk;
    char label[64];
    std::snprintf(label, sizeof label, "0x%08X  %2d", address, row);
    rd.set("label", label);
    rd.set("text_y", std::to_string(y + kCell - 4));
    if (address == kSkipBase) rd.set("note", "preserved");
    if (r.brick_window && address == (r.brick_window->first & ~0xFFFFu)) rd.set("note", "boot block");
    HtmlData row_cells{HtmlData::type::list};
    for (std::uint32_t k = 0; k < kCellsPerBlock; k++) {
      const std::uint32_t i = static_cast<std::uint32_t>(row) * kCellsPerBlock + k;
      HtmlData cd;
      cd.set("x", std::to_string(kLabel + static_cast<int>(k) * (kCell + kGap)));
      cd.set("y", std::to_string(y));
      cd.set("state", cell_state_name(cells[i].state));
      cd.set("title", cell_title(r, i, cells[i]));
      row_cells.push_back(cd);
      if (cut_chunk == i) {
        HtmlData cut;
        cut.set("x", std::to_string(kLabel + static_cast<int>(k) * (kCell + kGap) - 2));
        cut.set("y", std::to_string(y - 2));
        cut.set("size", std::to_string(kCell + 4));
        map.set("cut_cell", cut);
      }
    }
    rd.set("cells", row_cells);
    row_list.push_back(rd);
  }
  map.set("rows", row_list);
  const auto counts = cell_counts(cells);
  HtmlData legend{HtmlData::type::list};
  for (CellState s : cell_states()) {
    HtmlData item;
    item.set("state", cell_state_name(s));
    item.set("words", state_words(s));
    item.set("count", std::to_string(counts.at(cell_state_name(s))));
    legend.push_back(item);
  }
  map.set("legend", legend);
  HtmlData wrong = wrong_ranges(r);
  if (!wrong.is_empty_list()) {
    map.set("wrong", wrong);
    map.set("has_wrong", true);
  }
  return map;
}

}  // namespace rsim
