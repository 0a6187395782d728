// recovery-sim: rehearse a recovery of the module on a simulated PC and report what it did.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>

#include "sim/devices/PartVariants.h"
#include "tools/recovery-sim/BeepsWav.h"
#include "tools/recovery-sim/PartCatalog.h"
#include "tools/recovery-sim/Rehearsal.h"
#include "tools/recovery-sim/Survey.h"

namespace {

std::uint32_t parse_hex(const std::string& option, const std::string& text, std::uint64_t max) {
  std::size_t used = 0;
  unsigned long long v = 0;
  try {
    v = std::stoull(text, &used, 16);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || text[0] == '-' || v > max) {
    throw std::invalid_argument(option + " takes a hexadecimal number up to " + rsim::hex(max, 0) +
                                ", not '" + text + "'");
  }
  return static_cast<std::uint32_t>(v);
}

void list_parts() {
  std::printf("%-4s %-24s %-10s %s\n", "bus", "part", "id", "size");
  for (const auto& p : rsim::all_parts()) {
    std::printf("%-4s %-24s 0x%08X %u KiB\n", p.bus == rsim::Bus::Spi ? "spi" : "lpc", p.label().c_str(),
                p.id, p.size / 1024);
    std::string_view note = sim::part_note(p.name);
    if (!note.empty()) std::printf("%-29s note: %.*s\n", "", static_cast<int>(note.size()), note.data());
    for (const sim::PartVariant* v : sim::variants_of(p.name)) {
      std::printf("%-29s --variant %.*s: %.*s\n", "", static_cast<int>(v->name.size()), v->name.data(),
                  static_cast<int>(v->differs.size()), v->differs.data());
    }
  }
}

// --quirk, the earlier name of --variant, still accepted. Two of its names asked for what is now
// the named parts' default behaviour.
std::string variant_from_quirk(const std::string& quirk) {
  return quirk == "64k-sector-erase" || quirk == "res-dummy-bytes" ? "" : quirk;
}

class ProgressBar {
 public:
  explicit ProgressBar(bool enabled) : enabled_(enabled), start_(std::chrono::steady_clock::now()) {}
  void update(std::uint32_t chunks, std::uint32_t address) {
    if (!enabled_) {
      return;
    }
    auto now = std::chrono::steady_clock::now();
    if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(100)) {
      return;
    }
    last_ = now;
    shown_ = true;
    int filled = static_cast<int>(chunks * 30 / 496);
    std::fprintf(stderr, "\r[%-30s] %3u/496 chunks  0x%08X", std::string(filled, '#').c_str(), chunks,
                 address);
    std::fflush(stderr);
  }
  ~ProgressBar() {
    if (shown_) {
      std::fprintf(stderr, "\r%60s\r", "");
    }
  }

 private:
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_, last_{};
};

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    throw std::runtime_error("cannot write " + path);
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Rehearse a flash recovery of the module on a simulated PC."};
  rsim::Options o;
  std::string flmstr1, bfpr, cmos = "0", descriptor = "valid";
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
  app.add_option("--report", o.report, "write a JSON report here");
  app.add_option("--trace", o.trace, "write every hardware access here, one per line");
  app.add_option("--trace-limit", o.trace_limit, "at most this many trace lines (0: no limit)")
      ->capture_default_str();
  app.add_option("--beeps-wav", o.beeps_wav, "write the beeps as a WAV file");
  app.add_option("--initial-protection", o.initial_protection, "power-on or cleared")->capture_default_str();
  std::string quirk;
  app.add_option("--variant", o.variant, "a named variant of the part (listed by --list-parts)");
  app.add_option("--quirk", quirk)->group("");  // hidden: the earlier name of --variant
  app.add_option("--decode", o.decode, "LPC parts smaller than the window: aliased or top")
      ->capture_default_str();
  app.add_option(
      "--fault", faults, "inject a fault (repeatable): " + [] {
        std::string s;
        for (const auto& n : rsim::fault_names()) s += (s.empty() ? "" : ", ") + n;
        return s;
      }());
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
    return app.exit(e);
  }
  if (list) {
    list_parts();
    return 0;
  }
  try {
    if (!image_base.empty()) o.image_base = parse_hex("--image-base", image_base, 0xFFFFFFFF);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "recovery-sim: %s\n", e.what());
    return 2;
  }
  if (matrix || estimates) {
    try {
      matrix ? rsim::print_compatibility_matrix(std::cout, o) : rsim::print_duration_estimates(std::cout, o);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "recovery-sim: %s\n", e.what());
      return 2;
    }
    return 0;
  }
  try {
    if (descriptor != "valid" && descriptor != "none") {
      throw std::invalid_argument("--descriptor takes valid or none, not '" + descriptor + "'");
    }
    o.descriptor = descriptor == "valid";
    if (!quirk.empty() && o.variant.empty()) o.variant = variant_from_quirk(quirk);
    o.cmos_6e = static_cast<std::uint8_t>(parse_hex("--cmos-6e", cmos, 0xFF));
    if (!flmstr1.empty()) o.flmstr1 = parse_hex("--flmstr1", flmstr1, 0xFFFFFFFF);
    if (!bfpr.empty()) o.bfpr = parse_hex("--bfpr", bfpr, 0xFFFFFFFF);
    for (const auto& f : faults) {
      o.faults.push_back(rsim::parse_fault(f));
    }
    ProgressBar bar(!o.quiet && isatty(STDERR_FILENO));
    rsim::RehearsalResult result =
        rsim::rehearse(o, [&](std::uint32_t chunks, std::uint32_t address) { bar.update(chunks, address); });
    const rsim::Report& r = result.report;
    if (o.flash_out) write_bytes(*o.flash_out, result.final_flash);
    if (o.report) {
      std::ofstream out(*o.report);
      out << r.to_json().dump(2) << "\n";
      if (!out) throw std::runtime_error("cannot write " + *o.report);
    }
    if (o.beeps_wav) rsim::write_beeps_wav(*o.beeps_wav, r.beeps, r.frequency.value_or(1000));
    if (!o.quiet) {
      std::fputs(r.summary().c_str(), stdout);
    } else if (!r.success()) {
      std::fprintf(stderr, "recovery-sim: %s; flash %s\n", r.outcome.to_string().c_str(),
                   r.flash.verified() ? "as expected" : "differs from the expectation");
    }
    return r.success() ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "recovery-sim: %s\n", e.what());
    return 2;
  }
}
