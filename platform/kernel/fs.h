// The device file system. The device's tree ("\Program Files\Quillet",
// "\Storage Card", "\Windows"...) lives under one host folder, the device
// root: $QUILLET_DEVICE_ROOT, else $XDG_DATA_HOME/quillet/device
// (~/.local/share/quillet/device). Code uses backslash device paths; only
// this layer maps them to host paths. Names are matched without regard to
// case (an exact match first, then a case-blind one). A bare file name
// (no backslash) resolves in the device root.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "kernel/handle.h"
#include "kernel/types.h"

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_ALL 0x10000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define INVALID_FILE_SIZE 0xFFFFFFFFu
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100
#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define FILE_FLAG_RANDOM_ACCESS 0x10000000u

#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_COPY_ALLOWED 0x00000002

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwOID;
  WCHAR cFileName[MAX_PATH];
};
typedef WIN32_FIND_DATAW* LPWIN32_FIND_DATAW;

struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL SetEndOfFile(HANDLE file);
BOOL FlushFileBuffers(HANDLE file);
BOOL GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME access, LPFILETIME write);
DWORD GetFileAttributesW(LPCWSTR path);
BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes);

// Wildcards as on the device: "*" any run, "?" one character, matched without
// regard to case; "*.*" matches every name, also one without a dot. The
// entries "." and ".." are never returned.
HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data);
BOOL FindClose(HANDLE find);

BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES sa);
BOOL RemoveDirectoryW(LPCWSTR path);
BOOL DeleteFileW(LPCWSTR path);
// Never overwrites an existing target (ERROR_ALREADY_EXISTS); works across
// host file systems (copy and delete).
BOOL MoveFileW(LPCWSTR from, LPCWSTR to);
// A copy onto a storage card that does not fit in the card's free space
// (see GetDiskFreeSpaceExW) writes what fits and fails with
// ERROR_DISK_FULL, as on a full card; a file is never copied onto itself.
BOOL CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists);

// The size of the medium that holds a path: the bytes free to the caller,
// the total size and all free bytes (each pointer may be null). A path on a
// storage card answers the card's own size (see StorageCards); any other
// path answers the host file system that holds the device root.
BOOL GetDiskFreeSpaceExW(LPCWSTR path, ULARGE_INTEGER* freeToCaller, ULARGE_INTEGER* totalBytes,
                         ULARGE_INTEGER* totalFree);

// The storage cards of the device, as the shell's notes library lists them:
// each card is a folder in the device root whose attributes carry the
// directory and the temporary bits; the name is the card's folder name.
// Closed with FindClose. INVALID_HANDLE_VALUE when no card is inserted.
HANDLE FindFirstFlashCard(LPWIN32_FIND_DATAW data);
BOOL FindNextFlashCard(HANDLE find, LPWIN32_FIND_DATAW data);

// C runtime file access on device paths.
FILE* _wfopen(LPCWSTR path, LPCWSTR mode);
int _wremove(LPCWSTR path);

namespace qk {
// The host folder that holds the device's tree (created on first use).
std::string DeviceRoot();
// Tests give each case its own device root; also drops cached state.
void SetDeviceRoot(const std::string& hostFolder);
// The host path of a device path (wide or UTF-8). Existing components are
// found without regard to case; missing ones keep the spelling given.
std::string HostPath(LPCWSTR devicePath);
std::string HostPathA(const char* devicePathUtf8);
// Whether two device paths lead to one file or folder on the host (links
// followed; the same device and inode). Names alone cannot tell: the device
// matches them without regard to case while the host keeps two folders
// whose names differ only in case, and a link gives one folder two names.
// False when either names nothing.
bool SameHostFile(LPCWSTR a, LPCWSTR b);
// fopen of a device path given in UTF-8 (the 8-bit default code page).
FILE* DeviceFopen(const char* devicePathUtf8, const char* mode);
// The storage cards named in the device profile "DeviceProfile.txt" of the
// device root, one line "card=<folder name>,<size in MB>" each, in file
// order. A card counts as inserted while its folder exists in the device
// root. Re-read at each call: a test or the user changes the file.
struct StorageCard {
  std::u16string name;
  unsigned long long totalBytes;
};
std::vector<StorageCard> StorageCards();
// Wildcard match as FindFirstFileW does it.
bool WildcardMatch(const char16_t* pattern, const char16_t* name);
}  // namespace qk
