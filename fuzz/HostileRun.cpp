// Decoding a fuzz input into a hostile platform and PEI core, running the module, checking the
// properties. Input layout (missing bytes read as 0, so every input is a valid description):
//   byte 0      flash: bit 7 LPC, else SPI; the rest picks the part (modulo the catalogue)
//   byte 1      bit 0 descriptor, bit 1 two SPI components (with a descriptor: the second part
//               is reached only through one), bit 2 protection cleared, bit 3 LPC top-only
//               decode, bit 4 controller already in flash mode, bits 5-6 CMOS byte 0x6E
//   byte 2      bit 0 no speaker, bit 1 speaker errors, bits 2-3 providers (0-3), bits 4-5
//               AllocatePages behaviour, bits 6-7 AllocatePool behaviour
//   byte 3      LocatePpi calls (bit n: call n) that fail
//   byte 4      LocatePpi calls that succeed with a null PPI
//   byte 5      bits 0-2 allocation failure status (index), bits 3-6 n-1: misalignment n bytes,
//               bit 7 every block n pages smaller than asked
//   3 bytes per provider: count (status and value), size (status and choice), load (status and
//               delivered bytes)
//   then 12-byte hostile answers: device, twist (bit 7: match an address), address (2), first
//               read (3), count, value (4)
#include "fuzz/HostileRun.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "recovery/RecoveryEntry.h"
#include "sim/HostileDevice.h"
#include "sim/LpcSetup.h"
#include "sim/Machine.h"
#include "sim/SpiSetup.h"
#include "sim/devices/LpcPartCatalog.h"
#include "sim/devices/SpiPartCatalog.h"
#include "sim/pei/HostilePei.h"

