#include "quillet/feeds/exml.h"

#include <tinyxml.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <strings.h>

#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/encoding.h"
#include "common/log.h"
#include "kernel/kernel.h"

namespace {

// Reads a whole device file; false when it cannot be opened or read.
bool ReadWholeFile(LPCWSTR path, std::string& out) {
  out.clear();
  FILE* f = _wfopen(path, u"rb");
  if (!f) return false;
  char chunk[65536];
  size_t n;
  bool ok = true;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) out.append(chunk, n);
  if (ferror(f)) ok = false;
  fclose(f);
  return ok;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

// A UTF-16 file (with or without byte-order mark) becomes UTF-8; false when
// the bytes are not UTF-16.
bool TranscodeUtf16(std::string& data) {
  if (data.size() < 2) return false;
  const unsigned char* b = reinterpret_cast<const unsigned char*>(data.data());
  bool little;
  size_t start = 0;
  if (b[0] == 0xFF && b[1] == 0xFE) {
    little = true;
    start = 2;
  } else if (b[0] == 0xFE && b[1] == 0xFF) {
    little = false;
    start = 2;
  } else {
    // Without a mark: the first character that is not a blank is "<" in
    // one of the two byte orders.
    auto blank = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    size_t k = 0;
    if (b[0] != 0 && b[1] == 0) {
      while (k + 1 < data.size() && b[k + 1] == 0 && blank(b[k])) k += 2;
      if (k + 1 >= data.size() || b[k] != '<' || b[k + 1] != 0) return false;
      little = true;
    } else if (b[0] == 0 && b[1] != 0) {
      while (k + 1 < data.size() && b[k] == 0 && blank(b[k + 1])) k += 2;
      if (k + 1 >= data.size() || b[k] != 0 || b[k + 1] != '<') return false;
      little = false;
    } else {
      return false;
    }
  }
  std::string out;
  out.reserve(data.size());
  size_t count = (data.size() - start) / 2;
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* u = b + start + 2 * i;
    uint32_t c = little ? uint32_t(u[0] | (u[1] << 8)) : uint32_t((u[0] << 8) | u[1]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count) {
      const unsigned char* v = u + 2;
      uint32_t d = little ? uint32_t(v[0] | (v[1] << 8)) : uint32_t((v[0] << 8) | v[1]);
      if (d >= 0xDC00 && d <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00);
        ++i;
      }
    }
    if (c == 0) break;
    AppendUtf8(out, c);
  }
  data.swap(out);
  return true;
}

// TinyXML reads files with every line end turned into a line feed; text
// parsed from memory gets the same treatment.
void NormaliseLineEnds(std::string& data) {
  if (data.find('\r') == std::string::npos) return;
  std::string out;
  out.reserve(data.size());
  for (size_t i = 0; i < data.size(); ++i) {
    if (data[i] == '\r') {
      out += '\n';
      if (i + 1 < data.size() && data[i + 1] == '\n') ++i;
    } else {
      out += data[i];
    }
  }
  data.swap(out);
}

size_t SkipPast(const std::string& d, size_t i, const char* end) {
  size_t e = d.find(end, i);
  return e == std::string::npos ? d.size() : e + strlen(end);
}

// The deepest element nesting of the text, found without parsing it.
int NestingDepth(const std::string& d) {
  int depth = 0, deepest = 0;
  size_t i = 0, n = d.size();
  while (i < n) {
    size_t lt = d.find('<', i);
    if (lt == std::string::npos) break;
    if (d.compare(lt, 4, "<!--") == 0) {
      i = SkipPast(d, lt + 4, "-->");
    } else if (d.compare(lt, 9, "<![CDATA[") == 0) {
      i = SkipPast(d, lt + 9, "]]>");
    } else if (lt + 1 < n && (d[lt + 1] == '?' || d[lt + 1] == '!')) {
      i = SkipPast(d, lt + 1, ">");
    } else if (lt + 1 < n && d[lt + 1] == '/') {
      --depth;
      i = SkipPast(d, lt + 1, ">");
    } else {
      size_t j = lt + 1;
      char quote = 0;
      while (j < n && (quote || d[j] != '>')) {
        if (quote) {
          if (d[j] == quote) quote = 0;
        } else if (d[j] == '"' || d[j] == '\'') {
          quote = d[j];
        }
        ++j;
      }
      bool selfClosing = j < n && j > lt + 1 && d[j - 1] == '/';
      if (!selfClosing && ++depth > deepest) deepest = depth;
      i = j < n ? j + 1 : n;
    }
  }
  return deepest;
}

// The encoding declared in the first bytes: sets mode and code page as the
// declaration says; leaves both alone when there is no "encoding=".
bool SniffEncoding(const char* head, int& mode, UINT& codePage) {
  const char* at = strstr(head, "encoding=");
  if (!at) return false;
  std::string rest(at + 9);
  size_t end = rest.find("?>");
  if (end != std::string::npos) rest.resize(end);
  std::string value;
  size_t q = rest.find('"');
  if (q != std::string::npos) {
    size_t q2 = rest.find('"', q + 1);
    value = rest.substr(q + 1, q2 == std::string::npos ? std::string::npos : q2 - q - 1);
  } else {
    value = rest;
  }
  for (char& c : value) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  // A file whose bytes reach here is 8-bit text: one that claims to be
  // UTF-16 without being it is read as UTF-8, the only 8-bit form it can be.
  bool claims16 = value.find("utf-16") != std::string::npos || value.find("utf16") != std::string::npos ||
                  value.find("ucs-2") != std::string::npos;
  if (value.empty() || value.find("utf-8") != std::string::npos || value.find("utf8") != std::string::npos ||
      claims16) {
    mode = EXML_MODE_UTF8;
    codePage = CP_UTF8;
    return true;
  }
  mode = EXML_MODE_ANSI;
  // The charset name for the code-page lookup: the attribute's own value,
  // in whichever quotes it stands (a double-quoted attribute after a
  // single-quoted encoding must not lend its value).
  size_t s = rest.find_first_not_of(" \t\r\n");
  std::string name;
  if (s != std::string::npos) {
    char quote = rest[s] == '"' || rest[s] == '\'' ? rest[s] : 0;
    for (size_t i = quote ? s + 1 : s; i < rest.size() && rest[i] != quote; ++i) {
      char c = rest[i];
      if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
      if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':') name += c;
      else break;
    }
  }
  if (name.find("utf-8") != std::string::npos || name.find("utf8") != std::string::npos ||
      name.find("utf-16") != std::string::npos || name.find("utf16") != std::string::npos ||
      name.find("ucs-2") != std::string::npos) {
    codePage = CP_UTF8;
    return true;
  }
  UINT cp = name.empty() ? 0 : qk::CodePageFromCharset(name.c_str());
  codePage = cp ? cp : CP_ACP;
  return true;
}

