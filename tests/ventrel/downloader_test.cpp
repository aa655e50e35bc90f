// The HTTP downloader against a scripted server that records every request.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/stat.h>

#include <thread>

#include "support/http_server.h"
#include "ventrel/downloader.h"
#include "ventrel/sync.h"
#include "ventrel_fixture.h"

namespace {

using vtest::Ok;
using vtest::Rule;
using vtest::Script;

class DownloaderTest : public vtest::HttpTest {
 protected:
  bool StartServer(const std::vector<std::string>& rules) { return server_.Start(Script(rules)); }
  CString Url(const std::string& path) { return Wide(server_.Url(path)); }
  std::string HostPort() { return "127.0.0.1:" + std::to_string(server_.port()); }
  std::string Get(const std::string& path) {
    return "GET " + path + " HTTP/1.1\r\nHost: " + HostPort() + "\r\nConnection: close\r\nAccept-Encoding: identity\r\n";
  }
  std::vector<std::string> Requests() { return server_.Requests(); }
  std::string File(const char16_t* name) { return ReadDeviceFile(name); }

  qnet::ScriptedServer server_;
  CDownloader dl_;
};

TEST_F(DownloaderTest, StoresPlainSizedAndChunkedBodies) {
  ASSERT_TRUE(StartServer({Rule("/sized", Ok("sized body")),
                           Rule("/plain", "HTTP/1.1 200 OK\r\nContent-Type: Text/XML; Charset=UTF-8\r\n\r\nto the end"),
                           Rule("/chunked",
                                "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n")}));
  CString url = Url("/sized");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"a.txt", 0));
  EXPECT_EQ(File(u"a.txt"), "sized body");
  url = Url("/plain");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"b.txt", 0));
  EXPECT_EQ(File(u"b.txt"), "to the end");
  EXPECT_EQ(dl_.GetCharset(), CString(u"utf-8"));
  EXPECT_EQ(dl_.GetMediaType(), CString(u"text/xml"));
  url = Url("/chunked");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"c.txt", 0));
  EXPECT_EQ(File(u"c.txt"), "hello world");
  ASSERT_EQ(Requests().size(), 3u);
  EXPECT_EQ(Requests()[0], Get("/sized") + "\r\n");
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_OK);
}

TEST_F(DownloaderTest, OddButReadableStatusLines) {
  struct {
    const char* path;
    std::string response;
    const char* body;
  } cases[] = {
      {"/v10", "HTTP/1.0 200 OK\r\n\r\nold server", "old server"},
      {"/noreason", "HTTP/1.1 200\r\nContent-Length: 2\r\n\r\nok", "ok"},
      {"/lf", "HTTP/1.1 200 OK\nContent-Length: 4\n\nbare", "bare"},
      {"/leading", "\r\nHTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nafter", "after"},
      {"/spaces", "HTTP/1.1 200 OK\r\nContent-Length:    3   \r\n\r\nabc", "abc"},
  };
  std::vector<std::string> rules;
  for (const auto& c : cases) rules.push_back(Rule(c.path, c.response));
  ASSERT_TRUE(StartServer(rules));
  for (const auto& c : cases) {
    CString url = Url(c.path);
    ASSERT_TRUE(dl_.SaveHttpObject(url, u"odd.txt", 0)) << c.path << " code " << dl_.GetLastErrorCode();
    EXPECT_EQ(File(u"odd.txt"), c.body) << c.path;
  }
}

