// Setting up the platform from the options, running the module and collecting the report.
#include "tools/recovery-sim/Rehearsal.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

#include "sim/Machine.h"
#include "sim/pei/PeiEnvironment.h"
#include "sim/pei/RecoveryPpiModel.h"
#include "sim/pei/SpeakerModel.h"
#include "tools/recovery-sim/BootBlock.h"
#include "tools/recovery-sim/CapsuleChecks.h"
#include "tools/recovery-sim/CutWatch.h"
#include "tools/recovery-sim/Diagnosis.h"
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

}  // namespace

namespace {

std::optional<Fault> power_cut_of(const Options& o) {
  for (const auto& f : o.faults) {
    if (f.kind == FaultKind::PowerCut) return f;
  }
  return std::nullopt;
}

std::map<std::string, std::uint64_t> minus(std::map<std::string, std::uint64_t> now,
                                           const std::map<std::string, std::uint64_t>& earlier) {
  for (auto& [name, n] : now) {
    auto it = earlier.find(name);
    if (it != earlier.end()) n -= it->second;
  }
  return now;
}

// Everything one run needs and leaves: the machine and its flash, the engine, the capsule.
struct Bench {
  const Options& options;
  const PartEntry& part;
  sim::Machine& machine;
  FlashRig& rig;
  Engine& engine;
  std::shared_ptr<const std::vector<std::uint8_t>> capsule;
};

// Runs the module once from its just-loaded state, in a fresh PEI environment, and reports what
// this run did (the machine's logs and counters may already hold earlier runs).
Report run_once(Bench& b) {
  const Options& options = b.options;
  sim::Machine& machine = b.machine;
  const std::size_t post_mark = machine.post().codes().size(), ec_mark = machine.ec().commands().size();
  const sim::Nanos start = machine.platform().now();
  const std::uint64_t first_access = machine.platform().accesses();
  const auto work_mark = b.rig.work(), refused_mark = b.rig.refusals();

  sim::PeiEnvironment pei;
  sim::SpeakerModel* speaker = has(options, FaultKind::NoSpeaker) ? nullptr : &pei.install_speaker();
  if (!has(options, FaultKind::NoRecoveryPpi)) {
    sim::RecoveryPpiModel& ppi = pei.install_recovery_ppi();
    ppi.add_capsule(b.capsule);
    if (has(options, FaultKind::CapsuleInfoFails))
      ppi.fail(sim::RecoveryOp::GetRecoveryCapsuleInfo, EFI_DEVICE_ERROR);
    if (has(options, FaultKind::LoadCapsuleFails))
      ppi.fail(sim::RecoveryOp::LoadRecoveryCapsule, EFI_DEVICE_ERROR);
  }
  if (has(options, FaultKind::AllocatePagesFails)) pei.fail_allocate_pages(EFI_OUT_OF_RESOURCES);
  if (has(options, FaultKind::AllocatePoolFails)) pei.fail_allocate_pool(EFI_OUT_OF_RESOURCES);

  std::optional<sim::Nanos> write_enabled;
  machine.lpc().on_bios_cntl_write = [&] {
    if (!write_enabled && machine.lpc().bios_write_enabled())
      write_enabled = machine.platform().now() - start;
  };
  auto t0 = std::chrono::steady_clock::now();
  sim::Outcome outcome = b.engine.run(machine, pei);
  auto t1 = std::chrono::steady_clock::now();
  machine.lpc().on_bios_cntl_write = nullptr;

  Report r;
  r.configured_part = b.part.label() + (options.variant.empty() ? "" : ", variant " + options.variant);
  r.bus = b.part.bus == Bus::Spi ? "spi" : "lpc";
  r.outcome = outcome;
  r.engine = b.engine.name();
  if (auto image = b.engine.image()) {
    r.image = std::make_pair(image->path, image->sha256);
  }
  r.detected = b.engine.detected();
  if (speaker != nullptr) {
    for (const auto& beep : speaker->beeps()) {
      r.beeps.push_back(Beep{beep.count, beep.duration, beep.interval});
    }
    for (sim::Nanos t : speaker->beep_times()) r.timeline.beeps.push_back(t - start);
    if (!speaker->frequencies().empty()) {
      r.frequency = speaker->frequencies().back();
    }
  }
  const auto& codes = machine.post().codes();
  r.post_codes.assign(codes.begin() + static_cast<std::ptrdiff_t>(post_mark), codes.end());
  r.chunks_done = chunks_started(r.post_codes);
  const auto& post_times = machine.post().times();
  for (std::size_t i = post_mark; i < post_times.size(); i++)
    r.timeline.post_codes.push_back(post_times[i] - start);
  const auto& ec = machine.ec().commands();
  for (std::size_t i = ec_mark; i < ec.size(); i++) {
    r.ec_commands.emplace_back(ec[i].command, ec[i].data);
    r.timeline.ec_commands.push_back(ec[i].time - start);
  }
  r.timeline.write_enabled = write_enabled;
  r.refused = minus(b.rig.refusals(), refused_mark);
  r.work = minus(b.rig.work(), work_mark);
  r.capsule_size = b.capsule->size();
  r.capsule_refused = outcome.kind == sim::OutcomeKind::Returned && outcome.status == EFI_BAD_BUFFER_SIZE &&
                      b.capsule->size() < kCapsuleBytes;
  r.accesses = machine.platform().accesses() - first_access;
  // A part that never finishes may have moved the clock far past the point the hang was declared.
  r.simulated_ns =
      outcome.kind == sim::OutcomeKind::Hang ? outcome.declared_after : machine.platform().now() - start;
  r.host_ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
  return r;
}

// The flash now against the flash before the run and the expectation.
void check_flash(Report& r, sim::Machine& machine, const FlashRig& rig,
                 const std::array<bool, kMapCells>& written, const std::vector<std::uint8_t>& before,
                 const std::vector<std::uint8_t>& expected, const std::vector<std::uint8_t>& final_flash) {
  r.chipset = rig.chipset_registers();
  r.chipset["BIOS_CNTL"] = hex(machine.lpc().bios_cntl(), 2);
  for (std::size_t i = 0; i < before.size(); i++) {
    r.flash.changed += final_flash[i] != before[i] ? 1 : 0;
  }
  r.flash.size = expected.size();
  for (std::size_t i = 0; i < expected.size(); i++) {
    if (final_flash[i] != expected[i]) {
      if (!r.flash.first_mismatch) {
        r.flash.first_mismatch = i;
        r.flash.first_mismatch_where = rig.where(i);
      }
      r.flash.mismatches++;
    }
  }
  r.flash.map = map_flash(rig, written, before, expected, final_flash, r.chunks_done, r.cut);
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
  if (options.then_recover && !power_cut_of(options) && options.checkpoints.empty()) {
    throw std::invalid_argument("--then-recover needs a power cut: --fault power-cut@...");
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
  const std::optional<Fault> cut = power_cut_of(options);
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
  // The flash is what the chipset reads: a --flash-in keeps its own descriptor (or its absence)
  // unless --descriptor asks for another.
  const bool replace_descriptor =
      part.bus == Bus::Spi && (options.flash_in ? options.descriptor_given : options.descriptor);
  std::vector<std::uint8_t> before = rig->load(std::move(initial), replace_descriptor);
  std::vector<std::uint8_t> board_head(before.begin(),
                                       before.begin() + std::min<std::ptrdiff_t>(0x1000, before.size()));

  std::shared_ptr<const std::vector<std::uint8_t>> capsule_bytes =
      options.capsule_file
          ? std::make_shared<const std::vector<std::uint8_t>>(read_input("--capsule", *options.capsule_file))
          : shared_generated_capsule();
  const std::vector<std::uint8_t>& capsule = *capsule_bytes;
  // A capsule shorter than 2 MiB is refused by the module before any flash access.
  auto expectation = [&](std::vector<std::uint8_t> from) {
    return capsule.size() >= kCapsuleBytes ? rig->expected(std::move(from), capsule.data()) : from;
  };
  std::vector<std::uint8_t> expected = expectation(before);

  auto watch = std::make_unique<CutWatch>(machine.platform(), cut);
  auto boot = std::make_unique<BootBlockWatch>(*rig, options.boot_block_first, options.boot_block_last,
                                               before, expected, machine.platform().now());
  const sim::Nanos run_start = machine.platform().now();
  sim::Nanos this_run_start = run_start;
  Timeline flash_times;
  rig->on_change([&](const FlashChange& c) {
    watch->changed(c);
    boot->changed(c);
    flash_times.flash_changed(c, watch->chunk(), this_run_start);
    if (options.on_flash_change &&
        (c.kind == FlashChange::Kind::Erase || c.kind == FlashChange::Kind::Program)) {
      options.on_flash_change(FlashChangeSeen{machine.platform().accesses() + 1, c.time - run_start,
                                              watch->chunk(), c.kind == FlashChange::Kind::Erase});
    }
  });
  std::size_t next_checkpoint = 0;
  if (!options.checkpoints.empty()) {
    machine.platform().limits().power_cut_after = options.checkpoints.front();
    machine.platform().before_power_cut = [&](const sim::Access&) {
      if (options.at_checkpoint(next_checkpoint)) return true;  // this copy loses power here
      next_checkpoint++;
      machine.platform().limits().power_cut_after =
          next_checkpoint < options.checkpoints.size() ? options.checkpoints[next_checkpoint] : 0;
      return false;
    };
  }
  machine.post().on_write = [&](std::uint8_t code) {
    watch->post_code(code);
    if (auto chunk = watch->chunk(); progress && chunk)
      progress(watch->chunks_started(), kWindowBase + *chunk * kChunk);
  };
  if (cut && cut->cut_at == CutAt::Access) machine.platform().limits().power_cut_after = cut->n;
  if (cut && cut->cut_at == CutAt::Time) machine.platform().limits().power_cut_at = cut->n;

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

  Bench bench{options, part, machine, *rig, engine, capsule_bytes};
  RehearsalResult result;
  Report& r = result.report;
  r = run_once(bench);
  machine.platform().set_trace(nullptr);
  if (trace) {
    trace->close();
  }
  machine.platform().before_power_cut = nullptr;
  if (r.outcome.kind == sim::OutcomeKind::PowerCut) {
    // The run ended with power lost: each part busy then leaves what a real one would, and what is
    // reported and written below is what the board now holds.
    machine.power_cycle();
    r.cut = watch->facts(r.outcome, run_start);
    r.cut->board_cannot_start = boot->torn() != 0;
  }
  result.final_flash = rig->contents();
  const std::array<bool, kMapCells> written = cells_written(*rig);
  r.timeline.blocks = std::exchange(flash_times.blocks, {});
  check_flash(r, machine, *rig, written, before, expected, result.final_flash);
  if (!boot->window().spans.empty()) r.brick_window = boot->window();
  r.seed = options.seed;
  for (const auto& f : options.faults) {
    r.faults.push_back(fault_name(f));
  }
  r.faults_unfired = unfired_faults(options.faults, r.outcome, r);
  if (options.capsule_file) {
    r.capsule_checks = check_capsule(
        capsule, descriptor_overwrite(part.bus == Bus::Spi, std::move(board_head), expected, capsule));
  }
  r.cause = failure_cause(r, options, part);
  if (options.flash_in && options.descriptor_given && part.bus == Bus::Spi) {
    r.notes.push_back(std::string("--descriptor ") + (options.descriptor ? "valid" : "none") +
                      " replaced the first 4 KiB of --flash-in");
  }

  r.recovery_after_cut_skipped =
      options.then_recover && r.board_cannot_start() && !options.recover_even_if_bricked;
  if (options.then_recover && r.cut && !r.recovery_after_cut_skipped) {
    // Power comes back: the board starts the recovery again from the start, on the flash the cut left.
    machine.platform().limits().power_cut_after = 0;
    machine.platform().limits().power_cut_at = 0;
    std::vector<std::uint8_t> left = result.final_flash;
    std::vector<std::uint8_t> expected_now = expectation(left);
    boot = std::make_unique<BootBlockWatch>(*rig, options.boot_block_first, options.boot_block_last, left,
                                            expected_now, machine.platform().now());
    watch = std::make_unique<CutWatch>(machine.platform(), std::nullopt);
    this_run_start = machine.platform().now();
    auto next = std::make_shared<Report>(run_once(bench));
    result.final_flash = rig->contents();
    next->timeline.blocks = flash_times.blocks;
    check_flash(*next, machine, *rig, written, left, expected_now, result.final_flash);
    if (!boot->window().spans.empty()) next->brick_window = boot->window();
    next->cause = failure_cause(*next, options, part);
    r.recovery_after_cut = next;
  }
  return result;
}

}  // namespace rsim
