// The shell's screen services driven as the screens use them: soft keys
// tapped with synthetic stylus input, their texts and states changed at run
// time, a soft key's popup, full screen and dialog set-up changing the
// visible desktop, the input panel resizing a dialog and following the
// focus through "SIPPREF", tap-and-hold on a controlled clock, and the
// image-file loader and file icons.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "controls/commctrl.h"
#include "display/display.h"
#include "gdi/image_codec.h"
#include "gdi/surface.h"
#include "kernel/resource.h"
#include "kernel/time.h"
#include "shell/aygshell.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "user/dialog.h"
#include "user/idle.h"
#include "user/input.h"

namespace {

// What the test windows saw.
struct Seen {
  std::vector<std::pair<WPARAM, LPARAM>> commands;
  std::vector<HMENU> popups;
  int settingChanges = 0;
  std::vector<WPARAM> keys;
  std::vector<DWORD> gestures;
  int contextMenus = 0;
  SHACTIVATEINFO sai{};
  DWORD gestureFlags = SHRG_RETURNCMD;
  std::vector<std::vector<POINT>> tapsInPopups;  // where to tap in each popup that opens
  std::vector<POINT> pendingTaps;
};
Seen& Saw() {
  static Seen seen;
  return seen;
}

constexpr UINT kTapNow = WM_APP + 7;

LRESULT OwnerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND:
      Saw().commands.push_back({wParam, lParam});
      return 0;
    case WM_INITMENUPOPUP:
      Saw().popups.push_back(reinterpret_cast<HMENU>(wParam));
      if (!Saw().tapsInPopups.empty()) {
        Saw().pendingTaps = Saw().tapsInPopups.front();
        Saw().tapsInPopups.erase(Saw().tapsInPopups.begin());
        PostMessageW(hwnd, kTapNow, 0, 0);
      }
      return 0;
    case kTapNow:
      // Runs inside the popup's loop, once the popup is on the screen.
      for (POINT pt : Saw().pendingTaps) {
        qk::InjectPointer(WM_LBUTTONDOWN, pt.x, pt.y);
        qk::InjectPointer(WM_LBUTTONUP, pt.x, pt.y);
      }
      Saw().pendingTaps.clear();
      return 0;
    case WM_SETTINGCHANGE:
      ++Saw().settingChanges;
      SHHandleWMSettingChange(hwnd, wParam, lParam, &Saw().sai);
      return 0;
    case WM_KEYDOWN:
      Saw().keys.push_back(wParam);
      return 0;
    case WM_LBUTTONDOWN: {
      SHRGINFO rg{sizeof(SHRGINFO), hwnd, {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))},
                  Saw().gestureFlags};
      Saw().gestures.push_back(SHRecognizeGesture(&rg));
      return 0;
    }
    case WM_CONTEXTMENU:
      ++Saw().contextMenus;
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

// Resources: menu 1038 with the popup of the "Menu" key; bar 347 with
// IDOK and IDCANCEL; bar 1038 with the "Menu" popup key and "Headlines".
std::vector<BYTE>& MenuTemplate() {
  static std::vector<BYTE> bytes = qk::shell::BuildMenuTemplate(
      {{u"Menu", 0, 0, {{u"Largest", 32854, MF_CHECKED, {}}, {u"", 0, 0, {}}, {u"Smallest", 32859, MF_GRAYED, {}},
                         {u"Delete", 32861, 0, {}}, {u"Font Size", 0, 0, {{u"Medium", 32856, 0, {}}}}}}});
  return bytes;
}
std::vector<BYTE>& OkCancelBar() {
  static std::vector<BYTE> bytes = qk::shell::BuildMenuBarResource(0, {{IDOK}, {IDCANCEL}});
  return bytes;
}
std::vector<BYTE>& ReadingBar() {
  static std::vector<BYTE> bytes = qk::shell::BuildMenuBarResource(
      1038, {{32814}, {32797, TBSTATE_ENABLED, TBSTYLE_DROPDOWN, 0, 0}});
  return bytes;
}

class ShellTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    qtest::DeviceTest::SetUp();
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());  // 480 x 800 at 192 dpi: d = 2
    qk::display::ConnectScreen();
    qk::shell::ResetShell();
    Saw() = Seen{};
    static const qk::ResourceEntry entries[] = {
        {nullptr, 4, 1038, nullptr, MenuTemplate().data(), MenuTemplate().size()},
        {nullptr, 10, 347, nullptr, OkCancelBar().data(), OkCancelBar().size()},
        {nullptr, 10, 1038, nullptr, ReadingBar().data(), ReadingBar().size()},
    };
    qk::RegisterResources(nullptr, entries, 3);
    // A screen sized as the shell sizes dialogs: between the two bars.
    owner_ = qtest::CreateHostWindow(u"ShellOwner", OwnerProc, 480, 696, u"Owner", WS_VISIBLE);
    ASSERT_NE(owner_, nullptr);
    MoveWindow(owner_, 0, 52, 480, 696, TRUE);
    SetActiveWindow(owner_);
  }
  void TearDown() override {
    qk::shell::SetGestureWaitHook(nullptr);
    if (IsWindow(owner_)) DestroyWindow(owner_);
    qk::shell::ResetShell();
    qk::PumpMessages();
    qk::ClearResources();
    qtest::DeviceTest::TearDown();
  }

  HWND MakeBar(UINT id, DWORD flags = 0) {
    SHMENUBARINFO mbi{};
    mbi.cbSize = sizeof mbi;
    mbi.hwndParent = owner_;
    mbi.dwFlags = flags;
    mbi.nToolBarId = id;
    EXPECT_TRUE(SHCreateMenuBar(&mbi));
    return mbi.hwndMB;
  }
  static void Tap(int x, int y) {
    qk::InjectPointer(WM_LBUTTONDOWN, x, y);
    qk::InjectPointer(WM_LBUTTONUP, x, y);
    qk::PumpMessages();
  }
  static bool SetText(HWND bar, int id, const char16_t* text) {
    std::u16string copy = text;
    TBBUTTONINFOW tbi{};
    tbi.cbSize = sizeof tbi;
    tbi.dwMask = TBIF_TEXT;
    tbi.pszText = copy.data();
    return SendMessageW(bar, TB_SETBUTTONINFO, id, reinterpret_cast<LPARAM>(&tbi)) != 0;
  }
  static bool SetState(HWND bar, int id, BYTE state) {
    TBBUTTONINFOW tbi{};
    tbi.cbSize = sizeof tbi;
    tbi.dwMask = TBIF_STATE;
    tbi.fsState = state;
    return SendMessageW(bar, TB_SETBUTTONINFO, id, reinterpret_cast<LPARAM>(&tbi)) != 0;
  }
  static bool Same(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
  }

  HWND owner_ = nullptr;
};

