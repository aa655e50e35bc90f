// The category list in a dialog run modally: cells edited in place and
// ended by Enter, Escape, Tab and focus loss, with the parent told of
// accepted edits; row heights from the font; tap-and-hold selecting a row
// and showing the context menu; favicons read from their files.
#include <gtest/gtest.h>

#include <functional>

#include "controls/commctrl.h"
#include "framework/dialog.h"
#include "kernel/resource.h"
#include "quillet/ui/cell_list.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"
#include "support/device_fixture.h"
#include "toolkit_support.h"
#include "channel_list_support.h"

namespace {

constexpr int kListId = 1000;
constexpr UINT WM_STEP = WM_APP + 11;
constexpr WORD kMenuId = 9401;

class CCategoryDlg : public CDialog {
 public:
  explicit CCategoryDlg(LPCDLGTEMPLATE t) { InitModalIndirect(t); }
  CCategoryListCtrl list;
  std::vector<std::function<void(CCategoryDlg&)>> steps;
  size_t next = 0;
  int editEnds = 0;
  std::vector<UINT> commands;
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    HWND control = ::GetDlgItem(m_hWnd, kListId);
    list.SetContextMenu(kMenuId);
    EXPECT_TRUE(list.SubclassControl(control));
    for (const char16_t* name : {u"News", u"Science", u"Sports"}) {
      LVITEMW item = {};
      item.mask = LVIF_TEXT;
      item.iItem = list.GetItemCount();
      item.pszText = const_cast<LPWSTR>(name);
      ::SendMessageW(control, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    PostMessage(WM_STEP);
    return TRUE;
  }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_STEP) {
      qk::PumpMessages();
      if (next < steps.size()) {
        steps[next++](*this);
        PostMessage(WM_STEP);
      } else {
        EndDialog(IDOK);
      }
      return 0;
    }
    if (message == WM_CELL_EDIT_END) {
      EXPECT_EQ(wParam, 0u);
      ++editEnds;
      return 0;
    }
    if (message == WM_COMMAND && LOWORD(wParam) >= 700) commands.push_back(LOWORD(wParam));
    return CDialog::WindowProc(message, wParam, lParam);
  }
  void OnCancel() override {}  // Escape belongs to the cell editor here
};

void Type(const char* keys) {
  for (const char* k = keys; *k; ++k) {
    keybd_event(static_cast<BYTE>(*k), 0, 0, 0);
    keybd_event(static_cast<BYTE>(*k), 0, KEYEVENTF_KEYUP, 0);
  }
}
void Key(BYTE vk) {
  keybd_event(vk, 0, 0, 0);
  keybd_event(vk, 0, KEYEVENTF_KEYUP, 0);
}

class CategoryList : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    qk::SetScreenSize(480, 800);
    qk::display::ConnectScreen();
    ResetScreenDpi();
    InitScreenDpi(0);
    InitCommonControls();
    qk::FreezeClock(1796724000000LL, 500000);
    static std::vector<BYTE> menu = qk::shell::BuildMenuTemplate(
        {{u"Category", 0, 0, {{u"Rename", 701, 0, {}}, {u"Delete", 702, 0, {}}}}});
    static qk::ResourceEntry entry = {nullptr, 4, kMenuId, nullptr, menu.data(), menu.size()};
    qk::RegisterResources(nullptr, &entry, 1);
    bytes_ = qk::DialogTemplateBuilder(WS_POPUP | WS_VISIBLE, 0, 0, 0, 160, 200)
                 .Control(WC_LISTVIEW, u"", kListId, WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT, 5, 5, 150, 150)
                 .Build();
  }
  void TearDown() override {
    qk::SetPopupMenuHook(nullptr);
    qk::shell::SetGestureWaitHook(nullptr);
    qk::UseRealClock();
    qk::PumpMessages();
    DeviceTest::TearDown();
  }
  std::vector<DWORD> bytes_;
};

}  // namespace

