// The framework's window classes: message maps and their handler
// signatures, command routing through a frame with update handlers,
// notifications reflected to controls, modal and child dialogs with data
// exchange and the dialog manager's keys, and the application's message
// loop with idle processing.
#include "user/user.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/afx.h"
#include "support/device_fixture.h"

namespace {

std::vector<std::string> g_log;

void Log(const std::string& s) { g_log.push_back(s); }

bool Logged(const std::string& s) {
  for (auto& l : g_log)
    if (l == s) return true;
  return false;
}

UINT g_registered = 0;

// A base window whose map the derived class extends and overrides.
class CBaseWnd : public CWnd {
 public:
  void OnSize(UINT type, int cx, int cy) {
    Log("base size " + std::to_string(cx) + "x" + std::to_string(cy));
    CWnd::OnSize(type, cx, cy);
  }
  void OnTimer(UINT_PTR id) { Log("base timer " + std::to_string(id)); }
  void OnBaseCommand() { Log("base command"); }

 protected:
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBaseWnd, CWnd)
  ON_WM_SIZE()
  ON_WM_TIMER()
  ON_COMMAND(500, OnBaseCommand)
  ON_COMMAND(501, OnBaseCommand)
END_MESSAGE_MAP()

class CTestWnd : public CBaseWnd {
 public:
  int OnCreate(LPCREATESTRUCT cs) {
    Log(std::string("create ") + (cs->lpszName && cs->lpszName[0] == u'T' ? "title" : "?"));
    return CBaseWnd::OnCreate(cs);
  }
  void OnTimer(UINT_PTR id) { Log("derived timer " + std::to_string(id)); }
  void OnLButtonDown(UINT flags, CPoint point) {
    Log("down " + std::to_string(flags) + " " + std::to_string(point.x) + "," + std::to_string(point.y));
  }
  void OnKeyDown(UINT ch, UINT repeat, UINT) { Log("key " + std::to_string(ch) + " " + std::to_string(repeat)); }
  void OnActivate(UINT state, CWnd* other, BOOL minimized) {
    Log("activate " + std::to_string(state) + (other ? " other" : " none") + (minimized ? " min" : ""));
    CWnd::OnActivate(state, other, minimized);
  }
  LRESULT OnPrivate(WPARAM w, LPARAM l) { return static_cast<LRESULT>(w * 100 + l); }
  LRESULT OnRegistered(WPARAM w, LPARAM) { return static_cast<LRESULT>(w + 1); }
  void OnDerivedCommand() { Log("derived command"); }
  void OnDestroy() {
    Log(std::string("destroy ") + (::IsWindow(m_hWnd) ? "window" : "gone"));
    CBaseWnd::OnDestroy();
  }
  void PostNcDestroy() override { Log("post nc destroy"); }

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_NCCREATE) Log("nccreate");
    return CBaseWnd::WindowProc(message, wParam, lParam);
  }
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_USER + 7) return 77;  // what the map leaves reaches here
    return CBaseWnd::DefWindowProc(message, wParam, lParam);
  }

 protected:
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestWnd, CBaseWnd)
  ON_WM_CREATE()
  ON_WM_TIMER()
  ON_WM_LBUTTONDOWN()
  ON_WM_KEYDOWN()
  ON_WM_ACTIVATE()
  ON_WM_DESTROY()
  ON_MESSAGE(WM_USER + 5, OnPrivate)
  ON_REGISTERED_MESSAGE(g_registered, OnRegistered)
  ON_COMMAND(501, OnDerivedCommand)
END_MESSAGE_MAP()

class FrameworkTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    qtest::DeviceTest::SetUp();
    g_log.clear();
    qk::ClearQuit();
    g_registered = RegisterWindowMessageW(u"Quillet.Test.Framework");
  }
  void TearDown() override {
    qk::SetMessageBoxHook(nullptr);
    qk::SetPopupMenuHook(nullptr);
    qk::PumpMessages();
    qk::ClearQuit();
    qtest::DeviceTest::TearDown();
  }
};

