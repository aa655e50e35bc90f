// The channel list: every edit compared byte for byte with the saved file,
// the two-level lookups, the outline report of a load, and broken, hostile
// and concurrently edited lists.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kernel/kernel.h"
#include "quillet/feeds/opml_xml.h"
#include "support/device_fixture.h"

namespace {

const char16_t kList[] = u"\\ChannelData\\Channels.opml";

struct Report {
  std::vector<std::string> lines;
  static void Callback(void* context, LPCWSTR parent, LPCWSTR name, LPCWSTR value) {
    auto* self = static_cast<Report*>(context);
    self->lines.push_back(CStringA(parent).str() + "|" + CStringA(name).str() + "=" + CStringA(value).str());
  }
};

const char kHead[] =
    "<?xml version=\"1.0\" ?>\n"
    "<opml version=\"1.0\">\n"
    "    <head>\n"
    "        <title>Channels</title>\n"
    "        <options />\n"
    "        <keywordList />\n"
    "        <updated />\n"
    "    </head>\n";

class OpmlTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    WriteDeviceFile(u"\\ChannelData\\placeholder", "");
  }
  std::string Saved() { return ReadDeviceFile(kList); }
  // A new list at the usual path, as the channel-list window makes it.
  void NewList(COpmlXML& list) {
    list.SetPath(kList, 1);
    EXPECT_FALSE(list.LoadAndWalk(kList));
    list.CreateEmpty();
  }
};

// A channel that cannot be written is not added: AddChannel reports 0 and the
// list in memory does not keep it for a later save.
TEST_F(OpmlTest, AChannelThatCannotBeSavedIsNotAdded) {
  COpmlXML list(nullptr, nullptr, 1);
  NewList(list);
  ASSERT_EQ(list.AddChannel(u"News", u"Alpha", u"http://a.example/feed"), 100);
  std::string blocker = Host(kList) + ".tmp~";
  std::filesystem::create_directory(blocker);
  // (The look-up by address is made before: it must not keep the channel.)
  EXPECT_TRUE(list.HasChannel(u"http://a.example/feed"));
  EXPECT_EQ(list.AddChannel(u"News", u"Beta", u"http://b.example/feed"), 0);
  EXPECT_FALSE(list.HasChannel(u"http://b.example/feed"));
  std::filesystem::remove(blocker);
  EXPECT_EQ(list.AddChannel(u"News", u"Gamma", u"http://c.example/feed"), 102);
  std::string saved = Saved();
  EXPECT_NE(saved.find("http://c.example/feed"), std::string::npos);
  EXPECT_EQ(saved.find("http://b.example/feed"), std::string::npos);
}

