// Code-page conversion into buffers, UTF-8 of one character, form encoding,
// character references, HTML to plain text and the growable buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <cstring>

#include "common/encoding.h"

namespace {

CString Decode(const char16_t* in) {
  CString out;
  return DecodeHtmlEntities(out, CString(in));
}

TEST(Entities, NamedReferencesDecodeOneLevel) {
  EXPECT_EQ(Decode(u"&amp;amp;"), u"&amp;");
  EXPECT_EQ(Decode(u"&amp;lt;"), u"&lt;");
  EXPECT_EQ(Decode(u"caf&eacute; &euro;5 &nbsp;"), u"café €5 \u00A0");
  EXPECT_EQ(Decode(u"&Agrave;&agrave;"), u"Àà");
  EXPECT_EQ(Decode(u"&AGRAVE;"), u"&AGRAVE;");  // names compare with case
  EXPECT_EQ(Decode(u"&eacute tail"), u"é tail");  // ended by a space, which stays
  EXPECT_EQ(Decode(u"&eacute\tx&eacute\nx"), u"é\txé\nx");
  EXPECT_EQ(Decode(u"end &eacute"), u"end &eacute");  // no terminator at all
  EXPECT_EQ(Decode(u"&unknown; &; & ;"), u"&unknown; &; & ;");
  EXPECT_EQ(Decode(u"&abcdefghijklmnop;"), u"&abcdefghijklmnop;");
  EXPECT_EQ(Decode(u"a && b &lt;&gt;&quot;"), u"a && b <>\"");
}

TEST(Entities, NumericReferences) {
  EXPECT_EQ(Decode(u"&#233;|&#xE9;|&#xe9;"), u"é|é|é");
  EXPECT_EQ(Decode(u"&#XE9;"), u"&#XE9;");  // capital X is read as decimal and fails
  EXPECT_EQ(Decode(u"&#;&#x;&#abc;"), u"&#;&#x;&#abc;");
  EXPECT_EQ(Decode(u"&#65abc;"), u"A");  // digits then text, as "%d" reads it
  // Beyond U+FFFF: a surrogate pair.
  EXPECT_EQ(Decode(u"&#128512;&#x1F600;"), u"\U0001F600\U0001F600");
  // Zero, lone surrogates, negative and beyond U+10FFFF stay as text.
  EXPECT_EQ(Decode(u"&#0;&#xD800;&#57343;&#-5;&#x110000;&#99999999999;"),
            u"&#0;&#xD800;&#57343;&#-5;&#x110000;&#99999999999;");
}

TEST(PlainText, TagsEscapesAndReferences) {
  CString s(u"<b>x</b> &lt;");
  HtmlToPlainText(s);
  EXPECT_EQ(s, u"x <");
  s = u"\\u0041\\u00e9!";
  HtmlToPlainText(s);
  EXPECT_EQ(s, u"Aé!");
  // Tags that follow one another all go.
  s = u"<b><i>News</i></b>";
  HtmlToPlainText(s);
  EXPECT_EQ(s, u"News");
  s = u"a<br><br>b<br/><p><br></p>";
  HtmlToPlainText(s);
  EXPECT_EQ(s, u"ab");
  // A "<" without a later ">" stays, with the text after it.
  s = u"<b>x</b><<i>y</i> < z";
  HtmlToPlainText(s);
  EXPECT_EQ(s, u"xy < z");
  // Tags written as escapes go too; a reference to "<" is text.
  s = u"\\u003cb\\u003e\\u003ci\\u003eBold\\u003c/i\\u003e&lt;b&gt;";
  HtmlToPlainText(s);
  EXPECT_EQ(s, u"Bold<b>");
  s = u"a < b";
  HtmlToPlainText(s);
  EXPECT_EQ(s, u"a < b");
  s = u"end\\u41";
  HtmlToPlainText(s);
  EXPECT_EQ(s, u"endA");
  s = u"\\uzzzz";
  HtmlToPlainText(s);
  EXPECT_EQ(s, u"\\uzzzz");
  // An escape of code 0 would end the text for every reader: it stays.
  s = u"a\\u0000b\\u00";
  HtmlToPlainText(s);
  EXPECT_EQ(s, u"a\\u0000b\\u00");
}

// An escape takes only the hexadecimal digits it has, and a surrogate
// counts only with its partner: the text after an escape is never eaten,
// and no surrogate is left without its partner.
TEST(PlainText, EscapesTakeOnlyTheirDigitsAndSurrogatesOnlyInPairs) {
  CString s(u"\\u41xyz|\\u1ab\U0001F600|\\u00e9 x");
  HtmlToPlainText(s);
  EXPECT_EQ(s, u"Axyz|\u01AB\U0001F600|\u00E9 x");
  s = u"\\uD83D\\uDE00|\\uD83D|\\uDE00|\\uD83Dz\\uDE00|\\uD83D\\u0041";
  HtmlToPlainText(s);
  EXPECT_EQ(s, u"\U0001F600|\\uD83D|\\uDE00|\\uD83Dz\\uDE00|\\uD83DA");
}

// A long fetched text takes time in proportion to its length: each tag,
// escape and reference is handled once, not by moving all the text behind
// it. The old way took many seconds for these 200,000 tags (and as long
// again for the escapes and the references); the bound is far above what
// one pass takes even under the sanitizers on a loaded machine.
TEST(PlainText, AFetchedTextOfManyTagsEscapesAndReferencesTakesOnePass) {
  std::u16string big, expected;
  for (int i = 0; i < 200000; ++i) {
    big += u"<b>x</b>\\u0041&amp;&#233;<br><br>";
    expected += u"xA&\u00E9";
  }
  CString s(big.c_str());
  const auto start = std::chrono::steady_clock::now();
  HtmlToPlainText(s);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(s.str() == expected) << "length " << s.GetLength();
  EXPECT_LT(seconds, 5.0);

  // Ampersands without any end to their name, and a "<" before a long text
  // without any ">", are passed over once each.
  std::u16string amps(400000, u'&');
  amps += u"&eacute;";
  CString a(amps.c_str());
  const auto second = std::chrono::steady_clock::now();
  HtmlToPlainText(a);
  std::u16string opens(400000, u'<');
  CString o(opens.c_str());
  HtmlToPlainText(o);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - second).count(), 5.0);
  EXPECT_EQ(a.GetLength(), 400001);
  EXPECT_EQ(a[400000], u'\u00E9');
  EXPECT_TRUE(o.str() == opens);
}