TEST_F(FrameworkTest, MessageMapsDispatchWithTheirSignaturesDerivedEntriesFirst) {
  CTestWnd wnd;
  ASSERT_TRUE(wnd.CreateEx(0, nullptr, u"Title", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr, nullptr));
  ASSERT_TRUE(::IsWindow(wnd.m_hWnd));
  EXPECT_EQ(CWnd::FromHandlePermanent(wnd.m_hWnd), &wnd);
  // The object was attached before the first message.
  ASSERT_GE(g_log.size(), 3u);
  EXPECT_EQ(g_log[0], "nccreate");
  EXPECT_EQ(g_log[1], "create title");
  EXPECT_TRUE(Logged("base size 200x100"));
  EXPECT_TRUE(Logged("activate 1 none"));  // shown, so activated

  g_log.clear();
  wnd.SendMessage(WM_TIMER, 3);
  wnd.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(12, static_cast<WORD>(-4)));
  wnd.SendMessage(WM_KEYDOWN, VK_DOWN, MAKELPARAM(2, 0));
  EXPECT_EQ(wnd.SendMessage(WM_USER + 5, 4, 2), 402);
  EXPECT_EQ(wnd.SendMessage(g_registered, 9), 10);
  EXPECT_EQ(wnd.SendMessage(WM_USER + 7), 77);
  wnd.SendMessage(WM_COMMAND, 500);
  wnd.SendMessage(WM_COMMAND, 501);
  std::vector<std::string> expected = {"derived timer 3", "down 1 12,-4", "key 40 2", "base command",
                                       "derived command"};
  EXPECT_EQ(g_log, expected);
  // A handler that calls its base reaches the window's default procedure.
  wnd.SetWindowText(u"Renamed");
  CString text;
  wnd.GetWindowText(text);
  EXPECT_EQ(text, CString(u"Renamed"));

  g_log.clear();
  HWND hwnd = wnd.m_hWnd;
  EXPECT_TRUE(wnd.DestroyWindow());
  EXPECT_FALSE(::IsWindow(hwnd));
  EXPECT_EQ(wnd.m_hWnd, nullptr);
  EXPECT_EQ(CWnd::FromHandlePermanent(hwnd), nullptr);
  // IsWindow holds inside WM_DESTROY; the object lets go after WM_NCDESTROY.
  expected = {"activate 0 none", "destroy window", "post nc destroy"};
  EXPECT_EQ(g_log, expected);
}

TEST_F(FrameworkTest, TemporaryObjectsWrapForeignWindowsUntilIdleTime) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.lpszClassName = u"PlainFrameworkTest";
  RegisterClassW(&wc);
  HWND plain = CreateWindowExW(0, u"PlainFrameworkTest", u"plain", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                               nullptr);
  CWnd* temp = CWnd::FromHandle(plain);
  ASSERT_NE(temp, nullptr);
  EXPECT_EQ(temp->m_hWnd, plain);
  EXPECT_EQ(CWnd::FromHandle(plain), temp);
  EXPECT_EQ(CWnd::FromHandlePermanent(plain), nullptr);
  CString text;
  temp->GetWindowText(text);
  EXPECT_EQ(text, CString(u"plain"));
  // Subclassing routes the existing window's messages through a map.
  CTestWnd sub;
  ASSERT_TRUE(sub.SubclassWindow(plain));
  EXPECT_EQ(CWnd::FromHandle(plain), &sub);
  EXPECT_EQ(::SendMessageW(plain, WM_USER + 5, 1, 1), 101);
  EXPECT_EQ(sub.UnsubclassWindow(), plain);
  EXPECT_EQ(::SendMessageW(plain, WM_USER + 5, 1, 1), 0);
  CWnd::DeleteTempMap();
  DestroyWindow(plain);
}

// ------------------------------------------------------------ command routing

class CMemberWnd : public CWnd {
 public:
  bool busy = false;
  void OnRefresh() { Log("member refresh"); }
  void OnUpdateRefresh(CCmdUI* ui) { ui->Enable(!busy); }
  void OnUpdateProperties(CCmdUI* ui) {
    ui->Enable(TRUE);
    ui->SetCheck(1);
    ui->SetText(u"Properties...");
  }
  void OnProperties() { Log("member properties"); }

