// RAM helpers (overlap-safe copy, fill, zero, compare) and the flash-window store and copy,
// whose accesses must reach the bus one byte at a time, once, in order.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "flash/FlashWindow.h"
#include "flash/MemoryHelpers.h"
#include "sim/Platform.h"

namespace {

TEST(MemoryHelpers, CopyIsSafeForOverlapInBothDirections) {
  char up[] = "0123456789";
  EXPECT_EQ(CopyMem(up + 2, up, 6), up + 2);  // destination above an overlapping source
  EXPECT_STREQ(up, "0101234589");
  char down[] = "0123456789";
  CopyMem(down, down + 2, 6);  // destination below
  EXPECT_STREQ(down, "2345676789");
  char apart[] = "abcdef", dst[] = "xxxxxx";
  CopyMem(dst, apart, 3);
  EXPECT_STREQ(dst, "abcxxx");
  CopyMem(dst, apart, 0);
  EXPECT_STREQ(dst, "abcxxx");
}

TEST(MemoryHelpers, FillAndZeroStayInsideTheirRange) {
  UINT8 buf[8];
  std::memset(buf, 0x11, sizeof buf);
  EXPECT_EQ(SetMem(buf + 1, 3, 0xA5), buf + 1);
  EXPECT_EQ(ZeroMem(buf + 5, 2), buf + 5);
  const UINT8 expected[8] = {0x11, 0xA5, 0xA5, 0xA5, 0x11, 0x00, 0x00, 0x11};
  EXPECT_EQ(std::memcmp(buf, expected, sizeof buf), 0);
}

TEST(MemoryHelpers, CompareGivesTheDifferenceOfTheFirstUnequalBytes) {
  const UINT8 a[] = {1, 2, 0x80, 0x00}, b[] = {1, 2, 0x7F, 0xFF};
  EXPECT_EQ(CompareMem(a, b, 4), 1);  // bytes are unsigned: 0x80 is above 0x7F
  EXPECT_EQ(CompareMem(b, a, 4), -1);
  EXPECT_EQ(CompareMem(a + 3, b + 3, 1), -255);
  EXPECT_EQ(CompareMem(a, b, 2), 0);  // differences past Length do not count
  EXPECT_EQ(CompareMem(a, b, 0), 0);
}

// A flash part's contents, answering byte reads and recording what reaches it.
class FlashArray : public sim::MemHandler {
 public:
  std::uint32_t mem_read(std::uint32_t address, sim::Width) override { return address & 0xFF; }
  void mem_write(std::uint32_t, sim::Width, std::uint32_t) override {}
};

TEST(FlashWindow, StoreAndCopyAreSingleByteAccessesInOrder) {
  sim::Platform platform;
  FlashArray flash;
  platform.map_mem(0xFFE00000, 0x200000, &flash, 1000);
  sim::BoundedTrace trace(16);
  platform.set_trace(&trace);
  UINT8 out[5] = {0, 0, 0, 0, 0xEE};
  platform.run([&] {
    FlashStore8(0xFFE05555, 0xAA);
    CopyFromFlash(out, 0xFFFFFFFD, 3);  // the last bytes below 4 GiB
    CopyFromFlash(out + 4, 0xFFE00000, 0);
    return EFI_SUCCESS;
  });
  std::vector<std::string> seen;
  for (const auto& a : trace.accesses()) seen.push_back(sim::describe(a));
  std::vector<std::string> expected = {"mem write 8 0xFFE05555 = 0xAA", "mem read 8 0xFFFFFFFD = 0xFD",
                                       "mem read 8 0xFFFFFFFE = 0xFE", "mem read 8 0xFFFFFFFF = 0xFF"};
  EXPECT_EQ(seen, expected);
  const UINT8 copied[5] = {0xFD, 0xFE, 0xFF, 0, 0xEE};
  EXPECT_EQ(std::memcmp(out, copied, sizeof out), 0);
}

}  // namespace
