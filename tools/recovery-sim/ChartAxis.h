// A time axis for the SVG charts of the pages: seconds mapped onto a run of pixels, with
// ticks at a round step, and numbers written as the pages show them.
#pragma once

#include <string>

#include "tools/recovery-sim/HtmlPage.h"

namespace rsim {

struct ChartAxis {
  double from_s = 0, to_s = 1;  // the seconds shown
  double x0 = 0, width = 1;     // where they are drawn

  double x(double seconds) const;
  // Ticks at a round step, at most about ten: a list of {x, label ("30 s")}.
  HtmlData ticks() const;
};

// `value` with `digits` decimals ("75.4").
std::string fixed(double value, int digits);

}  // namespace rsim