// The code page an undeclared document is read with when its bytes are not
// UTF-8: the Western 8-bit page that web pages without a charset are read
// with.
const UINT kFallbackCodePage = 1252;

bool IsUtf8CodePage(UINT cp) { return cp == CP_UTF8 || cp == CP_ACP; }

// The length of the well-formed UTF-8 sequence at d[i], or 0 when none
// starts there (overlong forms count as malformed).
size_t Utf8SequenceAt(const std::string& d, size_t i) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(d.data());
  size_t n = d.size();
  unsigned char c = b[i];
  if (c < 0x80) return 1;
  size_t need;
  uint32_t cp, min;
  if ((c & 0xE0) == 0xC0) need = 1, cp = c & 0x1F, min = 0x80;
  else if ((c & 0xF0) == 0xE0) need = 2, cp = c & 0x0F, min = 0x800;
  else if ((c & 0xF8) == 0xF0) need = 3, cp = c & 0x07, min = 0x10000;
  else return 0;
  if (n - i - 1 < need) return 0;
  for (size_t k = 1; k <= need; ++k) {
    if ((b[i + k] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b[i + k] & 0x3F);
  }
  // Halves of a surrogate pair written one by one, as older files of
  // this program hold them, are read back as the pair.
  if (cp < min || cp > 0x10FFFF) return 0;
  return need + 1;
}

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(const std::string& d) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(d.data());
  for (size_t i = 0, n = d.size(); i < n;) {
    // Runs of ASCII, the bulk of most feeds, eight bytes at a time.
    while (i + 8 <= n) {
      uint64_t word;
      memcpy(&word, b + i, 8);
      if (word & 0x8080808080808080ull) break;
      i += 8;
    }
    if (i >= n) break;
    if (b[i] < 0x80) {
      ++i;
      continue;
    }
    size_t len = Utf8SequenceAt(d, i);
    if (!len) return false;
    i += len;
  }
  return true;
}

// A table of the bytes that end a scan: true for each byte of stops.
struct ByteSet {
  explicit ByteSet(const char* stops) {
    for (const char* p = stops; *p; ++p) in[static_cast<unsigned char>(*p)] = true;
  }
  // The first position from i on whose byte is in the set, or d.size().
  size_t Find(const std::string& d, size_t i) const {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(d.data());
    size_t n = d.size();
    while (i < n && !in[b[i]]) ++i;
    return i;
  }
  bool in[256] = {};
};

// True when the text holds at least one well-formed multi-byte UTF-8
// sequence.
bool HasUtf8Sequence(const std::string& d) {
  for (size_t i = 0, n = d.size(); i < n;) {
    size_t len = Utf8SequenceAt(d, i);
    if (len > 1) return true;
    i += len ? len : 1;
  }
  return false;
}

// Undeclared text that is not well-formed UTF-8 becomes UTF-8 sequence by
// sequence: every well-formed UTF-8 sequence stands for its own character
// (UTF-8 text with a few bytes pasted in from elsewhere keeps every one of
// its characters), and every other byte is read by the 8-bit code page (in
// text written in that page a well-formed sequence is a rare accident of two
// neighbouring characters). Deciding for the whole text instead would turn
// every character of one kind or the other into wrong ones.
void ReadMixedUtf8(std::string& d, UINT codePage) {
  std::string high[128];
  for (int b = 0x80; b < 0x100; ++b) {
    char byte = char(b);
    WCHAR unit = 0;
    uint32_t c = MultiByteToWideChar(codePage, 0, &byte, 1, &unit, 1) == 1 && unit ? uint32_t(unit) : 0xFFFD;
    AppendUtf8(high[b - 0x80], c);
  }
  std::string out;
  out.reserve(d.size() + d.size() / 8);
  for (size_t i = 0, n = d.size(); i < n;) {
    size_t len = Utf8SequenceAt(d, i);
    if (len) {
      out.append(d, i, len);
      i += len;
    } else {
      out += high[static_cast<unsigned char>(d[i]) - 0x80];
      ++i;
    }
  }
  d.swap(out);
}

// Text that claims to be UTF-8 but holds bytes that are not is read as a
// browser reads it: each malformed sequence becomes U+FFFD, and the text
// around it stays whole (a reader of the tree would otherwise end the text
// at the first bad byte).
void ReplaceMalformedUtf8(std::string& d) {
  std::string out;
  out.reserve(d.size() + 16);
  const unsigned char* b = reinterpret_cast<const unsigned char*>(d.data());
  for (size_t i = 0, n = d.size(); i < n;) {
    size_t len = Utf8SequenceAt(d, i);
    if (len) {
      out.append(d, i, len);
      i += len;
      continue;
    }
    out += "\xEF\xBF\xBD";
    // A lead byte takes the continuation bytes that follow it along.
    size_t skip = 1;
    if (b[i] >= 0xC0) {
      while (skip < 4 && i + skip < n && (b[i + skip] & 0xC0) == 0x80) ++skip;
    }
    i += skip;
  }
  d.swap(out);
}

// 8-bit text of a code page becomes UTF-8.
void TranscodeToUtf8(std::string& data, UINT codePage) {
  if (data.empty()) return;
  int need = MultiByteToWideChar(codePage, 0, data.data(), int(data.size()), nullptr, 0);
  if (need <= 0) return;
  std::u16string wide(size_t(need), u'\0');
  int got = MultiByteToWideChar(codePage, 0, data.data(), int(data.size()), wide.data(), need);
  wide.resize(size_t(got > 0 ? got : 0));
  std::string out;
  out.reserve(wide.size() + wide.size() / 4);
  for (size_t i = 0; i < wide.size(); ++i) {
    uint32_t c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(wide[i + 1]) - 0xDC00);
      ++i;
    }
    AppendUtf8(out, c);
  }
  data.swap(out);
}

