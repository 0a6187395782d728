// Complete access sequences of the SPI operations on one part each: every register access with
// its width, offset, value and order, as the controller's programming model requires. Repeated
// identical polls are folded, so an extra, missing or reordered access fails.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "flash/DeviceTables.h"
#include "flash/spi/SpiOps.h"
#include "tests/support/spi_rig.h"

namespace testing_support {
namespace {

constexpr std::uint32_t kSpiBase = 0xFED1F800;

// One line per access: SPI controller registers by offset, the LPC bridge registers by name.
class SequenceRecorder : public sim::TraceSink {
 public:
  void record(const sim::Access& a) override {
    char line[64];
    unsigned bits = static_cast<unsigned>(a.width) * 8;
    const char* dir = a.write ? "w" : "r";
    int digits = static_cast<int>(a.width) * 2;
    if (a.space == sim::Space::Io) {
      std::snprintf(line, sizeof line, "io %s%u %X=%0*X", dir, bits, a.address, digits, a.value);
    } else if (a.address - kSpiBase < 0x100) {
      std::snprintf(line, sizeof line, "%s%u %02X=%0*X", dir, bits, a.address - kSpiBase, digits, a.value);
    } else if (a.address == 0xE00F80F0) {
      std::snprintf(line, sizeof line, "%s%u RCBA=%0*X", dir, bits, digits, a.value);
    } else if (a.address == 0xE00F80DC) {
      std::snprintf(line, sizeof line, "%s%u BIOS_CNTL=%0*X", dir, bits, digits, a.value);
    } else {
      std::snprintf(line, sizeof line, "%s%u %08X=%0*X", dir, bits, a.address, digits, a.value);
    }
    // Reads of a status word that still shows a cycle in progress are polls whose number depends
    // on the part's timing: repeated ones fold into one line.
    bool busy_poll = !a.write && a.space == sim::Space::Mem &&
                     ((a.address == kSpiBase + 0x90 && (a.value & 0x0001) != 0) ||
                      (a.address == kSpiBase + 0x04 && (a.value & 0x0020) != 0));
    if (!(busy_poll && !lines.empty() && lines.back() == line)) lines.emplace_back(line);
  }
  std::vector<std::string> lines;
};

// The accesses of `body`, run after SpiInit and the probe of `row` (the probe itself recorded
// when `with_probe`). BIOS_CNTL starts with BIOSWE and both SPI read-configuration bits set.
std::vector<std::string> sequence(SpiRig& rig, int row, bool with_probe,
                                  const std::function<EFI_STATUS()>& body) {
  SequenceRecorder recorder;
  rig.machine.lpc().config_write(sim::LpcBridge::kBiosCntl, sim::Width::Byte, 0x0D);
  auto outcome = rig.machine.run([&] {
    SpiInit(nullptr);
    if (with_probe) rig.machine.platform().set_trace(&recorder);
    EFI_STATUS status = SpiProbe(reinterpret_cast<UINTN>(&SpiDeviceList[row]));
    rig.machine.platform().set_trace(&recorder);
    if (!EFI_ERROR(status)) status = body();
    rig.machine.platform().set_trace(nullptr);
    return status;
  });
  EXPECT_EQ(outcome.to_string(), "returned(0x00000000)");
  return recorder.lines;
}

sim::SpiSetupConfig config(const char* part, bool descriptor) {
  sim::SpiSetupConfig c;
  c.part = part;
  c.descriptor = descriptor;
  c.protection = sim::SpiProtectionStart::Cleared;
  return c;
}

using Lines = std::vector<std::string>;

// Valid descriptor (hardware sequencing), one component, FLMSTR1 without write grants, BIOS region
// 0x1000-0x1FFFFF.
TEST(SpiSequence, ProbeOfTheMatchingPart) {
  SpiRig rig(config("25X16", true));
  Lines expected = {
      "io w8 80=41",
      // Opcode menu (9F 20 02 01 | 03 05 00 00), opcode types, prefixes 06 then 50, then VSCC:
      // erase 20h, 4 KiB, status write after WREN.
      "w32 98=0102209F", "w32 9C=00000503", "w16 96=F27C", "w16 94=5006", "w32 C4=00002015",
      "w32 C8=00002015",
      // RCBA afresh for the boot-script entry's address and value source.
      "r32 RCBA=FED1C001", "r32 RCBA=FED1C001", "w32 10=00000000",
      // Identification: idle wait, FADDR 0, then SSFC one field at a time: byte count 3, menu entry
      // 0, prefix 0, atomic, data phase, go. The controller clears SCGO as the cycle starts.
      "r16 90=0000", "r16 90=0000", "w16 90=001C", "w32 08=00000000", "r16 91=0000", "w16 91=0200",
      "r16 91=0200", "w16 91=0200", "r16 91=0200", "w16 91=0200", "r16 91=0200", "w16 91=0204", "r16 91=0204",
      "w16 91=4204", "r16 91=4204", "w16 91=4206",
      // In progress, then done; a fresh read, done/error bits cleared. The part's ID EF 30 15.
      "r16 90=0401", "r16 90=0404", "r16 90=0404", "w16 90=041C", "r32 10=001530EF",
      // SPI read configuration bits 3:2 cleared, BIOSWE kept.
      "r8 BIOS_CNTL=0D", "w8 BIOS_CNTL=01",
      // Component count from FLMAP0 (descriptor valid, HSFS bit 14), then the master grants and
      // the BIOS region.
      "r32 04=00006008", "w32 B0=00000004", "r32 B4=04040003", "r32 04=00006008", "w32 B0=00003000",
      "r32 B4=00030000", "r32 00=01FF0001"};
  EXPECT_EQ(sequence(rig, 0, true, [] { return EFI_SUCCESS; }), expected);
}

// Software sequencing, no protection flags: one erase cycle, menu entry 1, prefix 0, atomic, no
// data phase (the DS bit left by the probe is cleared).
TEST(SpiSequence, EraseOfOneUnit) {
  SpiRig rig(config("25X16", false));
  Lines expected = {"r16 90=0400", "r16 90=0400", "w16 90=041C", "w32 08=00001000", "r16 91=4204",
                    "w16 91=4004", "r16 91=4004", "w16 91=4014", "r16 91=4014",     "w16 91=4014",
                    "r16 91=4014", "w16 91=4014", "r16 91=4014", "w16 91=0014",     "r16 91=0014",
                    "w16 91=0016", "r16 90=1401", "r16 90=1404", "r16 90=1404",     "w16 90=141C"};
  EXPECT_EQ(sequence(rig, 0, false, [] { return SpiErase(0xFFE01000, 0x1000); }), expected);
}

// Hardware sequencing, three bytes across a 64-byte boundary: the buffer is filled before each
// piece's cycle; idle wait (cycle-in-progress bit 5 clear, then bits 2:0 cleared), FADDR, then
// HSFC byte count, cycle type 2 (write) and go, each its own read-modify-write; done wait.
TEST(SpiSequence, WriteInTwoPieces) {
  SpiRig rig(config("25X16", true));
  static const UINT8 source[3] = {0x11, 0x22, 0x33};
  Lines expected = {
      "w8 10=11",    "w8 11=22",    "r16 04=6008", "r16 04=6008", "w16 04=600F",     "w32 08=0000103E",
      "r16 06=0000", "w16 06=0100", "r16 06=0100", "w16 06=0104", "r16 06=0104",     "w16 06=0105",
      "r16 04=6028", "r16 04=6009", "r16 04=6009", "w16 04=600F",  // first piece: 0x3E-0x3F
      "w8 10=33",    "r16 04=6008", "r16 04=6008", "w16 04=600F", "w32 08=00001040", "r16 06=0104",
      "w16 06=0004", "r16 06=0004", "w16 06=0004", "r16 06=0004", "w16 06=0005",     "r16 04=6028",
      "r16 04=6009", "r16 04=6009", "w16 04=600F"};  // second piece: 0x40
  EXPECT_EQ(sequence(rig, 0, false,
                     [] {
                       UINT32 length = 3;
                       return SpiWrite(0xFFE0103E, source, &length, 0xFFE01000);
                     }),
            expected);
}

// Hardware sequencing, 4 MiB part, three bytes across a 64-byte boundary: each piece's read cycle
// (cycle type 0), then each byte loaded from RCBA + 0x3810 + j with RCBA read afresh.
TEST(SpiSequence, ReadInTwoPieces) {
  SpiRig rig(config("25Q32", true));
  auto byte = [&](unsigned j, std::uint32_t linear) {
    char line[16];
    std::snprintf(line, sizeof line, "r8 %02X=%02X", 0x10 + j, rig.before[linear]);
    return std::string(line);
  };
  Lines expected = {
      "r16 04=6008",    "r16 04=6008",       "w16 04=600F",       "w32 08=0001003E", "r16 06=0000",
      "w16 06=0100",    "r16 06=0100",       "w16 06=0100",       "r16 06=0100",     "w16 06=0101",
      "r16 04=6028",    "r16 04=6009",       "r16 04=6009",       "w16 04=600F",     "r32 RCBA=FED1C001",
      byte(0, 0x1003E), "r32 RCBA=FED1C001", byte(1, 0x1003F),    "r16 04=6008",     "r16 04=6008",
      "w16 04=600F",    "w32 08=00010040",   "r16 06=0100",       "w16 06=0000",     "r16 06=0000",
      "w16 06=0000",    "r16 06=0000",       "w16 06=0001",       "r16 04=6028",     "r16 04=6009",
      "r16 04=6009",    "w16 04=600F",       "r32 RCBA=FED1C001", byte(0, 0x10040)};
  static UINT8 destination[3];
  EXPECT_EQ(sequence(rig, 1, false, [] { return SpiRead(destination, 0xFFC1003E, 3); }), expected);
}

// Per-block protection (64 KiB blocks): the unprotect data byte stored once, then one software
// cycle per block counted from the block that holds the start, menu entry 7, prefix 0, atomic,
// one data byte.
TEST(SpiSequence, ProtectionLiftedForABlock) {
  SpiRig rig(config("M25PE80", false));
  Lines expected = {"w8 10=00",    "r16 90=0400", "r16 90=0400", "w16 90=041C", "w32 08=00020000",
                    "r16 91=4204", "w16 91=4004", "r16 91=4004", "w16 91=4074", "r16 91=4074",
                    "w16 91=4074", "r16 91=4074", "w16 91=4074", "r16 91=4074", "w16 91=4074",
                    "r16 91=4074", "w16 91=4076", "r16 90=7401", "r16 90=7404", "r16 90=7404",
                    "w16 90=741C"};
  EXPECT_EQ(sequence(rig, 19, false, [] { return SpiSetProtection(0, 0x21000, 0x1000); }), expected);
}

}  // namespace
}  // namespace testing_support
