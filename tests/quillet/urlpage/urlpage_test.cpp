// The URL page of the new-channel wizard (typed feed URL), its one-field
// editor and its download box, driven by taps, keys and soft keys through
// the window layer. The page lives in a plain window standing in for the
// wizard, which records the wizard's messages; feeds come from nginx on
// loopback, a server that never finishes its answer from the scripted
// server, and a refused connection from a closed port.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/settings.h"
#include "common/url_download.h"
#include "display/display.h"
#include "framework/wnd.h"
#include "gdi/image_codec.h"
#include "gdi/surface.h"
#include "kernel/resource.h"
#include "net/connmgr.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/res/resources.h"
#include "quillet/screens/editor_dlg.h"
#include "quillet/screens/new_input_url_dlg.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/ui/density.h"
#include "quillet/ui/touch_image.h"
#include "shell/aygshell.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "support/http_server.h"
#include "support/pictures.h"
#include "user/input.h"
#include "user/user.h"

namespace {

const char16_t* kList = u"\\Program Files\\Quillet\\ChannelData\\Channels.opml";
const char16_t* kValidate = u"\\Program Files\\Quillet\\ChannelData\\Validate~.xml";
constexpr UINT WM_STEP = WM_APP + 77;

// What the stand-in wizard received, and the steps run inside modal loops.
std::vector<UINT> g_messages;
std::deque<std::function<bool()>> g_steps;
HWND g_page = nullptr;

LRESULT HostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_WIZARD_INPUT_BACK:
    case WM_WIZARD_CHANNELS_ADDED:
    case WM_CLOSE:
      g_messages.push_back(msg);
      return 1;
    case WM_COMMAND:
      // The wizard hands its soft key 1 (IDOK) to the page; its back
      // command is recorded.
      if (LOWORD(wParam) == IDOK && g_page) return SendMessageW(g_page, WM_COMMAND, IDOK, 0);
      g_messages.push_back(LOWORD(wParam));
      return 0;
    case WM_TIMER: {
      if (wParam != WM_STEP) break;
      // A step that is not ready yet comes again with the timer's next
      // turn in whatever loop runs (bounded by time).
      static auto start = std::chrono::steady_clock::now();
      static bool running = false;  // a step that pumps does not run itself again
      if (g_steps.empty() || running) return 0;
      running = true;
      const bool done = g_steps.front()();
      running = false;
      if (done) {
        g_steps.pop_front();
        start = std::chrono::steady_clock::now();
      } else if (std::chrono::steady_clock::now() - start > std::chrono::seconds(20)) {
        ADD_FAILURE() << "a scripted step never became ready";
        g_steps.clear();
      }
      if (g_steps.empty()) KillTimer(hwnd, WM_STEP);
      return 0;
    }
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

std::string Text(HWND window) {
  WCHAR text[512] = {0};
  GetWindowTextW(window, text, 512);
  return qk::ToUtf8(text);
}

void TapScreen(int x, int y) {
  qk::InjectPointer(WM_LBUTTONDOWN, x, y);
  qk::InjectPointer(WM_LBUTTONUP, x, y);
}

void TapWindow(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  TapScreen((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

// Characters typed into the window with the focus.
void Type(const std::u16string& text) {
  for (char16_t c : text) PostMessageW(GetFocus(), WM_CHAR, c, 1);
}

void Key(BYTE vk) {
  keybd_event(vk, 0, 0, 0);
  keybd_event(vk, 0, KEYEVENTF_KEYUP, 0);
}

std::string SoftKeyText(HWND bar, UINT command) {
  WCHAR buffer[64] = {0};
  TBBUTTONINFOW info{};
  info.cbSize = sizeof info;
  info.dwMask = TBIF_TEXT;
  info.pszText = buffer;
  info.cchText = 64;
  if (SendMessageW(bar, TB_GETBUTTONINFO, command, reinterpret_cast<LPARAM>(&info)) < 0) return "<none>";
  return qk::ToUtf8(buffer);
}

// Channels of a list file read back from disk: "category|title|url".
std::vector<std::string> ChannelsOnDisk(const char16_t* path) {
  struct Walk {
    std::vector<std::string> rows;
    std::string category, text, url;
  } walk;
  COpmlXML opml(
      [](void* context, LPCWSTR parent, LPCWSTR name, LPCWSTR value) {
        auto* w = static_cast<Walk*>(context);
        std::u16string n = name;
        if (n == u"text") w->text = qk::ToUtf8(value), w->category = qk::ToUtf8(parent);
        else if (n == u"xmlUrl") w->url = qk::ToUtf8(value);
        else if (n.empty()) {
          if (!w->url.empty()) w->rows.push_back(w->category + "|" + w->text + "|" + w->url);
          w->url.clear();
        }
      },
      &walk, 0);
  opml.LoadAndWalk(path);
  return walk.rows;
}

class UrlPageTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ResetCachedPaths();
    RegisterQuilletResources();
    SHInitExtraControls();
    qk::connmgr::UseHostNetwork();
    InitImagingFactory();
    // The bar's buttons are drawn only with their pictures: stand-ins where
    // the program has none yet.
    for (WORD id : {IDR_PNG_OK, IDR_PNG_OK_192, IDR_PNG_CANCEL, IDR_PNG_CANCEL_192}) {
      if (FindResourceW(nullptr, MAKEINTRESOURCEW(id), u"PNG")) continue;
      static std::vector<std::vector<uint8_t>> pngs;
      static std::vector<qk::ResourceEntry> entries;
      pngs.emplace_back();
      qk::gdi::EncodePng(32, 32, std::vector<uint32_t>(32 * 32, 0xFF40A040u), &pngs.back());
      qk::ResourceEntry entry{u"PNG", 0, id, nullptr, pngs.back().data(), pngs.back().size()};
      qk::RegisterResources(nullptr, &entry, 1);
    }
    ClearUrlDownloadAbort();
    g_messages.clear();
    g_steps.clear();
    boxes_.clear();
    // The channel folder, as the program's start leaves it.
    CreateDirectoryW(u"\\Program Files\\Quillet\\ChannelData", nullptr);
    qk::SetMessageBoxHook([this](HWND, const std::u16string& text, const std::u16string& caption, UINT type) {
      boxes_.push_back(qk::ToUtf8(caption) + "|" + qk::ToUtf8(text) + "|" + std::to_string(type & 0xF0));
      return IDOK;
    });
    // The wizard's soft keys (its own resource; made here when absent).
    if (!FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_WIZARD_MENU), RT_RCDATA)) {
      static std::vector<BYTE> bar;
      qk::shell::MenuBarButton ok, cancel;
      ok.command = IDOK;
      cancel.command = IDCANCEL;
      bar = qk::shell::BuildMenuBarResource(0, {ok, cancel});
      static qk::ResourceEntry entry[] = {{nullptr, 10, IDR_WIZARD_MENU, nullptr, bar.data(), bar.size()}};
      qk::RegisterResources(nullptr, entry, 1);
    }
  }
  void TearDown() override {
    page_.reset();
    g_page = nullptr;
    if (host_) {
      hostWnd_.Detach();
      DestroyWindow(host_);
    }
    opml_.reset();
    qk::PumpMessages();
    qk::SetMessageBoxHook(nullptr);
    qk::shell::ResetShell();
    SetTouchFlag(TRUE);
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    ResetScreenDpi();
    ClearUrlDownloadAbort();
    ReleaseImagingFactory();
    DeviceTest::TearDown();
  }

