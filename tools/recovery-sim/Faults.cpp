// Fault names as the command line spells them.
#include <cctype>
#include <cstdio>
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
// "chunk:K:erase", "chunk:K:program" or "time:12.5s"; false for anything else (an access number).
// A refusal starts with `lead`, which names what the user wrote.
bool parse_named_cut(const std::string& at, Fault& fault, const std::string& lead) {
  auto bad = [&](const std::string& why) { return std::invalid_argument(lead + ": " + why); };
  if (at.rfind("chunk:", 0) == 0) {
    std::string rest = at.substr(6);
    std::size_t colon = rest.find(':');
    std::string phase = colon == std::string::npos ? "" : rest.substr(colon + 1);
    if (phase != "erase" && phase != "program") throw bad("name the phase: chunk:K:erase or chunk:K:program");
    std::uint64_t k = 0;
    try {
      k = parse_count("K", rest.substr(0, colon));
    } catch (const std::invalid_argument&) {
      throw bad("K must be a whole number from 0 to 511");
    }
    if (k > 511) throw bad("K must be a whole number from 0 to 511 (a 4 KiB chunk of 0xFFE00000-0xFFFFFFFF)");
    if (k >= 368 && k < 384)
      throw bad("chunk " + std::to_string(k) +
                " lies in 0xFFF70000-0xFFF7FFFF, which the recovery leaves alone");
    fault.cut_at = phase == "erase" ? CutAt::ChunkErase : CutAt::ChunkProgram;
    fault.chunk = static_cast<std::uint32_t>(k);
    return true;
  }
  if (at.rfind("status-write:", 0) == 0) {
    try {
      fault.n = parse_count("N", at.substr(13));
    } catch (const std::invalid_argument&) {
      fault.n = 0;
    }
    if (fault.n == 0) throw bad("N must be a positive whole number: the N-th status register write");
    fault.cut_at = CutAt::StatusWrite;
    return true;
  }
  if (at.rfind("time:", 0) == 0) {
    std::string t = at.substr(5);
    if (t.size() > 1 && t.back() == 's') t.pop_back();
    double seconds = -1;
    std::size_t used = 0;
    try {
      seconds = std::stod(t, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used != t.size() || t.empty() || !(seconds > 0) || seconds > 1e6 ||
        !std::isdigit(static_cast<unsigned char>(t[0]))) {
      throw bad("the time must be a positive number of seconds, such as time:12.5s");
    }
    fault.cut_at = CutAt::Time;
    fault.n = static_cast<std::uint64_t>(seconds * 1e9 + 0.5);
    return true;
  }
  return false;
}

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
    if (f.kind == FaultKind::PowerCut &&
        parse_named_cut(text.substr(text.find('@') + 1), fault, "fault '" + text + "'")) {
      return fault;
    }
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

Fault parse_cut_point(const std::string& at, const std::string& lead) {
  Fault point{FaultKind::PowerCut, 0};
  if (parse_named_cut(at, point, lead)) return point;
  try {
    point.n = parse_count("N", at);
  } catch (const std::invalid_argument&) {
    point.n = 0;
  }
  if (point.n == 0) {
    throw std::invalid_argument(lead +
                                ": name an access number N (1 or more), chunk:K:erase, chunk:K:program, "
                                "status-write:N or time:12.5s");
  }
  return point;
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
      if (f.kind == FaultKind::PowerCut && f.cut_at != CutAt::Access) {
        return std::string(k.name) + "@" + cut_point_name(f);
      }
      return k.counted ? std::string(k.name) + "@" + std::to_string(f.n) : k.name;
    }
  }
  return "?";
}

}  // namespace rsim

namespace rsim {

std::string cut_point_name(const Fault& f) {
  switch (f.cut_at) {
    case CutAt::ChunkErase:
      return "chunk:" + std::to_string(f.chunk) + ":erase";
    case CutAt::ChunkProgram:
      return "chunk:" + std::to_string(f.chunk) + ":program";
    case CutAt::StatusWrite:
      return "status-write:" + std::to_string(f.n);
    case CutAt::Time: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "time:%.9gs", static_cast<double>(f.n) / 1e9);
      return buf;
    }
    case CutAt::Access:
      break;
  }
  return std::to_string(f.n);
}

}  // namespace rsim
