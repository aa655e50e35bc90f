// The real "Quillet.exe /update" over a channel list in which one address
// sends its feed without end: the run ends, that channel gets its error
// item and keeps what an earlier run stored, nothing of the endless body is
// left, and the next channel of the list is stored as ever.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/url_download.h"
#include "endless_server.h"
#include "kernel/kernel.h"
#include "quillet/feeds/item_store.h"
#include "support/reader_fixture.h"
#include "support/settings_registry.h"

namespace {

class UpdateLimitsTest : public qtest::ReaderProgramTest {
 protected:
  UpdateLimitsTest() : ReaderProgramTest("quillet-update-limits") {}
  void SetUp() override {
    ReaderProgramTest::SetUp();
    qtest::SetSettingDword(u"DownloadImage", 0);
    qtest::SetSettingDword(u"DownloadFulltext", 0);
    ASSERT_TRUE(endless_.Start());
  }
  void TearDown() override {
    endless_.Stop();
    ReaderProgramTest::TearDown();
  }

  void WriteChannelList(const std::vector<std::string>& urls) {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>Channels"
                    "</title></head><body nextID=\"" + std::to_string(urls.size() + 1) + "\"><outline text=\"News\">";
    for (size_t i = 0; i < urls.size(); ++i)
      s += "<outline type=\"rss\" text=\"Channel " + std::to_string(i + 1) + "\" uniqueID=\"" + std::to_string(i + 1) +
           "\" xmlUrl=\"" + urls[i] + "\"/>";
    s += "</outline></body></opml>\n";
    WriteDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml", s);
  }

  // Starts "Quillet.exe /update" and waits for its end; its exit code.
  DWORD RunUpdateTask(DWORD timeoutMs) {
    std::u16string command = u"/update";
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(u"\\Program Files\\Quillet\\Quillet.exe", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, nullptr, &pi)) {
      ADD_FAILURE() << "the reader did not start";
      return DWORD(-1);
    }
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    DWORD code = qtest::WaitForExitCode(process_, timeoutMs);
    CloseHandle(process_);
    process_ = nullptr;
    return code;
  }

  static std::u16string DataPath(const char* name) {
    return u"\\Program Files\\Quillet\\ChannelData\\" + qk::FromUtf8(name);
  }
  std::vector<CItemRecord> Records(const char* store) {
    CItemStore items(0);
    items.Open(DataPath(store).c_str(), 0, 1);
    std::vector<CItemRecord> out;
    for (int n = 0; items.ReadRecord(n); ++n) out.push_back(items.Current());
    return out;
  }
  static int CountLink(const std::vector<CItemRecord>& records, const char16_t* link) {
    int n = 0;
    for (const CItemRecord& r : records) n += r.link == CString(link);
    return n;
  }

  ltest::EndlessServer endless_;
};

TEST_F(UpdateLimitsTest, AnEndlessFeedFailsItsChannelAndTheRunGoesOnWithTheNext) {
  endless_.SetFeed(ltest::RssFeed("one", 2));
  Serve("two.xml", ltest::RssFeed("two", 2));
  WriteChannelList({endless_.Url("/feed/one.xml"), nginx_.Url("/two.xml")});
  ASSERT_EQ(RunUpdateTask(120000), 0u);
  ASSERT_EQ(Records("Ch001.bin").size(), 2u);
  ASSERT_EQ(Records("Ch002.bin").size(), 2u);
  const std::string storedFeed = ReadDeviceFile(DataPath("Ch001.xml").c_str());
  ASSERT_FALSE(storedFeed.empty());

  // The first address now sends without end; the second has a new item.
  endless_.SetFeedMode(ltest::EndlessServer::FeedMode::kEndless);
  Serve("two.xml", ltest::RssFeed("two", 3));
  const int ended = endless_.Ended();
  ASSERT_EQ(RunUpdateTask(120000), 0u);

  // The failed channel: its error item beside the items it had, its stored
  // feed as it was, nothing of the endless body.
  std::vector<CItemRecord> one = Records("Ch001.bin");
  EXPECT_EQ(one.size(), 3u);
  EXPECT_EQ(CountLink(one, u"http://127.0.0.1/one/1.html"), 1);
  EXPECT_EQ(CountLink(one, u"http://127.0.0.1/one/2.html"), 1);
  ASSERT_EQ(CountLink(one, ERROR_ITEM_LINK), 1);
  for (const CItemRecord& r : one) {
    if (r.link == CString(ERROR_ITEM_LINK)) {
      EXPECT_EQ(r.type, DWORD(ITEM_TYPE_ERROR));
    }
  }
  EXPECT_EQ(ReadDeviceFile(DataPath("Ch001.xml").c_str()), storedFeed);
  EXPECT_FALSE(DeviceFileExists(DataPath("Ch001~.xml").c_str()));
  // The next channel was stored as ever.
  std::vector<CItemRecord> two = Records("Ch002.bin");
  EXPECT_EQ(two.size(), 3u);
  EXPECT_EQ(CountLink(two, u"http://127.0.0.1/two/3.html"), 1);
  EXPECT_EQ(CountLink(two, ERROR_ITEM_LINK), 0);
  // The program let go of the endless answer.
  EXPECT_TRUE(endless_.WaitForEnded(ended + 1, 30000));
  EXPECT_GE(endless_.BodyBytesSent(), uint64_t(URL_DOWNLOAD_MAX_BYTES));
}

}  // namespace
