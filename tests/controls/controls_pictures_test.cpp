// Pictures of every control in its states to look at, on the touch screen
// (480 x 800 at 192 dpi) and on the key device (240 x 320 at 96 dpi):
//
//   ctest --test-dir <build> -R ControlsPictures
//
// writes controls_<set>_480x800.png and controls_<set>_240x320.png to
// $QUILLET_PICTURES_DIR, else to the folder "pictures" of the build.
#include <gtest/gtest.h>

#include "controls_support.h"
#include "gdi/image_codec.h"
#include "support/pictures.h"

namespace {

using qtest::PicturesDir;

class ControlsPictures : public ctest::ControlsTest {
 protected:
  void TearDown() override {
    for (HIMAGELIST list : lists_) ImageList_Destroy(list);
    ControlsTest::TearDown();
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    qk::display::ConnectScreen();
  }

  // Switches the screen and makes the host again at its size.
  void UseScreen(const qk::gdi::ScreenConfig& cfg) {
    DestroyWindow(window_);
    DeleteObject(font_);
    qk::gdi::SetScreenConfig(cfg);
    qk::display::ConnectScreen();
    window_ = qtest::CreateHostWindow(u"ControlsHost", ctest::HostProc, cfg.width, cfg.height, u"", WS_VISIBLE);
    SetActiveWindow(window_);
    LOGFONTW lf{};
    lf.lfHeight = -(9 * cfg.dpi / 72);
    lf.lfWeight = FW_NORMAL;
    std::u16string face = u"Tahoma";
    std::copy(face.begin(), face.end(), lf.lfFaceName);
    font_ = CreateFontIndirectW(&lf);
    suffix_ = "_" + std::to_string(cfg.width) + "x" + std::to_string(cfg.height) + ".png";
  }

  // Writes the screen and checks that every pixel was painted.
  void Shoot(const std::string& set) {
    qk::PumpMessages();
    std::string path = PicturesDir() + "/controls_" + set + suffix_;
    ASSERT_TRUE(qk::display::WriteScreenPng(path));
    std::string png = qtest::ReadHostFile(path);
    qk::gdi::DecodedImage img;
    ASSERT_TRUE(qk::gdi::DecodePng(reinterpret_cast<const uint8_t*>(png.data()), png.size(), &img));
    auto cfg = qk::gdi::GetScreenConfig();
    EXPECT_EQ(img.width, cfg.width);
    EXPECT_EQ(img.height, cfg.height);
    int black = 0;
    for (size_t p = 0; p < img.bgra.size(); p += 4)
      black += img.bgra[p] == 0 && img.bgra[p + 1] == 0 && img.bgra[p + 2] == 0;
    // Text and arrows are the only black: well under a tenth of the screen.
    EXPECT_LT(black, cfg.width * cfg.height / 10);
  }

