// The seven LPC parts. Identification bytes and busy times are the datasheet figures (typical
// times where a datasheet gives them, the maximum for the Winbond part); figures no datasheet gave
// are marked "assumed".
#include "sim/devices/LpcPartCatalog.h"

#include <cctype>

namespace sim {

namespace {
constexpr Nanos kMicro = 1000;
constexpr Nanos kMilli = 1000 * kMicro;

// Block locks: the SST and PMC parts keep write-lock registers that read 01h after power-up
// (PMC per its datasheet, SST assumed); the Winbond part is assumed to behave the same. The ST
// firmware-hub part powers up locked per its datasheet, the Intel one is assumed to. The SST
// 39VF080 is a parallel part with no register space at all.
// The Winbond part that answers DA 34 erases a 64 KiB block with 30h and a 4 KiB sector with 50h,
// the reverse of the other JEDEC parts.
// clang-format off
constexpr std::array<LpcPartInfo, kLpcPartCount> kParts = {{
    {.vendor = "INTEL", .name = "82802AC",   .command_set = LpcCommandSet::FirmwareHub, .size = 0x100000, .manufacturer_id = 0x89, .device_id = 0xAC, .has_register_space = true,  .id_in_register_space = false, .locked_at_power_on = true,  .sector_erase_time = 0,            .block_erase_time = 1000 * kMilli, .program_time = 10 * kMicro},  // times assumed
    {.vendor = "SST",   .name = "49LF008A",  .command_set = LpcCommandSet::Jedec,       .size = 0x100000, .manufacturer_id = 0xBF, .device_id = 0x5A, .has_register_space = true,  .id_in_register_space = true,  .locked_at_power_on = true,  .sector_erase_time = 18 * kMilli,  .block_erase_time = 18 * kMilli,   .program_time = 14 * kMicro},
    {.vendor = "SST",   .name = "49LF004A",  .command_set = LpcCommandSet::Jedec,       .size = 0x080000, .manufacturer_id = 0xBF, .device_id = 0x60, .has_register_space = true,  .id_in_register_space = true,  .locked_at_power_on = true,  .sector_erase_time = 18 * kMilli,  .block_erase_time = 18 * kMilli,   .program_time = 14 * kMicro},
    {.vendor = "PMC",   .name = "49FL004T",  .command_set = LpcCommandSet::Jedec,       .size = 0x080000, .manufacturer_id = 0x9D, .device_id = 0x6E, .has_register_space = true,  .id_in_register_space = true,  .locked_at_power_on = true,  .sector_erase_time = 50 * kMilli,  .block_erase_time = 50 * kMilli,   .program_time = 25 * kMicro},
    {.vendor = "WIN",   .name = "39V040FPA", .command_set = LpcCommandSet::Jedec,       .size = 0x080000, .manufacturer_id = 0xDA, .device_id = 0x34, .has_register_space = true,  .id_in_register_space = true,  .locked_at_power_on = true,  .sector_erase_time = 25 * kMilli,  .block_erase_time = 25 * kMilli,   .program_time = 35 * kMicro, .sector_erase_command = 0x50, .block_erase_command = 0x30},
    {.vendor = "ST",    .name = "50FLW040A", .command_set = LpcCommandSet::FirmwareHub, .size = 0x080000, .manufacturer_id = 0x20, .device_id = 0x08, .has_register_space = true,  .id_in_register_space = false, .locked_at_power_on = true,  .sector_erase_time = 0,            .block_erase_time = 750 * kMilli,  .program_time = 10 * kMicro},  // erase time assumed
    {.vendor = "SST",   .name = "39VF080",   .command_set = LpcCommandSet::Jedec,       .size = 0x100000, .manufacturer_id = 0xBF, .device_id = 0xD8, .has_register_space = false, .id_in_register_space = false, .locked_at_power_on = false, .sector_erase_time = 18 * kMilli,  .block_erase_time = 18 * kMilli,   .program_time = 14 * kMicro},
}};
// clang-format on

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); i++) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}
}  // namespace

const std::array<LpcPartInfo, kLpcPartCount>& lpc_parts() { return kParts; }

const LpcPartInfo* find_lpc_part(std::string_view name) {
  for (const LpcPartInfo& p : kParts) {
    if (same_name(p.name, name)) {
      return &p;
    }
  }
  return nullptr;
}

}  // namespace sim
