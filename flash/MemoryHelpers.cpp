// Byte-wise memory helpers on ordinary RAM.
#include "flash/MemoryHelpers.h"

VOID* CopyMem(VOID* Destination, const VOID* Source, UINTN Length) {
  UINT8* To = (UINT8*)Destination;
  const UINT8* From = (const UINT8*)Source;
  // Compared as integers: the two ranges need not belong to one object.
  if ((UINTN)To > (UINTN)From && (UINTN)To - (UINTN)From < Length) {
    // The destination overlaps the tail of the source: copy from the end so that no source byte
    // is overwritten before it has been read.
    while (Length > 0) {
      Length--;
      To[Length] = From[Length];
    }
  } else {
    for (UINTN Index = 0; Index < Length; Index++) {
      To[Index] = From[Index];
    }
  }
  return Destination;
}

VOID* SetMem(VOID* Buffer, UINTN Length, UINT8 Value) {
  UINT8* To = (UINT8*)Buffer;
  for (UINTN Index = 0; Index < Length; Index++) {
    To[Index] = Value;
  }
  return Buffer;
}

VOID* ZeroMem(VOID* Buffer, UINTN Length) { return SetMem(Buffer, Length, 0); }

INTN CompareMem(const VOID* Left, const VOID* Right, UINTN Length) {
  const UINT8* L = (const UINT8*)Left;
  const UINT8* R = (const UINT8*)Right;
  for (UINTN Index = 0; Index < Length; Index++) {
    if (L[Index] != R[Index]) {
      return (INTN)L[Index] - (INTN)R[Index];
    }
  }
  return 0;
}
