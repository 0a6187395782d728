// The beep patterns by which the recovery tells a listener where it is and what went wrong: count
// of beeps, each beep's duration and the silence after it, in microseconds.
#ifndef RECOVERY_BEEP_CODES_H_
#define RECOVERY_BEEP_CODES_H_

#include "pi/PiBase.h"

typedef struct {
  UINT32 Count;
  UINT32 Duration;
  UINT32 Interval;
} BeepPattern;

constexpr BeepPattern BEEP_SPEAKER_FOUND = {1, 200000, 20000};
constexpr BeepPattern BEEP_NO_CAPSULE = {3, 200000, 20000};  // also: capsule info failed or refused
constexpr BeepPattern BEEP_NO_MEMORY = {5, 50000, 20000};
constexpr BeepPattern BEEP_LOAD_FAILED = {1, 100000, 20000};
constexpr BeepPattern BEEP_TWO_SHORT = {2, 50000, 20000};  // follows the load and detection failures
constexpr BeepPattern BEEP_NO_FLASH_PART = {2, 200000, 20000};
constexpr BeepPattern BEEP_PROGRAMMING = {1, 100000, 100000};
constexpr BeepPattern BEEP_BLOCK = {1, 100000, 20000};
constexpr BeepPattern BEEP_FLASH_FAILED = {3, 50000, 20000};
constexpr BeepPattern BEEP_COMPLETE = {2, 200000, 20000};

#endif  // RECOVERY_BEEP_CODES_H_
