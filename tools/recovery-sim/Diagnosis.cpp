// Causes of a failed rehearsal: each rule looks at what the platform observed and at the part.
#include "tools/recovery-sim/Diagnosis.h"

#include <vector>

#include "flash/DeviceTables.h"
#include "sim/devices/PartVariants.h"
#include "sim/devices/SpiPartCatalog.h"
#include "tools/recovery-sim/Expectation.h"
#include "tools/recovery-sim/StatusName.h"

namespace rsim {

namespace {

std::uint64_t counted(const std::map<std::string, std::uint64_t>& m, const char* what) {
  auto it = m.find(what);
  return it == m.end() ? 0 : it->second;
}

bool returned(const Report& r, EFI_STATUS status) {
  return r.outcome.kind == sim::OutcomeKind::Returned && r.outcome.status == status;
}

// The simulated part as configured (variant applied), for the SPI rules.
sim::SpiPartTraits spi_traits(const PartEntry& part, const Options& o) {
  const sim::SpiPartTraits* t = sim::find_spi_part(part.name);
  sim::SpiPartTraits traits = t != nullptr ? *t : sim::SpiPartTraits{};
  if (t != nullptr && !o.variant.empty()) sim::apply_spi_variant(traits, o.variant);
  return traits;
}

std::string count_text(const Report& r, const char* cause) {
  return std::string(cause) + " " + std::to_string(counted(r.refused, cause));
}

// What identification the module's row asks for, and why the part does not give it.
std::string not_detected(const Report& r, const Options& o, const PartEntry& part) {
  std::string why = "not detected: ";
  if (part.bus == Bus::Lpc) {
    if (counted(r.refused, "undecoded") != 0) {
      return why +
             "with top-only decode the part answers only in its own top range, so the identification "
             "cycles at 0xFFF05555/0xFFF02AAA reach nothing (" +
             count_text(r, "undecoded") + ")";
    }
    return why + "the part's identification bytes match no row of the LPC table";
  }
  const SpiDeviceParams* row = SpiDeviceList[part.row].Params;
  const sim::SpiPartTraits t = spi_traits(part, o);
  if (row->OpcodeMenu[0] == 0xAB && t.res_dummy_bytes != 0) {
    return why +
           "the row reads the ID with ABh straight after the opcode, but the part's ABh (RES) answers "
           "only after " +
           std::to_string(t.res_dummy_bytes) + " dummy bytes";
  }
  return why + "the part's answer to the row's identification command (" +
         hex(row->OpcodeMenu[0], 2).substr(2) + "h) matches no row of the SPI table";
}

// Why the flash differs after the module reached its final spin, or why a program or erase failed.
std::vector<std::string> write_causes(const Report& r, const Options& o, const PartEntry& part) {
  std::vector<std::string> causes;
  const std::uint64_t erases = counted(r.work, "erases"), erased = counted(r.work, "erased_bytes");
  if (erases != 0 && erased > erases * kChunk) {
    // The part clears more than the chunk at each erase command: what the module wrote before in
    // the same block is lost, and nothing reads it back.
    causes.push_back(
        "the part erased " + std::to_string(erased / erases / 1024) +
        " KiB per erase command where the module erases a 4 KiB chunk, so chunks written earlier "
        "in the same block were erased again");
  }
  const bool spi = part.bus == Bus::Spi;
  const sim::SpiPartTraits t = spi ? spi_traits(part, o) : sim::SpiPartTraits{};
  if (spi && counted(r.refused, "protected") != 0) {
    causes.push_back(std::string("protected at power-on by ") +
                     (t.scheme == sim::SpiStatusScheme::AtmelGlobal
                          ? "its sector protection registers"
                          : "the block-protect bits of its status register") +
                     ", which the module does not lift in " +
                     (o.descriptor ? "hardware sequencing" : "software sequencing") + " (" +
                     count_text(r, "protected") + ")");
  }
  if (!spi && counted(r.refused, "locked") != 0) {
    causes.push_back("protected at power-on by its block locks, which the module does not clear (" +
                     count_text(r, "locked") + ")");
  }
  if (!spi && counted(r.refused, "undecoded") != 0) {
    causes.push_back(
        "with top-only decode the part answers only in its own top range, so cycles below it reach "
        "nothing (" +
        count_text(r, "undecoded") + ")");
  }
  if (spi && counted(r.refused, "no-write-enable") != 0) {
    const UINT8* prefix = SpiDeviceList[part.row].Params->PrefixOpcodes;
    causes.push_back(prefix[0] == 0 && prefix[1] == 0
                         ? "no write enable reaches the part: the row's prefix opcodes are 00 00 (" +
                               count_text(r, "no-write-enable") + ")"
                         : "programs and erases arrived without a write enable (" +
                               count_text(r, "no-write-enable") + ")");
  }
  if (spi && !t.page_program && o.descriptor && counted(r.work, "hardware_cycles") != 0) {
    causes.push_back(
        "the part's 02h programs one byte, and each hardware-sequenced write sends 64: the other 63 "
        "are not written");
  }
  if (counted(r.refused, "busy") != 0) {
    causes.push_back(spi ? "the part was still busy when the next command arrived (" + count_text(r, "busy") +
                               "): the controller sends a status write before each command and does not wait "
                               "for the part to finish it"
                         : "the part was still busy when the next command arrived (" + count_text(r, "busy") +
                               ")");
  }
  return causes;
}

}  // namespace

std::string failure_cause(const Report& r, const Options& o, const PartEntry& part) {
  if (r.success() || !o.faults.empty() || r.capsule_refused || r.outcome.kind == sim::OutcomeKind::Hang) {
    return {};
  }
  if (returned(r, EFI_UNSUPPORTED)) {
    if (o.boot) {
      const bool unsupported = *o.boot == "01" || *o.boot == "10";
      return unsupported ? "not detected: the module reads flash only with SPI (11b) or LPC (00b) boot straps"
                         : "not detected: the boot straps select the other bus, where no part answers";
    }
    return not_detected(r, o, part);
  }
  if (returned(r, EFI_INVALID_PARAMETER) && part.bus == Bus::Lpc &&
      LpcDeviceList[part.row].Ops == &gFwhDeviceOps) {
    return "refuses this erase size: the firmware-hub command set erases 64 KiB blocks only, so the module's "
           "first 4 KiB erase fails before anything is written";
  }
  std::vector<std::string> causes = write_causes(r, o, part);
  if (causes.empty()) {
    return r.outcome.kind == sim::OutcomeKind::FinalSpin
               ? "the module finished, but the flash refused nothing it could report: see the trace below"
               : "the module stopped with " + efi_status_text(r.outcome.status) +
                     "; the parts refused nothing";
  }
  std::string line;
  for (const auto& c : causes) line += (line.empty() ? "" : "; also ") + c;
  return line;
}

namespace {
// Refusals that a successful run can count without harm, and what they are.
const std::map<std::string, std::string>& harmless_causes() {
  static const std::map<std::string, std::string> kWhat = {
      {"unknown-opcode",
       "opcodes the part does not implement (other rows' identification or protection commands)"            },
      {"bad-sequence",    "cycles that continue no command sequence (the other LPC family's identification)"},
      {"unknown-command", "command bytes the part does not implement"                                       },
      {"undecoded",       "cycles at addresses the part does not decode"                                    },
  };
  return kWhat;
}
}  // namespace

bool points_to_trace(const Report& r) {
  if (r.cut || r.capsule_refused) return false;  // the cut, or the capsule's size, is the whole story
  if (!r.success()) return true;
  for (const auto& [cause, n] : r.refused) {
    if (n != 0 && harmless_causes().count(cause) == 0) return true;
  }
  return false;
}

std::string harmless_refusals(const std::map<std::string, std::uint64_t>& refused) {
  const std::map<std::string, std::string>& kWhat = harmless_causes();
  std::string s;
  for (const auto& [cause, n] : refused) {
    if (n == 0) continue;
    auto it = kWhat.find(cause);
    s += (s.empty() ? "" : "; ") + cause + ": " + (it != kWhat.end() ? it->second : "see the trace below");
  }
  return "harmless here, the flash verified: " + s;
}

}  // namespace rsim
