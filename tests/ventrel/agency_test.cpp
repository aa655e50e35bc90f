// The exported agency, through the shared library, against a scripted sync
// service that serves its login over TLS and the rest over plain HTTP on
// one port, and records every request.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/encoding.h"
#include "kernel/kernel.h"
#include "support/device_fixture.h"
#include "support/net_servers.h"
#include "ventrel/ventrel.h"

namespace {

std::string J(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"') out += "\\\"";
    else if (c == '\\') out += "\\\\";
    else if (c < 0x20 || c >= 0x7f) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else out += char(c);
  }
  return out + "\"";
}

std::string R(const std::string& path, const std::string& response, const std::string& extra = "") {
  return "{\"path\": " + J(path) + (response.empty() ? "" : ", \"response\": " + J(response)) + extra + "}";
}

std::string Ok(const std::string& body, const std::string& headers = "") {
  return "HTTP/1.1 200 OK\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

const char* kFail = "HTTP/1.1 500 Oops\r\nContent-Length: 0\r\n\r\n";

// One device root for the process: the shared library keeps its own copy of
// the platform layer, which reads the root from the environment.
class AgencyTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new std::string(qnet::MakeTempFolder("agency"));
    setenv("QUILLET_DEVICE_ROOT", root_->c_str(), 1);
    qk::SetDeviceRoot(*root_);
  }
  static void TearDownTestSuite() {
    qnet::RemoveTree(*root_);
    delete root_;
  }
  bool Start(const std::vector<std::string>& rules) {
    std::string script = "{\"rules\": [";
    for (size_t i = 0; i < rules.size(); ++i) script += (i ? ", " : "") + rules[i];
    const auto& certs = qnet::TestCertificates::Get();
    EXPECT_TRUE(certs.ok) << "the openssl tool did not make the test certificates";
    if (!certs.ok || !server_.Start(script + "]}", certs.serverCert, certs.serverKey)) return false;
    agency_.SetServiceHost(Host());
    agency_.SetCaFile(CString(qk::FromUtf8(certs.caFile)));
    agency_.SetProxy(CString());
    return true;
  }
  CString Host() { return CString(qk::FromUtf8("localhost:" + std::to_string(server_.port()))); }
  std::string HostHeader() { return "Host: localhost:" + std::to_string(server_.port()) + "\r\n"; }
  // A file of this test in the device root.
  CString File(const char* name) { return CString(qk::FromUtf8(std::string(name))); }
  std::string Read(const char* name) { return qtest::ReadHostFile(*root_ + "/" + name); }
  std::vector<std::string> Requests() { return server_.Requests(); }
  static std::string Line(const std::string& req) { return req.substr(0, req.find("\r\n")); }
  // The refresh run form-encodes the account before it logs in.
  static CString Form(const CString& text) {
    CString out;
    return FormUrlEncode(out, text);
  }

  static std::string* root_;
  qnet::ScriptedServer server_;
  CVentrelAgency agency_;
};
std::string* AgencyTest::root_ = nullptr;

