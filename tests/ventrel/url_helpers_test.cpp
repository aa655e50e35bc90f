// The URL helpers of the HTTP client.
#include <gtest/gtest.h>

#include "ventrel/urlhelpers.h"

namespace {

TEST(UrlEncode, EscapesExactlyTheUnsafeUnits) {
  EXPECT_EQ(UrlEncode(u"a b/c"), CString(u"a%20b%2Fc"));
  EXPECT_EQ(UrlEncode(u"keep-._'()*"), CString(u"keep-._'()*"));
  EXPECT_EQ(UrlEncode(u"user/-/state/com.google/kept-unread"),
            CString(u"user%2F-%2Fstate%2Fcom.google%2Fkept-unread"));
  EXPECT_EQ(UrlEncode(u"&+,:;=?@[]^`{|}~!\"#$%"),
            CString(u"%26%2B%2C%3A%3B%3D%3F%40%5B%5D%5E%60%7B%7C%7D%7E%21%22%23%24%25"));
  // Latin-1 units are escaped by their value; units above 255 and DEL pass.
  EXPECT_EQ(UrlEncode(u"\u00e9\u0101\u007f"), CString(u"%E9\u0101\u007f"));
  EXPECT_EQ(UrlEncode(CString(u"\n")), CString(u"%0A"));
}

TEST(CrackUrl, KindsHostsPortsAndPaths) {
  struct {
    const char16_t* url;
    int kind;
    const char16_t* host;
    int port;
    const char16_t* path;
  } cases[] = {
      {u"http://Example.com", SERVICE_HTTP, u"example.com", 80, u"/"},
      {u"https://h:8443/a/../b?x=1", SERVICE_HTTPS, u"h", 8443, u"/b?x=1"},
      {u"ftp://f/x", SERVICE_FTP, u"f", 21, u"/x"},
      {u"gopher://g/", SERVICE_FTP, u"g", 70, u"/"},
      {u"file:///tmp/x", SERVICE_FILE, u"", 0, u"/tmp/x"},
      {u"news:comp.lang", SERVICE_NEWS, u"", 0, u"comp.lang"},
      {u"mailto:a@b", SERVICE_MAILTO, u"", 0, u"a@b"},
      {u"foo://h/p", SERVICE_UNKNOWN, u"h", 0, u"/p"},
  };
  for (const auto& c : cases) {
    int kind;
    CString host, path;
    WORD port;
    ASSERT_TRUE(CrackUrl(c.url, kind, host, path, port));
    EXPECT_EQ(kind, c.kind);
    EXPECT_EQ(host, CString(c.host));
    EXPECT_EQ(int(port), c.port);
    EXPECT_EQ(path, CString(c.path));
  }
  int kind = 7;
  CString host, path;
  WORD port;
  EXPECT_FALSE(CrackUrl(u"/relative", kind, host, path, port));
  EXPECT_EQ(kind, SERVICE_UNKNOWN);
}

TEST(CrackUrl, LongUrlsUseTheLargerBufferButLongPartsFail) {
  int kind;
  CString host, path;
  WORD port;
  CString longQuery = CString(u"http://h/p?") + CString(u'q', 1500);
  ASSERT_TRUE(CrackUrl(longQuery, kind, host, path, port));
  EXPECT_EQ(path.GetLength(), 1503);
  CString tooLong = CString(u"http://h/p?") + CString(u'q', 3000);
  EXPECT_FALSE(CrackUrl(tooLong, kind, host, path, port));
  EXPECT_EQ(kind, SERVICE_UNKNOWN);
}

TEST(MakeAbsoluteUrl, ResolvesAgainstHostAndFolder) {
  EXPECT_EQ(MakeAbsoluteUrl(u"HTTPS://x/y", u"h", u"/f/"), CString(u"HTTPS://x/y"));
  EXPECT_EQ(MakeAbsoluteUrl(u"file://x", u"h", u"/f/"), CString(u"file://x"));
  EXPECT_EQ(MakeAbsoluteUrl(u"/abs.png", u"h", u"/f/"), CString(u"http://h/abs.png"));
  EXPECT_EQ(MakeAbsoluteUrl(u"rel.png", u"h", u"/f/"), CString(u"http://h/f/rel.png"));
}

TEST(MakeOfflineUrl, UsesForwardSlashes) {
  EXPECT_EQ(MakeOfflineUrl(u"\\Quillet\\ChannelData", u"Ch001.html"),
            CString(u"file://localhost/Quillet/ChannelData/Ch001.html"));
  EXPECT_EQ(MakeOfflineUrl(u"\\a\\b.html"), CString(u"file://localhost/a/b.html"));
}

TEST(UrlParts, HostFolderAndFileName) {
  EXPECT_EQ(LowerCaseUrlHost(u"http://WWW.Example.COM/Path/File"), CString(u"http://www.example.com/Path/File"));
  EXPECT_EQ(LowerCaseUrlHost(u"no scheme HERE"), CString(u"no scheme HERE"));
  EXPECT_EQ(GetUrlFolder(u"http://h/a/b.html?x=/y"), CString(u"http://h/a/"));
  EXPECT_EQ(GetUrlFileName(u"http://h/a/b.html?x=/y"), CString(u"b.html"));
}

TEST(UrlToFileName, BuildsSafeRelativeNames) {
  EXPECT_EQ(UrlToFileName(u"http://example.com", FALSE), CString(u"example.com\\index.html"));
  EXPECT_EQ(UrlToFileName(u"http://example.com", TRUE), CString(u"example.com\\index.html"));
  EXPECT_EQ(UrlToFileName(u"http://h/a/b/page.php?id=1,2&x=/y", TRUE), CString(u"h\\a\\b\\page_id1_2xy.html"));
  EXPECT_NE(UrlToFileName(u"http://h/p?id=1", FALSE), UrlToFileName(u"http://h/p?id=2", FALSE));
  EXPECT_EQ(UrlToFileName(u"http://h/a/pic.JPG#frag", FALSE), CString(u"h\\a\\pic.JPG"));
  EXPECT_EQ(UrlToFileName(u"http://h/a/doc.HTM", TRUE), CString(u"h\\a\\doc.HTM"));
  EXPECT_EQ(UrlToFileName(u"file:///x/y.html", FALSE), CString(u"\\x\\y.html"));
  CString longName = UrlToFileName(CString(u"http://h/") + CString(u'n', 400), FALSE);
  EXPECT_EQ(longName.GetLength(), 250);
}

}  // namespace
