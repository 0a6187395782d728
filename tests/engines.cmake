# The two engines compared: the host build and the IA32 image (built by the ia32 preset, which
# `./project test` builds first) run the same scenarios on the simulated platform. Label "engines".
file(GLOB ENGINES_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/engines_*_test.cpp)
add_executable(engines_tests ${ENGINES_TESTS} ${CMAKE_CURRENT_SOURCE_DIR}/support/engines_comparison.cpp)
target_include_directories(engines_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(engines_tests PRIVATE rehearsal ffs GTest::gtest GTest::gtest_main)
gtest_discover_tests(engines_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600 LABELS engines)
