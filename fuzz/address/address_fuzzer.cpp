// Feeds arbitrary text (UTF-8) to the parse of an address.
//
// Checks: the parse accepts exactly what InternetCrackUrlW accepts, and
// both split out the same parts; the parts written back give the text
// itself, which parses to the same parts; the comparison key is its own
// key, and the same with the scheme and the host in another case.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kernel/kernel.h"
#include "kernel/wstring.h"
#include "net/urlfuncs.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  fprintf(stderr, "address check failed: %s\n", what);
  abort();
}

bool SameParts(const InternetAddress& a, const InternetAddress& b) {
  return a.scheme == b.scheme && a.nScheme == b.nScheme && a.hasAuthority == b.hasAuthority &&
         a.hasUserInfo == b.hasUserInfo && a.user == b.user && a.hasPassword == b.hasPassword &&
         a.password == b.password && a.ipLiteral == b.ipLiteral && a.host == b.host && a.hasPort == b.hasPort &&
         a.portText == b.portText && a.port == b.port && a.path == b.path && a.extra == b.extra;
}

std::u16string_view Given(LPWSTR pointer, DWORD length) {
  return pointer ? std::u16string_view(pointer, length) : std::u16string_view();
}

char16_t Flip(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const std::u16string text = qk::FromUtf8(reinterpret_cast<const char*>(data), size);
  InternetAddress parts;
  const bool parsed = ParseInternetAddress(text, parts);

  // The splitter: pointers into the text for every part.
  URL_COMPONENTSW split = {};
  split.dwStructSize = sizeof split;
  split.dwSchemeLength = split.dwHostNameLength = split.dwUserNameLength = split.dwPasswordLength = 1;
  split.dwUrlPathLength = split.dwExtraInfoLength = 1;
  const bool cracked = !text.empty() && InternetCrackUrlW(text.c_str(), DWORD(text.size()), 0, &split) != FALSE;
  if (!text.empty() && cracked != parsed) Fail("the splitter and the parse disagree");
  if (cracked) {
    if (Given(split.lpszScheme, split.dwSchemeLength) != parts.scheme) Fail("scheme");
    if (Given(split.lpszHostName, split.dwHostNameLength) != parts.host) Fail("host");
    if (Given(split.lpszUserName, split.dwUserNameLength) != parts.user) Fail("user");
    if (Given(split.lpszPassword, split.dwPasswordLength) != parts.password) Fail("password");
    if (Given(split.lpszUrlPath, split.dwUrlPathLength) != parts.path) Fail("path");
    if (Given(split.lpszExtraInfo, split.dwExtraInfoLength) != parts.extra) Fail("extra information");
    if (split.nPort != parts.port || split.nScheme != parts.nScheme) Fail("port or scheme number");
  }

  const std::u16string key = InternetAddressKey(text);
  if (InternetAddressKey(key) != key) Fail("the key is not its own key");
  if (!parsed) {
    if (key != text) Fail("a text that does not parse is not its own key");
    return 0;
  }
  const std::u16string again = AssembleInternetAddress(parts);
  if (again != text) Fail("the parts written back differ from the text");
  InternetAddress reparsed;
  if (!ParseInternetAddress(again, reparsed) || !SameParts(parts, reparsed)) Fail("the parts written back parse otherwise");

  // The scheme and the host in the other case compare as the same feed.
  std::u16string flipped = text;
  const size_t schemeAt = static_cast<size_t>(parts.scheme.data() - text.data());
  const size_t hostAt = static_cast<size_t>(parts.host.data() - text.data());
  for (size_t i = 0; i < parts.scheme.size(); ++i) flipped[schemeAt + i] = Flip(flipped[schemeAt + i]);
  for (size_t i = 0; i < parts.host.size(); ++i) flipped[hostAt + i] = Flip(flipped[hostAt + i]);
  InternetAddress flippedParts;
  if (!ParseInternetAddress(flipped, flippedParts)) Fail("the address in another case does not parse");
  if (InternetAddressKey(flipped) != key) Fail("the key depends on the case of the scheme or the host");
  return 0;
}
