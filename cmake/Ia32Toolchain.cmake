# Cross-compiling the module for the IA32 PEIM image: clang for i686 with the PE/COFF object
# format, freestanding, and no C++ runtime. The image itself is linked by lld-link (Ia32Image.cmake).
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET i686-unknown-windows)
set(CMAKE_AR llvm-ar CACHE FILEPATH "")
set(CMAKE_RANLIB llvm-ranlib CACHE FILEPATH "")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# clang for this target identifies as simulating MSVC, for which CMake adds neither --target nor
# GNU-style flags, so the module's flags are spelled out here in full. They are applied to the module
# target by Ia32Image.cmake rather than through CMAKE_CXX_FLAGS, which an existing cache would keep
# stale after an edit here.
# -mno-sse -mno-mmx -mno-80387: PEI code may not touch FPU or vector state, so the compiler has no
#   floating-point registers at all; any floating-point use turns into calls to soft-float helpers
#   and a reference to __fltused, none of which exist, and the link fails.
# -mno-stack-arg-probe: no __chkstk calls for large frames (there is no runtime to provide it and
#   no guard page to probe in PEI).
# -fno-threadsafe-statics: no guard calls into a C++ runtime for function-local statics.
# -ffunction-sections -fdata-sections: lets the linker drop everything the entry point never reaches.
set(IA32_MODULE_FLAGS
    --target=i686-unknown-windows -ffreestanding -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -nostdlibinc -fno-stack-protector -mno-sse -mno-mmx -mno-80387 -mno-stack-arg-probe
    -fno-threadsafe-statics -ffunction-sections -fdata-sections -Os)
