// The flash map of a rehearsal's page: the window's 512 cells as rows of 64 KiB blocks, with the
// legend, the counts per state, and the wrong ranges in words.
#pragma once

#include "tools/recovery-sim/HtmlPage.h"
#include "tools/recovery-sim/Report.h"

namespace rsim {

// Data for the "map" part of rehearsal.html.
HtmlData flash_map_html(const Report& r);

// "0xFFE64000-0xFFE64FFF" for window cells first..last.
std::string cell_range_text(std::uint32_t first, std::uint32_t last);

}  // namespace rsim
