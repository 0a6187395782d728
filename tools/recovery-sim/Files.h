// Input and output files of a rehearsal. Every error names the option and the path, and every
// write and close is checked: a full disk or a directory given as a file is reported, not ignored.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace rsim {

// The whole of an input file. Throws std::invalid_argument for a missing, unreadable or
// non-regular file (a directory, ...).
std::vector<std::uint8_t> read_input(const std::string& option, const std::string& path);

// Refuses, before anything is run or written, an output path that is a directory, whose
// directory does not exist, or that cannot be opened for writing (a file there is left as it is;
// a new one is created and removed again). Throws std::invalid_argument.
void check_output_path(const std::string& option, const std::string& path);

// Writes `bytes` to `path`. Throws std::runtime_error when a write or the close fails, after
// removing what was written of a regular file.
void write_output(const std::string& option, const std::string& path, const void* bytes, std::size_t size);

// Closes a file written with stdio, and throws std::runtime_error (as write_output does) when any
// write to it or the close failed.
void close_output(std::FILE* file, const std::string& option, const std::string& path);

}  // namespace rsim
