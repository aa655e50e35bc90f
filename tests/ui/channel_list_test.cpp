// The channel list view: filled from a "Channels.opml", sorted rows, counts,
// dates, states and favicons as painted, the empty text, focus moves and the
// open callback, and a refresh thread changing and redrawing rows while the
// user-interface thread scrolls.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "channel_list_support.h"
#include "common/display_date.h"
#include "common/settings.h"

#include <cstring>
#include "gdi/surface.h"
#include "support/device_fixture.h"
#include "user/user.h"

using uitest::MakeIco;
using uitest::MakePngIco;

namespace {

struct Opened {
  CString title, url;
  int channel = 0, x = 0;
  HWND owner = nullptr;
  DWORD_PTR context = 0;
};
std::vector<Opened> g_opened;

void OnOpen(HWND owner, DWORD_PTR context, const CString& title, const CString& url, int channel, int x) {
  g_opened.push_back({title, url, channel, x, owner, context});
}

const char* kOpml =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<opml version=\"1.0\"><head><title>Channels</title></head><body nextID=\"9\">\n"
    " <outline text=\"News\">\n"
    "  <outline type=\"rss\" text=\"  beta news \" uniqueID=\"3\" xmlUrl=\"http://b.example/feed\" "
    "lastUpdateTime=\"2026-12-08 10:15:00\" itemCount=\"12\" newItemCount=\"4\"/>\n"
    "  <outline type=\"rss\" text=\"Alpha\" uniqueID=\"1\" xmlUrl=\"http://a.example/rss\" itemCount=\"0\"/>\n"
    " </outline>\n"
    " <outline type=\"rss\" text=\"alpha\" uniqueID=\"2\" xmlUrl=\"http://a2.example/atom\" "
    "lastUpdateTime=\"2026-11-30 08:00:00\" itemCount=\"7\" newItemCount=\"0\"/>\n"
    " <outline type=\"link\" text=\"Not a feed\" uniqueID=\"5\" xmlUrl=\"http://x.example/\"/>\n"
    "</body></opml>\n";

class ChannelList : public qtest::DeviceTest {
 protected:
  void SetUp() override { Start(qk::gdi::DefaultScreenConfig(), TRUE); }
  void Start(const qk::gdi::ScreenConfig& cfg, BOOL touch) {
    DeviceTest::SetUp();
    uitest::UseScreen(cfg, touch);
    InitImagingFactory();
    qk::FreezeClock(1796724000000LL, 500000);  // 2026-12-08 10:40 UTC
    window_ = uitest::CreateViewHost(cfg);
    view_ = std::make_unique<CChannelListView>();
    uitest::HostedView() = view_.get();
    g_opened.clear();
    width_ = cfg.width;
    height_ = cfg.height;
    view_->Create(nullptr, window_, 0, 0, width_, height_, 42, &OnOpen);
  }
  void TearDown() override {
    uitest::HostedView() = nullptr;
    view_.reset();
    DestroyWindow(window_);
    ReleaseImagingFactory();
    qk::UseRealClock();
    uitest::RestoreDefaultScreen();
    DeviceTest::TearDown();
  }
  std::u16string DataFolder() {
    WCHAR root[MAX_PATH];
    GetDataRoot(root);
    return std::u16string(root) + u"\\ChannelData";
  }
  void WriteFavicon(int channel, const std::string& bytes) {
    CString name;
    name.Format(u"%s\\Ch%03d-Fav.ico", DataFolder().c_str(), channel);
    WriteDeviceFile(name, bytes);
  }
  void Fill(int n, const char* prefix = "Channel", int items = 5, int fresh = 0) {
    view_->RemoveAllItems();
    for (int i = 0; i < n; ++i) {
      CString title;
      title.Format(u"%S %03d", prefix, i);
      CString url;
      url.Format(u"http://feeds.example/%d", i);
      view_->AddItem(i + 1, title, u"2026-12-08 09:00:00", url, u"", items, fresh);
    }
  }
  HDC Buffer() { return view_->Scroller().GetBackBufferDC(); }
  COLORREF At(int x, int y) { return GetPixel(Buffer(), x, y); }
  // Pixels in the box whose colour is grey or white text rather than the blue shades.
  int Ink(int left, int top, int right, int bottom, int minGrey = 150) {
    int n = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x) {
        COLORREF c = At(x, y);
        if (GetRValue(c) >= minGrey && GetGValue(c) >= minGrey) ++n;
      }
    return n;
  }
  void Tap(int x, int y) {
    view_->OnPointerDown(window_, x, y);
    view_->OnPointerUp(window_, x, y);
  }

  HWND window_ = nullptr;
  std::unique_ptr<CChannelListView> view_;
  int width_ = 0, height_ = 0;
};

}  // namespace

