// Log lines on QEMU's debug console (port 0xE9) with a small printf, and the debug exit port.
#include "qemu/Console.h"

#include <stdarg.h>

#include "qemu/Clock.h"
#include "qemu/PortIo.h"

namespace harness {

namespace {

constexpr uint16_t kDebugConsolePort = 0xE9;
constexpr uint16_t kDebugExitPort = 0xF4;

void put_char(char c) { port_out8(kDebugConsolePort, static_cast<uint8_t>(c)); }

void put_string(const char* text) {
  while (*text != '\0') {
    put_char(*text++);
  }
}

void put_number(uint32_t value, uint32_t base, bool upper, uint32_t width, char pad) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char buffer[12];
  uint32_t length = 0;
  do {
    buffer[length++] = digits[value % base];
    value /= base;
  } while (value != 0);
  for (; width > length; width--) {
    put_char(pad);
  }
  while (length != 0) {
    put_char(buffer[--length]);
  }
}

void put_formatted(const char* format, va_list arguments) {
  for (; *format != '\0'; format++) {
    if (*format != '%') {
      put_char(*format);
      continue;
    }
    format++;
    char pad = ' ';
    if (*format == '0') {
      pad = '0';
      format++;
    }
    uint32_t width = 0;
    while (*format >= '0' && *format <= '9') {
      width = width * 10 + static_cast<uint32_t>(*format++ - '0');
    }
    switch (*format) {
      case 's':
        put_string(va_arg(arguments, const char*));
        break;
      case 'c':
        put_char(static_cast<char>(va_arg(arguments, int)));
        break;
      case 'u':
        put_number(va_arg(arguments, uint32_t), 10, false, width, pad);
        break;
      case 'd': {
        int32_t value = va_arg(arguments, int32_t);
        uint32_t magnitude = static_cast<uint32_t>(value);
        if (value < 0) {
          put_char('-');
          magnitude = 0u - magnitude;
        }
        put_number(magnitude, 10, false, width, pad);
        break;
      }
      case 'x':
      case 'X':
        put_number(va_arg(arguments, uint32_t), 16, *format == 'X', width, pad);
        break;
      case '%':
        put_char('%');
        break;
      default:  // an unknown conversion is shown as written, so the mistake is visible
        put_char('%');
        put_char(*format);
        if (*format == '\0') {
          return;
        }
        break;
    }
  }
}

void put_line(const char* prefix, const char* format, va_list arguments) {
  put_char('[');
  put_number(clock_us(), 10, false, 10, ' ');
  put_string("] ");
  put_string(prefix);
  put_formatted(format, arguments);
  put_char('\n');
}

}  // namespace

void log_line(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  put_line("", format, arguments);
  va_end(arguments);
}

void exit_qemu(ExitCode code) {
  port_out8(kDebugExitPort, static_cast<uint8_t>(code));
  // Not reached under QEMU with the exit device; elsewhere the machine just stays here.
  for (;;) {
    __asm__ __volatile__("pause");
  }
}

void fail(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  put_line("error: ", format, arguments);
  va_end(arguments);
  exit_qemu(ExitCode::HarnessError);
}

}  // namespace harness
