// Explanations of a wrong flash after a completed run.
#include "tools/recovery-sim/Diagnosis.h"

namespace rsim {

namespace {

constexpr std::uint64_t kChunk = 4096;  // the module erases and rewrites 4 KiB at a time

std::uint64_t counted(const Report& r, const char* what) {
  auto it = r.work.find(what);
  return it == r.work.end() ? 0 : it->second;
}

}  // namespace

std::string explain_wrong_flash(const Report& r) {
  if (r.outcome.kind != sim::OutcomeKind::FinalSpin || r.flash.verified()) return {};
  std::uint64_t refusals = 0;
  for (const auto& [cause, n] : r.refused) refusals += n;
  std::uint64_t erases = counted(r, "erases"), erased = counted(r, "erased_bytes");
  if (erases != 0 && erased > erases * kChunk) {
    // The part clears more than the chunk at each erase command: what the module wrote before in
    // the same block is lost, and nothing reads it back.
    return "the part erased " + std::to_string(erased / erases / 1024) +
           " KiB per erase command where the module erases a 4 KiB chunk: chunks written earlier in"
           "\n            the same block were erased again";
  }
  return std::string("the module finished, but the flash refused ") +
         (refusals ? "the operations counted above" : "nothing it could report: see the trace");
}

}  // namespace rsim
