# Reliability: power-cut, injected-fault, bad-input and property campaigns. They run whole
# recoveries, so they live in their own executables (label "reliability" or "property") that a
# sanitizer CI run can skip with `ctest -LE reliability`. The long power-cut campaign is a
# separate program, not registered with CTest.
find_package(rapidcheck REQUIRED)

set(RELIABILITY_DIR ${CMAKE_CURRENT_SOURCE_DIR})
file(GLOB RELIABILITY_TESTS CONFIGURE_DEPENDS ${RELIABILITY_DIR}/reliability_*_test.cpp)
file(GLOB PROPERTY_TESTS CONFIGURE_DEPENDS ${RELIABILITY_DIR}/property_*_test.cpp)
file(GLOB RELIABILITY_SUPPORT CONFIGURE_DEPENDS ${RELIABILITY_DIR}/support/reliability_*.cpp)
set(RELIABILITY_CAMPAIGN_MAIN ${RELIABILITY_DIR}/support/reliability_campaign_main.cpp)
set(RELIABILITY_TEST_MAIN ${RELIABILITY_DIR}/support/reliability_main.cpp)
list(REMOVE_ITEM RELIABILITY_SUPPORT ${RELIABILITY_CAMPAIGN_MAIN} ${RELIABILITY_TEST_MAIN})

add_library(reliability_support STATIC ${RELIABILITY_SUPPORT} ${RELIABILITY_DIR}/support/spi_rig.cpp)
target_include_directories(reliability_support PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(reliability_support PUBLIC rehearsal sim recovery_module)

# Whole recoveries under power cuts and injected faults, and the descriptor property.
set(RECOVERY_PROPERTY_TESTS ${RELIABILITY_DIR}/property_writable_window_test.cpp)
add_executable(reliability_tests ${RELIABILITY_TESTS} ${RECOVERY_PROPERTY_TESTS} ${RELIABILITY_TEST_MAIN})
target_link_libraries(reliability_tests PRIVATE reliability_support rapidcheck rapidcheck_gtest GTest::gtest)
# Digests of whole recoveries recorded from an earlier build (reliability_trace_digest_test.cpp).
target_compile_definitions(reliability_tests PRIVATE TRACE_DIGESTS_FILE="${RELIABILITY_DIR}/data/trace_digests.txt")
gtest_discover_tests(reliability_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600 LABELS reliability)

# Properties of single routines (timer, detection): cheap, no whole recovery.
set(ROUTINE_PROPERTY_TESTS ${PROPERTY_TESTS})
list(REMOVE_ITEM ROUTINE_PROPERTY_TESTS ${RECOVERY_PROPERTY_TESTS})
add_executable(property_tests ${ROUTINE_PROPERTY_TESTS} ${RELIABILITY_TEST_MAIN})
target_link_libraries(property_tests PRIVATE reliability_support rapidcheck rapidcheck_gtest GTest::gtest)
gtest_discover_tests(property_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 LABELS property)

# The long power-cut campaign: `power_cut_campaign --seed N --points M [--platform NAME]`.
add_executable(power_cut_campaign ${RELIABILITY_CAMPAIGN_MAIN})
target_link_libraries(power_cut_campaign PRIVATE reliability_support)
