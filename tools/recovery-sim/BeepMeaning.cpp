// Beep patterns to meanings, keyed by the module's BeepCodes table so that the two cannot drift.
#include "tools/recovery-sim/BeepMeaning.h"

#include "recovery/BeepCodes.h"

namespace rsim {

namespace {

bool is(const Beep& b, const BeepPattern& p) {
  return b.count == p.Count && b.duration == p.Duration && b.interval == p.Interval;
}

// The module reuses two patterns: a failure is told apart by the two short beeps that follow it.
struct Meaning {
  const BeepPattern* pattern;
  bool before_two_short;
  const char* text;
};

const Meaning kMeanings[] = {
    {&BEEP_LOAD_FAILED,   true,  "capsule load failed"                  },
    {&BEEP_NO_FLASH_PART, true,  "no known flash part"                  },
    {&BEEP_SPEAKER_FOUND, false, "recovery started"                     },
    {&BEEP_NO_CAPSULE,    false, "no capsule, or the capsule refused"   },
    {&BEEP_NO_MEMORY,     false, "no memory for the capsule"            },
    {&BEEP_TWO_SHORT,     false, "failed"                               },
    {&BEEP_PROGRAMMING,   false, "programming started"                  },
    {&BEEP_BLOCK,         false, "64 KiB block"                         },
    {&BEEP_FLASH_FAILED,  false, "flash erase or write failed"          },
    {&BEEP_COMPLETE,      false, "recovery complete, flash closed again"},
};

}  // namespace

std::string beep_meaning(const Beep& beep, const Beep* next) {
  const bool before_two_short = next != nullptr && is(*next, BEEP_TWO_SHORT);
  for (const auto& m : kMeanings) {
    if (is(beep, *m.pattern) && (before_two_short || !m.before_two_short)) {
      return m.text;
    }
  }
  return "";
}

}  // namespace rsim