// Chunk sizes are hexadecimal: nginx sends a 26-byte file as chunk "1a" and
// an 8 KB file as chunk "2000".
TEST_F(DownloaderTest, ChunkSizesFromNginxAreReadInBase16) {
  std::string docroot = qnet::MakeTempFolder("chunked");
  mkdir((docroot + "/chunked").c_str(), 0755);
  std::string alphabet = "abcdefghijklmnopqrstuvwxyz";
  std::string eight(8192, 0);
  for (size_t i = 0; i < eight.size(); ++i) eight[i] = char('0' + i % 43);
  std::string big(100000, 0);
  for (size_t i = 0; i < big.size(); ++i) big[i] = char('A' + (i * 7) % 26);
  qtest::WriteHostFile(docroot + "/chunked/26.txt", alphabet);
  qtest::WriteHostFile(docroot + "/chunked/8k.txt", eight);
  qtest::WriteHostFile(docroot + "/chunked/big.txt", big);
  qtest::NginxServer nginx;
  bool started = nginx.Start(docroot);
  if (!started) qnet::RemoveTree(docroot);
  QNET_REQUIRE_PEER(started, "nginx");
  // What goes over the wire.
  EXPECT_NE(qnet::RawHttpGet(nginx.port(), "/chunked/26.txt").find("\r\n\r\n1a\r\n" + alphabet + "\r\n0\r\n"),
            std::string::npos);
  EXPECT_NE(qnet::RawHttpGet(nginx.port(), "/chunked/8k.txt").find("\r\n\r\n2000\r\n" + eight + "\r\n0\r\n"),
            std::string::npos);
  struct {
    const char* path;
    const std::string& body;
  } cases[] = {{"/chunked/26.txt", alphabet}, {"/chunked/8k.txt", eight}, {"/chunked/big.txt", big}};
  for (const auto& c : cases) {
    CString url = Wide(nginx.Url(c.path));
    ASSERT_TRUE(dl_.SaveHttpObject(url, u"chunked.txt", 0)) << c.path << " code " << dl_.GetLastErrorCode();
    EXPECT_EQ(File(u"chunked.txt"), c.body) << c.path;
  }
  EXPECT_NE(RunLog().find("Transfer-Encoding: chunked"), std::string::npos);
  nginx.Stop();
  qnet::RemoveTree(docroot);
}

TEST_F(DownloaderTest, ConditionalGetAnd304LeaveTheFileUntouched) {
  ASSERT_TRUE(StartServer({Rule("/feed", Ok("v1", "ETag: \"abc\"\r\nLast-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\n")),
                           Rule("/feed", "HTTP/1.1 304 Not Modified\r\nConnection: close\r\n\r\n"),
                           Rule("/feed", Ok("v2"))}));
  CString url = Url("/feed");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"feed.xml", 0));
  EXPECT_TRUE(dl_.IsModified());
  EXPECT_EQ(dl_.GetETag(), CString(u"\"abc\""));
  std::string host = DeviceTest::Host(u"feed.xml");
  struct stat before;
  ASSERT_EQ(stat(host.c_str(), &before), 0);

  url = Url("/feed");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"feed.xml", 0));  // 304: success without a body
  EXPECT_FALSE(dl_.IsModified());
  EXPECT_EQ(File(u"feed.xml"), "v1");
  struct stat after;
  ASSERT_EQ(stat(host.c_str(), &after), 0);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
  EXPECT_EQ(Requests()[1], Get("/feed") +
                               "If-None-Match: \"abc\"\r\nIf-Modified-Since: Tue, 01 Dec 2026 10:00:00 GMT\r\n\r\n");

  dl_.ResetRequest();  // forgets the validators
  url = Url("/feed");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"feed.xml", 0));
  EXPECT_EQ(File(u"feed.xml"), "v2");
  EXPECT_EQ(Requests()[2], Get("/feed") + "\r\n");
}

