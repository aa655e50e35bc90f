// The feed-search service's reply read into results, in-process: each value
// is one JSON string of the reply, and no NUL gets into a result.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quillet/screens/feed_search.h"

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

}  // namespace