TEST_F(OpmlTest, EditsSaveExactText) {
  COpmlXML list(nullptr, nullptr, 1);
  NewList(list);
  EXPECT_EQ(list.AddChannel(u"News", u"Alpha", u"http://a.example/feed"), 100);
  EXPECT_EQ(Saved(), std::string(kHead) +
                         "    <body nextID=\"101\">\n"
                         "        <outline type=\"rss\" text=\"News\" uniqueID=\"100\">\n"
                         "            <outline type=\"rss\" text=\"Alpha\" uniqueID=\"100\" "
                         "xmlUrl=\"http://a.example/feed\" />\n"
                         "        </outline>\n"
                         "    </body>\n"
                         "</opml>\n");

  // Same category in other letters; a title already there (any case) is
  // refused but still uses up a number.
  EXPECT_EQ(list.AddChannel(u"NEWS", u"Beta & \"B\"", u"http://b.example/rss?x=1&y=2"), 101);
  EXPECT_EQ(list.AddChannel(u"news", u"ALPHA", u"http://other"), 0);
  EXPECT_EQ(list.AddChannel(u"", u"Loose", u"http://loose"), 103);
  list.AddCategory(u"Empty");
  EXPECT_EQ(list.SetChannelAttribute(u"http://a.example/feed", u"itemCount", u"5"), 1);
  EXPECT_EQ(list.SetChannelAttribute(u"http://a.example/feed", u"newItemCount", u"2"), 1);
  EXPECT_EQ(list.SetChannelAttribute(u"http://a.example/feed", u"itemCount", u"7"), 1);
  EXPECT_EQ(list.SetChannelAttribute(u"http://loose", u"text", u"Loose \u00e9\U0001F600"), 1);
  EXPECT_EQ(Saved(), std::string(kHead) +
                         "    <body nextID=\"105\">\n"
                         "        <outline type=\"rss\" text=\"News\" uniqueID=\"100\">\n"
                         "            <outline type=\"rss\" text=\"Alpha\" uniqueID=\"100\" "
                         "xmlUrl=\"http://a.example/feed\" itemCount=\"7\" newItemCount=\"2\" />\n"
                         "            <outline type=\"rss\" text='Beta &amp; &quot;B&quot;' uniqueID=\"101\" "
                         "xmlUrl=\"http://b.example/rss?x=1&amp;y=2\" />\n"
                         "        </outline>\n"
                         "        <outline type=\"rss\" text=\"Loose \xC3\xA9\xF0\x9F\x98\x80\" uniqueID=\"103\" "
                         "xmlUrl=\"http://loose\" />\n"
                         "        <outline type=\"rss\" text=\"Empty\" uniqueID=\"104\" />\n"
                         "    </body>\n"
                         "</opml>\n");

  // Moving, renaming and removing.
  EXPECT_EQ(list.MoveChannel(u"http://loose", u"Empty"), 1);
  EXPECT_EQ(list.MoveChannel(u"http://loose", u"empty"), 0);  // exact names only
  EXPECT_EQ(list.RenameCategory(u"news", u"World"), 0);
  EXPECT_EQ(list.RenameCategory(u"News", u""), 0);
  EXPECT_EQ(list.RenameCategory(u"News", u"World"), 1);
  EXPECT_EQ(list.RemoveChannel(u"http://b.example/rss?x=1&y=2"), 1);
  EXPECT_EQ(list.RemoveChannel(u"http://b.example/rss?x=1&y=2"), 0);
  EXPECT_EQ(Saved(), std::string(kHead) +
                         "    <body nextID=\"105\">\n"
                         "        <outline type=\"rss\" text=\"World\" uniqueID=\"100\">\n"
                         "            <outline type=\"rss\" text=\"Alpha\" uniqueID=\"100\" "
                         "xmlUrl=\"http://a.example/feed\" itemCount=\"7\" newItemCount=\"2\" />\n"
                         "        </outline>\n"
                         "        <outline type=\"rss\" text=\"Empty\" uniqueID=\"104\">\n"
                         "            <outline type=\"rss\" text=\"Loose \xC3\xA9\xF0\x9F\x98\x80\" uniqueID=\"103\" "
                         "xmlUrl=\"http://loose\" />\n"
                         "        </outline>\n"
                         "    </body>\n"
                         "</opml>\n");

  static std::vector<int> removed;
  removed.clear();
  // Category names are matched exactly here, unlike when a channel is added.
  EXPECT_EQ(list.RemoveChannelById(u"EMPTY", [](int n) {
              removed.push_back(n);
              return 0;
            }),
            0);
  EXPECT_TRUE(removed.empty());
  EXPECT_EQ(list.RemoveChannelById(u"Empty", [](int n) {
              removed.push_back(n);
              return 0;
            }),
            1);
  EXPECT_EQ(removed, std::vector<int>{103});
  EXPECT_EQ(list.RemoveChannelById(u"Alpha", nullptr), 0);  // a channel one level down is no category
  EXPECT_EQ(list.RemoveChannelById(u"", nullptr), 0);
  EXPECT_EQ(Saved(), std::string(kHead) +
                         "    <body nextID=\"105\">\n"
                         "        <outline type=\"rss\" text=\"World\" uniqueID=\"100\">\n"
                         "            <outline type=\"rss\" text=\"Alpha\" uniqueID=\"100\" "
                         "xmlUrl=\"http://a.example/feed\" itemCount=\"7\" newItemCount=\"2\" />\n"
                         "        </outline>\n"
                         "    </body>\n"
                         "</opml>\n");
}

