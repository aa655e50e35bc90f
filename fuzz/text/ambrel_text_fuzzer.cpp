// Feeds arbitrary bytes to Ambrel's text reader: DecodeTextBytes in memory
// and LoadTextFile over the same bytes as a file, with the code page the
// first byte chooses (as in codepage_fuzzer.cpp; 0xFF reads a charset
// label up to the next line feed).
//
// Checks: the text is well-formed UTF-16 with the length given; the file
// and the memory read alike; without a byte-order mark the text is what
// MultiByteToWideChar gives for the page; text marked as UTF-16 keeps one
// character per byte pair; well-formed UTF-8 with its mark reads back to
// the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../feeds/fuzz_device.h"
#include "ambrel/text_file.h"
#include "kernel/kernel.h"
#include "text_checks.h"

using fuzztext::Fail;

namespace {

std::vector<UINT> g_pages;
const char16_t kFile[] = u"\\script.txt";

std::u16string Take(WCHAR* text, int length) {
  std::u16string out = text ? std::u16string(text, size_t(length)) : std::u16string();
  free(text);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzdev::MakeDeviceRoot("ambrel-text");
  for (UINT cp = 0; cp < 65536; ++cp)
    if (IsValidCodePage(cp)) g_pages.push_back(cp);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  UINT cp = g_pages[data[0] % g_pages.size()];
  std::string label;
  size_t at = 1;
  if (!fuzztext::ReadCharsetLabel(data, size, &label, &at)) return 0;
  if (!label.empty()) {
    cp = qk::CodePageFromCharset(label.c_str());
    if (cp == 0) return 0;
  }
  const BYTE* bytes = data + at;
  const size_t n = size - at;

  WCHAR* text = reinterpret_cast<WCHAR*>(1);
  int length = -1, error = 0;
  if (!DecodeTextBytes(bytes, n, &text, &length, cp, &error)) Fail("DecodeTextBytes failed", cp);
  if (length < 0 || (length > 0 && !text)) Fail("DecodeTextBytes gave a length without text", cp);
  std::u16string decoded = Take(text, length);
  if (!fuzztext::IsWellFormedUtf16(decoded.data(), decoded.size())) Fail("DecodeTextBytes gave malformed UTF-16", cp);

  if (fuzzdev::WriteInput(kFile, bytes, n)) {
    WCHAR* fromFile = nullptr;
    int fileLength = 0;
    if (!LoadTextFile(kFile, &fromFile, &fileLength, cp, &error)) Fail("LoadTextFile failed on a readable file", cp);
    if (Take(fromFile, fileLength) != decoded) Fail("the file and the memory read differently", cp);
  }

  bool utf16 = n >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF));
  bool utf8 = !utf16 && n >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF;
  if (utf16 && decoded.size() != (n - 2) / 2) Fail("UTF-16 text lost or gained characters", cp);
  if (utf8 && fuzztext::IsWellFormedUtf8(bytes + 3, n - 3)) {
    std::string back = qk::ToUtf8(decoded);
    if (back != std::string(reinterpret_cast<const char*>(bytes + 3), n - 3)) Fail("well-formed UTF-8 changed", cp);
  }
  if (!utf16 && !utf8 && n > 0) {
    int count = MultiByteToWideChar(cp, 0, reinterpret_cast<const char*>(bytes), int(n), nullptr, 0);
    std::u16string expected(size_t(count > 0 ? count : 0), u'\0');
    if (count > 0) MultiByteToWideChar(cp, 0, reinterpret_cast<const char*>(bytes), int(n), expected.data(), count);
    if (expected != decoded) Fail("DecodeTextBytes differs from MultiByteToWideChar", cp);
  }
  return 0;
}
