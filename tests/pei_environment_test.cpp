// The simulated PEI environment: PPI database, allocation below 4 GiB, misuse detection, and the
// recovery and speaker PPI models as a module sees them through their function pointers.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include "pi/DeviceRecoveryPpi.h"
#include "pi/SpeakerPpi.h"
#include "sim/Platform.h"
#include "sim/pei/PeiEnvironment.h"
#include "sim/pei/RecoveryPpiModel.h"
#include "sim/pei/SpeakerModel.h"

namespace sim {
namespace {

constexpr EFI_GUID kOtherGuid = {
    0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}
};

EFI_STATUS locate(PeiEnvironment& pei, const EFI_GUID& guid, UINTN instance, VOID** ppi,
                  EFI_PEI_PPI_DESCRIPTOR** descriptor = nullptr) {
  return (*pei.services())->LocatePpi(pei.services(), &guid, instance, descriptor, ppi);
}

TEST(PeiEnvironment, LocatePpiNumbersInstancesPerGuidInInstallOrder) {
  PeiEnvironment pei;
  int a = 0, b = 0, other = 0;
  pei.install_ppi(gEfiPeiDeviceRecoveryModulePpiGuid, &a);
  pei.install_ppi(kOtherGuid, &other);
  pei.install_ppi(gEfiPeiDeviceRecoveryModulePpiGuid, &b);

  VOID* ppi = nullptr;
  EFI_PEI_PPI_DESCRIPTOR* descriptor = nullptr;
  EXPECT_EQ(locate(pei, gEfiPeiDeviceRecoveryModulePpiGuid, 1, &ppi, &descriptor), EFI_SUCCESS);
  EXPECT_EQ(ppi, &b);
  ASSERT_NE(descriptor, nullptr);
  EXPECT_EQ(descriptor->Ppi, &b);
  EXPECT_EQ(descriptor->Guid->Data1, gEfiPeiDeviceRecoveryModulePpiGuid.Data1);
  EXPECT_EQ(locate(pei, kOtherGuid, 0, &ppi), EFI_SUCCESS);
  EXPECT_EQ(ppi, &other);
  EXPECT_EQ(locate(pei, gEfiPeiDeviceRecoveryModulePpiGuid, 2, &ppi), EFI_NOT_FOUND);
  EXPECT_EQ(locate(pei, gPeiSpeakerInterfacePpiGuid, 0, &ppi), EFI_NOT_FOUND);

  ASSERT_EQ(pei.count("LocatePpi"), 4u);
  EXPECT_EQ(pei.calls()[2].args[0], 2u);
  EXPECT_EQ(pei.calls()[2].status, EFI_NOT_FOUND);
}

TEST(PeiEnvironment, AllocationsLieBelow4GiBAndAbsurdSizesAreRefused) {
  PeiEnvironment pei;
  const EFI_PEI_SERVICES** s = pei.services();
  EFI_PHYSICAL_ADDRESS address = 0;
  ASSERT_EQ((*s)->AllocatePages(s, EfiBootServicesCode, 0x200, &address), EFI_SUCCESS);
  EXPECT_LE(address + 0x200000, std::uint64_t{1} << 32);
  EXPECT_EQ(address % 4096, 0u);
  auto* bytes =
      reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(static_cast<std::uint32_t>(address)));
  bytes[0x1FFFFF] = 1;  // the whole range is usable through the 32-bit pointer

