// POST code summary text.
#include "tools/recovery-sim/PostCodeText.h"

#include "tools/recovery-sim/Report.h"

namespace rsim {

namespace {

std::string counted(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string post_code_text(const std::vector<std::uint8_t>& codes, std::uint32_t chunks) {
  std::string s = std::to_string(codes.size()) + " written";
  if (codes.empty()) return s;
  // Everything before the first chunk counter is an SPI probe marker (0x41).
  s += " (" + counted(codes.size() - chunks, "probe marker", "probe markers") + ", " +
       counted(chunks, "chunk counter", "chunk counters");
  s += "), last " + hex(codes.back(), 2);
  // The counter is one byte: chunk 257 shows as 0x00 again.
  const std::uint32_t wraps = chunks == 0 ? 0 : (chunks - 1) / 256;
  if (wraps != 0) {
    s += " = chunk " + std::to_string(chunks) + ": the 8-bit counter wrapped " +
         (wraps == 1 ? std::string("once") : std::to_string(wraps) + " times") + " after 0xFF";
  }
  return s;
}

}  // namespace rsim