// Browsers read the references 128 to 159 as the characters that the
// Western Windows page has at those bytes.
const uint16_t kC1AsWindows[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                   0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                   0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

bool IsAsciiAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// A byte that may stand in an entity name (bytes beyond ASCII are parts of
// the name's UTF-8 characters).
bool IsNameByte(char c) {
  return IsAsciiAlnum(c) || c == '_' || c == ':' || c == '-' || c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

// Longest entity name looked up, in bytes.
const size_t kMaxEntityName = 128;
// Entities named inside entity values are expanded this deep at most.
const int kMaxEntityDepth = 16;
// Bytes that entity expansion may produce beyond the size of the file
// itself, counted over the whole document: a value copied into another one,
// and every reference replaced in the text.
const size_t kEntityExpansionAllowance = 1 << 20;

// The general entities that the document's internal subset declares with a
// literal value ("<!ENTITY site 'http://example.com'>"). A reference to one
// becomes its value, with the entities that the value names expanded in
// turn. Values are plain text: one that holds markup, refers to itself or
// would outgrow the bound stays a literal "&name;" of the text, so a file
// that nests references ten deep ten times over costs no more than the
// bound. Entities of external files are never declared here.
struct DeclaredEntities {
  explicit DeclaredEntities(size_t fileSize) : budget(fileSize + kEntityExpansionAllowance) {}

  // The text that a reference in the markup becomes, or null when the name
  // is not declared or cannot be expanded; counts the text against the
  // bound.
  const std::string* Use(const std::string& name);

  std::unordered_map<std::string, std::string> values;  // name to declared value
  size_t budget;

 private:
  // The value with every entity it names expanded, or null.
  const std::string* Expand(const std::string& name, int depth);
  bool Spend(size_t bytes) {
    if (bytes > budget) return false;
    budget -= bytes;
    return true;
  }

  std::unordered_map<std::string, std::string> expanded;  // name to its expanded value
  std::unordered_map<std::string, std::string> prepared;  // name to the text a reference becomes
  std::unordered_set<std::string> refused;                // names that stay literal
  std::unordered_set<std::string> expanding;              // names being expanded now
};

// Handles the "&" at d[i], appending its replacement; returns the index after
// what was consumed. Character references become the character itself (the
// parser would otherwise turn any beyond ASCII into a byte of nothing in
// particular, and fail the whole document on a malformed one); HTML entity
// names become their character; the five XML names and references to the
// XML's own markup characters stay; any other "&" is a literal ampersand.
size_t PrepareReference(const std::string& d, size_t i, std::string& out, DeclaredEntities* entities) {
  size_t n = d.size();
  size_t j = i + 1;
  if (j < n && d[j] == '#') {
    ++j;
    bool hex = j < n && (d[j] == 'x' || d[j] == 'X');
    if (hex) ++j;
    size_t digits = j;
    uint32_t code = 0;
    bool overflow = false;
    while (j < n && (hex ? isxdigit(static_cast<unsigned char>(d[j])) != 0 : (d[j] >= '0' && d[j] <= '9'))) {
      char c = d[j];
      uint32_t v = c <= '9' ? uint32_t(c - '0') : uint32_t((c | 0x20) - 'a' + 10);
      if (code > 0x10FFFF) overflow = true;
      else code = code * (hex ? 16 : 10) + v;
      ++j;
    }
    if (j > digits && j < n && d[j] == ';' && !overflow && code <= 0x10FFFF) {
      if (code >= 0x80 && code <= 0x9F) code = kC1AsWindows[code - 0x80];
      // Control characters go to the parser as references too: the parser
      // writes them so when it saves, so they must read back as themselves
      // (a carriage return written raw would also become a line feed).
      bool markup = code == '<' || code == '&' || code == '>' || code == '"' || code == '\'' ||
                    (code > 0 && code < 0x20 && code != 9 && code != 10);
      bool usable = code >= 0x20 || code == 9 || code == 10 || code == 13;
      if (code >= 0xD800 && code <= 0xDFFF) usable = false;
      if (markup) {
        // In the one form the parser reads (it knows no "&#X").
        out += "&#" + std::to_string(code) + ";";
        return j + 1;
      }
      if (usable) {
        AppendUtf8(out, code);
        return j + 1;
      }
    }
    out += "&amp;";
    return i + 1;
  }
  if (entities && !entities->values.empty()) {
    // The document's own entities come before the HTML names.
    size_t k = j;
    while (k < n && k - i <= kMaxEntityName && IsNameByte(d[k])) ++k;
    if (k > j && k < n && d[k] == ';') {
      if (const std::string* text = entities->Use(d.substr(j, k - j))) {
        out += *text;
        return k + 1;
      }
    }
  }
  while (j < n && j - i <= 32 && IsAsciiAlnum(d[j])) ++j;
  if (j > i + 1 && j < n && d[j] == ';') {
    std::string name = d.substr(i + 1, j - i - 1);
    if (name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos") {
      out.append(d, i, j + 1 - i);
      return j + 1;
    }
    if (UINT code = HtmlEntityCode(CString(std::u16string(name.begin(), name.end())))) {
      AppendUtf8(out, code);
      return j + 1;
    }
  }
  out += "&amp;";
  return i + 1;
}

const std::string* DeclaredEntities::Expand(const std::string& name, int depth) {
  auto known = expanded.find(name);
  if (known != expanded.end()) return &known->second;
  auto declared = values.find(name);
  if (declared == values.end() || refused.count(name)) return nullptr;
  const std::string& value = declared->second;
  if (depth > kMaxEntityDepth || expanding.count(name) || value.find('<') != std::string::npos) {
    refused.insert(name);
    return nullptr;
  }
  expanding.insert(name);
  std::string text;
  bool whole = true;
  for (size_t i = 0, n = value.size(); i < n && whole;) {
    size_t at = value.find('&', i);
    if (at == std::string::npos) at = n;
    text.append(value, i, at - i);
    if (at == n) break;
    size_t k = at + 1;
    while (k < n && k - at <= kMaxEntityName && IsNameByte(value[k])) ++k;
    std::string inner = k > at + 1 && k < n && value[k] == ';' ? value.substr(at + 1, k - at - 1) : std::string();
    if (!inner.empty() && values.count(inner)) {
      const std::string* part = Expand(inner, depth + 1);
      whole = part && Spend(part->size());
      if (whole) text += *part;
      i = k + 1;
    } else {
      // A character reference or an HTML name: read where the text is used.
      text += '&';
      i = at + 1;
    }
  }
  expanding.erase(name);
  if (!whole) {
    refused.insert(name);
    return nullptr;
  }
  return &expanded.emplace(name, std::move(text)).first->second;
}

const std::string* DeclaredEntities::Use(const std::string& name) {
  auto done = prepared.find(name);
  if (done == prepared.end()) {
    const std::string* text = Expand(name, 0);
    if (!text) return nullptr;
    // The value is text wherever it stands, in an attribute value too: its
    // references are read as the markup's own, and its quotes cannot end
    // the attribute.
    std::string markup;
    for (size_t i = 0, n = text->size(); i < n;) {
      char c = (*text)[i];
      if (c == '&') {
        i = PrepareReference(*text, i, markup, nullptr);
        continue;
      }
      if (c == '"') markup += "&#34;";
      else if (c == '\'') markup += "&#39;";
      else if (c == '>') markup += "&#62;";
      else markup += c;
      ++i;
    }
    done = prepared.emplace(name, std::move(markup)).first;
  }
  if (!Spend(done->second.size())) return nullptr;
  return &done->second;
}

// Makes every "&" of UTF-8 markup one that the parser reads as a browser
// would; comments, character data sections, processing instructions and
// the document type declaration pass unchanged.
void PrepareReferences(std::string& d, DeclaredEntities& entities) {
  if (d.find('&') == std::string::npos) return;
  std::string out;
  out.reserve(d.size() + d.size() / 16);
  size_t i = 0, n = d.size();
  // The next "<" and the next "&" from the scan on (n: none).
  auto find = [&](char c, size_t from) {
    size_t at = d.find(c, from);
    return at == std::string::npos ? n : at;
  };
  size_t lt = find('<', 0), amp = find('&', 0);
  while (i < n) {
    if (lt < i) lt = find('<', i);
    if (amp < i) amp = find('&', i);
    size_t at = lt < amp ? lt : amp;
    if (at == n) {
      out.append(d, i, std::string::npos);
      break;
    }
    out.append(d, i, at - i);
    if (d[at] == '&') {
      i = PrepareReference(d, at, out, &entities);
      continue;
    }
    size_t end;
    const char second = at + 1 < n ? d[at + 1] : 0;
    if (second != '!' && second != '?') {
      // A tag: nothing to skip.
      end = at + 1;
    } else if (d.compare(at, 4, "<!--") == 0) {
      end = SkipPast(d, at + 4, "-->");
    } else if (d.compare(at, 9, "<![CDATA[") == 0) {
      end = SkipPast(d, at + 9, "]]>");
    } else if (d.compare(at, 2, "<?") == 0) {
      end = SkipPast(d, at + 2, "?>");
    } else if (d.compare(at, 2, "<!") == 0) {
      // A document type declaration, with its internal subset in brackets.
      int depth = 0;
      end = at + 2;
      while (end < n && !(d[end] == '>' && depth == 0)) {
        if (d[end] == '[') ++depth;
        else if (d[end] == ']' && depth > 0) --depth;
        ++end;
      }
      end = end < n ? end + 1 : n;
    } else {
      end = at + 1;
    }
    out.append(d, at, end - at);
    i = end;
  }
  d.swap(out);
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The end of the markup construct that starts at d[at] ("<"): a comment,
// character data, a processing instruction, a declaration or a tag (whose
// quoted attribute values may hold ">").
size_t MarkupEnd(const std::string& d, size_t at) {
  size_t n = d.size();
  // Only "<!" and "<?" open anything but a tag: a tag (nearly every
  // construct of a feed) needs none of the comparisons.
  const char second = at + 1 < n ? d[at + 1] : 0;
  bool declaration = false;
  if (second == '!' || second == '?') {
    if (d.compare(at, 4, "<!--") == 0) return SkipPast(d, at + 4, "-->");
    if (d.compare(at, 9, "<![CDATA[") == 0) return SkipPast(d, at + 9, "]]>");
    if (d.compare(at, 2, "<?") == 0) return SkipPast(d, at + 2, "?>");
    declaration = d.compare(at, 2, "<!") == 0;
  }
  size_t j = at + 1;
  char quote = 0;
  int depth = 0;
  while (j < n) {
    char c = d[j];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (declaration && c == '[') {
      ++depth;
    } else if (declaration && c == ']' && depth > 0) {
      --depth;
    } else if (c == '>' && depth == 0) {
      return j + 1;
    }
    ++j;
  }
  return n;
}

// The general entities of an internal subset (d[from, to)) that have a
// literal value. Parameter entities serve the subset alone, and an entity
// declared SYSTEM or PUBLIC names an external file, which is never read: a
// reference to either stays text. The first declaration of a name binds.
void ReadEntityDeclarations(const std::string& d, size_t from, size_t to, DeclaredEntities& entities) {
  size_t i = from;
  while (i < to) {
    if (d.compare(i, 4, "<!--") == 0) {
      i = SkipPast(d, i + 4, "-->");
      continue;
    }
    if (d[i] != '<') {
      ++i;
      continue;
    }
    // A declaration ends at its first ">" outside quotes.
    size_t end = i + 1;
    char quote = 0;
    while (end < to && (quote || d[end] != '>')) {
      if (quote) {
        if (d[end] == quote) quote = 0;
      } else if (d[end] == '"' || d[end] == '\'') {
        quote = d[end];
      }
      ++end;
    }
    if (d.compare(i, 8, "<!ENTITY") == 0 && i + 8 < end && IsXmlSpace(d[i + 8])) {
      size_t k = i + 8;
      while (k < end && IsXmlSpace(d[k])) ++k;
      size_t nameStart = k;
      while (k < end && IsNameByte(d[k])) ++k;
      std::string name = d.substr(nameStart, k - nameStart);
      size_t afterName = k;
      while (k < end && IsXmlSpace(d[k])) ++k;
      bool predefined = name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos";
      if (!name.empty() && !predefined && k > afterName && k < end && (d[k] == '"' || d[k] == '\'')) {
        size_t close = d.find(d[k], k + 1);
        if (close < end) entities.values.emplace(name, d.substr(k + 1, close - k - 1));
      }
    }
    i = end < to ? end + 1 : to;
  }
}

// A document type declaration with an internal subset ("<!DOCTYPE rss [
// <!ENTITY ...> ]>") leaves the parser without any element, so the whole
// feed would be lost. The subset is dropped; the declaration's name and
// external identifier stay, and the entities the subset declares are kept
// for the references of the text.
void DropInternalSubset(std::string& d, DeclaredEntities& entities) {
  size_t n = d.size();
  size_t i = d.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (i < n) {
    while (i < n && IsXmlSpace(d[i])) ++i;
    if (d.compare(i, 4, "<!--") == 0) {
      i = SkipPast(d, i + 4, "-->");
    } else if (d.compare(i, 2, "<?") == 0) {
      i = SkipPast(d, i + 2, "?>");
    } else {
      break;
    }
  }
  if (i + 9 > n || strncasecmp(d.c_str() + i, "<!DOCTYPE", 9) != 0) return;
  size_t j = i + 9;
  char quote = 0;
  while (j < n && (quote || (d[j] != '[' && d[j] != '>'))) {
    if (quote) {
      if (d[j] == quote) quote = 0;
    } else if (d[j] == '"' || d[j] == '\'') {
      quote = d[j];
    }
    ++j;
  }
  if (j >= n || d[j] != '[') return;
  size_t open = j++;
  quote = 0;
  while (j < n) {
    if (quote) {
      if (d[j] == quote) quote = 0;
      ++j;
    } else if (d.compare(j, 4, "<!--") == 0) {
      j = SkipPast(d, j + 4, "-->");
    } else if (d[j] == '"' || d[j] == '\'') {
      quote = d[j++];
    } else if (d[j] == ']') {
      break;
    } else {
      ++j;
    }
  }
  if (j >= n) return;
  ReadEntityDeclarations(d, open + 1, j, entities);
  d.erase(open, j + 1 - open);
}

// The parser drops the white space of a text that borders on markup
// ("Hello <b>world</b> and" would read as "Hello<b>world</b>and") and
// folds every other run of white space into one blank (the line breaks and
// indents of a code listing would be lost). Such white space is written as
// character references, which the parser keeps as they are; a single blank
// between words, which folding keeps anyway, stays as it is. (A text of
// white space alone, between two tags, the parser drops whatever form it
// has.)
void ProtectInlineSpace(std::string& d) {
  // Most texts need nothing of this: what stays as it stands is copied in
  // whole stretches, and only once something is written differently.
  std::string out;
  size_t kept = 0;  // d[kept, i) is yet to be copied as it stands
  size_t i = 0, n = d.size();
  bool afterMarkup = false;
  // What stands before the first markup (a byte-order mark, blank lines
  // that a server put before the declaration) is no text of any element.
  size_t first = d.find('<');
  if (first == std::string::npos) return;
  i = first;
  while (i < n) {
    char c = d[i];
    if (c == '<') {
      i = MarkupEnd(d, i);
      afterMarkup = true;
      continue;
    }
    if (!IsXmlSpace(c)) {
      // Words and the single blanks between them stay as they are.
      static const ByteSet spaceOrMarkup(" \t\n\r<");
      for (;;) {
        i = spaceOrMarkup.Find(d, i);
        if (i + 1 < n && d[i] == ' ' && !IsXmlSpace(d[i + 1]) && d[i + 1] != '<') i += 2;
        else break;
      }
      afterMarkup = false;
      continue;
    }
    size_t end = i;
    while (end < n && IsXmlSpace(d[end])) ++end;
    bool beforeMarkup = end < n && d[end] == '<';
    bool alone = (afterMarkup && beforeMarkup) || end == n;
    bool plainBlank = end == i + 1 && c == ' ' && !afterMarkup && !beforeMarkup;
    if (!alone && !plainBlank) {
      if (out.empty()) out.reserve(d.size() + d.size() / 32);
      out.append(d, kept, i - kept);
      for (size_t k = i; k < end; ++k) {
        switch (d[k]) {
          case ' ': out += "&#32;"; break;
          case '\t': out += "&#9;"; break;
          case '\r':
            // A line end in any form is one line feed.
            if (k + 1 < end && d[k + 1] == '\n') ++k;
            out += "&#10;";
            break;
          default: out += "&#10;"; break;
        }
      }
      kept = end;
    }
    i = end;
  }
  if (kept == 0) return;
  out.append(d, kept, std::string::npos);
  d.swap(out);
}

// The parser reads the text between two tags one character at a time, at a
// cost many times that of everything else it does. A long text is therefore
// decoded here, as the parser decodes it, and the parser is given a short
// marker in its place ("\xFF<n>\xFF": no well-formed UTF-8 holds that byte,
// and no reference decodes to it); the text goes into its node after the
// parse. Each marker must come back as the whole of a text node: otherwise
// (a text that was no text of an element, markup read otherwise than here)
// the document is parsed again as it stands, so the tree is always the one
// the parser makes of the document itself.
struct LongTexts {
  std::vector<std::string> values;
};

// What the parser makes of each byte of a text: copies it, takes it for
// white space, reads a reference, or copies a UTF-8 sequence of that many
// bytes. White space is what the C library's isspace says in the current
// locale, as for the parser.
enum : unsigned char { kTextPlain = 1, kTextSpace, kTextReference, kTextOther };
struct TextBytes {
  TextBytes() {
    for (int c = 0; c < 256; ++c) {
      int len = TiXmlBase::utf8ByteTable[c];
      if (isspace(c) || c == '\n' || c == '\r') kind[c] = kTextSpace;
      else if (c == '&') kind[c] = kTextReference;
      else if (len == 1) kind[c] = kTextPlain;
      else if (len >= 2 && len <= 4) kind[c] = static_cast<unsigned char>(8 + len);
      else kind[c] = kTextOther;
    }
  }
  unsigned char kind[256];
};

// Decodes a text of an element, p up to end (a "<"), as the parser does
// with white space condensed: white space (and byte-order marks) before
// the text dropped, each run of white space inside it one blank, white
// space after it dropped, the five named references and decimal character
// references of ASCII decoded. False for a text that the parser would drop
// (blank) or that holds anything else (left to the parser).
bool DecodeElementText(const TextBytes& bytes, const char* p, const char* end, std::string& out) {
  const unsigned char* kind = bytes.kind;
  auto at = [](const char* q) { return static_cast<unsigned char>(*q); };
  while (p < end) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
    if (u[0] == 0xEF && ((u[1] == 0xBB && u[2] == 0xBF) || (u[1] == 0xBF && (u[2] == 0xBE || u[2] == 0xBF)))) {
      p += 3;
      continue;
    }
    if (kind[u[0]] != kTextSpace) break;
    ++p;
  }
  if (p >= end) return false;
  // The text never grows: references and runs of white space shrink.
  out.resize(size_t(end - p));
  char* w = out.data();
  bool space = false;
  bool blank = true;
  while (p < end) {
    unsigned char k = kind[at(p)];
    if (k == kTextSpace) {
      space = true;
      ++p;
      continue;
    }
    if (space) {
      *w++ = ' ';
      space = false;
    }
    if (k == kTextPlain) {
      // A blank between two words stays what it is: it goes with them.
      const char* from = p;
      for (;;) {
        while (p < end && kind[at(p)] == kTextPlain) ++p;
        if (p + 1 < end && *p == ' ' && kind[at(p + 1)] == kTextPlain) p += 2;
        else break;
      }
      memcpy(w, from, size_t(p - from));
      w += p - from;
      blank = false;
      continue;
    }
    if (k > 8) {
      int len = k - 8;
      if (end - p < len) return false;
      for (int i = 1; i < len; ++i) {
        if ((at(p + i) & 0xC0) != 0x80) return false;
      }
      memcpy(w, p, size_t(len));
      w += len;
      p += len;
      blank = false;
      continue;
    }
    if (k != kTextReference) return false;
    static const struct {
      const char* text;
      size_t length;
      char value;
    } kNamed[] = {{"&amp;", 5, '&'}, {"&lt;", 4, '<'}, {"&gt;", 4, '>'}, {"&quot;", 6, '"'}, {"&apos;", 6, '\''}};
    char value = 0;
    const char* next = nullptr;
    if (p + 1 < end && p[1] == '#') {
      const char* q = p + 2;
      unsigned code = 0;
      while (q < end && *q >= '0' && *q <= '9' && code < 0x80) code = code * 10 + unsigned(*q++ - '0');
      if (q == p + 2 || q >= end || *q != ';' || code == 0 || code >= 0x80) return false;
      value = char(code);
      next = q + 1;
    } else {
      for (const auto& named : kNamed) {
        if (size_t(end - p) >= named.length && memcmp(p, named.text, named.length) == 0) {
          value = named.value;
          next = p + named.length;
          break;
        }
      }
      if (!next) return false;
    }
    *w++ = value;
    if (kind[static_cast<unsigned char>(value)] != kTextSpace) blank = false;
    p = next;
  }
  out.resize(size_t(w - out.data()));
  return !blank;
}

// Replaces the long texts of d's elements with markers: the document to
// parse goes to compact, the decoded texts to texts. False when nothing was
// taken out (d is then parsed as it stands).
bool TakeLongTexts(const std::string& d, std::string& compact, LongTexts& texts) {
  const size_t kLongText = 32;
  if (d.find('\xFF') != std::string::npos) return false;
  const TextBytes bytes;
  size_t n = d.size();
  size_t kept = 0;  // d[kept, i) is yet to be copied
  size_t i = d.find('<');
  std::string value;
  while (i != std::string::npos && i < n) {
    size_t textStart = MarkupEnd(d, i);
    size_t next = d.find('<', textStart);
    if (next == std::string::npos) break;
    if (next - textStart >= kLongText && DecodeElementText(bytes, d.data() + textStart, d.data() + next, value)) {
      if (compact.empty()) compact.reserve(n / 4);
      compact.append(d, kept, textStart - kept);
      compact += '\xFF';
      compact += std::to_string(texts.values.size());
      compact += '\xFF';
      texts.values.push_back(std::move(value));
      value = std::string();
      kept = next;
    }
    i = next;
  }
  if (texts.values.empty()) return false;
  compact.append(d, kept, std::string::npos);
  return true;
}

// Puts the texts into the nodes that hold their markers; false unless every
// marker stood alone in a text node of its own.
bool PutLongTexts(TiXmlNode* node, LongTexts& texts, std::vector<bool>& placed, size_t& count) {
  for (TiXmlNode* c = node->FirstChild(); c; c = c->NextSibling()) {
    if (TiXmlText* text = c->ToText()) {
      const std::string& v = text->ValueStr();
      if (v.find('\xFF') == std::string::npos) continue;
      if (text->CDATA() || v.size() < 3 || v.front() != '\xFF' || v.back() != '\xFF') return false;
      size_t index = 0;
      for (size_t k = 1; k + 1 < v.size(); ++k) {
        if (v[k] < '0' || v[k] > '9' || index > texts.values.size()) return false;
        index = index * 10 + size_t(v[k] - '0');
      }
      if (index >= texts.values.size() || placed[index]) return false;
      placed[index] = true;
      ++count;
      text->SetValue(texts.values[index]);
      continue;
    }
    if (c->ToElement() && !PutLongTexts(c, texts, placed, count)) return false;
  }
  return true;
}

std::atomic<bool> g_longTextDecoding{true};

bool PutLongTexts(TiXmlDocument* doc, LongTexts& texts) {
  std::vector<bool> placed(texts.values.size(), false);
  size_t count = 0;
  return PutLongTexts(doc, texts, placed, count) && count == texts.values.size();
}

// Writes UTF-8 text in an 8-bit code page: a character the page lacks
// becomes a character reference, so nothing is lost.
std::string FromUtf8ToCodePage(const std::string& utf8, UINT codePage) {
  std::string out;
  out.reserve(utf8.size());
  WCHAR units[2];
  char bytes[16];
  int len = int(utf8.size());
  for (int i = 0; i < len;) {
    unsigned char c = static_cast<unsigned char>(utf8[size_t(i)]);
    if (c < 0x80) {
      out += char(c);
      ++i;
      continue;
    }
    int count = 0;
    int used = CEXML::DecodeUtf8(utf8.data(), i, len, units, &count);
    if (used == 0) {
      ++i;
      continue;
    }
    i += used;
    int n = WideCharToMultiByte(codePage, 0, units, count, bytes, sizeof bytes, nullptr, nullptr);
    WCHAR back[4];
    int m = n > 0 ? MultiByteToWideChar(codePage, 0, bytes, n, back, 4) : 0;
    if (n > 0 && m == count && memcmp(back, units, size_t(count) * sizeof(WCHAR)) == 0) {
      out.append(bytes, size_t(n));
    } else {
      uint32_t cp = count == 2 ? 0x10000 + ((uint32_t(units[0]) - 0xD800) << 10) + (uint32_t(units[1]) - 0xDC00)
                               : uint32_t(units[0]);
      out += "&#" + std::to_string(cp) + ";";
    }
  }
  return out;
}

bool EqualNoCase(const char* a, const char* b) {
  if (!a || !b) return false;
  for (; *a && *b; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return *a == *b;
}

}  // namespace

CEXML::CEXML() : m_pDoc(nullptr), m_nEncodingMode(EXML_MODE_UTF8), m_bDeleteOnFailure(0), m_nCodePage(CP_UTF8),
                 m_bLoadFailed(false) {
  m_szPath[0] = 0;
}

CEXML::~CEXML() { FreeDocument(); }

void CEXML::FreeDocument() {
  delete m_pDoc;
  m_pDoc = nullptr;
  ++m_nDocumentGeneration;
}

void CEXML::SetPath(LPCWSTR path, int deleteOnFailure) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  size_t n = path ? wcsnlen(path, MAX_PATH - 1) : 0;
  if (n) memcpy(m_szPath, path, n * sizeof(WCHAR));
  m_szPath[n] = 0;
  m_bDeleteOnFailure = deleteOnFailure;
  m_bLoadFailed = false;
}

CString CEXML::GetPath() const {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return CString(m_szPath);
}

TiXmlElement* CEXML::GetRoot() const { return m_pDoc ? m_pDoc->FirstChildElement() : nullptr; }

void CEXML::SetLongTextDecoding(bool on) { g_longTextDecoding = on; }

int CEXML::LoadAndWalk(LPCWSTR path) { return LoadEx(path, 1, 1); }

int CEXML::Load(LPCWSTR path) { return LoadEx(path, 0, 1); }

int CEXML::LoadEx(const void* source, int walk, int fromFile) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  FreeDocument();
  m_pDoc = new TiXmlDocument();
  std::string data;
  bool readable = false;
  bool fromUtf16 = false;
  if (fromFile) {
    LPCWSTR path = static_cast<LPCWSTR>(source);
    SetPath(path, 0);
    readable = path && ReadWholeFile(path, data);
  } else {
    const char* text = static_cast<const char*>(source);
    readable = text != nullptr;
    if (text) data = text;
  }
  bool parsed = false;
  int mode = m_nEncodingMode;
  UINT codePage = m_nCodePage;
  if (readable) {
    fromUtf16 = TranscodeUtf16(data);
    // The encoding is sniffed from the first 127 bytes; the parser is told
    // the same, so that character references become text of that encoding.
    char head[128];
    memset(head, 0, sizeof head);
    memcpy(head, data.data(), data.size() < 127 ? data.size() : 127);
    bool declared = false;
    if (fromUtf16) {
      mode = EXML_MODE_UTF8;
      codePage = CP_UTF8;
    } else {
      declared = SniffEncoding(head, mode, codePage);
    }
    bool bom = data.size() >= 3 && data.compare(0, 3, "\xEF\xBB\xBF") == 0;
    // The tree always holds UTF-8, whatever the file's own encoding: a
    // character reference then becomes its character even where the file's
    // code page lacks it. The file's bytes are turned into UTF-8 first: by
    // the declared code page, else, for undeclared text that is not UTF-8,
    // by the fallback page, or, where the text holds UTF-8 as well, by UTF-8
    // for its well-formed sequences and the fallback page for the bytes
    // between them. The file keeps its encoding when saved (mixed text is
    // saved as UTF-8).
    UINT fileCodePage = CP_UTF8;
    if (!fromUtf16 && !bom) {
      if (declared) fileCodePage = mode == EXML_MODE_UTF8 ? CP_UTF8 : codePage;
      if ((!declared || fileCodePage == CP_ACP) && !IsValidUtf8(data)) {
        if (HasUtf8Sequence(data)) {
          ReadMixedUtf8(data, kFallbackCodePage);
          fileCodePage = CP_UTF8;
        } else {
          fileCodePage = kFallbackCodePage;
        }
      }
      if (fileCodePage == CP_ACP) fileCodePage = CP_UTF8;
      // Text labelled Latin-1 is read as its Windows superset, as browsers
      // do: such feeds carry curly quotes and dashes in the bytes 128-159.
      // Text labelled ASCII is read the same way: its bytes beyond 127 are
      // Western characters far more often than anything else.
      if (fileCodePage == 28591 || fileCodePage == 20127) fileCodePage = 1252;
      if (!IsUtf8CodePage(fileCodePage)) TranscodeToUtf8(data, fileCodePage);
    }
    if (!fromUtf16 && IsUtf8CodePage(fileCodePage) && !IsValidUtf8(data)) ReplaceMalformedUtf8(data);
    codePage = fileCodePage;
    DeclaredEntities entities(data.size());
    DropInternalSubset(data, entities);
    PrepareReferences(data, entities);
    if (m_bKeepInlineSpace) ProtectInlineSpace(data);
    // With a byte-order mark the parser finds the encoding itself, and
    // remembers the mark for saving.
    TiXmlEncoding encoding = bom ? TIXML_ENCODING_UNKNOWN : TIXML_ENCODING_UTF8;
    if (NestingDepth(data) <= kMaxDepth) {
      NormaliseLineEnds(data);
      m_pDoc->SetTabSize(0);  // no row and column tracking: it costs a quarter of the parse
      LongTexts texts;
      std::string compact;
      bool whole = true;
      if (encoding == TIXML_ENCODING_UTF8 && TiXmlBase::IsWhiteSpaceCondensed() && g_longTextDecoding &&
          TakeLongTexts(data, compact, texts)) {
        m_pDoc->Parse(compact.c_str(), nullptr, encoding);
        whole = m_pDoc->Error() || !PutLongTexts(m_pDoc, texts);
        if (whole) {
          delete m_pDoc;
          ++m_nDocumentGeneration;
          m_pDoc = new TiXmlDocument();
          m_pDoc->SetTabSize(0);
        }
      }
      if (whole) m_pDoc->Parse(data.c_str(), nullptr, encoding);
      parsed = !m_pDoc->Error();
    }
  }
  if (!parsed) {
    // A file that is there but is no XML must survive whatever the caller
    // saves afterwards.
    if (fromFile && readable) m_bLoadFailed = true;
    WriteLog(m_szPath);
    WriteLog(u"CEXML: Cannot load XML.\n");
    return 0;
  }
  m_nEncodingMode = mode;
  m_nCodePage = codePage;
  if (fromUtf16) {
    // The text now is UTF-8, and is written back as UTF-8.
    TiXmlNode* first = m_pDoc->FirstChild();
    if (first && first->ToDeclaration()) {
      TiXmlDeclaration* old = first->ToDeclaration();
      TiXmlDeclaration decl(old->Version(), "UTF-8", old->Standalone());
      m_pDoc->ReplaceChild(first, decl);
    }
  }
  TiXmlElement* root = m_pDoc->FirstChildElement();
  if (!root) {
    if (fromFile) m_bLoadFailed = true;
    return 0;
  }
  if (!IsAcceptedDocument()) {
    if (fromFile) m_bLoadFailed = true;
    FreeDocument();
    WriteLog(m_szPath);
    WriteLog(u"CEXML: Cannot load XML.\n");
    return 0;
  }
  if (walk) Walk(nullptr, root);
  return 1;
}

