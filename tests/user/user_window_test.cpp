// Window semantics the screens rely on: the order of the messages of
// creation, activation, focus and destruction; the dialog manager's keys;
// windows bound to their thread (refused from other threads, destroyed at
// its end, senders released); no input to disabled windows; characters
// from key-downs; bad handles refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "controls/commctrl.h"
#include "kernel/kernel.h"
#include "support/device_fixture.h"
#include "user/dialog.h"
#include "user/input.h"
#include "user/menu.h"
#include "user/user.h"

namespace {

std::map<HWND, std::string> g_names;
std::vector<std::string> g_script;
bool g_failNcCreate = false;

std::string Name(HWND hwnd) {
  auto it = g_names.find(hwnd);
  return it == g_names.end() ? (hwnd ? "?" : "null") : it->second;
}

// Records the messages of the window-management script, by window name.
LRESULT ScriptProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::string n = Name(hwnd);
  switch (msg) {
    case WM_NCCREATE: {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
      std::string name;
      for (const char16_t* p = cs->lpszName; p && *p; ++p) name += static_cast<char>(*p);
      g_names[hwnd] = name;
      g_script.push_back(name + " nccreate");
      if (g_failNcCreate) return FALSE;
      break;
    }
    case WM_CREATE:
      g_script.push_back(n + " create" + (IsWindowVisible(hwnd) ? " visible" : ""));
      break;
    case WM_SHOWWINDOW:
      g_script.push_back(n + " show " + std::to_string(wParam));
      break;
    case WM_ACTIVATE:
      g_script.push_back(n + (LOWORD(wParam) ? " active from " : " inactive to ") +
                         Name(reinterpret_cast<HWND>(lParam)));
      break;
    case WM_SETFOCUS:
      g_script.push_back(n + " setfocus");
      break;
    case WM_KILLFOCUS:
      g_script.push_back(n + " killfocus");
      break;
    case WM_DESTROY:
      g_script.push_back(n + " destroy" + (IsWindow(hwnd) ? "" : " gone"));
      break;
    case WM_NCDESTROY:
      g_script.push_back(n + " ncdestroy" + (IsWindow(hwnd) ? "" : " gone"));
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

class WindowTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    qtest::DeviceTest::SetUp();
    g_script.clear();
    g_names.clear();
    g_failNcCreate = false;
    qk::ClearQuit();
    InitCommonControls();
    WNDCLASSW wc{};
    wc.lpfnWndProc = ScriptProc;
    wc.lpszClassName = u"ScriptWindow";
    RegisterClassW(&wc);
  }
  void TearDown() override {
    qk::PumpMessages();
    qk::ClearQuit();
    qtest::DeviceTest::TearDown();
  }
  HWND Make(const char16_t* name, DWORD style, HWND parent = nullptr, int id = 0) {
    return CreateWindowExW(0, u"ScriptWindow", name, style, 0, 0, 100, 100, parent,
                           reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
  }
  std::vector<std::string> Take() {
    std::vector<std::string> out;
    out.swap(g_script);
    return out;
  }
};

TEST_F(WindowTest, CreationActivationFocusAndDestructionComeInOrder) {
  HWND a = Make(u"A", WS_POPUP | WS_VISIBLE);
  ASSERT_TRUE(a);
  std::vector<std::string> expected = {"A nccreate", "A create", "A show 1", "A active from null", "A setfocus"};
  EXPECT_EQ(Take(), expected);
  EXPECT_EQ(GetActiveWindow(), a);
  EXPECT_EQ(GetFocus(), a);

  HWND a1 = Make(u"a1", WS_CHILD | WS_VISIBLE, a, 1);
  expected = {"a1 nccreate", "a1 create", "a1 show 1"};
  EXPECT_EQ(Take(), expected);
  SetFocus(a1);
  expected = {"A killfocus", "a1 setfocus"};
  EXPECT_EQ(Take(), expected);

  // A second window: the activation moves with the focus.
  HWND b = Make(u"B", WS_POPUP | WS_VISIBLE);
  expected = {"B nccreate", "B create", "B show 1", "A inactive to B", "B active from A", "a1 killfocus",
              "B setfocus"};
  EXPECT_EQ(Take(), expected);

  // Focusing a control of an inactive window activates its window first.
  SetFocus(a1);
  expected = {"B inactive to A", "A active from B", "B killfocus", "A setfocus", "A killfocus", "a1 setfocus"};
  EXPECT_EQ(Take(), expected);
  SetActiveWindow(b);
  Take();

  // The active window's end activates the window before it; it is still a
  // window in WM_DESTROY and WM_NCDESTROY.
  DestroyWindow(b);
  expected = {"B inactive to A", "A active from B", "B killfocus", "A setfocus", "B destroy", "B ncdestroy"};
  EXPECT_EQ(Take(), expected);
  EXPECT_FALSE(IsWindow(b));

  // Parents get WM_DESTROY first, children WM_NCDESTROY first.
  SetFocus(a1);
  Take();
  DestroyWindow(a);
  expected = {"A inactive to null", "a1 killfocus", "A destroy", "a1 destroy", "a1 ncdestroy", "A ncdestroy"};
  EXPECT_EQ(Take(), expected);
  EXPECT_FALSE(IsWindow(a1));
  EXPECT_EQ(GetActiveWindow(), nullptr);
  EXPECT_EQ(GetFocus(), nullptr);

  // A window whose WM_NCCREATE fails is not made.
  g_failNcCreate = true;
  EXPECT_EQ(Make(u"C", WS_POPUP | WS_VISIBLE), nullptr);
  expected = {"C nccreate", "C ncdestroy"};
  EXPECT_EQ(Take(), expected);
}

TEST_F(WindowTest, HidingOrDisablingMovesActivationAndFocusToTheOwner) {
  HWND owner = Make(u"O", WS_POPUP | WS_VISIBLE);
  HWND other = Make(u"X", WS_POPUP | WS_VISIBLE);
  HWND owned = CreateWindowExW(0, u"ScriptWindow", u"P", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, owner, nullptr,
                               nullptr, nullptr);
  EXPECT_EQ(GetParent(owned), owner);
  Take();
  // The owner, not the most recent window, takes over from its owned window.
  ShowWindow(owned, SW_HIDE);
  std::vector<std::string> expected = {"P show 0", "P inactive to O", "O active from P", "P killfocus", "O setfocus"};
  EXPECT_EQ(Take(), expected);
  // A disabled window loses the focus it holds; SetForegroundWindow with the
  // handle's lowest bit set still names the window.
  EnableWindow(owner, FALSE);
  EXPECT_EQ(GetFocus(), nullptr);
  EXPECT_TRUE(SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(other) | 1)));
  EXPECT_EQ(GetActiveWindow(), other);
  EXPECT_EQ(GetForegroundWindow(), other);
  // A tap on an inactive window activates it; not while it is disabled.
  MoveWindow(owner, 200, 200, 100, 100, FALSE);
  qk::InjectPointer(WM_LBUTTONDOWN, 250, 250);
  qk::InjectPointer(WM_LBUTTONUP, 250, 250);
  EXPECT_EQ(GetActiveWindow(), other);
  EnableWindow(owner, TRUE);
  Take();
  qk::InjectPointer(WM_LBUTTONDOWN, 250, 250);
  qk::InjectPointer(WM_LBUTTONUP, 250, 250);
  EXPECT_EQ(GetActiveWindow(), owner);
  expected = {"X inactive to O", "O active from X", "X killfocus", "O setfocus"};
  EXPECT_EQ(Take(), expected);
  qk::PumpMessages();
  DestroyWindow(owner);
  EXPECT_FALSE(IsWindow(owned));  // owned windows go with their owner

  // A window shown without the activation is still on top of the screen; a
  // topmost one above all.
  HWND shown = CreateWindowExW(WS_EX_NOACTIVATE, u"ScriptWindow", u"N", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100,
                               nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(GetActiveWindow(), other);
  EXPECT_EQ(WindowFromPoint(POINT{50, 50}), shown);
  SetWindowPos(other, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  EXPECT_EQ(WindowFromPoint(POINT{50, 50}), other);
  SetWindowPos(shown, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  EXPECT_EQ(WindowFromPoint(POINT{50, 50}), other);  // topmost stays above
  DestroyWindow(shown);
  DestroyWindow(other);
}

// ------------------------------------------------------------ dialog manager

constexpr int kEdit = 10, kRadio1 = 11, kRadio2 = 12, kRadio3 = 13, kWantAll = 14, kGo = 50, kOther = 51;
std::vector<std::string> g_keysSeen;

// A control that wants every key but Tab, as a multi-line edit does.
LRESULT WantAllProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_GETDLGCODE) {
    auto* m = reinterpret_cast<const MSG*>(lParam);
    if (m && m->message == WM_KEYDOWN && m->wParam == VK_TAB) return DLGC_WANTARROWS | DLGC_WANTCHARS;
    return DLGC_WANTALLKEYS | DLGC_WANTARROWS | DLGC_WANTCHARS;
  }
  if (msg == WM_KEYDOWN) g_keysSeen.push_back("down " + std::to_string(wParam));
  if (msg == WM_CHAR) g_keysSeen.push_back("char " + std::to_string(wParam));
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

std::vector<int> g_commands;

INT_PTR ManagerProc(HWND, UINT msg, WPARAM wParam, LPARAM) {
  if (msg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    g_commands.push_back(LOWORD(wParam));
    return TRUE;
  }
  return msg == WM_INITDIALOG ? TRUE : FALSE;
}

class DialogManagerTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    g_keysSeen.clear();
    g_commands.clear();
    WNDCLASSW wc{};
    wc.lpfnWndProc = WantAllProc;
    wc.lpszClassName = u"WantAllKeys";
    RegisterClassW(&wc);
  }
  // The loop a modeless dialog's program runs.
  void Pump(HWND dialog) {
    MSG m;
    for (int i = 0; i < 1000 && PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE); ++i) {
      if (m.message == WM_QUIT) break;
      if (!IsDialogMessageW(dialog, &m)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
      }
    }
  }
  void Key(HWND dialog, BYTE vk, bool shift = false) {
    if (shift) keybd_event(VK_SHIFT, 0, 0, 0);
    keybd_event(vk, 0, 0, 0);
    Pump(dialog);
    keybd_event(vk, 0, KEYEVENTF_KEYUP, 0);
    if (shift) keybd_event(VK_SHIFT, 0, KEYEVENTF_KEYUP, 0);
    Pump(dialog);
  }
  int FocusId() { return GetDlgCtrlID(GetFocus()); }
};

