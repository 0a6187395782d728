// The IA32 engine's loader: the image runs the same at two load bases and from its firmware file,
// and images the engine cannot run are refused with a reason.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "sim/ia32/Ia32Engine.h"
#include "sim/ia32/ImageFile.h"
#include "tests/support/engines_comparison.h"
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

struct Refusal {
  const char* name;
  std::size_t pe_field;  // offset from the PE signature of a 16-bit field to overwrite
  std::uint16_t value;
  std::uint32_t base;
  const char* reason;
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

// COFF header: machine at PE+4, characteristics at PE+22 (bit 0: relocations stripped).
const Refusal kRefusals[] = {
    {"NotI386",           4,  0x8664, sim::ia32::Ia32Engine::kDefaultBase, "a PE32 image for i386"  },
    {"NoRelocations",     22, 0x0103, sim::ia32::Ia32Engine::kDefaultBase, "has no base relocations"},
    {"DoesNotFit",        4,  0x014C, 0x7FFFF000,                          "does not fit"           },
    {"InTheDecodedRange", 4,  0x014C, 0xFFE00000,                          "does not fit"           },
};

class Ia32ImageRefused : public testing::TestWithParam<Refusal> {};

TEST_P(Ia32ImageRefused, WithTheReason) {
  std::vector<std::uint8_t> bytes = built_bytes();
  ASSERT_FALSE(bytes.empty()) << "no IA32 image at " << built_image();
  std::uint32_t pe = bytes[0x3C] | bytes[0x3D] << 8;
  bytes[pe + GetParam().pe_field] = static_cast<std::uint8_t>(GetParam().value);
  bytes[pe + GetParam().pe_field + 1] = static_cast<std::uint8_t>(GetParam().value >> 8);
  try {
    sim::ia32::Pe32Image image(bytes);
    sim::ia32::Ia32Engine engine(image, GetParam().base);
    FAIL() << "accepted";
  } catch (const sim::ia32::ImageError& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().reason), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(, Ia32ImageRefused, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<Refusal>& info) { return info.param.name; });

TEST(Ia32Image, FileThatIsNeitherImageNorFirmwareFileIsRefused) {
  std::string path = write_temp("engines_not_an_image.bin", std::vector<std::uint8_t>(4096, 0x11));
  EXPECT_THROW(sim::ia32::read_image_file(path), sim::ia32::ImageError);
}

}  // namespace
