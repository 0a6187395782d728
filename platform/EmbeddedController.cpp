// Embedded-controller command channel, register window and flash-mode handshake.
#include "platform/EmbeddedController.h"

#include "platform/Cmos.h"
#include "platform/HwAccess.h"
#include "platform/PciConfig.h"
#include "platform/Stall.h"

// Stalls the controller's firmware needs around its mode changes.
constexpr UINT32 EC_PREPARE_STALL_US = 3000000;
constexpr UINT32 EC_FLASH_MODE_STALL_US = 1000000;
// Offset of the PM1 control register in the ACPI PM I/O block.
constexpr UINT16 PM1_CNT_OFFSET = 4;

static BOOLEAN EcUsesKeyboardChannel(void) { return CmosRead(CMOS_EC_CHANNEL) == EC_CHANNEL_KBC; }

EFI_STATUS EcWaitInputEmpty(UINT16 Port) {
  for (UINT32 i = 0; i < EC_IBF_POLL_LIMIT; i++) {
    if ((IoRead8(Port) & EC_STATUS_IBF) == 0) {
      return EFI_SUCCESS;
    }
  }
  return EFI_DEVICE_ERROR;
}

void EcSendCommand(UINT8 Command, UINT8 Data) {
  BOOLEAN Kbc = EcUsesKeyboardChannel();
  UINT16 CommandPort = Kbc ? EC_KBC_COMMAND_PORT : EC_ACPI_COMMAND_PORT;
  UINT16 DataPort = Kbc ? EC_KBC_DATA_PORT : EC_ACPI_DATA_PORT;
  // A full input buffer is not fatal: the byte is written regardless.
  EcWaitInputEmpty(CommandPort);
  IoWrite8(CommandPort, Command);
  EcWaitInputEmpty(CommandPort);
  IoWrite8(DataPort, Data);
  EcWaitInputEmpty(CommandPort);
}

static void EcSelectRegister(UINT16 Address) {
  IoWrite8(EC_INDEX_HIGH_PORT, (UINT8)(Address >> 8));
  IoWrite8(EC_INDEX_LOW_PORT, (UINT8)(Address & 0xFF));
}

UINT8 EcReadRegister(UINT16 Address) {
  EcSelectRegister(Address);
  return IoRead8(EC_INDEX_DATA_PORT);
}

void EcWriteRegister(UINT16 Address, UINT8 Value) {
  EcSelectRegister(Address);
  IoWrite8(EC_INDEX_DATA_PORT, Value);
}

static void EcEnterFlashMode(void) {
  if (!EcUsesKeyboardChannel()) {
    EcSendCommand(EC_COMMAND, EC_DATA_PREPARE1);
    EcSendCommand(EC_COMMAND, EC_DATA_PREPARE2);
    Stall(EC_PREPARE_STALL_US);
  }
  if (EcReadRegister(EC_REG_FLASH_MODE) == EC_FLASH_MODE_ON) {
    return;
  }
  EcSendCommand(EC_COMMAND, EC_DATA_ENTER_FLASH);
  while (EcReadRegister(EC_REG_FLASH_MODE) != EC_FLASH_MODE_ON) {
    // The controller decides when it is ready; there is nothing else to do but wait.
  }
  EcWriteRegister(EC_REG_CONTROL, (UINT8)(EcReadRegister(EC_REG_CONTROL) | 0x01));
  Stall(EC_FLASH_MODE_STALL_US);
}

static void EcLeaveFlashMode(void) {
  EcWriteRegister(EC_REG_CONTROL, (UINT8)(EcReadRegister(EC_REG_CONTROL) & ~0x01));
  while (EcReadRegister(EC_REG_FLASH_MODE) != EC_FLASH_MODE_OFF) {
  }
  if (!EcUsesKeyboardChannel()) {
    EcSendCommand(EC_COMMAND, EC_DATA_LEAVE_PREPARE);
    Stall(EC_FLASH_MODE_STALL_US);
  }
  UINT16 PmBase = ReadPmBase();
  if (IoRead8((UINT16)(PmBase + PM1_CNT_OFFSET)) != 0) {
    EcWriteRegister(EC_REG_EXIT_KEY1, 0x5A);
    EcWriteRegister(EC_REG_EXIT_KEY2, 0xA5);
  }
  EcSendCommand(EC_COMMAND, EC_DATA_LEAVE_FLASH);
}

EFI_STATUS EcFlashHandshake(UINT8 Enter) {
  if (Enter == 1) {
    EcEnterFlashMode();
  } else {
    EcLeaveFlashMode();
  }
  return EFI_SUCCESS;
}

EFI_STATUS EcSendFinalCommand(void) {
  EcSendCommand(EC_COMMAND, EC_DATA_FINAL);
  return EFI_SUCCESS;
}
