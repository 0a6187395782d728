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

namespace {

nlohmann::json cut_json(const CutFacts& c) {
  using nlohmann::json;
  json in_flight = nullptr;
  if (c.in_flight) {
    const InFlight& f = *c.in_flight;
    in_flight = {
        {"operation", f.operation},
        {"chip",      f.chip     },
        {"offset",    f.offset   },
        {"length",    f.length   },
        {"torn",      f.torn     }
    };
  }
  return {
      {"access",             c.access                                },
      {"time_us",            c.time / 1000                           },
      {"chunk",              c.chunk ? json(*c.chunk) : json(nullptr)},
      {"phase",              c.phase                                 },
      {"in_flight",          in_flight                               },
      {"board_cannot_start", c.board_cannot_start                    }
  };
}

}  // namespace

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
      {"first_mismatch", flash.first_mismatch ? json(*flash.first_mismatch) : json(nullptr)},
      {"map",            cell_counts(flash.map)                                            }
  };
  j["refused"] = refused;
  j["work"] = work;
  j["faults"] = faults;
  j["chunks_done"] = chunks_done;
  j["simulated_us"] = simulated_ns / 1000;
  j["accesses"] = accesses;
  j["host_ms"] = static_cast<std::uint64_t>(host_ms + 0.5);
  j["seed"] = seed;
  j["notes"] = notes;
  j["power_cut"] = cut ? cut_json(*cut) : json(nullptr);
  j["brick_window"] = brick_window ? brick_json(*brick_window, simulated_ns) : json(nullptr);
  j["board_cannot_start"] = board_cannot_start();
  j["recovery_after_cut"] = recovery_after_cut ? recovery_after_cut->to_json() : json(nullptr);
  j["success"] = success();
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

nlohmann::json brick_json(const BrickWindow& w, std::uint64_t run_ns) {
  using nlohmann::json;
  json spans = json::array();
  for (const BrickSpan& s : w.spans) {
    spans.push_back({
        {"start_us", s.start / 1000                             },
        {"end_us",   s.end ? json(*s.end / 1000) : json(nullptr)}
    });
  }
  sim::Nanos total = w.total(run_ns);
  return {
      {"boot_block",    {hex(w.first), hex(w.last)}},
      {"spans",         spans                      },
      {"total_us",      total / 1000               },
      {"share_percent", w.share_percent(run_ns)    }
  };
}

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
  if (!trace.empty()) o << "\ntrace       " << trace;
  if (cut) {
    o << "\npower cut   after access " << cut->access << ", " << seconds_text(cut->time) << " into the run, "
      << (cut->chunk
              ? "chunk " + std::to_string(*cut->chunk) + " (" + hex(kWindowBase + *cut->chunk * kChunk) + ")"
              : std::string("before the first chunk"))
      << ", " << cut->phase;
    if (cut->in_flight) {
      const InFlight& f = *cut->in_flight;
      o << kIndent << "in flight: " << f.operation;
      if (f.operation == "status write") {
        o << " of the part's status register, " << (f.torn ? "left neither old nor new" : "left old or new");
      } else {
        o << " of " << hex(f.offset, 6) << "-" << hex(f.offset + f.length - 1, 6) << ", " << f.torn << " of "
          << f.length << " bytes left neither old nor new";
      }
    }
    o << kIndent
      << (cut->board_cannot_start
              ? "the boot block is torn: this board cannot start again (it needs an external programmer)"
              : "the boot block holds old or new contents: the board can start the recovery again");
  }
  if (brick_window) {
    sim::Nanos total = brick_window->total(simulated_ns);
    char share[32];
    std::snprintf(share, sizeof share, "%.2f", brick_window->share_percent(simulated_ns));
    o << "\nbrick       " << seconds_text(total) << " of " << seconds_text(simulated_ns) << " (" << share
      << " %) with the boot block " << hex(brick_window->first) << "-" << hex(brick_window->last)
      << " neither old nor new, in " << brick_window->spans.size()
      << (brick_window->spans.size() == 1 ? " span" : " spans");
  }
  for (const auto& n : notes) {
    o << "\nnote        " << n;
  }
  o << "\ntime        " << seconds_text(simulated_ns) << " on hardware (simulated), " << accesses
    << " accesses, " << static_cast<std::uint64_t>(host_ms + 0.5) << " ms host time\n";
  if (recovery_after_cut) {
    std::string next = recovery_after_cut->summary();
    o << "\nafter the cut, power on and the recovery again from the start:\n"
      << next.substr(0, next.rfind("result      "));
  } else if (recovery_after_cut_skipped) {
    o << "not run     the recovery after the cut: the board cannot start (--then-recover-bricked runs it "
         "anyway)\n";
  }
  o << "result      "
    << (success()              ? "SUCCESS"
        : board_cannot_start() ? "FAILED: the board cannot start"
                               : "FAILED")
    << "\n";
  return o.str();
}

}  // namespace rsim