 protected:
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CMemberWnd, CWnd)
  ON_COMMAND(32793, OnRefresh)
  ON_UPDATE_COMMAND_UI(32793, OnUpdateRefresh)
  ON_COMMAND(32827, OnProperties)
  ON_UPDATE_COMMAND_UI(32827, OnUpdateProperties)
END_MESSAGE_MAP()

class CTestFrame : public CFrameWnd {
 public:
  CMemberWnd member;
  bool* deleted = nullptr;
  ~CTestFrame() override {
    if (deleted) *deleted = true;
  }
  int OnCreate(LPCREATESTRUCT cs) {
    if (CFrameWnd::OnCreate(cs) == -1) return -1;
    if (!member.Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE, CRect(0, 0, 0, 0), this, AFX_IDW_PANE_FIRST))
      return -1;
    return 0;
  }
  BOOL OnCmdMsg(UINT id, int code, void* extra, void* info) override {
    // The member window sees every command first.
    if (member.m_hWnd && member.OnCmdMsg(id, code, extra, info)) return TRUE;
    return CFrameWnd::OnCmdMsg(id, code, extra, info);
  }
  void OnExit() { Log("frame exit"); }

 protected:
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestFrame, CFrameWnd)
  ON_WM_CREATE()
  ON_COMMAND(32852, OnExit)
END_MESSAGE_MAP()

class CTestApp : public CWinApp {
 public:
  CTestApp() : CWinApp(u"FrameworkTest") {}
  void OnAbout() { Log("app about"); }
  BOOL InitInstance() override {
    auto* frame = new CTestFrame;
    frame->deleted = &frameDeleted;
    if (!frame->CreateEx(0, nullptr, u"Quillet", WS_POPUP | WS_VISIBLE, 0, 0, 240, 320, nullptr, nullptr)) return FALSE;
    m_pMainWnd = frame;
    return TRUE;
  }
  BOOL OnIdle(LONG count) override {
    idleCounts.push_back(count);
    BOOL more = CWinApp::OnIdle(count);
    if (!more && ++idleRounds == 2 && m_pMainWnd) m_pMainWnd->PostMessage(WM_CLOSE);
    if (idleRounds == 1 && !more) m_pMainWnd->PostMessage(WM_COMMAND, 32852);
    return more;
  }
  int ExitInstance() override {
    Log("exit instance");
    return CWinApp::ExitInstance() + 40;
  }
  std::vector<LONG> idleCounts;
  int idleRounds = 0;
  bool frameDeleted = false;

 protected:
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestApp, CWinApp)
  ON_COMMAND(57664, OnAbout)
END_MESSAGE_MAP()

