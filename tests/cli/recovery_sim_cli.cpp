// recovery-sim as a user runs it: exit status, summary, JSON report, output files and errors.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct Result {
  int exit_code;
  std::string out;  // stdout and stderr together
};

class RecoverySim : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("rsim-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  Result run(const std::string& args) const {
    std::string cmd = std::string(RECOVERY_SIM) + " " + args + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    Result r{-1, {}};
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) {
      r.out.append(buf, n);
    }
    int status = pclose(p);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
  }

  // Runs with a JSON report and returns it.
  json report(const std::string& args, int expected_exit) const {
    Result r = run(args + " --quiet --report " + path("report.json"));
    EXPECT_EQ(r.exit_code, expected_exit) << args << "\n" << r.out;
    std::ifstream in(path("report.json"));
    EXPECT_TRUE(in.good()) << args << "\n" << r.out;
    return in.good() ? json::parse(in) : json();
  }

  std::vector<char> bytes(const std::string& file) const {
    std::ifstream in(file, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
  }

  void write(const std::string& file, const std::vector<char>& data) const {
    std::ofstream out(file, std::ios::binary);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
  }

  fs::path dir_;
};

TEST_F(RecoverySim, DefaultRunCompletesAndSaysSo) {
  Result r = run("");
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("detected Winbond 25X16"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("final-spin"), std::string::npos);
  EXPECT_NE(r.out.find("verified"), std::string::npos);
  EXPECT_NE(r.out.find("59 94, 59 77, 59 F2, 59 76, 59 95, 59 F6"), std::string::npos);
  EXPECT_NE(r.out.find("F2 enter flash mode"), std::string::npos) << r.out;
  EXPECT_NE(
      r.out.find(
          "(1 probe marker, 496 chunk counters), last 0xEF = chunk 496: the 8-bit counter wrapped once"),
      std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("on hardware (simulated)"), std::string::npos);
  EXPECT_EQ(run("--quiet").out, "");
}

TEST_F(RecoverySim, ReportHoldsEverythingThePlatformSaw) {
  json j = report("", 0);
  EXPECT_EQ(j["outcome"], "final-spin");
  EXPECT_TRUE(j["status"].is_null());
  EXPECT_TRUE(j["capsule_checks"].is_null());  // the generated test pattern is not a firmware image
  EXPECT_TRUE(j["cause"].is_null());
  EXPECT_EQ(j["part"]["vendor"], "Winbond");
  EXPECT_EQ(j["part"]["name"], "25X16");
  EXPECT_EQ(j["frequency"], 1000);
  ASSERT_GE(j["beeps"].size(), 3u);
  EXPECT_EQ(j["beeps"][0], json({1, 200000, 20000}));
  EXPECT_EQ(j["beeps"].back(), json({2, 200000, 20000}));
  // One probe marker, then the 496 chunk counters 0..255, 0..239.
  ASSERT_EQ(j["post_codes"].size(), 497u);
  EXPECT_EQ(j["post_codes"][0], 0x41);
  EXPECT_EQ(j["post_codes"][1], 0);
  EXPECT_EQ(j["post_codes"].back(), 239);
  EXPECT_EQ(j["ec_commands"].size(), 6u);
  EXPECT_EQ(j["ec_commands"].back(), json({0x59, 0xF6}));
  EXPECT_EQ(j["chipset"]["BIOS_CNTL"], "0x00");
  EXPECT_EQ(j["chipset"]["LVSCC"], "0x00002015");
  EXPECT_EQ(j["chipset"]["UVSCC"], "0x00002015");
  for (const char* key : {"OPTYPE", "PREOP", "OPMENU"}) {
    EXPECT_TRUE(j["chipset"].contains(key)) << key;
  }
  EXPECT_EQ(j["flash"]["size"], 0x200000);
  EXPECT_EQ(j["flash"]["verified"], true);
  EXPECT_EQ(j["flash"]["mismatches"], 0);
  EXPECT_TRUE(j["flash"]["first_mismatch"].is_null());
  EXPECT_TRUE(j["refused"].is_object());
  EXPECT_GT(j["simulated_us"].get<long>(), 5'000'000);  // at least the embedded controller's stalls
  EXPECT_GT(j["accesses"].get<long>(), 0);
  EXPECT_TRUE(j["host_ms"].is_number());

  // Each timed field in the unit its name gives: against the summary of the same run, the wall
  // time the run took, and the part's busy time worked out from its work and its assumed times
  // (100 ms per 4 KiB erase; a program 30 us for its first byte and 5.76 us for each other).
  const auto start = std::chrono::steady_clock::now();
  Result r = run("--report " + path("timed.json"));
  const auto wall_ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  json t = json::parse(std::ifstream(path("timed.json")));
  double seconds = 0;
  long accesses = 0, host_ms = 0;
  const std::size_t time_line = r.out.find("\ntime ");
  ASSERT_NE(time_line, std::string::npos) << r.out;
  ASSERT_EQ(std::sscanf(r.out.c_str() + time_line,
                        "\ntime %lf s on hardware (simulated), %ld accesses, %ld ms host time", &seconds,
                        &accesses, &host_ms),
            3)
      << r.out;
  EXPECT_NEAR(t["simulated_us"].get<double>() / 1e6, seconds, 0.005);
  EXPECT_EQ(t["accesses"], accesses);
  EXPECT_EQ(t["host_ms"], host_ms);
  EXPECT_GT(t["host_ms"].get<long>(), 0);
  EXPECT_LE(t["host_ms"].get<long>(), wall_ms);
  const json& w = t["work"];
  ASSERT_EQ(w["erased_bytes"], w["erases"].get<long>() * 4096);
  EXPECT_EQ(w["part_busy_us"], (w["erases"].get<long>() * 100'000'000 + w["programs"].get<long>() * 30'000 +
                                (w["programmed_bytes"].get<long>() - w["programs"].get<long>()) * 5'760 +
                                w["status_writes"].get<long>() * 10'000'000) /
                                   1000);
}