TEST_F(ShellTest, SoftKeysSendTheirCommandsAndFollowRunTimeTextsAndStates) {
  HWND bar = MakeBar(347);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(SHFindMenuBar(owner_), bar);
  EXPECT_EQ(SHFindMenuBar(bar), nullptr);
  RECT rc;
  GetWindowRect(bar, &rc);
  EXPECT_TRUE(Same(rc, {0, 748, 480, 800}));
  EXPECT_EQ(SendMessageW(bar, TB_BUTTONCOUNT, 0, 0), 2);

  EXPECT_TRUE(SetText(bar, IDOK, u"OK"));
  EXPECT_TRUE(SetText(bar, IDCANCEL, u"Cancel"));
  EXPECT_FALSE(SetText(bar, 4242, u"nobody"));
  WCHAR text[16] = {};
  TBBUTTONINFOW tbi{sizeof(TBBUTTONINFOW), TBIF_TEXT | TBIF_STATE, 0, 0, 0, 0, 0, 0, text, 16};
  EXPECT_EQ(SendMessageW(bar, TB_GETBUTTONINFO, IDCANCEL, reinterpret_cast<LPARAM>(&tbi)), 1);
  EXPECT_EQ(std::u16string(text), u"Cancel");
  EXPECT_EQ(tbi.fsState, TBSTATE_ENABLED);
  EXPECT_TRUE(DrawMenuBar(owner_));

  // Taps on the left and right keys send their commands, from the bar.
  Tap(60, 775);
  Tap(420, 775);
  ASSERT_EQ(Saw().commands.size(), 2u);
  EXPECT_EQ(Saw().commands[0].first, static_cast<WPARAM>(IDOK));
  EXPECT_EQ(Saw().commands[0].second, reinterpret_cast<LPARAM>(bar));
  EXPECT_EQ(Saw().commands[1].first, static_cast<WPARAM>(IDCANCEL));

  // A disabled key does nothing until enabled again (state 0, then TBSTATE_ENABLED).
  EXPECT_TRUE(SetState(bar, IDOK, 0));
  Tap(60, 775);
  EXPECT_EQ(Saw().commands.size(), 2u);
  EXPECT_FALSE(SendMessageW(bar, TB_ISBUTTONENABLED, IDOK, 0));
  EXPECT_TRUE(SetState(bar, IDOK, TBSTATE_ENABLED));
  Tap(60, 775);
  EXPECT_EQ(Saw().commands.size(), 3u);

  // A press on one key lifted over the other is no tap.
  qk::InjectPointer(WM_LBUTTONDOWN, 60, 775);
  qk::InjectPointer(WM_LBUTTONUP, 420, 775);
  qk::PumpMessages();
  EXPECT_EQ(Saw().commands.size(), 3u);

  // A hidden key cannot be tapped; the other keeps its place.
  EXPECT_TRUE(SendMessageW(bar, TB_HIDEBUTTON, IDOK, TRUE));
  Tap(60, 775);
  Tap(420, 775);
  ASSERT_EQ(Saw().commands.size(), 4u);
  EXPECT_EQ(Saw().commands[3].first, static_cast<WPARAM>(IDCANCEL));

  // The command of a key set by index; the phone's soft-key buttons.
  SendMessageW(bar, TB_HIDEBUTTON, IDOK, FALSE);
  TBBUTTONINFOW byIndex{};
  byIndex.cbSize = sizeof byIndex;
  byIndex.dwMask = TBIF_BYINDEX | TBIF_COMMAND;
  byIndex.idCommand = 32893;
  EXPECT_TRUE(SendMessageW(bar, TB_SETBUTTONINFO, 0, reinterpret_cast<LPARAM>(&byIndex)));
  EXPECT_TRUE(qk::shell::PressSoftKey(1));
  EXPECT_TRUE(qk::shell::PressSoftKey(2));
  qk::PumpMessages();
  ASSERT_EQ(Saw().commands.size(), 6u);
  EXPECT_EQ(LOWORD(Saw().commands[4].first), 32893);
  EXPECT_EQ(Saw().commands[5].first, static_cast<WPARAM>(IDCANCEL));

  // The bar goes with its owner.
  DestroyWindow(owner_);
  EXPECT_FALSE(IsWindow(bar));
  EXPECT_EQ(SHFindMenuBar(owner_), nullptr);
}

