// Feeds arbitrary bytes to the wizard's feed search as the service's reply:
// read as the search page reads the downloaded reply (LoadTextFile as
// UTF-8), then scanned by ReadFeedSearchReply.
//
// Checks: no crash and no hang; every URL returned is a non-empty string of
// the reply (a JSON string, its escapes read as the reader documents); the
// titles name only URLs returned, and every URL returned has a title.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "../feeds/fuzz_device.h"
#include "kernel/kernel.h"
#include "quillet/feeds/load_text.h"
#include "quillet/new_channel/feed_search.h"

namespace {

const char16_t kReply[] = u"\\Temp\\FeedSearch.txt";

[[noreturn]] void Fail(const char* what) {
  fprintf(stderr, "feed search check failed: %s\n", what);
  abort();
}

int Hex(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Every JSON string of the text, decoded: a backslash escapes the character
// after it (b f n r t for the controls, "u" with four hexadecimal digits for
// a unit; "u" without them stays as "\u"), a NUL is left out, and a string
// the text ends in counts as well.
std::set<std::u16string> Strings(const std::u16string& text) {
  std::set<std::u16string> found;
  size_t i = 0;
  while ((i = text.find(u'"', i)) != std::u16string::npos) {
    std::u16string s;
    ++i;
    for (; i < text.size() && text[i] != u'"'; ++i) {
      if (text[i] != u'\\') {
        if (text[i]) s += text[i];
        continue;
      }
      if (i + 1 >= text.size()) break;
      char16_t c = text[++i];
      if (c == u'u') {
        int value = 0, digits = 0;
        while (digits < 4 && i + 1 + digits < text.size() && Hex(text[i + 1 + digits]) >= 0)
          value = value * 16 + Hex(text[i + 1 + digits++]);
        if (digits < 4) {
          s += u"\\u";
          continue;
        }
        if (value) s += char16_t(value);
        i += 4;
        continue;
      }
      switch (c) {
        case u'b': s += u'\b'; break;
        case u'f': s += u'\f'; break;
        case u'n': s += u'\n'; break;
        case u'r': s += u'\r'; break;
        case u't': s += u'\t'; break;
        default: if (c) s += c; break;
      }
    }
    found.insert(s);
    ++i;  // past the closing quote
  }
  return found;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string root = fuzzdev::MakeDeviceRoot("search");
  std::filesystem::create_directories(root + "/Temp");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!fuzzdev::WriteInput(kReply, data, size)) return 0;
  WCHAR* text = nullptr;
  int length = 0;
  if (!LoadTextFile(kReply, &text, &length, CP_UTF8) || !text || length <= 0) {
    free(text);
    return 0;
  }
  std::u16string reply(text, size_t(length));
  CMapStringToString titles;
  CStringList urls;
  ReadFeedSearchReply(text, length, titles, urls);
  free(text);

  std::set<std::u16string> strings = Strings(reply);
  std::set<std::u16string> returned;
  for (POSITION at = urls.GetHeadPosition(); at;) {
    const CString& url = urls.GetNext(at);
    if (url.IsEmpty()) Fail("an empty URL was returned");
    if (!strings.count(url.str())) Fail("a URL returned is no string of the reply");
    CString title;
    if (!titles.Lookup(url, title)) Fail("a URL returned has no title");
    returned.insert(url.str());
  }
  for (POSITION at = titles.GetStartPosition(); at;) {
    CString key, value;
    titles.GetNextAssoc(at, key, value);
    if (!returned.count(key.str())) Fail("a title names a URL that was not returned");
  }
  return 0;
}