  // Opens the page in mode 1 on a stand-in wizard below the task bar (and,
  // on key devices, above the soft keys).
  void Open(BOOL touch) {
    qk::gdi::SetScreenConfig(touch ? qk::gdi::DefaultScreenConfig() : qk::gdi::KeyDeviceScreenConfig());
    ResetScreenDpi();
    qk::display::ConnectScreen();
    SetTouchFlag(touch);
    InitScreenDpi(0);
    opml_ = std::make_unique<COpmlXML>(nullptr, nullptr, 1);
    opml_->SetPath(kList, 1);
    if (!opml_->Load(kList)) opml_->CreateEmpty();
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN), bar = ScaleY(26);
    host_ = qtest::CreateHostWindow(u"UrlPageWizard", HostProc, w, h - bar - (touch ? 0 : bar));
    MoveWindow(host_, 0, bar, w, h - bar - (touch ? 0 : bar), FALSE);
    ShowWindow(host_, SW_SHOW);
    hostWnd_.Attach(host_);
    page_ = std::make_unique<CNewInputUrlDlg>(opml_.get(), 1, &hostWnd_);
    ASSERT_TRUE(page_->Create(IDD_INPUT_URL, &hostWnd_));
    g_page = page_->GetSafeHwnd();
    RECT client{};
    GetClientRect(host_, &client);
    page_->MoveWindow(0, 0, client.right, client.bottom, TRUE);
    page_->ShowWindow(SW_SHOW);
    page_->SetFocus();
    qk::PumpMessages();
  }

  std::vector<std::string> Rows() {
    std::vector<std::string> rows;
    CTouchMenuList* list = page_->GetRowList();
    for (int i = 0; list && i < list->GetItemCount(); ++i) rows.push_back(qk::ToUtf8(list->GetItem(i)->m_strText.str()));
    return rows;
  }
  // Taps the row with that id; its action runs when its timer is due.
  void TapRow(UINT id) {
    CTouchMenuList* list = page_->GetRowList();
    ASSERT_NE(list, nullptr);
    for (int i = 0; i < list->GetItemCount(); ++i) {
      CTouchListItem* item = list->GetItem(i);
      if (item->m_nCommandId != id) continue;
      POINT p{60, list->Scroller().GetRect().top + list->Scroller().GetOffset() + (item->m_nTop + item->m_nBottom) / 2};
      ClientToScreen(page_->GetSafeHwnd(), &p);
      TapScreen(p.x, p.y);
      return;
    }
    FAIL() << "no row " << id;
  }
  // Runs steps inside the modal loops that follow, pumping until all ran.
  void Run(std::vector<std::function<bool()>> steps) {
    for (auto& s : steps) g_steps.push_back(std::move(s));
    SetTimer(host_, WM_STEP, 2, nullptr);
    EXPECT_TRUE(qk::PumpMessagesUntil([] { return g_steps.empty(); }, 30000));
    qk::PumpMessages();
  }
  // The editor for a row: the text it opened with goes to opened; the
  // whole text is replaced by text and saved (or cancelled).
  void EditRow(UINT id, const std::u16string& text, bool save, std::string* opened = nullptr) {
    TapRow(id);
    Run({[=, this] {
           HWND editor = GetActiveWindow();
           if (!editor || editor == host_ || !GetDlgItem(editor, 1054)) return false;
           if (opened) *opened = Text(GetDlgItem(editor, 1054));
           SendDlgItemMessageW(editor, 1054, EM_SETSEL, 0, -1);
           Type(text);
           return true;
         },
         [=] {
           qk::shell::PressSoftKey(save ? 2 : 1);
           return true;
         }});
  }
  // The download box of a failed title fetch: waits for its button to read
  // "OK" (after the status shows the error), then taps it; returns the
  // status.
  std::function<bool()> OnFailedBox(std::string* status) {
    return [=] {
      HWND box = GetActiveWindow();
      if (!box || !GetDlgItem(box, 1051) || Text(GetDlgItem(box, IDCANCEL)) != "OK") return false;
      *status = Text(GetDlgItem(box, 1051));
      qk::PumpMessages();
      qk::display::WriteScreenPng(qtest::PicturesDir() + "/urlpage-download-error-480x800.png");
      TapWindow(GetDlgItem(box, IDCANCEL));
      return true;
    };
  }
  void Picture(const std::string& name) {
    page_->Invalidate();
    qk::PumpMessages();
    ASSERT_TRUE(qk::display::WriteScreenPng(qtest::PicturesDir() + "/" + name));
  }
  bool Pump(const std::function<bool()>& done) { return qk::PumpMessagesUntil(done, 20000); }

  HWND host_ = nullptr;
  CWnd hostWnd_;
  std::unique_ptr<COpmlXML> opml_;
  std::unique_ptr<CNewInputUrlDlg> page_;
  std::vector<std::string> boxes_;
};

