// String tables from a module's resources.
#include <algorithm>
#include <cstring>

#include "kernel/resource.h"
#include "user/user.h"

// A string table block holds 16 strings, each a length word and that many
// UTF-16 units; block n (from 1) holds the ids 16 * (n - 1) to 16 * n - 1.
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR text, int cch) {
  if (!text) return 0;
  if (cch > 0) text[0] = 0;
  HRSRC found = FindResourceW(reinterpret_cast<HMODULE>(instance), MAKEINTRESOURCEW(id / 16 + 1), RT_STRING);
  if (!found) return 0;
  HGLOBAL loaded = LoadResource(reinterpret_cast<HMODULE>(instance), found);
  const auto* p = static_cast<const WORD*>(LockResource(loaded));
  size_t words = SizeofResource(reinterpret_cast<HMODULE>(instance), found) / sizeof(WORD);
  if (!p) return 0;
  size_t at = 0;
  for (UINT i = 0; i < id % 16; ++i) {
    if (at >= words) return 0;
    at += 1 + p[at];
  }
  if (at >= words) return 0;
  size_t length = p[at];
  if (at + 1 + length > words || length == 0) return 0;
  const auto* s = reinterpret_cast<LPCWSTR>(p + at + 1);
  if (cch == 0) {
    *reinterpret_cast<LPCWSTR*>(text) = s;
    return static_cast<int>(length);
  }
  size_t n = std::min(length, static_cast<size_t>(cch - 1));
  std::memcpy(text, s, n * sizeof(WCHAR));
  text[n] = 0;
  return static_cast<int>(n);
}
