// Touch menu lists, popup lists, the image button bar and shared texts,
// driven by stylus and keys through windows and the dialog's modal loop.
#include <gtest/gtest.h>

#include <set>

#include "quillet/res/resources.h"
#include "quillet/ui/image_button_bar.h"
#include "quillet/ui/touch_list.h"
#include "support/device_fixture.h"
#include "toolkit_support.h"

namespace {

// Row images: a disc of one colour on transparent corners, 24 x 24.
constexpr WORD kImageRed = 9101, kImageGreen = 9102, kCheck = 9103, kButtonA = 9104, kButtonB = 9105;

uint32_t Disc(int x, int y, int size, uint32_t colour) {
  int dx = 2 * x - size + 1, dy = 2 * y - size + 1;
  return dx * dx + dy * dy <= size * size - 8 ? colour : 0;
}

void RegisterImages() {
  static bool done = false;
  if (done) return;
  done = true;
  uitest::RegisterTargaResource(kImageRed, uitest::MakeTga(24, 24, [](int x, int y) { return Disc(x, y, 24, 0xFFE04030u); }));
  uitest::RegisterTargaResource(kImageGreen, uitest::MakeTga(24, 24, [](int x, int y) { return Disc(x, y, 24, 0xFF30C050u); }));
  uitest::RegisterTargaResource(kCheck, uitest::MakeTga(20, 20, [](int x, int y) {
    return (x + y > 16 && x - y < 6 && y > 4) ? 0xFFFFFFFFu : 0u;
  }));
  uitest::RegisterTargaResource(kButtonA, uitest::MakeTga(32, 32, [](int x, int y) { return Disc(x, y, 32, 0xFF2080F0u); }));
  uitest::RegisterTargaResource(kButtonB, uitest::MakeTga(32, 32, [](int x, int y) { return Disc(x, y, 32, 0xFFF0C020u); }));
}

COLORREF Dark(int w) { return BlendColors(RGB(0, 0, 0), GetSysColor(COLOR_HIGHLIGHT), w); }

struct Click {
  UINT command;
  CTouchListItem* item;
  DWORD_PTR context;
};
std::vector<Click> g_clicks;
void OnClick(HWND, DWORD_PTR context, UINT command, CTouchListItem* item) { g_clicks.push_back({command, item, context}); }

class TouchLists : public qtest::DeviceTest {
 protected:
  void SetUp() override { Start(qk::gdi::DefaultScreenConfig(), TRUE); }
  void Start(const qk::gdi::ScreenConfig& cfg, BOOL touch) {
    DeviceTest::SetUp();
    qk::gdi::SetScreenConfig(cfg);
    qk::SetScreenSize(cfg.width, cfg.height);
    qk::display::ConnectScreen();
    ResetScreenDpi();
    SetTouchFlag(touch);
    InitImagingFactory();
    RegisterImages();
    qk::FreezeClock(1796724000000LL, 500000);
    width_ = cfg.width;
    height_ = cfg.height;
    g_clicks.clear();
  }
  // A window hosting a menu list over its whole area.
  void HostMenu(CTouchMenuList& list, int height) {
    window_ = uitest::CreateHandlerWindow(width_, height_, [&list](HWND w, UINT m, WPARAM wp, LPARAM lp, LRESULT*) {
      switch (m) {
        case WM_LBUTTONDOWN: return list.OnPointerDown(w, wp, lp);
        case WM_MOUSEMOVE: return list.OnPointerMove(w, wp, lp);
        case WM_LBUTTONUP: return list.OnPointerUp(w, wp, lp);
        case WM_TIMER: return list.OnTimer(w, wp);
        case WM_KEYDOWN:
          if (wp == VK_DOWN) list.SelectNext();
          else if (wp == VK_UP) list.SelectPrevious();
          else if (wp == VK_RETURN) list.ClickSelected();
          else return false;
          return true;
        case WM_PAINT: {
          PAINTSTRUCT ps;
          HDC dc = BeginPaint(w, &ps);
          list.Paint(dc);
          EndPaint(w, &ps);
          return true;
        }
      }
      return false;
    });
    list.Create(5, window_, 0, 0, width_, height, &OnClick);
  }
  void TearDown() override {
    if (window_) DestroyWindow(window_);
    uitest::CurrentHandler() = nullptr;
    ReleaseImagingFactory();
    qk::UseRealClock();
    SetTouchFlag(TRUE);
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    qk::SetScreenSize(480, 800);
    ResetScreenDpi();
    DeviceTest::TearDown();
  }
  HWND window_ = nullptr;
  int width_ = 0, height_ = 0;
};

}  // namespace

