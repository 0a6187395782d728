// The recovery sequence end to end on the simulated machine, against a recording flash family:
// what is erased and written from which capsule bytes, beeps, POST codes, and every failure path.
#include <gtest/gtest.h>

#include <tuple>

#include "pi/SpeakerPpi.h"
#include "recovery/RecoveryEntry.h"
#include "sim/Machine.h"
#include "sim/pei/PeiEnvironment.h"
#include "sim/pei/RecoveryPpiModel.h"
#include "sim/pei/SpeakerModel.h"
#include "tests/support/recovery_flash_double.h"

namespace sim {
namespace {

constexpr std::uint32_t kImageSize = 0x200000;
constexpr std::uint32_t kPreservedOffset = 0x170000;
constexpr std::uint32_t kPreservedSize = 0x10000;
constexpr std::size_t kChunks = 496;

const BeepRequest kHello{1, 200000, 20000}, kNoCapsule{3, 200000, 20000}, kNoMemory{5, 50000, 20000},
    kLoadFailed{1, 100000, 20000}, kTwoShort{2, 50000, 20000}, kNoPart{2, 200000, 20000},
    kProgramming{1, 100000, 100000}, kBlock{1, 100000, 20000}, kFlashFailed{3, 50000, 20000},
    kComplete{2, 200000, 20000};

// Bytes that differ from chunk to chunk and within a chunk, so a wrong source offset shows.
std::vector<std::uint8_t> capsule_image(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; i++) {
    bytes[i] = static_cast<std::uint8_t>(i + (i >> 12) * 7 + seed);
  }
  return bytes;
}

MachineConfig straps(std::uint8_t value) {
  MachineConfig c;
  c.boot_straps = value;
  return c;
}

struct Rig {
  explicit Rig(std::uint8_t boot_straps = 0) : machine(straps(boot_straps)), flash(machine) {}
  Outcome run(bool use_double = true) {
    return machine.run([&] {
      if (use_double) {
        flash.install();
      }
      return RecoveryEntry(nullptr, pei.services());
    });
  }
  std::vector<BeepRequest> beeps() {
    return pei.speaker() ? pei.speaker()->beeps() : std::vector<BeepRequest>{};
  }
  bool flash_open() { return machine.lpc().bios_write_enabled() && machine.ec().in_flash_mode(); }

