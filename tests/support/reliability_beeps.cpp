// Expected beep sequences of a recovery.
#include "tests/support/reliability_beeps.h"

namespace testing_support {

std::vector<sim::BeepRequest> programming_beeps(int chunks) {
  constexpr int kChunksBeforeSkip = 0x170;  // 0xFFF70000 is chunk 368 of the window
  std::vector<sim::BeepRequest> v{kBeepHello, kBeepProgramming};
  for (int i = 0; i < chunks; i++) {
    int position = i < kChunksBeforeSkip ? i : i + 16;
    if (position % 16 == 0) v.push_back(kBeep64K);
  }
  return v;
}

}  // namespace testing_support