TEST_F(TouchLists, MenuListRowsShadeDownTheListAndShowTheirImages) {
  CTouchMenuList list(FALSE, TRUE);
  HostMenu(list, height_);
  list.AddItem(u"Refresh", nullptr, kImageRed, kCheck, 101);
  list.AddItem(u"Mark all read", nullptr, kImageGreen, kCheck, 102);
  list.AddItem(u"Settings", nullptr, -1, -1, 103);
  list.RefreshItems(TRUE);
  EXPECT_EQ(list.GetSelected(), nullptr) << "nothing is selected on a touch device";
  const int h = 192 * 41 / 96;
  ASSERT_EQ(list.GetRowPitch(), h);
  HDC dc = list.Scroller().GetBackBufferDC();
  // Three rows: step 30; the top colours blend 127, 97, 67 and the
  // separators 180, 150, 120.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(GetPixel(dc, width_ - 3, i * h), Dark(157 - 30 * (i + 1))) << i;
    EXPECT_EQ(GetPixel(dc, width_ - 3, i * h + h - 1), Dark(180 - 30 * i)) << i;
    EXPECT_EQ(GetPixel(dc, width_ - 3, i * h + h - 2), Dark(180 - 30 * i)) << i;
  }
  EXPECT_EQ(GetPixel(dc, 5, 3 * h + 10), Dark(70)) << "below the rows";
  CTouchImage red;
  ASSERT_EQ(red.LoadFromResource(nullptr, kImageRed), S_OK);
  EXPECT_TRUE(uitest::ImageDrawnAt(dc, red, 192 * 10 / 96, (h - 24) / 2));
  // A check shows the second image at the right and narrows the text.
  CTouchImage check;
  ASSERT_EQ(check.LoadFromResource(nullptr, kCheck), S_OK);
  EXPECT_FALSE(uitest::ImageDrawnAt(dc, check, width_ - 192 * 50 / 96, (h - 20) / 2));
  list.SetItemCheck(101, 1);
  EXPECT_TRUE(uitest::ImageDrawnAt(dc, check, width_ - 192 * 50 / 96, (h - 20) / 2));
  EXPECT_EQ(list.GetItem(0)->m_nCheckValue, 1u);
  // Pulled down past the top, the band shows dark(160) with its last line
  // dark(180).
  list.Scroller().SetOffset(40, TRUE);
  EXPECT_EQ(GetPixel(dc, 10, 10), Dark(160));
  EXPECT_EQ(GetPixel(dc, 10, 39), Dark(180));
}

// The pixel rows where two drawings of a list row differ: an "&" drawn as
// a character differs over the height of its glyph, a prefix would at most
// underline the blank after it.
std::set<int> RowsWhereTextsDiffer(CTouchListBase& list, const char16_t* a, const char16_t* b, int width) {
  const int height = list.GetRowPitch();
  auto draw = [&](const char16_t* text, std::vector<COLORREF>& out) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bm = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bm);
    CTouchListItem* item = list.GetItem(0);
    item->m_strText = text;
    list.DrawItem(item, dc, width, height, 0);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) out.push_back(GetPixel(dc, x, y));
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bm);
  };
  std::vector<COLORREF> first, second;
  draw(a, first);
  draw(b, second);
  std::set<int> rows;
  for (size_t i = 0; i < first.size(); ++i)
    if (first[i] != second[i]) rows.insert(static_cast<int>(i) / width);
  return rows;
}

