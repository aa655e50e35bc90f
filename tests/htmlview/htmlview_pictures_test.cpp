// Pictures of the HTML viewer to look at: an article with pictures, a
// list, a quote and links, on the touch screen (480 x 800 at 192 dpi) and
// on the key device (240 x 320 at 96 dpi), at the default zoom and at the
// largest.
//
//   ctest --test-dir <build> -R HtmlViewPictures
//
// writes htmlview_*.png to $QUILLET_PICTURES_DIR, else to the folder
// "pictures" of the build.
#include <gtest/gtest.h>

#include <filesystem>

#include "article_support.h"
#include "display/display.h"
#include "gdi/surface.h"
#include "support/device_fixture.h"
#include "support/host_window.h"

namespace {

using htmltest::Hosted;

std::string PicturesDir() {
  const char* env = std::getenv("QUILLET_PICTURES_DIR");
  std::string dir = env && *env ? env : std::string(QUILLET_BINARY_DIR) + "/pictures";
  std::filesystem::create_directories(dir);
  return dir;
}

class HtmlViewPictures : public qtest::DeviceTest {
 protected:
  void Picture(const qk::gdi::ScreenConfig& cfg, int zoom, const std::string& name) {
    qk::gdi::SetScreenConfig(cfg);
    qk::display::ConnectScreen();
    ASSERT_TRUE(InitHTMLControl(nullptr));
    Hosted() = htmltest::HostState{};
    int scale = cfg.dpi / 96;
    Hosted().pictures[u"pic1"] = htmltest::MakePicture(200 * scale, 120 * scale, RGB(240, 150, 40), RGB(40, 90, 200));
    Hosted().pictures[u"pic2"] = htmltest::MakePicture(90 * scale, 90 * scale, RGB(30, 160, 90), RGB(230, 230, 80));
    Hosted().pictures[u"pic3"] = htmltest::MakePicture(600, 200, RGB(120, 40, 160), RGB(240, 120, 160));
    HWND host = qtest::CreateHostWindow(u"HtmlPictureHost", htmltest::HostProc, cfg.width, cfg.height, u"",
                                        WS_VISIBLE);
    HWND view = CreateWindowExW(0, DISPLAYCLASS, u"", WS_CHILD | WS_VISIBLE, 0, 0, cfg.width, cfg.height, host,
                                reinterpret_cast<HMENU>(12321), nullptr, nullptr);
    ASSERT_NE(view, nullptr);
    SendMessageW(view, DTM_ZOOMLEVEL, 0, zoom);
    std::u16string html =
        u"<HTML><BODY style=\"word-break:break-all\" scroll=\"no\"><b><font color=\"#000080\">"
        u"<P>Harbour Gazette</P></font></b><B>Council weighs new quay for the fishing fleet</B><P>"
        u"<img src=\"pic1\"></P><P>The harbour authority met on Tuesday to weigh the plans for the new quay, "
        u"which would <b>double the berths</b> available to the fishing fleet. Residents asked for the work to "
        u"stop during the <i>summer months</i>.</P><h2>What happens next</h2><ul><li>Public hearing in "
        u"March</li><li>Decision before the summer</li></ul><ol><li>Survey</li><li>Tender</li></ol>"
        u"<blockquote>&ldquo;We cannot let the fleet wait another decade,&rdquo; said the harbour "
        u"master.</blockquote><P><img src=\"pic2\"> An engineer explained that the foundations would be driven "
        u"from barges.</P><P><img src=\"pic3\"></P><pre>berths: 24 -&gt; 48</pre>"
        u"<P><a href=\"http://example.org/harbour\">Read More Online...</a></P><P align=\"left\">"
        u"<font color=\"#C0C0C0\">Published: 8 Dec 2026</font></P></BODY></HTML>";
    SendMessageW(view, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u""));
    SendMessageW(view, DTM_ADDTEXTW, 0, reinterpret_cast<LPARAM>(html.c_str()));
    SendMessageW(view, DTM_ENDOFSOURCE, 0, 0);
    qk::PumpMessages();
    EXPECT_EQ(Hosted().imageRequests.size(), 3u);
    EXPECT_GT(SendMessageW(view, DTM_LAYOUTHEIGHT, 0, 0), 0);
    std::string path = PicturesDir() + "/" + name;
    EXPECT_TRUE(qk::display::WriteScreenPng(path)) << path;
    // The end of the article, scrolled to by the End key.
    SendMessageW(GetWindow(view, GW_CHILD), WM_KEYDOWN, 0x23 /* end */, 0);
    qk::PumpMessages();
    std::string end = path.substr(0, path.size() - 4) + "_end.png";
    EXPECT_TRUE(qk::display::WriteScreenPng(end)) << end;
    DestroyWindow(host);
    for (auto& [n, bm] : Hosted().pictures) DeleteObject(bm);
    Hosted() = htmltest::HostState{};
    qk::PumpMessages();
  }
  void TearDown() override {
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    qtest::DeviceTest::TearDown();
  }
};

TEST_F(HtmlViewPictures, ArticleWithPictures) {
  Picture(qk::gdi::DefaultScreenConfig(), 2, "htmlview_480x800.png");
  Picture(qk::gdi::KeyDeviceScreenConfig(), 2, "htmlview_240x320.png");
  Picture(qk::gdi::DefaultScreenConfig(), 4, "htmlview_480x800_zoom4.png");
  Picture(qk::gdi::DefaultScreenConfig(), 0, "htmlview_480x800_zoom0.png");
}

}  // namespace