TEST_F(ShellTest, MenuBarsThatCannotBeMadeFailAndEmptyOrHiddenBarsAreMade) {
  SHMENUBARINFO mbi{sizeof(SHMENUBARINFO), owner_, 0, 999, nullptr, 0, 0, nullptr, 0};
  EXPECT_FALSE(SHCreateMenuBar(&mbi));
  EXPECT_EQ(mbi.hwndMB, nullptr);
  mbi.hwndParent = nullptr;
  mbi.nToolBarId = 347;
  EXPECT_FALSE(SHCreateMenuBar(&mbi));
  // A truncated bar resource is refused, not read past its end.
  static std::vector<BYTE> truncated(OkCancelBar().begin(), OkCancelBar().end() - 3);
  static const qk::ResourceEntry bad[] = {{nullptr, 10, 348, nullptr, truncated.data(), truncated.size()}};
  qk::RegisterResources(nullptr, bad, 1);
  mbi.hwndParent = owner_;
  mbi.nToolBarId = 348;
  EXPECT_FALSE(SHCreateMenuBar(&mbi));
  // A bar from a menu the caller made and keeps: its first button becomes IDOK.
  HMENU keys = CreateMenu();
  AppendMenuW(keys, MF_STRING, 100, u"Done");
  HWND fromMenu = MakeBar(static_cast<UINT>(reinterpret_cast<uintptr_t>(keys)), SHCMBF_HMENU | SHCMBF_HIDESIPBUTTON);
  ASSERT_NE(fromMenu, nullptr);
  TBBUTTONINFOW tbi{};
  tbi.cbSize = sizeof tbi;
  tbi.dwMask = TBIF_BYINDEX | TBIF_COMMAND;
  tbi.idCommand = IDOK;
  EXPECT_TRUE(SendMessageW(fromMenu, TB_SETBUTTONINFO, 0, reinterpret_cast<LPARAM>(&tbi)));
  Tap(60, 775);
  ASSERT_EQ(Saw().commands.size(), 1u);
  EXPECT_EQ(Saw().commands[0].first, static_cast<WPARAM>(IDOK));
  DestroyWindow(fromMenu);
  EXPECT_TRUE(IsMenu(keys));
  DestroyMenu(keys);

  HWND empty = MakeBar(0, SHCMBF_EMPTYBAR | SHCMBF_HIDDEN);
  ASSERT_NE(empty, nullptr);
  EXPECT_FALSE(IsWindowVisible(empty));
  EXPECT_EQ(SendMessageW(empty, TB_BUTTONCOUNT, 0, 0), 0);
}

TEST_F(ShellTest, SoftKeyPopupShowsItsMenuAndSendsTheChosenEntry) {
  HWND bar = MakeBar(1038);
  ASSERT_NE(bar, nullptr);
  HMENU popup = reinterpret_cast<HMENU>(SendMessageW(bar, SHCMBM_GETSUBMENU, 0, 32797));
  ASSERT_NE(popup, nullptr);
  EXPECT_EQ(GetMenuItemCount(popup), 5);
  EXPECT_EQ(GetMenuState(popup, 32854, MF_BYCOMMAND) & MF_CHECKED, static_cast<UINT>(MF_CHECKED));
  EXPECT_EQ(SendMessageW(bar, SHCMBM_GETSUBMENU, 0, 32814), 0);

  // The popup stands on the key: 4 rows of 52 and a separator of 18 above y 748.
  int top = 748 - (2 + 4 * 52 + 18);
  Saw().tapsInPopups = {{{420, top + 1 + 26}}};  // "Largest"
  Tap(420, 775);
  ASSERT_EQ(Saw().popups.size(), 1u);
  EXPECT_EQ(Saw().popups[0], popup);
  ASSERT_EQ(Saw().commands.size(), 1u);
  EXPECT_EQ(Saw().commands[0].first, 32854u);

  // A greyed entry is not chosen; a tap outside closes the menu with nothing.
  Saw().tapsInPopups = {{{420, top + 1 + 52 + 18 + 26}, {100, 100}}};  // "Smallest" (greyed), then outside
  Tap(420, 775);
  EXPECT_EQ(Saw().commands.size(), 1u);
  EXPECT_EQ(Saw().popups.size(), 2u);

  // A submenu opens in the popup's place (one row over the key); its entry is chosen there.
  Saw().tapsInPopups = {{{420, top + 1 + 3 * 52 + 18 + 26}}, {{420, 748 - 27}}};  // "Font Size", "Medium"
  Saw().popups.clear();
  Tap(420, 775);
  ASSERT_EQ(Saw().popups.size(), 2u);
  EXPECT_EQ(Saw().popups[1], GetSubMenu(popup, 4));
  ASSERT_EQ(Saw().commands.size(), 2u);
  EXPECT_EQ(Saw().commands[1].first, 32856u);
  Saw().commands.erase(Saw().commands.begin() + 1);

  // A handler answers instead of the built-in popup.
  qk::shell::SetSoftKeyPopupHandler([&](HWND o, HMENU m, const RECT& key) -> UINT {
    EXPECT_EQ(o, owner_);
    EXPECT_EQ(m, popup);
    EXPECT_EQ(key.bottom, 800);
    return 32861;
  });
  Tap(420, 775);
  ASSERT_EQ(Saw().commands.size(), 2u);
  EXPECT_EQ(Saw().commands[1].first, 32861u);
  // The left key is a plain command.
  Tap(60, 775);
  ASSERT_EQ(Saw().commands.size(), 3u);
  EXPECT_EQ(LOWORD(Saw().commands[2].first), 32814);
}

