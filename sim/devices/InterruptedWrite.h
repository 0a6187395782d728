// What flash cells show when power is lost while a part is still busy with an erase, a program or
// a non-volatile register write: every bit the operation was changing reads its old or its new value.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

// Remembers the cells an operation is about to change, and mixes old and new bits when the
// operation is cut short. The mix comes from a seeded generator, so a run can be reproduced.
class InterruptedWrite {
 public:
  static constexpr std::uint64_t kDefaultSeed = 0x5EEDF1A5;

  explicit InterruptedWrite(std::uint64_t seed = kDefaultSeed) : state_(seed) {}
  void set_seed(std::uint64_t seed) { state_ = seed; }

  // Before an operation changes cells[offset, offset + length).
  void begin(const std::vector<std::uint8_t>& cells, std::uint32_t offset, std::uint32_t length);
  // The operation that began last reached its end (nothing to tear).
  void forget() { length_ = 0; }
  bool pending() const { return length_ != 0; }
  std::uint32_t offset() const { return offset_; }
  std::uint32_t length() const { return length_; }

  // Power lost before the operation ended: each bit of the range that differs keeps its old value
  // or its new one. An erase can therefore only turn bits to 1, a program only to 0. Returns how
  // many bytes were left neither old nor new.
  std::uint32_t tear(std::vector<std::uint8_t>& cells);
  // The same for one register byte.
  std::uint8_t mix(std::uint8_t before, std::uint8_t after);

 private:
  std::uint8_t next_byte();

  std::uint64_t state_;
  std::uint64_t bits_ = 0;
  unsigned bits_left_ = 0;
  std::vector<std::uint8_t> before_;
  std::uint32_t offset_ = 0;
  std::uint32_t length_ = 0;
};

}  // namespace sim
