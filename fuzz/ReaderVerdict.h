// What a reader may do with any input: succeed, or throw one FfsError whose message is one
// non-empty line. Anything else (another exception, an empty or multi-line message) aborts.
#pragma once

#include <cstdlib>
#include <string>

#include "tools/ffs/FfsError.h"

namespace fuzzing {

template <class Read>
void expect_image_or_one_error(Read read) {
  try {
    read();
  } catch (const packaging::FfsError& e) {
    const std::string what = e.what();
    if (what.empty() || what.find('\n') != std::string::npos) std::abort();
  }
}

}  // namespace fuzzing
