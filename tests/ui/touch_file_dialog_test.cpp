// The touch file dialog over a folder tree of the device: choosing an OPML
// file by tapping folders, the up-folder bitmap and the soft keys; saving
// with a name that is checked; a path too long for the caller's buffer.
#include <gtest/gtest.h>

#include <functional>

#include "controls/commctrl.h"
#include "kernel/resource.h"
#include "quillet/ui/density.h"
#include "quillet/ui/touch_file_dialog.h"
#include "shell/aygshell.h"
#include "support/device_fixture.h"
#include "toolkit_support.h"

namespace {

constexpr UINT kUpBitmap = 9301;
constexpr UINT WM_STEP = WM_APP + 9;

// A 40 x 40 24-bit bitmap resource: a dark arrow on the transparent green.
void RegisterUpBitmap() {
  static std::vector<BYTE>* bytes = nullptr;
  if (bytes) return;
  const int size = 40, stride = size * 3;
  bytes = new std::vector<BYTE>(40 + stride * size, 0);
  BITMAPINFOHEADER h = {};
  h.biSize = 40;
  h.biWidth = size;
  h.biHeight = size;
  h.biPlanes = 1;
  h.biBitCount = 24;
  std::memcpy(bytes->data(), &h, 40);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      BYTE* p = bytes->data() + 40 + (size - 1 - y) * stride + x * 3;
      bool arrow = (y >= 6 && y < 20 && std::abs(x - 20) <= y - 6) || (y >= 20 && y < 34 && x >= 15 && x < 25);
      p[0] = arrow ? 40 : 0;
      p[1] = arrow ? 40 : 255;
      p[2] = arrow ? 40 : 0;
    }
  static qk::ResourceEntry entry = {nullptr, 2, static_cast<WORD>(kUpBitmap), nullptr, bytes->data(), bytes->size()};
  qk::RegisterResources(nullptr, &entry, 1);
}

struct Script {
  std::vector<std::function<void(CTouchFileDialog&)>> steps;
  CTouchFileDialog* dialog = nullptr;
  size_t next = 0;
};
Script* g_script = nullptr;

class TouchFileDialogTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    qk::SetScreenSize(480, 800);
    qk::display::ConnectScreen();
    ResetScreenDpi();
    InitScreenDpi(0);
    RegisterUpBitmap();
    owner_ = uitest::CreateHandlerWindow(480, 800, [](HWND w, UINT m, WPARAM, LPARAM, LRESULT*) {
      if (m != WM_STEP || !g_script) return false;
      // What the last step caused is handled first.
      qk::PumpMessages();
      if (!g_script || g_script->next >= g_script->steps.size()) return true;
      g_script->steps[g_script->next++](*g_script->dialog);
      if (g_script && g_script->next < g_script->steps.size()) PostMessageW(w, WM_STEP, 0, 0);
      return true;
    });
    for (const char* f : {"\\My Documents\\Feeds\\News\\World.OPML", "\\My Documents\\Feeds\\News\\local.opml",
                          "\\My Documents\\Feeds\\News\\notes.txt", "\\My Documents\\Feeds\\feeds.xml",
                          "\\My Documents\\Feeds\\FEEDS.OPML", "\\My Documents\\Feeds\\archive.opml.bak",
                          "\\My Documents\\Feeds\\Blogs\\tech.opml", "\\My Documents\\Feeds\\Zeta\\keep.txt",
                          "\\My Documents\\todo.txt"}) {
      std::string s(f);
      WriteDeviceFile(std::u16string(s.begin(), s.end()).c_str(), "<opml/>");
    }
  }
  void TearDown() override {
    DestroyWindow(owner_);
    uitest::CurrentHandler() = nullptr;
    qk::SetMessageBoxHook(nullptr);
    qk::shell::ResetShell();
    qk::PumpMessages();
    DeviceTest::TearDown();
  }
  BOOL Run(CTouchFileDialog& dialog, Script& script, LPWSTR buffer, int chars) {
    script.dialog = &dialog;
    g_script = &script;
    PostMessageW(owner_, WM_STEP, 0, 0);
    BOOL result = dialog.DoModal(buffer, chars);
    g_script = nullptr;
    return result;
  }
  // The texts of the list, in order.
  static std::vector<std::u16string> Listed(CTouchFileDialog& d) {
    std::vector<std::u16string> out;
    int n = static_cast<int>(SendMessageW(d.GetList(), LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
      WCHAR text[MAX_PATH] = {};
      LVITEMW item = {};
      item.iSubItem = 0;
      item.pszText = text;
      item.cchTextMax = MAX_PATH;
      SendMessageW(d.GetList(), LVM_GETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
      out.push_back(text);
    }
    return out;
  }
  // Taps a row of the list by its text.
  static void TapRow(CTouchFileDialog& d, const char16_t* text) {
    auto rows = Listed(d);
    auto it = std::find(rows.begin(), rows.end(), std::u16string(text));
    ASSERT_NE(it, rows.end()) << "no row " << CStringA(text).str();
    RECT r = {LVIR_BOUNDS, 0, 0, 0};
    SendMessageW(d.GetList(), LVM_GETITEMRECT, static_cast<WPARAM>(it - rows.begin()), reinterpret_cast<LPARAM>(&r));
    POINT p = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ClientToScreen(d.GetList(), &p);
    qk::InjectPointer(WM_LBUTTONDOWN, p.x, p.y);
    qk::InjectPointer(WM_LBUTTONUP, p.x, p.y);
  }
  static void TapUp(CTouchFileDialog& d) {
    RECT r = d.GetUpRect();
    POINT p = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ClientToScreen(d.GetWindow(), &p);
    qk::InjectPointer(WM_LBUTTONDOWN, p.x, p.y);
    qk::InjectPointer(WM_LBUTTONUP, p.x, p.y);
  }
  HWND owner_ = nullptr;
};

}  // namespace

