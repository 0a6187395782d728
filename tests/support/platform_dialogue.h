// Folds the accesses of a run into the platform dialogue a reader can check line by line:
// embedded-controller commands, register reads and writes (repeated polls folded into one line
// with a count), PCI configuration accesses and stalls. Records as the run goes, so that runs with
// millions of timer reads need no stored trace.
#pragma once

#include <string>
#include <vector>

#include "sim/Platform.h"

namespace testing_support {

class DialogueRecorder : public sim::TraceSink {
 public:
  void record(const sim::Access& a) override;
  // The lines, with fold counts (" xN") removed when `with_counts` is false.
  std::vector<std::string> lines(bool with_counts = false) const;
  // Accesses to these ports at another width than the hardware's (8-bit EC and CMOS ports and
  // CONFIG_DATA byte, 32-bit CONFIG_ADDRESS and PM timer).
  int width_violations() const { return width_violations_; }

 private:
  void emit(const std::string& line);

  std::vector<std::string> lines_;
  std::vector<int> counts_;
  unsigned ec_index_ = 0;
  unsigned pending_command_ = 0;
  int width_violations_ = 0;
};

}  // namespace testing_support
