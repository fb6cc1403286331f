// The archive module's C interface (zel.lib, a DLL): what the engine and the
// builder see. Every function is stdcall and exported undecorated on both
// architectures; strings are zero-terminated UTF-16; BOOL results are nonzero
// on success, and GetLastArchiveError then tells why a call failed.
//
// The module drives 7-Zip's 7z.dll through its COM-style archive interfaces.
// 7z.dll is loaded only by full path: from the folder given to
// Set7zipDllDirectory, or, if that was never called, from zel.lib's own folder.
//
// See zel/README.md for the meaning of every code.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// A set of paths: `Files` points to `Count` string pointers. The caller owns
// the strings and the array. A null set pointer, or a Count of 0, is "none".
typedef struct TSZW_TARGETFILES {
  wchar_t** Files;
  uint32_t Count;
} TSZW_TARGETFILES;

// One entry of a listing, 48 bytes with the same offsets on both
// architectures. The array and the path strings belong to the module until
// CloseListArchive.
typedef struct ZEL_LIST_ITEM {
  union {
    const wchar_t* Path;  // item path inside the archive, '\' separated
    uint64_t PathSlot;    // keeps the pointer slot 8 bytes wide on x86
  };
  uint64_t Size;          // unpacked size in bytes
  uint64_t PackedSize;    // packed size; 0 for all but the first item of a solid block
  uint32_t Crc;           // CRC-32 of the data, 0 when the archive holds none
  uint32_t Flags;         // ZEL_ITEM_* bits
  FILETIME Modified;      // last write time, UTC; zero when unknown
  uint32_t Attributes;    // Windows file attributes (FILE_ATTRIBUTE_*)
  uint32_t Reserved;
} ZEL_LIST_ITEM;

#define ZEL_ITEM_DIRECTORY 0x1u
#define ZEL_ITEM_ENCRYPTED 0x2u

#ifdef __cplusplus
static_assert(sizeof(ZEL_LIST_ITEM) == 48, "list items are 48 bytes");
static_assert(offsetof(ZEL_LIST_ITEM, Size) == 8 && offsetof(ZEL_LIST_ITEM, PackedSize) == 16 &&
                  offsetof(ZEL_LIST_ITEM, Modified) == 32 && offsetof(ZEL_LIST_ITEM, Attributes) == 40,
              "list item offsets are fixed");
#endif

// Callbacks. They may run on a 7-Zip worker thread, but never two at a time.
//
// File callback: the item being processed, with bytes done and bytes total
// of the whole operation; also called while a large item is written.
// Return nonzero to go on, 0 to stop (the call then fails with ZEL_E_CANCELLED).
typedef BOOL(WINAPI* ZEL_FILE_CALLBACK)(const wchar_t* item, uint64_t done, uint64_t total);
// Progress callback: done and total of the whole operation in KiB (saturated
// at 0xFFFFFFFF). Return nonzero to go on, 0 to stop.
typedef BOOL(WINAPI* ZEL_PROGRESS_CALLBACK)(uint32_t doneKiB, uint32_t totalKiB);
// Password callback: asked at most once per call, only when the archive needs
// a password and none was passed. Writes a zero-terminated password of at most
// ZEL_PASSWORD_CHARS - 1 characters into `buffer` and returns 1, or returns 0.
typedef BOOL(WINAPI* ZEL_PASSWORD_CALLBACK)(wchar_t* buffer);
#define ZEL_PASSWORD_CHARS 1024
// Overwrite callback: a file to extract already exists. Sizes and times
// (FILETIME, UTC) are split into low and high 32-bit halves. Returns a
// ZEL_OVERWRITE_* answer.
typedef uint32_t(WINAPI* ZEL_OVERWRITE_CALLBACK)(uint32_t existingSizeLow, uint32_t existingSizeHigh,
                                                  uint32_t existingTimeLow, uint32_t existingTimeHigh,
                                                  uint32_t newSizeLow, uint32_t newSizeHigh,
                                                  uint32_t newTimeLow, uint32_t newTimeHigh,
                                                  uint32_t itemIndex, uint32_t reserved);