TEST_F(TouchFileDialogTest, ChoosesAnOpmlFileFromAFolderTree) {
  CTouchFileDialog dialog(owner_, TOUCH_FILE_LOAD, nullptr, u"\\My Documents", kUpBitmap);
  EXPECT_EQ(dialog.GetTitle(), CString(u"Load File"));
  // The screen area of the rows a folder of five shows below its second,
  // which the folder of two entered from it leaves empty.
  RECT lowerRows = {};
  auto inkIn = [](HWND list, const RECT& area) {
    UpdateWindow(list);
    HDC screen = GetDC(nullptr);
    RECT client;
    GetClientRect(list, &client);
    POINT blank = {client.right / 2, client.bottom - 4};  // below every row
    ClientToScreen(list, &blank);
    const COLORREF background = GetPixel(screen, blank.x, blank.y);
    int ink = 0;
    for (int y = area.top; y < area.bottom; ++y)
      for (int x = area.left; x < area.right; ++x) ink += GetPixel(screen, x, y) != background;
    ReleaseDC(nullptr, screen);
    return ink;
  };
  Script s;
  s.steps.push_back([&](CTouchFileDialog& d) {
    EXPECT_EQ(d.GetCurrentFolder(), CString(u"\\My Documents\\"));
    EXPECT_EQ(Listed(d), std::vector<std::u16string>{u"Feeds"}) << "no \".\", no \"..\", no other files";
    // Select with no file chosen does nothing.
    qk::shell::PressSoftKey(1);
  });
  s.steps.push_back([&](CTouchFileDialog& d) {
    EXPECT_TRUE(IsWindow(d.GetWindow()));
    TapRow(d, u"Feeds");
  });
  s.steps.push_back([&](CTouchFileDialog& d) {
    EXPECT_EQ(d.GetCurrentFolder(), CString(u"\\My Documents\\Feeds\\"));
    // Folders first, then files, each by name without regard to case; an
    // upper-case .OPML is listed, .xml is not.
    EXPECT_EQ(Listed(d), (std::vector<std::u16string>{u"Blogs", u"News", u"Zeta", u"archive.opml.bak", u"FEEDS.OPML"}));
    RECT third = {LVIR_BOUNDS, 0, 0, 0}, fifth = {LVIR_BOUNDS, 0, 0, 0};
    SendMessageW(d.GetList(), LVM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&third));
    SendMessageW(d.GetList(), LVM_GETITEMRECT, 4, reinterpret_cast<LPARAM>(&fifth));
    lowerRows = {third.left + 4, third.top, third.right - 4, fifth.bottom};
    ClientToScreen(d.GetList(), reinterpret_cast<POINT*>(&lowerRows.left));
    ClientToScreen(d.GetList(), reinterpret_cast<POINT*>(&lowerRows.right));
    EXPECT_GT(inkIn(d.GetList(), lowerRows), 50) << "the rows show their names";
    TapRow(d, u"News");
  });
  s.steps.push_back([&](CTouchFileDialog& d) {
    EXPECT_EQ(d.GetCurrentFolder(), CString(u"\\My Documents\\Feeds\\News\\"));
    EXPECT_EQ(Listed(d), (std::vector<std::u16string>{u"local.opml", u"World.OPML"}));
    EXPECT_EQ(inkIn(d.GetList(), lowerRows), 0) << "the old folder's names stay where the new one has no rows";
    // Two levels below the folder the dialog started in, up goes one level.
    TapUp(d);
  });
  s.steps.push_back([&](CTouchFileDialog& d) {
    EXPECT_EQ(d.GetCurrentFolder(), CString(u"\\My Documents\\Feeds\\"));
    TapRow(d, u"News");
  });
  s.steps.push_back([&](CTouchFileDialog& d) { TapRow(d, u"World.OPML"); });
  s.steps.push_back([&](CTouchFileDialog& d) {
    EXPECT_EQ(d.GetCurrentFolder(), CString(u"\\My Documents\\Feeds\\News\\")) << "a file is chosen, not entered";
    qk::display::WriteScreenPng(uitest::PicturesDir() + "/file_dialog_load_480x800.png");
    qk::shell::PressSoftKey(1);
  });
  WCHAR buffer[MAX_PATH] = {};
  ASSERT_TRUE(Run(dialog, s, buffer, MAX_PATH));
  EXPECT_EQ(CString(buffer), CString(u"\\My Documents\\Feeds\\News\\World.OPML"));
  EXPECT_EQ(dialog.GetResultPath(), CString(buffer));
  EXPECT_NE(qtest::ReadHostFile(Host(buffer)), "") << "the path names the file";

  // Up from the root stays at the root; Cancel returns FALSE.
  CTouchFileDialog root(owner_, TOUCH_FILE_FOLDER, u"Pick", nullptr, kUpBitmap);
  Script r;
  r.steps.push_back([&](CTouchFileDialog& d) {
    EXPECT_EQ(d.GetCurrentFolder(), CString(u"\\"));
    TapUp(d);
  });
  r.steps.push_back([&](CTouchFileDialog& d) {
    EXPECT_EQ(d.GetCurrentFolder(), CString(u"\\"));
    auto rows = Listed(d);
    EXPECT_NE(std::find(rows.begin(), rows.end(), u"My Documents"), rows.end());
    qk::shell::PressSoftKey(2);
  });
  WCHAR none[MAX_PATH] = {u'x', 0};
  EXPECT_FALSE(Run(root, r, none, MAX_PATH));
  EXPECT_EQ(CString(none), CString(u"x"));
}