TEST_F(ShellTest, FullScreenAndDialogSetUpChangeTheWorkArea) {
  EXPECT_TRUE(Same(qk::shell::VisibleDesktop(), {0, 52, 480, 748}));
  EXPECT_TRUE(SHFullScreen(owner_, SHFS_HIDETASKBAR | SHFS_HIDESIPBUTTON));
  EXPECT_FALSE(qk::shell::TaskBarVisible());
  EXPECT_FALSE(IsWindowVisible(qk::shell::TaskBarWindow()));
  EXPECT_TRUE(Same(qk::shell::VisibleDesktop(), {0, 0, 480, 748}));

  // A dialog sized below the (hidden) task bar, down to the screen's bottom.
  HWND dlg = qtest::CreateHostWindow(u"ShellOwner", OwnerProc, 100, 100, u"Dialog", WS_VISIBLE);
  SHINITDLGINFO shidi{SHIDIM_FLAGS, dlg, SHIDIF_DONEBUTTON | SHIDIF_FULLSCREENNOMENUBAR};
  EXPECT_TRUE(SHInitDialog(&shidi));
  RECT rc;
  GetWindowRect(dlg, &rc);
  EXPECT_TRUE(Same(rc, {0, 0, 480, 800}));

  EXPECT_TRUE(SHFullScreen(owner_, SHFS_SHOWTASKBAR));
  EXPECT_TRUE(IsWindowVisible(qk::shell::TaskBarWindow()));
  EXPECT_TRUE(Same(qk::shell::VisibleDesktop(), {0, 52, 480, 748}));
  shidi.dwFlags = SHIDIF_SIZEDLGFULLSCREEN;
  EXPECT_TRUE(SHInitDialog(&shidi));
  GetWindowRect(dlg, &rc);
  EXPECT_TRUE(Same(rc, {0, 52, 480, 748}));

  // The done button of the task bar sends the dialog IDOK; it is drawn
  // while the dialog lives (its frame is a white line across the button).
  auto whiteOnButtonsTop = [] {
    qk::PumpMessages();
    auto screen = qk::gdi::ScreenSurface();
    int white = 0;
    for (int x = 400; x < 480; ++x) white += screen->Get(x, 6) == RGB(255, 255, 255);
    return white;
  };
  EXPECT_GT(whiteOnButtonsTop(), 40);
  Tap(460, 20);
  ASSERT_EQ(Saw().commands.size(), 1u);
  EXPECT_EQ(Saw().commands[0].first, static_cast<WPARAM>(IDOK));

  // The panel button hidden by the full-screen call: a tap on the bar's
  // middle raises nothing; shown again, it raises the panel.
  MakeBar(347);
  Tap(240, 775);
  EXPECT_FALSE(qk::shell::SipUp());
  EXPECT_TRUE(SHFullScreen(owner_, SHFS_SHOWSIPBUTTON));
  Tap(240, 775);
  EXPECT_TRUE(qk::shell::SipUp());
  Tap(240, 775);
  EXPECT_FALSE(qk::shell::SipUp());

  // Programs find the task bar by its class and may show or hide it themselves.
  ASSERT_TRUE(SHInitExtraControls());
  HWND taskBar = FindWindowW(u"HHTaskBar", nullptr);
  EXPECT_EQ(taskBar, qk::shell::TaskBarWindow());
  ShowWindow(taskBar, SW_HIDE);
  EXPECT_EQ(qk::shell::VisibleDesktop().top, 0);
  ShowWindow(taskBar, SW_SHOW);
  EXPECT_EQ(qk::shell::VisibleDesktop().top, 52);

  EXPECT_FALSE(SHFullScreen(nullptr, SHFS_HIDETASKBAR));
  SHINITDLGINFO none{SHIDIM_FLAGS, nullptr, SHIDIF_SIZEDLG};
  EXPECT_FALSE(SHInitDialog(&none));
  // The button goes with its dialog, also when the dialog no longer has the
  // activation when it goes (a modal dialog gives it back first).
  SetActiveWindow(owner_);
  EXPECT_GT(whiteOnButtonsTop(), 40);
  DestroyWindow(dlg);
  EXPECT_LT(whiteOnButtonsTop(), 10);
}

