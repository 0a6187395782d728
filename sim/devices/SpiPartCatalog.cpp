// Per-part parameters of the SPI flash model. Timings are datasheet typicals where one was found;
// the values marked "assumed" stand where no datasheet figure was reached.
#include "sim/devices/SpiPartCatalog.h"

#include <algorithm>
#include <cctype>

namespace sim {

namespace {

constexpr Nanos us = 1000;
constexpr Nanos ms = 1000 * us;
constexpr std::uint32_t KiB = 1024;
constexpr std::uint32_t MiB = 1024 * KiB;

// Status-register protection: BP field, stored bits, protected top bytes at level 1, level that
// protects everything.
struct BpScheme {
  std::uint8_t bp_mask;
  std::uint8_t writable;
  std::uint8_t all_level;
};

SpiPartTraits base(const char* vendor, const char* name, std::uint32_t size) {
  SpiPartTraits s;
  s.vendor = vendor;
  s.name = name;
  s.size = size;
  return s;
}

void with_bp(SpiPartTraits& s, BpScheme bp) {
  s.scheme = SpiStatusScheme::BlockProtectBits;
  s.bp_mask = bp.bp_mask;
  s.status_writable = bp.writable;
  s.bp_first_bytes = 64 * KiB;
  s.bp_all_level = bp.all_level;
}

// Winbond, Macronix, EON and PMC parts: no busy times were found in a datasheet; assumed 100 ms
// per 4 KiB, 1 s per 64 KiB, 1.5 ms per 256-byte page (30 us for the first byte), 10 ms status
// write. Status bits are non-volatile, factory default unprotected.
SpiPartTraits generic_part(const char* vendor, const char* name, std::uint32_t size,
                           std::vector<std::uint8_t> jedec, std::uint8_t res, BpScheme bp,
                           std::vector<SpiEraseCommand> erases) {
  SpiPartTraits s = base(vendor, name, size);
  s.jedec_id = std::move(jedec);
  if (res != 0) s.res_id = {res};
  with_bp(s, bp);
  s.erases = std::move(erases);
  // Chip erase: assumed half the time of erasing every 64 KiB block on its own.
  s.erases.push_back({0x60, size, size / (64 * KiB) * 500 * ms});
  s.erases.push_back({0xC7, size, size / (64 * KiB) * 500 * ms});
  s.program_first_byte = 30 * us;
  s.program_next_byte = 5760;  // (1.5 ms - 30 us) / 255
  s.status_write = 10 * ms;
  return s;
}

const std::vector<SpiEraseCommand> kWinbondErases = {
    {0x20, 4 * KiB,  100 * ms },
    {0x52, 32 * KiB, 500 * ms },
    {0xD8, 64 * KiB, 1000 * ms}
};
// The MX25L3205A erases the whole 64 KiB sector around the address with 20h (its later D version,
// same ID, erases 4 KiB: a variant).
const std::vector<SpiEraseCommand> kMx3205Erases = {
    {0x20, 64 * KiB, 1000 * ms},
    {0xD8, 64 * KiB, 1000 * ms}
};
const std::vector<SpiEraseCommand> kMxErases = {
    {0x20, 4 * KiB,  100 * ms },
    {0x52, 64 * KiB, 1000 * ms},
    {0xD8, 64 * KiB, 1000 * ms}
};
const std::vector<SpiEraseCommand> kEonErases = {
    {0x20, 4 * KiB,  100 * ms },
    {0xD8, 64 * KiB, 1000 * ms}
};

// SST 25 series: BP bits volatile and set at power-up (whole array protected), 02h programs one
// byte. 25VF0xxB: 18 ms erases, 7 us byte program. 25LF0x0A: 18 ms erases, 14 us byte program.
// The status register is volatile: a status write completes when chip select rises.
SpiPartTraits sst_part(const char* name, std::uint32_t size, std::vector<std::uint8_t> jedec,
                       std::uint8_t device, BpScheme bp, SpiStatusWriteEnable wrsr, bool lf_series) {
  SpiPartTraits s = base("SST", name, size);
  s.jedec_id = std::move(jedec);
  s.rems_id = {0xBF, device};
  s.res_id = {0xBF, device};
  with_bp(s, bp);
  s.status_write_enable = wrsr;
  s.status_volatile = true;
  s.power_on_status = bp.bp_mask;
  s.page_program = false;
  if (lf_series) {
    s.erases = {
        {0x20, 4 * KiB,  18 * ms},
        {0x52, 32 * KiB, 18 * ms},
        {0x60, size,     70 * ms}
    };
    s.program_first_byte = 14 * us;
  } else {
    s.erases = {
        {0x20, 4 * KiB,  18 * ms},
        {0x52, 32 * KiB, 18 * ms},
        {0xD8, 64 * KiB, 18 * ms},
        {0x60, size,     35 * ms},
        {0xC7, size,     35 * ms}
    };
    s.program_first_byte = 7 * us;
  }
  s.status_write = 0;
  return s;
}

// Atmel AT25DF/AT26DF: global protect/unprotect through the status register, every 64 KiB sector
// protected at power-up. 50 ms per 4 KiB, 400 ms per 64 KiB, about 1 ms per 256-byte page
// (7 us for a single byte). Sector protection registers are volatile: a status write completes
// when chip select rises.
SpiPartTraits atmel_part(const char* name, std::uint32_t size, std::vector<std::uint8_t> jedec) {
  SpiPartTraits s = base("Atmel", name, size);
  s.jedec_id = std::move(jedec);
  s.scheme = SpiStatusScheme::AtmelGlobal;
  s.power_on_sectors_protected = true;
  s.sector_size = 64 * KiB;
  s.erases = {
      {0x20, 4 * KiB,  50 * ms                     },
      {0x52, 32 * KiB, 250 * ms                    },
      {0xD8, 64 * KiB, 400 * ms                    },
      {0x60, size,     size / (64 * KiB) * 200 * ms},
      {0xC7, size,     size / (64 * KiB) * 200 * ms}
  };
  s.program_first_byte = 7 * us;
  s.program_next_byte = 3900;
  s.status_write = 0;
  return s;
}

// ST/Numonyx M25PE80: 256-byte page erase DBh (10 ms), 4 KiB subsector 20h and 64 KiB sector D8h
// (assumed 50 ms and 1 s), page program 0.8 ms per page; per-sector lock registers written with
// E5h, unlocked at power-up; keeps WEL when a protected area refuses a command.
SpiPartTraits m25pe80() {
  SpiPartTraits s = base("ST", "M25PE80", 1 * MiB);
  s.jedec_id = {0x20, 0x80, 0x14};
  with_bp(s, {0x1C, 0x9C, 5});
  s.erases = {
      {0xDB, 256,      10 * ms   },
      {0x20, 4 * KiB,  50 * ms   },
      {0xD8, 64 * KiB, 1000 * ms },
      {0xC7, 1 * MiB,  10000 * ms}
  };
  s.program_first_byte = 20 * us;
  s.program_next_byte = 3060;
  s.status_write = 10 * ms;
  s.keeps_wel_on_refusal = true;
  s.has_lock_registers = true;
  s.sector_size = 64 * KiB;
  s.lock_write_opcode = 0xE5;
  s.lock_write = 1 * us;
  return s;
}

// PMC Pm25LV040: D7h erases 4 KiB; ABh is the standard RES, which answers 9D 7E only after three
// dummy bytes (the module's probe sends none; an answer without them is a variant).
SpiPartTraits pm25lv040() {
  SpiPartTraits s =
      generic_part("PMC", "25LV040", 512 * KiB,
                   {
                       0x7F, 0x9D, 0x7E
  },
                   0, {0x1C, 0x9C, 4}, {{0xD7, 4 * KiB, 100 * ms}, {0xD8, 64 * KiB, 1000 * ms}});
  s.res_id = {0x9D, 0x7E};
  return s;
}

std::vector<SpiPartTraits> build_catalog() {
  const BpScheme winbond_x16{0x1C, 0xBC, 6}, winbond_x32{0x1C, 0xBC, 7};
  const BpScheme winbond_q16{0x1C, 0xFC, 6}, winbond_q32{0x1C, 0xFC, 7};
  const BpScheme plain_1m{0x1C, 0x9C, 5}, plain_2m{0x1C, 0x9C, 6}, plain_4m{0x1C, 0x9C, 7};
  using W = SpiStatusWriteEnable;
  return {
      generic_part("Winbond", "25X16", 2 * MiB, {0xEF, 0x30, 0x15}, 0x14, winbond_x16, kWinbondErases),
      generic_part("Winbond", "25Q32", 4 * MiB, {0xEF, 0x40, 0x16}, 0x15, winbond_q32, kWinbondErases),
      generic_part("Winbond", "25Q16", 2 * MiB, {0xEF, 0x40, 0x15}, 0x14, winbond_q16, kWinbondErases),
      generic_part("Mxic", "25L3205A", 4 * MiB, {0xC2, 0x20, 0x16}, 0x15, plain_4m, kMx3205Erases),
      generic_part("EON", "25F16", 2 * MiB, {0x1C, 0x31, 0x15}, 0x14, plain_2m, kEonErases),
      generic_part("EON", "25F32", 4 * MiB, {0x1C, 0x31, 0x16}, 0x15, plain_4m, kEonErases),
      generic_part("Winbond", "25X32", 4 * MiB, {0xEF, 0x30, 0x16}, 0x15, winbond_x32, kWinbondErases),
      // No known part answers device code 40h; modelled on the 25LF040A with that code.
      sst_part("25LF040", 512 * KiB, {}, 0x40, {0x0C, 0x8C, 3}, W::Ewsr, true),
      sst_part("25LF040A", 512 * KiB, {}, 0x44, {0x0C, 0x8C, 3}, W::Ewsr, true),
      sst_part("25LF080A", 1 * MiB, {}, 0x80, {0x1C, 0x9C, 5}, W::EwsrOrWren, true),
      sst_part("25VF080B", 1 * MiB, {0xBF, 0x25, 0x8E}, 0x8E, {0x3C, 0xBC, 5}, W::EwsrOrWren, false),
      sst_part("25VF016B", 2 * MiB, {0xBF, 0x25, 0x41}, 0x41, {0x3C, 0xBC, 6}, W::EwsrOrWren, false),
      // The AT25DF041A the name points to; the row's parameters (no write enable, no status
      // commands) describe the AT26DF041, which answers the same two ID bytes: a variant.
      atmel_part("25DF041", 512 * KiB, {0x1F, 0x44, 0x01}),
      atmel_part("25DF081A", 1 * MiB, {0x1F, 0x45, 0x01}),
      atmel_part("26DF161", 2 * MiB, {0x1F, 0x46, 0x00}),
      atmel_part("26DF321", 4 * MiB, {0x1F, 0x47, 0x00}),
      atmel_part("25DF641", 8 * MiB, {0x1F, 0x48, 0x00}),
      generic_part("Mxic", "25L8005", 1 * MiB, {0xC2, 0x20, 0x14}, 0x13, plain_1m, kMxErases),
      generic_part("Mxic", "25L1605A", 2 * MiB, {0xC2, 0x20, 0x15}, 0x14, plain_2m, kMxErases),
      m25pe80(),
      pm25lv040(),
  };
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

const std::vector<SpiPartTraits>& spi_part_catalog() {
  static const std::vector<SpiPartTraits> catalog = build_catalog();
  return catalog;
}

const SpiPartTraits* find_spi_part(const std::string& name) {
  std::string wanted = lower(name);
  for (const SpiPartTraits& s : spi_part_catalog()) {
    if (lower(s.name) == wanted || lower(s.vendor + " " + s.name) == wanted) return &s;
  }
  return nullptr;
}

}  // namespace sim
