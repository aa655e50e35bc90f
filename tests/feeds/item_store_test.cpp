// The item store: record layout byte for byte against independently built
// golden records, the gathering boundary, the index, read-flag rules,
// known items, trimming, deletion with local files, compaction under
// concurrent use, and torn, truncated, random and unwritable files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <thread>

#include "feeds_test_util.h"
#include "quillet/feeds/item_store.h"
#include "support/device_fixture.h"
#include "support/settings_registry.h"

namespace {

using ftest::Record;
const char16_t kStore[] = u"\\ChannelData\\Ch007.bin";

class ItemStoreTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    qk::FreezeClock(1117584000000LL, 5000);  // 2005-06-01 00:00:00 UTC
    WriteDeviceFile(u"\\ChannelData\\keep.txt", "keep");
  }
  std::string Bytes() { return ReadDeviceFile(kStore); }
  // Appends one plain item.
  void Add(CItemStore& s, const char16_t* link, const char16_t* date = u"2005-06-01T10:00:00Z",
           const char16_t* title = u"T", DWORD flag = 0) {
    s.AddPendingItem(title, link, u"", date, flag, 0, u"c", u"");
  }
  std::vector<std::u16string> Links() {
    CItemStore s(0);
    s.Open(kStore, 0, 1);
    std::vector<std::u16string> out;
    while (s.MoveNext()) out.push_back(s.Current().link.str());
    return out;
  }
};

TEST_F(ItemStoreTest, RecordLayoutByteForByte) {
  CItemStore s(1);
  s.Open(kStore, 0, 0);
  s.AddPendingItem(u"Title \u00e9", u"http://x/1", u"tag:1", u"Wed, 01 Jun 2005 12:00:00 GMT", 2, 3, u"<p>c</p>",
                   u"Ch007-01117584-001.htm");
  s.AddPendingItem(u"", u"http://x/2", u"", u"not a date", 0, 0, u"", u"");
  ASSERT_EQ(s.Commit(), 1);
  std::string want = Record(3, u"Title \u00e9", u"http://x/1", u"tag:1", u"2005-06-01 12:00:00", 2, u"<p>c</p>",
                            u"Ch007-01117584-001.htm") +
                     Record(0, u"", u"http://x/2", u"", u"not a date", 0, u"", u"");
  EXPECT_EQ(Bytes(), want);
  // L counts every byte after the length field.
  EXPECT_EQ(ftest::Record(0, u"", u"", u"", u"", 0, u"", u"").size(), 4u + 104u + 2 + 2 + 2 + 2);

  // The error record, appended at once.
  ASSERT_EQ(s.WriteErrorRecord(u"Err", ERROR_ITEM_LINK, u"", u"2005-06-01 00:00:00", 0, ITEM_TYPE_ERROR, u"why", u""),
            1);
  EXPECT_EQ(Bytes(), want + Record(ITEM_TYPE_ERROR, u"Err", ERROR_ITEM_LINK, u"", u"2005-06-01 00:00:00", 0, u"why",
                                   u""));
  // Read back, with and without the whole-file buffer.
  for (int buffered : {0, 1}) {
    CItemStore r(0);
    r.Open(kStore, 0, buffered);
    ASSERT_EQ(r.ReadRecord(0), 1);
    EXPECT_EQ(r.Current().title, CString(u"Title \u00e9"));
    EXPECT_EQ(r.Current().id, CString(u"tag:1"));
    EXPECT_EQ(r.Current().type, 3u);
    EXPECT_EQ(r.Current().readFlag, 2u);
    EXPECT_EQ(r.Current().pageName, CString(u"Ch007-01117584-001.htm"));
    ASSERT_EQ(r.ReadRecord(2), 1);
    EXPECT_EQ(r.Current().link, CString(ERROR_ITEM_LINK));
    EXPECT_EQ(r.ReadRecord(3), 0);
    EXPECT_EQ(r.Current().link, CString());
  }
}

TEST_F(ItemStoreTest, AContentHandedOverIsStoredAsTheSameTextGivenAsAPointer) {
  // A content with no NUL, and with one at each place of a block of four
  // characters, near the start and near the end: the record ends the text
  // at its first NUL either way.
  std::vector<std::u16string> contents = {u"", u"a", u"abcdefghij", std::u16string(1001, u'y')};
  for (size_t at : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 997u, 1000u}) {
    std::u16string c(1001, u'z');
    c[at] = 0;
    contents.push_back(c);
  }
  for (const std::u16string& content : contents) {
    std::filesystem::remove(Host(kStore));
    {
      CItemStore s(0);
      s.Open(kStore, 0, 0);
      s.AddPendingItem(u"t", u"b", u"", u"2005-06-01T00:00:00Z", 0, 0, content.c_str(), u"p");
      ASSERT_EQ(s.Commit(), 1);
    }
    const std::string given = Bytes();
    std::filesystem::remove(Host(kStore));
    {
      CItemStore s(0);
      s.Open(kStore, 0, 0);
      CString handed;
      handed.str() = content;
      s.AddPendingItem(u"t", u"b", u"", u"2005-06-01T00:00:00Z", 0, 0, std::move(handed), u"p");
      ASSERT_EQ(s.Commit(), 1);
    }
    EXPECT_EQ(Bytes(), given) << content.size();
    const size_t nul = content.find(u'\0');
    const std::u16string stored = nul == std::u16string::npos ? content : content.substr(0, nul);
    EXPECT_EQ(given, Record(0, u"t", u"b", u"", u"2005-06-01 00:00:00", 0, stored, u"p"));
    // And it reads back as it was stored, whatever its length.
    CItemStore reader(0);
    reader.Open(kStore, 0, 1);
    ASSERT_TRUE(reader.ReadRecord(0));
    EXPECT_EQ(reader.Current().content.str(), stored) << content.size();
    EXPECT_EQ(reader.Current().pageName, CString(u"p"));
  }
}

