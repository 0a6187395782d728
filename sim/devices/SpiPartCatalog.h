// The SPI flash parts the platform can carry, one parameter set per part of the module's SPI table
// (identification, protection scheme, erase commands, timings), and the documented quirks.
#pragma once

#include <string>
#include <vector>

#include "sim/devices/SpiFlashPart.h"

namespace sim {

// In the order of the module's SPI device table; names as the table spells them ("25X16").
const std::vector<SpiPartTraits>& spi_part_catalog();

// By part name, case-insensitive, with or without the vendor ("Winbond 25X16"); null if unknown.
const SpiPartTraits* find_spi_part(const std::string& name);

// Applies a named quirk: "64k-sector-erase" (20h erases a 64 KiB sector, MX25L3205A as one open
// tool reports) or "res-dummy-bytes" (ABh answers only after three dummy bytes, as standard RES
// does), or "lock-opcode-00" (a part with sector lock registers takes 00h, the per-block opcode of
// the module's table, as its lock-register write instead of E5h). Returns false for an unknown quirk
// name or one the part cannot have.
bool apply_spi_quirk(SpiPartTraits& traits, const std::string& quirk);

}  // namespace sim
