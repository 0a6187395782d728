// Host builds only: the LPC families' share of returning the module to its just-loaded state.
#include "flash/lpc/LpcReset.h"

#include "flash/lpc/FwhFlash.h"
#include "flash/lpc/JedecFlash.h"
#include "flash/lpc/LpcServices.h"

#ifdef RECOVERY_HOST_BUILD
void LpcFlashReset(void) {
  JedecFlashReset();
  FwhFlashReset();
  LpcServicesReset();
}
#endif
