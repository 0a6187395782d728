// SHA-256 of a byte string, as lowercase hex: identifies the exact image a rehearsal ran.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace rsim {

std::string sha256_hex(std::span<const std::uint8_t> bytes);

}  // namespace rsim