TEST_F(TouchFileDialogTest, SaveChecksTheNameAndTheBuffer) {
  std::vector<std::u16string> boxes;
  qk::SetMessageBoxHook([&](HWND, const std::u16string& text, const std::u16string& caption, UINT) {
    boxes.push_back(caption + u": " + text);
    return IDOK;
  });
  CTouchFileDialog dialog(owner_, TOUCH_FILE_SAVE, nullptr, u"\\My Documents\\Feeds", kUpBitmap);
  dialog.SetFileType(u"opml", u"Channel list", u"Channels");
  HWND nameEdit = nullptr;
  Script s;
  s.steps.push_back([&](CTouchFileDialog& d) {
    nameEdit = GetDlgItem(d.GetWindow(), 101);
    ASSERT_NE(nameEdit, nullptr);
    WCHAR text[64] = {};
    GetWindowTextW(nameEdit, text, 64);
    EXPECT_EQ(CString(text), CString(u"Channels"));
    WCHAR ext[16] = {};
    GetWindowTextW(GetDlgItem(d.GetWindow(), 102), ext, 16);
    EXPECT_EQ(CString(ext), CString(u"opml"));
    auto rows = Listed(d);
    EXPECT_NE(std::find(rows.begin(), rows.end(), u"feeds.xml"), rows.end()) << "everything is listed";
    SetWindowTextW(nameEdit, u"my:list");
    qk::shell::PressSoftKey(1);
  });
  s.steps.push_back([&](CTouchFileDialog&) {
    SetWindowTextW(nameEdit, u"");
    qk::shell::PressSoftKey(1);
  });
  s.steps.push_back([&](CTouchFileDialog&) {
    // Far too long for the caller's 40 characters.
    SetWindowTextW(nameEdit, u"a name that does not fit the buffer");
    qk::shell::PressSoftKey(1);
  });
  s.steps.push_back([&](CTouchFileDialog& d) {
    EXPECT_TRUE(IsWindow(d.GetWindow())) << "every refusal leaves the dialog open";
    SetWindowTextW(nameEdit, u"a\\b");
    qk::shell::PressSoftKey(1);
  });
  WCHAR small[40] = {};
  ASSERT_TRUE(Run(dialog, s, small, 40));
  EXPECT_EQ(CString(small), CString(u"\\My Documents\\Feeds\\a\\b.opml")) << "a backslash is not refused";
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0], u"File Name Error: File name include illegal characters");
  EXPECT_EQ(boxes[1], u"File Name Error: File name value is missing");
  EXPECT_EQ(boxes[2], u"File Name Error: The path is too long");
}

