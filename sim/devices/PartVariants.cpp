// The variants and notes, from the parts' datasheets and a public chip database (see
// docs/hardware.md for how firm each fact is).
#include "sim/devices/PartVariants.h"

#include <stdexcept>
#include <string>

#include "sim/devices/JedecFlashPart.h"

namespace sim {

namespace {

constexpr Nanos kMs = 1'000'000;

// Built on first use: benchmark and test rows are registered from static initialisers in other
// files, which may run before a namespace-scope table of this file would be constructed.
const std::vector<PartVariant>& variants() {
  // clang-format off
  static const std::vector<PartVariant> table = {
    {.part = "25L3205A", .name = "25L3205D",
     .differs = "the later part with the same ID (C2 20 16): 20h erases 4 KiB, not the 64 KiB sector",
     .spi = [](SpiPartTraits& t) {
       for (SpiEraseCommand& e : t.erases) {
         if (e.opcode == 0x20) e = {0x20, 0x1000, 100 * kMs};
       }
     }},
    {.part = "25LV040", .name = "res-without-dummy",
     .differs = "ABh answers right after the opcode, without the 3 dummy bytes of RES (no known part)",
     .spi = [](SpiPartTraits& t) { t.res_dummy_bytes = 0; }},
    {.part = "25DF041", .name = "26DF041",
     .differs = "the AT26DF041 (same ID 1F 44): no write enable, no writable status bits, no protection",
     .spi = [](SpiPartTraits& t) {
       t.jedec_id = {0x1F, 0x44, 0x00};
       t.needs_write_enable = false;
       t.scheme = SpiStatusScheme::None;
       t.power_on_sectors_protected = false;
     }},
    {.part = "M25PE80", .name = "lock-opcode-00",
     .differs = "lock registers written with 00h, the row's per-block opcode, not E5h (no known part)",
     .spi = [](SpiPartTraits& t) { t.lock_write_opcode = 0x00; }},
    {.part = "39V040FPA", .name = "30h-sector",
     .differs = "30h erases a 4 KiB sector and 50h a 64 KiB block, as on the other JEDEC parts",
     .jedec = [](JedecFlashPart& p) { p.set_erase_commands(0x30, 0x50); }},
  };
  // clang-format on
  return table;
}

const PartVariant& find(std::string_view part, std::string_view name) {
  std::string known;
  for (const PartVariant* v : variants_of(part)) {
    if (v->name == name) return *v;
    known += (known.empty() ? "" : ", ") + std::string(v->name);
  }
  throw std::invalid_argument("part " + std::string(part) + " has no variant '" + std::string(name) + "'" +
                              (known.empty() ? "" : "; its variants: " + known));
}

}  // namespace

const std::vector<PartVariant>& part_variants() { return variants(); }

std::vector<const PartVariant*> variants_of(std::string_view part) {
  std::vector<const PartVariant*> v;
  for (const PartVariant& p : variants()) {
    if (p.part == part) v.push_back(&p);
  }
  return v;
}

void apply_spi_variant(SpiPartTraits& traits, std::string_view name) {
  const PartVariant& v = find(traits.name, name);
  v.spi(traits);
}

void apply_lpc_variant(LpcFlashPart& part, std::string_view name) {
  const PartVariant& v = find(part.info().name, name);
  v.jedec(dynamic_cast<JedecFlashPart&>(part));
}

std::string_view part_note(std::string_view part) {
  if (part == "25LF040") {
    return "no known part answers BF 40; modelled as the 25LF040A with that device code";
  }
  if (part == "39VF080") {
    return "a parallel part: it reaches the LPC bus only behind a bridge";
  }
  return {};
}

}  // namespace sim
