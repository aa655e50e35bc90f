// The main window's classes in one process: the application object, the
// main frame, the channel-list window and dialog, with the controlled clock
// and messages sent as other programs send them.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/connection.h"
#include "common/settings.h"
#include "display/display.h"
#include "gdi/surface.h"
#include "kernel/kernel.h"
#include "net/connmgr.h"
#include "quillet/channel_list/category_edit_dlg.h"
#include "quillet/feeds/item_store.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/screens/channel_files.h"
#include "quillet/res/resources.h"
#include "quillet/frame/main_frame.h"
#include "quillet/frame/reader_app.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"
#include "shell/filedlg.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "support/net_servers.h"
#include "user/idle.h"
#include "user/input.h"
#include "user/user.h"

namespace {

const char16_t* kList = u"\\Program Files\\Quillet\\ChannelData\\Channels.opml";

class ScreensTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ResetCachedPaths();
    SetDownloadStop(FALSE);
    RegisterQuilletResources();
    SetTouchFlag(TRUE);
    app_ = std::make_unique<CReaderApp>();
    WriteDeviceFile(kList, kOpml);
  }
  void TearDown() override {
    frame_.reset();
    app_.reset();
    qk::SetMessageBoxHook(nullptr);
    qk::shell::ResetShell();
    SetTouchFlag(TRUE);
    SetDownloadStop(FALSE);
    qk::UseRealClock();
    DeviceTest::TearDown();
  }
  void MakeFrame(BOOL touch) {
    frame_.reset();
    SetTouchFlag(touch);
    frame_ = std::make_unique<CMainFrame>();
    ASSERT_TRUE(frame_->Create(480, 800));
  }
  CChannelListWnd& Wnd() { return frame_->ChannelListWnd(); }
  CChannelListDlg& Dlg() { return frame_->ChannelListWnd().Dialog(); }
  std::vector<std::string> Rows() {
    std::vector<std::string> titles;
    CChannelListView* view = Dlg().m_pChannelList;
    for (int i = 0; view && i < view->GetItemCount(); ++i) {
      CChannelListItem item;
      if (view->GetItem(i, item)) titles.push_back(qk::ToUtf8(item.m_strTitle.str()));
    }
    return titles;
  }
  std::vector<std::string> Entries(const CStringList& list) {
    std::vector<std::string> out;
    for (POSITION p = list.GetHeadPosition(); p;) out.push_back(qk::ToUtf8(list.GetNext(p).str()));
    return out;
  }
  std::u16string Title() {
    WCHAR text[64] = {0};
    GetWindowTextW(frame_->GetSafeHwnd(), text, 64);
    return text;
  }

  static constexpr const char* kOpml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>t</title></head>"
      "<body nextID=\"200\">"
      "<outline text=\"News\" type=\"rss\" uniqueID=\"150\">"
      "<outline text=\" Beta \" type=\"rss\" uniqueID=\"102\" xmlUrl=\"http://127.0.0.1/b\" itemCount=\"7\" "
      "newItemCount=\"3\" lastUpdateTime=\"2026-12-01 10:00:00\"/>"
      "<outline text=\"Alpha\" type=\"rss\" uniqueID=\"101\" xmlUrl=\"http://127.0.0.1/a\"/>"
      "<outline text=\"Numberless\" type=\"rss\" xmlUrl=\"http://127.0.0.1/x\"/>"
      "</outline>"
      "<outline text=\"Tech\" type=\"rss\" uniqueID=\"151\">"
      "<outline text=\"Gamma\" type=\"rss\" uniqueID=\"103\" xmlUrl=\"http://127.0.0.1/c\"/>"
      "</outline>"
      "<outline text=\"Google Reader\" type=\"rss\" uniqueID=\"152\">"
      "<outline text=\"G1\" type=\"rss\" uniqueID=\"104\" xmlUrl=\"http://127.0.0.1/g1\" label=\"Tech;;News\"/>"
      "<outline text=\"G2\" type=\"rss\" uniqueID=\"105\" xmlUrl=\"http://127.0.0.1/g2\" label=\"Tech\"/>"
      "<outline text=\"G3\" type=\"rss\" uniqueID=\"106\" xmlUrl=\"http://127.0.0.1/g3\"/>"
      "</outline>"
      "</body></opml>\n";

  std::unique_ptr<CReaderApp> app_;
  std::unique_ptr<CMainFrame> frame_;
};

TEST(UpdateCommandTest, OnlyTheFirstWordCounts) {
  EXPECT_TRUE(CReaderApp::IsUpdateCommand(u"/update"));
  EXPECT_TRUE(CReaderApp::IsUpdateCommand(u"  /UPDATE  now later"));
  EXPECT_TRUE(CReaderApp::IsUpdateCommand(u"/Update\tx"));
  EXPECT_FALSE(CReaderApp::IsUpdateCommand(u"now /update"));
  EXPECT_FALSE(CReaderApp::IsUpdateCommand(u"/updater"));
  EXPECT_FALSE(CReaderApp::IsUpdateCommand(u""));
  EXPECT_FALSE(CReaderApp::IsUpdateCommand(nullptr));
}

