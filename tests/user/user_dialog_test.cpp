// Dialogs from binary templates (in memory and from the program's
// resources), modal and modeless, and the standard controls' state and
// notifications.
#include <gtest/gtest.h>

#include <vector>

#include "controls/commctrl.h"
#include "kernel/kernel.h"
#include "kernel/resource.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "user/dialog.h"

namespace {

constexpr int kEdit = 1001, kCheck = 1002, kRadioA = 1003, kRadioB = 1004, kList = 1005, kCombo = 1006;

std::vector<DWORD> SampleTemplate(DWORD style = WS_POPUP | WS_CAPTION) {
  return qk::DialogTemplateBuilder(style, 0, 10, 20, 160, 100, u"Channel")
      .Font(9, u"Tahoma")
      .Control(u"EDIT", u"", kEdit, WS_TABSTOP | WS_BORDER, 5, 5, 100, 12)
      .Control(u"BUTTON", u"Full text", kCheck, BS_AUTOCHECKBOX | WS_TABSTOP, 5, 20, 80, 10)
      .Control(u"BUTTON", u"A", kRadioA, BS_AUTORADIOBUTTON | WS_GROUP, 5, 32, 40, 10)
      .Control(u"BUTTON", u"B", kRadioB, BS_AUTORADIOBUTTON, 50, 32, 40, 10)
      .Control(u"LISTBOX", u"", kList, LBS_SORT, 5, 45, 70, 30)
      .Control(u"COMBOBOX", u"", kCombo, CBS_DROPDOWNLIST, 80, 45, 70, 30)
      .Control(u"BUTTON", u"OK", IDOK, BS_DEFPUSHBUTTON, 40, 80, 40, 14)
      .Control(u"BUTTON", u"Cancel", IDCANCEL, BS_PUSHBUTTON, 90, 80, 40, 14)
      .Build();
}

struct Outcome {
  std::u16string text;
  UINT checked = 0;
  std::vector<WPARAM> commands;
  LPARAM initParam = 0;
  bool quitInside = false;
  bool ownerEnabledInside = true;
};

INT_PTR SampleProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* out = reinterpret_cast<Outcome*>(GetWindowLongW(dlg, DWL_USER));
  switch (msg) {
    case WM_INITDIALOG:
      out = reinterpret_cast<Outcome*>(lParam);
      SetWindowLongW(dlg, DWL_USER, lParam);
      out->initParam = lParam;
      SetDlgItemTextW(dlg, kEdit, u"http://feeds.example/rss");
      if (out->quitInside) {
        PostQuitMessage(4);
        return TRUE;
      }
      // What a user would do: tick the box, then press OK.
      PostMessageW(GetDlgItem(dlg, kCheck), BM_CLICK, 0, 0);
      PostMessageW(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) != kEdit) out->commands.push_back(wParam);
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        out->ownerEnabledInside = IsWindowEnabled(GetParent(dlg)) != FALSE;
        WCHAR text[128];
        GetDlgItemTextW(dlg, kEdit, text, 128);
        out->text = text;
        out->checked = IsDlgButtonChecked(dlg, kCheck);
        EndDialog(dlg, LOWORD(wParam));
      }
      return TRUE;
    default:
      return FALSE;
  }
}

LRESULT PlainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) { return DefWindowProcW(hwnd, msg, wParam, lParam); }

class DialogTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    qtest::DeviceTest::SetUp();
    InitCommonControls();  // the standard control classes
    qk::ClearQuit();
    owner_ = qtest::CreateHostWindow(u"DialogOwner", PlainProc, 100, 100, u"", WS_VISIBLE);
  }
  void TearDown() override {
    DestroyWindow(owner_);
    qk::ClearResources();
    qtest::DeviceTest::TearDown();
  }
  HWND owner_ = nullptr;
};