void CEXML::Walk(TiXmlElement* parent, TiXmlElement* element) {
  if (!element) return;
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  VisitElement(parent, element);
  for (TiXmlElement* child = element->FirstChildElement(); child; child = child->NextSiblingElement())
    Walk(element, child);
}

std::string CEXML::UndeclaredTextToUtf8(const std::string& bytes) {
  std::string text(bytes);
  if (IsValidUtf8(text)) return text;
  if (HasUtf8Sequence(text)) ReadMixedUtf8(text, kFallbackCodePage);
  else TranscodeToUtf8(text, kFallbackCodePage);
  return text;
}

int CEXML::DecodeUtf8(const char* text, int index, int length, WCHAR* out, int* units) {
  if (units) *units = 0;
  if (!text || index < 0 || index >= length) return 0;
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text) + index;
  unsigned char b = s[0];
  int need;
  uint32_t cp;
  if (b < 0x80) {
    out[0] = WCHAR(b);
    if (units) *units = 1;
    return 1;
  } else if ((b & 0xE0) == 0xC0) {
    need = 2;
    cp = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    need = 3;
    cp = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    need = 4;
    cp = b & 0x07;
  } else if ((b & 0xFC) == 0xF8) {
    need = 5;
    cp = b & 0x03;
  } else if ((b & 0xFE) == 0xFC) {
    need = 6;
    cp = b & 0x01;
  } else {
    return 0;
  }
  if (index + need > length) return 0;
  for (int i = 1; i < need; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (s[i] & 0x3F);
  }
  if (cp < 0x10000) {
    out[0] = WCHAR(cp);
    if (units) *units = 1;
  } else if (cp <= 0x10FFFF) {
    cp -= 0x10000;
    out[0] = WCHAR(0xD800 + (cp >> 10));
    out[1] = WCHAR(0xDC00 + (cp & 0x3FF));
    if (units) *units = 2;
  } else {
    out[0] = 0xFFFD;  // beyond Unicode: a replacement character
    if (units) *units = 1;
  }
  return need;
}

