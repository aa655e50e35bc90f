// UTF-16 text functions, the platform's formatting rules and code pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "kernel/kernel.h"

namespace {

TEST(WideFormat, FollowsThePlatformMeaningOfConversions) {
  EXPECT_EQ(qk::Format(u"%s|%S|%c|%C", u"wide", "narrow", u'W', 'n'), u"wide|narrow|W|n");
  EXPECT_EQ(qk::Format(u"%hs|%ls", "h", u"l"), u"h|l");
  EXPECT_EQ(qk::Format(u"[%5s][%-5s][%.2s]", u"ab", u"ab", u"abcd"), u"[   ab][ab   ][ab]");
  EXPECT_EQ(qk::Format(u"%03d %x %X %08lx %u", 7, 255, 255, 0xBEEFul, 4000000000u), u"007 ff FF 0000beef 4000000000");
  EXPECT_EQ(qk::Format(u"%I64d %lld %d%%", (long long)-9000000000LL, 123456789012LL, 5), u"-9000000000 123456789012 5%");
  EXPECT_EQ(qk::Format(u"%*d|%-*d|", 4, 1, 3, 2), u"   1|2  |");
  EXPECT_EQ(qk::Format(u"%.2f %g", 3.14159, 0.5), u"3.14 0.5");
  EXPECT_EQ(qk::Format(u"%s", (const char16_t*)nullptr), u"(null)");
  // Non-ASCII narrow text is UTF-8.
  EXPECT_EQ(qk::Format(u"%S", "\xC3\xA9\xF0\x9F\x98\x80"), std::u16string(u"\u00E9") + u"\U0001F600");
}

TEST(WideFormat, SwprintfCutsAndSaysSo) {
  char16_t buf[6];
  EXPECT_EQ(swprintf(buf, 6, u"%s", u"abc"), 3);
  EXPECT_EQ(std::u16string(buf), u"abc");
  EXPECT_EQ(swprintf(buf, 6, u"%s", u"abcdefgh"), -1);
  EXPECT_EQ(std::u16string(buf), u"abcde");
}

TEST(WideText, ComparisonsAndSearches) {
  EXPECT_EQ(_wcsicmp(u"Channels.OPML", u"channels.opml"), 0);
  EXPECT_EQ(_wcsicmp(u"ÉCOLE", u"école"), 0);
  EXPECT_EQ(_wcsicmp(u"ПРИВЕТ", u"привет"), 0);
  EXPECT_LT(_wcsicmp(u"a", u"B"), 0);
  EXPECT_EQ(_wcsnicmp(u"HTTP://x", u"http://y", 7), 0);
  const char16_t* s = u"a/b/c";
  EXPECT_EQ(wcsrchr(s, u'/'), s + 3);
  EXPECT_EQ(wcsstr(s, u"b/"), s + 2);
  EXPECT_EQ(wcsstr(s, u"z"), nullptr);
  EXPECT_EQ(wcscspn(s, u"/"), 1u);
  EXPECT_EQ(_wtoi(u"  -42abc"), -42);
  EXPECT_EQ(wcstoul(u"ff", nullptr, 16), 255ul);
  int a = 0, b = 0;
  EXPECT_EQ(swscanf(u"12 x34", u"%d x%x", &a, &b), 2);
  EXPECT_EQ(a, 12);
  EXPECT_EQ(b, 0x34);
}

TEST(CodePages, Utf8AndTheDefaultPageLoseNothing) {
  const char16_t text[] = u"Zürich \U0001F600 日本";
  for (UINT cp : {UINT(CP_ACP), UINT(CP_UTF8)}) {
    int bytes = WideCharToMultiByte(cp, 0, text, -1, nullptr, 0, nullptr, nullptr);
    ASSERT_GT(bytes, 0);
    std::string narrow(size_t(bytes), '\0');
    ASSERT_EQ(WideCharToMultiByte(cp, 0, text, -1, narrow.data(), bytes, nullptr, nullptr), bytes);
    EXPECT_EQ(narrow.back(), '\0');  // -1 converts the terminator too
    EXPECT_EQ(narrow.substr(8, 4), "\xF0\x9F\x98\x80");
    char16_t back[64];
    int units = MultiByteToWideChar(cp, 0, narrow.c_str(), -1, back, 64);
    EXPECT_EQ(units, int(std::char_traits<char16_t>::length(text)) + 1);
    EXPECT_EQ(std::u16string(back), std::u16string(text));
  }
}

TEST(CodePages, OtherPagesGoThroughIconv) {
  char16_t out[16];
  ASSERT_EQ(MultiByteToWideChar(1251, 0, "\xcf\xf0\xe8", 3, out, 16), 3);
  EXPECT_EQ(std::u16string(out, 3), u"При");
  ASSERT_EQ(MultiByteToWideChar(28591, 0, "caf\xe9", -1, out, 16), 5);
  EXPECT_EQ(std::u16string(out), u"café");
  char narrow[16];
  BOOL usedDefault = FALSE;
  int n = WideCharToMultiByte(28591, 0, u"a\u20ACb", 3, narrow, 16, nullptr, &usedDefault);
  EXPECT_EQ(std::string(narrow, size_t(n)), "a?b");
  EXPECT_TRUE(usedDefault);
  EXPECT_EQ(qk::CodePageFromCharset("Windows-1251"), 1251u);
  EXPECT_EQ(qk::CodePageFromCharset("ISO-8859-1"), 28591u);
  EXPECT_EQ(qk::CodePageFromCharset("x-unknown"), 0u);
  EXPECT_EQ(MultiByteToWideChar(12345, 0, "a", 1, out, 16), 0);
}

TEST(CodePages, TooSmallBuffersFailAndSizeQueriesAnswer) {
  char16_t out[2];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, out, 2), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, out, 2), 0);
}

