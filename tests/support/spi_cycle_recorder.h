// Folds the module's accesses to the SPI controller into the cycles it started: for every write
// that sets the start bit, the cycle's address, mode and fields as the controller latched them.
// Records as the run goes, so long runs need no stored trace.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/Platform.h"

namespace testing_support {

struct SpiCycleRecord {
  bool hardware = false;
  std::uint32_t address = 0;  // FADDR
  unsigned dbc = 0;           // data byte count - 1
  unsigned cycle = 0;         // hardware cycle type or software menu index
  bool prefix = false;        // software: prefix opcode 1
  bool atomic = false;
  bool data = false;
  std::uint8_t fdata0 = 0;  // data buffer byte 0 when the cycle started
  bool operator==(const SpiCycleRecord&) const = default;
};

class SpiCycleRecorder : public sim::TraceSink {
 public:
  explicit SpiCycleRecorder(std::uint32_t spi_base = 0xFED1F800) : base_(spi_base) {}
  void record(const sim::Access& a) override;
  const std::vector<SpiCycleRecord>& cycles() const { return cycles_; }
  // Cycles of one kind: software cycles with menu index `entry`, or hardware cycles of `type`.
  std::vector<SpiCycleRecord> software(unsigned entry) const;
  std::vector<SpiCycleRecord> hardware(unsigned type) const;

 private:
  void write_bytes(std::uint32_t offset, unsigned width, std::uint32_t value);
  std::uint32_t base_;
  std::uint8_t regs_[0x100] = {};
  std::vector<SpiCycleRecord> cycles_;
};

}  // namespace testing_support