int CEXML::EncodeUtf8(LPCWSTR units, int available, char* out, int* consumed) {
  uint32_t c = units[0];
  if (consumed) *consumed = 1;
  if (c < 0x80) {
    out[0] = char(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = char(0xC0 | (c >> 6));
    out[1] = char(0x80 | (c & 0x3F));
    return 2;
  }
  if (c >= 0xD800 && c <= 0xDBFF && available >= 2 && units[1] >= 0xDC00 && units[1] <= 0xDFFF) {
    uint32_t cp = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(units[1]) - 0xDC00);
    out[0] = char(0xF0 | (cp >> 18));
    out[1] = char(0x80 | ((cp >> 12) & 0x3F));
    out[2] = char(0x80 | ((cp >> 6) & 0x3F));
    out[3] = char(0x80 | (cp & 0x3F));
    if (consumed) *consumed = 2;
    return 4;
  }
  out[0] = char(0xE0 | (c >> 12));
  out[1] = char(0x80 | ((c >> 6) & 0x3F));
  out[2] = char(0x80 | (c & 0x3F));
  return 3;
}

LPCWSTR CEXML::FindFirstOf(LPCWSTR text, LPCWSTR set) {
  if (!text || !set || !*set) return nullptr;
  for (LPCWSTR p = text; *p; ++p) {
    for (LPCWSTR s = set; *s; ++s) {
      if (*p == *s) return p;
    }
  }
  return nullptr;
}

