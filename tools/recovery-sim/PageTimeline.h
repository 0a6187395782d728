// The timeline of a rehearsal's page: the recovery's steps on simulated time, each phase with the
// command that repeats the run and traces it.
#pragma once

#include "tools/recovery-sim/HtmlPage.h"
#include "tools/recovery-sim/Options.h"
#include "tools/recovery-sim/Report.h"

namespace rsim {

// Data for the "timeline" part of rehearsal.html: the drawing and the table of phases.
HtmlData timeline_html(const Options& o, const Report& r);

// The point a trace of simulated time `ns` into the run starts from: "time:12.345s" (an access
// number for the very start, where a time would be 0).
std::string trace_point_at(std::uint64_t ns);

}  // namespace rsim
