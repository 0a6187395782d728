// The compatibility matrix and the duration table, generated from rehearsals.
#include "tools/recovery-sim/Survey.h"

#include <cstdio>
#include <string>
#include <vector>

#include "sim/devices/PartVariants.h"
#include "tools/recovery-sim/PartCatalog.h"
#include "tools/recovery-sim/Rehearsal.h"

namespace rsim {

namespace {

struct Mode {
  std::string name;
  Options options;
};

// Every row of both tables, each followed by its named variants.
struct Row {
  PartEntry part;
  std::string variant;
  std::string label() const { return part.label() + (variant.empty() ? "" : " (variant " + variant + ")"); }
};

std::vector<Row> rows() {
  std::vector<Row> v;
  for (const auto& part : all_parts()) {
    v.push_back({part, ""});
    for (const sim::PartVariant* variant : sim::variants_of(part.name)) {
      v.push_back({part, std::string(variant->name)});
    }
  }
  return v;
}

// SPI: software sequencing (no descriptor) and hardware sequencing (valid descriptor);
// LPC: each decode of a part smaller than the window.
std::vector<Mode> modes_for(const Row& row, const Options& engine) {
  const PartEntry& part = row.part;
  Options base;
  base.engine = engine.engine;
  base.image = engine.image;
  base.image_base = engine.image_base;
  base.part = part.label();
  base.variant = row.variant;
  std::vector<Mode> modes;
  if (part.bus == Bus::Spi) {
    Mode sw{"software sequencing", base};
    sw.options.descriptor = false;
    Mode hw{"hardware sequencing", base};
    hw.options.descriptor = true;
    modes = {sw, hw};
  } else {
    Mode aliased{"aliased decode", base};
    aliased.options.decode = "aliased";
    Mode top{"top-only decode", base};
    top.options.decode = "top";
    modes = {aliased, top};
  }
  return modes;
}

std::string verdict(const Report& r) {
  if (r.success()) {
    return "completes, verified";
  }
  std::string why = outcome_text(r.outcome);
  if (r.outcome.kind == sim::OutcomeKind::FinalSpin) {
    why = "completes, " + std::to_string(r.flash.mismatches) + " bytes wrong";
  }
  std::string refused;
  for (const auto& [cause, n] : r.refused) {
    if (n != 0) {
      refused += (refused.empty() ? "" : ", ") + cause + " " + std::to_string(n);
    }
  }
  if (!refused.empty()) {
    why += "; refused: " + refused;
  } else if (r.outcome.kind == sim::OutcomeKind::FinalSpin) {
    why += "; nothing refused";
  }
  return why;
}

Report run(Options o, const std::string& protection) {
  o.initial_protection = protection;
  return rehearse(o).report;
}

nlohmann::json state(const Report& r) {
  return {
      {"verdict",    verdict(r)                                                                        },
      {"outcome",    r.outcome.kind_name()                                                             },
      {"status",     r.outcome.kind == sim::OutcomeKind::Returned ? nlohmann::json(hex(r.outcome.status))
                                                              : nlohmann::json(nullptr)},
      {"verified",   r.flash.verified()                                                                },
      {"mismatches", r.flash.mismatches                                                                },
      {"refused",    r.refused                                                                         }
  };
}

std::string seconds(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f s", s);
  return buf;
}

}  // namespace

nlohmann::json compatibility_matrix(const Options& engine, const SurveyProgress& progress) {
  std::size_t total = 0, done = 0;
  for (const Row& row : rows()) {
    total += 2 * modes_for(row, engine).size();
  }
  nlohmann::json matrix = nlohmann::json::array();
  for (const Row& row : rows()) {
    for (const auto& mode : modes_for(row, engine)) {
      nlohmann::json entry = {
          {"part", row.label()                             },
          {"bus",  row.part.bus == Bus::Spi ? "SPI" : "LPC"},
          {"mode", mode.name                               }
      };
      for (const char* protection : {"power-on", "cleared"}) {
        if (progress) progress(done++, total, row.label() + ", " + mode.name + ", " + protection);
        entry[protection == std::string("power-on") ? "power_on" : "cleared"] =
            state(run(mode.options, protection));
      }
      matrix.push_back(entry);
    }
  }
  if (progress) progress(done, total, "");
  return matrix;
}

void print_compatibility_matrix(std::ostream& out, const nlohmann::json& matrix) {
  out << "| Part | Bus | Mode | From power-on protection | With protection cleared |\n";
  out << "|---|---|---|---|---|\n";
  for (const auto& row : matrix) {
    out << "| " << row["part"].get<std::string>() << " | " << row["bus"].get<std::string>() << " | "
        << row["mode"].get<std::string>() << " | " << row["power_on"]["verdict"].get<std::string>() << " | "
        << row["cleared"]["verdict"].get<std::string>() << " |\n";
  }
  out << "\n";
  for (const auto& part : all_parts()) {
    std::string_view note = sim::part_note(part.name);
    if (!note.empty()) out << "- " << part.label() << ": " << note << "\n";
    for (const sim::PartVariant* v : sim::variants_of(part.name)) {
      out << "- " << part.label() << ", variant " << v->name << ": " << v->differs << "\n";
    }
  }
}

void print_duration_estimates(std::ostream& out, const Options& engine, const SurveyProgress& progress) {
  std::size_t rehearsals = 0, done = 0;
  for (const Row& row : rows()) {
    rehearsals += row.part.bus == Bus::Spi ? 2 : 1;
  }
  out << "| Part | Bus | Mode | Recovery on hardware | Part busy (erase + program) | Ratio | Outcome |\n";
  out << "|---|---|---|---|---|---|---|\n";
  for (const Row& row : rows()) {
    const PartEntry& part = row.part;
    for (const auto& mode : modes_for(row, engine)) {
      if (part.bus == Bus::Lpc && mode.options.decode == "top") {
        continue;  // the decode does not change the work on the parts that complete
      }
      if (progress) progress(done++, rehearsals, row.label() + ", " + mode.name);
      Report r = run(mode.options, "cleared");
      double total = static_cast<double>(r.simulated_ns) / 1e9;
      auto busy_us = r.work.find("part_busy_us");
      double busy = busy_us == r.work.end() ? 0 : static_cast<double>(busy_us->second) / 1e6;
      char ratio[32];
      std::snprintf(ratio, sizeof ratio, "%.1f", busy > 0 ? total / busy : 0.0);
      out << "| " << row.label() << " | " << (part.bus == Bus::Spi ? "SPI" : "LPC") << " | " << mode.name
          << " | " << seconds(total) << " | " << seconds(busy) << " | " << (busy > 0 ? ratio : "-") << " | "
          << (r.success() ? "verified" : outcome_text(r.outcome)) << " |\n";
    }
  }
  if (progress) progress(done, rehearsals, "");
}

}  // namespace rsim