TEST_F(ScreensTest, TheShownCategoryAndLabelChooseTheRowsAndEveryReloadRebuildsTheLists) {
  MakeFrame(TRUE);
  ASSERT_TRUE(Dlg().LoadChannelList(kList));
  // Every channel with a number, sorted by title; the numberless one has
  // no row but counts as subscribed.
  EXPECT_EQ(Rows(), (std::vector<std::string>{"Alpha", "Beta", "G1", "G2", "G3", "Gamma"}));
  EXPECT_TRUE(frame_->IsUrlSubscribed(u"http://127.0.0.1/x"));
  EXPECT_FALSE(frame_->IsUrlSubscribed(u"http://127.0.0.1/X"));
  CChannelListItem beta, alpha;
  ASSERT_TRUE(Dlg().m_pChannelList->GetItem(1, beta));
  EXPECT_EQ(beta.m_nItemCount, 7);
  EXPECT_EQ(beta.m_nNewCount, 3);
  EXPECT_EQ(beta.m_strUpdateTime, CString(u"2026-12-01 10:00:00"));
  ASSERT_TRUE(Dlg().m_pChannelList->GetItem(0, alpha));
  EXPECT_EQ(alpha.m_strUpdateTime, CString(u"n/a"));
  EXPECT_EQ(alpha.m_strCategory, CString(u"News"));
  EXPECT_EQ(Entries(Dlg().m_reloadCategories),
            (std::vector<std::string>{"News", "Tech", "Google Reader", "Google Reader - Tech", "Google Reader - News"}));
  EXPECT_EQ(Entries(Dlg().m_reloadTitles), (std::vector<std::string>{"Tech", "News"}));
  EXPECT_EQ(Entries(Dlg().m_reloadUrls),
            (std::vector<std::string>{"http://127.0.0.1/g1", "http://127.0.0.1/g2", "http://127.0.0.1/g3"}));

  Wnd().SetDefaultCategory(u"Tech");
  ASSERT_TRUE(Dlg().LoadChannelList(kList));
  EXPECT_EQ(Rows(), (std::vector<std::string>{"Gamma"}));
  EXPECT_EQ(ReadSettingString(u"Settings", u"DefaultCategory", u""), CString(u"Tech"));
  // The lists are rebuilt, not appended to.
  EXPECT_EQ(Entries(Dlg().m_reloadCategories).size(), 5u);

  Wnd().SetDefaultCategory(u"Google Reader - News");
  ASSERT_TRUE(Dlg().LoadChannelList(kList));
  EXPECT_EQ(Rows(), (std::vector<std::string>{"G1", "G3"}));

  Wnd().SetDefaultCategory(u"");
  ASSERT_TRUE(Dlg().LoadChannelList(kList));
  EXPECT_EQ(Rows().size(), 6u);

  // A channel gone from the list is no longer reported as subscribed after
  // the next reload.
  std::string less = kOpml;
  less.erase(less.find("<outline text=\"Gamma\""), less.find("</outline>", less.find("Gamma")) -
                                                        less.find("<outline text=\"Gamma\""));
  WriteDeviceFile(kList, less);
  ASSERT_TRUE(frame_->IsUrlSubscribed(u"http://127.0.0.1/c"));
  ASSERT_TRUE(Dlg().LoadChannelList(kList));
  EXPECT_FALSE(frame_->IsUrlSubscribed(u"http://127.0.0.1/c"));
  EXPECT_EQ(Rows().size(), 5u);

  // A broken file leaves an empty list and is not taken for loaded.
  WriteDeviceFile(kList, "<opml><body><outline");
  EXPECT_FALSE(Dlg().LoadChannelList(kList));
  EXPECT_TRUE(Rows().empty());
}

// A channel deleted from the list may be added again at once: its feed is
// no longer taken for subscribed (the import pages list it again and every
// add path takes it), and the channel added again starts afresh under a new
// number, without the deleted one's items.
TEST_F(ScreensTest, ADeletedChannelCanBeAddedAgainInTheSameSession) {
  const char16_t* alpha = u"http://127.0.0.1/a";
  WriteDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Ch101.bin", "old items");
  MakeFrame(TRUE);
  ASSERT_TRUE(Dlg().LoadChannelList(kList));
  ASSERT_EQ(Rows().front(), "Alpha");
  ASSERT_TRUE(frame_->IsUrlSubscribed(alpha));
  int asked = 0;
  qk::SetMessageBoxHook([&](HWND, const std::u16string&, const std::u16string&, UINT) {
    ++asked;
    return IDYES;
  });
  Dlg().m_pChannelList->ClearFocus();
  Dlg().m_pChannelList->FocusNext();
  ASSERT_EQ(Dlg().m_pChannelList->GetFocusedItem(), 0);
  SendMessageW(Wnd().GetSafeHwnd(), WM_COMMAND, ID_DELETE_CHANNEL, 0);
  qk::SetMessageBoxHook(nullptr);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(Rows().front(), "Beta");
  EXPECT_FALSE(frame_->IsUrlSubscribed(alpha));
  EXPECT_FALSE(Dlg().m_pOpml->HasChannel(alpha));
  EXPECT_FALSE(DeviceFileExists(u"\\Program Files\\Quillet\\ChannelData\\Ch101.bin"));

  // Added again, as the wizard's pages add a channel, and the list loaded
  // again as the wizard's end has it loaded.
  const int number = Dlg().m_pOpml->AddChannel(u"News", u"Alpha", alpha);
  EXPECT_EQ(number, 200);
  ASSERT_TRUE(Dlg().LoadChannelList(kList));
  EXPECT_EQ(Rows().front(), "Alpha");
  EXPECT_TRUE(frame_->IsUrlSubscribed(alpha));
  CChannelListItem item;
  ASSERT_TRUE(Dlg().m_pChannelList->GetItem(0, item));
  EXPECT_EQ(item.m_nChannel, 200);
  EXPECT_EQ(item.m_strUpdateTime, CString(u"n/a"));
  // And deleted once more: gone again, with nothing left that says otherwise.
  Dlg().m_pChannelList->ClearFocus();
  Dlg().m_pChannelList->FocusNext();
  qk::SetMessageBoxHook([](HWND, const std::u16string&, const std::u16string&, UINT) { return IDYES; });
  SendMessageW(Wnd().GetSafeHwnd(), WM_COMMAND, ID_DELETE_CHANNEL, 0);
  qk::SetMessageBoxHook(nullptr);
  EXPECT_FALSE(frame_->IsUrlSubscribed(alpha));
  EXPECT_FALSE(Dlg().m_pOpml->HasChannel(alpha));
}

