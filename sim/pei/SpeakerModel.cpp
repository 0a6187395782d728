// Speaker PPI operations. They carry no `This`: the speaker is found through the services
// pointer, as the first speaker installed in that environment.
#include "sim/pei/SpeakerModel.h"

#include <string>

#include "sim/Platform.h"
#include "sim/pei/PeiEnvironment.h"

namespace sim {

void PrintTo(const BeepRequest& b, std::ostream* os) {
  *os << '(' << b.count << ", " << b.duration << ", " << b.interval << ')';
}

SpeakerModel::SpeakerModel(PeiEnvironment& env) : env_(env) {
  ppi_.SetFrequency = set_frequency;
  ppi_.Beep = beep;
}

SpeakerModel& SpeakerModel::of(EFI_PEI_SERVICES** services, const char* operation) {
  PeiEnvironment* env = PeiEnvironment::from(services);
  if (env == nullptr || env->speaker() == nullptr) {
    PeiEnvironment::fail_loudly(
        env, std::string("speaker ") + operation + " called with a PEI services pointer that has no speaker");
  }
  return *env->speaker();
}

EFI_STATUS EFIAPI SpeakerModel::set_frequency(EFI_PEI_SERVICES** services, UINT16 frequency) {
  SpeakerModel& self = of(services, "SetFrequency");
  self.frequency_ = frequency;
  self.frequencies_.push_back(frequency);
  PeiCall call;
  call.name = "SetFrequency";
  call.args = {frequency};
  self.env_.record(std::move(call));
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SpeakerModel::beep(EFI_PEI_SERVICES** services, UINTN count, UINTN duration,
                                     UINTN interval) {
  SpeakerModel& self = of(services, "Beep");
  self.beeps_.push_back(BeepRequest{count, duration, interval});
  self.beep_frequencies_.push_back(self.frequency_);
  PeiCall call;
  call.name = "Beep";
  call.args = {count, duration, interval};
  self.env_.record(std::move(call));
  Nanos took = static_cast<Nanos>(count) * (static_cast<Nanos>(duration) + interval) * self.time_unit_;
  self.beep_time_ += took;
  Platform* p = Platform::current();
  self.beep_times_.push_back(p != nullptr ? p->now() : 0);
  if (p != nullptr) {
    p->advance(took);
  }
  return EFI_SUCCESS;
}

}  // namespace sim
