// Speaker and device recovery PPIs that log every call. LoadRecoveryCapsule also logs the permanent
// memory range the PEI core hands out (from its hand-off block), so the test can check where the
// buffer it was given lies.
#include "pei-core/LoggingPpis.h"

#include "pei-core/DebugLog.h"

namespace harness {
namespace {

constexpr uint32_t kFullCapsule = 0x200000;  // the whole 2 MiB flash window
Scenario scenario = Scenario::NoRecoveryPpi;

uint64_t load64(const uint8_t* at) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; i--) value = value << 8 | at[i];
  return value;
}

Status set_frequency(Services, uint16_t frequency) {
  LogLine("speaker: set-frequency ") << frequency;
  return kSuccess;
}

Status beep(Services, uint32_t count, uint32_t duration, uint32_t interval) {
  LogLine("speaker: beep ") << count << " " << duration << " " << interval;
  return kSuccess;
}

Status get_number(Services, RecoveryPpi*, uint32_t* number) {
  *number = 1;
  LogLine("recovery: get-number-recovery-capsules -> 1");
  return kSuccess;
}

Status get_info(Services, RecoveryPpi*, uint32_t instance, uint32_t* size, Guid* type) {
  *size = scenario == Scenario::ShortCapsule ? kFullCapsule - 1 : kFullCapsule;
  *type = kCapsuleTypeGuid;
  LogLine("recovery: get-recovery-capsule-info ") << instance << " -> size " << *size;
  return kSuccess;
}

Status load(Services services, RecoveryPpi*, uint32_t instance, void* buffer) {
  typedef Status (*GetHobList)(Services, void**);
  void* hobs = nullptr;
  const Status found =
      reinterpret_cast<GetHobList>((*services)[static_cast<uint32_t>(Service::GetHobList)])(services, &hobs);
  const uint8_t* handoff = static_cast<const uint8_t*>(hobs);
  const bool known = found == kSuccess && handoff != nullptr && handoff[0] == kHobHandoff && handoff[1] == 0;
  LogLine line("recovery: load-recovery-capsule ");
  line << instance << " buffer ";
  line.hex(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer))) << " memory ";
  line.hex(known ? static_cast<uint32_t>(load64(handoff + kHandoffMemoryBottomAt)) : 0) << "-";
  line.hex(known ? static_cast<uint32_t>(load64(handoff + kHandoffMemoryTopAt)) : 0) << " -> ";
  line.hex(kDeviceError);
  return kDeviceError;
}

}  // namespace

const SpeakerPpi kLoggingSpeaker = {set_frequency, beep};
RecoveryPpi logging_recovery_ppi = {get_number, get_info, load};

void set_recovery_scenario(Scenario chosen) { scenario = chosen; }

}  // namespace harness