const char kFeed[] =
    "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>  Loopback News \n</title>"
    "<link>http://127.0.0.1/</link><item><title>One</title><link>http://127.0.0.1/1</link></item>"
    "</channel></rss>\n";

}  // namespace

TEST_F(UrlPageTest, TouchFieldsAreEditedInTheEditorFromHttp) {
  Open(TRUE);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"[ Tap for editing url... ]", "[ Tap for editing title... ]"}));
  EXPECT_NE(page_->GetButtonBar(), nullptr);
  EXPECT_FALSE(page_->GetInlineEdit().IsWindowVisible());
  Picture("urlpage-empty-480x800.png");

  // The empty URL is edited from "http://"; Save keeps the trimmed text.
  std::string opened;
  EditRow(INPUT_ROW_FIRST, u"  http://127.0.0.1/feed.xml \t", true, &opened);
  EXPECT_EQ(opened, "http://");
  EXPECT_EQ(page_->GetFirstField(), CString(u"http://127.0.0.1/feed.xml"));
  EXPECT_EQ(Rows(), (std::vector<std::string>{"http://127.0.0.1/feed.xml", "[ Tap for editing title... ]",
                                               "Download Channel Title"}));
  // Cancel keeps the old value.
  EditRow(INPUT_ROW_FIRST, u"http://elsewhere/", false, &opened);
  EXPECT_EQ(opened, "http://127.0.0.1/feed.xml");
  EXPECT_EQ(page_->GetFirstField(), CString(u"http://127.0.0.1/feed.xml"));
  // With both fields the "Save" row appears.
  EditRow(INPUT_ROW_SECOND, u"My title ", true, &opened);
  EXPECT_EQ(opened, "");
  EXPECT_EQ(Rows().size(), 4u);
  EXPECT_EQ(Rows()[3], "Save");
  EXPECT_TRUE(g_messages.empty());
  // The bar's Cancel goes back to the choice page.
  RECT bar = page_->GetButtonBar()->GetBarRect(), cancel = page_->GetButtonBar()->GetButton(4).hitRect;
  POINT p{bar.left + (cancel.left + cancel.right) / 2, bar.top + (cancel.top + cancel.bottom) / 2};
  ClientToScreen(page_->GetSafeHwnd(), &p);
  TapScreen(p.x, p.y);
  qk::PumpMessages();
  EXPECT_EQ(g_messages, std::vector<UINT>{WM_WIZARD_INPUT_BACK});
}

