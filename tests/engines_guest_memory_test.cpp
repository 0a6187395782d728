// The emulated CPU's stores to RAM: each lands in host memory with the width and bytes the
// instruction wrote, aligned or not, also across a page boundary.
#include <gtest/gtest.h>
#include <unicorn/unicorn.h>

#include <cstring>
#include <vector>

#include "sim/ia32/GuestMemory.h"

namespace {

constexpr std::uint32_t kBase = 0x2F000000;

void put32(std::vector<std::uint8_t>& code, std::uint32_t v) {
  for (int i = 0; i < 4; i++) {
    code.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
}

void mov_dword(std::vector<std::uint8_t>& code, std::uint32_t at, std::uint32_t value) {
  code.insert(code.end(), {0xC7, 0x05});  // mov dword [at], imm32
  put32(code, at);
  put32(code, value);
}

TEST(Ia32GuestMemory, StoresLandWholeInHostMemory) {
  uc_engine* uc = nullptr;
  ASSERT_EQ(uc_open(UC_ARCH_X86, UC_MODE_32, &uc), UC_ERR_OK);
  {
    sim::ia32::GuestMemory memory(uc);
    std::uint8_t* ram = memory.place(kBase, 2 * sim::ia32::GuestMemory::kPage);
    std::vector<std::uint8_t> code;
    mov_dword(code, kBase + 0x100, 0x11223344);   // aligned
    mov_dword(code, kBase + 0x201, 0x55667788);   // unaligned
    mov_dword(code, kBase + 0xFFE, 0x99AABBCC);   // across the page boundary
    code.insert(code.end(), {0x66, 0xC7, 0x05});  // mov word [kBase + 0x303], 0xDDEE
    put32(code, kBase + 0x303);
    code.insert(code.end(), {0xEE, 0xDD, 0xF4});  // imm16, hlt
    std::memcpy(ram, code.data(), code.size());
    ASSERT_EQ(uc_emu_start(uc, kBase, kBase + code.size() - 1, 0, 0), UC_ERR_OK);

    auto dword = [&](std::uint32_t offset) {
      std::uint32_t v;
      std::memcpy(&v, ram + offset, sizeof v);
      return v;
    };
    EXPECT_EQ(dword(0x100), 0x11223344u);
    EXPECT_EQ(dword(0x201), 0x55667788u);
    EXPECT_EQ(dword(0xFFE), 0x99AABBCCu);
    EXPECT_EQ(ram[0x303] | ram[0x304] << 8, 0xDDEE);
    EXPECT_EQ(ram[0x200], 0);  // neighbours untouched
    EXPECT_EQ(ram[0x205], 0);
    EXPECT_EQ(ram[0x305], 0);
  }
  uc_close(uc);
}

}  // namespace
