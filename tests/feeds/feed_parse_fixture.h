// The fixture the feed parser tests share: one channel's feed file and
// store on a fresh device, the clock frozen, and the store's records read
// back after a parse.
#pragma once

#include <string>
#include <vector>

#include "quillet/feeds/item_store.h"
#include "quillet/feeds/rss_xml.h"
#include "support/device_fixture.h"

namespace ftest {

inline constexpr char16_t kFeed[] = u"\\ChannelData\\Ch007~.xml";
inline constexpr char16_t kStore[] = u"\\ChannelData\\Ch007.bin";

// The texts of a list, in order.
inline std::vector<std::string> ToList(const CStringList& list) {
  std::vector<std::string> out;
  for (POSITION p = list.GetHeadPosition(); p;) out.push_back(CStringA(list.GetNext(p)).str());
  return out;
}

class FeedParseTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    qk::FreezeClock(1117584000000LL, 5000);  // 2005-06-01 00:00:00 UTC, tick 5000
    SetItemNameCounter(0);
    WriteDeviceFile(u"\\ChannelData\\keep", "");
  }
  // Loads and parses a feed into the channel's store.
  int Parse(CRssXML& doc, const std::string& bytes) {
    WriteDeviceFile(kFeed, bytes);
    if (!doc.Load(kFeed)) return -1;
    return doc.SaveItems();
  }
  // Every record of the channel's store, in order.
  std::vector<CItemRecord> Records() {
    CItemStore s(0);
    s.Open(kStore, 0, 1);
    std::vector<CItemRecord> out;
    while (s.MoveNext()) out.push_back(s.Current());
    return out;
  }
};

}  // namespace ftest
