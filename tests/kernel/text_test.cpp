// UTF-16 text functions, the platform's formatting rules and code pages.
#include <gtest/gtest.h>

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

}  // namespace
