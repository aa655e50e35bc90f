// A page shown from its first screen shows, until the whole page is laid
// out, exactly what the whole page shows there: pages whose start the
// parser reads otherwise than a plain scan would (an end tag out of scope,
// a later <body> or <html> tag giving the root attributes, blanks that
// show as nothing before a container's bottom room) are compared pixel for
// pixel with the whole page.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "article_support.h"
#include "view_fixture.h"
#include "display/display.h"
#include "gdi/surface.h"
#include "htmlview/htmlview.h"
#include "support/device_fixture.h"
#include "support/host_window.h"

namespace {

using htmltest::Hosted;

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// n paragraphs of about 150 characters each, numbered from first.
std::string Paragraphs(int first, int n) {
  std::string out;
  for (int i = first; i < first + n; ++i)
    out += "<p>Paragraph " + std::to_string(i) +
           ": the harbour authority met again to weigh the plans for the new quay and the berths it would add "
           "for the fleet.</p>\n";
  return out;
}

class FirstScreenTest : public htmltest::ViewTest {
 protected:
  // Shows the page laid out whole, then from its first screen: when the
  // page is shown from its start, the screen drawn before the rest is laid
  // out must be the whole page's. Returns whether the start was shown
  // alone.
  bool ExpectFirstScreenIsThePage(const std::string& page, const char* what) {
    const std::u16string html = U16(page);
    SendMessageW(view_, DTM_FIRSTSCREENFIRST, 0, FALSE);
    Send(html);
    qk::PumpMessages();
    const int whole = Height();
    EXPECT_GT(whole, 2 * 800) << what;
    UpdateWindow(Inner());
    const std::vector<uint32_t> wholeScreen = htmltest::ScreenPixels();

    SendMessageW(view_, DTM_FIRSTSCREENFIRST, 0, TRUE);
    Send(html);
    const bool start = Height() < whole;
    if (start) {
      // Drawn now, before the message that lays out the rest is handled.
      UpdateWindow(Inner());
      const bool startStillShown = Height() < whole;
      const std::vector<uint32_t> firstScreen = htmltest::ScreenPixels();
      size_t differ = 0;
      for (size_t i = 0; i < firstScreen.size() && i < wholeScreen.size(); ++i)
        differ += firstScreen[i] != wholeScreen[i];
      EXPECT_EQ(differ, 0u) << what << ": pixels of the first screen unlike the whole page's"
                            << (startStillShown ? "" : " (laid out whole while drawing)");
    }
    qk::PumpMessages();
    EXPECT_EQ(Height(), whole) << what;
    UpdateWindow(Inner());
    EXPECT_TRUE(htmltest::ScreenPixels() == wholeScreen) << what;
    SendMessageW(view_, DTM_FIRSTSCREENFIRST, 0, FALSE);
    return start;
  }
};

// A stray </div> inside a table cell: the parser ignores it (the division
// lies outside the table), so the table goes on. The start is not cut
// inside the cell, whose second column sizes the first: it may be cut
// after the table.
TEST_F(FirstScreenTest, AnEndTagTheParserIgnoresEndsNothing) {
  const std::string page = "<html><body><div><table><tr><td><p>The start of the cell.</p></div>" +
                           Paragraphs(1, 60) +
                           "</td><td>A second column beside the first, with words of its own to show.</td></tr>"
                           "</table>" +
                           Paragraphs(100, 200) + "</div></body></html>";
  EXPECT_TRUE(ExpectFirstScreenIsThePage(page, "stray </div> in a cell")) << "still cut, after the table";
  // The scan's own answer: after the table, not inside it.
  const size_t cut = qk::htmlview::FirstScreenCut(page, 4000);
  ASSERT_NE(cut, std::string::npos);
  EXPECT_EQ(page.substr(0, cut).rfind("</table>"), cut - 8);
  // An end tag out of scope ends no block, and closes nothing the parser
  // keeps open: a </section> in a cell leaves the table and the section
  // open, so the first cut comes after the table.
  const std::string section = "<section><table><tr><td>" + Paragraphs(1, 40) + "</section>" + Paragraphs(50, 5) +
                              "</td><td>side</td></tr></table><p>After.</p></section>";
  EXPECT_EQ(qk::htmlview::FirstScreenCut(section, 4000), section.find("</table>") + 8);
}

// A later <body> or <html> start tag gives the page's root its attributes
// (background, font size, direction): the start must not be cut before it.
TEST_F(FirstScreenTest, ALaterBodyOrHtmlTagKeepsTheStartFromBeingCutBeforeIt) {
  const std::string tags[] = {"<body style=\"background-color:#ffe0e0\">", "<body style=\"font-size:22px\">",
                              "<html style=\"background-color:#e0f0ff\">", "<BODY\nstyle='color:#c00000'>"};
  for (const std::string& tag : tags) {
    const std::string page = "<html><body>" + Paragraphs(1, 40) + tag + Paragraphs(100, 200) + "</body></html>";
    EXPECT_TRUE(ExpectFirstScreenIsThePage(page, tag.c_str())) << tag << ": still cut, after the tag";
    const size_t cut = qk::htmlview::FirstScreenCut(page, 4000);
    EXPECT_TRUE(cut == std::string::npos || cut > page.find(tag)) << tag;
  }
  // In a comment it is no tag: the cut stays before it.
  const std::string commented =
      "<html><body>" + Paragraphs(1, 40) + "<!-- <body style=\"color:red\"> -->" + Paragraphs(100, 200);
  EXPECT_LT(qk::htmlview::FirstScreenCut(commented, 4000), commented.find("<!--"));
}

// Blanks show as at most one space: a run of them is no text that fills
// the screen, and a container with room at its bottom is not cut inside
// (its room would show where the whole page goes on).
TEST_F(FirstScreenTest, BlanksAreNoTextAndAContainerWithBottomRoomIsNotCutInside) {
  for (const char* style : {"padding-bottom:1200px", "border-bottom:900px solid #208020", "margin:0 0 1000px 0"}) {
    const std::string page = "<html><body><div style=\"" + std::string(style) + "\"><p>A short start.</p>" +
                             std::string(4100, ' ') + "\n\t<p>Then the text.</p>" + Paragraphs(1, 100) + "</div>" +
                             Paragraphs(200, 150) + "</body></html>";
    EXPECT_TRUE(ExpectFirstScreenIsThePage(page, style)) << style << ": still cut, after the container";
    const size_t cut = qk::htmlview::FirstScreenCut(page, 4000);
    EXPECT_GT(cut, page.find("</div>")) << style;
  }
  // Only visible text counts: 8,200 blanks and 202 letters are not 300
  // characters of text.
  const std::string blanks = "<div><p>" + std::string(100, 'x') + "</p>" + std::string(4100, ' ') + "<p>y</p></div>";
  EXPECT_EQ(qk::htmlview::FirstScreenCut(blanks + blanks, 300), std::string::npos);
  // Room at the top or the sides keeps a container open to a cut.
  const std::string sides = "<div style=\"padding-left:10px; margin-top:5px; border-top:1px solid red\">" +
                            Paragraphs(1, 40) + "</div>";
  EXPECT_LT(qk::htmlview::FirstScreenCut(sides, 4000), sides.find("</div>"));
}

}  // namespace
