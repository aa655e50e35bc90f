// The new-channel wizard run from the channel-list window's New command, on
// the touch screen (480 x 800 at 192 dpi) and on the key device (240 x 320
// at 96 dpi, with soft keys), with the controlled clock and synthetic taps
// and keys. The wizard is modal: each test's steps run inside its loop, one
// posted step at a time. The URL page is driven by the messages a page
// sends to the wizard.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/settings.h"
#include "display/display.h"
#include "gdi/image_codec.h"
#include "gdi/surface.h"
#include "kernel/resource.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/res/resources.h"
#include "quillet/frame/main_frame.h"
#include "quillet/new_channel/new_channel_dlg.h"
#include "quillet/new_channel/new_input_url_dlg.h"
#include "quillet/new_channel/new_wizard_dlg.h"
#include "quillet/new_channel/opml_display_dlg.h"
#include "quillet/frame/reader_app.h"
#include "quillet/new_channel/templates_display_dlg.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/ui/density.h"
#include "quillet/ui/touch_image.h"
#include "shell/aygshell.h"
#include "shell/filedlg.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "support/pictures.h"
#include "user/dialog.h"
#include "user/input.h"
#include "user/user.h"

namespace {

const char16_t* kList = u"\\Program Files\\Quillet\\ChannelData\\Channels.opml";
constexpr UINT WM_STEP = WM_APP + 21;

std::string Opml(const std::string& extra) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>t</title></head>"
         "<body nextID=\"200\"><outline text=\"News\" type=\"rss\" uniqueID=\"150\">"
         "<outline text=\"Alpha\" type=\"rss\" uniqueID=\"101\" xmlUrl=\"http://127.0.0.1/a\"/>" +
         extra + "</outline></body></opml>\n";
}

// The steps of a test, run one per posted message inside the wizard's loop.
struct Script {
  std::vector<std::function<void()>> steps;
  size_t next = 0;
};
Script* g_script = nullptr;

CNewWizardDlg* FindWizard() {
  for (HWND w = GetActiveWindow(); w; w = GetParent(w))
    if (auto* wizard = dynamic_cast<CNewWizardDlg*>(CWnd::FromHandlePermanent(w))) return wizard;
  return nullptr;
}

LRESULT DriverProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != WM_STEP || !g_script) return DefWindowProcW(hwnd, msg, wParam, lParam);
  Script* script = g_script;
  if (script->next < script->steps.size()) {
    script->steps[script->next++]();
    PostMessageW(hwnd, WM_STEP, 0, 0);
  } else if (CNewWizardDlg* wizard = FindWizard()) {
    ADD_FAILURE() << "the wizard outlived its script";
    ::EndDialog(wizard->GetSafeHwnd(), IDCANCEL);
  }
  return 0;
}

class WizardTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ResetCachedPaths();
    RegisterQuilletResources();
    // The URL page's template, when its own resources do not give one: an
    // empty child dialog.
    if (!FindResourceW(nullptr, MAKEINTRESOURCEW(IDD_INPUT_URL), RT_DIALOG)) {
      static std::vector<DWORD> page = qk::DialogTemplateBuilder(WS_CHILD | DS_CONTROL, 0, 0, 0, 100, 100).Build();
      static qk::ResourceEntry entry = {nullptr, 5, IDD_INPUT_URL, nullptr, page.data(), page.size() * sizeof(DWORD)};
      qk::RegisterResources(nullptr, &entry, 1);
    }
    // The Cancel button's images, when the program's own are not there.
    for (WORD id : {WORD(IDR_PNG_CANCEL), WORD(IDR_PNG_CANCEL_192)}) {
      if (FindResourceW(nullptr, MAKEINTRESOURCEW(id), u"PNG")) continue;
      static std::vector<uint8_t> png;
      if (png.empty()) qk::gdi::EncodePng(16, 16, std::vector<uint32_t>(256, 0xC03030), &png);
      static qk::ResourceEntry entries[2];
      entries[id == IDR_PNG_CANCEL ? 0 : 1] = {u"PNG", 0, id, nullptr, png.data(), png.size()};
      qk::RegisterResources(nullptr, &entries[id == IDR_PNG_CANCEL ? 0 : 1], 1);
    }
    InitImagingFactory();
    app_ = std::make_unique<CReaderApp>();
    WriteDeviceFile(kList, Opml(""));
    driver_ = qtest::CreateHostWindow(u"WizardTestDriver", DriverProc, 10, 10);
    qk::FreezeClock(1796726400000LL, 100000);
  }
  void TearDown() override {
    frame_.reset();
    app_.reset();
    DestroyWindow(driver_);
    g_script = nullptr;
    qk::shell::SetFileDialogHook(nullptr);
    qk::shell::ResetShell();
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    qk::display::ConnectScreen();
    ResetScreenDpi();
    SetTouchFlag(TRUE);
    ReleaseImagingFactory();
    qk::UseRealClock();
    DeviceTest::TearDown();
  }
  // The touch screen or the key device, and the main window on it with the
  // channel list loaded.
  void UseFace(BOOL touch) {
    qk::gdi::SetScreenConfig(touch ? qk::gdi::DefaultScreenConfig() : qk::gdi::KeyDeviceScreenConfig());
    qk::display::ConnectScreen();
    ResetScreenDpi();
    SetTouchFlag(touch);
    InitScreenDpi(0);
    frame_ = std::make_unique<CMainFrame>();
    auto cfg = qk::gdi::GetScreenConfig();
    ASSERT_TRUE(frame_->Create(cfg.width, cfg.height));
    ASSERT_TRUE(Dlg().LoadChannelList(kList));
  }
  CChannelListDlg& Dlg() { return frame_->ChannelListWnd().Dialog(); }
  int Rows() { return Dlg().m_pChannelList->GetItemCount(); }

  // Runs New from the channel-list window with the steps inside the wizard.
  void RunWizard(std::vector<std::function<void()>> steps) {
    Script script{std::move(steps), 0};
    g_script = &script;
    PostMessageW(driver_, WM_STEP, 0, 0);
    frame_->ChannelListWnd().SendMessage(WM_COMMAND, ID_NEW_CHANNEL, 0);
    g_script = nullptr;
    EXPECT_EQ(script.next, script.steps.size()) << "every step ran inside the wizard";
    EXPECT_EQ(FindWizard(), nullptr);
  }
  // Moves the clock on, handling what falls due (the pages' 5 ms timers).
  static void Settle(int ms = 30) {
    for (int t = 0; t < ms; t += 5) {
      qk::AdvanceClock(5);
      qk::PumpMessages();
    }
  }
  static CNewWizardDlg& W() {
    CNewWizardDlg* wizard = FindWizard();
    if (!wizard) throw std::runtime_error("no wizard");
    return *wizard;
  }
  static CNewChannelDlg* Choice() { return W().GetChoicePage(); }
  static UINT SelectedRow() {
    CTouchListItem* item = Choice() ? Choice()->GetList()->GetSelected() : nullptr;
    return item ? item->m_nCommandId : 0;
  }
  // Taps the choice row with the id (posted: the next step sees its
  // effects, also when it opens a modal dialog).
  static void TapRow(UINT id) {
    CNewChannelDlg* page = Choice();
    ASSERT_NE(page, nullptr);
    CTouchMenuList* list = page->GetList();
    for (int i = 0; i < list->GetItemCount(); ++i) {
      if (list->GetItem(i)->m_nCommandId != id) continue;
      POINT p{100, page->GetListTop() + i * list->GetRowPitch() + list->GetRowPitch() / 2};
      ClientToScreen(page->GetSafeHwnd(), &p);
      qk::InjectPointer(WM_LBUTTONDOWN, p.x, p.y);
      qk::InjectPointer(WM_LBUTTONUP, p.x, p.y);
      return;
    }
    ADD_FAILURE() << "no row " << id;
  }
  static void Key(BYTE vk) {
    keybd_event(vk, 0, 0, 0);
    keybd_event(vk, 0, KEYEVENTF_KEYUP, 0);
  }
  static void Picture(const std::string& name) {
    qk::PumpMessages();
    ASSERT_TRUE(qk::display::WriteScreenPng(qtest::PicturesDir() + "/" + name));
  }

  std::unique_ptr<CReaderApp> app_;
  std::unique_ptr<CMainFrame> frame_;
  HWND driver_ = nullptr;
};