TEST_F(TouchFileDialogTest, ThePlatformsOwnEntriesOfTheDeviceRootAreNeverListed) {
  // What the platform keeps in the device root beside the device's folders;
  // a folder of the user's named like one of them, deeper down, is listed.
  for (const char16_t* f : {u"\\.bus\\1.windows", u"\\.kernel\\.lock", u"\\Registry\\HKCU.reg", u"\\DeviceProfile.txt",
                            u"\\Registry\\feeds.opml", u"\\My Documents\\Registry\\saved.opml", u"\\Storage Card\\a.opml",
                            u"\\readme.txt"})
    WriteDeviceFile(f, "<opml/>");
  for (int mode : {TOUCH_FILE_SAVE, TOUCH_FILE_LOAD, TOUCH_FILE_FOLDER}) {
    CTouchFileDialog dialog(owner_, mode, nullptr, u"\\", kUpBitmap);
    dialog.SetFileType(u"opml", u"OPML", u"Channels");
    Script s;
    s.steps.push_back([&](CTouchFileDialog& d) {
      std::vector<std::u16string> expected = {u"My Documents", u"Program Files", u"Storage Card"};
      if (mode == TOUCH_FILE_SAVE) expected.push_back(u"readme.txt");
      EXPECT_EQ(Listed(d), expected) << "mode " << mode;
      TapRow(d, u"My Documents");
    });
    s.steps.push_back([&](CTouchFileDialog& d) {
      auto rows = Listed(d);
      EXPECT_NE(std::find(rows.begin(), rows.end(), u"Registry"), rows.end()) << "mode " << mode;
      qk::shell::PressSoftKey(2);
    });
    WCHAR buffer[MAX_PATH] = {};
    EXPECT_FALSE(Run(dialog, s, buffer, MAX_PATH));
  }
}

// Each row's icon sits on the list as its shape: around the folder or the
// channel list the row keeps its own colour (white, or the selection's),
// no dark square shows, and the icon's opaque pixels are its colours.
TEST_F(TouchFileDialogTest, RowIconsAreDrawnWithTheirTransparency) {
  CTouchFileDialog dialog(owner_, TOUCH_FILE_LOAD, nullptr, u"\\My Documents\\Feeds", kUpBitmap);
  Script s;
  s.steps.push_back([&](CTouchFileDialog& d) {
    HWND list = d.GetList();
    UpdateWindow(list);
    const auto rows = Listed(d);
    ASSERT_EQ(rows.size(), 5u);
    auto images = reinterpret_cast<HIMAGELIST>(SendMessageW(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    int cx = 0, cy = 0;
    ASSERT_TRUE(ImageList_GetIconSize(images, &cx, &cy));
    HDC screen = GetDC(nullptr);
    int clearChecked = 0, opaqueChecked = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
      RECT icon = {LVIR_ICON, 0, 0, 0}, bounds = {LVIR_BOUNDS, 0, 0, 0};
      SendMessageW(list, LVM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&icon));
      SendMessageW(list, LVM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&bounds));
      POINT at = {icon.left, icon.top + (icon.bottom - icon.top - cy) / 2};
      POINT rowEnd = {bounds.right - 3, bounds.top + 1};
      ClientToScreen(list, &at);
      ClientToScreen(list, &rowEnd);
      const COLORREF background = GetPixel(screen, rowEnd.x, rowEnd.y);
      // The icon the dialog asked the shell for, with its transparency.
      SHFILEINFOW info = {};
      std::u16string path = u"\\My Documents\\Feeds\\" + rows[i];
      ASSERT_TRUE(SHGetFileInfo(path.c_str(), 0, &info, sizeof info, SHGFI_ICON | SHGFI_SMALLICON));
      DIBSECTION ds = {};
      ASSERT_TRUE(GetObjectW(qk::shell::IconBitmap(info.hIcon), sizeof ds, &ds));
      ASSERT_EQ(ds.dsBm.bmWidth, cx);
      const auto* px = static_cast<const uint32_t*>(ds.dsBm.bmBits);
      for (int y = 0; y < cy; ++y)
        for (int x = 0; x < cx; ++x) {
          const uint32_t p = px[y * cx + x];
          const COLORREF shown = GetPixel(screen, at.x + x, at.y + y);
          if ((p >> 24) == 0) {
            EXPECT_EQ(shown, background) << CStringA(rows[i].c_str()).str() << " at " << x << ", " << y;
            ++clearChecked;
          } else if ((p >> 24) == 255) {
            EXPECT_EQ(shown, RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF)) << x << ", " << y;
            ++opaqueChecked;
          }
        }
      qk::shell::DestroyShellIcon(info.hIcon);
    }
    ReleaseDC(nullptr, screen);
    EXPECT_GT(clearChecked, 5 * 20);
    EXPECT_GT(opaqueChecked, 5 * 40);
    qk::display::WriteScreenPng(uitest::PicturesDir() + "/file_dialog_icons_480x800.png");
    qk::shell::PressSoftKey(2);
  });
  WCHAR buffer[MAX_PATH] = {};
  EXPECT_FALSE(Run(dialog, s, buffer, MAX_PATH));
}
