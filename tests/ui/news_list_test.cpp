// The headline list view: filled from a channel's item store as the headline
// screen does (error row first, then unread, then newest), its rows as
// painted (bold unread titles, read-state and pending images, pictures),
// driven by stylus and keys through a window, and a second thread changing
// and redrawing rows while the user scrolls.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/settings.h"
#include "quillet/feeds/item_store.h"
#include "quillet/ui/news_list_view.h"
#include "support/device_fixture.h"
#include "toolkit_support.h"

namespace {

struct Opened {
  HWND owner;
  DWORD_PTR context;
  int row, x;
};
std::vector<Opened> g_opened;
void OnOpen(HWND owner, DWORD_PTR context, int row, int x) { g_opened.push_back({owner, context, row, x}); }

class NewsList : public qtest::DeviceTest {
 protected:
  void SetUp() override { Start(qk::gdi::DefaultScreenConfig(), TRUE); }
  void Start(const qk::gdi::ScreenConfig& cfg, BOOL touch) {
    DeviceTest::SetUp();
    qk::gdi::SetScreenConfig(cfg);
    ResetScreenDpi();
    SetTouchFlag(touch);
    InitImagingFactory();
    qk::FreezeClock(1796724000000LL, 500000);  // 2026-12-08 10:40 UTC
    width_ = cfg.width;
    height_ = cfg.height;
    view_ = std::make_unique<CNewsListView>();
    window_ = uitest::CreateHandlerWindow(width_, height_, [this](HWND w, UINT m, WPARAM wp, LPARAM lp, LRESULT*) {
      if (!view_) return false;
      int x = static_cast<short>(LOWORD(lp)), y = static_cast<short>(HIWORD(lp));
      switch (m) {
        case WM_LBUTTONDOWN: return view_->OnPointerDown(w, x, y);
        case WM_MOUSEMOVE: return view_->OnPointerMove(w, x, y);
        case WM_LBUTTONUP: return view_->OnPointerUp(w, x, y);
        case WM_TIMER: return view_->OnTimer(w, wp);
        case WM_KEYDOWN:
          if (wp == VK_DOWN) view_->FocusNext();
          else if (wp == VK_UP) view_->FocusPrevious();
          else if (wp == VK_RETURN) view_->OpenFocusedItem();
          else return false;
          return true;
        case WM_PAINT: {
          PAINTSTRUCT ps;
          HDC dc = BeginPaint(w, &ps);
          view_->Paint(dc);
          EndPaint(w, &ps);
          return true;
        }
      }
      return false;
    });
    g_opened.clear();
    view_->Create(nullptr, window_, 0, 0, width_, height_, 77, &OnOpen);
  }
  void TearDown() override {
    view_.reset();
    DestroyWindow(window_);
    uitest::CurrentHandler() = nullptr;
    ReleaseImagingFactory();
    qk::UseRealClock();
    SetTouchFlag(TRUE);
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    ResetScreenDpi();
    DeviceTest::TearDown();
  }
  HDC Buffer() { return view_->Scroller().GetBackBufferDC(); }
  COLORREF At(int x, int y) { return GetPixel(Buffer(), x, y); }
  std::vector<CString> Titles() {
    std::vector<CString> out;
    CNewsListItem row;
    for (int i = 0; view_->GetItem(i, row); ++i) out.push_back(row.m_strTitle);
    return out;
  }
  // Light pixels (the white title) in the top half of a row.
  int TitleInk(int row) {
    const int pitch = view_->GetRowPitch(), base = view_->GetBaseHeight();
    int n = 0;
    for (int y = row * pitch + 4; y < row * pitch + base / 2; ++y)
      for (int x = 90; x < width_ / 2; ++x) {
        COLORREF c = At(x, y);
        n += GetRValue(c) > 200 && GetGValue(c) > 200 && GetBValue(c) > 200;
      }
    return n;
  }
  // Where the read-state image of a row is drawn.
  POINT StatePlace(int row) {
    CTouchImage& full = view_->ReadStateImage(FALSE, TRUE);
    const int X = GetScreenDpiX(), Y = GetScreenDpiY();
    return POINT{width_ - 4 * X / 96 - full.GetWidth(),
                 row * view_->GetRowPitch() + 3 * view_->GetBaseHeight() / 4 - full.GetHeight() / 2 - Y / 96};
  }
  bool StateShown(int row, BOOL read, BOOL full) {
    POINT p = StatePlace(row);
    return uitest::ImageDrawnAt(Buffer(), view_->ReadStateImage(read, full), p.x, p.y);
  }

