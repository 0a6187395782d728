# The module linked into the IA32 PEIM image FlashRecovery.efi (PE32, i386, EFI boot service
# driver, entered at RecoveryEntry), its section report and size budget, and the CTest check of it.
find_program(RECOVERY_LLD_LINK lld-link REQUIRED)
find_program(RECOVERY_LLVM_READOBJ llvm-readobj REQUIRED)
find_program(RECOVERY_LLVM_SIZE llvm-size REQUIRED)
find_program(RECOVERY_LLVM_OBJDUMP llvm-objdump REQUIRED)

# The image's size budget, in bytes of file: 12 KiB.
set(IA32_IMAGE_BUDGET 12288)

file(GLOB IA32_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/platform/ia32/*.cpp)
add_library(recovery_module_ia32 OBJECT ${MODULE_SOURCES} ${IA32_SOURCES})
target_include_directories(recovery_module_ia32 PRIVATE ${PROJECT_SOURCE_DIR})
# The cross flags (Ia32Toolchain.cmake), and static constructors and destructors refused at
# compile time: nothing in PEI would ever run them.
target_compile_options(recovery_module_ia32 PRIVATE ${IA32_MODULE_FLAGS} -Werror=global-constructors
                                                    -Werror=exit-time-destructors)

set(IA32_IMAGE ${CMAKE_BINARY_DIR}/FlashRecovery.efi)
set(IA32_MAP ${CMAKE_BINARY_DIR}/FlashRecovery.map)
# /base:0 and /dynamicbase with base relocations: the PEI core loads the image wherever it has
#   memory and relocates it.
# /align:32 /filealign:32: sections laid out in the file as in memory, without page padding.
#   (/driver only silences lld-link's warning that small section alignment is meant for drivers.)
# /timestamp:0: the same objects always give the same image.
# /opt:ref drops unreferenced functions and data. Identical-code folding stays off: functions whose
#   addresses fill the device operation tables keep distinct addresses.
add_custom_command(
  OUTPUT ${IA32_IMAGE} ${IA32_MAP}
  COMMAND ${RECOVERY_LLD_LINK} /nologo /subsystem:efi_boot_service_driver /entry:RecoveryEntry
          /nodefaultlib /dynamicbase /driver /base:0 /align:32 /filealign:32 /timestamp:0 /opt:ref
          /opt:noicf /out:${IA32_IMAGE} /map:${IA32_MAP} $<TARGET_OBJECTS:recovery_module_ia32>
  DEPENDS $<TARGET_OBJECTS:recovery_module_ia32>
  COMMENT "Linking the IA32 PEIM image FlashRecovery.efi"
  COMMAND_EXPAND_LISTS VERBATIM)

set(IA32_CHECK_COMMAND
    ${CMAKE_COMMAND} -DIMAGE=${IA32_IMAGE} -DMAP=${IA32_MAP} -DBUDGET=${IA32_IMAGE_BUDGET}
    -DREADOBJ=${RECOVERY_LLVM_READOBJ} -DSIZE=${RECOVERY_LLVM_SIZE} -DOBJDUMP=${RECOVERY_LLVM_OBJDUMP}
    -P ${PROJECT_SOURCE_DIR}/cmake/Ia32ImageCheck.cmake)
# The build prints the sections and fails when the image breaks a rule or the budget; the stamp is
# written only after the check passes, so a failing image is checked again on the next build.
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/FlashRecovery.checked
  COMMAND ${IA32_CHECK_COMMAND}
  COMMAND ${CMAKE_COMMAND} -E touch ${CMAKE_BINARY_DIR}/FlashRecovery.checked
  DEPENDS ${IA32_IMAGE} ${IA32_MAP} ${PROJECT_SOURCE_DIR}/cmake/Ia32ImageCheck.cmake
  COMMENT "Checking FlashRecovery.efi"
  VERBATIM)
add_custom_target(recovery_peim_image ALL DEPENDS ${CMAKE_BINARY_DIR}/FlashRecovery.checked)

enable_testing()
add_test(NAME ia32_image_headers COMMAND ${IA32_CHECK_COMMAND})
# The same check against a budget the image cannot meet must report the overrun.
list(TRANSFORM IA32_CHECK_COMMAND REPLACE "^-DBUDGET=.*" "-DBUDGET=1024" OUTPUT_VARIABLE IA32_TIGHT_CHECK)
add_test(NAME ia32_image_budget_enforced COMMAND ${IA32_TIGHT_CHECK})
set_tests_properties(ia32_image_budget_enforced PROPERTIES PASS_REGULAR_EXPRESSION
                     "image is [0-9]+ bytes, over the 1024-byte budget")
include(cmake/QemuKernel.cmake)
include(cmake/PeiCoreTest.cmake)