#define ZEL_OVERWRITE_CANCEL 0u       // stop the extraction (ZEL_E_CANCELLED)
#define ZEL_OVERWRITE_SKIP 1u         // keep the existing file
#define ZEL_OVERWRITE_REPLACE 2u      // replace this file
#define ZEL_OVERWRITE_SKIP_ALL 3u     // keep this and every later existing file
#define ZEL_OVERWRITE_REPLACE_ALL 4u  // replace this and every later existing file

// Kind codes of CreateArchive.
#define ZEL_KIND_7Z 0u

// Mode codes of CreateArchive.
#define ZEL_MODE_ADD 0u     // create, or add to an existing archive replacing items of the same path
#define ZEL_MODE_UPDATE 1u  // like ADD, but an existing item is replaced only by a newer file
#define ZEL_MODE_NEW 2u     // always write a new archive; an existing file is replaced

// Option flag of ExtractArchive.
#define ZEL_EXTRACT_FULL_PATHS 0u  // recreate the archive's folders under the destination
#define ZEL_EXTRACT_FLAT 1u        // every file straight into the destination, folders dropped

// Error codes (GetLastArchiveError).
#define ZEL_OK 0u
#define ZEL_E_INVALID_ARGUMENT 1001u   // null/relative path, bad set, unknown kind or mode code
#define ZEL_E_NO_7ZIP 1002u            // 7z.dll missing, not loadable, or lacks the 7z format
#define ZEL_E_OPEN_ARCHIVE 1003u       // the archive file cannot be opened (missing, locked)
#define ZEL_E_NOT_ARCHIVE 1004u        // not a 7z archive, or its headers are damaged
#define ZEL_E_PASSWORD 1005u           // a password is needed and none was given, or it is wrong
#define ZEL_E_DATA 1006u               // data error: CRC mismatch or damaged packed data
#define ZEL_E_UNEXPECTED_END 1007u     // the archive is truncated
#define ZEL_E_UNSUPPORTED_METHOD 1008u // compression or encryption method not available
#define ZEL_E_UNSAFE_PATH 1009u        // an item path would leave the destination: archive refused
#define ZEL_E_WRITE_FILE 1010u         // a file or folder under the destination cannot be written
#define ZEL_E_READ_FILE 1011u          // a file to pack cannot be read, or a named file is missing
#define ZEL_E_WRITE_ARCHIVE 1012u      // the new archive cannot be written or put in place
#define ZEL_E_CANCELLED 1013u          // a callback asked to stop
#define ZEL_E_SWITCHES 1014u           // the switches text holds an unknown switch or bad value
#define ZEL_E_NO_MATCH 1015u           // an item named for extraction or deletion is not in the archive
// 1016 is the engine's own code for an out-of-process extraction that could
// not be started; the module never returns it.
#define ZEL_E_INVALID_HANDLE 1017u     // CloseListArchive got an unknown handle
#define ZEL_E_OUT_OF_MEMORY 1018u      // not enough memory (callers retry with less)
#define ZEL_E_INTERNAL 1019u           // unexpected failure inside 7-Zip or the module

typedef void* ZEL_LIST_HANDLE;

BOOL WINAPI Set7zipDllDirectory(const wchar_t* folder);

BOOL WINAPI CreateArchive(const wchar_t* archive, uint32_t kind, const TSZW_TARGETFILES* files,
                          const TSZW_TARGETFILES* contentFiles, uint32_t mode, const wchar_t* switches,
                          const wchar_t* password, ZEL_FILE_CALLBACK fileCallback,
                          ZEL_PROGRESS_CALLBACK progressCallback, uintptr_t reserved);

