# The commands in README.md and docs/: rehearsals and packaging runs are run, builds and test runs
# checked (presets, project commands, paths), so that no documented command names a missing path.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME DocCommands
         COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/docs/check_doc_commands.py ${PROJECT_SOURCE_DIR}
                 $<TARGET_FILE:recovery-sim>)
set_tests_properties(DocCommands PROPERTIES LABELS cli SKIP_RETURN_CODE 77 TIMEOUT 600)
