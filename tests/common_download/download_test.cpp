// The one-URL downloader against a real nginx (and tinyproxy) on loopback,
// and the start of the page-fetch program with a stand-in program.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "common/settings.h"
#include "common/url_download.h"
#include "kernel/kernel.h"
#include "kernel/localmem.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "support/http_server.h"
#include "support/settings_registry.h"

namespace {

std::string Pattern(size_t n) {
  std::string s(n, 0);
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('A' + (i * 13 + i / 4096) % 26);
  return s;
}

struct Progress {
  WPARAM received;
  LPARAM done;
};
std::vector<Progress> g_progress;

LRESULT ProgressProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_URL_DOWNLOAD_PROGRESS) {
    g_progress.push_back({wParam, lParam});
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

class DownloadTest : public qtest::DeviceTest {
 protected:
  static void SetUpTestSuite() {
    docroot_ = new std::string(qnet::MakeTempFolder("docroot"));
    qtest::WriteHostFile(*docroot_ + "/small.txt", "hello quillet\n");
    qtest::WriteHostFile(*docroot_ + "/with space.txt", "blank in the name\n");
    qtest::WriteHostFile(*docroot_ + "/caf\xc3\xa9 menu.txt", "accent and blank\n");
    qtest::WriteHostFile(*docroot_ + "/large.bin", Pattern(300 * 1024 + 17));
    std::filesystem::create_directories(*docroot_ + "/slow");
    qtest::WriteHostFile(*docroot_ + "/slow/feed.xml", Pattern(4 << 20));
    nginx_ = new qtest::NginxServer;
    nginxOk_ = nginx_->Start(*docroot_);
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
    g_progress.clear();
    ClearUrlDownloadAbort();
    SetUrlDownloadProxy(FALSE, nullptr);
    SetUrlDownloadWaits(30000, 50000);
    window_ = qtest::CreateHostWindow(u"ProgressWatcher", ProgressProc, 1, 1);
  }
  void TearDown() override {
    DestroyWindow(window_);
    qtest::DeviceTest::TearDown();
  }
  static std::u16string Url(const std::string& path) { return qk::FromUtf8(nginx_->Url(path)); }

  // Runs a download on a worker thread, as the refresh run does, while this
  // thread pumps the progress messages sent to its window.
  HRESULT DownloadOnWorker(const std::u16string& url, LPCWSTR file, HWND window, DWORD* code, CString* text,
                           LPBYTE* memory = nullptr, DWORD* size = nullptr) {
    std::atomic<bool> done{false};
    HRESULT hr = E_FAIL;
    std::thread worker([&] {
      hr = InternetDownloadFile(url.c_str(), file, code, *text, window, memory, size);
      done = true;
    });
    EXPECT_TRUE(qk::PumpMessagesUntil([&] { return done.load(); }, 30000));
    worker.join();
    qk::PumpMessages();
    return hr;
  }

  static std::string* docroot_;
  static qtest::NginxServer* nginx_;
  static bool nginxOk_;
  HWND window_ = nullptr;
};
std::string* DownloadTest::docroot_ = nullptr;
qtest::NginxServer* DownloadTest::nginx_ = nullptr;
bool DownloadTest::nginxOk_ = false;

TEST_F(DownloadTest, SmallAndLargeBodiesIntoAFileWithProgressToTheWindow) {
  DWORD code = 99, size = 0;
  CString text;
  EXPECT_EQ(DownloadOnWorker(Url("/small.txt"), u"\\Ch001~.xml", window_, &code, &text, nullptr, &size), 0);
  EXPECT_EQ(ReadDeviceFile(u"\\Ch001~.xml"), "hello quillet\n");
  EXPECT_EQ(size, 14u);
  ASSERT_EQ(g_progress.size(), 2u);
  EXPECT_EQ(g_progress[0].received, 14u);
  EXPECT_EQ(g_progress[0].done, 0);
  EXPECT_EQ(g_progress[1].received, 14u);
  EXPECT_EQ(g_progress[1].done, 1);

  g_progress.clear();
  const size_t large = 300 * 1024 + 17;
  EXPECT_EQ(DownloadOnWorker(Url("/large.bin"), u"\\Ch002~.xml", window_, &code, &text, nullptr, &size), 0);
  EXPECT_EQ(ReadDeviceFile(u"\\Ch002~.xml"), Pattern(large));
  EXPECT_EQ(size, large);
  ASSERT_GE(g_progress.size(), 4u);  // blocks of at most 128 KB, then the end
  for (size_t i = 1; i + 1 < g_progress.size(); ++i) EXPECT_GT(g_progress[i].received, g_progress[i - 1].received);
  EXPECT_EQ(g_progress.back().received, large);
  EXPECT_EQ(g_progress.back().done, 1);
}

TEST_F(DownloadTest, IntoMemoryZeroTerminatedAndProgressBroadcastWithoutAWindow) {
  DWORD code = 0, size = 0;
  CString text;
  LPBYTE memory = nullptr;
  const size_t large = 300 * 1024 + 17;
  EXPECT_EQ(DownloadOnWorker(Url("/large.bin"), nullptr, nullptr, &code, &text, &memory, &size), 0);
  ASSERT_NE(memory, nullptr);
  EXPECT_EQ(size, large);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(memory), size), Pattern(large));
  EXPECT_GT(LocalSize(memory), static_cast<SIZE_T>(size));
  EXPECT_EQ(memory[size], 0);
  EXPECT_EQ(std::strlen(reinterpret_cast<char*>(memory)), size);
  LocalFree(memory);
  // Broadcast progress reached this program's top-level window.
  ASSERT_FALSE(g_progress.empty());
  EXPECT_EQ(g_progress.back().received, large);
  EXPECT_EQ(g_progress.back().done, 1);

  memory = nullptr;
  EXPECT_EQ(InternetDownloadFile(Url("/small.txt").c_str(), nullptr, &code, text, nullptr, &memory, &size), 0);
  ASSERT_NE(memory, nullptr);
  EXPECT_STREQ(reinterpret_cast<char*>(memory), "hello quillet\n");
  LocalFree(memory);
}