TEST_F(ShellTest, RaisedInputPanelResizesTheDialogAndTypesIntoTheFocus) {
  SHINITDLGINFO shidi{SHIDIM_FLAGS, owner_, SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN};
  ASSERT_TRUE(SHInitDialog(&shidi));
  RECT rc;
  GetWindowRect(owner_, &rc);
  EXPECT_TRUE(Same(rc, {0, 52, 480, 748}));

  EXPECT_TRUE(SipShowIM(SIPF_ON));
  EXPECT_TRUE(qk::shell::SipUp());
  EXPECT_EQ(Saw().settingChanges, 1);
  EXPECT_EQ(Saw().sai.fSipUp, 1u);
  SIPINFO si{};
  si.cbSize = sizeof si;
  ASSERT_TRUE(SipGetInfo(&si));
  EXPECT_TRUE(si.fdwFlags & SIPF_ON);
  EXPECT_TRUE(Same(si.rcSipRect, {0, 588, 480, 748}));
  EXPECT_TRUE(Same(si.rcVisibleDesktop, {0, 52, 480, 588}));
  GetWindowRect(owner_, &rc);
  EXPECT_TRUE(Same(rc, {0, 52, 480, 588}));
  HWND sip = qk::shell::SipWindow();
  EXPECT_TRUE(IsWindowVisible(sip));
  // Raising it again changes nothing.
  EXPECT_TRUE(SipShowIM(SIPF_ON));
  EXPECT_EQ(Saw().settingChanges, 1);

  // Keys tapped on the panel reach the window with the focus: "q" on the
  // first row's first key, backspace at the third row's end.
  SetFocus(owner_);
  Tap(10, 600);
  Tap(440, 690);
  ASSERT_EQ(Saw().keys.size(), 2u);
  EXPECT_EQ(Saw().keys[0], static_cast<WPARAM>('Q'));
  EXPECT_EQ(Saw().keys[1], static_cast<WPARAM>(0x08));
  EXPECT_EQ(GetFocus(), owner_);

  // Deactivated with the panel up, activated after it went down: it comes back.
  SHHandleWMActivate(owner_, WA_INACTIVE, 0, &Saw().sai, 0);
  EXPECT_TRUE(SipShowIM(SIPF_OFF));
  GetWindowRect(owner_, &rc);
  EXPECT_TRUE(Same(rc, {0, 52, 480, 748}));
  SHHandleWMActivate(owner_, WA_ACTIVE, 0, &Saw().sai, 0);
  EXPECT_TRUE(qk::shell::SipUp());

  // A deferred lowering is cancelled by a raise before the messages run.
  EXPECT_TRUE(SHSipPreference(owner_, SIP_DOWN));
  EXPECT_TRUE(SHSipPreference(owner_, SIP_UP));
  qk::PumpMessages();
  EXPECT_TRUE(qk::shell::SipUp());
  EXPECT_TRUE(SHSipPreference(owner_, SIP_DOWN));
  EXPECT_TRUE(qk::shell::SipUp());
  qk::PumpMessages();
  EXPECT_FALSE(qk::shell::SipUp());
  EXPECT_FALSE(IsWindowVisible(sip));
}

// Types text on the input panel as a person does: switching layouts with
// the layout key and taking capitals with shift. False when a character
// has no key.
bool TypeOnPanel(const std::u16string& text) {
  auto tap = [](const std::u16string& label) {
    RECT key;
    if (!qk::shell::SipKeyRect(label, &key)) return false;
    int x = (key.left + key.right) / 2, y = (key.top + key.bottom) / 2;
    qk::InjectPointer(WM_LBUTTONDOWN, x, y);
    qk::InjectPointer(WM_LBUTTONUP, x, y);
    qk::PumpMessages();
    return true;
  };
  for (char16_t c : text) {
    std::u16string label = c == u' ' ? u"space" : std::u16string(1, c);
    bool capital = c >= u'A' && c <= u'Z';
    if (capital && !qk::shell::SipKeyRect(u"\u21E7", nullptr) && !tap(u"abc")) return false;
    if (capital && !tap(u"\u21E7")) return false;
    if (tap(label)) continue;
    if (!tap(qk::shell::SipKeyRect(u"123", nullptr) ? u"123" : u"abc") || !tap(label)) return false;
  }
  return true;
}

TEST_F(ShellTest, InputPanelTypesAddressesWithDigitsSymbolsAndCapitals) {
  InitCommonControls();
  HWND edit = CreateWindowExW(0, u"EDIT", u"", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, 10, 10, 400, 40,
                              owner_, reinterpret_cast<HMENU>(1054), nullptr, nullptr);
  ASSERT_NE(edit, nullptr);
  SetFocus(edit);
  ASSERT_TRUE(SipShowIM(SIPF_ON));
  auto text = [&] {
    WCHAR buffer[128] = {};
    GetWindowTextW(edit, buffer, 128);
    return std::u16string(buffer);
  };
  // Every character of web and e-mail addresses has a key; shift holds for
  // one letter ("ttp" after "H" comes out small).
  ASSERT_TRUE(TypeOnPanel(u"Http://a.b/c?d=1&e"));
  EXPECT_EQ(text(), u"Http://a.b/c?d=1&e");
  SetWindowTextW(edit, u"");
  const std::u16string all = u"0123456789.:/-_~?=&%@#+ Mail@Example.ORG/~x_y-z?q=%20#top+1";
  ASSERT_TRUE(TypeOnPanel(all));
  EXPECT_EQ(text(), all);
  // Backspace works from the symbols layout too.
  SetWindowTextW(edit, u"aQq");
  RECT key;
  ASSERT_TRUE(TypeOnPanel(u"1"));
  ASSERT_TRUE(qk::shell::SipKeyRect(u"\u2190", &key));
  Tap((key.left + key.right) / 2, (key.top + key.bottom) / 2);
  EXPECT_EQ(text(), u"aQq");
  // No key of either layout overlaps another or leaves the panel.
  RECT panel;
  GetWindowRect(qk::shell::SipWindow(), &panel);
  for (int layout = 0; layout < 2; ++layout) {
    std::vector<RECT> keys;
    for (char16_t c = 0x20; c < 0x7F; ++c)
      if (qk::shell::SipKeyRect(std::u16string(1, c), &key)) keys.push_back(key);
    for (const char16_t* name : {u"\u21E7", u"\u2190", u"\u21B5", u"space", u"123", u"abc"})
      if (qk::shell::SipKeyRect(name, &key)) keys.push_back(key);
    EXPECT_GE(keys.size(), 30u);
    for (size_t i = 0; i < keys.size(); ++i) {
      EXPECT_TRUE(keys[i].left >= panel.left && keys[i].right <= panel.right && keys[i].top >= panel.top &&
                  keys[i].bottom <= panel.bottom);
      for (size_t j = i + 1; j < keys.size(); ++j) {
        RECT both;
        EXPECT_FALSE(IntersectRect(&both, &keys[i], &keys[j])) << i << " and " << j;
      }
    }
    ASSERT_TRUE(qk::shell::SipKeyRect(u"123", &key) || qk::shell::SipKeyRect(u"abc", &key));
    Tap((key.left + key.right) / 2, (key.top + key.bottom) / 2);
  }
}

