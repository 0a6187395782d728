// recovery-sim: rehearse a recovery of the module on a simulated PC and report what it did.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <tuple>

#include "sim/devices/PartVariants.h"
#include "tools/ffs/FileProblem.h"
#include "tools/recovery-sim/BeepsWav.h"
#include "tools/recovery-sim/ExitStatus.h"
#include "tools/recovery-sim/Files.h"
#include "tools/recovery-sim/Numbers.h"
#include "tools/recovery-sim/OptionRules.h"
#include "tools/recovery-sim/ParseErrors.h"
#include "tools/recovery-sim/PartCatalog.h"
#include "tools/recovery-sim/PowerCutPage.h"
#include "tools/recovery-sim/PowerCutSurvey.h"
#include "tools/recovery-sim/ProgressBar.h"
#include "tools/recovery-sim/Rehearsal.h"
#include "tools/recovery-sim/RehearsalPage.h"
#include "tools/recovery-sim/Survey.h"
#include "tools/recovery-sim/SurveyPages.h"
#include "tools/recovery-sim/TraceDevices.h"
#include "tools/recovery-sim/WorksWith.h"

namespace {

// --quirk, the earlier name of --variant, still accepted. Two of its names asked for what is now
// the named parts' default behaviour.
std::string variant_from_quirk(const std::string& quirk) {
  return quirk == "64k-sector-erase" || quirk == "res-dummy-bytes" ? "" : quirk;
}

constexpr const char* kFooter =
    "Beeps are shown as (count, duration us, interval us): the speaker sounds count times, each tone\n"
    "lasting duration microseconds and followed by interval microseconds of silence.\n"
    "Exit status: 0 the recovery completed and the flash holds what it should; 1 it did not (the\n"
    "summary says why), or a requested fault never fired, or the --html page could not be written\n"
    "after the run; 2 bad input (one line on stderr, nothing written).";

// Every option given on the command line, by its long name, with its last value.
rsim::GivenOptions given_options(const CLI::App& app) {
  rsim::GivenOptions given;
  for (const CLI::Option* opt : app.get_options()) {
    if (opt->count() != 0) {
      given.values[opt->get_name()] = opt->results().empty() ? "" : opt->results().back();
    }
  }
  return given;
}

void write_text(const std::string& option, const std::string& path, const std::string& text) {
  rsim::write_output(option, path, text.data(), text.size());
}

// Writes an --html page once the run is over: a page that cannot be written does not undo what
// ran, so the failure is returned to be reported (status 1), not thrown as bad input (status 2).
// write_output leaves no partial file.
std::string write_page(const std::string& path, const std::function<std::string()>& page) {
  try {
    write_text("--html", path, page());
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

bool on_terminal(bool quiet) { return !quiet && isatty(STDERR_FILENO); }

// A survey's --html page; the line of a page that could not be written says the survey ran.
int write_survey_page(const std::optional<std::string>& path, const std::function<std::string()>& page,
                      int status) {
  if (!path) return status;
  const std::string failed = write_page(*path, page);
  if (failed.empty()) return status;
  std::fprintf(stderr, "recovery-sim: the survey ran, but %s\n", failed.c_str());
  return rsim::kRecoveryFailed;
}

// --compatibility and --estimate-all: every part on the engine `o` names, with progress on a
// terminal; with --compatibility, the matrix as JSON in --report; a page in --html.
int survey(bool matrix, const rsim::Options& o) {
  rsim::ProgressBar bar(on_terminal(false), "rehearsals");
  auto progress = [&](std::size_t done, std::size_t total, const std::string& what) {
    bar.update(done, total, what);
  };
  if (!matrix) {
    nlohmann::json rows = rsim::duration_estimates(o, progress);
    bar.finish();
    rsim::print_duration_estimates(std::cout, rows);
    return write_survey_page(
        o.html, [&] { return rsim::estimates_page(rows, o); }, rsim::kRecovered);
  }
  nlohmann::json rows = rsim::compatibility_matrix(o, progress);
  bar.finish();
  if (o.report) {
    write_text("--report", *o.report, rows.dump(2) + "\n");
  }
  rsim::print_compatibility_matrix(std::cout, rows);
  return write_survey_page(
      o.html, [&] { return rsim::compatibility_page(rows, o); }, rsim::kRecovered);
}

// Stdout is an output like any other: a summary that could not be written is a failed write.
int checked_stdout(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fprintf(stderr, "recovery-sim: cannot write to standard output: %s\n",
                 packaging::file_problem(errno).c_str());
    return rsim::kBadInput;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Rehearse a flash recovery of the module on a simulated PC."};
  app.footer(kFooter);
  rsim::Options o;
  std::string flmstr1, bfpr, cmos = "0", descriptor = "valid", trace_limit = std::to_string(o.trace_limit);
  std::vector<std::string> faults;
  bool list = false, matrix = false, estimates = false;
  app.add_option("--capsule", o.capsule_file, "recovery capsule (raw 2 MiB image); default: a generated one");
  app.add_option("--part", o.part, "flash part as \"VENDOR NAME\" (see --list-parts)")->capture_default_str();
  app.add_option("--boot", o.boot, "boot BIOS straps: spi, lpc, 01 or 10 (default: follows the part)");
  app.add_option("--descriptor", descriptor, "SPI flash descriptor: valid or none")->capture_default_str();
  app.add_option("--components", o.components, "SPI flash components: 1 or 2")->capture_default_str();
  app.add_option("--flmstr1", flmstr1, "FLMSTR1 value in the descriptor (hex)");
  app.add_option("--bfpr", bfpr, "BIOS region (BFPR) value (hex)");
  app.add_option("--cmos-6e", cmos, "CMOS byte 0x6E (hex); 4 moves EC commands to 0x64/0x60")
      ->capture_default_str();
  app.add_option("--flash-in", o.flash_in, "initial flash contents (SPI: all components in linear order)");
  app.add_option("--flash-out", o.flash_out, "write the final flash contents here");
  app.add_option("--report", o.report, "write a JSON report here (with --compatibility: the matrix)");
  app.add_option("--trace", o.trace,
                 "write the hardware accesses here, a line each (a run of repeated reads on one line)");
  app.add_option("--trace-limit", trace_limit, "at most this many trace lines (0: no limit)")
      ->capture_default_str();
  std::string trace_from, trace_devices;
  app.add_option("--trace-from", trace_from,
                 "start the trace at a point named as power cuts are: N, chunk:K:erase, chunk:K:program, "
                 "status-write:N or time:12.5s");
  app.add_option(
      "--trace-devices", trace_devices, "trace only these devices, a comma list of " + [] {
        std::string s;
        for (const auto& n : rsim::TraceDevices::names()) s += (s.empty() ? "" : ",") + n;
        return s;
      }());
  app.add_flag("--trace-every-access", o.trace_every_access,
               "one trace line per access, \"index time_ns access\", without device names or folding");
  app.add_option("--beeps-wav", o.beeps_wav, "write the beeps as a WAV file");
  app.add_option("--html", o.html,
                 "write the rehearsal as one self-contained HTML page: flash map, timeline, beeps (a "
                 "survey's: its table and charts)");
  app.add_option("--initial-protection", o.initial_protection, "power-on or cleared")->capture_default_str();
  std::string quirk;
  app.add_option("--variant", o.variant, "a named variant of the part (listed by --list-parts)");
  app.add_option("--quirk", quirk)->group("");  // hidden: the earlier name of --variant
  app.add_option("--decode", o.decode, "LPC parts smaller than the window: aliased or top")
      ->capture_default_str();
  app.add_option(
      "--fault", faults, "inject a fault (repeatable; one power cut and one SPI cycle error at most): " + [] {
        std::string s;
        for (const auto& n : rsim::fault_names()) s += (s.empty() ? "" : ", ") + n;
        return s;
      }());
  std::string seed, boot_block;
  app.add_option("--seed", seed,
                 "power cuts: chooses which bits a cut operation leaves old or new (default 0x5EEDF1A5)");
  app.add_flag("--then-recover", o.then_recover,
               "after a power cut, power on again and run the recovery once more on the flash the cut left");
  bool bricked = false;
  app.add_flag(
      "--then-recover-bricked", bricked,
      "--then-recover even when the cut left a board that cannot start (to see what the module would do)");
  app.add_option(
      "--boot-block", boot_block,
      "memory range the CPU starts from, START-END (hex, 4 KiB aligned; default FFFF0000-FFFFFFFF)");
  bool cut_survey = false;
  std::string cuts = "64", shard;
  std::vector<std::string> merge;
  app.add_flag(
      "--power-cut-survey", cut_survey,
      "cut power at many points of this recovery and recover after each; print a table (JSON in --report)");
  app.add_option("--cuts", cuts,
                 "power-cut survey: cuts spread evenly over the recovery's time, beside those at "
                 "the start, middle and end of each 64 KiB block's erase and programming")
      ->capture_default_str();
  bool cut_table = false;
  app.add_flag("--power-cut-table", cut_table,
               "every row of the survey tables: the brick window and a survey of --cuts cuts spread over the "
               "recovery; a Markdown table");
  bool spread_only = false;
  app.add_flag("--spread-only", spread_only,
               "power-cut survey: only the --cuts spread over the recovery's time, none at each block");
  app.add_option("--shard", shard, "power-cut survey: run shard K of N (every N-th cut), as K/N");
  app.add_option("--merge", merge, "join the JSON reports of a survey's shards into one survey");
  app.add_flag("--list-parts", list, "list the parts of both tables and exit");
  app.add_flag("--compatibility", matrix,
               "rehearse every part in every mode from both protection states; print a Markdown table");
  app.add_flag(
      "--estimate-all", estimates,
      "rehearse every part in every mode; print recovery time on hardware against the part's busy time");
  app.add_flag("--quiet", o.quiet, "print nothing but errors");
  std::string image_base;
  app.add_option("--engine", o.engine, "host (the module built for this machine) or ia32 (the shipped image)")
      ->capture_default_str();
  app.add_option("--image", o.image,
                 "ia32: the .efi or its firmware file (default: the image the ia32 preset built)");
  app.add_option("--image-base", image_base, "ia32: load address of the image (hex)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {
      return app.exit(e);  // --help
    }
    std::fprintf(stderr, "recovery-sim: %s\n", rsim::parse_error_text(e).c_str());
    return rsim::kBadInput;
  }
  try {
    rsim::check_option_rules(given_options(app), rsim::find_part(o.part));
    if (!image_base.empty())
      o.image_base = static_cast<std::uint32_t>(rsim::parse_hex("--image-base", image_base, 0xFFFFFFFF));
    if (list) {
      rsim::print_part_list(std::cout);
      return checked_stdout(rsim::kRecovered);
    }
    if (!merge.empty()) {
      if (o.html) rsim::check_output_path("--html", *o.html);
      std::vector<nlohmann::json> shards;
      for (const auto& path : merge) shards.push_back(rsim::read_survey_report(path));
      nlohmann::json merged = rsim::merge_power_cut_surveys(shards);
      if (o.report) write_text("--report", *o.report, merged.dump(2) + "\n");
      if (!o.quiet) rsim::print_power_cut_survey(std::cout, merged);
      int status = rsim::power_cut_survey_passed(merged) ? rsim::kRecovered : rsim::kRecoveryFailed;
      return checked_stdout(write_survey_page(
          o.html, [&] { return rsim::power_cut_page(merged); }, status));
    }
    if (!shard.empty() && !cut_survey) throw std::invalid_argument("--shard goes with --power-cut-survey");
    if (cut_table) {
      // The table is its whole output: an output file asked for would silently stay unwritten.
      for (const auto& [option, path] : {
               std::pair{"--html",      o.html     },
               std::pair{"--report",    o.report   },
               std::pair{"--flash-out", o.flash_out},
               std::pair{"--trace",     o.trace    },
               std::pair{"--beeps-wav", o.beeps_wav}
      }) {
        if (path)
          throw std::invalid_argument(
              std::string("--power-cut-table prints a Markdown table: it writes no ") + option + " file");
      }
      rsim::CutSurveySettings settings;
      settings.spread = rsim::parse_count("--cuts", cuts, 100000);
      settings.block_points = false;
      rsim::ProgressBar bar(on_terminal(false), "rows");
      std::ostringstream table;
      rsim::print_power_cut_table(table, o, settings,
                                  [&](std::size_t done, std::size_t total, const std::string& what) {
                                    bar.update(done, total, what);
                                  });
      bar.finish();
      std::cout << table.str();
      return checked_stdout(rsim::kRecovered);
    }
    if (matrix || estimates) {
      if (o.report) rsim::check_output_path("--report", *o.report);
      if (o.html) rsim::check_output_path("--html", *o.html);
      return checked_stdout(survey(matrix, o));
    }
    if (descriptor != "valid" && descriptor != "none") {
      throw std::invalid_argument("--descriptor takes valid or none, not '" + descriptor + "'");
    }
    o.descriptor = descriptor == "valid";
    o.descriptor_given = app.count("--descriptor") != 0;
    if (!seed.empty()) o.seed = rsim::parse_count("--seed", seed);
    if (bricked) o.then_recover = o.recover_even_if_bricked = true;
    if (!boot_block.empty())
      std::tie(o.boot_block_first, o.boot_block_last) = rsim::parse_boot_block(boot_block);
    if (!quirk.empty() && o.variant.empty()) o.variant = variant_from_quirk(quirk);
    o.cmos_6e = static_cast<std::uint8_t>(rsim::parse_hex("--cmos-6e", cmos, 0xFF));
    if (!flmstr1.empty())
      o.flmstr1 = static_cast<std::uint32_t>(rsim::parse_hex("--flmstr1", flmstr1, 0xFFFFFFFF));
    if (!bfpr.empty()) o.bfpr = static_cast<std::uint32_t>(rsim::parse_hex("--bfpr", bfpr, 0xFFFFFFFF));
    o.trace_limit = rsim::parse_count("--trace-limit", trace_limit);
    for (const char* option : {"--trace-from", "--trace-devices", "--trace-every-access"}) {
      if (app.count(option) != 0 && !o.trace)
        throw std::invalid_argument(std::string(option) + " goes with --trace FILE");
    }
    if (app.count("--trace-from") != 0)
      o.trace_from = rsim::parse_cut_point(trace_from, "--trace-from " + trace_from);
    if (app.count("--trace-devices") != 0) o.trace_devices = rsim::parse_trace_devices(trace_devices);
    o.faults = rsim::parse_faults(faults);
    for (const auto& [option, path] : {
             std::pair{"--flash-out", o.flash_out},
             std::pair{"--report",    o.report   },
             std::pair{"--trace",     o.trace    },
             std::pair{"--beeps-wav", o.beeps_wav},
             std::pair{"--html",      o.html     }
    }) {
      if (path) rsim::check_output_path(option, *path);
    }

    if (cut_survey) {
      for (const auto& f : o.faults) {
        if (f.kind == rsim::FaultKind::PowerCut)
          throw std::invalid_argument("--power-cut-survey chooses its own cuts: leave out --fault " +
                                      rsim::fault_name(f));
      }
      if (o.then_recover)
        throw std::invalid_argument("--power-cut-survey recovers after every cut by itself");
      rsim::CutSurveySettings settings;
      settings.spread = rsim::parse_count("--cuts", cuts, 100000);
      settings.block_points = !spread_only;
      if (!shard.empty()) std::tie(settings.shard, settings.shards) = rsim::parse_shard(shard);
      if (o.report) rsim::check_output_path("--report", *o.report);
      rsim::ProgressBar bar(on_terminal(o.quiet), "cuts");
      nlohmann::json survey = rsim::power_cut_survey(
          o, settings, [&](std::size_t done, std::size_t total, const std::string& what) {
            bar.update(done, total, what);
          });
      bar.finish();
      if (o.report) write_text("--report", *o.report, survey.dump(2) + "\n");
      if (!o.quiet) rsim::print_power_cut_survey(std::cout, survey);
      int status = rsim::power_cut_survey_passed(survey) ? rsim::kRecovered : rsim::kRecoveryFailed;
      return checked_stdout(write_survey_page(
          o.html, [&] { return rsim::power_cut_page(survey); }, status));
    }
    rsim::ProgressBar bar(on_terminal(o.quiet), "chunks");
    rsim::RehearsalResult result = rsim::rehearse(
        o, [&](std::uint32_t chunks, std::uint32_t address) { bar.update(chunks, 496, rsim::hex(address)); });
    bar.finish();
    rsim::Report& r = result.report;
    // A part that cannot complete on this platform: find the setting that makes it work, unless the
    // run was meant to fail (a fault, a refused capsule, straps the module does not take).
    if (!r.success() && o.faults.empty() && !r.capsule_refused && !o.boot) {
      rsim::Remedy remedy = rsim::find_remedy(o, r.cause);
      r.works_with = remedy.works_with;
      r.hint = remedy.hint;
    }
    if (o.flash_out)
      rsim::write_output("--flash-out", *o.flash_out, result.final_flash.data(), result.final_flash.size());
    if (o.report) write_text("--report", *o.report, r.to_json().dump(2) + "\n");
    if (o.beeps_wav) rsim::write_beeps_wav(*o.beeps_wav, r.beeps, r.frequency.value_or(1000));
    const int status = r.success() ? rsim::kRecovered : rsim::kRecoveryFailed;
    std::string page_failed;
    if (o.html) page_failed = write_page(*o.html, [&] { return rsim::rehearsal_page(o, r, status); });
    if (!o.quiet) {
      std::fputs(r.summary().c_str(), stdout);
    } else if (!r.success()) {
      std::fprintf(stderr, "recovery-sim: %s\n",
                   !r.faults_unfired.empty()
                       ? r.faults_unfired.front().c_str()
                       : (rsim::outcome_text(r.outcome) + "; flash " +
                          (r.flash.verified() ? "as expected" : "differs from the expectation") +
                          (r.cause.empty() ? "" : "; " + r.cause))
                             .c_str());
    }
    if (!page_failed.empty()) {
      std::fprintf(stderr, "recovery-sim: the rehearsal ran (%s), but %s\n",
                   r.success() ? "SUCCESS" : "FAILED", page_failed.c_str());
      return checked_stdout(rsim::kRecoveryFailed);
    }
    return checked_stdout(status);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "recovery-sim: %s\n", e.what());
    return rsim::kBadInput;
  }
}
