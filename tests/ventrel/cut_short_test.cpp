// Answers whose body the server cuts short: it closes before the announced
// length, or a chunked body ends without its last chunk. The transfer fails
// and no part of the body is left where a whole one is expected, through
// the downloader and through the sync-service client.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ventrel/downloader.h"
#include "ventrel/sync.h"
#include "ventrel_fixture.h"

namespace {

using vtest::Ok;
using vtest::Rule;
using vtest::Script;

const std::string kEarlier = "<feed>an earlier whole reply</feed>";

class CutShortTest : public vtest::HttpTest {
 protected:
  CString Url(const std::string& path) { return Wide(server_.Url(path)); }
  std::string File(const char16_t* name) { return ReadDeviceFile(name); }
  // The sync service on the scripted server: its login over TLS, the rest
  // plain, on one port.
  bool StartService(const std::vector<std::string>& rules) {
    const auto& certs = qnet::TestCertificates::Get();
    EXPECT_TRUE(certs.ok) << "the openssl tool did not make the test certificates";
    if (!certs.ok || !server_.Start(Script(rules), certs.serverCert, certs.serverKey)) return false;
    dl_.SetCaFile(Wide(certs.caFile));
    return true;
  }
  CString ServiceHost() { return Wide("localhost:" + std::to_string(server_.port())); }
  int CountRequests(const std::string& start) {
    int n = 0;
    for (const std::string& r : server_.Requests()) n += r.compare(0, start.size(), start) == 0;
    return n;
  }

  qnet::ScriptedServer server_;
  CDownloader dl_;
};

TEST_F(CutShortTest, ABodyCutShortFailsAndLeavesNoFileNotEvenTheEarlierOne) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n";
  struct Case {
    const char* path;
    std::string response;
  } cases[] = {
      {"/short", head + "Content-Length: 500\r\n\r\n<feed><entry>only the start"},
      {"/lastchunk", head + "Transfer-Encoding: chunked\r\n\r\n6\r\n<feed>\r\n7\r\n<entry>\r\n"},
      {"/midchunk", head + "Transfer-Encoding: chunked\r\n\r\n40\r\n<feed><entry>"},
      {"/sizeline", head + "Transfer-Encoding: chunked\r\n\r\n6\r\n<feed>\r\n1"},
      {"/nobody", head + "Content-Length: 20\r\n\r\n"},
  };
  std::vector<std::string> rules;
  for (const Case& c : cases) rules.push_back(Rule(c.path, c.response));
  rules.push_back(Rule("/whole", Ok("<feed>whole</feed>")));
  ASSERT_TRUE(server_.Start(Script(rules)));
  for (const Case& c : cases) {
    WriteDeviceFile(u"feed.xml", kEarlier);
    CString url = Url(c.path);
    EXPECT_FALSE(dl_.SaveHttpObject(url, u"feed.xml", 0)) << c.path;
    EXPECT_EQ(dl_.GetLastErrorCode(), DL_STORE_FAILED) << c.path;
    EXPECT_FALSE(DeviceFileExists(u"feed.xml")) << c.path << " left: " << File(u"feed.xml");
  }
  // The next transfer to the same file stores its body as ever.
  CString url = Url("/whole");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"feed.xml", 0)) << dl_.GetLastErrorCode();
  EXPECT_EQ(File(u"feed.xml"), "<feed>whole</feed>");
}

// A partial answer is appended to the file; cut short, the file keeps what
// it held before and nothing of the piece.
TEST_F(CutShortTest, APartialAnswerCutShortLeavesTheFileAsItWas) {
  ASSERT_TRUE(server_.Start(Script({Rule("/part", "HTTP/1.1 206 Partial Content\r\nContent-Length: 10\r\n\r\nta"),
                                    Rule("/part", "HTTP/1.1 206 Partial Content\r\nContent-Length: 4\r\n\r\ntail")})));
  WriteDeviceFile(u"p.txt", "head-");
  CString url = Url("/part");
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"p.txt", 0));
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_STORE_FAILED);
  EXPECT_EQ(File(u"p.txt"), "head-");
  url = Url("/part");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"p.txt", 0));
  EXPECT_EQ(File(u"p.txt"), "head-tail");
}

// The sync client's feed: both attempts (the second after a new login) are
// cut short, so the feed fails and its file is gone; the service's list cut
// short leaves no list either. A whole feed afterwards is stored.
TEST_F(CutShortTest, TheSyncClientFailsAFeedOrListCutShortAndLeavesNoFile) {
  const std::string shortFeed =
      "HTTP/1.1 200 OK\r\nContent-Type: application/atom+xml\r\nContent-Length: 4000\r\n\r\n"
      "<?xml version=\"1.0\"?><feed xmlns=\"http://www.w3.org/2005/Atom\"><title>Cut</title>"
      "<entry><title>One</title><link href=\"http://sync.example/1\"/></entry>";
  const std::string shortList =
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1c\r\n<object><list name=\"subscrip\r\n";
  ASSERT_TRUE(StartService({Rule("/accounts/ClientLogin", Ok("SID=s\n"), ", \"times\": 0"),
                            Rule("/reader/atom/feed/cut", shortFeed, ", \"times\": 0"),
                            Rule("/reader/atom/feed/whole", Ok("<feed/>"), ", \"times\": 0"),
                            Rule("/reader/api/0/subscription/list", shortList, ", \"times\": 0")}));
  CVentrelSync sync(&dl_, u"a", u"b", ServiceHost());

  WriteDeviceFile(u"sync.xml", kEarlier);
  CString feed = u"cut";
  EXPECT_FALSE(sync.DownloadFeed(feed, u"sync.xml", 5, FALSE));
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_STORE_FAILED);
  EXPECT_EQ(CountRequests("GET /reader/atom/feed/cut"), 2);
  EXPECT_FALSE(DeviceFileExists(u"sync.xml")) << File(u"sync.xml");

  WriteDeviceFile(u"list.xml", kEarlier);
  EXPECT_FALSE(sync.GetSubscriptions(u"list.xml"));
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_STORE_FAILED);
  EXPECT_EQ(CountRequests("GET /reader/api/0/subscription/list"), 1);
  EXPECT_FALSE(DeviceFileExists(u"list.xml")) << File(u"list.xml");

  feed = u"whole";
  ASSERT_TRUE(sync.DownloadFeed(feed, u"sync.xml", 5, FALSE)) << dl_.GetLastErrorCode();
  EXPECT_EQ(File(u"sync.xml"), "<feed/>");
}

}  // namespace