TEST_F(ShellTest, SipPrefWindowRaisesThePanelForTypeableEditsOnly) {
  ASSERT_TRUE(SHInitExtraControls());  // the program's start-up call registers "SIPPREF"
  InitCommonControls();                // and the standard controls
  HWND edit = CreateWindowExW(0, u"EDIT", u"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 10, 200, 40, owner_,
                              reinterpret_cast<HMENU>(1054), nullptr, nullptr);
  HWND locked = CreateWindowExW(0, u"EDIT", u"", WS_CHILD | WS_VISIBLE | ES_READONLY, 10, 60, 200, 40, owner_,
                                reinterpret_cast<HMENU>(1055), nullptr, nullptr);
  HWND button = CreateWindowExW(0, u"BUTTON", u"Go", WS_CHILD | WS_VISIBLE, 10, 110, 200, 40, owner_,
                                reinterpret_cast<HMENU>(1056), nullptr, nullptr);
  ASSERT_TRUE(edit && locked && button);
  HWND pref = CreateWindowExW(0, WC_SIPPREF, u"", WS_CHILD, 0, 0, 0, 0, owner_, nullptr, nullptr, nullptr);
  ASSERT_NE(pref, nullptr);
  qk::PumpMessages();
  EXPECT_FALSE(qk::shell::SipUp());
  SetFocus(edit);
  qk::PumpMessages();
  EXPECT_TRUE(qk::shell::SipUp());
  SetFocus(button);
  qk::PumpMessages();
  EXPECT_FALSE(qk::shell::SipUp());
  SetFocus(edit);
  qk::PumpMessages();
  EXPECT_TRUE(qk::shell::SipUp());
  SetFocus(locked);
  qk::PumpMessages();
  EXPECT_FALSE(qk::shell::SipUp());
  // Once the SIPPREF window is gone the edits are left alone.
  DestroyWindow(pref);
  SetFocus(edit);
  qk::PumpMessages();
  EXPECT_FALSE(qk::shell::SipUp());
  // And still work as edits.
  SetWindowTextW(edit, u"typed");
  WCHAR text[16] = {};
  GetWindowTextW(edit, text, 16);
  EXPECT_EQ(std::u16string(text), u"typed");
}

TEST_F(ShellTest, TapAndHoldIsRecognisedOnTheClockAndTapsAndMovesAreNot) {
  qk::FreezeClock(1796726400000LL, 5000);
  int steps = 0;
  qk::shell::SetGestureWaitHook([&] {
    ++steps;
    qk::AdvanceClock(100);
  });
  // Held: the gesture comes after the hold time (five steps of 100 ms).
  qk::InjectPointer(WM_LBUTTONDOWN, 100, 300);
  qk::PumpMessages();
  ASSERT_EQ(Saw().gestures.size(), 1u);
  EXPECT_EQ(Saw().gestures[0], static_cast<DWORD>(GN_CONTEXTMENU));
  EXPECT_EQ(steps, 5);
  qk::InjectPointer(WM_LBUTTONUP, 100, 300);
  qk::PumpMessages();

  // A tap (released before the hold time) is no gesture.
  steps = 0;
  qk::InjectPointer(WM_LBUTTONDOWN, 100, 300);
  qk::InjectPointer(WM_LBUTTONUP, 100, 300);
  qk::PumpMessages();
  ASSERT_EQ(Saw().gestures.size(), 2u);
  EXPECT_EQ(Saw().gestures[1], 0u);
  EXPECT_EQ(steps, 0);

  // A move beyond the slop ends it; a small one does not.
  qk::InjectPointer(WM_LBUTTONDOWN, 100, 300);
  qk::InjectPointer(WM_MOUSEMOVE, 160, 300);
  qk::PumpMessages();
  ASSERT_EQ(Saw().gestures.size(), 3u);
  EXPECT_EQ(Saw().gestures[2], 0u);
  qk::InjectPointer(WM_LBUTTONUP, 160, 300);
  qk::PumpMessages();
  qk::InjectPointer(WM_LBUTTONDOWN, 100, 300);
  qk::InjectPointer(WM_MOUSEMOVE, 104, 302);
  qk::PumpMessages();
  ASSERT_EQ(Saw().gestures.size(), 4u);
  EXPECT_EQ(Saw().gestures[3], static_cast<DWORD>(GN_CONTEXTMENU));
  qk::InjectPointer(WM_LBUTTONUP, 104, 302);
  qk::PumpMessages();

  // Without the hook a tap ends the wait at once too.
  qk::shell::SetGestureWaitHook(nullptr);
  qk::InjectPointer(WM_LBUTTONDOWN, 100, 300);
  qk::InjectPointer(WM_LBUTTONUP, 100, 300);
  qk::PumpMessages();
  ASSERT_EQ(Saw().gestures.size(), 5u);
  EXPECT_EQ(Saw().gestures[4], 0u);
  qk::shell::SetGestureWaitHook([&] { qk::AdvanceClock(100); });

  // Without SHRG_RETURNCMD the window gets WM_CONTEXTMENU.
  Saw().gestureFlags = 0;
  qk::InjectPointer(WM_LBUTTONDOWN, 100, 300);
  qk::PumpMessages();
  EXPECT_EQ(Saw().contextMenus, 1);
  qk::InjectPointer(WM_LBUTTONUP, 100, 300);
  qk::PumpMessages();
  EXPECT_EQ(SHRecognizeGesture(nullptr), 0u);
}

