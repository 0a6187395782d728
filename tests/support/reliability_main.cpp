// Test main of the reliability executables: property tests run 16 cases unless RC_PARAMS says
// otherwise, so that a whole-recovery property stays within the CI time budget.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  setenv("RC_PARAMS", "max_success=16", 0);  // 0: an RC_PARAMS already set wins
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