TEST_F(ItemStoreTest, GatheringBoundaryAndLongFields) {
  // 4 + L just below, at and above the 32,768-byte gathering buffer (L is
  // always even), each between two small records: the bytes are the same
  // whichever way they were written.
  for (int total : {32766, 32768, 32770}) {
    std::filesystem::remove(Host(kStore));
    size_t contentChars = size_t(total - 4 - 104 - 4 - 4 - 40) / 2 - 1;
    std::u16string content(contentChars, u'x');
    CItemStore s(0);
    s.Open(kStore, 0, 0);
    Add(s, u"a");
    s.AddPendingItem(u"t", u"b", u"", u"2005-06-01T00:00:00Z", 0, 0, content.c_str(), u"");
    Add(s, u"c");
    ASSERT_EQ(s.Commit(), 1);
    std::string big = Record(0, u"t", u"b", u"", u"2005-06-01 00:00:00", 0, content, u"");
    ASSERT_EQ(big.size(), size_t(total));
    std::string small1 = Record(0, u"T", u"a", u"", u"2005-06-01 10:00:00", 0, u"c", u"");
    std::string small2 = Record(0, u"T", u"c", u"", u"2005-06-01 10:00:00", 0, u"c", u"");
    EXPECT_EQ(Bytes(), small1 + big + small2) << total;
  }
  // A page name of 40 or more characters keeps its first 39; links and ids
  // beyond 32,766 characters and raw dates of 128 or more are cut.
  std::filesystem::remove(Host(kStore));
  CItemStore s(0);
  s.Open(kStore, 0, 0);
  std::u16string page(45, u'p'), link(40000, u'l'), id(33000, u'i'), date(200, u'd');
  s.AddPendingItem(u"t", link.c_str(), id.c_str(), date.c_str(), 0, 0, u"", page.c_str());
  ASSERT_EQ(s.Commit(), 1);
  EXPECT_EQ(Bytes(), Record(0, u"t", link.substr(0, 32766), id.substr(0, 32766), date.substr(0, 127), 0, u"",
                            page.substr(0, 39)));
  CItemStore r(0);
  r.Open(kStore, 0, 1);
  ASSERT_TRUE(r.MoveNext());
  EXPECT_EQ(r.Current().link.GetLength(), 32766);
  EXPECT_EQ(r.Current().id.GetLength(), 32766);
  EXPECT_EQ(r.Current().pageName.GetLength(), 39);
}

TEST_F(ItemStoreTest, IndexOrderAndFullIndex) {
  CItemStore s(0);
  s.SetKeptCount(50);
  EXPECT_EQ(s.GetIndexCapacity(), 499);
  EXPECT_EQ(s.InsertKey(u"2005-01-02", u"b"), 1);
  EXPECT_EQ(s.InsertKey(u"2005-01-01", u"a"), 1);
  EXPECT_EQ(s.InsertKey(u"2005-01-02", u"b2"), 1);  // equal dates: after the earlier ones
  EXPECT_EQ(s.InsertKey(u"", u"x"), 0);
  EXPECT_EQ(s.InsertKey(u"2005", u""), 0);
  EXPECT_EQ(s.InsertKey(std::u16string(31, u'9').c_str(), u"x"), 0);
  EXPECT_EQ(s.InsertKey(u"2005", std::u16string(260, u'l').c_str()), 0);
  ASSERT_EQ(s.GetIndexCount(), 3);
  EXPECT_EQ(s.GetIndexLink(0), CString(u"a"));
  EXPECT_EQ(s.GetIndexLink(1), CString(u"b"));
  EXPECT_EQ(s.GetIndexLink(2), CString(u"b2"));
  for (int i = 3; i < 499; ++i) {
    CString d, l;
    d.Format(u"2006-%05d", i);
    l.Format(u"l%d", i);
    ASSERT_EQ(s.InsertKey(d, l), 1);
  }
  ASSERT_EQ(s.GetIndexCount(), 499);
  EXPECT_EQ(s.InsertKey(u"2004-12-31", u"older"), 0);  // older than every entry
  EXPECT_EQ(s.InsertKey(u"2005-01-01", u"same"), 1);    // equal to the oldest: entry 0 goes
  EXPECT_EQ(s.GetIndexCount(), 499);
  EXPECT_EQ(s.GetIndexLink(0), CString(u"same"));
  EXPECT_EQ(s.GetIndexLink(1), CString(u"b"));
  EXPECT_EQ(s.InsertKey(u"2007", u"newest"), 1);
  EXPECT_EQ(s.GetIndexLink(498), CString(u"newest"));
  EXPECT_EQ(s.GetIndexLink(0), CString(u"b"));

  // With 500 items kept the index holds 501 entries, so trimming works.
  CItemStore big(0);
  big.SetKeptCount(500);
  EXPECT_EQ(big.GetIndexCapacity(), 501);
}

