// Detection: the boot BIOS straps choose the table, candidates are initialised and probed in
// table order, the first answer wins. Test-double families record every call they receive.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <functional>
#include <set>
#include <vector>

#include "flash/BootBiosDestination.h"
#include "flash/DeviceTables.h"
#include "flash/FlashDetect.h"
#include "sim/Machine.h"

namespace {

struct Call {
  char family;  // 'L' or 'S'
  char op;      // 'I' Init, 'P' Probe
  UINTN arg;    // Init: the context; Probe: the argument
  bool operator==(const Call&) const = default;
};

std::vector<Call> g_calls;
std::set<UINTN> g_answering;        // probe arguments that find their part
EFI_STATUS g_answer = EFI_SUCCESS;  // what an answering probe returns

template <char F>
EFI_STATUS rec_init(VOID* ctx) {
  g_calls.push_back({F, 'I', reinterpret_cast<UINTN>(ctx)});
  return EFI_DEVICE_ERROR;  // detection must not care
}
template <char F>
EFI_STATUS rec_probe(UINTN arg) {
  g_calls.push_back({F, 'P', arg});
  return g_answering.count(arg) ? g_answer : EFI_UNSUPPORTED;
}
// Detection calls only Init and Probe; a call through any other slot would crash the test.
template <char F>
constexpr FlashDeviceOps kRecordingOps = {rec_init<F>, rec_probe<F>, nullptr, nullptr, nullptr, nullptr};

class FlashDetect : public ::testing::Test {
 protected:
  FlashDetect() {
    g_calls.clear();
    g_answering.clear();
    g_answer = EFI_SUCCESS;
    // The real rows (ids, parameter blocks), bound to the recording families.
    for (UINT32 i = 0; i < lpc_.size(); i++) {
      lpc_[i] = LpcDeviceList[i];
      lpc_[i].Ops = &kRecordingOps<'L'>;
    }
    for (UINT32 i = 0; i < spi_.size(); i++) {
      spi_[i] = SpiDeviceList[i];
      spi_[i].Device.Ops = &kRecordingOps<'S'>;
    }
  }

  // Runs detection on a machine with the given straps; returns the status and the device.
  EFI_STATUS detect(std::uint8_t straps, const FlashDevice** device, std::uint32_t rcba = 0xFED1C000) {
    sim::MachineConfig config;
    config.boot_straps = straps;
    config.rcba = rcba;
    sim::Machine machine(config);
    EFI_STATUS status = 0xDEAD;
    *device = &lpc_[0];  // must be cleared on failure
    auto outcome = machine.run([&] {
      FlashDetectUseTables(lpc_.data(), lpc_.size(), spi_.data(), spi_.size());
      status = DetectFlashDevice(device, context_);
      return status;
    });
    EXPECT_EQ(outcome.kind, sim::OutcomeKind::Returned);
    return status;
  }

  std::vector<Call> walk(char family, int rows, const std::function<UINTN(int)>& probe_arg) {
    std::vector<Call> calls;
    for (int i = 0; i < rows; i++) {
      calls.push_back({family, 'I', reinterpret_cast<UINTN>(context_)});
      calls.push_back({family, 'P', probe_arg(i)});
    }
    return calls;
  }
  UINTN lpc_id(int i) const { return lpc_[i].Id; }
  UINTN spi_row(int i) const { return reinterpret_cast<UINTN>(&spi_[i]); }

