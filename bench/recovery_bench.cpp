// Host time of a complete 2 MiB recovery on the simulated platform: SPI with software sequencing
// (no descriptor, the worst case: one controller cycle per byte), SPI with hardware sequencing,
// and a JEDEC-command LPC part. Reports hardware accesses per host second and simulated seconds
// per host second (how much faster than the hardware the simulator runs). Each runs on both
// engines: the host build (suffix Host) and the IA32 image the ia32 preset built (suffix Ia32).
// The default rehearsal is timed as `recovery-sim` makes it (platform set up, image loaded, run),
// and again with the page of --html built.
#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <vector>

#include "recovery/RecoveryEntry.h"
#include "sim/LpcSetup.h"
#include "sim/Machine.h"
#include "sim/SpiSetup.h"
#include "sim/ia32/Ia32Engine.h"
#include "sim/ia32/ImageFile.h"
#include "sim/pei/PeiEnvironment.h"
#include "sim/pei/RecoveryPpiModel.h"
#include "tools/recovery-sim/Rehearsal.h"
#include "tools/recovery-sim/RehearsalPage.h"

namespace {

struct Setup {
  explicit Setup(const std::function<void(sim::Machine&)>& install, std::uint8_t straps)
      : machine(config(straps)) {
    install(machine);
    std::vector<std::uint8_t> capsule(0x200000);
    for (std::size_t i = 0; i < capsule.size(); i++) {
      capsule[i] = static_cast<std::uint8_t>(i * 31 + (i >> 12));
    }
    pei.install_speaker();
    pei.install_recovery_ppi().add_capsule(std::move(capsule));
  }
  static sim::MachineConfig config(std::uint8_t straps) {
    sim::MachineConfig c;
    c.boot_straps = straps;
    return c;
  }
  sim::Machine machine;
  sim::PeiEnvironment pei;
};

// The built image, loaded once (each run still starts from a fresh copy of it).
sim::ia32::Ia32Engine* image_engine() {
  static std::unique_ptr<sim::ia32::Ia32Engine> engine = [] {
    sim::ia32::ImageFile file = sim::ia32::read_image_file(RECOVERY_IA32_IMAGE);
    return std::make_unique<sim::ia32::Ia32Engine>(sim::ia32::Pe32Image(file.pe32));
  }();
  return engine.get();
}

enum class Engine { Host, Ia32 };

void recovery(benchmark::State& state, const std::function<void(sim::Machine&)>& install, std::uint8_t straps,
              Engine engine = Engine::Host) {
  double simulated = 0, accesses = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto setup = std::make_unique<Setup>(install, straps);
    sim::ia32::Ia32Engine* ia32 = engine == Engine::Ia32 ? image_engine() : nullptr;
    state.ResumeTiming();
    sim::Outcome outcome =
        ia32 != nullptr ? ia32->run(setup->machine.platform(), setup->pei)
                        : setup->machine.run([&] { return RecoveryEntry(nullptr, setup->pei.services()); });
    state.PauseTiming();
    if (outcome.kind != sim::OutcomeKind::FinalSpin) {
      state.SkipWithError(outcome.to_string().c_str());
    }
    simulated += static_cast<double>(setup->machine.platform().now()) / 1e9;
    accesses += static_cast<double>(setup->machine.platform().accesses());
    setup.reset();
    state.ResumeTiming();
  }
  state.counters["accesses"] = benchmark::Counter(accesses, benchmark::Counter::kAvgIterations);
  state.counters["accesses_per_s"] = benchmark::Counter(accesses, benchmark::Counter::kIsRate);
  state.counters["ns_per_access"] =
      benchmark::Counter(accesses / 1e9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["simulated_s"] = benchmark::Counter(simulated, benchmark::Counter::kAvgIterations);
  // Simulated seconds per host second: how many times faster than the hardware.
  state.counters["speedup"] = benchmark::Counter(simulated, benchmark::Counter::kIsRate);
}

void spi(sim::Machine& m, bool descriptor) {
  sim::SpiSetupConfig c;
  c.part = "25X16";  // 2 MiB: every chunk of the capsule lands in the part
  c.descriptor = descriptor;
  c.descriptor_config.flmstr1 = 0x03030000;  // the BIOS master may write descriptor and BIOS regions
  sim::install_spi_flash(m, c);
}

void lpc_jedec(sim::Machine& m) {
  sim::LpcSetupOptions o;
  o.part = "49LF008A";
  o.protection = sim::LpcProtection::Cleared;
  sim::install_lpc_part(m, o);
}

void BM_SpiSoftwareSequencing(benchmark::State& state, Engine engine) {
  recovery(
      state, [](sim::Machine& m) { spi(m, false); }, 3, engine);
}
void BM_SpiHardwareSequencing(benchmark::State& state, Engine engine) {
  recovery(
      state, [](sim::Machine& m) { spi(m, true); }, 3, engine);
}
void BM_LpcJedec(benchmark::State& state, Engine engine) { recovery(state, lpc_jedec, 0, engine); }

// `recovery-sim` with no options (`--engine ia32` for the image).
void BM_DefaultRehearsal(benchmark::State& state, Engine engine) {
  rsim::Options o;
  o.quiet = true;
  if (engine == Engine::Ia32) {
    o.engine = "ia32";
    o.image = RECOVERY_IA32_IMAGE;
  }
  for (auto _ : state) {
    rsim::RehearsalResult r = rsim::rehearse(o);
    if (!r.report.success()) {
      state.SkipWithError(r.report.outcome.to_string().c_str());
    }
  }
}

// The same with the page --html writes built (not written: the file system is not what is timed).
void BM_DefaultRehearsalWithHtml(benchmark::State& state) {
  rsim::Options o;
  o.quiet = true;
  std::size_t bytes = 0;
  for (auto _ : state) {
    rsim::RehearsalResult r = rsim::rehearse(o);
    bytes = rsim::rehearsal_page(o, r.report, r.report.success() ? 0 : 1).size();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["page_bytes"] = static_cast<double>(bytes);
}

BENCHMARK_CAPTURE(BM_DefaultRehearsal, Host, Engine::Host)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DefaultRehearsalWithHtml)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_DefaultRehearsal, Ia32, Engine::Ia32)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_SpiSoftwareSequencing, Host, Engine::Host)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_SpiHardwareSequencing, Host, Engine::Host)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_LpcJedec, Host, Engine::Host)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_SpiSoftwareSequencing, Ia32, Engine::Ia32)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_SpiHardwareSequencing, Ia32, Engine::Ia32)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_LpcJedec, Ia32, Engine::Ia32)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
