// The flash parts the module knows, as a user names them ("VENDOR NAME"), taken from the module's
// own device tables.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace rsim {

enum class Bus { Spi, Lpc };

struct PartEntry {
  Bus bus;
  int row;  // index in the module's table for that bus
  std::string vendor;
  std::string name;
  std::uint32_t id;
  std::uint32_t size;  // bytes
  std::string label() const { return vendor + " " + name; }
  // The identification bytes in the order the part sends them ("EF 30 15").
  std::string id_bytes() const;
  // No setting of sequencing, decode or protection makes a recovery of this row's part verify
  // (held by the rehearsal tests; a variant of the part may).
  bool never_verifies() const;
};

const std::vector<PartEntry>& all_parts();

// Exact match of "VENDOR NAME" (case-insensitive; "VENDOR-NAME" and the bare part name also work
// when they are unambiguous).
std::optional<PartEntry> find_part(const std::string& text);

// --list-parts: every row of both tables with its ID, size, notes and variants.
void print_part_list(std::ostream& out);

// Up to `n` labels closest to `text`, for error messages.
std::vector<std::string> close_matches(const std::string& text, std::size_t n = 3);

}  // namespace rsim