  HWND window_ = nullptr;
  std::unique_ptr<CNewsListView> view_;
  int width_ = 0, height_ = 0;
};

}  // namespace

TEST_F(NewsList, FilledFromTheItemStoreErrorRowFirstThenUnreadThenNewest) {
  ASSERT_EQ(CString(NEWS_ERROR_LINK), CString(ERROR_ITEM_LINK)) << "the feed document's error link";
  const char16_t* path = u"\\ChannelData\\Ch004.bin";
  CreateDirectoryW(u"\\ChannelData", nullptr);
  {
    CItemStore store(0);
    store.Open(path, 0, 0);
    store.AddPendingItem(u"  Unread of the 2nd ", u"http://n/2", u"", u"2027-01-02 08:00:00", ITEM_READ_UNREAD, 0,
                         u"<p>2</p>", u"");
    store.AddPendingItem(u"Unread of the 3rd", u"http://n/3", u"", u"2027-01-03 08:00:00", ITEM_READ_UNREAD_FETCHED,
                         ITEM_TYPE_PAGE, u"", u"Ch004-3.htm");
    store.AddPendingItem(u"Read of the 4th", u"http://n/4", u"", u"2027-01-04 08:00:00", ITEM_READ_READ, 0, u"", u"");
    store.AddPendingItem(u"Read of the 1st", u"http://n/1", u"", u"2027-01-01 08:00:00", ITEM_READ_READ_FETCHED,
                         ITEM_TYPE_PAGE, u"", u"Ch004-1.htm");
    store.AddPendingItem(u"Second unread of the 3rd", u"http://n/3b", u"", u"2027-01-03 08:00:00", ITEM_READ_UNREAD,
                         0, u"", u"Ch004-3b.txt");
    ASSERT_EQ(store.Commit(), 1);
    // The error item of a failed update, read and older than every row.
    ASSERT_EQ(store.WriteErrorRecord(u"Update failed", ERROR_ITEM_LINK, u"", u"2000-01-01 00:00:00", ITEM_READ_READ,
                                     ITEM_TYPE_ERROR, u"timeout", u""),
              1);
  }
  CItemStore store(0);
  store.Open(path, 0, 1);
  while (store.MoveNext()) {
    const CItemRecord& r = store.Current();
    view_->AddItem(r.title, r.date, r.link, u"", r.pageName, r.readFlag >= ITEM_READ_READ, r.link == u"http://n/2");
  }
  EXPECT_EQ(Titles(), (std::vector<CString>{u"Update failed", u"Unread of the 3rd", u"Second unread of the 3rd",
                                            u"Unread of the 2nd", u"Read of the 4th", u"Read of the 1st"}));
  CNewsListItem row;
  ASSERT_TRUE(view_->GetItem(1, row));
  EXPECT_TRUE(row.m_bFullText) << "a page file with .htm";
  EXPECT_EQ(row.m_nTop, view_->GetRowPitch());
  EXPECT_EQ(row.m_nBottom, 2 * view_->GetRowPitch());
  ASSERT_TRUE(view_->GetItem(2, row));
  EXPECT_FALSE(row.m_bFullText);
  ASSERT_TRUE(view_->GetItem(3, row));
  EXPECT_TRUE(row.m_bPending);
  EXPECT_EQ(row.m_strLink, CString(u"http://n/2"));
  CString date;
  EXPECT_TRUE(view_->GetListItemTitle(4, date));
  EXPECT_EQ(date, CString(u"2027-01-04 08:00:00"));
  EXPECT_FALSE(view_->GetListItemTitle(6, date));
  EXPECT_TRUE(date.IsEmpty());
  // Rows added after an error item stay below it, even unread and newer.
  view_->AddItem(u"Newest unread", u"2030-01-01 00:00:00", u"http://n/9", u"", u"", FALSE, FALSE);
  EXPECT_EQ(Titles()[0], CString(u"Update failed"));
  EXPECT_EQ(Titles()[1], CString(u"Newest unread"));
  // An error item added last still goes on top.
  view_->AddItem(u"Later error", u"1999-01-01 00:00:00", NEWS_ERROR_LINK, u"", u"", TRUE, FALSE);
  EXPECT_EQ(Titles().front(), CString(u"Later error"));
  // At most 500 rows; the view keeps its scroll offset when emptied.
  for (int i = view_->GetItemCount(); i < 500; ++i) view_->AddItem(u"Filler", u"2026-01-01", u"l", u"", u"", TRUE, FALSE);
  view_->AddItem(u"One too many", u"2030-01-01 00:00:00", u"x", u"", u"", FALSE, FALSE);
  EXPECT_EQ(view_->GetItemCount(), 500);
  EXPECT_EQ(Titles()[3], CString(u"Unread of the 3rd"));
  view_->Scroller().SetOffset(-300, FALSE);
  view_->RemoveAllItems();
  EXPECT_EQ(view_->GetItemCount(), 0);
  EXPECT_EQ(view_->Scroller().GetOffset(), -300);
}