TEST_F(DownloaderTest, FollowsEveryRedirectKind) {
  // Absolute Locations name a second server.
  qnet::ScriptedServer target;
  ASSERT_TRUE(target.Start(Script({Rule("/final", Ok("arrived"), ", \"times\": 0")})));
  std::string abs = target.Url("/final");
  qnet::ScriptedServer s;
  ASSERT_TRUE(s.Start(Script({
      Rule("/301", "HTTP/1.1 301 Moved\r\nLocation: " + abs + "\r\n\r\n"),
      Rule("/302", "HTTP/1.1 302 Found\r\nLocation: /a/b/../c/page\r\n\r\n"),
      Rule("/a/c/page", "HTTP/1.1 303 See Other\r\nLocation: next?x=1\r\n\r\n"),
      Rule("/a/c/next?x=1", "HTTP/1.1 307 Temporary\r\nLocation: //127.0.0.1:" + std::to_string(target.port()) +
                                "/final#frag\r\n\r\n"),
  })));
  for (const char* start : {"/301", "/302"}) {
    CString url = Wide(s.Url(start));
    ASSERT_TRUE(dl_.SaveHttpObject(url, u"r.txt", 0)) << start << " code " << dl_.GetLastErrorCode();
    EXPECT_EQ(File(u"r.txt"), "arrived");
    EXPECT_EQ(dl_.GetCurrentUrl(), Wide(abs + (std::string(start) == "/302" ? "#frag" : "")));
  }
  std::vector<std::string> seen = s.Requests();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[2].substr(0, seen[2].find("\r\n")), "GET /a/c/page HTTP/1.1");
  EXPECT_EQ(seen[3].substr(0, seen[3].find("\r\n")), "GET /a/c/next?x=1 HTTP/1.1");
  std::vector<std::string> finals = target.Requests();
  ASSERT_EQ(finals.size(), 2u);
  EXPECT_EQ(finals[1].substr(0, finals[1].find("\r\n")), "GET /final HTTP/1.1");  // no fragment sent
}

TEST_F(DownloaderTest, FiveRedirectsArriveButASixthFails) {
  std::vector<std::string> rules;
  for (int i = 0; i < 6; ++i)
    rules.push_back(Rule("/r" + std::to_string(i), "HTTP/1.1 302 Found\r\nLocation: /r" + std::to_string(i + 1) + "\r\n\r\n"));
  rules.push_back(Rule("/r6", Ok("end")));
  rules.push_back(Rule("/s1", Ok("short chain")));
  ASSERT_TRUE(StartServer(rules));
  CString url = Url("/r0");
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"long.txt", 0));
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_UNEXPECTED_STATUS);
  EXPECT_EQ(dl_.GetLastStatus(), 302);
  EXPECT_FALSE(DeviceFileExists(u"long.txt"));
  EXPECT_EQ(Requests().size(), 6u);  // the sixth redirect is not followed

  qnet::ScriptedServer five;
  std::vector<std::string> fiveRules;
  for (int i = 0; i < 5; ++i)
    fiveRules.push_back(Rule("/r" + std::to_string(i), "HTTP/1.1 301 Moved\r\nLocation: /r" + std::to_string(i + 1) + "\r\n\r\n"));
  fiveRules.push_back(Rule("/r5", Ok("five hops")));
  ASSERT_TRUE(five.Start(Script(fiveRules)));
  url = Wide(five.Url("/r0"));
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"five.txt", 0));
  EXPECT_EQ(File(u"five.txt"), "five hops");
}

TEST_F(DownloaderTest, RedirectWithoutLocationAndUnhandledStatusesFail) {
  ASSERT_TRUE(StartServer({Rule("/noloc", "HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n"),
                           Rule("/missing", "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone"),
                           Rule("/proxyauth", "HTTP/1.1 407 Proxy Authentication Required\r\n\r\n"),
                           // Absolute URLs that cannot be cracked: too long, or a port out of range.
                           Rule("/longloc", "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:1/" +
                                                std::string(20000, 'a') + "\r\n\r\n"),
                           Rule("/badport", "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:99999/x\r\n\r\n"),
                           Rule("/http:", Ok("not the document"), ", \"times\": 0")}));
  WriteDeviceFile(u"keep.txt", "old");
  CString url = Url("/noloc");
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"keep.txt", 0));
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_NO_LOCATION);
  url = Url("/missing");
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"keep.txt", 0));
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_UNEXPECTED_STATUS);
  EXPECT_EQ(dl_.GetLastStatus(), 404);
  url = Url("/proxyauth");
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"keep.txt", 0));
  EXPECT_EQ(dl_.GetLastStatus(), 407);
  // Such a Location is no path on this server: nothing more is asked of it.
  for (const char* path : {"/longloc", "/badport"}) {
    url = Url(path);
    EXPECT_FALSE(dl_.SaveHttpObject(url, u"keep.txt", 0)) << path;
    EXPECT_EQ(dl_.GetLastErrorCode(), DL_BAD_URL) << path;
  }
  EXPECT_EQ(Requests().size(), 5u);
  EXPECT_EQ(File(u"keep.txt"), "old");
}