  EXPECT_EQ((*s)->AllocatePages(s, EfiBootServicesCode, 0x100000, &address), EFI_OUT_OF_RESOURCES);  // 4 GiB
  EXPECT_EQ((*s)->AllocatePages(s, EfiBootServicesCode, ~UINTN{0}, &address), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ((*s)->AllocatePages(s, EfiConventionalMemory, 1, &address), EFI_INVALID_PARAMETER);
  pei.fail_allocate_pages(EFI_DEVICE_ERROR);
  EXPECT_EQ((*s)->AllocatePages(s, EfiBootServicesCode, 1, &address), EFI_DEVICE_ERROR);

  VOID* pool = nullptr;
  ASSERT_EQ((*s)->AllocatePool(s, 24, &pool), EFI_SUCCESS);
  EXPECT_LT(reinterpret_cast<std::uintptr_t>(pool), std::uintptr_t{1} << 32);
  EXPECT_EQ((*s)->AllocatePool(s, PeiEnvironment::kMaxPoolAllocation + 1, &pool), EFI_OUT_OF_RESOURCES);

  ASSERT_EQ(pei.allocations().size(), 2u);
  EXPECT_EQ(pei.allocations()[0].memory_type, 3u);
  EXPECT_FALSE(pei.allocations()[1].pages);
  EXPECT_EQ(pei.count("AllocatePages"), 5u);
}

TEST(PeiEnvironment, MisuseEndsTheRunAndIsRecorded) {
  PeiEnvironment pei;
  RecoveryPpiModel& model = pei.install_recovery_ppi();
  Platform platform;
  Outcome unprovided = platform.run([&] { return (*pei.services())->InstallPpi(); });
  EXPECT_EQ(unprovided.to_string(), "hang(PEI service InstallPpi is not provided)");

  EFI_PEI_DEVICE_RECOVERY_MODULE_PPI stranger = *model.ppi();  // same functions, wrong This
  UINTN count = 0;
  Outcome foreign = platform.run([&] {
    return model.ppi()->GetNumberRecoveryCapsules(const_cast<EFI_PEI_SERVICES**>(pei.services()), &stranger,
                                                  &count);
  });
  EXPECT_EQ(foreign.kind, OutcomeKind::Hang);
  EXPECT_EQ(pei.misuses().size(), 2u);
}

TEST(PeiRecoveryPpi, ServesCapsulesFromBytesAndFilesWithInjectedFailures) {
  PeiEnvironment pei;
  RecoveryPpiModel& model = pei.install_recovery_ppi();
  std::string path = ::testing::TempDir() + "pei_capsule.bin";
  std::ofstream(path, std::ios::binary) << "capsule-from-file";
  model.add_capsule_file(path);
  std::remove(path.c_str());
  model.add_capsule({1, 2, 3, 4, 5, 6}, 4);  // reports fewer bytes than it holds
  EXPECT_THROW(model.add_capsule_file(path), std::runtime_error);

  auto** s = const_cast<EFI_PEI_SERVICES**>(pei.services());
  EFI_PEI_DEVICE_RECOVERY_MODULE_PPI* ppi = model.ppi();
  UINTN count = 0, size = 0;
  EFI_GUID type{};
  EXPECT_EQ(ppi->GetNumberRecoveryCapsules(s, ppi, &count), EFI_SUCCESS);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(ppi->GetRecoveryCapsuleInfo(s, ppi, 0, &size, &type), EFI_SUCCESS);
  EXPECT_EQ(size, 17u);
  EXPECT_EQ(type.Data1, RecoveryPpiModel::kDefaultCapsuleType.Data1);
  char text[18] = {};
  EXPECT_EQ(ppi->LoadRecoveryCapsule(s, ppi, 0, text), EFI_SUCCESS);
  EXPECT_STREQ(text, "capsule-from-file");
  std::uint8_t buffer[6] = {};
  EXPECT_EQ(ppi->LoadRecoveryCapsule(s, ppi, 1, buffer), EFI_SUCCESS);
  EXPECT_EQ(buffer[3], 4);
  EXPECT_EQ(buffer[4], 0);  // never beyond the size the caller was told
  EXPECT_EQ(ppi->GetRecoveryCapsuleInfo(s, ppi, 2, &size, &type), EFI_NOT_FOUND);

  model.fail(RecoveryOp::GetNumberRecoveryCapsules, EFI_DEVICE_ERROR);
  model.fail(RecoveryOp::LoadRecoveryCapsule, EFI_NOT_READY);
  count = 9;
  EXPECT_EQ(ppi->GetNumberRecoveryCapsules(s, ppi, &count), EFI_DEVICE_ERROR);
  EXPECT_EQ(count, 9u);  // left alone unless told otherwise
  EXPECT_EQ(ppi->LoadRecoveryCapsule(s, ppi, 0, text), EFI_NOT_READY);
  EXPECT_EQ(pei.calls().back().ppi, 0);
  EXPECT_EQ(pei.calls().back().status, EFI_NOT_READY);
}

TEST(PeiSpeaker, RecordsBeepsInOrderAndLetsTheClockRunWhileTheySound) {
  PeiEnvironment pei;
  SpeakerModel& speaker = pei.install_speaker();
  VOID* found = nullptr;
  ASSERT_EQ(locate(pei, gPeiSpeakerInterfacePpiGuid, 0, &found), EFI_SUCCESS);
  auto* ppi = static_cast<PEI_SPEAKER_IF_PPI*>(found);
  auto** s = const_cast<EFI_PEI_SERVICES**>(pei.services());
  Platform platform;
  platform.run([&] {
    ppi->SetFrequency(s, 1000);
    ppi->Beep(s, 3, 200000, 20000);
    ppi->Beep(s, 1, 100000, 100000);
    return EFI_SUCCESS;
  });
  EXPECT_EQ(speaker.beeps(), (std::vector<BeepRequest>{
                                 {3, 200000, 20000 },
                                 {1, 100000, 100000}
  }));
  EXPECT_EQ(speaker.beep_frequencies(), (std::vector<std::uint16_t>{1000, 1000}));
  EXPECT_EQ(platform.now(), (3 * 220000 + 200000) * Nanos{1000});
}

// The argument checks of the services and PPIs the module calls: each refuses a missing output
// pointer (or an impossible request) with EFI_INVALID_PARAMETER, writes nothing and records it.
struct ArgumentCheck {
  const char* name;
  std::function<EFI_STATUS(const EFI_PEI_SERVICES**, EFI_PEI_DEVICE_RECOVERY_MODULE_PPI*)> call;
};

void PrintTo(const ArgumentCheck& c, std::ostream* os) { *os << c.name; }

class PeiArgumentChecks : public testing::TestWithParam<ArgumentCheck> {};

TEST_P(PeiArgumentChecks, RefuseWithInvalidParameter) {
  PeiEnvironment pei;
  RecoveryPpiModel& model = pei.install_recovery_ppi();
  model.add_capsule({1, 2, 3}, 3);
  EXPECT_EQ(GetParam().call(pei.services(), model.ppi()), EFI_INVALID_PARAMETER);
  ASSERT_EQ(pei.calls().size(), 1u);
  EXPECT_EQ(pei.calls()[0].status, EFI_INVALID_PARAMETER);
  EXPECT_TRUE(pei.allocations().empty());
}

using Services = const EFI_PEI_SERVICES**;
using RecoveryPpi = EFI_PEI_DEVICE_RECOVERY_MODULE_PPI*;
EFI_PHYSICAL_ADDRESS gAddress;
VOID* gPointer;
UINTN gNumber;
EFI_GUID gType;
EFI_PEI_SERVICES** mutable_services(Services s) { return const_cast<EFI_PEI_SERVICES**>(s); }

INSTANTIATE_TEST_SUITE_P(
    Services, PeiArgumentChecks,
    testing::Values(
        ArgumentCheck{
            "LocatePpiWithoutGuid",
            [](Services s, RecoveryPpi) { return (*s)->LocatePpi(s, nullptr, 0, nullptr, &gPointer); }},
        ArgumentCheck{"LocatePpiWithoutResult",
                      [](Services s, RecoveryPpi) {
                        return (*s)->LocatePpi(s, &gEfiPeiDeviceRecoveryModulePpiGuid, 0, nullptr, nullptr);
                      }},
        ArgumentCheck{
            "AllocatePagesWithoutResult",
            [](Services s, RecoveryPpi) { return (*s)->AllocatePages(s, EfiBootServicesCode, 1, nullptr); }},
        ArgumentCheck{"AllocateZeroPages",
                      [](Services s, RecoveryPpi) {
                        return (*s)->AllocatePages(s, EfiBootServicesCode, 0, &gAddress);
                      }},
        ArgumentCheck{"AllocatePagesOfConventionalMemory",
                      [](Services s, RecoveryPpi) {
                        return (*s)->AllocatePages(s, EfiConventionalMemory, 1, &gAddress);
                      }},
        ArgumentCheck{"AllocatePoolWithoutResult",
                      [](Services s, RecoveryPpi) { return (*s)->AllocatePool(s, 16, nullptr); }},
        ArgumentCheck{"CapsuleCountWithoutResult",
                      [](Services s, RecoveryPpi p) {
                        return p->GetNumberRecoveryCapsules(mutable_services(s), p, nullptr);
                      }},
        ArgumentCheck{"CapsuleInfoWithoutSize",
                      [](Services s, RecoveryPpi p) {
                        return p->GetRecoveryCapsuleInfo(mutable_services(s), p, 0, nullptr, &gType);
                      }},
        ArgumentCheck{"CapsuleInfoWithoutType",
                      [](Services s, RecoveryPpi p) {
                        return p->GetRecoveryCapsuleInfo(mutable_services(s), p, 0, &gNumber, nullptr);
                      }},
        ArgumentCheck{"LoadCapsuleWithoutBuffer",
                      [](Services s, RecoveryPpi p) {
                        return p->LoadRecoveryCapsule(mutable_services(s), p, 0, nullptr);
                      }}),
    [](const testing::TestParamInfo<ArgumentCheck>& info) { return std::string(info.param.name); });

// The speaker is found through the services pointer: a call from an environment that installed
// none is a misuse that ends the run, as is any call with a pointer that is no services table.
TEST(PeiSpeaker, CallsWithoutASpeakerEndTheRunAsAMisuse) {
  PeiEnvironment with_speaker, without;
  PEI_SPEAKER_IF_PPI* ppi = with_speaker.install_speaker().ppi();
  auto** s = const_cast<EFI_PEI_SERVICES**>(without.services());
  Platform platform;
  EXPECT_EQ(platform.run([&] { return ppi->SetFrequency(s, 1000); }).kind, OutcomeKind::Hang);
  EXPECT_EQ(platform.run([&] { return ppi->Beep(s, 1, 1000, 1000); }).kind, OutcomeKind::Hang);
  EFI_PEI_SERVICES* table = *s;
  Outcome stray = platform.run([&] { return ppi->Beep(&table, 1, 1000, 1000); });
  EXPECT_EQ(stray.kind, OutcomeKind::Hang);
  EXPECT_EQ(without.misuses().size(), 2u);
  EXPECT_TRUE(with_speaker.speaker()->beeps().empty());
  EXPECT_EQ(platform.now(), 0u);
}

}  // namespace
}  // namespace sim
