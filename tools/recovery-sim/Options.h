// Everything a rehearsal can be asked to do: the platform, the capsule, the faults and the outputs.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sim {
class TraceSink;
}

namespace rsim {

enum class FaultKind {
  PowerCut,          // power lost after N hardware accesses
  SpiCycleError,     // the Nth SPI cycle reports a cycle error
  ChipStuckBusy,     // the flash part never finishes an erase or program
  EcAbsent,          // no embedded controller
  NoSpeaker,         // no speaker PPI
  NoRecoveryPpi,     // no device recovery PPI
  CapsuleInfoFails,  // GetRecoveryCapsuleInfo fails
  AllocatePagesFails,
  LoadCapsuleFails,
  AllocatePoolFails,
};

// Where a power cut falls: after a numbered access, or at a point of the recovery's own progress.
enum class CutAt {
  Access,        // right after access n
  ChunkErase,    // right after the access that starts the erase of chunk `chunk`
  ChunkProgram,  // right after the access that starts the program in the middle of chunk `chunk`
  StatusWrite,   // right after the access that starts the n-th non-volatile status write
  Time,          // right after the first access that ends `n` simulated nanoseconds into the run
};

struct Fault {
  FaultKind kind;
  std::uint64_t n = 0;  // PowerCut, SpiCycleError
  CutAt cut_at = CutAt::Access;
  std::uint32_t chunk = 0;  // 4 KiB chunk of 0xFFE00000-0xFFFFFFFF, 0-511
};

// Parses "power-cut@N", "spi-cycle-error@N", "chip-stuck-busy", ... Throws std::invalid_argument
// with a message naming the valid faults.
Fault parse_fault(const std::string& text);
// Parses every --fault; refuses a second power cut or SPI cycle error (one of each per run).
std::vector<Fault> parse_faults(const std::vector<std::string>& texts);
std::string fault_name(const Fault& f);
// "chunk:16:erase", "time:12.5s" or the access number: what follows "power-cut@".
std::string cut_point_name(const Fault& f);
const std::vector<std::string>& fault_names();

// A change of a flash array as a survey sees it: the access that made it, the chunk being worked
// on (window index; none before the first) and whether it was an erase.
struct FlashChangeSeen {
  std::uint64_t access = 0;
  std::uint64_t time = 0;  // simulated nanoseconds from the start of the run
  std::optional<std::uint32_t> chunk;
  bool erase = false;
};

struct Options {
  std::optional<std::string> capsule_file;  // default: a generated deterministic 2 MiB capsule
  std::string part = "Winbond 25X16";
  std::optional<std::string> boot;  // spi|lpc|01|10; default follows the part
  bool descriptor = true;           // SPI: a valid flash descriptor
  int components = 1;
  std::optional<std::uint32_t> flmstr1;  // default: the BIOS master may read and write the BIOS region
  std::optional<std::uint32_t> bfpr;     // default: the BIOS region covers the whole flash
  std::uint8_t cmos_6e = 0;
  std::optional<std::string> flash_in;
  std::optional<std::string> flash_out;
  std::optional<std::string> report;
  std::optional<std::string> trace;
  // About 50 bytes a line: the default keeps a trace file near 50 MB.
  std::uint64_t trace_limit = 1'000'000;
  std::optional<std::string> beeps_wav;
  std::optional<std::string> html;              // a self-contained page of the run
  std::string initial_protection = "power-on";  // or "cleared"
  std::string variant;             // a named variant of the part (--list-parts); empty: the row's part
  std::string decode = "aliased";  // LPC parts smaller than the window: aliased|top
  std::vector<Fault> faults;
  // Chooses which bits an erase, program or status write cut by a power loss leaves old or new.
  std::uint64_t seed = 0x5EEDF1A5;
  // --descriptor was given: it replaces the first 4 KiB of --flash-in (which otherwise holds).
  bool descriptor_given = false;
  // After a power cut, power on again and run the recovery once more from the start.
  bool then_recover = false;
  // ...even when the cut left the boot block torn (a board that could not start).
  bool recover_even_if_bricked = false;
  // Memory range the CPU starts from (the reset vector and the code around it), inclusive.
  std::uint32_t boot_block_first = 0xFFFF0000;
  std::uint32_t boot_block_last = 0xFFFFFFFF;
  bool quiet = false;
  std::string engine = "host";              // host | ia32
  std::optional<std::string> image;         // ia32: .efi or firmware file; default: the built image
  std::optional<std::uint32_t> image_base;  // ia32: load address; default: the engine's
  sim::TraceSink* observer = nullptr;       // also receives every hardware access (tests)
  // A survey's copies of the run: at each of these access numbers (ascending) `at_checkpoint` is
  // asked; true (in a forked copy of the machine) cuts power there, false lets the run go on.
  std::vector<std::uint64_t> checkpoints;
  std::function<bool(std::size_t checkpoint)> at_checkpoint;
  // Every change of a flash array, with the access that made it and the chunk being worked on.
  std::function<void(const FlashChangeSeen&)> on_flash_change;
};

}  // namespace rsim