TEST_F(DownloaderTest, PostCountsBytesAndARedirectBecomesAPlainGet) {
  ASSERT_TRUE(StartServer({Rule("/form", Ok("thanks")), Rule("/empty", Ok("")),
                           Rule("/moved", "HTTP/1.1 302 Found\r\nLocation: /landing\r\n\r\n"),
                           Rule("/landing", Ok("landed"))}));
  dl_.AddCookie(u"a=1");
  dl_.AddCookie(u"b=2");
  dl_.AddHeader(u"X-Extra", u"yes");
  CString url = Url("/form");
  CString reply;
  ASSERT_TRUE(dl_.Post(url, u"name=caf\u00e9", reply, 0));
  EXPECT_EQ(reply, CString(u"thanks"));
  std::string post = "POST /form HTTP/1.1\r\nHost: " + HostPort() +
                     "\r\nConnection: close\r\nAccept-Encoding: identity\r\nContent-Type: "
                     "application/x-www-form-urlencoded\r\nContent-Length: 10\r\nX-Extra: yes\r\nCookie: a=1\r\n"
                     "Cookie: b=2\r\n\r\nname=caf\xc3\xa9";
  EXPECT_EQ(Requests()[0], post);
  url = Url("/empty");
  ASSERT_TRUE(dl_.Post(url, u"", reply, 0));
  EXPECT_NE(Requests()[1].find("Content-Length: 0\r\n"), std::string::npos);
  url = Url("/moved");
  ASSERT_TRUE(dl_.Post(url, u"x=1", reply, 0));
  EXPECT_EQ(reply, CString(u"landed"));
  EXPECT_EQ(Requests()[3], Get("/landing") + "X-Extra: yes\r\n\r\n");
  EXPECT_FALSE(DeviceFileExists(DOWNLOADER_TEMP_FILE));
}

TEST_F(DownloaderTest, CharacterReferencesAreDecodedInTheUrl) {
  ASSERT_TRUE(StartServer({Rule("/e?a=1&b=2", Ok("decoded"))}));
  CString url = Url("/e?a=1&amp;b=2");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"e.txt", 0));
  EXPECT_EQ(url, Url("/e?a=1&b=2"));
  EXPECT_EQ(dl_.GetCurrentUrl(), Url("/e?a=1&amp;b=2"));
  // The log shows the URL as the caller gave it, before decoding.
  EXPECT_NE(RunLog().find("ReplaceHTMLEntities('" + server_.Url("/e?a=1&amp;b=2") + "')"), std::string::npos);
}

TEST_F(DownloaderTest, DownloadToStringReadsTheBody) {
  ASSERT_TRUE(StartServer({Rule("/t", Ok("token-\xc3\xa9\r\n")),
                           Rule("/huge", "HTTP/1.1 200 OK\r\n\r\n", ", \"body_size\": 17000000")}));
  CString url = Url("/t");
  CString text;
  ASSERT_TRUE(dl_.DownloadToString(url, text, 0));
  EXPECT_EQ(text, CString(u"token-\u00e9\r\n"));
  EXPECT_FALSE(DeviceFileExists(DOWNLOADER_TEMP_FILE));
  // A reply meant as text (a token, a login answer) that runs to megabytes
  // is no such reply: it is not taken into memory, nor sent back.
  url = Url("/huge");
  EXPECT_FALSE(dl_.DownloadToString(url, text, 0));
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_STORE_FAILED);
  EXPECT_EQ(text, CString(u"token-\u00e9\r\n"));
  EXPECT_FALSE(DeviceFileExists(DOWNLOADER_TEMP_FILE));
}