TEST_F(WizardTest, TouchFaceOpensOnTheChoicesAndTheUrlRowLeadsToTheUrlPageAndBack) {
  UseFace(TRUE);
  CNewChannelDlg* first = nullptr;
  RunWizard({
      [&] {
        CNewWizardDlg& w = W();
        EXPECT_EQ(w.GetChannelList(), Dlg().m_pOpml);
        WCHAR title[32] = {};
        GetWindowTextW(w.GetSafeHwnd(), title, 32);
        EXPECT_EQ(CString(title), CString(u"Quillet Reach"));
        // From below the task bar to the screen's bottom; the page covers
        // the client area; no soft keys, a button bar on the page.
        RECT r{}, page{};
        GetWindowRect(w.GetSafeHwnd(), &r);
        EXPECT_EQ(r.top, 52);
        EXPECT_EQ(r.bottom, 800);
        first = Choice();
        ASSERT_NE(first, nullptr);
        GetWindowRect(first->GetSafeHwnd(), &page);
        EXPECT_TRUE(EqualRect(&r, &page));
        HWND bar = SHFindMenuBar(w.GetSafeHwnd());
        EXPECT_TRUE(!bar || !IsWindowVisible(bar));
        ASSERT_NE(first->GetButtonBar(), nullptr);
        EXPECT_EQ(first->GetChoice(), CHOICE_NONE);
        std::vector<UINT> ids;
        for (int i = 0; i < first->GetList()->GetItemCount(); ++i) ids.push_back(first->GetList()->GetItem(i)->m_nCommandId);
        EXPECT_EQ(ids, (std::vector<UINT>{7, 3, 4, 8, 10, 5, 6}));
        EXPECT_EQ(SelectedRow(), 0u) << "no row is chosen for the finger";
        EXPECT_EQ(first->GetListTop(), 104);
        EXPECT_EQ(first->GetListHeight(), 800 - 80 - 52 - 104);
        for (int id : {1003, 1004, 1050}) EXPECT_FALSE(IsWindowVisible(GetDlgItem(first->GetSafeHwnd(), id))) << id;
        Picture("wizard-choice-480x800.png");
        // Every row's text ends inside the window: the one too long for its
        // row is cut with an ellipsis, the others stand whole.
        const std::vector<CString> whole = {u"Configure Google Reader syncing", u"Browse Quillet channels catalog",
                                            u"Add specific RSS URL", u"Import OPML file",
                                            u"Search online for channels", u"Choose from installed templates",
                                            u"Download Quillet online channels"};
        ASSERT_EQ(first->GetList()->GetItemCount(), 7);
        const CString cut = first->GetList()->GetItem(0)->m_strText;
        EXPECT_EQ(cut.Left(23), CString(u"Configure Google Reader")) << CStringA(cut).str();
        EXPECT_EQ(cut.Right(3), CString(u"...")) << CStringA(cut).str();
        for (int i = 1; i < 7; ++i)
          EXPECT_EQ(first->GetList()->GetItem(i)->m_strText, whole[static_cast<size_t>(i)]) << i;
        UpdateWindow(first->GetSafeHwnd());
        HDC screen = GetDC(nullptr);
        int atEdge = 0;
        for (int y = r.top + first->GetListTop(); y < r.top + first->GetListTop() + 7 * 82; ++y)
          for (int x = 476; x < 480; ++x) {
            COLORREF c = GetPixel(screen, x, y);
            atEdge += GetRValue(c) > 200 && GetGValue(c) > 200 && GetBValue(c) > 200;
          }
        ReleaseDC(nullptr, screen);
        EXPECT_EQ(atEdge, 0) << "a row's text reaches the window's right edge";
      },
      // Until a row is tapped the choice page is the only page.
      [&] {
        EXPECT_TRUE(first->GetOpmlPath().IsEmpty());
        EXPECT_EQ(W().GetUrlPage(), nullptr);
        EXPECT_EQ(W().GetOpmlPage(), nullptr);
        EXPECT_EQ(W().GetTemplatesPage(), nullptr);
        EXPECT_TRUE(IsWindowVisible(first->GetSafeHwnd()));
        TapRow(CHOICE_ROW_URL);
      },
      [&] {
        // The choice page's own timer made the wizard swap: the page left
        // at once and was released once its handler had returned.
        Settle();
        EXPECT_EQ(Choice(), nullptr);
        EXPECT_EQ(W().GetLeavingPageCount(), 0u);
        CNewInputUrlDlg* url = W().GetUrlPage();
        ASSERT_NE(url, nullptr);
        EXPECT_EQ(url->GetMode(), 1);
        EXPECT_EQ(GetParent(url->GetSafeHwnd()), W().GetSafeHwnd());
        // A back message for a page that is not there does nothing.
        W().SendMessage(WM_WIZARD_OPML_BACK, 0, 0);
        W().SendMessage(WM_WIZARD_TEMPLATES_BACK, 0, 0);
        EXPECT_EQ(W().GetUrlPage(), url);
        // The URL page's back soft key (32905) goes back.
        W().SendMessage(WM_COMMAND, ID_WIZARD_BACK, 0);
        EXPECT_EQ(W().GetUrlPage(), nullptr);
        ASSERT_NE(Choice(), nullptr);
        EXPECT_EQ(SelectedRow(), static_cast<UINT>(CHOICE_ROW_URL));
        EXPECT_EQ(Choice()->GetChoice(), CHOICE_NONE);
      },
      // Cancel on the page's button bar ends the wizard.
      [&] {
        Settle();
        EXPECT_EQ(W().GetLeavingPageCount(), 0u);
        CNewChannelDlg* page = Choice();
        RECT r{};
        GetWindowRect(page->GetSafeHwnd(), &r);
        const RECT bar = page->GetButtonBar()->GetBarRect();
        POINT cancel{bar.left + (bar.right - bar.left) * 9 / 10, (bar.top + bar.bottom) / 2};
        ClientToScreen(page->GetSafeHwnd(), &cancel);
        qk::InjectPointer(WM_LBUTTONDOWN, cancel.x, cancel.y);
        qk::InjectPointer(WM_LBUTTONUP, cancel.x, cancel.y);
      },
      [&] { Settle(); },
  });
}