TEST_F(NewsList, RowsShowBoldUnreadTitlesReadStatePendingAndPictures) {
  view_->AddItem(u"Same headline", u"2026-12-08 09:00:00", u"l1", u"", u"Ch001-1.htm", FALSE, TRUE);
  view_->AddItem(u"Same headline", u"2026-12-08 08:00:00", u"l2", u"", u"", FALSE, FALSE);
  view_->AddItem(u"Same headline", u"2026-12-08 07:00:00", u"l3", u"", u"Ch001-3.htm", TRUE, FALSE);
  view_->AddItem(u"Same headline", u"2026-12-08 06:00:00", u"l4", u"", u"Ch001-4.txt", TRUE, FALSE);
  view_->Redraw(TRUE);
  EXPECT_TRUE(StateShown(0, FALSE, TRUE));
  EXPECT_TRUE(StateShown(1, FALSE, FALSE));
  EXPECT_TRUE(StateShown(2, TRUE, TRUE));
  EXPECT_TRUE(StateShown(3, TRUE, FALSE));
  EXPECT_FALSE(StateShown(0, FALSE, FALSE)) << "the plain image is not the full-text one";
  EXPECT_FALSE(StateShown(3, TRUE, TRUE));
  EXPECT_GT(TitleInk(0), TitleInk(2) * 11 / 10) << "unread titles are bold";
  EXPECT_NEAR(TitleInk(1), TitleInk(0), TitleInk(0) / 20);
  // The pending image stands left of the read-state image on the first row
  // only.
  CTouchImage& pending = view_->PendingImage();
  CTouchImage& unread = view_->ReadStateImage(FALSE, FALSE);
  const int X = GetScreenDpiX(), Y = GetScreenDpiY(), base = view_->GetBaseHeight(), pitch = view_->GetRowPitch();
  const int px = width_ - 4 * X / 96 - 6 * X / 96 - unread.GetWidth() - pending.GetWidth();
  const int py = 3 * base / 4 - pending.GetHeight() / 2 - Y / 96;
  EXPECT_TRUE(uitest::ImageDrawnAt(Buffer(), pending, px, py));
  EXPECT_FALSE(uitest::ImageDrawnAt(Buffer(), pending, px, pitch + py));
  // Rows without a picture show the default one at (4X, (41Y - 32Y) / 2).
  EXPECT_TRUE(uitest::ImageDrawnAt(Buffer(), view_->DefaultPicture(), 4 * X / 96, (41 * Y / 96 - 32 * Y / 96) / 2));
  // A picture loaded later replaces it, centred in the row, from the next
  // paint of the row.
  BITMAPINFO info = {};
  info.bmiHeader.biSize = 40;
  info.bmiHeader.biWidth = 60;
  info.bmiHeader.biHeight = 50;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  std::vector<BYTE> pixels(static_cast<size_t>(60 * 3) * 50);
  for (size_t i = 0; i < pixels.size(); i += 3) {
    pixels[i] = 0x20;
    pixels[i + 1] = static_cast<BYTE>(i % 200);
    pixels[i + 2] = 0xD0;
  }
  CDib dib;
  ASSERT_TRUE(dib.CreateFromInfo(&info, pixels.data()));
  WCHAR root[MAX_PATH];
  GetDataRoot(root);
  CString picture = CString(root) + u"\\ChannelData\\Ch001-2.bmp";
  CreateDirectoryW(CString(root) + u"\\ChannelData", nullptr);
  ASSERT_TRUE(dib.Save(picture));
  EXPECT_TRUE(view_->LoadItemBitmap(1, picture));
  EXPECT_FALSE(view_->LoadItemBitmap(9, picture));
  CNewsListItem row;
  view_->GetItem(1, row);
  EXPECT_EQ(row.m_nPictureWidth, 60);
  EXPECT_EQ(row.m_nPictureHeight, 50);
  EXPECT_EQ(row.m_strPicturePath, picture);
  const int picY = pitch + (base - 50) / 2;
  EXPECT_NE(At(8 + 30, picY + 25), RGB(0xD0, 0, 0x20)) << "kept until the row's cache is released";
  view_->ReleaseItemCache(1);
  view_->Redraw(TRUE);
  COLORREF c = At(8 + 30, picY + 25);
  EXPECT_EQ(GetRValue(c), 0xD0);
  EXPECT_EQ(GetBValue(c), 0x20);
  EXPECT_NE(At(8 + 30, picY - 1), c);
  // A picture that cannot be loaded leaves the default picture.
  view_->AddItem(u"Broken picture", u"2026-12-08 10:00:00", u"l5", u"\\ChannelData\\missing.bmp", u"", FALSE, FALSE);
  view_->Redraw(TRUE);
  view_->GetItem(0, row);
  EXPECT_EQ(row.m_nPictureWidth, 0);
  EXPECT_TRUE(uitest::ImageDrawnAt(Buffer(), view_->DefaultPicture(), 4 * X / 96, (41 * Y / 96 - 32 * Y / 96) / 2));
  // An empty list shows the empty text only when asked.
  view_->RemoveAllItems();
  view_->Redraw(TRUE);
  auto grey = [&] {
    int n = 0;
    for (int y = 0; y < height_; y += 1)
      for (int x = 0; x < width_; ++x) n += At(x, y) == RGB(192, 192, 192);
    return n;
  };
  EXPECT_EQ(grey(), 0);
  view_->SetShowEmptyText(TRUE);
  view_->Redraw(TRUE);
  EXPECT_GT(grey(), 50);
}

