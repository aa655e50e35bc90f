// The channel list finds a feed by its address spelt otherwise (scheme and
// server in another case, the default port written out or left empty) and
// never rewrites the address it stores; its look-up index answers as a
// plain walk over the saved file does after every kind of edit.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <random>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/wstring.h"
#include "net/urlfuncs.h"
#include "quillet/feeds/opml_xml.h"
#include "support/device_fixture.h"

namespace {

const char16_t kList[] = u"\\ChannelData\\Channels.opml";

class OpmlAddressTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    WriteDeviceFile(u"\\ChannelData\\placeholder", "");
  }
  // The feed addresses of the saved file in look-up order: outlines under
  // the body, then those one level down.
  std::vector<std::u16string> SavedAddresses() {
    std::vector<std::u16string> out;
    TiXmlDocument doc;
    const std::string text = ReadDeviceFile(kList);
    doc.Parse(text.c_str());
    TiXmlElement* body = doc.RootElement() ? doc.RootElement()->FirstChildElement("body") : nullptr;
    if (!body) return out;
    for (TiXmlElement* e = body->FirstChildElement("outline"); e; e = e->NextSiblingElement("outline"))
      if (const char* v = e->Attribute("xmlUrl")) out.push_back(qk::FromUtf8(v));
    for (TiXmlElement* e = body->FirstChildElement("outline"); e; e = e->NextSiblingElement("outline"))
      for (TiXmlElement* c = e->FirstChildElement("outline"); c; c = c->NextSiblingElement("outline"))
        if (const char* v = c->Attribute("xmlUrl")) out.push_back(qk::FromUtf8(v));
    return out;
  }
};

TEST_F(OpmlAddressTest, AFeedSpeltOtherwiseIsTheChannelTheListHolds) {
  WriteDeviceFile(kList,
                  "<?xml version=\"1.0\"?><opml version=\"1.0\"><head/><body nextID=\"10\">"
                  "<outline type=\"rss\" text=\"News\" uniqueID=\"1\">"
                  "<outline type=\"rss\" text=\"A\" uniqueID=\"2\" xmlUrl=\"HTTP://Host.Example:80/feed\"/>"
                  "<outline type=\"rss\" text=\"S\" uniqueID=\"3\" xmlUrl=\"https://s.example:/x?Q=1\"/>"
                  "</outline></body></opml>");
  COpmlXML list(nullptr, nullptr, 1);
  list.SetPath(kList, 1);
  ASSERT_TRUE(list.LoadAndWalk(kList));
  for (const char16_t* same : {u"http://host.example/feed", u"HTTP://HOST.EXAMPLE/feed", u"http://host.example:/feed",
                               u"http://Host.Example:0080/feed"})
    EXPECT_EQ(list.HasChannel(same), 1) << qk::ToUtf8(std::u16string(same));
  EXPECT_EQ(list.HasChannel(u"https://S.EXAMPLE:443/x?Q=1"), 1);
  for (const char16_t* other : {u"http://host.example/feed/", u"http://host.example/Feed", u"https://host.example/feed",
                                u"http://host.example:8080/feed", u"https://s.example/x?q=1", u"http://[]/feed"})
    EXPECT_EQ(list.HasChannel(other), 0) << qk::ToUtf8(std::u16string(other));
  // The sync merge sets the title and label of the channel found by the
  // address it was given; the stored address stays as it was written.
  EXPECT_EQ(list.SetChannelAttribute(u"http://host.example/feed", u"label", u"merged"), 1);
  CString value;
  ASSERT_EQ(list.GetChannelAttribute(u"http://host.example:/feed", u"label", value), 1);
  EXPECT_EQ(value, CString(u"merged"));
  const std::string saved = ReadDeviceFile(kList);
  EXPECT_NE(saved.find("xmlUrl=\"HTTP://Host.Example:80/feed\" label=\"merged\""), std::string::npos) << saved;
  // The address as written wins over another spelling met first.
  ASSERT_EQ(list.AddChannel(u"Tech", u"Exact", u"http://host.example/feed"), 10);
  ASSERT_EQ(list.SetChannelAttribute(u"http://host.example/feed", u"label", u"exact"), 1);
  ASSERT_EQ(list.GetChannelAttribute(u"HTTP://Host.Example:80/feed", u"label", value), 1);
  EXPECT_EQ(value, CString(u"merged"));
  ASSERT_EQ(list.GetChannelAttribute(u"http://host.example/feed", u"label", value), 1);
  EXPECT_EQ(value, CString(u"exact"));
}

// Random edits through every path that changes the outlines; after each,
// every probe is found exactly when the saved file holds its feed, and the
// channel found is the one a plain walk picks (the exact address first).
TEST_F(OpmlAddressTest, LookupsAnswerAsAWalkOverTheSavedFileAfterEveryEdit) {
  const std::vector<std::u16string> spellings = {
      u"http://a.example/feed",     u"HTTP://A.Example/feed",     u"http://a.example:80/feed",
      u"http://a.example:/feed",    u"http://a.example/feed/",    u"https://a.example/feed",
      u"https://A.EXAMPLE:443/feed", u"http://a.example:8080/feed", u"http://[::1]/f",
      u"http://[0:0::1]:80/f",      u"http://user@b.example/f",   u"http://USER@B.example/f",
      u"not an address",            u"http://h:99999/",
  };
  COpmlXML list(nullptr, nullptr, 1);
  list.SetPath(kList, 1);
  EXPECT_FALSE(list.LoadAndWalk(kList));
  list.CreateEmpty();
  list.AddCategory(u"News");
  list.AddCategory(u"Tech");
  std::mt19937 random(7);
  auto pick = [&] { return spellings[random() % spellings.size()]; };
  int titles = 0;
  for (int step = 0; step < 400; ++step) {
    const std::u16string url = pick();
    switch (random() % 5) {
      case 0:
      case 1: {
        CString title;
        title.Format(u"T%d", ++titles);
        list.AddChannel(random() % 2 ? u"News" : u"Tech", title, url.c_str());
        break;
      }
      case 2:
        list.RemoveChannel(url.c_str());
        break;
      case 3:
        list.SetChannelAttribute(url.c_str(), u"xmlUrl", pick().c_str());
        break;
      default:
        list.MoveChannel(url.c_str(), random() % 2 ? u"News" : u"Tech");
        break;
    }
    const std::vector<std::u16string> saved = SavedAddresses();
    for (const std::u16string& probe : spellings) {
      // The walk: the address as written, else the first of the same key.
      const std::u16string* found = nullptr;
      for (const std::u16string& s : saved)
        if (s == probe) {
          found = &s;
          break;
        }
      if (!found)
        for (const std::u16string& s : saved)
          if (InternetAddressKey(s) == InternetAddressKey(probe)) {
            found = &s;
            break;
          }
      ASSERT_EQ(list.HasChannel(probe.c_str()), found ? 1 : 0)
          << "step " << step << " probe " << qk::ToUtf8(probe);
      CString stored;
      if (found) {
        ASSERT_EQ(list.GetChannelAttribute(probe.c_str(), u"xmlUrl", stored), 1);
        EXPECT_EQ(stored.str(), *found) << "step " << step << " probe " << qk::ToUtf8(probe);
      }
    }
  }
}

}  // namespace