TEST_F(ItemStoreTest, ReadFlagAndTypeTransitions) {
  {
    CItemStore s(0);
    s.Open(kStore, 0, 0);
    Add(s, u"a", u"2005-06-01T10:00:00Z", u"T", 0);
    Add(s, u"b", u"2005-06-01T10:00:00Z", u"T", 1);
    Add(s, u"c", u"2005-06-01T10:00:00Z", u"T", 2);
    Add(s, u"d", u"2005-06-01T10:00:00Z", u"T", 3);
    Add(s, u"a", u"2005-06-01T10:00:00Z", u"T2", 0);  // a second record with the same link
    ASSERT_EQ(s.Commit(), 1);
  }
  auto flags = [&] {
    CItemStore r(0);
    r.Open(kStore, 0, 1);
    std::vector<DWORD> out;
    while (r.MoveNext()) out.push_back(r.Current().readFlag);
    return out;
  };
  CItemStore s(0);
  s.Open(kStore, 0, 1);
  EXPECT_EQ(SetItemReadState(&s, u"a", ITEM_READ_MARK_FETCHED), 1);  // 0 -> 1, both records
  EXPECT_EQ(flags(), (std::vector<DWORD>{1, 1, 2, 3, 1}));
  EXPECT_EQ(SetItemReadState(&s, u"c", ITEM_READ_MARK_FETCHED), 0);  // 9999 on 2: nothing
  EXPECT_EQ(SetItemReadState(&s, u"b", 2), 0);                       // 2 on 1: nothing
  EXPECT_EQ(SetItemReadState(&s, u"d", 3), 0);                       // equal
  EXPECT_EQ(SetItemReadState(&s, u"missing", 2), 0);
  EXPECT_EQ(SetItemReadState(&s, u"c", 0), 1);
  EXPECT_EQ(flags(), (std::vector<DWORD>{1, 1, 0, 3, 1}));
  // An empty link: every 0 becomes 2 and 1 and 3 stay; then 3 turns every 1.
  EXPECT_EQ(SetItemReadState(&s, u"", 2), 1);
  EXPECT_EQ(flags(), (std::vector<DWORD>{1, 1, 2, 3, 1}));
  EXPECT_EQ(SetItemReadState(&s, u"", 3), 1);
  EXPECT_EQ(flags(), (std::vector<DWORD>{3, 3, 2, 3, 3}));
  EXPECT_EQ(SetItemReadState(&s, u"", 3), 0);
  // Every record at once, in the two steps of the read-state commands: the
  // read bit follows, the other bit stays.
  SetItemReadFlag(&s, 0);
  SetItemReadFlag(&s, 1);
  EXPECT_EQ(flags(), (std::vector<DWORD>{1, 1, 0, 1, 1}));
  SetItemReadFlag(&s, 2);
  SetItemReadFlag(&s, 3);
  EXPECT_EQ(flags(), (std::vector<DWORD>{3, 3, 2, 3, 3}));
  SetItemReadFlag(nullptr, 3);
  // Types: the whole value is replaced; the buffer follows, the current record is cleared.
  EXPECT_EQ(SetItemType(&s, u"b", 0x12345), 1);
  EXPECT_EQ(SetItemType(&s, u"b", 0x12345), 0);
  EXPECT_EQ(s.GetCurrentNumber(), -1);
  ASSERT_EQ(s.ReadRecord(1), 1);
  EXPECT_EQ(s.Current().type, 0x12345u);
}

TEST_F(ItemStoreTest, KnownItemsFindAndDeletedRecords) {
  {
    CItemStore s(0);
    s.Open(kStore, 0, 0);
    s.AddPendingItem(u"One", u"http://1", u"", u"2005-06-01T10:00:00Z", 0, 0, u"", u"");
    s.AddPendingItem(u"Two", u"http://2", u"id-2", u"2005-06-01T10:00:00Z", 0, 0, u"", u"");
    s.AddPendingItem(u"Three", u"http://3", u"", u"2005-06-01T10:00:00Z", 0, 0, u"", u"");
    ASSERT_EQ(s.Commit(), 1);
  }
  CItemStore s(0);
  s.Open(kStore, 0, 1);
  EXPECT_EQ(s.IsKnownItem(u"http://1", u"One", u""), 1);
  EXPECT_EQ(s.IsKnownItem(u"http://1", u"", u""), 1);
  EXPECT_EQ(s.IsKnownItem(u"http://1", u"Changed", u""), 0);
  EXPECT_EQ(s.IsKnownItem(u"http://1", u"Three", u""), 1);  // title of another item
  EXPECT_EQ(s.IsKnownItem(u"http://other", u"Two", u"id-2"), 1);
  EXPECT_EQ(s.IsKnownItem(u"http://2", u"Two", u"id-x"), 0);
  EXPECT_EQ(s.IsKnownItem(u"HTTP://1", u"", u""), 0);
  EXPECT_EQ(s.FindRecord(u"http://2", u"Two"), 1);
  EXPECT_EQ(s.GetCurrentNumber(), 1);
  EXPECT_EQ(s.FindRecord(u"http://2", u"One"), 0);
  EXPECT_EQ(s.Current().link, CString(u"http://2"));  // the previous record stays
  EXPECT_EQ(s.DeleteItem(u"http://2"), 1);
  EXPECT_EQ(s.DeleteItem(u"http://2"), 0);
  EXPECT_EQ(Links(), (std::vector<std::u16string>{u"http://1", u"http://3"}));
  CItemStore fresh(0);
  fresh.Open(kStore, 0, 1);
  EXPECT_EQ(fresh.IsKnownItem(u"http://2", u"", u""), 0);
  EXPECT_EQ(fresh.FindRecord(u"http://2", u""), 0);
  size_t before = Bytes().size();
  fresh.Rewrite();
  EXPECT_LT(Bytes().size(), before);
  EXPECT_EQ(Links(), (std::vector<std::u16string>{u"http://1", u"http://3"}));
  EXPECT_EQ(Bytes(), Record(0, u"One", u"http://1", u"", u"2005-06-01 10:00:00", 0, u"", u"") +
                         Record(0, u"Three", u"http://3", u"", u"2005-06-01 10:00:00", 0, u"", u""));
}

