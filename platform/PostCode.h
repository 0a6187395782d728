// POST codes: one byte written to the diagnostic port 0x80.
#ifndef PLATFORM_POST_CODE_H_
#define PLATFORM_POST_CODE_H_

#include "pi/PiBase.h"

constexpr UINT16 POST_CODE_PORT = 0x80;

void WritePostCode(UINT8 Code);

#endif  // PLATFORM_POST_CODE_H_
