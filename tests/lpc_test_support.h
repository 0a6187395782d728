// Shared by the LPC tests: a scripted flash window that stands in for a part where a test needs
// exact control over what each load returns, and a compact text form of traced accesses.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "recovery/ModuleReset.h"
#include "sim/Platform.h"

namespace sim {

// Covers the top 8 MiB below 4 GiB. A load returns what `on_read` answers, else the byte last
// stored there (or preset in `cells`), else FFh. Loads are counted per byte, stores listed.
class ScriptedWindow : public MemHandler {
 public:
  std::uint32_t mem_read(std::uint32_t address, Width w) override {
    std::uint32_t value = 0;
    for (unsigned i = 0; i < static_cast<unsigned>(w); i++) {
      std::uint32_t a = address + i;
      reads[a]++;
      std::optional<std::uint8_t> byte = on_read ? on_read(a) : std::nullopt;
      if (!byte) byte = cells.count(a) ? cells[a] : 0xFF;
      value |= std::uint32_t{*byte} << (8 * i);
    }
    return value;
  }
  void mem_write(std::uint32_t address, Width, std::uint32_t value) override {
    stores.emplace_back(address, static_cast<std::uint8_t>(value));
    cells[address] = static_cast<std::uint8_t>(value);
  }

  std::function<std::optional<std::uint8_t>(std::uint32_t address)> on_read;
  std::map<std::uint32_t, std::uint8_t> cells;
  std::map<std::uint32_t, std::uint64_t> reads;
  std::vector<std::pair<std::uint32_t, std::uint8_t>> stores;
};

using Ops = std::vector<std::string>;

// "w8 fff05555 aa", "r16 ffbc0000": each traced access, without the value a load returned.
inline Ops ops(const BoundedTrace& trace) {
  Ops out;
  for (const Access& a : trace.accesses()) {
    char buf[40];
    unsigned bits = static_cast<unsigned>(a.width) * 8;
    if (a.write) {
      std::snprintf(buf, sizeof buf, "w%u %08x %02x", bits, a.address, a.value);
    } else {
      std::snprintf(buf, sizeof buf, "r%u %08x", bits, a.address);
    }
    out.push_back(buf);
  }
  return out;
}

// A platform with only the scripted window, tracing every access, and a freshly loaded module.
struct ScriptedRig {
  explicit ScriptedRig(std::size_t trace_capacity = 1 << 20) : trace(trace_capacity) {
    platform.map_mem(0xFF800000, 0x800000, &window, 1000);
    platform.set_trace(&trace);
    RecoveryModuleReset();
  }
  // Runs module calls; the trace then holds exactly what they did.
  EFI_STATUS run(const std::function<EFI_STATUS()>& body) {
    trace.clear();
    Outcome o = platform.run(body);
    EXPECT_EQ(o.kind, OutcomeKind::Returned) << o.to_string();
    return o.status;
  }

  Platform platform;
  ScriptedWindow window;
  BoundedTrace trace;
};

}  // namespace sim
