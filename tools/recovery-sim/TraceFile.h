// Writes every hardware access of a run to a text file, one per line, up to a limit.
#pragma once

#include <cstdio>
#include <string>

#include "sim/Platform.h"

namespace rsim {

class TraceFile : public sim::TraceSink {
 public:
  // Throws std::runtime_error when the file cannot be opened.
  TraceFile(const std::string& path, std::uint64_t limit);
  // Closes without checking; close() is the checked way.
  ~TraceFile() override;
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;
  void record(const sim::Access& a) override;
  // Writes the note on dropped accesses and closes; throws std::runtime_error (naming --trace and
  // the path) when any write or the close failed.
  void close();
  std::uint64_t written() const { return written_; }
  std::uint64_t dropped() const { return dropped_; }

 private:
  std::string path_;
  std::FILE* file_;
  std::uint64_t limit_;
  std::uint64_t written_ = 0;
  std::uint64_t dropped_ = 0;
};

}  // namespace rsim