  HIMAGELIST Icons() {
    int size = S(16);
    HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 4, 4);
    lists_.push_back(list);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP strip = CreateCompatibleBitmap(screen, size * 3, size);
    HGDIOBJ old = SelectObject(mem, strip);
    const COLORREF colours[] = {RGB(224, 70, 44), RGB(44, 143, 224), RGB(63, 185, 80)};
    for (int n = 0; n < 3; ++n)
      for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
          int dx = 2 * x - size + 1, dy = 2 * y - size + 1;
          bool inside = n == 0 ? dx * dx + dy * dy <= (size - 2) * (size - 2)
                               : n == 1 ? std::abs(dx) + std::abs(dy) <= size - 1 : (x > 1 && y > 1 && x < size - 2 && y < size - 2);
          SetPixel(mem, n * size + x, y, inside ? colours[n] : RGB(255, 255, 255));
        }
    SelectObject(mem, old);
    ImageList_AddMasked(list, strip, RGB(255, 255, 255));
    DeleteObject(strip);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return list;
  }

  void Buttons() {
    HWND ok = Make(WC_BUTTON, u"OK", BS_DEFPUSHBUTTON, S(4), S(6), S(72), S(26), 1);
    HWND cancel = Make(WC_BUTTON, u"Cancel", BS_PUSHBUTTON, S(84), S(6), S(72), S(26), 2);
    HWND pressed = Make(WC_BUTTON, u"Pressed", BS_PUSHBUTTON, S(164), S(6), S(72), S(26), 3);
    SendMessageW(pressed, BM_SETSTATE, TRUE, 0);
    HWND off = Make(WC_BUTTON, u"Disabled", BS_PUSHBUTTON, S(4), S(38), S(110), S(26), 4);
    EnableWindow(off, FALSE);
    Make(WC_BUTTON, u"Get Channel's Title", BS_PUSHBUTTON, S(122), S(38), S(114), S(26), 5);
    HWND c1 = Make(WC_BUTTON, u"Download/show images if possible", BS_AUTOCHECKBOX, S(4), S(72), S(232), S(24), 6);
    SendMessageW(c1, BM_SETCHECK, BST_CHECKED, 0);
    Make(WC_BUTTON, u"Full screen reading", BS_AUTOCHECKBOX, S(4), S(98), S(232), S(24), 7);
    HWND c3 = Make(WC_BUTTON, u"Some of them", BS_AUTO3STATE, S(4), S(124), S(232), S(24), 8);
    SendMessageW(c3, BM_SETCHECK, BST_INDETERMINATE, 0);
    HWND c4 = Make(WC_BUTTON, u"Store all data on card (disabled)", BS_AUTOCHECKBOX, S(4), S(150), S(232), S(24), 9);
    SendMessageW(c4, BM_SETCHECK, BST_CHECKED, 0);
    EnableWindow(c4, FALSE);
    Make(WC_BUTTON, u"Update every", BS_GROUPBOX, S(4), S(178), S(232), S(80), 10);
    HWND r1 = Make(WC_BUTTON, u"Minutes", BS_AUTORADIOBUTTON | WS_GROUP, S(12), S(198), S(100), S(24), 11);
    Make(WC_BUTTON, u"Hours", BS_AUTORADIOBUTTON, S(12), S(226), S(100), S(24), 12);
    HWND r3 = Make(WC_BUTTON, u"Days", BS_AUTORADIOBUTTON, S(124), S(198), S(100), S(24), 13);
    EnableWindow(r3, FALSE);
    SendMessageW(r1, BM_SETCHECK, BST_CHECKED, 0);
    Make(WC_STATIC, u"A static text that wraps onto a second line when it is too long.", SS_LEFT, S(4), S(264),
         S(232), S(32), 14);
    Make(WC_STATIC, u"Right-aligned", SS_RIGHT, S(4), S(298), S(232), S(18), 15);
    SetFocus(cancel);
    (void)ok;
  }

  void Edits() {
    Make(WC_STATIC, u"Title:", SS_LEFT | SS_CENTERIMAGE, S(4), S(6), S(44), S(24), 20);
    HWND title = Make(WC_EDIT, u"Quillet Reach news", WS_BORDER | ES_AUTOHSCROLL, S(50), S(6), S(186), S(24), 21);
    Make(WC_STATIC, u"URL:", SS_LEFT | SS_CENTERIMAGE, S(4), S(36), S(44), S(24), 22);
    Make(WC_EDIT, u"http://feeds.example/news/rss.xml?edition=all", WS_BORDER | ES_READONLY | ES_AUTOHSCROLL,
         S(50), S(36), S(186), S(24), 23);
    Make(WC_EDIT, u"", WS_BORDER, S(4), S(66), S(112), S(24), 24);
    HWND off = Make(WC_EDIT, u"Disabled", WS_BORDER, S(124), S(66), S(112), S(24), 25);
    EnableWindow(off, FALSE);
    Make(WC_EDIT, u"secret", WS_BORDER | ES_PASSWORD, S(4), S(96), S(112), S(24), 26);
    HWND number = Make(WC_EDIT, u"50", WS_BORDER | ES_NUMBER, S(124), S(96), S(90), S(24), 27);
    HWND spin = Make(UPDOWN_CLASS, u"", UDS_ARROWKEYS, S(216), S(96), S(20), S(24), 28);
    (void)number;
    SendMessageW(spin, UDM_SETRANGE, 0, MAKELPARAM(0, 499));
    Make(WC_EDIT,
         u"Quillet helps you manage and download all news headlines from the Internet.\r\n\r\nTo add some news "
         u"channels, tap the Next button below to start the New Channel Wizard.",
         WS_BORDER | WS_VSCROLL | ES_MULTILINE, S(4), S(126), S(232), S(100), 29);
    HWND bar = Make(PROGRESS_CLASS, u"", 0, S(4), S(232), S(232), S(16), 30);
    SendMessageW(bar, PBM_SETPOS, 60, 0);
    HWND hs = Make(WC_SCROLLBAR, u"", SBS_HORZ, S(4), S(254), S(232), S(16), 31);
    SCROLLINFO si{sizeof si, SIF_ALL, 0, 99, 20, 30, 0};
    SendMessageW(hs, SBM_SETSCROLLINFO, TRUE, reinterpret_cast<LPARAM>(&si));
    HWND vs = Make(WC_SCROLLBAR, u"", SBS_VERT, S(220), S(276), S(16), S(40), 32);
    SendMessageW(vs, SBM_SETSCROLLINFO, TRUE, reinterpret_cast<LPARAM>(&si));
    Make(WC_STATIC, u"Centred static", SS_CENTER, S(4), S(284), S(210), S(20), 33);
    SetFocus(title);
    SendMessageW(title, EM_SETSEL, 8, 13);
  }

  void Lists() {
    HWND combo = Make(WC_COMBOBOX, u"", CBS_DROPDOWNLIST, S(4), S(6), S(110), S(120), 40);
    for (auto s : {u"Minutes", u"Hours", u"Days"}) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    SendMessageW(combo, CB_SETCURSEL, 1, 0);
    HWND focused = Make(WC_COMBOBOX, u"", CBS_DROPDOWNLIST, S(122), S(6), S(114), S(120), 41);
    SendMessageW(focused, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"Connect on schedule"));
    SendMessageW(focused, CB_SETCURSEL, 0, 0);
    HWND list = Make(WC_LISTBOX, u"", WS_BORDER | WS_VSCROLL | LBS_NOTIFY, S(4), S(38), S(232), S(92), 42);
    const char16_t* names[] = {u"Ars Lumen",      u"Borealis Science Weekly", u"City Council Minutes",
                               u"Daily Kettle",   u"Evening Post - Culture",  u"Fieldnotes",
                               u"Harbour Radio",  u"Independent Makers",      u"Journal of Quiet Things"};
    for (auto s : names) SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    SendMessageW(list, LB_SETCURSEL, 1, 0);
    HWND lv = Make(WC_LISTVIEW, u"", LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_BORDER, S(4), S(136),
                   S(232), S(110), 43);
    SendMessageW(lv, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    SendMessageW(lv, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(Icons()));
    LVCOLUMNW col{LVCF_TEXT | LVCF_WIDTH, LVCFMT_LEFT, S(160), const_cast<LPWSTR>(u"Category"), 0, 0};
    SendMessageW(lv, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&col));
    col.mask |= LVCF_FMT;
    col.fmt = LVCFMT_RIGHT;
    col.cx = S(52);
    col.pszText = const_cast<LPWSTR>(u"Items");
    SendMessageW(lv, LVM_INSERTCOLUMNW, 1, reinterpret_cast<LPARAM>(&col));
    const char16_t* cats[] = {u"News", u"Science and technology of the future", u"Sports", u"Culture", u"Weather"};
    const char16_t* counts[] = {u"42", u"7", u"120", u"3", u"0"};
    for (int i = 0; i < 5; ++i) {
      LVITEMW it{};
      it.mask = LVIF_TEXT | LVIF_IMAGE;
      it.iItem = i;
      it.pszText = const_cast<LPWSTR>(cats[i]);
      it.iImage = i % 3;
      SendMessageW(lv, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it));
      LVITEMW sub{};
      sub.iSubItem = 1;
      sub.pszText = const_cast<LPWSTR>(counts[i]);
      SendMessageW(lv, LVM_SETITEMTEXTW, i, reinterpret_cast<LPARAM>(&sub));
    }
    LVITEMW state{};
    state.state = state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(lv, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&state));
    HWND tab = Make(WC_TABCONTROL, u"", TCS_BOTTOM, S(4), S(252), S(232), S(64), 44);
    for (auto s : {u"Title", u"Details"}) {
      TCITEMW item{TCIF_TEXT, 0, 0, const_cast<LPWSTR>(s), 0, -1, 0};
      SendMessageW(tab, TCM_INSERTITEMW, 9, reinterpret_cast<LPARAM>(&item));
    }
    RECT page{0, 0, S(232), S(64)};
    SendMessageW(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&page));
    Make(WC_STATIC, u"Page content", SS_CENTER | SS_CENTERIMAGE, S(4) + page.left + S(4), S(252) + page.top + S(4),
         page.right - page.left - S(8), page.bottom - page.top - S(8), 45);
    SetFocus(focused);
  }

  void Pickers() {
    HWND time = Make(DATETIMEPICK_CLASS, u"", DTS_TIMEFORMAT | DTS_UPDOWN | DTS_RIGHTALIGN, S(4), S(6), S(140),
                     S(26), 50);
    SYSTEMTIME st{2026, 12, 2, 8, 18, 30, 0, 0};
    SendMessageW(time, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st));
    HWND date = Make(DATETIMEPICK_CLASS, u"", DTS_SHORTDATEFORMAT | DTS_UPDOWN, S(4), S(38), S(160), S(26), 51);
    SendMessageW(date, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st));
    host_.measuredHeight = static_cast<UINT>(S(28));
    HWND owner = Make(WC_LISTVIEW, u"", LVS_REPORT | LVS_OWNERDRAWFIXED | LVS_NOCOLUMNHEADER | LVS_SHOWSELALWAYS |
                                            WS_BORDER,
                      S(4), S(70), S(232), S(90), 52);
    LVCOLUMNW col{LVCF_WIDTH, 0, S(200), nullptr, 0, 0};
    SendMessageW(owner, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&col));
    for (int i = 0; i < 5; ++i) {
      LVITEMW it{};
      it.mask = LVIF_TEXT;
      it.iItem = i;
      it.pszText = const_cast<LPWSTR>(u"Row");
      SendMessageW(owner, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it));
    }
    LVITEMW state{};
    state.state = state.stateMask = LVIS_SELECTED;
    SendMessageW(owner, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&state));
    HWND combo = Make(WC_COMBOBOX, u"", CBS_DROPDOWNLIST, S(4), S(170), S(170), S(120), 54);
    const char16_t* modes[] = {u"No auto update", u"When ActiveSync available", u"Connect automatically",
                               u"Connect on schedule"};
    for (auto s : modes) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    SendMessageW(combo, CB_SETCURSEL, 2, 0);
    Make(WC_STATIC, u"Below the list", SS_LEFT, S(4), S(300), S(200), S(18), 55);
    SetFocus(time);
    Key(VK_RIGHT);  // the minutes field chosen
    qk::PumpMessages();
    // The open drop list over what lies below it.
    SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
  }

  void Editing() {
    HWND cats = Make(WC_LISTVIEW, u"", LVS_REPORT | LVS_EDITLABELS | LVS_NOCOLUMNHEADER | LVS_SINGLESEL | WS_BORDER,
                     S(4), S(6), S(232), S(120), 60);
    LVCOLUMNW one{LVCF_WIDTH, 0, S(220), nullptr, 0, 0};
    SendMessageW(cats, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&one));
    SendMessageW(cats, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(Icons()));
    for (auto s : {u"Technology", u"Sports", u"New Category"}) {
      LVITEMW it{};
      it.mask = LVIF_TEXT | LVIF_IMAGE;
      it.iItem = 0;
      it.iImage = 1;
      it.pszText = const_cast<LPWSTR>(s);
      SendMessageW(cats, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it));
    }
    HWND multi = Make(WC_EDIT, u"Line one\r\nLine two", WS_BORDER | ES_MULTILINE | WS_VSCROLL, S(4), S(134), S(232),
                      S(60), 61);
    (void)multi;
    SetFocus(cats);
    LVITEMW state{};
    state.state = state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(cats, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&state));
    qk::PumpMessages();
    HWND edit = reinterpret_cast<HWND>(SendMessageW(cats, LVM_EDITLABELW, 0, 0));
    ASSERT_NE(edit, nullptr);
    Key(VK_END);
    Type(u" Name");
  }

  void All(const qk::gdi::ScreenConfig& cfg) {
    struct Set {
      const char* name;
      void (ControlsPictures::*make)();
    };
    const Set sets[] = {{"buttons", &ControlsPictures::Buttons},
                        {"edits", &ControlsPictures::Edits},
                        {"lists", &ControlsPictures::Lists},
                        {"pickers", &ControlsPictures::Pickers},
                        {"editing", &ControlsPictures::Editing}};
    for (const Set& set : sets) {
      UseScreen(cfg);
      (this->*set.make)();
      Shoot(set.name);
    }
  }

  std::vector<HIMAGELIST> lists_;
  std::string suffix_;
};

TEST_F(ControlsPictures, TouchScreen480x800) { All(qk::gdi::DefaultScreenConfig()); }

TEST_F(ControlsPictures, KeyDevice240x320) { All(qk::gdi::KeyDeviceScreenConfig()); }

}  // namespace