TEST_F(DownloaderTest, BadUrlsAndProxiesFailWithTheirCodes) {
  CString url = u"ftp://127.0.0.1/file";
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"x", 0));
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_BAD_URL);
  url = u"not a url";
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"x", 0));
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_BAD_URL);
  ASSERT_TRUE(StartServer({Rule("/", Ok("x"), ", \"times\": 0")}));
  for (const char16_t* proxy : {u":8080", u"noport", u"127.0.0.1:0", u"127.0.0.1:99999"}) {
    dl_.SetProxy(proxy);
    url = Url("/");
    EXPECT_FALSE(dl_.SaveHttpObject(url, u"x", 0));
    EXPECT_EQ(dl_.GetLastErrorCode(), DL_NO_CONNECTION);
  }
  dl_.SetProxy(u"");
  url = Url("/");
  EXPECT_TRUE(dl_.SaveHttpObject(url, u"x", 0));
  url = Wide("http://127.0.0.1:" + std::to_string(qnet::FreeLoopbackPort()) + "/");
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"x", 0));
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_NO_CONNECTION);
}

// Hostile servers: every one ends in a failure code and a log line, quickly.
TEST_F(DownloaderTest, HostileServersGetFailuresNotSuccesses) {
  std::string bigHeader = "HTTP/1.1 200 OK\r\nX-Big: " + std::string(1 << 20, 'a') + "\r\n\r\nbody";
  std::string endless = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 20000; ++i) endless += "X-H" + std::to_string(i) + ": v\r\n";
  struct Case {
    const char* path;
    std::string response;
    int code;
    const char* log;
  } cases[] = {
      {"/garbage", "\x01\x02 not http at all\r\n\r\n", DL_UNEXPECTED_STATUS, "StatusCode: 0"},
      {"/nothing", "", DL_NO_RESPONSE, "No response: no status line"},
      {"/bigheader", bigHeader, DL_NO_RESPONSE, "header line too long"},
      {"/endless", endless, DL_NO_RESPONSE, "headers too large"},
      {"/negchunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-5\r\nhello\r\n0\r\n\r\n", DL_STORE_FAILED,
       "bad chunk size '-5'"},
      {"/hugechunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffffffff\r\nx\r\n",
       DL_STORE_FAILED, "bad chunk size"},
      {"/midbody", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this", DL_STORE_FAILED,
       "closed the connection after 9 bytes"},
      {"/midchunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nabc", DL_STORE_FAILED,
       "closed the connection after 3 bytes"},
      {"/gzip", "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n\x1f\x8b\x08", DL_STORE_FAILED,
       "unsupported Content-Encoding 'gzip'"},
  };
  std::vector<std::string> rules;
  for (const Case& c : cases) rules.push_back(Rule(c.path, c.response));
  ASSERT_TRUE(StartServer(rules));
  dl_.SetTimeout(3000);
  for (const Case& c : cases) {
    auto start = std::chrono::steady_clock::now();
    CString url = Url(c.path);
    EXPECT_FALSE(dl_.SaveHttpObject(url, u"hostile.txt", 0)) << c.path;
    EXPECT_EQ(dl_.GetLastErrorCode(), c.code) << c.path;
    EXPECT_LT(vtest::ElapsedMs(start), 2500) << c.path;
    EXPECT_NE(RunLog().find(c.log), std::string::npos) << c.path << " log lacks: " << c.log;
  }
}

