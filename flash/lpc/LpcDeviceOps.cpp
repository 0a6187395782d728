// The three LPC operation sets, six operations each in slot order: the JEDEC set, the array-ID set
// (identified from its array) and the firmware-hub set. All three read with LpcRead.
#include "flash/DeviceTables.h"
#include "flash/lpc/FwhFlash.h"
#include "flash/lpc/JedecFlash.h"
#include "flash/lpc/LpcRead.h"

constinit const FlashDeviceOps gJedecDeviceOps = {
    .Init = JedecInit,
    .Probe = JedecProbe,
    .Erase = JedecErase,
    .Write = JedecWrite,
    .Read = LpcRead,
    .ConvertPointers = JedecConvertPointers,
};

// Erase and write are the JEDEC set's: they take their unlock addresses from JedecCommands.
constinit const FlashDeviceOps gJedecArrayIdDeviceOps = {
    .Init = JedecArrayIdInit,
    .Probe = JedecArrayIdProbe,
    .Erase = JedecErase,
    .Write = JedecWrite,
    .Read = LpcRead,
    .ConvertPointers = JedecArrayIdConvertPointers,
};

constinit const FlashDeviceOps gFwhDeviceOps = {
    .Init = FwhInit,
    .Probe = FwhProbe,
    .Erase = FwhErase,
    .Write = FwhWrite,
    .Read = LpcRead,
    .ConvertPointers = FwhConvertPointers,
};
