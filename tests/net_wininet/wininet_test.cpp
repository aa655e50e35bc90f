// The one-URL Internet API against a real nginx on loopback: bodies of any
// status, redirects, refused ports, the asynchronous status callback, bodies
// cut short, proxies, and the error texts.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "net/wininet.h"
#include "support/device_fixture.h"
#include "support/http_server.h"

namespace {

std::string Pattern(size_t n) {
  std::string s(n, 0);
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 1000) % 26);
  return s;
}

class WinInetTest : public qtest::DeviceTest {
 protected:
  static void SetUpTestSuite() {
    docroot_ = new std::string(qnet::MakeTempFolder("docroot"));
    qtest::WriteHostFile(*docroot_ + "/small.txt", "hello quillet\n");
    qtest::WriteHostFile(*docroot_ + "/large.bin", Pattern(300 * 1024));
    nginx_ = new qtest::NginxServer;
    nginxOk_ = nginx_->Start(*docroot_, /*tls=*/true);
  }
  static void TearDownTestSuite() {
    delete nginx_;
    std::error_code ec;
    std::filesystem::remove_all(*docroot_, ec);
    delete docroot_;
  }
  void SetUp() override {
    qtest::DeviceTest::SetUp();
    QNET_REQUIRE_PEER(nginxOk_, "nginx");
  }
  static std::u16string Url(const std::string& path) { return qk::FromUtf8(nginx_->Url(path)); }

  // Reads a whole body through a blocking session.
  static std::string ReadAll(HINTERNET request) {
    std::string body;
    char buffer[8192];
    DWORD got = 0;
    while (InternetReadFile(request, buffer, sizeof buffer, &got) && got > 0) body.append(buffer, got);
    return body;
  }
  static DWORD Status(HINTERNET request) {
    DWORD status = 0, length = sizeof status;
    HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr);
    return status;
  }

  static std::string* docroot_;
  static qtest::NginxServer* nginx_;
  static bool nginxOk_;
};
std::string* WinInetTest::docroot_ = nullptr;
qtest::NginxServer* WinInetTest::nginx_ = nullptr;
bool WinInetTest::nginxOk_ = false;

TEST_F(WinInetTest, BlockingSessionReadsBodiesOfEveryStatusAndFollowsRedirects) {
  HINTERNET session = InternetOpenW(u"Quillet Mobile", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  ASSERT_NE(session, nullptr);
  HINTERNET small = InternetOpenUrlW(session, Url("/small.txt").c_str(), nullptr, 0, 0, 0);
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(Status(small), 200u);
  EXPECT_EQ(ReadAll(small), "hello quillet\n");
  InternetCloseHandle(small);

  HINTERNET large = InternetOpenUrlW(session, Url("/large.bin").c_str(), nullptr, 0, 0, 0);
  ASSERT_NE(large, nullptr);
  EXPECT_EQ(ReadAll(large), Pattern(300 * 1024));
  InternetCloseHandle(large);

  HINTERNET missing = InternetOpenUrlW(session, Url("/missing.xml").c_str(), nullptr, 0, 0, 0);
  ASSERT_NE(missing, nullptr);
  EXPECT_EQ(Status(missing), 404u);
  EXPECT_EQ(ReadAll(missing), "not here: 404 page\n");
  InternetCloseHandle(missing);

  HINTERNET moved = InternetOpenUrlW(session, Url("/redirect").c_str(), nullptr, 0, 0, 0);
  ASSERT_NE(moved, nullptr);
  EXPECT_EQ(Status(moved), 200u);
  EXPECT_EQ(ReadAll(moved), "hello quillet\n");
  InternetCloseHandle(moved);
  EXPECT_TRUE(InternetCloseHandle(session));
  EXPECT_FALSE(InternetCloseHandle(session));
}

TEST_F(WinInetTest, RefusedPortsAndBadUrlsFailWithTheirCodesAndTexts) {
  HINTERNET session = InternetOpenW(u"Quillet Mobile", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  int closedPort = qnet::FreeLoopbackPort();
  std::u16string refused = qk::FromUtf8("http://127.0.0.1:" + std::to_string(closedPort) + "/x");
  EXPECT_EQ(InternetOpenUrlW(session, refused.c_str(), nullptr, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_CANNOT_CONNECT));
  EXPECT_EQ(InternetOpenUrlW(session, u"ftp://127.0.0.1/x", nullptr, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_UNRECOGNIZED_SCHEME));
  EXPECT_EQ(InternetOpenUrlW(session, u"no url at all", nullptr, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_INVALID_URL));
  InternetCloseHandle(session);

  WCHAR text[256];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, InternetModuleHandle(),
                           ERROR_INTERNET_CANNOT_CONNECT, 0, text, 256, nullptr);
  EXPECT_EQ(std::u16string(text, n), u"A connection with the server could not be established\r\n");
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE, InternetModuleHandle(), 0x800C0008u, 0, text, 256, nullptr),
            0u);
  EXPECT_EQ(InternetOpenW(u"a", INTERNET_OPEN_TYPE_PROXY, nullptr, nullptr, 0), nullptr);
}

