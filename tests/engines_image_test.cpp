// The IA32 engine's loader: the image runs the same at two load bases and from its firmware file,
// and images the engine cannot run are refused with a reason.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "sim/ia32/Ia32Engine.h"
#include "sim/ia32/ImageFile.h"
#include "tests/support/engines_comparison.h"
#include "tools/ffs/Guid.h"
#include "tools/ffs/PeimFile.h"

namespace {

using testing_support::built_image;
using testing_support::differences;
using testing_support::EngineRun;
using testing_support::rehearse_on;

std::vector<std::uint8_t> built_bytes() {
  std::ifstream in(built_image(), std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string write_temp(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  std::string path = testing::TempDir() + name;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

// A whole default recovery: every relocated pointer (tables, strings, the PEI GUIDs) is used.
TEST(Ia32Image, TwoLoadBasesGiveIdenticalRuns) {
  ASSERT_FALSE(built_bytes().empty()) << "no IA32 image at " << built_image();
  rsim::Options o;
  const std::uint32_t bases[2] = {sim::ia32::Ia32Engine::kDefaultBase, 0x30001000};
  auto run = [&](bool second, std::uint64_t from, std::uint64_t to) {
    return rehearse_on(o, "ia32", bases[second ? 1 : 0], from, to);
  };
  EngineRun a = run(false, 0, 0), b = run(true, 0, 0);
  EXPECT_EQ(a.result.report.outcome.to_string(), "final-spin");
  EXPECT_EQ(differences(a, b, "low base", "high base", run), "");
}

// The firmware file that goes into a volume runs like the bare image (compared up to a cut deep
// into the recovery, past the embedded-controller handshake, detection and the first chunks).
TEST(Ia32Image, FirmwareFileRunsLikeTheEfi) {
  std::vector<std::uint8_t> efi = built_bytes();
  ASSERT_FALSE(efi.empty()) << "no IA32 image at " << built_image();
  rsim::Options o;
  o.faults.push_back(rsim::Fault{rsim::FaultKind::PowerCut, 4400000});
  rsim::Options from_file = o;
  from_file.image = write_temp("engines_image.ffs", packaging::build_peim_file(efi, {}));
  auto run = [&](bool second, std::uint64_t from, std::uint64_t to) {
    return rehearse_on(second ? from_file : o, "ia32", {}, from, to);
  };
  EngineRun a = run(false, 0, 0), b = run(true, 0, 0);
  EXPECT_EQ(a.result.report.chunks_done, b.result.report.chunks_done);
  EXPECT_GT(a.result.report.chunks_done, 0u);
  EXPECT_EQ(differences(a, b, ".efi", "firmware file", run), "");
}

// The file with the image section (type 10h) moved behind the others, size and header checksum
// made right again.
std::vector<std::uint8_t> image_section_last(const std::vector<std::uint8_t>& file) {
  auto size24 = [&](std::size_t at) {
    return std::size_t{file[at]} | file[at + 1] << 8 | file[at + 2] << 16;
  };
  std::vector<std::vector<std::uint8_t>> sections;
  for (std::size_t at = 24; at < file.size(); at = (at + size24(at) + 3) & ~std::size_t{3}) {
    sections.emplace_back(file.begin() + static_cast<long>(at),
                          file.begin() + static_cast<long>(at + size24(at)));
  }
  std::stable_partition(sections.begin(), sections.end(), [](const auto& s) { return s[3] != 0x10; });
  std::vector<std::uint8_t> out(file.begin(), file.begin() + 24);
  for (const auto& s : sections) {
    out.resize((out.size() + 3) & ~std::size_t{3}, 0);
    out.insert(out.end(), s.begin(), s.end());
  }
  out[20] = static_cast<std::uint8_t>(out.size());
  out[21] = static_cast<std::uint8_t>(out.size() >> 8);
  out[22] = static_cast<std::uint8_t>(out.size() >> 16);
  out[16] = 0;
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < 24; i++)
    sum = static_cast<std::uint8_t>(sum + (i == 17 || i == 23 ? 0 : out[i]));
  out[16] = static_cast<std::uint8_t>(-sum);
  return out;
}

// Every firmware file the packer makes runs like the .efi (compared up to a cut inside the
// embedded-controller handshake): each dependency expression it takes (sections of 6, 21, 38 and
// 55 bytes, so the image starts at each alignment padding), another file name, both checksum modes
// and erase polarities, and the image section last, behind a name section of 22 bytes.
TEST(Ia32Image, EveryFirmwareFileThePackerMakesRunsLikeTheEfi) {
  const std::vector<std::uint8_t> efi = built_bytes();
  ASSERT_FALSE(efi.empty()) << "no IA32 image at " << built_image();
  const struct {
    const char* name;
    packaging::PeimFileOptions options;
    bool image_last;
  } packings[] = {
      {"depex-true",            {.depex = "true"},                                                            false},
      {"depex-recovery-mode",   {.depex = "recovery-mode"},                                                   false},
      {"depex-memory",          {.depex = "memory"},                                                          false},
      {"depex-device-recovery", {.depex = "device-recovery"},                                                 false},
      {"depex-all-three",       {.depex = "device-recovery+memory+recovery-mode"},                            false},
      {"guid",                  {.file_guid = packaging::parse_guid("01234567-89AB-CDEF-0123-456789ABCDEF")}, false},
      {"checksum-polarity-0",   {.data_checksum = true, .erase_polarity_one = false},                         false},
      {"image-last",            {.depex = "true", .ui_name = "Recovery"},                                     true },
  };
  rsim::Options o;
  o.faults.push_back(rsim::Fault{rsim::FaultKind::PowerCut, 100000});
  const EngineRun from_efi = rehearse_on(o, "ia32");
  for (const auto& p : packings) {
    SCOPED_TRACE(p.name);
    const std::vector<std::uint8_t> file = packaging::build_peim_file(efi, p.options);
    rsim::Options from_file = o;
    from_file.image = write_temp(std::string("engines_packed_") + p.name + ".ffs",
                                 p.image_last ? image_section_last(file) : file);
    EXPECT_EQ(sim::ia32::read_image_file(*from_file.image).pe32, efi);
    auto run = [&](bool second, std::uint64_t from, std::uint64_t to) {
      return rehearse_on(second ? from_file : o, "ia32", {}, from, to);
    };
    EXPECT_EQ(differences(from_efi, run(true, 0, 0), ".efi", "firmware file", run), "");
  }
}

// Where a refused image differs from the built one.
enum class At { PeSignature, FirstRelocationBlock };

struct Refusal {
  const char* name;
  At at;
  std::size_t field;  // offset from `at` of a 16-bit field to overwrite
  std::uint16_t value;
  std::uint32_t base;
  const char* reason;
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

// The file offset of the first base relocation block, found through the section table; 0 if none.
std::size_t first_relocation_block(const std::vector<std::uint8_t>& b) {
  auto u16 = [&](std::size_t at) { return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8; };
  auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
  const std::size_t pe = u32(0x3C), optional = pe + 24, table = optional + u16(pe + 20);
  const std::uint32_t rva = u32(optional + 136);
  for (std::size_t s = table; s < table + 40 * u16(pe + 6); s += 40) {
    if (rva >= u32(s + 12) && rva < u32(s + 12) + u32(s + 16)) return u32(s + 20) + rva - u32(s + 12);
  }
  return 0;
}

// COFF header: machine at PE+4, characteristics at PE+22 (bit 0: relocations stripped); the base
// relocation directory's size at PE+164. The image prefers base 0, so each base here relocates
// it. A relocation block: page RVA at +0, SizeOfBlock (header of 8 bytes included) at +4, entries
// (kind in the top 4 bits, 3 = HIGHLOW) from +8. A block of size 0 would be walked for ever.
constexpr std::uint32_t kBase = sim::ia32::Ia32Engine::kDefaultBase;
const Refusal kRefusals[] = {
    {"NotI386",                   At::PeSignature,          4,   0x8664, kBase,      "a PE32 image for i386"   },
    {"NoRelocations",             At::PeSignature,          22,  0x0103, kBase,      "has no base relocations" },
    {"EmptyRelocationDirectory",  At::PeSignature,          164, 0x0000, kBase,      "has no base relocations" },
    {"DoesNotFit",                At::PeSignature,          4,   0x014C, 0x7FFFF000, "does not fit"            },
    {"InTheDecodedRange",         At::PeSignature,          4,   0x014C, 0xFFE00000, "does not fit"            },
    {"SixtyFourBitRelocation",    At::FirstRelocationBlock, 8,   0xA000, kBase,      "not a 32-bit address"    },
    {"BlockShorterThanItsHeader", At::FirstRelocationBlock, 4,   0x0000, kBase,      "corrupt relocation block"},
    {"RelocationPastTheImage",    At::FirstRelocationBlock, 0,   0xF000, kBase,      "not a 32-bit address"    },
};

class Ia32ImageRefused : public testing::TestWithParam<Refusal> {};

TEST_P(Ia32ImageRefused, WithTheReason) {
  std::vector<std::uint8_t> bytes = built_bytes();
  ASSERT_FALSE(bytes.empty()) << "no IA32 image at " << built_image();
  const std::size_t at =
      GetParam().at == At::PeSignature ? bytes[0x3C] | bytes[0x3D] << 8 : first_relocation_block(bytes);
  ASSERT_NE(at, 0u);
  bytes[at + GetParam().field] = static_cast<std::uint8_t>(GetParam().value);
  bytes[at + GetParam().field + 1] = static_cast<std::uint8_t>(GetParam().value >> 8);
  // Loaded in a child process under an alarm, so that a loader walking a block for ever fails the
  // test (killed by SIGALRM) instead of hanging it. The child says what it saw on stderr.
  EXPECT_EXIT(
      {
        alarm(10);
        try {
          sim::ia32::Pe32Image image(bytes);
          sim::ia32::Ia32Engine engine(image, GetParam().base);
          std::fputs("accepted\n", stderr);
        } catch (const sim::ia32::ImageError& e) {
          std::fprintf(stderr, "%s\n", e.what());
          std::_Exit(0);
        }
        std::_Exit(1);
      },
      testing::ExitedWithCode(0), GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(, Ia32ImageRefused, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<Refusal>& info) { return info.param.name; });

TEST(Ia32Image, FileThatIsNeitherImageNorFirmwareFileIsRefused) {
  std::string path = write_temp("engines_not_an_image.bin", std::vector<std::uint8_t>(4096, 0x11));
  EXPECT_THROW(sim::ia32::read_image_file(path), sim::ia32::ImageError);
}

}  // namespace
