// The PEIM firmware file read back byte by byte: header fields, both checksum modes, section
// layout and contents, and the inputs the packaging library refuses.
#include <gtest/gtest.h>

#include <cctype>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/support/ffs_pe32_image.h"
#include "tools/ffs/FfsError.h"
#include "tools/ffs/Guid.h"
#include "tools/ffs/PeimFile.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::make_pe32_image;

struct Section {
  size_t offset;  // of the section header within the file
  uint8_t type;
  Bytes data;
};

size_t size24(const Bytes& file, size_t at) { return file[at] | file[at + 1] << 8 | file[at + 2] << 16; }

uint8_t sum8(const Bytes& bytes, size_t from, size_t to) {
  uint8_t sum = 0;
  for (size_t i = from; i < to; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return sum;
}

// The sections as a volume reader walks them: each at the next 4-byte boundary, up to the file
// size the header gives.
std::vector<Section> sections(const Bytes& file) {
  std::vector<Section> found;
  for (size_t at = 24; at < size24(file, 20);) {
    at = (at + 3) & ~size_t{3};
    const size_t size = at + 4 <= file.size() ? size24(file, at) : 0;
    if (size < 4 || at + size > file.size()) {
      ADD_FAILURE() << "section at " << at << " runs past the end of the file";
      break;
    }
    found.push_back({
        at, file[at + 3], {file.begin() + at + 4, file.begin() + at + size}
    });
    at += size;
  }
  return found;
}

// What every file must satisfy: exact size, header checksum taken with State and the file
// checksum as 0, and the file checksum of its mode.
void expect_valid_header(const Bytes& file, bool data_checksum) {
  ASSERT_GE(file.size(), 24u);
  EXPECT_EQ(size24(file, 20), file.size());
  EXPECT_EQ(static_cast<uint8_t>(sum8(file, 0, 24) - file[17] - file[23]), 0);
  if (data_checksum) {
    EXPECT_EQ(file[19], 0x40);
    EXPECT_EQ(static_cast<uint8_t>(sum8(file, 24, file.size()) + file[17]), 0);
  } else {
    EXPECT_EQ(file[19], 0x00);
    EXPECT_EQ(file[17], 0xAA);
  }
}

Bytes utf16le(const std::u16string& text) {
  Bytes out;
  for (char16_t c : text) out.insert(out.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
  out.insert(out.end(), {0, 0});
  return out;
}

std::string build_error(const Bytes& image, const packaging::PeimFileOptions& options = {}) {
  try {
    packaging::build_peim_file(image, options);
  } catch (const packaging::FfsError& e) {
    return e.what();
  }
  return "(accepted)";
}

TEST(FfsPeimFile, DefaultFileHasEveryFieldAndSectionInPlace) {
  const Bytes image = make_pe32_image({.size = 1001});
  const Bytes file = packaging::build_peim_file(image, {});

  // {B0EB5CCC-C6CF-42B5-8D0C-2AB8C6671E24}, the first three fields little-endian.
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 16), (Bytes{0xCC, 0x5C, 0xEB, 0xB0, 0xCF, 0xC6, 0xB5, 0x42,
                                                           0x8D, 0x0C, 0x2A, 0xB8, 0xC6, 0x67, 0x1E, 0x24}));
  EXPECT_EQ(file[18], 0x06);  // PEIM
  EXPECT_EQ(file[23], 0xF8);  // construction, header valid, data valid; stored inverted
  expect_valid_header(file, false);

  const std::vector<Section> s = sections(file);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].offset, 24u);
  EXPECT_EQ(s[0].type, 0x1B);
  EXPECT_EQ(s[0].data.size(), 36u);  // two PUSHes, AND, END: checked byte by byte below
  EXPECT_EQ(s[1].offset, 64u);       // 24 + 40, already 4-byte aligned
  EXPECT_EQ(s[1].type, 0x10);
  EXPECT_EQ(s[1].data, image);
  EXPECT_EQ(s[2].offset, 1072u);  // 64 + 4 + 1001 rounded up to 4
  EXPECT_EQ(s[2].type, 0x15);
  EXPECT_EQ(s[2].data, utf16le(u"FlashRecovery"));
  EXPECT_EQ(file.size(), 1072u + 4 + 28);
  EXPECT_EQ(Bytes(file.begin() + 1069, file.begin() + 1072), (Bytes{0, 0, 0}));  // padding is zero
}