TEST_F(DialogManagerTest, TabGroupsDefaultButtonAndControlsThatKeepTheirKeys) {
  constexpr DWORD v = WS_VISIBLE;
  auto bytes = qk::DialogTemplateBuilder(WS_POPUP | WS_VISIBLE, 0, 0, 0, 160, 160, u"Manager")
                   .Control(u"EDIT", u"", kEdit, v | WS_TABSTOP | WS_GROUP, 5, 5, 100, 12)
                   .Control(u"BUTTON", u"1", kRadio1, v | WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON, 5, 20, 40, 10)
                   .Control(u"BUTTON", u"2", kRadio2, v | BS_AUTORADIOBUTTON, 5, 30, 40, 10)
                   .Control(u"BUTTON", u"3", kRadio3, v | BS_AUTORADIOBUTTON, 5, 40, 40, 10)
                   .Control(u"WantAllKeys", u"", kWantAll, v | WS_TABSTOP | WS_GROUP, 5, 55, 100, 30)
                   .Control(u"STATIC", u"skipped", 99, v, 5, 88, 40, 10)
                   .Control(u"BUTTON", u"Hidden", 98, WS_TABSTOP, 5, 90, 40, 14)
                   .Control(u"BUTTON", u"Go", kGo, v | WS_TABSTOP | BS_DEFPUSHBUTTON, 5, 100, 40, 14)
                   .Control(u"BUTTON", u"Other", kOther, v | WS_TABSTOP, 50, 100, 40, 14)
                   .Control(u"BUTTON", u"Cancel", IDCANCEL, v | WS_TABSTOP, 95, 100, 40, 14)
                   .Build();
  HWND dlg = CreateDialogIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()), nullptr,
                                        ManagerProc, 0);
  ASSERT_TRUE(dlg);
  EXPECT_EQ(GetActiveWindow(), dlg);
  EXPECT_EQ(FocusId(), kEdit);

  // Tab visits the visible tab stops in order and wraps; Shift+Tab goes back.
  std::vector<int> order;
  for (int i = 0; i < 6; ++i) {
    Key(dlg, VK_TAB);
    order.push_back(FocusId());
  }
  EXPECT_EQ(order, (std::vector<int>{kRadio1, kWantAll, kGo, kOther, IDCANCEL, kEdit}));
  Key(dlg, VK_TAB, true);
  EXPECT_EQ(FocusId(), IDCANCEL);

  // Arrows move within the radio group, wrap inside it and check the radio.
  SetFocus(GetDlgItem(dlg, kRadio1));
  Key(dlg, VK_DOWN);
  EXPECT_EQ(FocusId(), kRadio2);
  EXPECT_EQ(IsDlgButtonChecked(dlg, kRadio2), static_cast<UINT>(BST_CHECKED));
  Key(dlg, VK_RIGHT);
  Key(dlg, VK_DOWN);
  EXPECT_EQ(FocusId(), kRadio1);
  Key(dlg, VK_UP);
  EXPECT_EQ(FocusId(), kRadio3);
  EXPECT_EQ(IsDlgButtonChecked(dlg, kRadio3), static_cast<UINT>(BST_CHECKED));
  EXPECT_TRUE(g_commands.size() >= 3u);  // the radios' own clicks
  g_commands.clear();

  // A control that wants every key keeps Enter, Escape and the arrows (and
  // gets the characters); Tab, which it lets go, leaves it.
  SetFocus(GetDlgItem(dlg, kWantAll));
  Key(dlg, VK_RETURN);
  Key(dlg, VK_DOWN);
  Key(dlg, VK_ESCAPE);
  EXPECT_EQ(g_keysSeen,
            (std::vector<std::string>{"down 13", "char 13", "down 40", "down 27", "char 27"}));
  EXPECT_TRUE(g_commands.empty());
  Key(dlg, VK_TAB);
  EXPECT_EQ(FocusId(), kGo);

  // Enter: a focused push button presses itself, otherwise the default button.
  SetFocus(GetDlgItem(dlg, kOther));
  Key(dlg, VK_RETURN);
  SetFocus(GetDlgItem(dlg, kEdit));
  Key(dlg, VK_RETURN);
  SendMessageW(dlg, DM_SETDEFID, kOther, 0);
  Key(dlg, VK_RETURN);
  EnableWindow(GetDlgItem(dlg, kOther), FALSE);  // a disabled default button is not pressed
  Key(dlg, VK_RETURN);
  Key(dlg, VK_ESCAPE);
  EXPECT_EQ(g_commands, (std::vector<int>{kOther, kGo, kOther, IDCANCEL}));
  DestroyWindow(dlg);

  // Without a default button Enter is IDOK.
  auto plain = qk::DialogTemplateBuilder(WS_POPUP | WS_VISIBLE, 0, 0, 0, 100, 50, u"Plain")
                   .Control(u"EDIT", u"", kEdit, v | WS_TABSTOP, 5, 5, 80, 12)
                   .Build();
  g_commands.clear();
  dlg = CreateDialogIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(plain.data()), nullptr, ManagerProc, 0);
  Key(dlg, VK_RETURN);
  EXPECT_EQ(g_commands, (std::vector<int>{IDOK}));
  DestroyWindow(dlg);
}

