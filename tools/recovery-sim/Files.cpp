// Checked file access for recovery-sim's inputs and outputs.
#include "tools/recovery-sim/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "tools/ffs/FileProblem.h"

namespace rsim {

namespace {

std::string named(const std::string& option, const std::string& path) { return option + " " + path; }

[[noreturn]] void write_failed(const std::string& option, const std::string& path, int error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    std::remove(path.c_str());
  }
  throw std::runtime_error("cannot write " + named(option, path) + ": " + packaging::file_problem(error));
}

// Opens `path` as the later write will and closes it again. Throws std::invalid_argument.
void probe_writable(const std::string& option, const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) {
    throw std::invalid_argument("cannot write " + named(option, path) + ": " +
                                packaging::file_problem(errno));
  }
  ::close(fd);
}

}  // namespace

std::vector<std::uint8_t> read_input(const std::string& option, const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    throw std::invalid_argument("cannot read " + named(option, path) + ": " + packaging::file_problem(errno));
  }
  if (S_ISDIR(st.st_mode)) {
    throw std::invalid_argument("cannot read " + named(option, path) + ": it is a directory, not a file");
  }
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    throw std::invalid_argument("cannot read " + named(option, path) + ": " + packaging::file_problem(errno));
  }
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[65536];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  const int error = std::ferror(f) != 0 ? errno : 0;
  std::fclose(f);
  if (error != 0) {
    throw std::invalid_argument("cannot read " + named(option, path) + ": " + packaging::file_problem(error));
  }
  return bytes;
}

void check_output_path(const std::string& option, const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      throw std::invalid_argument("cannot write " + named(option, path) + ": it is a directory, not a file");
    }
    // A file already there is opened for writing, not truncated: refused now, not after the run.
    // (Devices and pipes are left alone: opening one may block or have effects.)
    if (S_ISREG(st.st_mode)) probe_writable(option, path, O_WRONLY);
    return;
  }
  const std::size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    throw std::invalid_argument("cannot write " + named(option, path) + ": no directory " + dir);
  }
  probe_writable(option, path, O_WRONLY | O_CREAT | O_EXCL);
  ::unlink(path.c_str());
}

void write_output(const std::string& option, const std::string& path, const void* bytes, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    write_failed(option, path, errno);
  }
  if (std::fwrite(bytes, 1, size, f) != size) {
    const int error = errno;
    std::fclose(f);
    write_failed(option, path, error);
  }
  close_output(f, option, path);
}

void close_output(std::FILE* file, const std::string& option, const std::string& path) {
  // A full device often fails only when the buffer is flushed, so the flush and the close count too.
  const bool ok = std::fflush(file) == 0 && std::ferror(file) == 0;
  const int error = errno;
  const bool closed = std::fclose(file) == 0;
  if (!ok || !closed) {
    write_failed(option, path, !ok ? error : errno);
  }
}

}  // namespace rsim
