// Part lookup by name over the module's device tables.
#include "tools/recovery-sim/PartCatalog.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "flash/DeviceTables.h"
#include "sim/devices/PartVariants.h"

namespace rsim {

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

std::string normalise(const std::string& s) {
  std::string out;
  for (char c : lower(s)) {
    out += (c == '-' || c == '_') ? ' ' : c;
  }
  return out;
}

std::size_t distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); j++) {
    row[j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); i++) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); j++) {
      std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

PartEntry entry(Bus bus, int row, const FlashDevice& d) {
  return PartEntry{bus, row, d.VendorName, d.PartName, d.Id, std::uint32_t{1} << (16 + d.SizeCode)};
}

}  // namespace

std::string PartEntry::id_bytes() const {
  // The tables hold the first byte sent in the low byte. SPI rows read 2 or 3 bytes; LPC parts
  // answer a manufacturer and a device byte.
  const UINT32 n = bus == Bus::Spi ? SpiIdLength(SpiDeviceList[row].Params) : 2;
  std::string s;
  char buf[4];
  for (UINT32 i = 0; i < n; i++) {
    std::snprintf(buf, sizeof buf, "%02X", (id >> (8 * i)) & 0xFF);
    s += (i ? " " : "") + std::string(buf);
  }
  return s;
}

bool PartEntry::never_verifies() const {
  // 20h/30h erase 64 KiB (data loss), RES needs dummy bytes (never detected), firmware-hub parts
  // erase 64 KiB blocks only (the first 4 KiB erase fails).
  static const char* const kNever[] = {"Mxic 25L3205A", "PMC 25LV040", "INTEL 82802AC", "WIN 39V040FPA",
                                       "ST 50FLW040A"};
  for (const char* label_text : kNever) {
    if (label() == label_text) return true;
  }
  return false;
}

void print_part_list(std::ostream& out) {
  char line[160];
  std::snprintf(line, sizeof line, "%-4s %-24s %-9s %-9s %s\n", "bus", "part", "id", "size", "recovers");
  out << line;
  for (const auto& p : all_parts()) {
    std::snprintf(
        line, sizeof line, "%-4s %-24s %-9s %-9s %s\n", p.bus == Bus::Spi ? "spi" : "lpc", p.label().c_str(),
        p.id_bytes().c_str(), (std::to_string(p.size / 1024) + " KiB").c_str(),
        p.never_verifies() ? "NEVER, under any setting (a rehearsal says why)" : "under some settings");
    out << line;
    std::string_view note = sim::part_note(p.name);
    if (!note.empty()) out << std::string(29, ' ') << "note: " << note << "\n";
    for (const sim::PartVariant* v : sim::variants_of(p.name)) {
      out << std::string(29, ' ') << "--variant " << v->name << ": " << v->differs << "\n";
    }
  }
}

const std::vector<PartEntry>& all_parts() {
  static const std::vector<PartEntry> parts = [] {
    std::vector<PartEntry> v;
    for (UINT32 i = 0; i < SpiDeviceListLength; i++) {
      v.push_back(entry(Bus::Spi, static_cast<int>(i), SpiDeviceList[i].Device));
    }
    for (UINT32 i = 0; i < LpcDeviceListLength; i++) {
      v.push_back(entry(Bus::Lpc, static_cast<int>(i), LpcDeviceList[i]));
    }
    return v;
  }();
  return parts;
}

std::optional<PartEntry> find_part(const std::string& text) {
  std::string wanted = normalise(text);
  for (const auto& p : all_parts()) {
    if (normalise(p.label()) == wanted) {
      return p;
    }
  }
  std::optional<PartEntry> by_name;
  for (const auto& p : all_parts()) {
    if (normalise(p.name) == wanted) {
      if (by_name) {
        return std::nullopt;  // ambiguous
      }
      by_name = p;
    }
  }
  return by_name;
}

std::vector<std::string> close_matches(const std::string& text, std::size_t n) {
  std::string wanted = normalise(text);
  std::vector<std::pair<std::size_t, std::string>> ranked;
  for (const auto& p : all_parts()) {
    std::size_t d = std::min(distance(wanted, normalise(p.label())), distance(wanted, normalise(p.name)));
    ranked.emplace_back(d, p.label());
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> out;
  for (std::size_t i = 0; i < ranked.size() && i < n; i++) {
    out.push_back(ranked[i].second);
  }
  return out;
}

}  // namespace rsim
