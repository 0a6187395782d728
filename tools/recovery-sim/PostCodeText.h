// The summary's account of the POST codes: probe markers, chunk counters, and where the 8-bit
// counter on port 0x80 wrapped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rsim {

// "497 written (1 probe marker, 496 chunk counters), last 0xEF = chunk 496: the 8-bit counter
// wrapped once after 0xFF". `chunks` is the number of chunk counters at the end of `codes`.
std::string post_code_text(const std::vector<std::uint8_t>& codes, std::uint32_t chunks);

}  // namespace rsim
