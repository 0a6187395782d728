// Named variants of the simulated flash parts: a related real part that answers the same
// identification but behaves differently, and notes on rows that no known part matches. Each
// catalogue row models the part its name points to; a variant gives it the other part's behaviour.
#pragma once

#include <string_view>
#include <vector>

#include "sim/devices/LpcFlashPart.h"
#include "sim/devices/SpiFlashPart.h"

namespace sim {

class JedecFlashPart;

struct PartVariant {
  std::string_view part;     // catalogue name of the row ("25L3205A")
  std::string_view name;     // what the user asks for ("25L3205D")
  std::string_view differs;  // what changes against the row's default, in a few words
  void (*spi)(SpiPartTraits&) = nullptr;
  void (*jedec)(JedecFlashPart&) = nullptr;
};

const std::vector<PartVariant>& part_variants();
std::vector<const PartVariant*> variants_of(std::string_view part);

// Throws std::invalid_argument naming the part's variants when `name` is not one of them.
void apply_spi_variant(SpiPartTraits& traits, std::string_view name);
void apply_lpc_variant(LpcFlashPart& part, std::string_view name);

// What a user should know about a row's model beyond its variants; empty when nothing.
std::string_view part_note(std::string_view part);

}  // namespace sim
