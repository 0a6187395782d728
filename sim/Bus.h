// What a simulated device offers the bus: port and memory handlers, the access widths, and the
// record of one access as the trace keeps it.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

using Nanos = std::uint64_t;

enum class Width : std::uint8_t { Byte = 1, Word = 2, Dword = 4 };

constexpr std::uint32_t all_ones(Width w) { return 0xFFFFFFFFu >> (32 - 8 * static_cast<unsigned>(w)); }

// A device's face on the I/O port bus. `port` is the first port of the access.
class IoHandler {
 public:
  virtual ~IoHandler() = default;
  virtual std::uint32_t io_read(std::uint16_t port, Width w) = 0;
  virtual void io_write(std::uint16_t port, Width w, std::uint32_t value) = 0;
};

// A device's face on the physical memory bus. `address` is the first byte of the access.
class MemHandler {
 public:
  virtual ~MemHandler() = default;
  virtual std::uint32_t mem_read(std::uint32_t address, Width w) = 0;
  virtual void mem_write(std::uint32_t address, Width w, std::uint32_t value) = 0;
};

enum class Space : std::uint8_t { Io, Mem };

struct Access {
  std::uint64_t index = 0;  // 1-based count of the platform's hardware accesses (across runs)
  Nanos time = 0;           // simulated time at which the access started
  Space space = Space::Io;
  bool write = false;
  Width width = Width::Byte;
  std::uint32_t address = 0;
  std::uint32_t value = 0;  // value written, or value returned by the read
};

// "io write 8 0x0080 = 0x41" style, as in traces and hang reports.
std::string describe(const Access& a);

}  // namespace sim
