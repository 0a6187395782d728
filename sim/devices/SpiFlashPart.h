// One SPI NOR flash part on the controller's chip select: a model family parameterised per part
// (identification, status-register protection scheme, write-enable rules, erase opcodes and sizes,
// page or byte program, busy times). Commands arrive as whole chip-select periods from the host
// controller; the part refuses what the real part refuses and counts its work.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/Bus.h"
#include "sim/devices/InterruptedWrite.h"

namespace sim {

enum class SpiStatusScheme : std::uint8_t {
  BlockProtectBits,  // BP field in the status register protects a top fraction of the array
  AtmelGlobal,       // status writes of 1111/0000 in bits 5:2 set/clear every sector protection
  None,              // no writable status bits and no protection (WRSR is not a command)
};

enum class SpiStatusWriteEnable : std::uint8_t {
  Wren,        // WRSR needs WEL
  Ewsr,        // WRSR needs the EWSR (50h) command immediately before it
  EwsrOrWren,  // either
};

struct SpiEraseCommand {
  std::uint8_t opcode = 0;
  std::uint32_t size = 0;  // bytes cleared, aligned to their size; the whole part for chip erase
  Nanos busy = 0;
};

// Everything that distinguishes one part from another. Catalogue entries are in SpiPartCatalog.
struct SpiPartTraits {
  std::string vendor;
  std::string name;
  std::uint32_t size = 0;
  std::vector<std::uint8_t> jedec_id;  // 9Fh answer; empty: not supported, the bus floats (FFh)
  std::vector<std::uint8_t> rems_id;   // 90h answer {manufacturer, device}; empty: not supported
  std::vector<std::uint8_t> res_id;    // ABh answer, repeated; empty: not supported
  std::uint8_t res_dummy_bytes = 3;    // bytes clocked after ABh before the answer starts

  SpiStatusScheme scheme = SpiStatusScheme::BlockProtectBits;
  SpiStatusWriteEnable status_write_enable = SpiStatusWriteEnable::Wren;
  std::uint8_t status_writable = 0x9C;      // status bits a WRSR stores (BP scheme)
  std::uint8_t bp_mask = 0x1C;              // the BP field
  std::uint32_t bp_first_bytes = 0x10000;   // top bytes protected at BP level 1, doubling per level
  std::uint8_t bp_all_level = 6;            // from this level on the whole array is protected
  bool status_volatile = false;             // BP lost at power-off (SST)
  std::uint8_t power_on_status = 0;         // BP bits of a volatile status register at power-up
  bool power_on_sectors_protected = false;  // Atmel: every sector protection register set at power-up
  std::uint32_t sector_size = 0x10000;      // Atmel sector protection / lock register granularity

  bool needs_write_enable = true;  // false: programs and erases run without WREN (no WEL at all)
  bool page_program = true;        // false: 02h programs exactly one byte (SST 25 series)
  std::vector<SpiEraseCommand> erases;
  Nanos program_first_byte = 0;
  Nanos program_next_byte = 0;
  Nanos status_write = 0;
  bool keeps_wel_on_refusal = false;  // Micron parts keep WEL when a protected area refuses a command

  bool has_lock_registers = false;  // per-sector lock registers (M25PE80)
  std::uint8_t lock_write_opcode = 0xE5;
  Nanos lock_write = 0;
};

enum class SpiRefusal : std::uint8_t {
  NoWriteEnable,  // program, erase or status write without WEL (or EWSR)
  Protected,      // target inside a block-protected range
  Locked,         // target inside a sector whose lock register is set
  Busy,           // a command other than RDSR while an operation runs
  UnknownOpcode,  // not a command of this part
  Incomplete,     // chip select rose before the command's address or data was complete
  StatusLocked,   // status write ignored while the status register is locked
  kCount,
};

const char* refusal_name(SpiRefusal r);

// One change to the array, for write audits.
struct SpiArrayChange {
  // Interrupted: power lost while busy; StatusWrite: a non-volatile status write starts;
  // StatusInterrupted: power lost during it (both with offset and length 0)
  enum class Kind { Erase, Program, Interrupted, StatusInterrupted, StatusWrite };
  Kind kind = Kind::Erase;
  Nanos time = 0;
  std::uint32_t offset = 0;  // in the part
  std::uint32_t length = 0;
  Nanos done = 0;          // Erase, Program: when the part finishes the operation
  std::uint32_t torn = 0;  // Interrupted: bytes (or status bytes) left neither old nor new
};

struct SpiPartCounters {
  std::uint64_t commands = 0;
  std::uint64_t erases = 0;
  std::uint64_t erased_bytes = 0;
  std::uint64_t programs = 0;          // program commands that changed the array
  std::uint64_t programmed_bytes = 0;  // bytes a program command was applied to
  std::uint64_t status_writes = 0;
  std::uint64_t lock_writes = 0;
  std::uint64_t status_reads = 0;
  Nanos busy_time = 0;
  std::array<std::uint64_t, static_cast<std::size_t>(SpiRefusal::kCount)> refusals{};
  std::uint64_t refused(SpiRefusal r) const { return refusals[static_cast<std::size_t>(r)]; }
  std::uint64_t total_refusals() const;
};

class SpiFlashPart {
 public:
  // Refuses (std::invalid_argument) an array or sector size that is not a power of two.
  explicit SpiFlashPart(SpiPartTraits traits);