TEST_F(ScreensTest, TheTouchAndTheKeyFacesOfTheFrame) {
  MakeFrame(TRUE);
  EXPECT_EQ(frame_->GetMenuBar(), nullptr);
  EXPECT_EQ(Title(), u"Quillet Reach");
  EXPECT_TRUE(Dlg().HasButtonBar());
  CRect client;
  Wnd().GetClientRect(&client);
  // The bottom band belongs to the bar on a touch screen: neither the press
  // nor the moves and release after it reach the list.
  EXPECT_EQ(Wnd().SendMessage(WM_LBUTTONDOWN, 0, MAKELPARAM(20, client.bottom - 5)), -1);
  EXPECT_EQ(Wnd().SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(20, 200)), -1);
  EXPECT_EQ(Wnd().SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(20, 200)), 1);
  Wnd().SetRefreshSoftKey(TRUE);
  EXPECT_TRUE(Dlg().IsDownloadMode());
  Wnd().SetRefreshSoftKey(FALSE);
  EXPECT_FALSE(Dlg().IsDownloadMode());

  MakeFrame(FALSE);
  HWND bar = frame_->GetMenuBar();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(Title(), u"Quillet");
  EXPECT_FALSE(Dlg().HasButtonBar());
  // Without a bar the bottom of the list is the list's.
  Wnd().GetClientRect(&client);
  EXPECT_NE(Wnd().SendMessage(WM_LBUTTONDOWN, 0, MAKELPARAM(20, client.bottom - 5)), -1);
  Wnd().SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(20, client.bottom - 5));
  // The frame ends above the menu bar.
  RECT frameRect{}, barRect{};
  GetWindowRect(frame_->GetSafeHwnd(), &frameRect);
  GetWindowRect(bar, &barRect);
  EXPECT_LE(frameRect.bottom, barRect.top);

  auto text = [&](UINT command) {
    WCHAR buffer[32] = {0};
    TBBUTTONINFOW info{};
    info.cbSize = sizeof info;
    info.dwMask = TBIF_TEXT | TBIF_STATE;
    info.pszText = buffer;
    info.cchText = 32;
    SendMessageW(bar, TB_GETBUTTONINFO, command, reinterpret_cast<LPARAM>(&info));
    return std::u16string(buffer) + ((info.fsState & TBSTATE_ENABLED) ? u"" : u" (off)");
  };
  EXPECT_EQ(text(ID_REFRESH_CHANNELS), u"Refresh");
  EXPECT_EQ(text(ID_MENU_KEY), u"Menu");
  Wnd().SetRefreshSoftKey(TRUE);
  EXPECT_EQ(text(ID_REFRESH_CHANNELS), u"Cancel");
  // The Menu key is off from the start of a run to the end of its feeds.
  SendMessageW(frame_->GetSafeHwnd(), RefreshMessage(MSG_DOWNLOAD_START), 0, 0);
  EXPECT_EQ(text(ID_MENU_KEY), u"Menu (off)");
  SendMessageW(frame_->GetSafeHwnd(), RefreshMessage(MSG_DOWNLOAD_HEADLINES_FINISHED), 0, 0);
  EXPECT_EQ(text(ID_MENU_KEY), u"Menu");
  Wnd().SetRefreshSoftKey(FALSE);
  EXPECT_EQ(text(ID_REFRESH_CHANNELS), u"Refresh");
  // The Language command opens the language page (closed here as soon as
  // it waits) and then rebuilds the bar in place of the old one.
  static HWND frame, language;
  frame = frame_->GetSafeHwnd();
  language = nullptr;
  qk::SetIdleHook([]() -> DWORD {
    HWND active = GetActiveWindow();
    if (language || !active || active == frame) return INFINITE;
    language = active;
    PostMessageW(active, WM_CLOSE, 0, 0);
    return 0;
  });
  frame_->SendMessage(WM_COMMAND, ID_LANGUAGE, 0);
  qk::SetIdleHook(nullptr);
  EXPECT_NE(language, nullptr) << "no language page";
  EXPECT_NE(frame_->GetMenuBar(), nullptr);
  EXPECT_FALSE(IsWindow(bar) && IsWindowVisible(bar));
}

bool QuitPosted() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    if (msg.message == WM_QUIT) return true;
  return false;
}

TEST_F(ScreensTest, AnUpdateTaskEndsAtTheEndOfTheRefreshUnlessTheUserStartedTheProgramLateEnough) {
  qk::FreezeClock(1765200000000, 50000);
  MakeFrame(TRUE);
  HWND frame = frame_->GetSafeHwnd();
  app_->m_bUpdateTask = TRUE;
  app_->m_dwUpdateStartTick = GetTickCount();
  // Another program's screen is in front when the user starts the program.
  HWND other = qtest::CreateHostWindow(u"ScreensTestOther", DefWindowProcW, 100, 100);
  ASSERT_NE(other, nullptr);
  SetActiveWindow(other);
  ASSERT_EQ(GetActiveWindow(), other);
  qk::AdvanceClock(2000);
  SendMessageW(frame, WM_ACTIVATE_INSTANCE, 0, 0);
  EXPECT_TRUE(app_->m_bUpdateTask);
  EXPECT_EQ(GetActiveWindow(), other);  // too early: the task stays hidden
  // The end of the feeds does not end the task; the end of the refresh does.
  SendMessageW(frame, RefreshMessage(MSG_DOWNLOAD_HEADLINES_FINISHED), 0, 0);
  EXPECT_TRUE(IsWindow(frame));
  EXPECT_FALSE(QuitPosted());
  WriteDeviceFile(u"\\QuilletDownloader.tmp", "partial");
  SendMessageW(frame, RefreshMessage(MSG_DOWNLOAD_FINISHED), 0, 0);
  EXPECT_FALSE(IsWindow(frame));
  EXPECT_TRUE(QuitPosted());
  EXPECT_TRUE(IsDownloadStopped());
  EXPECT_FALSE(DeviceFileExists(u"\\QuilletDownloader.tmp"));

  SetDownloadStop(FALSE);
  MakeFrame(TRUE);
  frame = frame_->GetSafeHwnd();
  app_->m_bUpdateTask = TRUE;
  app_->m_dwUpdateStartTick = GetTickCount();
  SetActiveWindow(other);
  qk::AdvanceClock(3500);
  SendMessageW(frame, WM_ACTIVATE_INSTANCE, 0, 0);
  EXPECT_FALSE(app_->m_bUpdateTask);
  // Late enough: the frame came to the front and took the activation.
  EXPECT_EQ(GetActiveWindow(), frame);
  EXPECT_EQ(GetForegroundWindow(), frame);
  SendMessageW(frame, RefreshMessage(MSG_DOWNLOAD_FINISHED), 0, 0);
  EXPECT_TRUE(IsWindow(frame));
  EXPECT_FALSE(QuitPosted());

  // A plain start's frame is woken whenever a second start asks.
  MakeFrame(TRUE);
  frame = frame_->GetSafeHwnd();
  app_->m_bUpdateTask = FALSE;
  app_->m_dwUpdateStartTick = 0;
  SetActiveWindow(other);
  SendMessageW(frame, WM_ACTIVATE_INSTANCE, 0, 0);
  EXPECT_EQ(GetActiveWindow(), frame);
  EXPECT_EQ(GetForegroundWindow(), frame);
  DestroyWindow(other);
}

