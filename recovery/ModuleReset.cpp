// Host builds only: the one way back to a freshly loaded module. Each family with module-wide
// state provides a reset of its own, called from here.
#include "recovery/ModuleReset.h"

#include "flash/FlashDetect.h"
#include "flash/lpc/LpcReset.h"
#include "flash/spi/SpiOps.h"

#ifdef RECOVERY_HOST_BUILD

void RecoveryModuleReset(void) {
  FlashDetectReset();
  LpcFlashReset();
  SpiDriverReset();
}

#endif
