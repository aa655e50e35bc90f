// The feed-search service's reply read into results, in-process: each value
// is one JSON string of the reply, and no NUL gets into a result.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quillet/new_channel/feed_search.h"

namespace {

struct Results {
  std::vector<std::u16string> urls;
  CMapStringToString titles;
};

Results Read(const std::u16string& reply) {
  Results r;
  CStringList urls;
  ReadFeedSearchReply(reply.c_str(), int(reply.size()), r.titles, urls);
  for (POSITION at = urls.GetHeadPosition(); at;) r.urls.push_back(urls.GetNext(at).str());
  return r;
}

std::u16string TitleOf(const Results& r, const std::u16string& url) {
  CString title;
  return r.titles.Lookup(CString(url.c_str()), title) ? title.str() : u"<none>";
}

// A value written as two strings is the last one, not both run together; a
// NUL, raw or escaped, is left out of a value rather than cutting it short.
TEST(FeedSearchReply, EachValueIsOneStringOfTheReplyWithoutNuls) {
  Results r = Read(u"{\"entries\":[{\"url\":\"http://a/\" \"http://b/x.xml\",\"title\":\"T\" \"B\",\"x\":1},"
                   u"{\"url\":\"http://c/\",\"title\":\"C\",\"link\":\"\"}]}");
  ASSERT_EQ(r.urls, (std::vector<std::u16string>{u"http://b/x.xml", u"http://c/"}));
  EXPECT_EQ(TitleOf(r, u"http://b/x.xml"), u"B");
  EXPECT_EQ(r.titles.GetCount(), 2);

  // Raw NULs, an escaped one and a backslash before a NUL.
  static const char16_t kNuls[] = u"[{\"url\":\"http://n/\0a\\u0000b\",\"title\":\"N\0\\\0ame\",\"x\":0}]";
  r = Read(std::u16string(kNuls, sizeof kNuls / sizeof kNuls[0] - 1));
  ASSERT_EQ(r.urls.size(), 1u);
  EXPECT_EQ(r.urls[0], u"http://n/ab");
  EXPECT_EQ(TitleOf(r, u"http://n/ab"), u"Name");
}

// A reply from whoever answers on the path: only its first part is read, a
// title of forty thousand tags comes cut to a line's worth of plain
// text, an address too long to be one gives no result, and whatever lies
// past the bound of the reply is not read at all.
TEST(FeedSearchReply, AnOversizedReplyIsReadOnlyUpToItsBounds) {
  std::u16string tags;
  for (int i = 0; i < 20000; ++i) tags += u"<b>ab</b><i>c</i>";
  std::u16string longUrl = u"http://l/" + std::u16string(FEED_SEARCH_MAX_VALUE + 10, u'x');
  std::u16string reply = u"{\"entries\":[{\"url\":\"http://t/\",\"title\":\"" + tags + u"\",\"x\":1},"
                         u"{\"url\":\"" + longUrl + u"\",\"title\":\"Long\",\"x\":1},"
                         u"{\"url\":\"http://u/\",\"title\":\"\U0001F600" + std::u16string(600, u'y') +
                         u"\",\"x\":1},{\"url\":\"http://s/\",\"title\":\"Short\",\"x\":1}";
  // Padding up to the bound, then a result past it.
  reply += u",{\"pad\":\"";
  reply += std::u16string(FEED_SEARCH_MAX_REPLY + 1000 - reply.size(), u'p');
  reply += u"\"},{\"url\":\"http://past/\",\"title\":\"Past\",\"x\":1}]}";
  Results r = Read(reply);
  ASSERT_EQ(r.urls, (std::vector<std::u16string>{u"http://t/", u"http://u/", u"http://s/"}));
  const std::u16string cut = TitleOf(r, u"http://t/");
  EXPECT_LE(cut.size(), size_t(FEED_SEARCH_MAX_TITLE));
  EXPECT_GE(cut.size(), size_t(FEED_SEARCH_MAX_TITLE) - 3);
  EXPECT_EQ(cut.substr(0, 9), u"abcabcabc");
  EXPECT_EQ(cut.find(u'<'), std::u16string::npos);
  // A cut keeps a character beyond U+FFFF whole.
  const std::u16string y = TitleOf(r, u"http://u/");
  EXPECT_EQ(y.size(), size_t(FEED_SEARCH_MAX_TITLE));
  EXPECT_EQ(y.substr(0, 3), u"\U0001F600y");
  EXPECT_EQ(TitleOf(r, u"http://s/"), u"Short");
}

}  // namespace