// The channel list paints only what can be seen and only what changed: a
// channel's new counts are owed as its row alone; nothing is drawn while a
// window covers the screen or the frame is minimised (progress, counts,
// rows added, the refresh's bar); and the list is painted once, showing
// what changed meanwhile, when it shows again.
TEST_F(ScreensTest, TheListPaintsOnlyWhatShowsAndOnlyTheRowThatChanged) {
  qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
  qk::display::ConnectScreen();
  MakeFrame(TRUE);
  ASSERT_TRUE(Dlg().LoadChannelList(kList));
  qk::PumpMessages();
  HWND frame = frame_->GetSafeHwnd(), dialog = Dlg().GetSafeHwnd();
  CChannelListView* view = Dlg().m_pChannelList;
  const RECT list = view->Scroller().GetRect();
  const int pitch = view->GetRowPitch();
  // The list on the screen is what the view drew.
  auto shown = [&] {
    RECT at{};
    GetWindowRect(dialog, &at);
    HDC drawn = view->Scroller().GetBackBufferDC();
    auto screen = qk::gdi::ScreenSurface();
    for (int y = 0; y < list.bottom - list.top; y += 3)
      for (int x = 0; x < list.right - list.left; x += 7)
        if (screen->Get(at.left + list.left + x, at.top + list.top + y) != GetPixel(drawn, x, y)) return false;
    return true;
  };
  ASSERT_TRUE(shown());

  HWND cover = qtest::CreateHostWindow(u"ScreensTestCover", DefWindowProcW, 480, 800, u"", WS_POPUP);
  ShowWindow(cover, SW_SHOWNOACTIVATE);
  qk::PumpMessages();
  const uint64_t frameDrawn = qk::DrawingsOn(frame), dialogDrawn = qk::DrawingsOn(dialog);
  SendMessageW(frame, WM_CHANNEL_COUNTS_CHANGED, 102, MAKELPARAM(8, 5));  // Beta, the second row
  qk::PumpMessages();
  EXPECT_EQ(qk::DrawingsOn(frame), frameDrawn);
  RECT owed{};
  ASSERT_TRUE(GetUpdateRect(dialog, &owed, FALSE));
  EXPECT_EQ(owed.left, list.left);
  EXPECT_EQ(owed.right, list.right);
  EXPECT_EQ(owed.top, list.top + pitch);
  EXPECT_EQ(owed.bottom, list.top + 2 * pitch);
  DestroyWindow(cover);
  qk::PumpMessages();
  EXPECT_EQ(qk::DrawingsOn(dialog), dialogDrawn + 1);
  EXPECT_TRUE(shown());

  ShowWindow(frame, SW_MINIMIZE);
  qk::PumpMessages();
  const uint64_t minimizedDrawn = qk::DrawingsOn(frame), dialogBefore = qk::DrawingsOn(dialog);
  Dlg().SetDownloadMode(TRUE);
  RefreshState().queuedChannels = 4;
  RefreshState().processedChannels = 1;
  RefreshState().imageTotal = 0;
  RefreshState().processedImages = 0;
  SendMessageW(frame, WM_CHANNELS_DOWNLOAD_PROGRESS, 0, 0);
  SendMessageW(frame, WM_CHANNEL_COUNTS_CHANGED, 101, MAKELPARAM(9, 4));
  std::string more = kOpml;
  more.insert(more.find("</outline>"),
              "<outline text=\"Delta\" type=\"rss\" uniqueID=\"107\" xmlUrl=\"http://127.0.0.1/d\"/>");
  WriteDeviceFile(kList, more);
  ASSERT_TRUE(Dlg().LoadChannelList(kList));
  qk::PumpMessages();
  EXPECT_EQ(view->GetItemCount(), 7);
  EXPECT_EQ(qk::DrawingsOn(frame), minimizedDrawn);
  ShowWindow(frame, SW_RESTORE);
  qk::PumpMessages();
  EXPECT_EQ(qk::DrawingsOn(dialog), dialogBefore + 1);
  EXPECT_TRUE(shown());
  Dlg().SetDownloadMode(FALSE);
  RefreshState().queuedChannels = 0;
  RefreshState().processedChannels = 0;
}

TEST_F(ScreensTest, MessagesFromOtherProgramsAndFromTheRunAreTakenSafely) {
  MakeFrame(TRUE);
  ASSERT_TRUE(Dlg().LoadChannelList(kList));
  HWND frame = frame_->GetSafeHwnd();

  // A connection that comes up with no Refresh waiting starts nothing.
  SendMessageW(frame, WM_CONNECTION_STATUS, 16, 0);
  EXPECT_FALSE(Wnd().IsRunActive());
  SendMessageW(frame, WM_CONNECTION_STATUS, 32, 0);
  EXPECT_FALSE(IsDownloadStopped());

  // Progress: the per-cent still to do, within 0 to 100; a message with
  // nothing to measure against is ignored.
  RefreshState().queuedChannels = 4;
  RefreshState().processedChannels = 1;
  RefreshState().imageTotal = 0;
  RefreshState().processedImages = 0;
  SendMessageW(frame, WM_CHANNELS_DOWNLOAD_PROGRESS, 0, 0);
  EXPECT_EQ(Dlg().m_nProgress.load(), 75);
  RefreshState().processedChannels = 9;
  SendMessageW(frame, WM_CHANNELS_DOWNLOAD_PROGRESS, 0, 0);
  EXPECT_EQ(Dlg().m_nProgress.load(), 0);
  RefreshState().queuedChannels = 0;
  RefreshState().processedChannels = 0;
  SendMessageW(frame, WM_CHANNELS_DOWNLOAD_PROGRESS, 0, 0);
  EXPECT_EQ(Dlg().m_nProgress.load(), 0);
  SendMessageW(frame, WM_CHANNELS_DOWNLOAD_PROGRESS, 3, 0);
  EXPECT_EQ(Dlg().m_nProgress.load(), 0);

  // Counts for a channel without a row change neither the rows nor the file.
  std::string before = ReadDeviceFile(kList);
  SendMessageW(frame, WM_CHANNEL_COUNTS_CHANGED, 999, MAKELPARAM(5, 2));
  EXPECT_EQ(ReadDeviceFile(kList), before);
  SendMessageW(frame, WM_CHANNEL_COUNTS_CHANGED, 101, MAKELPARAM(9, 4));
  CChannelListItem alpha;
  ASSERT_TRUE(Dlg().m_pChannelList->GetItem(0, alpha));
  EXPECT_EQ(alpha.m_nItemCount, 9);
  EXPECT_EQ(alpha.m_nNewCount, 4);
  std::string after = ReadDeviceFile(kList);
  EXPECT_NE(after.find("xmlUrl=\"http://127.0.0.1/a\" itemCount=\"9\" newItemCount=\"4\""), std::string::npos);

  // An article text comes as a copy of its data.
  auto copy = [&](const std::u16string& text, const std::u16string& path, bool terminated = true) {
    std::u16string data = text + u'\0' + path;
    if (terminated) data += u'\0';
    COPYDATASTRUCT cds{WM_ARTICLE_TEXT, DWORD(data.size() * sizeof(char16_t)), data.data()};
    return SendMessageW(frame, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
  };
  WriteDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Ch101_3.sft", "old");
  EXPECT_TRUE(copy(u"<p>Article \u00e9</p>", u"\\Program Files\\Quillet\\ChannelData\\Ch101_3.sft"));
  EXPECT_FALSE(DeviceFileExists(u"\\Program Files\\Quillet\\ChannelData\\Ch101_3.sft"));
  EXPECT_EQ(ReadDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Ch101_3.htm"), "<p>Article \xc3\xa9</p>");
  WriteDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Ch101_4.sft", "old");
  EXPECT_TRUE(copy(u"", u"\\Program Files\\Quillet\\ChannelData\\Ch101_4.sft"));
  EXPECT_FALSE(DeviceFileExists(u"\\Program Files\\Quillet\\ChannelData\\Ch101_4.sft"));
  EXPECT_FALSE(DeviceFileExists(u"\\Program Files\\Quillet\\ChannelData\\Ch101_4.htm"));
  WriteDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Ch101_5.sft", "old");
  EXPECT_FALSE(copy(u"text", u"\\Program Files\\Quillet\\ChannelData\\Ch101_5.sft", false));
  EXPECT_TRUE(DeviceFileExists(u"\\Program Files\\Quillet\\ChannelData\\Ch101_5.sft"));
  // The bare message's parameters would be another process's pointers.
  SendMessageW(frame, WM_ARTICLE_TEXT, 0x1234, 0x5678);

  // A channel handed over: its number and the first line of its file.
  WriteDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Ch007.bi~", "Handed over title\nsecond line\n");
  SendMessageW(frame, WM_CHANNEL_HANDOVER, 7, 0);
  EXPECT_EQ(app_->m_nPendingChannel.load(), 7);
  EXPECT_EQ(app_->m_strPendingChannelText, CString(u"Handed over title"));
  EXPECT_FALSE(DeviceFileExists(u"\\Program Files\\Quillet\\ChannelData\\Ch007.bi~"));
  SendMessageW(frame, WM_CHANNEL_HANDOVER, 8, 0);
  EXPECT_EQ(app_->m_strPendingChannelText, CString(u""));
  // The reload that follows resets the hand-over.
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return app_->m_nPendingChannel.load() == -1; }, 5000));
  EXPECT_EQ(Rows().size(), 6u);
}

}  // namespace