TEST_F(WizardTest, KeyFaceWalksByKeysPicksAnOpmlFileAndCancelLeavesTheListAlone) {
  UseFace(FALSE);
  WriteDeviceFile(u"\\My Documents\\feeds.opml", "<opml/>");
  std::vector<qk::shell::FileDialogRequest> asked;
  std::optional<std::u16string> answer = u"\\My Documents\\feeds.opml";
  qk::shell::SetFileDialogHook([&](const qk::shell::FileDialogRequest& request) {
    asked.push_back(request);
    return answer;
  });
  auto softKey = [](UINT command) {
    WCHAR text[32] = {};
    TBBUTTONINFOW info{};
    info.cbSize = sizeof info;
    info.dwMask = TBIF_TEXT | TBIF_STATE;
    info.pszText = text;
    info.cchText = 32;
    HWND bar = SHFindMenuBar(W().GetSafeHwnd());
    if (!bar) return std::u16string(u"(no bar)");
    SendMessageW(bar, TB_GETBUTTONINFO, command, reinterpret_cast<LPARAM>(&info));
    return std::u16string(text) + ((info.fsState & TBSTATE_HIDDEN) ? u" (hidden)" : u"");
  };
  HWND choiceBar = nullptr;
  RunWizard({
      [&] {
        WCHAR title[32] = {};
        GetWindowTextW(W().GetSafeHwnd(), title, 32);
        EXPECT_EQ(CString(title), CString(u"Quillet"));
        // Between the task bar and the soft keys; OK hidden, Cancel shown.
        RECT r{};
        GetWindowRect(W().GetSafeHwnd(), &r);
        EXPECT_EQ(r.top, 26);
        EXPECT_EQ(r.bottom, 320 - 26);
        EXPECT_EQ(softKey(IDOK), u"OK (hidden)");
        EXPECT_EQ(softKey(IDCANCEL), u"Cancel");
        choiceBar = SHFindMenuBar(W().GetSafeHwnd());
        ASSERT_NE(Choice(), nullptr);
        EXPECT_EQ(Choice()->GetButtonBar(), nullptr);
        EXPECT_EQ(Choice()->GetListTop(), 29);
        EXPECT_EQ(Choice()->GetListHeight(), 320 - 52 - 29);
        EXPECT_EQ(SelectedRow(), 7u) << "the first row is selected on a key device";
        Picture("wizard-choice-240x320.png");
        Key(VK_DOWN);
        Key(VK_DOWN);
        Key(VK_RETURN);
      },
      [&] {
        Settle();
        ASSERT_NE(W().GetUrlPage(), nullptr);
        EXPECT_EQ(W().GetUrlPage()->GetMode(), 1);
        EXPECT_EQ(W().GetLeavingPageCount(), 0u);
        // The choice page's soft keys went with it (the page makes its own).
        EXPECT_FALSE(IsWindow(choiceBar));
        HWND urlBar = SHFindMenuBar(W().GetSafeHwnd());
        W().SendMessage(WM_WIZARD_INPUT_BACK, 0, 0);
        EXPECT_TRUE(!urlBar || !IsWindow(urlBar));
        ASSERT_NE(Choice(), nullptr);
        EXPECT_EQ(SelectedRow(), static_cast<UINT>(CHOICE_ROW_URL));
        EXPECT_EQ(softKey(IDCANCEL), u"Cancel");
        // With the focus on the wizard itself, it hands the keys to its
        // page.
        SetFocus(W().GetSafeHwnd());
        Key(VK_DOWN);
        Key(VK_RETURN);
      },
      [&] {
        Settle();
        // The file was asked for as the shell does on key devices, and the
        // import page opened for it on its first screen; its Cancel goes
        // back to the choice page with the import row selected.
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0].title, u"Import OPML file");
        EXPECT_EQ(asked[0].folder, u"\\");
        ASSERT_EQ(asked[0].filters.size(), 1u);
        EXPECT_EQ(asked[0].filters[0].second, u"*.opml;*.xml;");
        EXPECT_EQ(Choice(), nullptr);
        auto* opml = dynamic_cast<COpmlDisplayDlg*>(W().GetOpmlPage());
        ASSERT_NE(opml, nullptr);
        EXPECT_EQ(opml->GetPath(), CString(u"\\My Documents\\feeds.opml"));
        EXPECT_TRUE(opml->IsOnFirstScreen());
        EXPECT_EQ(softKey(IDOK), u"Add Selected");
        EXPECT_TRUE(qk::shell::PressSoftKey(2));
      },
      [&] {
        Settle();
        EXPECT_EQ(W().GetOpmlPage(), nullptr);
        ASSERT_NE(Choice(), nullptr);
        EXPECT_EQ(SelectedRow(), static_cast<UINT>(CHOICE_ROW_OPML_FILE));
        EXPECT_EQ(GetFocus(), Choice()->GetSafeHwnd());
        // A cancelled pick keeps the page, with the path emptied.
        answer.reset();
        Key(VK_RETURN);
      },
      [&] {
        Settle();
        EXPECT_EQ(asked.size(), 2u);
        ASSERT_NE(Choice(), nullptr);
        EXPECT_EQ(Choice()->GetChoice(), CHOICE_OPML);
        EXPECT_TRUE(Choice()->GetOpmlPath().IsEmpty());
        EXPECT_EQ(SelectedRow(), static_cast<UINT>(CHOICE_ROW_OPML_FILE));
        // The list changes on disk while the wizard shows; Cancel must not
        // reload it.
        WriteDeviceFile(kList, Opml("<outline text=\"Beta\" type=\"rss\" uniqueID=\"102\" xmlUrl=\"http://127.0.0.1/b\"/>"));
        EXPECT_TRUE(qk::shell::PressSoftKey(2));
      },
      [&] { Settle(); },
  });
  Settle();
  EXPECT_EQ(Rows(), 1);
}