TEST_F(ShellTest, AHeldStylusSleepsUntilTheHoldTimeOnTheRunningClock) {
  // No wait hook and a running clock: the recogniser waits as a program
  // does. It sleeps until the hold time is up instead of waking to look.
  rusage before{}, after{};
  getrusage(RUSAGE_THREAD, &before);
  const auto start = std::chrono::steady_clock::now();
  qk::InjectPointer(WM_LBUTTONDOWN, 100, 300);
  qk::PumpMessages();
  const auto held = std::chrono::steady_clock::now() - start;
  getrusage(RUSAGE_THREAD, &after);
  ASSERT_EQ(Saw().gestures.size(), 1u);
  EXPECT_EQ(Saw().gestures[0], static_cast<DWORD>(GN_CONTEXTMENU));
  EXPECT_GE(held, std::chrono::milliseconds(qk::shell::kHoldMs - 1));
  // A wait that woke every few milliseconds would switch a hundred times.
  EXPECT_LT(after.ru_nvcsw - before.ru_nvcsw, 20) << "voluntary context switches while held";
  qk::InjectPointer(WM_LBUTTONUP, 100, 300);
  qk::PumpMessages();

  // A release posted by another thread while the recogniser sleeps wakes
  // it: a tap, well before the (long) hold time.
  std::thread lifter;
  Saw().gestureFlags = SHRG_RETURNCMD | SHRG_LONGDELAY;
  qk::InjectPointer(WM_LBUTTONDOWN, 100, 300);
  lifter = std::thread([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    qk::InjectPointer(WM_LBUTTONUP, 100, 300);
  });
  qk::PumpMessages();
  lifter.join();
  ASSERT_EQ(Saw().gestures.size(), 2u);
  EXPECT_EQ(Saw().gestures[1], 0u);
  qk::PumpMessages();

  // On a test's frozen clock, with the release still on the display's
  // connection: the recogniser lets the display's idle hook take it into
  // the queue, as the message wait does, and the press is a tap. (Should
  // the hook never run, a guard lifts the stylus after a while.)
  static std::atomic<int> hookRuns;
  hookRuns = 0;
  qk::FreezeClock(1796726400000LL, 5000);
  qk::InjectPointer(WM_LBUTTONDOWN, 100, 300);
  MSG down;
  ASSERT_TRUE(PeekMessageW(&down, owner_, WM_LBUTTONDOWN, WM_LBUTTONDOWN, PM_REMOVE));
  qk::IdleHook previous = qk::SetIdleHook([]() -> DWORD {
    if (hookRuns++ == 0) qk::InjectPointer(WM_LBUTTONUP, 100, 300);
    return INFINITE;
  });
  std::atomic<bool> ended{false};
  std::thread guard([&] {
    for (int i = 0; i < 1000 && !ended; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!ended && hookRuns == 0) qk::InjectPointer(WM_LBUTTONUP, 100, 300);
  });
  SHRGINFO info{sizeof(SHRGINFO), owner_, {100, 300}, SHRG_RETURNCMD};
  EXPECT_EQ(SHRecognizeGesture(&info), 0u);
  ended = true;
  guard.join();
  qk::SetIdleHook(previous);
  EXPECT_GT(hookRuns.load(), 0) << "the release waiting on the display was never taken in";
  qk::PumpMessages();
}

