// The chipset's SPI host controller register window (RCBA + 0x3800): hardware- and software-
// sequenced cycles on one or two flash components, write-1-to-clear status, cycle in progress
// while the flash works, blocking by BIOS_CNTL.BIOSWE and by the descriptor's region grants, and
// descriptor observability (FDOC/FDOD). Any width at any offset acts byte by byte.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/Bus.h"
#include "sim/devices/SpiFlashDescriptor.h"
#include "sim/devices/SpiFlashPart.h"

namespace sim {

class Platform;
class LpcBridge;

struct SpiControllerOptions {
  // Hardware sequencing with VSCC.WSR set: poll the status register after the status write before
  // the next command. Both documented variants say the controller does not wait.
  bool wsr_waits_for_ready = false;
  Nanos deselect = 100;  // chip select high between two commands
  // Simulator acceleration: once the module has read the status of a running cycle twice (so it
  // is evidently polling), that second read lasts until the cycle ends. The module reads the same
  // sequence of values (in progress, then done) at the same simulated time as on hardware; only the
  // number of repeated reads is smaller. Off: every poll is a separate access.
  bool fast_forward_polls = true;
};

enum class SpiBlock : std::uint8_t {
  WriteDisabled,  // write-type cycle with BIOS_CNTL.BIOSWE clear
  RegionDenied,   // the host master has no grant for the region
  NoDescriptor,   // hardware sequencing without a valid descriptor
  ReservedCycle,  // hardware cycle type 1
  WhileBusy,      // a cycle register written or a cycle started while one runs
  Injected,       // fault injection: this cycle reports a cycle error
  kCount,
};

const char* block_name(SpiBlock b);

struct SpiControllerCounters {
  std::uint64_t sw_cycles = 0;
  std::uint64_t hw_cycles = 0;
  std::uint64_t commands = 0;       // chip-select periods driven on the bus (status polls included)
  std::uint64_t status_polls = 0;   // 05h reads of atomic sequences and hardware cycles
  std::uint64_t fast_forwards = 0;  // status reads that lasted until the cycle ended
  Nanos bus_time = 0;               // time the cycles kept the controller busy
  std::array<std::uint64_t, static_cast<std::size_t>(SpiBlock::kCount)> blocked{};
  std::uint64_t blocked_by(SpiBlock b) const { return blocked[static_cast<std::size_t>(b)]; }
};

class SpiHostController : public MemHandler {
 public:
  static constexpr std::uint32_t kWindowOffset = 0x3800;  // inside the RCBA block
  static constexpr std::uint32_t kWindowSize = 0x200;

  SpiHostController(Platform& platform, LpcBridge& lpc, std::vector<SpiFlashPart*> components,
                    SpiControllerOptions options = {});

  std::uint32_t mem_read(std::uint32_t address, Width w) override;
  void mem_write(std::uint32_t address, Width w, std::uint32_t value) override;

  // --- test face -----------------------------------------------------------------------------
  // Power-on: registers to their defaults and the descriptor read again from component 0.
  void power_on();
  // Register values as a read would return them (no side effects).
  std::uint8_t reg8(std::uint32_t offset) const { return regs_[offset]; }
  std::uint16_t reg16(std::uint32_t offset) const;
  std::uint32_t reg32(std::uint32_t offset) const;
  const SpiFlashDescriptor& descriptor() const { return descriptor_; }
  bool busy() const { return sw_busy_ || hw_busy_; }
  const SpiControllerCounters& counters() const { return counters_; }
  void reset_counters() { counters_ = {}; }
  std::uint32_t total_size() const { return total_size_; }
  SpiControllerOptions& options() { return options_; }
  // Fault injection: the nth cycle started from now on (software or hardware, counting from 1)
  // puts nothing on the bus and completes with a cycle error. 0 disarms.
  void inject_cycle_error(std::uint64_t nth) {
    error_cycle_ = nth == 0 ? 0 : counters_.sw_cycles + counters_.hw_cycles + nth;
  }

 private:
  struct Target {
    SpiFlashPart* part;
    std::uint32_t address;  // inside the part
  };

  void settle();
  // Out of line, like act_on(): the common register access then saves fewer registers.
  [[gnu::noinline]] void complete_cycle();
  // What a register write set off: the start bits and FDOC changes it made.
  struct WriteEffects {
    bool sw_go = false, hw_go = false, fdod = false;
  };
  // What a write set off once all its bytes have landed: FDOD follows FDOC, cycles start.
  [[gnu::noinline]] void act_on(WriteEffects effects);
  void put32(std::uint32_t offset, std::uint32_t value);
  // Keep the register image equal to what a read returns.
  void show_busy();
  void show_berase();
  void show_fdod();
  void start_software_cycle();
  void start_hardware_cycle();
  void block(bool hardware, SpiBlock why, bool access_error);
  Target target(std::uint32_t linear) const;
  Nanos clock() const;
  // One chip-select period ending at the returned time plus deselect.
  Nanos command(Nanos at, const Target& t, const std::uint8_t* out, std::size_t out_len, std::uint8_t* in,
                std::size_t in_len);
  // Status polls (05h) until the part reports ready; returns when the last poll ended.
  Nanos poll_ready(Nanos at, const Target& t);
  bool access_allowed(std::uint32_t linear, bool write) const;
  std::uint32_t vscc_for(std::uint32_t linear) const;
  std::uint32_t faddr() const { return reg32(0x08) & 0x01FFFFFF; }

  Platform& platform_;
  LpcBridge& lpc_;
  std::vector<SpiFlashPart*> components_;
  SpiControllerOptions options_;
  std::uint32_t total_size_ = 0;
  SpiFlashDescriptor descriptor_;
  // The register image, and three bytes past the window that stay 0: an access that runs past the
  // end of the window gets nothing from beyond it.
  std::array<std::uint8_t, kWindowSize + 3> regs_{};
  bool sw_busy_ = false;
  bool hw_busy_ = false;
  Nanos done_at_ = 0;
  std::uint8_t pending_status_ = 0;  // status bits set when the running cycle completes
  std::uint32_t busy_status_reads_ = 0;
  SpiControllerCounters counters_;
  std::uint64_t error_cycle_ = 0;  // cycle number (sw + hw) that fails; 0: none
  bool injected_error();           // counts the cycle just started against error_cycle_
};

}  // namespace sim
