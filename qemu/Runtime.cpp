// memcpy and memset for the test kernel: the compiler may emit calls to them for plain loops and
// structure copies, and the kernel links no C library.
#include <stddef.h>
#include <stdint.h>

extern "C" {

void* memcpy(void* destination, const void* source, size_t count) {
  uint8_t* to = static_cast<uint8_t*>(destination);
  const uint8_t* from = static_cast<const uint8_t*>(source);
  while (count-- != 0) {
    *to++ = *from++;
  }
  return destination;
}

void* memset(void* destination, int value, size_t count) {
  uint8_t* to = static_cast<uint8_t*>(destination);
  while (count-- != 0) {
    *to++ = static_cast<uint8_t>(value);
  }
  return destination;
}

}  // extern "C"
