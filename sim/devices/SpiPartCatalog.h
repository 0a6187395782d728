// The SPI flash parts the platform can carry, one parameter set per part of the module's SPI table
// (identification, protection scheme, erase commands, timings). Variants: PartVariants.h.
#pragma once

#include <string>
#include <vector>

#include "sim/devices/SpiFlashPart.h"

namespace sim {

// In the order of the module's SPI device table; names as the table spells them ("25X16").
const std::vector<SpiPartTraits>& spi_part_catalog();

// By part name, case-insensitive, with or without the vendor ("Winbond 25X16"); null if unknown.
const SpiPartTraits* find_spi_part(const std::string& name);

}  // namespace sim