// An error page is no document: a status of 400 or more fails before the
// file is touched; a redirect is followed to its document.
TEST_F(DownloadTest, ErrorStatusesFailAndRedirectsAreDownloads) {
  DWORD code = 0, size = 7;
  CString text;
  WriteDeviceFile(u"\\missing.xml", "stored before");
  EXPECT_EQ(DownloadOnWorker(Url("/missing.xml"), u"\\missing.xml", window_, &code, &text, nullptr, &size),
            INET_E_DOWNLOAD_FAILURE);
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_INTERNET_EXTENDED_ERROR));
  EXPECT_EQ(CString(u"HTTP/1.1 404 Not Found"), text);
  EXPECT_EQ(ReadDeviceFile(u"\\missing.xml"), "stored before");
  ASSERT_EQ(g_progress.size(), 1u);
  EXPECT_EQ(g_progress[0].received, static_cast<WPARAM>(-1));
  EXPECT_EQ(g_progress[0].done, 1);

  qnet::ScriptedServer server;
  ASSERT_TRUE(server.Start(R"({"rules": [{"path": "/broken", "times": 0,
      "response": "HTTP/1.1 500 Internal Oops\r\nContent-Length: 5\r\nConnection: close\r\n\r\noops!"},
      {"path": "/fine", "response": "HTTP/1.1 399 Odd\r\nContent-Length: 4\r\nConnection: close\r\n\r\nodd."}]})"));
  LPBYTE memory = reinterpret_cast<LPBYTE>(1);
  EXPECT_EQ(InternetDownloadFile(qk::FromUtf8(server.Url("/broken")).c_str(), nullptr, &code, text, nullptr, &memory,
                                 &size),
            INET_E_DOWNLOAD_FAILURE);
  EXPECT_EQ(memory, nullptr);
  EXPECT_EQ(CString(u"HTTP/1.1 500 Internal Oops"), text);
  // Below 400 the body is the download.
  EXPECT_EQ(InternetDownloadFile(qk::FromUtf8(server.Url("/fine")).c_str(), u"\\odd.txt", &code, text, nullptr, nullptr,
                                 &size),
            0);
  EXPECT_EQ(ReadDeviceFile(u"\\odd.txt"), "odd.");

  EXPECT_EQ(InternetDownloadFile(Url("/redirect").c_str(), u"\\moved.txt", &code, text, nullptr, nullptr, &size), 0);
  EXPECT_EQ(ReadDeviceFile(u"\\moved.txt"), "hello quillet\n");
}

// A blank in the URL is percent-encoded as the platform's canonical form
// has it, not a request that fails.
TEST_F(DownloadTest, AUrlWithABlankIsCanonicalised) {
  DWORD code = 0, size = 0;
  CString text;
  EXPECT_EQ(InternetDownloadFile(Url("/with space.txt").c_str(), u"\\space.txt", &code, text, nullptr, nullptr, &size),
            0)
      << qk::ToUtf8(std::u16string(static_cast<LPCWSTR>(text)));
  EXPECT_EQ(ReadDeviceFile(u"\\space.txt"), "blank in the name\n");
  EXPECT_NE(nginx_->WaitForLogLine("/with%20space.txt"), "");
  // A character beyond ASCII goes as its UTF-8 bytes, percent-encoded.
  EXPECT_EQ(InternetDownloadFile(Url("/caf\u00e9 menu.txt?x=a b").c_str(), u"\\menu.txt", &code, text, nullptr, nullptr,
                                 &size),
            0);
  EXPECT_EQ(ReadDeviceFile(u"\\menu.txt"), "accent and blank\n");
  EXPECT_NE(nginx_->WaitForLogLine("/caf%C3%A9%20menu.txt?x=a%20b"), "") << nginx_->AccessLog();
}

