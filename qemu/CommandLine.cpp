// Kernel command line parsing.
#include "qemu/CommandLine.h"

#include "qemu/Console.h"

namespace harness {

namespace {

struct Word {
  const char* start;
  uint32_t length;
};

bool equals(Word word, const char* text) {
  uint32_t i = 0;
  for (; i < word.length; i++) {
    if (text[i] != word.start[i]) {
      return false;
    }
  }
  return text[i] == '\0';
}

// A decimal or 0x-prefixed hexadecimal number up to max; FALSE when the word is anything else.
bool parse_number(Word word, uint32_t max, uint32_t* value) {
  uint32_t base = 10;
  uint32_t i = 0;
  if (word.length > 2 && word.start[0] == '0' && (word.start[1] == 'x' || word.start[1] == 'X')) {
    base = 16;
    i = 2;
  }
  if (i == word.length) {
    return false;
  }
  uint32_t result = 0;
  for (; i < word.length; i++) {
    char c = word.start[i];
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return false;
    }
    if (digit >= base || result > (max - digit) / base) {
      return false;
    }
    result = result * base + digit;
  }
  *value = result;
  return true;
}

void apply(Options* options, Word key, Word value) {
  uint32_t number = 0;
  if (equals(key, "cmos6e") && parse_number(value, 0xFF, &number)) {
    options->set_cmos_6e = true;
    options->cmos_6e = static_cast<uint8_t>(number);
  } else if (equals(key, "straps") && parse_number(value, 3, &number)) {
    options->set_straps = true;
    options->straps = static_cast<uint8_t>(number);
  } else if (equals(key, "stall-wrap") && parse_number(value, 1, &number)) {
    options->stall_wrap = number != 0;
  } else {
    // The word is not NUL-terminated inside the command line: show it through a copy.
    char shown[64];
    uint32_t length = key.length + 1 + value.length;
    if (length >= sizeof(shown)) {
      length = sizeof(shown) - 1;
    }
    for (uint32_t i = 0; i < length; i++) {
      shown[i] = key.start[i];  // key and value are adjacent, joined by '='
    }
    shown[length] = '\0';
    fail("command line: unknown option or bad value \"%s\"", shown);
  }
}

}  // namespace

Options parse_command_line(const char* text) {
  Options options;
  const char* p = text;
  while (*p != '\0') {
    while (*p == ' ') {
      p++;
    }
    const char* start = p;
    const char* equals_sign = nullptr;
    while (*p != '\0' && *p != ' ') {
      if (*p == '=' && equals_sign == nullptr) {
        equals_sign = p;
      }
      p++;
    }
    if (equals_sign != nullptr) {
      Word key = {start, static_cast<uint32_t>(equals_sign - start)};
      Word value = {equals_sign + 1, static_cast<uint32_t>(p - equals_sign - 1)};
      apply(&options, key, value);
    }
  }
  return options;
}

}  // namespace harness