TEST_F(ChannelList, FilledFromChannelsOpmlSortedAndTrimmed) {
  WCHAR root[MAX_PATH];
  GetDataRoot(root);
  std::u16string path = std::u16string(root) + u"\\Channels.opml";
  WriteDeviceFile(path.c_str(), kOpml);
  ASSERT_TRUE(uitest::OpmlFiller::Fill(*view_, path.c_str()));
  ASSERT_EQ(view_->GetItemCount(), 3);
  CChannelListItem row;
  // "alpha" was added after "Alpha" and goes before it.
  ASSERT_TRUE(view_->GetItem(0, row));
  EXPECT_EQ(row.m_strTitle, CString(u"alpha"));
  EXPECT_EQ(row.m_nChannel, 2);
  EXPECT_EQ(row.m_strCategory, CString(u""));
  ASSERT_TRUE(view_->GetItem(1, row));
  EXPECT_EQ(row.m_strTitle, CString(u"Alpha"));
  EXPECT_EQ(row.m_strUpdateTime, CString(u"n/a"));
  ASSERT_TRUE(view_->GetItem(2, row));
  EXPECT_EQ(row.m_strTitle, CString(u"beta news"));
  EXPECT_EQ(row.m_strCategory, CString(u"News"));
  EXPECT_EQ(row.m_nItemCount, 12);
  EXPECT_EQ(row.m_nNewCount, 4);
  EXPECT_EQ(row.m_nTop, 2 * view_->GetRowPitch());
  EXPECT_EQ(row.m_nBottom, 3 * view_->GetRowPitch());
  CString url;
  EXPECT_TRUE(view_->GetListItemTitle(2, url));
  EXPECT_EQ(url, CString(u"http://b.example/feed"));
  EXPECT_FALSE(view_->GetListItemTitle(3, url));
  EXPECT_TRUE(url.IsEmpty());
  EXPECT_EQ(view_->FindItemById(3), 2);
  EXPECT_EQ(view_->FindItemById(5), -1);
  // Row geometry at 192 dpi with the touch flag: 82 + 2.
  EXPECT_EQ(view_->GetBaseHeight(), 82);
  EXPECT_EQ(view_->GetRowPitch(), 84);
}

TEST_F(ChannelList, TitleOrderAndEveryRowOfALongList) {
  view_->AddItem(1, u"beta", u"", u"u1", u"", 0, 0);
  view_->AddItem(2, u"Alpha", u"", u"u2", u"", 0, 0);
  view_->AddItem(3, u"alpha", u"", u"u3", u"", 0, 0);
  CChannelListItem row;
  std::vector<int> order;
  for (int i = 0; i < 3; ++i) {
    view_->GetItem(i, row);
    order.push_back(row.m_nChannel);
  }
  EXPECT_EQ(order, (std::vector<int>{3, 2, 1}));

  // A list imported from another reader: 2,000 channels in no order. Every
  // one gets its row, in title order, found by its address and its number.
  view_->RemoveAllItems();
  const int n = 2000;
  for (int k = 0; k < n; ++k) {
    const int i = k * 7919 % n;
    CString title, url;
    title.Format(u"Channel %04d", i);
    url.Format(u"http://feeds.example/%d", i);
    view_->AddItem(i + 1, title, u"2026-12-08 09:00:00", url, u"", 5, 0);
  }
  view_->AddItem(9999, u"AAA first", u"", u"http://first.example/", u"", 0, 0);
  ASSERT_EQ(view_->GetItemCount(), n + 1);
  const int pitch = view_->GetRowPitch();
  for (int i = 0; i <= n; ++i) {
    ASSERT_TRUE(view_->GetItem(i, row));
    ASSERT_EQ(row.m_nChannel, i == 0 ? 9999 : i) << i;
    ASSERT_EQ(row.m_nTop, i * pitch) << i;
    ASSERT_EQ(row.m_nBottom, (i + 1) * pitch) << i;
    ASSERT_EQ(view_->FindItemByUrl(row.m_strUrl), i) << i;
    ASSERT_EQ(view_->FindItemById(row.m_nChannel), i) << i;
  }
  EXPECT_EQ(view_->FindItemByUrl(u"http://feeds.example/2000"), -1);
  // A row taken out moves the rows below it up, and the look-ups follow.
  ASSERT_TRUE(view_->RemoveItem(0));
  EXPECT_EQ(view_->FindItemByUrl(u"http://first.example/"), -1);
  EXPECT_EQ(view_->FindItemById(2000), n - 1);
  EXPECT_EQ(view_->FindItemByUrl(u"http://feeds.example/0"), 0);

  // The last rows are reached, painted and opened like the first.
  view_->FocusPrevious();
  EXPECT_EQ(view_->GetFocusedItem(), n - 1);
  EXPECT_EQ(view_->Scroller().GetOffset(), height_ - n * pitch);
  view_->ClearFocus();
  view_->Redraw(TRUE);
  EXPECT_GT(Ink(36, height_ - pitch + 2, width_ / 2, height_ - pitch / 2), 20) << "the last row's title is painted";
  Tap(120, height_ - pitch / 2);
  ASSERT_EQ(g_opened.size(), 1u);
  EXPECT_EQ(g_opened[0].title, CString(u"Channel 1999"));
  EXPECT_EQ(g_opened[0].channel, 2000);
}