// Answers that are whole though not tidy: bytes after the announced length,
// interim answers before the real one, folded header lines.
TEST_F(DownloaderTest, UntidyButCompleteAnswersAreStored) {
  ASSERT_TRUE(StartServer(
      {Rule("/longer", "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nabcdefgh"),
       Rule("/interim", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\nX-A: 1\r\n\r\n",
            ", \"chunks\": [{\"data\": " + vtest::JsonText("HTTP/1.1 200 OK\r\nContent-Type: text/xml;\r\n\t"
                                                            "charset=ISO-8859-1\r\nContent-Length: 5\r\n\r\nfinal") +
                ", \"delay_ms\": 50}]"),
       Rule("/moved", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 302 Found\r\nLocation:\r\n /folded/target\r\n\r\n"),
       Rule("/folded/target", Ok("followed"))}));
  CString url = Url("/longer");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"longer.txt", 0)) << dl_.GetLastErrorCode();
  EXPECT_EQ(File(u"longer.txt"), "abcdefgh");
  EXPECT_NE(RunLog().find("4 bytes after the announced 4 kept"), std::string::npos);
  url = Url("/interim");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"interim.txt", 0)) << dl_.GetLastErrorCode();
  EXPECT_EQ(File(u"interim.txt"), "final");
  EXPECT_EQ(dl_.GetMediaType(), CString(u"text/xml"));
  EXPECT_EQ(dl_.GetCharset(), CString(u"iso-8859-1"));
  url = Url("/moved");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"moved.txt", 0)) << dl_.GetLastErrorCode();
  EXPECT_EQ(File(u"moved.txt"), "followed");
}

// Non-ASCII request targets and Locations go out percent-encoded from their
// bytes: the caller's text as UTF-8, a Location's bytes as they came.
TEST_F(DownloaderTest, NonAsciiTargetsArePercentEncodedFromTheirBytes) {
  ASSERT_TRUE(StartServer({Rule("/caf%C3%A9.xml", Ok("direct")),
                           Rule("/go-utf8", "HTTP/1.1 302 Found\r\nLocation: /caf\xc3\xa9.xml?q=\xc3\xa9 x\r\n\r\n"),
                           Rule("/caf%C3%A9.xml?q=%C3%A9%20x", Ok("utf-8 location")),
                           Rule("/go-latin1", "HTTP/1.1 301 Moved\r\nLocation: /caf\xe9.xml\r\n\r\n"),
                           Rule("/caf%E9.xml", Ok("latin-1 location"))}));
  CString url = Url("/caf\u00e9.xml?v=\u00e9");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"t1.txt", 0)) << dl_.GetLastErrorCode();
  EXPECT_EQ(File(u"t1.txt"), "direct");
  url = Url("/go-utf8");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"t2.txt", 0)) << dl_.GetLastErrorCode();
  EXPECT_EQ(File(u"t2.txt"), "utf-8 location");
  url = Url("/go-latin1");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"t3.txt", 0)) << dl_.GetLastErrorCode();
  EXPECT_EQ(File(u"t3.txt"), "latin-1 location");
  std::vector<std::string> seen = Requests();
  ASSERT_EQ(seen.size(), 5u);
  auto line = [](const std::string& r) { return r.substr(0, r.find("\r\n")); };
  EXPECT_EQ(line(seen[0]), "GET /caf%C3%A9.xml?v=%C3%A9 HTTP/1.1");
  EXPECT_EQ(line(seen[2]), "GET /caf%C3%A9.xml?q=%C3%A9%20x HTTP/1.1");
  EXPECT_EQ(line(seen[4]), "GET /caf%E9.xml HTTP/1.1");
}

TEST_F(DownloaderTest, AServerThatKeepsTheConnectionAfterTheBodyIsNotWaitedFor) {
  ASSERT_TRUE(StartServer({Rule("/kept", Ok("all of it"), ", \"hold\": true")}));
  auto start = std::chrono::steady_clock::now();
  CString url = Url("/kept");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"kept.txt", 0));
  EXPECT_EQ(File(u"kept.txt"), "all of it");
  EXPECT_LT(vtest::ElapsedMs(start), 3000);
}

TEST_F(DownloaderTest, SilentAndTricklingServersEndAtTheTimeOut) {
  std::string trickle = "[";
  for (int i = 0; i < 100; ++i) trickle += std::string(i ? ", " : "") + "{\"data\": \"X-T: 1\\r\\n\", \"delay_ms\": 50}";
  trickle += "]";
  ASSERT_TRUE(StartServer({Rule("/silent", "", ", \"silent\": true"),
                           Rule("/trickle", "HTTP/1.1 200 OK\r\n", ", \"chunks\": " + trickle + ", \"hold\": true")}));
  dl_.SetTimeout(600);
  for (const char* path : {"/silent", "/trickle"}) {
    auto start = std::chrono::steady_clock::now();
    CString url = Url(path);
    EXPECT_FALSE(dl_.SaveHttpObject(url, u"t.txt", 0));
    EXPECT_EQ(dl_.GetLastErrorCode(), DL_NO_RESPONSE);
    long long ms = vtest::ElapsedMs(start);
    EXPECT_GE(ms, 550) << path;
    EXPECT_LT(ms, 3000) << path;
  }
}