namespace {

TEST_F(ScreensTest, ExitFromTheChannelMenuEndsItsLoopAndNothingRunsOnTheClosedScreen) {
  MakeFrame(TRUE);
  ASSERT_TRUE(Dlg().LoadChannelList(kList));
  HWND frame = frame_->GetSafeHwnd();
  HWND dialog = Dlg().GetSafeHwnd();
  // The finger rests on a row; the Exit command is waiting when the menu
  // opens.
  SendMessageW(dialog, WM_MOUSEMOVE, 0, MAKELPARAM(100, 260));
  PostMessageW(frame, WM_COMMAND, ID_APP_EXIT_COMMAND, 0);
  Dlg().ShowChannelMenu();
  EXPECT_FALSE(IsWindow(frame));
  EXPECT_FALSE(IsWindow(dialog));
  // The quit that ended the menu's loop is there for the program's loop.
  EXPECT_TRUE(QuitPosted());
  // Nothing was written on the way out.
  EXPECT_EQ(ReadDeviceFile(kList), std::string(kOpml));
}

}  // namespace

namespace {

const char16_t* kData = u"\\Program Files\\Quillet\\ChannelData\\";

CString DataPath(const std::string& name) { return CString(kData) + CString(qk::FromUtf8(name).c_str()); }

// The read flags of a channel's items, in store order ("0123").
std::string Flags(int channel) {
  CItemStore store(0);
  store.Open(DataPath("Ch" + std::to_string(channel) + ".bin"), 0, 0);
  std::string flags;
  while (store.MoveNext()) flags += static_cast<char>('0' + store.Current().readFlag);
  return flags;
}

std::string Attribute(COpmlXML* list, const char16_t* url, const char16_t* name) {
  CString value;
  if (!list->GetChannelAttribute(url, name, value)) return "<none>";
  return qk::ToUtf8(value.str());
}

// Mark All As Read and As Unread on item stores that hold every state an
// item can be in, full texts among them: every item changes its read bit
// and keeps its fetched bit, and the counts the rows show and the list
// stores are the store's, not the list's older ones.
TEST_F(ScreensTest, MarkAllReadAndUnreadReachEveryItemAndTheCountsAreTheStores) {
  {
    // Beta (102): four items, unread, unread with its full text, read and
    // read with its full text; the list still says 7 items.
    CItemStore store(0);
    store.Open(DataPath("Ch102.bin"), 0, 0);
    for (int i = 0; i < 4; ++i) {
      CString link;
      link.Format(u"http://127.0.0.1/b/%d", i);
      CString page;
      page.Format(u"Ch102-1-%d.htm", i);
      store.AddPendingItem(u"Story", link, u"", u"2026-12-01 10:00:00", 0, 0, u"text", page);
    }
    ASSERT_TRUE(store.Commit());
    ASSERT_TRUE(SetItemReadState(&store, u"http://127.0.0.1/b/1", ITEM_READ_MARK_FETCHED));
    ASSERT_TRUE(SetItemReadState(&store, u"http://127.0.0.1/b/2", ITEM_READ_READ));
    ASSERT_TRUE(SetItemReadState(&store, u"http://127.0.0.1/b/3", ITEM_READ_MARK_FETCHED));
    ASSERT_TRUE(SetItemReadState(&store, u"http://127.0.0.1/b/3", ITEM_READ_READ_FETCHED));
    SetItemType(&store, u"http://127.0.0.1/b/1", ITEM_TYPE_PAGE);
    SetItemType(&store, u"http://127.0.0.1/b/3", ITEM_TYPE_PAGE);
  }
  ASSERT_EQ(Flags(102), "0123");
  MakeFrame(TRUE);
  ASSERT_TRUE(Dlg().LoadChannelList(kList));
  COpmlXML* list = Dlg().m_pOpml;
  auto beta = [&] {
    CChannelListItem row;
    EXPECT_TRUE(Dlg().m_pChannelList->GetItem(1, row));
    EXPECT_EQ(row.m_nChannel, 102);
    return std::make_pair(row.m_nItemCount, row.m_nNewCount);
  };

  Wnd().SetChannelReadState(TRUE, TRUE);
  EXPECT_EQ(Flags(102), "2323");
  EXPECT_EQ(beta(), std::make_pair(4, 0));
  EXPECT_EQ(Attribute(list, u"http://127.0.0.1/b", u"newItemCount"), "0");
  EXPECT_EQ(Attribute(list, u"http://127.0.0.1/b", u"itemCount"), "4");

  Wnd().SetChannelReadState(TRUE, FALSE);
  EXPECT_EQ(Flags(102), "0101");
  EXPECT_EQ(beta(), std::make_pair(4, 4));
  EXPECT_EQ(Attribute(list, u"http://127.0.0.1/b", u"newItemCount"), "4");
  // A channel without a store takes its stored item count, none here.
  EXPECT_EQ(Attribute(list, u"http://127.0.0.1/a", u"newItemCount"), "0");
  // What the file holds is what the rows show after a reload.
  ASSERT_TRUE(Dlg().LoadChannelList(kList));
  EXPECT_EQ(beta(), std::make_pair(4, 4));
}

// A refresh against a loopback server whose Tech feeds come only when the
// test lets them: the channel commands sent meanwhile are refused and
// change nothing, and a channel taken off the list while its feed comes
// gets no files from the run.
TEST_F(ScreensTest, ARefreshRefusesTheCommandsAndWritesNoFilesOfAChannelTakenOffTheList) {
  auto feed = [](const std::string& name) {
    std::string x = "<?xml version='1.0'?><rss version='2.0'><channel><title>" + name + "</title>";
    for (int i = 0; i < 2; ++i)
      x += "<item><title>" + name + " " + std::to_string(i) + "</title><link>http://127.0.0.1/s/" + name + "/" +
           std::to_string(i) + "</link><description>Body</description></item>";
    return x + "</channel></rss>";
  };
  auto rule = [](const std::string& path, const std::string& body, bool gated) {
    return "{\"path\": \"" + path + "\", \"times\": 0, " + (gated ? "\"until\": \"/open/go\", " : "") +
           "\"response\": \"HTTP/1.1 200 OK\\r\\nContent-Type: application/rss+xml\\r\\nContent-Length: " +
           std::to_string(body.size()) + "\\r\\nConnection: close\\r\\n\\r\\n" + body + "\"}";
  };
  qnet::ScriptedServer server;
  ASSERT_TRUE(server.Start("{\"rules\": [" + rule("/feed/100", feed("100"), false) + ", " +
                           rule("/gated/", feed("gated"), true) +
                           ", {\"path\": \"/open/\", \"times\": 0, \"response\": \"HTTP/1.1 204 No Content\\r\\n"
                           "Content-Length: 0\\r\\nConnection: close\\r\\n\\r\\n\"}]}"));
  auto asked = [&](const std::string& path) {
    for (const std::string& r : server.Requests())
      if (r.rfind("GET " + path + " ", 0) == 0) return true;
    return false;
  };
  WriteDeviceFile(kList, "<?xml version=\"1.0\"?>\n<opml version=\"1.0\"><head/><body nextID=\"200\">"
                         "<outline text=\"News\" type=\"rss\" uniqueID=\"90\"><outline text=\"A\" type=\"rss\" "
                         "uniqueID=\"100\" xmlUrl=\"" + server.Url("/feed/100") + "\"/></outline>"
                         "<outline text=\"Tech\" type=\"rss\" uniqueID=\"91\"><outline text=\"B\" type=\"rss\" "
                         "uniqueID=\"112\" xmlUrl=\"" + server.Url("/gated/112") + "\"/><outline text=\"C\" "
                         "type=\"rss\" uniqueID=\"113\" xmlUrl=\"" + server.Url("/gated/113") + "\"/></outline>"
                         "</body></opml>\n");
  std::vector<std::string> boxes;
  qk::SetMessageBoxHook([&](HWND, const std::u16string& text, const std::u16string&, UINT) {
    boxes.push_back(qk::ToUtf8(text));
    return IDYES;
  });
  qk::connmgr::ScriptStatus(CONNMGR_STATUS_CONNECTED);
  MakeFrame(TRUE);
  ASSERT_TRUE(Dlg().LoadChannelList(kList));
  COpmlXML* list = Dlg().m_pOpml;
  HWND frame = frame_->GetSafeHwnd();
  SendMessageW(frame, WM_COMMAND, ID_REFRESH_CHANNELS, 0);
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return asked("/gated/112"); }, 30000));
  ASSERT_TRUE(Wnd().IsRunActive());
  ASSERT_TRUE(DeviceFileExists(DataPath("Ch100.bin")));
  ASSERT_EQ(Flags(100), "00");

  // Every command on the focused row (channel 100, stored already) and on
  // all rows: each is refused with a word to the user, and the list, the
  // store and the files stay as they are.
  SendMessageW(Wnd().GetSafeHwnd(), WM_KEYDOWN, VK_DOWN, 0);
  ASSERT_EQ(Dlg().m_pChannelList->GetFocusedItem(), 0);
  const std::string fresh = Attribute(list, qk::FromUtf8(server.Url("/feed/100")).c_str(), u"newItemCount");
  for (UINT command : {ID_MARK_READ, ID_MARK_UNREAD, ID_ALL_READ, ID_ALL_UNREAD, ID_DELETE_CHANNEL, ID_CHANGE_CATEGORY,
                       ID_CHANNEL_PROPERTIES, ID_EXPORT, ID_DELETE_ALL_DATA}) {
    // Through the frame's menu and as the channel list dialog's menus send
    // them, to the window itself. A command that is disabled meanwhile
    // goes without a word; one that is not tells the user to wait. None
    // asks its question or opens its dialog.
    boxes.clear();
    SendMessageW(frame, WM_COMMAND, command, 0);
    SendMessageW(Wnd().GetSafeHwnd(), WM_COMMAND, command, 0);
    for (const std::string& box : boxes) EXPECT_EQ(box, "Please wait until the channels have been refreshed.") << command;
  }
  EXPECT_EQ(Flags(100), "00");
  EXPECT_EQ(Attribute(list, qk::FromUtf8(server.Url("/feed/100")).c_str(), u"newItemCount"), fresh);
  EXPECT_TRUE(list->HasChannel(qk::FromUtf8(server.Url("/feed/100")).c_str()));
  EXPECT_TRUE(DeviceFileExists(DataPath("Ch100.bin")));
  EXPECT_EQ(Rows().size(), 3u);

  // Tech goes from the list, with its files, as the category editor takes
  // it away; then its feeds come.
  ASSERT_TRUE(list->RemoveCategory(u"Tech", DeleteChannelFiles));
  ASSERT_EQ(qnet::RawHttpGet(server.port(), "/open/go").rfind("HTTP/1.1 204", 0), 0u);
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return !Wnd().IsRunActive() && !Wnd().IsRefreshWorking(); }, 60000));
  for (const char* prefix : {"Ch112", "Ch113"})
    for (const char* name : {".bin", ".xml", "~.xml"})
      EXPECT_FALSE(DeviceFileExists(DataPath(std::string(prefix) + name))) << prefix << name;
  EXPECT_EQ(Flags(100), "00");
}

