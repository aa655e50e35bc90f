// The headline list as the user meets it: a channel tapped in the channel
// list, its items in the store a feed parse wrote, taps, tap-and-hold, keys
// and soft keys through the window layer, and the counts in the store,
// "Channels.opml" and the channel list's row afterwards.
#include "headlines_support.h"

namespace {

using htest::HeadlinesTest;
using htest::Item;
using htest::U;
using htest::Until;
using htest::Step;
using htest::W;

const std::string kError = "http://127.0.0.1/lasterror";

class Headlines : public HeadlinesTest {
 protected:
  // Six items (two of them read) and the error item of a failed refresh.
  void SetUp() override {
    HeadlinesTest::SetUp();
    StoreFeed(100, {{"Tide tables revised", "http://127.0.0.1/a", "Tue, 08 Dec 2026 09:00:00 GMT"},
                    {"Ferry timetable", "http://127.0.0.1/b", "Tue, 08 Dec 2026 10:30:00 GMT"},
                    {"Lighthouse open day", "http://127.0.0.1/c", "Mon, 07 Dec 2026 18:00:00 GMT"},
                    {"Harbour fees", "http://127.0.0.1/d", "Sun, 06 Dec 2026 08:00:00 GMT"},
                    {"Storm warning", "http://127.0.0.1/e", "Tue, 08 Dec 2026 07:15:00 GMT"},
                    {"Fish market", "http://127.0.0.1/f", "Sat, 05 Dec 2026 12:00:00 GMT"}});
    StoreError(100);
    CItemStore store(0);
    store.Open(DataPath("Ch100.bin"), 0, 0);
    SetItemReadState(&store, u"http://127.0.0.1/c", ITEM_READ_READ);
    SetItemReadState(&store, u"http://127.0.0.1/e", ITEM_READ_READ);
    WriteList();
  }
  void Page(const std::string& link, const std::string& html) {
    CItemRecord record = Record(100, link);
    ASSERT_FALSE(record.pageName.IsEmpty());
    WriteDeviceFile(DataPath(U(record.pageName)), html);
    CItemStore store(0);
    store.Open(DataPath("Ch100.bin"), 0, 0);
    SetItemType(&store, W(link), ITEM_TYPE_PAGE);
  }
  bool IsRead(const std::string& link) { return Record(100, link).readFlag >= ITEM_READ_READ; }
};

TEST_F(Headlines, RowsInOrderAndOpeningAnArticleMarksItReadEverywhere) {
  Page("http://127.0.0.1/a", "<p>The whole story of the tides</p>");
  MakeFrame(qk::gdi::DefaultScreenConfig(), TRUE);
  OpenChannel(100, {
      [&] {
        // The error item first, then the unread items and the read ones,
        // each newest first; the error item is counted nowhere.
        EXPECT_EQ(Rows(), (std::vector<std::string>{"Error occured on last update", "Ferry timetable",
                                                    "Tide tables revised", "Harbour fees", "Fish market",
                                                    "Storm warning (read)", "Lighthouse open day (read)"}));
        EXPECT_EQ(Items(), 6);
        EXPECT_EQ(Unread(), 4);
        EXPECT_EQ(screen_->GetChannelTitle(), CString(u"Harbour News"));
        TapRow(1);
      },
      [&] { LeaveReadingView(); },
      [&] {
        EXPECT_TRUE(IsRead("http://127.0.0.1/b"));
        EXPECT_EQ(Unread(), 3);
        EXPECT_EQ(Rows()[1], "Ferry timetable (read)");
        // Opening the error item lowers nothing.
        TapRow(0);
      },
      [&] { LeaveReadingView(); },
      [&] {
        EXPECT_TRUE(IsRead(kError));
        EXPECT_EQ(Unread(), 3);
        // A row index outside the list reaches neither the store nor the
        // counts (an empty link would mark every item read).
        CNewsListDlg::OpenArticle(screen_->GetSafeHwnd(), reinterpret_cast<DWORD_PTR>(screen_), 99, 0);
        CNewsListDlg::OpenArticle(screen_->GetSafeHwnd(), reinterpret_cast<DWORD_PTR>(screen_), -1, 0);
        EXPECT_FALSE(IsRead("http://127.0.0.1/d"));
        EXPECT_FALSE(IsRead("http://127.0.0.1/f"));
        EXPECT_EQ(Unread(), 3);

        // Previous from the first row is the last row, next from the last
        // row the first one.
        ArticleInfo info;
        ASSERT_TRUE(screen_->MoveArticle(info, -1, W(kError), u""));
        EXPECT_EQ(info.strTitle, CString(u"Lighthouse open day"));
        EXPECT_TRUE(info.bWasRead);
        EXPECT_EQ(info.nChannel, 100);
        EXPECT_EQ(info.strChannelTitle, CString(u"Harbour News"));
        ASSERT_TRUE(screen_->MoveArticle(info, 1, info.strLink, u""));
        EXPECT_EQ(U(info.strLink), kError);
        // Next from Ferry: Tide tables, read from its stored page.
        ASSERT_TRUE(screen_->MoveArticle(info, 1, u"http://127.0.0.1/b", u""));
        EXPECT_EQ(info.strTitle, CString(u"Tide tables revised"));
        EXPECT_FALSE(info.bWasRead);
        EXPECT_TRUE(info.bHasPage);
        EXPECT_EQ(info.strBody, CString(u"<p>The whole story of the tides</p>"));
        EXPECT_EQ(info.strDate.Left(10), CString(u"2026-12-08"));
        EXPECT_TRUE(IsRead("http://127.0.0.1/a"));
        EXPECT_EQ(Rows()[2], "Tide tables revised (read)");
        EXPECT_EQ(Unread(), 2);
        // By title (a title wins over the link); a row without a page
        // gives the item's content.
        ASSERT_TRUE(screen_->MoveArticle(info, 1, u"", u"Tide tables revised"));
        EXPECT_EQ(info.strTitle, CString(u"Harbour fees"));
        EXPECT_FALSE(info.bHasPage);
        EXPECT_EQ(info.strBody, CString(u"<p>Body</p>"));
        EXPECT_EQ(Unread(), 1);
        // The Back button of the bar ends the screen.
        RECT window{};
        GetWindowRect(screen_->GetSafeHwnd(), &window);
        qk::InjectPointer(WM_LBUTTONDOWN, window.right / 10, window.bottom - ScaleY(20));
        qk::InjectPointer(WM_LBUTTONUP, window.right / 10, window.bottom - ScaleY(20));
      },
  });
  // The channel list's row and "Channels.opml" follow.
  EXPECT_EQ(ChannelItem(100).m_nItemCount, 6);
  EXPECT_EQ(ChannelItem(100).m_nNewCount, 1);
  EXPECT_EQ(Saved(kUrl, "itemCount"), "6");
  EXPECT_EQ(Saved(kUrl, "newItemCount"), "1");
  EXPECT_FALSE(IsRead("http://127.0.0.1/f"));
}

TEST_F(Headlines, ItemMenuAndCommandsChangeReadStatesAndTheCountsFollow) {
  MakeFrame(qk::gdi::DefaultScreenConfig(), TRUE);
  std::string store;
  OpenChannel(100, {
      [&] { HoldRow(RowOf("http://127.0.0.1/d")); },
      [&] { ChooseMenuRow(1); },  // Mark as Read
      [&] {
        EXPECT_TRUE(IsRead("http://127.0.0.1/d"));
        EXPECT_EQ(Unread(), 3);
        EXPECT_EQ(Saved(kUrl, "newItemCount"), "3");
        EXPECT_EQ(Rows()[RowOf("http://127.0.0.1/d")], "Harbour fees (read)");
        HoldRow(RowOf("http://127.0.0.1/d"));
      },
      [&] { ChooseMenuRow(1); },  // read again: nothing counts twice
      [&] {
        EXPECT_EQ(Unread(), 3);
        EXPECT_EQ(Saved(kUrl, "newItemCount"), "3");
        HoldRow(RowOf("http://127.0.0.1/c"));
      },
      [&] { ChooseMenuRow(2); },  // Mark as Unread
      [&] {
        EXPECT_FALSE(IsRead("http://127.0.0.1/c"));
        EXPECT_EQ(Unread(), 4);
        EXPECT_EQ(Saved(kUrl, "newItemCount"), "4");
        HoldRow(0);
      },
      [&] { ChooseMenuRow(1); },  // the error item: read, counted nowhere
      [&] {
        EXPECT_TRUE(IsRead(kError));
        EXPECT_EQ(Unread(), 4);
        HoldRow(0);
      },
      [&] { ChooseMenuRow(2); },
      [&] {
        EXPECT_FALSE(IsRead(kError));
        EXPECT_EQ(Unread(), 4);
        HoldRow(1);
      },
      [&] { ChooseMenuRow(0); },  // Cancel
      [&] {
        EXPECT_EQ(Unread(), 4);
        screen_->SendMessage(WM_COMMAND, ID_ALL_READ, 0);
        EXPECT_EQ(Unread(), 0);
        EXPECT_EQ(Saved(kUrl, "newItemCount"), "0");
        for (const CItemRecord& r : Records(100)) EXPECT_GE(r.readFlag, DWORD(ITEM_READ_READ)) << U(r.title);
        for (const std::string& row : Rows()) EXPECT_NE(row.find("(read)"), std::string::npos) << row;
        screen_->SendMessage(WM_COMMAND, ID_ALL_UNREAD, 0);
        EXPECT_EQ(Unread(), 6);  // the error item excluded
        EXPECT_EQ(Saved(kUrl, "newItemCount"), "6");
        EXPECT_FALSE(IsRead("http://127.0.0.1/e"));
        // A store that is gone takes no change, and the counts stay.
        store = ReadDeviceFile(DataPath("Ch100.bin"));
        DeleteFileW(DataPath("Ch100.bin"));
        HoldRow(2);
      },
      [&] { ChooseMenuRow(1); },
      [&] {
        EXPECT_EQ(Unread(), 6);
        EXPECT_EQ(Saved(kUrl, "newItemCount"), "6");
        screen_->SendMessage(WM_COMMAND, ID_ALL_READ, 0);
        EXPECT_EQ(Unread(), 6);
        EXPECT_FALSE(DeviceFileExists(DataPath("Ch100.bin")));
        WriteDeviceFile(DataPath("Ch100.bin"), store);
        screen_->PostMessage(WM_CLOSE);
      },
  });
  EXPECT_EQ(ChannelItem(100).m_nNewCount, 6);
  EXPECT_EQ(Saved(kUrl, "newItemCount"), "6");
}

TEST_F(Headlines, DeletingAnItemAllItemsAndTheChannel) {
  const char* kept[] = {"Ch100.tpl", "Ch100-Fav.ico", "Ch100-Logo.img"};
  const char* others[] = {"Ch1000.bin", "Ch1000.tpl", "Ch1000-Logo.img", "Ch1000-12-1.htm"};
  for (const char* name : kept) WriteDeviceFile(DataPath(name), "x");
  for (const char* name : others) WriteDeviceFile(DataPath(name), "x");
  const CString page = Record(100, "http://127.0.0.1/d").pageName;
  CString picture(page);
  picture.Replace(u".htm", u".bmp");
  WriteDeviceFile(DataPath(U(page)), "<p>page</p>");
  WriteDeviceFile(DataPath(U(picture)), "BM");
  MakeFrame(qk::gdi::DefaultScreenConfig(), TRUE);
  OpenChannel(100, {
      [&] {
        answers_ = {IDNO};
        HoldRow(RowOf("http://127.0.0.1/d"));
      },
      [&] { ChooseMenuRow(3); },  // Delete, answered No
      [&] {
        EXPECT_EQ(questions_, std::vector<std::string>{"Confirm Delete: Are you sure you want to delete this item?"});
        EXPECT_GE(RowOf("http://127.0.0.1/d"), 0);
        EXPECT_EQ(Items(), 6);
        answers_ = {IDYES};
        HoldRow(RowOf("http://127.0.0.1/d"));
      },
      [&] { ChooseMenuRow(3); },
      [&] {
        EXPECT_EQ(RowOf("http://127.0.0.1/d"), -1);
        EXPECT_EQ(List().GetItemCount(), 6);
        EXPECT_EQ(List().GetFocusedItem(), -1);
        EXPECT_TRUE(U(Record(100, "http://127.0.0.1/d").link).empty());
        EXPECT_FALSE(DeviceFileExists(DataPath(U(page))));
        EXPECT_FALSE(DeviceFileExists(DataPath(U(picture))));
        EXPECT_EQ(Items(), 5);
        EXPECT_EQ(Unread(), 3);
        EXPECT_EQ(Saved(kUrl, "itemCount"), "5");
        EXPECT_EQ(Saved(kUrl, "newItemCount"), "3");
        // The rows below moved up into the freed place.
        CNewsListItem row;
        ASSERT_TRUE(List().GetItem(3, row));
        EXPECT_EQ(U(row.m_strTitle), "Fish market");
        EXPECT_EQ(row.m_nTop, 3 * List().GetRowPitch());
        answers_ = {IDYES};
        HoldRow(0);
      },
      [&] { ChooseMenuRow(3); },  // the error item goes; the counts stay
      [&] {
        EXPECT_EQ(RowOf(kError), -1);
        EXPECT_EQ(Items(), 5);
        EXPECT_EQ(Unread(), 3);
        EXPECT_EQ(Saved(kUrl, "itemCount"), "5");
        EXPECT_EQ(Saved(kUrl, "newItemCount"), "3");
        answers_ = {IDYES};
        screen_->SendMessage(WM_COMMAND, ID_DELETE_ALL_ITEMS, 0);
        EXPECT_EQ(Saved(kUrl, "itemCount"), "0");
        EXPECT_EQ(Saved(kUrl, "newItemCount"), "0");
        EXPECT_FALSE(DeviceFileExists(DataPath("Ch100.bin")));
        EXPECT_FALSE(DeviceFileExists(DataPath("Ch100~.xml")));
        for (const char* name : kept) EXPECT_TRUE(DeviceFileExists(DataPath(name))) << name;
        for (const char* name : others) EXPECT_TRUE(DeviceFileExists(DataPath(name))) << name;
        qk::AdvanceClock(10);  // the rows go on the next timer
      },
      [&] {
        EXPECT_EQ(List().GetItemCount(), 0);
        EXPECT_EQ(Unread(), 0);
        // Nothing to move to: the record stays as it was.
        ArticleInfo info;
        info.strTitle = u"untouched";
        EXPECT_FALSE(screen_->MoveArticle(info, 1, u"http://127.0.0.1/a", u""));
        EXPECT_EQ(info.strTitle, CString(u"untouched"));
        // An empty list takes no keys and shows no item menu.
        Key(VK_DOWN);
        HoldRow(0);
      },
      [&] {
        EXPECT_EQ(List().GetFocusedItem(), -1);
        answers_ = {IDYES};
        questions_.clear();
        screen_->SendMessage(WM_COMMAND, ID_DELETE_CHANNEL, 0);
      },
  });
  EXPECT_EQ(questions_, std::vector<std::string>{"Confirm Delete: Are you sure you want to delete this channel?"});
  EXPECT_EQ(Saved(kUrl, "text"), "(no channel)");
  EXPECT_EQ(ChannelRow(100), -1);
  EXPECT_GE(ChannelRow(1000), 0);
  EXPECT_FALSE(frame_->IsUrlSubscribed(W(kUrl)));
  for (const char* name : kept) EXPECT_FALSE(DeviceFileExists(DataPath(name))) << name;
  for (const char* name : others) EXPECT_TRUE(DeviceFileExists(DataPath(name))) << name;
}

TEST_F(Headlines, RefreshMessagesReloadAndAHandOverClosesTheScreen) {
  MakeFrame(qk::gdi::DefaultScreenConfig(), TRUE);
  CDownloadManager& manager = app_->DownloadManager();
  OpenChannel(100, {
      [&] {
        EXPECT_FALSE(screen_->IsDownloadRunning());
        BroadcastRefreshMessage(MSG_DOWNLOAD_START);
      },
      Until([&] { return screen_->IsDownloadRunning(); }),
      [&] {
        // The run stores two more items, one of them waiting for its full
        // text.
        StoreFeed(100, {{"Regatta results", "http://127.0.0.1/g", "Tue, 08 Dec 2026 11:00:00 GMT"},
                        {"Quay works", "http://127.0.0.1/h", "Tue, 08 Dec 2026 11:10:00 GMT"}});
        // Its job ends at once when it runs (its stop test says so).
        manager.AddJob(u"http://127.0.0.1/g", DataPath("Ch100-x.htm"), u"", DOWNLOAD_JOB_FULLTEXT, 100,
                       [] { return BOOL(TRUE); }, nullptr);
        BroadcastRefreshMessage(MSG_DOWNLOAD_REFRESH);
        BroadcastRefreshMessage(MSG_DOWNLOAD_REFRESH);
      },
      [&] { EXPECT_EQ(List().GetItemCount(), 7); },  // not before the reload's timer
      Until([&] {
        qk::AdvanceClock(10);
        return List().GetItemCount() != 7;
      }),
      [&] {
        // The new items, and no more error item: the parse succeeded.
        EXPECT_EQ(List().GetItemCount(), 8);
        EXPECT_EQ(Items(), 8);
        EXPECT_EQ(Unread(), 6);
        EXPECT_EQ(Rows()[0], "Quay works");
        CNewsListItem row;
        ASSERT_TRUE(List().GetItem(RowOf("http://127.0.0.1/g"), row));
        EXPECT_TRUE(row.m_bPending);
        EXPECT_FALSE(row.m_bFullText);
        // The full text comes: its page is stored and the job is done.
        CItemRecord record = Record(100, "http://127.0.0.1/g");
        WriteDeviceFile(DataPath(U(record.pageName)), "<p>full</p>");
        CItemStore store(0);
        store.Open(DataPath("Ch100.bin"), 0, 0);
        SetItemType(&store, u"http://127.0.0.1/g", ITEM_TYPE_PAGE);
        manager.Start();  // the job ends and the manager tells every window
      },
      Until([&] {
        CNewsListItem row;
        return List().GetItem(RowOf("http://127.0.0.1/g"), row) && !row.m_bPending;
      }),
      [&] {
        CNewsListItem row;
        ASSERT_TRUE(List().GetItem(RowOf("http://127.0.0.1/g"), row));
        EXPECT_FALSE(row.m_bPending);
        EXPECT_TRUE(row.m_bFullText);
        BroadcastRefreshMessage(MSG_DOWNLOAD_FINISHED);
      },
      Until([&] { return !screen_->IsDownloadRunning(); }),
      [&] {
        // Another program hands a channel over: the screen ends at once.
        PostMessageW(HWND_BROADCAST, WM_CHANNEL_HANDOVER, 7, 0);
      },
      Until([] { return false; }),  // the screen ends while this waits
  });
  EXPECT_EQ(ChannelItem(100).m_nItemCount, 8);
  EXPECT_EQ(Saved(kUrl, "itemCount"), "8");
  EXPECT_EQ(Saved(kUrl, "newItemCount"), "6");
}

TEST_F(Headlines, TheKeyDeviceFaceWorksByKeysAndSoftKeys) {
  MakeFrame(qk::gdi::KeyDeviceScreenConfig(), FALSE);
  std::vector<std::u16string> refreshTitles;
  UINT choice = 0;
  qk::shell::SetSoftKeyPopupHandler([&](HWND, HMENU popup, const RECT&) -> UINT {
    for (int i = 0, n = GetMenuItemCount(popup); i < n; ++i) {
      if (GetMenuItemID(popup, i) != ID_REFRESH) continue;
      WCHAR text[64] = {0};
      MENUITEMINFOW info{};
      info.cbSize = sizeof info;
      info.fMask = MIIM_STRING;
      info.dwTypeData = text;
      info.cch = 64;
      GetMenuItemInfoW(popup, UINT(i), TRUE, &info);
      refreshTitles.push_back(text);
    }
    return choice;
  });
  OpenChannel(100, {
      [&] {
        HWND bar = SHFindMenuBar(screen_->GetSafeHwnd());
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(screen_->GetButtonBar(), nullptr);
        EXPECT_EQ(screen_->GetTitleBandHeight(), 29);
        // The first row has the focus; arrows move it round.
        EXPECT_EQ(List().GetFocusedItem(), 0);
        Key(VK_DOWN);
        Key(VK_RIGHT);
      },
      [&] {
        EXPECT_EQ(List().GetFocusedItem(), 2);
        Key(VK_UP);
        Key(VK_LEFT);
        Key(VK_UP);
      },
      [&] {
        EXPECT_EQ(List().GetFocusedItem(), 6);
        Key(VK_RETURN);  // a read item: the count stays
      },
      [&] { LeaveReadingView(); },
      [&] {
        EXPECT_EQ(Unread(), 4);
        Key(VK_DOWN);
        Key(VK_DOWN);  // Ferry timetable
      },
      [&] {
        EXPECT_EQ(List().GetFocusedItem(), 1);
        choice = ID_MARK_READ;
        qk::shell::PressSoftKey(2);
      },
      [&] {
        EXPECT_TRUE(IsRead("http://127.0.0.1/b"));
        EXPECT_EQ(Unread(), 3);
        BroadcastRefreshMessage(MSG_DOWNLOAD_START);
      },
      Until([&] { return screen_->IsDownloadRunning(); }),
      [&] {
        choice = 0;
        qk::shell::PressSoftKey(2);
      },
      [&] {
        BroadcastRefreshMessage(MSG_DOWNLOAD_FINISHED);
      },
      Until([&] { return !screen_->IsDownloadRunning(); }),
      [&] { qk::shell::PressSoftKey(2); },
      [&] { qk::shell::PressSoftKey(1); },  // "Channels"
  });
  EXPECT_EQ(refreshTitles, (std::vector<std::u16string>{u"Refresh", u"Cancel", u"Refresh"}));
  EXPECT_EQ(ChannelItem(100).m_nNewCount, 3);
  EXPECT_EQ(Saved(kUrl, "newItemCount"), "3");
}

}  // namespace