TEST_F(FrameworkTest, FrameRoutesCommandsToItsMemberThenItselfThenTheApplication) {
  CTestApp app;
  auto* frame = new CTestFrame;
  ASSERT_TRUE(frame->CreateEx(0, nullptr, u"Quillet", WS_POPUP | WS_VISIBLE, 0, 0, 240, 320, nullptr, nullptr));
  app.m_pMainWnd = frame;
  // The pane fills the frame.
  CRect pane;
  frame->member.GetWindowRect(&pane);
  EXPECT_EQ(pane, CRect(0, 0, 240, 320));

  frame->SendMessage(WM_COMMAND, 32793);  // soft key: the member's
  frame->SendMessage(WM_COMMAND, 32852);  // the frame's own
  frame->SendMessage(WM_COMMAND, 57664);  // the application's
  frame->member.busy = true;
  frame->SendMessage(WM_COMMAND, 32793);  // disabled by its update handler: not run
  std::vector<std::string> expected = {"member refresh", "frame exit", "app about"};
  EXPECT_EQ(g_log, expected);

  // A popup menu's items take their state from the update handlers; an item
  // nobody handles is greyed.
  CMenu popup;
  ASSERT_TRUE(popup.CreatePopupMenu());
  popup.AppendMenu(MF_STRING, 32793, u"Refresh");
  popup.AppendMenu(MF_SEPARATOR);
  popup.AppendMenu(MF_STRING, 32827, u"Properties");
  popup.AppendMenu(MF_STRING, 40000, u"Nobody");
  frame->SendMessage(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup.m_hMenu), 0);
  EXPECT_TRUE(popup.GetMenuState(32793, MF_BYCOMMAND) & MF_GRAYED);
  EXPECT_EQ(popup.GetMenuState(32827, MF_BYCOMMAND) & (MF_GRAYED | MF_CHECKED), static_cast<UINT>(MF_CHECKED));
  CString text;
  popup.GetMenuString(32827, text, MF_BYCOMMAND);
  EXPECT_EQ(text, CString(u"Properties..."));
  EXPECT_TRUE(popup.GetMenuState(40000, MF_BYCOMMAND) & MF_GRAYED);

  // A popup chosen by the user posts the command to its owner, routed as above.
  g_log.clear();
  frame->member.busy = false;
  qk::SetPopupMenuHook([](HMENU, HWND) -> UINT { return 32827; });
  EXPECT_TRUE(popup.TrackPopupMenu(TPM_LEFTALIGN, 10, 10, frame));
  qk::SetPopupMenuHook([](HMENU, HWND) -> UINT { return 40000; });  // grey: cannot be chosen
  EXPECT_FALSE(popup.TrackPopupMenu(TPM_LEFTALIGN, 10, 10, frame));
  qk::PumpMessages();
  expected = {"member properties"};
  EXPECT_EQ(g_log, expected);

  bool deleted = false;
  frame->deleted = &deleted;
  frame->DestroyWindow();
  EXPECT_TRUE(deleted);  // a frame deletes itself with its window
  EXPECT_EQ(app.m_pMainWnd, nullptr);
  EXPECT_TRUE(qk::QuitPosted());  // the main window's end ends the loop
}

TEST_F(FrameworkTest, ApplicationRunsItsLoopWithIdleProcessingUntilTheMainWindowCloses) {
  CTestApp app;
  int code = AfxWinMain(nullptr, u"", SW_SHOW);
  EXPECT_EQ(code, 40);  // the quit code 0, through ExitInstance
  EXPECT_TRUE(app.frameDeleted);
  // Each idle round counts up from 0 until OnIdle has nothing more to do.
  ASSERT_GE(app.idleCounts.size(), 4u);
  EXPECT_EQ(app.idleCounts[0], 0);
  EXPECT_EQ(app.idleCounts[1], 1);
  EXPECT_EQ(app.idleCounts[2], 0);  // the posted command was a new message: idle again
  EXPECT_TRUE(Logged("frame exit"));
  EXPECT_EQ(g_log.back(), "exit instance");
}

// A program's own classes: a frame class copied from the framework's under
// a name of the program's, found by other programs as "WCE_" + that name,
// and a dialog class copied from the system's dialog class.
class CNamedFrame : public CFrameWnd {
 public:
  BOOL PreCreateWindow(CREATESTRUCT& cs) override {
    if (!CFrameWnd::PreCreateWindow(cs)) return FALSE;
    WNDCLASSW wc{};
    if (!::GetClassInfoW(AfxGetInstanceHandle(), cs.lpszClass, &wc)) return FALSE;
    wc.lpszClassName = u"QuilletMainWnd";
    if (!AfxRegisterClass(&wc)) return FALSE;
    cs.lpszClass = u"QuilletMainWnd";
    return TRUE;
  }
};

TEST_F(FrameworkTest, ProgramClassesAreRegisteredUnderTheFrameworksNames) {
  auto* frame = new CNamedFrame;
  ASSERT_TRUE(frame->LoadFrame(128, WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE));
  EXPECT_EQ(FindWindowW(u"WCE_QuilletMainWnd", nullptr), frame->m_hWnd);
  WCHAR name[64];
  GetClassNameW(frame->m_hWnd, name, 64);
  EXPECT_EQ(std::u16string(name), u"WCE_QuilletMainWnd");
  frame->DestroyWindow();

  WNDCLASSW wc{};
  ASSERT_TRUE(GetClassInfoW(nullptr, u"Dialog", &wc));
  wc.lpszClassName = u"QuilletDialog";
  RegisterClassW(&wc);
  auto bytes = qk::DialogTemplateBuilder(WS_POPUP, 0, 0, 0, 100, 50, u"Named", u"QuilletDialog")
                   .Control(u"BUTTON", u"OK", IDOK, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 5, 5, 40, 14)
                   .Build();
  struct CNamedDlg : CDialog {
    std::u16string cls;
    BOOL OnInitDialog() override {
      WCHAR n[64];
      ::GetClassNameW(m_hWnd, n, 64);
      cls = n;
      PostMessage(WM_COMMAND, IDOK);
      return CDialog::OnInitDialog();
    }
  } dlg;
  dlg.InitModalIndirect(reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()));
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.cls, u"QuilletDialog");
}

