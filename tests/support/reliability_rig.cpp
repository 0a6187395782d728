// The fault-campaign rig: a machine whose flash survives power cycles, and the write audit.
#include "tests/support/reliability_rig.h"

#include "recovery/RecoveryEntry.h"
#include "sim/pei/RecoveryPpiModel.h"
#include "tests/support/spi_rig.h"
#include "tools/recovery-sim/Expectation.h"

namespace testing_support {

namespace {

constexpr std::uint64_t k4GiB = 0x100000000ull;

std::vector<std::uint8_t> lpc_old_contents(std::size_t size) {
  std::vector<std::uint8_t> v(size);
  for (std::size_t i = 0; i < size; i++) {
    v[i] = static_cast<std::uint8_t>((i * 7u) ^ (i >> 12) ^ 0xA5u);
  }
  return v;
}

}  // namespace

sim::MachineConfig machine_config_for(const ReliabilityConfig& config) {
  sim::MachineConfig m;
  m.boot_straps = static_cast<std::uint8_t>(config.straps >= 0 ? config.straps : config.lpc ? 0 : 3);
  m.ec.present = config.ec_present;
  return m;
}

std::size_t first_difference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; i++) {
    if (a[i] != b[i]) return i;
  }
  return a.size() == b.size() ? a.size() : n;
}

ReliabilityRig::ReliabilityRig(const ReliabilityConfig& config)
    : machine_(machine_config_for(config)),
      capsule_(config.capsule.empty() ? make_capsule(0x3C) : config.capsule) {
  if (config.lpc) {
    lpc_ = &sim::install_lpc_part(machine_, config.lpc_part);
    // Old contents that an erase or program visibly changes (the part powers up erased).
    lpc_->array() = lpc_old_contents(lpc_->array().size());
    lpc_->set_change_observer([this](const sim::LpcArrayChange& c) {
      audit(0, c.offset, c.length, c.kind != sim::LpcArrayChange::Kind::Program);
    });
  } else {
    spi_ = &sim::install_spi_flash(machine_, config.spi);
    for (std::size_t i = 0; i < spi_->component_count(); i++) {
      std::uint32_t base = static_cast<std::uint32_t>(i * spi_->part(i).size());
      spi_->part(i).set_change_observer([this, i, base](const sim::SpiArrayChange& c) {
        if (c.length == 0) return;  // a status register write: not the array
        audit(i, base + c.offset, c.length, c.kind == sim::SpiArrayChange::Kind::Erase);
      });
    }
    // The window the BIOS may write, from the descriptor the chipset loaded: with no write grant
    // in the host master's FLMSTR1 bits 27:24, the BIOS region bounds it.
    const sim::SpiFlashDescriptor& d = spi_->controller().descriptor();
    mapped_ = d.valid() ? spi_->total_size() : spi_->part(0).size();
    write_low_ = 0;
    write_high_ = mapped_ - 1;
    if (d.valid() && (d.flmstr1() & 0x0F000000) == 0) {
      std::uint32_t bfpr = d.region(1);
      std::uint64_t base = std::uint64_t{bfpr & 0xFFF} << 12,
                    limit = std::uint64_t{(bfpr >> 16) & 0xFFF} << 12;
      if (base < limit) {
        write_low_ = base;
        write_high_ = limit | 0xFFF;
      }
    }
  }
  if (config.pm_timer_read != 0) {
    // Only the PM block is mapped again at power-on (it follows its decode), so only it sees this.
    machine_.platform().costs().io_port = config.pm_timer_read;
    machine_.pm().decode_at(machine_.lpc().pmbase(), machine_.lpc().acpi_enabled());
  }
  before_ = flash();
  machine_.post().on_write = [this](std::uint8_t v) {
    // SPI probes write 41h; the chunk counter starts at 00h and counts every chunk after that.
    if (!counting_chunks_ && v == 0x00) counting_chunks_ = true;
    if (!counting_chunks_) return;
    chunk_++;
    if (on_chunk) on_chunk(chunk_ - 1);
  };
  std::vector<std::uint8_t> zeros(before_.size(), 0x00), ones(rsim::kCapsuleBytes, 0xFF);
  std::vector<std::uint8_t> mask = expected_from(zeros, ones.data());
  entitled_.resize(mask.size());
  for (std::size_t i = 0; i < mask.size(); i++) entitled_[i] = mask[i] != 0;
}

void ReliabilityRig::default_pei(sim::PeiEnvironment& pei, const std::vector<std::uint8_t>& capsule) {
  pei.install_speaker();
  pei.install_recovery_ppi().add_capsule(capsule);
}

