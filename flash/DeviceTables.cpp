// The built-in device tables: every flash part the module can update, in the order detection
// probes them, each bound to its family's operation set; SPI rows carry their own parameter block.
#include "flash/DeviceTables.h"

// Rows are constant-initialised data (no code runs at load) and are referred to, never copied.
// The three reserved bytes 0xFF 0xFF 0x00 are carried in every row and read by no operation.

// clang-format off
constinit const FlashDevice LpcDeviceList[LpcDeviceListLength] = {
    {.Id = 0x0000AC89, .SizeCode = 4, .VendorName = "INTEL", .PartName = "82802AC",   .BlockSize = 0x0100, .BlockCount = 16,  .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gFwhDeviceOps},
    {.Id = 0x00005ABF, .SizeCode = 4, .VendorName = "SST",   .PartName = "49LF008A",  .BlockSize = 0x0010, .BlockCount = 256, .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gJedecDeviceOps},
    {.Id = 0x000060BF, .SizeCode = 3, .VendorName = "SST",   .PartName = "49LF004A",  .BlockSize = 0x0100, .BlockCount = 8,   .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gJedecDeviceOps},
    {.Id = 0x00006E9D, .SizeCode = 3, .VendorName = "PMC",   .PartName = "49FL004T",  .BlockSize = 0x0010, .BlockCount = 128, .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gJedecDeviceOps},
    {.Id = 0x000034DA, .SizeCode = 3, .VendorName = "WIN",   .PartName = "39V040FPA", .BlockSize = 0x0100, .BlockCount = 8,   .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gJedecDeviceOps},
    {.Id = 0x00000820, .SizeCode = 3, .VendorName = "ST",    .PartName = "50FLW040A", .BlockSize = 0x0010, .BlockCount = 128, .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gFwhDeviceOps},
    {.Id = 0x0000D8BF, .SizeCode = 4, .VendorName = "SST",   .PartName = "39VF080",   .BlockSize = 0x0010, .BlockCount = 256, .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gJedecArrayIdDeviceOps},
};

