// The emulated CPU's loads and stores in the decoded range: each reaches the platform exactly once,
// with the address and width the instruction used (aligned, unaligned, across a page boundary),
// and a load returns what the platform answered.
#include <gtest/gtest.h>
#include <unicorn/unicorn.h>

#include <cstring>
#include <vector>

#include "sim/ia32/DecodedRange.h"
#include "sim/ia32/GuestMemory.h"

namespace {

constexpr std::uint32_t kCode = 0x2E000000;

struct Seen {
  bool write;
  std::uint32_t address;
  sim::Width width;
  std::uint32_t value;
  bool operator==(const Seen& o) const {
    return write == o.write && address == o.address && width == o.width && value == o.value;
  }
};

std::ostream& operator<<(std::ostream& os, const Seen& s) {
  return os << (s.write ? "write " : "read ") << static_cast<int>(s.width) << " @" << std::hex << s.address
            << " = " << s.value << std::dec;
}

// The platform's side: answers a load with a value made from its address, records everything.
struct Recorder : sim::MemHandler {
  static std::uint32_t answer(std::uint32_t address, sim::Width w) {
    return (0xA1B2C3D4u ^ address) & sim::all_ones(w);
  }
  std::uint32_t mem_read(std::uint32_t address, sim::Width w) override {
    seen.push_back(Seen{false, address, w, answer(address, w)});
    return answer(address, w);
  }
  void mem_write(std::uint32_t address, sim::Width w, std::uint32_t value) override {
    seen.push_back(Seen{true, address, w, value});
  }
  std::vector<Seen> seen;
};

struct Case {
  const char* name;
  std::vector<std::uint8_t> code;
  std::vector<Seen> expected;
  std::uint32_t eax;  // after the code (loads put the platform's answer there)
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

using sim::Width;
constexpr auto R = Recorder::answer;

const Case kCases[] = {
    {"AlignedDword",
     {0xA1, 0x10, 0x00, 0x00, 0x80},
     {{false, 0x80000010, Width::Dword, R(0x80000010, Width::Dword)}},
     R(0x80000010,                                                     Width::Dword)},
    {"UnalignedDword",
     {0xA1, 0x11, 0x00, 0x00, 0x80},
     {{false, 0x80000011, Width::Dword, R(0x80000011, Width::Dword)}},
     R(0x80000011, Width::Dword)},
    {"UnalignedWord",
     {0x66, 0xA1, 0x13, 0x00, 0x00, 0x80},
     {{false, 0x80000013, Width::Word, R(0x80000013, Width::Word)}},
     R(0x80000013,                             Width::Word)},
    {"DwordAcrossPages",
     {0xA1, 0xFE, 0x0F, 0x00, 0x80},
     {{false, 0x80000FFE, Width::Dword, R(0x80000FFE, Width::Dword)}},
     R(0x80000FFE,Width::Dword)},
 // The second load lies inside the span the first one is split into.
    {"UnalignedThenNeighbour",
     {0xA1, 0x11, 0x00, 0x00, 0x80, 0xA1, 0x14, 0x00, 0x00, 0x80},
     {{false, 0x80000011, Width::Dword, R(0x80000011, Width::Dword)},
      {false, 0x80000014, Width::Dword, R(0x80000014, Width::Dword)}},
     R(0x80000014,                                               Width::Dword)},
    {"UnalignedStore",
     {0xC7, 0x05, 0x21, 0x00, 0x00, 0x80, 0x88, 0x77, 0x66, 0x55},
     {{true, 0x80000021, Width::Dword, 0x55667788}},
     0},
    {"WordStoreAcrossPages",
     {0x66, 0xC7, 0x05, 0xFF, 0x0F, 0x00, 0x80, 0xEF, 0xBE},
     {{true, 0x80000FFF, Width::Word, 0xBEEF}},
     0                                                               },
 // Unaligned dword in, aligned dword out, by one string instruction.
    {"StringMove",
     {0xBE, 0x02, 0x01, 0x00, 0x80, 0xBF, 0x00, 0x02, 0x00, 0x80, 0xA5},
     {{false, 0x80000102, Width::Dword, R(0x80000102, Width::Dword)},
      {true, 0x80000200, Width::Dword, R(0x80000102, Width::Dword)}},
     0                                                               },
};

class Ia32DecodedRange : public testing::TestWithParam<Case> {};

TEST_P(Ia32DecodedRange, EachAccessReachesThePlatformOnceAndWhole) {
  uc_engine* uc = nullptr;
  ASSERT_EQ(uc_open(UC_ARCH_X86, UC_MODE_32, &uc), UC_ERR_OK);
  {
    sim::ia32::GuestMemory memory(uc);
    Recorder platform;
    sim::ia32::DecodedRange decoded(uc, platform);
    std::uint8_t* ram = memory.place(kCode, sim::ia32::GuestMemory::kPage);
    std::vector<std::uint8_t> code = GetParam().code;
    code.push_back(0xF4);  // hlt
    std::memcpy(ram, code.data(), code.size());
    std::uint32_t eax = 0;
    uc_reg_write(uc, UC_X86_REG_EAX, &eax);
    ASSERT_EQ(uc_emu_start(uc, kCode, kCode + code.size() - 1, 0, 0), UC_ERR_OK);
    uc_reg_read(uc, UC_X86_REG_EAX, &eax);
    EXPECT_EQ(platform.seen, GetParam().expected);
    EXPECT_EQ(eax, GetParam().eax);
  }
  uc_close(uc);
}

INSTANTIATE_TEST_SUITE_P(, Ia32DecodedRange, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
