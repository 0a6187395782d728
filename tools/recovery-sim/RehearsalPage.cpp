// Filling rehearsal.html from a rehearsal's report.
#include "tools/recovery-sim/RehearsalPage.h"

#include <cstdio>

#include "tools/recovery-sim/BeepMeaning.h"
#include "tools/recovery-sim/BeepsWav.h"
#include "tools/recovery-sim/EcMeaning.h"
#include "tools/recovery-sim/ExitStatus.h"
#include "tools/recovery-sim/Expectation.h"
#include "tools/recovery-sim/HtmlPage.h"
#include "tools/recovery-sim/PageFlashMap.h"
#include "tools/recovery-sim/PageTimeline.h"
#include "tools/recovery-sim/PostCodeText.h"

namespace rsim {

namespace {

HtmlData row(const std::string& name, const std::string& value) {
  HtmlData d;
  d.set("name", name);
  d.set("value", value);
  return d;
}

HtmlData settings(const Options& o, const Report& r) {
  const Options defaults;
  HtmlData list{HtmlData::type::list};
  list.push_back(row("Part", r.configured_part + " (" + (r.bus == "spi" ? "SPI" : "LPC") + ")"));
  list.push_back(row("Detected", r.detected ? r.detected->first + " " + r.detected->second : "none"));
  list.push_back(row("Boot straps", o.boot ? *o.boot : "follow the part (" + r.bus + ")"));
  if (r.bus == "spi") {
    list.push_back(row("Descriptor", std::string(o.descriptor ? "valid" : "none") + ", " +
                                         std::to_string(o.components) +
                                         (o.components == 1 ? " component" : " components")));
    list.push_back(row("FLMSTR1", o.flmstr1 ? hex(*o.flmstr1) : "default (BIOS master may read and write)"));
    list.push_back(row("BIOS region (BFPR)", o.bfpr ? hex(*o.bfpr) : "default (0x1000 to the end)"));
  } else {
    list.push_back(row("Decode", o.decode));
  }
  list.push_back(row("Initial protection", o.initial_protection));
  list.push_back(row("CMOS 0x6E", hex(o.cmos_6e, 2)));
  if (o.boot_block_first != defaults.boot_block_first || o.boot_block_last != defaults.boot_block_last)
    list.push_back(row("Boot block", hex(o.boot_block_first) + "-" + hex(o.boot_block_last)));
  std::string faults;
  for (const auto& f : r.faults) faults += (faults.empty() ? "" : ", ") + f;
  list.push_back(row("Faults", faults.empty() ? "none" : faults));
  list.push_back(row("Flash before", o.flash_in ? *o.flash_in : "the old-flash test pattern"));
  list.push_back(row("Capsule", (o.capsule_file ? *o.capsule_file : std::string("generated test pattern")) +
                                    ", " + std::to_string(r.capsule_size) + " bytes" +
                                    (r.capsule_refused ? ", refused by the module (too short)" : "")));
  list.push_back(row("Engine", r.engine == "host" ? "host (the module built for this machine)"
                                                  : r.engine + " (the shipped IA32 image)"));
  return list;
}

std::string verdict(const Report& r) {
  if (r.success()) return "the recovery completed, and the flash holds what it should";
  if (r.board_cannot_start()) return "the power cut left the boot block torn: this board cannot start again";
  if (!r.faults_unfired.empty()) return r.faults_unfired.front();
  if (!r.cause.empty()) return r.cause;
  if (r.cut) {
    return "power was cut " + seconds_text(r.cut->time) + " into the run" +
           (r.cut->chunk ? ", in the " + r.cut->phase + " of chunk " + std::to_string(*r.cut->chunk) + " (" +
                               hex(kWindowBase + *r.cut->chunk * kChunk) + ", block " +
                               std::to_string(*r.cut->chunk / 16) + ")"
                         : ", " + r.cut->phase) +
           ", before the recovery completed";
  }
  return outcome_text(r.outcome);
}

std::string flash_text(const Report& r) {
  if (r.capsule_refused && r.flash.verified()) return "unchanged, as expected for a refused capsule";
  if (r.flash.verified()) return "verified: " + std::to_string(r.flash.size) + " bytes as expected";
  return std::to_string(r.flash.mismatches) + " of " + std::to_string(r.flash.size) +
         " bytes differ from the expectation, first at " + r.flash.first_mismatch_where + "; " +
         (r.flash.changed == 0 ? "the flash is untouched"
                               : std::to_string(r.flash.changed) + " bytes changed");
}

HtmlData beeps(const Report& r) {
  HtmlData list{HtmlData::type::list};
  for (std::size_t i = 0; i < r.beeps.size(); i++) {
    const Beep& b = r.beeps[i];
    HtmlData d;
    d.set("n", std::to_string(i + 1));
    d.set("time", i < r.timeline.beeps.size() ? seconds_text(r.timeline.beeps[i]) : "");
    d.set("pattern", "(" + std::to_string(b.count) + ", " + std::to_string(b.duration) + ", " +
                         std::to_string(b.interval) + ")");
    d.set("meaning", beep_meaning(b, i + 1 < r.beeps.size() ? &r.beeps[i + 1] : nullptr));
    list.push_back(d);
  }
  return list;
}

HtmlData ec_dialogue(const Report& r) {
  HtmlData list{HtmlData::type::list};
  for (std::size_t i = 0; i < r.ec_commands.size(); i++) {
    const auto& [command, data] = r.ec_commands[i];
    HtmlData d;
    d.set("time", i < r.timeline.ec_commands.size() ? seconds_text(r.timeline.ec_commands[i]) : "");
    d.set("command", hex(command, 2));
    d.set("data", hex(data, 2));
    d.set("meaning", ec_command_meaning(command, data));
    list.push_back(d);
  }
  return list;
}

HtmlData counters(const std::map<std::string, std::uint64_t>& values, bool skip_zero) {
  HtmlData list{HtmlData::type::list};
  for (const auto& [name, n] : values) {
    if (!skip_zero || n != 0) list.push_back(row(name, std::to_string(n)));
  }
  return list;
}

HtmlData cut_facts(const Report& r) {
  const CutFacts& c = *r.cut;
  HtmlData list{HtmlData::type::list};
  list.push_back(
      row("When", seconds_text(c.time) + " into the run, after access " + std::to_string(c.access)));
  list.push_back(row("Where", c.chunk ? "chunk " + std::to_string(*c.chunk) + " (" +
                                            hex(kWindowBase + *c.chunk * kChunk) + "), block " +
                                            std::to_string(*c.chunk / 16) + ", " + c.phase
                                      : "before the first chunk, " + c.phase));
  if (c.in_flight) {
    const InFlight& f = *c.in_flight;
    list.push_back(row("In flight", f.operation == "status write"
                                        ? "a write of the part's status register"
                                        : f.operation + " of " + hex(f.offset, 6) + "-" +
                                              hex(f.offset + f.length - 1, 6) + ": " +
                                              std::to_string(f.torn) + " of " + std::to_string(f.length) +
                                              " bytes left neither old nor new"));
  }
  list.push_back(
      row("The board", c.board_cannot_start
                           ? "cannot start again: the boot block is torn (it needs an external programmer)"
                           : "can start the recovery again: the boot block holds old or new contents"));
  return list;
}

}  // namespace

std::string rehearsal_page(const Options& o, const Report& r, int status) {
  HtmlData d;
  const std::string result = r.success() ? "SUCCESS" : "FAILED";
  d.set("title", "recovery-sim: " + r.configured_part + ", " + result);
  d.set("part", r.configured_part);
  d.set("ok", r.success());
  d.set("result", result);
  d.set("verdict", verdict(r));
  d.set("outcome", outcome_text(r.outcome));
  d.set("outcome_kind", r.outcome.kind_name());
  d.set("exit_status", std::to_string(status));
  d.set("exit_meaning", status == kRecovered ? "the recovery completed and the flash holds what it should"
                                             : "the recovery did not complete (the verdict says why), or a "
                                               "requested fault never fired");
  d.set("flash", flash_text(r));
  d.set("time", seconds_text(r.simulated_ns) + " on hardware (simulated), " + std::to_string(r.accesses) +
                    " accesses, " + std::to_string(static_cast<std::uint64_t>(r.host_ms + 0.5)) +
                    " ms host time");
  d.set("settings", settings(o, r));
  if (r.image) {
    d.set("image_path", r.image->first);
    d.set("image_sha256", r.image->second);
  }
  if (!r.hint.empty()) d.set("hint", r.hint);
  if (r.works_with) d.set("works_with", *r.works_with);
  HtmlData notes{HtmlData::type::list};
  for (const auto& n : r.notes) notes.push_back(row("Note", n));
  if (r.capsule_checks) {
    for (const auto& f : *r.capsule_checks) notes.push_back(row("Capsule", f.text));
  }
  if (!notes.is_empty_list()) {
    d.set("notes", notes);
    d.set("has_notes", true);
  }

  d.set("map", flash_map_html(r));
  d.set("timeline", timeline_html(o, r));
  d.set("beeps", beeps(r));
  if (!r.beeps.empty()) {
    d.set("audio", data_uri("audio/wav", beeps_wav(r.beeps, r.frequency.value_or(1000))));
  }
  if (r.frequency) d.set("frequency", std::to_string(*r.frequency));
  d.set("ec", ec_dialogue(r));
  d.set("post_text", post_code_text(r.post_codes, r.chunks_done));
  std::string codes;
  for (std::uint8_t c : r.post_codes) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X ", c);
    codes += buf;
  }
  d.set("post_codes", codes);
  HtmlData chipset{HtmlData::type::list};
  for (const auto& [name, value] : r.chipset) chipset.push_back(row(name, value));
  d.set("chipset", chipset);
  d.set("work", counters(r.work, false));
  HtmlData refused = counters(r.refused, true);
  if (!refused.is_empty_list()) {
    d.set("refused", refused);
    d.set("has_refused", true);
  }
  if (r.cut) {
    d.set("cut_facts", cut_facts(r));
    d.set("has_cut", true);
  }
  if (r.brick_window) {
    char share[32];
    std::snprintf(share, sizeof share, "%.2f", r.brick_window->share_percent(r.simulated_ns));
    d.set("brick", seconds_text(r.brick_window->total(r.simulated_ns)) + " of " +
                       seconds_text(r.simulated_ns) + " (" + share + " %) with the boot block " +
                       hex(r.brick_window->first) + "-" + hex(r.brick_window->last) +
                       " neither old nor new, in " + std::to_string(r.brick_window->spans.size()) +
                       (r.brick_window->spans.size() == 1 ? " span" : " spans"));
  }
  if (r.recovery_after_cut) d.set("after_cut", r.recovery_after_cut->summary());
  d.set("summary", r.summary());
  return render_html("rehearsal.html", d);
}

}  // namespace rsim
