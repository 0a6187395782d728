// The embedded-controller dialogue and the BIOS write enable, as the simulated platform sees them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>

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

// Every access of entering and leaving flash mode on the ACPI channel, in order, with its width and
// value. Only polls fold (a repeated group marked "repeated"): status reads while the input buffer
// is full, the flash-mode register read until it changes, and PM timer reads (their value is the
// clock, left out). Anything else extra, missing or reordered fails.
class PollFoldingRecorder : public sim::TraceSink {
 public:
  void record(const sim::Access& a) override {
    bool timer = !a.write && a.address == 0x408;
    lines.push_back(timer ? "io read 32 0x0408" : sim::describe(a));
    if (timer || (!a.write && a.address == 0x66)) fold(1);
    if (!a.write && a.address == 0xFF2F) fold(3);  // index high, index low, data read
  }
  std::vector<std::string> lines;

 private:
  static constexpr const char* kRepeated = "repeated";
  // Folds the last `n` lines into the same group just before them (or before its mark).
  void fold(std::size_t n) {
    std::size_t group = lines.size() - n;
    bool marked = group >= 1 && lines[group - 1] == kRepeated;
    std::size_t before = marked ? group - 1 : group;
    if (before < n || !std::equal(lines.begin() + group, lines.end(), lines.begin() + (before - n))) return;
    lines.resize(group);
    if (!marked) lines.push_back(kRepeated);
  }
};

TEST(EcHandshake, CompleteAccessSequenceOfEnteringAndLeavingOnTheAcpiChannel) {
  sim::MachineConfig cfg;
  cfg.pm1_cnt_low = 0x01;  // SCI enabled: the exit keys are written
  sim::Machine m(cfg);
  PollFoldingRecorder recorder;
  m.platform().set_trace(&recorder);
  auto outcome = m.run([] {
    EcFlashHandshake(1);
    return EcFlashHandshake(0);
  });
  m.platform().set_trace(nullptr);
  ASSERT_EQ(outcome.kind, sim::OutcomeKind::Returned);
  // Written from the port rules: a command byte to 0x66 and its data byte to 0x62, each only once
  // the input buffer is empty (status bit 1; bit 3 says the last byte was a command); a register
  // through its index high, index low and data ports; the channel from CMOS 0x6E before each
  // command; the SCI enable from PM1_CNT at PMBASE.
  std::vector<std::string> expected;
  auto add = [&](std::initializer_list<std::string> lines) { expected.insert(expected.end(), lines); };
  auto hex2 = [](unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "0x%02X", v);
    return std::string(b);
  };
  auto channel = [&] { add({"io write 8 0x0070 = 0x6E", "io read 8 0x0071 = 0x00"}); };
  auto command = [&](unsigned data) {
    channel();
    add({"io read 8 0x0066 = 0x00", "io write 8 0x0066 = 0x59", "io read 8 0x0066 = 0x0A", "repeated",
         "io read 8 0x0066 = 0x08", "io write 8 0x0062 = " + hex2(data), "io read 8 0x0066 = 0x02",
         "repeated", "io read 8 0x0066 = 0x00"});
  };
  auto reg = [&](unsigned address, const char* access, unsigned value) {
    add({"io write 8 0xFF2D = " + hex2(address >> 8), "io write 8 0xFF2E = " + hex2(address & 0xFF),
         std::string("io ") + access + " 8 0xFF2F = " + hex2(value)});
  };
  auto stall = [&] { add({"io read 32 0x0408", "repeated"}); };
  // Entering: two preparation commands and 3 s, the request, the report awaited, the control bit.
  channel();
  command(0x94);
  command(0x77);
  stall();
  reg(0xF554, "read", 0x00);
  command(0xF2);
  reg(0xF554, "read", 0x00);
  add({"repeated"});
  reg(0xF554, "read", 0xA5);
  reg(0xFF14, "read", 0x00);
  reg(0xFF14, "write", 0x01);
  stall();
  // Leaving: the control bit, the report awaited, the preparation and 1 s, the exit keys (SCI
  // enabled), the leave command.
  reg(0xFF14, "read", 0x01);
  reg(0xFF14, "write", 0x00);
  reg(0xF554, "read", 0xA5);
  add({"repeated"});
  reg(0xF554, "read", 0x00);
  channel();
  command(0x76);
  stall();
  add({"mem read 16 0xE00F8040 = 0x0401", "io read 8 0x0404 = 0x01"});
  reg(0xFBF1, "write", 0x5A);
  reg(0xFBF2, "write", 0xA5);
  command(0x95);
  EXPECT_EQ(recorder.lines, expected);
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

// The flash-mode register is the controller's report: a host write through the register window is
// ignored and counted, so a module cannot fake the mode it waits for.
TEST(SimEmbeddedController, FlashModeRegisterIsReadOnlyToTheHost) {
  sim::Machine m;
  std::uint8_t after = 0;
  m.run([&] {
    EcWriteRegister(0xF554, 0xA5);
    after = EcReadRegister(0xF554);
    return EFI_SUCCESS;
  });
  EXPECT_EQ(after, 0x00);
  EXPECT_FALSE(m.ec().in_flash_mode());
  EXPECT_EQ(m.ec().read_only_writes(), 1u);
}

}  // namespace
