// Values of the main program's "Settings" registry key, written as its
// option pages write them. Header-only, so benchmarks can use it as well.
#pragma once

#include "kernel/kernel.h"

namespace qtest {

// Creates the key when needed; false when it cannot be opened.
inline bool SetSettingDword(const char16_t* name, DWORD value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Settings", 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
  return true;
}

// A text value; a null value deletes it.
inline bool SetSettingString(const char16_t* name, const char16_t* value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Settings", 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  if (value)
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>((wcslen(value) + 1) * sizeof(WCHAR)));
  else
    RegDeleteValueW(key, name);
  RegCloseKey(key);
  return true;
}

}  // namespace qtest
