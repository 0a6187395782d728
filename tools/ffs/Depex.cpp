// Dependency-expression encoding: the PI opcodes PUSH (0x02, then a GUID), AND (0x03), TRUE (0x06)
// and END (0x08), in the postfix order the PEI core's evaluator expects.
#include "tools/ffs/Depex.h"

#include <algorithm>
#include <string>

#include "tools/ffs/FfsError.h"
#include "tools/ffs/Guid.h"

namespace packaging {
namespace {

constexpr uint8_t kOpPush = 0x02;
constexpr uint8_t kOpAnd = 0x03;
constexpr uint8_t kOpTrue = 0x06;
constexpr uint8_t kOpEnd = 0x08;

struct NamedPpi {
  std::string_view name;
  Guid guid;
};

constexpr NamedPpi kPpis[] = {
    {"recovery-mode",   {0x17EE496A, 0xD8E4, 0x4B9A, {0x94, 0xD1, 0xCE, 0x82, 0x72, 0x30, 0x08, 0x50}}},
    {"memory",          {0xF894643D, 0xC449, 0x42D1, {0x8E, 0xA8, 0x85, 0xBD, 0xD8, 0xC6, 0x5B, 0xDE}}},
    {"device-recovery", {0x0DE2CE25, 0x446A, 0x45A7, {0xBF, 0xC9, 0x37, 0xDA, 0x26, 0x34, 0x4B, 0x37}}},
};

const Guid& ppi_named(std::string_view name) {
  for (const NamedPpi& ppi : kPpis) {
    if (ppi.name == name) return ppi.guid;
  }
  throw FfsError("unknown dependency \"" + std::string(name) +
                 "\" (expected true or names joined by '+': " + kDepexNames + ")");
}

}  // namespace

std::vector<uint8_t> encode_depex(std::string_view text) {
  if (text == "true") return {kOpTrue, kOpEnd};
  std::vector<uint8_t> code;
  std::vector<std::string_view> seen;
  size_t from = 0;
  while (true) {
    const size_t plus = text.find('+', from);
    const std::string_view name = text.substr(from, plus == std::string_view::npos ? plus : plus - from);
    const Guid& guid = ppi_named(name);
    if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
      throw FfsError("dependency \"" + std::string(name) + "\" is named twice");
    }
    seen.push_back(name);
    code.push_back(kOpPush);
    const auto bytes = guid_bytes(guid);
    code.insert(code.end(), bytes.begin(), bytes.end());
    if (seen.size() > 1) code.push_back(kOpAnd);
    if (plus == std::string_view::npos) break;
    from = plus + 1;
  }
  code.push_back(kOpEnd);
  return code;
}

}  // namespace packaging
