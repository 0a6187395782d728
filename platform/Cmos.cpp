// RTC CMOS byte read.
#include "platform/Cmos.h"

#include "platform/HwAccess.h"

UINT8 CmosRead(UINT8 Index) {
  IoWrite8(CMOS_INDEX_PORT, Index);
  return IoRead8(CMOS_DATA_PORT);
}
