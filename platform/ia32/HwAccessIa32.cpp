// The seam on real hardware: x86 port instructions and volatile loads and stores, each emitted
// exactly once with the width asked for.
#include "platform/HwAccess.h"

extern "C" {

UINT8 IoRead8(UINT16 Port) {
  UINT8 Value;
  __asm__ __volatile__("inb %w1, %b0" : "=a"(Value) : "Nd"(Port) : "memory");
  return Value;
}

UINT16 IoRead16(UINT16 Port) {
  UINT16 Value;
  __asm__ __volatile__("inw %w1, %w0" : "=a"(Value) : "Nd"(Port) : "memory");
  return Value;
}

UINT32 IoRead32(UINT16 Port) {
  UINT32 Value;
  __asm__ __volatile__("inl %w1, %0" : "=a"(Value) : "Nd"(Port) : "memory");
  return Value;
}

void IoWrite8(UINT16 Port, UINT8 Value) {
  __asm__ __volatile__("outb %b0, %w1" : : "a"(Value), "Nd"(Port) : "memory");
}

void IoWrite16(UINT16 Port, UINT16 Value) {
  __asm__ __volatile__("outw %w0, %w1" : : "a"(Value), "Nd"(Port) : "memory");
}

void IoWrite32(UINT16 Port, UINT32 Value) {
  __asm__ __volatile__("outl %0, %w1" : : "a"(Value), "Nd"(Port) : "memory");
}

UINT8 MmioRead8(UINT32 Address) { return *(volatile UINT8*)(UINTN)Address; }
UINT16 MmioRead16(UINT32 Address) { return *(volatile UINT16*)(UINTN)Address; }
UINT32 MmioRead32(UINT32 Address) { return *(volatile UINT32*)(UINTN)Address; }
void MmioWrite8(UINT32 Address, UINT8 Value) { *(volatile UINT8*)(UINTN)Address = Value; }
void MmioWrite16(UINT32 Address, UINT16 Value) { *(volatile UINT16*)(UINTN)Address = Value; }
void MmioWrite32(UINT32 Address, UINT32 Value) { *(volatile UINT32*)(UINTN)Address = Value; }

void CpuPause(void) { __asm__ __volatile__("pause" : : : "memory"); }

}  // extern "C"
