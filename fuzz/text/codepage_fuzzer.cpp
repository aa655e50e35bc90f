// Feeds arbitrary bytes to the code-page layer and the conversions built on
// it: MultiByteToWideChar and WideCharToMultiByte over every code page the
// platform knows (chosen by number, or by a charset label as a feed declares
// it), ConvertToWide and ConvertToMultiByte into caller buffers, the HTML
// character references, and the feeds' LoadTextFile over the same bytes as
// a file.
//
// Input: the first byte chooses the code page from the known ones; 0xFF
// instead reads a charset label up to the next line feed. The rest is the
// text.
//
// Checks: the wide text is well-formed UTF-16; a count asked for first is
// the count converted; buffers filled by ConvertToWide/ConvertToMultiByte
// are terminated within their size; well-formed UTF-8 and well-formed UTF-16
// go through the UTF-8 pages and back unchanged, and every ASCII byte of
// UTF-8 input stays one ASCII character; on a single-byte page every
// character decoded encodes back to the same bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../feeds/fuzz_device.h"
#include "common/encoding.h"
#include "kernel/kernel.h"
#include "quillet/feeds/load_text.h"
#include "text_checks.h"

using fuzztext::Fail;

namespace {

struct Page {
  UINT number;
  bool utf8;
  bool singleByte;
};
std::vector<Page> g_pages;

const char16_t kFile[] = u"\\text.txt";

std::u16string Decode(UINT cp, const char* bytes, size_t n) {
  if (n == 0) return std::u16string();
  int count = MultiByteToWideChar(cp, 0, bytes, int(n), nullptr, 0);
  if (count <= 0) return std::u16string();
  std::u16string out(size_t(count), u'\0');
  int again = MultiByteToWideChar(cp, 0, bytes, int(n), out.data(), count);
  if (again != count) Fail("the count asked for is not the count converted", cp);
  // One unit less than needed never overruns the buffer: it fails.
  if (count > 1) {
    std::u16string small(size_t(count - 1), u'\0');
    if (MultiByteToWideChar(cp, 0, bytes, int(n), small.data(), count - 1) != 0) Fail("a short buffer was filled", cp);
  }
  return out;
}

std::string Encode(UINT cp, const char16_t* text, size_t n, BOOL* usedDefault) {
  if (usedDefault) *usedDefault = FALSE;
  if (n == 0) return std::string();
  int count = WideCharToMultiByte(cp, 0, text, int(n), nullptr, 0, nullptr, usedDefault);
  if (count <= 0) return std::string();
  std::string out(size_t(count), '\0');
  int again = WideCharToMultiByte(cp, 0, text, int(n), out.data(), count, nullptr, usedDefault);
  if (again != count) Fail("the byte count asked for is not the count converted", cp);
  return out;
}

void CheckWide(const std::u16string& w, UINT cp, const char* what) {
  if (!fuzztext::IsWellFormedUtf16(w.data(), w.size())) Fail(what, cp);
}

// ConvertToWide into a buffer of cap characters: terminated within it, and
// on a UTF-8 page the text that MultiByteToWideChar gives.
void CheckConvertToWide(const Page& page, const std::string& narrow, int cap) {
  std::vector<WCHAR> dst(size_t(cap) + 8, WCHAR(0xABCD));
  LPWSTR got = ConvertToWide(dst.data(), narrow.c_str(), cap, page.number);
  if (!got) {
    if (dst[0] != 0) Fail("ConvertToWide failed and left text", page.number);
    return;
  }
  size_t len = fuzztext::CheckTerminatedWithin(dst, size_t(cap), WCHAR(0xABCD), "ConvertToWide", page.number);
  std::u16string text(dst.data(), len);
  CheckWide(text, page.number, "ConvertToWide gave malformed UTF-16");
  if (page.utf8 && text != Decode(page.number, narrow.data(), narrow.size()))
    Fail("ConvertToWide differs from MultiByteToWideChar", page.number);
}

void CheckConvertToMultiByte(const Page& page, const std::u16string& wide, int cap) {
  std::vector<char> dst(size_t(cap) + 8, char(0x5A));
  LPSTR got = ConvertToMultiByte(dst.data(), wide.c_str(), cap, page.number);
  if (!got) {
    if (dst[0] != 0) Fail("ConvertToMultiByte failed and left text", page.number);
    return;
  }
  size_t len = fuzztext::CheckTerminatedWithin(dst, size_t(cap), char(0x5A), "ConvertToMultiByte", page.number);
  if (page.utf8 && !fuzztext::IsWellFormedUtf8(reinterpret_cast<const unsigned char*>(dst.data()), len))
    Fail("ConvertToMultiByte wrote malformed UTF-8", page.number);
}

void CheckEntities(const std::u16string& w) {
  CString in(w.data(), int(w.size()));
  CString decoded;
  DecodeHtmlEntities(decoded, in);
  CheckWide(decoded.str(), 0, "character references gave malformed UTF-16");
  CString plain(in);
  HtmlToPlainText(plain);
  CheckWide(plain.str(), 0, "plain text of HTML is malformed UTF-16");
  auto nuls = [](const std::u16string& s) { return std::count(s.begin(), s.end(), u'\0'); };
  if (nuls(decoded.str()) > nuls(w) || nuls(plain.str()) > nuls(w)) Fail("a reference or escape made a NUL", 0);
}

void CheckLoadTextFile(const Page& page, const uint8_t* data, size_t size, const std::u16string& decoded) {
  if (!fuzzdev::WriteInput(kFile, data, size)) return;
  WCHAR* text = nullptr;
  int length = 0, error = 0;
  if (!LoadTextFile(kFile, &text, &length, page.number, &error)) Fail("LoadTextFile failed on a readable file", page.number);
  std::u16string got = text ? std::u16string(text, size_t(length)) : std::u16string();
  free(text);
  CheckWide(got, page.number, "LoadTextFile gave malformed UTF-16");
  bool marked = (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) || (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) ||
                (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF);
  if (!marked && got != decoded) Fail("LoadTextFile differs from MultiByteToWideChar", page.number);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzdev::MakeDeviceRoot("text");
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(char(b));
  for (UINT cp = 0; cp < 65536; ++cp) {
    if (!IsValidCodePage(cp)) continue;
    Page page{cp, Decode(cp, "\xC3\xA9", 2) == u"\u00E9", false};
    // A page that gives one character per byte, and has no shift sequences:
    // the ISO-2022 pages and HZ give one character per byte for these 255
    // bytes in a row, but a shift sequence ("ESC ( B", "~{") gives none, so
    // a control character they decode need not encode back on its own.
    page.singleByte = !page.utf8 && Decode(cp, all.data(), all.size()).size() == all.size() &&
                      Decode(cp, "\x1B(B", 3).size() == 3 && Decode(cp, "~{~}", 4).size() == 4;
    g_pages.push_back(page);
  }
  if (g_pages.empty()) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Page page = g_pages[data[0] % g_pages.size()];
  std::string label;
  size_t at = 1;
  if (!fuzztext::ReadCharsetLabel(data, size, &label, &at)) return 0;
  if (!label.empty()) {
    UINT cp = qk::CodePageFromCharset(label.c_str());
    if (cp == 0) return 0;
    bool found = false;
    for (const Page& p : g_pages)
      if (p.number == cp) page = p, found = true;
    if (!found) Fail("a known charset label names no known code page", cp);
  }
  const uint8_t* body = data + at;
  const size_t n = size - at;
  const char* bytes = reinterpret_cast<const char*>(body);
  const UINT cp = page.number;

  // Bytes into wide text.
  std::u16string wide = Decode(cp, bytes, n);
  CheckWide(wide, cp, "MultiByteToWideChar gave malformed UTF-16");
  if (page.utf8) {
    if (fuzztext::CountAscii(wide.data(), wide.size()) != fuzztext::CountAscii(body, n))
      Fail("an ASCII byte was lost or made up by the UTF-8 decoder", cp);
    if (fuzztext::IsWellFormedUtf8(body, n) && Encode(cp, wide.data(), wide.size(), nullptr) != std::string(bytes, n))
      Fail("well-formed UTF-8 did not come back unchanged", cp);
  }
  if ((cp == 1200 || cp == 1201) && wide.size() != (n + 1) / 2)
    Fail("UTF-16 bytes lost or gained characters (a unit is two bytes)", cp);
  if (page.singleByte) {
    BOOL used = FALSE;
    std::string back = Encode(cp, wide.data(), wide.size(), &used);
    bool replaced = wide.find(u'\xFFFD') != std::u16string::npos;
    if (!replaced && used) Fail("a character the page decoded does not encode", cp);
    if (!used && Decode(cp, back.data(), back.size()) != wide) Fail("a single-byte round trip changed the text", cp);
  }

  // The same bytes as a terminated string into buffers.
  std::string narrow(bytes, strnlen(bytes, n));
  CheckConvertToWide(page, narrow, int(narrow.size()) * 2 + 4);
  CheckConvertToWide(page, narrow, 1 + int(n % 7));

  // The bytes read as UTF-16 units: out through the code page.
  std::u16string units(n / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) units[i] = char16_t(body[2 * i] | (body[2 * i + 1] << 8));
  std::u16string terminated = units.substr(0, units.find(u'\0'));
  CheckConvertToMultiByte(page, terminated, int(terminated.size()) * 4 + 4);
  CheckConvertToMultiByte(page, terminated, 1 + int(n % 5));
  if (page.utf8) {
    std::string out = Encode(cp, units.data(), units.size(), nullptr);
    if (!fuzztext::IsWellFormedUtf8(reinterpret_cast<const unsigned char*>(out.data()), out.size()))
      Fail("WideCharToMultiByte wrote malformed UTF-8", cp);
    if (fuzztext::IsWellFormedUtf16(units.data(), units.size()) && Decode(cp, out.data(), out.size()) != units)
      Fail("well-formed UTF-16 did not come back unchanged through UTF-8", cp);
  }

  if (fuzztext::IsWellFormedUtf16(wide.data(), wide.size())) CheckEntities(wide);
  CheckLoadTextFile(page, body, n, wide);
  return 0;
}
