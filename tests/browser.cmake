# recovery-sim's --html pages opened in Debian's headless Chromium, offline: the map, the beeps and
# the outcome against the JSON report, no fetch and no console message, not blank, not too wide.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME BrowserPages
         COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/browser/check_pages.py $<TARGET_FILE:recovery-sim>)
set_tests_properties(BrowserPages PROPERTIES LABELS browser SKIP_RETURN_CODE 77 TIMEOUT 120)
