// What every text conversion must give, checked the same way by each text
// fuzz target: well-formed UTF-16 and UTF-8, and the ASCII of a UTF-8 input
// kept one for one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace fuzztext {

// True when every surrogate of the units is half of a pair.
inline bool IsWellFormedUtf16(const char16_t* s, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    char16_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= n || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

// True when the bytes are well-formed UTF-8: shortest forms only, no
// surrogate code points, nothing beyond U+10FFFF.
inline bool IsWellFormedUtf8(const unsigned char* s, size_t n) {
  for (size_t i = 0; i < n;) {
    unsigned char b = s[i];
    size_t len;
    uint32_t c, min;
    if (b < 0x80) {
      ++i;
      continue;
    }
    if ((b & 0xE0) == 0xC0) len = 2, c = b & 0x1F, min = 0x80;
    else if ((b & 0xF0) == 0xE0) len = 3, c = b & 0x0F, min = 0x800;
    else if ((b & 0xF8) == 0xF0) len = 4, c = b & 0x07, min = 0x10000;
    else return false;
    if (n - i < len) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      c = (c << 6) | (s[i + k] & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

inline size_t CountAscii(const unsigned char* s, size_t n) {
  size_t count = 0;
  for (size_t i = 0; i < n; ++i) count += s[i] < 0x80;
  return count;
}

inline size_t CountAscii(const char16_t* s, size_t n) {
  size_t count = 0;
  for (size_t i = 0; i < n; ++i) count += s[i] < 0x80;
  return count;
}

// Ends the run with a message: libFuzzer keeps the input that did it.
[[noreturn]] inline void Fail(const char* what, unsigned codePage) {
  fprintf(stderr, "text check failed: %s (code page %u)\n", what, codePage);
  abort();
}

// An input that starts with 0xFF names its code page by a charset label up
// to a line feed (at most 47 bytes); the text follows it. Returns false when
// the label is too long or unterminated; else *label holds it (empty when
// the first byte picks the page instead) and *at where the text starts.
inline bool ReadCharsetLabel(const uint8_t* data, size_t size, std::string* label, size_t* at) {
  label->clear();
  *at = 1;
  if (size == 0 || data[0] != 0xFF) return size != 0;
  const uint8_t* end = static_cast<const uint8_t*>(memchr(data + 1, '\n', size - 1));
  if (!end || end - data > 48) return false;
  label->assign(reinterpret_cast<const char*>(data + 1), size_t(end - data - 1));
  *at = size_t(end - data) + 1;
  return true;
}

// A conversion into a buffer of cap units, filled beforehand with `fill`
// past cap: the text ends within cap and nothing past it was written.
// Returns the text's length.
template <typename Unit>
size_t CheckTerminatedWithin(const std::vector<Unit>& dst, size_t cap, Unit fill, const char* what, unsigned codePage) {
  size_t len = 0;
  while (len < cap && dst[len] != 0) ++len;
  if (len == cap) Fail((std::string(what) + " left its text unterminated").c_str(), codePage);
  for (size_t i = cap; i < dst.size(); ++i)
    if (dst[i] != fill) Fail((std::string(what) + " wrote past its buffer").c_str(), codePage);
  return len;
}

}  // namespace fuzztext
