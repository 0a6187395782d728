// make-peim-ffs: wraps the recovery module's PE32 image into a PEIM firmware file.
// A usage mistake ends with one error line on stderr and exit status 2; a bad image or a failed
// write with one error line and exit status 1. OUT is then left untouched. On success it says on
// stdout what it wrote.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tools/ffs/Depex.h"
#include "tools/ffs/FfsError.h"
#include "tools/ffs/FileProblem.h"
#include "tools/ffs/Guid.h"
#include "tools/ffs/PeimFile.h"

namespace {

constexpr const char* kUsage =
    "usage: make-peim-ffs IMAGE OUT [--name NAME] [--guid GUID] [--depex EXPR] [--checksum]\n"
    "                     [--erase-polarity 0|1]\n"
    "  IMAGE             the module's PE32 image (i386)\n"
    "  OUT               the firmware file to write (type PEIM)\n"
    "  --name NAME       module name for the user-interface section (default FlashRecovery)\n"
    "  --guid GUID       file name GUID (default B0EB5CCC-C6CF-42B5-8D0C-2AB8C6671E24)\n"
    "  --depex EXPR      dependency expression: true, or PPIs joined by '+' from\n"
    "                    recovery-mode, memory, device-recovery (default recovery-mode+memory)\n"
    "  --checksum        set the data-checksum attribute and checksum the file data\n"
    "                    (without it the file checksum is the fixed value 0xAA)\n"
    "  --erase-polarity  erase polarity of the target volume (default 1: State stored inverted)\n"
    "Exit status: 0 written; 1 a bad image or OUT cannot be written; 2 a usage mistake.\n";

constexpr int kBadImage = 1;
constexpr int kUsageMistake = 2;

struct UsageError {
  std::string message;
};

struct Arguments {
  std::string image;
  std::string out;
  packaging::PeimFileOptions options;
};

// Runs an option's parser; what it refuses is a usage mistake.
template <typename Parser>
auto parse_option(Parser parser, std::string_view value) {
  try {
    return parser(value);
  } catch (const packaging::FfsError& e) {
    throw UsageError{e.what()};
  }
}

Arguments parse_arguments(int argc, char** argv) {
  Arguments args;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (arg == "--checksum") {
      args.options.data_checksum = true;
    } else if (arg == "--name") {
      if (!has_value) throw UsageError{"--name needs a value"};
      args.options.ui_name = argv[++i];
    } else if (arg == "--guid") {
      if (!has_value) throw UsageError{"--guid needs a value"};
      args.options.file_guid = parse_option(packaging::parse_guid, argv[++i]);
    } else if (arg == "--depex") {
      if (!has_value) throw UsageError{"--depex needs a value"};
      args.options.depex = argv[++i];
      parse_option(packaging::encode_depex, args.options.depex);
    } else if (arg == "--erase-polarity") {
      const std::string_view value = has_value ? argv[++i] : "";
      if (value != "0" && value != "1") throw UsageError{"--erase-polarity takes 0 or 1"};
      args.options.erase_polarity_one = value == "1";
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError{"unknown option " + std::string(arg)};
    } else {
      positional.emplace_back(arg);
    }
  }
  if (positional.size() != 2) throw UsageError{"expected IMAGE and OUT"};
  args.image = positional[0];
  args.out = positional[1];
  return args;
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    throw packaging::FfsError("cannot read " + path + ": " + packaging::file_problem(errno));
  }
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  const bool failed = std::ferror(f) != 0;
  const int error = errno;
  std::fclose(f);
  if (failed) {
    throw packaging::FfsError("cannot read " + path + ": " + packaging::file_problem(error));
  }
  return bytes;
}

[[noreturn]] void write_failed(const std::string& path, int error) {
  throw packaging::FfsError("cannot write " + path + ": " + packaging::file_problem(error));
}

// Writes, flushes and closes `f`; removes `remove_on_failure` (if given) when anything fails.
void write_all(std::FILE* f, const std::string& path, const std::vector<uint8_t>& bytes,
               const char* remove_on_failure) {
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && std::fflush(f) == 0;
  const int error = errno;
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    const int cause = written ? errno : error;
    if (remove_on_failure != nullptr) std::remove(remove_on_failure);
    write_failed(path, cause);
  }
}

// A regular OUT is written beside itself first and renamed, so that a failed write never leaves a
// partial file at OUT. Anything else that exists (a device, a pipe) is written in place: renaming
// over it would replace it.
void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    if (S_ISDIR(st.st_mode)) write_failed(path, EISDIR);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) write_failed(path, errno);
    write_all(f, path, bytes, nullptr);
    return;
  }
  const std::string temp = path + ".tmp";
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (f == nullptr) write_failed(path, errno);
  write_all(f, path, bytes, temp.c_str());
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    std::remove(temp.c_str());
    write_failed(path, error);
  }
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Arguments args = parse_arguments(argc, argv);
    const std::vector<uint8_t> image = read_file(args.image);
    std::vector<uint8_t> file;
    try {
      file = packaging::build_peim_file(image, args.options);
    } catch (const packaging::FfsError& e) {
      throw packaging::FfsError(args.image + ": " + e.what());
    }
    write_file(args.out, file);
    std::printf("make-peim-ffs: wrote %s: a PEIM firmware file of %zu bytes (%s, the %zu-byte image %s)\n",
                args.out.c_str(), file.size(), args.options.ui_name.c_str(), image.size(),
                args.image.c_str());
    return 0;
  } catch (const UsageError& e) {
    std::fprintf(stderr, "make-peim-ffs: error: %s (--help shows the usage)\n", e.message.c_str());
    return kUsageMistake;
  } catch (const packaging::FfsError& e) {
    std::fprintf(stderr, "make-peim-ffs: error: %s\n", e.what());
    return kBadImage;
  }
}
