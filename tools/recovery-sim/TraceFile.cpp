// Access trace file: "<index> <time ns> <access>" per line.
#include "tools/recovery-sim/TraceFile.h"

#include "tools/ffs/FileProblem.h"
#include "tools/recovery-sim/Files.h"

#include <cerrno>
#include <stdexcept>

namespace rsim {

TraceFile::TraceFile(const std::string& path, std::uint64_t limit)
    : path_(path), file_(std::fopen(path.c_str(), "w")), limit_(limit) {
  if (file_ == nullptr) {
    throw std::runtime_error("cannot write --trace " + path + ": " + packaging::file_problem(errno));
  }
  std::fputs("# index time_ns access\n", file_);
}

TraceFile::~TraceFile() {
  if (file_ != nullptr) {
    std::fclose(file_);
  }
}

void TraceFile::close() {
  if (dropped_ != 0) {
    std::fprintf(file_, "# %llu more accesses not written (--trace-limit %llu)\n",
                 static_cast<unsigned long long>(dropped_), static_cast<unsigned long long>(limit_));
  }
  std::FILE* f = file_;
  file_ = nullptr;
  close_output(f, "--trace", path_);
}

void TraceFile::record(const sim::Access& a) {
  if (limit_ != 0 && written_ >= limit_) {
    dropped_++;
    return;
  }
  written_++;
  std::fprintf(file_, "%llu %llu %s\n", static_cast<unsigned long long>(a.index),
               static_cast<unsigned long long>(a.time), sim::describe(a).c_str());
}

}  // namespace rsim