sim::Outcome ReliabilityRig::run(std::uint64_t cut_after, const PeiSetup& setup) {
  pei_ = std::make_unique<sim::PeiEnvironment>();
  setup(*pei_, capsule_);
  counting_chunks_ = false;
  chunk_ = 0;
  sim::Platform& p = machine_.platform();
  // The platform counts accesses over its whole life; the cut is relative to this run.
  std::uint64_t start = p.accesses();
  run_start_ = start;
  p.limits().power_cut_after = cut_after == 0 ? 0 : start + cut_after;
  sim::Outcome o = machine_.run([this] { return RecoveryEntry(nullptr, pei_->services()); });
  p.limits().power_cut_after = 0;
  last_run_accesses_ = p.accesses() - start;
  return o;
}

std::vector<sim::BeepRequest> ReliabilityRig::beeps() const {
  sim::SpeakerModel* s = pei_ ? pei_->speaker() : nullptr;
  return s != nullptr ? s->beeps() : std::vector<sim::BeepRequest>{};
}

std::vector<std::uint8_t> ReliabilityRig::flash() const {
  return lpc_ != nullptr ? lpc_->array() : spi_->image();
}

std::vector<std::uint8_t> ReliabilityRig::expected() const {
  if (capsule_.size() < rsim::kCapsuleBytes) return before_;
  return expected_from(before_, capsule_.data());
}

std::vector<std::uint8_t> ReliabilityRig::expected_from(const std::vector<std::uint8_t>& before,
                                                        const std::uint8_t* capsule) const {
  if (lpc_ != nullptr) return rsim::expected_lpc(before, capsule, lpc_->decode() == sim::LpcDecode::Aliased);
  // Only the mapped part of the flash is reachable; the rest keeps its contents.
  std::vector<std::uint8_t> mapped(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(mapped_));
  std::vector<std::uint8_t> out = rsim::expected_spi(mapped, capsule, write_low_, write_high_);
  out.insert(out.end(), before.begin() + static_cast<std::ptrdiff_t>(mapped_), before.end());
  return out;
}

std::uint32_t ReliabilityRig::layout_offset_of(std::uint32_t memory) const {
  if (lpc_ != nullptr) {
    std::uint64_t size = lpc_->array().size();
    if (lpc_->decode() == sim::LpcDecode::Aliased) return static_cast<std::uint32_t>(memory % size);
    return memory >= k4GiB - size ? static_cast<std::uint32_t>(memory - (k4GiB - size)) : UINT32_MAX;
  }
  std::uint64_t linear = (std::uint64_t{memory} + mapped_) % k4GiB;
  return linear < mapped_ ? static_cast<std::uint32_t>(linear) : UINT32_MAX;
}

bool ReliabilityRig::chunk_covers(int index, std::uint32_t offset, std::uint32_t length) const {
  if (index < 0) return false;
  std::uint64_t memory = rsim::kWindowBase + std::uint64_t(index) * rsim::kChunk;
  if (memory >= rsim::kSkipBase) memory += rsim::kSkipEnd - rsim::kSkipBase;
  if (memory >= k4GiB) return false;
  std::uint32_t chunk = layout_offset_of(static_cast<std::uint32_t>(memory));
  if (chunk == UINT32_MAX || offset < chunk ||
      std::uint64_t{offset} + length > std::uint64_t{chunk} + rsim::kChunk) {
    return false;
  }
  // Inside the chunk, and (SPI) inside the window the BIOS may write.
  return lpc_ != nullptr || (offset >= write_low_ && std::uint64_t{offset} + length - 1 <= write_high_);
}

std::vector<bool> ReliabilityRig::entitled_bytes_of_chunks(int chunks) const {
  std::vector<bool> mask(before_.size());
  for (std::uint32_t offset = 0; offset < mask.size(); offset += rsim::kChunk) {
    for (int i = 0; i < chunks; i++) {
      if (!chunk_covers(i, offset, rsim::kChunk)) continue;
      std::fill(mask.begin() + offset, mask.begin() + offset + rsim::kChunk, true);
      break;
    }
  }
  return mask;
}

void ReliabilityRig::audit(std::size_t chip, std::uint32_t offset, std::uint32_t length, bool erase) {
  int chunk = chunk_ - 1;
  changes_.push_back({chip, offset, length, chunk, chunk_covers(chunk, offset, length), erase,
                      machine_.platform().accesses() - run_start_});
  if (on_change) on_change(changes_.back());
}

std::size_t ReliabilityRig::unentitled_changes() const {
  std::size_t n = 0;
  for (const auto& c : changes_) n += c.entitled ? 0 : 1;
  return n;
}

}  // namespace testing_support