TEST_F(TouchLists, RowTextsAreDrawnAsTheyStandWithTheirAmpersands) {
  CTouchMenuList menu(FALSE, TRUE);
  HostMenu(menu, height_);
  menu.AddItem(u"Quotes & Co", nullptr, kImageRed, -1, 101);
  menu.RefreshItems(TRUE);
  // "Quotes & Co" is not "Quotes  Co" with a line under the blank.
  EXPECT_GE(RowsWhereTextsDiffer(menu, u"Quotes & Co", u"Quotes  Co", width_).size(), 8u);
  CTouchPopupList popup;
  popup.AddItem(u"Quotes & Co", nullptr, kImageRed, -1, 501);
  EXPECT_GE(RowsWhereTextsDiffer(popup, u"Quotes & Co", u"Quotes  Co", width_).size(), 8u);
}

TEST_F(TouchLists, MenuListStylusAndKeysThroughTheWindow) {
  CTouchMenuList list(TRUE, TRUE);
  const int viewHeight = 4 * 82;
  HostMenu(list, viewHeight);
  for (int i = 0; i < 20; ++i) {
    CString text;
    text.Format(u"Command %d", i);
    list.AddItem(text, nullptr, i % 2 ? kImageRed : kImageGreen, -1, 200 + i);
  }
  list.RefreshItems(TRUE);
  const int h = list.GetRowPitch();
  // A row never drawn is found by its index: selecting row 15 scrolls it
  // into view at the bottom.
  list.SelectItemById(215, TRUE);
  ASSERT_EQ(list.GetSelected(), list.GetItem(15));
  EXPECT_EQ(list.Scroller().GetOffset(), viewHeight - 16 * h);
  list.SelectItemById(999, TRUE);
  EXPECT_EQ(list.GetSelected(), list.GetItem(15)) << "an unknown id selects nothing";
  // Keys wrap at both ends.
  uitest::Key(VK_DOWN);
  uitest::Key(VK_DOWN);
  uitest::Key(VK_DOWN);
  uitest::Key(VK_DOWN);
  uitest::Key(VK_DOWN);
  EXPECT_EQ(list.GetSelected(), list.GetItem(0)) << "after the last row, the first";
  EXPECT_EQ(list.Scroller().GetOffset(), 0);
  uitest::Key(VK_UP);
  EXPECT_EQ(list.GetSelected(), list.GetItem(19));
  EXPECT_EQ(list.Scroller().GetOffset(), viewHeight - 20 * h);
  uitest::Key(VK_RETURN);
  ASSERT_EQ(g_clicks.size(), 1u);
  EXPECT_EQ(g_clicks[0].command, 219u);
  EXPECT_EQ(g_clicks[0].context, 5u);
  // A selected row is lightened by white at alpha 40.
  HDC dc = list.Scroller().GetBackBufferDC();
  const int lastTop = viewHeight - h;
  EXPECT_EQ(GetPixel(dc, width_ - 3, lastTop), BlendColors(RGB(255, 255, 255), Dark(157 - 4 * 20), 40));
  // A tap clicks the row under the stylus after showing it pressed.
  list.Scroller().SetOffset(0, TRUE);
  uitest::TapAt(200, h + 20);
  ASSERT_EQ(g_clicks.size(), 2u);
  EXPECT_EQ(g_clicks[1].command, 201u);
  EXPECT_EQ(list.GetSelected(), list.GetItem(1));
  // Holding selects before the release.
  uitest::Press(200, 2 * h + 10);
  uitest::RunTimers(120);
  EXPECT_EQ(list.GetSelected(), list.GetItem(2));
  // Dragging takes the selection away and clicks nothing.
  for (int k = 1; k <= 4; ++k) {
    qk::AdvanceClock(10);
    uitest::Move(200, 2 * h + 10 - 40 * k);
  }
  EXPECT_EQ(list.GetSelected(), nullptr);
  uitest::Release(200, 2 * h + 10 - 160);
  EXPECT_EQ(g_clicks.size(), 2u);
  uitest::RunTimers(2000, 35);
  EXPECT_LE(list.Scroller().GetOffset(), 0);
  EXPECT_GE(list.Scroller().GetOffset(), viewHeight - 20 * h);
  // Emptying the list forgets the selection: nothing is written into the
  // rows that went away, and keys on an empty list do nothing.
  uitest::Key(VK_DOWN);
  ASSERT_NE(list.GetSelected(), nullptr);
  list.RemoveAllItems();
  EXPECT_EQ(list.GetSelected(), nullptr);
  uitest::Key(VK_DOWN);
  uitest::Key(VK_RETURN);
  EXPECT_EQ(g_clicks.size(), 2u);
  list.AddItem(u"Fresh", nullptr, -1, -1, 300);
  list.RefreshItems(TRUE);
  uitest::Key(VK_UP);
  uitest::Key(VK_RETURN);
  ASSERT_EQ(g_clicks.size(), 3u);
  EXPECT_EQ(g_clicks[2].command, 300u);
  // A resize to the same size keeps the renderings; another size rebuilds.
  list.Resize(width_, viewHeight);
  EXPECT_NE(list.GetItem(0)->m_pRendering, nullptr);
  list.Resize(width_, viewHeight + 10);
  EXPECT_EQ(list.Scroller().GetHeight(), viewHeight + 10);
}

