// What every simulated LPC flash part shares: how it appears in the top 8 MiB below 4 GiB (array
// space where address bit 22 is 1, register space where it is 0), its array, its block-lock
// registers, its busy time on the simulated clock, the chipset's BIOS write-enable gate, and the
// counts of work done and of refused operations. The command sets live in the subclasses.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "sim/Bus.h"
#include "sim/Platform.h"
#include "sim/devices/InterruptedWrite.h"
#include "sim/devices/LpcPartCatalog.h"

namespace sim {

class Platform;

// How a part smaller than the window appears in it. The chipset forwards the whole top 8 MiB
// (0xFF800000-0xFFFFFFFF) to the LPC bus for LPC boot.
enum class LpcDecode {
  // Default: the part ignores address bits above its size, so it answers at every alias of its
  // size in the array space (the top 4 MiB) and likewise in the register space below it.
  Aliased,
  // The part decodes only its own top range (array: 4 GiB - size up to 4 GiB; registers: the
  // same 4 MiB lower); the rest of the window reads FFh and writes there are dropped.
  TopOnly,
};

enum class LpcRefusal : std::uint8_t {
  WriteDisabled,   // BIOS_CNTL.BIOSWE was 0: the write never reached the part
  Locked,          // program or erase in a write-locked block
  LockedDown,      // lock register write while its lock-down bit is set
  Busy,            // a command while a program or erase was in progress
  BadSequence,     // a cycle that does not continue a command sequence
  UnknownCommand,  // a command byte the part does not implement
  StatusError,     // firmware hub: program or erase while status error bits were still set
  Undecoded,       // a write where nothing decodes (top-only decode)
};
constexpr std::size_t kLpcRefusalCauses = 8;
std::string_view refusal_name(LpcRefusal cause);

struct LpcPartCounters {
  std::uint64_t reads = 0;   // byte cycles
  std::uint64_t writes = 0;  // byte cycles that reached the part
  std::uint64_t id_entries = 0;
  std::uint64_t sector_erases = 0;  // JEDEC 4 KiB sector erases
  std::uint64_t block_erases = 0;   // 64 KiB block erases (JEDEC, firmware hub 20h/D0h)
  std::uint64_t erased_bytes = 0;
  std::uint64_t bytes_programmed = 0;
  Nanos busy_time = 0;  // sum of the program and erase times started
};

// One change to the array, for write audits.
struct LpcArrayChange {
  enum class Kind { Erase, Program, Interrupted };  // Interrupted: power lost while busy
  Kind kind = Kind::Erase;
  Nanos time = 0;
  std::uint32_t offset = 0;  // in the part
  std::uint32_t length = 0;
  Nanos done = 0;          // Erase, Program: when the part finishes the operation
  std::uint32_t torn = 0;  // Interrupted: bytes (or status bytes) left neither old nor new
};

class LpcFlashPart : public MemHandler {
 public:
  static constexpr std::uint32_t kWindowBase = 0xFF800000;
  static constexpr std::uint64_t kWindowSize = 0x800000;
  static constexpr std::uint32_t kArraySpaceBit = 0x00400000;  // A22: 1 array, 0 registers
  static constexpr std::uint32_t kLockBlockSize = 0x10000;
  // The lock register of a block sits at the register-space image of the block's base + 2.
  static constexpr std::uint32_t kLockRegisterOffset = 2;
  static constexpr std::uint8_t kWriteLock = 0x01;
  static constexpr std::uint8_t kLockDown = 0x02;
  static constexpr std::uint8_t kReadLock = 0x04;  // stored, not enforced (never set at power-on)

  LpcFlashPart(const Platform& platform, const LpcPartInfo& info, LpcDecode decode);

  // --- bus face: every access is taken apart into byte cycles, lowest address first -------------
  std::uint32_t mem_read(std::uint32_t address, Width w) final;
  void mem_write(std::uint32_t address, Width w, std::uint32_t value) final;

