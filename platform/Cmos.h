// RTC CMOS byte read through the index/data port pair.
#ifndef PLATFORM_CMOS_H_
#define PLATFORM_CMOS_H_

#include "pi/PiBase.h"

constexpr UINT16 CMOS_INDEX_PORT = 0x70;
constexpr UINT16 CMOS_DATA_PORT = 0x71;

UINT8 CmosRead(UINT8 Index);

#endif  // PLATFORM_CMOS_H_