TEST_F(NewsList, StylusAndKeysThroughTheWindow) {
  for (int i = 0; i < 40; ++i) {
    CString title, date, link;
    title.Format(u"Headline %02d", i);
    date.Format(u"2026-12-%02d 10:00:00", 28 - i / 2);
    link.Format(u"http://n/%d", i);
    view_->AddItem(title, date, link, u"", u"", FALSE, FALSE);
  }
  const int pitch = view_->GetRowPitch();
  const int strip = 52 * GetScreenDpiX() / 96;
  // A tap on the picture strip opens the row but leaves it unread and bold.
  uitest::TapAt(strip - 10, 2 * pitch + 20);
  ASSERT_EQ(g_opened.size(), 1u);
  EXPECT_EQ(g_opened[0].row, 2);
  EXPECT_EQ(g_opened[0].x, strip - 10);
  EXPECT_EQ(g_opened[0].owner, window_);
  EXPECT_EQ(g_opened[0].context, 77u);
  CNewsListItem row;
  view_->GetItem(2, row);
  EXPECT_FALSE(row.m_bRead);
  EXPECT_TRUE(StateShown(2, FALSE, FALSE));
  // Further right the tap marks it read, and the repaint shows it.
  uitest::TapAt(strip + 40, 2 * pitch + 20);
  ASSERT_EQ(g_opened.size(), 2u);
  view_->GetItem(2, row);
  EXPECT_TRUE(row.m_bRead);
  EXPECT_TRUE(StateShown(2, TRUE, FALSE));
  // Holding shows the press highlight before anything opens.
  COLORREF before = At(width_ - 100, 4 * pitch + pitch / 2);
  uitest::Press(300, 4 * pitch + 30);
  uitest::RunTimers(120);
  EXPECT_EQ(view_->GetFocusedItem(), 4);
  EXPECT_GT(GetRValue(At(width_ - 100, 4 * pitch + pitch / 2)), GetRValue(before)) << "lightened";
  EXPECT_EQ(g_opened.size(), 2u);
  uitest::Release(300, 4 * pitch + 30);
  ASSERT_EQ(g_opened.size(), 3u);
  EXPECT_EQ(g_opened[2].row, 4);
  // A drag scrolls without opening, drops the focus, and a flick runs on.
  uitest::Press(240, 700);
  for (int k = 1; k <= 5; ++k) {
    qk::AdvanceClock(10);
    uitest::Move(240, 700 - 60 * k);
  }
  EXPECT_EQ(view_->GetFocusedItem(), -1);
  const int dragged = view_->Scroller().GetOffset();
  EXPECT_EQ(dragged, -300);
  uitest::Release(240, 400);
  EXPECT_EQ(g_opened.size(), 3u);
  uitest::RunTimers(2000, 35);
  EXPECT_LT(view_->Scroller().GetOffset(), dragged) << "the flick carried on";
  EXPECT_GE(view_->Scroller().GetOffset(), height_ - 40 * pitch) << "and stopped within the list";
  // The arrow keys move the focus (wrapping) and Enter opens with x = -1.
  uitest::Key(VK_UP);
  EXPECT_EQ(view_->GetFocusedItem(), 39);
  EXPECT_EQ(view_->Scroller().GetOffset(), height_ - 40 * pitch);
  uitest::Key(VK_DOWN);
  EXPECT_EQ(view_->GetFocusedItem(), 0);
  EXPECT_EQ(view_->Scroller().GetOffset(), 0);
  uitest::Key(VK_DOWN);
  uitest::Key(VK_RETURN);
  ASSERT_EQ(g_opened.size(), 4u);
  EXPECT_EQ(g_opened[3].row, 1);
  EXPECT_EQ(g_opened[3].x, -1);
  view_->GetItem(1, row);
  EXPECT_TRUE(row.m_bRead) << "opening from the keys marks the row read";
  // Emptied, the keys and Enter do nothing.
  view_->RemoveAllItems();
  uitest::Key(VK_DOWN);
  uitest::Key(VK_RETURN);
  EXPECT_EQ(view_->GetFocusedItem(), -1);
  EXPECT_EQ(g_opened.size(), 4u);
}

