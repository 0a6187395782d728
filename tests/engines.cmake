# The two engines compared: the host build and the IA32 image (built by the ia32 preset, which
# `./project test` builds first) run the same scenarios on the simulated platform. Label "engines".
file(GLOB ENGINES_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/engines_*_test.cpp)
add_executable(engines_tests ${ENGINES_TESTS} ${CMAKE_CURRENT_SOURCE_DIR}/support/engines_comparison.cpp)
target_include_directories(engines_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(engines_tests PRIVATE rehearsal ffs hostile_run GTest::gtest GTest::gtest_main)
# The module fuzzer's committed inputs, replayed on the image.
target_compile_definitions(engines_tests PRIVATE FUZZ_MODULE_CORPUS="${PROJECT_SOURCE_DIR}/fuzz/corpus/module")
gtest_discover_tests(engines_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600 LABELS engines)
