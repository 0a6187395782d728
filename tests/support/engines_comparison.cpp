// Trace digests, report comparison and first-divergence search for the engine tests.
#include "tests/support/engines_comparison.h"

#include <algorithm>
#include <sstream>

namespace testing_support {

namespace {
constexpr std::uint64_t kPrime = 0x100000001b3;

std::uint64_t mix(std::uint64_t h, std::uint64_t v) {
  for (int i = 0; i < 8; i++) {
    h = (h ^ (v & 0xFF)) * kPrime;
    v >>= 8;
  }
  return h;
}

std::string show(const sim::Access& a) {
  return "access " + std::to_string(a.index) + " at " + std::to_string(a.time) + " ns: " + sim::describe(a);
}
}  // namespace

void TraceDigest::record(const sim::Access& a) {
  std::uint64_t kind = static_cast<std::uint64_t>(a.space) << 1 | (a.write ? 1 : 0);
  hash_ = mix(hash_, a.index);
  hash_ = mix(hash_, a.time);
  hash_ = mix(hash_, kind << 8 | static_cast<std::uint8_t>(a.width));
  hash_ = mix(hash_, std::uint64_t{a.address} << 32 | a.value);
  if (++count_ % kCheckpoint == 0) {
    checkpoints_.push_back(hash_);
  }
  if (a.index >= keep_from_ && a.index < keep_to_) {
    kept_.push_back(a);
  }
}

std::string built_image() { return RECOVERY_IA32_IMAGE; }

EngineRun rehearse_on(rsim::Options options, const std::string& engine, std::optional<std::uint32_t> base,
                      std::uint64_t keep_from, std::uint64_t keep_to) {
  EngineRun run{{}, TraceDigest(keep_from, keep_to)};
  options.engine = engine;
  if (engine == "ia32") {
    options.image = options.image.value_or(built_image());
    options.image_base = base;
  }
  options.observer = &run.digest;
  options.quiet = true;
  run.result = rsim::rehearse(options);
  return run;
}

std::string comparable_report(const rsim::Report& r) {
  nlohmann::json j = r.to_json();
  for (const char* k : {"engine", "image", "host_ms"}) {
    j.erase(k);
  }
  return j.dump();
}

std::string trace_differences(
    const TraceDigest& a, const TraceDigest& b, const char* a_name, const char* b_name,
    const std::function<TraceDigest(bool second, std::uint64_t from, std::uint64_t to)>& rerun) {
  std::ostringstream out;
  if (a.hash() != b.hash() || a.count() != b.count()) {
    const auto& ca = a.checkpoints();
    const auto& cb = b.checkpoints();
    std::size_t window = 0;
    while (window < ca.size() && window < cb.size() && ca[window] == cb[window]) {
      window++;
    }
    // Accesses are numbered from 1 on a fresh platform; window w ends at access (w + 1) * K.
    std::uint64_t from = window * TraceDigest::kCheckpoint + 1;
    std::uint64_t to = from + TraceDigest::kCheckpoint;
    TraceDigest ka = rerun(false, from, to), kb = rerun(true, from, to);
    const auto& xa = ka.kept();
    const auto& xb = kb.kept();
    std::size_t i = 0;
    auto same = [](const sim::Access& p, const sim::Access& q) {
      return p.index == q.index && p.time == q.time && p.space == q.space && p.write == q.write &&
             p.width == q.width && p.address == q.address && p.value == q.value;
    };
    while (i < xa.size() && i < xb.size() && same(xa[i], xb[i])) {
      i++;
    }
    out << "traces differ (" << a_name << " " << a.count() << " accesses, " << b_name << " " << b.count()
        << "); first difference: " << a_name << " " << (i < xa.size() ? show(xa[i]) : "ends") << ", "
        << b_name << " " << (i < xb.size() ? show(xb[i]) : "ends") << "\n";
  }
  return out.str();
}

std::string differences(
    const EngineRun& a, const EngineRun& b, const char* a_name, const char* b_name,
    const std::function<EngineRun(bool second, std::uint64_t from, std::uint64_t to)>& rerun) {
  std::ostringstream out;
  out << trace_differences(
      a.digest, b.digest, a_name, b_name,
      [&](bool second, std::uint64_t from, std::uint64_t to) { return rerun(second, from, to).digest; });
  std::string ra = comparable_report(a.result.report), rb = comparable_report(b.result.report);
  if (ra != rb) {
    out << "reports differ:\n  " << a_name << " " << ra << "\n  " << b_name << " " << rb << "\n";
  }
  if (a.result.final_flash != b.result.final_flash) {
    auto m = std::mismatch(a.result.final_flash.begin(), a.result.final_flash.end(),
                           b.result.final_flash.begin(), b.result.final_flash.end());
    out << "final flash differs first at offset " << (m.first - a.result.final_flash.begin()) << "\n";
  }
  return out.str();
}

std::string engines_disagree(const rsim::Options& options) {
  EngineRun host = rehearse_on(options, "host");
  EngineRun ia32 = rehearse_on(options, "ia32");
  return differences(host, ia32, "host", "ia32", [&](bool second, std::uint64_t from, std::uint64_t to) {
    return rehearse_on(options, second ? "ia32" : "host", {}, from, to);
  });
}

}  // namespace testing_support
