// Rehearses the alternative platform settings of a failed run, fewest changes first.
#include "tools/recovery-sim/WorksWith.h"

#include <algorithm>
#include <vector>

#include "sim/devices/PartVariants.h"
#include "tools/recovery-sim/PartCatalog.h"
#include "tools/recovery-sim/Rehearsal.h"

namespace rsim {

namespace {

// One setting of the two things a board decides: sequencing or decode, and protection.
struct Setting {
  std::string first;       // SPI: "valid"/"none" descriptor; LPC: "aliased"/"top" decode
  std::string protection;  // "power-on" or "cleared"
};

Setting setting_of(const Options& o, Bus bus) {
  return {bus == Bus::Spi ? (o.descriptor ? "valid" : "none") : o.decode, o.initial_protection};
}

void apply(Options& o, Bus bus, const Setting& s) {
  if (bus == Bus::Spi) {
    o.descriptor = s.first == "valid";
  } else {
    o.decode = s.first;
  }
  o.initial_protection = s.protection;
}

// The options that change `from` into `to`, and what each means on a board.
std::pair<std::string, std::string> change_text(Bus bus, const Setting& from, const Setting& to) {
  std::string options, board;
  auto add = [&](const std::string& option, const std::string& meaning) {
    options += (options.empty() ? "" : " ") + option;
    board += (board.empty() ? "" : "; ") + meaning;
  };
  if (from.first != to.first) {
    if (bus == Bus::Spi) {
      add("--descriptor " + to.first,
          to.first == "none" ? "a flash without a descriptor, so the chipset uses software sequencing"
                             : "a valid flash descriptor whose BIOS master may write, so the chipset "
                               "uses hardware sequencing");
    } else {
      add("--decode " + to.first, to.first == "aliased"
                                      ? "the part decoded at every alias of its size in the top 4 MiB"
                                      : "the part decoded only in its own top range");
    }
  }
  if (from.protection != to.protection) {
    add("--initial-protection " + to.protection,
        to.protection == "cleared"
            ? std::string("earlier firmware must clear the part's ") +
                  (bus == Bus::Spi ? "write protection" : "block locks") + " before the recovery runs"
            : "the part's protection as it powers up, untouched by earlier firmware");
  }
  return {options, board};
}

Report rehearse_quietly(Options o) {
  o.flash_out.reset();
  o.report.reset();
  o.trace.reset();
  o.beeps_wav.reset();
  o.observer = nullptr;
  return rehearse(o).report;
}

// A cause line without its refusal counts in brackets, to compare two runs' causes.
std::string without_counts(const std::string& cause) { return cause.substr(0, cause.find(" (")); }

}  // namespace

Remedy find_remedy(const Options& failed, const std::string& failed_cause) {
  std::optional<PartEntry> part = find_part(failed.part);
  if (!part) {
    return {};
  }
  const Bus bus = part->bus;
  const Setting current = setting_of(failed, bus);
  // Without a descriptor the chipset runs in software sequencing; descriptor settings then do not
  // apply, so the sequencing changes only on a plain one-component platform.
  const bool sequencing_free = bus == Bus::Lpc || (failed.components == 1 && !failed.flmstr1 && !failed.bfpr);
  std::vector<std::string> firsts = bus == Bus::Spi ? std::vector<std::string>{"valid", "none"}
                                                    : std::vector<std::string>{"aliased", "top"};
  if (!sequencing_free) firsts = {current.first};
  std::vector<Setting> candidates;
  for (const auto& f : firsts) {
    for (const char* p : {"power-on", "cleared"}) candidates.push_back({f, p});
  }
  auto changes = [&](const Setting& s) {
    return (s.first != current.first) + (s.protection != current.protection);
  };
  // The current setting first (for the variants), then the fewest changes.
  std::stable_sort(candidates.begin(), candidates.end(),
                   [&](const Setting& a, const Setting& b) { return changes(a) < changes(b); });
  // Why the first alternative that fails for another reason fails, to show beside "no setting".
  std::string other_cause;
  for (const auto& s : candidates) {
    if (changes(s) == 0) continue;
    Options o = failed;
    apply(o, bus, s);
    Report r = rehearse_quietly(o);
    auto [options, board] = change_text(bus, current, s);
    if (r.success()) {
      return {options, failed.part + " does not complete with these settings; it does with " + options +
                           " (on a board: " + board + ")"};
    }
    if (other_cause.empty() && !r.cause.empty() && without_counts(r.cause) != without_counts(failed_cause)) {
      other_cause = "; with " + options + " it fails too: " + r.cause;
    }
  }
  std::string hint = "no setting works: " + failed.part + " completes " +
                     (!sequencing_free  ? "with this descriptor"
                      : bus == Bus::Spi ? "neither with nor without a descriptor"
                                        : "under neither decode") +
                     ", from neither protection state" + other_cause;
  for (const sim::PartVariant* v : sim::variants_of(part->name)) {
    if (v->name == failed.variant) continue;
    for (const auto& s : candidates) {
      Options o = failed;
      o.variant = std::string(v->name);
      apply(o, bus, s);
      if (rehearse_quietly(o).success()) {
        auto [options, board] = change_text(bus, current, s);
        hint += "; the related part --variant " + o.variant + " does" +
                (options.empty() ? "" : " with " + options) + ": " + std::string(v->differs);
        break;
      }
    }
  }
  return {std::nullopt, hint};
}

}  // namespace rsim