TEST_F(ChannelList, CountsBoldTitleAndRefreshPendingImage) {
  view_->AddItem(1, u"Same title", u"2026-12-08 09:00:00", u"u1", u"", 0, 0);   // no counts
  view_->AddItem(2, u"Same title", u"2026-12-08 09:00:00", u"u2", u"", 9, 3);   // bold, counts
  view_->AddItem(3, u"Same title", u"2026-12-08 09:00:00", u"u3", u"", 9, 0);   // counts, plain
  view_->Redraw(TRUE);
  const int pitch = view_->GetRowPitch(), base = view_->GetBaseHeight();
  // New rows go before equal titles: rows are 3, 2, 1.
  auto countsInk = [&](int row) { return Ink(width_ - 8 - 40, row * pitch + base / 2, width_ - 8, row * pitch + base - 4); };
  auto titleInk = [&](int row) { return Ink(80, row * pitch + 4, width_ / 2, row * pitch + base / 2, 200); };
  EXPECT_GT(countsInk(0), 20);
  EXPECT_GT(countsInk(1), 20);
  EXPECT_EQ(countsInk(2), 0) << "an item count of 0 shows no counts";
  EXPECT_GT(titleInk(1), titleInk(0) * 11 / 10) << "new items make the title bold";
  EXPECT_NEAR(titleInk(0), titleInk(2), titleInk(0) / 20) << "the rows differ only in their shade";
  // The refresh-pending image at the right, from the next paint of the row.
  auto imageArea = [&](int row) {
    std::vector<COLORREF> v;
    for (int y = 12; y < 36; ++y)
      for (int x = width_ - 32; x < width_ - 8; ++x) v.push_back(At(x, row * pitch + y));
    return v;
  };
  auto before = imageArea(2);
  ASSERT_TRUE(view_->SetItemState(2, 2));
  view_->Redraw(TRUE);
  auto pending = imageArea(2);
  EXPECT_NE(pending, before);
  int white = 0;
  for (COLORREF c : pending) white += c == RGB(255, 255, 255);
  EXPECT_GT(white, 20) << "the white arrow of the image";
  view_->SetItemState(2, 0);
  view_->Redraw(TRUE);
  EXPECT_EQ(imageArea(2), before);
  EXPECT_FALSE(view_->SetItemState(3, 2));
}

TEST_F(ChannelList, DateLineShowsTheDisplayDate) {
  view_->AddItem(1, u"Dated", u"2026-12-08 09:00:00", u"u1", u"", 1, 0);
  view_->AddItem(2, u"Undated", u"n/a", u"u2", u"", 1, 0);
  view_->Redraw(TRUE);
  const int pitch = view_->GetRowPitch(), base = view_->GetBaseHeight();
  CString shown;
  FormatDisplayDate(shown, u"2026-12-08 09:00:00");
  ASSERT_FALSE(shown.IsEmpty());
  // The date line of each row, drawn in the row's own font, compared with
  // the same text drawn on its own.
  // The horizontal extent of the light grey text on the date line of a
  // row, and of the same text drawn on its own in the row's font.
  auto extent = [](HDC dc, int left, int top, int right, int bottom) {
    int minX = right, maxX = left - 1;
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x) {
        COLORREF c = GetPixel(dc, x, y);
        if (GetRValue(c) >= 120 && GetGValue(c) >= 120) {
          minX = std::min(minX, x);
          maxX = std::max(maxX, x);
        }
      }
    return maxX - minX;
  };
  auto lineExtent = [&](int row) { return extent(Buffer(), 80, row * pitch + base / 2, width_ - 120, row * pitch + base - 4); };
  auto extentOf = [&](const CString& text) {
    COffscreenDC off(nullptr, width_, 60);
    LOGFONTW lf = {};
    lf.lfHeight = 26;
    std::memcpy(lf.lfFaceName, u"Tahoma", 14);
    HFONT f = CreateFontIndirectW(&lf);
    HGDIOBJ old = SelectObject(off.GetDC(), f);
    SetTextColor(off.GetDC(), RGB(192, 192, 192));
    SetBkMode(off.GetDC(), TRANSPARENT);
    RECT r = {0, 0, width_, 60};
    DrawTextW(off.GetDC(), text, -1, &r, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    int e = extent(off.GetDC(), 0, 0, width_, 60);
    SelectObject(off.GetDC(), old);
    DeleteObject(f);
    return e;
  };
  EXPECT_GT(lineExtent(0), 20);
  EXPECT_NEAR(lineExtent(0), extentOf(shown), 1);
  CString na;
  FormatDisplayDate(na, u"n/a");
  EXPECT_NEAR(lineExtent(1), extentOf(na), 1);
  EXPECT_NE(extentOf(shown), extentOf(na));
}

TEST_F(ChannelList, EmptyListShowsTheEmptyTextOnlyWhenAsked) {
  view_->Redraw(TRUE);
  EXPECT_EQ(Ink(0, 0, width_, height_, 190), 0) << "only the gradient";
  COLORREF top = At(5, 10), bottom = At(5, height_ - 1);
  EXPECT_EQ(bottom, BlendColors(RGB(0, 0, 0), GetSysColor(COLOR_HIGHLIGHT), 70));
  EXPECT_NE(top, bottom);
  view_->SetShowEmptyText(TRUE);
  view_->Redraw(TRUE);
  int minX = width_, maxX = 0, minY = height_, maxY = 0, n = 0;
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x)
      if (At(x, y) == RGB(192, 192, 192)) {
        ++n;
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
      }
  ASSERT_GT(n, 50);
  EXPECT_NEAR((minX + maxX) / 2, width_ / 2, 6) << "centred";
  EXPECT_NEAR((minY + maxY) / 2, height_ / 2, 12);
}

