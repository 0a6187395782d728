// recovery-sim's exit statuses, as its --help and the README list them.
#pragma once

namespace rsim {

enum ExitStatus : int {
  kRecovered = 0,       // final spin, and the flash holds what a complete recovery leaves
  kRecoveryFailed = 1,  // anything else, including a requested fault that never fired, or a page
                        // (--html) that could not be written after the run
  kBadInput = 2,        // options, input files or output files: one line on stderr, nothing written
};

}  // namespace rsim
