// Whole recoveries compared, access for access, with digests recorded from an earlier build: a
// change to the simulator's speed must not change a single access, time, counter or flash byte.
// After a deliberate change of behaviour, re-record with
//   RECORD_TRACE_DIGESTS=1 build/host/tests/reliability_tests --gtest_filter='*TraceDigest*'
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/Platform.h"
#include "tools/recovery-sim/Rehearsal.h"

namespace {

// A 64-bit running hash over words: multiply-xorshift, so that a change in any word, or the order
// of two words, changes the result.
struct Digest {
  std::uint64_t h = 0xcbf29ce484222325u;
  void add(std::uint64_t v) {
    h = (h ^ v) * 0x100000001b3u;
    h ^= h >> 29;
  }
  void add(const std::string& s) {
    add(s.size());
    for (char c : s) add(static_cast<std::uint8_t>(c));
  }
};

// Every access: its number, start time, bus, direction, width, address and value.
class DigestSink : public sim::TraceSink {
 public:
  void record(const sim::Access& a) override {
    digest.add(a.index);
    digest.add(a.time);
    digest.add(std::uint64_t{a.address} << 32 | std::uint64_t{static_cast<std::uint8_t>(a.width)} << 16 |
               std::uint64_t{a.write} << 8 | static_cast<std::uint8_t>(a.space));
    digest.add(a.value);
  }
  Digest digest;
};

// Everything the run left behind: outcome, clock, beeps, POST codes, EC dialogue, chipset
// registers, refusals, the parts' work counters and the final flash.
std::uint64_t result_digest(const rsim::RehearsalResult& result) {
  const rsim::Report& r = result.report;
  Digest d;
  d.add(r.outcome.to_string());
  d.add(r.accesses);
  d.add(r.simulated_ns);
  for (const auto& b : r.beeps) {
    d.add(b.count);
    d.add(b.duration);
    d.add(b.interval);
  }
  d.add(r.frequency.value_or(0));
  for (auto c : r.post_codes) d.add(c);
  for (const auto& [command, data] : r.ec_commands) d.add(std::uint64_t{command} << 8 | data);
  for (const auto& [name, value] : r.chipset) d.add(name + "=" + value);
  for (const auto& [cause, n] : r.refused) {
    d.add(cause);
    d.add(n);
  }
  for (const auto& [what, n] : r.work) {
    d.add(what);
    d.add(n);
  }
  d.add(r.flash.mismatches);
  for (auto byte : result.final_flash) d.add(byte);
  return d.h;
}

struct Scenario {
  const char* name;
  const char* part;
  bool descriptor;  // SPI: a valid descriptor selects hardware sequencing
  const char* protection;
};
void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

constexpr Scenario kScenarios[] = {
    {"winbond-25x16-software", "Winbond 25X16", false, "power-on"},
    {"winbond-25x16-hardware", "Winbond 25X16", true,  "power-on"},
    {"sst-25vf016b-software",  "SST 25VF016B",  false, "power-on"},
    {"sst-49lf008a-lpc",       "SST 49LF008A",  false, "cleared" },
    {"intel-82802ac-fwh",      "INTEL 82802AC", false, "power-on"},
    {"atmel-25df641-hardware", "Atmel 25DF641", true,  "power-on"},
    {"atmel-25df041-software", "Atmel 25DF041", false, "power-on"},
};

// One line per scenario: name, accesses, simulated ns, outcome, trace digest, result digest.
struct Record {
  std::string name, accesses, simulated_ns, outcome, trace, result;
  std::string line() const {
    return name + " " + accesses + " " + simulated_ns + " " + outcome + " " + trace + " " + result;
  }
};

std::vector<Record> read_records() {
  std::vector<Record> records;
  std::ifstream in(TRACE_DIGESTS_FILE);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream s(line);
    Record r;
    s >> r.name >> r.accesses >> r.simulated_ns >> r.outcome >> r.trace >> r.result;
    records.push_back(r);
  }
  return records;
}

void write_record(const Record& record) {
  std::vector<Record> records = read_records();
  bool replaced = false;
  for (auto& r : records) {
    if (r.name == record.name) {
      r = record;
      replaced = true;
    }
  }
  if (!replaced) records.push_back(record);
  std::ofstream out(TRACE_DIGESTS_FILE);
  out << "# Digests of whole recoveries on the simulated platform "
         "(tests/reliability_trace_digest_test.cpp).\n"
         "# name accesses simulated-ns outcome trace-digest result-digest\n";
  for (const auto& r : records) out << r.line() << "\n";
}

std::string hex(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
  return buf;
}

class TraceDigest : public testing::TestWithParam<Scenario> {};

TEST_P(TraceDigest, WholeRecoveryRepeatsTheRecordedRunAccessForAccess) {
  const Scenario& s = GetParam();
  rsim::Options o;
  o.part = s.part;
  o.descriptor = s.descriptor;
  o.initial_protection = s.protection;
  o.quiet = true;

  DigestSink sink;
  rsim::Options traced_options = o;
  traced_options.observer = &sink;
  rsim::RehearsalResult traced = rsim::rehearse(traced_options);
  Record actual{s.name,
                std::to_string(traced.report.accesses),
                std::to_string(traced.report.simulated_ns),
                traced.report.outcome.to_string(),
                hex(sink.digest.h),
                hex(result_digest(traced))};
  if (std::getenv("RECORD_TRACE_DIGESTS") != nullptr) {
    write_record(actual);
    GTEST_SKIP() << "recorded " << actual.line();
  }

  const Record* expected = nullptr;
  std::vector<Record> records = read_records();
  for (const auto& r : records) {
    if (r.name == s.name) expected = &r;
  }
  ASSERT_NE(expected, nullptr) << "no digest recorded for " << s.name << " in " << TRACE_DIGESTS_FILE;
  EXPECT_EQ(actual.line(), expected->line());
  // Without a trace the platform takes its fast path: the run must still be the same.
  EXPECT_EQ(hex(result_digest(rsim::rehearse(o))), expected->result) << "untraced run differs";
}

INSTANTIATE_TEST_SUITE_P(Recoveries, TraceDigest, testing::ValuesIn(kScenarios),
                         [](const testing::TestParamInfo<Scenario>& info) {
                           std::string n = info.param.name;
                           for (char& c : n) c = c == '-' ? '_' : c;
                           return n;
                         });

}  // namespace
