// Fault names as the command line spells them.
#include <stdexcept>

#include "tools/recovery-sim/Numbers.h"
#include "tools/recovery-sim/Options.h"

namespace rsim {

namespace {
struct Named {
  const char* name;
  FaultKind kind;
  bool counted;
};
constexpr Named kFaults[] = {
    {"power-cut",            FaultKind::PowerCut,           true },
    {"spi-cycle-error",      FaultKind::SpiCycleError,      true },
    {"chip-stuck-busy",      FaultKind::ChipStuckBusy,      false},
    {"ec-absent",            FaultKind::EcAbsent,           false},
    {"no-speaker",           FaultKind::NoSpeaker,          false},
    {"no-recovery-ppi",      FaultKind::NoRecoveryPpi,      false},
    {"capsule-info-fails",   FaultKind::CapsuleInfoFails,   false},
    {"allocate-pages-fails", FaultKind::AllocatePagesFails, false},
    {"load-capsule-fails",   FaultKind::LoadCapsuleFails,   false},
    {"allocate-pool-fails",  FaultKind::AllocatePoolFails,  false},
};
}  // namespace

const std::vector<std::string>& fault_names() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> v;
    for (const auto& f : kFaults) {
      v.push_back(f.counted ? std::string(f.name) + "@N" : f.name);
    }
    return v;
  }();
  return names;
}

Fault parse_fault(const std::string& text) {
  std::string name = text.substr(0, text.find('@'));
  for (const auto& f : kFaults) {
    if (name != f.name) {
      continue;
    }
    bool has_n = text.find('@') != std::string::npos;
    if (f.counted != has_n) {
      throw std::invalid_argument(f.counted ? "fault '" + name + "' needs a count: " + name + "@N"
                                            : "fault '" + name + "' takes no count");
    }
    Fault fault{f.kind, 0};
    if (has_n) {
      std::uint64_t v = 0;
      try {
        v = parse_count("N", text.substr(text.find('@') + 1));
      } catch (const std::invalid_argument&) {
        v = 0;
      }
      if (v == 0) {
        throw std::invalid_argument("fault '" + text +
                                    "': N must be a positive whole number, in decimal without leading "
                                    "zeros or in 0x hexadecimal");
      }
      fault.n = v;
    }
    return fault;
  }
  std::string list;
  for (const auto& n : fault_names()) {
    list += (list.empty() ? "" : ", ") + n;
  }
  throw std::invalid_argument("unknown fault '" + text + "' (known: " + list + ")");
}

std::vector<Fault> parse_faults(const std::vector<std::string>& texts) {
  std::vector<Fault> faults;
  for (const auto& text : texts) {
    Fault f = parse_fault(text);
    for (const auto& earlier : faults) {
      // Power is lost once per run, and the controller fails one chosen cycle.
      if (earlier.kind == f.kind && (f.kind == FaultKind::PowerCut || f.kind == FaultKind::SpiCycleError)) {
        throw std::invalid_argument("--fault " + fault_name(earlier) + " and --fault " + text +
                                    ": one fault of this kind per run");
      }
    }
    faults.push_back(f);
  }
  return faults;
}

std::string fault_name(const Fault& f) {
  for (const auto& k : kFaults) {
    if (k.kind == f.kind) {
      return k.counted ? std::string(k.name) + "@" + std::to_string(f.n) : k.name;
    }
  }
  return "?";
}

}  // namespace rsim