class KeyDeviceTouchLists : public TouchLists {
 protected:
  void SetUp() override { Start(qk::gdi::KeyDeviceScreenConfig(), FALSE); }
};

TEST_F(KeyDeviceTouchLists, AutoSelectedFirstRowCheckModeAndSoftBox) {
  CTouchMenuList list(FALSE, TRUE);
  HostMenu(list, height_);
  list.AddItem(u"Show read items", nullptr, kImageRed, kCheck, 1);
  list.AddItem(u"Sort by date", nullptr, kImageGreen, kCheck, 2);
  list.RefreshItems(TRUE);
  ASSERT_EQ(list.GetRowPitch(), 34);
  EXPECT_EQ(list.GetSelected(), list.GetItem(0)) << "the key device selects the first row itself";
  HDC dc = list.Scroller().GetBackBufferDC();
  // Two rows, step 45: the selected first row is framed by the soft box.
  const COLORREF top = Dark(157 - 45), bottom = Dark(159);
  const COLORREF outline = BlendColors(RGB(255, 255, 255), bottom, 80);
  EXPECT_EQ(GetPixel(dc, 100, 0), BlendColors(RGB(255, 255, 255), outline, 40));
  EXPECT_EQ(GetPixel(dc, width_ - 30, 16), BlendColors(RGB(255, 255, 255), top, 40));
  // Without check mode the checked row shows its second image in the image
  // place; with check mode both, the second at the right.
  CTouchImage check, green;
  check.LoadFromResource(nullptr, kCheck);
  green.LoadFromResource(nullptr, kImageGreen);
  list.SetItemCheck(2, 1);
  EXPECT_TRUE(uitest::ImageDrawnAt(dc, check, 2, 34 + (34 - 20) / 2));
  list.SetCheckMode(1);
  list.RefreshItems(TRUE);
  EXPECT_TRUE(uitest::ImageDrawnAt(dc, green, 2, 34 + (34 - 24) / 2));
  EXPECT_TRUE(uitest::ImageDrawnAt(dc, check, width_ - 25, 34 + (34 - 20) / 2));
}

namespace {

// Steps run inside the popup's modal loop, one per posted message.
struct PopupScript {
  std::vector<std::function<void(CTouchPopupList&)>> steps;
  CTouchPopupList* popup = nullptr;
  size_t next = 0;
};
PopupScript* g_script = nullptr;
constexpr UINT WM_SCRIPT_STEP = WM_USER + 77;

}  // namespace

class PopupLists : public TouchLists {
 protected:
  int Run(CTouchPopupList& popup, PopupScript& script) {
    g_script = &script;
    script.popup = &popup;
    if (!owner_) owner_ = uitest::CreateHandlerWindow(width_, height_, [](HWND w, UINT m, WPARAM, LPARAM, LRESULT*) {
      if (m == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(w, &ps);
        RECT r;
        GetClientRect(w, &r);
        // A page under the popup: stripes, to see it dimmed.
        for (int y = 0; y < r.bottom; y += 40) {
          HBRUSH b = CreateSolidBrush((y / 40) % 2 ? RGB(240, 240, 240) : RGB(60, 120, 200));
          RECT s = {0, y, r.right, y + 40};
          FillRect(dc, &s, b);
          DeleteObject(b);
        }
        EndPaint(w, &ps);
        return true;
      }
      if (m == WM_SCRIPT_STEP && g_script && g_script->next < g_script->steps.size()) {
        auto step = g_script->steps[g_script->next++];
        step(*g_script->popup);
        if (g_script->next < g_script->steps.size()) PostMessageW(w, WM_SCRIPT_STEP, 0, 0);
        return true;
      }
      return false;
    });
    UpdateWindow(owner_);
    qk::PumpMessages();
    PostMessageW(owner_, WM_SCRIPT_STEP, 0, 0);
    int result = popup.DoModal(nullptr, 9, owner_);
    g_script = nullptr;
    return result;
  }
  void TearDown() override {
    if (owner_) DestroyWindow(owner_);
    TouchLists::TearDown();
  }
  void Fill(CTouchPopupList& popup, int n) {
    for (int i = 0; i < n; ++i) {
      CString text;
      text.Format(u"Action %d", i);
      popup.AddItem(text, nullptr, i % 2 ? kImageRed : kImageGreen, i == 0 ? kCheck : -1, 500 + i);
    }
  }
  HWND owner_ = nullptr;
};