// What a dialog built hidden finds while it starts.
struct HiddenStart {
  HWND initFocus = nullptr, firstStop = nullptr, nextInGroup = nullptr;
};

INT_PTR HiddenStartProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    auto* seen = reinterpret_cast<HiddenStart*>(lParam);
    seen->initFocus = reinterpret_cast<HWND>(wParam);
    seen->firstStop = GetNextDlgTabItem(dlg, nullptr, FALSE);
    seen->nextInGroup = GetNextDlgGroupItem(dlg, GetDlgItem(dlg, kRadio1), FALSE);
    // The dialog places the focus itself, two stops on.
    SendMessageW(dlg, WM_NEXTDLGCTL, 0, FALSE);
    SendMessageW(dlg, WM_NEXTDLGCTL, 0, FALSE);
    return FALSE;
  }
  return ManagerProc(dlg, msg, wParam, lParam);
}

TEST_F(DialogManagerTest, TabStopsAreTheShownEnabledControlsEvenBeforeTheDialogShows) {
  constexpr DWORD v = WS_VISIBLE;
  constexpr int kOff = 60;
  auto bytes = qk::DialogTemplateBuilder(WS_POPUP, 0, 0, 0, 160, 160, u"Hidden start")
                   .Control(u"BUTTON", u"Off", kOff, v | WS_TABSTOP | WS_GROUP | WS_DISABLED, 5, 5, 40, 14)
                   .Control(u"EDIT", u"", kEdit, v | WS_TABSTOP | WS_GROUP, 5, 20, 100, 12)
                   .Control(u"BUTTON", u"Hidden", 98, WS_TABSTOP, 5, 35, 40, 14)
                   .Control(u"BUTTON", u"1", kRadio1, v | WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON, 5, 50, 40, 10)
                   .Control(u"BUTTON", u"2", kRadio2, v | WS_DISABLED | BS_AUTORADIOBUTTON, 5, 60, 40, 10)
                   .Control(u"BUTTON", u"3", kRadio3, v | BS_AUTORADIOBUTTON, 5, 70, 40, 10)
                   .Control(u"BUTTON", u"Go", kGo, v | WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON, 5, 100, 40, 14)
                   .Control(u"BUTTON", u"Other", kOther, v | WS_TABSTOP | WS_DISABLED, 50, 100, 40, 14)
                   .Build();
  HiddenStart seen;
  HWND dlg = CreateDialogIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()), nullptr,
                                        HiddenStartProc, reinterpret_cast<LPARAM>(&seen));
  ASSERT_TRUE(dlg);
  EXPECT_FALSE(IsWindowVisible(dlg));
  // Not yet shown, the dialog still has its stops: the disabled and the
  // hidden control are none of them, nor is the disabled radio button.
  EXPECT_EQ(GetDlgCtrlID(seen.initFocus), kEdit);
  EXPECT_EQ(GetDlgCtrlID(seen.firstStop), kEdit);
  EXPECT_EQ(GetDlgCtrlID(seen.nextInGroup), kRadio3);
  EXPECT_EQ(FocusId(), kRadio1);
  ShowWindow(dlg, SW_SHOW);
  EXPECT_EQ(FocusId(), kRadio1);  // showing it keeps the focus where the dialog put it

  // Tab passes over the disabled controls, both ways; the arrows too.
  Key(dlg, VK_TAB);
  EXPECT_EQ(FocusId(), kGo);
  Key(dlg, VK_TAB);
  EXPECT_EQ(FocusId(), kEdit);
  Key(dlg, VK_TAB, true);
  EXPECT_EQ(FocusId(), kGo);
  SetFocus(GetDlgItem(dlg, kRadio1));
  Key(dlg, VK_DOWN);
  EXPECT_EQ(FocusId(), kRadio3);
  // Enabled, a control is a stop again.
  EnableWindow(GetDlgItem(dlg, kOther), TRUE);
  SetFocus(GetDlgItem(dlg, kGo));
  Key(dlg, VK_TAB);
  EXPECT_EQ(FocusId(), kOther);
  DestroyWindow(dlg);
}