// PUSH (0x02) and the 16 bytes of a PPI GUID as the file stores them.
const Bytes kPushRecoveryMode = {0x02, 0x6A, 0x49, 0xEE, 0x17, 0xE4, 0xD8, 0x9A, 0x4B,
                                 0x94, 0xD1, 0xCE, 0x82, 0x72, 0x30, 0x08, 0x50};
const Bytes kPushMemory = {0x02, 0x3D, 0x64, 0x94, 0xF8, 0x49, 0xC4, 0xD1, 0x42,
                           0x8E, 0xA8, 0x85, 0xBD, 0xD8, 0xC6, 0x5B, 0xDE};
const Bytes kPushDeviceRecovery = {0x02, 0x25, 0xCE, 0xE2, 0x0D, 0x6A, 0x44, 0xA7, 0x45,
                                   0xBF, 0xC9, 0x37, 0xDA, 0x26, 0x34, 0x4B, 0x37};

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

struct DepexCase {
  const char* text;  // nullptr: the default
  Bytes code;
};

// Test names from the expression ("recovery_mode_memory"), not the parameter's raw bytes.
std::string depex_case_name(const testing::TestParamInfo<DepexCase>& info) {
  if (info.param.text == nullptr) return "Default";
  std::string n = info.param.text;
  for (char& c : n) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return n;
}
void PrintTo(const DepexCase& c, std::ostream* os) { *os << (c.text ? c.text : "(default)"); }

class FfsDepex : public testing::TestWithParam<DepexCase> {};

// The dependency section holds the expression in postfix form (AND = 0x03, TRUE = 0x06,
// END = 0x08), and the PE32 section follows it at the next 4-byte boundary.
TEST_P(FfsDepex, SectionCarriesTheExpression) {
  const Bytes image = make_pe32_image();
  packaging::PeimFileOptions options;
  if (GetParam().text != nullptr) options.depex = GetParam().text;
  const Bytes file = packaging::build_peim_file(image, options);
  expect_valid_header(file, false);
  const std::vector<Section> s = sections(file);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].type, 0x1B);
  EXPECT_EQ(s[0].data, GetParam().code);
  EXPECT_EQ(s[1].offset, (24 + 4 + GetParam().code.size() + 3) & ~size_t{3});
  EXPECT_EQ(s[1].data, image);
}

INSTANTIATE_TEST_SUITE_P(
    Expressions, FfsDepex,
    testing::Values(
        DepexCase{
            nullptr, concat({kPushRecoveryMode, kPushMemory, {0x03, 0x08}}
             )
},
        DepexCase{"true", {0x06, 0x08}}, DepexCase{"memory", concat({kPushMemory, {0x08}})},
        DepexCase{"recovery-mode+memory+device-recovery",
                  concat({kPushRecoveryMode, kPushMemory, {0x03}, kPushDeviceRecovery, {0x03, 0x08}})}),
    depex_case_name);

TEST(FfsPeimFile, GuidOptionNamesTheFile) {
  const Bytes image = make_pe32_image();
  const Bytes file = packaging::build_peim_file(
      image, {.file_guid = packaging::parse_guid("{0123abcd-4567-89EF-0A1b-2C3d4E5f6071}")});
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 16), (Bytes{0xCD, 0xAB, 0x23, 0x01, 0x67, 0x45, 0xEF, 0x89,
                                                           0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x60, 0x71}));
  expect_valid_header(file, false);
}

TEST(FfsPeimFile, RefusesBadGuidsAndDependencies) {
  for (const char* bad : {"", "0123abcd-4567-89ef-0a1b-2c3d4e5f607", "0123abcd-4567-89ef-0a1b+2c3d4e5f6071",
                          "{0123abcd-4567-89ef-0a1b-2c3d4e5f6071", "0123abcd-4567-89ef-0a1b-2c3d4e5f607g"}) {
    EXPECT_THROW(packaging::parse_guid(bad), packaging::FfsError) << bad;
  }
  const Bytes image = make_pe32_image();
  for (const char* bad : {"", "false", "memory+", "+memory", "memory+memory", "recovery-mode+TRUE"}) {
    EXPECT_NE(build_error(image, {.depex = bad}), "(accepted)") << bad;
  }
}