TEST_F(PopupLists, TapChoosesARowAndTapsOutsideDismiss) {
  CTouchPopupList popup;
  Fill(popup, 8);
  const RECT r = CTouchPopupList::PopupRect(width_, height_);
  const int pitch = ScaleY(43);
  // A tap on the third row returns its command id.
  PopupScript tap;
  tap.steps.push_back([&](CTouchPopupList& p) {
    EXPECT_TRUE(IsWindow(p.GetWindow()));
    EXPECT_EQ(p.GetPopupRect().left, r.left);
    qk::InjectPointer(WM_LBUTTONDOWN, r.left + 60, r.top + 2 * pitch + 20);
    qk::InjectPointer(WM_LBUTTONUP, r.left + 60, r.top + 2 * pitch + 20);
  });
  EXPECT_EQ(Run(popup, tap), 502);
  // Pressed and released outside: dismissed.
  PopupScript outside;
  outside.steps.push_back([&](CTouchPopupList&) {
    qk::InjectPointer(WM_LBUTTONDOWN, 10, r.top - 60);
    qk::InjectPointer(WM_LBUTTONUP, 12, r.top - 58);
  });
  EXPECT_EQ(Run(popup, outside), -1);
  // Pressed inside and released outside: the release goes to the list,
  // which clicks the pressed row.
  PopupScript dragOut;
  dragOut.steps.push_back([&](CTouchPopupList&) {
    qk::InjectPointer(WM_LBUTTONDOWN, r.left + 60, r.top + 20);
    qk::InjectPointer(WM_MOUSEMOVE, r.left + 60, r.top - 60);
    qk::InjectPointer(WM_LBUTTONUP, r.left + 60, r.top - 60);
  });
  EXPECT_EQ(Run(popup, dragOut), 500);
  // A drag inside scrolls the rows and clicks nothing; then a tap below the
  // list, outside, dismisses.
  PopupScript scroll;
  scroll.steps.push_back([&](CTouchPopupList&) {
    qk::InjectPointer(WM_LBUTTONDOWN, r.left + 60, r.bottom - 10);
  });
  scroll.steps.push_back([&](CTouchPopupList& p) {
    for (int k = 1; k <= 3; ++k) {
      qk::AdvanceClock(10);
      qk::InjectPointer(WM_MOUSEMOVE, r.left + 60, r.bottom - 10 - 30 * k);
      qk::PumpMessages();
    }
    EXPECT_EQ(p.Scroller().GetOffset(), -90);
    qk::InjectPointer(WM_LBUTTONUP, r.left + 60, r.bottom - 100);
  });
  scroll.steps.push_back([&](CTouchPopupList& p) {
    EXPECT_EQ(p.GetPressed(), nullptr);
    qk::InjectPointer(WM_LBUTTONDOWN, width_ / 2, r.bottom + 40);
    qk::InjectPointer(WM_LBUTTONUP, width_ / 2, r.bottom + 40);
  });
  EXPECT_EQ(Run(popup, scroll), -1);
}