// A list of 2,000 channels reloaded while a refresh runs: each channel the
// run has still to fetch shows as waiting again, in the rows made anew, and
// the one fetched already does not. The waiting URLs are counted, so that
// a URL queued twice still waits after its first fetch.
TEST_F(ScreensTest, AReloadDuringARefreshShowsEveryChannelStillWaitingOfALongList) {
  CWaitingUrls waiting;
  waiting.AddTail(u"http://127.0.0.1/a");
  waiting.AddTail(u"http://127.0.0.1/b");
  waiting.AddTail(u"http://127.0.0.1/a");
  waiting.RemoveHead();
  EXPECT_TRUE(waiting.Contains(u"http://127.0.0.1/a"));
  waiting.RemoveHead();
  EXPECT_FALSE(waiting.Contains(u"http://127.0.0.1/b"));
  EXPECT_EQ(waiting.GetHead(), CString(u"http://127.0.0.1/a"));
  waiting.RemoveHead();
  EXPECT_TRUE(waiting.IsEmpty());
  EXPECT_FALSE(waiting.Contains(u"http://127.0.0.1/a"));

  const std::string first = "<?xml version='1.0'?><rss version='2.0'><channel><title>one</title><item><title>i"
                            "</title><link>http://127.0.0.1/s/1</link></item></channel></rss>";
  qnet::ScriptedServer server;
  ASSERT_TRUE(server.Start(
      "{\"rules\": [{\"path\": \"/feed/1\", \"times\": 0, \"response\": \"HTTP/1.1 200 OK\\r\\nContent-Type: "
      "application/rss+xml\\r\\nContent-Length: " + std::to_string(first.size()) +
      "\\r\\nConnection: close\\r\\n\\r\\n" + first + "\"}, {\"path\": \"/gated/\", \"times\": 0, \"until\": "
      "\"/open/go\", \"response\": \"HTTP/1.1 404 Not Found\\r\\nContent-Length: 0\\r\\nConnection: close\\r\\n\\r\\n\"},"
      " {\"path\": \"/open/\", \"times\": 0, \"response\": \"HTTP/1.1 204 No Content\\r\\nContent-Length: 0\\r\\n"
      "Connection: close\\r\\n\\r\\n\"}]}"));
  auto asked = [&](const std::string& path) {
    for (const std::string& r : server.Requests())
      if (r.rfind("GET " + path + " ", 0) == 0) return true;
    return false;
  };
  const int n = 2000;
  std::string opml = "<?xml version=\"1.0\"?>\n<opml version=\"1.0\"><head/><body nextID=\"3000\">"
                     "<outline text=\"News\" type=\"rss\" uniqueID=\"2999\">";
  for (int i = 1; i <= n; ++i) {
    const std::string path = i == 1 ? "/feed/1" : "/gated/" + std::to_string(i);
    opml += "<outline text=\"Channel " + std::to_string(10000 + i) + "\" type=\"rss\" uniqueID=\"" +
            std::to_string(i) + "\" xmlUrl=\"" + server.Url(path) + "\"/>";
  }
  WriteDeviceFile(kList, opml + "</outline></body></opml>\n");
  qk::connmgr::ScriptStatus(CONNMGR_STATUS_CONNECTED);
  MakeFrame(TRUE);
  ASSERT_TRUE(Dlg().LoadChannelList(kList));
  ASSERT_EQ(Rows().size(), size_t(n));
  SendMessageW(frame_->GetSafeHwnd(), WM_COMMAND, ID_REFRESH_CHANNELS, 0);
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return asked("/gated/2"); }, 30000));
  ASSERT_TRUE(Wnd().IsRunActive());
  ASSERT_TRUE(DeviceFileExists(DataPath("Ch001.bin")));

  // The reload makes every row anew (with no state of its own).
  ASSERT_TRUE(Dlg().LoadChannelList(kList));
  CChannelListView* view = Dlg().m_pChannelList;
  ASSERT_EQ(view->GetItemCount(), n);
  int shownWaiting = 0;
  for (int i = 0; i < n; ++i) {
    CChannelListItem row;
    ASSERT_TRUE(view->GetItem(i, row));
    ASSERT_EQ(row.m_nState, row.m_nChannel == 1 ? 0 : 2) << row.m_nChannel;
    shownWaiting += row.m_nState == 2;
  }
  EXPECT_EQ(shownWaiting, n - 1);

  SendMessageW(frame_->GetSafeHwnd(), WM_COMMAND, ID_REFRESH_CHANNELS, 0);
  ASSERT_EQ(qnet::RawHttpGet(server.port(), "/open/go").rfind("HTTP/1.1 204", 0), 0u);
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return !Wnd().IsRunActive() && !Wnd().IsRefreshWorking(); }, 60000));
}

