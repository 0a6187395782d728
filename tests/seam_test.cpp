// The seam reaches the platform that runs the module, and a run always ends with one outcome.
#include <gtest/gtest.h>

#include "platform/HwAccess.h"
#include "sim/Platform.h"

namespace {

class Latch : public sim::IoHandler, public sim::MemHandler {
 public:
  std::uint32_t io_read(std::uint16_t port, sim::Width) override { return last_io_ + port; }
  void io_write(std::uint16_t, sim::Width, std::uint32_t v) override { last_io_ = v; }
  std::uint32_t mem_read(std::uint32_t address, sim::Width) override { return last_mem_ ^ address; }
  void mem_write(std::uint32_t, sim::Width, std::uint32_t v) override { last_mem_ = v; }
  std::uint32_t last_io_ = 0, last_mem_ = 0;
};

TEST(Seam, ForwardsEveryWidthAndCountsTime) {
  sim::Platform p;
  Latch latch;
  p.map_io(0x100, 4, &latch, 1000);
  p.map_mem(0xFED00000, 0x1000, &latch, 250);
  sim::BoundedTrace trace(16);
  p.set_trace(&trace);
  auto outcome = p.run([] {
    IoWrite32(0x100, 0x12345678);
    EXPECT_EQ(IoRead8(0x101), 0x79);     // 0x12345779 truncated to 8 bits
    EXPECT_EQ(IoRead16(0x100), 0x5778);  // 0x12345778 truncated to 16 bits
    MmioWrite16(0xFED00010, 0xBEEF);
    EXPECT_EQ(MmioRead32(0xFED00000), 0xFED0BEEFu);
    return EFI_SUCCESS;
  });
  EXPECT_EQ(outcome.kind, sim::OutcomeKind::Returned);
  ASSERT_EQ(trace.accesses().size(), 5u);
  EXPECT_EQ(sim::describe(trace.accesses()[0]), "io write 32 0x0100 = 0x12345678");
  EXPECT_EQ(sim::describe(trace.accesses()[3]), "mem write 16 0xFED00010 = 0xBEEF");
  EXPECT_EQ(trace.accesses()[4].width, sim::Width::Dword);
  EXPECT_EQ(p.now(), 3 * 1000u + 2 * 250u);
}

TEST(Seam, UnclaimedAccessesReadAllOnes) {
  sim::Platform p;
  auto outcome = p.run([] {
    EXPECT_EQ(IoRead8(0x1234), 0xFF);
    EXPECT_EQ(IoRead16(0x1234), 0xFFFF);
    EXPECT_EQ(MmioRead32(0x10000000), 0xFFFFFFFFu);
    MmioWrite8(0x10000000, 0);
    return EFI_UNSUPPORTED;
  });
  EXPECT_EQ(outcome.to_string(), "returned(0x80000003)");
  EXPECT_EQ(p.unclaimed_accesses(), 4u);
}

TEST(Seam, EndlessWaitsEndAsHangOrFinalSpin) {
  sim::Platform p;
  p.limits().max_time = 5'000'000;  // 5 ms
  auto hang = p.run([] {
    while (IoRead8(0x62) != 0) {
    }
    return EFI_SUCCESS;
  });
  EXPECT_EQ(hang.kind, sim::OutcomeKind::Hang);
  EXPECT_EQ(hang.to_string(), "hang(io read 8 0x0062 = 0xFF)");

  sim::Platform q;
  auto spin = q.run([] {
    IoWrite8(0x80, 1);
    for (;;) {
      CpuPause();
    }
    return EFI_SUCCESS;
  });
  EXPECT_EQ(spin.to_string(), "final-spin");
}

TEST(Seam, ARepeatedUnchangingWaitIsAHangLongBeforeTheTimeBudget) {
  sim::Platform p;
  Latch latch;
  p.map_io(0xFF2D, 3, &latch, 1000);
  auto hang = p.run([] {
    for (;;) {  // select a register, read it, forever: a period of three identical accesses
      IoWrite8(0xFF2D, 0xF5);
      IoWrite8(0xFF2E, 0x54);
      IoRead8(0xFF2F);
    }
    return EFI_SUCCESS;
  });
  EXPECT_EQ(hang.kind, sim::OutcomeKind::Hang);
  EXPECT_GT(p.now(), p.limits().stuck_loop_time);
  EXPECT_LT(p.now(), p.limits().stuck_loop_time + 1'000'000'000);  // loops are sampled, not watched

  // A wait whose reads change (a counter) is not a hang until the time budget runs out.
  sim::Platform q;
  q.limits().stuck_loop_time = 1'000'000;  // 1 ms
  q.limits().max_time = 10'000'000;
  Latch counter;
  q.map_io(0x408, 4, &counter, 1000);
  auto budget = q.run([] {
    for (UINT32 i = 0;; i++) {
      IoWrite32(0x408, i);
      IoRead32(0x408);
    }
    return EFI_SUCCESS;
  });
  EXPECT_EQ(budget.kind, sim::OutcomeKind::Hang);
  EXPECT_GE(q.now(), q.limits().max_time);
}

TEST(Seam, PowerCutEndsTheRunAfterTheNthAccess) {
  sim::Platform p;
  p.limits().power_cut_after = 3;
  int cycled = 0;
  p.on_power_cycle([&] { cycled++; });
  int done = 0;
  auto outcome = p.run([&] {
    for (;;) {
      IoWrite8(0x80, static_cast<UINT8>(done++));
    }
    return EFI_SUCCESS;
  });
  EXPECT_EQ(outcome.to_string(), "power-cut(access 3)");
  EXPECT_EQ(done, 3);
  p.power_cycle();
  EXPECT_EQ(cycled, 1);
}

}  // namespace
