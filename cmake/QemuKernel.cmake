# The QEMU test kernel (qemu/): a 32-bit multiboot ELF that runs the IA32 PEIM image on QEMU's q35
# machine, and the CTest scenarios (label qemu) that run it. Included from Ia32Image.cmake.
find_program(RECOVERY_LD_LLD ld.lld REQUIRED)

# The kernel is freestanding like the module, but an ELF program for QEMU's multiboot loader rather
# than a PE32 image, so it is compiled and linked here with explicit flags and its own target.
set(QEMU_KERNEL_DIR ${CMAKE_BINARY_DIR}/qemu-kernel)
set(QEMU_KERNEL ${CMAKE_BINARY_DIR}/qemu-test-kernel.elf)
set(QEMU_KERNEL_COMMON_FLAGS --target=i686-unknown-none-elf -ffreestanding -fno-pic -mno-sse -mno-mmx -mno-80387 -g
                             -I${PROJECT_SOURCE_DIR})
set(QEMU_KERNEL_CXX_FLAGS
    ${QEMU_KERNEL_COMMON_FLAGS} -std=c++20 -O2 -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -nostdlibinc -fno-stack-protector -fno-threadsafe-statics ${RECOVERY_WARNING_FLAGS} -Werror=global-constructors)

file(GLOB QEMU_KERNEL_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/qemu/*.cpp ${PROJECT_SOURCE_DIR}/qemu/*.S)
set(QEMU_KERNEL_OBJECTS "")
foreach(source ${QEMU_KERNEL_SOURCES})
  get_filename_component(name ${source} NAME)
  set(object ${QEMU_KERNEL_DIR}/${name}.o)
  if(source MATCHES "\\.S$")
    set(flags ${QEMU_KERNEL_COMMON_FLAGS})
  else()
    set(flags ${QEMU_KERNEL_CXX_FLAGS})
  endif()
  add_custom_command(
    OUTPUT ${object}
    COMMAND ${CMAKE_CXX_COMPILER} ${flags} -MD -MF ${object}.d -c ${source} -o ${object}
    DEPENDS ${source}
    DEPFILE ${object}.d
    COMMENT "QEMU test kernel: compiling ${name}"
    COMMAND_EXPAND_LISTS VERBATIM)
  list(APPEND QEMU_KERNEL_OBJECTS ${object})
endforeach()

add_custom_command(
  OUTPUT ${QEMU_KERNEL}
  COMMAND ${RECOVERY_LD_LLD} -m elf_i386 -static -nostdlib -T ${PROJECT_SOURCE_DIR}/qemu/Kernel.ld -o ${QEMU_KERNEL}
          ${QEMU_KERNEL_OBJECTS}
  DEPENDS ${QEMU_KERNEL_OBJECTS} ${PROJECT_SOURCE_DIR}/qemu/Kernel.ld
  COMMENT "Linking the QEMU test kernel"
  COMMAND_EXPAND_LISTS VERBATIM)
add_custom_target(qemu_test_kernel ALL DEPENDS ${QEMU_KERNEL})

# Each scenario boots QEMU once with the image built above. The driver skips (status 77) with a
# message when qemu-system-i386 or SeaBIOS is missing when the test runs; it installs nothing.
find_program(RECOVERY_QEMU qemu-system-i386)
find_file(RECOVERY_SEABIOS bios-256k.bin PATHS /usr/share/seabios /usr/share/qemu NO_DEFAULT_PATH)
if(NOT RECOVERY_QEMU OR NOT RECOVERY_SEABIOS)
  message(STATUS "QEMU tests (label qemu) will be skipped: qemu-system-i386 or SeaBIOS not found "
                 "(Debian: apt-get install --no-install-recommends qemu-system-x86 seabios)")
endif()
foreach(scenario fwh-first-row fwh-other-row no-part cmos-kbc stall-across-wrap)
  string(REPLACE "-" "_" test_name "qemu_${scenario}")
  add_test(NAME ${test_name}
           COMMAND bash ${PROJECT_SOURCE_DIR}/qemu/run-scenario ${scenario} ${QEMU_KERNEL} ${IA32_IMAGE}
                   ${CMAKE_BINARY_DIR}/qemu-runs/${scenario})
  set_tests_properties(${test_name} PROPERTIES LABELS qemu SKIP_RETURN_CODE 77 TIMEOUT 90)
endforeach()
