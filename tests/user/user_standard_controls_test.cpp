// The standard controls exist for every program that links the window
// layer: a program that never calls InitCommonControls still makes dialogs
// of edits, buttons, statics, list boxes and combo boxes. This program links
// only the window layer and never calls it.
#include <gtest/gtest.h>

#include <string>

#include "support/device_fixture.h"
#include "user/dialog.h"
#include "user/input.h"
#include "user/user.h"

namespace {

constexpr int kName = 201, kLabel = 202, kList = 203, kCombo = 204;

struct Seen {
  std::u16string classes;  // of every control, in template order
  std::u16string name;
  LRESULT listCount = -1, comboSelection = -1;
  int commands = 0;
};

INT_PTR FormProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* seen = reinterpret_cast<Seen*>(GetWindowLongW(dlg, DWL_USER));
  switch (msg) {
    case WM_INITDIALOG: {
      SetWindowLongW(dlg, DWL_USER, lParam);
      seen = reinterpret_cast<Seen*>(lParam);
      for (int id : {kName, kLabel, kList, kCombo, static_cast<int>(IDOK)}) {
        WCHAR cls[32] = {};
        GetClassNameW(GetDlgItem(dlg, id), cls, 32);
        seen->classes += std::u16string(cls) + u" ";
      }
      for (auto s : {u"Daily", u"Hourly"}) {
        SendDlgItemMessageW(dlg, kList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
        SendDlgItemMessageW(dlg, kCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
      }
      SendDlgItemMessageW(dlg, kCombo, CB_SETCURSEL, 1, 0);
      // What a person does once the dialog shows: types into the field
      // that has the focus and presses Enter.
      PostMessageW(dlg, WM_USER, 0, 0);
      return TRUE;
    }
    case WM_USER:
      keybd_event('Q', 0, 0, 0);
      keybd_event('Q', 0, KEYEVENTF_KEYUP, 0);
      keybd_event(VK_RETURN, 0, 0, 0);
      keybd_event(VK_RETURN, 0, KEYEVENTF_KEYUP, 0);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) != IDOK) return FALSE;
      ++seen->commands;
      {
        WCHAR text[64] = {};
        GetDlgItemTextW(dlg, kName, text, 64);
        seen->name = text;
      }
      seen->listCount = SendDlgItemMessageW(dlg, kList, LB_GETCOUNT, 0, 0);
      seen->comboSelection = SendDlgItemMessageW(dlg, kCombo, CB_GETCURSEL, 0, 0);
      EndDialog(dlg, 42);
      return TRUE;
    default:
      return FALSE;
  }
}

class StandardControlsTest : public qtest::DeviceTest {};

TEST_F(StandardControlsTest, DialogOfStandardControlsRunsWithoutInitCommonControls) {
  constexpr DWORD v = WS_VISIBLE;
  auto bytes = qk::DialogTemplateBuilder(WS_POPUP | WS_CAPTION, 0, 0, 0, 160, 120, u"Channel")
                   .Font(9, u"Tahoma")
                   .Control(u"EDIT", u"", kName, v | WS_TABSTOP | WS_BORDER, 5, 5, 100, 12)
                   .Control(u"STATIC", u"Update", kLabel, v, 5, 20, 60, 10)
                   .Control(u"LISTBOX", u"", kList, v | WS_TABSTOP | LBS_NOTIFY, 5, 32, 70, 40)
                   .Control(u"COMBOBOX", u"", kCombo, v | WS_TABSTOP | CBS_DROPDOWNLIST, 80, 32, 70, 40)
                   .Control(u"BUTTON", u"OK", IDOK, v | WS_TABSTOP | BS_DEFPUSHBUTTON, 40, 100, 40, 14)
                   .Control(u"BUTTON", u"Cancel", IDCANCEL, v | WS_TABSTOP | BS_PUSHBUTTON, 90, 100, 40, 14)
                   .Build();
  Seen seen;
  INT_PTR result = DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()), nullptr,
                                           FormProc, reinterpret_cast<LPARAM>(&seen));
  ASSERT_EQ(result, 42);
  EXPECT_EQ(seen.classes, u"EDIT STATIC LISTBOX COMBOBOX BUTTON ");
  // The controls work: the edit took the typed key, Enter reached the
  // default button, the lists kept their entries.
  EXPECT_EQ(seen.name, u"q");
  EXPECT_EQ(seen.commands, 1);
  EXPECT_EQ(seen.listCount, 2);
  EXPECT_EQ(seen.comboSelection, 1);
  // Creating one by hand works as well.
  HWND button = CreateWindowExW(0, u"Button", u"Go", WS_POPUP, 0, 0, 40, 20, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(SendMessageW(button, WM_GETDLGCODE, 0, 0), DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON);
  DestroyWindow(button);
  // A class nobody registered is still refused.
  EXPECT_EQ(CreateWindowExW(0, u"NoSuchClass", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
            nullptr);
}

}  // namespace