TEST_F(ChannelList, FocusMovesWrapAndScrollIntoView) {
  Fill(30);
  const int pitch = view_->GetRowPitch();
  view_->FocusPrevious();
  EXPECT_EQ(view_->GetFocusedItem(), 29) << "no focus: the last row";
  EXPECT_EQ(view_->Scroller().GetOffset(), height_ - 30 * pitch);
  view_->FocusNext();
  EXPECT_EQ(view_->GetFocusedItem(), 0) << "from the last row to the first";
  EXPECT_EQ(view_->Scroller().GetOffset(), 0);
  view_->FocusNext();
  view_->FocusNext();
  EXPECT_EQ(view_->GetFocusedItem(), 2);
  // The focused row is painted lighter (white at alpha 40).
  COLORREF focused = At(width_ - 2, 2 * pitch + pitch / 2);
  view_->ClearFocus();
  view_->Redraw(TRUE);
  COLORREF plain = At(width_ - 2, 2 * pitch + pitch / 2);
  EXPECT_GT(GetRValue(focused), GetRValue(plain));
  EXPECT_EQ(view_->GetFocusedItem(), -1);
  // While the refresh thread holds the busy flag the keys do nothing.
  view_->FocusNext();
  view_->SetBusy(TRUE);
  view_->FocusNext();
  view_->FocusPrevious();
  EXPECT_EQ(view_->GetFocusedItem(), 0);
  view_->SetBusy(FALSE);
  view_->FocusNext();
  EXPECT_EQ(view_->GetFocusedItem(), 1);
  view_->RemoveAllItems();
  view_->FocusNext();
  view_->FocusPrevious();
  EXPECT_EQ(view_->GetFocusedItem(), -1);
  view_->OpenFocusedItem();
  EXPECT_TRUE(g_opened.empty());
}

// A view that tries the arrow keys while it paints its content, as the
// user-interface thread may while the refresh thread repaints.
class ProbingView final : public CChannelListView {
 public:
  int DrawContent(HWND window, DWORD_PTR context, HDC hdc, DWORD_PTR drawParam, int offset, int width,
                  int height) override {
    if (probe) {
      probe = false;
      int before = GetFocusedItem();
      FocusNext();
      movedWhilePainting = GetFocusedItem() != before;
    }
    return CChannelListView::DrawContent(window, context, hdc, drawParam, offset, width, height);
  }
  bool probe = false;
  bool movedWhilePainting = false;
};

TEST_F(ChannelList, RepaintsAreBusyAndDoNotEndTheRefreshHold) {
  uitest::HostedView() = nullptr;
  view_ = std::make_unique<ProbingView>();
  auto* probing = static_cast<ProbingView*>(view_.get());
  // The view's destructor is not virtual: the probing view is deleted as
  // itself.
  struct DeleteAsProbing {
    std::unique_ptr<CChannelListView>& view;
    ~DeleteAsProbing() {
      uitest::HostedView() = nullptr;
      delete static_cast<ProbingView*>(view.release());
    }
  } deleter{view_};
  uitest::HostedView() = view_.get();
  view_->Create(nullptr, window_, 0, 0, width_, height_, 42, &OnOpen);
  Fill(5);
  // The arrow keys work between repaints...
  view_->FocusNext();
  ASSERT_EQ(view_->GetFocusedItem(), 0);
  // ...but not while Redraw repaints, nor during the repaint after a count
  // change or an open.
  probing->probe = true;
  view_->Redraw(TRUE);
  EXPECT_FALSE(probing->probe) << "the content was painted";
  EXPECT_FALSE(probing->movedWhilePainting);
  probing->probe = true;
  view_->SetItemCounts(3, 9, 1);
  EXPECT_FALSE(probing->movedWhilePainting);
  probing->probe = true;
  view_->OpenFocusedItem();
  EXPECT_FALSE(probing->movedWhilePainting);
  EXPECT_EQ(view_->GetFocusedItem(), 0);
  // After a repaint the keys work again.
  view_->FocusNext();
  EXPECT_EQ(view_->GetFocusedItem(), 1);
  // A hold taken by the refresh thread lasts across its redraws.
  view_->SetBusy(TRUE);
  view_->Redraw(TRUE);
  view_->SetItemCounts(2, 4, 0);
  view_->FocusNext();
  view_->FocusPrevious();
  EXPECT_EQ(view_->GetFocusedItem(), 1);
  view_->SetBusy(FALSE);
  view_->FocusNext();
  EXPECT_EQ(view_->GetFocusedItem(), 2);
}

