// Host builds only: returns every piece of module-wide state to its just-loaded value (zero), so
// that each test or rehearsal starts from a freshly loaded module.
#ifndef RECOVERY_MODULE_RESET_H_
#define RECOVERY_MODULE_RESET_H_

#ifdef RECOVERY_HOST_BUILD
void RecoveryModuleReset(void);
#endif

#endif  // RECOVERY_MODULE_RESET_H_
