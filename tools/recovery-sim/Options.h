// Everything a rehearsal can be asked to do: the platform, the capsule, the faults and the outputs.
#pragma once

#include <cstdint>
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

struct Fault {
  FaultKind kind;
  std::uint64_t n = 0;  // PowerCut, SpiCycleError
};

// Parses "power-cut@N", "spi-cycle-error@N", "chip-stuck-busy", ... Throws std::invalid_argument
// with a message naming the valid faults.
Fault parse_fault(const std::string& text);
// Parses every --fault; refuses a second power cut or SPI cycle error (one of each per run).
std::vector<Fault> parse_faults(const std::vector<std::string>& texts);
std::string fault_name(const Fault& f);
const std::vector<std::string>& fault_names();

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
  std::string initial_protection = "power-on";  // or "cleared"
  std::string variant;             // a named variant of the part (--list-parts); empty: the row's part
  std::string decode = "aliased";  // LPC parts smaller than the window: aliased|top
  std::vector<Fault> faults;
  bool quiet = false;
  std::string engine = "host";              // host | ia32
  std::optional<std::string> image;         // ia32: .efi or firmware file; default: the built image
  std::optional<std::uint32_t> image_base;  // ia32: load address; default: the engine's
  sim::TraceSink* observer = nullptr;       // also receives every hardware access (tests)
};

}  // namespace rsim