TEST_F(PopupLists, DimmedScreenRestoredAndNestedLevels) {
  CTouchPopupList popup;
  Fill(popup, 2);
  CTouchLevelItem* more = popup.AddLevel(u"More", nullptr, kImageRed);
  more->AddItem(u"Deep action", nullptr, kImageGreen, -1, 777);
  const RECT r = CTouchPopupList::PopupRect(width_, height_);
  const int pitch = ScaleY(43);
  COLORREF pageBefore = 0, dimmed = 0;
  PopupScript script;
  script.steps.push_back([&](CTouchPopupList& p) {
    UpdateWindow(p.GetWindow());
    HDC screen = GetDC(nullptr);
    dimmed = GetPixel(screen, 5, r.top - 30);
    // The whole page under the popup is dimmed, down to the screen's bottom.
    EXPECT_EQ(GetPixel(screen, 5, height_ - 5), RGB(0x97, 0x97, 0x97)) << "240 x 160 / 255";
    // The rows are drawn inside the box on black.
    EXPECT_EQ(GetPixel(screen, r.right - 3, r.top + 10), RGB(0, 0, 0));
    ReleaseDC(nullptr, screen);
    // The row that opens a level carries a white arrow at the right.
    qk::InjectPointer(WM_LBUTTONDOWN, r.left + 60, r.top + 2 * pitch + 20);
    qk::InjectPointer(WM_LBUTTONUP, r.left + 60, r.top + 2 * pitch + 20);
  });
  script.steps.push_back([&](CTouchPopupList& p) {
    ASSERT_EQ(p.GetItemCount(), 2) << "the nested level: Back and its row";
    EXPECT_EQ(p.GetItem(0)->GetKind(), 2);
    // Back returns to the first level.
    qk::InjectPointer(WM_LBUTTONDOWN, r.left + 60, r.top + 20);
    qk::InjectPointer(WM_LBUTTONUP, r.left + 60, r.top + 20);
  });
  script.steps.push_back([&](CTouchPopupList& p) {
    ASSERT_EQ(p.GetItemCount(), 3);
    qk::InjectPointer(WM_LBUTTONDOWN, r.left + 60, r.top + 2 * pitch + 20);
    qk::InjectPointer(WM_LBUTTONUP, r.left + 60, r.top + 2 * pitch + 20);
  });
  script.steps.push_back([&](CTouchPopupList&) {
    qk::InjectPointer(WM_LBUTTONDOWN, r.left + 60, r.top + pitch + 20);
    qk::InjectPointer(WM_LBUTTONUP, r.left + 60, r.top + pitch + 20);
  });
  {
    HDC screen = GetDC(nullptr);
    UpdateWindow(owner_);
    ReleaseDC(nullptr, screen);
  }
  int result = Run(popup, script);
  EXPECT_EQ(result, 777);
  HDC screen = GetDC(nullptr);
  pageBefore = GetPixel(screen, 5, r.top - 30);
  ReleaseDC(nullptr, screen);
  // The page under the popup was dimmed to 160/255 and is back afterwards.
  EXPECT_NE(dimmed, pageBefore);
  EXPECT_NEAR(GetRValue(dimmed), GetRValue(pageBefore) * 160 / 255, 2);
  EXPECT_NEAR(GetBValue(dimmed), GetBValue(pageBefore) * 160 / 255, 2);
  // Removing every row leaves nothing pressed or pointing at freed rows.
  popup.RemoveAllItems();
  EXPECT_EQ(popup.GetItemCount(), 0);
  EXPECT_EQ(popup.GetPressed(), nullptr);
}

TEST_F(KeyDeviceTouchLists, PopupGeometryOnTheSmallScreen) {
  RECT r = CTouchPopupList::PopupRect(240, 320);
  EXPECT_EQ(r.left, 32);
  EXPECT_EQ(r.right, 208);
  EXPECT_EQ(r.bottom - r.top, 210) << "5 rows: 5 x 43 - 1 = 214, capped to 210";
  EXPECT_EQ(r.top, 55);
  RECT big = CTouchPopupList::PopupRect(480, 800);
  ResetScreenDpi();
  EXPECT_EQ(big.bottom - big.top, 210);
}