TEST_F(WinInetTest, HttpsIsVerifiedAgainstTheSystemStore) {
  // The server's certificate is self-signed: no trusted authority vouches
  // for it, so the request is refused before any byte of the body.
  HINTERNET session = InternetOpenW(u"Quillet Mobile", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  std::u16string url = qk::FromUtf8(nginx_->TlsUrl("/small.txt"));
  EXPECT_EQ(InternetOpenUrlW(session, url.c_str(), nullptr, 0, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_INVALID_CA));
  WCHAR text[256];
  DWORD error = 0, length = 256;
  EXPECT_TRUE(InternetGetLastResponseInfoW(&error, text, &length));
  EXPECT_GT(length, 0u);  // the transfer's own account of the failure
  InternetCloseHandle(session);
}

struct Recorded {
  std::mutex lock;
  std::condition_variable cv;
  std::vector<DWORD> statuses;
  std::vector<INTERNET_ASYNC_RESULT> results;
  HINTERNET created = nullptr;
  int completes = 0;
};

void RecordingCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
  auto* r = reinterpret_cast<Recorded*>(context);
  std::lock_guard<std::mutex> g(r->lock);
  r->statuses.push_back(status);
  if (status == INTERNET_STATUS_HANDLE_CREATED) r->created = reinterpret_cast<HINTERNET>(static_cast<INTERNET_ASYNC_RESULT*>(info)->dwResult);
  if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
    r->results.push_back(*static_cast<INTERNET_ASYNC_RESULT*>(info));
    ++r->completes;
  }
  r->cv.notify_all();
}

bool WaitCompletes(Recorded& r, int n) {
  std::unique_lock<std::mutex> lock(r.lock);
  return r.cv.wait_for(lock, std::chrono::seconds(10), [&] { return r.completes >= n; });
}

