// memcpy, memmove and memset for the IA32 image: the compiler may lower structure copies and
// initialisers to calls to them, and a PEIM links no C library. Used for ordinary RAM only; flash
// and registers are reached through the seam.
#include "pi/PiBase.h"

// -ffreestanding keeps the compiler from turning these loops back into calls to themselves.
extern "C" {

void* memcpy(void* Destination, const void* Source, size_t Count) {
  UINT8* To = static_cast<UINT8*>(Destination);
  const UINT8* From = static_cast<const UINT8*>(Source);
  while (Count-- != 0) {
    *To++ = *From++;
  }
  return Destination;
}

void* memmove(void* Destination, const void* Source, size_t Count) {
  UINT8* To = static_cast<UINT8*>(Destination);
  const UINT8* From = static_cast<const UINT8*>(Source);
  if (To <= From || To >= From + Count) {
    return memcpy(Destination, Source, Count);
  }
  // Overlap with the destination above the source: copy from the end down.
  while (Count-- != 0) {
    To[Count] = From[Count];
  }
  return Destination;
}

void* memset(void* Destination, int Value, size_t Count) {
  UINT8* To = static_cast<UINT8*>(Destination);
  while (Count-- != 0) {
    *To++ = static_cast<UINT8>(Value);
  }
  return Destination;
}

}  // extern "C"
