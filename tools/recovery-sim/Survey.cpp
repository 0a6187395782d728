// The compatibility matrix and the duration table, generated from rehearsals.
#include "tools/recovery-sim/Survey.h"

#include <cstdio>
#include <string>
#include <vector>

#include "sim/devices/PartVariants.h"
#include "tools/recovery-sim/PartCatalog.h"
#include "tools/recovery-sim/Rehearsal.h"
#include "tools/recovery-sim/WorkerProcesses.h"

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

// A row is labelled by whether the flash verified, not by how the run ended: a run that reaches
// the final spin with wrong bytes is a failure.
std::string verdict(const Report& r) {
  if (r.success()) {
    return "verified";
  }
  std::string why = r.outcome.kind == sim::OutcomeKind::FinalSpin
                        ? "completes, but " + std::to_string(r.flash.mismatches) + " bytes wrong"
                        : outcome_text(r.outcome);
  return "FAILS: " + why + (r.cause.empty() ? "" : "; " + r.cause);
}

Report run(Options o, const std::string& protection) {
  o.initial_protection = protection;
  return rehearse(o).report;
}

std::uint64_t part_busy_us(const Report& r) {
  auto busy = r.work.find("part_busy_us");
  return busy == r.work.end() ? 0 : busy->second;
}

nlohmann::json state(const Report& r) {
  return {
      {"verdict",      verdict(r)                                                                      },
      {"outcome",      r.outcome.kind_name()                                                           },
      {"status",       r.outcome.kind == sim::OutcomeKind::Returned ? nlohmann::json(hex(r.outcome.status))
                                                              : nlohmann::json(nullptr)},
      {"verified",     r.flash.verified()                                                              },
      {"mismatches",   r.flash.mismatches                                                              },
      {"refused",      r.refused                                                                       },
      {"simulated_us", r.simulated_ns / 1000                                                           },
      {"part_busy_us", part_busy_us(r)                                                                 }
  };
}

std::string seconds(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f s", s);
  return buf;
}

}  // namespace

std::vector<SurveyRow> survey_rows(bool every_decode, const Options& engine) {
  std::vector<SurveyRow> out;
  for (const Row& row : rows()) {
    for (const auto& mode : modes_for(row, engine)) {
      // The decode does not change the work on the LPC parts that complete.
      if (every_decode || row.part.bus == Bus::Spi || mode.options.decode == "aliased") {
        out.push_back(
            SurveyRow{row.label(), row.part.bus == Bus::Spi ? "SPI" : "LPC", mode.name, mode.options});
      }
    }
  }
  return out;
}

namespace {

// Rehearses `rows` on every core; `deliver` sees each row's output in table order, with progress
// reported as rows finish.
void survey_in_workers(const std::vector<SurveyRow>& rows,
                       const std::function<std::string(const SurveyRow&)>& job,
                       const std::function<void(const std::string&)>& deliver,
                       const SurveyProgress& progress) {
  if (progress && !rows.empty()) progress(0, rows.size(), rows[0].part + ", " + rows[0].mode);
  run_in_workers(
      rows.size(), [&](std::size_t i) { return job(rows[i]); },
      [&](std::size_t i, const std::string& output) {
        deliver(output);
        if (progress) {
          progress(i + 1, rows.size(), i + 1 < rows.size() ? rows[i + 1].part + ", " + rows[i + 1].mode : "");
        }
      });
}

}  // namespace

nlohmann::json compatibility_matrix(const Options& engine, const SurveyProgress& progress) {
  nlohmann::json matrix = nlohmann::json::array();
  survey_in_workers(
      survey_rows(true, engine),
      [](const SurveyRow& row) {
        nlohmann::json entry;
        entry["part"] = row.part;
        entry["bus"] = row.bus;
        entry["mode"] = row.mode;
        entry["power_on"] = state(run(row.options, "power-on"));
        entry["cleared"] = state(run(row.options, "cleared"));
        return entry.dump();
      },
      [&](const std::string& output) { matrix.push_back(nlohmann::json::parse(output)); }, progress);
  return matrix;
}

void print_compatibility_matrix(std::ostream& out, const nlohmann::json& matrix) {
  out << "Every part and variant: SPI under software sequencing (no descriptor) and hardware sequencing (a "
         "valid\n"
         "descriptor, one component, whose BIOS master may read and write); LPC under each decode. Each "
         "from\n"
         "power-on protection (the parts as they power up) and with protection cleared (earlier firmware "
         "cleared\n"
         "it). A row is verified only when the flash holds the capsule afterwards.\n\n";
  out << "| Part | Bus | Mode | From power-on protection | With protection cleared |\n";
  out << "|---|---|---|---|---|\n";
  for (const auto& row : matrix) {
    out << "| " << row["part"].get<std::string>() << " | " << row["bus"].get<std::string>() << " | "
        << row["mode"].get<std::string>() << " | " << row["power_on"]["verdict"].get<std::string>() << " | "
        << row["cleared"]["verdict"].get<std::string>() << " |\n";
  }
  out << "\n";
  for (const auto& note : part_notes()) out << "- " << note << "\n";
}

std::vector<std::string> part_notes() {
  std::vector<std::string> notes;
  for (const auto& part : all_parts()) {
    std::string_view note = sim::part_note(part.name);
    if (!note.empty()) notes.push_back(part.label() + ": " + std::string(note));
    for (const sim::PartVariant* v : sim::variants_of(part.name)) {
      notes.push_back(part.label() + ", variant " + std::string(v->name) + ": " + std::string(v->differs));
    }
  }
  return notes;
}

nlohmann::json duration_estimates(const Options& engine, const SurveyProgress& progress) {
  nlohmann::json rows = nlohmann::json::array();
  survey_in_workers(
      survey_rows(false, engine),
      [](const SurveyRow& row) {
        Report r = run(row.options, "cleared");
        nlohmann::json entry = state(r);
        entry["part"] = row.part;
        entry["bus"] = row.bus;
        entry["mode"] = row.mode;
        return entry.dump();
      },
      [&](const std::string& output) { rows.push_back(nlohmann::json::parse(output)); }, progress);
  return rows;
}

void print_duration_estimates(std::ostream& out, const nlohmann::json& estimates) {
  out << "Every part and variant with protection cleared (as earlier firmware would leave it; from power-on\n"
         "protection several parts fail: see --compatibility). SPI software sequencing: no descriptor; "
         "hardware\n"
         "sequencing: a valid descriptor, one component, whose BIOS master may read and write. LPC: aliased "
         "decode.\n"
         "A FAILS row's time is what the attempt took.\n\n";
  out << "| Part | Bus | Mode | Recovery on hardware | Part busy (erase + program) | Ratio | Outcome |\n";
  out << "|---|---|---|---|---|---|---|\n";
  for (const auto& row : estimates) {
    double total = row["simulated_us"].get<double>() / 1e6, busy = row["part_busy_us"].get<double>() / 1e6;
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.1f", busy > 0 ? total / busy : 0.0);
    out << "| " << row["part"].get<std::string>() << " | " << row["bus"].get<std::string>() << " | "
        << row["mode"].get<std::string>() << " | " << seconds(total) << " | " << seconds(busy) << " | "
        << (busy > 0 ? ratio : "-") << " | " << row["verdict"].get<std::string>() << " |\n";
  }
}

}  // namespace rsim