  Machine machine;
  PeiEnvironment pei;
  RecordingFlash flash;
};

// Checks a complete update from `capsule`: the requests, their source bytes, the window, the
// progress counter, and the closing of the flash.
void expect_complete_update(Rig& rig, const Outcome& outcome, const std::vector<std::uint8_t>& capsule) {
  EXPECT_EQ(outcome.to_string(), "final-spin");
  ASSERT_EQ(rig.pei.allocations().size(), 1u);
  const auto* buffer = reinterpret_cast<const std::uint8_t*>(rig.pei.allocations()[0].address);

  using Row = std::tuple<FlashRequest::Kind, std::uint32_t, std::uint32_t, std::uint32_t, std::ptrdiff_t>;
  std::vector<Row> expected, actual;
  for (std::uint32_t offset = 0; offset < kImageSize; offset += 0x1000) {
    if (offset >= kPreservedOffset && offset < kPreservedOffset + kPreservedSize) {
      continue;
    }
    std::uint32_t target = RecordingFlash::kWindowBase + offset;
    expected.emplace_back(FlashRequest::Kind::Erase, target, 0x1000, 0, 0);
    expected.emplace_back(FlashRequest::Kind::Write, target, 0x1000, target, offset);
  }
  std::size_t closed = 0, hurried = 0;
  Nanos previous = 0;
  for (const FlashRequest& r : rig.flash.requests()) {
    actual.emplace_back(r.kind, r.address, r.length, r.block_base, r.source ? r.source - buffer : 0);
    closed += r.flash_open ? 0 : 1;
    hurried += r.time - previous < 2'000'000 ? 1 : 0;  // each erase and write follows a 2 ms stall
    previous = r.time;
  }
  EXPECT_EQ(actual.size(), 2 * kChunks);
  EXPECT_EQ(actual, expected);
  EXPECT_EQ(closed, 0u);
  EXPECT_EQ(hurried, 0u);

  std::vector<std::uint8_t> window(capsule.begin(), capsule.begin() + kImageSize);
  std::fill_n(window.begin() + kPreservedOffset, kPreservedSize, RecordingFlash::kInitialFill);
  EXPECT_TRUE(rig.flash.window() == window);

  std::vector<std::uint8_t> counter;
  for (std::size_t i = 0; i < kChunks; i++) {
    counter.push_back(static_cast<std::uint8_t>(i));  // 0-255, then 0-239
  }
  EXPECT_EQ(rig.machine.post().codes(), counter);

  const auto& commands = rig.machine.ec().commands();
  ASSERT_GE(commands.size(), 2u);
  EXPECT_EQ(commands[commands.size() - 2].data, 0x95);  // flash mode left before the final command
  EXPECT_EQ(commands.back().command, 0x59);
  EXPECT_EQ(commands.back().data, 0xF6);
  EXPECT_FALSE(rig.machine.lpc().bios_write_enabled());
  EXPECT_FALSE(rig.machine.ec().in_flash_mode());
  EXPECT_TRUE(rig.pei.misuses().empty());
}

TEST(RecoveryEntry, CompleteUpdateSkipsThePreservedBlockAndEndsInTheFinalSpin) {
  Rig rig;
  rig.pei.install_speaker();
  auto capsule = capsule_image(kImageSize, 1);
  rig.pei.install_recovery_ppi().add_capsule(capsule);
  expect_complete_update(rig, rig.run(), capsule);

  std::vector<BeepRequest> beeps = {kHello, kProgramming};
  // Every 64 KiB boundary but 0xFFF80000, reached by the skip rather than by a step.
  beeps.insert(beeps.end(), 31, kBlock);
  beeps.push_back(kComplete);
  EXPECT_EQ(rig.beeps(), beeps);
  EXPECT_EQ(rig.pei.speaker()->frequencies(), std::vector<std::uint16_t>{1000});
  EXPECT_EQ(rig.pei.speaker()->beep_frequencies().front(), 1000);
  ASSERT_EQ(rig.pei.count("AllocatePages"), 1u);
  EXPECT_EQ(rig.pei.allocations()[0].memory_type, 3u);
  EXPECT_EQ(rig.pei.allocations()[0].bytes, kImageSize);
}

TEST(RecoveryEntry, WithoutSpeakerRunsSilentlyButOtherwiseTheSame) {
  // No speaker PPI at all, or one whose LocatePpi succeeds but hands back a null interface.
  for (bool null_interface : {false, true}) {
    SCOPED_TRACE(null_interface ? "null interface" : "no speaker PPI");
    Rig rig;
    if (null_interface) {
      rig.pei.install_ppi(gPeiSpeakerInterfacePpiGuid, nullptr);
    }
    auto capsule = capsule_image(kImageSize, 2);
    rig.pei.install_recovery_ppi().add_capsule(capsule);
    expect_complete_update(rig, rig.run(), capsule);
    ASSERT_FALSE(rig.pei.calls().empty());
    EXPECT_EQ(rig.pei.calls().front().status,
              null_interface ? EFI_SUCCESS : EFI_NOT_FOUND);  // the speaker search
  }
}

TEST(RecoveryEntry, CapsuleLargerThanTheWindowIsAcceptedAndOnlyItsFirst2MiBUsed) {
  Rig rig;
  auto capsule = capsule_image(kImageSize + 0x1001, 3);
  rig.pei.install_recovery_ppi().add_capsule(capsule);
  expect_complete_update(rig, rig.run(), capsule);
  EXPECT_EQ(rig.pei.allocations()[0].bytes, 0x202000u);  // pages rounded up
}

TEST(RecoveryEntry, InstancesWithoutCapsulesOrWithAFailedCountArePassedOver) {
  Rig rig;
  auto unwanted = capsule_image(kImageSize, 4), wanted = capsule_image(kImageSize, 5);
  rig.pei.install_recovery_ppi();  // no capsules
  RecoveryPpiModel& failing = rig.pei.install_recovery_ppi();
  failing.add_capsule(unwanted);
  failing.fail(RecoveryOp::GetNumberRecoveryCapsules, EFI_DEVICE_ERROR);
  failing.set_count_on_failure(1);  // a failed query's count is not to be believed
  rig.pei.install_recovery_ppi().add_capsule(wanted);
  expect_complete_update(rig, rig.run(), wanted);

  std::vector<std::pair<std::string, int>> ppi_calls;
  for (const PeiCall& c : rig.pei.calls()) {
    if (c.ppi >= 0) {
      ppi_calls.emplace_back(c.name, c.ppi);
    }
  }
  EXPECT_EQ(ppi_calls, (std::vector<std::pair<std::string, int>>{
                           {"GetNumberRecoveryCapsules", 0},
                           {"GetNumberRecoveryCapsules", 1},
                           {"GetNumberRecoveryCapsules", 2},
                           {"GetRecoveryCapsuleInfo",    2},
                           {"LoadRecoveryCapsule",       2}
  }));
}

TEST(RecoveryEntry, NoInstanceWithACapsuleReturnsTheFailedSearch) {
  Rig rig;
  rig.pei.install_speaker();
  rig.pei.install_recovery_ppi();
  rig.pei.install_recovery_ppi().fail(RecoveryOp::GetNumberRecoveryCapsules, EFI_DEVICE_ERROR);
  EXPECT_EQ(rig.run().to_string(), "returned(0x8000000E)");
  std::vector<std::uint64_t> instances;
  for (const PeiCall& c : rig.pei.calls()) {
    if (c.name == "LocatePpi" && c.guid.Data1 == gEfiPeiDeviceRecoveryModulePpiGuid.Data1) {
      instances.push_back(c.args[0]);
    }
  }
  EXPECT_EQ(instances, (std::vector<std::uint64_t>{0, 1, 2}));
  EXPECT_EQ(rig.beeps(), (std::vector<BeepRequest>{kHello, kNoCapsule}));
}

// A capsule shorter than the window would be read past its end: it is refused before anything is
// allocated, loaded or opened. Size 0 (which would have asked for 0x100000 pages) and, on the
// host, a size that does not fit in 32 bits are refused the same way.
TEST(RecoveryEntry, CapsuleSmallerThanTheWindowIsRefusedBeforeAnyAllocation) {
  for (std::uint64_t reported :
       {std::uint64_t{kImageSize - 1}, std::uint64_t{0}, std::uint64_t{0x100200000}}) {
    SCOPED_TRACE(reported);
    Rig rig;
    rig.pei.install_speaker();
    rig.pei.install_recovery_ppi().add_capsule(capsule_image(kImageSize - 1, 6), reported);
    EXPECT_EQ(rig.run().to_string(), "returned(0x80000004)");
    EXPECT_EQ(rig.beeps(), (std::vector<BeepRequest>{kHello, kNoCapsule}));
    EXPECT_EQ(rig.pei.count("AllocatePages"), 0u);
    EXPECT_EQ(rig.pei.count("LoadRecoveryCapsule"), 0u);
    EXPECT_EQ(rig.flash.probes(), 0);
    EXPECT_TRUE(rig.flash.requests().empty());
    EXPECT_TRUE(rig.machine.ec().commands().empty());
    EXPECT_EQ(rig.machine.lpc().bios_cntl_writes(), 0u);
  }
}

std::vector<BeepRequest> programming_beeps(std::size_t blocks, BeepRequest last) {
  std::vector<BeepRequest> b = {kProgramming};
  b.insert(b.end(), blocks, kBlock);
  b.push_back(last);
  return b;
}

// The page count is worked out in 32 bits as ((size - 1) >> 12) + 1: a size just below 4 GiB asks
// for all 0x100000 pages rather than wrapping to none.
TEST(RecoveryEntry, PageCountForACapsuleSizeNear4GiB) {
  for (auto [reported, pages] : {
           std::pair<std::uint64_t, std::uint64_t>{0xFFFFFFFF, 0x100000},
           {0xFFFFF001, 0x100000},
           {0xFFFFF000, 0xFFFFF }
  }) {
    SCOPED_TRACE(reported);
    Rig rig;
    rig.pei.install_speaker();
    rig.pei.install_recovery_ppi().add_capsule(capsule_image(kImageSize, 8), reported);
    EXPECT_EQ(rig.run().to_string(), "returned(0x80000009)");  // more than the environment holds
    EXPECT_EQ(rig.beeps(), (std::vector<BeepRequest>{kHello, kNoMemory}));
    ASSERT_EQ(rig.pei.count("AllocatePages"), 1u);
    for (const PeiCall& call : rig.pei.calls()) {
      if (call.name == "AllocatePages") {
        EXPECT_EQ(call.args, (std::vector<std::uint64_t>{3, pages}));
      }
    }
  }
}

// The 64 KiB boundary beep is decided before the preserved block is skipped: the iteration whose
// target is 0xFFF70000 beeps once and programs 0xFFF80000, which gets no beep of its own; the
// beeps go on at 0xFFF90000. Counted as the block beeps heard before a failed erase at chunk n.
TEST(RecoveryEntry, BoundaryBeepsAroundThePreservedBlock) {
  // Chunk 367 is 0xFFF6F000, 368 is 0xFFF80000 (after the skip), 384 is 0xFFF90000.
  for (auto [chunk, blocks] : {
           std::pair<std::size_t, std::size_t>{367, 23},
            {368, 24},
            {383, 24},
            {384, 25}
  }) {
    SCOPED_TRACE(chunk);
    Rig rig;
    rig.pei.install_speaker();
    rig.pei.install_recovery_ppi().add_capsule(capsule_image(kImageSize, 9));
    rig.flash.fail_erase_at(chunk, EFI_DEVICE_ERROR);
    EXPECT_EQ(rig.run().to_string(), "returned(0x80000007)");
    std::vector<BeepRequest> beeps = {kHello};
    auto programming = programming_beeps(blocks, kFlashFailed);
    beeps.insert(beeps.end(), programming.begin(), programming.end());
    EXPECT_EQ(rig.beeps(), beeps);
    EXPECT_EQ(rig.flash.of_kind(FlashRequest::Kind::Erase).back().address,
              chunk < 368 ? 0xFFE00000 + chunk * 0x1000 : 0xFFF80000 + (chunk - 368) * 0x1000);
  }
}

struct FailureCase {
  const char* name;
  std::function<void(Rig&)> inject;  // null: no recovery PPI is installed at all
  EFI_STATUS status;
  std::vector<BeepRequest> beeps;  // after the greeting
  bool flash_opened;
  std::size_t chunks_started;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class RecoveryEntryFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(RecoveryEntryFailure, BeepsReturnsTheStatusAndLeavesTheFlashAsTheStepLeftIt) {
  const FailureCase& c = GetParam();
  Rig rig;
  rig.pei.install_speaker();
  if (c.inject) {
    rig.pei.install_recovery_ppi().add_capsule(capsule_image(kImageSize, 7));
    c.inject(rig);
  }
  Outcome outcome = rig.run();

  EXPECT_EQ(outcome.kind, OutcomeKind::Returned);
  EXPECT_EQ(outcome.status, c.status);
  std::vector<BeepRequest> beeps = {kHello};
  beeps.insert(beeps.end(), c.beeps.begin(), c.beeps.end());
  EXPECT_EQ(rig.beeps(), beeps);
  // Once opened, the flash stays open on failure; before that the platform is not touched.
  EXPECT_EQ(rig.flash_open(), c.flash_opened);
  EXPECT_EQ(rig.machine.ec().commands().empty(), !c.flash_opened);
  std::size_t erases = rig.flash.of_kind(FlashRequest::Kind::Erase).size();
  EXPECT_EQ(erases, c.chunks_started);
  EXPECT_EQ(rig.machine.post().codes().size(), c.chunks_started);
}

FailureCase failing(const char* name, std::function<void(Rig&)> inject, EFI_STATUS status,
                    std::vector<BeepRequest> beeps, bool flash_opened = false,
                    std::size_t chunks_started = 0) {
  return FailureCase{name, std::move(inject), status, std::move(beeps), flash_opened, chunks_started};
}

INSTANTIATE_TEST_SUITE_P(
    RecoveryEntry, RecoveryEntryFailure,
    ::testing::Values(
        failing("NoRecoveryPpi", nullptr, EFI_NOT_FOUND, {kNoCapsule}),
        failing("InfoFails",
                [](Rig& r) {
                  r.pei.recovery_ppi(0).fail(RecoveryOp::GetRecoveryCapsuleInfo, EFI_DEVICE_ERROR);
                },
                EFI_DEVICE_ERROR, {kNoCapsule}),
        failing("AllocateFails", [](Rig& r) { r.pei.fail_allocate_pages(EFI_OUT_OF_RESOURCES); },
                EFI_OUT_OF_RESOURCES, {kNoMemory}),
        failing("LoadFails",
                [](Rig& r) { r.pei.recovery_ppi(0).fail(RecoveryOp::LoadRecoveryCapsule, EFI_LOAD_ERROR); },
                EFI_LOAD_ERROR, {kLoadFailed, kTwoShort}),
        failing(
            "DetectionFails", [](Rig& r) { r.flash.set_probe_status(EFI_UNSUPPORTED); }, EFI_UNSUPPORTED,
            {kNoPart, kTwoShort}, true),
        failing(
            "FirstEraseFails", [](Rig& r) { r.flash.fail_erase_at(0, EFI_INVALID_PARAMETER); },
            EFI_INVALID_PARAMETER, programming_beeps(1, kFlashFailed), true, 1),
        // Chunk 368 is the one at 0xFFF80000, right after the preserved block.
        failing(
            "WriteAfterThePreservedBlockFails", [](Rig& r) { r.flash.fail_write_at(368, EFI_DEVICE_ERROR); },
            EFI_DEVICE_ERROR, programming_beeps(24, kFlashFailed), true, 369)),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// No test double: detection walks the real tables. Unsupported straps select no table; LPC straps
// on a machine with no LPC part find nothing.
TEST(RecoveryEntry, RealTablesWithoutAMatchingPartEndAsUnsupported) {
  for (std::uint8_t boot_straps : {1, 0}) {
    SCOPED_TRACE(boot_straps);
    Rig rig(boot_straps);
    rig.pei.install_speaker();
    rig.pei.install_recovery_ppi().add_capsule(capsule_image(kImageSize, 8));
    EXPECT_EQ(rig.run(false).to_string(), "returned(0x80000003)");
    EXPECT_EQ(rig.beeps(), (std::vector<BeepRequest>{kHello, kNoPart, kTwoShort}));
  }
}

}  // namespace
}  // namespace sim
