// A simulated machine for fault campaigns: one SPI or LPC flash configuration that survives power
// cycles, a fresh PEI environment per run, and a write audit that checks every change of every
// flash array against the chunk the module was working on when the change happened.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/LpcSetup.h"
#include "sim/Machine.h"
#include "sim/SpiSetup.h"
#include "sim/pei/PeiEnvironment.h"
#include "sim/pei/SpeakerModel.h"

namespace testing_support {

struct ReliabilityConfig {
  bool lpc = false;
  sim::SpiSetupConfig spi;
  sim::LpcSetupOptions lpc_part;
  // Boot straps; -1 follows the bus (3 SPI, 0 LPC).
  int straps = -1;
  bool ec_present = true;
  // Time charged for one read of the PM timer (0: the platform's port access time). Campaigns
  // that run hundreds of recoveries charge more: a stall then waits the same simulated time in
  // fewer reads, and nothing else changes.
  sim::Nanos pm_timer_read = 0;
  std::vector<std::uint8_t> capsule;  // empty: a 2 MiB pattern
};

// One change of a flash array and whether the module was entitled to make it.
struct AuditedChange {
  std::size_t chip = 0;
  std::uint32_t offset = 0;  // in the rig's layout
  std::uint32_t length = 0;
  int chunk = -1;  // chunk being worked on (-1: before the first chunk counter)
  bool entitled = false;
  bool erase = false;
  std::uint64_t access = 0;  // accesses of the run so far when the array changed
};

class ReliabilityRig {
 public:
  explicit ReliabilityRig(const ReliabilityConfig& config);

  // How the PEI environment of a run is populated; the default offers a speaker and one recovery
  // PPI holding the capsule.
  using PeiSetup = std::function<void(sim::PeiEnvironment&, const std::vector<std::uint8_t>& capsule)>;
  static void default_pei(sim::PeiEnvironment& pei, const std::vector<std::uint8_t>& capsule);

  // RecoveryEntry from a freshly loaded module in a fresh PEI environment. `cut_after` > 0 loses
  // power right after that access of the run.
  sim::Outcome run(std::uint64_t cut_after = 0, const PeiSetup& setup = default_pei);
  void power_cycle() { machine_.power_cycle(); }

  sim::Machine& machine() { return machine_; }
  sim::PeiEnvironment& pei() { return *pei_; }
  std::vector<sim::BeepRequest> beeps() const;
  sim::SpiFlashSystem& spi() { return *spi_; }
  sim::LpcFlashPart& lpc_part() { return *lpc_; }

  const std::vector<std::uint8_t>& capsule() const { return capsule_; }
  const std::vector<std::uint8_t>& before() const { return before_; }
  std::vector<std::uint8_t> flash() const;
  // The flash after a complete recovery from before().
  std::vector<std::uint8_t> expected() const;
  // Byte offsets of the layout that a complete recovery may change (the chunks it programs).
  const std::vector<bool>& entitled_bytes() const { return entitled_; }
  // The bytes that the first `chunks` chunks of the programming loop may change.
  std::vector<bool> entitled_bytes_of_chunks(int chunks) const;

  const std::vector<AuditedChange>& changes() const { return changes_; }
  std::size_t unentitled_changes() const;
  // Accesses the last run made.
  std::uint64_t last_run_accesses() const { return last_run_accesses_; }
  // Called for every change of a flash array, after the audit.
  std::function<void(const AuditedChange&)> on_change;
  // Called when chunk `index` (from 0) of a run starts: its counter reached port 80h.
  std::function<void(int index)> on_chunk;
  // Number of chunk counters written in the last run.
  int chunks_started() const { return chunk_; }

 private:
  void audit(std::size_t chip, std::uint32_t offset, std::uint32_t length, bool erase);
  // Layout offsets that chunk `index` of the programming loop may change.
  bool chunk_covers(int index, std::uint32_t offset, std::uint32_t length) const;
  std::uint32_t layout_offset_of(std::uint32_t memory) const;

  sim::Machine machine_;
  sim::SpiFlashSystem* spi_ = nullptr;
  sim::LpcFlashPart* lpc_ = nullptr;
  std::unique_ptr<sim::PeiEnvironment> pei_;
  std::vector<std::uint8_t> capsule_;
  std::vector<std::uint8_t> before_;
  std::vector<bool> entitled_;
  std::uint64_t write_low_ = 0, write_high_ = 0;  // SPI: linear window the BIOS may write
  // SPI: bytes the chipset maps below 4 GiB (without a valid descriptor, component 0 only).
  std::uint64_t mapped_ = 0;
  std::vector<std::uint8_t> expected_from(const std::vector<std::uint8_t>& before,
                                          const std::uint8_t* capsule) const;
  std::vector<AuditedChange> changes_;
  bool counting_chunks_ = false;
  int chunk_ = 0;
  std::uint64_t last_run_accesses_ = 0;
  std::uint64_t run_start_ = 0;
};

sim::MachineConfig machine_config_for(const ReliabilityConfig& config);

// The layout offset of the first byte that differs, or the size when equal.
std::size_t first_difference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

}  // namespace testing_support
