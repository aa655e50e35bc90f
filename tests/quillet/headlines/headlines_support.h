// The headline list tests' device: the program's application object and
// main frame over a real "Channels.opml", item stores the feed parser wrote
// from RSS text as a refresh does, scripted message-box answers, and a
// script of steps run inside the screens' modal loops (a step each time the
// loop waits), with the clock frozen and moved on by the steps.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/settings.h"
#include "display/display.h"
#include "gdi/surface.h"
#include "net/connmgr.h"
#include "quillet/feeds/item_store.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/feeds/rss_xml.h"
#include "quillet/refresh/download_manager.h"
#include "quillet/res/resources.h"
#include "quillet/frame/main_frame.h"
#include "quillet/headlines/news_list_dlg.h"
#include "quillet/frame/reader_app.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/ui/touch_list.h"
#include "shell/aygshell.h"
#include "support/device_fixture.h"
#include "ui/toolkit_support.h"
#include "user/idle.h"

namespace htest {

struct Item {
  std::string title, link, date;  // date as RFC 822
};

inline CString W(const std::string& s) { return CString(qk::FromUtf8(s).c_str()); }
inline std::string U(const CString& s) { return qk::ToUtf8(s.str()); }

// One step of a script; a wait may still be queued when the screen ends.
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
inline DWORD RunScriptStep() {
  Script* script = CurrentScript();
  if (!script) return INFINITE;
  if (!script->steps.empty()) {
    Step step = std::move(script->steps.front());
    script->steps.pop_front();
    step.run();
    return 0;
  }
  // A screen still waits after the last step: it is closed, so that the
  // test ends.
  if (++script->overrun == 1) ADD_FAILURE() << "a screen was still open when its script ended";
  if (HWND active = GetActiveWindow()) PostMessageW(active, WM_CLOSE, 0, 0);
  return script->overrun > 50 ? INFINITE : 0;
}
// Waits (at most 10 s) until pred holds: broadcasts come through the
// device's message bus.
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

class HeadlinesTest : public qtest::DeviceTest {
 protected:
  static constexpr const char16_t* kList = u"\\Program Files\\Quillet\\ChannelData\\Channels.opml";
  static constexpr const char* kUrl = "http://127.0.0.1/harbour";

