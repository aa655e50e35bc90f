// The compiled-in images of the headline list, the reading view and the
// new-channel wizard: every PNG decodes through the toolkit's image loader at
// its size (the 192-dpi one twice the pixels), shows something and has a
// transparent border; every bitmap loads as a DIB of the stated size and
// depth, the up-folder one keyed on pure green.
#include <gtest/gtest.h>

#include "gdi/surface.h"
#include "quillet/res/resources.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/ui/bitmap_resource.h"
#include "quillet/ui/density.h"
#include "quillet/ui/touch_image.h"

namespace {

struct Png {
  UINT id;
  int size;
};

class ScreenImages : public ::testing::Test {
 protected:
  void SetUp() override {
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    ResetScreenDpi();
    InitScreenDpi(0);
    InitImagingFactory();
    RegisterQuilletResources();
  }
  void TearDown() override { ReleaseImagingFactory(); }
};

COLORREF PixelOf(HBITMAP bitmap, int x, int y) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bitmap);
  COLORREF c = GetPixel(dc, x, y);
  SelectObject(dc, old);
  DeleteDC(dc);
  return c;
}

}  // namespace

TEST_F(ScreenImages, EveryPngAndBitmapLoadsAtItsSize) {
  const Png pngs[] = {
      {IDR_PNG_NEWS_TITLE_ICON, 24},      {IDR_PNG_NEWS_TITLE_ICON_192, 48},
      {IDR_PNG_BAR_BACK, 32},             {IDR_PNG_BAR_BACK_192, 64},
      {IDR_PNG_BAR_PREVIOUS, 32},         {IDR_PNG_BAR_PREVIOUS_192, 64},
      {IDR_PNG_BAR_NEXT, 32},             {IDR_PNG_BAR_NEXT_192, 64},
      {IDR_PNG_BAR_EMAIL, 32},            {IDR_PNG_BAR_EMAIL_192, 64},
      {IDR_PNG_CANCEL, 32},               {IDR_PNG_CANCEL_192, 64},
      {IDR_PNG_OK, 32},                   {IDR_PNG_OK_192, 64},
      {IDR_PNG_MARK_READ, 32},            {IDR_PNG_MARK_READ_192, 64},
      {IDR_PNG_MARK_UNREAD, 32},          {IDR_PNG_MARK_UNREAD_192, 64},
      {IDR_PNG_DELETE_ARTICLE, 32},       {IDR_PNG_DELETE_ARTICLE_192, 64},
      {IDR_PNG_CHOICE_SYNC, 32},          {IDR_PNG_CHOICE_SYNC_192, 64},
      {IDR_PNG_CHOICE_SYNC_KEY, 32},      {IDR_PNG_CHOICE_CATALOG, 32},
      {IDR_PNG_CHOICE_CATALOG_192, 64},   {IDR_PNG_CHOICE_CATALOG_KEY, 32},
      {IDR_PNG_CHOICE_URL, 32},           {IDR_PNG_CHOICE_URL_192, 64},
      {IDR_PNG_CHOICE_URL_KEY, 32},       {IDR_PNG_CHOICE_OPML, 32},
      {IDR_PNG_CHOICE_OPML_192, 64},      {IDR_PNG_CHOICE_OPML_KEY, 32},
      {IDR_PNG_CHOICE_SEARCH, 32},        {IDR_PNG_CHOICE_SEARCH_192, 64},
      {IDR_PNG_CHOICE_SEARCH_KEY, 32},    {IDR_PNG_CHOICE_TEMPLATES, 32},
      {IDR_PNG_CHOICE_TEMPLATES_192, 64}, {IDR_PNG_CHOICE_TEMPLATES_KEY, 32},
      {IDR_PNG_CHOICE_ONLINE, 32},        {IDR_PNG_CHOICE_ONLINE_192, 64},
      {IDR_PNG_CHOICE_ONLINE_KEY, 32},    {IDR_PNG_INPUT_URL, 32},
      {IDR_PNG_INPUT_URL_192, 64},        {IDR_PNG_INPUT_URL_KEY, 32},
      {IDR_PNG_INPUT_TITLE, 32},          {IDR_PNG_INPUT_TITLE_192, 64},
      {IDR_PNG_INPUT_TITLE_KEY, 32},      {IDR_PNG_INPUT_FETCH, 32},
      {IDR_PNG_INPUT_FETCH_192, 64},      {IDR_PNG_INPUT_FETCH_KEY, 32},
      {IDR_PNG_INPUT_SAVE, 32},           {IDR_PNG_INPUT_SAVE_192, 64},
      {IDR_PNG_INPUT_SAVE_KEY, 32},       {IDR_PNG_INPUT_SELECTED_KEY, 32},
  };
  for (const Png& png : pngs) {
    SCOPED_TRACE(png.id);
    CTouchImage image;
    ASSERT_EQ(image.LoadFromResource(nullptr, png.id), S_OK);
    ASSERT_EQ(image.GetWidth(), png.size);
    ASSERT_EQ(image.GetHeight(), png.size);
    // Something is drawn, and the corners stay see-through over the bar
    // or the row behind.
    const int n = png.size * png.size;
    int opaque = 0;
    for (int i = 0; i < n; ++i) opaque += image.Alpha()[i] == 255;
    EXPECT_GT(opaque, n / 16);
    EXPECT_LT(opaque, n);
    EXPECT_EQ(image.Alpha()[0], 0);
    EXPECT_EQ(image.Alpha()[n - 1], 0);
  }

  struct Bitmap {
    UINT id;
    int size;
    int bits;
  };
  const Bitmap bitmaps[] = {{IDB_NEWS_READ, 16, 24},  {IDB_NEWS_UNREAD, 16, 24}, {IDB_NEWS_ERROR, 16, 24},
                            {IDB_NEWS_FILLER, 1, 8},  {IDB_FILE_UP, 20, 24},     {IDB_FILE_UP_192, 40, 24}};
  for (const Bitmap& b : bitmaps) {
    SCOPED_TRACE(b.id);
    HBITMAP bitmap = LoadBitmapResource(nullptr, b.id);
    ASSERT_NE(bitmap, nullptr);
    BITMAP info = {};
    ASSERT_NE(GetObjectW(bitmap, sizeof info, &info), 0);
    EXPECT_EQ(info.bmWidth, b.size);
    EXPECT_EQ(info.bmHeight < 0 ? -info.bmHeight : info.bmHeight, b.size);
    EXPECT_EQ(info.bmBitsPixel, b.bits);
    // The file chooser draws the up-folder with pure green as the
    // transparent colour; the article page's marks stand on its white, and
    // the filler is plain white.
    const bool keyed = b.id == IDB_FILE_UP || b.id == IDB_FILE_UP_192;
    const COLORREF background = keyed ? RGB(0, 255, 0) : RGB(255, 255, 255);
    EXPECT_EQ(PixelOf(bitmap, 0, 0), background);
    int drawn = 0;
    for (int y = 0; y < b.size; ++y)
      for (int x = 0; x < b.size; ++x) drawn += PixelOf(bitmap, x, y) != background;
    if (b.id == IDB_NEWS_FILLER) {
      EXPECT_EQ(drawn, 0);
    } else {
      EXPECT_GT(drawn, b.size * b.size / 3);
    }
    DeleteObject(bitmap);
  }
}