TEST_F(OpmlTest, LookupsAtTwoLevels) {
  WriteDeviceFile(kList,
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?><opml version=\"1.0\"><head/><body nextID=\"x7\">"
                  "<outline type=\"rss\" text=\"Top\" uniqueID=\"1\" xmlUrl=\"http://top\"/>"
                  "<outline type=\"rss\" text=\"Cat\" uniqueID=\"2\">"
                  "<outline type=\"rss\" text=\"In\" uniqueID=\"3\" xmlUrl=\"http://\xC3\xBC.example/in\" itemCount=\"4\"/>"
                  "<outline type=\"rss\" text=\"Deep\" uniqueID=\"4\"><outline xmlUrl=\"http://deep\"/></outline>"
                  "</outline></body></opml>");
  COpmlXML list(nullptr, nullptr, 1);
  ASSERT_TRUE(list.LoadAndWalk(kList));
  EXPECT_EQ(list.HasChannel(u"http://top"), 1);
  EXPECT_EQ(list.HasChannel(u"http://\u00fc.example/in"), 1);
  // The same feed spelt otherwise is the same channel.
  EXPECT_EQ(list.HasChannel(u"HTTP://TOP"), 1);
  EXPECT_EQ(list.HasChannel(u"http://top/"), 0);
  EXPECT_EQ(list.HasChannel(u"http://deep"), 0);
  CString value;
  EXPECT_EQ(list.GetChannelAttribute(u"http://\u00fc.example/in", u"itemCount", value), 1);
  EXPECT_EQ(value, CString(u"4"));
  EXPECT_EQ(list.GetChannelAttribute(u"http://top", u"missing", value), 1);
  EXPECT_EQ(value, CString());
  EXPECT_EQ(list.GetChannelAttribute(u"http://nowhere", u"text", value), 0);
  // A non-ASCII address gets its counts like any other.
  EXPECT_EQ(list.SetChannelAttribute(u"http://\u00fc.example/in", u"newItemCount", u"3"), 1);
  EXPECT_EQ(list.SetChannelAttribute(u"http://nowhere", u"newItemCount", u"3"), 0);
  EXPECT_NE(Saved().find("itemCount=\"4\" newItemCount=\"3\""), std::string::npos);
  // A nextID that is no number counts as 0.
  EXPECT_EQ(list.AddChannel(u"", u"Zero", u"http://zero"), 0);
  EXPECT_NE(Saved().find("nextID=\"1\""), std::string::npos);
  EXPECT_EQ(list.AddChannel(u"", u"One", u"http://one"), 1);
}

// A category delete takes only a category (exact name, directly under the
// body) and names every channel it held; a channel that bears the name is
// no category, for the older removal too.
TEST_F(OpmlTest, CategoryRemovalTakesOnlyCategoriesAndNamesWhatGoes) {
  WriteDeviceFile(kList,
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?><opml version=\"1.0\"><head/><body nextID=\"9\">"
                  "<outline type=\"rss\" text=\"Misc\" uniqueID=\"1\">"
                  "<outline type=\"rss\" text=\"Tech\" uniqueID=\"5\" xmlUrl=\"http://tech\"/></outline>"
                  "<outline type=\"rss\" text=\" Tech \" uniqueID=\"2\">"
                  "<outline type=\"rss\" text=\"A\" uniqueID=\"6\" xmlUrl=\"http://a\"/>"
                  "<outline type=\"rss\" text=\"B\" uniqueID=\"7\" xmlUrl=\"http://b\"/></outline>"
                  "</body></opml>");
  COpmlXML list(nullptr, nullptr, 1);
  ASSERT_TRUE(list.LoadAndWalk(kList));
  static std::vector<int> named;
  named.clear();
  auto name = [](int n) {
    named.push_back(n);
    return 0;
  };
  EXPECT_FALSE(list.HasCategory(u"Tech"));
  EXPECT_TRUE(list.HasCategory(u" Tech "));
  EXPECT_FALSE(list.HasCategory(u"A"));
  const std::string before = Saved();
  EXPECT_EQ(list.RemoveCategory(u"Tech", name), 0);
  EXPECT_EQ(list.RemoveCategory(u"A", name), 0);
  EXPECT_EQ(list.RemoveCategory(u"", name), 0);
  EXPECT_TRUE(named.empty());
  EXPECT_EQ(Saved(), before);
  EXPECT_EQ(list.RemoveCategory(u" Tech ", name), 1);
  EXPECT_EQ(named, (std::vector<int>{6, 7}));
  EXPECT_EQ(list.HasChannel(u"http://a"), 0);
  EXPECT_EQ(list.HasChannel(u"http://tech"), 1);
  EXPECT_EQ(Saved().find("http://a"), std::string::npos);
  named.clear();
  // Nor does the older removal take a channel for a category.
  EXPECT_EQ(list.RemoveChannelById(u"Tech", name), 0);
  EXPECT_TRUE(named.empty());
  EXPECT_EQ(list.HasChannel(u"http://tech"), 1);
  EXPECT_TRUE(list.HasCategory(u"Misc"));
}

