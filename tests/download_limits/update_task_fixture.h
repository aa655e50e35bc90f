// The real "Quillet.exe /update" over a channel list written by the test,
// with a loopback server whose answers need not end beside the test's nginx.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/url_download.h"
#include "endless_server.h"
#include "kernel/kernel.h"
#include "quillet/feeds/item_store.h"
#include "support/reader_fixture.h"
#include "support/settings_registry.h"

namespace ltest {

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

}  // namespace ltest