TEST_F(RecoverySim, FlashInAndOutKeepWhatTheRecoveryMayNotTouch) {
  // A 2 MiB image of our own, and a capsule of our own: the final flash holds the capsule in the
  // rewritten chunks and the old bytes at 0xFFF70000-0xFFF7FFFF (linear 0x170000 on 2 MiB).
  std::vector<char> old_image(0x200000), capsule(0x200000);
  for (std::size_t i = 0; i < old_image.size(); i++) {
    old_image[i] = static_cast<char>(i * 7 + 3);
    capsule[i] = static_cast<char>(i * 13 + 1);
  }
  write(path("old.bin"), old_image);
  write(path("capsule.bin"), capsule);
  json j = report("--descriptor none --flash-in " + path("old.bin") + " --capsule " + path("capsule.bin") +
                      " --flash-out " + path("new.bin"),
                  0);
  EXPECT_EQ(j["flash"]["verified"], true);
  std::vector<char> out = bytes(path("new.bin"));
  ASSERT_EQ(out.size(), 0x200000u);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 0x170000, capsule.begin()));
  EXPECT_TRUE(std::equal(out.begin() + 0x170000, out.begin() + 0x180000, old_image.begin() + 0x170000));
  EXPECT_TRUE(std::equal(out.begin() + 0x180000, out.end(), capsule.begin() + 0x180000));

  Result wrong = run("--flash-in " + path("capsule.bin") + " --part 'Winbond 25Q32' --quiet");
  EXPECT_EQ(wrong.exit_code, 2);
  EXPECT_NE(wrong.out.find("holds 2097152 bytes"), std::string::npos) << wrong.out;
}

TEST_F(RecoverySim, BeepsWavHoldsOneToneperBeep) {
  Result r = run("--quiet --beeps-wav " + path("beeps.wav") + " --report " + path("r.json"));
  ASSERT_EQ(r.exit_code, 0) << r.out;
  json j = json::parse(std::ifstream(path("r.json")));
  long expected_tones = 0;
  for (const auto& b : j["beeps"]) {
    expected_tones += b[0].get<long>();
  }
  SF_INFO info{};
  SNDFILE* f = sf_open(path("beeps.wav").c_str(), SFM_READ, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  std::vector<short> samples(static_cast<std::size_t>(info.frames));
  sf_read_short(f, samples.data(), info.frames);
  sf_close(f);
  EXPECT_EQ(info.channels, 1);
  // Each beep lasts count x (duration + interval), both in microseconds.
  long expected_frames = 0;
  for (const auto& b : j["beeps"]) {
    expected_frames += b[0].get<long>() * (b[1].get<long>() + b[2].get<long>()) * info.samplerate / 1'000'000;
  }
  EXPECT_EQ(info.frames, expected_frames);
  // A tone is a run of non-silent samples; silences between tones are at least 20 ms long.
  long tones = 0;
  std::size_t quiet = 1000000;
  for (short s : samples) {
    if (s > 100 || s < -100) {
      tones += quiet > static_cast<std::size_t>(info.samplerate / 100) ? 1 : 0;
      quiet = 0;
    } else {
      quiet++;
    }
  }
  EXPECT_EQ(tones, expected_tones);
}

// Every case also asks for --flash-out: bad input must be refused before anything is written.
TEST_F(RecoverySim, BadInputGetsOneClearLineAndStatusTwo) {
  struct Case {
    std::string args, says;
  } cases[] = {
      {"--part 'Winbond 25X61'",                     "closest: \"Winbond 25X16\""                        },
      {"--capsule " + path("missing.bin"),           "cannot read --capsule"                             },
      {"--flash-in " + path("missing.bin"),          "cannot read --flash-in"                            },
      {"--capsule " + dir_.string(),                 "--capsule " + dir_.string() + ": it is a directory"},
      {"--report " + dir_.string(),                  "--report " + dir_.string() + ": it is a directory" },
      {"--cmos-6e zz",                               "--cmos-6e takes a hexadecimal number"              },
      {"--flmstr1 0x1G",                             "--flmstr1 takes a hexadecimal number"              },
      {"--fault melt-down",                          "unknown fault 'melt-down'"                         },
      {"--fault power-cut",                          "needs a count"                                     },
      {"--fault power-cut@x",                        "positive whole number"                             },
      {"--fault power-cut@010",                      "positive whole number"                             },
      {"--fault power-cut@5 --fault power-cut@0x10", "one fault of this kind per run"                    },
      {"--trace-limit -1",                           "--trace-limit takes a whole number"                },
      {"--trace-limit 18446744073709551616",         "--trace-limit takes a whole number"                },
      {"--components 3",                             "--components takes 1 or 2"                         },
      {"--components 99999999999999999999",          "--components"                                      },
      {"--boot usb",                                 "--boot takes spi, lpc, 01 or 10"                   },
      {"--descriptor maybe",                         "--descriptor takes valid or none"                  },
      {"--decode sideways",                          "--decode applies to LPC parts only"                },
      {"--part 'SST 49LF008A' --decode sideways",    "--decode takes aliased or top"                     },
      {"--part 'SST 49LF008A' --components 2",       "SPI parts only"                                    },
      {"--part 'SST 49LF008A' --descriptor valid",   "--descriptor applies to SPI parts only"            },
      {"--descriptor none --bfpr 0",                 "--bfpr describes the flash descriptor"             },
      {"--report /nonexistent-dir/r.json",           "cannot write --report"                             },
      {"--list-parts",                               "--list-parts cannot be combined"                   },
      {"--compatibility --estimate-all",             "cannot be combined with --estimate-all"            },
      {"--frobnicate",                               "no such option or argument: --frobnicate"          },
      {"stray",                                      "stray"                                             },
      {"--part",                                     "--part needs a value"                              },
      {"--capsule " + path("missing.bin"),           "missing.bin: no such file"                         },
      {"--variant 25L3205D",                         "Winbond 25X16 has no variant '25L3205D'"           },
      {"--part 'Mxic 25L3205A' --variant x",         "its variants: 25L3205D"                            },
      {"--then-recover",                             "--then-recover needs a power cut"                  },
      {"--power-cut-survey --fault power-cut@9",     "chooses its own cuts"                              },
      {"--power-cut-survey --shard 0/0",             "--shard takes K/N"                                 },
      {"--power-cut-survey --shard 3/2",             "--shard takes K/N"                                 },
      {"--boot-block FFFF0000-FFFF0FFE",             "4 KiB aligned"                                     },
      {"--boot-block FFD00000-FFD0FFFF",             "inside 0xFFE00000-0xFFFFFFFF"                      },
      {"--boot-block FFFF1000-FFFF0FFF",             "non-empty range"                                   },
      {"--fault power-cut@chunk:370:erase",          "which the recovery leaves alone"                   },
      {"--fault power-cut@time:soon",                "positive number of seconds"                        },
      {"--merge " + path("missing.json"),            "cannot read --merge"                               },
      {"--trace-from 5",                             "--trace-from goes with --trace FILE"               },
      {"--trace t.txt --trace-from 0",               "--trace-from 0: name an access number N"           },
      {"--trace t.txt --trace-from chunk:600:erase", "--trace-from chunk:600:erase: K must be"           },
      {"--trace t.txt --trace-devices spi,disk",     "no device is called 'disk' (devices: cmos"         },
      {"--html " + path(""),                         "it is a directory"                                 },
      {"--html " + path("no/such/dir/page.html"),    "no directory"                                      },
      {"--html /sys/page.html",                      "cannot write --html /sys/page.html"                },
  };
  for (const auto& c : cases) {
    Result r = run("--flash-out " + path("out.bin") + " " + c.args);
    EXPECT_EQ(r.exit_code, 2) << c.args << "\n" << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.args << "\n" << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << c.args << "\n" << r.out;
    EXPECT_FALSE(fs::exists(path("out.bin"))) << c.args;
  }
  // A full device: the write or its close fails after the run, and the status says so.
  for (const char* option : {"--trace", "--report", "--flash-out"}) {
    Result r = run(std::string("--quiet ") + option + " /dev/full");
    EXPECT_EQ(r.exit_code, 2) << option << "\n" << r.out;
    EXPECT_EQ(r.out.rfind(std::string("recovery-sim: cannot write ") + option + " /dev/full", 0), 0u)
        << r.out;
  }
  Result list = run("--list-parts");
  EXPECT_EQ(list.exit_code, 0);
  // A header, a line per row of both tables, per variant (5) and per note (2).
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 1 + 21 + 7 + 5 + 2);
  EXPECT_NE(list.out.find("--variant 25L3205D"), std::string::npos) << list.out;
}

