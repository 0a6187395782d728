// Runs one rehearsal on both engines and compares everything the platform saw: a digest of the
// whole access trace (with the first differing access when they differ), the report and the flash.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/Platform.h"
#include "tools/recovery-sim/Rehearsal.h"

namespace testing_support {

// A running hash over every access (index, time, kind, width, address, value), with the hash
// kept at every kCheckpoint-th access, and the accesses of one window kept whole.
class TraceDigest : public sim::TraceSink {
 public:
  static constexpr std::uint64_t kCheckpoint = 1 << 16;
  explicit TraceDigest(std::uint64_t keep_from = 0, std::uint64_t keep_to = 0)
      : keep_from_(keep_from), keep_to_(keep_to) {}
  void record(const sim::Access& a) override;
  std::uint64_t hash() const { return hash_; }
  std::uint64_t count() const { return count_; }
  const std::vector<std::uint64_t>& checkpoints() const { return checkpoints_; }
  const std::vector<sim::Access>& kept() const { return kept_; }

 private:
  std::uint64_t keep_from_, keep_to_;
  std::uint64_t hash_ = 0xcbf29ce484222325;
  std::uint64_t count_ = 0;
  std::vector<std::uint64_t> checkpoints_;
  std::vector<sim::Access> kept_;
};

struct EngineRun {
  rsim::RehearsalResult result;
  TraceDigest digest;
};

// The image the ia32 preset built; the engine tests fail (not skip) when it is missing.
std::string built_image();

EngineRun rehearse_on(rsim::Options options, const std::string& engine,
                      std::optional<std::uint32_t> base = {}, std::uint64_t keep_from = 0,
                      std::uint64_t keep_to = 0);

// The report as JSON without what legitimately differs between runs on two engines or two bases:
// the engine and image, and the host time.
std::string comparable_report(const rsim::Report& r);

// Empty when the two traces are the same access for access; otherwise the first access that
// differs, found by replaying each side (`rerun`) with a window of accesses kept.
std::string trace_differences(
    const TraceDigest& a, const TraceDigest& b, const char* a_name, const char* b_name,
    const std::function<TraceDigest(bool second, std::uint64_t from, std::uint64_t to)>& rerun);

// Empty when `a` and `b` saw the same accesses, report and final flash; otherwise what differs
// first. `rerun` replays a side with a window of accesses kept, to name the first differing access.
std::string differences(
    const EngineRun& a, const EngineRun& b, const char* a_name, const char* b_name,
    const std::function<EngineRun(bool second, std::uint64_t from, std::uint64_t to)>& rerun);

// Host against ia32 for `options`.
std::string engines_disagree(const rsim::Options& options);

}  // namespace testing_support
