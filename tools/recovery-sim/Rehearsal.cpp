// Setting up the platform from the options, running the module and collecting the report.
#include "tools/recovery-sim/Rehearsal.h"

#include <chrono>
#include <memory>
#include <stdexcept>

#include "sim/Machine.h"
#include "sim/pei/PeiEnvironment.h"
#include "sim/pei/RecoveryPpiModel.h"
#include "sim/pei/SpeakerModel.h"
#include "tools/recovery-sim/Engine.h"
#include "tools/recovery-sim/Expectation.h"
#include "tools/recovery-sim/Files.h"
#include "tools/recovery-sim/FlashRig.h"
#include "tools/recovery-sim/PartCatalog.h"
#include "tools/recovery-sim/TraceFile.h"

namespace rsim {

namespace {

bool has(const Options& o, FaultKind k) {
  for (const auto& f : o.faults) {
    if (f.kind == k) {
      return true;
    }
  }
  return false;
}

PartEntry resolve_part(const std::string& text) {
  if (auto p = find_part(text)) {
    return *p;
  }
  std::string list;
  for (const auto& m : close_matches(text)) {
    list += (list.empty() ? "" : ", ") + ("\"" + m + "\"");
  }
  throw std::invalid_argument("unknown part \"" + text + "\"; closest: " + list +
                              " (--list-parts shows all)");
}

std::uint8_t straps_for(const Options& o, Bus bus) {
  if (!o.boot) {
    return bus == Bus::Spi ? 3 : 0;
  }
  const std::string& b = *o.boot;
  if (b == "spi" || b == "11") return 3;
  if (b == "lpc" || b == "00") return 0;
  if (b == "01") return 1;
  if (b == "10") return 2;
  throw std::invalid_argument("--boot takes spi, lpc, 01 or 10, not '" + b + "'");
}

// The first chunk counter is the first 0x00 written: the SPI probes before it write 0x41.
std::uint32_t chunks_started(const std::vector<std::uint8_t>& codes) {
  for (std::size_t i = 0; i < codes.size(); i++) {
    if (codes[i] == 0x00) {
      return static_cast<std::uint32_t>(codes.size() - i);
    }
  }
  return 0;
}

// The trace file and an observer both see every access.
struct TeeTrace : sim::TraceSink {
  sim::TraceSink* first;
  sim::TraceSink* second;
  TeeTrace(sim::TraceSink* a, sim::TraceSink* b) : first(a), second(b) {}
  void record(const sim::Access& a) override {
    if (first != nullptr) first->record(a);
    if (second != nullptr) second->record(a);
  }
};

// Counted faults name an access or a cycle that the run may never reach.
std::vector<std::string> unfired_faults(const std::vector<Fault>& faults, const sim::Outcome& outcome,
                                        const Report& r) {
  std::vector<std::string> unfired;
  for (const auto& f : faults) {
    if (f.kind == FaultKind::PowerCut && outcome.kind != sim::OutcomeKind::PowerCut) {
      unfired.push_back(fault_name(f) + " never fired: the run ended after " + std::to_string(r.accesses) +
                        " accesses");
    }
    auto injected = r.refused.find("controller-injected-cycle-error");
    if (f.kind == FaultKind::SpiCycleError && (injected == r.refused.end() || injected->second == 0)) {
      unfired.push_back(fault_name(f) + " never fired: the run made " +
                        std::to_string(r.work.at("software_cycles") + r.work.at("hardware_cycles")) +
                        " SPI cycles");
    }
  }
  return unfired;
}

// The platform settings, checked before anything is loaded.
PartEntry checked_part(const Options& options) {
  const PartEntry part = resolve_part(options.part);
  if (options.components != 1 && options.components != 2) {
    throw std::invalid_argument("--components takes 1 or 2");
  }
  if (options.initial_protection != "power-on" && options.initial_protection != "cleared") {
    throw std::invalid_argument("--initial-protection takes power-on or cleared");
  }
  if (options.decode != "aliased" && options.decode != "top") {
    throw std::invalid_argument("--decode takes aliased or top");
  }
  return part;
}

}  // namespace

RehearsalResult rehearse(const Options& options, const ProgressFn& progress) {
  checked_part(options);
  std::unique_ptr<Engine> engine = make_engine(options);
  return rehearse(options, *engine, progress);
}

RehearsalResult rehearse(const Options& options, Engine& engine, const ProgressFn& progress) {
  const PartEntry part = checked_part(options);
  sim::MachineConfig config;
  config.cmos_6e = options.cmos_6e;
  config.boot_straps = straps_for(options, part.bus);
  config.ec.present = !has(options, FaultKind::EcAbsent);
  sim::Machine machine(config);
  std::unique_ptr<FlashRig> rig =
      part.bus == Bus::Spi ? make_spi_rig(machine, part, options) : make_lpc_rig(machine, part, options);

  std::vector<std::uint8_t> initial =
      options.flash_in ? read_input("--flash-in", *options.flash_in) : old_flash_pattern(rig->size());
  if (initial.size() != rig->size()) {
    throw std::invalid_argument("--flash-in " + *options.flash_in + " holds " +
                                std::to_string(initial.size()) + " bytes; this platform's flash is " +
                                std::to_string(rig->size()));
  }
  std::vector<std::uint8_t> before = rig->load(std::move(initial));

  std::shared_ptr<const std::vector<std::uint8_t>> capsule_bytes =
      options.capsule_file
          ? std::make_shared<const std::vector<std::uint8_t>>(read_input("--capsule", *options.capsule_file))
          : shared_generated_capsule();
  const std::vector<std::uint8_t>& capsule = *capsule_bytes;

  sim::PeiEnvironment pei;
  sim::SpeakerModel* speaker = has(options, FaultKind::NoSpeaker) ? nullptr : &pei.install_speaker();
  if (!has(options, FaultKind::NoRecoveryPpi)) {
    sim::RecoveryPpiModel& ppi = pei.install_recovery_ppi();
    ppi.add_capsule(capsule_bytes);
    if (has(options, FaultKind::CapsuleInfoFails))
      ppi.fail(sim::RecoveryOp::GetRecoveryCapsuleInfo, EFI_DEVICE_ERROR);
    if (has(options, FaultKind::LoadCapsuleFails))
      ppi.fail(sim::RecoveryOp::LoadRecoveryCapsule, EFI_DEVICE_ERROR);
  }
  if (has(options, FaultKind::AllocatePagesFails)) pei.fail_allocate_pages(EFI_OUT_OF_RESOURCES);
  if (has(options, FaultKind::AllocatePoolFails)) pei.fail_allocate_pool(EFI_OUT_OF_RESOURCES);
  for (const auto& f : options.faults) {
    if (f.kind == FaultKind::PowerCut) {
      machine.platform().limits().power_cut_after = f.n;
    }
  }

  std::unique_ptr<TraceFile> trace;
  if (options.trace) {
    try {
      trace = std::make_unique<TraceFile>(*options.trace, options.trace_limit);
    } catch (const std::runtime_error& e) {
      throw std::invalid_argument(e.what());
    }
  }
  TeeTrace tee{trace.get(), options.observer};
  if (trace || options.observer != nullptr) {
    machine.platform().set_trace(&tee);
  }
  if (progress) {
    machine.post().on_write = [&](std::uint8_t) {
      std::uint32_t chunks = chunks_started(machine.post().codes());
      if (chunks != 0) {
        std::uint32_t address = 0xFFE00000u + (chunks - 1) * kChunk;
        progress(chunks, address >= kSkipBase ? address + 0x10000 : address);
      }
    };
  }

  auto t0 = std::chrono::steady_clock::now();
  sim::Outcome outcome = engine.run(machine, pei);
  auto t1 = std::chrono::steady_clock::now();
  machine.platform().set_trace(nullptr);
  if (trace) {
    trace->close();
  }

  RehearsalResult result;
  Report& r = result.report;
  r.configured_part = part.label() + (options.variant.empty() ? "" : ", variant " + options.variant);
  r.bus = part.bus == Bus::Spi ? "spi" : "lpc";
  r.outcome = outcome;
  r.engine = engine.name();
  if (auto image = engine.image()) {
    r.image = std::make_pair(image->path, image->sha256);
  }
  r.detected = engine.detected();
  if (speaker != nullptr) {
    for (const auto& b : speaker->beeps()) {
      r.beeps.push_back(Beep{b.count, b.duration, b.interval});
    }
    if (!speaker->frequencies().empty()) {
      r.frequency = speaker->frequencies().back();
    }
  }
  r.post_codes = machine.post().codes();
  r.chunks_done = chunks_started(r.post_codes);
  for (const auto& c : machine.ec().commands()) {
    r.ec_commands.emplace_back(c.command, c.data);
  }
  r.chipset = rig->chipset_registers();
  r.chipset["BIOS_CNTL"] = hex(machine.lpc().bios_cntl(), 2);

  result.final_flash = rig->contents();
  const std::vector<std::uint8_t>& final_flash = result.final_flash;
  for (std::size_t i = 0; i < before.size(); i++) {
    r.flash.changed += final_flash[i] != before[i] ? 1 : 0;
  }
  // A capsule shorter than 2 MiB is refused by the module before any flash access. The expectation
  // is worked out in the "before" image, which is not needed any more.
  std::vector<std::uint8_t> expected =
      capsule.size() >= kCapsuleBytes ? rig->expected(std::move(before), capsule.data()) : std::move(before);
  r.flash.size = expected.size();
  for (std::size_t i = 0; i < expected.size(); i++) {
    if (final_flash[i] != expected[i]) {
      if (!r.flash.first_mismatch) {
        r.flash.first_mismatch = i;
        r.flash.first_mismatch_where = rig->where(i);
      }
      r.flash.mismatches++;
    }
  }
  r.refused = rig->refusals();
  r.work = rig->work();
  r.capsule_size = capsule.size();
  r.capsule_refused = outcome.kind == sim::OutcomeKind::Returned && outcome.status == EFI_BAD_BUFFER_SIZE &&
                      capsule.size() < kCapsuleBytes;
  for (const auto& f : options.faults) {
    r.faults.push_back(fault_name(f));
  }
  r.accesses = machine.platform().accesses();
  r.faults_unfired = unfired_faults(options.faults, outcome, r);
  // A part that never finishes may have moved the clock far past the point the hang was declared.
  r.simulated_ns = outcome.kind == sim::OutcomeKind::Hang ? outcome.declared_after : machine.platform().now();
  r.host_ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
  return result;
}

}  // namespace rsim