TEST_F(WinInetTest, AsynchronousSessionReportsThroughTheCallback) {
  HINTERNET session = InternetOpenW(u"Quillet Mobile", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, INTERNET_FLAG_ASYNC);
  InternetSetStatusCallbackW(session, RecordingCallback);
  Recorded rec;
  EXPECT_EQ(InternetOpenUrlW(session, Url("/large.bin").c_str(), nullptr, 0, 0, reinterpret_cast<DWORD_PTR>(&rec)),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  ASSERT_TRUE(WaitCompletes(rec, 1));
  ASSERT_NE(rec.created, nullptr);
  EXPECT_EQ(rec.statuses.front(), static_cast<DWORD>(INTERNET_STATUS_HANDLE_CREATED));
  EXPECT_EQ(rec.results[0].dwError, 0u);
  HINTERNET request = rec.created;

  std::string body;
  std::vector<char> buffer(131073);
  for (;;) {
    INTERNET_BUFFERSA b{};
    b.dwStructSize = sizeof b;
    b.lpvBuffer = buffer.data();
    b.dwBufferLength = 131072;
    int before;
    {
      std::lock_guard<std::mutex> g(rec.lock);
      before = rec.completes;
    }
    if (!InternetReadFileExA(request, &b, IRF_SYNC, reinterpret_cast<DWORD_PTR>(&rec))) {
      ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
      ASSERT_TRUE(WaitCompletes(rec, before + 1));
      EXPECT_EQ(rec.results.back().dwError, 0u);
    }
    ASSERT_LE(b.dwBufferLength, 131072u);
    if (b.dwBufferLength == 0) break;
    body.append(buffer.data(), b.dwBufferLength);
  }
  EXPECT_EQ(body, Pattern(300 * 1024));
  InternetCloseHandle(request);
  EXPECT_EQ(rec.statuses.back(), static_cast<DWORD>(INTERNET_STATUS_HANDLE_CLOSING));

  // A refused port completes the request with its error.
  Recorded failed;
  std::u16string refused = qk::FromUtf8("http://127.0.0.1:" + std::to_string(qnet::FreeLoopbackPort()) + "/");
  EXPECT_EQ(InternetOpenUrlW(session, refused.c_str(), nullptr, 0, 0, reinterpret_cast<DWORD_PTR>(&failed)), nullptr);
  ASSERT_TRUE(WaitCompletes(failed, 1));
  EXPECT_EQ(failed.results[0].dwError, static_cast<DWORD>(ERROR_INTERNET_CANNOT_CONNECT));
  InternetCloseHandle(failed.created);
  InternetCloseHandle(session);
}

TEST_F(WinInetTest, BodyCutShortIsAReadErrorAndProxiesCarryTheRequest) {
  qtest::ScriptedHttpServer scripted;
  ASSERT_TRUE(scripted.Start());
  HINTERNET session = InternetOpenW(u"Quillet Mobile", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET cut = InternetOpenUrlW(session, qk::FromUtf8(scripted.Url("/truncated")).c_str(), nullptr, 0, 0, 0);
  ASSERT_NE(cut, nullptr);
  std::string body;
  char buffer[65536];
  DWORD got = 0;
  BOOL ok;
  while ((ok = InternetReadFile(cut, buffer, sizeof buffer, &got)) && got > 0) body.append(buffer, got);
  EXPECT_FALSE(ok);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_CONNECTION_RESET));
  EXPECT_EQ(body.size(), 100000u);
  InternetCloseHandle(cut);
  // Closing a request whose server stays silent ends at once.
  HINTERNET silent = InternetOpenUrlW(session, qk::FromUtf8(scripted.Url("/silent")).c_str(), nullptr, 0, 0, 0);
  ASSERT_NE(silent, nullptr);
  EXPECT_TRUE(InternetCloseHandle(silent));
  InternetCloseHandle(session);

  qnet::TinyProxy proxy;
  ASSERT_TRUE(proxy.Start());
  std::u16string proxyText = qk::FromUtf8("127.0.0.1:" + std::to_string(proxy.port()));
  HINTERNET proxied = InternetOpenW(u"Quillet Mobile", INTERNET_OPEN_TYPE_PROXY, proxyText.c_str(), nullptr, 0);
  HINTERNET viaProxy = InternetOpenUrlW(proxied, Url("/small.txt?via-proxy").c_str(), nullptr, 0, 0, 0);
  ASSERT_NE(viaProxy, nullptr);
  EXPECT_EQ(ReadAll(viaProxy), "hello quillet\n");
  InternetCloseHandle(viaProxy);
  InternetCloseHandle(proxied);
  // nginx logged the request with the proxy's Via header.
  EXPECT_NE(nginx_->WaitForLogLine("/small.txt?via-proxy").find("tinyproxy"), std::string::npos) << nginx_->AccessLog();
}