TEST_F(ChannelList, TapAndEnterOpenThroughTheCallback) {
  Fill(10);
  const int pitch = view_->GetRowPitch();
  Tap(120, 3 * pitch + 10);
  ASSERT_EQ(g_opened.size(), 1u);
  EXPECT_EQ(g_opened[0].title, CString(u"Channel 003"));
  EXPECT_EQ(g_opened[0].url, CString(u"http://feeds.example/3"));
  EXPECT_EQ(g_opened[0].channel, 4);
  EXPECT_EQ(g_opened[0].x, 120);
  EXPECT_EQ(g_opened[0].owner, window_);
  EXPECT_EQ(g_opened[0].context, 42u);
  EXPECT_EQ(view_->GetFocusedItem(), 3);
  view_->FocusNext();
  view_->OpenFocusedItem();
  ASSERT_EQ(g_opened.size(), 2u);
  EXPECT_EQ(g_opened[1].channel, 5);
  EXPECT_EQ(g_opened[1].x, -1);
  // A tap below the last row opens nothing; a drag opens nothing either.
  Tap(120, 10 * pitch + 20);
  view_->OnPointerDown(window_, 100, 300);
  view_->OnPointerMove(window_, 100, 200);
  view_->OnPointerUp(window_, 100, 200);
  EXPECT_EQ(g_opened.size(), 2u);
  EXPECT_EQ(view_->GetFocusedItem(), -1) << "a drag drops the focus";
}

TEST_F(ChannelList, PaintsTheRowsVisibleAtTheOffsetAfterAResize) {
  // Each channel gets a favicon of its own colour, so that the painted rows
  // can be told apart.
  const int n = 60;
  for (int i = 1; i <= n; ++i) {
    uint32_t colour = 0xFF000000u | static_cast<uint32_t>((i * 4) << 16 | (255 - i * 4) << 8 | 0x40);
    WriteFavicon(i, MakeIco(16, 24, [&](int, int) { return colour; }));
  }
  Fill(n);
  const int pitch = view_->GetRowPitch();
  view_->Scroller().SetOffset(-40 * pitch, TRUE);
  // A size change that keeps the size drops every rendering and asks for a
  // full paint while the list stays scrolled.
  view_->OnSize(width_, height_);
  EXPECT_EQ(view_->Scroller().GetOffset(), -40 * pitch);
  HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  RECT all = {0, 0, width_, height_};
  FillRect(Buffer(), &all, black);
  view_->Redraw(TRUE);
  // Row 40 (channel 41) is at the top; its favicon is in the box at x 24..56.
  COLORREF c = At(40, 12 + 16);
  EXPECT_EQ(GetRValue(c), 41 * 4);
  EXPECT_EQ(GetGValue(c), 255 - 41 * 4);
  c = At(40, 2 * pitch + 12 + 16);
  EXPECT_EQ(GetRValue(c), 43 * 4);
}