// A body that a server keeps alive with a byte now and then is given up
// when a period of the receive time-out brings almost nothing; a body that
// comes in slow but real pieces is stored whole.
TEST_F(DownloaderTest, ABodyTrickledByteByByteTimesOutButSlowPiecesArrive) {
  std::string drip = "[", pieces = "[";
  for (int i = 0; i < 40; ++i) drip += std::string(i ? ", " : "") + "{\"data\": \"x\", \"delay_ms\": 150}";
  for (int i = 0; i < 5; ++i)
    pieces += std::string(i ? ", " : "") + "{\"data\": \"" + std::string(1000, char('a' + i)) + "\", \"delay_ms\": 300}";
  drip += "]";
  pieces += "]";
  ASSERT_TRUE(StartServer({Rule("/drip", "HTTP/1.1 200 OK\r\n\r\n", ", \"chunks\": " + drip),
                           Rule("/sized-drip", "HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n", ", \"chunks\": " + drip),
                           Rule("/pieces", "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n", ", \"chunks\": " + pieces)}));
  dl_.SetTimeout(600);
  for (const char* path : {"/drip", "/sized-drip"}) {
    auto start = std::chrono::steady_clock::now();
    CString url = Url(path);
    EXPECT_FALSE(dl_.SaveHttpObject(url, u"drip.txt", 0)) << path;
    EXPECT_EQ(dl_.GetLastErrorCode(), DL_STORE_FAILED) << path;
    EXPECT_LT(vtest::ElapsedMs(start), 3000) << path;  // the whole drip would take 6 s
  }
  CString url = Url("/pieces");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"pieces.txt", 0)) << dl_.GetLastErrorCode();
  std::string whole;
  for (int i = 0; i < 5; ++i) whole += std::string(1000, char('a' + i));
  EXPECT_EQ(File(u"pieces.txt"), whole);
}

TEST_F(DownloaderTest, TerminateDuringTheHeaderWaitEndsAtOnce) {
  ASSERT_TRUE(StartServer({Rule("/wait", "", ", \"silent\": true")}));
  auto start = std::chrono::steady_clock::now();
  std::thread ui([&] {
    ASSERT_TRUE(WaitForRequests(server_, 1));
    dl_.Terminate();
  });
  CString url = Url("/wait");
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"w.txt", 0));
  ui.join();
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_NO_RESPONSE);
  EXPECT_LT(vtest::ElapsedMs(start), 5000);
  EXPECT_TRUE(dl_.GetConnectionState());
  // Until a new operation starts, nothing else goes out.
  url = Url("/wait");
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"w.txt", 0));
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_NO_CONNECTION);
}

TEST_F(DownloaderTest, TerminateDuringASlowBodyIsNeverASuccess) {
  std::string first(65536, 'a');
  ASSERT_TRUE(StartServer({Rule("/slow", "HTTP/1.1 200 OK\r\n\r\n" + first,
                                ", \"chunks\": [{\"data\": \"late\", \"delay_ms\": 20000}], \"hold\": true")}));
  std::string host = DeviceTest::Host(u"slow.txt");
  auto start = std::chrono::steady_clock::now();
  std::thread ui([&] {
    ASSERT_TRUE(WaitForFileSize(host, 8192));
    dl_.Terminate();
  });
  CString url = Url("/slow");
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"slow.txt", 0));
  ui.join();
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_STORE_FAILED);
  EXPECT_LT(vtest::ElapsedMs(start), 8000);
  EXPECT_NE(RunLog().find("Transfer cancelled"), std::string::npos);
}