TEST_F(TouchLists, ImageButtonBarColumnsPressesAndCommands) {
  RegisterQuilletResources();
  CImageButtonBar bar;
  bar.SetButton(0, nullptr, kButtonA, 11);
  bar.SetButton(1, nullptr, kButtonB, 12);
  bar.SetButton(2, nullptr, -1, 13);
  bar.SetButton(3, nullptr, kButtonA, 14);
  bar.SetButton(4, nullptr, 424242, 15);  // a missing image: no button
  bar.SetButton(7, nullptr, kButtonA, 99);  // ignored
  bar.LoadPressedImage(nullptr, 350);
  EXPECT_EQ(bar.HitTestDown(24, 20), -1) << "nothing can be hit before the first draw";
  const int barHeight = 192 * 40 / 96, barTop = height_ - barHeight;
  int pressed = -2, released = -2;
  window_ = uitest::CreateHandlerWindow(width_, height_, [&](HWND w, UINT m, WPARAM, LPARAM lp, LRESULT*) {
    int x = static_cast<short>(LOWORD(lp)), y = static_cast<short>(HIWORD(lp));
    HDC dc = GetDC(w);
    bool handled = true;
    if (m == WM_LBUTTONDOWN) pressed = bar.HitTestDown(x, y);
    else if (m == WM_LBUTTONUP) released = bar.HitTestUp(x, y);
    else if (m != WM_PAINT) handled = false;
    if (handled) bar.Draw(dc, 0, barTop, width_, barHeight);
    ReleaseDC(w, dc);
    if (m == WM_PAINT) ValidateRect(w, nullptr);
    return handled;
  });
  UpdateWindow(window_);
  qk::PumpMessages();
  // Five columns of 96: centres at 48, 144, 240, 336, 432.
  const int cy = ScaleY(2) + (barHeight - ScaleY(2)) / 2;
  for (int slot : {0, 1, 3}) {
    RECT hit = bar.GetButton(slot).hitRect;
    EXPECT_EQ((hit.left + hit.right) / 2, 48 + 96 * slot) << slot;
    EXPECT_EQ((hit.top + hit.bottom) / 2, cy) << slot;
  }
  EXPECT_TRUE(IsRectEmpty(&bar.GetButton(2).hitRect));
  EXPECT_TRUE(IsRectEmpty(&bar.GetButton(4).hitRect));
  // A press shows the glow behind the button; the release returns the
  // command of the button under the stylus.
  HDC screen = GetDC(nullptr);
  COLORREF beside = GetPixel(screen, 144 + 20, barTop + cy);
  uitest::Press(144, barTop + cy);
  EXPECT_EQ(pressed, 12);
  EXPECT_TRUE(bar.GetButton(1).pressed);
  EXPECT_NE(GetPixel(screen, 144 + 20, barTop + cy), beside) << "the glow";
  uitest::Release(336, barTop + cy);
  EXPECT_EQ(released, 14) << "released on another button";
  EXPECT_FALSE(bar.GetButton(1).pressed);
  EXPECT_EQ(GetPixel(screen, 144 + 20, barTop + cy), beside);
  // Slots without an image answer -1.
  uitest::TapAt(240, barTop + cy);
  EXPECT_EQ(pressed, -1);
  EXPECT_EQ(released, -1);
  ReleaseDC(nullptr, screen);
  // The background: the top line is the highlight darkened by 164.
  COffscreenDC off(nullptr, 240, 40);
  bar.Draw(off.GetDC(), 0, 0, 240, 40);
  EXPECT_EQ(GetPixel(off.GetDC(), 100, 0), BlendColors(RGB(0, 0, 0), GetSysColor(COLOR_HIGHLIGHT), 164));
  RECT hit = bar.GetButton(0).hitRect;
  EXPECT_EQ((hit.left + hit.right) / 2, 24) << "a 240-pixel bar has columns of 48";
  EXPECT_EQ((bar.GetButton(3).hitRect.left + bar.GetButton(3).hitRect.right) / 2, 168);
}

