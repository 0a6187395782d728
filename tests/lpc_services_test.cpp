// The LPC families' allocation and pointer conversion: the module pool, allocation contexts that
// fail in each way they can, what a family without its command block may and may not do, and
// the conversion of the blocks for virtual addressing.
#include <gtest/gtest.h>

#include "flash/DeviceTables.h"
#include "flash/FlashDetect.h"
#include "flash/lpc/FwhFlash.h"
#include "flash/lpc/JedecFlash.h"
#include "flash/lpc/LpcServices.h"
#include "sim/LpcSetup.h"
#include "tests/lpc_test_support.h"

namespace sim {
namespace {

EFI_STATUS init_all(VOID* context) {
  return JedecInit(context) | JedecArrayIdInit(context) | FwhInit(context);
}

TEST(LpcPool, ModulePoolHoldsTheThreeBlocksOnceEachAndRefusesMore) {
  ScriptedRig rig;
  rig.run([] { return init_all(nullptr) | init_all(nullptr); });
  auto at = [](const void* p) { return reinterpret_cast<std::uintptr_t>(p); };
  ASSERT_NE(JedecCommands, nullptr);
  EXPECT_EQ(at(JedecArrayIdCommands), at(JedecCommands) + 16);  // 8-byte aligned, no overlap
  EXPECT_EQ(at(FwhCommands), at(JedecCommands) + 32);
  EXPECT_EQ(at(JedecCommands) % 8, 0u);
  EXPECT_EQ(FwhCommands->BaseAddress, 0xFFF00000u);
  VOID* more = reinterpret_cast<VOID*>(1);
  EXPECT_EQ(LpcAllocateCommandBlock(nullptr, 8, &more), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(more, nullptr);
}

EFI_STATUS EFIAPI fails_with_junk(EFI_MEMORY_TYPE, UINTN, VOID** buffer) {
  *buffer = reinterpret_cast<VOID*>(0x10);  // must not be taken for a block
  return EFI_OUT_OF_RESOURCES;
}
EFI_STATUS EFIAPI succeeds_with_null(EFI_MEMORY_TYPE, UINTN, VOID** buffer) {
  *buffer = nullptr;
  return EFI_SUCCESS;
}

TEST(LpcPool, FamiliesWithoutABlockAreNeverFoundAndRefuseToEraseOrWrite) {
  LPC_ALLOCATION_CONTEXT contexts[] = {{fails_with_junk}, {succeeds_with_null}, {nullptr}};
  for (LPC_ALLOCATION_CONTEXT& context : contexts) {
    ScriptedRig rig;
    EXPECT_EQ(rig.run([&] { return init_all(&context); }), EFI_SUCCESS);
    EXPECT_EQ(JedecCommands, nullptr);
    EXPECT_EQ(JedecArrayIdCommands, nullptr);
    EXPECT_EQ(FwhCommands, nullptr);
    const std::uint8_t source[16] = {};
    UINT32 jedec_length = 16, fwh_length = 16;
    rig.run([&] {
      EXPECT_EQ(JedecProbe(0x5ABF), EFI_UNSUPPORTED);
      EXPECT_EQ(JedecArrayIdProbe(0xD8BF), EFI_UNSUPPORTED);
      EXPECT_EQ(FwhProbe(0xAC89), EFI_UNSUPPORTED);
      EXPECT_EQ(JedecErase(0xFFE00000, 0x1000), EFI_NOT_READY);
      EXPECT_EQ(FwhErase(0xFFE00000, 0x10000), EFI_NOT_READY);
      EXPECT_EQ(JedecWrite(0xFFE00000, source, &jedec_length, 0xFFE00000), EFI_NOT_READY);
      EXPECT_EQ(FwhWrite(0xFFE00000, source, &fwh_length, 0xFFE00000), EFI_NOT_READY);
      return JedecConvertPointers() | JedecArrayIdConvertPointers() | FwhConvertPointers();
    });
    EXPECT_EQ(jedec_length, 0u);
    EXPECT_EQ(fwh_length, 0u);
    EXPECT_TRUE(rig.trace.accesses().empty());
  }
}

// The array-ID part is erased and written with the JEDEC set's block: without it, that part
// must not be reported present, even though its own block was had.
TEST(LpcPool, TheArrayIdPartIsNotDetectedWithoutTheJedecBlock) {
  static UINT64 storage[4];
  LPC_ALLOCATION_CONTEXT context = {[](EFI_MEMORY_TYPE, UINTN, VOID** buffer) -> EFI_STATUS {
    if (buffer == reinterpret_cast<VOID**>(&JedecCommands)) return EFI_OUT_OF_RESOURCES;
    *buffer = buffer == reinterpret_cast<VOID**>(&FwhCommands) ? &storage[0] : &storage[2];
    return EFI_SUCCESS;
  }};
  Machine machine;
  machine.chipset().set_boot_straps(0);
  LpcSetupOptions options;
  options.part = "39VF080";
  LpcFlashPart& part = install_lpc_part(machine, options);
  machine.lpc().config_write(LpcBridge::kBiosCntl, Width::Byte, LpcBridge::kBiosWriteEnable);
  const FlashDevice* device = &LpcDeviceList[0];
  Outcome o = machine.run([&] { return DetectFlashDevice(&device, &context); });
  EXPECT_EQ(o.status, EFI_UNSUPPORTED);
  EXPECT_EQ(device, nullptr);
  EXPECT_NE(JedecArrayIdCommands, nullptr);
  EXPECT_EQ(part.counters().id_entries, 0u);  // no JEDEC sequence was sent
}

TEST(LpcConvertPointers, ConvertsTheJedecBlocksOnceAndTheHubReferenceEveryTime) {
  static std::vector<UINTN> seen;
  // Moves flash addresses down by 2 GiB as a virtual map would; leaves RAM pointers alone.
  LPC_CONVERT_POINTER convert = [](UINTN disposition, VOID** address) -> EFI_STATUS {
    EXPECT_EQ(disposition, 4u);
    UINTN value = reinterpret_cast<UINTN>(*address);
    seen.push_back(value);
    if (value >= 0xFF000000u && value <= 0xFFFFFFFFu) *address = reinterpret_cast<VOID*>(value - 0x80000000u);
    return EFI_SUCCESS;
  };
  ScriptedRig rig;
  rig.run([] { return init_all(nullptr) | JedecConvertPointers(); });
  JedecCommandBlock* jedec = JedecCommands;
  EXPECT_EQ(jedec->Converted, 0);  // no conversion installed: nothing changes
  VOID* untouched = jedec;
  EXPECT_EQ(LpcConvertPointer(&untouched), EFI_UNSUPPORTED);
  EXPECT_EQ(untouched, jedec);
  seen.clear();
  LpcSetConvertPointer(convert);
  rig.run([] { return JedecConvertPointers() | JedecConvertPointers(); });
  EXPECT_EQ(seen,
            (std::vector<UINTN>{0xFFF05555u, 0xFFF02AAAu, 0xFFBC0000u, reinterpret_cast<UINTN>(jedec)}));
  EXPECT_EQ(jedec->Converted, 1);
  EXPECT_EQ(jedec->UnlockAddress1, 0x7FF05555u);
  EXPECT_EQ(jedec->IdAddress, 0x7FBC0000u);
  EXPECT_EQ(JedecArrayIdCommands->Converted, 0);
  seen.clear();
  rig.run([] { return FwhConvertPointers() | FwhConvertPointers(); });
  EXPECT_EQ(seen.size(), 2u);  // the reference only, each time
  EXPECT_EQ(FwhCommands->Converted, 1);
  EXPECT_EQ(FwhCommands->BaseAddress, 0xFFF00000u);
}

}  // namespace
}  // namespace sim