TEST_F(DownloadTest, RefusedPortFailsWithCodeTextAndFinalProgress) {
  WriteDeviceFile(u"\\kept.xml", "stored before");
  DWORD code = 0, size = 5;
  CString text;
  std::u16string refused = qk::FromUtf8("http://127.0.0.1:" + std::to_string(qnet::FreeLoopbackPort()) + "/feed");
  EXPECT_EQ(DownloadOnWorker(refused, u"\\kept.xml", window_, &code, &text, nullptr, &size), INET_E_DOWNLOAD_FAILURE);
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_INTERNET_CANNOT_CONNECT));
  EXPECT_EQ(CString(u"A connection with the server could not be established\r\n"), text);
  ASSERT_EQ(g_progress.size(), 1u);
  EXPECT_EQ(g_progress[0].received, static_cast<WPARAM>(-1));
  EXPECT_EQ(g_progress[0].done, 1);
  EXPECT_EQ(ReadDeviceFile(u"\\kept.xml"), "stored before");  // nothing written

  // Bad URLs fail the same way, with their own codes and texts.
  g_progress.clear();
  EXPECT_EQ(DownloadOnWorker(u"feeds.example/rss", u"\\kept.xml", window_, &code, &text), INET_E_DOWNLOAD_FAILURE);
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_INTERNET_INVALID_URL));
  EXPECT_EQ(CString(u"The URL is invalid\r\n"), text);
  EXPECT_EQ(DownloadOnWorker(u"gopher://feeds.example/rss", u"\\kept.xml", window_, &code, &text),
            INET_E_DOWNLOAD_FAILURE);
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_INTERNET_UNRECOGNIZED_SCHEME));
  EXPECT_EQ(CString(u"The URL does not use a recognized protocol\r\n"), text);
  ASSERT_EQ(g_progress.size(), 2u);
  EXPECT_EQ(g_progress[1].received, static_cast<WPARAM>(-1));
  EXPECT_EQ(g_progress[1].done, 1);
  EXPECT_EQ(ReadDeviceFile(u"\\kept.xml"), "stored before");
}

TEST_F(DownloadTest, UncreatableFileAndBodyCutShortAreFailures) {
  DWORD code = 0, size = 0;
  CString text;
  EXPECT_EQ(InternetDownloadFile(Url("/small.txt").c_str(), u"\\No Such Folder\\x.xml", &code, text, nullptr, nullptr,
                                 &size),
            INET_E_DOWNLOAD_FAILURE);
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(text.IsEmpty());

  qtest::ScriptedHttpServer scripted;
  ASSERT_TRUE(scripted.Start());
  LPBYTE memory = reinterpret_cast<LPBYTE>(1);
  EXPECT_EQ(InternetDownloadFile(qk::FromUtf8(scripted.Url("/truncated")).c_str(), u"\\cut.xml", &code, text, nullptr,
                                 &memory, &size),
            INET_E_DOWNLOAD_FAILURE);
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_INTERNET_CONNECTION_RESET));
  EXPECT_EQ(memory, nullptr);
  EXPECT_FALSE(DeviceFileExists(u"\\cut.xml"));  // no short file to be taken for a feed
}

TEST_F(DownloadTest, AnswerOrBodyThatNeverComesTimesOutAsAFailure) {
  qtest::ScriptedHttpServer scripted;
  ASSERT_TRUE(scripted.Start());
  SetUrlDownloadWaits(300, 300);
  DWORD code = 0;
  CString text;
  WriteDeviceFile(u"\\held.xml", "stored before");
  // Headers, then silence: the first read never completes.
  EXPECT_EQ(DownloadOnWorker(qk::FromUtf8(scripted.Url("/silent")), u"\\held.xml", window_, &code, &text),
            INET_E_DOWNLOAD_FAILURE);
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
  EXPECT_EQ(CString(u"The operation timed out\r\n"), text);
  EXPECT_FALSE(DeviceFileExists(u"\\held.xml"));  // no empty file to be taken for a feed
  ASSERT_FALSE(g_progress.empty());
  EXPECT_EQ(g_progress.back().received, static_cast<WPARAM>(-1));
  EXPECT_EQ(g_progress.back().done, 1);

  // No answer at all: the request itself times out; nothing is written.
  WriteDeviceFile(u"\\held.xml", "stored before");
  EXPECT_EQ(DownloadOnWorker(qk::FromUtf8(scripted.Url("/mute")), u"\\held.xml", window_, &code, &text),
            INET_E_DOWNLOAD_FAILURE);
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
  EXPECT_EQ(ReadDeviceFile(u"\\held.xml"), "stored before");
}

