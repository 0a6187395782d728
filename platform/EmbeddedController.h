// The embedded controller's command channel, its indexed register window, and the flash-mode
// handshake that must bracket every change to the flash.
#ifndef PLATFORM_EMBEDDED_CONTROLLER_H_
#define PLATFORM_EMBEDDED_CONTROLLER_H_

#include "pi/PiBase.h"

// CMOS byte 0x6E selects the command channel: 4 routes commands to the keyboard-controller pair.
constexpr UINT8 CMOS_EC_CHANNEL = 0x6E;
constexpr UINT8 EC_CHANNEL_KBC = 4;
constexpr UINT16 EC_KBC_COMMAND_PORT = 0x64;
constexpr UINT16 EC_KBC_DATA_PORT = 0x60;
constexpr UINT16 EC_ACPI_COMMAND_PORT = 0x66;
constexpr UINT16 EC_ACPI_DATA_PORT = 0x62;
constexpr UINT8 EC_STATUS_IBF = 0x02;  // input buffer full: the controller has not taken the last byte
constexpr UINT32 EC_IBF_POLL_LIMIT = 65536;

// Register window: high address byte, low address byte, data byte.
constexpr UINT16 EC_INDEX_HIGH_PORT = 0xFF2D;
constexpr UINT16 EC_INDEX_LOW_PORT = 0xFF2E;
constexpr UINT16 EC_INDEX_DATA_PORT = 0xFF2F;

constexpr UINT16 EC_REG_FLASH_MODE = 0xF554;  // 0xA5 in flash mode, 0x00 after leaving it
constexpr UINT16 EC_REG_CONTROL = 0xFF14;     // bit 0: flash mode acknowledged by the host
constexpr UINT16 EC_REG_EXIT_KEY1 = 0xFBF1;
constexpr UINT16 EC_REG_EXIT_KEY2 = 0xFBF2;
constexpr UINT8 EC_FLASH_MODE_ON = 0xA5;
constexpr UINT8 EC_FLASH_MODE_OFF = 0x00;

constexpr UINT8 EC_COMMAND = 0x59;
constexpr UINT8 EC_DATA_PREPARE1 = 0x94;
constexpr UINT8 EC_DATA_PREPARE2 = 0x77;
constexpr UINT8 EC_DATA_ENTER_FLASH = 0xF2;
constexpr UINT8 EC_DATA_LEAVE_PREPARE = 0x76;
constexpr UINT8 EC_DATA_LEAVE_FLASH = 0x95;
constexpr UINT8 EC_DATA_FINAL = 0xF6;

EFI_STATUS EcWaitInputEmpty(UINT16 Port);
void EcSendCommand(UINT8 Command, UINT8 Data);
UINT8 EcReadRegister(UINT16 Address);
void EcWriteRegister(UINT16 Address, UINT8 Value);

// Enter is 1 to enter flash mode; any other value leaves it. Waits for the controller without
// a time limit.
EFI_STATUS EcFlashHandshake(UINT8 Enter);

// Sent after a complete update: the controller takes over from here.
EFI_STATUS EcSendFinalCommand(void);

#endif  // PLATFORM_EMBEDDED_CONTROLLER_H_