TEST_F(CategoryList, CellsEditedByEnterEscapeTabAndFocusLoss) {
  CCategoryDlg dlg(reinterpret_cast<LPCDLGTEMPLATE>(bytes_.data()));
  dlg.steps.push_back([](CCategoryDlg& d) {
    d.list.EditItem(1);
    ASSERT_TRUE(d.list.Editor().IsWindowVisible());
    EXPECT_EQ(::GetFocus(), d.list.Editor().m_hWnd);
    CString text;
    d.list.Editor().GetWindowText(text);
    EXPECT_EQ(text, CString(u"Science"));
    Type("ART");  // replaces the selected text
    Key(VK_RETURN);
  });
  dlg.steps.push_back([](CCategoryDlg& d) {
    EXPECT_EQ(d.list.GetItemText(1, 0), CString(u"ART"));
    EXPECT_FALSE(d.list.Editor().IsWindowVisible());
    EXPECT_EQ(d.editEnds, 1);
    d.list.EditItem(0);
    Type("GONE");
    Key(VK_ESCAPE);
  });
  dlg.steps.push_back([](CCategoryDlg& d) {
    EXPECT_EQ(d.list.GetItemText(0, 0), CString(u"News")) << "Escape keeps the text";
    EXPECT_FALSE(d.list.Editor().IsWindowVisible());
    EXPECT_EQ(d.editEnds, 1) << "and the parent hears nothing";
    d.list.EditItem(2);
    Type("GOLF");
    // Tab on the last cell of the last row: the edit is kept and the
    // editor moves to the first cell.
    Key(VK_TAB);
  });
  dlg.steps.push_back([](CCategoryDlg& d) {
    EXPECT_EQ(d.list.GetItemText(2, 0), CString(u"GOLF"));
    EXPECT_EQ(d.list.GetEditedCell(), 0u);
    EXPECT_TRUE(d.list.Editor().IsWindowVisible());
    EXPECT_TRUE(d.list.GetItemState(0, LVIS_SELECTED));
    EXPECT_FALSE(d.list.GetItemState(2, LVIS_SELECTED));
    Type("X");
    // The focus leaves the editor: what was typed is kept.
    d.list.SetFocus();
  });
  dlg.steps.push_back([](CCategoryDlg& d) {
    EXPECT_EQ(d.list.GetItemText(0, 0), CString(u"X"));
    EXPECT_FALSE(d.list.Editor().IsWindowVisible());
    EXPECT_EQ(d.editEnds, 3);
    // A double tap on the list edits nothing by itself.
    RECT r;
    d.list.GetItemRect(1, &r, LVIR_BOUNDS);
    ::SendMessageW(d.list.m_hWnd, WM_LBUTTONDBLCLK, 0, MAKELPARAM(r.left + 20, r.top + 4));
    EXPECT_FALSE(d.list.Editor().IsWindowVisible());
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
}

TEST_F(CategoryList, RowHeightsTapAndHoldMenuAndFavicons) {
  CCategoryDlg dlg(reinterpret_cast<LPCDLGTEMPLATE>(bytes_.data()));
  std::vector<std::u16string> shown;
  qk::SetPopupMenuHook([&](HMENU menu, HWND owner) -> UINT {
    EXPECT_EQ(owner, dlg.m_hWnd) << "the parent dialog owns the menu's commands";
    WCHAR text[32] = {};
    GetMenuStringW(menu, 0, text, 32, MF_BYPOSITION);
    shown.push_back(text);
    return 702;
  });
  qk::shell::SetGestureWaitHook([] { qk::AdvanceClock(50); });
  dlg.steps.push_back([](CCategoryDlg& d) {
    // An 8-pixel font: rows of 8 x 6 / 4 + 3 = 15, and 23 with large rows.
    LOGFONTW lf = {};
    lf.lfHeight = -8;
    HFONT small = CreateFontIndirectW(&lf);
    d.list.SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(small), TRUE);
    RECT r;
    d.list.GetItemRect(0, &r, LVIR_BOUNDS);
    EXPECT_EQ(r.bottom - r.top, 15);
    EXPECT_EQ(d.list.GetRowHeight(), 15);
    d.list.SetLargeRows(TRUE);
    d.list.SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(small), TRUE);
    d.list.GetItemRect(0, &r, LVIR_BOUNDS);
    EXPECT_EQ(r.bottom - r.top, 23);
    EXPECT_EQ(d.list.GetRowHeight(), 23);
    // Held on empty space below the rows with nothing selected: no menu.
    RECT client;
    d.list.GetClientRect(&client);
    POINT below = {client.right / 2, client.bottom - 4};
    d.list.ClientToScreen(&below);
    qk::InjectPointer(WM_LBUTTONDOWN, below.x, below.y);
  });
  dlg.steps.push_back([&](CCategoryDlg& d) {
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(::SendMessageW(d.list.m_hWnd, LVM_GETSELECTEDCOUNT, 0, 0), 0);
    qk::InjectPointer(WM_LBUTTONUP, 0, 0);
    // Held on the second row: it is selected and the menu shows.
    RECT r;
    d.list.GetItemRect(1, &r, LVIR_BOUNDS);
    POINT p = {r.left + 30, r.top + 5};
    d.list.ClientToScreen(&p);
    qk::InjectPointer(WM_LBUTTONDOWN, p.x, p.y);
  });
  dlg.steps.push_back([&](CCategoryDlg& d) {
    qk::InjectPointer(WM_LBUTTONUP, 0, 0);
    EXPECT_TRUE(d.list.GetItemState(1, LVIS_SELECTED));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], u"Rename");
  });
  dlg.steps.push_back([&](CCategoryDlg& d) { EXPECT_EQ(d.commands, std::vector<UINT>{702}); });
  EXPECT_EQ(dlg.DoModal(), IDOK);

  // Favicons: an icon with a 256-pixel entry (width byte 0) and a 16-pixel
  // one is drawn from the 16-pixel entry.
  auto red = uitest::MakeIco(16, 24, [](int, int) { return 0xFFFF0000u; });
  auto blue = uitest::MakeIco(16, 24, [](int, int) { return 0xFF0000FFu; });
  std::string two(6 + 32, '\0');
  uitest::Put16(two, 2, 1);
  uitest::Put16(two, 4, 2);
  std::string bigImage = blue.substr(22), smallImage = red.substr(22);
  two.replace(6, 16, blue.substr(6, 16));
  two[6] = 0;  // width byte 0: 256
  two[7] = 0;
  uitest::Put32(two, 6 + 12, 38);
  two.replace(22, 16, red.substr(6, 16));
  uitest::Put32(two, 22 + 12, static_cast<uint32_t>(38 + bigImage.size()));
  two += bigImage + smallImage;
  WriteDeviceFile(u"\\ChannelData\\Ch001-Fav.ico", two);
  COffscreenDC off(nullptr, 40, 40);
  RECT box = {4, 4, 36, 36};
  ASSERT_TRUE(CCategoryListCtrl::DrawFavicon(off.GetDC(), u"\\ChannelData\\Ch001-Fav.ico", box));
  EXPECT_EQ(GetPixel(off.GetDC(), 20, 20), RGB(255, 0, 0));
  EXPECT_FALSE(CCategoryListCtrl::DrawFavicon(off.GetDC(), u"\\ChannelData\\none.ico", box));
  WriteDeviceFile(u"\\ChannelData\\bad.ico", std::string("\0\0\1\0\1\0", 6) + std::string(16, '\xFF'));
  EXPECT_FALSE(CCategoryListCtrl::DrawFavicon(off.GetDC(), u"\\ChannelData\\bad.ico", box));
}