TEST_F(DownloadTest, StopSignalEndsASlowTransferWithinASecond) {
  DWORD code = 0, size = 0;
  CString text;
  std::atomic<bool> done{false};
  HRESULT hr = E_FAIL;
  std::chrono::steady_clock::time_point stoppedAt;
  std::thread worker([&] {
    hr = InternetDownloadFile(Url("/slow/feed.xml").c_str(), u"\\slow.xml", &code, text, window_, nullptr, &size);
    done = true;
  });
  // Stop once the first block has arrived.
  ASSERT_TRUE(qk::PumpMessagesUntil([] { return !g_progress.empty(); }, 20000));
  stoppedAt = std::chrono::steady_clock::now();
  StopUrlDownload();
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return done.load(); }, 5000));
  worker.join();
  EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, std::chrono::seconds(1));
  EXPECT_EQ(hr, 0);
  EXPECT_TRUE(IsUrlDownloadAborted());
  EXPECT_GT(size, 0u);
  EXPECT_LT(size, static_cast<DWORD>(4 << 20));
  EXPECT_FALSE(DeviceFileExists(u"\\slow.xml"));  // no part of the feed left to be taken for it
  qk::PumpMessages();
  EXPECT_EQ(g_progress.back().received, static_cast<WPARAM>(size));
  EXPECT_EQ(g_progress.back().done, 1);
}

// The abort flag is looked at after every block, also when no stop signal
// woke the transfer: a flag left raised stops the next transfer after its
// first block, and no part of the document is left. Clearing the flag, as
// each operation the user starts does, lets the transfer run whole.
TEST_F(DownloadTest, ARaisedAbortFlagStopsAfterTheFirstBlockUntilCleared) {
  StopUrlDownload();  // no transfer open: only the flag stays raised
  qk::PumpMessages();
  ASSERT_TRUE(IsUrlDownloadAborted());
  const DWORD large = 300 * 1024 + 17;
  DWORD code = 0, size = 0;
  CString text;
  LPBYTE memory = nullptr;
  WriteDeviceFile(u"\\cut.bin", "stored before");
  EXPECT_EQ(DownloadOnWorker(Url("/large.bin"), u"\\cut.bin", window_, &code, &text, &memory, &size), 0);
  EXPECT_GT(size, 0u);
  EXPECT_LE(size, 131072u);
  EXPECT_FALSE(DeviceFileExists(u"\\cut.bin"));
  EXPECT_EQ(memory, nullptr);
  ASSERT_FALSE(g_progress.empty());
  EXPECT_EQ(g_progress.back().received, static_cast<WPARAM>(size));
  EXPECT_EQ(g_progress.back().done, 1);

  ClearUrlDownloadAbort();
  EXPECT_EQ(DownloadOnWorker(Url("/large.bin"), u"\\cut.bin", window_, &code, &text, &memory, &size), 0);
  EXPECT_EQ(size, large);
  EXPECT_EQ(ReadDeviceFile(u"\\cut.bin"), Pattern(large));
  ASSERT_NE(memory, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(memory), size), Pattern(large));
  LocalFree(memory);
}

// A read left pending that then fails (the server closes before the
// announced length) fails the transfer: it is not the end of the data.
TEST_F(DownloadTest, AReadThatFailsWhilePendingFailsTheTransfer) {
  qnet::ScriptedServer server;
  ASSERT_TRUE(server.Start(R"({"rules": [{"path": "/cut", "times": 0,
      "response": "HTTP/1.1 200 OK\r\nContent-Length: 500000\r\nConnection: close\r\n\r\n",
      "chunks": [{"data": "first part of the feed"}, {"data": "", "delay_ms": 400}]}]})"));
  DWORD code = 0, size = 0;
  CString text;
  LPBYTE memory = reinterpret_cast<LPBYTE>(1);
  WriteDeviceFile(u"\\pending.xml", "stored before");
  EXPECT_EQ(DownloadOnWorker(qk::FromUtf8(server.Url("/cut")), u"\\pending.xml", window_, &code, &text, &memory, &size),
            INET_E_DOWNLOAD_FAILURE);
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_INTERNET_CONNECTION_RESET));
  EXPECT_FALSE(text.IsEmpty());
  EXPECT_EQ(memory, nullptr);
  EXPECT_FALSE(DeviceFileExists(u"\\pending.xml"));
  // The first part arrived and was counted before the failure.
  ASSERT_GE(g_progress.size(), 2u);
  EXPECT_EQ(g_progress[g_progress.size() - 2].received, 22u);
  EXPECT_EQ(g_progress.back().received, static_cast<WPARAM>(-1));
}