TEST_F(ChannelList, FaviconsOfEveryKindAndBrokenOnesFallBack) {
  const RECT box = {0, 0, 32, 32};
  auto draw = [&](const std::string& bytes, COLORREF* centre, COLORREF* corner) {
    WriteFavicon(7, bytes);
    COffscreenDC off(nullptr, 32, 40);
    HBRUSH b = CreateSolidBrush(RGB(1, 2, 3));
    RECT all = {0, 0, 32, 40};
    FillRect(off.GetDC(), &all, b);
    DeleteObject(b);
    CString path;
    path.Format(u"%s\\Ch007-Fav.ico", DataFolder().c_str());
    BOOL ok = view_->DrawIconFile(off.GetDC(), path, box.left, box.top, box.right, box.bottom);
    // The picture is shifted by one density unit (2 pixels at 192 dpi).
    if (centre) *centre = GetPixel(off.GetDC(), 16, 18);
    if (corner) *corner = GetPixel(off.GetDC(), 1, 3);
    return ok;
  };
  // A red disc on transparent corners.
  auto disc = [](int x, int y) -> uint32_t {
    int dx = x - 8, dy = y - 8;
    return dx * dx + dy * dy <= 36 ? 0xFFFF0000u : 0x0000FF00u;
  };
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    COLORREF centre, corner;
    ASSERT_TRUE(draw(MakeIco(16, bits, disc), &centre, &corner)) << bits;
    EXPECT_EQ(centre, RGB(255, 0, 0)) << bits;
    EXPECT_EQ(corner, RGB(1, 2, 3)) << "masked pixels keep the background at " << bits;
  }
  // Every depth, 1 bit included, is drawn the right way up: red above blue.
  auto halves = [](int, int y) -> uint32_t { return y < 8 ? 0xFFFF0000u : 0xFF0000FFu; };
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    WriteFavicon(7, MakeIco(16, bits, halves));
    COffscreenDC off(nullptr, 32, 40);
    CString path;
    path.Format(u"%s\\Ch007-Fav.ico", DataFolder().c_str());
    ASSERT_TRUE(view_->DrawIconFile(off.GetDC(), path, 0, 0, 32, 32)) << bits;
    // No transparent rows at the bottom: the picture starts one density
    // unit (2 pixels) down.
    EXPECT_EQ(GetPixel(off.GetDC(), 16, 2 + 4), RGB(255, 0, 0)) << bits;
    EXPECT_EQ(GetPixel(off.GetDC(), 16, 2 + 28), RGB(0, 0, 255)) << bits;
  }
  // 16-bit pixels hold five bits per colour: 0xFF8040 keeps 31, 16 and 8,
  // widened again to 255, 132 and 66.
  COLORREF centre;
  ASSERT_TRUE(draw(MakeIco(16, 16, [](int, int) { return 0xFFFF8040u; }), &centre, nullptr));
  EXPECT_EQ(centre, RGB(255, 132, 66));
  ASSERT_TRUE(draw(MakeIco(16, 16, [](int, int) { return 0xFF0000FFu; }, 0), &centre, nullptr))
      << "the header's 16 bits when the entry says 0";
  EXPECT_EQ(centre, RGB(0, 0, 255));
  // A directory entry that says 0 bits takes the header's depth.
  ASSERT_TRUE(draw(MakeIco(16, 8, disc, 0), &centre, nullptr));
  EXPECT_EQ(centre, RGB(255, 0, 0));
  // The palette is what the image's bytes hold besides the header and the
  // rows; the header's count of used colours does not move the rows.
  std::string fewUsed = MakeIco(16, 8, disc);
  uitest::Put32(fewUsed, 22 + 32, 2);
  ASSERT_TRUE(draw(fewUsed, &centre, nullptr));
  EXPECT_EQ(centre, RGB(255, 0, 0));
  // A 4-bit icon whose image holds only two palette entries: indexes beyond
  // them are black.
  {
    std::string ico = MakeIco(16, 4, disc);
    std::string header = ico.substr(22, 40), rest = ico.substr(22 + 40 + 64);
    std::string palette = ico.substr(22 + 40, 8);
    std::string image = header + palette + rest;
    std::string cut = ico.substr(0, 22) + image;
    uitest::Put32(cut, 14, static_cast<uint32_t>(image.size()));
    ASSERT_TRUE(draw(cut, &centre, nullptr));
    EXPECT_EQ(centre, RGB(255, 0, 0)) << "index 1 is within the two entries";
  }
  // The directory's width and height describe the rows, not the header's.
  std::string otherHeader = MakeIco(16, 8, disc);
  uitest::Put32(otherHeader, 22 + 4, 8);
  uitest::Put32(otherHeader, 22 + 8, 16);
  ASSERT_TRUE(draw(otherHeader, &centre, nullptr));
  EXPECT_EQ(centre, RGB(255, 0, 0));
  // PNG-compressed entries are decoded as PNG.
  ASSERT_TRUE(draw(MakePngIco(16, [](int, int) { return 0xFF00C000u; }), &centre, nullptr));
  EXPECT_EQ(centre, RGB(0, 192, 0));
  // Broken files draw nothing.
  std::string good = MakeIco(16, 8, disc);
  auto broken = [&](std::string bytes, const char* why) { EXPECT_FALSE(draw(bytes, nullptr, nullptr)) << why; };
  broken("", "empty");
  std::string s = good;
  s[2] = 2;
  broken(s, "not an icon");
  s = good;
  s[4] = 0;
  broken(s, "no entries");
  broken(good.substr(0, 30), "short image");
  s = good;
  uitest::Put32(s, 14, 0);
  broken(s, "size 0");
  s = good;
  uitest::Put32(s, 14, 40000);
  broken(s, "size above 32000");
  s = good;
  uitest::Put32(s, 18, 0x7FFFFFF0);
  broken(s, "offset past the end");
  s = good;
  uitest::Put32(s, 22, 12);
  broken(s, "no 40-byte header");
  s = good;
  uitest::Put16(s, 12, 64);
  uitest::Put16(s, 22 + 14, 64);
  broken(s, "more than 32 bits");
  s = good + std::string(4 * 300, '\0');
  uitest::Put32(s, 14, static_cast<uint32_t>(s.size() - 22));
  broken(s, "more than 256 palette entries between the header and the rows");
  s = good;
  uitest::Put32(s, 22 + 4, 200);
  uitest::Put32(s, 22 + 8, 400);
  s[6] = static_cast<char>(200);
  s[7] = static_cast<char>(200);
  broken(s, "sizes larger than the data");
  // In a row, a broken favicon leaves the default icon in its place.
  WriteFavicon(1, "garbage");
  view_->AddItem(1, u"One", u"", u"u", u"", 0, 0);
  view_->Redraw(TRUE);
  CTouchImage icon;
  ASSERT_EQ(icon.LoadFromResource(nullptr, 298), S_OK);
  // The default icon is centred on x = 40 with its top at y = 12.
  const BYTE* a = icon.Alpha();
  int x = 16, y = 16;
  ASSERT_EQ(a[y * 32 + x], 255);
  COLORREF expect = RGB(icon.Red()[y * 32 + x], icon.Green()[y * 32 + x], icon.Blue()[y * 32 + x]);
  EXPECT_EQ(At(24 + x, 12 + y), expect);
}

TEST_F(ChannelList, SetItemCountsRepaintsAndReportsTheRow) {
  Fill(3);
  EXPECT_EQ(view_->SetItemCounts(2, 10, 4), 1);
  CChannelListItem row;
  view_->GetItem(1, row);
  EXPECT_EQ(row.m_nItemCount, 10);
  EXPECT_EQ(row.m_nNewCount, 4);
  EXPECT_EQ(view_->SetItemCounts(77, 1, 1), -1);
}

// The key device (96 dpi, no touch flag): rows 36 + 1 pixels high, and the
// focused row framed by the soft box before it is lightened.
class KeyDeviceChannelList : public ChannelList {
 protected:
  void SetUp() override { Start(qk::gdi::KeyDeviceScreenConfig(), FALSE); }
};

