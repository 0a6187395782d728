// The harness's log: text lines on the debug console port, each prefixed with its time in
// microseconds, and the exit port that ends QEMU with the harness's verdict.
#pragma once

#include <stdint.h>

namespace harness {

// One line "[      time] text\n". Formats: %s, %c, %u, %d, %x, %X, with an optional 0 flag and
// width (%08x). Callable at user privilege: the debug console port is open to the module's level.
void log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Exit statuses of QEMU, (code << 1) | 1: the run reached its end (the module returned or sent its
// final command), or the harness could not run the module as required.
enum class ExitCode : uint8_t { Finished = 0x10, HarnessError = 0x11 };

[[noreturn]] void exit_qemu(ExitCode code);

// Logs "error: ..." and ends QEMU with ExitCode::HarnessError.
[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace harness