// Hostile answers: a redirect to another protocol is not followed; lengths
// that disagree or overflow and coded bodies (no coding is asked for, and a
// cut stream would decode to a cut document) are no body; a body that comes
// a byte at a time times out although every single read completes.
TEST_F(DownloadTest, ForeignRedirectsAmbiguousLengthsAndCrawlingBodiesFail) {
  qnet::ScriptedServer ftp;  // would hold an FTP client that waits for a greeting
  ASSERT_TRUE(ftp.Start(R"({"raw": true, "rules": [{"times": 0, "silent": true}]})"));
  std::string crawl;
  for (int i = 0; i < 40; ++i) crawl += std::string(i ? ", " : "") + R"({"data": "x", "delay_ms": 100})";
  qnet::ScriptedServer server;
  ASSERT_TRUE(server.Start(
      R"({"rules": [{"path": "/to-ftp", "response": "HTTP/1.1 302 Found\r\nLocation: ftp://127.0.0.1:)" +
      std::to_string(ftp.port()) + R"(/feed.xml\r\nContent-Length: 0\r\n\r\n"},
      {"path": "/two-lengths", "response": "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 5\r\n\r\nabcde"},
      {"path": "/length-list", "response": "HTTP/1.1 200 OK\r\nContent-Length: 3, 5\r\n\r\nabcde"},
      {"path": "/huge-length", "response": "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\nabc"},
      {"path": "/half-gzip", "response_b64": "SFRUUC8xLjEgMjAwIE9LDQpDb250ZW50LUVuY29kaW5nOiBnemlwDQpDb250ZW50LUxlbmd0aDogMzYNCg0KH4sIAAAAAAACA+3XsQ0AIAgAwZFYgLANBQkWCu5vdAirL/82"},
      {"path": "/crawl", "response": "HTTP/1.1 200 OK\r\n\r\n", "chunks": [)" + crawl + "]}]}"));
  SetUrlDownloadWaits(3000, 1000);
  struct {
    const char* path;
    DWORD code;
  } cases[] = {{"/to-ftp", ERROR_INTERNET_CANNOT_CONNECT},
               {"/two-lengths", ERROR_INTERNET_CANNOT_CONNECT},
               {"/length-list", ERROR_INTERNET_CANNOT_CONNECT},
               {"/huge-length", ERROR_INTERNET_CANNOT_CONNECT},
               // The first half of a gzip stream, announced with its own length.
               {"/half-gzip", ERROR_INTERNET_CANNOT_CONNECT},
               {"/crawl", ERROR_INTERNET_TIMEOUT}};
  for (const auto& c : cases) {
    WriteDeviceFile(u"\\hostile.xml", "stored before");
    DWORD code = 0, size = 0;
    CString text;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(InternetDownloadFile(qk::FromUtf8(server.Url(c.path)).c_str(), u"\\hostile.xml", &code, text, nullptr,
                                   nullptr, &size),
              INET_E_DOWNLOAD_FAILURE)
        << c.path;
    EXPECT_EQ(code, c.code) << c.path;
    // Neither the open wait (3 s) nor the whole crawl (4 s) is waited out.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500)) << c.path;
    if (std::string(c.path) == "/crawl") EXPECT_FALSE(DeviceFileExists(u"\\hostile.xml"));
    else EXPECT_EQ(ReadDeviceFile(u"\\hostile.xml"), "stored before") << c.path;
  }
}

TEST_F(DownloadTest, StopWhileWaitingForTheAnswerEndsTheOpenAsAFailure) {
  qtest::ScriptedHttpServer scripted;
  ASSERT_TRUE(scripted.Start());
  std::u16string url = qk::FromUtf8(scripted.Url("/mute"));
  DWORD code = 0, size = 0;
  CString text;
  std::atomic<bool> done{false};
  HRESULT hr = 0;
  std::thread worker([&] {
    hr = InternetDownloadFile(url.c_str(), u"\\mute.xml", &code, text, nullptr, nullptr, &size);
    done = true;
  });
  // Stop again and again until the download gives up: some stops come
  // before its events exist, the others end its wait for the answer.
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(qk::PumpMessagesUntil([&] {
    StopUrlDownload();
    return done.load();
  }, 10000));
  worker.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(hr, INET_E_DOWNLOAD_FAILURE);
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_INTERNET_OPERATION_CANCELLED));
  EXPECT_FALSE(DeviceFileExists(u"\\mute.xml"));
}

