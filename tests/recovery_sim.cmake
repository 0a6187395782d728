# recovery-sim driven as a user drives it: the binary is run with options and its exit status,
# output, report, flash image and WAV file are checked.
find_package(nlohmann_json REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(SNDFILE_TESTS REQUIRED IMPORTED_TARGET sndfile)

add_executable(recovery_sim_tests ${CMAKE_CURRENT_SOURCE_DIR}/cli/recovery_sim_cli.cpp)
target_include_directories(recovery_sim_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(recovery_sim_tests PRIVATE GTest::gtest GTest::gtest_main nlohmann_json::nlohmann_json
                      PkgConfig::SNDFILE_TESTS)
target_compile_definitions(recovery_sim_tests PRIVATE RECOVERY_SIM="$<TARGET_FILE:recovery-sim>")
add_dependencies(recovery_sim_tests recovery-sim)
gtest_discover_tests(recovery_sim_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 LABELS cli)

# A power-cut survey split into shards by GNU parallel and merged again.
add_test(NAME PowerCutSurvey.ShardsThroughGnuParallelMergeIntoTheWholeSurvey
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/power_cut_shards.sh $<TARGET_FILE:recovery-sim>)
set_tests_properties(PowerCutSurvey.ShardsThroughGnuParallelMergeIntoTheWholeSurvey PROPERTIES LABELS cli TIMEOUT 600)
