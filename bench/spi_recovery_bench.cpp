// Host time of a complete 2 MiB recovery on the simulated SPI platform. Software sequencing without
// a descriptor is the worst case: one controller cycle per byte. The simulated time it reports is
// what the same recovery takes on the hardware the models describe.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "recovery/RecoveryEntry.h"
#include "sim/Machine.h"
#include "sim/SpiSetup.h"
#include "sim/pei/PeiEnvironment.h"
#include "sim/pei/RecoveryPpiModel.h"

namespace {

struct Setup {
  explicit Setup(bool descriptor) {
    sim::SpiSetupConfig c;
    c.part = "25X16";  // 2 MiB: every chunk of the capsule lands in the part
    c.descriptor = descriptor;
    flash = &sim::install_spi_flash(machine, c);
    std::vector<std::uint8_t> capsule(0x200000);
    for (std::size_t i = 0; i < capsule.size(); i++)
      capsule[i] = static_cast<std::uint8_t>(i * 31 + (i >> 12));
    pei.install_speaker();
    pei.install_recovery_ppi().add_capsule(std::move(capsule));
  }
  sim::Machine machine;
  sim::SpiFlashSystem* flash = nullptr;
  sim::PeiEnvironment pei;
};

void recovery(benchmark::State& state, bool descriptor) {
  double simulated = 0, accesses = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto setup = std::make_unique<Setup>(descriptor);
    state.ResumeTiming();
    sim::Outcome outcome = setup->machine.run([&] { return RecoveryEntry(nullptr, setup->pei.services()); });
    state.PauseTiming();
    if (outcome.kind != sim::OutcomeKind::FinalSpin) state.SkipWithError(outcome.to_string().c_str());
    simulated = static_cast<double>(setup->machine.platform().now()) / 1e9;
    accesses = static_cast<double>(setup->machine.platform().accesses());
    setup.reset();
    state.ResumeTiming();
  }
  state.counters["simulated_s"] = simulated;
  state.counters["accesses"] = accesses;
}

void BM_SpiRecoverySoftwareSequencing(benchmark::State& state) { recovery(state, false); }
void BM_SpiRecoveryHardwareSequencing(benchmark::State& state) { recovery(state, true); }

BENCHMARK(BM_SpiRecoverySoftwareSequencing)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SpiRecoveryHardwareSequencing)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