TEST_F(UrlPageTest, TheEditorIgnoresEnterMasksPasswordsAndCancels) {
  SetTouchFlag(TRUE);
  host_ = qtest::CreateHostWindow(u"UrlPageWizard", HostProc, 100, 100);
  hostWnd_.Attach(host_);
  for (BOOL password : {TRUE, FALSE}) {
    CEditorDlg editor(password, u"secret", nullptr);
    std::string shown, keys;
    bool sipPref = false;
    WPARAM mask = 0;
    g_steps.push_back([&] {
      HWND dlg = GetActiveWindow();
      if (!dlg || !GetDlgItem(dlg, 1055)) return false;
      HWND edit = GetDlgItem(dlg, password ? 1055 : 1054);
      EXPECT_TRUE(IsWindowVisible(edit));
      EXPECT_FALSE(IsWindowVisible(GetDlgItem(dlg, password ? 1054 : 1055)));
      EXPECT_EQ(GetFocus(), edit);
      mask = SendMessageW(edit, EM_GETPASSWORDCHAR, 0, 0);
      sipPref = false;
      for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        WCHAR name[32] = {0};
        GetClassNameW(c, name, 32);
        sipPref = sipPref || std::u16string(name) == WC_SIPPREF;
      }
      HWND bar = SHFindMenuBar(dlg);
      keys = SoftKeyText(bar, ID_EDITOR_BACK) + "/" + SoftKeyText(bar, ID_EDITOR_FINISH);
      shown = Text(dlg);
      Type(u"x");
      Key(VK_RETURN);  // neither a line nor the end
      return true;
    });
    g_steps.push_back([&] {
      qk::shell::PressSoftKey(1);
      return true;
    });
    SetTimer(host_, WM_STEP, 2, nullptr);
    EXPECT_EQ(editor.DoModal(), IDCANCEL);
    EXPECT_EQ(qk::ToUtf8(editor.GetText().str()), "secretx") << password;  // the editor's own copy; callers drop it
    EXPECT_EQ(mask, password ? WPARAM(u'*') : WPARAM(0));
    EXPECT_EQ(sipPref, !password);
    EXPECT_EQ(keys, "Cancel/Save");
    EXPECT_EQ(shown, "Quillet Reach");
  }
}

