// The two ordered device tables (parts behind the LPC bus and parts behind the chipset's SPI
// controller), the four operation sets their rows are bound to, and the table-length accessors.
#ifndef FLASH_DEVICE_TABLES_H_
#define FLASH_DEVICE_TABLES_H_

#include "flash/FlashDevice.h"
#include "flash/SpiFlashDevice.h"

constexpr UINT32 LpcDeviceListLength = 7;
constexpr UINT32 SpiDeviceListLength = 21;

// Operation sets, six operations each in slot order. Every row refers to one of them.
extern const FlashDeviceOps gSpiDeviceOps;           // SPI parts through the chipset SPI controller
extern const FlashDeviceOps gJedecDeviceOps;         // LPC parts driven by JEDEC command sequences
extern const FlashDeviceOps gJedecArrayIdDeviceOps;  // JEDEC part identified from its array
extern const FlashDeviceOps gFwhDeviceOps;           // firmware-hub command parts

// In probe order: detection takes the first row whose probe succeeds, so the order is part of
// the data. The array-ID row comes after every JEDEC row: its erase and write rely on state that
// only the JEDEC set's Init prepares.
extern const FlashDevice LpcDeviceList[LpcDeviceListLength];
extern const SpiFlashDevice SpiDeviceList[SpiDeviceListLength];

// Number of rows of each table. Always succeed.
EFI_STATUS GetLpcDeviceCount(UINT32* Count);
EFI_STATUS GetSpiDeviceCount(UINT32* Count);

#endif  // FLASH_DEVICE_TABLES_H_
