// GDT, TSS with its I/O permission bitmap, and IDT.
#include "qemu/CpuTables.h"

#include "qemu/Watchdog.h"

extern "C" {
// Boot.S: entry stubs of vectors 0-31, the timer vector's, then the return vector's.
extern const uint32_t trap_entry_table[34];
void load_tables(const void* gdt_descriptor, const void* idt_descriptor, uint16_t task_state);
}

namespace harness {

namespace {

struct __attribute__((packed)) TableDescriptor {
  uint16_t limit;
  uint32_t base;
};

// A 32-bit task-state segment followed by the I/O permission bitmap: one bit per port, 1 = trap,
// and the all-ones byte the processor requires after the last bitmap byte.
struct __attribute__((packed)) TaskState {
  uint32_t fields[25];  // back link to LDT; only esp0 and ss0 matter here
  uint16_t trap_flag;
  uint16_t bitmap_offset;
  uint8_t bitmap[0x10000 / 8];
  uint8_t bitmap_end;
};
constexpr uint32_t kEsp0 = 1;
constexpr uint32_t kSs0 = 2;
static_assert(__builtin_offsetof(TaskState, bitmap) == 104, "the bitmap follows the 104-byte TSS");

uint64_t gdt[6];
uint64_t idt[256];
TaskState task_state;

uint64_t segment(uint32_t base, uint32_t limit, uint8_t access, uint8_t flags) {
  return (limit & 0xFFFFull) | (static_cast<uint64_t>(base & 0xFFFFFF) << 16) |
         (static_cast<uint64_t>(access) << 40) | (static_cast<uint64_t>((limit >> 16) & 0xF) << 48) |
         (static_cast<uint64_t>(flags & 0xF) << 52) | (static_cast<uint64_t>(base >> 24) << 56);
}

// An interrupt gate (interrupts stay off in the handler) into the kernel code segment.
uint64_t gate(uint32_t handler, uint8_t privilege) {
  uint8_t access = static_cast<uint8_t>(0x8E | (privilege << 5));
  return (handler & 0xFFFFull) | (static_cast<uint64_t>(kKernelCode) << 16) |
         (static_cast<uint64_t>(access) << 40) | (static_cast<uint64_t>(handler >> 16) << 48);
}

}  // namespace

void cpu_tables_init(uint32_t kernel_stack_top, bool (*trapped_port)(uint16_t)) {
  constexpr uint8_t kPresent = 0x80;
  constexpr uint8_t kUser = 0x60;
  constexpr uint8_t kCodeReadable = 0x1A;
  constexpr uint8_t kDataWritable = 0x12;
  constexpr uint8_t kAvailableTss = 0x09;
  constexpr uint8_t kPageGranular32 = 0xC;
  gdt[0] = 0;
  gdt[kKernelCode / 8] = segment(0, 0xFFFFF, kPresent | kCodeReadable, kPageGranular32);
  gdt[kKernelData / 8] = segment(0, 0xFFFFF, kPresent | kDataWritable, kPageGranular32);
  gdt[kUserCode / 8] = segment(0, 0xFFFFF, kPresent | kUser | kCodeReadable, kPageGranular32);
  gdt[kUserData / 8] = segment(0, 0xFFFFF, kPresent | kUser | kDataWritable, kPageGranular32);
  gdt[kTaskState / 8] =
      segment(reinterpret_cast<uint32_t>(&task_state), sizeof(TaskState) - 1, kPresent | kAvailableTss, 0);

  task_state.fields[kEsp0] = kernel_stack_top;
  task_state.fields[kSs0] = kKernelData;
  task_state.bitmap_offset = __builtin_offsetof(TaskState, bitmap);
  for (uint32_t port = 0; port < 0x10000; port++) {
    if (trapped_port(static_cast<uint16_t>(port))) {
      task_state.bitmap[port / 8] |= static_cast<uint8_t>(1u << (port % 8));
    }
  }
  task_state.bitmap_end = 0xFF;

  for (uint32_t vector = 0; vector < 32; vector++) {
    idt[vector] = gate(trap_entry_table[vector], 0);
  }
  idt[kTimerVector] = gate(trap_entry_table[32], 0);
  // The only gate user code may raise itself.
  idt[kReturnVector] = gate(trap_entry_table[33], 3);

  static TableDescriptor gdt_descriptor;
  static TableDescriptor idt_descriptor;
  gdt_descriptor = {sizeof(gdt) - 1, reinterpret_cast<uint32_t>(gdt)};
  idt_descriptor = {sizeof(idt) - 1, reinterpret_cast<uint32_t>(idt)};
  load_tables(&gdt_descriptor, &idt_descriptor, kTaskState);
}

}  // namespace harness
