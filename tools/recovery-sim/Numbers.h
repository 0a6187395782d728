// Numbers as the command line spells them: counts in decimal or 0x hexadecimal, register values in
// hexadecimal. Anything else (signs, spaces, octal-looking leading zeros, overflow) is refused.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace rsim {

// Decimal without leading zeros, or 0x followed by hexadecimal digits; at most `max`. Throws
// std::invalid_argument naming `what`.
std::uint64_t parse_count(const std::string& what, const std::string& text,
                          std::uint64_t max = std::numeric_limits<std::uint64_t>::max());

// Hexadecimal digits with or without a 0x prefix; at most `max`. Throws std::invalid_argument.
std::uint64_t parse_hex(const std::string& what, const std::string& text, std::uint64_t max);

}  // namespace rsim
