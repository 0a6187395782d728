// Part lookup by name over the module's device tables.
#include "tools/recovery-sim/PartCatalog.h"

#include <algorithm>
#include <cctype>

#include "flash/DeviceTables.h"

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
