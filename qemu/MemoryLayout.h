// Where the harness puts things in QEMU's 128 MiB of RAM. The kernel sits at 1 MiB and the loader
// places the multiboot modules right after it, well below the areas here.
#pragma once

#include <stdint.h>

namespace harness {

constexpr uint32_t kModulesLimit = 0x01000000;  // the multiboot modules must end below this
constexpr uint32_t kImageBase = 0x01000000;     // the PE32 image is loaded (and relocated) here
constexpr uint32_t kImageCapacity = 0x00800000;
constexpr uint32_t kPoolBase = 0x01800000;  // AllocatePool
constexpr uint32_t kPoolLimit = 0x01900000;
constexpr uint32_t kPagesBase = 0x02000000;  // AllocatePages
constexpr uint32_t kPagesLimit = 0x06000000;
constexpr uint32_t kPageSize = 0x1000;

static_assert(kImageBase + kImageCapacity <= kPoolBase && kPoolLimit <= kPagesBase, "areas overlap");

}  // namespace harness