std::string CEXML::ToDocumentText(LPCWSTR text) const {
  std::string out;
  if (!text) return out;
  int len = int(wcslen(text));
  out.reserve(size_t(len));
  char buf[4];
  for (int i = 0; i < len;) {
    int used = 1;
    int n = EncodeUtf8(text + i, len - i, buf, &used);
    out.append(buf, size_t(n));
    i += used;
  }
  return out;
}

CString CEXML::NodeText(const char* text) const {
  CString result;
  if (!text || !*text) return result;
  int len = int(strlen(text));
  std::u16string& s = result.str();
  // A character never takes more units than it has bytes.
  s.resize(size_t(len));
  char16_t* w = s.data();
  WCHAR units[2];
  for (int i = 0; i < len;) {
    // Runs of ASCII (most of a feed's text) go eight bytes at a time.
    while (i + 8 <= len) {
      uint64_t block;
      memcpy(&block, text + i, sizeof block);
      if (block & 0x8080808080808080ULL) break;
      for (int k = 0; k < 8; ++k) w[k] = char16_t(static_cast<unsigned char>(text[i + k]));
      w += 8;
      i += 8;
    }
    if (i >= len) break;
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      *w++ = char16_t(text[i++]);
      continue;
    }
    int count = 0;
    int used = DecodeUtf8(text, i, len, units, &count);
    if (used == 0) break;
    for (int k = 0; k < count; ++k) *w++ = units[k];
    i += used;
  }
  s.resize(size_t(w - s.data()));
  return result;
}