// Many channels added with one save give the list that adding them one by
// one gives (the same file, the same numbers): categories met in other
// letters, titles already in their category, empty fields, channels
// directly under the body and names the list held before.
TEST_F(OpmlTest, ChannelsAddedTogetherAreTheChannelsAddedOneByOne) {
  const char start[] =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><opml version=\"1.0\"><head/><body nextID=\"50\">"
      "<outline type=\"rss\" text=\"News\" uniqueID=\"1\">"
      "<outline type=\"rss\" text=\"Held\" uniqueID=\"5\" xmlUrl=\"http://held\"/></outline>"
      "<outline type=\"rss\" text=\"Loose\" uniqueID=\"6\" xmlUrl=\"http://loose\"/>"
      "</body></opml>";
  std::vector<COpmlXML::NewChannel> channels;
  const char16_t* categories[] = {u"News", u"NEWS", u"Tech", u"tech", u"", u"", u"Loose", u"Sp\u00e4t", u"SP\u00c4T", u"two"};
  const char16_t* titles[] = {u"Held", u"held", u"One", u"ONE", u"Two", u"", u"Tech", u"Three", u"Sp\u00e4t"};
  std::mt19937 random(7);
  for (int i = 0; i < 400; ++i) {
    CString url;
    url.Format(u"http://feed/%d", static_cast<int>(random() % 150));
    CString title = titles[random() % 9];
    if (random() % 4 == 0) title += u" x";
    channels.push_back({categories[random() % 10], title, random() % 30 == 0 ? CString() : url});
  }
  WriteDeviceFile(kList, start);
  std::vector<int> expected;
  {
    COpmlXML one(nullptr, nullptr, 1);
    one.SetPath(kList, 1);
    ASSERT_TRUE(one.LoadAndWalk(kList));
    for (const auto& c : channels) expected.push_back(one.AddChannel(c.category, c.title, c.url));
  }
  const std::string oneByOne = Saved();
  WriteDeviceFile(kList, start);
  COpmlXML list(nullptr, nullptr, 1);
  list.SetPath(kList, 1);
  ASSERT_TRUE(list.LoadAndWalk(kList));
  // The look-up made before the adding follows them.
  EXPECT_TRUE(list.HasChannel(u"http://held"));
  std::vector<int> numbers;
  ASSERT_TRUE(list.AddChannels(channels, &numbers));
  EXPECT_EQ(numbers, expected);
  EXPECT_EQ(Saved(), oneByOne);
  EXPECT_GT(std::count_if(numbers.begin(), numbers.end(), [](int n) { return n == 0; }), 50);
  EXPECT_GT(std::count_if(numbers.begin(), numbers.end(), [](int n) { return n != 0; }), 10);
  for (size_t i = 0; i < channels.size(); ++i) {
    if (numbers[i]) {
      EXPECT_TRUE(list.HasChannel(channels[i].url)) << i;
    }
  }

  // A save that fails leaves nothing of them, in memory or on disk; the
  // next channel takes the number the failed ones would have taken first.
  const std::string before = Saved();
  const std::string blocker = Host(kList) + ".tmp~";
  std::filesystem::create_directory(blocker);
  ASSERT_FALSE(list.AddChannels({{u"Fresh", u"F1", u"http://fresh/1"}, {u"News", u"F2", u"http://fresh/2"}}, &numbers));
  EXPECT_EQ(numbers, (std::vector<int>{0, 0}));
  EXPECT_FALSE(list.HasChannel(u"http://fresh/1"));
  EXPECT_FALSE(list.HasChannel(u"http://fresh/2"));
  EXPECT_FALSE(list.HasCategory(u"Fresh"));
  std::filesystem::remove(blocker);
  EXPECT_EQ(Saved(), before);
  EXPECT_EQ(list.AddChannel(u"Later", u"L", u"http://later"), 450);
  EXPECT_EQ(Saved().find("Fresh"), std::string::npos);
}