TEST_F(ItemStoreTest, TrimmingDeletesTheOldestBeyondTheKeptCount) {
  qtest::SetSettingDword(u"ArticlesNumber", 3);
  {
    CItemStore s(0);
    s.Open(kStore, 0, 0);
    Add(s, u"d", u"2005-06-04T00:00:00Z");
    Add(s, u"a", u"2005-06-01T00:00:00Z");
    Add(s, u"c", u"2005-06-03T00:00:00Z");
    Add(s, u"b1", u"2005-06-02T00:00:00Z");
    Add(s, u"b2", u"2005-06-02T00:00:00Z");
    ASSERT_EQ(s.Commit(), 1);
  }
  CItemStore s(1);
  EXPECT_EQ(s.GetKeptCount(), 3);
  s.Open(kStore, 1, 1);
  EXPECT_EQ(s.GetIndexCount(), 5);
  EXPECT_EQ(s.Current().link, CString(u"b2"));  // the last live record is current
  EXPECT_EQ(s.TrimItems(1), 1);                 // oldest only
  EXPECT_EQ(Links(), (std::vector<std::u16string>{u"d", u"c", u"b1", u"b2"}));
  EXPECT_EQ(s.TrimItems(0), 1);  // deleted items stay in the index
  EXPECT_EQ(Links(), (std::vector<std::u16string>{u"d", u"c", u"b2"}));
  qtest::SetSettingDword(u"ArticlesNumber", 900);
  CItemStore capped(1);
  EXPECT_EQ(capped.GetKeptCount(), 500);
  CItemStore none(0);
  none.Open(kStore, 1, 1);
  EXPECT_EQ(none.GetKeptCount(), 0);
  EXPECT_EQ(none.TrimItems(0), 1);
  EXPECT_TRUE(Links().empty());
  // 500 kept of 501 stored: the index has room for all of them, so the
  // oldest goes.
  std::filesystem::remove(Host(kStore));
  {
    CItemStore w(0);
    w.Open(kStore, 0, 0);
    for (int i = 0; i < 501; ++i) {
      CString link, date;
      link.Format(u"n%d", i);
      date.Format(u"2005-06-01 %02d:%02d:00", (500 - i) / 60, (500 - i) % 60);
      Add(w, link, date);
    }
    ASSERT_EQ(w.Commit(), 1);
  }
  qtest::SetSettingDword(u"ArticlesNumber", 500);
  CItemStore full(1);
  full.Open(kStore, 1, 1);
  EXPECT_EQ(full.GetIndexCount(), 501);
  EXPECT_EQ(full.TrimItems(0), 1);
  std::vector<std::u16string> left = Links();
  ASSERT_EQ(left.size(), 500u);
  EXPECT_EQ(left.back(), u"n499");  // n500 had the oldest date
}

TEST_F(ItemStoreTest, DeletionRemovesOnlyTheItemsOwnFiles) {
  const std::u16string page = u"Ch007-1117584000-005.htm";
  WriteDeviceFile(u"\\ChannelData\\Ch007-1117584000-005.htm", "page");
  WriteDeviceFile(u"\\ChannelData\\Ch007-1117584000-005.bmp", "thumb");
  WriteDeviceFile(u"\\ChannelData\\Ch007-1117584000-0050.jpg", "other item's image");
  WriteDeviceFile(u"\\ChannelData\\Ch007-1117584000-006.jpg", "own image");
  WriteDeviceFile(u"\\ChannelData\\Ch007-1117584000-007.gif", "own image 2");
  WriteDeviceFile(u"\\ChannelData\\Ch007-1117584000-008.jpg", "own image 3");
  WriteDeviceFile(u"\\ChannelData\\Ch007-1117584000-009.jpg", "own image 4");
  WriteDeviceFile(u"\\ChannelData\\Ch008-1117584000-001.jpg", "other channel");
  WriteDeviceFile(u"\\ChannelData\\Ch007-Logo.img", "logo");
  WriteDeviceFile(u"\\ChannelData\\Channels.opml", "list");
  WriteDeviceFile(u"\\x", "outside");
  std::u16string content =
      u"<p>a <img src=\"Ch007-1117584000-006.jpg\"> b <IMG SRC='Ch007-1117584000-007.gif' alt=x>"
      u"<img src=Channels.opml > <img src=../x > <img src=Ch008-1117584000-001.jpg >"
      u"<img src=Ch007-Logo.img > <img src=\\x >"
      // Compact markup: the second reference starts inside the first one's raw value.
      u"<img src=\"Ch007-1117584000-008.jpg\"><img src=\"Ch007-1117584000-009.jpg\"> end</p>";
  {
    CItemStore s(0);
    s.Open(kStore, 0, 0);
    s.AddPendingItem(u"t", u"http://del", u"", u"2005-06-01T00:00:00Z", 0, 0, content.c_str(), page.c_str());
    Add(s, u"http://stay");
    ASSERT_EQ(s.Commit(), 1);
  }
  CItemStore s(0);
  s.Open(kStore, 0, 1);
  ASSERT_EQ(s.DeleteItem(u"http://del"), 1);
  EXPECT_FALSE(DeviceFileExists(u"\\ChannelData\\Ch007-1117584000-005.htm"));
  EXPECT_FALSE(DeviceFileExists(u"\\ChannelData\\Ch007-1117584000-005.bmp"));
  EXPECT_FALSE(DeviceFileExists(u"\\ChannelData\\Ch007-1117584000-006.jpg"));
  EXPECT_FALSE(DeviceFileExists(u"\\ChannelData\\Ch007-1117584000-007.gif"));
  EXPECT_FALSE(DeviceFileExists(u"\\ChannelData\\Ch007-1117584000-008.jpg"));
  EXPECT_FALSE(DeviceFileExists(u"\\ChannelData\\Ch007-1117584000-009.jpg"));
  EXPECT_TRUE(DeviceFileExists(u"\\ChannelData\\Ch007-1117584000-0050.jpg"));
  EXPECT_TRUE(DeviceFileExists(u"\\ChannelData\\Ch008-1117584000-001.jpg"));
  EXPECT_TRUE(DeviceFileExists(u"\\ChannelData\\Ch007-Logo.img"));
  EXPECT_TRUE(DeviceFileExists(u"\\ChannelData\\Channels.opml"));
  EXPECT_TRUE(DeviceFileExists(u"\\x"));
  EXPECT_TRUE(DeviceFileExists(u"\\ChannelData\\keep.txt"));
  EXPECT_EQ(Links(), (std::vector<std::u16string>{u"http://stay"}));
}