TEST_F(DialogManagerTest, MultiLineEditGivesEnterToTheDefaultButtonUnlessItWantsReturn) {
  constexpr DWORD v = WS_VISIBLE;
  constexpr int kNotes = 20, kBody = 21;
  auto bytes = qk::DialogTemplateBuilder(WS_POPUP | WS_VISIBLE, 0, 0, 0, 160, 120, u"Editor")
                   .Control(u"EDIT", u"", kNotes, v | WS_TABSTOP | ES_MULTILINE, 5, 5, 100, 30)
                   .Control(u"EDIT", u"", kBody, v | WS_TABSTOP | ES_MULTILINE | ES_WANTRETURN, 5, 40, 100, 30)
                   .Control(u"BUTTON", u"Go", kGo, v | WS_TABSTOP | BS_DEFPUSHBUTTON, 5, 100, 40, 14)
                   .Build();
  HWND dlg = CreateDialogIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()), nullptr,
                                        ManagerProc, 0);
  ASSERT_TRUE(dlg);
  auto text = [&](int id) {
    WCHAR buffer[64] = {};
    GetDlgItemTextW(dlg, id, buffer, 64);
    return std::u16string(buffer);
  };
  SetFocus(GetDlgItem(dlg, kNotes));
  Key(dlg, 'A');
  Key(dlg, VK_RETURN);
  EXPECT_EQ(text(kNotes), u"a");
  EXPECT_EQ(g_commands, std::vector<int>{kGo});
  SetFocus(GetDlgItem(dlg, kBody));
  Key(dlg, 'B');
  Key(dlg, VK_RETURN);
  Key(dlg, 'C');
  EXPECT_EQ(text(kBody), u"b\r\nc");
  EXPECT_EQ(g_commands, std::vector<int>{kGo});
  EXPECT_EQ(GetDlgCtrlID(GetFocus()), kBody);
  DestroyWindow(dlg);
}

