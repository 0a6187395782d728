// JSON and human forms of a rehearsal report.
#include "tools/recovery-sim/Report.h"

#include <cstdio>
#include <sstream>

#include "tools/recovery-sim/Diagnosis.h"

namespace rsim {

std::string hex(std::uint64_t v, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%0*llX", digits, static_cast<unsigned long long>(v));
  return buf;
}

nlohmann::json Report::to_json() const {
  using nlohmann::json;
  json j;
  j["outcome"] = outcome.kind_name();
  j["status"] = outcome.kind == sim::OutcomeKind::Returned ? json(hex(outcome.status)) : json(nullptr);
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
std::string seconds(std::uint64_t ns) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f s", static_cast<double>(ns) / 1e9);
  return buf;
}
}  // namespace

std::string Report::summary() const {
  std::ostringstream o;
  o << "part        " << configured_part << " (" << bus << ")";
  if (detected) {
    o << "; detected " << detected->first << " " << detected->second;
  } else if (!detection_visible) {
    o << "; detection not visible to the " << engine << " engine";
  } else {
    o << "; none detected";
  }
  if (image) {
    o << "\nimage       " << image->first << " (sha256 " << image->second << ")";
  }
  o << "\noutcome     " << outcome.to_string() << "\n";
  o << "beeps       ";
  if (beeps.empty()) {
    o << "none";
  }
  for (std::size_t i = 0; i < beeps.size(); i++) {
    o << (i ? " " : "") << "(" << beeps[i].count << "," << beeps[i].duration << "," << beeps[i].interval
      << ")";
    if (i == 7 && beeps.size() > 10) {
      o << " ... " << beeps.size() - 10 << " more ...";
      i = beeps.size() - 3;
    }
  }
  if (frequency) {
    o << " at " << *frequency << " Hz";
  }
  o << "\npost codes  " << post_codes.size() << " written";
  if (!post_codes.empty()) {
    // Everything before the first chunk counter is an SPI probe marker (0x41).
    o << " (" << post_codes.size() - chunks_done << " probe markers, " << chunks_done
      << " chunk counters), last " << hex(post_codes.back(), 2);
  }
  o << "\nec          ";
  if (ec_commands.empty()) {
    o << "no commands";
  }
  for (std::size_t i = 0; i < ec_commands.size(); i++) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%s%02X %02X", i ? ", " : "", ec_commands[i].first, ec_commands[i].second);
    o << buf;
  }
  o << "\nflash       ";
  if (flash.verified()) {
    o << "verified: " << flash.size << " bytes as expected";
  } else {
    o << flash.mismatches << " of " << flash.size << " bytes differ from the expectation, first at "
      << flash.first_mismatch_where << "; "
      << (flash.changed == 0 ? "the flash is untouched" : std::to_string(flash.changed) + " bytes changed");
  }
  std::uint64_t refusals = 0;
  for (const auto& [cause, n] : refused) {
    refusals += n;
  }
  if (refusals != 0) {
    o << "\nrefused     ";
    bool first = true;
    for (const auto& [cause, n] : refused) {
      if (n != 0) {
        o << (first ? "" : ", ") << cause << " " << n;
        first = false;
      }
    }
  }
  std::string why = explain_wrong_flash(*this);
  if (!why.empty()) o << "\n            " << why;
  o << "\ntime        " << seconds(simulated_ns) << " on hardware (simulated), " << accesses << " accesses, "
    << static_cast<std::uint64_t>(host_ms + 0.5) << " ms host time\n";
  o << "result      " << (success() ? "SUCCESS" : "FAILED") << "\n";
  return o.str();
}

}  // namespace rsim
