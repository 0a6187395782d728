// Property: for a random installed part (SPI or LPC, any protection state, any old contents),
// detection returns the first row of the table the boot straps select whose identification
// matches what that part answers to the row's own identification command.
#include <gtest/gtest.h>
#include <rapidcheck.h>
#include <rapidcheck/gtest.h>

#include "flash/DeviceTables.h"
#include "flash/FlashDetect.h"
#include "sim/LpcSetup.h"
#include "sim/SpiSetup.h"
#include "sim/devices/LpcPartCatalog.h"
#include "sim/devices/SpiPartCatalog.h"

namespace testing_support {
namespace {

// What a fresh copy of the part answers to the identification command of SPI row `row`: the
// opcode, three address bytes (zero) when the opcode type carries an address, then the row's
// identification length of data bytes, lowest first.
std::uint32_t spi_answer(const sim::SpiPartTraits& traits, int row) {
  const SpiDeviceParams* params = SpiDeviceList[row].Params;
  sim::SpiFlashPart part(traits);
  std::vector<std::uint8_t> out{params->OpcodeMenu[0], 0, 0, 0};
  if ((params->OpcodeTypes & 0x3) < 2) out.resize(1);
  std::uint32_t n = SpiIdLength(params);
  std::uint8_t in[4] = {};
  part.transfer(0, out.data(), out.size(), in, n);
  std::uint32_t id = 0;
  for (std::uint32_t i = 0; i < n; i++) id |= std::uint32_t{in[i]} << (8 * i);
  return id;
}

int expected_spi_row(const sim::SpiPartTraits& traits) {
  for (int row = 0; row < static_cast<int>(SpiDeviceListLength); row++) {
    if (spi_answer(traits, row) == SpiDeviceList[row].Device.Id) return row;
  }
  return -1;
}

RC_GTEST_PROP(DetectionProperty, SpiDetectionReturnsTheFirstMatchingRow, ()) {
  const auto& catalog = sim::spi_part_catalog();
  const sim::SpiPartTraits& traits = catalog[*rc::gen::inRange<std::size_t>(0, catalog.size())];
  sim::SpiSetupConfig c;
  c.part = traits.name;
  c.descriptor = *rc::gen::arbitrary<bool>();
  c.protection =
      *rc::gen::arbitrary<bool>() ? sim::SpiProtectionStart::PowerOn : sim::SpiProtectionStart::Cleared;
  c.fill_seed = *rc::gen::arbitrary<std::uint32_t>();
  sim::Machine machine;
  install_spi_flash(machine, c);
  const FlashDevice* device = nullptr;
  sim::Outcome o = machine.run([&] { return DetectFlashDevice(&device, nullptr); });
  int row = expected_spi_row(traits);
  RC_TAG(traits.name);
  RC_ASSERT(o.kind == sim::OutcomeKind::Returned);
  if (row < 0) {
    // No row's identification command gets the part's ID back (a part that answers RES only after
    // dummy bytes): detection finds nothing.
    RC_ASSERT(o.status == EFI_UNSUPPORTED);
    RC_ASSERT(device == nullptr);
    return;
  }
  RC_ASSERT(o.status == EFI_SUCCESS);
  RC_ASSERT(device == &SpiDeviceList[row].Device);
}

RC_GTEST_PROP(DetectionProperty, LpcDetectionReturnsTheRowWithThePartsIdentification, ()) {
  const sim::LpcPartInfo& info = sim::lpc_parts()[*rc::gen::inRange<std::size_t>(0, sim::kLpcPartCount)];
  sim::MachineConfig mc;
  mc.boot_straps = 0;
  sim::Machine machine(mc);
  sim::LpcSetupOptions options;
  options.part = std::string(info.name);
  // The chipset's decode with the part answering at every alias of its size: the identification
  // commands go to addresses below a small part's own top range.
  options.decode = sim::LpcDecode::Aliased;
  options.protection =
      *rc::gen::arbitrary<bool>() ? sim::LpcProtection::PowerOn : sim::LpcProtection::Cleared;
  sim::LpcFlashPart& part = install_lpc_part(machine, options);
  std::uint32_t x = *rc::gen::arbitrary<std::uint32_t>() | 1;  // old contents, any bytes
  for (auto& b : part.array()) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  // The recovery opens the flash for writes before detection: identification commands are writes.
  machine.lpc().config_write(sim::LpcBridge::kBiosCntl, sim::Width::Byte,
                             machine.lpc().bios_cntl() | sim::LpcBridge::kBiosWriteEnable);
  const FlashDevice* device = nullptr;
  sim::Outcome o = machine.run([&] { return DetectFlashDevice(&device, nullptr); });
  UINT32 id = std::uint32_t{info.device_id} << 8 | info.manufacturer_id;
  const FlashDevice* first = nullptr;
  for (UINTN i = 0; i < LpcDeviceListLength && first == nullptr; i++) {
    if (LpcDeviceList[i].Id == id) first = &LpcDeviceList[i];
  }
  RC_TAG(std::string(info.name));
  RC_ASSERT(first != nullptr);
  RC_ASSERT(o.kind == sim::OutcomeKind::Returned);
  RC_ASSERT(o.status == EFI_SUCCESS);
  RC_ASSERT(device == first);
}

}  // namespace
}  // namespace testing_support