// A compaction reloads under the store's lock, so read states set by
// another thread meanwhile are never lost, and in-place writes never land
// in a record that moved.
TEST_F(ItemStoreTest, CompactionAndReadStatesFromTwoThreads) {
  const int n = 60;
  {
    CItemStore s(0);
    s.Open(kStore, 0, 0);
    for (int i = 0; i < n; ++i) {
      CString link;
      link.Format(u"l%d", i);
      Add(s, link);
      Add(s, CString(u"gone") + link);
    }
    ASSERT_EQ(s.Commit(), 1);
  }
  std::thread ui([&] {
    for (int i = 0; i < n; ++i) {
      CString link;
      link.Format(u"l%d", i);
      CItemStore s(0);
      s.Open(kStore, 0, 1);
      EXPECT_EQ(SetItemReadState(&s, link, 2), 1) << i;
      s.DeleteItem(CString(u"gone") + link);
    }
  });
  for (int round = 0; round < 40; ++round) {
    CItemStore s(0);
    s.Open(kStore, 0, 1);
    s.Rewrite();
  }
  ui.join();
  CItemStore s(0);
  s.Open(kStore, 0, 1);
  s.Rewrite();
  int count = 0;
  while (s.MoveNext()) {
    EXPECT_EQ(s.Current().readFlag, 2u) << CStringA(s.Current().link).GetString();
    ++count;
  }
  EXPECT_EQ(count, n);
}

TEST_F(ItemStoreTest, TornTruncatedAndRandomFiles) {
  std::string a = Record(0, u"A", u"a", u"", u"2005-06-01 00:00:00", 0, u"", u"");
  std::string b = Record(0, u"B", u"b", u"", u"2005-06-01 00:00:00", 0, u"", u"");
  // A torn last record hides nothing before it, and the next append cuts it.
  WriteDeviceFile(kStore, a + b.substr(0, b.size() - 7));
  EXPECT_EQ(Links(), std::vector<std::u16string>{u"a"});
  {
    CItemStore s(0);
    s.Open(kStore, 0, 0);
    Add(s, u"c");
    ASSERT_EQ(s.Commit(), 1);
  }
  EXPECT_EQ(Links(), (std::vector<std::u16string>{u"a", u"c"}));
  EXPECT_EQ(Bytes(), a + Record(0, u"T", u"c", u"", u"2005-06-01 10:00:00", 0, u"c", u""));
  // A record whose texts run past its own length reads as the end; the next
  // append marks it deleted, so the records after it and the new one show.
  std::string bad = b;
  bad[8] = char(0x7F);  // title count far beyond the record
  std::string c2 = Record(0, u"C", u"c2", u"", u"2005-06-01 00:00:00", 0, u"", u"");
  WriteDeviceFile(kStore, a + bad + c2);
  EXPECT_EQ(Links(), std::vector<std::u16string>{u"a"});
  {
    CItemStore s(0);
    s.Open(kStore, 0, 0);
    Add(s, u"d");
    ASSERT_EQ(s.Commit(), 1);
  }
  EXPECT_EQ(Links(), (std::vector<std::u16string>{u"a", u"c2", u"d"}));
  std::string marked = bad;
  marked.replace(4, 4, std::string("\0\0\0\x80", 4));
  EXPECT_EQ(Bytes(), a + marked + c2 + Record(0, u"T", u"d", u"", u"2005-06-01 10:00:00", 0, u"c", u""));
  // Random bytes read as no records and are never made worse by an append.
  std::mt19937 rng(7);
  for (int trial = 0; trial < 20; ++trial) {
    std::string junk(size_t(rng() % 3000), '\0');
    for (char& c : junk) c = char(rng());
    WriteDeviceFile(kStore, junk);
    std::vector<std::u16string> before = Links();
    CItemStore s(0);
    s.Open(kStore, 1, 1);
    Add(s, u"new");
    ASSERT_EQ(s.Commit(), 1);
    std::vector<std::u16string> after = Links();
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after.back(), u"new");
    // Whatever was readable still is, in its order.
    std::vector<std::u16string> kept(after.begin(), after.end() - 1);
    ASSERT_GE(kept.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(kept[i], before[i]);
  }
}