// A full paint after a resize of a scrolled list draws the rows at the
// scrolled position, and a second thread refilling and redrawing the list
// while the stylus scrolls leaves it whole.
TEST_F(NewsList, FullPaintAtTheOffsetAndAThreadRedrawingWhileTheUserScrolls) {
  for (int i = 0; i < 60; ++i) {
    CString title;
    title.Format(u"Row %02d", i);
    CString date;
    date.Format(u"2026-%02d-%02d 10:00:00", 12 - i / 28, 28 - i % 28);
    view_->AddItem(title, date, u"l", u"", u"", i % 2, FALSE);
  }
  const int pitch = view_->GetRowPitch();
  view_->Scroller().SetOffset(-30 * pitch, TRUE);
  view_->OnSize(width_, height_);
  RECT all = {0, 0, width_, height_};
  FillRect(Buffer(), &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  view_->Redraw(TRUE);
  EXPECT_EQ(view_->Scroller().GetOffset(), -30 * pitch);
  CNewsListItem top;
  view_->GetItem(30, top);
  EXPECT_TRUE(StateShown(0, top.m_bRead, FALSE)) << "row 30 is painted at the top";
  EXPECT_NE(At(width_ / 2, height_ - 2), RGB(0, 0, 0));

  std::atomic<bool> done{false};
  std::thread refresh([&] {
    for (int round = 0; round < 40; ++round) {
      for (int i = 0; i < 60; i += 5) view_->ReleaseItemCache(i);
      view_->LoadItemBitmap(round % 60, u"\\nothing.bmp");
      view_->Redraw(TRUE);
      CString date;
      view_->GetListItemTitle(round, date);
      if (round % 10 == 9) {
        view_->RemoveAllItems();
        for (int i = 0; i < 60; ++i) view_->AddItem(u"Again", u"2026-12-01 00:00:00", u"l", u"", u"", FALSE, FALSE);
      }
    }
    done = true;
  });
  int steps = 0;
  while ((!done || steps < 30) && steps < 100000) {
    uitest::Press(200, 600);
    for (int k = 1; k <= 3; ++k) {
      qk::AdvanceClock(10);
      uitest::Move(200, 600 - 50 * k);
    }
    uitest::Release(200, 450);
    uitest::Key(VK_DOWN);
    uitest::Key(VK_RETURN);
    uitest::TapAt(300, 100);
    uitest::RunTimers(70, 35);
    ++steps;
  }
  refresh.join();
  qk::PumpMessages();
  EXPECT_EQ(view_->GetItemCount(), 60);
  for (const Opened& o : g_opened) EXPECT_TRUE(o.row >= 0 && o.row < 60);
}

class KeyDeviceNewsList : public NewsList {
 protected:
  void SetUp() override { Start(qk::gdi::KeyDeviceScreenConfig(), FALSE); }
};

TEST_F(KeyDeviceNewsList, RowGeometryAndFocusedSoftBox) {
  EXPECT_EQ(view_->GetBaseHeight(), 41);
  EXPECT_EQ(view_->GetRowPitch(), 42);
  view_->AddItem(u"A", u"2026-12-08 10:00:00", u"a", u"", u"", FALSE, FALSE);
  view_->AddItem(u"B", u"2026-12-07 10:00:00", u"b", u"", u"", FALSE, FALSE);
  view_->AddItem(u"C", u"2026-12-06 10:00:00", u"c", u"", u"", FALSE, FALSE);
  uitest::Key(VK_DOWN);
  ASSERT_EQ(view_->GetFocusedItem(), 0);
  auto dark = [](int w) { return BlendColors(RGB(0, 0, 0), GetSysColor(COLOR_HIGHLIGHT), w); };
  const COLORREF white = RGB(255, 255, 255);
  EXPECT_EQ(At(100, 0), BlendColors(white, BlendColors(white, dark(159), 80), 40));
  EXPECT_EQ(At(100, 41), dark(180)) << "separator";
  EXPECT_EQ(At(100, 42), dark(97)) << "the second row's top colour";
  // The default picture at (4, 4) on the key device.
  EXPECT_TRUE(uitest::ImageDrawnAt(Buffer(), view_->DefaultPicture(), 4, 42 + 4));
}
