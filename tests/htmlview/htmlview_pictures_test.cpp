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

#include "article_support.h"
#include "display/display.h"
#include "gdi/surface.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "support/pictures.h"

namespace {

using htmltest::Hosted;
using qtest::PicturesDir;

class HtmlViewPictures : public qtest::DeviceTest {
 protected:
  void Picture(const qk::gdi::ScreenConfig& cfg, int zoom, const std::string& name, std::u16string html = {},
               size_t images = 3) {
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
    if (html.empty())
      html =
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
    EXPECT_EQ(Hosted().imageRequests.size(), images);
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

// An article in Hebrew and Arabic, with an English line among them:
// right-to-left paragraphs read from the right, each line in visual order.
TEST_F(HtmlViewPictures, RightToLeftArticle) {
  const std::u16string html =
      u"<html><body><h1>\u05D4\u05E0\u05DE\u05DC \u05D9\u05D5\u05E8\u05D7\u05D1 \u05D1\u05E7\u05D9\u05E5</h1>"
      u"<p>\u05D4\u05E8\u05E9\u05D5\u05EA \u05D0\u05D9\u05E9\u05E8\u05D4 \u05D0\u05EA\u05DE\u05D5\u05DC "
      u"\u05D0\u05EA <b>\u05EA\u05DB\u05E0\u05D9\u05EA \u05D4\u05E8\u05E6\u05D9\u05E3</b> \u05D4\u05D7\u05D3\u05E9 "
      u"\u05E9\u05DC 2026, \u05E9\u05EA\u05DB\u05E4\u05D9\u05DC \u05D0\u05EA \u05DE\u05E1\u05E4\u05E8 "
      u"\u05D4\u05DE\u05E7\u05D5\u05DE\u05D5\u05EA \u05DC\u05E1\u05D9\u05E8\u05D9 "
      u"\u05D4\u05D3\u05D9\u05D2 (\u05DC\u05E4\u05D9 \u05D4\u05D5\u05D3\u05E2\u05D4).</p>"
      u"<p>\u0627\u062C\u062A\u0645\u0639\u062A \u0633\u0644\u0637\u0629 \u0627\u0644\u0645\u064A\u0646\u0627\u0621 "
      u"\u064A\u0648\u0645 \u0627\u0644\u062B\u0644\u0627\u062B\u0627\u0621 \u0644\u062F\u0631\u0627\u0633\u0629 "
      u"<a href=\"http://example.org/harbour\">\u062E\u0637\u0629 \u0627\u0644\u0631\u0635\u064A\u0641</a> "
      u"\u0627\u0644\u062C\u062F\u064A\u062F\u060C \u0627\u0644\u062A\u064A \u0633\u062A\u0636\u0627\u0639\u0641 "
      u"\u0639\u062F\u062F \u0627\u0644\u0645\u0631\u0627\u0633\u064A \u0627\u0644\u0645\u062A\u0627\u062D\u0629 "
      u"\u0644\u0623\u0633\u0637\u0648\u0644 \u0627\u0644\u0635\u064A\u062F.</p>"
      u"<p>The council said \u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD and "
      u"\u0645\u0631\u062D\u0628\u0627 \u0628\u0643\u0645 to its visitors.</p>"
      u"<ul dir=\"rtl\"><li>\u05E9\u05D9\u05DE\u05D5\u05E2 \u05E6\u05D9\u05D1\u05D5\u05E8\u05D9 "
      u"\u05D1\u05DE\u05E8\u05E5</li><li>Decision before the summer</li></ul>"
      u"<p><img src=\"pic2\"> \u05D4\u05E2\u05D1\u05D5\u05D3\u05D5\u05EA \u05D9\u05D7\u05DC\u05D5 "
      u"\u05D1\u05E1\u05EA\u05D9\u05D5.</p></body></html>";
  Picture(qk::gdi::DefaultScreenConfig(), 2, "htmlview_rtl_480x800.png", html, 1);
  Picture(qk::gdi::KeyDeviceScreenConfig(), 2, "htmlview_rtl_240x320.png", html, 1);
}

TEST_F(HtmlViewPictures, ArticleWithPictures) {
  Picture(qk::gdi::DefaultScreenConfig(), 2, "htmlview_480x800.png");
  Picture(qk::gdi::KeyDeviceScreenConfig(), 2, "htmlview_240x320.png");
  Picture(qk::gdi::DefaultScreenConfig(), 4, "htmlview_480x800_zoom4.png");
  Picture(qk::gdi::DefaultScreenConfig(), 0, "htmlview_480x800_zoom0.png");
}

}  // namespace
