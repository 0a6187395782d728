// Anonymous mappings placed below 4 GiB (MAP_32BIT puts them in the low 2 GiB on x86-64).
#include "sim/pei/LowMemory.h"

#include <sys/mman.h>

#include <cstring>

namespace sim {

namespace {
constexpr std::uint64_t kFourGiB = std::uint64_t{1} << 32;
}

LowMemory::~LowMemory() {
  for (const Block& b : blocks_) {
    munmap(b.base, b.size);
  }
}

void* LowMemory::allocate(std::uint64_t bytes) {
  if (bytes == 0 || bytes > limit_ || in_use_ > limit_ - bytes) {
    return nullptr;
  }
  std::size_t size = static_cast<std::size_t>(bytes);
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  if (p == MAP_FAILED) {
    return nullptr;
  }
  // MAP_32BIT is a hint on some kernels; an address the target could not hold is no use.
  if (reinterpret_cast<std::uintptr_t>(p) + bytes > kFourGiB) {
    munmap(p, size);
    return nullptr;
  }
  std::memset(p, kUninitialised, size);
  blocks_.push_back(Block{p, size});
  in_use_ += bytes;
  return p;
}

}  // namespace sim
