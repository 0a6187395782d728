// The recovery-sim command that repeats a rehearsal and writes only the part of its trace that
// shows one moment: what a summary or a page points a reader to when something needs a closer look.
#pragma once

#include <string>

#include "tools/recovery-sim/Options.h"

namespace rsim {

// A shell word: left bare when it holds only safe characters, otherwise single-quoted.
std::string shell_word(const std::string& text);

// "recovery-sim --part 'SST 25VF016B' ... --trace trace.txt --trace-from chunk:16:erase": every
// option that makes this run what it is (those left at their defaults are left out), then a trace
// that starts at `from`, a point named as power cuts are (an access number, "chunk:K:erase",
// "chunk:K:program", "status-write:N" or "time:12.5s"), for the devices the run's own trace kept
// (--trace-devices) and in its form (--trace-every-access).
std::string trace_command(const Options& o, const std::string& from);

}  // namespace rsim