// What comes out of a conversion is well-formed: bytes that are no UTF-8
// read as U+FFFD without taking the characters after them along, a
// surrogate without its partner becomes U+FFFD both ways, a terminated
// text keeps its terminator on every page, and characters that
// windows-1252 reads from a byte write back as that byte.
TEST(CodePages, MalformedInputGivesWellFormedOutputAndLosesNothingElse) {
  auto wide = [](UINT cp, const std::string& bytes) {
    char16_t out[64] = {};
    int n = MultiByteToWideChar(cp, 0, bytes.data(), int(bytes.size()), out, 64);
    return std::u16string(out, size_t(n > 0 ? n : 0));
  };
  // A sequence cut short, then ASCII: the ASCII stays.
  EXPECT_EQ(wide(CP_UTF8, "\xC7\x05\xE7?"), u"\uFFFD\x05\uFFFD?");
  EXPECT_EQ(wide(CP_UTF8, "a\xF0" "bc"), u"a\uFFFDbc");
  EXPECT_EQ(wide(CP_UTF8, "a\xE2\x82"), u"a\uFFFD");
  // Overlong forms are no characters: no NUL, no "<" hidden in them.
  EXPECT_EQ(wide(CP_UTF8, "\xC0\x80x\xC0\xBC\xE0\x80\xBC"), u"\uFFFDx\uFFFD\uFFFD");
  // An encoded surrogate on its own; an encoded pair stays the pair.
  EXPECT_EQ(wide(CP_ACP, "a\xED\xA0\x80z"), u"a\uFFFDz");
  EXPECT_EQ(wide(CP_UTF8, "\xED\xA0\xBD\xED\xB8\x80"), u"\U0001F600");
  // UTF-16 bytes that do not convert are skipped a whole unit at a time.
  EXPECT_EQ(wide(1200, std::string("\x00\xDE" "A\x00" "B\x00", 6)), u"\uFFFDAB");
  EXPECT_EQ(wide(1201, std::string("\xDC\x00\x00" "A\x00", 5)), u"\uFFFDA\uFFFD");

  char narrow[32] = {};
  const char16_t lone[] = {u'a', 0xD83D, u'b', 0xDE00, 0};
  int n = WideCharToMultiByte(CP_UTF8, 0, lone, -1, narrow, sizeof narrow, nullptr, nullptr);
  EXPECT_EQ(std::string(narrow, size_t(n > 0 ? n : 0)), std::string("a\xEF\xBF\xBD" "b\xEF\xBF\xBD", 9));

  // -1 keeps the terminator, even where the page would join it to the text.
  char16_t out[8];
  std::fill(out, out + 8, u'x');
  ASSERT_GT(MultiByteToWideChar(52936, 0, "~{A", -1, out, 8), 0);
  EXPECT_EQ(std::u16string(out).size(), 1u);
  std::fill(out, out + 8, u'x');
  ASSERT_EQ(MultiByteToWideChar(1200, 0, "A", -1, out, 8), 2);
  EXPECT_EQ(std::u16string(out), u"\uFFFD");

  // windows-1252 both ways for every byte.
  for (int b = 1; b < 256; ++b) {
    const char byte = char(b);
    char16_t c = 0;
    ASSERT_EQ(MultiByteToWideChar(1252, 0, &byte, 1, &c, 1), 1);
    char back = 0;
    BOOL used = TRUE;
    ASSERT_EQ(WideCharToMultiByte(1252, 0, &c, 1, &back, 1, nullptr, &used), 1) << b;
    EXPECT_EQ(back, byte) << b;
    EXPECT_FALSE(used) << b;
  }
  BOOL used = FALSE;
  n = WideCharToMultiByte(1252, 0, u"\u20AC\u4E2D\U0001F600", 4, narrow, sizeof narrow, nullptr, &used);
  EXPECT_EQ(std::string(narrow, size_t(n)), "\x80??");
  EXPECT_TRUE(used);
}

}  // namespace