  // --- bus face: one chip-select period that ends (CS# rises) at time `at`. `out` is what the
  // controller shifts to the part (opcode, address, data); then `in_len` bytes are shifted out of
  // the part into `in`.
  void transfer(Nanos at, const std::uint8_t* out, std::size_t out_len, std::uint8_t* in, std::size_t in_len);
  // When the operation in progress finishes (in the past when idle).
  Nanos busy_until() const { return busy_until_; }
  // The controller's status polls that came before the one it drove with transfer().
  void note_status_polls(std::uint64_t n) {
    counters_.status_reads += n;
    counters_.commands += n;
  }

  // --- test face -----------------------------------------------------------------------------
  const SpiPartTraits& traits() const { return traits_; }
  std::uint32_t size() const { return traits_.size; }
  std::vector<std::uint8_t>& array() { return array_; }
  const std::vector<std::uint8_t>& array() const { return array_; }
  const SpiPartCounters& counters() const { return counters_; }
  void reset_counters() { counters_ = {}; }
  // The status register as RDSR would read it when idle.
  std::uint8_t status() const { return status_at(busy_until_); }
  bool write_enabled() const { return wel_; }
  // Every protection mechanism off (BP 0, sectors unprotected, locks clear).
  void clear_protection();
  // Every protection the part has on (BP all, sectors protected, locks set).
  void protect_all();
  void set_status_bits(std::uint8_t value) { stored_status_ = value; }
  void set_sector_locks(std::uint8_t value);
  std::uint8_t sector_lock(std::uint32_t address) const;
  bool sector_protected(std::uint32_t address) const;
  // True when a program or erase of [address, address + length) would be refused for protection.
  bool range_protected(std::uint32_t address, std::uint32_t length) const;
  // Power lost at `lost_at` (by default after everything finished) and restored: the array and non-volatile
  // status bits stay, the rest resets. An erase, program or status write still running at `lost_at` is left
  // half done.
  void power_on(Nanos lost_at = kForever);
  // Seeds the choice of which bits an interrupted operation left old or new.
  void set_interruption_seed(std::uint64_t seed) { interrupted_.set_seed(seed); }
  // Called for every change to the array (an accepted program or erase).
  void set_change_observer(std::function<void(const SpiArrayChange&)> observer) {
    observer_ = std::move(observer);
  }
  // Called with every command the part receives (opcode, address, data), before it acts on it.
  void set_command_observer(std::function<void(const std::uint8_t* out, std::size_t out_len)> observer) {
    command_observer_ = std::move(observer);
  }
  // Fault injection: every program, erase or status write from now on stays busy for ever.
  void inject_stuck_busy() { stuck_busy_ = true; }
  static constexpr Nanos kForever = Nanos{1} << 62;

 private:
  std::uint8_t status_at(Nanos at) const;
  void settle(Nanos at);
  void refuse(SpiRefusal r);
  void start_busy(Nanos at, Nanos duration);
  bool needs_wel();
  bool check_target(std::uint32_t address, std::uint32_t length);
  std::uint32_t protected_top_bytes() const;
  static std::uint32_t address_of(const std::uint8_t* out);

  void write_status(Nanos at, const std::uint8_t* data, std::size_t len, bool ewsr_armed);
  void program(Nanos at, std::uint32_t address, const std::uint8_t* data, std::size_t len);
  void erase(Nanos at, const SpiEraseCommand& command, std::uint32_t address);
  void begin_array_write(std::uint32_t offset, std::uint32_t length);
  void read_id(const std::vector<std::uint8_t>& id, std::size_t skip, std::uint8_t* in,
               std::size_t in_len) const;

  // Which sector (of traits_.sector_size bytes) holds `address`; addresses wrap at the array's end.
  std::uint32_t sector_of(std::uint32_t address) const { return (address & address_mask_) >> sector_shift_; }
  void protect_every_sector(bool on);
  void protect_sector(std::uint32_t address, bool on);

  SpiPartTraits traits_;
  std::uint32_t address_mask_;  // array size - 1
  unsigned sector_shift_;       // log2 of the sector size
  std::vector<std::uint8_t> array_;
  std::uint8_t stored_status_ = 0;            // BP/SRP/SPRL bits as stored
  std::vector<std::uint8_t> sector_protect_;  // Atmel sector protection registers
  std::uint32_t protected_sectors_ = 0;       // how many of them are set
  std::vector<std::uint8_t> locks_;           // per-sector lock registers
  bool wel_ = false;
  bool wel_clear_pending_ = false;
  bool ewsr_armed_ = false;
  Nanos busy_until_ = 0;
  SpiPartCounters counters_;
  bool stuck_busy_ = false;
  // The last program, erase or status write, so that a power cut can leave it half done.
  enum class InFlight { None, Array, Status } in_flight_ = InFlight::None;
  InterruptedWrite interrupted_;
  std::uint8_t status_before_ = 0;
  std::function<void(const SpiArrayChange&)> observer_;
  std::function<void(const std::uint8_t*, std::size_t)> command_observer_;
};

}  // namespace sim
