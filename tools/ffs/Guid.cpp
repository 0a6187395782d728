// GUID text parsing and byte layout: Data1, Data2 and Data3 little-endian, then Data4 as written.
#include "tools/ffs/Guid.h"

#include <string>

#include "tools/ffs/FfsError.h"

namespace packaging {
namespace {

// The 32 hex digits of the text form in order, or an empty string when the text is not one.
std::string hex_digits(std::string_view text) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') {
    text = text.substr(1, 36);
  }
  if (text.size() != 36) return {};
  std::string digits;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool dash_here = i == 8 || i == 13 || i == 18 || i == 23;
    const char c = text[i];
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (dash_here ? c != '-' : !hex) return {};
    if (!dash_here) digits += c;
  }
  return digits;
}

uint64_t hex_value(const std::string& digits, size_t from, size_t count) {
  return std::stoull(digits.substr(from, count), nullptr, 16);
}

}  // namespace

std::array<uint8_t, 16> guid_bytes(const Guid& guid) {
  std::array<uint8_t, 16> bytes = {
      static_cast<uint8_t>(guid.data1),       static_cast<uint8_t>(guid.data1 >> 8),
      static_cast<uint8_t>(guid.data1 >> 16), static_cast<uint8_t>(guid.data1 >> 24),
      static_cast<uint8_t>(guid.data2),       static_cast<uint8_t>(guid.data2 >> 8),
      static_cast<uint8_t>(guid.data3),       static_cast<uint8_t>(guid.data3 >> 8)};
  for (size_t i = 0; i < guid.data4.size(); ++i) bytes[8 + i] = guid.data4[i];
  return bytes;
}

Guid parse_guid(std::string_view text) {
  const std::string digits = hex_digits(text);
  if (digits.empty()) {
    throw FfsError("not a GUID: \"" + std::string(text) +
                   "\" (expected XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX)");
  }
  Guid guid{static_cast<uint32_t>(hex_value(digits, 0, 8)),
            static_cast<uint16_t>(hex_value(digits, 8, 4)),
            static_cast<uint16_t>(hex_value(digits, 12, 4)),
            {}};
  for (size_t i = 0; i < guid.data4.size(); ++i) {
    guid.data4[i] = static_cast<uint8_t>(hex_value(digits, 16 + 2 * i, 2));
  }
  return guid;
}

}  // namespace packaging
