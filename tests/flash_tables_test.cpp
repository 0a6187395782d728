// Facts of the two device tables that catch typos: unique ids, sizes that agree three ways,
// identification and opcode bytes that fit together, and one parameter block per SPI row.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "flash/DeviceTables.h"

namespace {

bool padded_name(const CHAR8 (&name)[32]) {
  std::size_t len = strnlen(name, sizeof name);
  for (std::size_t i = len; i < sizeof name; i++) {
    if (name[i] != 0) return false;
  }
  return len > 0 && len < sizeof name;
}

void expect_common_row_facts(const FlashDevice& d, std::set<UINT32>& ids) {
  SCOPED_TRACE(d.PartName);
  EXPECT_TRUE(ids.insert(d.Id).second) << "duplicate id " << std::hex << d.Id;
  EXPECT_GE(d.SizeCode, 3);
  EXPECT_LE(d.SizeCode, 7);
  EXPECT_EQ(UINT32{d.BlockSize} * 256 * d.BlockCount, 1u << (16 + d.SizeCode));
  EXPECT_EQ(d.Reserved[0], 0xFF);
  EXPECT_EQ(d.Reserved[1], 0xFF);
  EXPECT_EQ(d.Reserved[2], 0x00);
  EXPECT_TRUE(padded_name(d.VendorName));
  EXPECT_TRUE(padded_name(d.PartName));
}

TEST(FlashTables, LpcRowsAreUniqueSizedAndBoundToTheirFamily) {
  UINT32 count = 0;
  EXPECT_EQ(GetLpcDeviceCount(&count), EFI_SUCCESS);
  ASSERT_EQ(count, 7u);
  std::set<UINT32> ids;
  for (const FlashDevice& d : LpcDeviceList) {
    expect_common_row_facts(d, ids);
    EXPECT_LE(d.Id, 0xFFFFu) << d.PartName;  // LPC parts answer a 16-bit word
  }
  const FlashDeviceOps* expected[7] = {&gFwhDeviceOps,         &gJedecDeviceOps, &gJedecDeviceOps,
                                       &gJedecDeviceOps,       &gJedecDeviceOps, &gFwhDeviceOps,
                                       &gJedecArrayIdDeviceOps};
  for (int i = 0; i < 7; i++) EXPECT_EQ(LpcDeviceList[i].Ops, expected[i]) << "row " << i;
  EXPECT_EQ(LpcDeviceList[0].Id, 0xAC89u);
  EXPECT_STREQ(LpcDeviceList[0].PartName, "82802AC");
  EXPECT_EQ(LpcDeviceList[6].Id, 0xD8BFu);
  EXPECT_STREQ(LpcDeviceList[6].PartName, "39VF080");
}

TEST(FlashTables, SpiRowsAreUniqueAndSizesAgreeThreeWays) {
  UINT32 count = 0;
  EXPECT_EQ(GetSpiDeviceCount(&count), EFI_SUCCESS);
  ASSERT_EQ(count, 21u);
  std::set<UINT32> ids;
  std::set<const SpiDeviceParams*> blocks;
  for (const SpiFlashDevice& row : SpiDeviceList) {
    const FlashDevice& d = row.Device;
    expect_common_row_facts(d, ids);
    EXPECT_EQ(d.Ops, &gSpiDeviceOps);
    EXPECT_EQ(d.BlockSize, 0x0010);
    ASSERT_NE(row.Params, nullptr);
    EXPECT_EQ(row.Params->FlashSize, 1u << (16 + d.SizeCode)) << d.PartName;
    EXPECT_TRUE(blocks.insert(row.Params).second) << d.PartName << " shares a parameter block";
  }
}

// Identification: the opcode in menu entry 0, its type, the byte count and the Id must agree, or
// the probe reads the wrong bytes or compares against the wrong value.
TEST(FlashTables, SpiIdentificationAndOpcodeTypesFitTogether) {
  for (const SpiFlashDevice& row : SpiDeviceList) {
    const SpiDeviceParams& p = *row.Params;
    SCOPED_TRACE(row.Device.PartName);
    UINT32 len = SpiIdLength(&p);
    ASSERT_TRUE(len == 2 || len == 3);
    EXPECT_EQ(row.Device.Id >> (8 * len), 0u);
    EXPECT_NE(row.Device.Id >> (8 * (len - 1)), 0u);
    UINT8 id_op = p.OpcodeMenu[0];
    ASSERT_TRUE(id_op == 0x9F || id_op == 0x90 || id_op == 0xAB);
    EXPECT_EQ(p.OpcodeTypes & 3, id_op == 0x90 ? 2 : 0);  // only 0x90 sends an address
    EXPECT_EQ(p.OpcodeTypes >> 2, 0xF27C >> 2);           // entries 1-7: 3, 3, 1, 2, 0, 3, 3
    EXPECT_EQ(p.OpcodeMenu[2], 0x02);                     // program
    EXPECT_EQ(p.Flags & ~0xFFu, 0u);                      // bit 10 and above clear
    EXPECT_NE(p.Flags & 0x80, 0u);
    // Per-block protection needs its unit; the data-byte flag only makes sense with it.
    EXPECT_EQ((p.Flags & FlagBlockProtect) != 0, p.BlockProtectUnit != 0);
    EXPECT_TRUE(!(p.Flags & FlagBlockProtectHasData) || (p.Flags & FlagBlockProtect));
    EXPECT_EQ(0x1000 % p.EraseUnit, 0u);  // a 4 KiB chunk is a whole number of erase units
  }
}

// The bytes the VSCC value and the protection steps are built from, for rows of each kind.
TEST(FlashTables, VsccRelevantBytesOfRepresentativeRows) {
  struct Expect {
    int row;
    UINT8 erase_op, prefix0, prefix1, protect_status;
    UINT32 flags, erase_unit;
  } rows[] = {
      {0,  0x20, 0x06, 0x50, 0x1C, 0xB8, 0x1000}, // Winbond: 64-byte writes, no protection steps
      {7,  0x20, 0x06, 0x50, 0x0C, 0xA1, 0x1000}, // SST: EWSR prefix, status protection
      {12, 0x20, 0x00, 0x00, 0x00, 0xA0, 0x1000}, // Atmel 25DF041: nothing to unprotect
      {13, 0x20, 0x06, 0x06, 0x3C, 0xA9, 0x1000}, // Atmel: WREN twice, 64-byte writes
      {19, 0xDB, 0x06, 0x00, 0x00, 0xBE, 0x0100}, // ST M25PE80: page erase, per-block protection
      {20, 0xD7, 0x06, 0x06, 0x1C, 0xA1, 0x1000}, // PMC: 0xAB identification, 0xD7 sector erase
  };
  for (const Expect& e : rows) {
    const SpiDeviceParams& p = *SpiDeviceList[e.row].Params;
    SCOPED_TRACE(e.row);
    EXPECT_EQ(p.OpcodeMenu[1], e.erase_op);
    EXPECT_EQ(p.PrefixOpcodes[0], e.prefix0);
    EXPECT_EQ(p.PrefixOpcodes[1], e.prefix1);
    EXPECT_EQ(p.ProtectStatus, e.protect_status);
    EXPECT_EQ(p.Flags, e.flags);
    EXPECT_EQ(p.EraseUnit, e.erase_unit);
  }
  const SpiDeviceParams& st = *SpiDeviceList[19].Params;
  EXPECT_EQ(st.BlockProtectData, 0x01);
  EXPECT_EQ(st.BlockUnprotectData, 0x00);
  EXPECT_EQ(st.BlockProtectUnit, 0x10000u);
  EXPECT_EQ(SpiDeviceList[18].Params->OpcodeMenu[4], 0x0B);  // the one fast-read row
}

// Rows 0-6 describe one family of parts: identical blocks apart from the size.
TEST(FlashTables, FirstSevenSpiRowsDifferOnlyInIdentityAndSize) {
  const SpiFlashDevice& first = SpiDeviceList[0];
  for (int i = 1; i < 7; i++) {
    const SpiFlashDevice& row = SpiDeviceList[i];
    SCOPED_TRACE(i);
    SpiDeviceParams a = *first.Params, b = *row.Params;
    a.FlashSize = b.FlashSize = 0;
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
    EXPECT_NE(row.Params, first.Params);
    EXPECT_EQ(row.Device.BlockSize, first.Device.BlockSize);
    EXPECT_EQ(std::memcmp(row.Device.Reserved, first.Device.Reserved, 3), 0);
  }
}

}  // namespace
