// Why a file could not be read or written, in the tools' own words (the C library's messages vary
// with the locale and the libc, so they are never shown as they are).
#pragma once

#include <string>

namespace packaging {

// "no such file", "no permission", "it is a directory, not a file", ... for an errno value.
std::string file_problem(int error);

}  // namespace packaging
