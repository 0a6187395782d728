// Beeps rendered to a 16-bit mono WAV file.
#include "tools/recovery-sim/BeepsWav.h"

#include <algorithm>
#include <cmath>

#include "tools/recovery-sim/Files.h"

namespace rsim {

namespace {

void put(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; i++) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void put(std::vector<std::uint8_t>& out, const char (&tag)[5]) {
  for (int i = 0; i < 4; i++) out.push_back(static_cast<std::uint8_t>(tag[i]));
}

}  // namespace

std::vector<std::uint8_t> beeps_wav(const std::vector<Beep>& beeps, std::uint32_t frequency) {
  std::vector<std::int16_t> samples;
  const double step = 2.0 * M_PI * frequency / kWavRate;
  auto span = [](std::uint64_t us) { return static_cast<std::size_t>(us * kWavRate / 1000000); };
  // Every tone starts at phase 0: one tone as long as the longest, cut to each beep's length.
  std::size_t longest = 0;
  for (const auto& b : beeps) longest = std::max(longest, span(b.duration));
  std::vector<std::int16_t> tone(longest);
  for (std::size_t s = 0; s < longest; s++) {
    tone[s] = static_cast<std::int16_t>(12000 * std::sin(step * static_cast<double>(s)));
  }
  for (const auto& b : beeps) {
    for (std::uint64_t i = 0; i < b.count; i++) {
      samples.insert(samples.end(), tone.begin(),
                     tone.begin() + static_cast<std::ptrdiff_t>(span(b.duration)));
      samples.insert(samples.end(), span(b.interval), 0);
    }
  }
  // RIFF header, "fmt " chunk (PCM, 1 channel, 16 bits) and "data" chunk, all little-endian.
  const auto data_bytes = static_cast<std::uint32_t>(samples.size() * 2);
  std::vector<std::uint8_t> wav;
  wav.reserve(44 + data_bytes);
  put(wav, "RIFF");
  put(wav, 36 + data_bytes, 4);
  put(wav, "WAVE");
  put(wav, "fmt ");
  put(wav, 16, 4);
  put(wav, 1, 2);
  put(wav, 1, 2);
  put(wav, kWavRate, 4);
  put(wav, kWavRate * 2, 4);
  put(wav, 2, 2);
  put(wav, 16, 2);
  put(wav, "data");
  put(wav, data_bytes, 4);
  wav.resize(44 + data_bytes);
  std::uint8_t* at = wav.data() + 44;
  for (std::int16_t s : samples) {
    *at++ = static_cast<std::uint8_t>(static_cast<std::uint16_t>(s));
    *at++ = static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8);
  }
  return wav;
}

void write_beeps_wav(const std::string& path, const std::vector<Beep>& beeps, std::uint32_t frequency) {
  const std::vector<std::uint8_t> wav = beeps_wav(beeps, frequency);
  write_output("--beeps-wav", path, wav.data(), wav.size());
}

}  // namespace rsim