// A full disk during an append: the file stays as it was, the pending items
// stay for a later try.
TEST_F(ItemStoreTest, FailedAppendLeavesTheFileAsItWas) {
  {
    CItemStore s(0);
    s.Open(kStore, 0, 0);
    Add(s, u"first");
    ASSERT_EQ(s.Commit(), 1);
  }
  std::string before = Bytes();
  CItemStore s(0);
  s.Open(kStore, 0, 0);
  std::u16string big(100000, u'z');
  s.AddPendingItem(u"t", u"second", u"", u"", 0, 0, big.c_str(), u"");
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit low = old;
  low.rlim_cur = before.size() + 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
  int result = s.Commit();
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Bytes(), before);
  ASSERT_EQ(s.Commit(), 1);  // the item was kept and goes in now
  EXPECT_EQ(Links(), (std::vector<std::u16string>{u"first", u"second"}));
}

// Any type with 0x8000 in its high half reads as deleted, but compaction
// drops only the value that deletion writes.
TEST_F(ItemStoreTest, DeletedTypesAreSkippedAndOnlyTheDeletionValueIsDropped) {
  std::string live = Record(0, u"A", u"a", u"", u"2005-06-01 00:00:00", 0, u"", u"");
  std::string odd = Record(0x80001234u, u"B", u"b", u"", u"2005-06-01 00:00:00", 0, u"", u"");
  std::string gone = Record(ITEM_TYPE_DELETED, u"C", u"c", u"", u"2005-06-01 00:00:00", 0, u"", u"");
  std::string error = Record(ITEM_TYPE_ERROR, u"E", ERROR_ITEM_LINK, u"", u"2005-06-01 00:00:00", 0, u"", u"");
  WriteDeviceFile(kStore, odd + live + gone + error);
  CItemStore s(0);
  s.Open(kStore, 1, 1);
  EXPECT_EQ(Links(), (std::vector<std::u16string>{u"a", ERROR_ITEM_LINK}));
  EXPECT_EQ(s.FindRecord(u"b", u""), 0);
  EXPECT_EQ(s.IsKnownItem(u"b", u"", u""), 0);
  EXPECT_EQ(s.IsKnownItem(u"c", u"", u""), 0);
  EXPECT_EQ(SetItemType(&s, u"b", 0), 0);  // a deleted record is never revived
  // The index leaves the error item out.
  ASSERT_EQ(s.GetIndexCount(), 1);
  EXPECT_EQ(s.GetIndexLink(0), CString(u"a"));
  s.Rewrite();
  EXPECT_EQ(Bytes(), odd + live + error);
}

// Walking past the last record keeps the last one current; a reset walks
// again from the first.
TEST_F(ItemStoreTest, WalkEndsOnTheLastRecord) {
  {
    CItemStore s(0);
    s.Open(kStore, 0, 0);
    Add(s, u"a");
    Add(s, u"b");
    ASSERT_EQ(s.Commit(), 1);
  }
  for (int buffered : {0, 1}) {
    CItemStore s(0);
    s.Open(kStore, 0, buffered);
    ASSERT_EQ(s.MoveNext(), 1);
    ASSERT_EQ(s.MoveNext(), 1);
    EXPECT_EQ(s.MoveNext(), 0) << buffered;
    EXPECT_EQ(s.GetCurrentNumber(), 1);
    EXPECT_EQ(s.Current().link, CString(u"b"));
    EXPECT_EQ(s.MoveNext(), 0);
    EXPECT_EQ(s.Current().link, CString(u"b"));
    s.ResetRecord();
    EXPECT_EQ(s.Current().link, CString());
    ASSERT_EQ(s.MoveNext(), 1);
    EXPECT_EQ(s.Current().link, CString(u"a"));
  }
}

// An error record written to an indexed store that is over its kept count
// first deletes the oldest item, and enters the index itself.
TEST_F(ItemStoreTest, ErrorRecordOnAnIndexedStoreTrimsTheOldest) {
  qtest::SetSettingDword(u"ArticlesNumber", 2);
  {
    CItemStore s(0);
    s.Open(kStore, 0, 0);
    Add(s, u"new", u"2005-06-03T00:00:00Z");
    Add(s, u"old", u"2005-06-01T00:00:00Z");
    Add(s, u"mid", u"2005-06-02T00:00:00Z");
    ASSERT_EQ(s.Commit(), 1);
  }
  CItemStore s(1);
  s.Open(kStore, 1, 1);
  ASSERT_EQ(s.GetIndexCount(), 3);
  ASSERT_EQ(s.WriteErrorRecord(u"E", ERROR_ITEM_LINK, u"", u"2005-06-04 00:00:00", 0, ITEM_TYPE_ERROR, u"x", u""), 1);
  EXPECT_EQ(Links(), (std::vector<std::u16string>{u"new", u"mid", ERROR_ITEM_LINK}));
  ASSERT_EQ(s.GetIndexCount(), 4);  // deleted items stay in the index
  EXPECT_EQ(s.GetIndexLink(3), CString(ERROR_ITEM_LINK));
  // The buffer the store holds follows the file.
  EXPECT_EQ(s.GetBuffer(), Bytes());
  // Below the kept count nothing goes.
  std::filesystem::remove(Host(kStore));
  CItemStore small(1);
  small.Open(kStore, 1, 1);
  ASSERT_EQ(small.WriteErrorRecord(u"E", ERROR_ITEM_LINK, u"", u"2005-06-04 00:00:00", 0, ITEM_TYPE_ERROR, u"x", u""),
            1);
  EXPECT_EQ(Links(), std::vector<std::u16string>{ERROR_ITEM_LINK});
}

