// Helpers shared by the feed and store tests: an independent writer of the
// store's record layout (the golden bytes).
#pragma once

#include <string>

#include "kernel/kernel.h"

namespace ftest {

inline void PutU32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += char((v >> (8 * i)) & 0xFF);
}
inline void PutU16(std::string& s, uint16_t v) {
  s += char(v & 0xFF);
  s += char(v >> 8);
}
inline void PutText(std::string& s, const std::u16string& t) {
  for (char16_t c : t) PutU16(s, uint16_t(c));
  PutU16(s, 0);
}

// One record exactly as the store lays it out.
inline std::string Record(uint32_t type, const std::u16string& title, const std::u16string& link,
                          const std::u16string& id, const std::u16string& date, uint32_t flag,
                          const std::u16string& content, const std::u16string& page) {
  std::string body;
  PutU32(body, type);
  PutU32(body, uint32_t((title.size() + 1) * 2));
  PutText(body, title);
  PutU16(body, uint16_t((link.size() + 1) * 2));
  PutU16(body, uint16_t(id.empty() ? 0 : (id.size() + 1) * 2));
  PutText(body, link);
  if (!id.empty()) PutText(body, id);
  PutU32(body, uint32_t((date.size() + 1) * 2));
  PutText(body, date);
  PutU32(body, flag);
  PutU32(body, uint32_t((content.size() + 1) * 2));
  PutText(body, content);
  std::string pageField(80, '\0');
  for (size_t i = 0; i < page.size() && i < 39; ++i) {
    pageField[2 * i] = char(page[i] & 0xFF);
    pageField[2 * i + 1] = char(page[i] >> 8);
  }
  body += pageField;
  std::string r;
  PutU32(r, uint32_t(body.size()));
  return r + body;
}

}  // namespace ftest

#include <ostream>

#include "framework/cstring.h"

// Readable CString values in test failures.
inline void PrintTo(const CString& s, std::ostream* os) { *os << '"' << CStringA(s).str() << '"'; }
