// The bounds of the one-URL downloader against servers that never end their
// answers: a body without end fails at the byte bound and a dripping one at
// the whole-transfer bound, each leaving no file and no memory block.
#include <gtest/gtest.h>

#include <chrono>

#include "common/url_download.h"
#include "endless_server.h"
#include "kernel/kernel.h"
#include "kernel/localmem.h"
#include "support/device_fixture.h"

namespace {

class UrlDownloadLimitsTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    qtest::DeviceTest::SetUp();
    ClearUrlDownloadAbort();
    SetUrlDownloadProxy(FALSE, nullptr);
    SetUrlDownloadWaits(30000, 50000);
    ASSERT_TRUE(server_.Start());
  }
  void TearDown() override {
    server_.Stop();
    SetUrlDownloadWaits(30000, 50000);
    qtest::DeviceTest::TearDown();
  }
  std::u16string Url(const std::string& path) const { return qk::FromUtf8(server_.Url(path)); }

  ltest::EndlessServer server_;
};

TEST_F(UrlDownloadLimitsTest, BodiesWithoutEndFailAtTheBoundAndLeaveNoFile) {
  for (const char* path : {"/endless/feed.xml", "/chunked/feed.xml", "/announced/feed.xml"}) {
    SCOPED_TRACE(path);
    const int ended = server_.Ended();
    DWORD code = 0, size = 0;
    CString text;
    HRESULT hr = InternetDownloadFile(Url(path).c_str(), u"\\Ch001~.xml", &code, text, nullptr, nullptr, &size);
    EXPECT_EQ(hr, INET_E_DOWNLOAD_FAILURE);
    EXPECT_EQ(code, DWORD(ERROR_FILE_TOO_LARGE));
    EXPECT_FALSE(text.IsEmpty());
    EXPECT_FALSE(DeviceFileExists(u"\\Ch001~.xml"));
    // The transfer let go of the server: it saw the client leave.
    EXPECT_TRUE(server_.WaitForEnded(ended + 1, 30000));
  }
  // Into memory: no block is handed out.
  DWORD code = 0, size = 0;
  CString text;
  LPBYTE memory = reinterpret_cast<LPBYTE>(1);
  EXPECT_EQ(InternetDownloadFile(Url("/endless/page.html").c_str(), nullptr, &code, text, nullptr, &memory, &size),
            INET_E_DOWNLOAD_FAILURE);
  EXPECT_EQ(memory, nullptr);
  EXPECT_EQ(code, DWORD(ERROR_FILE_TOO_LARGE));
}

TEST_F(UrlDownloadLimitsTest, TheBoundLiesJustAboveTheLongestBodyTaken) {
  struct Case {
    DWORD bound;
    const char* what;
  };
  for (Case c : {Case{URL_DOWNLOAD_MAX_PICTURE_BYTES, "picture"}, Case{URL_DOWNLOAD_MAX_BYTES, "document"}}) {
    SCOPED_TRACE(c.what);
    DWORD code = 0, size = 0;
    CString text;
    const std::string whole = "/sized/" + std::to_string(c.bound);
    EXPECT_EQ(InternetDownloadFile(Url(whole).c_str(), u"\\whole.bin", &code, text, nullptr, nullptr, &size, c.bound),
              0);
    EXPECT_EQ(size, c.bound);
    EXPECT_EQ(ReadDeviceFile(u"\\whole.bin").size(), size_t(c.bound));
    const std::string over = "/sized/" + std::to_string(c.bound + 1);
    EXPECT_EQ(InternetDownloadFile(Url(over).c_str(), u"\\over.bin", &code, text, nullptr, nullptr, &size, c.bound),
              INET_E_DOWNLOAD_FAILURE);
    EXPECT_EQ(code, DWORD(ERROR_FILE_TOO_LARGE));
    EXPECT_FALSE(DeviceFileExists(u"\\over.bin"));
  }
  // Without a bound of its own a download takes the document bound.
  DWORD code = 0, size = 0;
  CString text;
  const std::string over = "/sized/" + std::to_string(URL_DOWNLOAD_MAX_BYTES + 1);
  EXPECT_EQ(InternetDownloadFile(Url(over).c_str(), u"\\over.bin", &code, text, nullptr, nullptr, &size),
            INET_E_DOWNLOAD_FAILURE);
  EXPECT_EQ(code, DWORD(ERROR_FILE_TOO_LARGE));
}

TEST_F(UrlDownloadLimitsTest, ADrippingBodyFailsWhenTheWholeTransferBoundHasPassed) {
  // Each read is answered long before its own wait ends, and the body
  // keeps well above the pace floor: only the whole bound ends it.
  SetUrlDownloadWaits(10000, 5000, 1500);
  const auto start = std::chrono::steady_clock::now();
  DWORD code = 0, size = 0;
  CString text;
  EXPECT_EQ(InternetDownloadFile(Url("/drip/feed.xml").c_str(), u"\\Ch002~.xml", &code, text, nullptr, nullptr, &size),
            INET_E_DOWNLOAD_FAILURE);
  const auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(code, DWORD(ERROR_INTERNET_TIMEOUT));
  EXPECT_FALSE(DeviceFileExists(u"\\Ch002~.xml"));
  EXPECT_GE(spent, std::chrono::milliseconds(1400));
  EXPECT_LT(spent, std::chrono::milliseconds(10000));
  EXPECT_GT(server_.BodyBytesSent(), 0u);
  EXPECT_TRUE(server_.WaitForEnded(1, 30000));

  // A body that comes whole within the bound is a download as ever.
  server_.SetFeed("<rss version=\"2.0\"><channel><title>t</title></channel></rss>");
  EXPECT_EQ(InternetDownloadFile(Url("/feed.xml").c_str(), u"\\Ch002~.xml", &code, text, nullptr, nullptr, &size), 0);
  EXPECT_EQ(ReadDeviceFile(u"\\Ch002~.xml"), "<rss version=\"2.0\"><channel><title>t</title></channel></rss>");
}

}  // namespace