// Content a feed wrote itself (not rewritten, images off) may name the
// files of other items: deleting the item removes only what it owns, and a
// file two items name goes with the last of them.
TEST_F(ItemStoreTest, DeletionNeverReachesAnotherItemsFiles) {
  const char16_t* files[] = {
      u"\\ChannelData\\Ch007-1117584000-001.htm", u"\\ChannelData\\Ch007-1117584000-001.bmp",
      u"\\ChannelData\\Ch007-1117584000-002.jpg", u"\\ChannelData\\Ch007-1117584000-003.htm",
      u"\\ChannelData\\Ch007-1117584000-004.png", u"\\ChannelData\\Ch007-1117584000-005.gif",
  };
  for (const char16_t* f : files) WriteDeviceFile(f, "x");
  {
    CItemStore s(0);
    s.Open(kStore, 0, 0);
    // The victim: its page 001 with thumbnail, its image 002, and 005 that
    // the hostile item names too.
    s.AddPendingItem(u"victim", u"http://v", u"", u"2005-06-01T00:00:00Z", 0, 3,
                     u"<img src=\"Ch007-1117584000-002.jpg\"><img src=\"Ch007-1117584000-005.gif\">",
                     u"Ch007-1117584000-001.htm");
    // The hostile item names the victim's page, thumbnail and image as its
    // own images; its own page is 003 and its own image 004.
    s.AddPendingItem(u"hostile", u"http://h", u"", u"2005-06-01T00:00:00Z", 0, 0,
                     u"<img src=\"Ch007-1117584000-001.htm\"><img src=Ch007-1117584000-001.bmp>"
                     u"<IMG SRC='Ch007-1117584000-002.jpg'><img src=\"Ch007-1117584000-004.png\">"
                     u"<img src=\"Ch007-1117584000-005.gif\">",
                     u"Ch007-1117584000-003.htm");
    ASSERT_EQ(s.Commit(), 1);
  }
  CItemStore s(0);
  s.Open(kStore, 0, 1);
  ASSERT_EQ(s.DeleteItem(u"http://h"), 1);
  EXPECT_FALSE(DeviceFileExists(u"\\ChannelData\\Ch007-1117584000-003.htm"));
  EXPECT_FALSE(DeviceFileExists(u"\\ChannelData\\Ch007-1117584000-004.png"));
  for (const char16_t* f : {files[0], files[1], files[2], files[5]}) EXPECT_TRUE(DeviceFileExists(f)) << CStringA(f).str();
  ASSERT_EQ(s.DeleteItem(u"http://v"), 1);
  for (const char16_t* f : files) EXPECT_FALSE(DeviceFileExists(f)) << CStringA(f).str();
  EXPECT_TRUE(DeviceFileExists(u"\\ChannelData\\keep.txt"));
  EXPECT_TRUE(Links().empty());
}

// A compaction by a store whose buffer is stale, while another store object
// has meanwhile marked an item read and deleted another, keeps both changes
// and drops exactly the deleted records.
TEST_F(ItemStoreTest, CompactionFromAStaleBufferKeepsOtherObjectsChanges) {
  {
    CItemStore s(0);
    s.Open(kStore, 0, 0);
    for (const char16_t* link : {u"a", u"b", u"c", u"d"}) Add(s, link);
    ASSERT_EQ(s.Commit(), 1);
  }
  CItemStore stale(0);
  stale.Open(kStore, 0, 1);
  ASSERT_EQ(stale.DeleteItem(u"d"), 1);  // its own change, before the others
  std::string before = stale.GetBuffer();
  {
    CItemStore ui(0);
    ui.Open(kStore, 0, 1);
    EXPECT_EQ(SetItemReadState(&ui, u"a", ITEM_READ_READ), 1);
    EXPECT_EQ(ui.DeleteItem(u"c"), 1);
    CItemStore refresh(0);
    refresh.Open(kStore, 0, 0);
    Add(refresh, u"e");
    ASSERT_EQ(refresh.Commit(), 1);
  }
  ASSERT_EQ(stale.GetBuffer(), before);  // the buffer knows nothing of it
  stale.Rewrite();
  EXPECT_EQ(Bytes(), Record(0, u"T", u"a", u"", u"2005-06-01 10:00:00", 2, u"c", u"") +
                         Record(0, u"T", u"b", u"", u"2005-06-01 10:00:00", 0, u"c", u"") +
                         Record(0, u"T", u"e", u"", u"2005-06-01 10:00:00", 0, u"c", u""));
  EXPECT_EQ(stale.GetBuffer(), Bytes());
  ASSERT_EQ(stale.ReadRecord(2), 1);
  EXPECT_EQ(stale.Current().link, CString(u"e"));
}

