// Fault names as the command line spells them.
#include <stdexcept>

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
      std::string n = text.substr(text.find('@') + 1);
      std::size_t used = 0;
      unsigned long long v = 0;
      try {
        v = std::stoull(n, &used, 0);
      } catch (const std::exception&) {
        used = 0;
      }
      if (used == 0 || used != n.size() || v == 0 || n[0] == '-') {
        throw std::invalid_argument("fault '" + text + "': N must be a positive whole number");
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

std::string fault_name(const Fault& f) {
  for (const auto& k : kFaults) {
    if (k.kind == f.kind) {
      return k.counted ? std::string(k.name) + "@" + std::to_string(f.n) : k.name;
    }
  }
  return "?";
}

}  // namespace rsim
