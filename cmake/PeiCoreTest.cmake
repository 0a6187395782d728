# The firmware files for a PEI core (FlashRecovery.ffs, and the test harness PEIM's file) and the
# CTest scenarios (label pei-core) in which OVMF's own PEI core dispatches them under QEMU.
# Included from Ia32Image.cmake.
include(ExternalProject)

# make-peim-ffs is a host program: built here by the host compiler as a small project of its own.
set(PEIM_FFS_TOOL ${CMAKE_BINARY_DIR}/host-tools/make-peim-ffs)
ExternalProject_Add(
  host_make_peim_ffs
  SOURCE_DIR ${PROJECT_SOURCE_DIR}/tools/ffs
  BINARY_DIR ${CMAKE_BINARY_DIR}/host-tools
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER_LAUNCHER=$ENV{CMAKE_CXX_COMPILER_LAUNCHER}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${PEIM_FFS_TOOL})

# A PEIM firmware file from a PE32 image: make_peim_file(TARGET IMAGE OUT [make-peim-ffs options]).
function(make_peim_file target image out)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${PEIM_FFS_TOOL} ${image} ${out} ${ARGN}
    DEPENDS ${image} ${PEIM_FFS_TOOL} host_make_peim_ffs
    COMMENT "Packaging ${out}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${out})
endfunction()

set(RECOVERY_FFS ${CMAKE_BINARY_DIR}/FlashRecovery.ffs)
make_peim_file(recovery_peim_file ${IA32_IMAGE} ${RECOVERY_FFS} --checksum)

# The harness PEIM (pei-core/): test code, built with the module's compiler flags and linker.
set(HARNESS_IMAGE ${CMAKE_BINARY_DIR}/pei-core/PeiCoreHarness.efi)
set(HARNESS_FFS ${CMAKE_BINARY_DIR}/pei-core/PeiCoreHarness.ffs)
file(GLOB HARNESS_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/pei-core/*.cpp)
add_library(pei_core_harness OBJECT ${HARNESS_SOURCES})
target_include_directories(pei_core_harness PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(pei_core_harness PRIVATE ${IA32_MODULE_FLAGS} -Werror=global-constructors)
add_custom_command(
  OUTPUT ${HARNESS_IMAGE}
  COMMAND ${RECOVERY_LLD_LINK} /nologo /subsystem:efi_boot_service_driver /entry:HarnessEntry /nodefaultlib
          /dynamicbase /driver /base:0 /align:32 /filealign:32 /timestamp:0 /out:${HARNESS_IMAGE}
          $<TARGET_OBJECTS:pei_core_harness>
  DEPENDS $<TARGET_OBJECTS:pei_core_harness>
  COMMENT "Linking the PEI-core test harness PeiCoreHarness.efi"
  COMMAND_EXPAND_LISTS VERBATIM)
# Dispatched once memory is installed, so that the core runs it from RAM; its own file name.
make_peim_file(pei_core_harness_file ${HARNESS_IMAGE} ${HARNESS_FFS} --depex memory --name PeiCoreHarness
               --guid 5E0C8C11-0F4A-4D53-9B6E-51454D552002)

# The firmware with both files in its PEI volume is made once per test run (fixture); each scenario
# then boots it. Both skip (status 77) with one line when OVMF or QEMU is missing.
set(PEI_CORE_RUNS ${CMAKE_BINARY_DIR}/pei-core/runs)
add_test(NAME pei_core_firmware COMMAND bash ${PROJECT_SOURCE_DIR}/pei-core/run-scenario firmware ${PEI_CORE_RUNS}
                                        ${HARNESS_FFS} ${RECOVERY_FFS})
set_tests_properties(pei_core_firmware PROPERTIES LABELS pei-core SKIP_RETURN_CODE 77 TIMEOUT 120
                                                  FIXTURES_SETUP pei_core_firmware)
foreach(scenario no-recovery-ppi short-capsule load-fails normal-boot)
  string(REPLACE "-" "_" test_name "pei_core_${scenario}")
  add_test(NAME ${test_name} COMMAND bash ${PROJECT_SOURCE_DIR}/pei-core/run-scenario ${scenario} ${PEI_CORE_RUNS})
  set_tests_properties(${test_name} PROPERTIES LABELS pei-core SKIP_RETURN_CODE 77 TIMEOUT 120
                                               FIXTURES_REQUIRED pei_core_firmware)
endforeach()
add_test(NAME pei_core_insert_refusals COMMAND bash ${PROJECT_SOURCE_DIR}/pei-core/fv-insert-refusals
                                               ${PEI_CORE_RUNS}/refusals ${RECOVERY_FFS})
set_tests_properties(pei_core_insert_refusals PROPERTIES LABELS pei-core SKIP_RETURN_CODE 77 TIMEOUT 60)