// A terminated text keeps its terminator on every code page, even one that
// would join it to the last character.
TEST(Conversions, EveryPageKeepsTheTerminator) {
  WCHAR wide[8];
  std::fill(wide, wide + 8, u'x');
  EXPECT_EQ(ConvertToWide(wide, "~{A", 8, 52936), wide);
  EXPECT_EQ(CString(wide).GetLength(), 1);
  std::fill(wide, wide + 8, u'x');
  EXPECT_EQ(ConvertToWide(wide, "A", 8, 1200), wide);
  EXPECT_EQ(CString(wide), u"\uFFFD");
}

TEST(FormEncoding, LettersDigitsSpacesAndBytes) {
  CString out;
  EXPECT_EQ(FormUrlEncode(out, CString(u"a b\tc")), u"a+b+c");
  EXPECT_EQ(FormUrlEncode(out, CString(u"é~-_.")), u"%C3%A9%7E%2D%5F%2E");
  EXPECT_EQ(FormUrlEncode(out, CString(u"x/y?z=1&w")), u"x%2Fy%3Fz%3D1%26w");
  // A character beyond U+FFFF is one 4-byte sequence.
  EXPECT_EQ(FormUrlEncode(out, CString(u"\U0001F600")), u"%F0%9F%98%80");
  EXPECT_EQ(FormUrlEncode(out, CString(u"")), u"");
}

TEST(Utf8Char, ByteCountsAndLeadBytes) {
  BYTE b[6];
  EXPECT_EQ(EncodeUtf8Char(b, 0), -1);
  EXPECT_EQ(EncodeUtf8Char(b, 'A'), 1);
  EXPECT_EQ(b[0], 'A');
  EXPECT_EQ(EncodeUtf8Char(b, 0xE9), 2);
  EXPECT_EQ(b[0], 0xC3);
  EXPECT_EQ(b[1], 0xA9);
  EXPECT_EQ(EncodeUtf8Char(b, 0x20AC), 3);
  EXPECT_EQ(b[0], 0xE2);
  EXPECT_EQ(EncodeUtf8Char(b, 0x1F600), 4);
  EXPECT_EQ(b[0], 0xF0);
  EXPECT_EQ(b[3], 0x80);
  EXPECT_EQ(EncodeUtf8Char(b, 0x1FFFFF), 4);
}

TEST(Conversions, IntoCallerBuffers) {
  WCHAR wide[8];
  char narrow[8];
  EXPECT_EQ(ConvertToWide(wide, "abc", 8, CP_UTF8), wide);
  EXPECT_EQ(CString(wide), u"abc");
  EXPECT_EQ(ConvertToWide(nullptr, "abc", 8, CP_UTF8), nullptr);
  EXPECT_EQ(ConvertToWide(wide, nullptr, 8, CP_UTF8), nullptr);
  // Too long for the buffer: null and an empty destination, never an overrun.
  wide[0] = u'x';
  EXPECT_EQ(ConvertToWide(wide, "abcdefghijk", 8, CP_UTF8), nullptr);
  EXPECT_EQ(wide[0], 0);
  EXPECT_EQ(ConvertToMultiByte(narrow, u"é", 8, CP_ACP), narrow);
  EXPECT_STREQ(narrow, "\xC3\xA9");
  EXPECT_EQ(ConvertToMultiByte(narrow, u"1234567890", 8, CP_ACP), nullptr);
  EXPECT_EQ(narrow[0], 0);
  EXPECT_EQ(ConvertToMultiByte(narrow, u"П", 8, 1251), narrow);
  EXPECT_STREQ(narrow, "\xCF");
}

TEST(WideBuffer, GrowsByTheRuleAndHoldsLongTexts) {
  CWideBuffer buffer;
  EXPECT_EQ(buffer.GetCapacity(), 64u);
  EXPECT_EQ(CString(buffer.GetText()), u"");
  std::u16string sixty(60, u'a');
  buffer.Assign(sixty.c_str());
  EXPECT_EQ(buffer.GetCapacity(), 64u);
  buffer.Append(u"b");
  EXPECT_EQ(buffer.GetCapacity(), 125u);
  EXPECT_EQ(buffer.GetLength(), 61u);
  EXPECT_EQ(CString(buffer.GetText()), CString((sixty + u"b").c_str()));
  // Far beyond 65535 characters: counts do not wrap.
  std::u16string big(70000, u'z');
  buffer.Append(big.c_str());
  buffer.Append(big.c_str());
  EXPECT_EQ(buffer.GetLength(), 140061u);
  EXPECT_EQ(buffer.GetText()[140060], u'z');
  EXPECT_EQ(buffer.GetText()[140061], 0);
  buffer.Assign(big.c_str());
  EXPECT_EQ(buffer.GetLength(), 70000u);
  buffer.Assign(u"");
  EXPECT_EQ(buffer.GetLength(), 0u);
}

}  // namespace
