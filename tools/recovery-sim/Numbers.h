// Numbers as the command line spells them: counts in decimal or 0x hexadecimal, register values in
// hexadecimal. Anything else (signs, spaces, octal-looking leading zeros, overflow) is refused.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <utility>

namespace rsim {

// Decimal without leading zeros, or 0x followed by hexadecimal digits; at most `max`. Throws
// std::invalid_argument naming `what`.
std::uint64_t parse_count(const std::string& what, const std::string& text,
                          std::uint64_t max = std::numeric_limits<std::uint64_t>::max());

// Hexadecimal digits with or without a 0x prefix; at most `max`. Throws std::invalid_argument.
std::uint64_t parse_hex(const std::string& what, const std::string& text, std::uint64_t max);

// --boot-block START-END: hexadecimal memory addresses, START 4 KiB aligned, END the last byte of a
// 4 KiB chunk, inside 0xFFE00000-0xFFFFFFFF. Returns {START, END}.
std::pair<std::uint32_t, std::uint32_t> parse_boot_block(const std::string& text);

}  // namespace rsim