// ------------------------------------------------------------ notifications

constexpr UINT kNotifyPressed = static_cast<UINT>(-50);

class CReflectingButton : public CButton {
 public:
  void OnClickedReflected() { Log("button saw its click"); }
  void OnReflectedNotify(NMHDR* header, LRESULT* result) {
    Log("button saw notify " + std::to_string(static_cast<int>(header->code)));
    *result = 1;
  }

 protected:
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CReflectingButton, CButton)
  ON_CONTROL_REFLECT(BN_CLICKED, OnClickedReflected)
  ON_NOTIFY_REFLECT(kNotifyPressed, OnReflectedNotify)
END_MESSAGE_MAP()

class CNotifyParent : public CWnd {
 public:
  void OnOtherClicked() { Log("parent saw click"); }
  void OnOtherNotify(NMHDR*, LRESULT* result) {
    Log("parent saw notify");
    *result = 5;
  }

 protected:
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CNotifyParent, CWnd)
  ON_BN_CLICKED(11, OnOtherClicked)
  ON_BN_CLICKED(12, OnOtherClicked)
  ON_NOTIFY(kNotifyPressed, 12, OnOtherNotify)
END_MESSAGE_MAP()

TEST_F(FrameworkTest, NotificationsAreReflectedToTheControlBeforeTheParentsMap) {
  CNotifyParent parent;
  ASSERT_TRUE(parent.CreateEx(0, nullptr, u"", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr));
  CReflectingButton reflecting;
  ASSERT_TRUE(reflecting.Create(u"A", WS_CHILD | BS_PUSHBUTTON, CRect(0, 0, 10, 10), &parent, 11));
  HWND plain = CreateWindowExW(0, u"BUTTON", u"B", WS_CHILD | BS_PUSHBUTTON, 10, 0, 10, 10, parent.m_hWnd,
                               reinterpret_cast<HMENU>(12), nullptr, nullptr);
  reflecting.SendMessage(BM_CLICK);
  ::SendMessageW(plain, BM_CLICK, 0, 0);
  NMHDR toReflecting{reflecting.m_hWnd, 11, kNotifyPressed};
  EXPECT_EQ(parent.SendMessage(WM_NOTIFY, 11, reinterpret_cast<LPARAM>(&toReflecting)), 1);
  NMHDR toPlain{plain, 12, kNotifyPressed};
  EXPECT_EQ(parent.SendMessage(WM_NOTIFY, 12, reinterpret_cast<LPARAM>(&toPlain)), 5);
  std::vector<std::string> expected = {"button saw its click", "parent saw click", "button saw notify -50",
                                       "parent saw notify"};
  EXPECT_EQ(g_log, expected);
  parent.DestroyWindow();
  EXPECT_EQ(reflecting.m_hWnd, nullptr);
}

// ------------------------------------------------------------ dialogs

constexpr int kName = 1001, kCount = 1002, kFull = 1003, kNotes = 1004;

std::vector<DWORD> EditorTemplate() {
  constexpr DWORD v = WS_VISIBLE | WS_TABSTOP;
  return qk::DialogTemplateBuilder(WS_POPUP | WS_CAPTION, 0, 0, 0, 160, 120, u"Editor")
      .Control(u"EDIT", u"", kName, v | WS_GROUP, 5, 5, 100, 12)
      .Control(u"EDIT", u"", kCount, v | ES_NUMBER, 5, 20, 100, 12)
      .Control(u"BUTTON", u"Full", kFull, v | BS_AUTOCHECKBOX, 5, 35, 100, 12)
      .Control(u"EDIT", u"", kNotes, v | ES_MULTILINE | ES_WANTRETURN, 5, 50, 100, 30)
      .Control(u"BUTTON", u"OK", IDOK, v | BS_DEFPUSHBUTTON, 5, 90, 40, 14)
      .Control(u"BUTTON", u"Cancel", IDCANCEL, v, 50, 90, 40, 14)
      .Build();
}