// A download on another thread; done is raised when it has returned.
struct Download {
  HRESULT hr = E_FAIL;
  DWORD code = 0, size = 0;
  CString text;
  std::atomic<bool> done{false};
  std::thread thread;
  void Start(const std::u16string& url, LPCWSTR file, HWND window = nullptr) {
    thread = std::thread([this, url, file, window] {
      hr = InternetDownloadFile(url.c_str(), file, &code, text, window, nullptr, &size);
      done = true;
    });
  }
};

// Two threads may download at once (a refresh's feed beside the download
// manager's image): each ends with its own result, woken by its own request.
TEST_F(DownloadTest, TransfersOnSeveralThreadsAtOnceEachGetTheirOwnResult) {
  qtest::ScriptedHttpServer scripted;
  ASSERT_TRUE(scripted.Start());
  SetUrlDownloadWaits(20000, 20000);  // far beyond what loopback answers need
  Download held, missing, whole;
  held.Start(qk::FromUtf8(scripted.Url("/gated/feed")), u"\\held.xml");
  ASSERT_TRUE(scripted.WaitForRequest("/gated/feed"));
  // Two more begin and end, side by side, while the first waits.
  missing.Start(Url("/missing.xml"), u"\\missing.png");
  whole.Start(Url("/large.bin"), u"\\whole.bin");
  EXPECT_TRUE(qk::PumpMessagesUntil([&] { return missing.done && whole.done; }, 15000));
  scripted.Open("feed");
  EXPECT_TRUE(qk::PumpMessagesUntil([&] { return held.done.load(); }, 15000));
  for (Download* d : {&held, &missing, &whole}) d->thread.join();

  EXPECT_EQ(missing.hr, INET_E_DOWNLOAD_FAILURE);
  EXPECT_EQ(missing.code, static_cast<DWORD>(ERROR_INTERNET_EXTENDED_ERROR));
  EXPECT_EQ(CString(u"HTTP/1.1 404 Not Found"), missing.text);
  EXPECT_EQ(whole.hr, 0);
  EXPECT_TRUE(ReadDeviceFile(u"\\whole.bin") == Pattern(300 * 1024 + 17));
  EXPECT_EQ(held.hr, 0) << qk::ToUtf8(std::u16string(static_cast<LPCWSTR>(held.text)));
  EXPECT_EQ(ReadDeviceFile(u"\\held.xml"), qtest::ScriptedHttpServer::kGatedPage);
}

TEST_F(DownloadTest, StopWithoutATransferBroadcastsTheEndMessage) {
  std::vector<UINT> seen;
  // This program's own top-level window receives the broadcast too.
  StopUrlDownload();
  MSG m;
  bool found = false;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
    if (m.message == WM_URL_DOWNLOAD_END && m.hwnd == window_ && m.wParam == 0 && m.lParam == 0) found = true;
  EXPECT_TRUE(found);
  EXPECT_TRUE(IsUrlDownloadAborted());
}

TEST_F(DownloadTest, TheRequestIsAPlainGetWithTheProgramsAgent) {
  qnet::ScriptedServer server;
  ASSERT_TRUE(server.Start(R"({"rules": [{"path": "/agent", "times": 0,
      "response": "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok"}]})"));
  DWORD code = 0, size = 0;
  CString text;
  LPBYTE memory = nullptr;
  EXPECT_EQ(InternetDownloadFile(qk::FromUtf8(server.Url("/agent?x=1")).c_str(), nullptr, &code, text, nullptr,
                                 &memory, &size),
            0);
  ASSERT_NE(memory, nullptr);
  EXPECT_STREQ(reinterpret_cast<char*>(memory), "ok");
  LocalFree(memory);
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].rfind("GET /agent?x=1 HTTP/1.1\r\n", 0), 0u) << requests[0];
  EXPECT_NE(requests[0].find("\r\nUser-Agent: Quillet Mobile\r\n"), std::string::npos) << requests[0];
  EXPECT_EQ(requests[0].find("Accept-Encoding"), std::string::npos) << requests[0];  // no coded body asked for
}

TEST_F(DownloadTest, ProxyCarriesTheTransfer) {
  qnet::TinyProxy proxy;
  ASSERT_TRUE(proxy.Start());
  std::u16string text16 = qk::FromUtf8("127.0.0.1:" + std::to_string(proxy.port()));
  SetUrlDownloadProxy(TRUE, text16.c_str());
  DWORD code = 0, size = 0;
  CString text;
  EXPECT_EQ(InternetDownloadFile(Url("/small.txt?proxied").c_str(), u"\\p.txt", &code, text, nullptr, nullptr, &size), 0);
  SetUrlDownloadProxy(FALSE, nullptr);
  EXPECT_EQ(ReadDeviceFile(u"\\p.txt"), "hello quillet\n");
  // nginx logged the request with the proxy's Via header.
  EXPECT_NE(nginx_->WaitForLogLine("/small.txt?proxied").find("tinyproxy"), std::string::npos) << nginx_->AccessLog();
}