int CEXML::GetElementText(const TiXmlElement* element, CString& name, CString& text) const {
  name.Empty();
  text.Empty();
  if (!element) return 1;
  name = NodeText(element->Value());
  const TiXmlNode* child = element->FirstChild();
  if (child && child->ToText()) {
    text = NodeText(child->Value());
    // White space kept around inline markup is no part of a plain value.
    if (!text.IsEmpty() && !static_cast<const TiXmlText*>(child)->CDATA()) text.Trim(u" \t\n\r");
  }
  return 1;
}

void CEXML::GetAttributes(const TiXmlElement* element, CString& list) const {
  list.Empty();
  if (!element) return;
  for (const TiXmlAttribute* a = element->FirstAttribute(); a; a = a->Next()) {
    list += NodeText(a->Name());
    list += u":";
    list += NodeText(a->Value());
    list += u"|";
  }
}

void CEXML::SplitName(const CString& item, CString& key, CString& value) {
  int colon = item.Find(u':');
  if (colon < 0) {
    key.Empty();
    value = item;
    return;
  }
  key = item.Left(colon);
  value = item.Mid(colon + 1);
}

CString CEXML::SplitNameTail(CString& list) {
  int bar = list.Find(u'|');
  if (bar < 0) return CString();
  CString head = list.Left(bar);
  list = list.Mid(bar + 1);
  return head;
}

