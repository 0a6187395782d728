// The dependency expression of the recovery PEIM's file: which PPIs must be installed before the PEI
// core may dispatch it, written as a short text and encoded as the core evaluates it.
#ifndef TOOLS_FFS_DEPEX_H_
#define TOOLS_FFS_DEPEX_H_

#include <cstdint>
#include <string_view>
#include <vector>

namespace packaging {

// Dispatched only when the platform boots in recovery mode, and only once permanent memory is
// installed: the core then copies the image into RAM and relocates it, which the module needs (it
// keeps writable static data and its body is not aligned for running in place). On a normal boot
// the module is never dispatched.
inline constexpr const char* kDefaultDepex = "recovery-mode+memory";

// The names a dependency expression may use, each one PPI:
//   recovery-mode    the boot-in-recovery-mode PPI {17EE496A-D8E4-4B9A-94D1-CE8272300850}
//   memory           the memory-discovered PPI {F894643D-C449-42D1-8EA8-85BDD8C65BDE}
//   device-recovery  the device recovery module PPI {0DE2CE25-446A-45A7-BFC9-37DA26344B37}, for
//                    platforms whose capsule producer must be dispatched first
inline constexpr const char* kDepexNames = "recovery-mode, memory, device-recovery";

// Encodes "true" (dispatch whenever the core reaches the file) or names joined by '+' (all of those
// PPIs installed): PUSH each GUID, AND after every one but the first, then END. Throws FfsError for
// an unknown or repeated name or an empty term.
std::vector<uint8_t> encode_depex(std::string_view text);

}  // namespace packaging

#endif  // TOOLS_FFS_DEPEX_H_
