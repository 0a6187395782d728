// The beeps of a rehearsal as sound: each Beep(count, duration, interval) becomes `count` tones of
// `duration` microseconds at the last SetFrequency tone, each followed by `interval` microseconds
// of silence.
#pragma once

#include <string>
#include <vector>

#include "tools/recovery-sim/Report.h"

namespace rsim {

constexpr int kWavRate = 16000;

// Throws std::runtime_error when the file cannot be written.
void write_beeps_wav(const std::string& path, const std::vector<Beep>& beeps, std::uint32_t frequency);

}  // namespace rsim