// A screen's bar placed at the bottom of the screen in the client
// co-ordinates of a window lower than the screen's top, and a press tracked
// across it: the tracker asks for a redraw only when the pressed button
// changes, and the release gives the command under the finger.
TEST_F(TouchLists, ImageButtonBarAtTheScreenBottomAndItsPressTracker) {
  RegisterQuilletResources();
  CImageButtonBar bar;
  bar.SetButton(1, nullptr, kButtonB, 12);
  bar.SetButton(3, nullptr, kButtonA, 14);
  bar.LoadPressedImage(nullptr, 350);
  window_ =
      uitest::CreateHandlerWindow(width_ / 2, height_, [](HWND, UINT, WPARAM, LPARAM, LRESULT*) { return false; });
  SetWindowPos(window_, nullptr, 0, 30, width_ / 2, height_ - 30, SWP_NOZORDER);
  const int barHeight = ScaleY(40);
  HDC dc = GetDC(window_);
  bar.DrawAtScreenBottom(window_, dc, barHeight, TRUE);
  RECT placed = bar.GetBarRect();
  EXPECT_EQ(placed.top, height_ - barHeight - 30);
  EXPECT_EQ(placed.left, 0);
  EXPECT_EQ(placed.right, width_) << "across the screen";
  bar.DrawAtScreenBottom(window_, dc, barHeight);
  placed = bar.GetBarRect();
  EXPECT_EQ(placed.right, width_ / 2) << "across the client area";
  EXPECT_EQ(placed.bottom, height_ - 30);
  ReleaseDC(window_, dc);

  const int column = width_ / 2 / 5, y = placed.top + ScaleY(2) + (barHeight - ScaleY(2)) / 2;
  const int x1 = column * 3 / 2, x3 = column * 7 / 2;
  CBarPress press;
  EXPECT_FALSE(press.IsPressed());
  press.Down(bar, x1, y);
  EXPECT_TRUE(press.IsPressed());
  EXPECT_TRUE(bar.GetButton(1).pressed);
  EXPECT_FALSE(press.Move(bar, x1 + 1, y, true)) << "the same button: no redraw";
  EXPECT_TRUE(press.Move(bar, x3, y, true));
  EXPECT_FALSE(bar.GetButton(1).pressed);
  EXPECT_TRUE(bar.GetButton(3).pressed);
  EXPECT_TRUE(press.Move(bar, x3, y, false)) << "off the bar: nothing pressed";
  EXPECT_FALSE(bar.GetButton(3).pressed);
  EXPECT_FALSE(press.Move(bar, x3, y - barHeight, false));
  EXPECT_TRUE(press.Move(bar, x3, y, true));
  EXPECT_EQ(press.Up(bar, x3, y), 14);
  EXPECT_FALSE(press.IsPressed());
  EXPECT_FALSE(bar.GetButton(3).pressed);
  // A press that starts on the empty middle slot and moves to a button.
  press.Down(bar, column * 5 / 2, y);
  EXPECT_TRUE(press.IsPressed());
  EXPECT_TRUE(press.Move(bar, x1, y, true));
  EXPECT_EQ(press.Up(bar, column * 5 / 2, y), -1) << "released where there is no button";
  EXPECT_FALSE(bar.GetButton(1).pressed);
}

TEST(SharedText, AssignReleaseAndSharedCopies) {
  CSharedText record;
  EXPECT_EQ(CSharedText::Assign(record, u"Categories", -1), 10);
  EXPECT_EQ(record.GetRefCount(), 1);
  CSharedText copy;
  CSharedText::Copy(record, copy);
  EXPECT_EQ(copy.GetText(), record.GetText()) << "no characters copied";
  EXPECT_EQ(record.GetRefCount(), 2);
  AssignItemText(record, u"Channels");
  EXPECT_EQ(CString(record.GetText()), CString(u"Channels"));
  EXPECT_EQ(CString(copy.GetText()), CString(u"Categories")) << "the other holder keeps its text";
  EXPECT_EQ(copy.GetRefCount(), 1);
  CSharedText::Release(copy);
  EXPECT_EQ(copy.GetText(), CSharedText::EmptyText());
  // Empty texts share the one empty buffer, which releasing never frees.
  CSharedText empty;
  EXPECT_EQ(CSharedText::Assign(empty, nullptr, 5), 0);
  EXPECT_EQ(empty.GetText(), CSharedText::EmptyText());
  CSharedText::Release(empty);
  CSharedText::Release(empty);
  AssignItemText(empty, u"");
  EXPECT_EQ(empty.GetText(), CSharedText::EmptyText());
  EXPECT_EQ(CSharedText::Assign(empty, u"abcdef", 3), 3);
  EXPECT_EQ(CString(empty.GetText()), CString(u"abc"));
  CSharedText::Release(empty);
  CSharedText::Release(record);
}