class CEditorDlg : public CDialog {
 public:
  explicit CEditorDlg(LPCDLGTEMPLATE t, CWnd* parent) { InitModalIndirect(t, parent); }
  CString name = u"Channel";
  int count = 7;
  int full = 1;
  CEdit notes;
  CString notesText;
  std::vector<UINT> keys;  // what the script types, one key at a time
  size_t next = 0;
  std::vector<std::string> focusSeen;
  bool ownerDisabledInside = false;

  void DoDataExchange(CDataExchange* dx) override {
    DDX_Control(dx, kNotes, notes);
    DDX_Text(dx, kName, name);
    DDX_Text(dx, kCount, count);
    DDX_Check(dx, kFull, full);
    DDX_Text(dx, kNotes, notesText);
  }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    PostMessage(WM_USER + 1);
    return TRUE;
  }
  BOOL PreTranslateMessage(MSG* msg) override {
    // Left becomes Up before the dialog manager sees it.
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_LEFT) msg->wParam = VK_UP;
    return CDialog::PreTranslateMessage(msg);
  }
  // Types the next key once the one before has been handled.
  LRESULT OnTypeKey(WPARAM, LPARAM) {
    if (next >= keys.size()) return 0;
    if (next == 0) ownerDisabledInside = m_pParentWnd && !m_pParentWnd->IsWindowEnabled();
    CWnd* focus = GetFocus();
    focusSeen.push_back(focus ? std::to_string(focus->GetDlgCtrlID()) : "none");
    BYTE key = static_cast<BYTE>(keys[next++]);
    keybd_event(key, 0, 0, 0);
    keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
    PostMessage(WM_USER + 1);
    return 0;
  }
  void OnOK() override {
    Log("ok");
    CDialog::OnOK();
  }
  void OnCancel() override {
    Log("cancel");
    CDialog::OnCancel();
  }

 protected:
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CEditorDlg, CDialog)
  ON_MESSAGE(WM_USER + 1, OnTypeKey)
END_MESSAGE_MAP()

TEST_F(FrameworkTest, ModalDialogExchangesDataAndTakesTheDialogKeys) {
  CTestWnd owner;
  ASSERT_TRUE(owner.CreateEx(0, nullptr, u"Owner", WS_POPUP | WS_VISIBLE, 0, 0, 240, 320, nullptr, nullptr));
  auto bytes = EditorTemplate();
  CEditorDlg dlg(reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()), &owner);
  // Tab runs over the tab stops; in the multi-line notes a letter, Enter
  // and an arrow (Left, turned into Up by the dialog) stay with the edit;
  // Tab leaves it for OK, whose Enter ends the dialog.
  dlg.keys = {VK_TAB, VK_TAB, VK_TAB, 'X', VK_RETURN, VK_LEFT, VK_TAB, VK_RETURN};
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_TRUE(dlg.ownerDisabledInside);
  EXPECT_TRUE(owner.IsWindowEnabled());
  EXPECT_EQ(dlg.m_hWnd, nullptr);
  EXPECT_EQ(dlg.notes.m_hWnd, nullptr);  // detached with its window
  std::vector<std::string> focus = {std::to_string(kName),  std::to_string(kCount), std::to_string(kFull),
                                    std::to_string(kNotes), std::to_string(kNotes), std::to_string(kNotes),
                                    std::to_string(kNotes), std::to_string(IDOK)};
  EXPECT_EQ(dlg.focusSeen, focus);
  // OK ended it; then the owner was activated again.
  auto ok = std::find(g_log.begin(), g_log.end(), "ok");
  ASSERT_NE(ok, g_log.end());
  EXPECT_NE(std::find(ok, g_log.end(), "activate 1 other"), g_log.end());
  EXPECT_EQ(dlg.name, CString(u"Channel"));
  EXPECT_EQ(dlg.count, 7);
  EXPECT_EQ(dlg.full, 1);
  EXPECT_EQ(dlg.notesText, CString(u"x\r\n"));  // the multi-line edit wanted Enter, and kept it
  // The owner has the activation back.
  EXPECT_EQ(::GetActiveWindow(), owner.m_hWnd);
  owner.DestroyWindow();
}