// A rehearsal that asked for a fault and did not get it has not rehearsed it.
TEST_F(RecoverySim, AFaultPastTheEndOfTheRunFailsIt) {
  for (const char* fault : {"power-cut@0x10000000", "spi-cycle-error@99999999 --descriptor none"}) {
    json j = report(std::string("--fault ") + fault, 1);
    EXPECT_EQ(j["outcome"], "final-spin") << fault;
    ASSERT_EQ(j["faults_unfired"].size(), 1u) << fault;
    EXPECT_NE(j["faults_unfired"][0].get<std::string>().find("never fired"), std::string::npos);
  }
}

TEST_F(RecoverySim, AShortCapsuleIsHandedToTheModuleWhichRefusesIt) {
  write(path("short.bin"), std::vector<char>(0x1000, 0x5A));
  json j = report("--capsule " + path("short.bin"), 1);
  EXPECT_EQ(j["outcome"], "returned");
  EXPECT_EQ(j["status"], "0x80000004");
  EXPECT_EQ(j["flash"]["changed"], 0);
  EXPECT_EQ(j["beeps"].back(), json({3, 200000, 20000}));
  // The summary says why, and does not call the untouched flash "verified" next to FAILED.
  Result r = run("--capsule " + path("short.bin"));
  EXPECT_EQ(r.exit_code, 1);
  for (const char* says :
       {"returned EFI_BAD_BUFFER_SIZE (0x80000004)", "4096 bytes, refused: the module needs 2097152",
        "(3,200000,20000) no capsule, or the capsule refused", "unchanged, as expected for a refused capsule",
        "FAILED"}) {
    EXPECT_NE(r.out.find(says), std::string::npos) << says << "\n" << r.out;
  }
  EXPECT_EQ(r.out.find("verified"), std::string::npos) << r.out;
}

TEST_F(RecoverySim, FaultsEndAsDocumented) {
  struct Case {
    std::string args, outcome, status;
    json last_beep;
  } cases[] = {
      {"--fault no-recovery-ppi",      "returned",  "0x8000000E", {3, 200000, 20000}},
      {"--fault capsule-info-fails",   "returned",  "0x80000007", {3, 200000, 20000}},
      {"--fault allocate-pages-fails", "returned",  "0x80000009", {5, 50000, 20000} },
      {"--fault load-capsule-fails",   "returned",  "0x80000007", {2, 50000, 20000} },
      {"--boot 01",                    "returned",  "0x80000003", {2, 50000, 20000} },
      {"--fault ec-absent",            "hang",      "",           {1, 200000, 20000}},
      {"--fault power-cut@5000",       "power-cut", "",           {1, 200000, 20000}},
  };
  for (const auto& c : cases) {
    json j = report(c.args, 1);
    EXPECT_EQ(j["outcome"], c.outcome) << c.args;
    if (!c.status.empty()) {
      EXPECT_EQ(j["status"], c.status) << c.args;
    }
    EXPECT_EQ(j["beeps"].back(), c.last_beep) << c.args;
    EXPECT_EQ(j["flash"]["changed"], 0) << c.args;
  }
  // A part stuck busy moves the controller's completion time out of reach: the hang is declared at
  // the run's time budget, and that is the time reported.
  json stuck = report("--fault chip-stuck-busy", 1);
  EXPECT_EQ(stuck["outcome"], "hang");
  EXPECT_EQ(stuck["hang"]["why"], "the run's time budget");
  EXPECT_EQ(stuck["hang"]["declared_after_us"], 900'000'000);
  EXPECT_EQ(stuck["simulated_us"], 900'000'000);
  json quiet = report("--fault no-speaker", 0);
  EXPECT_TRUE(quiet["beeps"].empty());
  EXPECT_TRUE(quiet["frequency"].is_null());
}

TEST_F(RecoverySim, KeyboardChannelAndDescriptorSettings) {
  json kbc = report("--cmos-6e 4", 0);
  EXPECT_EQ(kbc["ec_commands"], json({
                                    {0x59, 0xF2},
                                    {0x59, 0x95},
                                    {0x59, 0xF6}
  }));

  // No write grant for the BIOS master: the BIOS region (BFPR) bounds what the module writes. The
  // top 1 MiB only: the flash verifies against that window, and the rest keeps its bytes.
  json narrow = report("--flmstr1 00030000 --bfpr 01FF0100", 0);
  EXPECT_EQ(narrow["flash"]["verified"], true);
  EXPECT_EQ(narrow["flash"]["changed"].get<long>() < 0x110000, true);

  json two = report("--components 2", 0);
  EXPECT_EQ(two["flash"]["size"], 0x400000);
  EXPECT_EQ(two["flash"]["verified"], true);
}