TEST_F(ShellTest, ImageFilesLoadAndFilesGetIconsOfTheirKind) {
  std::vector<uint32_t> rgb(30 * 20, 0x00336699u);
  rgb[0] = 0x00FF0000u;
  std::vector<uint8_t> png;
  ASSERT_TRUE(qk::gdi::EncodePng(30, 20, rgb, &png));
  WriteDeviceFile(u"\\Channels\\logo.png", std::string(png.begin(), png.end()));
  WriteDeviceFile(u"\\Channels\\broken.png", std::string(png.begin(), png.begin() + png.size() / 2));
  WriteDeviceFile(u"\\Channels\\Channels.opml", "<opml/>");

  HBITMAP bm = SHLoadImageFile(u"\\Channels\\logo.png");
  ASSERT_NE(bm, nullptr);
  BITMAP info{};
  ASSERT_TRUE(GetObjectW(bm, sizeof info, &info));
  EXPECT_EQ(info.bmWidth, 30);
  EXPECT_EQ(info.bmHeight, 20);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bm);
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(dc, 5, 5), RGB(0x33, 0x66, 0x99));
  SelectObject(dc, old);
  DeleteObject(bm);
  // Loaded pictures are kept decoded; each load still gives a bitmap of its
  // own, and a file rewritten at once (same size, other pixels) or replaced
  // by a broken one is read anew.
  auto cornerOf = [dc](const char16_t* path) -> COLORREF {
    HBITMAP loaded = SHLoadImageFile(path);
    if (!loaded) return CLR_INVALID;
    HGDIOBJ before = SelectObject(dc, loaded);
    COLORREF corner = GetPixel(dc, 0, 0);
    SelectObject(dc, before);
    DeleteObject(loaded);
    return corner;
  };
  EXPECT_EQ(cornerOf(u"\\Channels\\logo.png"), RGB(255, 0, 0));
  EXPECT_EQ(cornerOf(u"\\Channels\\logo.png"), RGB(255, 0, 0));
  rgb[0] = 0x000000FFu;
  std::vector<uint8_t> blue;
  ASSERT_TRUE(qk::gdi::EncodePng(30, 20, rgb, &blue));
  ASSERT_EQ(blue.size(), png.size());
  WriteDeviceFile(u"\\Channels\\logo.png", std::string(blue.begin(), blue.end()));
  EXPECT_EQ(cornerOf(u"\\Channels\\logo.png"), RGB(0, 0, 255));
  WriteDeviceFile(u"\\Channels\\logo.png", std::string(blue.begin(), blue.begin() + blue.size() / 2));
  EXPECT_EQ(SHLoadImageFile(u"\\Channels\\logo.png"), nullptr);
  WriteDeviceFile(u"\\Channels\\logo.png", std::string(png.begin(), png.end()));
  EXPECT_EQ(cornerOf(u"\\Channels\\logo.png"), RGB(255, 0, 0));
  DeleteDC(dc);
  EXPECT_EQ(SHLoadImageFile(u"\\Channels\\broken.png"), nullptr);
  EXPECT_EQ(SHLoadImageFile(u"\\Channels\\none.png"), nullptr);
  EXPECT_EQ(SHLoadImageFile(nullptr), nullptr);

  struct Case {
    const char16_t* path;
    int kind;
  } cases[] = {{u"\\Channels", 0}, {u"\\Channels\\Channels.opml", 3}, {u"\\Channels\\logo.png", 2}};
  for (const Case& c : cases) {
    SHFILEINFOW sfi{};
    ASSERT_TRUE(SHGetFileInfo(c.path, 0, &sfi, sizeof sfi, SHGFI_ICON | SHGFI_SMALLICON | SHGFI_DISPLAYNAME));
    EXPECT_EQ(sfi.iIcon, c.kind);
    HBITMAP pixels = qk::shell::IconBitmap(sfi.hIcon);
    ASSERT_NE(pixels, nullptr);
    DIBSECTION ds{};
    ASSERT_TRUE(GetObjectW(pixels, sizeof ds, &ds));
    EXPECT_EQ(ds.dsBm.bmWidth, 32);  // 16 at 96 dpi
    auto* px = static_cast<const uint32_t*>(ds.dsBm.bmBits);
    int opaque = 0, clear = 0;
    for (int i = 0; i < 32 * 32; ++i) (px[i] >> 24) == 255 ? ++opaque : ((px[i] >> 24) == 0 ? ++clear : 0);
    EXPECT_GT(opaque, 200) << static_cast<int>(c.kind);
    EXPECT_GT(clear, 50) << static_cast<int>(c.kind);
    // Into an image list with its mask, as the file chooser lists entries.
    HIMAGELIST list = ImageList_Create(32, 32, ILC_COLOR32 | ILC_MASK, 1, 1);
    HBITMAP mask = qk::shell::IconMask(sfi.hIcon);
    ASSERT_NE(mask, nullptr);
    EXPECT_EQ(ImageList_Add(list, pixels, mask), 0);
    EXPECT_EQ(ImageList_GetImageCount(list), 1);
    // Drawn on white: the corner stays white, the middle is the picture.
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, 32, 32);
    HGDIOBJ oldCanvas = SelectObject(mem, canvas);
    PatBlt(mem, 0, 0, 32, 32, WHITENESS);
    EXPECT_TRUE(ImageList_Draw(list, 0, mem, 0, 0, ILD_TRANSPARENT));
    EXPECT_EQ(GetPixel(mem, 0, 0), RGB(255, 255, 255));
    EXPECT_NE(GetPixel(mem, 6, 26), RGB(255, 255, 255));
    SelectObject(mem, oldCanvas);
    DeleteObject(canvas);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    DeleteObject(mask);
    ImageList_Destroy(list);
    EXPECT_TRUE(qk::shell::DestroyShellIcon(sfi.hIcon));
    EXPECT_FALSE(qk::shell::DestroyShellIcon(sfi.hIcon));
  }
  SHFILEINFOW sfi{};
  EXPECT_EQ(SHGetFileInfo(u"\\Channels\\none.opml", 0, &sfi, sizeof sfi, SHGFI_ICON), 0u);
  EXPECT_NE(SHGetFileInfo(u"new.opml", 0, &sfi, sizeof sfi, SHGFI_USEFILEATTRIBUTES | SHGFI_TYPENAME), 0u);
  EXPECT_EQ(std::u16string(sfi.szTypeName), u"Channel List");
  EXPECT_EQ(qk::shell::IconBitmap(reinterpret_cast<HICON>(owner_)), nullptr);
}

}  // namespace
