// The bounds of the service client's transfers against servers that never
// end their answers: a body or reply without end fails at the byte bound, a
// dripping one at the time bound, and neither leaves its file behind.
#include <gtest/gtest.h>

#include <chrono>

#include "endless_server.h"
#include "kernel/kernel.h"
#include "net/winsock.h"
#include "support/device_fixture.h"
#include "ventrel/downloader.h"

namespace {

class VentrelLimitsTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    qtest::DeviceTest::SetUp();
    WSADATA data;
    WSAStartup(0x0101, &data);
    ASSERT_TRUE(server_.Start());
  }
  void TearDown() override {
    server_.Stop();
    WSACleanup();
    qtest::DeviceTest::TearDown();
  }
  CString Url(const std::string& path) const { return CString(qk::FromUtf8(server_.Url(path))); }

  ltest::EndlessServer server_;
};

TEST_F(VentrelLimitsTest, BodiesAndRepliesWithoutEndFailAndLeaveNoFile) {
  CDownloader dl;
  for (const char* path : {"/endless/atom", "/chunked/atom", "/announced/atom"}) {
    SCOPED_TRACE(path);
    CString url = Url(path);
    EXPECT_FALSE(dl.SaveHttpObject(url, u"\\Ch001~.xml", 0));
    EXPECT_EQ(dl.GetLastErrorCode(), DL_STORE_FAILED);
    EXPECT_FALSE(DeviceFileExists(u"\\Ch001~.xml"));
  }
  // The service's replies read as text and the replies to a form.
  CString url = Url("/endless/token"), text;
  EXPECT_FALSE(dl.DownloadToString(url, text, 0));
  EXPECT_TRUE(text.IsEmpty());
  CString reply;
  url = Url("/chunked/edit-tag");
  EXPECT_FALSE(dl.Post(url, u"i=1&a=read", reply, 0));
  EXPECT_TRUE(reply.IsEmpty());
  EXPECT_FALSE(DeviceFileExists(u"\\" DOWNLOADER_TEMP_FILE));
  // Every transfer let go of its connection.
  EXPECT_TRUE(server_.WaitForEnded(5, 30000));
}

TEST_F(VentrelLimitsTest, TheBoundLiesJustAboveTheLongestBodyTaken) {
  CDownloader dl;
  CString url = Url("/sized/" + std::to_string(HTTP_MAX_BODY_BYTES));
  EXPECT_TRUE(dl.SaveHttpObject(url, u"\\whole.bin", 0));
  EXPECT_EQ(ReadDeviceFile(u"\\whole.bin").size(), size_t(HTTP_MAX_BODY_BYTES));
  url = Url("/sized/" + std::to_string(HTTP_MAX_BODY_BYTES + 1));
  EXPECT_FALSE(dl.SaveHttpObject(url, u"\\over.bin", 0));
  EXPECT_FALSE(DeviceFileExists(u"\\over.bin"));

  // A bound set for the transfers is kept to the byte.
  dl.SetTransferLimits(1000, HTTP_MAX_BODY_MS);
  url = Url("/sized/1000");
  EXPECT_TRUE(dl.SaveHttpObject(url, u"\\small.bin", 0));
  EXPECT_EQ(ReadDeviceFile(u"\\small.bin"), std::string(1000, 'x'));
  // One byte more is refused by its announced length before the file is
  // touched: what the file held stays.
  url = Url("/sized/1001");
  EXPECT_FALSE(dl.SaveHttpObject(url, u"\\small.bin", 0));
  EXPECT_EQ(dl.GetLastErrorCode(), DL_STORE_FAILED);
  EXPECT_EQ(ReadDeviceFile(u"\\small.bin"), std::string(1000, 'x'));
  // A body of no announced length is cut at the bound and leaves no file.
  url = Url("/endless/atom");
  EXPECT_FALSE(dl.SaveHttpObject(url, u"\\endless.bin", 0));
  EXPECT_FALSE(DeviceFileExists(u"\\endless.bin"));
}

TEST_F(VentrelLimitsTest, ADrippingBodyFailsWhenTheTimeBoundHasPassed) {
  CDownloader dl;
  // The drip keeps well above the pace floor of the receive time-out: only
  // the time bound ends it.
  dl.SetTimeout(5000);
  dl.SetTransferLimits(HTTP_MAX_BODY_BYTES, 1500);
  const auto start = std::chrono::steady_clock::now();
  CString url = Url("/drip/atom");
  EXPECT_FALSE(dl.SaveHttpObject(url, u"\\Ch002~.xml", 0));
  const auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(dl.GetLastErrorCode(), DL_STORE_FAILED);
  EXPECT_FALSE(DeviceFileExists(u"\\Ch002~.xml"));
  EXPECT_GE(spent, std::chrono::milliseconds(1400));
  EXPECT_LT(spent, std::chrono::milliseconds(10000));
  EXPECT_TRUE(server_.WaitForEnded(1, 30000));

  // The next transfer of the same downloader has the whole bound again.
  server_.SetFeed("<feed><title>t</title></feed>");
  url = Url("/feed/atom");
  EXPECT_TRUE(dl.SaveHttpObject(url, u"\\Ch002~.xml", 0));
  EXPECT_EQ(ReadDeviceFile(u"\\Ch002~.xml"), "<feed><title>t</title></feed>");
}

}  // namespace
