// JSON and human forms of a rehearsal report.
#include "tools/recovery-sim/Report.h"

#include <cstdio>
#include <sstream>

#include "tools/recovery-sim/BeepMeaning.h"
#include "tools/recovery-sim/Diagnosis.h"
#include "tools/recovery-sim/EcMeaning.h"
#include "tools/recovery-sim/Expectation.h"
#include "tools/recovery-sim/PostCodeText.h"
#include "tools/recovery-sim/StatusName.h"

namespace rsim {

std::string seconds_text(std::uint64_t ns) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f s", static_cast<double>(ns) / 1e9);
  return buf;
}

std::string hex(std::uint64_t v, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%0*llX", digits, static_cast<unsigned long long>(v));
  return buf;
}

std::string outcome_text(const sim::Outcome& outcome) {
  switch (outcome.kind) {
    case sim::OutcomeKind::Returned:
      return "returned " + efi_status_text(outcome.status);
    case sim::OutcomeKind::Hang:
      return "hang at " + outcome.where + ", declared after " + seconds_text(outcome.declared_after) +
             " of simulated time (" + outcome.why + ")";
    default:
      return outcome.to_string();
  }
}

nlohmann::json Report::to_json() const {
  using nlohmann::json;
  json j;
  j["outcome"] = outcome.kind_name();
  const bool returned = outcome.kind == sim::OutcomeKind::Returned;
  j["status"] = returned ? json(hex(outcome.status)) : json(nullptr);
  j["status_name"] = returned ? json(efi_status_text(outcome.status)) : json(nullptr);
  if (outcome.kind == sim::OutcomeKind::Hang || outcome.kind == sim::OutcomeKind::PowerCut) {
    j["where"] = outcome.where;
  }
  j["engine"] = engine;
  if (image) {
    j["image"] = {
        {"path",   image->first },
        {"sha256", image->second}
    };
  }
  if (outcome.kind == sim::OutcomeKind::Hang) {
    j["hang"] = {
        {"why",               outcome.why                  },
        {"declared_after_us", outcome.declared_after / 1000}
    };
  }
  j["capsule_size"] = capsule_size;
  j["capsule_refused"] = capsule_refused;
  j["capsule_checks"] = capsule_checks_json(capsule_checks);
  j["faults_unfired"] = faults_unfired;
  j["works_with"] = works_with ? json(*works_with) : json(nullptr);
  j["cause"] = cause.empty() ? json(nullptr) : json(cause);
  j["hint"] = hint.empty() ? json(nullptr) : json(hint);
  j["configured_part"] = configured_part;
  j["bus"] = bus;
  j["part"] = detected ? json{{"vendor", detected->first}, {"name", detected->second}} : json(nullptr);
  json b = json::array();
  for (const auto& x : beeps) {
    b.push_back({x.count, x.duration, x.interval});
  }
  j["beeps"] = b;
  j["frequency"] = frequency ? json(*frequency) : json(nullptr);
  j["post_codes"] = post_codes;
  json ec = json::array();
  for (const auto& [c, d] : ec_commands) {
    ec.push_back({c, d});
  }
  j["ec_commands"] = ec;
  j["chipset"] = chipset;
  j["flash"] = {
      {"size",           flash.size                                                        },
      {"verified",       flash.verified()                                                  },
      {"mismatches",     flash.mismatches                                                  },
      {"changed",        flash.changed                                                     },
      {"first_mismatch", flash.first_mismatch ? json(*flash.first_mismatch) : json(nullptr)}
  };
  j["refused"] = refused;
  j["work"] = work;
  j["faults"] = faults;
  j["chunks_done"] = chunks_done;
  j["simulated_us"] = simulated_ns / 1000;
  j["accesses"] = accesses;
  j["host_ms"] = static_cast<std::uint64_t>(host_ms + 0.5);
  return j;
}