// A page that sends its back message from its own handler: the wizard
// retires it, but its window and object stay until the handler returned.
WNDPROC g_pageProc = nullptr;
constexpr UINT WM_PAGE_BACK = WM_APP + 22;
bool g_pageAliveAfterBack = false;
LRESULT BackingPageProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_PAGE_BACK) {
    auto* page = dynamic_cast<CNewInputUrlDlg*>(CWnd::FromHandlePermanent(hwnd));
    SendMessageW(GetParent(hwnd), WM_WIZARD_INPUT_BACK, 0, 0);
    // Still this page, still a window (hidden), still its mode.
    g_pageAliveAfterBack = page && IsWindow(hwnd) && !IsWindowVisible(hwnd) &&
                           CWnd::FromHandlePermanent(hwnd) == page && page->GetMode() == 1;
    return 0;
  }
  return CallWindowProcW(g_pageProc, hwnd, msg, wParam, lParam);
}

TEST_F(WizardTest, PagesLeaveSafelyAndAddedChannelsMakeTheCallerReload) {
  UseFace(TRUE);
  HWND leaving = nullptr;
  RunWizard({
      [&] { TapRow(CHOICE_ROW_URL); },
      [&] {
        Settle();
        ASSERT_NE(W().GetUrlPage(), nullptr);
        leaving = W().GetUrlPage()->GetSafeHwnd();
        g_pageProc = reinterpret_cast<WNDPROC>(
            SetWindowLongW(leaving, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&BackingPageProc)));
        SendMessageW(leaving, WM_PAGE_BACK, 0, 0);
        EXPECT_TRUE(g_pageAliveAfterBack);
        EXPECT_EQ(W().GetLeavingPageCount(), 1u);
        EXPECT_EQ(SelectedRow(), static_cast<UINT>(CHOICE_ROW_URL));
        TapRow(CHOICE_ROW_URL);
      },
      [&] {
        Settle();
        EXPECT_FALSE(IsWindow(leaving)) << "released by the wizard's queue";
        EXPECT_EQ(W().GetLeavingPageCount(), 0u);
        ASSERT_NE(W().GetUrlPage(), nullptr);
        // The page added a channel, then closes the wizard.
        WriteDeviceFile(kList, Opml("<outline text=\"Beta\" type=\"rss\" uniqueID=\"102\" xmlUrl=\"http://127.0.0.1/b\"/>"));
        HWND wizard = W().GetSafeHwnd();
        EXPECT_EQ(SendMessageW(wizard, WM_WIZARD_CHANNELS_ADDED, 0, 0), 1);
        SendMessageW(wizard, WM_CLOSE, 0, 0);
      },
  });
  EXPECT_EQ(Rows(), 1) << "not before the reload timer";
  Settle();
  EXPECT_EQ(Rows(), 2);
}

