// Update tasks over long channel lists: the real "Quillet.exe /update" on
// the test's device, nginx on loopback serving the feeds. Every channel of
// the list is refreshed, however long the list; a site without an icon is
// asked for it once per run of the program; and the stores that a refresh
// of 1,000 channels writes, then merges a changed feed into, are byte for
// byte those that the reader has always written (their digest was taken
// from a refresh by the code before the refresh was made faster).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "quillet/feeds/item_store.h"
#include "support/reader_fixture.h"
#include "support/settings_registry.h"

namespace {

constexpr int kFirstChannel = 100;

class UpdateTaskTest : public qtest::ReaderProgramTest {
 protected:
  UpdateTaskTest() : ReaderProgramTest("quillet-update-feeds") {}
  void SetUp() override {
    ReaderProgramTest::SetUp();
    // The stores hold local times: the digest is taken in one time zone.
    const char* tz = std::getenv("TZ");
    savedTz_ = tz ? tz : "";
    hadTz_ = tz != nullptr;
    setenv("TZ", "UTC", 1);
    tzset();
    qtest::SetSettingDword(u"DownloadImage", 0);
    qtest::SetSettingDword(u"DownloadFulltext", 0);
  }
  void TearDown() override {
    if (hadTz_) setenv("TZ", savedTz_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
    ReaderProgramTest::TearDown();
  }

  static std::string FeedName(int channel) { return "feeds/c" + std::to_string(channel) + ".xml"; }

  // "Channels.opml" with channels kFirstChannel.. in three categories, their
  // titles in an order of their own (as a list from another reader).
  void WriteChannelList(int count) {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>Channels"
                    "</title></head><body nextID=\"" + std::to_string(kFirstChannel + count) + "\">";
    const char* categories[] = {"News", "Tech", "Sport"};
    for (int c = 0; c < 3; ++c) {
      s += "<outline text=\"" + std::string(categories[c]) + "\">";
      for (int i = c; i < count; i += 3) {
        const int n = kFirstChannel + i;
        s += "<outline type=\"rss\" text=\"Channel " + std::to_string((i * 7919) % 10007) + "\" uniqueID=\"" +
             std::to_string(n) + "\" xmlUrl=\"" + nginx_.Url("/" + FeedName(n)) + "\"/>";
      }
      s += "</outline>";
    }
    s += "</body></opml>\n";
    WriteDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml", s);
  }

  // An RSS 2.0 feed of items first..last of the channel: ids on every other
  // item, entities and markup in the texts, a picture in some, dates of
  // several days. With renamed, the item first + 1 has another title.
  std::string Feed(int channel, int first, int last, bool renamed = false) {
    std::string c = std::to_string(channel);
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Channel " + c +
                    "</title><link>" + nginx_.Url("/site" + c + "/") + "</link><description>d</description>\n";
    for (int i = last; i >= first; --i) {
      std::string id = c + "-" + std::to_string(i);
      std::string title = "Story " + id + (renamed && i == first + 1 ? " (updated)" : "") + " &amp; more";
      char date[64];
      std::snprintf(date, sizeof date, "%s, %02d Dec 2026 %02d:%02d:00 GMT", (i % 2) ? "Mon" : "Tue", 1 + i % 9,
                    (channel + i) % 24, (i * 7) % 60);
      s += "<item><title>" + title + "</title><link>http://127.0.0.1/story/" + id + ".html</link>";
      if (i % 2 == 0) s += "<guid>urn:story:" + id + "</guid>";
      s += "<pubDate>" + std::string(date) + "</pubDate><description>&lt;p&gt;Text of story " + id +
           " &#8212; caf&#233;";
      if (i % 3 == 0) s += " &lt;img src=\"http://127.0.0.1/pictures/" + id + ".png\"&gt;";
      s += "&lt;/p&gt;</description></item>\n";
    }
    return s + "</channel></rss>\n";
  }

  static std::u16string StorePath(int channel) {
    char name[32];
    std::snprintf(name, sizeof name, "Ch%03d.bin", channel);
    return u"\\Program Files\\Quillet\\ChannelData\\" + qk::FromUtf8(name);
  }
  std::string ChannelList() const { return ReadDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml"); }
  // A channel's attribute in the saved channel list ("" when absent).
  static std::string Attribute(const std::string& list, int channel, const std::string& name) {
    size_t at = list.find("uniqueID=\"" + std::to_string(channel) + "\"");
    if (at == std::string::npos) return "";
    size_t begin = list.rfind("<outline", at), end = list.find('>', at);
    std::string outline = list.substr(begin, end - begin);
    size_t a = outline.find(" " + name + "=\"");
    if (a == std::string::npos) return "";
    a += name.size() + 3;
    return outline.substr(a, outline.find('"', a) - a);
  }
  int Requests(const std::string& path) const {
    std::string log = nginx_.AccessLog();
    int n = 0;
    for (size_t at = log.find(" " + path); at != std::string::npos; at = log.find(" " + path, at + 1)) ++n;
    return n;
  }

  // A store's bytes with the refresh's clock taken out: an item's page name
  // ("Ch<N>-<time>-<k>.htm", the last 80 bytes of its record) holds the
  // time of the refresh that stored it, which is blanked.
  static std::string WithoutPageTimes(const std::string& store) {
    std::string out;
    size_t at = 0;
    while (at + 4 <= store.size()) {
      const uint32_t length = uint32_t(uint8_t(store[at])) | uint32_t(uint8_t(store[at + 1])) << 8 |
                              uint32_t(uint8_t(store[at + 2])) << 16 | uint32_t(uint8_t(store[at + 3])) << 24;
      if (length < 80 || at + 4 + length > store.size()) break;
      std::string record = store.substr(at, 4 + length);
      int dashes = 0;
      for (size_t k = record.size() - 80; k + 1 < record.size() && dashes < 2; k += 2) {
        if (record[k] == '-' && record[k + 1] == 0) ++dashes;
        else if (dashes == 1) record[k] = '#';
      }
      out += record;
      at += 4 + length;
    }
    return out + store.substr(at);
  }

  // FNV-1a over the stores of the channels and their counts in the list:
  // any byte of any store that differs changes it (but the refresh's time
  // in the page names).
  uint64_t Digest(int count) {
    uint64_t h = 14695981039346656037ull;
    auto add = [&](const std::string& bytes) {
      for (unsigned char b : bytes) h = (h ^ b) * 1099511628211ull;
    };
    const std::string list = ChannelList();
    for (int i = 0; i < count; ++i) {
      const int n = kFirstChannel + i;
      add(std::to_string(n) + ":" + WithoutPageTimes(ReadDeviceFile(StorePath(n).c_str())));
      add(Attribute(list, n, "itemCount") + "/" + Attribute(list, n, "newItemCount"));
    }
    return h;
  }

  std::string savedTz_;
  bool hadTz_ = false;
};

TEST_F(UpdateTaskTest, EveryChannelOfAListOfSixHundredIsRefreshedAndAMissingIconAskedForOnce) {
  const int count = 600;
  for (int i = 0; i < count; ++i) Serve(FeedName(kFirstChannel + i), Feed(kFirstChannel + i, 1, 3));
  WriteChannelList(count);
  ASSERT_EQ(RunUpdateTask(300000), 0u);

  const std::string list = ChannelList();
  int stored = 0, counted = 0;
  for (int i = 0; i < count; ++i) {
    const int n = kFirstChannel + i;
    CItemStore store(0);
    store.Open(StorePath(n).c_str(), 0, 1);
    int items = 0, read = 0;
    store.CountItems(items, read);
    stored += items == 3;
    counted += Attribute(list, n, "itemCount") == "3" && Attribute(list, n, "newItemCount") == "3";
  }
  EXPECT_EQ(stored, count) << "every channel's items are stored";
  EXPECT_EQ(counted, count) << "every channel's counts are in the list";
  // Every feed was asked for once. The channels' sites share one host,
  // which has no icon: its 404 is remembered for the rest of the run.
  nginx_.WaitForLogLine(FeedName(kFirstChannel + count - 1));
  EXPECT_EQ(Requests("/feeds/c"), count);
  EXPECT_EQ(Requests("/favicon.ico"), 1);
}

TEST_F(UpdateTaskTest, AThousandChannelsAreStoredAndMergedByteForByteAsEver) {
  const int count = 1000;
  // Twelve items a channel, ten kept: the first refresh already trims.
  qtest::SetSettingDword(u"ArticlesNumber", 10);
  for (int i = 0; i < count; ++i) Serve(FeedName(kFirstChannel + i), Feed(kFirstChannel + i, 1, 12));
  WriteChannelList(count);
  ASSERT_EQ(RunUpdateTask(600000), 0u);
  const uint64_t first = Digest(count);

  // Some items read on the device; then the feeds move on: three items
  // gone, four new, one renamed. The refresh merges, trims and compacts.
  for (int i = 0; i < count; i += 7) {
    CItemStore store(0);
    store.Open(StorePath(kFirstChannel + i).c_str(), 0, 0);
    store.SetItemProperty(qk::FromUtf8("http://127.0.0.1/story/" + std::to_string(kFirstChannel + i) + "-5.html").c_str(),
                          u"ReadFlag", ITEM_READ_READ);
  }
  for (int i = 0; i < count; ++i) Serve(FeedName(kFirstChannel + i), Feed(kFirstChannel + i, 4, 16, true));
  ASSERT_EQ(RunUpdateTask(600000), 0u);
  const uint64_t second = Digest(count);

  // Taken from the same two refreshes by the reader before its refresh was
  // made faster.
  EXPECT_EQ(first, 0x1707018194d38679ull) << std::hex << first;
  EXPECT_EQ(second, 0xdb24b17fcc95275cull) << std::hex << second;
}

}  // namespace
