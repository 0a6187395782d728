// Worker processes for surveys and campaigns: outputs come back whole and in job order whatever
// order the workers finish in, and a job that fails stops the run with its reason.
#include <gtest/gtest.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tools/recovery-sim/WorkerProcesses.h"

namespace {

TEST(WorkerProcesses, DeliversEveryOutputWholeAndInJobOrder) {
  std::vector<std::size_t> order;
  std::vector<std::string> outputs;
  rsim::run_in_workers(
      6,
      [](std::size_t i) {
        ::usleep(static_cast<useconds_t>((6 - i) * 20000));  // later jobs finish first
        // Job 2's output is larger than a pipe holds at once.
        return std::to_string(i) + std::string(i == 2 ? 300000 : 10, 'x');
      },
      [&](std::size_t i, const std::string& output) {
        order.push_back(i);
        outputs.push_back(output);
      },
      3);
  EXPECT_EQ(order, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5}));
  ASSERT_EQ(outputs.size(), 6u);
  EXPECT_EQ(outputs[2], "2" + std::string(300000, 'x'));
  EXPECT_EQ(outputs[5], "5" + std::string(10, 'x'));
}

TEST(WorkerProcesses, AJobThatThrowsEndsTheRunWithItsReason) {
  std::vector<std::size_t> delivered;
  try {
    rsim::run_in_workers(
        4,
        [](std::size_t i) -> std::string {
          if (i == 1) throw std::invalid_argument("no such part");
          return "ok";
        },
        [&](std::size_t i, const std::string&) { delivered.push_back(i); }, 1);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "no such part");
  }
  EXPECT_EQ(delivered, std::vector<std::size_t>{0});
}

}  // namespace
