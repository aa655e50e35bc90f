// A whole hive read through the registry calls into a plain map, for
// comparing what the registry holds with a reference (registry tests and the
// hive fuzz target).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "kernel/kernel.h"

namespace regdump {

struct DumpedValue {
  std::u16string name;
  DWORD type = 0;
  std::string data;
  bool operator==(const DumpedValue& o) const { return name == o.name && type == o.type && data == o.data; }
};

struct DumpedKey {
  std::u16string path;  // as the names were given (case kept), "\"-joined
  std::map<std::u16string, DumpedValue> values;  // by lower-case name
  bool operator==(const DumpedKey& o) const { return path == o.path && values == o.values; }
};

// Every key of a hive (the root as the empty path) by lower-case path.
using Hive = std::map<std::u16string, DumpedKey>;

inline std::u16string Lower(std::u16string s) { return qk::LowerCase(std::move(s)); }

// Reads the key and everything below it; false when a call failed.
inline bool DumpKey(HKEY key, const std::u16string& path, Hive* out) {
  DumpedKey& k = (*out)[Lower(path)];
  k.path = path;
  std::vector<char16_t> name(300);
  for (DWORD i = 0;; ++i) {
    DWORD nameLen = DWORD(name.size()), type = 0, dataLen = 0;
    LONG r = RegEnumValueW(key, i, name.data(), &nameLen, nullptr, &type, nullptr, &dataLen);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r == ERROR_MORE_DATA) {
      name.resize(nameLen);
      --i;
      continue;
    }
    if (r != ERROR_SUCCESS) return false;
    DumpedValue v;
    v.name.assign(name.data(), nameLen);
    v.type = type;
    std::string data(dataLen, '\0');
    nameLen = DWORD(name.size());
    if (RegEnumValueW(key, i, name.data(), &nameLen, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                      &dataLen) != ERROR_SUCCESS)
      return false;
    v.data = data.substr(0, dataLen);
    k.values[Lower(v.name)] = v;
  }
  std::vector<std::u16string> subkeys;
  for (DWORD i = 0;; ++i) {
    DWORD nameLen = DWORD(name.size());
    LONG r = RegEnumKeyExW(key, i, name.data(), &nameLen, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS) return false;
    subkeys.emplace_back(name.data(), nameLen);
  }
  for (const auto& s : subkeys) {
    HKEY sub = nullptr;
    if (RegOpenKeyExW(key, s.c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS) return false;
    bool ok = DumpKey(sub, path.empty() ? s : path + u"\\" + s, out);
    RegCloseKey(sub);
    if (!ok) return false;
  }
  return true;
}

inline bool Dump(HKEY root, Hive* out) {
  out->clear();
  return DumpKey(root, u"", out);
}

}  // namespace regdump
