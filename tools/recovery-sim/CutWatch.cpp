// Following the module's chunk counter and the parts' changes to place a power cut.
#include "tools/recovery-sim/CutWatch.h"

#include "tools/recovery-sim/Expectation.h"

namespace rsim {

namespace {
constexpr std::uint32_t kSkippedChunks = (kSkipEnd - kSkipBase) / kChunk;
constexpr std::uint32_t kFirstSkipped = (kSkipBase - kWindowBase) / kChunk;
}  // namespace

CutWatch::CutWatch(sim::Platform& platform, const std::optional<Fault>& cut) : platform_(platform) {
  // The part starts an operation while it handles the access that asks for it: losing power right
  // after that access cuts the operation while the part is still busy with it.
  if (cut) watch(*cut, [this](std::uint64_t access) { platform_.cut_power_after(access); });
}

void CutWatch::watch(const Fault& point, std::function<void(std::uint64_t access)> reached) {
  if (point.cut_at == CutAt::ChunkErase || point.cut_at == CutAt::ChunkProgram ||
      point.cut_at == CutAt::StatusWrite) {
    watched_.push_back(Watched{point, std::move(reached)});
  }
}

void CutWatch::post_code(std::uint8_t code) {
  // SPI probes write 0x41 before the first chunk; the chunk counter starts at 0x00 and then counts
  // every chunk (it wraps at 8 bits, so the chunks are counted here, not read back).
  if (!counting_ && code != 0x00) return;
  counting_ = true;
  counters_++;
  phase_ = "between operations";
  programmed_in_chunk_ = 0;
}

std::optional<std::uint32_t> CutWatch::chunk() const {
  if (counters_ == 0) return std::nullopt;
  std::uint32_t worked = counters_ - 1;  // the module skips 0xFFF70000-0xFFF7FFFF
  return worked < kFirstSkipped ? worked : worked + kSkippedChunks;
}

void CutWatch::changed(const FlashChange& c) {
  if (c.kind == FlashChange::Kind::Interrupted || c.kind == FlashChange::Kind::StatusInterrupted) {
    std::string op = c.kind == FlashChange::Kind::StatusInterrupted ? "status write"
                     : c.chip < last_kind_.size() && last_kind_[c.chip] == FlashChange::Kind::Erase
                         ? "erase"
                         : "program";
    in_flight_ = InFlight{op, c.chip, c.offset, c.length, c.torn};
    return;
  }
  if (c.kind == FlashChange::Kind::StatusWrite) {
    status_writes_++;
    for (Watched& w : watched_) {
      if (w.armed && w.point.cut_at == CutAt::StatusWrite && status_writes_ == w.point.n) fire(w);
    }
    return;
  }
  if (last_kind_.size() <= c.chip) last_kind_.resize(c.chip + 1, FlashChange::Kind::Erase);
  last_kind_[c.chip] = c.kind;
  if (counting_) phase_ = c.kind == FlashChange::Kind::Erase ? "erase" : "program";
  if (c.kind == FlashChange::Kind::Program) programmed_in_chunk_ += c.length;
  for (Watched& w : watched_) {
    if (!w.armed || w.point.cut_at == CutAt::StatusWrite || chunk() != w.point.chunk) continue;
    bool erase = w.point.cut_at == CutAt::ChunkErase && c.kind == FlashChange::Kind::Erase;
    bool middle = w.point.cut_at == CutAt::ChunkProgram && c.kind == FlashChange::Kind::Program &&
                  programmed_in_chunk_ >= kChunk / 2;
    if (erase || middle) fire(w);
  }
}

// The access being handled is counted when the part has handled it.
void CutWatch::fire(Watched& w) {
  w.armed = false;
  w.reached(platform_.accesses() + 1);
}

CutFacts CutWatch::facts(const sim::Outcome& outcome, sim::Nanos run_start) const {
  CutFacts f;
  f.access = outcome.access;  // the platform of a rehearsal counts from its first run
  f.time = platform_.now() - run_start;
  f.chunk = chunk();
  f.phase = in_flight_ ? in_flight_->operation : phase_;
  f.in_flight = in_flight_;
  return f;
}

}  // namespace rsim
