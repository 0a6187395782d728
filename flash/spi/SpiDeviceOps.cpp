// The SPI operation set, bound to every SpiDeviceList row.
#include "flash/DeviceTables.h"
#include "flash/spi/SpiOps.h"

constinit const FlashDeviceOps gSpiDeviceOps = {
    .Init = SpiInit,
    .Probe = SpiProbe,
    .Erase = SpiErase,
    .Write = SpiWrite,
    .Read = SpiRead,
    .ConvertPointers = SpiConvertPointers,
};
