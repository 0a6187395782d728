// Folding accesses into dialogue lines.
#include "tests/support/platform_dialogue.h"

#include <cstdio>

namespace testing_support {

namespace {
std::string hex(unsigned v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}
}  // namespace

void DialogueRecorder::emit(const std::string& line) {
  if (!lines_.empty() && lines_.back() == line) {
    counts_.back()++;
    return;
  }
  lines_.push_back(line);
  counts_.push_back(1);
}

void DialogueRecorder::record(const sim::Access& a) {
  if (a.space != sim::Space::Io) {
    return;
  }
  unsigned port = a.address;
  bool dword_port = port == 0xCF8 || port == 0x408;
  bool byte_port = port == 0x60 || port == 0x62 || port == 0x64 || port == 0x66 || port == 0xCFC ||
                   (port >= 0xFF2D && port <= 0xFF2F) || port == 0x70 || port == 0x71;
  if ((dword_port && a.width != sim::Width::Dword) || (byte_port && a.width != sim::Width::Byte)) {
    width_violations_++;
  }
  if (a.write) {
    if (port == 0xFF2D) {
      ec_index_ = (ec_index_ & 0xFF) | a.value << 8;
    } else if (port == 0xFF2E) {
      ec_index_ = (ec_index_ & 0xFF00) | a.value;
    } else if (port == 0xFF2F) {
      emit("ec write " + hex(ec_index_, 4) + "=" + hex(a.value, 2));
    } else if (port == 0x66 || port == 0x64) {
      pending_command_ = a.value;
    } else if (port == 0x62 || port == 0x60) {
      emit("ec command " + hex(pending_command_, 2) + " " + hex(a.value, 2) + " on " + hex(port, 2));
    } else if (port == 0xCF8) {
      emit("cf8=" + hex(a.value, 8));
    } else if (port == 0xCFC) {
      emit("cfc write " + hex(a.value, 2));
    }
  } else if (port == 0xFF2F) {
    emit("ec read " + hex(ec_index_, 4) + "=" + hex(a.value, 2));
  } else if (port == 0xCFC) {
    emit("cfc read " + hex(a.value, 2));
  } else if (port == 0x408) {
    emit("stall");
  }
}

std::vector<std::string> DialogueRecorder::lines(bool with_counts) const {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < lines_.size(); i++) {
    bool counted = with_counts && counts_[i] > 1 && lines_[i] != "stall";
    out.push_back(counted ? lines_[i] + " x" + std::to_string(counts_[i]) : lines_[i]);
  }
  return out;
}

}  // namespace testing_support