// ------------------------------------------------------------ modal dialogs and input

struct ModalScript {
  HWND owner = nullptr, ownerChild = nullptr;
  HWND tapOwner = reinterpret_cast<HWND>(1), tapDialog = nullptr;
  bool ownerActiveInside = true;
  std::vector<int> commands;
};

INT_PTR ModalProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* s = reinterpret_cast<ModalScript*>(GetWindowLongW(dlg, DWL_USER));
  if (msg == WM_INITDIALOG) {
    SetWindowLongW(dlg, DWL_USER, lParam);
    PostMessageW(dlg, WM_USER, 0, 0);
    return TRUE;
  }
  if (msg == WM_USER && s) {
    s->ownerActiveInside = GetActiveWindow() == s->owner;
    // A tap on the owner's control, which the dialog does not cover, and
    // one on the dialog's button; then Enter on the button.
    s->tapOwner = qk::InjectPointer(WM_LBUTTONDOWN, 150, 150);
    RECT r;
    GetWindowRect(GetDlgItem(dlg, IDOK), &r);
    s->tapDialog = qk::InjectPointer(WM_LBUTTONDOWN, r.left + 1, r.top + 1);
    qk::InjectPointer(WM_LBUTTONUP, r.left + 1, r.top + 1);
    return TRUE;
  }
  if (msg == WM_COMMAND && s) {
    s->commands.push_back(LOWORD(wParam));
    if (LOWORD(wParam) == IDOK) EndDialog(dlg, 7);
    return TRUE;
  }
  return FALSE;
}

