// The test kernel's own port and memory access (it never uses the module's seam): in/out and
// volatile loads and stores for the harness's setup, reports and the debug ports.
#pragma once

#include <stdint.h>

namespace harness {

inline uint8_t port_in8(uint16_t port) {
  uint8_t value;
  __asm__ __volatile__("inb %w1, %b0" : "=a"(value) : "Nd"(port) : "memory");
  return value;
}

inline uint32_t port_in32(uint16_t port) {
  uint32_t value;
  __asm__ __volatile__("inl %w1, %0" : "=a"(value) : "Nd"(port) : "memory");
  return value;
}

inline void port_out8(uint16_t port, uint8_t value) {
  __asm__ __volatile__("outb %b0, %w1" : : "a"(value), "Nd"(port) : "memory");
}

inline void port_out16(uint16_t port, uint16_t value) {
  __asm__ __volatile__("outw %w0, %w1" : : "a"(value), "Nd"(port) : "memory");
}

inline void port_out32(uint16_t port, uint32_t value) {
  __asm__ __volatile__("outl %0, %w1" : : "a"(value), "Nd"(port) : "memory");
}

inline uint32_t mmio_read32(uint32_t address) { return *reinterpret_cast<volatile uint32_t*>(address); }
inline uint16_t mmio_read16(uint32_t address) { return *reinterpret_cast<volatile uint16_t*>(address); }
inline uint8_t mmio_read8(uint32_t address) { return *reinterpret_cast<volatile uint8_t*>(address); }
inline void mmio_write32(uint32_t address, uint32_t value) {
  *reinterpret_cast<volatile uint32_t*>(address) = value;
}

}  // namespace harness
