// The framework string: the operations the program relies on, with the
// framework's edge behaviour (clamped ranges, -1 for not found).
#include <gtest/gtest.h>

#include "framework/afx.h"

namespace {

TEST(CStringOps, ExtractionClampsItsRanges) {
  CString s(u"Channels.opml");
  EXPECT_EQ(s.Left(8), u"Channels");
  EXPECT_EQ(s.Right(4), u"opml");
  EXPECT_EQ(s.Mid(9), u"opml");
  EXPECT_EQ(s.Mid(9, 100), u"opml");
  EXPECT_EQ(s.Mid(100), u"");
  EXPECT_EQ(s.Mid(-3, 2), u"Ch");
  EXPECT_EQ(s.Left(-1), u"");
  EXPECT_EQ(s.Right(100), s);
  EXPECT_EQ(s.SpanExcluding(u"."), u"Channels");
  EXPECT_EQ(CString(u"abc123").SpanIncluding(u"abc"), u"abc");
}

TEST(CStringOps, SearchesAnswerMinusOneWhenAbsent) {
  CString s(u"a\\b\\c.txt");
  EXPECT_EQ(s.Find(u'\\'), 1);
  EXPECT_EQ(s.Find(u'\\', 2), 3);
  EXPECT_EQ(s.Find(u"c.t"), 4);
  EXPECT_EQ(s.Find(u"zz"), -1);
  EXPECT_EQ(s.Find(u'a', 100), -1);
  EXPECT_EQ(s.ReverseFind(u'\\'), 3);
  EXPECT_EQ(s.ReverseFind(u'?'), -1);
  EXPECT_EQ(s.FindOneOf(u".\\"), 1);
  EXPECT_EQ(s.FindOneOf(u""), -1);
}

TEST(CStringOps, EditingInPlace) {
  CString s(u"  \t Hello, World \r\n");
  s.Trim();
  EXPECT_EQ(s, u"Hello, World");
  EXPECT_EQ(s.Replace(u"o", u"0"), 2);
  EXPECT_EQ(s, u"Hell0, W0rld");
  EXPECT_EQ(s.Replace(u'l', u'L'), 3);
  EXPECT_EQ(s.Remove(u'L'), 3);
  EXPECT_EQ(s, u"He0, W0rd");
  s.Insert(0, u">> ");
  s.Delete(3, 2);
  EXPECT_EQ(s, u">> 0, W0rd");
  s.MakeUpper();
  EXPECT_EQ(s, u">> 0, W0RD");
  EXPECT_EQ(CString(u"xxabcxx").Trim(u'x'), u"abc");
  EXPECT_EQ(CString(u"--a--").TrimLeft(u"-"), u"a--");
  CString r(u"aaa");
  EXPECT_EQ(r.Replace(u"a", u"aa"), 3);  // replacements are not searched again
  EXPECT_EQ(r, u"aaaaaa");
}

TEST(CStringOps, TokenizeWalksTheTokens) {
  CString s(u";a;;b;c");
  int pos = 0;
  std::vector<CString> tokens;
  for (CString t = s.Tokenize(u";", pos); pos != -1; t = s.Tokenize(u";", pos)) tokens.push_back(t);
  ASSERT_EQ(tokens.size(), 3u);
  EXPECT_EQ(tokens[2], u"c");
}

TEST(CStringOps, FormatAndConversions) {
  CString s;
  s.Format(u"%s=%d (%S)", u"count", 42, "utf-8 \xC3\xA9");
  EXPECT_EQ(s, u"count=42 (utf-8 é)");
  s.AppendFormat(u"[%03d]", 7);
  EXPECT_EQ(s.Right(5), u"[007]");
  CString narrow("caf\xC3\xA9");
  EXPECT_EQ(narrow, u"café");
  EXPECT_EQ(CStringA(narrow).str(), "caf\xC3\xA9");
  EXPECT_EQ(CString(u'-', 3), u"---");
  EXPECT_EQ(CString(u"abc", 2), u"ab");
  EXPECT_TRUE(CString(u"ABC").CompareNoCase(u"abc") == 0);
  EXPECT_LT(CString(u"a").Compare(u"b"), 0);
  EXPECT_EQ(u"x" + CString(u"y") + u'z', u"xyz");
}

TEST(CStringOps, BuffersTakeTheirLengthOnRelease) {
  CString s(u"abc");
  LPWSTR p = s.GetBuffer(10);
  wcscpy(p, u"0123456789");
  s.ReleaseBuffer();
  EXPECT_EQ(s.GetLength(), 10);
  p = s.GetBuffer(0);
  p[2] = 0;
  s.ReleaseBuffer();
  EXPECT_EQ(s, u"01");
  p = s.GetBuffer(5);
  s.ReleaseBuffer(1);
  EXPECT_EQ(s, u"0");
  p = s.GetBufferSetLength(4);
  p[1] = u'x';
  p[2] = u'y';
  p[3] = u'z';
  s.ReleaseBuffer(4);
  EXPECT_EQ(s, u"0xyz");
}

}  // namespace