TEST_F(WizardTest, TouchOpmlPickUsesTheFileChooser) {
  UseFace(TRUE);
  WriteDeviceFile(u"\\feeds.opml", "<opml/>");
  HWND chooser = nullptr;
  auto tapFile = [&](const char16_t* name) {
    HWND list = GetDlgItem(chooser, 104);
    int n = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
      WCHAR text[MAX_PATH] = {};
      LVITEMW item{};
      item.pszText = text;
      item.cchTextMax = MAX_PATH;
      SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
      if (CString(text) != CString(name)) continue;
      RECT r = {LVIR_BOUNDS, 0, 0, 0};
      SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&r));
      POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
      ClientToScreen(list, &p);
      qk::InjectPointer(WM_LBUTTONDOWN, p.x, p.y);
      qk::InjectPointer(WM_LBUTTONUP, p.x, p.y);
      return;
    }
    ADD_FAILURE() << "no file row";
  };
  CNewChannelDlg* page = nullptr;
  RunWizard({
      [&] {
        page = Choice();
        TapRow(CHOICE_ROW_OPML_FILE);
      },
      // Inside the chooser's own loop.
      [&] {
        chooser = GetActiveWindow();
        WCHAR title[64] = {};
        GetWindowTextW(chooser, title, 64);
        EXPECT_EQ(CString(title), CString(u"Import OPML file"));
        qk::shell::PressSoftKey(2);
      },
      [&] {
        Settle();
        EXPECT_EQ(Choice(), page);
        EXPECT_EQ(page->GetChoice(), CHOICE_OPML);
        EXPECT_TRUE(page->GetOpmlPath().IsEmpty());
        TapRow(CHOICE_ROW_OPML_FILE);
      },
      [&] {
        chooser = GetActiveWindow();
        tapFile(u"feeds.opml");
      },
      [&] { qk::shell::PressSoftKey(1); },
      [&] {
        Settle();
        // The import page opened for the file.
        EXPECT_EQ(Choice(), nullptr);
        auto* opml = dynamic_cast<COpmlDisplayDlg*>(W().GetOpmlPage());
        ASSERT_NE(opml, nullptr);
        EXPECT_EQ(opml->GetPath(), CString(u"\\feeds.opml"));
        // OK in the touch edition ends the wizard after the pages saw it.
        W().SendMessage(WM_COMMAND, IDOK, 0);
      },
  });
}

