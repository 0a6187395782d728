// Writes a run's hardware accesses to a text file: from a chosen point on, for chosen devices, a
// run of repeated reads folded into one line, up to a number of lines.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "sim/Platform.h"
#include "tools/recovery-sim/Options.h"
#include "tools/recovery-sim/TraceDevices.h"

namespace rsim {

class TraceFile : public sim::TraceSink {
 public:
  // Takes --trace-limit, --trace-from, --trace-devices and --trace-every-access from `o`. A
  // --trace-from point is opened by start_at() or start_at_time(); without one the trace starts at
  // the first access. Throws std::runtime_error when the file cannot be opened.
  TraceFile(const std::string& path, const Options& o, const TraceDevices& devices);
  // Closes without checking; close() is the checked way.
  ~TraceFile() override;
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;
  // The trace starts with access `index` (the run's own number): the access a power cut at the
  // --trace-from point would cut after.
  void start_at(std::uint64_t index);
  // ...with the first access that ends `ns` after `run_start` on `clock`, as a cut at time: does.
  void start_at_time(const sim::Platform& clock, sim::Nanos run_start, sim::Nanos ns);
  void record(const sim::Access& a) override;
  // Writes what is still held back and the notes on dropped accesses or a point never reached, and
  // closes; throws std::runtime_error (naming --trace and the path) when any write or the close
  // failed.
  void close();
  // Whether the --trace-from point was reached (true without one).
  bool reached() const { return opened_; }
  std::uint64_t written() const { return written_; }
  std::uint64_t dropped() const { return dropped_; }

 private:
  static constexpr std::uint64_t kNotYet = ~std::uint64_t{0};
  // Accesses that make one line: one access, or a run of reads of one register that return the
  // same value (a status polled) or a value that only grows (a free-running counter).
  struct Line {
    sim::Access first;
    sim::Access last;
    const char* device = nullptr;
    std::uint64_t count = 0;
    bool rising = false;
  };
  bool joins(const sim::Access& a) const;
  // Ends the line being gathered and passes it on.
  void flush();
  // A loop of a few accesses repeated exactly (a register polled through an index port) is
  // written twice, then counted: one line says how many times more it ran.
  void emit(const Line& line);
  void end_repeat();
  void write(const Line& line);

  std::string path_;
  std::FILE* file_;
  std::uint64_t limit_;
  std::optional<Fault> from_point_;
  std::vector<std::string> devices_chosen_;
  bool every_access_;
  const TraceDevices& devices_;
  std::uint64_t from_;
  const sim::Platform* clock_ = nullptr;
  sim::Nanos from_time_ = 0;
  std::uint64_t last_index_ = 0;
  bool opened_ = false;  // an access of the window was seen
  std::optional<Line> held_;
  std::vector<Line> recent_;   // the last lines written, each one access
  std::vector<Line> pattern_;  // the loop being counted (empty: none)
  std::vector<Line> partial_;  // its next run, as far as it has come
  std::uint64_t repeats_ = 0;
  std::uint64_t repeat_end_ = 0;  // the last access of the last counted run
  std::uint64_t written_ = 0;
  std::uint64_t dropped_ = 0;
};

}  // namespace rsim