  // --- wiring ------------------------------------------------------------------------------------
  // Whether a write reaches the part (the chipset's BIOS_CNTL.BIOSWE). Default: always.
  void set_write_gate(std::function<bool()> gate) { write_gate_ = std::move(gate); }
  // Called for every change to the array.
  void set_change_observer(std::function<void(const LpcArrayChange&)> observer) {
    observer_ = std::move(observer);
  }
  // The value every lock register takes at power-on (01h or 00h: the protection choice).
  void set_power_on_lock(std::uint8_t value) { power_on_lock_ = value; }
  // Power-on: command mode, status, busy state and locks return to their power-on values. The
  // array keeps its contents, except that a program or erase cut short is left half done: each bit
  // it was changing reads its old or its new value.
  void power_on();
  // Seeds the choice of which bits an interrupted operation left old or new.
  void set_interruption_seed(std::uint64_t seed) { interrupted_.set_seed(seed); }

  // --- test face ---------------------------------------------------------------------------------
  const LpcPartInfo& info() const { return info_; }
  LpcDecode decode() const { return decode_; }
  std::vector<std::uint8_t>& array() { return array_; }
  const std::vector<std::uint8_t>& array() const { return array_; }
  std::size_t block_count() const { return locks_.size(); }
  std::uint8_t lock(std::size_t block) const { return locks_.at(block); }
  void set_lock(std::size_t block, std::uint8_t value) { locks_.at(block) = value; }
  bool busy() const { return stuck_ || now() < busy_until_; }
  const LpcPartCounters& counters() const { return counters_; }
  std::uint64_t refusals(LpcRefusal cause) const { return refusals_[static_cast<std::size_t>(cause)]; }
  std::uint64_t total_refusals() const;
  // Fault injection: once `after_operations` more programs or erases have started, every later
  // one never completes and the part reports busy for ever. Survives power cycles.
  void inject_stuck_busy(std::uint64_t after_operations = 0);
  void clear_faults() { stuck_armed_ = false; }

 protected:
  // One byte cycle at a part offset in the array space.
  virtual std::uint8_t read_array(std::uint32_t offset) = 0;
  virtual void write_array(std::uint32_t offset, std::uint8_t value) = 0;
  // A register-space read that no lock register answers.
  virtual std::uint8_t read_register(std::uint32_t offset) {
    (void)offset;
    return 0x00;  // unused register locations read 00h
  }
  // Back to reading the array with no command sequence under way.
  virtual void reset_command_state() = 0;

  Nanos now() const { return platform_.now(); }
  bool write_locked(std::uint32_t offset, std::uint32_t length) const;
  // Starts an erase of [offset, offset + length): the cells read FFh once it completes.
  void start_erase(std::uint32_t offset, std::uint32_t length, Nanos duration);
  // Starts programming one byte: cells can only go from 1 to 0.
  void start_program(std::uint32_t offset, std::uint8_t value, Nanos duration);
  void refuse(LpcRefusal cause) { refusals_[static_cast<std::size_t>(cause)]++; }

  LpcPartCounters counters_;

 private:
  // Where a byte address lands: nowhere, the array space or the register space, and at which
  // part offset.
  enum class Space { None, Array, Registers };
  Space locate(std::uint32_t address, std::uint32_t* offset) const;
  std::uint8_t read_byte(std::uint32_t address);
  void write_byte(std::uint32_t address, std::uint8_t value);
  // A word or dword access as the byte cycles it becomes.
  [[gnu::noinline]] std::uint32_t read_cycles(std::uint32_t address, Width w);
  [[gnu::noinline]] void write_cycles(std::uint32_t address, Width w, std::uint32_t value);
  void start_operation(Nanos duration);
  void record(LpcArrayChange::Kind kind, std::uint32_t offset, std::uint32_t length);

  const Platform& platform_;
  const LpcPartInfo& info_;
  LpcDecode decode_;
  std::vector<std::uint8_t> array_;
  std::vector<std::uint8_t> locks_;
  std::uint8_t power_on_lock_;
  std::function<bool()> write_gate_;
  std::function<void(const LpcArrayChange&)> observer_;
  std::array<std::uint64_t, kLpcRefusalCauses> refusals_{};

  Nanos busy_until_ = 0;
  bool stuck_ = false;  // the operation in progress never completes
  bool stuck_armed_ = false;
  std::uint64_t operations_started_ = 0;
  std::uint64_t stuck_from_ = 0;
  // The program or erase started last, so that a power cut can leave it half done.
  InterruptedWrite interrupted_;
};

}  // namespace sim
