// The headline list as the user meets it: channel 100 tapped in the channel
// list, its items in a store the feed parser wrote, taps, tap-and-hold, keys
// and soft keys through the window layer, and the counts in the store,
// "Channels.opml" and the channel list's row afterwards.
#include "headlines_support.h"

namespace {

using htest::HeadlinesTest;
using htest::U;
using htest::Until;
using htest::W;
using Texts = std::vector<std::string>;

const std::string kError = "http://127.0.0.1/lasterror";
std::string L(char c) { return std::string("http://127.0.0.1/") + c; }

class Headlines : public HeadlinesTest {
 protected:
  // Six items (c and e read) and the error item of a failed refresh.
  void SetUp() override {
    HeadlinesTest::SetUp();
    StoreFeed({{"Tide tables", L('a'), "Tue, 08 Dec 2026 09:00:00 GMT"},
               {"Ferry timetable", L('b'), "Tue, 08 Dec 2026 10:30:00 GMT"},
               {"Open day", L('c'), "Mon, 07 Dec 2026 18:00:00 GMT"},
               {"Harbour fees", L('d'), "Sun, 06 Dec 2026 08:00:00 GMT"},
               {"Storm warning", L('e'), "Tue, 08 Dec 2026 07:15:00 GMT"},
               {"Fish market", L('f'), "Sat, 05 Dec 2026 12:00:00 GMT"}});
    StoreError();
    CItemStore store(0);
    store.Open(DataPath("Ch100.bin"), 0, 0);
    SetItemReadState(&store, u"http://127.0.0.1/c", ITEM_READ_READ);
    SetItemReadState(&store, u"http://127.0.0.1/e", ITEM_READ_READ);
    WriteList();
  }
  // Stores the item's page as a full-text job does.
  void Page(const std::string& link, const std::string& html) {
    WriteDeviceFile(DataPath(U(Record(link).pageName)), html);
    CItemStore store(0);
    store.Open(DataPath("Ch100.bin"), 0, 0);
    SetItemType(&store, W(link), ITEM_TYPE_PAGE);
  }
  std::pair<int, int> Pair(int items, int unread) { return {items, unread}; }
};

TEST_F(Headlines, RowsInOrderAndOpeningAnArticleMarksItReadEverywhere) {
  Page(L('a'), "<p>The whole story</p>");
  MakeFrame(qk::gdi::DefaultScreenConfig(), TRUE);
  OpenChannel({
      [&] {
        // The error item, the unread items, the read ones, each newest
        // first; the error item is counted nowhere.
        EXPECT_EQ(Rows(), (Texts{"Error occured on last update", "Ferry timetable", "Tide tables", "Harbour fees",
                                "Fish market", "Storm warning*", "Open day*"}));
        EXPECT_EQ(Counts(), Pair(6, 4));
        TapRow(1);
      },
      [&] { LeaveReadingView(); },
      [&] {
        EXPECT_TRUE(IsRead(L('b')));
        EXPECT_EQ(Counts(), Pair(6, 3));
        EXPECT_TRUE(Row(1).m_bRead);
        TapRow(0);  // the error item lowers nothing
      },
      [&] { LeaveReadingView(); },
      [&] {
        EXPECT_TRUE(IsRead(kError));
        EXPECT_EQ(Counts(), Pair(6, 3));
        // A row index outside the list reaches neither the store (an empty
        // link would mark every item read) nor the counts.
        CNewsListDlg::OpenArticle(screen_->GetSafeHwnd(), reinterpret_cast<DWORD_PTR>(screen_), 99, 0);
        EXPECT_FALSE(IsRead(L('d')));
        EXPECT_EQ(Counts(), Pair(6, 3));
        // Previous from the first row is the last row, next from the last
        // row the first one.
        ArticleInfo info;
        ASSERT_TRUE(screen_->MoveArticle(info, -1, W(kError), u""));
        EXPECT_EQ(info.strTitle, CString(u"Open day"));
        EXPECT_TRUE(info.bWasRead);
        EXPECT_EQ(info.strChannelTitle, CString(u"Harbour News"));
        ASSERT_TRUE(screen_->MoveArticle(info, 1, info.strLink, u""));
        EXPECT_EQ(U(info.strLink), kError);
        // Next from Ferry, asked as the reading view asks (its link as the
        // title too): Tide tables, from its stored page.
        ASSERT_TRUE(screen_->MoveArticle(info, 1, W(L('b')), W(L('b'))));
        EXPECT_EQ(info.strTitle, CString(u"Tide tables"));
        EXPECT_FALSE(info.bWasRead);
        EXPECT_TRUE(info.bHasPage);
        EXPECT_EQ(info.strBody, CString(u"<p>The whole story</p>"));
        EXPECT_TRUE(IsRead(L('a')));
        EXPECT_TRUE(Row(2).m_bRead);
        // By title; an item without a page gives its content.
        ASSERT_TRUE(screen_->MoveArticle(info, 1, u"", u"Tide tables"));
        EXPECT_EQ(info.strTitle, CString(u"Harbour fees"));
        EXPECT_EQ(info.strBody, CString(u"<p>Body</p>"));
        EXPECT_EQ(Counts(), Pair(6, 1));
        // The Back button of the bar ends the screen.
        qk::InjectPointer(WM_LBUTTONDOWN, 48, 780);
        qk::InjectPointer(WM_LBUTTONUP, 48, 780);
      },
  });
  EXPECT_EQ(ChannelRow(100).m_nItemCount, 6);
  EXPECT_EQ(ChannelRow(100).m_nNewCount, 1);
  EXPECT_EQ(Saved("itemCount"), "6");
  EXPECT_EQ(Saved("newItemCount"), "1");
}

TEST_F(Headlines, ItemMenuAndCommandsChangeReadStatesAndTheCountsFollow) {
  MakeFrame(qk::gdi::DefaultScreenConfig(), TRUE);
  std::string store;
  OpenChannel({
      [&] { HoldRow(RowOf(L('d'))); },
      [&] { ChooseMenuRow(1); },  // Mark as Read
      [&] {
        EXPECT_TRUE(IsRead(L('d')));
        EXPECT_TRUE(Row(RowOf(L('d'))).m_bRead);
        EXPECT_EQ(Counts(), Pair(6, 3));
        EXPECT_EQ(Saved("newItemCount"), "3");
        HoldRow(RowOf(L('d')));
      },
      [&] { ChooseMenuRow(1); },  // read again: counted once
      [&] {
        EXPECT_EQ(Counts(), Pair(6, 3));
        HoldRow(RowOf(L('c')));
      },
      [&] { ChooseMenuRow(2); },  // Mark as Unread
      [&] {
        EXPECT_FALSE(IsRead(L('c')));
        EXPECT_EQ(Saved("newItemCount"), "4");
        HoldRow(0);
      },
      [&] { ChooseMenuRow(1); },  // the error item is counted nowhere
      [&] {
        EXPECT_TRUE(IsRead(kError));
        EXPECT_EQ(Counts(), Pair(6, 4));
        screen_->SendMessage(WM_COMMAND, ID_ALL_READ, 0);
        EXPECT_EQ(Counts(), Pair(6, 0));
        EXPECT_EQ(Saved("newItemCount"), "0");
        EXPECT_TRUE(IsRead(L('f')));
        for (const std::string& row : Rows()) EXPECT_EQ(row.back(), '*') << row;
        screen_->SendMessage(WM_COMMAND, ID_ALL_UNREAD, 0);
        EXPECT_EQ(Counts(), Pair(6, 6));
        EXPECT_EQ(Saved("newItemCount"), "6");
        // A store that is gone takes no change, and the counts stay.
        store = ReadDeviceFile(DataPath("Ch100.bin"));
        DeleteFileW(DataPath("Ch100.bin"));
        HoldRow(2);
      },
      [&] { ChooseMenuRow(1); },
      [&] {
        screen_->SendMessage(WM_COMMAND, ID_ALL_READ, 0);
        EXPECT_EQ(Counts(), Pair(6, 6));
        EXPECT_EQ(Saved("newItemCount"), "6");
        EXPECT_FALSE(Row(2).m_bRead);
        WriteDeviceFile(DataPath("Ch100.bin"), store);
        screen_->PostMessage(WM_CLOSE);
      },
  });
  EXPECT_EQ(ChannelRow(100).m_nNewCount, 6);
}

TEST_F(Headlines, DeletingAnItemAllItemsAndTheChannel) {
  const char* kept[] = {"Ch100.tpl", "Ch100-Fav.ico", "Ch100-Logo.img"};
  const char* others[] = {"Ch1000.bin", "Ch1000.tpl", "Ch1000-12-1.htm"};
  for (const char* name : kept) WriteDeviceFile(DataPath(name), "x");
  for (const char* name : others) WriteDeviceFile(DataPath(name), "x");
  const CString page = Record(L('d')).pageName;
  CString picture(page);
  picture.Replace(u".htm", u".bmp");
  WriteDeviceFile(DataPath(U(page)), "<p>page</p>");
  WriteDeviceFile(DataPath(U(picture)), "BM");
  MakeFrame(qk::gdi::DefaultScreenConfig(), TRUE);
  OpenChannel({
      [&] { HoldRow(RowOf(L('d'))); },
      [&] { ChooseMenuRow(3); },  // Delete, answered No
      [&] {
        EXPECT_EQ(questions_, Texts{"Confirm Delete: Are you sure you want to delete this item?"});
        EXPECT_GE(RowOf(L('d')), 0);
        answers_ = {IDYES};
        HoldRow(RowOf(L('d')));
      },
      [&] { ChooseMenuRow(3); },
      [&] {
        EXPECT_EQ(RowOf(L('d')), -1);
        EXPECT_EQ(List().GetFocusedItem(), -1);
        EXPECT_TRUE(Record(L('d')).link.IsEmpty());
        EXPECT_FALSE(DeviceFileExists(DataPath(U(page))));
        EXPECT_FALSE(DeviceFileExists(DataPath(U(picture))));
        EXPECT_EQ(Counts(), Pair(5, 3));
        EXPECT_EQ(Saved("itemCount"), "5");
        EXPECT_EQ(Saved("newItemCount"), "3");
        // The rows below moved up into the freed place.
        EXPECT_EQ(U(Row(3).m_strTitle), "Fish market");
        EXPECT_EQ(Row(3).m_nTop, 3 * List().GetRowPitch());
        answers_ = {IDYES};
        HoldRow(0);
      },
      [&] { ChooseMenuRow(3); },  // the error item goes, the counts stay
      [&] {
        EXPECT_EQ(RowOf(kError), -1);
        EXPECT_EQ(Counts(), Pair(5, 3));
        EXPECT_EQ(Saved("itemCount"), "5");
        answers_ = {IDYES};
        screen_->SendMessage(WM_COMMAND, ID_DELETE_ALL_ITEMS, 0);
        EXPECT_EQ(Saved("itemCount"), "0");
        EXPECT_EQ(Saved("newItemCount"), "0");
        EXPECT_FALSE(DeviceFileExists(DataPath("Ch100.bin")));
        EXPECT_FALSE(DeviceFileExists(DataPath("Ch100~.xml")));
        for (const char* name : kept) EXPECT_TRUE(DeviceFileExists(DataPath(name))) << name;
        for (const char* name : others) EXPECT_TRUE(DeviceFileExists(DataPath(name))) << name;
        qk::AdvanceClock(10);  // the rows go on the next timer
      },
      [&] {
        EXPECT_EQ(List().GetItemCount(), 0);
        ArticleInfo info;
        info.strTitle = u"untouched";
        EXPECT_FALSE(screen_->MoveArticle(info, 1, W(L('a')), u""));
        EXPECT_EQ(info.strTitle, CString(u"untouched"));
        answers_ = {IDYES};
        questions_.clear();
        screen_->SendMessage(WM_COMMAND, ID_DELETE_CHANNEL, 0);
      },
  });
  EXPECT_EQ(questions_, Texts{"Confirm Delete: Are you sure you want to delete this channel?"});
  EXPECT_EQ(Saved("text"), "(no channel)");
  EXPECT_EQ(Channels().m_pChannelList->FindItemById(100), -1);
  EXPECT_FALSE(frame_->IsUrlSubscribed(W(kUrl)));
  for (const char* name : kept) EXPECT_FALSE(DeviceFileExists(DataPath(name))) << name;
  for (const char* name : others) EXPECT_TRUE(DeviceFileExists(DataPath(name))) << name;
}

TEST_F(Headlines, RefreshOfTheChannelAndTheRefreshMessagesAndAHandOver) {
  MakeFrame(qk::gdi::DefaultScreenConfig(), TRUE);
  qk::connmgr::ScriptStatus(CONNMGR_STATUS_NOPATHTODESTINATION);
  CChannelListWnd& window = frame_->ChannelListWnd();
  auto refresh = [] {  // the Refresh button of the bar
    qk::InjectPointer(WM_LBUTTONDOWN, 240, 780);
    qk::InjectPointer(WM_LBUTTONUP, 240, 780);
  };
  OpenChannel({
      refresh,  // no connection, and the user does not want one: no run
      [&] {
        EXPECT_EQ(questions_.size(), 1u);
        EXPECT_FALSE(window.IsStartPending());
        EXPECT_EQ(Channels().m_nSingleChannel.load(), -1);
        answers_ = {IDYES};
        refresh();
      },
      [&] {
        // The run that starts with the connection is for this channel only.
        EXPECT_TRUE(window.IsStartPending());
        EXPECT_EQ(Channels().m_nSingleChannel.load(), Channels().m_pChannelList->FindItemById(100));
        BroadcastRefreshMessage(MSG_DOWNLOAD_START);
      },
      Until([&] { return screen_->IsDownloadRunning(); }),
      [&] {
        // The run stores two more items; one waits for its full text (its
        // job ends at once when it runs).
        StoreFeed({{"Regatta", L('g'), "Tue, 08 Dec 2026 11:00:00 GMT"},
                   {"Quay works", L('h'), "Tue, 08 Dec 2026 11:10:00 GMT"}});
        app_->DownloadManager().AddJob(W(L('g')), DataPath("Ch100-x.htm"), u"", DOWNLOAD_JOB_FULLTEXT, 100,
                                       [] { return BOOL(TRUE); }, nullptr);
        BroadcastRefreshMessage(MSG_DOWNLOAD_REFRESH);
      },
      [&] { EXPECT_EQ(List().GetItemCount(), 7); },  // not before the reload's timer
      Until([&] {
        qk::AdvanceClock(10);
        return List().GetItemCount() != 7;
      }),
      [&] {
        // The new items, and the error item gone with the successful parse.
        EXPECT_EQ(Rows(), (Texts{"Quay works", "Regatta", "Ferry timetable", "Tide tables", "Harbour fees",
                                "Fish market", "Storm warning*", "Open day*"}));
        EXPECT_EQ(Counts(), Pair(8, 6));
        EXPECT_TRUE(Row(1).m_bPending);
        Page(L('g'), "<p>full</p>");
        app_->DownloadManager().Start();  // the job ends, the manager tells every window
      },
      Until([&] { return !Row(1).m_bPending; }),
      [&] {
        EXPECT_TRUE(Row(1).m_bFullText);
        BroadcastRefreshMessage(MSG_DOWNLOAD_FINISHED);
      },
      Until([&] { return !screen_->IsDownloadRunning(); }),
      // Another program hands a channel over: the screen ends at once.
      [&] { PostMessageW(HWND_BROADCAST, WM_CHANNEL_HANDOVER, 7, 0); },
      Until([] { return false; }),
  });
  EXPECT_EQ(ChannelRow(100).m_nItemCount, 8);
  EXPECT_EQ(Saved("newItemCount"), "6");
}

TEST_F(Headlines, TheKeyDeviceFaceWorksByKeysAndSoftKeys) {
  MakeFrame(qk::gdi::KeyDeviceScreenConfig(), FALSE);
  std::vector<std::u16string> refreshTitles;
  UINT choice = 0;
  qk::shell::SetSoftKeyPopupHandler([&](HWND, HMENU popup, const RECT&) -> UINT {
    WCHAR text[64] = {0};
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = text;
    info.cch = 64;
    GetMenuItemInfoW(popup, ID_REFRESH, FALSE, &info);
    refreshTitles.push_back(text);
    return choice;
  });
  OpenChannel({
      [&] {
        EXPECT_NE(SHFindMenuBar(screen_->GetSafeHwnd()), nullptr);
        EXPECT_EQ(screen_->GetButtonBar(), nullptr);
        EXPECT_EQ(List().GetFocusedItem(), 0);  // the first row has the focus
        Key(VK_DOWN);
        Key(VK_RIGHT);
      },
      [&] {
        EXPECT_EQ(List().GetFocusedItem(), 2);
        Key(VK_UP);
        Key(VK_LEFT);
        Key(VK_UP);  // round to the last row
      },
      [&] {
        EXPECT_EQ(List().GetFocusedItem(), 6);
        Key(VK_RETURN);  // a read item: the count stays
      },
      [&] { LeaveReadingView(); },
      [&] {
        EXPECT_EQ(Counts(), Pair(6, 4));
        Key(VK_DOWN);
        Key(VK_DOWN);
        choice = ID_MARK_READ;
        qk::shell::PressSoftKey(2);
      },
      [&] {
        EXPECT_TRUE(IsRead(L('b')));
        EXPECT_EQ(Counts(), Pair(6, 3));
        choice = 0;
        BroadcastRefreshMessage(MSG_DOWNLOAD_START);
      },
      Until([&] { return screen_->IsDownloadRunning(); }),
      [&] { qk::shell::PressSoftKey(2); },
      [&] { qk::shell::PressSoftKey(1); },  // "Channels"
  });
  EXPECT_EQ(refreshTitles, (std::vector<std::u16string>{u"Refresh", u"Cancel"}));
  EXPECT_EQ(Saved("newItemCount"), "3");
}

}  // namespace
