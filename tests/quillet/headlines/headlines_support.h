// The headline list tests' device: the program's application object and
// main frame with the channel list loaded from a real "Channels.opml", item
// stores written by the feed parser from RSS text as a refresh writes them,
// scripted message-box answers, and a script of steps that runs inside the
// screens' modal loops (each step when the loop has nothing else to do),
// with the clock frozen and moved on by the steps.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <thread>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/settings.h"
#include "display/display.h"
#include "gdi/surface.h"
#include "kernel/kernel.h"
#include "quillet/feeds/item_store.h"
#include "quillet/feeds/rss_xml.h"
#include "quillet/refresh/download_manager.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/res/resources.h"
#include "quillet/screens/main_frame.h"
#include "quillet/screens/news_list_dlg.h"
#include "quillet/screens/reader_app.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/ui/density.h"
#include "quillet/ui/touch_image.h"
#include "quillet/ui/touch_list.h"
#include "shell/aygshell.h"
#include "support/device_fixture.h"
#include "ui/toolkit_support.h"
#include "user/idle.h"
#include "user/input.h"
#include "user/user.h"

namespace htest {

struct Item {
  std::string title, link, date;  // date as RFC 822 ("Tue, 08 Dec 2026 10:00:00 GMT")
  std::string body = "<p>Body</p>";
};

// An RSS 2.0 feed of the items.
inline std::string Rss(const std::vector<Item>& items) {
  std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel>"
                  "<title>Harbour News</title><link>http://127.0.0.1/</link><description>d</description>";
  for (const Item& i : items) {
    x += "<item><title>" + i.title + "</title><link>" + i.link + "</link><pubDate>" + i.date +
         "</pubDate><description><![CDATA[" + i.body + "]]></description></item>";
  }
  return x + "</channel></rss>\n";
}

inline CString W(const std::string& s) { return CString(qk::FromUtf8(s).c_str()); }
inline std::string U(const CString& s) { return qk::ToUtf8(s.str()); }

// Steps run inside modal loops: one step each time the loop waits.
// One step; a wait may still be queued when the screen ends.
struct Step {
  template <class F>
  Step(F f, bool w = false) : run(std::move(f)), wait(w) {}
  std::function<void()> run;
  bool wait;
};

struct Script {
  std::deque<Step> steps;
  int overrun = 0;
};
inline Script*& CurrentScript() {
  static Script* script = nullptr;
  return script;
}

// A step that waits (a bounded time) until pred holds: for broadcasts, which
// come through the device's message bus.
inline void WaitStep(const std::function<bool()>& pred, std::chrono::steady_clock::time_point deadline) {
  if (pred()) return;
  if (std::chrono::steady_clock::now() > deadline) {
    ADD_FAILURE() << "waited in vain";
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  CurrentScript()->steps.push_front(Step([pred, deadline] { WaitStep(pred, deadline); }, true));
}
inline Step Until(std::function<bool()> pred) {
  return Step([pred] { WaitStep(pred, std::chrono::steady_clock::now() + std::chrono::seconds(10)); }, true);
}
inline DWORD RunScriptStep() {
  Script* script = CurrentScript();
  if (!script) return INFINITE;
  if (!script->steps.empty()) {
    Step step = std::move(script->steps.front());
    script->steps.pop_front();
    step.run();
    return 0;
  }
  // The script is done but a screen still waits: it is closed, so that a
  // failing test ends.
  if (++script->overrun == 1) {
    WCHAR cls[64] = {0};
    GetClassNameW(GetActiveWindow(), cls, 64);
    ADD_FAILURE() << "a screen was still open when its script ended: " << qk::ToUtf8(std::u16string(cls));
  }
  if (HWND active = GetActiveWindow()) PostMessageW(active, WM_CLOSE, 0, 0);
  return script->overrun > 50 ? INFINITE : 0;
}

// The screen's images that the program's resources do not hold (yet) are
// stood in for by plain discs, so that the buttons that carry them work.
inline void EnsureScreenImages() {
  const std::pair<WORD, int> images[] = {{IDR_PNG_BAR_BACK, 32},          {IDR_PNG_BAR_BACK_192, 64},
                                         {IDR_PNG_NEWS_TITLE_ICON, 32},   {IDR_PNG_NEWS_TITLE_ICON_192, 64},
                                         {IDR_PNG_CANCEL, 32},            {IDR_PNG_CANCEL_192, 64},
                                         {IDR_PNG_MARK_READ, 32},         {IDR_PNG_MARK_READ_192, 64},
                                         {IDR_PNG_MARK_UNREAD, 32},       {IDR_PNG_MARK_UNREAD_192, 64},
                                         {IDR_PNG_DELETE_ARTICLE, 32},    {IDR_PNG_DELETE_ARTICLE_192, 64},
                                         {IDR_PNG_BAR_EMAIL, 32},         {IDR_PNG_BAR_EMAIL_192, 64}};
  for (auto [id, size] : images) {
    if (FindResourceW(nullptr, MAKEINTRESOURCEW(id), u"PNG") || FindResourceW(nullptr, MAKEINTRESOURCEW(id), u"TARGA"))
      continue;
    uitest::RegisterTargaResource(id, uitest::MakeTga(size, size, [size](int x, int y) -> uint32_t {
      int dx = 2 * x - size + 1, dy = 2 * y - size + 1;
      return dx * dx + dy * dy <= size * size * 3 / 4 ? 0xFFD8E4F0u : 0;
    }));
  }
}

class HeadlinesTest : public qtest::DeviceTest {
 protected:
  static constexpr const char16_t* kList = u"\\Program Files\\Quillet\\ChannelData\\Channels.opml";
  static constexpr const char* kUrl = "http://127.0.0.1/harbour";

  void SetUp() override {
    DeviceTest::SetUp();
    // Every test's device registers the program's messages in one order, so
    // that each gets the number it had in the tests before (windows of the
    // program keep the numbers they looked up first).
    for (const char16_t* name : {MSG_DOWNLOAD_START, MSG_DOWNLOAD_REFRESH, MSG_DOWNLOAD_HEADLINES_FINISHED,
                                 MSG_DOWNLOAD_FINISHED, MSG_DOWNLOAD_ITEM_FULLTEXT, u"Quillet.Uninstall"})
      RegisterWindowMessageW(name);
    ResetCachedPaths();
    SetDownloadStop(FALSE);
    RegisterQuilletResources();
    EnsureScreenImages();
    qk::FreezeClock(1796726400000LL, 1000);  // 2026-12-08 11:20 UTC
    SetItemNameCounter(0);
    qk::SetMessageBoxHook([this](HWND, const std::u16string& text, const std::u16string& caption, UINT) {
      questions_.push_back(qk::ToUtf8(caption + u": " + text));
      if (answers_.empty()) return IDNO;
      int answer = answers_.front();
      answers_.pop_front();
      return answer;
    });
    qk::shell::SetGestureWaitHook([] { qk::AdvanceClock(50); });
    InitImagingFactory();
    app_ = std::make_unique<CReaderApp>();
  }
  void TearDown() override {
    CurrentScript() = nullptr;
    qk::SetIdleHook(nullptr);
    frame_.reset();
    app_.reset();
    qk::SetMessageBoxHook(nullptr);
    qk::shell::SetGestureWaitHook(nullptr);
    qk::shell::SetSoftKeyPopupHandler(nullptr);
    qk::shell::ResetShell();
    ReleaseImagingFactory();
    UseScreen(qk::gdi::DefaultScreenConfig(), TRUE);
    qk::UseRealClock();
    DeviceTest::TearDown();
  }

  static void UseScreen(const qk::gdi::ScreenConfig& cfg, BOOL touch) {
    qk::gdi::SetScreenConfig(cfg);
    qk::SetScreenSize(cfg.width, cfg.height);
    ResetScreenDpi();
    SetTouchFlag(touch);
  }

  static CString DataPath(const std::string& name) {
    return CString(u"\\Program Files\\Quillet\\ChannelData\\") + W(name);
  }
  static std::string Name(int channel, const char* suffix) {
    char name[64];
    snprintf(name, sizeof name, "Ch%03d%s", channel, suffix);
    return name;
  }
  // Parses the feed into the channel's store as a refresh does.
  void StoreFeed(int channel, const std::vector<Item>& items) {
    CString feed = DataPath(Name(channel, "~.xml"));
    WriteDeviceFile(feed, Rss(items));
    CRssXML document(nullptr, nullptr, nullptr, 1);
    ASSERT_TRUE(document.LoadEx(feed.GetString(), 0, 1));
    ASSERT_TRUE(document.SaveItems());
  }
  // The error item a failed download leaves.
  void StoreError(int channel) {
    CRssXML document(nullptr, nullptr, nullptr, 1);
    document.SetPath(DataPath(Name(channel, ".xml")), 0);
    ASSERT_TRUE(document.AddErrorItem(u"Connection refused"));
  }
  std::vector<CItemRecord> Records(int channel) {
    CItemStore store(0);
    store.Open(DataPath(Name(channel, ".bin")), 0, 1);
    std::vector<CItemRecord> out;
    while (store.MoveNext()) out.push_back(store.Current());
    return out;
  }
  CItemRecord Record(int channel, const std::string& link) {
    for (const CItemRecord& r : Records(channel))
      if (U(r.link) == link) return r;
    return CItemRecord();
  }
  // The channel list: channel 100 (Harbour News) and channel 1000 (whose
  // files share the first characters with channel 100's).
  void WriteList(const std::string& counts = "itemCount=\"9\" newItemCount=\"9\"") {
    WriteDeviceFile(kList, std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\">"
                                       "<head><title>t</title></head><body nextID=\"1001\">"
                                       "<outline text=\"News\" type=\"rss\" uniqueID=\"99\">"
                                       "<outline text=\"Harbour News\" type=\"rss\" uniqueID=\"100\" xmlUrl=\"") +
                               kUrl + "\" " + counts +
                               "/><outline text=\"Zeta\" type=\"rss\" uniqueID=\"1000\" "
                               "xmlUrl=\"http://127.0.0.1/zeta\" itemCount=\"1\" newItemCount=\"1\"/>"
                               "</outline></body></opml>\n");
  }
  // A channel attribute as saved in "Channels.opml".
  std::string Saved(const std::string& url, const std::string& name) {
    std::string list = ReadDeviceFile(kList);
    size_t at = list.find("xmlUrl=\"" + url + "\"");
    if (at == std::string::npos) return "(no channel)";
    size_t start = list.rfind("<outline", at), end = list.find("/>", at);
    std::string outline = list.substr(start, end - start);
    size_t a = outline.find(" " + name + "=\"");
    if (a == std::string::npos) return "(none)";
    a += name.size() + 3;
    return outline.substr(a, outline.find('"', a) - a);
  }

  void MakeFrame(const qk::gdi::ScreenConfig& cfg, BOOL touch) {
    frame_.reset();
    UseScreen(cfg, touch);
    // Windows draw on the device screen (the pictures are taken from it).
    qk::display::ConnectScreen();
    qk::SetIdleHook(nullptr);
    frame_ = std::make_unique<CMainFrame>();
    ASSERT_TRUE(frame_->Create(cfg.width, cfg.height));
    ASSERT_TRUE(Channels().LoadChannelList(kList));
    qk::PumpMessages();
  }
  CChannelListDlg& Channels() { return frame_->ChannelListWnd().Dialog(); }
  int ChannelRow(int channel) { return Channels().m_pChannelList->FindItemById(channel); }
  CChannelListItem ChannelItem(int channel) {
    CChannelListItem item;
    Channels().m_pChannelList->GetItem(ChannelRow(channel), item);
    return item;
  }

  // Taps the channel's row in the channel list, as the user opens it, and
  // runs the steps inside the headline list (the first step finds after
  // the screen loaded its rows). Returns when the screen has ended.
  void OpenChannel(int channel, std::vector<Step> steps) {
    Script script;
    script.steps.push_back(Step([this] {
      screen_ = dynamic_cast<CNewsListDlg*>(CWnd::FromHandlePermanent(GetActiveWindow()));
      ASSERT_NE(screen_, nullptr);
      qk::AdvanceClock(10);  // the load's timer
    }));
    for (auto& s : steps) script.steps.push_back(std::move(s));
    CChannelListView* view = Channels().m_pChannelList;
    const int row = ChannelRow(channel);
    ASSERT_GE(row, 0);
    CChannelListItem item;
    ASSERT_TRUE(view->GetItem(row, item));
    RECT dialog{};
    GetWindowRect(Channels().GetSafeHwnd(), &dialog);
    const int x = dialog.left + 60, y = dialog.top + Channels().GetHeaderHeight() + item.m_nTop + 10;
    CurrentScript() = &script;
    qk::SetIdleHook(RunScriptStep);
    qk::InjectPointer(WM_LBUTTONDOWN, x, y);
    qk::InjectPointer(WM_LBUTTONUP, x, y);
    qk::PumpMessages();
    qk::SetIdleHook(nullptr);
    CurrentScript() = nullptr;
    for (const Step& left : script.steps)
      EXPECT_TRUE(left.wait) << "the headline list did not open or ended early; steps left: " << script.steps.size();
    EXPECT_EQ(script.overrun, 0);
    screen_ = nullptr;
  }

  // Inside a script: rows of the screen and input on them.
  CNewsListView& List() { return *screen_->GetList(); }
  std::vector<std::string> Rows() {
    std::vector<std::string> out;
    for (int i = 0; i < List().GetItemCount(); ++i) {
      CNewsListItem row;
      List().GetItem(i, row);
      out.push_back(U(row.m_strTitle) + (row.m_bRead ? " (read)" : ""));
    }
    return out;
  }
  int RowOf(const std::string& link) {
    for (int i = 0; i < List().GetItemCount(); ++i) {
      CNewsListItem row;
      if (List().GetItem(i, row) && U(row.m_strLink) == link) return i;
    }
    return -1;
  }
  POINT RowPoint(int row) {
    RECT window{};
    GetWindowRect(screen_->GetSafeHwnd(), &window);
    return POINT{window.left + 200, window.top + screen_->GetTitleBandHeight() + row * List().GetRowPitch() +
                                        List().GetRowPitch() / 2};
  }
  void TapRow(int row) {
    POINT p = RowPoint(row);
    qk::InjectPointer(WM_LBUTTONDOWN, p.x, p.y);
    qk::InjectPointer(WM_LBUTTONUP, p.x, p.y);
  }
  // Holds the stylus on a row: the item menu opens (its rows: 0 Cancel,
  // 1 Mark as Read, 2 Mark as Unread, 3 Delete, 4 E-mail).
  void HoldRow(int row) {
    POINT p = RowPoint(row);
    qk::InjectPointer(WM_LBUTTONDOWN, p.x, p.y);
  }
  // Inside the item menu: taps its row.
  static void ChooseMenuRow(int index) {
    auto cfg = qk::gdi::GetScreenConfig();
    RECT r = CTouchPopupList::PopupRect(cfg.width, cfg.height);
    const int pitch = ScaleY(43);
    qk::InjectPointer(WM_LBUTTONDOWN, r.left + 60, r.top + index * pitch + pitch / 2);
    qk::InjectPointer(WM_LBUTTONUP, r.left + 60, r.top + index * pitch + pitch / 2);
    // The press that opened the menu goes on to the list once the menu has
    // closed: its hold timer runs out before the next step.
    if (Script* script = CurrentScript()) script->steps.push_front(Step([] { qk::AdvanceClock(200); }));
  }
  static void Key(BYTE vk) {
    keybd_event(vk, 0, 0, 0);
    keybd_event(vk, 0, KEYEVENTF_KEYUP, 0);
  }
  // A reading view left open (the stub ends at once) is closed.
  void LeaveReadingView() {
    HWND active = GetActiveWindow();
    if (active && screen_ && active != screen_->GetSafeHwnd()) PostMessageW(active, WM_CLOSE, 0, 0);
  }
  int Unread() {
    int channel = 0, items = 0, unread = 0;
    screen_->GetCounts(channel, items, unread);
    return unread;
  }
  int Items() {
    int channel = 0, items = 0, unread = 0;
    screen_->GetCounts(channel, items, unread);
    return items;
  }

  std::unique_ptr<CReaderApp> app_;
  std::unique_ptr<CMainFrame> frame_;
  CNewsListDlg* screen_ = nullptr;
  std::deque<int> answers_;
  std::vector<std::string> questions_;
};

}  // namespace htest
