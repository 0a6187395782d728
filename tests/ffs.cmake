# The firmware-file packaging suites link the packaging library and drive the make-peim-ffs tool.
target_link_libraries(unit_tests PRIVATE ffs)
add_dependencies(unit_tests make-peim-ffs)
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/ffs_tool_test.cpp PROPERTIES COMPILE_DEFINITIONS
  "MAKE_PEIM_FFS=\"$<TARGET_FILE:make-peim-ffs>\";IA32_PEIM_IMAGE=\"${PROJECT_SOURCE_DIR}/build/ia32/FlashRecovery.efi\"")