  void SetUp() override {
    DeviceTest::SetUp();
    // Every test's device registers the messages in one order, so each gets
    // the number that windows of the program looked up in earlier tests.
    for (const char16_t* name : {MSG_DOWNLOAD_START, MSG_DOWNLOAD_REFRESH, MSG_DOWNLOAD_HEADLINES_FINISHED,
                                 MSG_DOWNLOAD_FINISHED, MSG_DOWNLOAD_ITEM_FULLTEXT, u"Quillet.Uninstall"})
      RegisterWindowMessageW(name);
    ResetCachedPaths();
    SetDownloadStop(FALSE);
    RegisterQuilletResources();
    // Images the resources do not hold (yet) are stood in for by discs, so
    // that the buttons that carry them work.
    for (WORD id : {IDR_PNG_BAR_BACK, IDR_PNG_BAR_BACK_192, IDR_PNG_NEWS_TITLE_ICON, IDR_PNG_NEWS_TITLE_ICON_192}) {
      if (FindResourceW(nullptr, MAKEINTRESOURCEW(id), u"PNG") || FindResourceW(nullptr, MAKEINTRESOURCEW(id), u"TARGA"))
        continue;
      const int n = id > 270 ? 64 : 32;
      uitest::RegisterTargaResource(id, uitest::MakeTga(n, n, [n](int x, int y) {
        return (2 * x - n) * (2 * x - n) + (2 * y - n) * (2 * y - n) < n * n * 3 / 4 ? 0xFFD8E4F0u : 0u;
      }));
    }
    qk::FreezeClock(1796726400000LL, 1000);  // 2026-12-08 11:20 UTC
    SetItemNameCounter(0);
    qk::SetMessageBoxHook([this](HWND, const std::u16string& text, const std::u16string& caption, UINT) {
      questions_.push_back(qk::ToUtf8(caption + u": " + text));
      int answer = answers_.empty() ? IDNO : answers_.front();
      if (!answers_.empty()) answers_.pop_front();
      return answer;
    });
    qk::shell::SetGestureWaitHook([] { qk::AdvanceClock(50); });
    InitImagingFactory();
    app_ = std::make_unique<CReaderApp>();
  }
  void TearDown() override {
    frame_.reset();
    app_.reset();
    qk::SetMessageBoxHook(nullptr);
    qk::shell::SetGestureWaitHook(nullptr);
    qk::shell::SetSoftKeyPopupHandler(nullptr);
    qk::connmgr::UseHostNetwork();
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
  // Parses the feed into channel 100's store as a refresh does.
  void StoreFeed(const std::vector<Item>& items) {
    std::string x = "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>Harbour News</title>";
    for (const Item& i : items)
      x += "<item><title>" + i.title + "</title><link>" + i.link + "</link><pubDate>" + i.date +
           "</pubDate><description>&lt;p&gt;Body&lt;/p&gt;</description></item>";
    WriteDeviceFile(DataPath("Ch100~.xml"), x + "</channel></rss>\n");
    CRssXML document(nullptr, nullptr, nullptr, 1);
    ASSERT_TRUE(document.LoadEx(DataPath("Ch100~.xml").GetString(), 0, 1));
    ASSERT_TRUE(document.SaveItems());
  }
  // The error item a failed download leaves.
  void StoreError() {
    CRssXML document(nullptr, nullptr, nullptr, 1);
    document.SetPath(DataPath("Ch100.xml"), 0);
    ASSERT_TRUE(document.AddErrorItem(u"Connection refused"));
  }
  CItemRecord Record(const std::string& link) {
    CItemStore store(0);
    store.Open(DataPath("Ch100.bin"), 0, 1);
    while (store.MoveNext())
      if (U(store.Current().link) == link) return store.Current();
    return CItemRecord();
  }
  bool IsRead(const std::string& link) { return Record(link).readFlag >= ITEM_READ_READ; }
  // Channel 100 (Harbour News) and channel 1000, whose file names begin
  // with channel 100's.
  void WriteList() {
    WriteDeviceFile(kList, std::string("<?xml version=\"1.0\"?>\n<opml version=\"1.0\"><head/><body nextID=\"1001\">"
                                       "<outline text=\"News\" type=\"rss\" uniqueID=\"99\">"
                                       "<outline text=\"Harbour News\" type=\"rss\" uniqueID=\"100\" xmlUrl=\"") +
                               kUrl + "\" itemCount=\"9\" newItemCount=\"9\"/><outline text=\"Zeta\" type=\"rss\" " +
                               "uniqueID=\"1000\" xmlUrl=\"http://127.0.0.1/zeta\"/></outline></body></opml>\n");
  }
  // A channel attribute as "Channels.opml" holds it on disk.
  std::string Saved(const char* name) {
    COpmlXML list(nullptr, nullptr, 0);
    CString value;
    if (!list.Load(kList) || !list.GetChannelAttribute(W(kUrl), W(name), value)) return "(no channel)";
    return U(value);
  }

  void MakeFrame(const qk::gdi::ScreenConfig& cfg, BOOL touch) {
    UseScreen(cfg, touch);
    qk::display::ConnectScreen();  // windows draw on the device screen
    qk::SetIdleHook(nullptr);
    frame_ = std::make_unique<CMainFrame>();
    ASSERT_TRUE(frame_->Create(cfg.width, cfg.height));
    ASSERT_TRUE(Channels().LoadChannelList(kList));
    qk::PumpMessages();
  }
  CChannelListDlg& Channels() { return frame_->ChannelListWnd().Dialog(); }
  CChannelListItem ChannelRow(int channel) {
    CChannelListItem item;
    Channels().m_pChannelList->GetItem(Channels().m_pChannelList->FindItemById(channel), item);
    return item;
  }

  // Taps channel 100's row as the user opens it and runs the steps inside
  // the headline list (after its rows loaded); returns when it has ended.
  void OpenChannel(std::vector<Step> steps) {
    Script script;
    script.steps.push_back(Step([this] {
      screen_ = dynamic_cast<CNewsListDlg*>(CWnd::FromHandlePermanent(GetActiveWindow()));
      ASSERT_NE(screen_, nullptr);
      qk::AdvanceClock(10);  // the load's timer
    }));
    for (auto& s : steps) script.steps.push_back(std::move(s));
    RECT dialog{};
    GetWindowRect(Channels().GetSafeHwnd(), &dialog);
    const int y = dialog.top + Channels().GetHeaderHeight() + ChannelRow(100).m_nTop + 10;
    CurrentScript() = &script;
    qk::SetIdleHook(RunScriptStep);
    qk::InjectPointer(WM_LBUTTONDOWN, 60, y);
    qk::InjectPointer(WM_LBUTTONUP, 60, y);
    qk::PumpMessages();
    qk::SetIdleHook(nullptr);
    CurrentScript() = nullptr;
    for (const Step& left : script.steps) EXPECT_TRUE(left.wait) << "the headline list did not open or ended early";
    EXPECT_EQ(script.overrun, 0);
    screen_ = nullptr;
  }

  // Inside a script: the rows and input on them.
  CNewsListView& List() { return *screen_->GetList(); }
  CNewsListItem Row(int i) {
    CNewsListItem row;
    List().GetItem(i, row);
    return row;
  }
  std::vector<std::string> Rows() {
    std::vector<std::string> out;
    for (int i = 0; i < List().GetItemCount(); ++i) out.push_back(U(Row(i).m_strTitle) + (Row(i).m_bRead ? "*" : ""));
    return out;
  }
  int RowOf(const std::string& link) {
    for (int i = 0; i < List().GetItemCount(); ++i)
      if (U(Row(i).m_strLink) == link) return i;
    return -1;
  }
  POINT RowPoint(int row) {
    const int pitch = List().GetRowPitch();
    return POINT{200, screen_->GetTitleBandHeight() + row * pitch + pitch / 2};
  }
  void TapRow(int row) {
    POINT p = RowPoint(row);
    qk::InjectPointer(WM_LBUTTONDOWN, p.x, p.y);
    qk::InjectPointer(WM_LBUTTONUP, p.x, p.y);
  }
  // Holds the stylus on a row: the item menu opens.
  void HoldRow(int row) {
    POINT p = RowPoint(row);
    qk::InjectPointer(WM_LBUTTONDOWN, p.x, p.y);
  }
  // Inside the item menu: taps its row (0 Cancel, 1 Mark as Read, 2 Mark as
  // Unread, 3 Delete, 4 E-mail).
  static void ChooseMenuRow(int index) {
    auto cfg = qk::gdi::GetScreenConfig();
    RECT r = CTouchPopupList::PopupRect(cfg.width, cfg.height);
    const int y = r.top + index * ScaleY(43) + ScaleY(20);
    qk::InjectPointer(WM_LBUTTONDOWN, r.left + 60, y);
    qk::InjectPointer(WM_LBUTTONUP, r.left + 60, y);
  }
  static void Key(BYTE vk) {
    keybd_event(vk, 0, 0, 0);
    keybd_event(vk, 0, KEYEVENTF_KEYUP, 0);
  }
  // A reading view left open (the view of this build ends at once) closes.
  void LeaveReadingView() {
    HWND active = GetActiveWindow();
    if (active && active != screen_->GetSafeHwnd()) PostMessageW(active, WM_CLOSE, 0, 0);
  }
  std::pair<int, int> Counts() {
    int channel = 0, items = 0, unread = 0;
    screen_->GetCounts(channel, items, unread);
    return {items, unread};
  }

  std::unique_ptr<CReaderApp> app_;
  std::unique_ptr<CMainFrame> frame_;
  CNewsListDlg* screen_ = nullptr;
  std::deque<int> answers_;
  std::vector<std::string> questions_;
};

}  // namespace htest
