// Cycle decoding from the SPI controller accesses.
#include "tests/support/spi_cycle_recorder.h"

namespace testing_support {

void SpiCycleRecorder::write_bytes(std::uint32_t offset, unsigned width, std::uint32_t value) {
  for (unsigned i = 0; i < width && offset + i < sizeof regs_; i++) {
    regs_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

void SpiCycleRecorder::record(const sim::Access& a) {
  if (a.space != sim::Space::Mem || !a.write || a.address < base_ || a.address >= base_ + sizeof regs_)
    return;
  std::uint32_t offset = a.address - base_;
  unsigned width = static_cast<unsigned>(a.width);
  write_bytes(offset, width, a.value);
  auto covers = [&](std::uint32_t reg) { return offset <= reg && reg < offset + width; };
  SpiCycleRecord r;
  r.address = std::uint32_t{regs_[0x08]} | (std::uint32_t{regs_[0x09]} << 8) |
              (std::uint32_t{regs_[0x0A]} << 16) | (std::uint32_t{regs_[0x0B]} << 24);
  r.fdata0 = regs_[0x10];
  if (covers(0x06) && (regs_[0x06] & 0x01) != 0) {
    r.hardware = true;
    r.cycle = (regs_[0x06] >> 1) & 3;
    r.dbc = regs_[0x07] & 0x3F;
    cycles_.push_back(r);
    regs_[0x06] &= 0xFE;
  }
  if (covers(0x91) && (regs_[0x91] & 0x02) != 0) {
    r.cycle = (regs_[0x91] >> 4) & 7;
    r.prefix = (regs_[0x91] & 0x08) != 0;
    r.atomic = (regs_[0x91] & 0x04) != 0;
    r.dbc = regs_[0x92] & 0x3F;
    r.data = (regs_[0x92] & 0x40) != 0;
    cycles_.push_back(r);
    regs_[0x91] &= 0xFD;
  }
}

std::vector<SpiCycleRecord> SpiCycleRecorder::software(unsigned entry) const {
  std::vector<SpiCycleRecord> v;
  for (const auto& c : cycles_) {
    if (!c.hardware && c.cycle == entry) v.push_back(c);
  }
  return v;
}

std::vector<SpiCycleRecord> SpiCycleRecorder::hardware(unsigned type) const {
  std::vector<SpiCycleRecord> v;
  for (const auto& c : cycles_) {
    if (c.hardware && c.cycle == type) v.push_back(c);
  }
  return v;
}

}  // namespace testing_support
