// Power-cut campaigns: reference timelines, cut-point sampling and one cut-then-recover trial.
#include "tests/support/reliability_campaign.h"

#include <algorithm>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>

namespace testing_support {

namespace {

// Keeps the access numbers of embedded-controller port accesses and port 80h writes.
class LandmarkSink : public sim::TraceSink {
 public:
  explicit LandmarkSink(std::uint64_t start) : start_(start) {}
  void record(const sim::Access& a) override {
    if (a.space != sim::Space::Io) return;
    std::uint64_t n = a.index - start_;
    // The command/data port pairs and the register window at FF2Dh-FF2Fh.
    bool ec_port = a.address == 0x62 || a.address == 0x66 || a.address == 0x60 || a.address == 0x64 ||
                   (a.address >= 0xFF2D && a.address <= 0xFF2F);
    if (ec_port) ec.push_back(n);
    if (a.address == 0x80 && a.write) post.push_back({n, static_cast<std::uint8_t>(a.value)});
  }
  std::vector<std::uint64_t> ec;
  std::vector<std::pair<std::uint64_t, std::uint8_t>> post;

 private:
  std::uint64_t start_;
};

}  // namespace

std::vector<CampaignPlatform> campaign_platforms(sim::Nanos pm_timer_read) {
  // A variant where the named part is not found by its row (the Pm25LV040 answers ABh only after
  // dummy bytes); the campaign is about power cuts on a part the module can update.
  auto spi = [&](const char* part, bool descriptor, sim::SpiProtectionStart protection,
                 const char* variant = "") {
    ReliabilityConfig c;
    c.spi.part = part;
    c.spi.variant = variant;
    c.spi.descriptor = descriptor;  // a valid descriptor selects hardware sequencing
    c.spi.protection = protection;
    c.pm_timer_read = pm_timer_read;
    return c;
  };
  using P = sim::SpiProtectionStart;
  std::vector<CampaignPlatform> v{
      {"winbond-25x16-hardware", spi("25X16",    true,                 P::Cleared)        },
 // Status-register protection set at every power-on: Atmel's global protect, lifted by the
  // controller before each write (hardware), and SST's block-protect bits (software).
      {"atmel-26df161-power-on", spi("26DF161",  true,                 P::PowerOn)        },
      {"sst-25vf016b-power-on",  spi("25VF016B", false,                P::PowerOn)        },
 // Per-sector lock registers.
      {"st-m25pe80",             spi("M25PE80",  true,                 P::Cleared)        },
 // Software sequencing on a 512 KiB part: only the top quarter of the window lands in it.
      {"pmc-25lv040-software",   spi("25LV040",  false,                P::Cleared,          "res-without-dummy")},
      {"winbond-25x16-software",                        spi("25X16",               false, P::Cleared)},
  };
  {
    ReliabilityConfig c;  // JEDEC-command LPC part, block locks cleared by earlier firmware
    c.lpc = true;
    c.lpc_part.part = "49LF008A";
    c.lpc_part.protection = sim::LpcProtection::Cleared;
    c.pm_timer_read = pm_timer_read;
    v.push_back({"sst-49lf008a-lpc", c});
  }
  return v;
}

CampaignPlatform campaign_platform(const std::string& name, sim::Nanos pm_timer_read) {
  for (auto& p : campaign_platforms(pm_timer_read)) {
    if (p.name == name) return p;
  }
  throw std::invalid_argument("no campaign platform named " + name);
}

Timeline reference_timeline(const ReliabilityConfig& config) {
  ReliabilityRig rig(config);
  LandmarkSink sink(rig.machine().platform().accesses());
  rig.machine().platform().set_trace(&sink);
  sim::Outcome o = rig.run();
  rig.machine().platform().set_trace(nullptr);
  if (o.kind != sim::OutcomeKind::FinalSpin || rig.flash() != rig.expected() ||
      rig.unentitled_changes() != 0) {
    throw std::runtime_error("reference recovery did not complete: " + o.to_string());
  }
  Timeline t;
  t.total = rig.last_run_accesses();
  t.ec = sink.ec;
  bool counting = false;
  for (const auto& [n, v] : sink.post) {
    counting = counting || v == 0x00;
    if (counting) t.chunk_starts.push_back(n);
  }
  for (const auto& c : rig.changes()) (c.erase ? t.erases : t.programs).push_back(c.access);
  return t;
}

const char* cut_kind_name(CutKind k) {
  switch (k) {
    case CutKind::Sampled:
      return "sampled";
    case CutKind::EcHandshake:
      return "ec-handshake";
    case CutKind::Detection:
      return "detection";
    case CutKind::BetweenChunks:
      return "between-chunks";
    case CutKind::MidErase:
      return "mid-erase";
    case CutKind::MidProgram:
      return "mid-program";
    case CutKind::BeforeFinalCommand:
      return "before-final-command";
  }
  return "?";
}

std::vector<CutPoint> choose_cut_points(const Timeline& t, std::size_t sampled, std::size_t targeted,
                                        std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  auto pick = [&](std::uint64_t lo, std::uint64_t hi) {  // inclusive, clamped to the run
    lo = std::clamp<std::uint64_t>(lo, 1, t.total);
    hi = std::clamp<std::uint64_t>(hi, lo, t.total);
    return std::uniform_int_distribution<std::uint64_t>(lo, hi)(rng);
  };
  auto any_of = [&](const std::vector<std::uint64_t>& v) {
    return v[std::uniform_int_distribution<std::size_t>(0, v.size() - 1)(rng)];
  };
  auto within = [&](std::uint64_t n) { return std::uniform_int_distribution<std::uint64_t>(0, n)(rng); };
  std::set<std::uint64_t> used;
  std::vector<CutPoint> points;
  auto add = [&](std::uint64_t n, CutKind k) {
    if (n >= 1 && n <= t.total && used.insert(n).second) points.push_back({n, k});
  };

  for (std::size_t i = 0; i < sampled; i++) {
    std::uint64_t lo = 1 + t.total * i / sampled, hi = t.total * (i + 1) / sampled;
    add(pick(lo, hi), CutKind::Sampled);
  }
  // The handshake is the first half of the EC accesses before the first chunk; the final command
  // is the EC dialogue after the last chunk.
  std::vector<std::uint64_t> handshake, final_command;
  std::uint64_t first_chunk = t.chunk_starts.empty() ? t.total : t.chunk_starts.front();
  std::uint64_t last_change =
      std::max(t.erases.empty() ? 0 : t.erases.back(), t.programs.empty() ? 0 : t.programs.back());
  for (std::uint64_t n : t.ec)
    (n < first_chunk ? handshake : n > last_change ? final_command : handshake).push_back(n);
  // The last dialogue: leaving flash mode, then the final command itself.
  constexpr std::size_t kFinalDialogue = 24;
  if (final_command.size() > kFinalDialogue) {
    final_command.erase(final_command.begin(), final_command.end() - kFinalDialogue);
  }
  std::uint64_t handshake_end = handshake.empty() ? 1 : handshake.back();

  static constexpr CutKind kTargets[] = {CutKind::EcHandshake,   CutKind::Detection,
                                         CutKind::BetweenChunks, CutKind::MidErase,
                                         CutKind::MidProgram,    CutKind::BeforeFinalCommand};
  for (std::size_t i = 0; i < targeted; i++) {
    CutKind k = kTargets[i % std::size(kTargets)];
    switch (k) {
      case CutKind::EcHandshake:
        if (!handshake.empty()) add(any_of(handshake), k);
        break;
      case CutKind::Detection:
        add(pick(handshake_end + 1, first_chunk), k);
        break;
      case CutKind::BetweenChunks:
        // Just before or just after a chunk counter reaches port 80h.
        if (!t.chunk_starts.empty()) add(any_of(t.chunk_starts) - within(1), k);
        break;
      case CutKind::MidErase:
        // A change is recorded while the access that started it is handled, one before that
        // access counts: +1 cuts right after the erase command went out, while the part is busy.
        if (!t.erases.empty()) add(any_of(t.erases) + 1 + within(2), k);
        break;
      case CutKind::MidProgram:
        if (!t.programs.empty()) add(any_of(t.programs) + 1 + within(1), k);
        break;
      case CutKind::BeforeFinalCommand:
        if (!final_command.empty()) add(any_of(final_command), k);
        break;
      default:
        break;
    }
  }
  std::sort(points.begin(), points.end(),
            [](const CutPoint& a, const CutPoint& b) { return a.access < b.access; });
  return points;
}

std::string TrialResult::describe() const {
  std::ostringstream s;
  s << (cut ? "cut" : "NOT cut") << ", recovery after power-on: " << second.to_string();
  if (first_wrong != SIZE_MAX) s << ", first wrong byte at 0x" << std::hex << first_wrong << std::dec;
  if (unentitled != 0) s << ", " << unentitled << " changes outside the chunk being worked on";
  if (write_enable_left) s << ", BIOS write enable left set";
  return s.str();
}

TrialResult run_trial(const ReliabilityConfig& config, std::uint64_t cut) {
  ReliabilityRig rig(config);
  TrialResult r;
  r.cut = rig.run(cut).kind == sim::OutcomeKind::PowerCut;
  rig.power_cycle();
  r.second = rig.run();
  std::vector<std::uint8_t> flash = rig.flash(), expected = rig.expected();
  std::size_t d = first_difference(flash, expected);
  r.first_wrong = d == flash.size() ? SIZE_MAX : d;
  r.unentitled = rig.unentitled_changes();
  r.write_enable_left = rig.machine().lpc().bios_write_enabled();
  return r;
}

}  // namespace testing_support
