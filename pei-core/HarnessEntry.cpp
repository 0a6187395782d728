// The test harness PEIM, dispatched after permanent memory and before the recovery module: reads
// the scenario, installs the PPIs it calls for, logs allocations, and ends QEMU at the end of PEI.
#include "pei-core/AllocationLog.h"
#include "pei-core/DebugLog.h"
#include "pei-core/FwCfg.h"
#include "pei-core/LoggingPpis.h"

namespace harness {
namespace {

constexpr Guid kBootInRecoveryModePpi = {
    0x17EE496A, 0xD8E4, 0x4B9A, {0x94, 0xD1, 0xCE, 0x82, 0x72, 0x30, 0x08, 0x50}
};
// Installed by the DXE loader just before it leaves PEI: every PEIM has been dispatched by then.
constexpr Guid kEndOfPeiPpi = {
    0x605EA650, 0xC65C, 0x42E1, {0xBA, 0x80, 0x91, 0xA5, 0x2A, 0xB6, 0x18, 0xC6}
};

// QEMU's exit status is (code << 1) | 1: 33 when PEI ended, 35 when the harness could not run.
constexpr uint8_t kExitEndOfPei = 0x10;
constexpr uint8_t kExitHarnessError = 0x11;

struct Named {
  const char* name;
  Scenario scenario;
};
constexpr Named kScenarios[] = {
    {"no-recovery-ppi", Scenario::NoRecoveryPpi},
    {"short-capsule",   Scenario::ShortCapsule },
    {"load-fails",      Scenario::LoadFails    },
    {"normal-boot",     Scenario::NormalBoot   },
};

bool same(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) {
    a++;
    b++;
  }
  return *a == *b;
}

Status end_of_pei(Services, NotifyDescriptor*, void*) {
  LogLine("harness: end of PEI");
  exit_qemu(kExitEndOfPei);
}

PpiDescriptor ppis[3];
NotifyDescriptor end_of_pei_notify = {kDescriptorNotifyCallback | kDescriptorTerminateList, &kEndOfPeiPpi,
                                      end_of_pei};

template <typename Fn, typename... Args>
Status call(Services services, Service slot, Args... args) {
  return reinterpret_cast<Fn>((*services)[static_cast<uint32_t>(slot)])(services, args...);
}

}  // namespace

}  // namespace harness

using namespace harness;

extern "C" Status HarnessEntry(const void* /*file_handle*/, Services services) {
  char name[32];
  if (!read_fw_cfg_file("opt/flash-recovery/scenario", name, sizeof name)) {
    LogLine("harness: error: no fw_cfg file opt/flash-recovery/scenario");
    exit_qemu(kExitHarnessError);
  }
  const Named* chosen = nullptr;
  for (const Named& s : kScenarios) {
    if (same(s.name, name)) chosen = &s;
  }
  if (chosen == nullptr) {
    LogLine("harness: error: unknown scenario ") << name;
    exit_qemu(kExitHarnessError);
  }
  LogLine("harness: scenario ") << chosen->name;
  set_recovery_scenario(chosen->scenario);

  uint32_t count = 0;
  {
    LogLine installed("harness: installing");
    if (chosen->scenario != Scenario::NormalBoot) {
      ppis[count++] = {kDescriptorPpi, &kBootInRecoveryModePpi, nullptr};
      installed << " recovery-mode";
    }
    ppis[count++] = {kDescriptorPpi, &kSpeakerPpiGuid, &kLoggingSpeaker};
    installed << " speaker";
    if (chosen->scenario != Scenario::NoRecoveryPpi) {
      ppis[count++] = {kDescriptorPpi, &kRecoveryModulePpiGuid, &logging_recovery_ppi};
      installed << " device-recovery";
    }
    ppis[count - 1].flags |= kDescriptorTerminateList;
  }

  typedef Status (*NotifyPpiFn)(Services, const NotifyDescriptor*);
  typedef Status (*InstallPpiFn)(Services, const PpiDescriptor*);
  log_allocations(services);
  if (call<NotifyPpiFn>(services, Service::NotifyPpi, &end_of_pei_notify) != kSuccess ||
      call<InstallPpiFn>(services, Service::InstallPpi, ppis) != kSuccess) {
    LogLine("harness: error: the PEI core refused the PPIs or the end-of-PEI notification");
    exit_qemu(kExitHarnessError);
  }
  return kSuccess;
}