// A category is renamed only to a name no other category has, in any
// letter case (its own name in other letters is fine), and only a
// category: a channel one level down or directly under the body keeps its
// title. A new name that cannot be saved is not taken.
TEST_F(OpmlTest, ARenameRefusesANameInUseAndNeverTakesAChannel) {
  WriteDeviceFile(kList,
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?><opml version=\"1.0\"><head/><body nextID=\"9\">"
                  "<outline type=\"rss\" text=\"News\" uniqueID=\"1\">"
                  "<outline type=\"rss\" text=\"Alpha\" uniqueID=\"5\" xmlUrl=\"http://alpha\"/></outline>"
                  "<outline type=\"rss\" text=\"Tech\" uniqueID=\"2\"/>"
                  "<outline type=\"rss\" text=\"Loose\" uniqueID=\"6\" xmlUrl=\"http://loose\"/>"
                  "</body></opml>");
  COpmlXML list(nullptr, nullptr, 1);
  list.SetPath(kList, 1);
  ASSERT_TRUE(list.LoadAndWalk(kList));
  const std::string before = Saved();
  for (const char16_t* used : {u"Tech", u"tech", u"TECH"}) EXPECT_EQ(list.RenameCategory(u"News", used), 0) << qk::ToUtf8(used);
  EXPECT_EQ(list.RenameCategory(u"Alpha", u"Beta"), 0);
  EXPECT_EQ(list.RenameCategory(u"Loose", u"Beta"), 0);
  EXPECT_EQ(list.RenameCategory(u"", u"Beta"), 0);
  EXPECT_EQ(list.RemoveCategory(u"Loose", nullptr), 0);
  EXPECT_EQ(list.RemoveChannelById(u"Alpha", nullptr), 0);
  EXPECT_FALSE(list.HasCategory(u"Loose"));
  EXPECT_FALSE(list.HasCategory(u"Alpha", TRUE));
  EXPECT_TRUE(list.HasCategory(u"tECH", TRUE));
  EXPECT_FALSE(list.HasCategory(u"tECH"));
  EXPECT_EQ(Saved(), before);
  CString title;
  ASSERT_EQ(list.GetChannelAttribute(u"http://alpha", u"text", title), 1);
  EXPECT_EQ(title, CString(u"Alpha"));

  EXPECT_EQ(list.RenameCategory(u"Tech", u"TECH"), 1);
  EXPECT_TRUE(list.HasCategory(u"TECH"));
  // Not saved: refused, and the name in memory stays the old one.
  const std::string blocker = Host(kList) + ".tmp~";
  std::filesystem::create_directory(blocker);
  EXPECT_EQ(list.RenameCategory(u"News", u"World"), 0);
  EXPECT_TRUE(list.HasCategory(u"News"));
  EXPECT_FALSE(list.HasCategory(u"World"));
  std::filesystem::remove(blocker);
  EXPECT_EQ(list.RenameCategory(u"TECH", u"Science"), 1);
  const std::string saved = Saved();
  EXPECT_NE(saved.find("text=\"News\""), std::string::npos) << saved;
  EXPECT_NE(saved.find("text=\"Science\""), std::string::npos) << saved;
  EXPECT_EQ(saved.find("World"), std::string::npos) << saved;
}

// Every edit of the list and every load of another file shows in the next
// look-up by address: the first outline of an address at the first level,
// then one level down, whatever was added, moved, removed or read since.
TEST_F(OpmlTest, LookupsFollowEveryEditAndLoad) {
  WriteDeviceFile(kList,
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?><opml version=\"1.0\"><head/><body nextID=\"10\">"
                  "<outline type=\"rss\" text=\"News\" uniqueID=\"1\">"
                  "<outline type=\"rss\" text=\"A\" uniqueID=\"2\" xmlUrl=\"http://a\" label=\"inner\"/></outline>"
                  "<outline type=\"rss\" text=\"Tech\" uniqueID=\"3\"/>"
                  "<outline type=\"rss\" text=\"A top\" uniqueID=\"4\" xmlUrl=\"http://a\" label=\"top\"/>"
                  "</body></opml>");
  COpmlXML list(nullptr, nullptr, 1);
  list.SetPath(kList, 1);
  ASSERT_TRUE(list.LoadAndWalk(kList));
  CString value;
  ASSERT_EQ(list.GetChannelAttribute(u"http://a", u"label", value), 1);
  EXPECT_EQ(value, CString(u"top")) << "an outline directly under body comes first";
  EXPECT_EQ(list.AddChannel(u"Tech", u"B", u"http://b"), 10);
  EXPECT_EQ(list.SetChannelAttribute(u"http://b", u"label", u"b"), 1);
  EXPECT_EQ(list.MoveChannel(u"http://b", u"News"), 1);
  EXPECT_EQ(list.SetChannelAttribute(u"http://b", u"label", u"moved"), 1);
  const std::string saved = Saved();
  EXPECT_NE(saved.find("text=\"B\" uniqueID=\"10\" xmlUrl=\"http://b\" label=\"moved\""), std::string::npos) << saved;
  EXPECT_LT(saved.find("text=\"B\""), saved.find("text=\"Tech\"")) << "moved under News";
  EXPECT_EQ(list.RemoveChannel(u"http://a"), 1);
  ASSERT_EQ(list.GetChannelAttribute(u"http://a", u"label", value), 1);
  EXPECT_EQ(value, CString(u"inner")) << "the one left of the address";
  EXPECT_EQ(list.SetChannelAttribute(u"http://b", u"xmlUrl", u"http://c"), 1);
  EXPECT_EQ(list.HasChannel(u"http://b"), 0);
  EXPECT_EQ(list.HasChannel(u"http://c"), 1);
  EXPECT_EQ(list.RemoveChannelById(u"News", nullptr), 1);
  EXPECT_EQ(list.HasChannel(u"http://a"), 0);
  EXPECT_EQ(list.HasChannel(u"http://c"), 0);
  EXPECT_EQ(list.SetChannelAttribute(u"http://c", u"label", u"gone"), 0);
  // Another file read into the same object: only its channels are found.
  WriteDeviceFile(u"\\ChannelData\\Other.opml",
                  "<?xml version=\"1.0\"?><opml version=\"1.0\"><body>"
                  "<outline type=\"rss\" text=\"D\" uniqueID=\"5\" xmlUrl=\"http://d\"/></body></opml>");
  ASSERT_TRUE(list.LoadAndWalk(u"\\ChannelData\\Other.opml"));
  EXPECT_EQ(list.HasChannel(u"http://d"), 1);
  EXPECT_EQ(list.HasChannel(u"http://b"), 0);
  list.CreateEmpty();
  EXPECT_EQ(list.HasChannel(u"http://d"), 0);
}

