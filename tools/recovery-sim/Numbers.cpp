// Strict number parsing for options: every character is checked, and overflow is an error rather
// than a wrap (a count of -1 must not become "unlimited").
#include "tools/recovery-sim/Numbers.h"

#include <optional>
#include <stdexcept>

#include "tools/recovery-sim/Report.h"

namespace rsim {

namespace {

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// The value of `digits` in `base`, or nothing when a character is not a digit, there are none, or
// the value exceeds `max`.
std::optional<std::uint64_t> value_of(const std::string& digits, unsigned base, std::uint64_t max) {
  if (digits.empty()) {
    return std::nullopt;
  }
  std::uint64_t v = 0;
  for (char c : digits) {
    unsigned d = static_cast<unsigned>(digit_value(c));
    if (d >= base || v > (max - d) / base) {
      return std::nullopt;
    }
    v = v * base + d;
  }
  return v;
}

bool has_hex_prefix(const std::string& text) {
  return text.size() > 2 && text[0] == '0' && (text[1] | 0x20) == 'x';
}

}  // namespace

std::uint64_t parse_count(const std::string& what, const std::string& text, std::uint64_t max) {
  std::optional<std::uint64_t> v;
  if (has_hex_prefix(text)) {
    v = value_of(text.substr(2), 16, max);
  } else if (text.size() == 1 || (!text.empty() && text[0] != '0')) {
    v = value_of(text, 10, max);
  }
  if (!v) {
    throw std::invalid_argument(what + " takes a whole number in decimal or 0x hexadecimal up to " +
                                std::to_string(max) + ", not '" + text + "'");
  }
  return *v;
}

std::uint64_t parse_hex(const std::string& what, const std::string& text, std::uint64_t max) {
  std::optional<std::uint64_t> v = value_of(has_hex_prefix(text) ? text.substr(2) : text, 16, max);
  if (!v) {
    throw std::invalid_argument(what + " takes a hexadecimal number up to " + hex(max, 0) + ", not '" + text +
                                "'");
  }
  return *v;
}

std::pair<std::uint32_t, std::uint32_t> parse_boot_block(const std::string& text) {
  std::size_t dash = text.find('-');
  if (dash == std::string::npos) {
    throw std::invalid_argument("--boot-block takes START-END in hexadecimal, such as FFFF0000-FFFFFFFF");
  }
  auto first = static_cast<std::uint32_t>(parse_hex("--boot-block START", text.substr(0, dash), 0xFFFFFFFF));
  auto last = static_cast<std::uint32_t>(parse_hex("--boot-block END", text.substr(dash + 1), 0xFFFFFFFF));
  if (first < 0xFFE00000 || last < first) {
    throw std::invalid_argument(
        "--boot-block " + text +
        ": START-END must be a non-empty range inside 0xFFE00000-0xFFFFFFFF, the window "
        "the recovery rewrites");
  }
  if ((first & 0xFFF) != 0 || (last & 0xFFF) != 0xFFF) {
    throw std::invalid_argument("--boot-block " + text + ": START and END+1 must be 4 KiB aligned");
  }
  return {first, last};
}

}  // namespace rsim