TEST_F(UrlPageTest, TitleFetchAfterAnEarlierCancelThenSaveAddsTheChannel) {
  const std::string docroot = qnet::MakeTempFolder("urlpage");
  qtest::WriteHostFile(docroot + "/feed.xml", kFeed);
  qtest::NginxServer nginx;
  QNET_REQUIRE_PEER(nginx.Start(docroot), "nginx");
  qtest::ScriptedHttpServer slow;
  QNET_REQUIRE_PEER(slow.Start(), "python3");
  Open(TRUE);

  // Cancel while the server holds its answer: nothing changes, no file.
  EditRow(INPUT_ROW_FIRST, qk::FromUtf8(slow.Url("/silent")), true);
  TapRow(INPUT_ROW_THIRD);
  Run({[&] {
    HWND box = GetActiveWindow();
    if (!box || !GetDlgItem(box, 1051) || !slow.WaitForRequest("/silent", 0)) return false;
    TapWindow(GetDlgItem(box, IDCANCEL));
    return true;
  }});
  EXPECT_TRUE(page_->GetSecondField().IsEmpty());
  EXPECT_FALSE(DeviceFileExists(kValidate));
  EXPECT_TRUE(IsUrlDownloadAborted());  // the cancel's stop is still raised

  // The next fetch clears it and reads the title.
  EditRow(INPUT_ROW_FIRST, qk::FromUtf8(nginx.Url("/feed.xml")), true);
  TapRow(INPUT_ROW_THIRD);
  EXPECT_TRUE(Pump([&] { return !page_->GetSecondField().IsEmpty(); }));
  EXPECT_EQ(page_->GetSecondField(), CString(u"Loopback News"));
  EXPECT_EQ(Rows().size(), 4u);
  EXPECT_FALSE(DeviceFileExists(kValidate));
  Picture("urlpage-fetched-480x800.png");

  TapRow(INPUT_ROW_SAVE);
  EXPECT_TRUE(Pump([] { return g_messages.size() >= 2; }));
  EXPECT_EQ(g_messages, (std::vector<UINT>{WM_WIZARD_CHANNELS_ADDED, WM_CLOSE}));
  EXPECT_EQ(ChannelsOnDisk(kList),
            std::vector<std::string>{"Others|Loopback News|" + nginx.Url("/feed.xml")});
  EXPECT_TRUE(boxes_.empty());
  qnet::RemoveTree(docroot);
}

