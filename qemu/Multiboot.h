// The multiboot (version 1) boot information the loader hands the kernel: the command line and the
// modules (the PE32 image and the capsule).
#pragma once

#include <stdint.h>

namespace harness {

constexpr uint32_t kMultibootLoaderMagic = 0x2BADB002;
constexpr uint32_t kMultibootInfoMemory = 1u << 0;
constexpr uint32_t kMultibootInfoCommandLine = 1u << 2;
constexpr uint32_t kMultibootInfoModules = 1u << 3;

struct MultibootInfo {
  uint32_t flags;
  uint32_t mem_lower_kib;  // conventional memory below 1 MiB
  uint32_t mem_upper_kib;  // memory from 1 MiB up to the first hole
  uint32_t boot_device;
  uint32_t command_line;  // physical address of a NUL-terminated string
  uint32_t module_count;
  uint32_t modules;  // physical address of module_count MultibootModule entries
};

struct MultibootModule {
  uint32_t start;
  uint32_t end;     // one past the last byte
  uint32_t string;  // the module's command line
  uint32_t reserved;
};

static_assert(sizeof(MultibootModule) == 16, "multiboot module entry");

}  // namespace harness