TEST(FfsPeimFile, BothChecksumModesForEveryImageLengthModuloFour) {
  for (size_t size = 777; size < 785; ++size) {
    const Bytes image = make_pe32_image({.size = size});
    const Bytes plain = packaging::build_peim_file(image, {});
    const Bytes checked = packaging::build_peim_file(image, {.data_checksum = true});
    SCOPED_TRACE(size);
    expect_valid_header(plain, false);
    expect_valid_header(checked, true);
    for (const Section& s : sections(checked)) EXPECT_EQ(s.offset % 4, 0u);
    // The modes differ only in the attribute and the two checksums.
    ASSERT_EQ(checked.size(), plain.size());
    for (size_t i = 0; i < plain.size(); ++i) {
      if (i != 16 && i != 17 && i != 19) {
        ASSERT_EQ(checked[i], plain[i]) << "at " << i;
      }
    }
  }
}

TEST(FfsPeimFile, NameAndErasePolarityOptions) {
  const Bytes image = make_pe32_image();
  EXPECT_EQ(packaging::build_peim_file(image, {.erase_polarity_one = false})[23], 0x07);

  // Non-ASCII names become UTF-16LE, characters above U+FFFF a surrogate pair.
  const Bytes file = packaging::build_peim_file(image, {.ui_name = "R\xC3\xA9"
                                                                   "cup \xF0\x9F\x94\xA7"});
  const std::vector<Section> s = sections(file);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[2].data, utf16le(u"R\u00E9cup \U0001F527"));
  // Nine UTF-16 units end the file 2 bytes past a 4-byte multiple: no padding after the last section.
  EXPECT_EQ(file.size() % 4, 2u);
  expect_valid_header(file, false);
}

TEST(FfsPeimFile, RefusesWhatIsNotAnI386Pe32Image) {
  EXPECT_EQ(build_error({}), "not a PE32 image: 0 bytes is too short for a DOS header");
  EXPECT_EQ(build_error(make_pe32_image({.size = 63})),
            "not a PE32 image: 63 bytes is too short for a DOS header");
  Bytes no_mz = make_pe32_image();
  no_mz[1] = 'X';
  EXPECT_EQ(build_error(no_mz), "not a PE32 image: no MZ signature");
  EXPECT_EQ(build_error(make_pe32_image({.size = 0x90})),
            "not a PE32 image: PE header offset 0x80 lies outside the 144-byte file");
  EXPECT_EQ(build_error(make_pe32_image({.pe_offset = 0xFFFFFFF0})),
            "not a PE32 image: PE header offset 0xFFFFFFF0 lies outside the 1024-byte file");
  Bytes no_pe = make_pe32_image();
  no_pe[0x81] = 'X';
  EXPECT_EQ(build_error(no_pe), "not a PE32 image: no PE signature at 0x80");
  EXPECT_EQ(build_error(make_pe32_image({.machine = 0x8664})),
            "not a PE32 image for i386: machine is 0x8664, expected 0x14C");
  EXPECT_EQ(build_error(make_pe32_image({.magic = 0x20B})),
            "not a PE32 image: optional header magic is 0x20B, expected 0x10B");
}

TEST(FfsPeimFile, RefusesBadNames) {
  const Bytes image = make_pe32_image();
  EXPECT_EQ(build_error(image, {.ui_name = ""}), "the module name is empty");
  // Stray continuation, cut short, overlong, surrogate, above U+10FFFF, bad continuation.
  for (const char* bad : {"\x80", "ab\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x28\xA1"}) {
    EXPECT_EQ(build_error(image, {.ui_name = bad}).rfind("name is not valid UTF-8", 0), 0u) << bad;
  }
}

TEST(FfsPeimFile, SizeLimitIsTheTwentyFourBitField) {
  // With the default name and dependencies the file is 68 + image, rounded up to 4, + 32: the
  // largest image that fits makes a 0xFFFFFC-byte file.
  const Bytes largest = make_pe32_image({.size = 0xFFFFFC - 32 - 68});
  const Bytes file = packaging::build_peim_file(largest, {.data_checksum = true});
  EXPECT_EQ(file.size(), 0xFFFFFCu);
  expect_valid_header(file, true);

  EXPECT_EQ(build_error(make_pe32_image({.size = largest.size() + 1})),
            "image too large: 16777113 bytes do not fit a firmware file, whose 24-bit size is at most "
            "16777215 bytes");
}

}  // namespace
