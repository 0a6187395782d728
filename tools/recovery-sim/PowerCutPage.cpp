// Filling html/power-cut-survey.html and its strips (html/cut-strip.html) from a survey's JSON.
// A merged report comes from files the user gives: fields an older report lacks are left out of
// the page, not taken for zero.
#include "tools/recovery-sim/PowerCutPage.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "tools/recovery-sim/ChartAxis.h"
#include "tools/recovery-sim/HtmlPage.h"
#include "tools/recovery-sim/PowerCutSurvey.h"

namespace rsim {

namespace {

using nlohmann::json;

constexpr double kWidth = 1120, kStripX = 220, kStripWidth = 880, kTop = 22, kLaneHeight = 28;

struct Lane {
  std::string_view outcome, words;
};
constexpr Lane kLanes[] = {
    {"recovered", "recovered on the next run"},
    {"bricked",   "inside the brick window"  },
    {"failed",    "did not recover"          },
};

// A field of a report read from a file: null where it is missing.
const json& at(const json& j, const char* key) {
  static const json none;
  if (!j.is_object()) return none;
  auto it = j.find(key);
  return it == j.end() ? none : *it;
}

std::string text_of(const json& j) {
  if (j.is_null()) return "-";
  return j.is_string() ? j.get<std::string>() : j.dump();
}

double seconds(const json& us) { return us.is_number() ? us.get<double>() / 1e6 : 0; }

// The brick window's spans, in seconds: [start, end), an open span ending with the run.
std::vector<std::pair<double, double>> brick_spans(const json& reference) {
  std::vector<std::pair<double, double>> spans;
  const json& window = at(reference, "brick_window");
  if (!window.is_object() || !at(window, "spans").is_array()) return spans;
  for (const auto& s : at(window, "spans")) {
    spans.emplace_back(seconds(at(s, "start_us")), at(s, "end_us").is_null()
                                                       ? seconds(at(reference, "simulated_us"))
                                                       : seconds(at(s, "end_us")));
  }
  return spans;
}

std::string cut_title(const json& c) {
  std::string t = "cut " + text_of(at(c, "index")) + " (" + text_of(at(c, "label")) + ")";
  if (c.contains("error")) return t + ": " + text_of(at(c, "error"));
  t += " at " + fixed(seconds(at(c, "time_us")), 3) + " s, access " + text_of(at(c, "access")) + ", chunk " +
       text_of(at(c, "chunk")) + " " + text_of(at(c, "phase"));
  if (!at(c, "in_flight").is_null()) t += ", " + text_of(at(c, "in_flight")) + " in flight";
  return t + "; boot block " + text_of(at(c, "boot_block")) + "; next run " + text_of(at(c, "next"));
}

// One strip over [from, to] seconds: a lane per result, the brick window across the lanes.
HtmlData strip(const std::string& id, const std::string& heading, double from, double to, const json& cuts,
               const std::vector<std::pair<double, double>>& spans) {
  ChartAxis axis{from, to, kStripX, kStripWidth};
  const double bottom = kTop + kLaneHeight * std::size(kLanes);
  HtmlData lanes{HtmlData::type::list}, marks{HtmlData::type::list}, band{HtmlData::type::list};
  for (std::size_t i = 0; i < std::size(kLanes); i++) {
    std::size_t count = 0;
    const double middle = kTop + kLaneHeight * (static_cast<double>(i) + 0.5);
    for (const auto& c : cuts) {
      const double t = seconds(at(c, "time_us"));
      if (cut_outcome(c) != kLanes[i].outcome || t < from || t > to) continue;
      count++;
      HtmlData mark;
      mark.set("outcome", std::string(kLanes[i].outcome));
      // Every shape's flag set: an unset one would be looked up in the page's own fields.
      for (const Lane& l : kLanes) mark.set(std::string(l.outcome), l.outcome == kLanes[i].outcome);
      mark.set("x", svg_number(axis.x(t)));
      mark.set("y", svg_number(middle));
      mark.set("title", cut_title(c));
      marks.push_back(mark);
    }
    HtmlData lane;
    lane.set("outcome", std::string(kLanes[i].outcome));
    lane.set("words", std::string(kLanes[i].words));
    lane.set("count", std::to_string(count));
    lane.set("y", svg_number(kTop + kLaneHeight * static_cast<double>(i)));
    lane.set("text_y", svg_number(middle + 4));
    lanes.push_back(lane);
  }
  for (const auto& [start, end] : spans) {
    if (end < from || start > to) continue;
    HtmlData span;
    const double x = axis.x(std::max(start, from));
    span.set("x", svg_number(x));
    span.set("w", svg_number(std::max(axis.x(std::min(end, to)) - x, 0.8)));
    band.push_back(span);
  }
  HtmlData d;
  d.set("id", id);
  d.set("heading", heading);
  d.set("lanes", lanes);
  d.set("marks", marks);
  d.set("spans", band);
  d.set("ticks", axis.ticks());
  d.set("width", svg_number(kWidth));
  d.set("x0", svg_number(kStripX));
  d.set("strip_w", svg_number(kStripWidth));
  d.set("label_x", svg_number(kStripX - 8));
  d.set("top", svg_number(kTop));
  d.set("bottom", svg_number(bottom));
  d.set("band_h", svg_number(bottom - kTop));
  d.set("height", svg_number(bottom + 6));
  return d;
}

HtmlData settings_list(const json& survey) {
  HtmlData list{HtmlData::type::list};
  auto add = [&](const std::string& name, const std::string& value) {
    HtmlData row;
    row.set("name", name);
    row.set("value", value);
    list.push_back(row);
  };
  const json& s = at(survey, "settings");
  for (const auto& [key, value] : s.items()) add(key, text_of(value));
  add("shard", text_of(at(survey, "shard")));
  add("cuts in the whole survey", text_of(at(survey, "cuts_in_all")));
  const json& host = at(survey, "host_seconds");
  add("host time", host.is_number() ? fixed(host.get<double>(), 1) + " s" : "-");
  return list;
}

HtmlData cut_rows(const json& cuts) {
  return html_list(cuts, [](const json& c) {
    HtmlData row;
    row.set("outcome", cut_outcome(c));
    row.set("index", text_of(at(c, "index")));
    row.set("label", text_of(at(c, "label")));
    const bool reached = !c.contains("error");
    row.set("reached", reached);
    row.set("error", reached ? "" : text_of(at(c, "error")));
    if (reached) {
      row.set("time", fixed(seconds(at(c, "time_us")), 3));
      for (const char* key : {"access", "chunk", "phase", "in_flight", "torn_bytes", "boot_block"}) {
        row.set(key, text_of(at(c, key)));
      }
      row.set("next", text_of(at(c, "next")));
    }
    return row;
  });
}

}  // namespace

std::string power_cut_page(const json& survey) {
  const json& settings = at(survey, "settings");
  const json& reference = at(survey, "reference");
  const json& cuts = at(survey, "cuts");
  const double total = seconds(at(reference, "simulated_us"));
  const std::vector<std::pair<double, double>> spans = brick_spans(reference);

  HtmlData page;
  const std::string part = text_of(at(settings, "part"));
  page.set("title", "Power-cut survey: " + part + " (recovery-sim)");
  page.set("part", part);
  const std::string variant =
      at(settings, "variant").is_string() ? at(settings, "variant").get<std::string>() : "";
  page.set("has_variant", !variant.empty());
  page.set("variant", variant);
  page.set("passed", power_cut_survey_passed(survey));
  for (const char* key : {"cuts", "recovered", "bricked", "failed"}) {
    page.set(key, text_of(at(survey, "summary")[key]));
  }
  page.set("reference_verified", at(reference, "verified") == true);
  page.set("reference_outcome", text_of(at(reference, "outcome")));
  page.set("total", fixed(total, 2));
  page.set("brick", fixed(seconds(at(reference, "brick_us")), 2));
  page.set("has_window", !spans.empty());

  HtmlData strips{HtmlData::type::list};
  strips.push_back(
      strip("whole", "The whole recovery, 0 to " + fixed(total, 2) + " s", 0, total, cuts, spans));
  const double start = spans.empty() ? 0 : spans.front().first, end = spans.empty() ? 0 : spans.back().second;
  if (!spans.empty() && end - start < total / 4) {
    // The window is a few seconds of a minute or more: drawn again with room on either side.
    const double margin = std::max((end - start) * 0.25, 0.01);
    const double from = std::max(start - margin, 0.0), to = std::min(end + margin, total);
    strips.push_back(strip("window",
                           "Around the brick window, " + fixed(from, 2) + " to " + fixed(to, 2) + " s", from,
                           to, cuts, spans));
  }
  page.set("strips", strips);
  page.set("settings", settings_list(survey));
  page.set("rows", cut_rows(cuts));
  return render_html("power-cut-survey.html", page);
}

}  // namespace rsim