TEST_F(AgencyTest, TheServiceRequestsInOrderAndForm) {
  ASSERT_TRUE(Start({R("/accounts/ClientLogin", Ok("SID=abc123\r\nLSID=zz\r\nAuth=yy\r\n")),
                     R("/reader/api/0/subscription/list", Ok("<subscriptions/>")),
                     R("/reader/atom/feed/", Ok("<feed/>")),
                     R("/reader/api/0/token", Ok("tok123\n")),
                     R("/reader/api/0/edit-tag", Ok("OK"), ", \"times\": 2")}));
  agency_.Login(Form(u"me@example.com"), Form(u"p&ss=w+rd"));
  EXPECT_TRUE(Requests().empty());  // the login waits for the first operation
  agency_.GetSubscriptions(File("subs.xml"));
  EXPECT_EQ(Read("subs.xml"), "<subscriptions/>");
  CString feed = u"feed/http://example.com/rss?id=1";
  ASSERT_TRUE(agency_.DownloadFeed(feed, File("feed.xml"), 15));
  EXPECT_EQ(feed, CString(u"feed/http://example.com/rss%3Fid=1"));
  EXPECT_EQ(Read("feed.xml"), "<feed/>");
  ASSERT_TRUE(agency_.SyncItem(u"tag:google.com,2005:reader/item/00ff", 1));
  ASSERT_TRUE(agency_.SyncItem(u"tag:google.com,2005:reader/item/0100", 0));

  std::vector<std::string> seen = Requests();
  std::vector<bool> tls = server_.RequestsOverTls();
  ASSERT_EQ(seen.size(), 6u);
  std::string common = HostHeader() + "Connection: close\r\n";
  std::string login = "Email=me%40example%2Ecom&Passwd=p%26ss%3Dw%2Brd";
  EXPECT_EQ(seen[0], "POST /accounts/ClientLogin HTTP/1.1\r\n" + common +
                         "Accept-Encoding: identity\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                         "Content-Length: " + std::to_string(login.size()) + "\r\n\r\n" + login);
  EXPECT_TRUE(tls[0]);
  std::string agent = "User-Agent: Quillet Mobile\r\nAccept-Encoding: identity\r\n";
  EXPECT_EQ(seen[1], "GET /reader/api/0/subscription/list?output=xml HTTP/1.1\r\n" + common + agent +
                         "Cookie: SID=abc123\r\n\r\n");
  EXPECT_EQ(seen[2], "GET /reader/atom/feed/feed/http://example.com/rss%3Fid=1?n=15 HTTP/1.1\r\n" + common + agent +
                         "Cookie: SID=abc123\r\n\r\n");
  EXPECT_EQ(seen[3], "GET /reader/api/0/token HTTP/1.1\r\n" + common + agent + "Cookie: SID=abc123\r\n\r\n");
  std::string tag = "i=tag:google.com,2005:reader/item/00ff&a=user%2F-%2Fstate%2Fcom.google%2Fread&T=tok123";
  EXPECT_EQ(seen[4], "POST /reader/api/0/edit-tag HTTP/1.1\r\n" + common + agent +
                         "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                         std::to_string(tag.size()) + "\r\nCookie: SID=abc123\r\n\r\n" + tag);
  EXPECT_NE(seen[5].find("&a=user%2F-%2Fstate%2Fcom.google%2Fkept-unread&T=tok123"), std::string::npos);
  for (size_t i = 1; i < tls.size(); ++i) EXPECT_FALSE(tls[i]);
}

// From the account the user typed to the bytes the service receives: the
// refresh run form-encodes, the agency sends the texts as they are.
TEST_F(AgencyTest, TheAccountIsFormEncodedOnce) {
  ASSERT_TRUE(Start({R("/accounts/ClientLogin", Ok("SID=once\n")), R("/reader/api/0/subscription/list", Ok("<s/>"))}));
  agency_.Login(Form(u"first.last&co@example.com"), Form(u"p&ss=w+rd \u00e9%"));
  agency_.GetSubscriptions(File("once.xml"));
  std::vector<std::string> seen = Requests();
  ASSERT_EQ(seen.size(), 2u);
  std::string body = "Email=first%2Elast%26co%40example%2Ecom&Passwd=p%26ss%3Dw%2Brd+%C3%A9%25";
  EXPECT_EQ(seen[0].substr(seen[0].find("\r\n\r\n") + 4), body);
  EXPECT_NE(seen[0].find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
  EXPECT_NE(seen[1].find("\r\nCookie: SID=once\r\n"), std::string::npos);
}

// A session id and a token with bytes above 0x7F (valid UTF-8 or not) go
// back to the service exactly as it sent them.
TEST_F(AgencyTest, SessionIdAndTokenGoBackByteForByte) {
  std::string sid = "\xe9t\xc3\xa9\xff";
  std::string token = "tok\xe9\xc3\xa9";
  ASSERT_TRUE(Start({R("/accounts/ClientLogin", Ok("SID=" + sid + "\n")), R("/reader/api/0/token", Ok(token)),
                     R("/reader/api/0/edit-tag", Ok("OK"))}));
  agency_.Login(u"a", u"b");
  ASSERT_TRUE(agency_.SyncItem(u"i1", 1));
  std::vector<std::string> seen = Requests();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_NE(seen[1].find("\r\nCookie: SID=" + sid + "\r\n"), std::string::npos) << seen[1];
  EXPECT_NE(seen[2].find("\r\nCookie: SID=" + sid + "\r\n"), std::string::npos) << seen[2];
  std::string body = "i=i1&a=user%2F-%2Fstate%2Fcom.google%2Fread&T=" + token;
  EXPECT_EQ(seen[2].substr(seen[2].find("\r\n\r\n") + 4), body);
  EXPECT_NE(seen[2].find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
}

std::atomic<int> g_sigpipes{0};

// The login always runs over https: cancelling it while it waits for the
// service's answer ends it without a signal that would end the reader.
TEST_F(AgencyTest, TerminateDuringTheLoginRaisesNoSigpipe) {
  ASSERT_TRUE(Start({R("/accounts/ClientLogin", "", ", \"silent\": true, \"times\": 0"),
                     R("/reader/api/0/subscription/list", Ok("<s/>"), ", \"times\": 0")}));
  struct sigaction sa {}, old {};
  sa.sa_handler = [](int) { g_sigpipes.fetch_add(1); };
  sigemptyset(&sa.sa_mask);
  sigaction(SIGPIPE, &sa, &old);
  agency_.Login(u"a", u"b");
  auto start = std::chrono::steady_clock::now();
  std::thread ui([&] {
    while (Requests().empty() && std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    agency_.Terminate();
  });
  CString feed = u"f";
  EXPECT_FALSE(agency_.DownloadFeed(feed, File("cancelled.xml"), 5));
  ui.join();
  sigaction(SIGPIPE, &old, nullptr);
  EXPECT_EQ(g_sigpipes.load(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  std::vector<std::string> seen = Requests();
  ASSERT_EQ(seen.size(), 1u);  // the cancelled login, nothing after it
  EXPECT_TRUE(server_.RequestsOverTls().at(0));
}

TEST_F(AgencyTest, LoginReplyLinesAreReadWhole) {
  // The SID stands on the last line, without a line feed.
  ASSERT_TRUE(Start({R("/accounts/ClientLogin", Ok("LSID=zz\r\nSID=last")),
                     R("/reader/api/0/subscription/list", Ok("<s/>"))}));
  agency_.Login(u"a", u"b");
  agency_.GetSubscriptions(File("s1.xml"));
  std::vector<std::string> seen = Requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[1].find("\r\nCookie: SID=last\r\n"), std::string::npos) << seen[1];
}

// A refused login opens no session: the subscription list is not asked for
// without one, and the caller that logs in first learns of the refusal.
TEST_F(AgencyTest, ALoginWithoutSidFetchesNoListAndIsReported) {
  ASSERT_TRUE(Start({R("/accounts/ClientLogin", Ok("Error=BadAuthentication\n"), ", \"times\": 2"),
                     R("/accounts/ClientLogin", Ok("SID=good\n")),
                     R("/reader/api/0/subscription/list", Ok("<s/>"))}));
  EXPECT_FALSE(agency_.Authenticate());  // no account given yet
  EXPECT_TRUE(Requests().empty());
  agency_.Login(u"a", u"b");
  agency_.GetSubscriptions(File("s2.xml"));
  std::vector<std::string> seen = Requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(Line(seen[0]), "POST /accounts/ClientLogin HTTP/1.1");
  EXPECT_FALSE(std::filesystem::exists(*root_ + "/s2.xml"));
  EXPECT_FALSE(agency_.Authenticate());
  // Once the service opens a session, the list comes with it.
  EXPECT_TRUE(agency_.Authenticate());
  agency_.GetSubscriptions(File("s2.xml"));
  seen = Requests();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(Line(seen[3]), "GET /reader/api/0/subscription/list?output=xml HTTP/1.1");
  EXPECT_NE(seen[3].find("\r\nCookie: SID=good\r\n"), std::string::npos) << seen[3];
  EXPECT_EQ(Read("s2.xml"), "<s/>");
}

TEST_F(AgencyTest, AFailedFeedIsRetriedOnceAfterANewLogin) {
  ASSERT_TRUE(Start({R("/accounts/ClientLogin", Ok("SID=first\n")), R("/reader/atom/feed/", kFail),
                     R("/accounts/ClientLogin", Ok("SID=second\n")), R("/reader/atom/feed/", Ok("<feed/>")),
                     R("/accounts/ClientLogin", Ok("SID=third\n")), R("/reader/atom/feed/", kFail, ", \"times\": 0")}));
  agency_.Login(u"a", u"b");
  CString feed = u"f1";
  ASSERT_TRUE(agency_.DownloadFeed(feed, File("f1.xml"), 5));
  std::vector<std::string> seen = Requests();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_NE(seen[3].find("Cookie: SID=second\r\n"), std::string::npos);
  // The second login goes out with the User-Agent the downloader holds.
  EXPECT_EQ(Line(seen[2]), "POST /accounts/ClientLogin HTTP/1.1");
  EXPECT_NE(seen[2].find("\r\nUser-Agent: Quillet Mobile\r\n"), std::string::npos) << seen[2];

  // Both attempts fail: the feed is asked for twice, with one new login
  // between, and nothing more.
  feed = u"f2";
  EXPECT_FALSE(agency_.DownloadFeed(feed, File("f2.xml"), 5));
  seen = Requests();
  ASSERT_EQ(seen.size(), 7u);
  EXPECT_EQ(Line(seen[4]), "GET /reader/atom/feed/f2?n=5 HTTP/1.1");
  EXPECT_EQ(Line(seen[5]), "POST /accounts/ClientLogin HTTP/1.1");
  EXPECT_EQ(Line(seen[6]), "GET /reader/atom/feed/f2?n=5 HTTP/1.1");
  EXPECT_NE(seen[6].find("Cookie: SID=third\r\n"), std::string::npos);
}

TEST_F(AgencyTest, ASyncItemRetrySendsTheNewSidAndANewToken) {
  ASSERT_TRUE(Start({R("/accounts/ClientLogin", Ok("SID=one\n")), R("/reader/api/0/token", Ok("tok1")),
                     R("/reader/api/0/edit-tag", kFail), R("/accounts/ClientLogin", Ok("SID=two\n")),
                     R("/reader/api/0/token", Ok("tok2")), R("/reader/api/0/edit-tag", Ok("OK"))}));
  agency_.Login(u"a", u"b");
  ASSERT_TRUE(agency_.SyncItem(u"item", 1));
  std::vector<std::string> seen = Requests();
  ASSERT_EQ(seen.size(), 6u);
  EXPECT_NE(seen[2].find("Cookie: SID=one\r\n"), std::string::npos);
  EXPECT_NE(seen[2].find("&T=tok1"), std::string::npos);
  EXPECT_NE(seen[4].find("Cookie: SID=two\r\n"), std::string::npos);
  // Login and token requests keep the downloader's User-Agent.
  EXPECT_NE(seen[3].find("\r\nUser-Agent: Quillet Mobile\r\n"), std::string::npos) << seen[3];
  EXPECT_NE(seen[4].find("\r\nUser-Agent: Quillet Mobile\r\n"), std::string::npos) << seen[4];
  EXPECT_NE(seen[5].find("Cookie: SID=two\r\n"), std::string::npos);
  EXPECT_EQ(seen[5].find("SID=one"), std::string::npos);
  EXPECT_NE(seen[5].find("&T=tok2"), std::string::npos);
}

TEST_F(AgencyTest, TerminateEndsTheTransferWithoutARetry) {
  ASSERT_TRUE(Start({R("/accounts/ClientLogin", Ok("SID=s\n"), ", \"times\": 0"),
                     R("/reader/atom/feed/slow", "", ", \"silent\": true"),
                     R("/reader/atom/feed/quick", Ok("<feed/>"))}));
  agency_.Login(u"a", u"b");
  auto start = std::chrono::steady_clock::now();
  std::thread ui([&] {
    // Wait until the feed request reached the server, then cancel.
    while (Requests().size() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    agency_.Terminate();
  });
  CString feed = u"slow";
  EXPECT_FALSE(agency_.DownloadFeed(feed, File("slow.xml"), 5));
  ui.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
  EXPECT_EQ(Requests().size(), 2u);  // no new login, no second attempt
  // The next operation runs normally.
  feed = u"quick";
  EXPECT_TRUE(agency_.DownloadFeed(feed, File("quick.xml"), 5));
}

TEST_F(AgencyTest, TerminateDuringASlowFeedBodyFailsWithoutARetry) {
  std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + std::string(65536, 'f');
  ASSERT_TRUE(Start({R("/accounts/ClientLogin", Ok("SID=s\n"), ", \"times\": 0"),
                     R("/reader/atom/feed/big", head,
                       ", \"chunks\": [{\"data\": \"late\", \"delay_ms\": 20000}], \"hold\": true")}));
  agency_.Login(u"a", u"b");
  std::string host = *root_ + "/big.xml";
  auto start = std::chrono::steady_clock::now();
  std::thread ui([&] {
    // Wait until part of the body is stored, then cancel.
    for (;;) {
      struct stat st;
      if (stat(host.c_str(), &st) == 0 && st.st_size >= 8192) break;
      if (std::chrono::steady_clock::now() - start > std::chrono::seconds(10)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    agency_.Terminate();
  });
  CString feed = u"big";
  EXPECT_FALSE(agency_.DownloadFeed(feed, File("big.xml"), 5));
  ui.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  EXPECT_EQ(Requests().size(), 2u);  // one login, one feed request: no retry
}

TEST_F(AgencyTest, EnableLogSwitchesTheRunLog) {
  ASSERT_TRUE(Start({R("/accounts/ClientLogin", Ok("SID=s3ss10n-id\n", "Set-Cookie: SID=secret-cookie; path=/\r\n"),
                       ", \"times\": 0"),
                     R("/reader/api/0/subscription/list", Ok("<s/>"), ", \"times\": 0")}));
  // The log lives in the program's folder, which an installed reader has.
  std::filesystem::create_directories(*root_ + "/Program Files/Quillet");
  const std::string log = *root_ + "/Program Files/Quillet/Quillet_RunLog.txt";
  agency_.EnableLog(1);
  agency_.Login(u"a", u"b");
  agency_.GetSubscriptions(File("l1.xml"));
  agency_.EnableLog(0);
  std::string on = qtest::ReadHostFile(log);
  EXPECT_NE(on.find("CVentrelSync::GetSubscriptions()"), std::string::npos) << on;
  EXPECT_NE(on.find("CVentrelSync::Authenticate()"), std::string::npos);
  // The log is readable by anyone: it tells of the session, never its id,
  // nor the cookie the service sets.
  EXPECT_NE(on.find("Login succeeded: session opened"), std::string::npos) << on;
  EXPECT_EQ(on.find("s3ss10n-id"), std::string::npos) << on;
  EXPECT_EQ(on.find("secret-cookie"), std::string::npos) << on;
  EXPECT_NE(on.find("Set-Cookie: (value not logged)"), std::string::npos) << on;
  agency_.Login(u"a", u"b");
  agency_.GetSubscriptions(File("l2.xml"));
  EXPECT_EQ(qtest::ReadHostFile(log), on);  // nothing more once switched off
  EXPECT_EQ(Read("l2.xml"), "<s/>");
}

TEST_F(AgencyTest, TheProxyGivenBeforeLoginCarriesTheLogin) {
  qnet::TinyProxy proxy;
  QNET_REQUIRE_PEER(proxy.Start(), "tinyproxy");
  ASSERT_TRUE(Start({R("/accounts/ClientLogin", Ok("SID=p\n")), R("/reader/api/0/subscription/list", Ok("<s/>"))}));
  agency_.SetProxy(CString(qk::FromUtf8("127.0.0.1:" + std::to_string(proxy.port()))));
  agency_.Login(u"a", u"b");
  agency_.GetSubscriptions(File("s3.xml"));
  std::vector<std::string> seen = Requests();
  ASSERT_EQ(seen.size(), 2u);
  // Only a tunnel through the proxy lends its agent name.
  EXPECT_NE(seen[0].find("User-Agent: tinyproxy/"), std::string::npos);
  EXPECT_TRUE(server_.RequestsOverTls()[0]);
  // The later request goes through the same proxy.
  EXPECT_NE(seen[1].find("User-Agent: tinyproxy/"), std::string::npos);
  EXPECT_FALSE(server_.RequestsOverTls()[1]);
}

TEST_F(AgencyTest, DownloadFileDropsTheLogin) {
  ASSERT_TRUE(Start({R("/accounts/ClientLogin", Ok("SID=x\n"), ", \"times\": 0"), R("/reader/api/0/token", Ok("t")),
                     R("/any/file", Ok("file body")), R("/reader/api/0/edit-tag", Ok("OK"))}));
  agency_.Login(u"me", u"pw");
  CString url = CString(qk::FromUtf8("http://localhost:" + std::to_string(server_.port()) + "/any/file"));
  int unused1 = 0;
  CString unused2;
  ASSERT_TRUE(agency_.DownloadFile(url, File("any.txt"), unused1, unused2));
  EXPECT_EQ(Read("any.txt"), "file body");
  ASSERT_TRUE(agency_.SyncItem(u"i", 1));
  std::vector<std::string> seen = Requests();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(Line(seen[0]), "GET /any/file HTTP/1.1");
  EXPECT_EQ(seen[0].find("Cookie"), std::string::npos);
  EXPECT_NE(seen[1].find("\r\n\r\nEmail=&Passwd="), std::string::npos);
}

TEST_F(AgencyTest, WithoutALoginNothingHappens) {
  ASSERT_TRUE(Start({}));
  agency_.GetSubscriptions(File("none.xml"));
  CString feed = u"f";
  EXPECT_FALSE(agency_.DownloadFeed(feed, File("none.xml"), 1));
  EXPECT_FALSE(agency_.SyncItem(u"i", 1));
  agency_.Terminate();
  EXPECT_TRUE(Requests().empty());
}

TEST_F(AgencyTest, TheReceiveTimeOutBoundsEveryWait) {
  ASSERT_TRUE(Start({R("/accounts/ClientLogin", "", ", \"silent\": true, \"times\": 0")}));
  agency_.SetReceiveTimeout(300);
  agency_.Login(u"a", u"b");
  auto start = std::chrono::steady_clock::now();
  CString feed = u"f";
  EXPECT_FALSE(agency_.DownloadFeed(feed, File("t.xml"), 1));
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_GE(took, std::chrono::milliseconds(600));  // two logins waited for their time-out
}

TEST_F(AgencyTest, TheReceiveTimeOutSettingIsRead) {
  ASSERT_TRUE(Start({R("/accounts/ClientLogin", "", ", \"silent\": true, \"times\": 0")}));
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"\\Software\\Marrowby\\Quillet Reach\\Ventrel", 0, nullptr, 0, 0,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  DWORD ms = 250;
  RegSetValueExW(key, u"ReceiveTimeout", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&ms), sizeof ms);
  RegFlushKey(key);
  RegCloseKey(key);
  CVentrelAgency configured;
  configured.SetServiceHost(Host());
  configured.SetCaFile(CString(qk::FromUtf8(qnet::TestCertificates::Get().caFile)));
  configured.Login(u"a", u"b");
  auto start = std::chrono::steady_clock::now();
  configured.GetSubscriptions(File("rt.xml"));
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(200));
  EXPECT_LT(took, std::chrono::seconds(4));  // far below the 12 s default
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"\\Software\\Marrowby\\Quillet Reach\\Ventrel", 0, 0, &key),
            ERROR_SUCCESS);
  RegDeleteValueW(key, u"ReceiveTimeout");
  RegCloseKey(key);
}

TEST_F(AgencyTest, TheServiceHostHasADefaultAndASetting) {
  {
    CVentrelAgency agency;
    EXPECT_EQ(agency.GetServiceHost(), CString(VENTREL_DEFAULT_SERVICE_HOST));
    agency.SetServiceHost(u"sync.example:8080");
    EXPECT_EQ(agency.GetServiceHost(), CString(u"sync.example:8080"));
  }
  // The settings section names another host (written here, read by the
  // library's own copy of the registry layer).
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"\\Software\\Marrowby\\Quillet Reach\\Ventrel", 0, nullptr, 0, 0,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char16_t host[] = u"reader.example:81";
  RegSetValueExW(key, u"ServiceHost", 0, REG_SZ, reinterpret_cast<const BYTE*>(host), sizeof host);
  RegFlushKey(key);
  RegCloseKey(key);
  CVentrelAgency configured;
  EXPECT_EQ(configured.GetServiceHost(), CString(u"reader.example:81"));
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"\\Software\\Marrowby\\Quillet Reach\\Ventrel", 0, 0, &key),
            ERROR_SUCCESS);
  RegDeleteValueW(key, u"ServiceHost");
  RegCloseKey(key);
}

}  // namespace