TEST_F(DownloaderTest, AFullDiskGivesTheDiskFullCode) {
  ASSERT_TRUE(StartServer({Rule("/big", Ok(std::string(100000, 'z')))}));
  ASSERT_EQ(symlink("/dev/full", (root_ + "/full").c_str()), 0);
  CString url = Url("/big");
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"\\full", 0));
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_DISK_FULL);
}

TEST_F(DownloaderTest, APartialAnswerAppendsToTheFile) {
  ASSERT_TRUE(StartServer({Rule("/part", "HTTP/1.1 206 Partial Content\r\nContent-Length: 4\r\n\r\ntail"),
                           Rule("/part", "HTTP/1.1 206 Partial Content\r\nContent-Length: 4\r\n\r\ntail")}));
  WriteDeviceFile(u"p.txt", "head-");
  CString url = Url("/part");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"p.txt", 0));
  EXPECT_EQ(File(u"p.txt"), "head-tail");
  url = Url("/part");
  EXPECT_FALSE(dl_.SaveHttpObject(url, u"absent.txt", 0));  // nothing to append to
  EXPECT_EQ(dl_.GetLastErrorCode(), DL_STORE_FAILED);
}

TEST_F(DownloaderTest, AServerThatClosesAfterTheHeadersGivesAnEmptyFile) {
  ASSERT_TRUE(StartServer({Rule("/empty", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n")}));
  WriteDeviceFile(u"empty.txt", "old content");
  CString url = Url("/empty");
  ASSERT_TRUE(dl_.SaveHttpObject(url, u"empty.txt", 0)) << dl_.GetLastErrorCode();
  EXPECT_TRUE(DeviceFileExists(u"empty.txt"));
  EXPECT_EQ(File(u"empty.txt"), "");
}

TEST_F(DownloaderTest, TheProxyTextGivesAnHttpProxyRecord) {
  dl_.SetProxy(u"proxy.example:8080");
  const CProxySettings* p = dl_.Connection().GetProxy();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->m_nKind, PROXY_HTTP);
  EXPECT_EQ(p->m_strHost, CString(u"proxy.example"));
  EXPECT_EQ(p->m_nPort, 8080);
  EXPECT_EQ(p->m_bAuthenticate, 0);
  EXPECT_EQ(dl_.GetProxy(), CString(u"proxy.example:8080"));
  // A text that begins with the colon, or has none, names no host.
  for (const char16_t* text : {u":8080", u"proxy.example"}) {
    dl_.SetProxy(text);
    p = dl_.Connection().GetProxy();
    ASSERT_NE(p, nullptr) << qk::ToUtf8(text);
    EXPECT_TRUE(p->m_strHost.IsEmpty()) << qk::ToUtf8(text);
  }
  dl_.SetProxy(u"");
  EXPECT_EQ(dl_.Connection().GetProxy(), nullptr);
}

// The reading list is reachable only inside the library: its request form.
TEST_F(DownloaderTest, ReadingListAsksForTheLastDayUnread) {
  const auto& certs = qnet::TestCertificates::Get();
  ASSERT_TRUE(server_.Start(Script({Rule("/accounts/ClientLogin", Ok("SID=r\n")), Rule("/reader/atom/user/", Ok("<feed/>"))}),
                            certs.serverCert, certs.serverKey));
  dl_.SetCaFile(Wide(certs.caFile));
  qk::FreezeClock(1800000000000LL);
  CVentrelSync sync(&dl_, u"a", u"b", Wide("localhost:" + std::to_string(server_.port())));
  EXPECT_TRUE(sync.GetReadingList(u"list.xml"));
  qk::UseRealClock();
  std::vector<std::string> seen = Requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].substr(0, seen[1].find("\r\n")),
            "GET /reader/atom/user/-/state/com.google/reading-list?xt=user/-/state/com.google/read&n=1000&r=o"
            "&ot=1799913600 HTTP/1.1");
  EXPECT_NE(seen[1].find("Cookie: SID=r\r\n"), std::string::npos);
  EXPECT_EQ(File(u"list.xml"), "<feed/>");
}

}  // namespace
