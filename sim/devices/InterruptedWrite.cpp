// Old and new bits mixed by a seeded generator when an erase, a program or a register write is cut.
#include "sim/devices/InterruptedWrite.h"

namespace sim {

void InterruptedWrite::begin(const std::vector<std::uint8_t>& cells, std::uint32_t offset,
                             std::uint32_t length) {
  before_.assign(cells.begin() + offset, cells.begin() + offset + length);
  offset_ = offset;
  length_ = length;
}

std::uint8_t InterruptedWrite::next_byte() {
  if (bits_left_ == 0) {
    // splitmix64: cheap, and every seed gives a well-mixed stream.
    state_ += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    bits_ = z ^ (z >> 31);
    bits_left_ = 64;
  }
  auto b = static_cast<std::uint8_t>(bits_);
  bits_ >>= 8;
  bits_left_ -= 8;
  return b;
}

std::uint8_t InterruptedWrite::mix(std::uint8_t before, std::uint8_t after) {
  std::uint8_t done = next_byte();  // 1: this bit reached its new value
  return static_cast<std::uint8_t>((before & ~done) | (after & done));
}

std::uint32_t InterruptedWrite::tear(std::vector<std::uint8_t>& cells) {
  std::uint32_t torn = 0;
  for (std::uint32_t i = 0; i < length_; i++) {
    std::uint8_t after = cells[offset_ + i];
    std::uint8_t left = mix(before_[i], after);
    cells[offset_ + i] = left;
    torn += left != before_[i] && left != after ? 1 : 0;
  }
  length_ = 0;
  return torn;
}

}  // namespace sim
