// Host memory below 4 GiB for the simulated PEI allocators: the module keeps the low 32 bits of
// an allocated address as its pointer, exactly as on the 32-bit target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

class LowMemory {
 public:
  // Fresh memory is filled with this byte: RAM handed out by the PEI allocators is not cleared.
  static constexpr std::uint8_t kUninitialised = 0xAF;

  explicit LowMemory(std::uint64_t limit_bytes) : limit_(limit_bytes) {}
  ~LowMemory();
  LowMemory(const LowMemory&) = delete;
  LowMemory& operator=(const LowMemory&) = delete;

  // Null when the request is 0 bytes, would exceed the limit, or the host has no memory below
  // 4 GiB left. Blocks live until the allocator is destroyed.
  void* allocate(std::uint64_t bytes);

  std::uint64_t in_use() const { return in_use_; }
  std::uint64_t limit() const { return limit_; }
  void set_limit(std::uint64_t limit_bytes) { limit_ = limit_bytes; }

 private:
  struct Block {
    void* base;
    std::size_t size;
  };
  std::uint64_t limit_;
  std::uint64_t in_use_ = 0;
  std::vector<Block> blocks_;
};

}  // namespace sim
