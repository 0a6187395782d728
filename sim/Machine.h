// The simulated PC: the platform's buses and clock with the chipset, timer, CMOS, POST port and
// embedded controller wired as the module expects to find them. Flash subsystems (SPI or LPC) and
// PEI services are added on top by their own setup code.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "sim/Platform.h"
#include "sim/devices/AcpiPmBlock.h"
#include "sim/devices/ChipsetRegisters.h"
#include "sim/devices/EmbeddedController.h"
#include "sim/devices/LpcBridge.h"
#include "sim/devices/PciConfigAccess.h"
#include "sim/devices/PostPort.h"
#include "sim/devices/RtcCmos.h"

namespace sim {

struct MachineConfig {
  std::uint8_t cmos_6e = 0;      // embedded-controller channel: 4 selects the 0x64/0x60 pair
  std::uint8_t boot_straps = 3;  // GCS bits 11:10 as the module reads them: 3 SPI, 0 LPC
  std::uint32_t rcba = 0xFED1C000;
  std::uint16_t pmbase = 0x400;
  std::uint8_t pm1_cnt_low = 0;
  std::uint32_t pm_timer_start = 0;
  EcConfig ec;
};

class Machine {
 public:
  explicit Machine(const MachineConfig& config = {});
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  Platform& platform() { return platform_; }
  AcpiPmBlock& pm() { return pm_; }
  RtcCmos& cmos() { return cmos_; }
  PostPort& post() { return post_; }
  LpcBridge& lpc() { return lpc_; }
  ChipsetRegisters& chipset() { return chipset_; }
  EmbeddedController& ec() { return ec_; }
  PciConfigAccess& pci() { return pci_; }
  const MachineConfig& config() const { return config_; }

  // Maps a device inside the RCBA block at `offset`; it follows RCBA when RCBA is reprogrammed.
  void map_chipset_window(std::uint32_t offset, std::uint32_t size, MemHandler* handler, Nanos cost);

  // Keeps a device added by a setup routine alive as long as the machine.
  template <class D>
  D& own(std::unique_ptr<D> device) {
    D& ref = *device;
    owned_.push_back(std::shared_ptr<void>(std::move(device)));
    return ref;
  }

  // Returns the module to its just-loaded state and runs `body` on this machine.
  Outcome run(const std::function<EFI_STATUS()>& body);

  // Power cut and power-on: every device returns to its power-on state; flash arrays and CMOS keep
  // their contents.
  void power_cycle() { platform_.power_cycle(); }

 private:
  struct ChipsetWindow {
    int region;
    std::uint32_t offset;
  };
  void follow_pm_decode();
  void follow_rcba();

  MachineConfig config_;
  Platform platform_;
  AcpiPmBlock pm_;
  RtcCmos cmos_;
  PostPort post_;
  LpcBridge lpc_;
  ChipsetRegisters chipset_;
  EmbeddedController ec_;
  PciConfigAccess pci_;
  int chipset_region_ = -1;
  std::vector<ChipsetWindow> chipset_windows_;
  std::vector<std::shared_ptr<void>> owned_;
};

}  // namespace sim
