// What a rehearsal observed, as the JSON report and as the short human summary.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/Outcome.h"
#include "tools/recovery-sim/BootBlock.h"
#include "tools/recovery-sim/CapsuleChecks.h"
#include "tools/recovery-sim/CutWatch.h"
#include "tools/recovery-sim/FlashMap.h"
#include "tools/recovery-sim/Timeline.h"

namespace rsim {

struct Beep {
  std::uint64_t count, duration, interval;
};

struct FlashCheck {
  std::uint64_t size = 0;  // bytes compared (the whole flash as the tool lays it out)
  std::uint64_t mismatches = 0;
  std::uint64_t changed = 0;                    // bytes that differ from the flash before the run
  std::optional<std::uint64_t> first_mismatch;  // offset in that layout
  std::string first_mismatch_where;             // "linear 0x1F3000 (memory 0xFFFF3000)"
  std::vector<MapCell> map;                     // the window's 4 KiB cells, from 0xFFE00000 up
  bool verified() const { return mismatches == 0; }
};

struct Report {
  std::string engine = "host";
  std::optional<std::pair<std::string, std::string>> image;  // ia32: path, SHA-256
  std::string configured_part;                               // "VENDOR NAME" as asked
  std::string bus;                                           // "spi" or "lpc"
  sim::Outcome outcome;
  std::optional<std::pair<std::string, std::string>> detected;  // vendor, name
  std::vector<Beep> beeps;
  std::optional<std::uint32_t> frequency;
  std::vector<std::uint8_t> post_codes;
  std::vector<std::pair<std::uint8_t, std::uint8_t>> ec_commands;
  std::map<std::string, std::string> chipset;  // register name -> "0x..."
  FlashCheck flash;
  std::map<std::string, std::uint64_t> refused;  // cause -> count
  std::map<std::string, std::uint64_t> work;     // erases, programs, cycles...
  std::vector<std::string> faults;
  Timeline timeline;
  std::uint64_t simulated_ns = 0;
  std::uint64_t accesses = 0;
  double host_ms = 0;
  std::uint32_t chunks_done = 0;
  std::uint64_t capsule_size = 0;
  bool capsule_refused = false;  // the module returned EFI_BAD_BUFFER_SIZE for its size
  // The pre-flight findings for a capsule file; nothing for the generated test pattern.
  std::optional<std::vector<CapsuleFinding>> capsule_checks;
  std::vector<std::string> faults_unfired;     // "power-cut@N never fired: ..."
  std::optional<std::string> works_with;       // options with which this part completes instead
  std::string cause;                           // why a failed run failed, in hardware terms
  std::string hint;                            // the setting that works and what it means, or that none does
  std::string trace;                           // the command whose trace shows where a failure starts
  std::uint64_t seed = 0;                      // of the bits a power cut leaves old or new
  std::optional<CutFacts> cut;                 // the run ended in a power cut: where, and what it left
  std::optional<BrickWindow> brick_window;     // the run rewrote the boot block
  std::vector<std::string> notes;              // what the rehearsal changed of what it was given
  std::shared_ptr<Report> recovery_after_cut;  // --then-recover: the next run, from the start
  bool recovery_after_cut_skipped = false;     // ...not run: the board cannot start

  bool board_cannot_start() const { return cut && cut->board_cannot_start; }

  // A rehearsal that asked for a fault and did not get it has not rehearsed it.
  // After a cut, success is the next run's: the board came back and the recovery completed.
  bool success() const {
    if (recovery_after_cut) return !board_cannot_start() && recovery_after_cut->success();
    return outcome.kind == sim::OutcomeKind::FinalSpin && flash.verified() && faults_unfired.empty();
  }
  nlohmann::json to_json() const;
  std::string summary() const;
};

std::string hex(std::uint64_t v, int digits = 8);
// "12.34 s" for simulated nanoseconds.
std::string seconds_text(std::uint64_t ns);
// "final-spin", "returned EFI_UNSUPPORTED (0x80000003)", "hang at ..., declared after 900.00 s of
// simulated time (the run's time budget)", "power-cut(access 1234)".
std::string outcome_text(const sim::Outcome& outcome);
// The brick window as the JSON report gives it: the boot block, its spans (start_us, end_us; null
// for a span still open when the run ended), total_us and share_percent of a run of `run_ns`.
nlohmann::json brick_json(const BrickWindow& w, std::uint64_t run_ns);

}  // namespace rsim
