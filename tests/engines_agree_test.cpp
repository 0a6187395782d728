// The host build and the shipped IA32 image, run on the same simulated platform, make the same
// accesses at the same simulated times and leave the same report and flash: every part of both
// tables, both SPI sequencing modes, two components, a narrowed BIOS region, every fault
// recovery-sim offers, both embedded-controller channels and a capsule that is too short. An engine
// that has run before runs as a fresh one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "tests/support/engines_comparison.h"
#include "tools/recovery-sim/Engine.h"
#include "tools/recovery-sim/PartCatalog.h"

namespace {

using testing_support::built_image;
using testing_support::differences;
using testing_support::EngineRun;
using testing_support::engines_disagree;
using testing_support::rehearse_on;
using testing_support::TraceDigest;

struct Scenario {
  std::string name;
  rsim::Options options;
};

void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

std::string identifier(const std::string& text) {
  std::string id;
  for (char c : text) {
    id += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  }
  return id;
}

Scenario with(std::string name, std::initializer_list<std::string> faults, rsim::Options o = {}) {
  for (const auto& f : faults) {
    o.faults.push_back(rsim::parse_fault(f));
  }
  return Scenario{std::move(name), o};
}

// Every test process writes its own file: ctest runs the scenarios as parallel processes, and one
// rewriting a shared file would truncate it under another's feet.
std::string short_capsule() {
  std::string path = testing::TempDir() + "engines_short_capsule_" + std::to_string(getpid()) + ".bin";
  std::ofstream(path, std::ios::binary) << std::string(1 << 20, '\x5A');
  return path;
}

std::vector<Scenario> scenarios() {
  std::vector<Scenario> list;
  // Every row: SPI parts in hardware sequencing from cleared protection (whole recoveries, some
  // failing as the compatibility table documents); LPC parts with top-only decode, where each
  // stops at detection or at its first chunk as documented.
  for (const auto& part : rsim::all_parts()) {
    rsim::Options o;
    o.part = part.label();
    if (part.bus == rsim::Bus::Spi) {
      o.initial_protection = "cleared";
    } else {
      o.decode = "top";
    }
    list.push_back({"Row_" + identifier(part.label()), o});
  }
  rsim::Options software;
  software.part = "PMC 25LV040";
  software.descriptor = false;
  list.push_back({"SoftwareSequencing", software});
  rsim::Options two;
  two.part = "Winbond 25Q32";
  two.components = 2;
  list.push_back({"TwoComponents", two});
  rsim::Options narrowed;
  narrowed.flmstr1 = 0x00030000;  // no write grants: only the BIOS region 0x180000-0x1FFFFF
  narrowed.bfpr = 0x01FF0180;
  list.push_back({"BfprNarrowsTheWindow", narrowed});
  rsim::Options ec4;
  ec4.cmos_6e = 4;
  list.push_back({"Cmos6eSelects64And60", ec4});
  rsim::Options shortened;
  shortened.capsule_file = short_capsule();
  list.push_back({"ShortCapsuleRefused", shortened});
  rsim::Options jedec;
  jedec.part = "SST 49LF008A";
  jedec.initial_protection = "cleared";
  list.push_back(with("PowerCut", {"power-cut@400000"}));
  list.push_back(with("SpiCycleErrorInAnErase", {"spi-cycle-error@40"}));
  list.push_back(with("ChipStuckBusyLpc", {"chip-stuck-busy"}, jedec));
  // Without an embedded controller the module polls for ever; the platform calls that a hang only
  // after 30 s of simulated polling, so the comparison stops the run by a power cut well into it.
  list.push_back(with("EcAbsent", {"ec-absent", "power-cut@300000"}));
  list.push_back(with("NoSpeaker", {"no-speaker"}));
  list.push_back(with("NoRecoveryPpi", {"no-recovery-ppi"}));
  list.push_back(with("CapsuleInfoFails", {"capsule-info-fails"}));
  list.push_back(with("AllocatePagesFails", {"allocate-pages-fails"}));
  list.push_back(with("LoadCapsuleFails", {"load-capsule-fails"}));
  list.push_back(with("AllocatePoolFails", {"allocate-pool-fails"}));
  return list;
}

class EnginesAgree : public testing::TestWithParam<Scenario> {};

TEST_P(EnginesAgree, SameAccessesReportAndFlash) {
  ASSERT_EQ(access(built_image().c_str(), R_OK), 0)
      << "no IA32 image at " << built_image() << ": cmake --preset ia32 && cmake --build --preset ia32";
  EXPECT_EQ(engines_disagree(GetParam().options), "");
}

INSTANTIATE_TEST_SUITE_P(, EnginesAgree, testing::ValuesIn(scenarios()),
                         [](const testing::TestParamInfo<Scenario>& info) { return info.param.name; });

// An engine object that has run before (a recovery after a power cut, a survey worker) reports
// nothing of that run: a rehearsal on it is the same, access for access, as one on a fresh engine.
// The first run detects its part; the second part is never identified (decoded only at its own
// top range, a 512 KiB part does not see the unlock cycles).
TEST(EnginesReused, ASecondRunReportsNothingOfTheFirst) {
  rsim::Options first, second;
  first.part = "SST 49LF008A";
  second.part = "SST 49LF004A";
  for (rsim::Options* o : {&first, &second}) {
    o->initial_protection = "cleared";
    o->decode = "top";
  }
  for (const char* name : {"host", "ia32"}) {
    SCOPED_TRACE(name);
    rsim::Options choice;
    choice.engine = name;
    if (choice.engine == "ia32") choice.image = built_image();
    std::unique_ptr<rsim::Engine> engine = rsim::make_engine(choice);
    auto rerun = [&](bool reused, std::uint64_t from, std::uint64_t to) {
      if (!reused) return rehearse_on(second, name, {}, from, to);
      EngineRun run{{}, TraceDigest(from, to)};
      rsim::Options o = second;
      o.observer = &run.digest;
      run.result = rsim::rehearse(o, *engine);
      return run;
    };
    // The fresh run goes first: the host build's module state is the process's own.
    EngineRun fresh = rerun(false, 0, 0);
    ASSERT_TRUE(rsim::rehearse(first, *engine).report.detected.has_value());
    EngineRun reused = rerun(true, 0, 0);
    EXPECT_FALSE(reused.result.report.detected.has_value());
    EXPECT_EQ(differences(fresh, reused, "fresh engine", "reused engine", rerun), "");
  }
}

}  // namespace
