// How the viewer cuts text into the boxes it lays out (one per word, one
// per blank that does not join two words, one per ideograph), shared by the
// layout's text splitting and the estimate of a page's layout cost made
// before it is parsed (bound.cpp). Internal to the viewer.
#pragma once

#include <cstdint>

namespace qk::htmlview {

inline bool IsBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Characters text breaks around on its own, as between words: each is a
// box of its own.
inline bool BreaksAnywhere(uint32_t cp) {
  return (cp >= 0x2E80 && cp <= 0x9FFF) || (cp >= 0xAC00 && cp <= 0xD7AF) || (cp >= 0xF900 && cp <= 0xFAFF) ||
         (cp >= 0xFF00 && cp <= 0xFFEF) || (cp >= 0x20000 && cp <= 0x3FFFF);
}

// The UTF-8 character at p (before end): its length in bytes and, in *cp,
// its code point. A malformed or cut sequence is one byte on its own.
inline int Utf8Char(const unsigned char* p, const unsigned char* end, uint32_t* cp) {
  unsigned char c = *p;
  int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
  uint32_t v = len == 1 ? c : (c & (0x7F >> len));
  for (int k = 1; k < len; ++k) {
    if (p + k >= end || (p[k] & 0xC0) != 0x80) {
      *cp = c;
      return 1;
    }
    v = (v << 6) | (p[k] & 0x3F);
  }
  *cp = v;
  return len;
}

}  // namespace qk::htmlview