TEST_F(WindowTest, ModalDialogsOwnerTakesNoInputAndGetsTheActivationBack) {
  HWND owner = Make(u"Owner", WS_POPUP | WS_VISIBLE);
  MoveWindow(owner, 0, 0, 240, 320, FALSE);
  HWND child = Make(u"child", WS_CHILD | WS_VISIBLE, owner, 5);
  MoveWindow(child, 100, 100, 100, 100, FALSE);
  SetFocus(child);
  Take();
  auto bytes = qk::DialogTemplateBuilder(WS_POPUP, 0, 0, 0, 40, 40, u"Modal")
                   .Control(u"BUTTON", u"OK", IDOK, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0, 30, 14)
                   .Build();
  ModalScript script;
  script.owner = owner;
  script.ownerChild = child;
  INT_PTR result = DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()), owner, ModalProc,
                                           reinterpret_cast<LPARAM>(&script));
  EXPECT_EQ(result, 7);
  EXPECT_FALSE(script.ownerActiveInside);
  EXPECT_EQ(script.tapOwner, nullptr);  // the disabled owner's control took no tap
  EXPECT_NE(script.tapDialog, nullptr);
  EXPECT_EQ(script.commands, std::vector<int>{IDOK});
  // The owner is active again and its control has the focus back.
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_EQ(GetActiveWindow(), owner);
  auto script2 = Take();
  auto at = [&](const std::string& s) { return std::find(script2.begin(), script2.end(), s) - script2.begin(); };
  // Deactivated by the dialog (not recorded by name here), which took the
  // focus from the owner's control, and activated again after it.
  EXPECT_LT(at("child killfocus"), static_cast<long>(script2.size()));
  EXPECT_LT(at("Owner inactive to ?"), at("Owner active from ?"));
  EXPECT_LT(at("Owner active from ?"), static_cast<long>(script2.size()));
  EXPECT_EQ(GetFocus(), owner);
  EXPECT_EQ(qk::InjectPointer(WM_LBUTTONDOWN, 150, 150), child);
  // Keys do not reach a disabled window either.
  SetFocus(child);
  EnableWindow(owner, FALSE);
  SetFocus(child);  // focusing it is allowed; typing into it is not
  qk::PumpMessages();
  keybd_event('Q', 0, 0, 0);
  MSG m;
  EXPECT_FALSE(PeekMessageW(&m, child, WM_KEYDOWN, WM_KEYDOWN, PM_NOREMOVE));
  EnableWindow(owner, TRUE);
  DestroyWindow(owner);
}

// ------------------------------------------------------------ characters and bad handles

std::vector<WPARAM> g_chars;
std::vector<UINT> g_keyOrder;