TEST_F(RecoverySim, LpcPartsAndTheirDecode) {
  json jedec = report("--part 'SST 49LF004A' --initial-protection cleared", 0);
  EXPECT_EQ(jedec["bus"], "lpc");
  EXPECT_EQ(jedec["flash"]["size"], 0x80000);
  // Decoded only at its own top range, a 512 KiB part never sees the unlock cycles at 0xFFF05555
  // and is not identified; a 1 MiB part is, but the first chunk (0xFFE00000) reaches nothing and
  // its program verify fails. Either way nothing is written.
  json small = report("--part 'SST 49LF004A' --initial-protection cleared --decode top", 1);
  EXPECT_EQ(small["status"], "0x80000003");
  EXPECT_EQ(small["flash"]["changed"], 0);
  json large = report("--part 'SST 49LF008A' --initial-protection cleared --decode top", 1);
  EXPECT_EQ(large["status"], "0x80000007");
  EXPECT_EQ(large["beeps"].back(), json({3, 50000, 20000}));
  EXPECT_EQ(large["flash"]["changed"], 0);
  json fwh = report("--part 'INTEL 82802AC'", 1);
  EXPECT_EQ(fwh["status"], "0x80000002");
  EXPECT_EQ(fwh["beeps"].back(), json({3, 50000, 20000}));
  EXPECT_EQ(fwh["flash"]["changed"], 0);
}

TEST_F(RecoverySim, APartThatCannotCompleteNamesTheSettingThatWorks) {
  // SST 25VF016B's 02h programs one byte of each piece a hardware-sequenced cycle sends.
  EXPECT_EQ(report("--part 'SST 25VF016B'", 1)["works_with"], "--descriptor none");
  // Firmware-hub parts erase 64 KiB blocks only: no setting makes them complete.
  EXPECT_TRUE(report("--part 'INTEL 82802AC'", 1)["works_with"].is_null());
}

// The alternatives rehearsed for the hint write nothing the user asked for: each file holds the
// user's own run, as a run that skips the hint search (--boot given) writes it.
TEST_F(RecoverySim, TheHintSearchLeavesTheUsersFilesAlone) {
  const std::string part =
      "--quiet --part 'SST 49LF008A' --initial-protection cleared --decode top --trace-limit 100";
  auto outputs = [&](const std::string& run_name) {
    return " --trace " + path(run_name + ".trace") + " --flash-out " + path(run_name + ".bin") +
           " --report " + path(run_name + ".json") + " --beeps-wav " + path(run_name + ".wav");
  };
  EXPECT_EQ(run(part + outputs("hinted")).exit_code, 1);
  EXPECT_EQ(run(part + " --boot lpc" + outputs("plain")).exit_code, 1);
  json hinted = json::parse(std::ifstream(path("hinted.json")));
  json plain = json::parse(std::ifstream(path("plain.json")));
  EXPECT_EQ(hinted["works_with"], "--decode aliased");
  EXPECT_EQ(hinted["outcome"], "returned");
  // The hint itself (and its words) and the host's time are all that may differ.
  for (json* j : {&hinted, &plain}) {
    for (const char* field : {"works_with", "hint", "host_ms"}) j->erase(field);
  }
  EXPECT_EQ(hinted, plain);
  for (const char* kind : {".trace", ".bin", ".wav"}) {
    EXPECT_FALSE(bytes(path(std::string("plain") + kind)).empty()) << kind;
    EXPECT_EQ(bytes(path(std::string("hinted") + kind)), bytes(path(std::string("plain") + kind))) << kind;
  }
}