TEST_F(FrameworkTest, DataExchangeRefusesTextThatIsNoNumberAndEscapeCancels) {
  auto bytes = EditorTemplate();
  std::vector<std::u16string> boxes;
  qk::SetMessageBoxHook([&](HWND, const std::u16string& text, const std::u16string&, UINT) {
    boxes.push_back(text);
    return IDOK;
  });
  struct CBadCountDlg : CEditorDlg {
    using CEditorDlg::CEditorDlg;
    BOOL OnInitDialog() override {
      PostMessage(WM_COMMAND, IDOK);  // refused: the count is no number
      CEditorDlg::OnInitDialog();     // then the keys: Escape
      SetDlgItemText(kCount, u"12x");
      return TRUE;
    }
  } dlg(reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()), nullptr);
  dlg.keys = {VK_ESCAPE};
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], u"Please enter an integer.");
  std::vector<std::string> expected = {"ok", "cancel"};
  EXPECT_EQ(g_log, expected);
  EXPECT_EQ(dlg.count, 7);  // unchanged
  ASSERT_EQ(dlg.focusSeen.size(), 1u);
  EXPECT_EQ(dlg.focusSeen[0], std::to_string(kCount));  // the failed control has the focus
}

}  // namespace

namespace {

// A user-interface thread of its own: its frame, its loop, its end.
class CUiThread : public CWinThread {
 public:
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE idled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HWND frameWindow = nullptr;
  bool sawItselfAsCurrent = false;
  int idleCalls = 0;
  bool frameDeleted = false;
  ~CUiThread() override {
    CloseHandle(ready);
    CloseHandle(idled);
  }
  BOOL InitInstance() override {
    sawItselfAsCurrent = AfxGetThread() == this;
    auto* frame = new CTestFrame;
    frame->deleted = &frameDeleted;
    if (!frame->CreateEx(0, nullptr, u"Worker", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr)) return FALSE;
    m_pMainWnd = frame;
    frameWindow = frame->m_hWnd;
    SetEvent(ready);
    return TRUE;
  }
  BOOL OnIdle(LONG count) override {
    ++idleCalls;
    SetEvent(idled);
    return CWinThread::OnIdle(count);
  }
  int ExitInstance() override { return CWinThread::ExitInstance() + 7; }
};

TEST_F(FrameworkTest, UserInterfaceThreadsRunTheirOwnLoopUntilTheirMainWindowGoes) {
  auto* thread = new CUiThread;
  thread->m_bAutoDelete = FALSE;
  ASSERT_TRUE(thread->CreateThread());
  ASSERT_EQ(WaitForSingleObject(thread->ready, 10000), WAIT_OBJECT_0);
  HWND frame = thread->frameWindow;
  EXPECT_TRUE(IsWindow(frame));
  // The frame is the worker's: this thread may not destroy it, only ask.
  EXPECT_FALSE(DestroyWindow(frame));
  EXPECT_EQ(SendMessageW(frame, WM_COMMAND, 32852, 0), 1);  // routed on its own thread
  // The loop idles once its queue is empty.
  EXPECT_EQ(WaitForSingleObject(thread->idled, 10000), WAIT_OBJECT_0);
  PostMessageW(frame, WM_CLOSE, 0, 0);
  ASSERT_EQ(WaitForSingleObject(thread->m_hThread, 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(thread->m_hThread, &code);
  EXPECT_EQ(code, 7u);  // quit code 0 through ExitInstance
  EXPECT_TRUE(thread->sawItselfAsCurrent);
  EXPECT_GE(thread->idleCalls, 1);
  EXPECT_TRUE(thread->frameDeleted);
  EXPECT_FALSE(IsWindow(frame));
  EXPECT_TRUE(Logged("frame exit"));
  delete thread;
}

}  // namespace
