// A simulated SPI-boot machine with one SPI flash configuration, a PEI environment offering a
// 2 MiB capsule, and what a complete recovery should leave in the flash.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "sim/Machine.h"
#include "sim/SpiSetup.h"
#include "sim/pei/PeiEnvironment.h"

namespace testing_support {

constexpr std::uint32_t kCapsuleSize = 0x200000;
constexpr std::uint32_t kCapsuleBase = 0xFFE00000;  // memory address of capsule byte 0
constexpr std::uint32_t kKeptOffset = 0x170000;     // 0xFFF70000-0xFFF7FFFF is never touched
constexpr std::uint32_t kKeptSize = 0x10000;

std::vector<std::uint8_t> make_capsule(std::uint8_t seed);

// The linear flash after a complete recovery of `capsule` onto `before`: every 4 KiB chunk
// programmed except the kept one, each chunk landing at (memory address + flash size) mod 2^32,
// and only where the whole chunk lies inside the writable window [low, high].
std::vector<std::uint8_t> expected_after_recovery(const std::vector<std::uint8_t>& before,
                                                  const std::vector<std::uint8_t>& capsule, std::uint64_t low,
                                                  std::uint64_t high);

struct SpiRig {
  explicit SpiRig(const sim::SpiSetupConfig& config, std::uint8_t capsule_seed = 0x5A);
  // RecoveryEntry on the machine, with a speaker and one recovery PPI holding the capsule.
  sim::Outcome recover();
  // Runs `body` on the machine after SpiInit + probing the part's own row (the matching row of
  // the module's table, found by name), as detection would leave the driver.
  sim::Outcome with_driver(int row, const std::function<EFI_STATUS()>& body);

  sim::Machine machine;
  sim::SpiFlashSystem& flash;
  sim::PeiEnvironment pei;
  std::vector<std::uint8_t> capsule;
  std::vector<std::uint8_t> before;
};

}  // namespace testing_support