TEST_F(RecoverySim, APartThatErasesMoreThanAChunkFailsVerificationAndSaysWhy) {
  Result r = run("--part 'Mxic 25L3205A' --initial-protection cleared");
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_NE(r.out.find("differ from the expectation"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("erased 64 KiB per erase command"), std::string::npos) << r.out;
  Result d = run("--part 'Mxic 25L3205A' --initial-protection cleared --variant 25L3205D --quiet");
  EXPECT_EQ(d.exit_code, 0) << d.out;
}

// A capsule file is checked as an engineer would before flashing it; what the checks find is a
// warning in the summary and the report, never a refusal.
TEST_F(RecoverySim, CapsulePreflightWarnsWithoutRefusing) {
  // A plausible image: a firmware volume header at 0, a jump at the reset vector.
  std::vector<char> image(0x200000, '\xFF');
  std::copy_n("_FVH", 4, image.begin() + 0x28);
  const char reset[] = {'\x90', '\x90', '\xE9', 0x00, 0x00};
  std::copy_n(reset, 5, image.begin() + 0x1FFFF0);
  // 1 MiB of zeros in front: the reset vector is lost.
  std::vector<char> shifted(0x100000 + image.size(), 0);
  std::copy(image.begin(), image.end(), shifted.begin() + 0x100000);
  std::vector<char> blank(0x200000, '\xFF');
  std::vector<char> foreign = image;  // carries a descriptor laid out for another board
  const unsigned char signature[] = {0x5A, 0xA5, 0xF0, 0x0F};
  std::copy_n(signature, 4, foreign.begin());
  struct Case {
    std::string name, args;
    std::vector<char> capsule;
    std::vector<std::string> checks;
    std::string says;
  } cases[] = {
      {"plausible",  "--descriptor none",    image,   {},                                  "a reset vector jump and a firmware volume"},
      {"lpc",        "--part 'SST 39VF080'", image,   {},                                  "nothing dropped"                          },
      {"descriptor", "",                     image,   {"descriptor"},                      "carry no descriptor signature"            },
      {"foreign",    "",                     foreign, {"descriptor"},                      "region (FLREG0)"                          },
      {"shifted",
       "--descriptor none",                  shifted,
       {"size", "reset-vector"},
       "bytes 0x200000-0x2FFFFF (1048576 bytes) are dropped"                                                                          },
      {"blank",      "--descriptor none",    blank,   {"reset-vector", "firmware-volume"}, "no firmware volume header"                },
      {"narrow",     "--flmstr1 00030000",   image,   {},                                  "a reset vector jump"                      },
  };
  for (const auto& c : cases) {
    write(path(c.name + ".bin"), c.capsule);
    const std::string args = c.args + " --capsule " + path(c.name + ".bin");
    Result r = run(args + " --report " + path("r.json"));
    EXPECT_EQ(r.exit_code, 0) << c.name << "\n" << r.out;
    json j = json::parse(std::ifstream(path("r.json")));
    std::vector<std::string> checks;
    for (const auto& f : j["capsule_checks"]) checks.push_back(f["check"]);
    EXPECT_EQ(checks, c.checks) << c.name;
    EXPECT_NE(r.out.find("capsule     " + std::string(c.checks.empty() ? "" : "warning: ")),
              std::string::npos)
        << c.name << "\n"
        << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.name << "\n" << r.out;
  }
}

// Every row that does not verify by default says why in hardware terms, and either the setting that
// works (with what it means on a board) or that none does; --list-parts marks the rows where none does.
TEST_F(RecoverySim, EveryFailingRowNamesItsCauseAndRemedy) {
  struct Case {
    std::string args, cause, hint;
  } cases[] = {
      {"--part 'Mxic 25L3205A'",                                                "erased 64 KiB per erase command",                          "no setting works"               },
      {"--part 'SST 25LF040'",                                                  "02h programs one byte",
       "it does with --descriptor none (on a board: a flash without a descriptor"                                                                                            },
      {"--part 'SST 25LF040A'",                                                 "02h programs one byte",                                    "it does with --descriptor none" },
      {"--part 'SST 25LF080A'",                                                 "02h programs one byte",                                    "it does with --descriptor none" },
      {"--part 'SST 25VF080B'",                                                 "02h programs one byte",                                    "it does with --descriptor none" },
      {"--part 'SST 25VF016B'",                                                 "02h programs one byte",                                    "it does with --descriptor none" },
      {"--part 'Atmel 25DF041'",                                                "protected at power-on by its sector protection registers",
       "it does with --initial-protection cleared (on a board: earlier firmware must clear the part's write "
       "protection"                                                                                                                                                          },
      {"--part 'Atmel 25DF041' --descriptor none --initial-protection cleared",
       "no write enable reaches the part: the row's prefix opcodes are 00 00",                                                              "it does with --descriptor valid"},
      {"--part 'Mxic 25L8005'",                                                 "still busy when the next command arrived",                 "it does with --descriptor none" },
      {"--part 'Mxic 25L1605A'",                                                "still busy when the next command arrived",
       "it does with --descriptor none"                                                                                                                                      },
      {"--part 'PMC 25LV040'",                                                  "not detected: the row reads the ID with ABh",              "no setting works"               },
      {"--part 'INTEL 82802AC'",
       "refuses this erase size: the firmware-hub command set erases 64 KiB blocks only",                                                   "no setting works"               },
      {"--part 'ST 50FLW040A'",                                                 "refuses this erase size",                                  "no setting works"               },
      {"--part 'SST 49LF008A'",                                                 "protected at power-on by its block locks",
       "it does with --initial-protection cleared (on a board: earlier firmware must clear the part's block "
       "locks"                                                                                                                                                               },
      {"--part 'SST 49LF004A'",                                                 "protected at power-on by its block locks",
       "it does with --initial-protection cleared"                                                                                                                           },
      {"--part 'PMC 49FL004T'",                                                 "protected at power-on by its block locks",
       "it does with --initial-protection cleared"                                                                                                                           },
      {"--part 'WIN 39V040FPA'",                                                "protected at power-on by its block locks",                 "no setting works"               },
      {"--part 'SST 49LF004A' --decode top",                                    "not detected: with top-only decode",
       "it does with --decode aliased --initial-protection cleared"                                                                                                          },
  };
  const std::string parts = run("--list-parts").out;
  for (const auto& c : cases) {
    Result r = run(c.args + " --report " + path("r.json"));
    EXPECT_EQ(r.exit_code, 1) << c.args << "\n" << r.out;
    json j = json::parse(std::ifstream(path("r.json")));
    ASSERT_TRUE(j["cause"].is_string() && j["hint"].is_string()) << c.args << "\n" << r.out;
    const std::string cause = j["cause"], hint = j["hint"];
    EXPECT_NE(cause.find(c.cause), std::string::npos) << c.args << "\n" << cause;
    EXPECT_NE(hint.find(c.hint), std::string::npos) << c.args << "\n" << hint;
    EXPECT_NE(r.out.find("\ncause       " + cause + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nhint        " + hint + "\n"), std::string::npos) << r.out;
    // A row none of whose settings works is marked as such in --list-parts, and only such a row.
    const std::string part = c.args.substr(8, c.args.find('\'', 8) - 8);
    const std::size_t at = parts.find(part);
    const std::string listed = parts.substr(at, parts.find('\n', at) - at);
    const bool none = c.hint == "no setting works";
    EXPECT_EQ(listed.find("NEVER") != std::string::npos, none) << listed;
    EXPECT_EQ(j["works_with"].is_null(), none) << c.args;
    // Where none works, the reason another setting fails and the variant that recovers.
    if (part == "WIN 39V040FPA") {
      EXPECT_NE(hint.find("with --initial-protection cleared it fails too: the part erased 64 KiB"),
                std::string::npos);
      EXPECT_NE(hint.find("--variant 30h-sector does with --initial-protection cleared"), std::string::npos);
    }
    if (part == "PMC 25LV040") {
      EXPECT_NE(hint.find("--variant res-without-dummy does with --descriptor none"), std::string::npos);
    }
  }
}

TEST_F(RecoverySim, TraceWritesOneAccessPerLine) {
  Result r = run("--quiet --boot 01 --trace-every-access --trace " + path("trace.txt"));
  EXPECT_EQ(r.exit_code, 1);
  std::ifstream in(path("trace.txt"));
  std::string header, first;
  std::getline(in, header);
  std::getline(in, first);
  EXPECT_EQ(header, "# index time_ns access");
  EXPECT_NE(first.find("io "), std::string::npos) << first;
}

// A trace as a reader takes it in: each line's first access (0 for a "# repeated" line), its
// device and how many accesses it stands for; other comments are left out.
struct TraceLine {
  std::uint64_t first = 0, accesses = 1;
  std::string device;
};
std::vector<TraceLine> read_trace(const std::string& file) {
  std::vector<TraceLine> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    TraceLine t;
    std::size_t period = 0;
    unsigned long long more = 0;
    if (std::sscanf(line.c_str(), "# repeated: the %zu lines above, %llu more", &period, &more) == 2) {
      lines.push_back(TraceLine{0, period * more, ""});
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string time;
    words >> t.first >> time >> t.device;
    if (std::size_t read = line.find("(read "); read != std::string::npos)
      t.accesses = std::stoull(line.substr(read + 6));
    lines.push_back(t);
  }
  return lines;
}

std::uint64_t accesses_in(const std::vector<TraceLine>& lines) {
  std::uint64_t n = 0;
  for (const auto& l : lines) n += l.accesses;
  return n;
}

// A trace from a point starts with the access that a power cut at that point would cut after.
TEST_F(RecoverySim, TheTraceStartsWhereAPowerCutThereWouldCut) {
  const std::string sst = "--part 'SST 25VF016B' --descriptor none ";
  for (const std::string& at : {std::string("chunk:16:erase"), sst + "status-write:1", std::string("time:5s"),
                                std::string("4202801")}) {
    const std::string options = at.substr(0, at.rfind(' ') + 1), point = at.substr(at.rfind(' ') + 1);
    // Both in one run, which then ends at the cut.
    json cut = report(options + "--fault power-cut@" + point + " --trace-limit 2 --trace " + path("t.txt") +
                          " --trace-from " + point,
                      1)["power_cut"];
    std::vector<TraceLine> lines = read_trace(path("t.txt"));
    ASSERT_FALSE(lines.empty()) << at;
    EXPECT_EQ(lines.front().first, cut["access"].get<std::uint64_t>()) << at;
  }
  // A point the run never reaches: the summary and the file say so.
  Result r = run("--fault power-cut@4210000 --trace " + path("t.txt") + " --trace-from chunk:16:erase");
  EXPECT_NE(
      r.out.find("note        --trace-from chunk:16:erase was never reached: the run ended after 4210000"),
      std::string::npos)
      << r.out;
  EXPECT_TRUE(read_trace(path("t.txt")).empty());
  std::string text(bytes(path("t.txt")).data(), bytes(path("t.txt")).size());
  EXPECT_NE(text.find("# the run never reached --trace-from chunk:16:erase: it ended after access 4210000"),
            std::string::npos);
}

// Folded lines stand for every access of the window, and a device filter and its complement
// share them out; the one-line-per-access form writes each of them.
TEST_F(RecoverySim, TheTraceFoldsRepeatedReadsAndKeepsTheChosenDevices) {
  const std::string window =
      "--quiet --fault power-cut@4210000 --trace-from 2999000 --trace-limit 0 --trace ";
  const std::uint64_t accesses = 4210000 - 2999000 + 1;
  run(window + path("all.txt"));
  std::vector<TraceLine> all = read_trace(path("all.txt"));
  EXPECT_EQ(accesses_in(all), accesses);
  EXPECT_LT(all.size(), accesses / 100);  // the EC's register poll and the timer's stalls, folded
  run(window + path("every.txt") + " --trace-every-access");
  EXPECT_EQ(read_trace(path("every.txt")).size(), accesses);
  std::uint64_t shared = 0;
  for (const std::string devices : {"spi,flash", "cmos,post,ec,acpi-pm,pci,chipset,unclaimed,other"}) {
    run(window + path("some.txt") + " --trace-devices " + devices);
    std::vector<TraceLine> some = read_trace(path("some.txt"));
    EXPECT_FALSE(some.empty()) << devices;
    for (const auto& l : some) {
      if (l.first != 0) {
        EXPECT_NE(("," + devices + ",").find("," + l.device + ","), std::string::npos) << l.device;
      }
    }
    shared += accesses_in(some);
  }
  EXPECT_EQ(shared, accesses);
}

// The command a failed run's summary names writes a trace that starts where it says.
TEST_F(RecoverySim, AFailedRunNamesTheTraceOfWhereItWentWrong) {
  Result r = run("--part 'Atmel 25DF041'");
  EXPECT_EQ(r.exit_code, 1);
  const std::string lead = "\ntrace       from the chunk in which the part first refused: recovery-sim ";
  const std::size_t at = r.out.find(lead);
  ASSERT_NE(at, std::string::npos) << r.out;
  std::string command = r.out.substr(at + lead.size(), r.out.find('\n', at + 1) - at - lead.size());
  const std::size_t trace = command.find("--trace trace.txt");
  ASSERT_NE(trace, std::string::npos) << command;
  command.replace(trace, 17, "--trace " + path("t.txt"));
  const std::uint64_t from = std::stoull(command.substr(command.find("--trace-from ") + 13));
  EXPECT_EQ(run(command + " --quiet --trace-limit 3").exit_code, 1);
  std::vector<TraceLine> lines = read_trace(path("t.txt"));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().first, from);
  EXPECT_EQ(lines.front().device, "post");  // the chunk counter
}

}  // namespace

// A cut is a power loss: what a part was busy with at the cut is left neither old nor new in
// --flash-out and in the report, and a cut named by the recovery's progress can be repeated by its
// access number.
TEST_F(RecoverySim, APowerCutLeavesWhatTheBoardWouldHold) {
  std::string out = " --flash-out " + path("cut.bin");
  json erase = report("--fault power-cut@chunk:16:erase" + out, 1);
  const json& cut = erase["power_cut"];
  EXPECT_EQ(cut["chunk"], 16);
  EXPECT_EQ(cut["phase"], "erase");
  EXPECT_EQ(cut["in_flight"]["operation"], "erase");
  EXPECT_GT(cut["in_flight"]["torn"].get<int>(), 0);
  EXPECT_EQ(cut["in_flight"]["offset"], 0x10000);  // chunk 16 of a 2 MiB part
  std::vector<char> torn = bytes(path("cut.bin"));
  // The torn chunk holds bytes that are neither the old "OLDFLASH" pattern nor erased.
  std::size_t neither = 0;
  for (std::size_t i = 0x10000; i < 0x11000; i++) {
    neither += torn[i] != static_cast<char>(0xFF) && torn[i] != "OLDFLASH"[i % 8] ? 1 : 0;
  }
  EXPECT_EQ(neither, cut["in_flight"]["torn"].get<std::size_t>());
  json plain = report("--fault power-cut@" + std::to_string(cut["access"].get<std::uint64_t>()) + out, 1);
  EXPECT_EQ(bytes(path("cut.bin")), torn) << "the same cut by access number";
  EXPECT_EQ(plain["power_cut"]["in_flight"], cut["in_flight"]);
  report("--seed 7 --fault power-cut@chunk:16:erase" + out, 1);
  EXPECT_NE(bytes(path("cut.bin")), torn) << "another seed mixes other bits";

  json program = report("--fault power-cut@chunk:16:program", 1);
  EXPECT_EQ(program["power_cut"]["in_flight"]["operation"], "program");
  EXPECT_GT(program["power_cut"]["in_flight"]["torn"].get<int>(), 0);
  // Software sequencing writes the SST part's status register on its own: some seed leaves its bits
  // neither old nor new.
  int torn_status = 0;
  for (int seed = 1; seed <= 16 && torn_status == 0; seed++) {
    json status = report("--part 'SST 25VF016B' --descriptor none --seed " + std::to_string(seed) +
                             " --fault power-cut@status-write:1",
                         1);
    EXPECT_EQ(status["power_cut"]["in_flight"]["operation"], "status write");
    torn_status = status["power_cut"]["in_flight"]["torn"].get<int>();
  }
  EXPECT_EQ(torn_status, 1);
  Result r = run("--fault power-cut@chunk:16:erase");
  EXPECT_NE(r.out.find("power cut   after access " + std::to_string(cut["access"].get<std::uint64_t>()) +
                       ", 6.98 s into the run, chunk 16 (0xFFE10000), erase"),
            std::string::npos)
      << r.out;
}

// After a cut outside the brick window the board starts the recovery again and it verifies; a cut
// inside it leaves a board that cannot start, and the recovery after it is not run.
TEST_F(RecoverySim, TheBoardComesBackUnlessTheBootBlockIsTorn) {
  for (const char* platform : {"", "--part 'Winbond 25Q32' --descriptor none --initial-protection cleared",
                               "--part 'SST 39VF080'"}) {
    json j = report(std::string(platform) + " --fault power-cut@chunk:100:erase --then-recover", 0);
    EXPECT_EQ(j["outcome"], "power-cut") << platform;
    EXPECT_EQ(j["board_cannot_start"], false) << platform;
    EXPECT_EQ(j["recovery_after_cut"]["outcome"], "final-spin") << platform;
    EXPECT_EQ(j["recovery_after_cut"]["flash"]["verified"], true) << platform;
  }
  json bricked = report("--fault power-cut@chunk:505:program --then-recover", 1);
  EXPECT_EQ(bricked["board_cannot_start"], true);
  EXPECT_TRUE(bricked["recovery_after_cut"].is_null());
  EXPECT_NE(run("--fault power-cut@chunk:505:program").out.find("this board cannot start again"),
            std::string::npos);
  // A boot block that ends below the cut is whole again by then.
  EXPECT_EQ(
      report("--boot-block FFFE0000-FFFEFFFF --fault power-cut@chunk:505:program", 1)["board_cannot_start"],
      false);
}

// The brick window of the default part by hand: the boot block's 16 chunks each take a 4 KiB erase
// (100 ms) and 64 hardware-sequenced programs of 64 bytes (30 us + 63 x 5.76 us = 392.88 us), so the
// parts are busy 16 x (100 ms + 64 x 392.88 us) = 2.0023 s of it; the controller's cycles and bus
// transfers between the operations add a few percent.
TEST_F(RecoverySim, TheBrickWindowIsTheBootBlocksBusyTime) {
  json j = report("", 0);
  const json& w = j["brick_window"];
  ASSERT_EQ(w["spans"].size(), 16u);
  double busy_us = 16 * (100000 + 64 * (30 + 63 * 5.76));
  double total_us = w["total_us"].get<double>();
  EXPECT_GE(total_us, busy_us);
  EXPECT_LE(total_us, busy_us * 1.05);
  EXPECT_NEAR(w["share_percent"].get<double>(), total_us * 100 / j["simulated_us"].get<double>(), 0.01);
  std::uint64_t sum = 0;
  for (const auto& s : w["spans"])
    sum += s["end_us"].get<std::uint64_t>() - s["start_us"].get<std::uint64_t>();
  EXPECT_NEAR(static_cast<double>(sum), total_us, 16);
  EXPECT_NE(run("").out.find("brick       2.08 s of 75.40 s (2.76 %)"), std::string::npos);
}

// The flash map sorts every 4 KiB cell of the window into one state; --html draws the same cells.
TEST_F(RecoverySim, TheFlashMapCountsEachCellOnce) {
  const struct {
    std::string args;
    int exit_code;
    json map;
  } cases[] = {
      {"",
       0, {{"rewritten", 496}, {"differs", 0}, {"kept", 16}, {"torn", 0}, {"not_reached", 0}, {"outside", 0}}  },
      {"--fault power-cut@chunk:100:erase",
       1, {{"rewritten", 100}, {"differs", 0}, {"kept", 16}, {"torn", 1}, {"not_reached", 395}, {"outside", 0}}},
      {"--part 'SST 25VF016B' --initial-protection power-on",
       1, {{"rewritten", 0}, {"differs", 496}, {"kept", 16}, {"torn", 0}, {"not_reached", 0}, {"outside", 0}}  },
 // Without write grants the BIOS region (here its upper 1 MiB) bounds what the recovery writes.
      {"--flmstr1 0 --bfpr 0x01FF0100",
       0, {{"rewritten", 240}, {"differs", 0}, {"kept", 16}, {"torn", 0}, {"not_reached", 0}, {"outside", 256}}},
      {"--capsule /dev/null",
       1, {{"rewritten", 0}, {"differs", 0}, {"kept", 16}, {"torn", 0}, {"not_reached", 496}, {"outside", 0}}  },
  };
  for (const auto& c : cases) {
    EXPECT_EQ(report(c.args, c.exit_code)["flash"]["map"], c.map) << c.args;
  }
}

// A page names the user's files as text (escaped), and a page that cannot be written after the run
// says that the run happened.
TEST_F(RecoverySim, HtmlPageEscapesUserTextAndReportsAFailedWrite) {
  const std::string capsule = path("a<b>&'c\".bin");
  write(capsule, std::vector<char>(16, 'x'));
  std::string quoted = "'";
  for (char c : capsule) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  Result r = run("--quiet --capsule " + quoted + "' --html " + path("page.html"));
  EXPECT_EQ(r.exit_code, 1) << r.out;
  std::vector<char> page = bytes(path("page.html"));
  std::string html(page.begin(), page.end());
  EXPECT_NE(html.find("a&lt;b&gt;&amp;&apos;c&quot;.bin"), std::string::npos);
  EXPECT_EQ(html.find("a<b>"), std::string::npos);
  EXPECT_EQ(html.find("<script"), std::string::npos);

  r = run("--quiet --html /dev/full");
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_EQ(r.out,
            "recovery-sim: the rehearsal ran (SUCCESS), but cannot write --html /dev/full: no space left "
            "on the device\n");
}

std::size_t occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

// A survey's page shows its report's figures and loads nothing from elsewhere; what a merged report
// brings is escaped; an unusable --html path is refused before the survey, and a page that cannot be
// written fails the command after it, saying the survey ran.
TEST_F(RecoverySim, APowerCutSurveysPageShowsItsReport) {
  // A boot block of 1 MiB: half the cuts fall inside the brick window.
  Result r =
      run("--boot-block FFF00000-FFFFFFFF --power-cut-survey --cuts 8 --spread-only --quiet --report " +
          path("r.json") + " --html " + path("p.html"));
  ASSERT_EQ(r.exit_code, 0) << r.out;
  json j = json::parse(std::ifstream(path("r.json")));
  std::vector<char> b = bytes(path("p.html"));
  const std::string page(b.begin(), b.end());
  const std::size_t strip = page.find("id=\"strip-whole\"");
  ASSERT_NE(strip, std::string::npos);
  const std::string whole = page.substr(strip, page.find("</figure>", strip) - strip);
  ASSERT_GT(j["summary"]["bricked"].get<int>(), 0);
  ASSERT_GT(j["summary"]["recovered"].get<int>(), 0);
  for (const std::string outcome : {"recovered", "bricked", "failed"}) {
    const int n = j["summary"][outcome].get<int>();
    EXPECT_EQ(occurrences(whole, "class=\"cut-mark o-" + outcome + "\""), static_cast<std::size_t>(n))
        << outcome;
    EXPECT_NE(page.find("data-count=\"" + outcome + "\">" + std::to_string(n) + "<"), std::string::npos);
  }
  EXPECT_EQ(occurrences(whole, "class=\"brick-span\""), j["reference"]["brick_window"]["spans"].size());
  EXPECT_EQ(j["reference"]["brick_window"]["total_us"], j["reference"]["brick_us"]);
  for (const auto& c : j["cuts"]) {
    const std::size_t at = page.find("id=\"cut-" + std::to_string(c["index"].get<int>()) + "\"");
    ASSERT_NE(at, std::string::npos) << c;
    const std::string row = page.substr(at, page.find("</tr>", at) - at);
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", c["time_us"].get<double>() / 1e6);
    EXPECT_NE(row.find(std::string(">") + time + "<"), std::string::npos) << row;
    EXPECT_NE(row.find(">" + c["next"].get<std::string>() + "<"), std::string::npos) << row;
  }
  for (const char* outside : {"http:", "https:", "<script", " src=", "@import"}) {
    EXPECT_EQ(page.find(outside), std::string::npos) << outside;
  }

  j["settings"]["part"] = "<b>Winbond</b> & \"co\"";
  j["cuts"][0]["label"] = "<img src=x>";
  auto save = [&](const std::string& name, const json& report) {
    std::string text = report.dump();
    write(path(name), std::vector<char>(text.begin(), text.end()));
  };
  save("m.json", j);
  json no_reference = j;
  no_reference.erase("reference");
  save("no-reference.json", no_reference);
  Result merged = run("--merge " + path("m.json") + " --quiet --html " + path("q.html"));
  ASSERT_EQ(merged.exit_code, 0) << merged.out;
  b = bytes(path("q.html"));
  const std::string escaped(b.begin(), b.end());
  EXPECT_NE(escaped.find("&lt;b&gt;Winbond&lt;/b&gt; &amp; &quot;co&quot;"), std::string::npos);
  EXPECT_NE(escaped.find("&lt;img src=x&gt;"), std::string::npos);
  EXPECT_EQ(escaped.find("<b>Winbond"), std::string::npos);
  EXPECT_EQ(escaped.find("<img"), std::string::npos);

  struct Case {
    std::string args;
    int status;
    std::string says;
  } cases[] = {
      {"--merge " + path("r.json") + " --quiet --html /dev/full", 1,
       "recovery-sim: the survey ran, but cannot write --html /dev/full"                                              },
      {"--merge " + path("r.json") + " --html " + dir_.string(),  2,
       "--html " + dir_.string() + ": it is a directory"                                                              },
      {"--power-cut-survey --html " + dir_.string(),              2, "--html " + dir_.string() + ": it is a directory"},
      {"--compatibility --html /nonexistent-dir/p.html",          2,
       "cannot write --html /nonexistent-dir/p.html: no directory"                                                    },
      {"--estimate-all --html " + dir_.string(),                  2, "it is a directory"                              },
      {"--merge " + path("no-reference.json"),                    2, "--merge: report 1 is not a power-cut survey"    },
      {"--power-cut-table --html " + path("t.html"),              2, "writes no --html file"                          },
      {"--power-cut-table --report " + path("t.json"),            2, "writes no --report file"                        },
  };
  for (const auto& c : cases) {
    Result bad = run(c.args);
    EXPECT_EQ(bad.exit_code, c.status) << c.args << "\n" << bad.out;
    EXPECT_NE(bad.out.find(c.says), std::string::npos) << c.args << "\n" << bad.out;
    EXPECT_EQ(std::count(bad.out.begin(), bad.out.end(), '\n'), 1) << c.args << "\n" << bad.out;
  }
  EXPECT_FALSE(fs::exists(path("t.html")));
}

// The compatibility page: a cell per row and protection state whose class and word follow the
// matrix, and a bar per row showing the time the report gives.
TEST_F(RecoverySim, TheCompatibilityPageShowsTheMatrix) {
  Result r = run("--compatibility --report " + path("m.json") + " --html " + path("m.html"));
  ASSERT_EQ(r.exit_code, 0) << r.out;
  json matrix = json::parse(std::ifstream(path("m.json")));
  std::vector<char> b = bytes(path("m.html"));
  const std::string page(b.begin(), b.end());
  std::map<std::string, std::size_t> cells;
  std::size_t bars_ok = 0, power_on = 0, cleared = 0, at = 0;
  for (const auto& row : matrix) {
    for (const char* state : {"power_on", "cleared"}) {
      const json& s = row[state];
      cells[s["verified"].get<bool>()      ? "ok\"><strong>verified<"
            : s["outcome"] == "final-spin" ? "wrong\"><strong>wrong bytes<"
                                           : "stops\"><strong>fails<"]++;
    }
    power_on += row["power_on"]["verified"].get<bool>() ? 1 : 0;
    cleared += row["cleared"]["verified"].get<bool>() ? 1 : 0;
    bars_ok += row["cleared"]["verified"].get<bool>() ? 1 : 0;
    // The bars come in the matrix's order, each with the cleared run's time on hardware.
    char figure[48];
    std::snprintf(figure, sizeof figure, "<tspan class=\"figure\">%.1f s</tspan>",
                  row["cleared"]["simulated_us"].get<double>() / 1e6);
    at = page.find("<tspan class=\"figure\">", at);
    ASSERT_NE(at, std::string::npos) << row;
    EXPECT_EQ(page.compare(at, std::strlen(figure), figure), 0) << row << "\n" << page.substr(at, 60);
    at++;
  }
  // The default part's hardware-sequenced recovery: 75.4 s, of which the part is busy 62.1 s.
  const json& winbond = matrix[1]["power_on"];
  EXPECT_EQ(matrix[1]["mode"], "hardware sequencing");
  EXPECT_NEAR(winbond["simulated_us"].get<double>(), 75.4e6, 0.05e6);
  EXPECT_NEAR(winbond["part_busy_us"].get<double>(), 62.1e6, 0.05e6);
  for (const auto& [cell, n] : cells) EXPECT_EQ(occurrences(page, "<td class=\"r-" + cell), n) << cell;
  EXPECT_EQ(occurrences(page, "<g class=\"hbar ok\">"), bars_ok);
  EXPECT_EQ(occurrences(page, "<g class=\"hbar fails\">"), matrix.size() - bars_ok);
  EXPECT_NE(page.find("data-count=\"verified-power-on\">" + std::to_string(power_on) + "<"),
            std::string::npos);
  EXPECT_NE(page.find("data-count=\"verified-cleared\">" + std::to_string(cleared) + "<"), std::string::npos);
}