// A template channel whose feed came into the channel list while the
// templates page was open (the refresh's sync merge adds channels during a
// run) is left as it is when the page adds what was ticked: no second copy
// and no script of its own; the page names it, and adds the rest.
TEST_F(WizardTest, TheTemplatesPageLeavesAFeedSubscribedMeanwhileAsItIs) {
  WriteDeviceFile(u"\\Program Files\\Quillet\\Templates\\news.xml",
                  "<?xml version=\"1.0\"?>\n<template name=\"News\">"
                  "<channel><name>World</name><url>http://127.0.0.1/world.xml</url></channel>"
                  "<channel><name>Local</name><url>http://127.0.0.1/local.xml</url></channel>"
                  "<parse_article>script</parse_article></template>\n");
  UseFace(TRUE);
  std::vector<std::string> boxes;
  qk::SetMessageBoxHook([&](HWND, const std::u16string& text, const std::u16string& caption, UINT type) {
    boxes.push_back(qk::ToUtf8(caption) + "|" + qk::ToUtf8(text) + "|" + std::to_string(type & 0xF0));
    return IDOK;
  });
  CTemplatesDisplayDlg* page = nullptr;
  RunWizard({
      [&] { TapRow(CHOICE_ROW_TEMPLATES); },
      [&] {
        Settle(200);
        page = dynamic_cast<CTemplatesDisplayDlg*>(W().GetTemplatesPage());
        ASSERT_NE(page, nullptr);
        ASSERT_EQ(page->GetList()->GetItemCount(), 1);  // the group
        CTemplatesDisplayDlg::OnListClick(page->GetSafeHwnd(), 0, TEMPLATES_ROW_FIRST, nullptr);
      },
      [&] {
        Settle();
        ASSERT_EQ(page->GetList()->GetItemCount(), 3);  // back, World, Local
        CTemplatesDisplayDlg::OnListClick(page->GetSafeHwnd(), 0, TEMPLATES_ROW_FIRST + 1, nullptr);
        CTemplatesDisplayDlg::OnListClick(page->GetSafeHwnd(), 0, TEMPLATES_ROW_FIRST + 2, nullptr);
        EXPECT_NE(Dlg().m_pOpml->AddChannel(u"Google Reader", u"World", u"http://127.0.0.1/world.xml"), 0);
        page->OnOK();
      },
  });
  qk::SetMessageBoxHook(nullptr);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "New Channel Wizard|This channel is already subscribed and was not added again:\nNews - World|64");
  const std::string list = ReadDeviceFile(kList);
  size_t copies = 0;
  for (size_t at = list.find("world.xml"); at != std::string::npos; at = list.find("world.xml", at + 1)) ++copies;
  EXPECT_EQ(copies, 1u) << list;
  EXPECT_EQ(list.find("News - World"), std::string::npos) << list;
  EXPECT_NE(list.find("News - Local"), std::string::npos) << list;
  // The channel numbers: World (added meanwhile) 200, Local 201; only Local
  // has the template's script.
  EXPECT_FALSE(DeviceFileExists(u"\\Program Files\\Quillet\\ChannelData\\Ch200.tpl"));
  EXPECT_EQ(ReadDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Ch201.tpl"), "script");
}

}  // namespace