// A refresh that starts while a question of a channel command is up (a
// scheduled one, sent as Monitor sends it): the answer Yes then changes
// nothing, the user is told to wait, and the channel, its counts and its
// store stay as they are. Delete, Delete All Data and the category
// editor's Delete, each during its own refresh held by the loopback server
// until the test lets it go on.
TEST_F(ScreensTest, ARefreshStartedWhileACommandAsksRefusesTheCommandAfterYes) {
  auto feed = [](const std::string& name) {
    return "<?xml version='1.0'?><rss version='2.0'><channel><title>" + name + "</title><item><title>" + name +
           " 0</title><link>http://127.0.0.1/s/" + name + "</link><description>Body</description></item>"
           "</channel></rss>";
  };
  const std::string body = feed("held");
  qnet::ScriptedServer server;
  ASSERT_TRUE(server.Start(
      "{\"rules\": [{\"path\": \"/held/\", \"times\": 0, \"until\": \"/open/*\", \"response\": \"HTTP/1.1 200 OK\\r\\n"
      "Content-Type: application/rss+xml\\r\\nContent-Length: " + std::to_string(body.size()) +
      "\\r\\nConnection: close\\r\\n\\r\\n" + body + "\"}, {\"path\": \"/open/\", \"times\": 0, \"response\": "
      "\"HTTP/1.1 204 No Content\\r\\nContent-Length: 0\\r\\nConnection: close\\r\\n\\r\\n\"}]}"));
  auto asked = [&](const std::string& path) {
    for (const std::string& r : server.Requests())
      if (r.rfind("GET " + path + " ", 0) == 0) return true;
    return false;
  };
  qk::connmgr::ScriptStatus(CONNMGR_STATUS_CONNECTED);
  MakeFrame(TRUE);
  std::vector<std::string> boxes;
  std::string heldPath;
  qk::SetMessageBoxHook([&](HWND, const std::u16string& text, const std::u16string&, UINT) {
    boxes.push_back(qk::ToUtf8(text));
    if (text.rfind(u"Are you sure", 0) == 0) {
      SendMessageW(Wnd().GetSafeHwnd(), WM_CHANNELS_DOWNLOAD_START, 0, 0);
      EXPECT_TRUE(qk::PumpMessagesUntil([&] { return asked(heldPath); }, 30000)) << heldPath;
      return IDYES;
    }
    return IDOK;
  });
  int round = 0;
  // 0: the category editor's Delete of the channel's category.
  for (UINT command : {UINT(ID_DELETE_CHANNEL), UINT(ID_DELETE_ALL_DATA), 0u}) {
    SCOPED_TRACE(command);
    heldPath = "/held/" + std::to_string(++round) + "/100";
    const std::string url = server.Url(heldPath);
    WriteDeviceFile(kList, "<?xml version=\"1.0\"?>\n<opml version=\"1.0\"><head/><body nextID=\"200\">"
                           "<outline text=\"News\" type=\"rss\" uniqueID=\"90\"><outline text=\"A\" type=\"rss\" "
                           "uniqueID=\"100\" xmlUrl=\"" + url + "\" itemCount=\"1\" newItemCount=\"1\"/></outline>"
                           "</body></opml>\n");
    ::DeleteFileW(DataPath("Ch100.bin"));
    {
      CItemStore store(0);
      store.Open(DataPath("Ch100.bin"), 0, 0);
      store.AddPendingItem(u"Kept", u"http://127.0.0.1/kept", u"", u"2026-12-08 10:00:00", ITEM_READ_UNREAD, 0,
                           u"<p>kept</p>", u"");
      ASSERT_TRUE(store.Commit());
    }
    ASSERT_TRUE(Dlg().LoadChannelList(kList));
    ASSERT_FALSE(Wnd().IsRunActive());
    SendMessageW(Wnd().GetSafeHwnd(), WM_KEYDOWN, VK_DOWN, 0);
    ASSERT_EQ(Dlg().m_pChannelList->GetFocusedItem(), 0);
    const std::string stored = ReadDeviceFile(DataPath("Ch100.bin"));
    boxes.clear();
    if (command) {
      SendMessageW(Wnd().GetSafeHwnd(), WM_COMMAND, command, 0);
    } else {
      // The editor's Delete on its one row, then Back, from inside its loop.
      CCategoryEditDlg editor(CATEGORY_EDIT_MODE_ADD_DELETE, Dlg().m_pOpml, nullptr);
      editor.AddCategoriesInListOrder();
      static CCategoryEditDlg* shown;
      shown = &editor;
      ::SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR timer, DWORD) {
        ::KillTimer(nullptr, timer);
        if (!::IsWindow(shown->m_hWnd)) return;
        ::SendMessageW(shown->m_hWnd, WM_COMMAND, IDC_CATEGORY_DELETE, 0);
        ::SendMessageW(shown->m_hWnd, WM_COMMAND, IDCANCEL, 0);
      });
      editor.DoModal();
    }
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], "Please wait until the channels have been refreshed.");
    EXPECT_TRUE(Wnd().IsRunActive());
    EXPECT_TRUE(Dlg().m_pOpml->HasChannel(qk::FromUtf8(url).c_str()));
    EXPECT_TRUE(Dlg().m_pOpml->HasCategory(u"News"));
    EXPECT_EQ(Attribute(Dlg().m_pOpml, qk::FromUtf8(url).c_str(), u"itemCount"), "1");
    EXPECT_EQ(Rows(), (std::vector<std::string>{"A"}));
    EXPECT_EQ(ReadDeviceFile(DataPath("Ch100.bin")), stored);
    // The refresh goes on and stores the channel's feed beside what it had.
    ASSERT_EQ(qnet::RawHttpGet(server.port(), "/open/" + std::to_string(round) + "/100").rfind("HTTP/1.1 204", 0), 0u);
    ASSERT_TRUE(qk::PumpMessagesUntil([&] { return !Wnd().IsRunActive() && !Wnd().IsRefreshWorking(); }, 60000));
    EXPECT_EQ(Flags(100).size(), 2u);
  }

  // Export, with a refresh that starts while the file is being named:
  // nothing is copied, and the user is told to wait.
  heldPath = "/held/" + std::to_string(++round) + "/100";
  WriteDeviceFile(kList, "<?xml version=\"1.0\"?>\n<opml version=\"1.0\"><head/><body nextID=\"200\">"
                         "<outline text=\"News\" type=\"rss\" uniqueID=\"90\"><outline text=\"A\" type=\"rss\" "
                         "uniqueID=\"100\" xmlUrl=\"" + server.Url(heldPath) + "\"/></outline></body></opml>\n");
  ASSERT_TRUE(Dlg().LoadChannelList(kList));
  ASSERT_FALSE(Wnd().IsRunActive());
  qk::shell::SetFileDialogHook([&](const qk::shell::FileDialogRequest&) -> std::optional<std::u16string> {
    SendMessageW(Wnd().GetSafeHwnd(), WM_CHANNELS_DOWNLOAD_START, 0, 0);
    EXPECT_TRUE(qk::PumpMessagesUntil([&] { return asked(heldPath); }, 30000)) << heldPath;
    return std::u16string(u"\\Exported.opml");
  });
  boxes.clear();
  SendMessageW(Wnd().GetSafeHwnd(), WM_COMMAND, ID_EXPORT, 0);
  qk::shell::SetFileDialogHook(nullptr);
  EXPECT_EQ(boxes, std::vector<std::string>{"Please wait until the channels have been refreshed."});
  EXPECT_FALSE(DeviceFileExists(u"\\Exported.opml"));
  ASSERT_EQ(qnet::RawHttpGet(server.port(), "/open/" + std::to_string(round) + "/100").rfind("HTTP/1.1 204", 0), 0u);
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return !Wnd().IsRunActive() && !Wnd().IsRefreshWorking(); }, 60000));

  // Change Category, with a refresh that starts while the editor shows:
  // the channel stays in its category.
  heldPath = "/held/" + std::to_string(++round) + "/100";
  WriteDeviceFile(kList, "<?xml version=\"1.0\"?>\n<opml version=\"1.0\"><head/><body nextID=\"200\">"
                         "<outline text=\"News\" type=\"rss\" uniqueID=\"90\"><outline text=\"A\" type=\"rss\" "
                         "uniqueID=\"100\" xmlUrl=\"" + server.Url(heldPath) + "\"/></outline>"
                         "<outline text=\"Tech\" type=\"rss\" uniqueID=\"91\"/></body></opml>\n");
  ASSERT_TRUE(Dlg().LoadChannelList(kList));
  ASSERT_FALSE(Wnd().IsRunActive());
  SendMessageW(Wnd().GetSafeHwnd(), WM_KEYDOWN, VK_DOWN, 0);
  ASSERT_EQ(Dlg().m_pChannelList->GetFocusedItem(), 0);
  static std::function<void()> inEditor;
  inEditor = [&] {
    HWND editor = ::GetActiveWindow();
    SendMessageW(Wnd().GetSafeHwnd(), WM_CHANNELS_DOWNLOAD_START, 0, 0);
    EXPECT_TRUE(qk::PumpMessagesUntil([&] { return asked(heldPath); }, 30000)) << heldPath;
    // "Tech", below the channel's own "News", is chosen.
    ::SendMessageW(::GetFocus(), WM_KEYDOWN, VK_DOWN, 0);
    ::SendMessageW(editor, WM_COMMAND, IDOK, 0);
  };
  ::SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    inEditor();
  });
  boxes.clear();
  SendMessageW(Wnd().GetSafeHwnd(), WM_COMMAND, ID_CHANGE_CATEGORY, 0);
  EXPECT_EQ(boxes, std::vector<std::string>{"Please wait until the channels have been refreshed."});
  CChannelListItem row;
  ASSERT_TRUE(Dlg().m_pChannelList->GetItem(0, row));
  EXPECT_EQ(qk::ToUtf8(row.m_strCategory.str()), "News");
  ASSERT_EQ(qnet::RawHttpGet(server.port(), "/open/" + std::to_string(round) + "/100").rfind("HTTP/1.1 204", 0), 0u);
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return !Wnd().IsRunActive() && !Wnd().IsRefreshWorking(); }, 60000));
  qk::SetMessageBoxHook(nullptr);
}

}  // namespace