class FetchProgramTest : public DownloadTest {
 protected:
  void SetUp() override {
    DownloadTest::SetUp();
    qk::SetProgramHost(u"Ambrel.exe", STANDIN_PATH);
    SetFetchProgramWait(60000, 5000);
  }
  void TearDown() override {
    unsetenv("QUILLET_STANDIN");
    SetFetchProgramWait(60000, 5000);
    DownloadTest::TearDown();
  }
  void SetProxySetting(LPCWSTR value) { ASSERT_TRUE(qtest::SetSettingString(u"NetAgencyIP", value)); }
  std::string CommandLine() { return ReadDeviceFile(u"\\standin-cmdline.txt"); }
};

TEST_F(FetchProgramTest, CommandLinesOfEveryCase) {
  setenv("QUILLET_STANDIN", "exit:0", 1);
  DWORD exitCode = 7;
  CString text;
  EXPECT_EQ(RunFetchProgram(u"http://site/a b", u"\\out.html", u"\\Templates\\x.tpl", &exitCode, text, TRUE, nullptr), 0u);
  EXPECT_EQ(CommandLine(), "-p None \"http://site/a b\" \"\\out.html\" \"\\Templates\\x.tpl\"");
  EXPECT_EQ(exitCode, 0u);

  SetProxySetting(u"  10.1.2.3:8080 ");
  RunFetchProgram(u"http://site/", u"\\out.html", u"", &exitCode, text, TRUE, nullptr);
  EXPECT_EQ(CommandLine(), "-p 10.1.2.3:8080 \"http://site/\" \"\\out.html\"");

  RunFetchProgram(u"http://site/", nullptr, u"", &exitCode, text, FALSE, nullptr);
  EXPECT_EQ(CommandLine(), "\"http://site/\" \"\"");
}

TEST_F(FetchProgramTest, ExitCodeIsPassedWhole) {
  setenv("QUILLET_STANDIN", "exit:800C0008", 1);
  DWORD exitCode = 0;
  CString text;
  EXPECT_EQ(RunFetchProgram(u"http://site/", u"\\o.html", u"", &exitCode, text, FALSE, nullptr), 0x800C0008u);
  EXPECT_EQ(exitCode, 0x800C0008u);
  EXPECT_TRUE(text.IsEmpty());  // the code has no message text

  setenv("QUILLET_STANDIN", "exit:2EFD", 1);  // 12029
  EXPECT_EQ(RunFetchProgram(u"http://site/", u"\\o.html", u"", &exitCode, text, FALSE, nullptr), 12029u);
  EXPECT_EQ(CString(u"A connection with the server could not be established\r\n"), text);

  // A program that ended in time is not asked to stop, and this program's
  // own abort flag stays clear.
  EXPECT_FALSE(IsUrlDownloadAborted());
  MSG m;
  bool stopBroadcast = false;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
    if (m.message == WM_URL_DOWNLOAD_END) stopBroadcast = true;
  EXPECT_FALSE(stopBroadcast);
}

TEST_F(FetchProgramTest, StartWithoutWaitingAndAMissingProgram) {
  setenv("QUILLET_STANDIN", "exit:1", 1);
  DWORD exitCode = 0;
  CString text;
  PROCESS_INFORMATION pi{};
  EXPECT_EQ(RunFetchProgram(u"http://site/", u"\\o.html", u"", &exitCode, text, FALSE, &pi), 0u);
  ASSERT_NE(pi.hProcess, nullptr);
  EXPECT_EQ(qtest::WaitForExitCode(pi.hProcess), 1u);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);

  qk::SetProgramHost(u"Ambrel.exe", "/nonexistent/ambrel");
  setenv("QUILLET_PROGRAM_DIR", "/nonexistent", 1);
  PROCESS_INFORMATION none;
  std::memset(&none, 0xAB, sizeof none);
  EXPECT_EQ(RunFetchProgram(u"http://site/", u"\\o.html", u"", &exitCode, text, FALSE, &none), 1u);
  EXPECT_EQ(none.hProcess, nullptr);
  EXPECT_EQ(none.dwProcessId, 0u);
  EXPECT_EQ(RunFetchProgram(u"http://site/", u"\\o.html", u"", &exitCode, text, FALSE, nullptr),
            static_cast<DWORD>(INET_E_DOWNLOAD_FAILURE));
  EXPECT_EQ(CString(u"Execute Internet downloading error."), text);
  unsetenv("QUILLET_PROGRAM_DIR");
}

