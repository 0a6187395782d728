# The module compiled freestanding for i686 against the real-hardware seam.
add_library(recovery_module_ia32 STATIC ${MODULE_SOURCES} ${PROJECT_SOURCE_DIR}/platform/ia32/HwAccessIa32.cpp)
target_include_directories(recovery_module_ia32 PRIVATE ${PROJECT_SOURCE_DIR})
