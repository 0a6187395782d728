// The capsule pre-flight: what a careful engineer checks in a recovery capsule before flashing it
// (size, reset vector, firmware volume, flash descriptor). Findings are warnings, never refusals:
// the module decides what it accepts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace rsim {

struct CapsuleFinding {
  std::string check;  // "size", "reset-vector", "firmware-volume", "descriptor"
  std::string text;   // one sentence for the summary and the report
};

// Set when the recovery rewrites the board's flash descriptor (linear 0x000-0xFFF of an SPI flash
// with a valid descriptor): the board's first 4 KiB and the capsule offset that lands on them.
struct DescriptorOverwrite {
  std::vector<std::uint8_t> board;  // the board's first 4 KiB before the recovery
  std::size_t capsule_offset = 0;
};

// The descriptor the recovery rewrites, if any: on an SPI flash whose first 4 KiB (`board_head`)
// hold a valid descriptor and whose expected contents take those 4 KiB from the capsule.
std::optional<DescriptorOverwrite> descriptor_overwrite(bool spi, std::vector<std::uint8_t> board_head,
                                                        const std::vector<std::uint8_t>& expected,
                                                        const std::vector<std::uint8_t>& capsule);

// Every finding for `capsule` (none when it looks like a firmware image for this board).
std::vector<CapsuleFinding> check_capsule(const std::vector<std::uint8_t>& capsule,
                                          const std::optional<DescriptorOverwrite>& descriptor);

// The summary lines ("capsule     ..."): the findings, or that the checks found nothing.
std::string capsule_check_lines(std::uint64_t capsule_size, const std::vector<CapsuleFinding>& findings);

// The report's `capsule_checks`: null when nothing was checked, else [{check, finding}].
nlohmann::json capsule_checks_json(const std::optional<std::vector<CapsuleFinding>>& findings);

}  // namespace rsim