// One stop (the Cancel command) ends all that runs at that moment: a
// transfer waiting for its answer, one in the middle of its body, and the
// fetch program another thread waits for, although that program cannot
// hear the stop broadcast yet (its window comes later) and, with transfers
// open, the stop itself broadcasts nothing.
TEST_F(FetchProgramTest, OneStopEndsEveryTransferAndTheFetchProgramEvenBeforeItCanHear) {
  qtest::ScriptedHttpServer scripted;
  ASSERT_TRUE(scripted.Start());
  SetUrlDownloadWaits(20000, 20000);
  SetFetchProgramWait(30000, 10000);
  setenv("QUILLET_STANDIN", "late", 1);
  HANDLE started = CreateEventW(nullptr, TRUE, FALSE, u"standin-started");
  HANDLE listen = CreateEventW(nullptr, TRUE, FALSE, u"standin-listen");
  ResetEvent(started);
  ResetEvent(listen);
  std::atomic<bool> fetched{false};
  DWORD fetchResult = 0, exitCode = 0;
  CString fetchText;
  auto fetch = [&] {
    fetched = false;
    return std::thread([&] {
      fetchResult = RunFetchProgram(u"http://site/", u"\\o.html", u"", &exitCode, fetchText, FALSE, nullptr);
      fetched = true;
    });
  };
  std::thread program = fetch();
  Download held, slow;
  held.Start(qk::FromUtf8(scripted.Url("/gated/never")), u"\\never.xml");
  slow.Start(Url("/slow/feed.xml"), u"\\slow.xml", window_);
  ASSERT_EQ(WaitForSingleObject(started, 20000), WAIT_OBJECT_0);
  ASSERT_TRUE(scripted.WaitForRequest("/gated/never"));
  ASSERT_TRUE(qk::PumpMessagesUntil([] { return !g_progress.empty(); }, 20000));
  StopUrlDownload();
  SetEvent(listen);  // the program opens its window only now
  // Well before any of the 20 and 30 second waits runs out.
  EXPECT_TRUE(qk::PumpMessagesUntil([&] { return held.done && slow.done && fetched; }, 10000));
  for (Download* d : {&held, &slow}) d->thread.join();
  program.join();
  EXPECT_EQ(held.hr, INET_E_DOWNLOAD_FAILURE);
  EXPECT_EQ(held.code, static_cast<DWORD>(ERROR_INTERNET_OPERATION_CANCELLED));
  EXPECT_EQ(slow.hr, 0);
  EXPECT_GT(slow.size, 0u);
  EXPECT_LT(slow.size, static_cast<DWORD>(4 << 20));
  EXPECT_FALSE(DeviceFileExists(u"\\slow.xml"));
  EXPECT_EQ(fetchResult, 0xFFFFFFFFu);
  EXPECT_TRUE(DeviceFileExists(u"\\standin-stopped.txt"));

  // A stop that came before the program was even started (the abort flag is
  // still raised) ends it too.
  ASSERT_TRUE(IsUrlDownloadAborted());
  std::remove(Host(u"\\standin-stopped.txt").c_str());
  program = fetch();
  EXPECT_TRUE(qk::PumpMessagesUntil([&] { return fetched.load(); }, 10000));
  program.join();
  EXPECT_EQ(fetchResult, 0xFFFFFFFFu);
  EXPECT_TRUE(DeviceFileExists(u"\\standin-stopped.txt"));
  CloseHandle(started);
  CloseHandle(listen);
}

TEST_F(FetchProgramTest, OverdueProgramIsStoppedAndThisProgramsTransfersGoOn) {
  setenv("QUILLET_STANDIN", "hang", 1);
  SetFetchProgramWait(3000, 10000);  // time enough for the stand-in to open its window
  DWORD exitCode = 0;
  CString text;
  EXPECT_EQ(RunFetchProgram(u"http://site/", u"\\o.html", u"", &exitCode, text, FALSE, nullptr), 0xFFFFFFFFu);
  EXPECT_EQ(exitCode, 0xFFFFFFFFu);
  EXPECT_TRUE(DeviceFileExists(u"\\standin-stopped.txt"));
  // This program's own abort flag was left alone: the next transfer runs
  // to its end instead of stopping after its first block.
  EXPECT_FALSE(IsUrlDownloadAborted());
  DWORD code = 0, size = 0;
  EXPECT_EQ(InternetDownloadFile(Url("/large.bin").c_str(), u"\\after.bin", &code, text, nullptr, nullptr, &size), 0);
  EXPECT_EQ(size, 300u * 1024 + 17);
}

}  // namespace