BOOL CEXML::NameIs(const TiXmlElement* element, const char* name) {
  return element && EqualNoCase(element->Value(), name);
}

TiXmlElement* CEXML::FirstChildNoCase(TiXmlNode* node, const char* name) {
  if (!node) return nullptr;
  for (TiXmlElement* e = node->FirstChildElement(); e; e = e->NextSiblingElement()) {
    if (EqualNoCase(e->Value(), name)) return e;
  }
  return nullptr;
}

TiXmlElement* CEXML::NextSiblingNoCase(TiXmlElement* element, const char* name) {
  for (TiXmlElement* e = element ? element->NextSiblingElement() : nullptr; e; e = e->NextSiblingElement()) {
    if (EqualNoCase(e->Value(), name)) return e;
  }
  return nullptr;
}

BOOL CEXML::SaveDocument() {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  if (!m_pDoc || !m_szPath[0]) return FALSE;
  std::string target = qk::HostPath(m_szPath);
  std::error_code ec;
  if (m_bLoadFailed && std::filesystem::exists(target, ec)) {
    // Keep the file that could not be read: the user may still want it.
    bool kept = false;
    for (int i = 0; i < 10 && !kept; ++i) {
      std::string aside = target + (i ? ".bad" + std::to_string(i) : std::string(".bad"));
      if (std::filesystem::exists(aside, ec)) continue;
      kept = std::rename(target.c_str(), aside.c_str()) == 0;
    }
    if (!kept) return FALSE;
  }
  m_bLoadFailed = false;
  std::string temp = target + ".tmp~";
  bool ok;
  FILE* f;
  if (IsUtf8CodePage(m_nCodePage)) {
    f = fopen(temp.c_str(), "wb");
    if (!f) return FALSE;
    ok = m_pDoc->SaveFile(f);
  } else {
    // The tree is UTF-8; the file is written in its own code page.
    char* text = nullptr;
    size_t size = 0;
    FILE* mem = open_memstream(&text, &size);
    if (!mem) return FALSE;
    ok = m_pDoc->SaveFile(mem);
    ok = fclose(mem) == 0 && ok;
    std::string bytes = ok && text ? FromUtf8ToCodePage(std::string(text, size), m_nCodePage) : std::string();
    free(text);
    if (!ok) return FALSE;
    f = fopen(temp.c_str(), "wb");
    if (!f) return FALSE;
    ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  }
  ok = fflush(f) == 0 && ok;
  ok = fclose(f) == 0 && ok;
  if (!ok || std::rename(temp.c_str(), target.c_str()) != 0) {
    std::remove(temp.c_str());
    return FALSE;
  }
  return TRUE;
}
