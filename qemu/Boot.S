// Multiboot entry of the QEMU test kernel, table loading, the trap entry stubs, and the switch
// to user privilege that the module runs at.

.set MULTIBOOT_MAGIC, 0x1BADB002
.set MULTIBOOT_FLAGS, 0x00000003  // modules page-aligned, memory information wanted
.set KERNEL_CODE, 0x08
.set KERNEL_DATA, 0x10
.set USER_CODE, 0x1B
.set USER_DATA, 0x23
.set USER_EFLAGS, 0x202  // interrupts on (the watchdog), I/O privilege level 0: the TSS bitmap decides

.section .multiboot, "a"
.align 4
.long MULTIBOOT_MAGIC, MULTIBOOT_FLAGS, -(MULTIBOOT_MAGIC + MULTIBOOT_FLAGS)

.section .bss
.align 16
.global kernel_stack_top
kernel_stack:
.skip 65536
kernel_stack_top:

.section .text
.global _start
_start:
  cli
  cld
  mov $kernel_stack_top, %esp
  push %ebx  // multiboot information
  push %eax  // loader magic
  call kernel_main
1:
  hlt
  jmp 1b

// void load_tables(const void* gdt_descriptor, const void* idt_descriptor, uint16_t task_state)
.global load_tables
load_tables:
  mov 4(%esp), %eax
  lgdt (%eax)
  ljmp $KERNEL_CODE, $2f
2:
  mov $KERNEL_DATA, %ax
  mov %ax, %ds
  mov %ax, %es
  mov %ax, %fs
  mov %ax, %gs
  mov %ax, %ss
  mov 8(%esp), %eax
  lidt (%eax)
  mov 12(%esp), %eax
  ltr %ax
  ret

// Every vector pushes an error code (the processor's, or 0) and its number, so that all frames
// look alike to trap_dispatch.
.macro TRAP vector, has_error_code
trap_\vector:
.if \has_error_code == 0
  push $0
.endif
  push $\vector
  jmp trap_common
.endm

TRAP 0, 0
TRAP 1, 0
TRAP 2, 0
TRAP 3, 0
TRAP 4, 0
TRAP 5, 0
TRAP 6, 0
TRAP 7, 0
TRAP 8, 1
TRAP 9, 0
TRAP 10, 1
TRAP 11, 1
TRAP 12, 1
TRAP 13, 1
TRAP 14, 1
TRAP 15, 0
TRAP 16, 0
TRAP 17, 1
TRAP 18, 0
TRAP 19, 0
TRAP 20, 0
TRAP 21, 1
TRAP 22, 0
TRAP 23, 0
TRAP 24, 0
TRAP 25, 0
TRAP 26, 0
TRAP 27, 0
TRAP 28, 0
TRAP 29, 1
TRAP 30, 1
TRAP 31, 0
TRAP 32, 0
TRAP 128, 0

trap_common:
  pusha
  cld
  push %esp  // TrapFrame*
  call trap_dispatch
  add $4, %esp
  popa
  add $8, %esp  // vector and error code
  iret

.section .rodata
.align 4
.global trap_entry_table
trap_entry_table:
.irp vector, 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31,32,128
  .long trap_\vector
.endr

.section .text
// void enter_user_mode(uint32_t entry, uint32_t user_stack)
.global enter_user_mode
enter_user_mode:
  mov 4(%esp), %ecx
  mov 8(%esp), %edx
  mov $USER_DATA, %ax
  mov %ax, %ds
  mov %ax, %es
  mov %ax, %fs
  mov %ax, %gs
  push $USER_DATA
  push %edx
  push $USER_EFLAGS
  push $USER_CODE
  push %ecx
  xor %eax, %eax
  xor %ebx, %ebx
  xor %ecx, %ecx
  xor %edx, %edx
  xor %esi, %esi
  xor %edi, %edi
  xor %ebp, %ebp
  iret

// RecoveryEntry returns here (at user privilege) with its status in EAX.
.global user_return_stub
user_return_stub:
  int $0x80
3:
  jmp 3b
