// Pictures of the headline list to look at: a channel of 30 items in mixed
// states (unread, read, with pictures, full text stored, one waiting for its
// full text, the error item) on the touch screen (480 x 800 at 192 dpi) and
// on the key device (240 x 320 at 96 dpi), written as headlines-*.png to
// qtest::PicturesDir().
#include "gdi/image_codec.h"
#include "headlines_support.h"
#include "quillet/refresh/download_manager.h"
#include "quillet/screens/channel_list_dlg.h"
#include "support/pictures.h"

namespace {

using htest::HeadlinesTest;
using htest::Item;
using htest::U;
using htest::W;

const char* kTitles[] = {
    "Harbour master retires after forty years on the quay",
    "Ferry timetable",
    "Storm warning for the outer islands: small craft should stay in port until Thursday",
    "Fish market prices",
    "Lighthouse open day",
    "New moorings",
    "Regatta results",
    "Quay works delayed by the weather and by a shortage of granite blocks from the northern quarries",
    "Tide tables revised",
    "Pilot boat named",
};

class HeadlinesPictures : public HeadlinesTest {
 protected:
  void Picture(const qk::gdi::ScreenConfig& cfg, BOOL touch, const std::string& name) {
    std::vector<Item> items;
    for (int i = 0; i < 29; ++i) {
      char link[64], date[64];
      snprintf(link, sizeof link, "http://127.0.0.1/news/%d", i);
      snprintf(date, sizeof date, "%s, %02d Dec 2026 %02d:%02d:00 GMT", "Tue", 8 - i / 6, 10 - (i % 6), 5 * i % 60);
      items.push_back({kTitles[i % 10], link, date});
    }
    StoreFeed(100, items);
    StoreError(100);
    WriteList();
    UseScreen(cfg, touch);
    // A picture for every third item, a stored full text for every fourth,
    // every other item read; one waits for its full text.
    InitScreenDpi(0);
    std::vector<uint32_t> pixels(128 * 128);
    for (int y = 0; y < 128; ++y)
      for (int x = 0; x < 128; ++x) pixels[size_t(y * 128 + x)] = ((x / 32 + y / 32) % 2) ? 0x2C8FE0u : 0xE0A040u;
    std::vector<uint8_t> png;
    ASSERT_TRUE(qk::gdi::EncodePng(128, 128, pixels, &png));
    WriteDeviceFile(DataPath("Ch100-image.png"), std::string(png.begin(), png.end()));
    CItemStore store(0);
    store.Open(DataPath("Ch100.bin"), 0, 0);
    for (int i = 0; i < 29; ++i) {
      CString link;
      link.Format(u"http://127.0.0.1/news/%d", i);
      CItemRecord record = Record(100, U(link));
      DWORD type = 0;
      if (i % 3 == 0) {
        CString bmp(record.pageName);
        bmp.Replace(u".htm", u".bmp");
        ASSERT_TRUE(CChannelListDlg::MakeChannelIcon(DataPath(U(bmp)), DataPath("Ch100-image.png")));
        type |= ITEM_TYPE_THUMBNAIL;
      }
      if (i % 4 == 0) {
        WriteDeviceFile(DataPath(U(record.pageName)), "<p>full</p>");
        type |= ITEM_TYPE_PAGE;
      }
      if (type) SetItemType(&store, link, type);
      if (i % 2) SetItemReadState(&store, link, ITEM_READ_READ);
    }
    app_->DownloadManager().AddJob(u"http://127.0.0.1/news/2", DataPath("Ch100-x.htm"), u"", DOWNLOAD_JOB_FULLTEXT,
                                   100, nullptr, nullptr);
    MakeFrame(cfg, touch);
    const std::string path = qtest::PicturesDir() + "/" + name;
    OpenChannel(100, {
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
    app_->DownloadManager().Clear();
    qk::gdi::DecodedImage image;
    std::string bytes = qtest::ReadHostFile(path);
    ASSERT_TRUE(qk::gdi::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &image));
    EXPECT_EQ(image.width, cfg.width);
    EXPECT_EQ(image.height, cfg.height);
  }
};

TEST_F(HeadlinesPictures, TouchScreen480x800) {
  Picture(qk::gdi::DefaultScreenConfig(), TRUE, "headlines-480x800.png");
}

TEST_F(HeadlinesPictures, KeyDevice240x320) {
  Picture(qk::gdi::KeyDeviceScreenConfig(), FALSE, "headlines-240x320.png");
}

}  // namespace