TEST_F(ItemStoreTest, AHeldFileEndsAsTheSameBytesAsOneReadAtEveryStep) {
  // A refresh's steps on one store: the stored keys looked at, new items
  // appended (one of them marked read), the index built, the oldest beyond
  // the kept count and the error item deleted; then the counts taken and
  // the store compacted. Done on a held file and on one read at every step,
  // from the same start, they leave the same bytes and counts.
  std::string a = Record(0, u"A", u"a", u"", u"2005-05-01 00:00:00", 0, u"", u"");
  std::string b = Record(0, u"B", u"b", u"", u"2005-05-02 00:00:00", 2, u"", u"");
  std::string bad = b;
  bad[8] = char(0x7F);  // its title runs past the record
  std::string error = Record(ITEM_TYPE_ERROR, u"Err", ERROR_ITEM_LINK, u"", u"2005-05-03 00:00:00", 0, u"e", u"");
  std::string many;
  for (int i = 0; i < 48; ++i) {
    std::u16string link = u"old" + std::u16string(1, char16_t(u'A' + i % 26)) + std::u16string(1, char16_t(u'a' + i / 26));
    many += Record(0, u"Old", link.c_str(), u"", u"2005-04-01 00:00:00", i % 3 == 0 ? 2 : 0, u"", u"");
  }
  const std::vector<std::string> starts = {"", a + b.substr(0, b.size() - 9), a + bad + b, many + error,
                                           a + error + many};
  for (size_t k = 0; k < starts.size(); ++k) {
    std::string bytes[2];
    std::vector<std::u16string> live[2];  // as the store sees its records at the end of its steps
    int counts[2][2] = {};
    for (int held : {0, 1}) {
      if (starts[k].empty()) DeleteFileW(kStore);
      else WriteDeviceFile(kStore, starts[k]);
      {
        CItemStore s(1);
        s.Open(kStore, 0, 0);
        if (held) s.HoldFile();
        EXPECT_EQ(s.IsKnownItem(u"a", u"", u""), starts[k].find(a) != std::string::npos ? 1 : 0) << k;
        for (const char16_t* link : {u"n1", u"n2", u"a"}) Add(s, link, u"2005-06-01T10:00:00Z");
        EXPECT_EQ(s.Commit(), 1) << k;
        SetItemReadState(&s, u"n2", ITEM_READ_READ);
        s.Open(kStore, 1, 1);
        s.TrimItems(0);
        s.DeleteItem(ERROR_ITEM_LINK);
        for (int n = 0; s.ReadRecord(n); ++n) live[held].push_back(s.Current().link.str());
      }
      CItemStore c(0);
      c.Open(kStore, 0, 0);
      if (held) c.HoldFile();
      c.LoadFile();
      c.CountItems(counts[held][0], counts[held][1]);
      c.Rewrite();
      c.ReleaseFile();
      bytes[held] = Bytes();
    }
    EXPECT_EQ(bytes[1], bytes[0]) << k;
    EXPECT_EQ(live[1], live[0]) << k;
    EXPECT_EQ(counts[1][0], counts[0][0]) << k;
    EXPECT_EQ(counts[1][1], counts[0][1]) << k;
    EXPECT_GE(counts[0][0], 3) << k;
  }

  // While a store holds its file, no other thread's store operation runs on
  // it; it runs as soon as the file is released.
  CItemStore holder(0);
  holder.Open(kStore, 0, 1);
  holder.HoldFile();
  std::atomic<bool> marked{false};
  std::thread other([&] {
    CItemStore s(0);
    s.Open(kStore, 0, 0);
    SetItemReadState(&s, u"n1", ITEM_READ_READ);
    marked = true;
  });
  bool free = true;
  std::thread probe([&] {
    free = CItemStore::PathLock(CString(kStore)).try_lock();
    if (free) CItemStore::PathLock(CString(kStore)).unlock();
  });
  probe.join();
  EXPECT_FALSE(free);
  EXPECT_FALSE(marked.load());
  holder.ReleaseFile();
  other.join();
  EXPECT_TRUE(marked.load());
  int items = 0, read = 0, readBefore = 0;
  holder.CountItems(items, readBefore);  // its buffer, from before the mark
  CItemStore fresh(0);
  fresh.Open(kStore, 0, 1);
  fresh.CountItems(items, read);
  EXPECT_EQ(read, readBefore + 1);
}

TEST_F(ItemStoreTest, MissingFileAndHelpers) {
  CItemStore s(0);
  s.Open(u"\\ChannelData\\Ch999.bin", 1, 1);
  EXPECT_EQ(s.MoveNext(), 0);
  EXPECT_EQ(s.ReadRecord(0), 0);
  EXPECT_EQ(s.SetItemProperty(u"x", u"ReadFlag", 2), 0);
  EXPECT_EQ(s.DeleteItem(u"x"), 0);
  EXPECT_EQ(s.IsKnownItem(u"x", u"", u""), 0);
  CStringList list;
  list.AddTail(u"one");
  list.AddTail(u"two");
  CString out;
  EXPECT_EQ(PopStringListHead(list, out), CString(u"one"));
  EXPECT_EQ(list.GetCount(), 1);
  list.RemoveAll();
  EXPECT_EQ(PopStringListHead(list, out), CString());
}

}  // namespace