TEST_F(KeyDeviceChannelList, FocusedRowIsFramedByTheSoftBox) {
  Fill(3);
  ASSERT_EQ(view_->GetBaseHeight(), 36);
  ASSERT_EQ(view_->GetRowPitch(), 37);
  view_->FocusNext();
  ASSERT_EQ(view_->GetFocusedItem(), 0);
  // Row 0 of three: step 30, w 160; the gradient runs from dark(127) to
  // dark(159).
  auto dark = [](int w) { return BlendColors(RGB(0, 0, 0), GetSysColor(COLOR_HIGHLIGHT), w); };
  const COLORREF white = RGB(255, 255, 255);
  const COLORREF outline = BlendColors(white, dark(159), 80);
  // The box starts 4 pixels above the row: its level-4 outline line is the
  // row's first line, and the body is the gradient's top colour; both are
  // then lightened by white at alpha 40.
  EXPECT_EQ(At(100, 0), BlendColors(white, outline, 40));
  EXPECT_EQ(At(width_ - 40, 18), BlendColors(white, dark(127), 40));
  // The separator line is not lightened: dark(180).
  EXPECT_EQ(At(100, 36), dark(180));
  // An unfocused row keeps its gradient: its top line is dark(160 - 30 - 30 - 3).
  EXPECT_EQ(At(width_ - 40, 37), dark(97));
}

