// The page-fetch program Ambrel, a real child process, against a page that
// never ends: it fails with the byte bound's code and leaves no page.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/url_download.h"
#include "endless_server.h"
#include "kernel/kernel.h"
#include "kernel/process.h"
#include "support/device_fixture.h"

namespace {

class AmbrelLimitsTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    qtest::DeviceTest::SetUp();
    qk::SetProgramHost(u"Ambrel.exe", AMBREL_PATH);
    SetFetchProgramWait(60000, 5000);
    ClearUrlDownloadAbort();
    std::filesystem::create_directories(Host(u"\\ChannelData"));
    ASSERT_TRUE(server_.Start());
  }
  void TearDown() override {
    server_.Stop();
    qtest::DeviceTest::TearDown();
  }
  DWORD Fetch(const std::string& path, LPCWSTR out, CString& text) {
    DWORD code = 0x12345678;
    std::u16string url = qk::FromUtf8(server_.Url(path));
    DWORD result = RunFetchProgram(url.c_str(), out, u"", &code, text, FALSE, nullptr);
    EXPECT_EQ(result, code);
    return result;
  }

  ltest::EndlessServer server_;
};

TEST_F(AmbrelLimitsTest, APageWithoutEndFailsWithTheBoundsCodeAndLeavesNoPage) {
  CString text;
  for (const char* path : {"/endless/story.html", "/chunked/story.html"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Fetch(path, u"\\ChannelData\\Ch001-1.htm", text), DWORD(ERROR_FILE_TOO_LARGE));
    EXPECT_EQ(qk::ToUtf8(text.str()), "The file size exceeds the limit allowed and cannot be saved.\r\n");
    EXPECT_FALSE(DeviceFileExists(u"\\ChannelData\\Ch001-1.htm"));
  }
  // A page of exactly the bound is a page.
  EXPECT_EQ(Fetch("/sized/" + std::to_string(URL_DOWNLOAD_MAX_BYTES), u"\\ChannelData\\Ch001-2.htm", text), 0u);
  EXPECT_EQ(ReadDeviceFile(u"\\ChannelData\\Ch001-2.htm").size(), size_t(URL_DOWNLOAD_MAX_BYTES));
}

}  // namespace