// One block per SPI row, also where rows carry equal values, so that a part's block can be
// corrected without touching another part. The driver copies the detected row's block and
// adjusts only its copy.
// OpcodeMenu entries: 0 identification read, 1 erase of one EraseUnit, 2 program, 3 write status,
// 4 read data, 5 read status, 6 per-block re-protect, 7 per-block unprotect. OpcodeTypes 0xF27C
// gives them the types 0, 3, 3, 1, 2, 0, 3, 3; 0xF27E makes entry 0 an addressed read (the 0x90
// identification read sends address 0).
static constexpr SpiDeviceParams SpiParams[SpiDeviceListLength] = {
    {.OpcodeMenu = {0x9F, 0x20, 0x02, 0x01, 0x03, 0x05, 0x00, 0x00}, .OpcodeTypes = 0xF27C, .PrefixOpcodes = {0x06, 0x50}, .Flags = 0x000000B8, .ProtectStatus = 0x1C, .UnprotectStatus = 0x00, .BlockProtectData = 0x00, .BlockUnprotectData = 0x00, .FlashSize = 0x200000, .EraseUnit = 0x1000, .BlockProtectUnit = 0x00000},  // 0 Winbond 25X16
    {.OpcodeMenu = {0x9F, 0x20, 0x02, 0x01, 0x03, 0x05, 0x00, 0x00}, .OpcodeTypes = 0xF27C, .PrefixOpcodes = {0x06, 0x50}, .Flags = 0x000000B8, .ProtectStatus = 0x1C, .UnprotectStatus = 0x00, .BlockProtectData = 0x00, .BlockUnprotectData = 0x00, .FlashSize = 0x400000, .EraseUnit = 0x1000, .BlockProtectUnit = 0x00000},  // 1 Winbond 25Q32
    {.OpcodeMenu = {0x9F, 0x20, 0x02, 0x01, 0x03, 0x05, 0x00, 0x00}, .OpcodeTypes = 0xF27C, .PrefixOpcodes = {0x06, 0x50}, .Flags = 0x000000B8, .ProtectStatus = 0x1C, .UnprotectStatus = 0x00, .BlockProtectData = 0x00, .BlockUnprotectData = 0x00, .FlashSize = 0x200000, .EraseUnit = 0x1000, .BlockProtectUnit = 0x00000},  // 2 Winbond 25Q16
    {.OpcodeMenu = {0x9F, 0x20, 0x02, 0x01, 0x03, 0x05, 0x00, 0x00}, .OpcodeTypes = 0xF27C, .PrefixOpcodes = {0x06, 0x50}, .Flags = 0x000000B8, .ProtectStatus = 0x1C, .UnprotectStatus = 0x00, .BlockProtectData = 0x00, .BlockUnprotectData = 0x00, .FlashSize = 0x400000, .EraseUnit = 0x1000, .BlockProtectUnit = 0x00000},  // 3 Mxic 25L3205A
    {.OpcodeMenu = {0x9F, 0x20, 0x02, 0x01, 0x03, 0x05, 0x00, 0x00}, .OpcodeTypes = 0xF27C, .PrefixOpcodes = {0x06, 0x50}, .Flags = 0x000000B8, .ProtectStatus = 0x1C, .UnprotectStatus = 0x00, .BlockProtectData = 0x00, .BlockUnprotectData = 0x00, .FlashSize = 0x200000, .EraseUnit = 0x1000, .BlockProtectUnit = 0x00000},  // 4 EON 25F16
    {.OpcodeMenu = {0x9F, 0x20, 0x02, 0x01, 0x03, 0x05, 0x00, 0x00}, .OpcodeTypes = 0xF27C, .PrefixOpcodes = {0x06, 0x50}, .Flags = 0x000000B8, .ProtectStatus = 0x1C, .UnprotectStatus = 0x00, .BlockProtectData = 0x00, .BlockUnprotectData = 0x00, .FlashSize = 0x400000, .EraseUnit = 0x1000, .BlockProtectUnit = 0x00000},  // 5 EON 25F32
    {.OpcodeMenu = {0x9F, 0x20, 0x02, 0x01, 0x03, 0x05, 0x00, 0x00}, .OpcodeTypes = 0xF27C, .PrefixOpcodes = {0x06, 0x50}, .Flags = 0x000000B8, .ProtectStatus = 0x1C, .UnprotectStatus = 0x00, .BlockProtectData = 0x00, .BlockUnprotectData = 0x00, .FlashSize = 0x400000, .EraseUnit = 0x1000, .BlockProtectUnit = 0x00000},  // 6 Winbond 25X32
    {.OpcodeMenu = {0x90, 0x20, 0x02, 0x01, 0x03, 0x05, 0x00, 0x00}, .OpcodeTypes = 0xF27E, .PrefixOpcodes = {0x06, 0x50}, .Flags = 0x000000A1, .ProtectStatus = 0x0C, .UnprotectStatus = 0x00, .BlockProtectData = 0x00, .BlockUnprotectData = 0x00, .FlashSize = 0x080000, .EraseUnit = 0x1000, .BlockProtectUnit = 0x00000},  // 7 SST 25LF040
    {.OpcodeMenu = {0x90, 0x20, 0x02, 0x01, 0x03, 0x05, 0x00, 0x00}, .OpcodeTypes = 0xF27E, .PrefixOpcodes = {0x06, 0x50}, .Flags = 0x000000A1, .ProtectStatus = 0x0C, .UnprotectStatus = 0x00, .BlockProtectData = 0x00, .BlockUnprotectData = 0x00, .FlashSize = 0x080000, .EraseUnit = 0x1000, .BlockProtectUnit = 0x00000},  // 8 SST 25LF040A
    {.OpcodeMenu = {0x90, 0x20, 0x02, 0x01, 0x03, 0x05, 0x00, 0x00}, .OpcodeTypes = 0xF27E, .PrefixOpcodes = {0x06, 0x50}, .Flags = 0x000000A1, .ProtectStatus = 0x1C, .UnprotectStatus = 0x00, .BlockProtectData = 0x00, .BlockUnprotectData = 0x00, .FlashSize = 0x100000, .EraseUnit = 0x1000, .BlockProtectUnit = 0x00000},  // 9 SST 25LF080A
    {.OpcodeMenu = {0x9F, 0x20, 0x02, 0x01, 0x03, 0x05, 0x00, 0x00}, .OpcodeTypes = 0xF27C, .PrefixOpcodes = {0x06, 0x50}, .Flags = 0x000000B1, .ProtectStatus = 0x1C, .UnprotectStatus = 0x00, .BlockProtectData = 0x00, .BlockUnprotectData = 0x00, .FlashSize = 0x100000, .EraseUnit = 0x1000, .BlockProtectUnit = 0x00000},  // 10 SST 25VF080B
    {.OpcodeMenu = {0x90, 0x20, 0x02, 0x01, 0x03, 0x05, 0x00, 0x00}, .OpcodeTypes = 0xF27E, .PrefixOpcodes = {0x06, 0x50}, .Flags = 0x000000A1, .ProtectStatus = 0x1C, .UnprotectStatus = 0x00, .BlockProtectData = 0x00, .BlockUnprotectData = 0x00, .FlashSize = 0x200000, .EraseUnit = 0x1000, .BlockProtectUnit = 0x00000},  // 11 SST 25VF016B
    {.OpcodeMenu = {0x9F, 0x20, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00}, .OpcodeTypes = 0xF27C, .PrefixOpcodes = {0x00, 0x00}, .Flags = 0x000000A0, .ProtectStatus = 0x00, .UnprotectStatus = 0x00, .BlockProtectData = 0x00, .BlockUnprotectData = 0x00, .FlashSize = 0x080000, .EraseUnit = 0x1000, .BlockProtectUnit = 0x00000},  // 12 Atmel 25DF041
    {.OpcodeMenu = {0x9F, 0x20, 0x02, 0x01, 0x03, 0x05, 0x00, 0x00}, .OpcodeTypes = 0xF27C, .PrefixOpcodes = {0x06, 0x06}, .Flags = 0x000000A9, .ProtectStatus = 0x3C, .UnprotectStatus = 0x00, .BlockProtectData = 0x00, .BlockUnprotectData = 0x00, .FlashSize = 0x100000, .EraseUnit = 0x1000, .BlockProtectUnit = 0x00000},  // 13 Atmel 25DF081A
    {.OpcodeMenu = {0x9F, 0x20, 0x02, 0x01, 0x03, 0x05, 0x00, 0x00}, .OpcodeTypes = 0xF27C, .PrefixOpcodes = {0x06, 0x06}, .Flags = 0x000000A9, .ProtectStatus = 0x3C, .UnprotectStatus = 0x00, .BlockProtectData = 0x00, .BlockUnprotectData = 0x00, .FlashSize = 0x200000, .EraseUnit = 0x1000, .BlockProtectUnit = 0x00000},  // 14 Atmel 26DF161
    {.OpcodeMenu = {0x9F, 0x20, 0x02, 0x01, 0x03, 0x05, 0x00, 0x00}, .OpcodeTypes = 0xF27C, .PrefixOpcodes = {0x06, 0x06}, .Flags = 0x000000A9, .ProtectStatus = 0x3C, .UnprotectStatus = 0x00, .BlockProtectData = 0x00, .BlockUnprotectData = 0x00, .FlashSize = 0x400000, .EraseUnit = 0x1000, .BlockProtectUnit = 0x00000},  // 15 Atmel 26DF321
    {.OpcodeMenu = {0x9F, 0x20, 0x02, 0x01, 0x03, 0x05, 0x00, 0x00}, .OpcodeTypes = 0xF27C, .PrefixOpcodes = {0x06, 0x06}, .Flags = 0x000000A9, .ProtectStatus = 0x3C, .UnprotectStatus = 0x00, .BlockProtectData = 0x00, .BlockUnprotectData = 0x00, .FlashSize = 0x800000, .EraseUnit = 0x1000, .BlockProtectUnit = 0x00000},  // 16 Atmel 25DF641
    {.OpcodeMenu = {0x9F, 0x20, 0x02, 0x01, 0x03, 0x05, 0x00, 0x00}, .OpcodeTypes = 0xF27C, .PrefixOpcodes = {0x06, 0x06}, .Flags = 0x000000B9, .ProtectStatus = 0x1C, .UnprotectStatus = 0x00, .BlockProtectData = 0x00, .BlockUnprotectData = 0x00, .FlashSize = 0x100000, .EraseUnit = 0x1000, .BlockProtectUnit = 0x00000},  // 17 Mxic 25L8005
    {.OpcodeMenu = {0x9F, 0x20, 0x02, 0x01, 0x0B, 0x05, 0x00, 0x00}, .OpcodeTypes = 0xF27C, .PrefixOpcodes = {0x06, 0x06}, .Flags = 0x000000B9, .ProtectStatus = 0x1C, .UnprotectStatus = 0x00, .BlockProtectData = 0x00, .BlockUnprotectData = 0x00, .FlashSize = 0x200000, .EraseUnit = 0x1000, .BlockProtectUnit = 0x00000},  // 18 Mxic 25L1605A
    {.OpcodeMenu = {0x9F, 0xDB, 0x02, 0x00, 0x03, 0x05, 0x00, 0x00}, .OpcodeTypes = 0xF27C, .PrefixOpcodes = {0x06, 0x00}, .Flags = 0x000000BE, .ProtectStatus = 0x00, .UnprotectStatus = 0x00, .BlockProtectData = 0x01, .BlockUnprotectData = 0x00, .FlashSize = 0x100000, .EraseUnit = 0x0100, .BlockProtectUnit = 0x10000},  // 19 ST M25PE80
    {.OpcodeMenu = {0xAB, 0xD7, 0x02, 0x01, 0x03, 0x05, 0x00, 0x00}, .OpcodeTypes = 0xF27C, .PrefixOpcodes = {0x06, 0x06}, .Flags = 0x000000A1, .ProtectStatus = 0x1C, .UnprotectStatus = 0x00, .BlockProtectData = 0x00, .BlockUnprotectData = 0x00, .FlashSize = 0x080000, .EraseUnit = 0x1000, .BlockProtectUnit = 0x00000},  // 20 PMC 25LV040
};

