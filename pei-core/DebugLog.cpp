// Writes the harness's log one character at a time to the debug port, which QEMU copies to a file.
#include "pei-core/DebugLog.h"

#include "qemu/PortIo.h"

namespace harness {
namespace {

constexpr uint16_t kDebugPort = 0x402;
constexpr uint16_t kExitPort = 0xF4;

void put(char c) { port_out8(kDebugPort, static_cast<uint8_t>(c)); }

}  // namespace

LogLine::~LogLine() { put('\n'); }

LogLine& LogLine::operator<<(const char* text) {
  while (*text != '\0') put(*text++);
  return *this;
}

LogLine& LogLine::operator<<(uint32_t decimal) {
  char digits[10];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + decimal % 10);
    decimal /= 10;
  } while (decimal != 0);
  while (count > 0) put(digits[--count]);
  return *this;
}

LogLine& LogLine::hex(uint32_t value) {
  put('0');
  put('x');
  for (int shift = 28; shift >= 0; shift -= 4) put("0123456789ABCDEF"[(value >> shift) & 0xF]);
  return *this;
}

void exit_qemu(uint8_t code) {
  port_out8(kExitPort, code);
  for (;;) {
  }
}

}  // namespace harness
