// GUIDs as firmware files store them (the first three fields little-endian) and in their text form.
#ifndef TOOLS_FFS_GUID_H_
#define TOOLS_FFS_GUID_H_

#include <array>
#include <cstdint>
#include <string_view>

namespace packaging {

struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  std::array<uint8_t, 8> data4;
};

// The 16 bytes of guid as they lie in a file header or a dependency expression.
std::array<uint8_t, 16> guid_bytes(const Guid& guid);

// Reads "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (hex digits of either case, optionally in braces).
// Throws FfsError for anything else.
Guid parse_guid(std::string_view text);

}  // namespace packaging

#endif  // TOOLS_FFS_GUID_H_
