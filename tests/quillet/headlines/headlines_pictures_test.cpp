// Pictures of the headline list to look at: 30 items in mixed states
// (unread, read, with pictures, full text stored, one waiting for its full
// text, the error item) at 480 x 800 / 192 dpi and at 240 x 320 / 96 dpi,
// written as headlines-*.png to qtest::PicturesDir().
#include "gdi/image_codec.h"
#include "headlines_support.h"
#include "support/pictures.h"

namespace {

using htest::U;

const char* kTitles[] = {"Harbour master retires after forty years on the quay", "Ferry timetable",
                         "Storm warning for the outer islands: small craft should stay in port", "Fish market",
                         "Quay works delayed by the weather and a shortage of granite from the north"};

class HeadlinesPictures : public htest::HeadlinesTest {
 protected:
  void Picture(const qk::gdi::ScreenConfig& cfg, BOOL touch, const std::string& name) {
    std::vector<htest::Item> items;
    for (int i = 0; i < 29; ++i) {
      char date[64];
      snprintf(date, sizeof date, "Tue, %02d Dec 2026 %02d:%02d:00 GMT", 8 - i / 6, 10 - i % 6, 5 * i % 60);
      items.push_back({kTitles[i % 5], "http://127.0.0.1/news/" + std::to_string(i), date});
    }
    StoreFeed(items);
    StoreError();
    WriteList();
    UseScreen(cfg, touch);
    InitScreenDpi(0);
    // A picture for every third item, a page for every fourth, every other
    // one read, and one waiting for its full text.
    std::vector<uint32_t> pixels(128 * 128);
    for (size_t p = 0; p < pixels.size(); ++p) pixels[p] = (p % 128 / 32 + p / 4096) % 2 ? 0x2C8FE0u : 0xE0A040u;
    std::vector<uint8_t> png;
    ASSERT_TRUE(qk::gdi::EncodePng(128, 128, pixels, &png));
    WriteDeviceFile(DataPath("Ch100-image.png"), std::string(png.begin(), png.end()));
    CItemStore store(0);
    store.Open(DataPath("Ch100.bin"), 0, 0);
    for (int i = 0; i < 29; ++i) {
      const std::string link = "http://127.0.0.1/news/" + std::to_string(i);
      CString page = Record(link).pageName, bmp = page;
      bmp.Replace(u".htm", u".bmp");
      DWORD type = 0;
      if (i % 3 == 0 && CChannelListDlg::MakeChannelIcon(DataPath(U(bmp)), DataPath("Ch100-image.png")))
        type |= ITEM_TYPE_THUMBNAIL;
      if (i % 4 == 0) WriteDeviceFile(DataPath(U(page)), "<p>full</p>");
      if (i % 4 == 0) type |= ITEM_TYPE_PAGE;
      if (type) SetItemType(&store, htest::W(link), type);
      if (i % 2) SetItemReadState(&store, htest::W(link), ITEM_READ_READ);
    }
    app_->DownloadManager().AddJob(u"http://127.0.0.1/news/2", DataPath("Ch100-x.htm"), u"", DOWNLOAD_JOB_FULLTEXT,
                                   100, nullptr, nullptr);
    MakeFrame(cfg, touch);
    const std::string path = qtest::PicturesDir() + "/" + name;
    OpenChannel({
        [&] {
          EXPECT_EQ(List().GetItemCount(), 30);
          if (!touch) Key(VK_DOWN);  // the second row shows the focus
        },
        [&] {
          InvalidateRect(screen_->GetSafeHwnd(), nullptr, TRUE);
          UpdateWindow(screen_->GetSafeHwnd());
          ASSERT_TRUE(qk::display::WriteScreenPng(path));
          screen_->PostMessage(WM_CLOSE);
        },
    });
    qk::gdi::DecodedImage image;
    std::string bytes = qtest::ReadHostFile(path);
    ASSERT_TRUE(qk::gdi::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &image));
    EXPECT_EQ(image.width, cfg.width);
  }
};

TEST_F(HeadlinesPictures, TouchScreen480x800) {
  Picture(qk::gdi::DefaultScreenConfig(), TRUE, "headlines-480x800.png");
}

TEST_F(HeadlinesPictures, KeyDevice240x320) {
  Picture(qk::gdi::KeyDeviceScreenConfig(), FALSE, "headlines-240x320.png");
}

}  // namespace
