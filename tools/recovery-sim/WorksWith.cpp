// Rehearses the alternative platform settings of a failed run, cheapest change first.
#include "tools/recovery-sim/WorksWith.h"

#include <vector>

#include "tools/recovery-sim/PartCatalog.h"
#include "tools/recovery-sim/Rehearsal.h"

namespace rsim {

namespace {

struct Change {
  std::string options;  // as typed
  void (*apply)(Options&);
};

}  // namespace

std::optional<std::string> settings_that_work(const Options& failed) {
  std::optional<PartEntry> part = find_part(failed.part);
  if (!part) {
    return std::nullopt;
  }
  std::vector<Change> changes;
  const bool power_on = failed.initial_protection == "power-on";
  if (part->bus == Bus::Spi) {
    // Without a descriptor the chipset runs in software sequencing; descriptor settings then do
    // not apply, so only a plain one-component platform can change.
    const bool plain = failed.descriptor && failed.components == 1 && !failed.flmstr1 && !failed.bfpr;
    if (plain) changes.push_back({"--descriptor none", [](Options& o) { o.descriptor = false; }});
    if (power_on)
      changes.push_back(
          {"--initial-protection cleared", [](Options& o) { o.initial_protection = "cleared"; }});
    if (plain && power_on) {
      changes.push_back({"--descriptor none --initial-protection cleared", [](Options& o) {
                           o.descriptor = false;
                           o.initial_protection = "cleared";
                         }});
    }
  } else {
    const bool top = failed.decode == "top";
    if (top) changes.push_back({"--decode aliased", [](Options& o) { o.decode = "aliased"; }});
    if (power_on)
      changes.push_back(
          {"--initial-protection cleared", [](Options& o) { o.initial_protection = "cleared"; }});
    if (top && power_on) {
      changes.push_back({"--decode aliased --initial-protection cleared", [](Options& o) {
                           o.decode = "aliased";
                           o.initial_protection = "cleared";
                         }});
    }
  }
  for (const auto& change : changes) {
    Options o = failed;
    o.flash_out.reset();
    o.report.reset();
    o.trace.reset();
    o.beeps_wav.reset();
    change.apply(o);
    if (rehearse(o).report.success()) {
      return change.options;
    }
  }
  return std::nullopt;
}

}  // namespace rsim
