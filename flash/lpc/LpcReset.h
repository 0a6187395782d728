// Host builds only: returns all LPC family state (both JEDEC references, the firmware-hub
// reference, the module pool and the pointer conversion) to its just-loaded value.
#ifndef FLASH_LPC_LPC_RESET_H_
#define FLASH_LPC_LPC_RESET_H_

#ifdef RECOVERY_HOST_BUILD
void LpcFlashReset(void);
#endif

#endif  // FLASH_LPC_LPC_RESET_H_
