// The SPI test rig.
#include "tests/support/spi_rig.h"

#include "flash/DeviceTables.h"
#include "flash/spi/SpiOps.h"
#include "recovery/RecoveryEntry.h"
#include "sim/pei/RecoveryPpiModel.h"

namespace testing_support {

std::vector<std::uint8_t> make_capsule(std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(kCapsuleSize);
  for (std::size_t i = 0; i < bytes.size(); i++) {
    bytes[i] = static_cast<std::uint8_t>((i * 131u) ^ (i >> 9) ^ seed);
  }
  return bytes;
}

std::vector<std::uint8_t> expected_after_recovery(const std::vector<std::uint8_t>& before,
                                                  const std::vector<std::uint8_t>& capsule, std::uint64_t low,
                                                  std::uint64_t high) {
  std::vector<std::uint8_t> flash = before;
  std::uint32_t size = static_cast<std::uint32_t>(before.size());
  for (std::uint32_t offset = 0; offset < kCapsuleSize; offset += 0x1000) {
    if (offset >= kKeptOffset && offset < kKeptOffset + kKeptSize) continue;
    std::uint32_t linear = kCapsuleBase + offset + size;  // carry dropped
    if (linear < low || std::uint64_t{linear} + 0xFFF > high) continue;
    std::copy_n(capsule.begin() + offset, 0x1000, flash.begin() + linear);
  }
  return flash;
}

namespace {
sim::MachineConfig spi_boot() {
  sim::MachineConfig c;
  c.boot_straps = 3;
  return c;
}
}  // namespace

SpiRig::SpiRig(const sim::SpiSetupConfig& config, std::uint8_t capsule_seed)
    : machine(spi_boot()),
      flash(sim::install_spi_flash(machine, config)),
      capsule(make_capsule(capsule_seed)) {
  before = flash.image();
  pei.install_speaker();
  pei.install_recovery_ppi().add_capsule(capsule);
}

sim::Outcome SpiRig::recover() {
  return machine.run([&] { return RecoveryEntry(nullptr, pei.services()); });
}

sim::Outcome SpiRig::with_driver(int row, const std::function<EFI_STATUS()>& body) {
  // The recovery opens the flash (BIOS_CNTL.BIOSWE) before detection; do it through the back door.
  machine.lpc().config_write(sim::LpcBridge::kBiosCntl, sim::Width::Byte,
                             machine.lpc().bios_cntl() | sim::LpcBridge::kBiosWriteEnable);
  return machine.run([&] {
    SpiInit(nullptr);
    EFI_STATUS status = SpiProbe(reinterpret_cast<UINTN>(&SpiDeviceList[row]));
    if (EFI_ERROR(status)) return status;
    return body();
  });
}

}  // namespace testing_support