BOOL WINAPI ExtractArchive(const wchar_t* archive, uint32_t reserved, const wchar_t* destination,
                           const TSZW_TARGETFILES* items, uint32_t option, const wchar_t* password,
                           ZEL_PASSWORD_CALLBACK passwordCallback, ZEL_FILE_CALLBACK fileCallback,
                           ZEL_PROGRESS_CALLBACK progressCallback, ZEL_OVERWRITE_CALLBACK overwriteCallback);

BOOL WINAPI TestArchive(const wchar_t* archive, uint32_t reserved, const wchar_t* unusedDestination,
                        const TSZW_TARGETFILES* items, uint32_t unusedOption, const wchar_t* password,
                        ZEL_PASSWORD_CALLBACK passwordCallback, ZEL_FILE_CALLBACK fileCallback);

BOOL WINAPI DeleteFromArchive(const wchar_t* archive, uint32_t reserved, const TSZW_TARGETFILES* items,
                              uintptr_t reserved1, uintptr_t reserved2, uintptr_t reserved3,
                              const wchar_t* password, ZEL_PASSWORD_CALLBACK passwordCallback,
                              ZEL_FILE_CALLBACK fileCallback, ZEL_PROGRESS_CALLBACK progressCallback);

ZEL_LIST_HANDLE WINAPI OpenListArchive(const wchar_t* archive, uint32_t reserved,
                                       ZEL_PASSWORD_CALLBACK passwordCallback, uintptr_t reserved1,
                                       uintptr_t reserved2, uintptr_t reserved3, const wchar_t* password,
                                       ZEL_LIST_ITEM** items, uint32_t* count);

BOOL WINAPI CloseListArchive(ZEL_LIST_HANDLE handle);

uint32_t WINAPI GetLastArchiveError(void);

// Function pointer types for callers that load the module at run time.
typedef BOOL(WINAPI* ZEL_SET_7ZIP_DLL_DIRECTORY)(const wchar_t*);
typedef BOOL(WINAPI* ZEL_CREATE_ARCHIVE)(const wchar_t*, uint32_t, const TSZW_TARGETFILES*,
                                         const TSZW_TARGETFILES*, uint32_t, const wchar_t*, const wchar_t*,
                                         ZEL_FILE_CALLBACK, ZEL_PROGRESS_CALLBACK, uintptr_t);
typedef BOOL(WINAPI* ZEL_EXTRACT_ARCHIVE)(const wchar_t*, uint32_t, const wchar_t*, const TSZW_TARGETFILES*,
                                          uint32_t, const wchar_t*, ZEL_PASSWORD_CALLBACK, ZEL_FILE_CALLBACK,
                                          ZEL_PROGRESS_CALLBACK, ZEL_OVERWRITE_CALLBACK);
typedef BOOL(WINAPI* ZEL_TEST_ARCHIVE)(const wchar_t*, uint32_t, const wchar_t*, const TSZW_TARGETFILES*,
                                       uint32_t, const wchar_t*, ZEL_PASSWORD_CALLBACK, ZEL_FILE_CALLBACK);
typedef BOOL(WINAPI* ZEL_DELETE_FROM_ARCHIVE)(const wchar_t*, uint32_t, const TSZW_TARGETFILES*, uintptr_t,
                                              uintptr_t, uintptr_t, const wchar_t*, ZEL_PASSWORD_CALLBACK,
                                              ZEL_FILE_CALLBACK, ZEL_PROGRESS_CALLBACK);
typedef ZEL_LIST_HANDLE(WINAPI* ZEL_OPEN_LIST_ARCHIVE)(const wchar_t*, uint32_t, ZEL_PASSWORD_CALLBACK,
                                                       uintptr_t, uintptr_t, uintptr_t, const wchar_t*,
                                                       ZEL_LIST_ITEM**, uint32_t*);
typedef BOOL(WINAPI* ZEL_CLOSE_LIST_ARCHIVE)(ZEL_LIST_HANDLE);
typedef uint32_t(WINAPI* ZEL_GET_LAST_ARCHIVE_ERROR)(void);

#ifdef __cplusplus
}
#endif