TEST_F(UrlPageTest, FailedFetchesAndPagesThatAreNoFeedAddNothing) {
  const std::string docroot = qnet::MakeTempFolder("urlpage");
  qtest::WriteHostFile(docroot + "/page.html",
                       "<html><head><title>Not a feed</title></head><body><p>Hello</p></body></html>\n");
  qtest::NginxServer nginx;
  QNET_REQUIRE_PEER(nginx.Start(docroot), "nginx");
  const int closed = qnet::FreeLoopbackPort();
  Open(TRUE);
  EditRow(INPUT_ROW_SECOND, u"Kept title", true);

  struct Case {
    std::string url, error;
  } cases[] = {{nginx.Url("/missing.xml"), "404"},
               {"http://127.0.0.1:" + std::to_string(closed) + "/feed.xml", "connect"}};
  for (const Case& c : cases) {
    EditRow(INPUT_ROW_FIRST, qk::FromUtf8(c.url), true);
    TapRow(INPUT_ROW_THIRD);
    std::string status;
    Run({OnFailedBox(&status)});
    EXPECT_EQ(status.rfind("Error: ", 0), 0u) << status;
    EXPECT_NE(status.find(c.error), std::string::npos) << status;
    EXPECT_EQ(page_->GetSecondField(), CString(u"Kept title")) << c.url;
    EXPECT_FALSE(DeviceFileExists(kValidate));
  }
  // A page that is no feed gives an empty title; nothing is broken.
  EditRow(INPUT_ROW_FIRST, qk::FromUtf8(nginx.Url("/page.html")), true);
  TapRow(INPUT_ROW_THIRD);
  EXPECT_TRUE(Pump([&] { return page_->GetSecondField().IsEmpty(); }));
  EXPECT_EQ(Rows().size(), 3u);
  EXPECT_FALSE(DeviceFileExists(kValidate));
  EXPECT_TRUE(g_messages.empty());
  EXPECT_FALSE(DeviceFileExists(kList));
  qnet::RemoveTree(docroot);
}

TEST_F(UrlPageTest, RefusedInsertionsShowABoxAndKeepTheFields) {
  WriteDeviceFile(kList,
                  "<?xml version=\"1.0\"?><opml version=\"1.0\"><head/><body nextID=\"120\">"
                  "<outline text=\"Others\" type=\"rss\" uniqueID=\"110\">"
                  "<outline text=\"Taken\" type=\"rss\" uniqueID=\"111\" xmlUrl=\"http://127.0.0.1/t\"/>"
                  "</outline></body></opml>\n");
  Open(TRUE);
  EditRow(INPUT_ROW_FIRST, u"http://127.0.0.1/other", true);
  EditRow(INPUT_ROW_SECOND, u"taken", true);
  TapRow(INPUT_ROW_SAVE);
  EXPECT_TRUE(Pump([&] { return !boxes_.empty(); }));
  EXPECT_EQ(boxes_.back(), "Error|Insert Channel failed. Please check whether the channel exists or not.|16");
  // A URL that is no web address is refused before the list is asked.
  EditRow(INPUT_ROW_FIRST, u"http://", true);
  EditRow(INPUT_ROW_SECOND, u"Fresh", true);
  TapRow(INPUT_ROW_SAVE);
  EXPECT_TRUE(Pump([&] { return boxes_.size() == 2; }));
  EXPECT_EQ(boxes_.back(), "Error|The channel URL must begin with http:// or https://.|16");
  EXPECT_EQ(page_->GetFirstField(), CString(u"http://"));
  EXPECT_EQ(page_->GetSecondField(), CString(u"Fresh"));
  EXPECT_TRUE(g_messages.empty());
  EXPECT_EQ(ChannelsOnDisk(kList), std::vector<std::string>{"Others|Taken|http://127.0.0.1/t"});
}