TEST_F(OpmlTest, LoadReportsOutlines) {
  WriteDeviceFile(kList,
                  "<?xml version=\"1.0\"?><opml version=\"1.0\"><head><title>t</title></head><body>"
                  "<outline type=\"rss\" text=\"Cat\" uniqueID=\"2\">"
                  "<outline type=\"rss\" text=\"A|B\" uniqueID=\"3\" xmlUrl=\"http://a\" x:y=\"1\"/>"
                  "</outline>"
                  "<outline text=\"Links\" type=\"link\" uniqueID=\"5\"><outline type=\"rss\" text=\"Hidden\"/></outline>"
                  "<outline type=\"rss\" title=\"Titled\"><outline type=\"rss\" text=\"Under\"/></outline>"
                  "</body></opml>");
  Report filtered;
  COpmlXML list(&Report::Callback, &filtered, 1);
  ASSERT_TRUE(list.LoadAndWalk(kList));
  EXPECT_EQ(filtered.lines, (std::vector<std::string>{
                                "|type=rss", "|text=Cat", "|uniqueID=2", "|=",
                                "Cat|type=rss", "Cat|text=A|B", "Cat|uniqueID=3", "Cat|xmlUrl=http://a", "Cat|x:y=1",
                                "Cat|=",
                                "|text=Links",  // stops at its type: no end mark, and no channel of it
                                "|type=rss", "|title=Titled", "|=",
                                "Titled|type=rss", "Titled|text=Under", "Titled|=",
                            }));
  Report all;
  COpmlXML unfiltered(&Report::Callback, &all, 0);
  ASSERT_TRUE(unfiltered.LoadAndWalk(kList));
  EXPECT_EQ(all.lines.size(), filtered.lines.size() + 3 + 3);
}

TEST_F(OpmlTest, BrokenListsFailAndAreNeverOverwritten) {
  const std::string cases[] = {
      "this is not XML",
      "<?xml version=\"1.0\"?><opml version=\"1.0\"><head/></opml>",
      "<?xml version=\"1.0\"?><rss version=\"2.0\"><body/></rss>",
      "<?xml version=\"1.0\"?><opml><body><outline text=\"unclosed\"></body></opml>",
  };
  for (const std::string& bytes : cases) {
    WriteDeviceFile(kList, bytes);
    COpmlXML list(nullptr, nullptr, 1);
    list.SetPath(kList, 1);
    EXPECT_EQ(list.LoadAndWalk(kList), 0) << bytes;
    EXPECT_EQ(Saved(), bytes);
    // The window then starts from an empty list; the first edit keeps the
    // broken file beside the new one.
    list.CreateEmpty();
    EXPECT_EQ(list.AddChannel(u"", u"New", u"http://new"), 100);
    EXPECT_NE(Saved().find("xmlUrl=\"http://new\""), std::string::npos);
    EXPECT_EQ(ReadDeviceFile(u"\\ChannelData\\Channels.opml.bad"), bytes);
    std::remove(Host(u"\\ChannelData\\Channels.opml.bad").c_str());
  }
}