LRESULT CharProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CHAR) g_chars.push_back(wParam);
  if (msg == WM_KEYDOWN || msg == WM_KEYUP || msg == WM_CHAR) g_keyOrder.push_back(msg);
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

TEST_F(WindowTest, KeyDownsMakeCharactersBackspaceIncluded) {
  g_chars.clear();
  g_keyOrder.clear();
  WNDCLASSW wc{};
  wc.lpfnWndProc = CharProc;
  wc.lpszClassName = u"CharWindow";
  RegisterClassW(&wc);
  HWND w = CreateWindowExW(0, u"CharWindow", u"", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr, nullptr,
                           nullptr);
  SetFocus(w);
  auto type = [](BYTE vk) {
    keybd_event(vk, 0, 0, 0);
    keybd_event(vk, 0, KEYEVENTF_KEYUP, 0);
    qk::PumpMessages();  // the shift state is read as the key-down is translated
  };
  type('A');
  keybd_event(VK_SHIFT, 0, 0, 0);
  type('A');
  type('1');
  keybd_event(VK_SHIFT, 0, KEYEVENTF_KEYUP, 0);
  type(VK_BACK);
  type(VK_SPACE);
  type(VK_LEFT);  // no character
  type('7');
  EXPECT_EQ(g_chars, (std::vector<WPARAM>{u'a', u'A', u'!', 8, u' ', u'7'}));
  // Each character follows its key-down at once.
  ASSERT_GE(g_keyOrder.size(), 3u);
  EXPECT_EQ(g_keyOrder[0], static_cast<UINT>(WM_KEYDOWN));
  EXPECT_EQ(g_keyOrder[1], static_cast<UINT>(WM_CHAR));
  EXPECT_EQ(g_keyOrder[2], static_cast<UINT>(WM_KEYUP));
  DestroyWindow(w);
}

TEST_F(WindowTest, BadHandlesAreRefused) {
  HWND a = Make(u"A", WS_POPUP | WS_VISIBLE);
  HWND bogus = reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(a) + 4000);
  SetLastError(0);
  EXPECT_EQ(SetFocus(bogus), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_EQ(GetFocus(), a);  // unchanged
  MSG m;
  EXPECT_EQ(GetMessageW(&m, bogus, 0, 0), -1);
  DestroyWindow(a);
  EXPECT_EQ(GetMessageW(&m, a, 0, 0), -1);  // gone
}

// ------------------------------------------------------------ threads

struct Worker {
  std::mutex lock;
  std::condition_variable cv;
  HWND window = nullptr;
  bool ready = false;
  bool destroyFirst = false;   // destroy the window, else let the thread end with it
  bool sawSent = false;
  std::atomic<int> handled{0};
};

LRESULT WorkerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_USER + 1) {
    auto* w = reinterpret_cast<Worker*>(GetWindowLongW(hwnd, GWL_USERDATA));
    if (w) ++w->handled;
    return 42;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void RunWorker(Worker* w) {
  HWND hwnd = CreateWindowExW(0, u"WorkerWindow", u"worker", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                              nullptr);
  SetWindowLongW(hwnd, GWL_USERDATA, reinterpret_cast<LONG_PTR>(w));
  {
    std::lock_guard<std::mutex> g(w->lock);
    w->window = hwnd;
    w->ready = true;
  }
  w->cv.notify_all();
  // Waits until the main thread's send is queued here, and leaves it unhandled.
  w->sawSent = qk::WaitForSentMessages(10000);
  if (w->destroyFirst) DestroyWindow(hwnd);
}

TEST_F(WindowTest, WindowsBelongToTheirThreadAndReleaseSendersWhenTheyGo) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = WorkerProc;
  wc.lpszClassName = u"WorkerWindow";
  RegisterClassW(&wc);
  for (bool destroyFirst : {true, false}) {
    SCOPED_TRACE(destroyFirst ? "destroyed by its thread" : "its thread ends");
    Worker w;
    w.destroyFirst = destroyFirst;
    std::thread thread(RunWorker, &w);
    {
      std::unique_lock<std::mutex> g(w.lock);
      ASSERT_TRUE(w.cv.wait_for(g, std::chrono::seconds(10), [&] { return w.ready; }));
    }
    HWND hwnd = w.window;
    ASSERT_TRUE(IsWindow(hwnd));
    // Another thread may neither make a child of the window nor destroy it.
    SetLastError(0);
    EXPECT_EQ(Make(u"child", WS_CHILD, hwnd), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DestroyWindow(hwnd));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(IsWindow(hwnd));
    // A send the window never handles returns once the window is gone.
    EXPECT_EQ(SendMessageW(hwnd, WM_USER + 1, 0, 0), 0);
    thread.join();
    EXPECT_TRUE(w.sawSent);
    EXPECT_EQ(w.handled.load(), 0);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(SendMessageW(hwnd, WM_USER + 1, 0, 0), 0);
  }
}