TEST(DrawTextEllipsisTest, FitsCutsAndBreaksIntoTwoLines) {
  COffscreenDC off(nullptr, 400, 80);
  LOGFONTW lf = {};
  lf.lfHeight = 20;
  HFONT f = CreateFontIndirectW(&lf);
  HGDIOBJ old = SelectObject(off.GetDC(), f);
  SetTextColor(off.GetDC(), RGB(255, 255, 255));
  SetBkMode(off.GetDC(), TRANSPARENT);
  auto inkRight = [&](int top, int bottom) {
    int maxX = -1;
    for (int y = top; y < bottom; ++y)
      for (int x = 0; x < 400; ++x)
        if (GetPixel(off.GetDC(), x, y) != RGB(0, 0, 0)) maxX = std::max(maxX, x);
    return maxX;
  };
  auto clear = [&] {
    RECT r = {0, 0, 400, 80};
    FillRect(off.GetDC(), &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  };
  RECT box = {0, 0, 100, 40};
  int h = DrawTextEllipsis(off.GetDC(), u"Short", box, DT_SINGLELINE | DT_VCENTER, 0);
  EXPECT_GT(h, 0);
  EXPECT_LT(inkRight(0, 40), 100);
  clear();
  SIZE whole;
  GetTextExtentPoint32W(off.GetDC(), u"A rather long channel title", 27, &whole);
  ASSERT_GT(whole.cx, 100);
  h = DrawTextEllipsis(off.GetDC(), u"A rather long channel title", box, DT_SINGLELINE | DT_NOCLIP, 0);
  EXPECT_EQ(h, 40);
  int right = inkRight(0, 40);
  EXPECT_GT(right, 60);
  EXPECT_LT(right, 100) << "the cut text with its dots is narrower than the box";
  // Two lines: broken at a blank; the second line fitted into its width.
  clear();
  RECT two = {0, 0, 150, 80};
  h = DrawTextEllipsis(off.GetDC(), u"Breaking news from the wide world of feeds and more", two, DT_NOPREFIX, 90);
  EXPECT_EQ(h, 80);
  EXPECT_LT(inkRight(0, 40), 150);
  EXPECT_GT(inkRight(40, 80), 30);
  EXPECT_LT(inkRight(40, 80), 90);
  // Data is drawn as it stands, whatever the caller's format: "Quotes & Co"
  // keeps its "&" (wider than "Quotes  Co", which a prefix would show).
  clear();
  RECT wide = {0, 0, 300, 40};
  DrawTextEllipsis(off.GetDC(), u"Quotes & Co", wide, DT_SINGLELINE | DT_VCENTER, 0);
  int withAmpersand = inkRight(0, 40);
  clear();
  DrawTextEllipsis(off.GetDC(), u"Quotes  Co", wide, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX, 0);
  EXPECT_GT(withAmpersand, inkRight(0, 40) + 3);
  SelectObject(off.GetDC(), old);
  DeleteObject(f);
}

// The refresh thread changes and redraws rows while the user-interface
// thread drags, flicks and moves the focus.
TEST_F(ChannelList, RefreshThreadRedrawsWhileTheUserScrolls) {
  Fill(120);
  std::atomic<bool> done{false};
  std::thread refresh([&] {
    for (int round = 0; round < 60; ++round) {
      view_->SetBusy(TRUE);
      int rows = view_->GetItemCount();
      for (int i = 0; i < rows; i += 7) {
        view_->SetItemState(i, round % 2 ? 2 : 0);
        view_->ReleaseItemCache(i);
      }
      view_->SetItemCounts(round % 120 + 1, round, round / 2);
      view_->Redraw(TRUE);
      CString url;
      view_->GetListItemTitle(round % 130, url);
      view_->SetBusy(FALSE);
      if (round % 20 == 19) {
        // The list is rebuilt during the run.
        view_->RemoveAllItems();
        for (int i = 0; i < 120; ++i) {
          CString title;
          title.Format(u"Rebuilt %03d", i);
          view_->AddItem(i + 1, title, u"n/a", u"http://r.example/", u"", i, 0);
        }
        view_->Redraw(TRUE);
      }
    }
    done = true;
  });
  int y = 700;
  int steps = 0;
  while (!done || steps < 50) {
    view_->OnPointerDown(window_, 200, y);
    for (int k = 0; k < 4; ++k) {
      qk::AdvanceClock(10);
      view_->OnPointerMove(window_, 200, y - 40 * (k + 1));
    }
    view_->OnPointerUp(window_, 200, y - 160);
    view_->FocusNext();
    view_->OpenFocusedItem();
    qk::AdvanceClock(70);
    qk::PumpMessages();
    ++steps;
    if (steps > 100000) break;
  }
  refresh.join();
  qk::PumpMessages();
  EXPECT_EQ(view_->GetItemCount(), 120);
  int focus = view_->GetFocusedItem();
  EXPECT_TRUE(focus >= -1 && focus < 120);
  CChannelListItem row;
  EXPECT_TRUE(view_->GetItem(119, row));
}

// The icon's rows land exactly where the row drawing puts them: one density
// unit below the box's top, raised by the transparent rows at the bottom.
TEST_F(ChannelList, FaviconRowsLandOnExactPixelRows) {
  // 16 rows: 0-3 red, 4-12 blue, 13-15 transparent. Drawn 2:1 into a 32 x 32
  // box at 192 dpi: shifted 2 - 3 x 2 = -4 pixels.
  auto bands = [](int, int y) -> uint32_t { return y < 4 ? 0xFFFF0000u : y < 13 ? 0xFF0000FFu : 0x00000000u; };
  const COLORREF back = RGB(1, 2, 3);
  for (int bits : {4, 16, 24, 32}) {
    WriteFavicon(7, MakeIco(16, bits, bands));
    COffscreenDC off(nullptr, 32, 48);
    HBRUSH b = CreateSolidBrush(back);
    RECT all = {0, 0, 32, 48};
    FillRect(off.GetDC(), &all, b);
    DeleteObject(b);
    CString path;
    path.Format(u"%s\\Ch007-Fav.ico", DataFolder().c_str());
    ASSERT_TRUE(view_->DrawIconFile(off.GetDC(), path, 0, 8, 32, 40)) << bits;
    auto at = [&](int y) { return GetPixel(off.GetDC(), 16, y); };
    EXPECT_EQ(at(3), back) << bits;
    EXPECT_EQ(at(4), RGB(255, 0, 0)) << bits << ": row 0 at 8 + 2 - 6";
    EXPECT_EQ(at(11), RGB(255, 0, 0)) << bits;
    EXPECT_EQ(at(12), RGB(0, 0, 255)) << bits;
    EXPECT_EQ(at(29), RGB(0, 0, 255)) << bits;
    EXPECT_EQ(at(30), back) << bits << ": the transparent rows";
  }
  // In a row of the list (touch edition, 192 dpi): the box is 32 pixels
  // square with its left edge at 64 / 2 - 32 / 2 + 8 = 24 and its top at 12,
  // and an icon without transparent rows starts 2 pixels lower.
  WriteFavicon(1, MakeIco(16, 24, [](int, int) { return 0xFFFF0000u; }));
  view_->AddItem(1, u"One", u"", u"u", u"", 0, 0);
  view_->Redraw(TRUE);
  EXPECT_NE(At(30, 13), RGB(255, 0, 0));
  EXPECT_EQ(At(30, 14), RGB(255, 0, 0));
  EXPECT_EQ(At(30, 45), RGB(255, 0, 0));
  EXPECT_NE(At(30, 46), RGB(255, 0, 0));
  EXPECT_NE(At(23, 30), RGB(255, 0, 0));
  EXPECT_EQ(At(24, 30), RGB(255, 0, 0));
  EXPECT_EQ(At(55, 30), RGB(255, 0, 0));
  EXPECT_NE(At(56, 30), RGB(255, 0, 0));
}

// With the touch flag, the list's top edge is shaded: black at alpha 90 over
// the first density line (2 pixels at 192 dpi) and at alpha 45 over the
// second. Pulled down past its top, the list shows the solid dark(160)
// there, so each line is checked to the pixel.
TEST_F(ChannelList, TopEdgeShadowLinesArePixelExact) {
  Fill(2);
  COffscreenDC off(nullptr, width_, 60);
  view_->DrawContent(window_, 42, off.GetDC(), 0, 20, width_, 60);
  const COLORREF dark160 = BlendColors(RGB(0, 0, 0), GetSysColor(COLOR_HIGHLIGHT), 160);
  for (int x : {0, width_ / 2, width_ - 1}) {
    EXPECT_EQ(GetPixel(off.GetDC(), x, 0), BlendColors(RGB(0, 0, 0), dark160, 90)) << x;
    EXPECT_EQ(GetPixel(off.GetDC(), x, 1), BlendColors(RGB(0, 0, 0), dark160, 90)) << x;
    EXPECT_EQ(GetPixel(off.GetDC(), x, 2), BlendColors(RGB(0, 0, 0), dark160, 45)) << x;
    EXPECT_EQ(GetPixel(off.GetDC(), x, 3), BlendColors(RGB(0, 0, 0), dark160, 45)) << x;
    EXPECT_EQ(GetPixel(off.GetDC(), x, 4), dark160) << x;
  }
}