TEST_F(UrlPageTest, KeyDeviceTypesInPlaceFetchesAndAddsWithTheSoftKey) {
  const std::string docroot = qnet::MakeTempFolder("urlpage");
  qtest::WriteHostFile(docroot + "/feed.xml", kFeed);
  qtest::NginxServer nginx;
  QNET_REQUIRE_PEER(nginx.Start(docroot), "nginx");
  const std::string url = nginx.Url("/feed.xml");
  Open(FALSE);
  EXPECT_EQ(page_->GetButtonBar(), nullptr);
  HWND bar = SHFindMenuBar(host_);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(SoftKeyText(bar, IDOK), "Add Channel");
  EXPECT_FALSE(SendMessageW(bar, TB_ISBUTTONENABLED, IDOK, 0));
  EXPECT_EQ(SoftKeyText(bar, ID_WIZARD_BACK), "Cancel");
  EXPECT_EQ(Rows(), (std::vector<std::string>{"[ url ]", "[ title ]"}));
  // The edit lies over the selected first row, starting from "http://", and
  // takes the focus after the start.
  CEdit& edit = page_->GetInlineEdit();
  EXPECT_TRUE(Pump([&] { return GetFocus() == edit.GetSafeHwnd(); }));
  EXPECT_EQ(Text(edit.GetSafeHwnd()), "http://");
  RECT r{};
  GetWindowRect(edit.GetSafeHwnd(), &r);
  POINT origin{0, 0};
  ClientToScreen(page_->GetSafeHwnd(), &origin);
  EXPECT_EQ(r.left - origin.x, 32);
  EXPECT_EQ(r.top - origin.y, 29 + 3);
  Picture("urlpage-empty-240x320.png");

  Type(qk::FromUtf8(url.substr(7) + "z"));
  qk::PumpMessages();
  Key(VK_ESCAPE);  // the Back key deletes one character
  qk::PumpMessages();
  EXPECT_EQ(Text(edit.GetSafeHwnd()), url);
  EXPECT_TRUE(g_messages.empty());
  Key(VK_DOWN);  // stores the URL and moves to the title
  qk::PumpMessages();
  EXPECT_EQ(page_->GetFirstField(), CString(qk::FromUtf8(url).c_str()));
  EXPECT_EQ(page_->GetRowList()->GetSelected()->m_nCommandId, static_cast<UINT>(INPUT_ROW_SECOND));
  EXPECT_EQ(Text(edit.GetSafeHwnd()), "");
  Key(VK_DOWN);  // "Download Channel Title": no edit on an action row
  qk::PumpMessages();
  EXPECT_FALSE(edit.IsWindowVisible());
  Key(VK_RETURN);
  EXPECT_TRUE(Pump([&] { return !page_->GetSecondField().IsEmpty(); }));
  qk::PumpMessages();
  // The title is fetched and the edit opens on it; with both fields the
  // soft key adds, and no "Save" row is shown.
  EXPECT_EQ(page_->GetSecondField(), CString(u"Loopback News"));
  EXPECT_EQ(page_->GetRowList()->GetSelected()->m_nCommandId, static_cast<UINT>(INPUT_ROW_SECOND));
  EXPECT_EQ(Text(edit.GetSafeHwnd()), "Loopback News");
  EXPECT_EQ(Rows(), (std::vector<std::string>{url, "Loopback News", "Download Channel Title"}));
  EXPECT_TRUE(SendMessageW(bar, TB_ISBUTTONENABLED, IDOK, 0));
  EXPECT_FALSE(DeviceFileExists(kValidate));
  Picture("urlpage-fetched-240x320.png");

  Type(u" 2 ");  // typed text still in the edit is stored by the soft key
  ASSERT_TRUE(qk::shell::PressSoftKey(1));
  EXPECT_TRUE(Pump([] { return g_messages.size() >= 2; }));
  EXPECT_EQ(g_messages, (std::vector<UINT>{WM_WIZARD_CHANNELS_ADDED, WM_CLOSE}));
  EXPECT_EQ(ChannelsOnDisk(kList), std::vector<std::string>{"Others|Loopback News 2|" + url});
  // Soft key 2 is the wizard's back command.
  g_messages.clear();
  ASSERT_TRUE(qk::shell::PressSoftKey(2));
  qk::PumpMessages();
  EXPECT_EQ(g_messages, std::vector<UINT>{ID_WIZARD_BACK});
  qnet::RemoveTree(docroot);
}