// ------------------------------------------------------------ popup menus

struct PopupScript {
  std::vector<std::string> steps;  // "tap N" (row N), "tap outside", or a key name
  size_t next = 0;
  int initMenus = 0;
  std::vector<WPARAM> commands;
};
PopupScript* g_popup = nullptr;

LRESULT PopupOwnerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITMENUPOPUP) ++g_popup->initMenus;
  if (msg == WM_COMMAND) g_popup->commands.push_back(wParam);
  if (msg == WM_USER + 9) {
    // Runs inside the menu's loop: the menu is on the screen.
    HWND menu = FindWindowW(u"#32768", nullptr);
    const std::string& step = g_popup->steps[g_popup->next++];
    RECT r{};
    GetWindowRect(menu, &r);
    int rows = 3;
    int rowHeight = (r.bottom - r.top) / rows;  // no separators in the script's menus
    if (step.rfind("tap ", 0) == 0) {
      int x = step == "tap outside" ? r.right + 20 : (r.left + r.right) / 2;
      int y = step == "tap outside" ? r.bottom + 20 : r.top + rowHeight * std::stoi(step.substr(4)) + rowHeight / 2;
      qk::InjectPointer(WM_LBUTTONDOWN, x, y);
      qk::InjectPointer(WM_LBUTTONUP, x, y);
    } else {
      BYTE vk = step == "down" ? VK_DOWN : step == "enter" ? VK_RETURN : VK_ESCAPE;
      keybd_event(vk, 0, 0, 0);
      keybd_event(vk, 0, KEYEVENTF_KEYUP, 0);
    }
    if (g_popup->next < g_popup->steps.size()) PostMessageW(hwnd, WM_USER + 9, 0, 0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

TEST_F(WindowTest, PopupMenusAreChosenByTapOrKeysAndGreyItemsRefuse) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = PopupOwnerProc;
  wc.lpszClassName = u"PopupOwner";
  RegisterClassW(&wc);
  HWND owner = CreateWindowExW(0, u"PopupOwner", u"", WS_POPUP | WS_VISIBLE, 0, 0, 240, 320, nullptr, nullptr,
                               nullptr, nullptr);
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, 100, u"Refresh");
  AppendMenuW(menu, MF_STRING | MF_GRAYED, 101, u"Delete");
  AppendMenuW(menu, MF_STRING, 102, u"Properties");
  struct Case {
    std::vector<std::string> steps;
    UINT chosen;
  } cases[] = {
      {{"tap 2"}, 102},                       // a tap on an item
      {{"tap 1", "tap outside"}, 0},          // a grey item does nothing; a tap beside closes
      {{"down", "down", "enter"}, 102},       // the keys skip the grey item
      {{"down", "escape"}, 0},
  };
  for (auto& c : cases) {
    PopupScript script;
    script.steps = c.steps;
    g_popup = &script;
    PostMessageW(owner, WM_USER + 9, 0, 0);
    UINT chosen = static_cast<UINT>(TrackPopupMenuEx(menu, TPM_RETURNCMD, 10, 10, owner, nullptr));
    EXPECT_EQ(chosen, c.chosen);
    EXPECT_EQ(script.initMenus, 1);
    EXPECT_EQ(FindWindowW(u"#32768", nullptr), nullptr);  // closed
    qk::PumpMessages();
  }
  // Without TPM_RETURNCMD the choice arrives as a command.
  PopupScript script;
  script.steps = {"tap 0"};
  g_popup = &script;
  PostMessageW(owner, WM_USER + 9, 0, 0);
  EXPECT_TRUE(TrackPopupMenuEx(menu, 0, 10, 10, owner, nullptr));
  qk::PumpMessages();
  EXPECT_EQ(script.commands, (std::vector<WPARAM>{100}));
  g_popup = nullptr;
  DestroyMenu(menu);
  DestroyWindow(owner);
}

}  // namespace
