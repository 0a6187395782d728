// The beeps of a rehearsal as sound: each Beep(count, duration, interval) becomes `count` tones of
// `duration` microseconds at the last SetFrequency tone, each followed by `interval` microseconds
// of silence.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/recovery-sim/Report.h"

namespace rsim {

constexpr int kWavRate = 16000;

// A 16-bit mono PCM WAV file, as bytes (a page embeds them).
std::vector<std::uint8_t> beeps_wav(const std::vector<Beep>& beeps, std::uint32_t frequency);

// Throws std::runtime_error when the file cannot be written (and leaves no part of it).
void write_beeps_wav(const std::string& path, const std::vector<Beep>& beeps, std::uint32_t frequency);

}  // namespace rsim
