// UTF-8 to UTF-16LE conversion for the name a user-interface section carries.
#ifndef TOOLS_FFS_UTF16_H_
#define TOOLS_FFS_UTF16_H_

#include <cstdint>
#include <string_view>
#include <vector>

namespace packaging {

// The UTF-16LE bytes of text, without a terminator. Throws FfsError on malformed UTF-8 (stray
// continuation bytes, truncated or overlong sequences, surrogates, code points above U+10FFFF).
std::vector<uint8_t> utf8_to_utf16le(std::string_view text);

}  // namespace packaging

#endif  // TOOLS_FFS_UTF16_H_
