// The registry: HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE stored as text files
// under the device root ("Registry\HKCU.reg", "Registry\HKLM.reg"), written
// atomically (temporary file and rename) under a file lock, and re-read when
// another process changed them. Key names match without regard to case.
#pragma once

#include "kernel/types.h"

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))

typedef DWORD REGSAM;
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

#define REG_OPTION_NON_VOLATILE 0
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY result);
LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className, DWORD options, REGSAM sam,
                     LPSECURITY_ATTRIBUTES sa, PHKEY result, LPDWORD disposition);
// Reads a value; data may be null to ask for its size. ERROR_MORE_DATA when
// the buffer is too small (the size needed is then in *size).
LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
LONG RegDeleteValueW(HKEY key, LPCWSTR valueName);
LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey);
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLen, LPDWORD reserved, LPWSTR className,
                   LPDWORD classLen, LPFILETIME lastWrite);
LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLen, LPDWORD reserved, LPDWORD type,
                   LPBYTE data, LPDWORD dataLen);
LONG RegFlushKey(HKEY key);
LONG RegCloseKey(HKEY key);

namespace qk {
// A number that changes whenever any process changed the registry of this
// device root (for change watches).
unsigned long RegistryChangeStamp();
}  // namespace qk
