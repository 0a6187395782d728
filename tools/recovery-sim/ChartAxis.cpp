// Placing seconds on a chart and choosing its ticks.
#include "tools/recovery-sim/ChartAxis.h"

#include <cmath>
#include <cstdio>

namespace rsim {

double ChartAxis::x(double seconds) const {
  const double span = to_s > from_s ? to_s - from_s : 1;
  return x0 + (seconds - from_s) / span * width;
}

HtmlData ChartAxis::ticks() const {
  static constexpr double kSteps[] = {0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1,   2,   5,
                                      10,   15,   30,   60,  120, 300, 600, 1200};
  const double span = to_s > from_s ? to_s - from_s : 1;
  double step = kSteps[std::size(kSteps) - 1];
  for (double s : kSteps) {
    if (span / s <= 10) {
      step = s;
      break;
    }
  }
  const int digits = step >= 1 ? 0 : step >= 0.1 ? 1 : 2;
  HtmlData list{HtmlData::type::list};
  for (double t = std::ceil(from_s / step) * step; t <= to_s + step * 1e-9; t += step) {
    HtmlData tick;
    tick.set("x", svg_number(x(t)));
    tick.set("label", fixed(t, digits) + " s");
    list.push_back(tick);
  }
  return list;
}

std::string fixed(double value, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", digits, value);
  return text;
}

}  // namespace rsim