TEST_F(OpmlTest, HostileAttributeValuesAreReportedAsTheyStand) {
  std::string longTitle(100000, 'T');
  WriteDeviceFile(kList, "<?xml version=\"1.0\"?><opml><body nextID=\"-50\">"
                         "<outline type=\"rss\" text=\"" + longTitle + "\" uniqueID=\"../../x\" xmlUrl=\"%s%n%S|:\"/>"
                         "<outline type=\"rss\" text=\"n\" uniqueID=\"99999999999999999999\" xmlUrl=\"&#0;\"/>"
                         "</body></opml>");
  Report report;
  COpmlXML list(&Report::Callback, &report, 1);
  ASSERT_EQ(list.LoadAndWalk(kList), 1);
  ASSERT_GE(report.lines.size(), 5u);
  EXPECT_EQ(report.lines[1], "|text=" + longTitle);
  EXPECT_EQ(report.lines[2], "|uniqueID=../../x");
  EXPECT_EQ(report.lines[3], "|xmlUrl=%s%n%S|:");
  EXPECT_EQ(list.HasChannel(u"%s%n%S|:"), 1);
  // A negative counter restarts at 0 rather than making negative numbers.
  EXPECT_EQ(list.AddChannel(u"", u"Next", u"http://next"), 0);
  EXPECT_NE(Saved().find("nextID=\"1\""), std::string::npos);
  EXPECT_NE(Saved().find(longTitle), std::string::npos);

  // Control characters and carriage returns that a feed's title brought in
  // are saved as references and read back as themselves: the channel is
  // still found by its address after the list is loaded again.
  const char16_t* odd[] = {u"a\x01b\x1b", u"cr\rlf\r\nend", u"\x08"};
  for (const char16_t* text : odd) {
    CString url = CString(u"http://odd/") + text;
    EXPECT_GT(list.AddChannel(u"Odd", text, url), 0);
  }
  COpmlXML again(nullptr, nullptr, 1);
  ASSERT_EQ(again.LoadAndWalk(kList), 1);
  for (const char16_t* text : odd) {
    CString url = CString(u"http://odd/") + text;
    CString value;
    EXPECT_EQ(again.GetChannelAttribute(url, u"text", value), 1) << CStringA(url).str();
    EXPECT_EQ(value, CString(text));
  }
}

// The refresh thread writes counts while the user-interface thread adds
// channels: every change reaches the file and the file stays whole.
TEST_F(OpmlTest, ConcurrentEditsFromTwoThreads) {
  COpmlXML list(nullptr, nullptr, 1);
  NewList(list);
  for (int i = 0; i < 10; ++i) {
    CString url;
    url.Format(u"http://c%d", i);
    CString title;
    title.Format(u"C%d", i);
    ASSERT_EQ(list.AddChannel(u"Cat", title, url), 100 + i);
  }
  std::thread refresh([&] {
    for (int round = 0; round < 20; ++round) {
      for (int i = 0; i < 10; ++i) {
        CString url, count;
        url.Format(u"http://c%d", i);
        count.Format(u"%d", round);
        list.SetChannelAttribute(url, u"itemCount", count);
      }
    }
  });
  for (int i = 10; i < 60; ++i) {
    CString url, title;
    url.Format(u"http://c%d", i);
    title.Format(u"C%d", i);
    list.AddChannel(u"Other", title, url);
    CString value;
    list.GetChannelAttribute(u"http://c0", u"itemCount", value);
  }
  refresh.join();
  COpmlXML check(nullptr, nullptr, 1);
  ASSERT_TRUE(check.LoadAndWalk(kList));
  for (int i = 0; i < 60; ++i) {
    CString url, value;
    url.Format(u"http://c%d", i);
    EXPECT_EQ(check.GetChannelAttribute(url, u"itemCount", value), 1) << i;
    if (i < 10) {
      EXPECT_EQ(value, CString(u"19"));
    }
  }
  EXPECT_NE(Saved().find("nextID=\"160\""), std::string::npos);
}

TEST_F(OpmlTest, SaveBatchWritesOnceAtItsEndAndNeverHoldsBackOtherThreads) {
  COpmlXML list(nullptr, nullptr, 1);
  NewList(list);
  ASSERT_EQ(list.AddChannel(u"News", u"Alpha", u"http://a.example/feed"), 100);
  ASSERT_EQ(list.AddChannel(u"News", u"Beta", u"http://b.example/feed"), 101);
  const std::string before = Saved();
  {
    COpmlXML::CSaveBatch outer(&list);
    EXPECT_EQ(list.SetChannelAttribute(u"http://a.example/feed", u"itemCount", u"5"), 1);
    {
      // A nested batch of the same thread ends without a save.
      COpmlXML::CSaveBatch inner(&list);
      EXPECT_EQ(list.SetChannelAttribute(u"http://a.example/feed", u"newItemCount", u"2"), 1);
    }
    EXPECT_EQ(Saved(), before);
    EXPECT_TRUE(list.HasPendingSave());
    CString value;
    EXPECT_EQ(list.GetChannelAttribute(u"http://a.example/feed", u"newItemCount", value), 1);
    EXPECT_EQ(value, CString(u"2"));  // the tree holds the edit at once
  }
  EXPECT_FALSE(list.HasPendingSave());
  std::string saved = Saved();
  EXPECT_NE(saved.find("xmlUrl=\"http://a.example/feed\" itemCount=\"5\" newItemCount=\"2\""), std::string::npos)
      << saved;

  // Another thread's edit during a batch saves at once, and takes what the
  // batch held back with it; a batch that thread opens meanwhile holds back
  // nothing.
  {
    COpmlXML::CSaveBatch batch(&list);
    list.SetChannelAttribute(u"http://a.example/feed", u"lastUpdateTime", u"2026-12-09 00:00:00");
    std::thread other([&] {
      COpmlXML::CSaveBatch second(&list);
      list.SetChannelAttribute(u"http://b.example/feed", u"label", u"tech");
    });
    other.join();
    saved = Saved();
    EXPECT_NE(saved.find("label=\"tech\""), std::string::npos) << saved;
    EXPECT_NE(saved.find("lastUpdateTime=\"2026-12-09 00:00:00\""), std::string::npos) << saved;
    EXPECT_FALSE(list.HasPendingSave());
    // Nothing pending: the end of the batch writes nothing.
    WriteDeviceFile(kList, saved + "<!-- marker -->");
  }
  EXPECT_NE(Saved().find("<!-- marker -->"), std::string::npos);

  // A batch on no list is empty.
  { COpmlXML::CSaveBatch none(nullptr); }
}

