// The speaker PPI as the module sees it: records the tone frequency and every beep request in
// order, and lets the simulated clock run for as long as the beeps would sound.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "pi/SpeakerPpi.h"
#include "sim/Bus.h"

namespace sim {

class PeiEnvironment;

struct BeepRequest {
  std::uint64_t count = 0;
  std::uint64_t duration = 0;  // per beep, in the speaker driver's time unit
  std::uint64_t interval = 0;  // silence after each beep
  bool operator==(const BeepRequest&) const = default;
};

// "(3, 200000, 20000)", as test failures and reports show a beep.
void PrintTo(const BeepRequest& b, std::ostream* os);

class SpeakerModel {
 public:
  explicit SpeakerModel(PeiEnvironment& env);
  SpeakerModel(const SpeakerModel&) = delete;
  SpeakerModel& operator=(const SpeakerModel&) = delete;

  PEI_SPEAKER_IF_PPI* ppi() { return &ppi_; }
  const std::vector<std::uint16_t>& frequencies() const { return frequencies_; }
  const std::vector<BeepRequest>& beeps() const { return beeps_; }
  // The frequency in force when each beep was requested (0 before any SetFrequency).
  const std::vector<std::uint16_t>& beep_frequencies() const { return beep_frequencies_; }
  // The simulated time at which each beep was requested (0 without a current platform).
  const std::vector<Nanos>& beep_times() const { return beep_times_; }

  // The driver busy-waits while it beeps. Duration and interval count this many nanoseconds
  // (default: microseconds); 0 makes beeps take no simulated time.
  void set_time_unit(Nanos ns) { time_unit_ = ns; }
  // Simulated time all beeps so far took.
  Nanos beep_time() const { return beep_time_; }

 private:
  static EFI_STATUS EFIAPI set_frequency(EFI_PEI_SERVICES** services, UINT16 frequency);
  static EFI_STATUS EFIAPI beep(EFI_PEI_SERVICES** services, UINTN count, UINTN duration, UINTN interval);
  static SpeakerModel& of(EFI_PEI_SERVICES** services, const char* operation);

  PeiEnvironment& env_;
  PEI_SPEAKER_IF_PPI ppi_{};
  std::uint16_t frequency_ = 0;
  std::vector<std::uint16_t> frequencies_;
  std::vector<BeepRequest> beeps_;
  std::vector<std::uint16_t> beep_frequencies_;
  std::vector<Nanos> beep_times_;
  Nanos time_unit_ = 1000;
  Nanos beep_time_ = 0;
};

}  // namespace sim