TEST_F(WinInetTest, KeptConnectionsThatTheServerClosedAreNotReused) {
  // Each answer looks like one that keeps the connection (HTTP/1.1 with a
  // length), but the server closes every connection after one answer.
  qnet::ScriptedServer oneShot;
  ASSERT_TRUE(oneShot.Start(
      R"({"rules": [{"path": "/once", "times": 0,
                     "response": "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"}]})"));
  std::u16string once = qk::FromUtf8(oneShot.Url("/once"));
  for (DWORD flags : {DWORD(0), DWORD(INTERNET_FLAG_ASYNC)}) {
    HINTERNET session = InternetOpenW(u"Quillet Mobile", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, flags);
    ASSERT_NE(session, nullptr);
    if (flags) InternetSetStatusCallbackW(session, RecordingCallback);
    for (int i = 0; i < 3; ++i) {
      // nginx keeps its connection between the requests; the scripted one
      // must be reached on a new connection every time.
      for (const std::u16string& url : {Url("/small.txt"), once}) {
        Recorded rec;
        HINTERNET request =
            InternetOpenUrlW(session, url.c_str(), nullptr, 0, 0, reinterpret_cast<DWORD_PTR>(&rec));
        if (flags) {
          ASSERT_EQ(request, nullptr);
          ASSERT_TRUE(WaitCompletes(rec, 1));
          ASSERT_EQ(rec.results[0].dwError, 0u);
          request = rec.created;
        }
        ASSERT_NE(request, nullptr);
        EXPECT_EQ(Status(request), 200u);
        EXPECT_EQ(ReadAll(request), url == once ? "hello" : "hello quillet\n");
        EXPECT_TRUE(InternetCloseHandle(request));
      }
    }
    InternetCloseHandle(session);
  }
  EXPECT_EQ(oneShot.Requests().size(), 6u);

  // A request closed while its server is silent ends at once, and the
  // next request to that server is served on a new connection.
  qtest::ScriptedHttpServer scripted;
  ASSERT_TRUE(scripted.Start());
  HINTERNET session = InternetOpenW(u"Quillet Mobile", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET silent = InternetOpenUrlW(session, qk::FromUtf8(scripted.Url("/silent")).c_str(), nullptr, 0, 0, 0);
  ASSERT_NE(silent, nullptr);
  auto closing = std::chrono::steady_clock::now();
  EXPECT_TRUE(InternetCloseHandle(silent));
  EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::milliseconds(500));
  HINTERNET cut = InternetOpenUrlW(session, qk::FromUtf8(scripted.Url("/truncated")).c_str(), nullptr, 0, 0, 0);
  ASSERT_NE(cut, nullptr);
  std::string body;
  char buffer[65536];
  DWORD got = 0;
  while (InternetReadFile(cut, buffer, sizeof buffer, &got) && got > 0) body.append(buffer, got);
  EXPECT_EQ(body.size(), 100000u);
  InternetCloseHandle(cut);
  InternetCloseHandle(session);
}

}  // namespace

namespace {

// The address of nginx's small file with the host and port written as
// given ("%PORT%" stands for the server's port).
std::u16string Spelt(const std::u16string& pattern, int port) {
  std::u16string out = pattern;
  if (size_t at = out.find(u"%PORT%"); at != std::u16string::npos) out.replace(at, 6, qk::FromUtf8(std::to_string(port)));
  return out;
}

}  // namespace

// Addresses are read as the rest of the system reads them: spellings it
// accepts reach the same file (an "@" in the user information, an escaped
// host name, a port with leading zeros, an upper-case scheme), and what it
// refuses fails as a bad address without a connection.
TEST_F(WinInetTest, AddressesAreReadAsTheOneParseReadsThem) {
  HINTERNET session = InternetOpenW(u"Quillet Mobile", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  ASSERT_NE(session, nullptr);
  for (const char16_t* pattern : {u"HTTP://127.0.0.1:%PORT%/small.txt", u"http://us@er:p@w@127.0.0.1:%PORT%/small.txt",
                                  u"http://%31%32%37.0.0.1:%PORT%/small.txt", u"http://127.0.0.1:00%PORT%/small.txt"}) {
    const std::u16string url = Spelt(pattern, nginx_->port());
    HINTERNET request = InternetOpenUrlW(session, url.c_str(), nullptr, 0, 0, 0);
    ASSERT_NE(request, nullptr) << qk::ToUtf8(url) << " error " << GetLastError();
    EXPECT_EQ(Status(request), 200u) << qk::ToUtf8(url);
    EXPECT_EQ(ReadAll(request), "hello quillet\n") << qk::ToUtf8(url);
    InternetCloseHandle(request);
  }
  for (const char16_t* pattern : {u"http://127.0.0.1:%PORT%:1/small.txt", u"http://[]/small.txt",
                                  u"http://[::1]0:%PORT%/small.txt", u"http://127.0.0.1:0/small.txt",
                                  u"http://127.0.0.1\u0085:%PORT%/small.txt", u"http://%2F:%PORT%/small.txt"}) {
    const std::u16string url = Spelt(pattern, nginx_->port());
    EXPECT_EQ(InternetOpenUrlW(session, url.c_str(), nullptr, 0, 0, 0), nullptr) << qk::ToUtf8(url);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INTERNET_INVALID_URL)) << qk::ToUtf8(url);
  }
  InternetCloseHandle(session);
}
