// Base types, status codes and GUID layout of the PI/UEFI interfaces the module uses.
// Binary-compatible with the IA32 PEI ABI; EFI_STATUS stays 32 bits on every build.
#ifndef PI_PI_BASE_H_
#define PI_PI_BASE_H_

#include <stddef.h>
#include <stdint.h>

typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef uint64_t UINT64;
typedef int8_t INT8;
typedef int16_t INT16;
typedef int32_t INT32;
typedef int64_t INT64;
typedef uint8_t BOOLEAN;
typedef char CHAR8;
typedef uint16_t CHAR16;
typedef void VOID;
typedef uintptr_t UINTN;
typedef intptr_t INTN;

// The IA32 PI calling convention is the C default (cdecl).
#define EFIAPI

// 32 bits on every build: the module decides failure by bit 31 of a 32-bit value.
typedef UINT32 EFI_STATUS;
typedef UINT64 EFI_PHYSICAL_ADDRESS;
typedef VOID* EFI_PEI_FILE_HANDLE;

#define EFI_ERROR_BIT 0x80000000u
#define EFI_ERROR(Status) (((EFI_STATUS)(Status)&EFI_ERROR_BIT) != 0)

#define EFI_SUCCESS ((EFI_STATUS)0)
#define EFI_LOAD_ERROR ((EFI_STATUS)0x80000001u)
#define EFI_INVALID_PARAMETER ((EFI_STATUS)0x80000002u)
#define EFI_UNSUPPORTED ((EFI_STATUS)0x80000003u)
#define EFI_BAD_BUFFER_SIZE ((EFI_STATUS)0x80000004u)
#define EFI_BUFFER_TOO_SMALL ((EFI_STATUS)0x80000005u)
#define EFI_NOT_READY ((EFI_STATUS)0x80000006u)
#define EFI_DEVICE_ERROR ((EFI_STATUS)0x80000007u)
#define EFI_WRITE_PROTECTED ((EFI_STATUS)0x80000008u)
#define EFI_OUT_OF_RESOURCES ((EFI_STATUS)0x80000009u)
#define EFI_NOT_FOUND ((EFI_STATUS)0x8000000Eu)

static_assert(sizeof(EFI_STATUS) == 4, "EFI_STATUS is 32 bits on every build");

typedef struct {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
} EFI_GUID;

static_assert(sizeof(EFI_GUID) == 16, "EFI_GUID layout");
static_assert(offsetof(EFI_GUID, Data4) == 8, "EFI_GUID layout");

typedef struct {
  UINT64 Signature;
  UINT32 Revision;
  UINT32 HeaderSize;
  UINT32 CRC32;
  UINT32 Reserved;
} EFI_TABLE_HEADER;

static_assert(sizeof(EFI_TABLE_HEADER) == 24, "EFI_TABLE_HEADER layout");

typedef enum {
  EfiReservedMemoryType = 0,
  EfiLoaderCode = 1,
  EfiLoaderData = 2,
  EfiBootServicesCode = 3,
  EfiBootServicesData = 4,
  EfiRuntimeServicesCode = 5,
  EfiRuntimeServicesData = 6,
  EfiConventionalMemory = 7,
} EFI_MEMORY_TYPE;

static_assert(sizeof(EFI_MEMORY_TYPE) == 4, "EFI_MEMORY_TYPE is passed as a 32-bit value");

#endif  // PI_PI_BASE_H_
