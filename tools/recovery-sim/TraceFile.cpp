// Access trace file: "<index> <time ns> <device> <access>" per line, a run of repeated reads on
// one line with its count; the old "<index> <time ns> <access>" per access with
// --trace-every-access.
#include "tools/recovery-sim/TraceFile.h"

#include "tools/ffs/FileProblem.h"
#include "tools/recovery-sim/Files.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace rsim {

namespace {
unsigned long long ull(std::uint64_t v) { return static_cast<unsigned long long>(v); }
}  // namespace

TraceFile::TraceFile(const std::string& path, const Options& o, const TraceDevices& devices)
    : path_(path),
      file_(std::fopen(path.c_str(), "w")),
      limit_(o.trace_limit),
      from_point_(o.trace_from),
      devices_chosen_(o.trace_devices),
      every_access_(o.trace_every_access),
      devices_(devices),
      from_(!o.trace_from                           ? 0
            : o.trace_from->cut_at == CutAt::Access ? o.trace_from->n
                                                    : kNotYet) {
  if (file_ == nullptr) {
    throw std::runtime_error("cannot write --trace " + path + ": " + packaging::file_problem(errno));
  }
  if (from_point_) std::fprintf(file_, "# --trace-from %s\n", cut_point_name(*from_point_).c_str());
  if (!devices_chosen_.empty()) {
    std::string list;
    for (const auto& d : devices_chosen_) list += (list.empty() ? "" : ",") + d;
    std::fprintf(file_, "# --trace-devices %s: accesses to other devices are left out\n", list.c_str());
  }
  if (every_access_) {
    std::fputs("# index time_ns access\n", file_);
  } else {
    std::fputs(
        "# index time_ns device access\n"
        "# Reads of one register that return the same value, or a value that only counts up (a\n"
        "# timer), are one line: \"(read N times, to access M)\". A loop of up to 4 accesses repeated\n"
        "# exactly is written twice, then \"# repeated: ...\" says how many times more it ran.\n",
        file_);
  }
}

TraceFile::~TraceFile() {
  if (file_ != nullptr) {
    std::fclose(file_);
  }
}

void TraceFile::start_at(std::uint64_t index) { from_ = std::min(from_, index); }

void TraceFile::start_at_time(const sim::Platform& clock, sim::Nanos run_start, sim::Nanos ns) {
  clock_ = &clock;
  from_time_ = run_start + ns;
}

void TraceFile::close() {
  flush();
  while (!pattern_.empty()) end_repeat();  // each pass leaves fewer lines held back
  if (dropped_ != 0) {
    std::fprintf(file_, "# %llu more accesses not written (--trace-limit %llu)\n", ull(dropped_),
                 ull(limit_));
  }
  if (!reached()) {
    std::fprintf(file_, "# the run never reached --trace-from %s: it ended after access %llu\n",
                 cut_point_name(*from_point_).c_str(), ull(last_index_));
  }
  std::FILE* f = file_;
  file_ = nullptr;
  close_output(f, "--trace", path_);
}

bool TraceFile::joins(const sim::Access& a) const {
  if (!held_ || every_access_ || a.write || held_->first.write) return false;
  const sim::Access& last = held_->last;
  if (a.space != last.space || a.address != last.address || a.width != last.width) return false;
  const bool one = held_->count == 1;
  return (a.value == last.value && (one || !held_->rising)) ||
         (a.value > last.value && (one || held_->rising));
}

void TraceFile::record(const sim::Access& a) {
  last_index_ = a.index;
  if (from_ == kNotYet && clock_ != nullptr && clock_->now() >= from_time_) from_ = a.index;
  if (a.index < from_) return;
  if (!opened_) {
    opened_ = true;
    if (from_point_ && from_point_->cut_at != CutAt::Access) {
      std::fprintf(file_, "# --trace-from %s is access %llu\n", cut_point_name(*from_point_).c_str(),
                   ull(a.index));
    }
  }
  const char* device = every_access_ && devices_chosen_.empty() ? nullptr : devices_.name(a);
  if (!devices_chosen_.empty() &&
      std::find(devices_chosen_.begin(), devices_chosen_.end(), device) == devices_chosen_.end()) {
    return;
  }
  if (joins(a)) {
    held_->rising = a.value > held_->last.value;
    held_->last = a;
    held_->count++;
    return;
  }
  flush();
  held_ = Line{a, a, device, 1, false};
  if (every_access_) flush();
}

void TraceFile::flush() {
  if (!held_) return;
  const Line line = *held_;
  held_.reset();
  emit(line);
}

namespace {
bool same(const sim::Access& a, const sim::Access& b) {
  return a.space == b.space && a.write == b.write && a.width == b.width && a.address == b.address &&
         a.value == b.value;
}
constexpr std::size_t kLongestLoop = 4;  // accesses
}  // namespace

void TraceFile::emit(const Line& line) {
  if (!pattern_.empty()) {
    if (line.count == 1 && same(line.first, pattern_[partial_.size()].first)) {
      partial_.push_back(line);
      if (partial_.size() == pattern_.size()) {
        repeats_++;
        repeat_end_ = line.last.index;
        partial_.clear();
      }
      return;
    }
    // The loop is over: its unfinished run, then this line, are taken afresh (they may start
    // another loop).
    end_repeat();
    emit(line);
    return;
  }
  write(line);
  if (every_access_ || line.count != 1) {
    recent_.clear();
    return;
  }
  recent_.push_back(line);
  if (recent_.size() > 2 * kLongestLoop) recent_.erase(recent_.begin());
  const std::size_t n = recent_.size();
  for (std::size_t period = 1; period <= kLongestLoop && 2 * period <= n; period++) {
    bool twice = true;
    for (std::size_t i = 0; i < period && twice; i++) {
      twice = same(recent_[n - 2 * period + i].first, recent_[n - period + i].first);
    }
    if (twice) {
      pattern_.assign(recent_.end() - static_cast<std::ptrdiff_t>(period), recent_.end());
      recent_.clear();
      return;
    }
  }
}

void TraceFile::end_repeat() {
  if (repeats_ != 0) {
    const std::uint64_t accesses = repeats_ * pattern_.size();
    if (limit_ != 0 && written_ >= limit_) {
      dropped_ += accesses;
    } else {
      written_++;
      std::fprintf(file_, "# repeated: the %zu lines above, %llu more time%s, to access %llu\n",
                   pattern_.size(), ull(repeats_), repeats_ == 1 ? "" : "s", ull(repeat_end_));
    }
  }
  std::vector<Line> rest = std::move(partial_);
  pattern_.clear();
  partial_.clear();
  repeats_ = 0;
  for (const Line& l : rest) emit(l);
}

void TraceFile::write(const Line& line) {
  if (limit_ != 0 && written_ >= limit_) {
    dropped_ += line.count;
    return;
  }
  written_++;
  const sim::Access& a = line.first;
  if (every_access_) {
    std::fprintf(file_, "%llu %llu %s\n", ull(a.index), ull(a.time), sim::describe(a).c_str());
    return;
  }
  std::fprintf(file_, "%llu %llu %s %s", ull(a.index), ull(a.time), line.device, sim::describe(a).c_str());
  if (line.count > 1) {
    if (line.rising) {
      std::fprintf(file_, "..0x%0*X", static_cast<int>(line.last.width) * 2, line.last.value);
    }
    std::fprintf(file_, " (read %llu times%s, to access %llu)", ull(line.count),
                 line.rising ? ", counting up" : "", ull(line.last.index));
  }
  std::fputc('\n', file_);
}

}  // namespace rsim
