// A framework dialog of 20 standard controls: the time from CDialog::Create
// to the end of the first paint of the dialog and all its controls on the
// device screen (480 x 800 / 192 dpi), data exchange at OnInitDialog
// included. Run from a release build.
#include "user/user.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "framework/afx.h"
#include "kernel/kernel.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<DWORD> TwentyControls() {
  constexpr DWORD v = WS_VISIBLE | WS_TABSTOP;
  qk::DialogTemplateBuilder b(WS_POPUP | WS_VISIBLE | DS_SETFONT, 0, 0, 0, 160, 266, u"Options");
  b.Font(9, u"Tahoma");
  b.Control(u"STATIC", u"General", 1000, WS_VISIBLE, 0, 0, 160, 14);
  for (int i = 0; i < 4; ++i) {
    short y = static_cast<short>(18 + i * 30);
    b.Control(u"STATIC", u"Limit the number of articles in a channel to", static_cast<WORD>(1010 + i), WS_VISIBLE, 4,
              y, 150, 10);
    b.Control(u"EDIT", u"", static_cast<WORD>(1020 + i), v | WS_BORDER | ES_NUMBER, 4, static_cast<short>(y + 12),
              60, 14);
  }
  for (int i = 0; i < 4; ++i)
    b.Control(u"BUTTON", u"Download/show images if possible", static_cast<WORD>(1030 + i), v | BS_AUTOCHECKBOX, 4,
              static_cast<short>(140 + i * 12), 150, 10);
  b.Control(u"BUTTON", u"Every hour", 1040, v | WS_GROUP | BS_AUTORADIOBUTTON, 4, 190, 70, 10);
  b.Control(u"BUTTON", u"Every day", 1041, WS_VISIBLE | BS_AUTORADIOBUTTON, 80, 190, 70, 10);
  b.Control(u"COMBOBOX", u"", 1042, v | CBS_DROPDOWNLIST | WS_GROUP, 4, 204, 100, 60);
  b.Control(u"LISTBOX", u"", 1043, v | WS_BORDER, 4, 220, 150, 24);
  b.Control(PROGRESS_CLASS, u"", 1044, WS_VISIBLE, 4, 246, 150, 6);
  b.Control(u"BUTTON", u"OK", IDOK, v | BS_DEFPUSHBUTTON, 4, 254, 70, 12);
  b.Control(u"BUTTON", u"Cancel", IDCANCEL, v, 80, 254, 70, 12);
  return b.Build();
}

class COptionsDlg : public CDialog {
 public:
  CString limits[4] = {u"50", u"100", u"200", u"500"};
  int checks[4] = {1, 0, 1, 0};
  CComboBox combo;
  CListBox list;
  void DoDataExchange(CDataExchange* dx) override {
    for (int i = 0; i < 4; ++i) DDX_Text(dx, 1020 + i, limits[i]);
    for (int i = 0; i < 4; ++i) DDX_Check(dx, 1030 + i, checks[i]);
    DDX_Control(dx, 1042, combo);
    DDX_Control(dx, 1043, list);
  }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    for (const char16_t* s : {u"ActiveSync", u"Internet", u"Work"}) combo.AddString(s);
    combo.SetCurSel(0);
    for (const char16_t* s : {u"News", u"Sport", u"Weather"}) list.AddString(s);
    CheckDlgButton(1040, BST_CHECKED);
    return TRUE;
  }
};

}  // namespace

int main() {
  std::string root = qbench::StartDevice("quillet-dialog-bench");
  InitCommonControls();
  std::vector<DWORD> bytes = TwentyControls();
  auto* dialogTemplate = reinterpret_cast<LPCDLGTEMPLATE>(bytes.data());

  std::vector<double> ms;
  int children = 0;
  for (int i = 0; i < 520; ++i) {
    COptionsDlg dlg;
    auto t0 = Clock::now();
    if (!dlg.CreateIndirect(dialogTemplate)) {
      std::printf("the dialog could not be made\n");
      return 2;
    }
    qk::PumpMessages();  // the first paint of the dialog and every control
    auto t1 = Clock::now();
    if (i >= 20) ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    children = 0;
    for (HWND c = GetWindow(dlg.m_hWnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) ++children;
    dlg.DestroyWindow();
    qk::PumpMessages();
  }
  qbench::Figures f = qbench::Summarise(ms);
  std::printf("dialog of %d controls, created and first painted: mean %.3f ms, median %.3f ms, p99 %.3f ms, worst "
              "%.3f ms (%zu runs)\n",
              children, f.mean, f.median, f.p99, f.worst, ms.size());
  std::filesystem::remove_all(root);
  return f.p99 < 10.0 ? 0 : 1;
}
