// The embedded-controller dialogue and the BIOS write enable, as the simulated platform sees them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/BiosWriteEnable.h"
#include "platform/EmbeddedController.h"
#include "platform/HwAccess.h"
#include "sim/Machine.h"
#include "tests/support/platform_dialogue.h"

using testing::ElementsAre;
using testing::HasSubstr;
using testing_support::DialogueRecorder;

namespace {

struct Dialogue {
  sim::Outcome outcome;
  std::vector<std::string> lines;
  int width_violations;
};

// The dialogue of a run; the number of polls of 0xF554 depends on the controller's delay, so poll
// counts are left out.
Dialogue run_traced(sim::Machine& m, const std::function<EFI_STATUS()>& body) {
  DialogueRecorder recorder;
  m.platform().set_trace(&recorder);
  Dialogue d{m.run(body), {}, 0};
  m.platform().set_trace(nullptr);
  d.lines = recorder.lines();
  d.width_violations = recorder.width_violations();
  return d;
}

TEST(EcHandshake, EnterAndLeaveOnTheAcpiChannel) {
  sim::MachineConfig cfg;
  cfg.pm1_cnt_low = 0x01;  // SCI enabled: the exit keys are written
  sim::Machine m(cfg);
  auto d = run_traced(m, [] {
    SetBiosWriteEnable(1);
    SetBiosWriteEnable(0);
    return EcSendFinalCommand();
  });
  ASSERT_EQ(d.outcome.kind, sim::OutcomeKind::Returned);
  EXPECT_EQ(d.width_violations, 0);
  EXPECT_THAT(d.lines, ElementsAre("ec command 59 94 on 62", "ec command 59 77 on 62", "stall",
                                   "ec read F554=00", "ec command 59 F2 on 62", "ec read F554=00",
                                   "ec read F554=A5", "ec read FF14=00", "ec write FF14=01", "stall",
                                   "cf8=8000F8DC", "cfc read 00", "cf8=8000F8DC", "cfc write 01",
                                   // leaving
                                   "ec read FF14=01", "ec write FF14=00", "ec read F554=A5",
                                   "ec read F554=00", "ec command 59 76 on 62", "stall", "ec write FBF1=5A",
                                   "ec write FBF2=A5", "ec command 59 95 on 62", "cf8=8000F8DC",
                                   "cfc read 01", "cf8=8000F8DC", "cfc write 00", "ec command 59 F6 on 62"));
  EXPECT_FALSE(m.lpc().bios_write_enabled());
  EXPECT_TRUE(m.ec().final_command_received());
  EXPECT_EQ(m.ec().overruns(), 0u);  // every byte waited for the input buffer
  EXPECT_EQ(m.ec().dialogue(), "59 94, 59 77, 59 F2, 59 76, 59 95, 59 F6");
}

TEST(EcHandshake, KeyboardChannelSkipsPreparationAndMovesPorts) {
  sim::MachineConfig cfg;
  cfg.cmos_6e = 4;
  sim::Machine m(cfg);
  auto d = run_traced(m, [] {
    SetBiosWriteEnable(1);
    SetBiosWriteEnable(0);
    return EcSendFinalCommand();
  });
  // No 0x94/0x77 and no 3 s stall; no 0x76 and its stall; PM1 low byte is 0: no exit keys.
  EXPECT_THAT(d.lines,
              ElementsAre("ec read F554=00", "ec command 59 F2 on 60", "ec read F554=00", "ec read F554=A5",
                          "ec read FF14=00", "ec write FF14=01", "stall", "cf8=8000F8DC", "cfc read 00",
                          "cf8=8000F8DC", "cfc write 01", "ec read FF14=01", "ec write FF14=00",
                          "ec read F554=A5", "ec read F554=00", "ec command 59 95 on 60", "cf8=8000F8DC",
                          "cfc read 01", "cf8=8000F8DC", "cfc write 00", "ec command 59 F6 on 60"));
  EXPECT_EQ(d.width_violations, 0);
  for (const auto& c : m.ec().commands()) {
    EXPECT_EQ(c.command_port, 0x64);
  }
}

TEST(EcHandshake, AlreadyInFlashModeSendsNoRequestAndLeavesControlAlone) {
  sim::MachineConfig cfg;
  cfg.ec.already_in_flash_mode = true;
  sim::Machine m(cfg);
  sim::Nanos start = m.platform().now();
  auto d = run_traced(m, [] { return EcFlashHandshake(1); });
  EXPECT_THAT(d.lines,
              ElementsAre("ec command 59 94 on 62", "ec command 59 77 on 62", "stall", "ec read F554=A5"));
  EXPECT_TRUE(m.ec().register_writes().empty());
  // Only the 3 s preparation stall, not the 1 s stall after the control bit.
  sim::Nanos elapsed = m.platform().now() - start;
  EXPECT_GE(elapsed, 3'000'000'000u);
  EXPECT_LT(elapsed, 3'500'000'000u);
}

TEST(EcHandshake, AbsentControllerHangsOnTheFlashModeRegisterQuickly) {
  sim::MachineConfig cfg;
  cfg.ec.present = false;
  sim::Machine m(cfg);
  m.platform().limits().max_time = 20'000'000'000;  // 20 s of simulated time
  auto outcome = m.run([] { return SetBiosWriteEnable(1); });
  EXPECT_EQ(outcome.kind, sim::OutcomeKind::Hang);
  EXPECT_THAT(outcome.where, HasSubstr(" 0xFF2"));  // still polling the register window
  EXPECT_FALSE(m.lpc().bios_write_enabled());       // the chipset bit comes only after the handshake
}

TEST(EcHandshake, InputBufferWaitGivesUpAfter65536ReadsAndWritesAnyway) {
  sim::MachineConfig cfg;
  cfg.ec.ibf_busy = 1'000'000'000'000;  // the controller never takes a byte
  sim::Machine m(cfg);
  sim::BoundedTrace trace(400'000);
  m.platform().set_trace(&trace);
  EFI_STATUS first = 0;
  auto outcome = m.run([&] {
    first = EcWaitInputEmpty(0x66);  // idle: succeeds at once
    EcSendCommand(0x59, 0x94);
    return EcWaitInputEmpty(0x66);
  });
  EXPECT_EQ(first, EFI_SUCCESS);
  EXPECT_EQ(outcome.status, EFI_DEVICE_ERROR);
  int status_reads = 0;
  for (const auto& a : trace.accesses()) {
    status_reads += (!a.write && a.address == 0x66) ? 1 : 0;
  }
  // 1 (idle) + 1 before the command byte + 2 full waits inside the command + 1 for the last call.
  EXPECT_EQ(status_reads, 1 + 1 + 65536 * 2 + 65536);
  ASSERT_EQ(m.ec().commands().size(), 1u);
  EXPECT_EQ(m.ec().commands()[0].data, 0x94);
}

TEST(BiosWriteEnable, TouchesOnlyBitZeroInBothDirections) {
  for (std::uint8_t initial : {std::uint8_t{0x00}, std::uint8_t{0x0C}, std::uint8_t{0x0A}}) {
    sim::MachineConfig cfg;
    cfg.ec.already_in_flash_mode = true;
    cfg.cmos_6e = 4;
    sim::Machine m(cfg);
    m.lpc().config_write(0xDC, sim::Width::Byte, initial);
    std::uint8_t after_enable = 0;
    m.run([&] {
      SetBiosWriteEnable(1);
      after_enable = m.lpc().bios_cntl();
      return SetBiosWriteEnable(0);
    });
    EXPECT_EQ(after_enable, initial | 1) << int(initial);
    EXPECT_EQ(m.lpc().bios_cntl(), initial) << int(initial);
  }
}

// The controller's input buffer on its bus face: a byte written while the previous one has not been
// taken (IBF set, about 50 us) is an overrun; a data byte with no command before it is stray.
TEST(SimEmbeddedController, InputBufferRefusesBytesWhileFull) {
  sim::Machine m;
  std::uint8_t full = 0, empty = 0;
  m.run([&] {
    IoWrite8(0x66, 0x59);
    full = IoRead8(0x66);
    IoWrite8(0x62, 0x94);  // the command byte is still in the buffer
    m.platform().advance(100'000);
    empty = IoRead8(0x66);
    IoWrite8(0x62, 0x77);  // no command pending: stray
    return EFI_SUCCESS;
  });
  EXPECT_EQ(full & 0x02, 0x02);
  EXPECT_EQ(empty & 0x02, 0x00);
  EXPECT_EQ(m.ec().overruns(), 1u);
  EXPECT_EQ(m.ec().stray_data(), 1u);
  ASSERT_EQ(m.ec().commands().size(), 1u);
  EXPECT_EQ(m.ec().commands()[0].data, 0x94);
}

}  // namespace
