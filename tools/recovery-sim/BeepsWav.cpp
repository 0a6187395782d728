// Beeps rendered to a 16-bit mono WAV file with libsndfile.
#include "tools/recovery-sim/BeepsWav.h"

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace rsim {

void write_beeps_wav(const std::string& path, const std::vector<Beep>& beeps, std::uint32_t frequency) {
  std::vector<short> samples;
  const double step = 2.0 * M_PI * frequency / kWavRate;
  auto span = [](std::uint64_t us) { return static_cast<std::size_t>(us * kWavRate / 1000000); };
  for (const auto& b : beeps) {
    for (std::uint64_t i = 0; i < b.count; i++) {
      std::size_t tone = span(b.duration);
      for (std::size_t s = 0; s < tone; s++) {
        samples.push_back(static_cast<short>(12000 * std::sin(step * static_cast<double>(s))));
      }
      samples.insert(samples.end(), span(b.interval), 0);
    }
  }
  SF_INFO info{};
  info.samplerate = kWavRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (f == nullptr) {
    throw std::runtime_error("cannot write --beeps-wav " + path + ": " + sf_strerror(nullptr));
  }
  sf_count_t written = sf_write_short(f, samples.data(), static_cast<sf_count_t>(samples.size()));
  // The header's sizes are written at the close: a failed close leaves an unplayable file.
  bool closed = sf_close(f) == 0;
  if (written != static_cast<sf_count_t>(samples.size()) || !closed) {
    std::remove(path.c_str());
    throw std::runtime_error("cannot write --beeps-wav " + path + ": the file system refused the data");
  }
}

}  // namespace rsim