TEST_F(OpmlTest, AHoldingBatchKeepsAttributesBackButNeverTheListsStructure) {
  COpmlXML list(nullptr, nullptr, 1);
  NewList(list);
  ASSERT_EQ(list.AddChannel(u"News", u"Alpha", u"http://a.example/feed"), 100);
  const std::string before = Saved();
  // Attribute edits wait past the end of batches that may hold them (for an
  // hour here), and go out with the next save that is due.
  for (int i = 0; i < 3; ++i) {
    COpmlXML::CSaveBatch batch(&list, 3600000);
    CString count;
    count.Format(u"%d", i);
    EXPECT_EQ(list.SetChannelAttribute(u"http://a.example/feed", u"itemCount", count), 1);
  }
  EXPECT_EQ(Saved(), before);
  EXPECT_TRUE(list.HasPendingSave());
  EXPECT_TRUE(list.SavePending());
  EXPECT_FALSE(list.HasPendingSave());
  EXPECT_NE(Saved().find("xmlUrl=\"http://a.example/feed\" itemCount=\"2\""), std::string::npos) << Saved();

  // A channel added inside a batch is saved at once, with the attribute
  // edits held back before it.
  {
    COpmlXML::CSaveBatch batch(&list, 3600000);
    list.SetChannelAttribute(u"http://a.example/feed", u"lastUpdateTime", u"2026-12-09 08:00:00");
    ASSERT_EQ(list.AddChannel(u"News", u"Beta", u"http://b.example/feed"), 101);
    std::string saved = Saved();
    EXPECT_NE(saved.find("http://b.example/feed"), std::string::npos) << saved;
    EXPECT_NE(saved.find("lastUpdateTime=\"2026-12-09 08:00:00\""), std::string::npos) << saved;
    EXPECT_FALSE(list.HasPendingSave());
    // So are a new category, a move, a rename and a removal.
    list.SetChannelAttribute(u"http://b.example/feed", u"itemCount", u"7");
    list.AddCategory(u"Tech");
    ASSERT_EQ(list.MoveChannel(u"http://b.example/feed", u"Tech"), 1);
    saved = Saved();
    EXPECT_LT(saved.find("text=\"Tech\""), saved.find("http://b.example/feed")) << saved;
    EXPECT_NE(saved.find("itemCount=\"7\""), std::string::npos) << saved;
    ASSERT_EQ(list.RenameCategory(u"Tech", u"Science"), 1);
    EXPECT_NE(Saved().find("text=\"Science\""), std::string::npos);
    ASSERT_EQ(list.RemoveChannel(u"http://a.example/feed"), 1);
    EXPECT_EQ(Saved().find("http://a.example/feed"), std::string::npos);
  }

  // A held edit that has waited its time is saved at the end of the batch.
  {
    COpmlXML::CSaveBatch batch(&list, 1);
    list.SetChannelAttribute(u"http://b.example/feed", u"newItemCount", u"3");
    const uint64_t from = qk::TickCount64();
    while (qk::TickCount64() - from < 2) std::this_thread::yield();
  }
  EXPECT_FALSE(list.HasPendingSave());
  EXPECT_NE(Saved().find("newItemCount=\"3\""), std::string::npos);

  // And what is still held when a list ends is not lost.
  COpmlXML* ending = new COpmlXML(nullptr, nullptr, 1);
  ASSERT_TRUE(ending->LoadAndWalk(kList));
  {
    COpmlXML::CSaveBatch batch(ending, 3600000);
    ending->SetChannelAttribute(u"http://b.example/feed", u"newItemCount", u"5");
  }
  delete ending;
  EXPECT_NE(Saved().find("newItemCount=\"5\""), std::string::npos);
}

}  // namespace
