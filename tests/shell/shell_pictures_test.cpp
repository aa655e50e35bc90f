// Pictures of the shell to look at: a dialog with its soft-key menu bar and
// the raised input panel (letters, capitals, digits and symbols), a soft
// key's popup menu, and the open-file
// dialog, on the touch screen (480 x 800 at 192 dpi) and on the key device
// (240 x 320 at 96 dpi).
//
//   ctest --test-dir <build> -R ShellPictures
//
// writes shell_*.png to $QUILLET_PICTURES_DIR, else to the folder
// "pictures" of the build.
#include <gtest/gtest.h>

#include <functional>

#include "display/display.h"
#include "gdi/surface.h"
#include "controls/commctrl.h"
#include "kernel/resource.h"
#include "shell/aygshell.h"
#include "shell/filedlg.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "support/pictures.h"
#include "user/input.h"

namespace {

using qtest::PicturesDir;

int D(int n) { return n * qk::gdi::ScreenDpi() / 96; }

// The screens' font: Tahoma, 12 pixels at 96 dpi, smoothed.
HFONT Tahoma(bool bold) {
  LOGFONTW lf{};
  lf.lfHeight = -D(12);
  lf.lfQuality = ANTIALIASED_QUALITY;
  if (bold) lf.lfWeight = FW_BOLD;
  std::u16string face = u"Tahoma";
  std::copy(face.begin(), face.end(), lf.lfFaceName);
  return CreateFontIndirectW(&lf);
}

std::function<void()>& Step() {
  static std::function<void()> step;
  return step;
}
constexpr UINT kStep = WM_APP + 9;

// A dialog that paints what an editor screen shows: a title, two labelled
// fields (the first with the focus) and a note.
LRESULT DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  static SHACTIVATEINFO sai{};
  switch (msg) {
    case WM_SETTINGCHANGE:
      SHHandleWMSettingChange(hwnd, wParam, lParam, &sai);
      return 0;
    case kStep:
      if (Step()) {
        auto step = Step();
        Step() = nullptr;
        step();
      }
      return 0;
    case WM_INITMENUPOPUP:
      PostMessageW(hwnd, kStep, 0, 0);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT rc;
      GetClientRect(hwnd, &rc);
      HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
      FillRect(dc, &rc, white);
      DeleteObject(white);
      HFONT font = Tahoma(false);
      HFONT bold = Tahoma(true);
      SetBkMode(dc, TRANSPARENT);
      HGDIOBJ old = SelectObject(dc, bold);
      RECT band{0, 0, rc.right, D(24)};
      HBRUSH hl = CreateSolidBrush(qk::gdi::GetScreenConfig().highlight);
      FillRect(dc, &band, hl);
      DeleteObject(hl);
      SetTextColor(dc, RGB(255, 255, 255));
      RECT t = band;
      t.left += D(6);
      DrawTextW(dc, u"Add Channel", -1, &t, DT_SINGLELINE | DT_VCENTER);
      SelectObject(dc, font);
      SetTextColor(dc, RGB(0x70, 0x70, 0x70));
      RECT note{D(6), D(150), rc.right - D(6), rc.bottom};
      DrawTextW(dc, u"The feed's title is fetched when it is left empty.", -1, &note, DT_WORDBREAK);
      SelectObject(dc, old);
      DeleteObject(font);
      DeleteObject(bold);
      EndPaint(hwnd, &ps);
      return 0;
    }
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

class ShellPictures : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    qtest::DeviceTest::SetUp();
    static std::vector<BYTE> menu = qk::shell::BuildMenuTemplate(
        {{u"Menu", 0, 0,
          {{u"Download Title", 32898, 0, {}}, {u"Rename", 32895, 0, {}}, {u"", 0, 0, {}}, {u"Largest", 32854, MF_CHECKED, {}},
           {u"Smallest", 32859, MF_GRAYED, {}}}}});
    static std::vector<BYTE> bar = qk::shell::BuildMenuBarResource(355, {{IDOK}, {32797, TBSTATE_ENABLED, 0, 0, 0}});
    static const qk::ResourceEntry entries[] = {{nullptr, 4, 355, nullptr, menu.data(), menu.size()},
                                                {nullptr, 10, 355, nullptr, bar.data(), bar.size()}};
    qk::RegisterResources(nullptr, entries, 2);
    WriteDeviceFile(u"\\My Documents\\Channels.opml", "<opml/>");
    WriteDeviceFile(u"\\My Documents\\Exported feeds.opml", "<opml/>");
    WriteDeviceFile(u"\\My Documents\\notes.txt", "x");
    WriteDeviceFile(u"\\My Documents\\Pictures\\logo.png", "x");
    WriteDeviceFile(u"\\My Documents\\Templates\\news.xml", "<x/>");
  }
  void TearDown() override {
    qk::shell::ResetShell();
    qk::PumpMessages();
    qk::ClearResources();
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    qtest::DeviceTest::TearDown();
  }

  void Write(const std::string& name) {
    qk::PumpMessages();
    // The window layer does not clip a parent's painting to exclude its
    // children: the dialog's controls are painted again over it.
    if (dialog_ && IsWindow(dialog_))
      for (HWND child = GetWindow(dialog_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        InvalidateRect(child, nullptr, TRUE);
        UpdateWindow(child);
      }
    EXPECT_TRUE(qk::display::WriteScreenPng(PicturesDir() + "/" + name)) << name;
  }

  HWND dialog_ = nullptr;

  void Pictures(const qk::gdi::ScreenConfig& cfg, const std::string& size) {
    qk::gdi::SetScreenConfig(cfg);
    qk::display::ConnectScreen();
    qk::shell::ResetShell();
    ASSERT_TRUE(SHInitExtraControls());
    HWND dlg = qtest::CreateHostWindow(u"PictureDialog", DialogProc, 100, 100, u"Add Channel", WS_VISIBLE);
    dialog_ = dlg;
    SHINITDLGINFO shidi{SHIDIM_FLAGS, dlg, SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_DONEBUTTON | SHIDIF_SIPDOWN};
    ASSERT_TRUE(SHInitDialog(&shidi));
    // The screen's fields: the standard controls, and "SIPPREF" so that the
    // panel follows the focus.
    InitCommonControls();
    RECT client;
    GetClientRect(dlg, &client);
    HFONT font = Tahoma(false);
    const char16_t* labels[] = {u"Feed URL", u"Title"};
    const char16_t* values[] = {u"http://example.org/feed.xml", u""};
    HWND first = nullptr;
    for (int i = 0; i < 2; ++i) {
      int y = D(32) + i * D(56);
      HWND label = CreateWindowExW(0, u"STATIC", labels[i], WS_CHILD | WS_VISIBLE, D(6), y, client.right - D(12),
                                   D(18), dlg, nullptr, nullptr, nullptr);
      HWND edit = CreateWindowExW(0, u"EDIT", values[i], WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL,
                                  D(6), y + D(20), client.right - D(12), D(26), dlg,
                                  reinterpret_cast<HMENU>(static_cast<uintptr_t>(1054 + i)), nullptr, nullptr);
      SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
      SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
      if (!first) first = edit;
    }
    ASSERT_NE(CreateWindowExW(0, WC_SIPPREF, u"", WS_CHILD, 0, 0, 0, 0, dlg, nullptr, nullptr, nullptr), nullptr);
    SHMENUBARINFO mbi{sizeof(SHMENUBARINFO), dlg, 0, 355, nullptr, 0, 0, nullptr, 0};
    ASSERT_TRUE(SHCreateMenuBar(&mbi));
    std::u16string ok = u"OK", menu = u"Menu";
    TBBUTTONINFOW tbi{};
    tbi.cbSize = sizeof tbi;
    tbi.dwMask = TBIF_TEXT;
    tbi.pszText = ok.data();
    SendMessageW(mbi.hwndMB, TB_SETBUTTONINFO, IDOK, reinterpret_cast<LPARAM>(&tbi));
    tbi.pszText = menu.data();
    SendMessageW(mbi.hwndMB, TB_SETBUTTONINFO, 32797, reinterpret_cast<LPARAM>(&tbi));
    DrawMenuBar(dlg);
    SetActiveWindow(dlg);
    Write("shell_dialog_" + size + ".png");

    // The focus in the URL field raises the panel; the dialog ends above it.
    SetFocus(first);
    qk::PumpMessages();
    EXPECT_TRUE(qk::shell::SipUp());
    Write("shell_dialog_sip_" + size + ".png");
    // The panel's other faces: capitals after shift, then digits and symbols.
    auto tap = [](const std::u16string& label) {
      RECT key;
      ASSERT_TRUE(qk::shell::SipKeyRect(label, &key));
      qk::InjectPointer(WM_LBUTTONDOWN, (key.left + key.right) / 2, (key.top + key.bottom) / 2);
      qk::InjectPointer(WM_LBUTTONUP, (key.left + key.right) / 2, (key.top + key.bottom) / 2);
      qk::PumpMessages();
    };
    tap(u"\u21E7");
    Write("shell_sip_capitals_" + size + ".png");
    tap(u"123");
    Write("shell_sip_symbols_" + size + ".png");
    tap(u"abc");
    RECT rc;
    GetWindowRect(dlg, &rc);
    EXPECT_EQ(rc.bottom, qk::shell::VisibleDesktop().bottom);
    SetFocus(dlg);
    qk::PumpMessages();
    EXPECT_FALSE(qk::shell::SipUp());

    // The popup of the "Menu" key, photographed from inside its loop.
    int w = cfg.width, h = cfg.height;
    Step() = [&] {
      // The window layer does not clip overlapping windows: the popup is
      // painted again last so that it shows over the dialog's own repaint.
      qk::PumpMessages();
      HWND popup = FindWindowW(u"ShellPopupMenu", nullptr);
      EXPECT_NE(popup, nullptr);
      InvalidateRect(popup, nullptr, TRUE);
      Write("shell_popup_" + size + ".png");
      qk::InjectPointer(WM_LBUTTONDOWN, 5, D(40));
      qk::InjectPointer(WM_LBUTTONUP, 5, D(40));
    };
    qk::InjectPointer(WM_LBUTTONDOWN, w - D(40), h - D(13));
    qk::InjectPointer(WM_LBUTTONUP, w - D(40), h - D(13));
    qk::PumpMessages();

    // The open-file dialog.
    Step() = [&] {
      Write("shell_open_" + size + ".png");
      PostMessageW(GetFocus(), WM_COMMAND, IDCANCEL, 0);
    };
    PostMessageW(dlg, kStep, 0, 0);
    WCHAR path[MAX_PATH] = {};
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = dlg;
    ofn.lpstrFilter = u"Opml Files\0*.opml;*.xml;\0";
    ofn.lpstrFile = path;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrInitialDir = u"\\My Documents";
    ofn.lpstrTitle = u"Import OPML file";
    ofn.Flags = OFN_FILEMUSTEXIST;
    dialog_ = nullptr;  // the file dialog is in front
    EXPECT_FALSE(GetOpenFileNameW(&ofn));
    DestroyWindow(dlg);
    DeleteObject(font);
  }
};

TEST_F(ShellPictures, DialogWithSoftKeysInputPanelPopupAndFileDialog) {
  Pictures(qk::gdi::DefaultScreenConfig(), "480x800");
  Pictures(qk::gdi::KeyDeviceScreenConfig(), "240x320");
}

}  // namespace
