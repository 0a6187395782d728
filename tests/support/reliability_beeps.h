// The beep patterns of a recovery as the speaker receives them, to compare whole sequences.
#pragma once

#include <vector>

#include "sim/pei/SpeakerModel.h"

namespace testing_support {

inline const sim::BeepRequest kBeepHello{1, 200000, 20000};
inline const sim::BeepRequest kBeepNoCapsule{3, 200000, 20000};
inline const sim::BeepRequest kBeepNoMemory{5, 50000, 20000};
inline const sim::BeepRequest kBeepLoadFailed{1, 100000, 20000};
inline const sim::BeepRequest kBeepNoPart{2, 200000, 20000};
inline const sim::BeepRequest kBeepTwoShort{2, 50000, 20000};
inline const sim::BeepRequest kBeepProgramming{1, 100000, 100000};
inline const sim::BeepRequest kBeep64K{1, 100000, 20000};
inline const sim::BeepRequest kBeepFlashFailed{3, 50000, 20000};
inline const sim::BeepRequest kBeepComplete{2, 200000, 20000};

// Hello, programming start and the 64 KiB beeps of the first `chunks` chunks (the chunk at the
// preserved block's address beeps before it is moved past the block).
std::vector<sim::BeepRequest> programming_beeps(int chunks);

}  // namespace testing_support
