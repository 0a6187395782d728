// Chipset preparation through PCI configuration mechanism #1, and the after-run report.
#include "qemu/PlatformSetup.h"

#include "qemu/Console.h"
#include "qemu/PortIo.h"

namespace harness {

namespace {

constexpr uint16_t kConfigAddressPort = 0xCF8;
constexpr uint16_t kConfigDataPort = 0xCFC;
constexpr uint16_t kCmosIndexPort = 0x70;
constexpr uint16_t kCmosDataPort = 0x71;

// Memory controller 0:0.0: PCIEXBAR, 64-bit, bit 0 enable, bits 2:1 size (0 = 256 MiB).
constexpr uint8_t kMchDevice = 0;
constexpr uint8_t kPciExBarLow = 0x60;
constexpr uint8_t kPciExBarHigh = 0x64;
constexpr uint32_t kPciExBarEnable = 0x1;

// LPC bridge 0:31.0.
constexpr uint8_t kLpcDevice = 31;
constexpr uint8_t kVendorDevice = 0x00;
constexpr uint8_t kPmBaseRegister = 0x40;
constexpr uint8_t kAcpiControl = 0x44;
constexpr uint8_t kAcpiEnable = 0x80;
constexpr uint8_t kBiosControl = 0xDC;
constexpr uint8_t kRcbaRegister = 0xF0;
constexpr uint32_t kRcbaEnable = 0x1;
constexpr uint32_t kDefaultRcba = 0xFED1C000;
constexpr uint32_t kGcsOffset = 0x3410;
constexpr uint32_t kGcsStrapsShift = 10;
constexpr uint32_t kGcsStrapsMask = 0x3u << kGcsStrapsShift;
constexpr uint8_t kCmosChannelIndex = 0x6E;
constexpr uint16_t kPm1ControlPort = kPmBase + 0x04;

uint32_t config_address(uint8_t device, uint8_t reg) {
  return 0x80000000u | (static_cast<uint32_t>(device) << 11) | (reg & 0xFCu);
}

uint32_t config_read32(uint8_t device, uint8_t reg) {
  port_out32(kConfigAddressPort, config_address(device, reg));
  return port_in32(kConfigDataPort);
}

void config_write32(uint8_t device, uint8_t reg, uint32_t value) {
  port_out32(kConfigAddressPort, config_address(device, reg));
  port_out32(kConfigDataPort, value);
}

uint8_t config_read8(uint8_t device, uint8_t reg) {
  port_out32(kConfigAddressPort, config_address(device, reg));
  return port_in8(static_cast<uint16_t>(kConfigDataPort + (reg & 3)));
}

void config_write8(uint8_t device, uint8_t reg, uint8_t value) {
  port_out32(kConfigAddressPort, config_address(device, reg));
  port_out8(static_cast<uint16_t>(kConfigDataPort + (reg & 3)), value);
}

uint32_t lpc_mmcfg(uint8_t reg) { return kPciExpressBase + (static_cast<uint32_t>(kLpcDevice) << 15) + reg; }

uint8_t cmos_read(uint8_t index) {
  port_out8(kCmosIndexPort, index);
  return port_in8(kCmosDataPort);
}

void cmos_write(uint8_t index, uint8_t value) {
  port_out8(kCmosIndexPort, index);
  port_out8(kCmosDataPort, value);
}

uint32_t rcba() { return config_read32(kLpcDevice, kRcbaRegister) & ~kRcbaEnable; }

void move_configuration_window() {
  // Disable before moving, so that the window never decodes at a half-written address.
  config_write32(kMchDevice, kPciExBarLow, 0);
  config_write32(kMchDevice, kPciExBarHigh, 0);
  config_write32(kMchDevice, kPciExBarLow, kPciExpressBase | kPciExBarEnable);
  uint32_t bar = config_read32(kMchDevice, kPciExBarLow);
  uint32_t through_io = config_read32(kLpcDevice, kVendorDevice);
  uint32_t through_memory = mmio_read32(lpc_mmcfg(kVendorDevice));
  log_line("platform: pciexbar 0x%08x, lpc bridge id 0x%08x (mechanism #1) 0x%08x (mmcfg)", bar, through_io,
           through_memory);
  if (bar != (kPciExpressBase | kPciExBarEnable) || through_memory != through_io) {
    fail("platform: the configuration window did not move to 0x%08x", kPciExpressBase);
  }
}

void enable_pm_block() {
  config_write32(kLpcDevice, kPmBaseRegister, kPmBase | 1u);
  config_write8(kLpcDevice, kAcpiControl,
                static_cast<uint8_t>(config_read8(kLpcDevice, kAcpiControl) | kAcpiEnable));
  uint32_t first = pm_timer();
  uint32_t later = first;
  for (uint32_t i = 0; i < 1000000 && later == first; i++) {
    later = pm_timer();
  }
  log_line("platform: pmbase 0x%04x (mmcfg 0x%04x), acpi_cntl 0x%02x, pm1_cnt 0x%02x, pm timer %s",
           config_read32(kLpcDevice, kPmBaseRegister) & 0xFFFF, mmio_read16(lpc_mmcfg(kPmBaseRegister)),
           config_read8(kLpcDevice, kAcpiControl), port_in8(kPm1ControlPort),
           later != first ? "counting" : "stopped");
  if (later == first) {
    fail("platform: the PM timer at 0x%04x does not count", kPmTimerPort);
  }
}

void set_straps(const Options& options) {
  uint32_t base = config_read32(kLpcDevice, kRcbaRegister);
  if ((base & kRcbaEnable) == 0) {
    config_write32(kLpcDevice, kRcbaRegister, kDefaultRcba | kRcbaEnable);
  }
  uint32_t gcs_address = rcba() + kGcsOffset;
  if (options.set_straps) {
    uint32_t gcs = mmio_read32(gcs_address) & ~kGcsStrapsMask;
    mmio_write32(gcs_address, gcs | (static_cast<uint32_t>(options.straps) << kGcsStrapsShift));
  }
  uint32_t gcs = mmio_read32(gcs_address);
  log_line("platform: rcba 0x%08x, gcs 0x%08x, straps %u%u", config_read32(kLpcDevice, kRcbaRegister), gcs,
           (gcs >> 11) & 1, (gcs >> 10) & 1);
  if (options.set_straps && ((gcs & kGcsStrapsMask) >> kGcsStrapsShift) != options.straps) {
    fail("platform: GCS did not take the straps");
  }
}

void set_cmos(const Options& options) {
  if (options.set_cmos_6e) {
    cmos_write(kCmosChannelIndex, options.cmos_6e);
  }
  uint8_t value = cmos_read(kCmosChannelIndex);
  log_line("platform: cmos 0x6e = 0x%02x", value);
  if (options.set_cmos_6e && value != options.cmos_6e) {
    fail("platform: CMOS 0x6e did not keep 0x%02x", options.cmos_6e);
  }
}

}  // namespace

void prepare_platform(const Options& options) {
  move_configuration_window();
  enable_pm_block();
  set_straps(options);
  set_cmos(options);
  log_line("platform: bios_cntl 0x%02x", config_read8(kLpcDevice, kBiosControl));
  // Leave no configuration address latched: the module must select BIOS_CNTL itself, with a 32-bit
  // write, or its accesses miss the register.
  port_out32(kConfigAddressPort, 0);
}

void report_platform() {
  log_line("after: bios_cntl 0x%02x (mmcfg 0x%02x), gcs 0x%08x, cmos 0x6e = 0x%02x",
           config_read8(kLpcDevice, kBiosControl), mmio_read8(lpc_mmcfg(kBiosControl)),
           mmio_read32(rcba() + kGcsOffset), cmos_read(kCmosChannelIndex));
}

uint32_t pm_timer() { return port_in32(kPmTimerPort) & kPmTimerMask; }

}  // namespace harness