namespace fuzzing {

namespace {

constexpr std::uint32_t kWindowLow = 0xFFE00000;  // the window the update may write
constexpr std::uint32_t kKeptLow = 0xFFF70000;    // and the 64 KiB inside it that it must not
constexpr std::uint64_t kKeptEnd = 0xFFF80000;
constexpr std::uint64_t kFourGiB = std::uint64_t{1} << 32;
constexpr std::uint32_t kImageSize = 0x200000;
// Access budgets: a whole recovery on the slowest part of the catalogue takes about 52 million;
// 300,000 reach detection and the first chunks of the update on every part.
constexpr std::uint64_t kWholeRunAccesses = 80'000'000;
constexpr std::uint64_t kShortRunAccesses = 300'000;
constexpr sim::Nanos kPmTimerReadCost = 99'000;  // on top of the port's own microsecond

constexpr EFI_STATUS kStatuses[] = {EFI_SUCCESS,
                                    EFI_NOT_FOUND,
                                    EFI_DEVICE_ERROR,
                                    EFI_OUT_OF_RESOURCES,
                                    EFI_INVALID_PARAMETER,
                                    EFI_BUFFER_TOO_SMALL,
                                    0x00000001u /* a warning */,
                                    0xFFFFFFFFu};
// Sizes a provider reports, around the one size the update accepts.
constexpr std::uint64_t kSizes[] = {kImageSize,
                                    kImageSize - 1,
                                    kImageSize + 1,
                                    kImageSize + 4096,
                                    0,
                                    1,
                                    0xFFFFFFFFu,
                                    std::uint64_t{1} << 32,
                                    (std::uint64_t{1} << 32) + kImageSize,
                                    2 * kImageSize,
                                    kImageSize - 4096,
                                    kImageSize + 4095};

struct Cursor {
  std::span<const std::uint8_t> in;
  std::size_t at = 0;
  std::uint8_t byte() { return at < in.size() ? in[at++] : 0; }
  std::uint32_t le(int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; i++) v |= std::uint32_t{byte()} << (8 * i);
    return v;
  }
  bool done() const { return at >= in.size(); }
};

EFI_STATUS status_of(std::uint8_t b) { return kStatuses[b % std::size(kStatuses)]; }

// Which store ranges break the window: outside the top 2 MiB, or into the kept 64 KiB.
bool outside_window(std::uint64_t address, std::uint64_t length) {
  const std::uint64_t end = address + length;
  return address < kWindowLow || end > kFourGiB || (address < kKeptEnd && end > kKeptLow);
}

std::string hex(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

// A store lands at every alias of its cells: a flash smaller than the window repeats every
// `period` bytes below 4 GiB (0: it appears once). It is allowed when one alias of it lies wholly
// inside the writable window, as the address the module chose does.
bool allowed(std::uint64_t address, std::uint64_t length, std::uint64_t period) {
  for (std::uint64_t a = address;; a -= period) {
    if (!outside_window(a, length)) return true;
    if (period == 0 || a < kWindowLow + period) return false;
  }
}

class Referee {
 public:
  void store(const char* how, std::uint64_t address, std::uint64_t length, std::uint64_t period) {
    if (!allowed(address, length, period)) {
      violation(std::string(how) + " stores to " + hex(address) + "+" + hex(length) +
                ", outside 0xFFE00000-0xFFFFFFFF or inside 0xFFF70000-0xFFF7FFFF");
    }
  }
  void write_command(const char* what) {
    if (!identified) violation(std::string(what) + " before any part was identified");
  }
  // The first few violations are kept: one is enough to report an input, and a broken property
  // can repeat at every access of a run.
  void violation(std::string what) {
    if (violations.size() < kKept) violations.push_back(std::move(what));
  }
  static constexpr std::size_t kKept = 4;
  bool identified = false;
  std::vector<std::string> violations;
};

// SPI commands as the parts see them: identification opcodes, and every program or erase with the
// range it would change (the linear address maps below 4 GiB as the BIOS window decodes it).
void watch_spi(sim::SpiFlashSystem& flash, Referee& referee) {
  const std::uint64_t total = flash.total_size();
  for (std::size_t i = 0; i < flash.component_count(); i++) {
    sim::SpiFlashPart& part = flash.part(i);
    const std::uint64_t base = i * std::uint64_t{part.size()};
    part.set_command_observer([&referee, &part, base, total](const std::uint8_t* out, std::size_t n) {
      const std::uint8_t op = out[0];
      if (op == 0x9F || op == 0x90 || op == 0xAB) {
        referee.identified = true;
        return;
      }
      std::uint64_t length = 0;
      std::uint32_t address = n >= 4 ? (std::uint32_t{out[1]} << 16 | out[2] << 8 | out[3]) : 0;
      if (op == 0x02) {
        length = n > 4 ? n - 4 : 1;
      } else {
        for (const sim::SpiEraseCommand& e : part.traits().erases) {
          if (e.opcode == op) {
            length = e.size;
            address &= ~(e.size - 1);
          }
        }
      }
      if (length == 0) return;
      referee.write_command("an SPI program or erase command");
      address &= part.size() - 1;
      const std::uint64_t physical = (base + address + kFourGiB - total) % kFourGiB;
      referee.store("an SPI cycle", physical, length, total < kImageSize ? total : 0);
    });
  }
}

}  // namespace

sim::Outcome run_host_build(sim::Machine& machine, sim::PeiCore& pei) {
  return machine.run([&] { return RecoveryEntry(nullptr, pei.services()); });
}

HostileRunResult run_hostile(std::span<const std::uint8_t> input, bool whole_runs,
                             const ModuleRunner& runner) {
  Cursor c{input};
  const std::uint8_t flash_byte = c.byte();
  const std::uint8_t options = c.byte();
  const std::uint8_t pei_byte = c.byte();
  const bool lpc = (flash_byte & 0x80) != 0;
  static constexpr std::uint8_t kCmos[] = {0x00, 0x04, 0x01, 0xFF};

  sim::MachineConfig mc;
  mc.boot_straps = lpc ? 0 : 3;
  mc.cmos_6e = kCmos[options >> 5 & 3];
  mc.ec.already_in_flash_mode = (options & 0x10) != 0;
  sim::Machine machine(mc);
  sim::Platform& platform = machine.platform();
  // Hostile answers can make any wait endless: declare a hang well before the default budget.
  platform.limits().max_accesses = whole_runs ? kWholeRunAccesses : kShortRunAccesses;
  platform.limits().stuck_loop_time = sim::Nanos{5} * 1'000'000'000;

  HostileRunResult result;
  Referee referee;
  sim::SpiFlashSystem* spi = nullptr;
  sim::LpcFlashPart* part = nullptr;
  if (lpc) {
    const auto& parts = sim::lpc_parts();
    sim::LpcSetupOptions o;
    o.part = std::string(parts[(flash_byte & 0x7F) % parts.size()].name);
    o.decode = (options & 0x08) != 0 ? sim::LpcDecode::TopOnly : sim::LpcDecode::Aliased;
    o.protection = (options & 0x04) != 0 ? sim::LpcProtection::Cleared : sim::LpcProtection::PowerOn;
    part = &sim::install_lpc_part(machine, o);
    result.platform = "LPC " + o.part;
    const std::uint64_t size = part->array().size();
    const std::uint64_t period = o.decode == sim::LpcDecode::Aliased ? size : 0;
    part->set_change_observer([&referee, part, size, period](const sim::LpcArrayChange& ch) {
      if (ch.kind == sim::LpcArrayChange::Kind::Interrupted) return;
      if (part->counters().id_entries == 0) referee.write_command("an LPC program or erase");
      referee.store("an LPC program or erase", kFourGiB - size + ch.offset, ch.length, period);
    });
  } else {
    const auto& parts = sim::spi_part_catalog();
    sim::SpiSetupConfig o;
    o.part = parts[(flash_byte & 0x7F) % parts.size()].name;
    o.descriptor = (options & 0x01) != 0;
    o.components = o.descriptor && (options & 0x02) != 0 ? 2 : 1;
    o.protection =
        (options & 0x04) != 0 ? sim::SpiProtectionStart::Cleared : sim::SpiProtectionStart::PowerOn;
    spi = &sim::install_spi_flash(machine, o);
    result.platform =
        "SPI " + o.part + (o.descriptor ? ", descriptor" : "") + (o.components == 2 ? ", 2 parts" : "");
    watch_spi(*spi, referee);
  }

  sim::HostilePeiConfig pc;
  pc.speaker = (pei_byte & 0x01) == 0;
  pc.speaker_status = (pei_byte & 0x02) != 0 ? EFI_DEVICE_ERROR : EFI_SUCCESS;
  pc.pages = static_cast<sim::HostileAllocation>(pei_byte >> 4 & 3);
  pc.pool = static_cast<sim::HostileAllocation>(pei_byte >> 6 & 3);
  pc.locate_failures = c.byte();
  pc.locate_null = c.byte();
  const std::uint8_t alloc = c.byte();
  pc.allocation_status = status_of(alloc) == EFI_SUCCESS ? EFI_OUT_OF_RESOURCES : status_of(alloc);
  pc.misalign = (alloc >> 3 & 0x0F) + 1u;
  pc.shortfall = (alloc & 0x80) != 0 ? pc.misalign * std::uint64_t{4096} : 0;
  // With no bytes for them, the providers answer as a healthy one does: one capsule of 2 MiB.
  const int providers = ((pei_byte >> 2) & 3) == 0 ? 1 : (pei_byte >> 2) & 3;
  for (int i = 0; i < providers; i++) {
    const std::uint8_t count = c.byte(), size = c.byte(), load = c.byte();
    sim::HostileProvider p;
    p.number_status = status_of(count >> 5);
    p.number = (count & 0x1F) == 0 ? 1 : (count & 0x1F) == 0x1F ? ~std::uint64_t{0} : (count & 0x1F) - 1;
    p.info_status = status_of(size >> 5);
    p.reported_size = kSizes[(size & 0x1F) % std::size(kSizes)];
    p.load_status = status_of(load >> 5);
    p.delivered = (load & 0x1F) == 0 ? p.reported_size : kSizes[((load & 0x1F) - 1) % std::size(kSizes)];
    pc.providers.push_back(p);
  }
  auto capsule = std::make_shared<std::vector<std::uint8_t>>(sim::spi_fill_pattern(2 * kImageSize, 7));

  // Devices the answers can reach, in the order the device byte picks them.
  std::vector<std::unique_ptr<sim::HostileDevice>> hostile;
  std::vector<sim::HostileDevice*> by_index;
  auto decorate = [&](sim::IoHandler* io, sim::MemHandler* mem) {
    hostile.push_back(std::make_unique<sim::HostileDevice>(platform, io, mem));
    by_index.push_back(hostile.back().get());
  };
  if (spi != nullptr) {
    decorate(nullptr, &spi->controller());
    decorate(nullptr, &spi->window());
  } else {
    decorate(nullptr, part);
  }
  decorate(&machine.ec(), nullptr);
  decorate(&machine.pm(), nullptr);
  // The module's delays (seconds around the controller's mode changes, milliseconds per chunk)
  // poll the PM timer: read over a slow bus, a second takes 10,000 reads instead of a million,
  // and a run's budget goes to the flash.
  by_index.back()->set_extra_cost(kPmTimerReadCost);
  decorate(&machine.cmos(), nullptr);
  while (!c.done()) {
    sim::HostileDevice* device = by_index[c.byte() % by_index.size()];
    const std::uint8_t twist = c.byte();
    sim::HostileAnswer a;
    a.twist = static_cast<sim::Twist>(twist & 3);
    a.any_address = (twist & 0x80) == 0;
    a.address_low = static_cast<std::uint16_t>(c.le(2));
    a.first = c.le(3);
    const std::uint8_t count = c.byte();
    a.count = count == 0xFF ? 0xFFFFFFFFu : count + 1u;
    a.value = c.le(4);
    device->add(a);
  }
  // Stores through the flash window are stores too (an LPC part's register space, below its
  // array space, holds no flash).
  by_index[spi != nullptr ? 1 : 0]->on_mem_write([&referee, lpc](std::uint32_t address, sim::Width w) {
    if (lpc && (address & sim::LpcFlashPart::kArraySpaceBit) == 0) return;
    referee.store("a store through the flash window", address, static_cast<std::uint64_t>(w), 0);
  });

  sim::HostilePei pei(pc, capsule);
  result.outcome = runner(machine, pei);
  // An engine that runs the image stops at a CPU exception: an access to memory that is not RAM,
  // such as the fence around a block.
  if (result.outcome.kind == sim::OutcomeKind::Hang && result.outcome.why == sim::kCpuExceptionHang) {
    referee.violation("the module faulted: " + result.outcome.where);
  }
  if (result.outcome.kind == sim::OutcomeKind::Returned && machine.lpc().bios_write_enabled() &&
      !machine.ec().in_flash_mode()) {
    referee.violation("RecoveryEntry returned " + result.outcome.to_string() +
                      " with BIOS write enable on and the controller out of flash mode");
  }
  for (const std::string& m : pei.misuses()) referee.violation("PEI core misused: " + m);
  result.violations = std::move(referee.violations);
  result.pei_calls = pei.calls();
  return result;
}

}  // namespace fuzzing
