// Filling the survey pages' templates (html/compatibility.html, html/estimates.html and the bar
// chart they share, html/bar-chart.html) from the surveys' JSON.
#include "tools/recovery-sim/SurveyPages.h"

#include <algorithm>
#include <vector>

#include "tools/recovery-sim/ChartAxis.h"
#include "tools/recovery-sim/HtmlPage.h"
#include "tools/recovery-sim/Survey.h"

namespace rsim {

namespace {

using nlohmann::json;

// The bar chart's geometry, in SVG units: labels right-aligned before the bars, the figures after.
constexpr double kWidth = 1120, kLabelEnd = 372, kBarsX = 380, kBarsWidth = 440, kFiguresX = 828;
constexpr double kTop = 26, kRowHeight = 20, kBarHeight = 14, kBusyHeight = 6;

// What a cell of the matrix shows: verified; the run completed with wrong bytes; or it stopped
// (refused, not detected, hung, returned an error).
struct Verdict {
  const char* css;
  const char* word;
};
Verdict verdict_of(const json& state) {
  if (state["verified"].get<bool>()) return {"ok", "verified"};
  if (state["outcome"] == "final-spin") return {"wrong", "wrong bytes"};
  return {"stops", "fails"};
}

// The verdict's words after "FAILS: ": the run's end and its cause.
std::string detail_of(const json& state) {
  std::string text = state["verdict"].get<std::string>();
  const std::string prefix = "FAILS: ";
  return text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : "";
}

HtmlData cell(const json& state) {
  Verdict v = verdict_of(state);
  HtmlData d;
  d.set("class", v.css);
  d.set("word", v.word);
  const std::string detail = detail_of(state);
  d.set("has_detail", !detail.empty());
  d.set("detail", detail);
  return d;
}

// One bar per row: `state` is the run the bar shows.
HtmlData bar_chart(const json& rows, const char* state_key) {
  auto state = [&](const json& row) -> const json& { return state_key ? row[state_key] : row; };
  double longest = 1;
  for (const auto& row : rows) longest = std::max(longest, state(row)["simulated_us"].get<double>() / 1e6);
  ChartAxis axis{0, longest, kBarsX, kBarsWidth};
  HtmlData bars{HtmlData::type::list};
  double y = kTop;
  for (const auto& row : rows) {
    const json& s = state(row);
    const double total = s["simulated_us"].get<double>() / 1e6, busy = s["part_busy_us"].get<double>() / 1e6;
    HtmlData bar;
    bar.set("part", row["part"].get<std::string>());
    bar.set("mode", row["mode"].get<std::string>());
    bar.set("verified", s["verified"].get<bool>());
    bar.set("verdict", s["verdict"].get<std::string>());
    bar.set("total", fixed(total, 1) + " s");
    bar.set("busy", fixed(busy, 1) + " s");
    bar.set("ratio", busy > 0 ? fixed(total / busy, 1) : "-");
    bar.set("y", svg_number(y));
    bar.set("busy_y", svg_number(y + (kBarHeight - kBusyHeight) / 2));
    bar.set("text_y", svg_number(y + kBarHeight - 3));
    bar.set("total_w", svg_number(std::max(axis.x(total) - kBarsX, 1.0)));
    bar.set("busy_w", svg_number(axis.x(busy) - kBarsX));
    bars.push_back(bar);
    y += kRowHeight;
  }
  HtmlData chart;
  chart.set("bars", bars);
  chart.set("ticks", axis.ticks());
  chart.set("width", svg_number(kWidth));
  chart.set("height", svg_number(y + 4));
  chart.set("bottom", svg_number(y));
  chart.set("label_x", svg_number(kLabelEnd));
  chart.set("x0", svg_number(kBarsX));
  chart.set("figures_x", svg_number(kFiguresX));
  chart.set("bar_h", svg_number(kBarHeight));
  chart.set("busy_h", svg_number(kBusyHeight));
  return chart;
}

void set_engine(HtmlData& page, const Options& engine) {
  page.set("engine", engine.engine);
  page.set("has_image", engine.image.has_value());
  page.set("image", engine.image.value_or(""));
}

}  // namespace

std::string compatibility_page(const json& matrix, const Options& engine) {
  HtmlData page;
  page.set("title", "Compatibility of every part (recovery-sim)");
  set_engine(page, engine);
  std::size_t power_on = 0, cleared = 0;
  HtmlData rows{HtmlData::type::list};
  for (const auto& row : matrix) {
    power_on += row["power_on"]["verified"].get<bool>() ? 1 : 0;
    cleared += row["cleared"]["verified"].get<bool>() ? 1 : 0;
    HtmlData r;
    r.set("part", row["part"].get<std::string>());
    r.set("bus", row["bus"].get<std::string>());
    r.set("mode", row["mode"].get<std::string>());
    HtmlData states{HtmlData::type::list};
    states.push_back(cell(row["power_on"]));
    states.push_back(cell(row["cleared"]));
    r.set("states", states);
    rows.push_back(r);
  }
  page.set("matrix", rows);
  page.set("rows", std::to_string(matrix.size()));
  page.set("verified_power_on", std::to_string(power_on));
  page.set("verified_cleared", std::to_string(cleared));
  page.set("chart", bar_chart(matrix, "cleared"));
  page.set("notes", html_list(part_notes(), [](const std::string& n) { return HtmlData(n); }));
  return render_html("compatibility.html", page);
}

std::string estimates_page(const json& estimates, const Options& engine) {
  HtmlData page;
  page.set("title", "Recovery time on hardware of every part (recovery-sim)");
  set_engine(page, engine);
  std::size_t verified = 0;
  for (const auto& row : estimates) verified += row["verified"].get<bool>() ? 1 : 0;
  page.set("rows", std::to_string(estimates.size()));
  page.set("verified", std::to_string(verified));
  page.set("chart", bar_chart(estimates, nullptr));
  return render_html("estimates.html", page);
}

}  // namespace rsim
