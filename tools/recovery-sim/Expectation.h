// What the flash should hold after a complete recovery, worked out from the platform's
// description alone (not from the module): the capsule lands in the top 2 MiB below 4 GiB, 4 KiB
// at a time, except 0xFFF70000-0xFFF7FFFF, and only where the flash is decoded and writable.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace rsim {

constexpr std::uint32_t kCapsuleBytes = 0x200000;
constexpr std::uint32_t kWindowBase = 0xFFE00000;
constexpr std::uint32_t kSkipBase = 0xFFF70000;
constexpr std::uint32_t kSkipEnd = 0xFFF80000;
constexpr std::uint32_t kChunk = 0x1000;

// SPI: `before` is the whole flash in linear order (component 0, then 1). A chunk is written when
// its linear range lies inside [window_low, window_high]; the linear address of memory address A
// is A + total size, modulo 4 GiB.
// Both work on `before` in place and return it: pass it by move when it is not needed afterwards.
std::vector<std::uint8_t> expected_spi(std::vector<std::uint8_t> before, const std::uint8_t* capsule,
                                       std::uint64_t window_low, std::uint64_t window_high);

// LPC: `before` is the part's array. With `aliased` decode the part answers at every alias of its
// size in the top 4 MiB, so memory address A reaches offset A mod size and later chunks overwrite
// earlier ones; otherwise only its own top range reaches it.
std::vector<std::uint8_t> expected_lpc(std::vector<std::uint8_t> before, const std::uint8_t* capsule,
                                       bool aliased);

// The default capsule: a deterministic pseudo-random 2 MiB image.
std::vector<std::uint8_t> generated_capsule();
// The same bytes, made once per process and shared by every rehearsal that uses them.
std::shared_ptr<const std::vector<std::uint8_t>> shared_generated_capsule();
// The default old flash contents: "OLDFLASH" repeated, easy to spot in a dump.
std::vector<std::uint8_t> old_flash_pattern(std::size_t size);

}  // namespace rsim