  std::array<FlashDevice, 7> lpc_{};
  std::array<SpiFlashDevice, 21> spi_{};
  int context_object_ = 0;
  VOID* context_ = &context_object_;
};

TEST_F(FlashDetect, SpiStrapsProbeAll21RowsInOrderAndFindTheLast) {
  g_answering = {spi_row(20)};
  const FlashDevice* device = nullptr;
  EXPECT_EQ(detect(3, &device), EFI_SUCCESS);
  EXPECT_EQ(device, &spi_[20].Device);
  EXPECT_EQ(g_calls, walk('S', 21, [&](int i) { return spi_row(i); }));
  EXPECT_EQ(FlashDetectLastDevice(), device) << "the row the rehearsal reports";
}

TEST_F(FlashDetect, SpiStrapsWithNoAnswerNeverInitialiseAnLpcFamily) {
  const FlashDevice* device = nullptr;
  EXPECT_EQ(detect(3, &device), EFI_UNSUPPORTED);
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(g_calls, walk('S', 21, [&](int i) { return spi_row(i); }));
}

TEST_F(FlashDetect, LpcStrapsProbeWithTheIdAndTheFirstMatchWins) {
  g_answering = {lpc_id(2), lpc_id(4)};
  g_answer = 0x00000004;  // a warning is not a failure
  const FlashDevice* device = nullptr;
  EXPECT_EQ(detect(0, &device), EFI_SUCCESS);
  EXPECT_EQ(device, &lpc_[2]);
  EXPECT_EQ(FlashDetectLastDevice(), device);
  EXPECT_EQ(g_calls, walk('L', 3, [&](int i) { return lpc_id(i); }));
}

TEST_F(FlashDetect, LpcStrapsWithNoAnswerNeverWalkTheSpiTable) {
  g_answering = {spi_row(0)};  // an SPI part would answer, but the BIOS is on LPC
  const FlashDevice* device = nullptr;
  EXPECT_EQ(detect(0, &device), EFI_UNSUPPORTED);
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(g_calls, walk('L', 7, [&](int i) { return lpc_id(i); }));
}

TEST_F(FlashDetect, UnsupportedStrapsTouchNoFamily) {
  g_answering = {lpc_id(0), spi_row(0)};
  for (std::uint8_t straps : {1, 2}) {
    const FlashDevice* device = nullptr;
    EXPECT_EQ(detect(straps, &device), EFI_UNSUPPORTED);
    EXPECT_EQ(device, nullptr);
  }
  EXPECT_TRUE(g_calls.empty());
}

// GCS is found through RCBA as the chipset reports it; a fixed address would read nothing there
// (all ones: SPI straps) and walk the wrong table.
TEST_F(FlashDetect, StrapsAreReadThroughTheCurrentRcba) {
  const FlashDevice* device = nullptr;
  EXPECT_EQ(detect(0, &device, 0xFED20000), EFI_UNSUPPORTED);
  EXPECT_EQ(g_calls, walk('L', 7, [&](int i) { return lpc_id(i); }));
}

// Each predicate reads RCBA and GCS afresh, as 32-bit accesses; a null out-pointer touches nothing.
TEST(BootBiosDestination, ReadsStrapsAfreshWithTheirWidths) {
  sim::MachineConfig config;
  config.boot_straps = 2;
  sim::Machine machine(config);
  sim::BoundedTrace trace(16);
  machine.platform().set_trace(&trace);
  machine.run([] {
    const FlashDevice* device = nullptr;
    EXPECT_EQ(DetectFlashDevice(nullptr, nullptr), EFI_INVALID_PARAMETER);
    EXPECT_EQ(ReadBootBiosDestination(nullptr), EFI_INVALID_PARAMETER);
    EXPECT_EQ(DetectFlashDevice(&device, nullptr), EFI_UNSUPPORTED);
    return EFI_SUCCESS;
  });
  std::vector<std::string> seen;
  for (const auto& a : trace.accesses()) seen.push_back(sim::describe(a));
  UINT32 gcs = machine.chipset().gcs();
  char gcs_read[64];
  std::snprintf(gcs_read, sizeof gcs_read, "mem read 32 0xFED1F410 = 0x%08X", gcs);
  std::vector<std::string> expected = {"mem read 32 0xE00F80F0 = 0xFED1C001", gcs_read,
                                       "mem read 32 0xE00F80F0 = 0xFED1C001", gcs_read};
  EXPECT_EQ(seen, expected);
}

// A fresh module detects from the built-in tables again, and so does a null list.
TEST_F(FlashDetect, NullListsAndModuleResetRestoreTheBuiltInTables) {
  g_answering = {lpc_id(0)};
  sim::MachineConfig config;
  config.boot_straps = 0;
  sim::Machine machine(config);
  machine.platform().limits().max_accesses = 100000;  // whatever the built-in families do
  const FlashDevice* device = nullptr;
  machine.run([&] {
    FlashDetectUseTables(lpc_.data(), lpc_.size(), spi_.data(), spi_.size());
    FlashDetectUseTables(nullptr, 0, nullptr, 0);
    return DetectFlashDevice(&device, nullptr);
  });
  machine.run([&] {
    FlashDetectUseTables(lpc_.data(), lpc_.size(), spi_.data(), spi_.size());
    return EFI_SUCCESS;
  });
  machine.run([&] { return DetectFlashDevice(&device, nullptr); });
  EXPECT_TRUE(g_calls.empty());
}

}  // namespace
