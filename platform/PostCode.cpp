// POST code output.
#include "platform/PostCode.h"

#include "platform/HwAccess.h"

void WritePostCode(UINT8 Code) { IoWrite8(POST_CODE_PORT, Code); }
