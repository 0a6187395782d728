// make-peim-ffs as a user runs it: the file it writes for each option, one error line and a
// non-zero exit for bad input with OUT left alone, and packaging the real IA32 image if built.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/ffs_pe32_image.h"
#include "tools/ffs/PeimFile.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using testing_support::make_pe32_image;

Bytes read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

struct ToolRun {
  int exit_code;
  std::string errors;  // what the tool wrote to stderr
  std::string said;    // what it wrote to stdout
};

class FfsTool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("ffs_tool_" + std::string(test_info()->name()) + "_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  static const ::testing::TestInfo* test_info() {
    return ::testing::UnitTest::GetInstance()->current_test_info();
  }

  // A file in the test's directory, quoted for the shell.
  std::string at(const std::string& name) const { return "'" + (dir_ / name).string() + "'"; }

  ToolRun run(const std::string& args) const {
    const std::string command =
        std::string("'") + MAKE_PEIM_FFS + "' " + args + " >" + at("stdout") + " 2>" + at("stderr");
    const int status = std::system(command.c_str());
    const Bytes errors = read_bytes(dir_ / "stderr"), said = read_bytes(dir_ / "stdout");
    return {
        WIFEXITED(status) ? WEXITSTATUS(status) : -1,
        {errors.begin(), errors.end()},
        {said.begin(),   said.end()  }
    };
  }

  // Exit 1, one line naming the problem, and OUT still holding what it held before.
  void expect_refused(const std::string& image, const std::string& fragment) const {
    write_bytes(dir_ / "out.ffs", {'o', 'l', 'd'});
    const ToolRun r = run(at(image) + " " + at("out.ffs"));
    EXPECT_EQ(r.exit_code, 1) << image;
    EXPECT_EQ(r.errors.rfind("make-peim-ffs: error: ", 0), 0u) << r.errors;
    EXPECT_NE(r.errors.find(fragment), std::string::npos) << r.errors;
    EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1) << r.errors;
    EXPECT_EQ(read_bytes(dir_ / "out.ffs"), (Bytes{'o', 'l', 'd'})) << image;
  }

  fs::path dir_;
};

TEST_F(FfsTool, WritesTheFileTheLibraryBuildsForEachOption) {
  const Bytes image = make_pe32_image({.size = 2050});
  write_bytes(dir_ / "image.efi", image);

  ToolRun r = run(at("image.efi") + " " + at("plain.ffs"));
  EXPECT_EQ(r.exit_code, 0) << r.errors;
  EXPECT_EQ(
      r.said.rfind("make-peim-ffs: wrote " + (dir_ / "plain.ffs").string() + ": a PEIM firmware file of ", 0),
      0u)
      << r.said;
  EXPECT_EQ(read_bytes(dir_ / "plain.ffs"), packaging::build_peim_file(image, {}));

  r = run("--checksum " + at("image.efi") + " --name Rescue " + at("named.ffs") + " --erase-polarity 0");
  EXPECT_EQ(r.exit_code, 0) << r.errors;
  EXPECT_EQ(read_bytes(dir_ / "named.ffs"),
            packaging::build_peim_file(
                image, {.ui_name = "Rescue", .data_checksum = true, .erase_polarity_one = false}));
  EXPECT_FALSE(fs::exists(dir_ / "named.ffs.tmp"));

  r = run(at("image.efi") + " " + at("harness.ffs") +
          " --depex memory --guid 5E0C8C11-0F4A-4D53-9B6E-51454D552001");
  EXPECT_EQ(r.exit_code, 0) << r.errors;
  EXPECT_EQ(read_bytes(dir_ / "harness.ffs"),
            packaging::build_peim_file(
                image, {.file_guid = packaging::parse_guid("5E0C8C11-0F4A-4D53-9B6E-51454D552001"),
                        .depex = "memory"}));
}

TEST_F(FfsTool, BadInputGivesOneErrorLineAndLeavesOutAlone) {
  expect_refused("missing.efi", "missing.efi: no such file");
  fs::create_directory(dir_ / "a_directory");
  expect_refused("a_directory", "a_directory: it is a directory, not a file");
  write_bytes(dir_ / "text.efi", {'h', 'e', 'l', 'l', 'o'});
  expect_refused("text.efi", "too short for a DOS header");
  write_bytes(dir_ / "x64.efi", make_pe32_image({.machine = 0x8664}));
  expect_refused("x64.efi", "machine is 0x8664");
  write_bytes(dir_ / "huge.efi", make_pe32_image({.size = packaging::kMaxFileSize}));
  expect_refused("huge.efi", "image too large");
  // Truncated or inconsistent images that a loader would read past their end.
  const struct {
    testing_support::Pe32Shape shape;
    const char* says;
  } broken[] = {
      {{.size = 0x100},              "truncated PE32 image"                                    },
      {{.subsystem = 10},            "subsystem is 10, expected 11"                            },
      {{.size_of_image = 0x200},     "section .text ends at 0x400, past SizeOfImage 0x200"     },
      {{.raw_size = 0x10000},        "section .text has SizeOfRawData 0x10000 at 0x1A0, beyond"},
      {{.relocation_block = 0x1000}, "corrupt relocation block at file offset 0x1A0"           },
      {{.relocation_block = 4},      "corrupt relocation block"                                },
  };
  for (const auto& b : broken) {
    write_bytes(dir_ / "broken.efi", make_pe32_image(b.shape));
    expect_refused("broken.efi", b.says);
  }

  write_bytes(dir_ / "good.efi", make_pe32_image());
  for (const char* out : {"no_such_dir/out.ffs", "/dev/full"}) {
    const ToolRun r = run(at("good.efi") + " " + (out[0] == '/' ? out : at(out)));
    EXPECT_EQ(r.exit_code, 1) << out;
    EXPECT_NE(r.errors.find("cannot write"), std::string::npos) << r.errors;
    EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1) << r.errors;
  }
  EXPECT_TRUE(fs::is_character_file("/dev/full"))
      << "a device given as OUT is written in place, not replaced";

  // Usage mistakes: one line too, and a status of their own.
  for (const std::string args : {"", "a b c", "a b --name", "a b --erase-polarity 2", "a b --frobnicate",
                                 "a b --depex memory+nothing", "a b --guid 1234", "a b --depex"}) {
    const ToolRun r = run(args);
    EXPECT_EQ(r.exit_code, 2) << args;
    EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), '\n'), 1) << args << "\n" << r.errors;
  }
}

// The ia32 preset's image by default; RECOVERY_IA32_IMAGE names another build's.
TEST_F(FfsTool, PackagesTheBuiltIa32Image) {
  const char* chosen = std::getenv("RECOVERY_IA32_IMAGE");
  const std::string ia32_image = chosen != nullptr ? chosen : IA32_PEIM_IMAGE;
  if (!fs::exists(ia32_image)) {
    GTEST_SKIP() << "no IA32 image at " << ia32_image << " (build the ia32 preset to package it)";
  }
  const Bytes image = read_bytes(ia32_image);
  const ToolRun r = run("'" + ia32_image + "' " + at("recovery.ffs") + " --checksum");
  ASSERT_EQ(r.exit_code, 0) << r.errors;
  const Bytes file = read_bytes(dir_ / "recovery.ffs");
  EXPECT_EQ(file, packaging::build_peim_file(image, {.data_checksum = true}));
  // The PE32 section carries the image unchanged, right after the dependency section.
  ASSERT_GE(file.size(), 68 + image.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), file.begin() + 68));
}

}  // namespace