TEST_F(DialogTest, ModalDialogRunsUntilEndDialogWithItsOwnerDisabled) {
  auto bytes = SampleTemplate();
  Outcome out;
  INT_PTR result = DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()), owner_,
                                           SampleProc, reinterpret_cast<LPARAM>(&out));
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(out.initParam, reinterpret_cast<LPARAM>(&out));
  EXPECT_EQ(out.text, u"http://feeds.example/rss");
  EXPECT_EQ(out.checked, static_cast<UINT>(BST_CHECKED));
  ASSERT_EQ(out.commands.size(), 2u);
  EXPECT_EQ(out.commands[0], MAKEWPARAM(kCheck, BN_CLICKED));
  EXPECT_EQ(out.commands[1], MAKEWPARAM(IDOK, BN_CLICKED));
  EXPECT_FALSE(out.ownerEnabledInside);
  EXPECT_TRUE(IsWindowEnabled(owner_));  // given back afterwards
}

TEST_F(DialogTest, QuitInsideAModalDialogEndsItAndReachesTheOuterLoop) {
  auto bytes = SampleTemplate();
  Outcome out;
  out.quitInside = true;
  EXPECT_EQ(DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()), owner_, SampleProc,
                                    reinterpret_cast<LPARAM>(&out)),
            0);
  int code = 0;
  EXPECT_TRUE(qk::QuitPosted(&code));
  EXPECT_EQ(code, 4);
}

TEST_F(DialogTest, ModelessDialogFromResourcesWithControlsInDialogUnits) {
  auto bytes = SampleTemplate(WS_CHILD | WS_VISIBLE);
  qk::ResourceEntry entry{nullptr, 5, 101, nullptr, bytes.data(), bytes.size() * sizeof(DWORD)};
  qk::RegisterResources(nullptr, &entry, 1);
  qk::SetDialogBaseUnits(12, 26);
  Outcome out;
  out.quitInside = false;
  HWND dlg = CreateDialogParamW(nullptr, MAKEINTRESOURCEW(101), owner_, SampleProc, reinterpret_cast<LPARAM>(&out));
  ASSERT_NE(dlg, nullptr);
  EXPECT_EQ(GetParent(dlg), owner_);
  EXPECT_TRUE(IsWindowVisible(dlg));
  WCHAR cls[32];
  GetClassNameW(GetDlgItem(dlg, kList), cls, 32);
  EXPECT_EQ(std::u16string(cls), u"LISTBOX");
  RECT r;
  GetClientRect(dlg, &r);
  EXPECT_EQ(r.right, 160 * 12 / 4);
  EXPECT_EQ(r.bottom, 100 * 26 / 8);
  GetClientRect(GetDlgItem(dlg, kEdit), &r);
  RECT units{0, 0, 100, 12};
  MapDialogRect(dlg, &units);
  EXPECT_EQ(r.right, units.right);
  EXPECT_EQ(r.bottom, units.bottom);
  // The posted clicks are handled by whoever pumps the thread.
  qk::PumpMessages();
  EXPECT_EQ(out.checked, static_cast<UINT>(BST_CHECKED));
  EXPECT_FALSE(IsWindowVisible(dlg));  // EndDialog hides a modeless dialog
  EXPECT_TRUE(DestroyWindow(dlg));
  EXPECT_EQ(CreateDialogParamW(nullptr, MAKEINTRESOURCEW(999), owner_, SampleProc, 0), nullptr);
  // A resource template cut short is refused, not read past its end.
  auto cut = SampleTemplate();
  qk::ResourceEntry broken{nullptr, 5, 102, nullptr, cut.data(), cut.size() * sizeof(DWORD) - 10};
  qk::RegisterResources(nullptr, &broken, 1);
  EXPECT_EQ(CreateDialogParamW(nullptr, MAKEINTRESOURCEW(102), owner_, SampleProc, 0), nullptr);
}

struct Notes {
  std::vector<WPARAM> commands;
};
INT_PTR NotesProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    SetWindowLongW(dlg, DWL_USER, lParam);
    return FALSE;
  }
  if (msg == WM_COMMAND) {
    reinterpret_cast<Notes*>(GetWindowLongW(dlg, DWL_USER))->commands.push_back(wParam);
    return TRUE;
  }
  return FALSE;
}

