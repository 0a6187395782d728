// Filling the timeline of a rehearsal's page.
#include "tools/recovery-sim/PageTimeline.h"

#include <algorithm>
#include <cstdio>

#include "tools/recovery-sim/BeepMeaning.h"
#include "tools/recovery-sim/ChartAxis.h"
#include "tools/recovery-sim/EcMeaning.h"
#include "tools/recovery-sim/Expectation.h"
#include "tools/recovery-sim/PageFlashMap.h"
#include "tools/recovery-sim/TraceCommand.h"

namespace rsim {

namespace {

constexpr double kLeft = 130, kPlot = 1000, kLane = 30, kTop = 24;

enum Lane { kEcLane, kChipsetLane, kDetectLane, kBlocksLane, kBeepsLane, kPostLane, kBootLane, kLanes };
const char* const kLaneNames[kLanes] = {"EC",    "BIOS write", "Detection", "64 KiB blocks",
                                        "Beeps", "POST codes", "Boot block"};

// Drawing on simulated time from 0 to the end of the run.
struct Scale {
  double end_ns;
  double x(double ns) const { return kLeft + kPlot * std::clamp(ns / end_ns, 0.0, 1.0); }
};

double lane_y(int lane) { return kTop + lane * kLane; }

void bar(HtmlData& b, const Scale& s, int lane, double start, double end, const std::string& cls,
         const std::string& title, const std::string& anchor) {
  const double x0 = s.x(start), x1 = std::max(s.x(end), x0 + 2);
  b.set("x", svg_number(x0));
  b.set("y", svg_number(lane_y(lane) + 6));
  b.set("w", svg_number(x1 - x0));
  b.set("h", svg_number(kLane - 12));
  b.set("cls", cls);
  b.set("title", title);
  b.set("anchor", anchor);
}

void mark(HtmlData& m, const Scale& s, int lane, double at, const std::string& cls, const std::string& title,
          const std::string& anchor) {
  m.set("x", svg_number(s.x(at)));
  m.set("y1", svg_number(lane_y(lane) + 4));
  m.set("y2", svg_number(lane_y(lane) + kLane - 4));
  m.set("cls", cls);
  m.set("title", title);
  m.set("anchor", anchor);
}

std::string span_text(std::uint64_t start, std::uint64_t end) {
  return seconds_text(start) + " to " + seconds_text(end);
}

void phase(HtmlData& p, const Options& o, const std::string& anchor, const std::string& name,
           std::uint64_t start, std::optional<std::uint64_t> end, const std::string& what,
           const std::string& from) {
  p.set("anchor", anchor);
  p.set("name", name);
  p.set("when", end ? span_text(start, *end) : seconds_text(start));
  p.set("what", what);
  p.set("command", trace_command(o, from));
}

// The worst state among a block's cells: what its bar on the timeline shows.
CellState block_state(const Report& r, std::uint32_t block) {
  static constexpr CellState kWorstFirst[] = {CellState::Torn, CellState::Differs, CellState::NotReached,
                                              CellState::Rewritten};
  for (CellState s : kWorstFirst) {
    for (std::uint32_t k = 0; k < 16 && block * 16 + k < r.flash.map.size(); k++) {
      if (r.flash.map[block * 16 + k].state == s) return s;
    }
  }
  return CellState::Rewritten;
}

}  // namespace

std::string trace_point_at(std::uint64_t ns) {
  if (ns < 1000) return "1";
  return cut_point_name(Fault{FaultKind::PowerCut, ns, CutAt::Time});
}

void timeline_html(const Options& o, const Report& r, HtmlData& d) {
  const Timeline& t = r.timeline;
  const std::uint64_t end = std::max<std::uint64_t>(r.simulated_ns, 1);
  const Scale s{static_cast<double>(end)};
  HtmlData& bars = html_child(d, "bars", HtmlData::type::list);
  HtmlData& marks = html_child(d, "marks", HtmlData::type::list);
  HtmlData& phases = html_child(d, "phases", HtmlData::type::list);

  // The embedded controller: the handshake into flash mode, and the one out of it at the end.
  const std::uint64_t first_post = t.post_codes.empty() ? end : t.post_codes.front();
  const std::uint64_t handshake_end = t.write_enabled.value_or(first_post);
  std::size_t entering = 0;
  while (entering < t.ec_commands.size() && t.ec_commands[entering] <= handshake_end) entering++;
  for (std::size_t i = 0; i < t.ec_commands.size(); i++) {
    const auto& [command, data] = r.ec_commands[i];
    char title[96];
    std::snprintf(title, sizeof title, "EC command %02X %02X at %s", command, data,
                  seconds_text(t.ec_commands[i]).c_str());
    const std::string meaning = ec_command_meaning(command, data);
    mark(html_item(marks), s, kEcLane, static_cast<double>(t.ec_commands[i]), "m-ec",
         std::string(title) + (meaning.empty() ? "" : ": " + meaning), "ec");
  }
  if (!t.ec_commands.empty()) {
    const std::string title = "EC handshake into flash mode: " + span_text(0, handshake_end);
    bar(html_item(bars), s, kEcLane, 0, static_cast<double>(handshake_end), "b-ec", title, "phase-ec");
    phase(html_item(phases), o, "phase-ec", "EC handshake", 0, handshake_end,
          "the controller is asked into flash mode, and the module waits for it", "1");
  }
  if (t.write_enabled) {
    const std::string title = "BIOS write enable (BIOS_CNTL) at " + seconds_text(*t.write_enabled);
    mark(html_item(marks), s, kChipsetLane, static_cast<double>(*t.write_enabled), "m-we", title, "phase-we");
    phase(html_item(phases), o, "phase-we", "BIOS write enable", *t.write_enabled, std::nullopt,
          "BIOS_CNTL's write enable set", trace_point_at(*t.write_enabled));
  }
  // Detection: from write enable (or the handshake) to the first chunk counter.
  std::optional<std::uint64_t> first_chunk;
  for (std::size_t i = 0; i < r.post_codes.size(); i++) {
    if (r.post_codes[i] == 0x00) {
      first_chunk = t.post_codes[i];
      break;
    }
  }
  if (!t.ec_commands.empty() || t.write_enabled) {
    const std::uint64_t from = handshake_end, to = first_chunk.value_or(end);
    const std::string title = "detecting the flash part and clearing its protection: " + span_text(from, to);
    bar(html_item(bars), s, kDetectLane, static_cast<double>(from), static_cast<double>(to), "b-detect",
        title, "phase-detect");
    phase(html_item(phases), o, "phase-detect", "Detection", from, to,
          r.detected ? "the part answers as " + r.detected->first + " " + r.detected->second
                     : std::string("no part detected"),
          trace_point_at(from));
  }
  // Each 64 KiB block: from its first erase to its last program, coloured by what it holds now.
  for (std::uint32_t b = 0; b < kBlocks; b++) {
    const BlockTimes& bt = t.blocks[b];
    if (!bt.erase && !bt.program) continue;
    const std::uint64_t from =
        std::min(bt.erase ? bt.erase->start : end, bt.program ? bt.program->start : end);
    const std::uint64_t to = std::min<std::uint64_t>(
        end, std::max(bt.erase ? bt.erase->end : 0, bt.program ? bt.program->end : 0));
    const CellState state = block_state(r, b);
    const std::string anchor = "block-" + std::to_string(b);
    const std::string range = cell_range_text(b * 16, b * 16 + 15);
    HtmlData& block_bar = html_item(bars);
    bar(block_bar, s, kBlocksLane, static_cast<double>(from), static_cast<double>(to),
        std::string("s-") + cell_state_name(state) + (b % 2 ? " odd" : ""),
        "block " + std::to_string(b) + " " + range + ": " + span_text(from, to), anchor);
    // Numbered where the bar has room for it.
    if (s.x(static_cast<double>(to)) - s.x(static_cast<double>(from)) >= 16) {
      block_bar.set("label", std::to_string(b));
      block_bar.set("label_x",
                    svg_number((s.x(static_cast<double>(from)) + s.x(static_cast<double>(to))) / 2));
      block_bar.set("label_y", svg_number(lane_y(kBlocksLane) + kLane / 2 + 4));
    }
    const std::string chunk = "chunk:" + std::to_string(b * 16);
    HtmlData& p = html_item(phases);
    p.set("anchor", anchor);
    p.set("name", "Block " + std::to_string(b));
    p.set("range", range);
    p.set("state", cell_state_name(state));
    if (bt.erase) {
      p.set("erase", span_text(bt.erase->start, std::min<std::uint64_t>(bt.erase->end, end)));
      p.set("erase_command", trace_command(o, chunk + ":erase"));
    }
    if (bt.program) {
      p.set("program", span_text(bt.program->start, std::min<std::uint64_t>(bt.program->end, end)));
      p.set("program_command", trace_command(o, chunk + ":program"));
    }
  }
  // Beeps and POST codes as ticks; the beeps also as a table with their meaning.
  for (std::size_t i = 0; i < t.beeps.size() && i < r.beeps.size(); i++) {
    const Beep& b = r.beeps[i];
    const std::string meaning = beep_meaning(b, i + 1 < r.beeps.size() ? &r.beeps[i + 1] : nullptr);
    mark(html_item(marks), s, kBeepsLane, static_cast<double>(t.beeps[i]), "m-beep",
         "beep " + std::to_string(i + 1) + " at " + seconds_text(t.beeps[i]) + ": (" +
             std::to_string(b.count) + ", " + std::to_string(b.duration) + ", " + std::to_string(b.interval) +
             ")" + (meaning.empty() ? "" : " " + meaning),
         "beep-" + std::to_string(i + 1));
  }
  std::string path;
  for (std::size_t i = 0; i < t.post_codes.size(); i++) {
    path += "M" + svg_number(s.x(static_cast<double>(t.post_codes[i]))) + " " +
            svg_number(lane_y(kPostLane) + 6) + "v" + svg_number(kLane - 12);
  }
  // The boot block's brick window.
  if (r.brick_window) {
    for (const BrickSpan& span : r.brick_window->spans) {
      const std::uint64_t to = span.end.value_or(end);
      bar(html_item(bars), s, kBootLane, static_cast<double>(span.start), static_cast<double>(to), "b-brick",
          "brick window: the boot block neither old nor new, " + span_text(span.start, to), "phase-brick");
    }
  }
  // The end of the run: the final spin, a power cut, a return or a hang.
  const double bottom = lane_y(kLanes);
  if (r.cut) {
    HtmlData cut;
    cut.set("x", svg_number(s.x(static_cast<double>(r.cut->time))));
    cut.set("label", "power cut " + seconds_text(r.cut->time) +
                         (r.cut->chunk ? ", chunk " + std::to_string(*r.cut->chunk) : std::string()));
    // The label reads away from the line, towards the middle of the drawing.
    const bool right_half = s.x(static_cast<double>(r.cut->time)) > kLeft + kPlot / 2;
    cut.set("text_anchor", right_half ? "end" : "start");
    cut.set("dx", right_half ? "-4" : "4");
    d.set("cut_line", cut);
    phase(html_item(phases), o, "phase-cut", "Power cut", r.cut->time, std::nullopt,
          "after access " + std::to_string(r.cut->access) + ", " + r.cut->phase +
              (r.cut->chunk ? " of chunk " + std::to_string(*r.cut->chunk) : std::string()),
          std::to_string(r.cut->access > 200 ? r.cut->access - 200 : 1));
  } else {
    d.set("end_label", r.outcome.kind == sim::OutcomeKind::FinalSpin ? "final spin" : "end of the run");
    const std::uint64_t last = t.ec_commands.size() > entering ? t.ec_commands[entering] : end;
    phase(html_item(phases), o, "phase-end",
          r.outcome.kind == sim::OutcomeKind::FinalSpin ? "Leaving flash mode, final spin" : "End of the run",
          std::min(last, end), end, outcome_text(r.outcome), trace_point_at(std::min(last, end)));
  }
  HtmlData lanes{HtmlData::type::list};
  for (int l = 0; l < kLanes; l++) {
    HtmlData lane;
    lane.set("name", kLaneNames[l]);
    lane.set("y", svg_number(lane_y(l)));
    lane.set("text_y", svg_number(lane_y(l) + kLane / 2 + 4));
    lanes.push_back(lane);
  }
  d.set("width", svg_number(kLeft + kPlot + 20));
  d.set("height", svg_number(bottom + 26));
  d.set("left", svg_number(kLeft));
  d.set("right", svg_number(kLeft + kPlot));
  d.set("top", svg_number(kTop));
  d.set("bottom", svg_number(bottom));
  d.set("tick_y", svg_number(bottom + 16));
  d.set("end_x", svg_number(s.x(static_cast<double>(end))));
  d.set("lanes", lanes);
  d.set("ticks", ChartAxis{0, s.end_ns / 1e9, kLeft, kPlot}.ticks());
  d.set("post_path", path);
}

}  // namespace rsim
