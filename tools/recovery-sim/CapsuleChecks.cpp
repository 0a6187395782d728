// Capsule pre-flight checks.
#include "tools/recovery-sim/CapsuleChecks.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sim/devices/SpiFlashDescriptor.h"
#include "tools/recovery-sim/Expectation.h"
#include "tools/recovery-sim/Report.h"

namespace rsim {

namespace {

// The processor starts at 0xFFFFFFF0 in real mode, the capsule's top 16 bytes. A reset vector is
// a jump, possibly after instructions that need no stack (nop, cli, cld, wbinvd, an operand-size
// prefix): EB short, E9 near, EA far.
bool plausible_reset_vector(const std::uint8_t* top) {
  for (std::size_t i = 0; i < 16; i++) {
    switch (top[i]) {
      case 0xEB:
      case 0xE9:
      case 0xEA:
        return true;
      case 0x90:
      case 0xFA:
      case 0xFC:
      case 0x66:
        continue;
      case 0x0F:
        if (i + 1 < 16 && top[i + 1] == 0x09) {
          i++;
          continue;
        }
        return false;
      default:
        return false;
    }
  }
  return false;
}

std::string bytes_text(const std::uint8_t* p, std::size_t n) {
  std::string s;
  char buf[4];
  for (std::size_t i = 0; i < n; i++) {
    std::snprintf(buf, sizeof buf, "%s%02X", i ? " " : "", p[i]);
    s += buf;
  }
  return s;
}

// A firmware volume header carries "_FVH" at offset 0x28.
bool has_firmware_volume(const std::uint8_t* p, std::size_t n) {
  static const char kSignature[] = "_FVH";
  const std::uint8_t* end = p + n;
  for (const std::uint8_t* at = p + 0x28; at + 4 <= end; at++) {
    at = std::find(at, end, static_cast<std::uint8_t>('_'));
    if (at + 4 > end) break;
    if (std::memcmp(at, kSignature, 4) == 0) return true;
  }
  return false;
}

const char* const kRegionNames[] = {"descriptor", "BIOS", "management engine", "network", "platform data"};

std::optional<CapsuleFinding> check_descriptor(const std::vector<std::uint8_t>& capsule,
                                               const DescriptorOverwrite& d) {
  const std::size_t at = d.capsule_offset;
  const std::string where =
      "the recovery rewrites linear 0x000000-0x000FFF, the board's flash descriptor, with "
      "capsule bytes " +
      hex(at, 6) + "-" + hex(at + 0xFFF, 6);
  sim::SpiFlashDescriptor board, carried;
  board.load(d.board);
  carried.load(std::vector<std::uint8_t>(capsule.begin() + static_cast<std::ptrdiff_t>(at),
                                         capsule.begin() + static_cast<std::ptrdiff_t>(at + 0x1000)));
  if (!carried.valid()) {
    return CapsuleFinding{"descriptor",
                          where +
                              ", which carry no descriptor signature (0x0FF0A55A): the next boot "
                              "runs without a descriptor (no regions, no hardware sequencing)"};
  }
  for (int r = 0; r < sim::SpiFlashDescriptor::kRegions; r++) {
    if (board.region(r) != carried.region(r)) {
      return CapsuleFinding{"descriptor", where + ", whose descriptor lays out the " + kRegionNames[r] +
                                              " region (FLREG" + std::to_string(r) + ") as " +
                                              hex(carried.region(r)) + " where the board has " +
                                              hex(board.region(r))};
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<DescriptorOverwrite> descriptor_overwrite(bool spi, std::vector<std::uint8_t> board_head,
                                                        const std::vector<std::uint8_t>& expected,
                                                        const std::vector<std::uint8_t>& capsule) {
  constexpr std::size_t kSize = sim::SpiFlashDescriptor::kSize;
  sim::SpiFlashDescriptor board;
  board.load(board_head);
  // Linear 0 is memory 4 GiB - flash size: capsule offset 2 MiB - flash size.
  if (!spi || !board.valid() || expected.size() > kCapsuleBytes || capsule.size() < kCapsuleBytes ||
      board_head.size() < kSize) {
    return std::nullopt;
  }
  const std::size_t at = kCapsuleBytes - expected.size();
  if (!std::equal(expected.begin(), expected.begin() + kSize,
                  capsule.begin() + static_cast<std::ptrdiff_t>(at))) {
    return std::nullopt;  // the descriptor lies outside what the BIOS may write
  }
  return DescriptorOverwrite{std::move(board_head), at};
}

std::vector<CapsuleFinding> check_capsule(const std::vector<std::uint8_t>& capsule,
                                          const std::optional<DescriptorOverwrite>& descriptor) {
  std::vector<CapsuleFinding> found;
  if (capsule.size() < kCapsuleBytes) return found;  // the module refuses it, and the summary says so
  if (capsule.size() > kCapsuleBytes) {
    found.push_back({"size", std::to_string(capsule.size()) + " bytes: only the first " +
                                 std::to_string(kCapsuleBytes) + " are written; bytes " +
                                 hex(kCapsuleBytes, 6) + "-" + hex(capsule.size() - 1, 6) + " (" +
                                 std::to_string(capsule.size() - kCapsuleBytes) + " bytes) are dropped"});
  }
  const std::uint8_t* top = capsule.data() + kCapsuleBytes - 16;
  if (!plausible_reset_vector(top)) {
    found.push_back({"reset-vector",
                     "no jump in the top 16 bytes (capsule 0x1FFFF0, memory 0xFFFFFFF0, where "
                     "the processor starts after reset): " +
                         bytes_text(top, 16)});
  }
  if (!has_firmware_volume(capsule.data(), kCapsuleBytes)) {
    found.push_back({"firmware-volume", "no firmware volume header (_FVH) in the 2 MiB written"});
  }
  if (descriptor) {
    if (auto f = check_descriptor(capsule, *descriptor)) found.push_back(*f);
  }
  return found;
}

std::string capsule_check_lines(std::uint64_t capsule_size, const std::vector<CapsuleFinding>& findings) {
  if (findings.empty()) {
    return "\ncapsule     " + std::to_string(capsule_size) +
           " bytes: a reset vector jump and a firmware volume; nothing dropped";
  }
  std::string s;
  for (const auto& f : findings) {
    s += "\ncapsule     warning: " + f.text;
  }
  return s;
}

nlohmann::json capsule_checks_json(const std::optional<std::vector<CapsuleFinding>>& findings) {
  if (!findings) return nullptr;
  nlohmann::json a = nlohmann::json::array();
  for (const auto& f : *findings)
    a.push_back({
        {"check",   f.check},
        {"finding", f.text }
    });
  return a;
}

}  // namespace rsim
