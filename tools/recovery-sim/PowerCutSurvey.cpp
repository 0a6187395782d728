// The power-cut survey: one reference recovery to place the cuts, then one recovery whose process
// forks at every cut point; each copy loses power, powers on and recovers again.
#include "tools/recovery-sim/PowerCutSurvey.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <stdexcept>

#include "sim/Platform.h"
#include "tools/recovery-sim/Expectation.h"
#include "tools/recovery-sim/Files.h"
#include "tools/recovery-sim/Numbers.h"
#include "tools/recovery-sim/Rehearsal.h"
#include "tools/recovery-sim/Report.h"
#include "tools/recovery-sim/Sha256.h"
#include "tools/recovery-sim/WorkerProcesses.h"

namespace rsim {

namespace {

using nlohmann::json;

struct CutPoint {
  std::uint64_t access;
  std::string label;
};

// Samples the clock every 4096 accesses of the reference run, to turn times into access numbers.
struct ClockSamples : sim::TraceSink {
  std::vector<std::pair<sim::Nanos, std::uint64_t>> samples;
  void record(const sim::Access& a) override {
    if ((a.index & 0xFFF) == 0) samples.emplace_back(a.time, a.index);
  }
};

// What identifies the configuration: shards of one survey must agree on all of it.
json settings_of(const Options& o, const CutSurveySettings& s, const Report& reference) {
  auto file_hash = [](const std::optional<std::string>& path, const char* option) -> json {
    if (!path) return nullptr;
    std::vector<std::uint8_t> bytes = read_input(option, *path);
    return sha256_hex(bytes);
  };
  std::vector<std::string> faults;
  for (const auto& f : o.faults) faults.push_back(fault_name(f));
  return {
      {"part",                o.part                                                 },
      {"variant",             o.variant                                              },
      {"descriptor",          o.descriptor ? "valid" : "none"                        },
      {"components",          o.components                                           },
      {"flmstr1",             o.flmstr1 ? json(hex(*o.flmstr1)) : json(nullptr)      },
      {"bfpr",                o.bfpr ? json(hex(*o.bfpr)) : json(nullptr)            },
      {"cmos_6e",             hex(o.cmos_6e,                                           2)},
      {"boot",                     o.boot ? json(*o.boot) : json(nullptr)                                                                      },
      {"initial_protection",                     o.initial_protection},
      {"decode",                     o.decode                                                                                  },
      {"faults",                     faults},
      {"engine",                     reference.engine                                                                                  },
      {"image_sha256",                     reference.image ? json(reference.image->second) : json(nullptr)},
      {"capsule_sha256",                     file_hash(o.capsule_file,                                                                                 "--capsule")},
      {"flash_in_sha256",         file_hash(o.flash_in,"--flash-in")},
      {"seed",o.seed                                                   },
      {"boot_block",                {hex(o.boot_block_first), hex(o.boot_block_last)}                                                                        },
      {"spread",          s.spread},
      {"block_points",              s.block_points                                                   },
      {"shards",        s.shards                                   }
  };
}

// Start, middle and end of the erases and of the programs of every 64 KiB block, and `spread`
// points evenly over the recovery's time; sorted, each access once.
std::vector<CutPoint> cut_points(const std::vector<FlashChangeSeen>& changes, const ClockSamples& clock,
                                 sim::Nanos total, std::size_t spread, bool block_points) {
  std::map<std::uint64_t, std::string> points;
  std::map<std::uint32_t, std::vector<std::uint64_t>> erases, programs;
  for (const auto& c : changes) {
    if (c.chunk) (c.erase ? erases : programs)[*c.chunk / 16].push_back(c.access);
  }
  auto three = [&](const std::map<std::uint32_t, std::vector<std::uint64_t>>& by_block, const char* what) {
    for (const auto& [block, accesses] : by_block) {
      std::string where = hex(kWindowBase + block * 0x10000u);
      points.emplace(accesses.front(), where + " " + what + " start");
      points.emplace(accesses[accesses.size() / 2], where + " " + what + " middle");
      points.emplace(accesses.back(), where + " " + what + " end");
    }
  };
  if (block_points) {
    three(erases, "erase");
    three(programs, "program");
  }
  for (std::size_t i = 0; i < spread && !clock.samples.empty(); i++) {
    auto t = static_cast<sim::Nanos>(static_cast<double>(total) * (static_cast<double>(i) + 0.5) /
                                     static_cast<double>(spread));
    auto it =
        std::lower_bound(clock.samples.begin(), clock.samples.end(), std::make_pair(t, std::uint64_t{0}));
    if (it == clock.samples.end()) --it;
    points.emplace(it->second, "time " + std::to_string(i + 1) + "/" + std::to_string(spread));
  }
  std::vector<CutPoint> v;
  for (auto& [access, label] : points) v.push_back(CutPoint{access, std::move(label)});
  return v;
}

// One cut's line of the survey, from the run that lost power there and the run after it.
json cut_result(std::size_t index, const CutPoint& point, const Report& r) {
  json j = {
      {"index", index      },
      {"label", point.label}
  };
  if (!r.cut) {
    j["error"] = "the run never reached its cut";
    return j;
  }
  const CutFacts& c = *r.cut;
  j["access"] = c.access;
  j["time_us"] = c.time / 1000;
  j["chunk"] = c.chunk ? json(*c.chunk) : json(nullptr);
  j["phase"] = c.phase;
  j["in_flight"] = c.in_flight ? json(c.in_flight->operation) : json(nullptr);
  j["torn_bytes"] = c.in_flight ? c.in_flight->torn : 0;
  j["boot_block"] = c.board_cannot_start ? "torn" : "old or new";
  if (c.board_cannot_start) {
    j["next"] = "not run: the board cannot start";
  } else if (r.recovery_after_cut && r.recovery_after_cut->success()) {
    j["next"] = "verified";
  } else if (r.recovery_after_cut) {
    const Report& n = *r.recovery_after_cut;
    j["next"] =
        "failed: " + outcome_text(n.outcome) + ", " + std::to_string(n.flash.mismatches) + " bytes differ";
  }
  return j;
}

json summarise(const json& cuts) {
  std::size_t recovered = 0, bricked = 0, failed = 0;
  for (const auto& c : cuts) {
    const std::string outcome = cut_outcome(c);
    recovered += outcome == "recovered" ? 1 : 0;
    bricked += outcome == "bricked" ? 1 : 0;
    failed += outcome == "failed" ? 1 : 0;
  }
  return {
      {"cuts",      cuts.size()},
      {"recovered", recovered  },
      {"bricked",   bricked    },
      {"failed",    failed     }
  };
}

std::string thousands(std::uint64_t n) {
  std::string s = std::to_string(n);
  for (int i = static_cast<int>(s.size()) - 3; i > 0; i -= 3) s.insert(static_cast<std::size_t>(i), ",");
  return s;
}

}  // namespace

std::string cut_outcome(const json& cut) {
  if (cut.value("boot_block", "") == "torn") return "bricked";
  return cut.value("next", "") == "verified" ? "recovered" : "failed";
}

std::pair<unsigned, unsigned> parse_shard(const std::string& text) {
  std::size_t slash = text.find('/');
  std::uint64_t k = 0, n = 0;
  try {
    if (slash == std::string::npos) throw std::invalid_argument("");
    k = parse_count("K", text.substr(0, slash), 1u << 20);
    n = parse_count("N", text.substr(slash + 1), 1u << 20);
  } catch (const std::invalid_argument&) {
    k = n = 0;
  }
  if (k < 1 || n < 1 || k > n) {
    throw std::invalid_argument("--shard takes K/N with 1 <= K <= N (shard K of N), not '" + text + "'");
  }
  return {static_cast<unsigned>(k), static_cast<unsigned>(n)};
}

json power_cut_survey(const Options& options, const CutSurveySettings& settings,
                      const SurveyProgress& progress) {
  auto t0 = std::chrono::steady_clock::now();
  // The reference recovery: where every erase and program falls, and the clock.
  Options reference = options;
  std::vector<FlashChangeSeen> changes;
  ClockSamples clock;
  reference.on_flash_change = [&](const FlashChangeSeen& c) { changes.push_back(c); };
  reference.observer = &clock;
  RehearsalResult ref = rehearse(reference);
  std::vector<CutPoint> all =
      cut_points(changes, clock, ref.report.simulated_ns, settings.spread, settings.block_points);

  json survey;
  survey["settings"] = settings_of(options, settings, ref.report);
  survey["shard"] = std::to_string(settings.shard) + "/" + std::to_string(settings.shards);
  survey["reference"] = {
      {"outcome",      ref.report.outcome.kind_name()                                              },
      {"verified",     ref.report.success()                                                        },
      {"simulated_us", ref.report.simulated_ns / 1000                                              },
      {"accesses",     ref.report.accesses                                                         },
      {"brick_us",
       ref.report.brick_window ? ref.report.brick_window->total(ref.report.simulated_ns) / 1000 : 0}
  };
  // Where the window lies in the recovery's time, for a page that draws it.
  survey["reference"]["brick_window"] =
      ref.report.brick_window ? brick_json(*ref.report.brick_window, ref.report.simulated_ns) : json(nullptr);
  survey["cuts_in_all"] = all.size();

  // This shard's cuts, in access order.
  std::vector<std::size_t> mine;
  for (std::size_t i = 0; i < all.size(); i++) {
    if (i % settings.shards == settings.shard - 1) mine.push_back(i);
  }
  std::map<std::size_t, json> results;
  if (!mine.empty()) {
    Options run = options;
    run.then_recover = true;
    for (std::size_t i : mine) run.checkpoints.push_back(all[i].access);
    WorkerPool pool(settings.workers, [&](std::size_t k, const std::string& line) {
      results[k] = json::parse(line);
      if (progress) progress(results.size(), mine.size(), all[mine[k]].label);
    });
    std::optional<std::size_t> child;
    run.at_checkpoint = [&](std::size_t k) {
      if (!pool.fork_job(k)) return false;
      child = k;
      return true;
    };
    if (progress) progress(0, mine.size(), all[mine.front()].label);
    try {
      RehearsalResult r = rehearse(run);
      if (child) pool.reply(cut_result(mine[*child], all[mine[*child]], r.report).dump());
    } catch (const std::exception& e) {
      if (child) pool.reply(e.what(), true);
      throw;
    }
    pool.wait_all();
  }
  json cuts = json::array();
  for (auto& [k, j] : results) cuts.push_back(std::move(j));
  survey["cuts"] = cuts;
  survey["summary"] = summarise(cuts);
  survey["host_seconds"] = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  return survey;
}

json read_survey_report(const std::string& path) {
  std::vector<std::uint8_t> bytes = read_input("--merge", path);
  json j = json::parse(bytes.begin(), bytes.end(), nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    throw std::invalid_argument("--merge " + path + " is not a JSON report of --power-cut-survey");
  }
  return j;
}

json merge_power_cut_surveys(const std::vector<json>& shards) {
  if (shards.empty()) throw std::invalid_argument("--merge needs at least one survey report");
  const json& first = shards.front();
  std::set<std::string> seen;
  json cuts = json::array();
  double host = 0;
  for (std::size_t s = 0; s < shards.size(); s++) {
    const json& shard = shards[s];
    // Every field read below: a report without one is not a survey's (and reading it is undefined).
    if (!shard.contains("settings") || !shard.contains("cuts") || !shard.contains("shard") ||
        !shard.contains("reference") || !shard.contains("cuts_in_all")) {
      throw std::invalid_argument("--merge: report " + std::to_string(s + 1) + " is not a power-cut survey");
    }
    for (const auto& [key, value] : first["settings"].items()) {
      if (shard["settings"].value(key, json()) != value) {
        throw std::invalid_argument("--merge: report " + std::to_string(s + 1) + " was made with " + key +
                                    " " + shard["settings"].value(key, json()).dump() + ", report 1 with " +
                                    value.dump());
      }
    }
    if (shard["reference"] != first["reference"] || shard["cuts_in_all"] != first["cuts_in_all"]) {
      throw std::invalid_argument("--merge: report " + std::to_string(s + 1) +
                                  " rehearsed another reference recovery than report 1");
    }
    if (!seen.insert(shard["shard"].get<std::string>()).second) {
      throw std::invalid_argument("--merge: shard " + shard["shard"].get<std::string>() + " is given twice");
    }
    for (const auto& c : shard["cuts"]) cuts.push_back(c);
    host += shard.value("host_seconds", 0.0);
  }
  unsigned n = first["settings"]["shards"].get<unsigned>();
  for (unsigned k = 1; k <= n; k++) {
    std::string name = std::to_string(k) + "/" + std::to_string(n);
    if (!seen.count(name)) throw std::invalid_argument("--merge: shard " + name + " is missing");
  }
  std::sort(cuts.begin(), cuts.end(), [](const json& a, const json& b) { return a["index"] < b["index"]; });
  json merged = first;
  merged["settings"]["shards"] = 1;
  merged["shard"] = "1/1";
  merged["cuts"] = cuts;
  merged["summary"] = summarise(cuts);
  merged["host_seconds"] = host;
  return merged;
}

void print_power_cut_survey(std::ostream& out, const json& survey) {
  out << "| cut | label | access | time (s) | chunk | phase | in flight | torn bytes | boot block | next run "
         "|\n"
         "|---|---|---|---|---|---|---|---|---|---|\n";
  for (const auto& c : survey["cuts"]) {
    if (c.contains("error")) {
      out << "| " << c["index"].get<std::size_t>() << " | " << c["label"].get<std::string>() << " | "
          << c["error"].get<std::string>() << " | | | | | | | |\n";
      continue;
    }
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", c["time_us"].get<double>() / 1e6);
    out << "| " << c["index"].get<std::size_t>() << " | " << c["label"].get<std::string>() << " | "
        << c["access"].get<std::uint64_t>() << " | " << time << " | "
        << (c["chunk"].is_null() ? std::string("-") : std::to_string(c["chunk"].get<int>())) << " | "
        << c["phase"].get<std::string>() << " | "
        << (c["in_flight"].is_null() ? std::string("-") : c["in_flight"].get<std::string>()) << " | "
        << c["torn_bytes"].get<std::uint64_t>() << " | " << c["boot_block"].get<std::string>() << " | "
        << c.value("next", "") << " |\n";
  }
  const json& s = survey["summary"];
  const json& ref = survey["reference"];
  std::uint64_t total_us = ref["simulated_us"].get<std::uint64_t>(),
                brick_us = ref["brick_us"].get<std::uint64_t>();
  out << thousands(s["cuts"].get<std::uint64_t>())
      << " cuts: " << thousands(s["recovered"].get<std::uint64_t>()) << " recovered on the next run, "
      << thousands(s["bricked"].get<std::uint64_t>()) << " inside the brick window ("
      << seconds_text(brick_us * 1000) << " of " << seconds_text(total_us * 1000) << ")";
  if (s["failed"].get<std::uint64_t>() != 0) {
    out << ", " << thousands(s["failed"].get<std::uint64_t>()) << " did not recover";
  }
  out << "\n";
}

bool power_cut_survey_passed(const json& survey) {
  return survey["summary"]["failed"].get<std::uint64_t>() == 0;
}

void print_power_cut_table(std::ostream& out, const Options& engine, const CutSurveySettings& settings,
                           const SurveyProgress& progress) {
  out << "| Part | Mode | Default run | Recovery | Brick window | Cuts | Recovered | In the window | Did not "
         "recover |\n|---|---|---|---|---|---|---|---|---|\n";
  std::vector<SurveyRow> rows = survey_rows(false, engine);
  for (std::size_t i = 0; i < rows.size(); i++) {
    if (progress) progress(i, rows.size(), rows[i].part + " " + rows[i].mode);
    json survey = power_cut_survey(rows[i].options, settings);
    const json& ref = survey["reference"];
    const json& s = survey["summary"];
    std::uint64_t total_us = ref["simulated_us"].get<std::uint64_t>(),
                  brick_us = ref["brick_us"].get<std::uint64_t>();
    char brick[48];
    std::snprintf(
        brick, sizeof brick, "%.2f s (%.2f %%)", static_cast<double>(brick_us) / 1e6,
        total_us == 0 ? 0.0 : static_cast<double>(brick_us) * 100.0 / static_cast<double>(total_us));
    out << "| " << rows[i].part << " | " << rows[i].mode << " | "
        << (ref["verified"].get<bool>() ? "verified" : "FAILS") << " | " << seconds_text(total_us * 1000)
        << " | " << brick << " | " << s["cuts"].get<std::uint64_t>() << " | "
        << s["recovered"].get<std::uint64_t>() << " | " << s["bricked"].get<std::uint64_t>() << " | "
        << s["failed"].get<std::uint64_t>() << " |\n";
  }
  if (progress) progress(rows.size(), rows.size(), "");
}

}  // namespace rsim