TEST_F(DialogTest, StandardControlsKeepStateAndNotify) {
  auto bytes = SampleTemplate();
  Notes notes;
  HWND dlg = CreateDialogIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()), owner_, NotesProc,
                                        reinterpret_cast<LPARAM>(&notes));
  ASSERT_NE(dlg, nullptr);
  HWND edit = GetDlgItem(dlg, kEdit);
  SetWindowTextW(edit, u"feed");
  SendMessageW(edit, EM_SETSEL, 4, 4);
  SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(u"s.xml"));
  SendMessageW(edit, EM_SETSEL, 0, 1);
  SendMessageW(edit, WM_CHAR, u'F', 0);
  WCHAR text[64];
  GetDlgItemTextW(dlg, kEdit, text, 64);
  EXPECT_EQ(std::u16string(text), u"Feeds.xml");
  SendMessageW(edit, EM_LIMITTEXT, 10, 0);
  SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(-1), 0);
  SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(u"12345"));
  GetDlgItemTextW(dlg, kEdit, text, 64);
  EXPECT_EQ(std::u16string(text), u"Feeds.xml1");
  EXPECT_EQ(std::count(notes.commands.begin(), notes.commands.end(), MAKEWPARAM(kEdit, EN_CHANGE)), 4);
  EXPECT_TRUE(SetDlgItemInt(dlg, kEdit, static_cast<UINT>(-42), TRUE));
  BOOL ok = FALSE;
  EXPECT_EQ(static_cast<int>(GetDlgItemInt(dlg, kEdit, &ok, TRUE)), -42);
  EXPECT_TRUE(ok);

  SendDlgItemMessageW(dlg, kRadioA, BM_CLICK, 0, 0);
  EXPECT_EQ(IsDlgButtonChecked(dlg, kRadioA), static_cast<UINT>(BST_CHECKED));
  SendDlgItemMessageW(dlg, kRadioB, BM_CLICK, 0, 0);
  EXPECT_EQ(IsDlgButtonChecked(dlg, kRadioA), static_cast<UINT>(BST_UNCHECKED));
  EXPECT_EQ(IsDlgButtonChecked(dlg, kRadioB), static_cast<UINT>(BST_CHECKED));
  CheckDlgButton(dlg, kCheck, BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(dlg, kCheck), static_cast<UINT>(BST_CHECKED));
  EnableWindow(GetDlgItem(dlg, kCheck), FALSE);
  SendDlgItemMessageW(dlg, kCheck, BM_CLICK, 0, 0);  // a disabled button ignores clicks
  EXPECT_EQ(IsDlgButtonChecked(dlg, kCheck), static_cast<UINT>(BST_CHECKED));

  HWND list = GetDlgItem(dlg, kList);
  for (auto s : {u"Zeta", u"alpha", u"Mid"}) SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
  EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 3);
  SendMessageW(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(text));
  EXPECT_EQ(std::u16string(text), u"alpha");  // sorted without regard to case
  EXPECT_EQ(SendMessageW(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(u"zeta")), 2);
  SendMessageW(list, LB_SETITEMDATA, 1, 77);
  SendMessageW(list, LB_SETCURSEL, 2, 0);
  SendMessageW(list, LB_DELETESTRING, 0, 0);
  EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(SendMessageW(list, LB_GETITEMDATA, 0, 0), 77);
  EXPECT_EQ(SendMessageW(list, LB_GETTEXT, 5, reinterpret_cast<LPARAM>(text)), LB_ERR);

  HWND combo = GetDlgItem(dlg, kCombo);
  SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"English"));
  SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"Deutsch"));
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), CB_ERR);
  SendMessageW(combo, CB_SETCURSEL, 1, 0);
  GetWindowTextW(combo, text, 64);
  EXPECT_EQ(std::u16string(text), u"Deutsch");
  EXPECT_EQ(SendMessageW(combo, CB_GETLBTEXTLEN, 0, 0), 7);
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 0);

  // Closing the dialog is its Cancel.
  notes.commands.clear();
  SendMessageW(dlg, WM_CLOSE, 0, 0);
  qk::PumpMessages();
  ASSERT_EQ(notes.commands.size(), 1u);
  EXPECT_EQ(LOWORD(notes.commands[0]), IDCANCEL);
  EXPECT_TRUE(IsWindow(dlg));
  DestroyWindow(dlg);
}

}  // namespace
