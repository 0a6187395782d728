// Expected flash contents after a recovery.
#include "tools/recovery-sim/Expectation.h"

#include <algorithm>
#include <utility>

namespace rsim {

namespace {
template <class Visit>
void for_each_chunk(Visit visit) {
  for (std::uint64_t a = kWindowBase; a < 0x100000000ull; a += kChunk) {
    if (a >= kSkipBase && a < kSkipEnd) {
      continue;
    }
    visit(static_cast<std::uint32_t>(a), static_cast<std::uint32_t>(a - kWindowBase));
  }
}
}  // namespace

std::vector<std::uint8_t> expected_spi(std::vector<std::uint8_t> before, const std::uint8_t* capsule,
                                       std::uint64_t window_low, std::uint64_t window_high) {
  std::vector<std::uint8_t> out = std::move(before);
  const std::uint64_t total = out.size();
  for_each_chunk([&](std::uint32_t address, std::uint32_t offset) {
    std::uint64_t linear = (std::uint64_t{address} + total) & 0xFFFFFFFFull;
    if (linear < window_low || linear + kChunk - 1 > window_high || linear + kChunk > total) {
      return;
    }
    std::copy(capsule + offset, capsule + offset + kChunk, out.begin() + static_cast<std::ptrdiff_t>(linear));
  });
  return out;
}

std::vector<std::uint8_t> expected_lpc(std::vector<std::uint8_t> before, const std::uint8_t* capsule,
                                       bool aliased) {
  std::vector<std::uint8_t> out = std::move(before);
  const std::uint64_t size = out.size();
  for_each_chunk([&](std::uint32_t address, std::uint32_t offset) {
    if (!aliased && address < 0x100000000ull - size) {
      return;
    }
    std::uint64_t at = address % size;
    std::copy(capsule + offset, capsule + offset + kChunk, out.begin() + static_cast<std::ptrdiff_t>(at));
  });
  return out;
}

std::vector<std::uint8_t> generated_capsule() {
  std::vector<std::uint8_t> c(kCapsuleBytes);
  std::uint32_t x = 0x2545F491;
  for (auto& b : c) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return c;
}

std::shared_ptr<const std::vector<std::uint8_t>> shared_generated_capsule() {
  static const auto capsule = std::make_shared<const std::vector<std::uint8_t>>(generated_capsule());
  return capsule;
}

std::vector<std::uint8_t> old_flash_pattern(std::size_t size) {
  static const char kWord[] = "OLDFLASH";
  std::vector<std::uint8_t> v(size);
  for (std::size_t i = 0; i < size; i++) {
    v[i] = static_cast<std::uint8_t>(kWord[i % 8]);
  }
  return v;
}

}  // namespace rsim