namespace {

constexpr const char* kIndent = "\n            ";

// One line per run of equal patterns, with what the module means by it.
void beep_lines(std::ostringstream& o, const std::vector<Beep>& beeps,
                std::optional<std::uint32_t> frequency) {
  if (beeps.empty()) {
    o << "none";
    return;
  }
  o << "(count, duration us, interval us)";
  if (frequency) {
    o << " at " << *frequency << " Hz";
  }
  auto same = [](const Beep& a, const Beep& b) {
    return a.count == b.count && a.duration == b.duration && a.interval == b.interval;
  };
  for (std::size_t i = 0; i < beeps.size();) {
    std::size_t n = 1;
    while (i + n < beeps.size() && same(beeps[i + n], beeps[i])) {
      n++;
    }
    const Beep& b = beeps[i];
    const Beep* next = i + n < beeps.size() ? &beeps[i + n] : nullptr;
    o << kIndent << (n > 1 ? std::to_string(n) + " x " : "") << "(" << b.count << "," << b.duration << ","
      << b.interval << ")";
    std::string meaning = beep_meaning(b, next);
    if (!meaning.empty()) {
      o << " " << meaning;
    }
    i += n;
  }
}

}  // namespace

std::string Report::summary() const {
  std::ostringstream o;
  o << "part        " << configured_part << " (" << bus << ")";
  if (detected) {
    o << "; detected " << detected->first << " " << detected->second;
  } else {
    o << "; none detected";
  }
  if (image) {
    o << "\nimage       " << image->first << " (sha256 " << image->second << ")";
  }
  o << "\noutcome     " << outcome_text(outcome);
  if (capsule_refused) {
    o << "\ncapsule     " << capsule_size << " bytes, refused: the module needs " << kCapsuleBytes
      << " bytes or more (a raw image of 0xFFE00000-0xFFFFFFFF)";
  } else if (capsule_checks) {
    o << capsule_check_lines(capsule_size, *capsule_checks);
  }
  o << "\nbeeps       ";
  beep_lines(o, beeps, frequency);
  o << "\npost codes  " << post_code_text(post_codes, chunks_done);
  o << "\nec          ";
  if (ec_commands.empty()) {
    o << "no commands";
  }
  for (std::size_t i = 0; i < ec_commands.size(); i++) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%s%02X %02X", i ? ", " : "", ec_commands[i].first, ec_commands[i].second);
    o << buf;
  }
  const std::string ec_names = ec_command_meanings(ec_commands);
  if (!ec_names.empty()) o << kIndent << ec_names;
  o << "\nflash       ";
  if (capsule_refused && flash.verified()) {
    o << "unchanged, as expected for a refused capsule";
  } else if (flash.verified()) {
    o << "verified: " << flash.size << " bytes as expected";
  } else {
    o << flash.mismatches << " of " << flash.size << " bytes differ from the expectation, first at "
      << flash.first_mismatch_where << "; "
      << (flash.changed == 0 ? "the flash is untouched" : std::to_string(flash.changed) + " bytes changed");
  }
  std::uint64_t refusals = 0;
  for (const auto& [what, n] : refused) {
    refusals += n;
  }
  if (refusals != 0) {
    o << "\nrefused     ";
    bool first = true;
    for (const auto& [what, n] : refused) {
      if (n != 0) {
        o << (first ? "" : ", ") << what << " " << n;
        first = false;
      }
    }
  }
  if (refusals != 0 && success()) o << kIndent << harmless_refusals(refused);
  if (!cause.empty()) o << "\ncause       " << cause;
  for (const auto& f : faults_unfired) {
    o << "\nfault       " << f;
  }
  if (!hint.empty()) o << "\nhint        " << hint;
  o << "\ntime        " << seconds_text(simulated_ns) << " on hardware (simulated), " << accesses
    << " accesses, " << static_cast<std::uint64_t>(host_ms + 0.5) << " ms host time\n";
  o << "result      " << (success() ? "SUCCESS" : "FAILED") << "\n";
  return o.str();
}

}  // namespace rsim