constinit const SpiFlashDevice SpiDeviceList[SpiDeviceListLength] = {
    {.Device = {.Id = 0x001530EF, .SizeCode = 5, .VendorName = "Winbond", .PartName = "25X16",    .BlockSize = 0x0010, .BlockCount = 512,  .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[0]},    // 0
    {.Device = {.Id = 0x001640EF, .SizeCode = 6, .VendorName = "Winbond", .PartName = "25Q32",    .BlockSize = 0x0010, .BlockCount = 1024, .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[1]},    // 1
    {.Device = {.Id = 0x001540EF, .SizeCode = 5, .VendorName = "Winbond", .PartName = "25Q16",    .BlockSize = 0x0010, .BlockCount = 512,  .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[2]},    // 2
    {.Device = {.Id = 0x001620C2, .SizeCode = 6, .VendorName = "Mxic",    .PartName = "25L3205A", .BlockSize = 0x0010, .BlockCount = 1024, .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[3]},    // 3
    {.Device = {.Id = 0x0015311C, .SizeCode = 5, .VendorName = "EON",     .PartName = "25F16",    .BlockSize = 0x0010, .BlockCount = 512,  .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[4]},    // 4
    {.Device = {.Id = 0x0016311C, .SizeCode = 6, .VendorName = "EON",     .PartName = "25F32",    .BlockSize = 0x0010, .BlockCount = 1024, .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[5]},    // 5
    {.Device = {.Id = 0x001630EF, .SizeCode = 6, .VendorName = "Winbond", .PartName = "25X32",    .BlockSize = 0x0010, .BlockCount = 1024, .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[6]},    // 6
    {.Device = {.Id = 0x000040BF, .SizeCode = 3, .VendorName = "SST",     .PartName = "25LF040",  .BlockSize = 0x0010, .BlockCount = 128,  .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[7]},    // 7
    {.Device = {.Id = 0x000044BF, .SizeCode = 3, .VendorName = "SST",     .PartName = "25LF040A", .BlockSize = 0x0010, .BlockCount = 128,  .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[8]},    // 8
    {.Device = {.Id = 0x000080BF, .SizeCode = 4, .VendorName = "SST",     .PartName = "25LF080A", .BlockSize = 0x0010, .BlockCount = 256,  .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[9]},    // 9
    {.Device = {.Id = 0x008E25BF, .SizeCode = 4, .VendorName = "SST",     .PartName = "25VF080B", .BlockSize = 0x0010, .BlockCount = 256,  .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[10]},   // 10
    {.Device = {.Id = 0x000041BF, .SizeCode = 5, .VendorName = "SST",     .PartName = "25VF016B", .BlockSize = 0x0010, .BlockCount = 512,  .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[11]},   // 11
    {.Device = {.Id = 0x0000441F, .SizeCode = 3, .VendorName = "Atmel",   .PartName = "25DF041",  .BlockSize = 0x0010, .BlockCount = 128,  .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[12]},   // 12
    {.Device = {.Id = 0x0000451F, .SizeCode = 4, .VendorName = "Atmel",   .PartName = "25DF081A", .BlockSize = 0x0010, .BlockCount = 256,  .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[13]},   // 13
    {.Device = {.Id = 0x0000461F, .SizeCode = 5, .VendorName = "Atmel",   .PartName = "26DF161",  .BlockSize = 0x0010, .BlockCount = 512,  .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[14]},   // 14
    {.Device = {.Id = 0x0000471F, .SizeCode = 6, .VendorName = "Atmel",   .PartName = "26DF321",  .BlockSize = 0x0010, .BlockCount = 1024, .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[15]},   // 15
    {.Device = {.Id = 0x0000481F, .SizeCode = 7, .VendorName = "Atmel",   .PartName = "25DF641",  .BlockSize = 0x0010, .BlockCount = 2048, .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[16]},   // 16
    {.Device = {.Id = 0x001420C2, .SizeCode = 4, .VendorName = "Mxic",    .PartName = "25L8005",  .BlockSize = 0x0010, .BlockCount = 256,  .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[17]},   // 17
    {.Device = {.Id = 0x001520C2, .SizeCode = 5, .VendorName = "Mxic",    .PartName = "25L1605A", .BlockSize = 0x0010, .BlockCount = 512,  .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[18]},   // 18
    {.Device = {.Id = 0x00148020, .SizeCode = 4, .VendorName = "ST",      .PartName = "M25PE80",  .BlockSize = 0x0010, .BlockCount = 256,  .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[19]},   // 19
    {.Device = {.Id = 0x00007E9D, .SizeCode = 3, .VendorName = "PMC",     .PartName = "25LV040",  .BlockSize = 0x0010, .BlockCount = 128,  .Reserved = {0xFF, 0xFF, 0x00}, .Ops = &gSpiDeviceOps}, .Params = &SpiParams[20]},   // 20
};
// clang-format on

EFI_STATUS GetLpcDeviceCount(UINT32* Count) {
  *Count = LpcDeviceListLength;
  return EFI_SUCCESS;
}

EFI_STATUS GetSpiDeviceCount(UINT32* Count) {
  *Count = SpiDeviceListLength;
  return EFI_SUCCESS;
}
