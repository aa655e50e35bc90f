// The HTML viewer control driven as its hosts drive it: text added and
// ended, inline images asked of the host and drawn, zoom levels, layout
// sizes, link taps through synthetic stylus input, keys on the inner
// window, and hostile pages that must neither crash nor hang.
#include <gtest/gtest.h>

#include <malloc.h>

#include <time.h>

#include <chrono>
#include <fstream>
#include <string>

#include "article_support.h"
#include "view_fixture.h"
#include "display/display.h"
#include "gdi/surface.h"
#include "htmlview/htmlview.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "user/idle.h"
#include "user/input.h"

namespace {

using htmltest::Hosted;

#if defined(__SANITIZE_ADDRESS__)
#define HTMLVIEW_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HTMLVIEW_TEST_SANITIZED 1
#endif
#endif

#if defined(HTMLVIEW_TEST_SANITIZED)
// The sanitizer's allocator, which the heap goes through: the bytes it has
// handed out and not had back.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

// The processor time a page may take to be laid out and drawn: two seconds
// in an optimised build, a multiple of that where the code runs slower.
constexpr double kPageSeconds =
#if defined(HTMLVIEW_TEST_SANITIZED)
    2.0 * 12;
#elif !defined(NDEBUG)
    2.0 * 3;
#else
    2.0;
#endif

// The memory a page may take (MB); a sanitized build keeps freed memory
// aside for a while and holds more.
constexpr long kPageMb =
#if defined(HTMLVIEW_TEST_SANITIZED)
    768;
#else
    256;
#endif

// Bytes the process's heap holds now.
size_t HeapBytes() {
#if defined(HTMLVIEW_TEST_SANITIZED)
  return __sanitizer_get_current_allocated_bytes();
#else
  struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

// The process's memory (kB) from /proc/self/status: "VmRSS" now or
// "VmHWM", the most it has held.
long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  return -1;
}

// The processor time this thread has used: the layout and the drawing run
// on it, and unlike the wall clock it does not stretch when other programs
// load the machine.
double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The most memory the process holds while `run` runs, beyond what it held
// before (MB). The kernel's record of the most is reset first, so the
// answer is this run's own; where it cannot be reset, the answer is how
// far the record rose.
template <class Run>
long PeakGrowthMb(Run run) {
  std::ofstream reset("/proc/self/clear_refs");
  reset << "5" << std::flush;
  long before = StatusKb(reset.good() ? "VmRSS:" : "VmHWM:");
  run();
  return (StatusKb("VmHWM:") - before) / 1024;
}

template <class Text>
Text Repeat(const Text& piece, int times) {
  Text out;
  out.reserve(piece.size() * times);
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}
std::u16string Repeat(const char16_t* piece, int times) { return Repeat(std::u16string(piece), times); }
std::string Repeat(const char* piece, int times) { return Repeat(std::string(piece), times); }

class HtmlViewTest : public htmltest::ViewTest {
 protected:

  // Loads a hostile page and draws it: within the bounds of time and memory
  // and of picture requests, showing something when shows says so, and the
  // view goes on working after it.
  void ExpectWithinBounds(const char* name, const std::u16string& html, bool shows = false) {
    double seconds = 0;
    long grown = PeakGrowthMb([&] {
      double start = ThreadCpuSeconds();
      Load(html);
      UpdateWindow(Inner());
      seconds = ThreadCpuSeconds() - start;
    });
    EXPECT_LT(seconds, kPageSeconds) << name;
    EXPECT_LT(grown, kPageMb) << name;
    EXPECT_LE(Hosted().imageRequests.size(), qk::htmlview::kMaxImages) << name;
    Hosted().imageRequests.clear();
    if (shows) EXPECT_GT(Height(), 0) << name;
    else EXPECT_GE(Height(), 0) << name;
    Load(u"<p>after</p>");
    EXPECT_GT(Height(), 0) << name;
  }

  // Loads a page the way the host dialog does: clear, add, end.
  void Load(const std::u16string& html) {
    Send(html);
    qk::PumpMessages();
  }
  int Width() { return static_cast<int>(SendMessageW(view_, DTM_LAYOUTWIDTH, 0, 0)); }

  // Pixels of exactly this colour on the screen.
  static int CountColour(COLORREF c) {
    int w = 0, h = 0;
    std::vector<uint32_t> px;
    qk::gdi::ReadPixels(ScreenBitmap(), &w, &h, &px);
    uint32_t want = (static_cast<uint32_t>(GetRValue(c)) << 16) | (GetGValue(c) << 8) | GetBValue(c);
    int n = 0;
    for (uint32_t p : px)
      if ((p & 0xFFFFFF) == want) ++n;
    return n;
  }
  // The screen copied into a bitmap that ReadPixels can read.
  static HBITMAP ScreenBitmap() {
    static HBITMAP copy = nullptr;
    if (copy) DeleteObject(copy);
    copy = htmltest::CopyScreen();
    return copy;
  }
};

TEST_F(HtmlViewTest, ArticleAsksHostForEachImageAndDrawsThemAtTheirOwnSize) {
  const COLORREF red = RGB(230, 20, 20), green = RGB(20, 200, 40);
  Hosted().pictures[u"logo"] = htmltest::MakeSolid(120, 60, red);
  Hosted().pictures[u"photo.jpg"] = htmltest::MakeSolid(200, 100, green);
  Load(u"<html><body><h1>Title</h1><p><img src=\"logo\"></p><p>Some text that reads well.</p>"
       u"<p><img src=\"photo.jpg\"> <img src=\"missing.png\"> <img src=\"logo\"></p></body></html>");

  // One request per distinct source, each with its own cookie.
  ASSERT_EQ(Hosted().imageRequests.size(), 3u);
  std::vector<std::u16string> sorted = Hosted().imageRequests;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (std::vector<std::u16string>{u"logo", u"missing.png", u"photo.jpg"}));
  EXPECT_NE(Hosted().cookies[0], Hosted().cookies[1]);
  EXPECT_NE(Hosted().cookies[1], Hosted().cookies[2]);

  EXPECT_EQ(Width(), 480);
  EXPECT_GT(Height(), 60 + 100);
  UpdateWindow(Inner());
  qk::PumpMessages();
  // Both logos and the photo whole, at their own sizes; the missing one not at all.
  EXPECT_EQ(CountColour(red), 2 * 120 * 60);
  EXPECT_EQ(CountColour(green), 200 * 100);

  // A later page asks again for its own images only.
  Hosted().imageRequests.clear();
  Load(u"<p>No pictures here.</p>");
  EXPECT_TRUE(Hosted().imageRequests.empty());
  EXPECT_EQ(CountColour(red), 0);
}

TEST_F(HtmlViewTest, ImagesAnsweredLaterAndRefusedImagesAndStaleCookies) {
  const COLORREF blue = RGB(10, 30, 220);
  Hosted().answer = false;
  Hosted().pictures[u"late"] = htmltest::MakeSolid(100, 300, blue);
  Load(u"<p>Before</p><img src=\"late\"><p>After</p>");
  ASSERT_EQ(Hosted().imageRequests.size(), 1u);
  int without = Height();
  // The host answers after the page was laid out: the page grows by the picture.
  INLINEIMAGEINFO info{Hosted().cookies[0], 300, 100, Hosted().pictures[u"late"], FALSE};
  EXPECT_TRUE(SendMessageW(view_, DTM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&info)));
  qk::PumpMessages();
  EXPECT_GE(Height(), without + 300 - 40);
  EXPECT_EQ(CountColour(blue), 100 * 300);
  // An answer to a cookie nobody asked for is refused and its owned bitmap freed.
  HBITMAP stray = htmltest::MakeSolid(10, 10, blue);
  INLINEIMAGEINFO bad{Hosted().cookies[0] + 100, 10, 10, stray, TRUE};
  EXPECT_FALSE(SendMessageW(view_, DTM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&bad)));
  EXPECT_EQ(GetObjectType(stray), 0u);
  // Clearing the page forgets the image: a page laid out anew asks again.
  SendMessageW(view_, DTM_CLEAR, 0, 0);
  EXPECT_EQ(Height(), 0);
  EXPECT_EQ(Width(), 0);
  Load(u"<img src=\"late\">");
  EXPECT_EQ(Hosted().imageRequests.size(), 2u);
}

TEST_F(HtmlViewTest, ZoomLevelsZeroToFourGrowTheLayoutAndKeepTheImages) {
  Hosted().pictures[u"pic1"] = htmltest::MakePicture(200, 120, RGB(200, 80, 0), RGB(0, 80, 200));
  Load(htmltest::MakeArticle(6000, 1));
  ASSERT_EQ(Hosted().imageRequests.size(), 1u);
  std::vector<int> heights;
  for (int z = 0; z <= 4; ++z) {
    SendMessageW(view_, DTM_ZOOMLEVEL, 0, z);
    heights.push_back(Height());
  }
  for (int z = 1; z <= 4; ++z) EXPECT_GT(heights[z], heights[z - 1]) << "zoom " << z;
  // Levels outside 0 to 4 are held to the nearest one.
  SendMessageW(view_, DTM_ZOOMLEVEL, 0, 9);
  EXPECT_EQ(Height(), heights[4]);
  SendMessageW(view_, DTM_ZOOMLEVEL, 0, -3);
  EXPECT_EQ(Height(), heights[0]);
  // The host's image was answered once and stays.
  EXPECT_EQ(Hosted().imageRequests.size(), 1u);
  // Every level lays out to the view's width.
  EXPECT_EQ(Width(), 480);
}

TEST_F(HtmlViewTest, LayoutWidthFollowsShrinkingOfWideImages) {
  Hosted().pictures[u"wide"] = htmltest::MakeSolid(900, 50, RGB(1, 2, 3));
  // Shrinking is on by default: a wide picture is fitted to the page.
  Load(u"<p><img src=\"wide\"></p>");
  EXPECT_EQ(Width(), 480);
  // With shrinking off the page is as wide as the picture and its margins.
  SendMessageW(view_, DTM_ENABLESHRINK, 0, FALSE);
  EXPECT_GT(Width(), 900);
  SendMessageW(view_, DTM_ENABLESHRINK, 0, TRUE);
  EXPECT_EQ(Width(), 480);
  // A narrower view lays out again at its own width.
  MoveWindow(view_, 0, 0, 240, 400, TRUE);
  qk::PumpMessages();
  EXPECT_EQ(Width(), 240);
}

TEST_F(HtmlViewTest, LinkTapsBecomeHotSpotNotificationsAndOtherTapsDoNot) {
  Hosted().pictures[u"button"] = htmltest::MakeSolid(400, 100, RGB(9, 9, 9));
  Load(u"<body style=\"margin:0\"><a href=\"http://example.org/story?id=7\"><img src=\"button\"></a>"
       u"<div style=\"height:100px;margin:0\">plain text</div>"
       u"<a href=\"mailto:desk@example.org\"><img src=\"button\"></a></body>");
  auto tap = [](int x, int y) {
    qk::InjectPointer(WM_LBUTTONDOWN, x, y);
    qk::PumpMessages();
    qk::InjectPointer(WM_LBUTTONUP, x, y);
    qk::PumpMessages();
  };
  tap(50, 50);
  ASSERT_EQ(Hosted().links.size(), 1u);
  EXPECT_EQ(Hosted().links[0], u"http://example.org/story?id=7");
  tap(50, 150);
  EXPECT_EQ(Hosted().links.size(), 1u);
  tap(50, 250);
  ASSERT_EQ(Hosted().links.size(), 2u);
  EXPECT_EQ(Hosted().links[1], u"mailto:desk@example.org");
  // A press on one link released on another opens neither.
  qk::InjectPointer(WM_LBUTTONDOWN, 50, 50);
  qk::PumpMessages();
  qk::InjectPointer(WM_LBUTTONUP, 50, 250);
  qk::PumpMessages();
  EXPECT_EQ(Hosted().links.size(), 2u);
}

TEST_F(HtmlViewTest, InnerWindowTakesTheKeysAndScrolls) {
  const COLORREF mark = RGB(250, 0, 250);
  Hosted().pictures[u"top"] = htmltest::MakeSolid(50, 50, mark);
  Load(u"<img src=\"top\">" + htmltest::MakeArticle(30000, 0));
  ASSERT_GT(Height(), 2000);
  HWND inner = Inner();
  ASSERT_NE(inner, nullptr);
  SetFocus(view_);
  EXPECT_EQ(GetFocus(), inner);
  UpdateWindow(inner);
  EXPECT_EQ(CountColour(mark), 2500);
  SendMessageW(inner, WM_KEYDOWN, 0x22 /* page down */, 0);
  UpdateWindow(inner);
  EXPECT_EQ(CountColour(mark), 0);
  SendMessageW(inner, WM_KEYDOWN, 0x24 /* home */, 0);
  UpdateWindow(inner);
  EXPECT_EQ(CountColour(mark), 2500);
  // Scrolling up at the top stays at the top.
  SendMessageW(inner, WM_KEYDOWN, 0x26 /* up */, 0);
  UpdateWindow(inner);
  EXPECT_EQ(CountColour(mark), 2500);
}

// Full-screen reading makes the view as tall as its page and scrolls by
// moving it: what shows on the screen is the part of the page under it.
TEST_F(HtmlViewTest, ViewAsTallAsItsPageShowsThePartOnTheScreen) {
  const COLORREF mark = RGB(0, 250, 250);
  Hosted().pictures[u"mark"] = htmltest::MakeSolid(50, 50, mark);
  Load(u"<div style=\"height:1500px\">top</div><img src=\"mark\"><p>end</p>");
  int height = Height();
  ASSERT_GT(height, 1550);
  MoveWindow(view_, 0, 0, 480, height, TRUE);
  EXPECT_EQ(Height(), height);  // the same width: the page is not laid out again
  UpdateWindow(Inner());
  EXPECT_EQ(CountColour(mark), 0);
  MoveWindow(view_, 0, -1200, 480, height, TRUE);
  UpdateWindow(Inner());
  EXPECT_EQ(CountColour(mark), 2500);
  // Keys do not scroll a view that shows its whole page.
  SendMessageW(Inner(), WM_KEYDOWN, 0x28 /* down */, 0);
  UpdateWindow(Inner());
  EXPECT_EQ(CountColour(mark), 2500);
}

// The screen's pixels at the idle hook's first run, when the display
// would show the screen.
std::vector<uint32_t> g_shownPixels;
qk::IdleHook g_previousHook = nullptr;
DWORD CaptureShown();

// A long page shown from its first screen: the start that fills the screen
// is laid out and drawn, and the screen shown, before the whole page; what
// shows is what the whole page shows there, and once the messages are
// handled the page is the whole page (its height, its pictures, its
// notification to the host). The keys and scrolling lay it out whole
// first; a page replaced before that is never laid out whole.
TEST_F(HtmlViewTest, ALongPageShownFromItsFirstScreenFirstLooksTheSameAndIsThenLaidOutWhole) {
  const COLORREF top = RGB(240, 10, 120), end = RGB(10, 240, 120);
  Hosted().pictures[u"top"] = htmltest::MakeSolid(60, 40, top);
  Hosted().pictures[u"end"] = htmltest::MakeSolid(70, 30, end);
  std::u16string page = htmltest::MakeArticle(80000, 0);
  page.replace(page.find(u"<body>"), 6, u"<body><p><img src=\"top\"></p>");
  page.replace(page.find(u"</body>"), 7, u"<p><img src=\"end\"></p></body>");
  auto send = [&](const std::u16string& html) {
    SendMessageW(view_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u""));
    SendMessageW(view_, DTM_ADDTEXTW, 0, reinterpret_cast<LPARAM>(html.c_str()));
    SendMessageW(view_, DTM_ENDOFSOURCE, 0, 0);
  };
  auto screen = [] {
    int w = 0, h = 0;
    std::vector<uint32_t> px;
    qk::gdi::ReadPixels(ScreenBitmap(), &w, &h, &px);
    return px;
  };

  // The page laid out whole at once.
  Load(page);
  const int whole = Height();
  ASSERT_GT(whole, 3 * 800);
  UpdateWindow(Inner());
  const std::vector<uint32_t> wholeScreen = screen();
  EXPECT_EQ(CountColour(top), 60 * 40);
  EXPECT_EQ(Hosted().imageRequests.size(), 2u);
  EXPECT_EQ(Hosted().laidOutWhole, 0);

  // Shown from its first screen: the start only, and only its picture asked for.
  SendMessageW(view_, DTM_FIRSTSCREENFIRST, 0, TRUE);
  Hosted().imageRequests.clear();
  send(page);
  EXPECT_GE(Height(), 800);
  EXPECT_LT(Height(), whole / 2);
  EXPECT_EQ(Hosted().imageRequests, (std::vector<std::u16string>{u"top"}));
  g_shownPixels.clear();
  g_previousHook = qk::SetIdleHook(CaptureShown);
  qk::PumpMessages();
  qk::SetIdleHook(g_previousHook);
  // The screen was shown before the rest was laid out, the same as the whole page shows it.
  ASSERT_FALSE(g_shownPixels.empty());
  EXPECT_TRUE(g_shownPixels == wholeScreen);
  EXPECT_EQ(Height(), whole);
  EXPECT_EQ(Hosted().imageRequests, (std::vector<std::u16string>{u"top", u"end"}));
  EXPECT_EQ(Hosted().laidOutWhole, 1);
  UpdateWindow(Inner());
  EXPECT_TRUE(screen() == wholeScreen);
  SendMessageW(Inner(), WM_KEYDOWN, 0x23 /* end */, 0);
  UpdateWindow(Inner());
  EXPECT_EQ(CountColour(end), 70 * 30);

  // A key before the rest is laid out lays it out at once, and scrolls the whole page.
  send(page);
  EXPECT_LT(Height(), whole / 2);
  SendMessageW(Inner(), WM_KEYDOWN, 0x23 /* end */, 0);
  EXPECT_EQ(Height(), whole);
  EXPECT_EQ(Hosted().laidOutWhole, 2);
  UpdateWindow(Inner());
  EXPECT_EQ(CountColour(end), 70 * 30);
  qk::PumpMessages();
  EXPECT_EQ(Hosted().laidOutWhole, 2);

  // A page replaced before its rest is laid out is not laid out whole.
  send(page);
  EXPECT_LT(Height(), whole / 2);
  Load(u"<p>A short page.</p>");
  EXPECT_GT(Height(), 0);
  EXPECT_LT(Height(), 200);
  EXPECT_EQ(Hosted().laidOutWhole, 2);

  // A page too short to cut is laid out whole at once.
  const std::u16string shortPage = htmltest::MakeArticle(6000, 0);
  SendMessageW(view_, DTM_FIRSTSCREENFIRST, 0, FALSE);
  Load(shortPage);
  const int shortHeight = Height();
  SendMessageW(view_, DTM_FIRSTSCREENFIRST, 0, TRUE);
  send(shortPage);
  EXPECT_EQ(Height(), shortHeight);
  qk::PumpMessages();
  EXPECT_EQ(Hosted().laidOutWhole, 2);
}

DWORD CaptureShown() {
  if (g_shownPixels.empty()) g_shownPixels = htmltest::ScreenPixels();
  return g_previousHook ? g_previousHook() : INFINITE;
}

TEST_F(HtmlViewTest, TextGivenAtCreationOrBySetTextIsShownAndEmptyTextClears) {
  HWND made = CreateWindowExW(0, DISPLAYCLASS, u"<p>created with text</p>", WS_CHILD | WS_VISIBLE, 0, 0, 300, 300,
                              host_, nullptr, nullptr, nullptr);
  ASSERT_NE(made, nullptr);
  EXPECT_GT(SendMessageW(made, DTM_LAYOUTHEIGHT, 0, 0), 0);
  SendMessageW(made, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u""));
  EXPECT_EQ(SendMessageW(made, DTM_LAYOUTHEIGHT, 0, 0), 0);
  SendMessageW(made, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u"<h1>one</h1><h1>two</h1>"));
  EXPECT_GT(SendMessageW(made, DTM_LAYOUTHEIGHT, 0, 0), 0);
  // Added text is not laid out before the source ends.
  SendMessageW(made, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u""));
  SendMessageW(made, DTM_ADDTEXTW, 0, reinterpret_cast<LPARAM>(u"<p>part one, "));
  EXPECT_EQ(SendMessageW(made, DTM_LAYOUTHEIGHT, 0, 0), 0);
  SendMessageW(made, DTM_ADDTEXTW, 0, reinterpret_cast<LPARAM>(u"part two</p>"));
  SendMessageW(made, DTM_ENDOFSOURCE, 0, 0);
  EXPECT_GT(SendMessageW(made, DTM_LAYOUTHEIGHT, 0, 0), 0);
  EXPECT_TRUE(DestroyWindow(made));
}

TEST_F(HtmlViewTest, LinesBreakBetweenWordsAndBetweenIdeographsOnly) {
  MoveWindow(view_, 0, 0, 240, 400, TRUE);
  std::u16string words = u"<p>";
  for (int i = 0; i < 100; ++i) words += u"reading ";
  Load(words + u"</p>");
  EXPECT_EQ(Width(), 240);
  int wordsHeight = Height();
  EXPECT_GT(wordsHeight, 10 * 20);
  // Ideographs break anywhere; a long word without blanks cannot break.
  Load(u"<p>" + std::u16string(200, u'\u6F22') + u"</p>");
  EXPECT_EQ(Width(), 240);
  EXPECT_GT(Height(), 5 * 20);
  Load(u"<p>" + std::u16string(200, u'x') + u"</p>");
  EXPECT_GT(Width(), 240);
  // Preformatted text keeps its line breaks.
  Load(u"<pre>one two</pre>");
  int oneLine = Height();
  Load(u"<pre>one\ntwo\nthree</pre>");
  EXPECT_GT(Height(), oneLine + 2 * 16);
}

// The screen's pixels, and the bands of rows with ink on them (rows
// [first, second)), from the top.
struct Pixels {
  int w = 0, h = 0;
  std::vector<uint32_t> px;
  uint32_t At(int x, int y) const { return px[static_cast<size_t>(y) * w + x] & 0xFFFFFF; }
  bool Ink(int x, int y) const { return At(x, y) != 0xFFFFFF; }
  std::vector<std::pair<int, int>> Bands() const {
    std::vector<std::pair<int, int>> bands;
    for (int y = 0; y < h; ++y) {
      bool ink = false;
      for (int x = 0; x < w && !ink; ++x) ink = Ink(x, y);
      if (ink && (bands.empty() || bands.back().second != y)) bands.push_back({y, y + 1});
      else if (ink) bands.back().second = y + 1;
    }
    return bands;
  }
  // The ink of rows [top, bottom) cut to the columns it spans: its left
  // and right (exclusive) columns and its pixels, row by row.
  struct Cut {
    int left = 0, right = 0;
    std::vector<uint32_t> px;
  };
  Cut InkOf(std::pair<int, int> rows) const {
    Cut cut{w, 0, {}};
    for (int y = rows.first; y < rows.second; ++y)
      for (int x = 0; x < w; ++x)
        if (Ink(x, y)) cut.left = std::min(cut.left, x), cut.right = std::max(cut.right, x + 1);
    for (int y = rows.first; y < rows.second; ++y)
      for (int x = cut.left; x < cut.right; ++x) cut.px.push_back(At(x, y));
    return cut;
  }
  // The mean column of the pixels of exactly this colour in rows
  // [top, bottom), and the pixel of it nearest that column; -1 when none.
  int MeanX(COLORREF c, std::pair<int, int> rows, POINT* nearest = nullptr) const {
    const uint32_t want = (static_cast<uint32_t>(GetRValue(c)) << 16) | (GetGValue(c) << 8) | GetBValue(c);
    long sum = 0, n = 0;
    for (int y = rows.first; y < rows.second; ++y)
      for (int x = 0; x < w; ++x)
        if (At(x, y) == want) sum += x, ++n;
    if (n == 0) return -1;
    int mean = static_cast<int>(sum / n);
    if (nearest) {
      int best = w;
      for (int y = rows.first; y < rows.second; ++y)
        for (int x = 0; x < w; ++x)
          if (At(x, y) == want && std::abs(x - mean) < best) best = std::abs(x - mean), *nearest = {x, y};
    }
    return mean;
  }
};

Pixels ReadScreen(HBITMAP bitmap) {
  Pixels p;
  qk::gdi::ReadPixels(bitmap, &p.w, &p.h, &p.px);
  return p;
}

// The page's text face at the default zoom (9 points).
HFONT PageFont() {
  LOGFONTW lf{};
  lf.lfHeight = -(9 * qk::gdi::ScreenDpi() / 72);
  lf.lfWeight = FW_NORMAL;
  lf.lfQuality = ANTIALIASED_QUALITY;
  std::u16string face = u"Tahoma";
  std::copy(face.begin(), face.end(), lf.lfFaceName);
  return CreateFontIndirectW(&lf);
}

// The text drawn by the drawing layer in one call, in the page's face and
// colour on white: the picture of a line as it should read.
Pixels DrawnInOneCall(const std::u16string& text) {
  HBITMAP bitmap = htmltest::MakeSolid(480, 60, RGB(255, 255, 255));
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
  HFONT font = PageFont();
  HGDIOBJ oldFont = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0x1c, 0x1c, 0x1c));
  ExtTextOutW(dc, 10, 10, 0, nullptr, text.c_str(), static_cast<UINT>(text.size()), nullptr);
  SelectObject(dc, oldFont);
  SelectObject(dc, oldBitmap);
  DeleteObject(font);
  DeleteDC(dc);
  Pixels p = ReadScreen(bitmap);
  DeleteObject(bitmap);
  return p;
}

// Hebrew and Arabic paragraphs read from the right: each line shows as the
// drawing layer shows the same text drawn at once (words in visual order,
// the spaces between them kept), and lines up at the right of the page
// unless the page aligns it; a left-to-right line with right-to-left words
// in it orders them so too.
TEST_F(HtmlViewTest, RightToLeftLinesReadInVisualOrderWithTheirSpaces) {
  const std::u16string hebrew = u"\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD \u05D0\u05D7\u05D3 \u05E9\u05EA\u05D9\u05D9\u05DD";
  const std::u16string arabic = u"\u0645\u0631\u062D\u0628\u0627 \u0628\u0643\u0645 \u0641\u064A \u0627\u0644\u0645\u062F\u064A\u0646\u0629";
  const std::u16string mixed = u"Hello \u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD world";
  Load(u"<body style=\"margin:0 12px\"><p>" + hebrew + u"</p><p>" + arabic + u"</p><p>" + mixed +
       u"</p><p dir=\"rtl\">Hello world</p><p style=\"text-align:left\">" + hebrew + u"</p></body>");
  UpdateWindow(Inner());
  Pixels screen = ReadScreen(ScreenBitmap());
  auto bands = screen.Bands();
  ASSERT_EQ(bands.size(), 5u);
  const std::u16string lines[] = {hebrew, arabic, mixed};
  for (int i = 0; i < 3; ++i) {
    Pixels one = DrawnInOneCall(lines[i]);
    auto oneBands = one.Bands();
    ASSERT_EQ(oneBands.size(), 1u);
    Pixels::Cut shown = screen.InkOf(bands[i]), wanted = one.InkOf(oneBands[0]);
    EXPECT_EQ(shown.right - shown.left, wanted.right - wanted.left) << "line " << i;
    EXPECT_TRUE(shown.px == wanted.px) << "line " << i << " is not drawn as the same text drawn at once";
  }
  // Background between the Arabic words: three gaps at least most of a space wide.
  SIZE space{};
  HDC measure = CreateCompatibleDC(nullptr);
  HFONT font = PageFont();
  HGDIOBJ old = SelectObject(measure, font);
  GetTextExtentPoint32W(measure, u" ", 1, &space);
  SelectObject(measure, old);
  DeleteObject(font);
  DeleteDC(measure);
  Pixels::Cut words = screen.InkOf(bands[1]);
  int gaps = 0, blank = 0;
  for (int x = words.left; x < words.right; ++x) {
    bool ink = false;
    for (int y = bands[1].first; y < bands[1].second && !ink; ++y) ink = screen.Ink(x, y);
    if (!ink) ++blank;
    if (ink && blank > 0) gaps += blank * 4 >= space.cx * 3, blank = 0;
  }
  EXPECT_EQ(gaps, 3);
  // Right-to-left paragraphs, and one said to be so, end at the right
  // margin; the others start at the left one.
  const int right = 480 - 12;
  for (int i : {0, 1, 3}) {
    Pixels::Cut cut = screen.InkOf(bands[i]);
    EXPECT_LE(cut.right, right) << "line " << i;
    EXPECT_GE(cut.right, right - 4) << "line " << i;
  }
  for (int i : {2, 4}) {
    Pixels::Cut cut = screen.InkOf(bands[i]);
    EXPECT_GE(cut.left, 12) << "line " << i;
    EXPECT_LE(cut.left, 12 + 4) << "line " << i;
  }
}

// Words of a right-to-left paragraph set in their own elements take their
// places from the right on every line it wraps to, an Arabic phrase in an
// English line is ordered within it, and links are tapped where they show,
// moved or not.
TEST_F(HtmlViewTest, RightToLeftWordsTakeTheirPlacesAcrossElementsAndLinksAreTappedWhereShown) {
  const COLORREF red = RGB(255, 0, 0), green = RGB(0, 192, 0), blue = RGB(0, 0, 255), link = RGB(0x1a, 0x5f, 0xb4);
  std::u16string filler;
  for (int i = 0; i < 12; ++i) filler += u" \u05D4\u05DE\u05E9\u05DA \u05D4\u05DB\u05EA\u05D1\u05D4";
  Load(u"<body style=\"margin:0 12px\"><p><font color=\"#ff0000\">\u05D0\u05D7\u05EA</font> "
       u"<font color=\"#00c000\">\u05E9\u05EA\u05D9\u05D9\u05DD</font> <a href=\"http://example.org/three\">"
       u"\u05E9\u05DC\u05D5\u05E9 \u05D0\u05E8\u05D1\u05E2</a> <font color=\"#0000ff\">\u05D7\u05DE\u05E9</font>" +
       filler +
       u"</p><p><font color=\"#ff0000\">one</font> <font color=\"#00c000\">\u0645\u0631\u062D\u0628\u0627</font> "
       u"<font color=\"#0000ff\">\u0628\u0643\u0645</font> two</p>"
       u"<p dir=\"rtl\" style=\"text-align:left\"><a href=\"http://example.org/plain\">plain link</a></p></body>");
  UpdateWindow(Inner());
  Pixels screen = ReadScreen(ScreenBitmap());
  auto bands = screen.Bands();
  ASSERT_GE(bands.size(), 5u);  // the Hebrew paragraph wraps
  const auto first = bands.front(), english = bands[bands.size() - 2], plain = bands.back();
  POINT onLink{}, onRed{}, onBlue{};
  int r = screen.MeanX(red, first, &onRed), g = screen.MeanX(green, first), l = screen.MeanX(link, first, &onLink),
      b = screen.MeanX(blue, first, &onBlue);
  ASSERT_TRUE(r >= 0 && g >= 0 && l >= 0 && b >= 0);
  EXPECT_GT(r, g);
  EXPECT_GT(g, l);
  EXPECT_GT(l, b);
  for (size_t i = 0; i + 2 < bands.size(); ++i) {
    Pixels::Cut cut = screen.InkOf(bands[i]);
    EXPECT_LE(cut.right, 480 - 12) << "line " << i;
    EXPECT_GE(cut.right, 480 - 12 - 4) << "line " << i;
  }
  r = screen.MeanX(red, english), g = screen.MeanX(green, english), b = screen.MeanX(blue, english);
  EXPECT_LT(r, b);
  EXPECT_LT(b, g);
  EXPECT_LT(screen.InkOf(english).left, 12 + 4);

  auto tap = [](POINT p) {
    qk::InjectPointer(WM_LBUTTONDOWN, p.x, p.y);
    qk::PumpMessages();
    qk::InjectPointer(WM_LBUTTONUP, p.x, p.y);
    qk::PumpMessages();
  };
  tap(onRed);
  tap(onBlue);
  EXPECT_TRUE(Hosted().links.empty());
  tap(onLink);
  ASSERT_EQ(Hosted().links.size(), 1u);
  EXPECT_EQ(Hosted().links[0], u"http://example.org/three");
  POINT onPlain{};
  ASSERT_GE(screen.MeanX(link, plain, &onPlain), 0);
  tap(onPlain);
  ASSERT_EQ(Hosted().links.size(), 2u);
  EXPECT_EQ(Hosted().links[1], u"http://example.org/plain");
}

// Hostile pages: each is laid out and drawn within a bound of time and of
// memory, and the view goes on working afterwards. Pictures are answered by
// the host as the reading view answers them, with the picture's own size.
TEST_F(HtmlViewTest, HostilePagesNeitherCrashNorHang) {
  struct Case {
    const char* name;
    std::u16string html;
  };
  std::vector<Case> cases;
  {
    std::u16string deep;
    for (int i = 0; i < 100000; ++i) deep += u"<div><span>";
    deep += u"bottom";
    cases.push_back({"deep nesting", deep});
  }
  {
    std::u16string big = u"<p>";
    std::u16string word = u"lorem ipsum dolor sit amet ";
    while (big.size() < 10u * 1024 * 1024) big += word;
    cases.push_back({"10 MB of text", big});
  }
  {
    std::u16string broken;
    const char16_t* pieces[] = {u"<table><tr><td><p><b><i>", u"</td></b>", u"<a href='x", u"<<>>", u"</div></div>",
                                u"<img src=", u"<!-- open comment", u"<script>while(1){}", u"&#xFFFFFF;&bogus;",
                                u"<ul><li><ol><li>", u"<style>p{width:99999999px}</style>", u"\xD800", u"<x y=\"z"};
    for (int i = 0; i < 20000; ++i) broken += pieces[(i * 7 + i / 3) % 13];
    cases.push_back({"broken markup", broken});
  }
  {
    std::u16string images;
    for (int i = 0; i < 5000; ++i) images += u"<img src=\"i" + std::u16string(1, u'a' + i % 26) +
                                              std::u16string(1, u'a' + (i / 26) % 26) +
                                              std::u16string(1, u'a' + (i / 676) % 26) + u"\">";
    cases.push_back({"5000 images", images});
  }
  {
    std::u16string tables;
    for (int i = 0; i < 3000; ++i) tables += u"<table><tr><td>";
    cases.push_back({"nested tables", tables});
  }
  // Small pictures the page asks to be shown huge, each its own source.
  std::u16string huge;
  for (int i = 0; i < 10; ++i) {
    std::u16string name = u"tiny" + std::u16string(1, u'0' + i);
    Hosted().pictures[name] = htmltest::MakeSolid(8, 8, RGB(200, 30, 30));
    huge += u"<img src=\"" + name + u"\" width=\"40\" height=\"1300000\">";
  }
  cases.push_back({"pictures of huge sizes", huge});
  cases.push_back({"pictures of huge styled sizes",
                   Repeat(u"<img src=\"tiny1\" style=\"width:400px;height:30000em\">", 10)});
  cases.push_back({"a huge font", u"<p style=\"font-size:20000px\">AB</p>"});
  cases.push_back({"20000 nested list items", Repeat(u"<ul><li>", 20000)});
  cases.push_back({"20000 numbered items", u"<ol>" + Repeat(u"<li>item", 20000)});
  cases.push_back({"40000 paragraphs", Repeat(u"<p>x", 40000)});
  cases.push_back({"text deep in nested tables", Repeat(u"<table><tr><td>", 4) + Repeat(u"<blockquote>", 36) +
                                                     u"<p>" + std::u16string(250000, u'\u6F22')});
  for (const Case& c : cases) ExpectWithinBounds(c.name, c.html);
}

// Tables whose cells span huge grids, and elements the page writes
// self-closed (which the parser opens all the same), nested or repeated:
// each page is laid out and drawn within the bounds of time and memory,
// and the view goes on working.
TEST_F(HtmlViewTest, HugeTableGridsAndSelfClosedNestingStayWithinBounds) {
  struct Case {
    const char* name;
    std::u16string html;
  };
  const Case cases[] = {
      // 400 bytes: forty rows, then one cell as wide as 200 000 columns.
      {"a cell spanning 200000 columns", u"<table>" + Repeat(u"<tr><td>x", 40) +
                                            u"<tr><td colspan=200000>y</table>"},
      {"cells spanning every row below", u"<table>" + Repeat(u"<tr><td rowspan=65534>x", 700) + u"</table>"},
      {"self-closed divs", Repeat(u"<div/>", 4000) + u"bottom"},
      {"self-closed tables", Repeat(u"<table/><tr/><td/>", 1500) + u"bottom"},
  };
  for (const Case& c : cases) ExpectWithinBounds(c.name, c.html, true);
}

// A picture the host declares two billion pixels tall, shown at a width
// the page gives it: laid out within the bounded box (not at a size past
// the layout's integers) and drawn down the screen.
TEST_F(HtmlViewTest, PictureDeclaredHugeByTheHostIsLaidOutWithinTheBoundedBox) {
  const COLORREF red = RGB(220, 10, 10);
  Hosted().pictures[u"tall"] = htmltest::MakeSolid(7, 20, red);
  Hosted().answer = false;
  Load(u"<body style=\"margin:0\"><img src=\"tall\" width=\"300\"><p>after</p></body>");
  ASSERT_EQ(Hosted().cookies.size(), 1u);
  INLINEIMAGEINFO info{Hosted().cookies[0], 2000000000, 7, Hosted().pictures[u"tall"], FALSE};
  EXPECT_TRUE(SendMessageW(view_, DTM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&info)));
  qk::PumpMessages();
  EXPECT_GE(Height(), qk::htmlview::kMaxImageBox);
  EXPECT_LT(Height(), qk::htmlview::kMaxImageBox + 200);
  UpdateWindow(Inner());
  EXPECT_GE(CountColour(red), 300 * (800 - 40));
}

// A picture shown larger than the screen is laid out within a bounded box
// and drawn, scaled, where it shows; one shown smaller than itself is drawn
// scaled too. Many pictures shown scaled, each smaller than the screen, do
// not keep a scaled copy each while the page is read through.
TEST_F(HtmlViewTest, PicturesShownAtOtherSizesAreBoundedAndDrawnWhereTheyShow) {
  const COLORREF red = RGB(220, 10, 10), green = RGB(10, 210, 10);
  Hosted().pictures[u"dot"] = htmltest::MakeSolid(8, 8, red);
  Hosted().pictures[u"banner"] = htmltest::MakeSolid(400, 200, green);
  Load(u"<body style=\"margin:0\"><img src=\"banner\" width=\"100\" height=\"50\"><br>"
       u"<img src=\"dot\" width=\"300\" height=\"1300000\"></body>");
  ASSERT_EQ(Hosted().imageRequests.size(), 2u);
  // The page is as tall as the bounded box, not as the page asked.
  EXPECT_GE(Height(), qk::htmlview::kMaxImageBox);
  EXPECT_LT(Height(), qk::htmlview::kMaxImageBox + 200);
  UpdateWindow(Inner());
  EXPECT_EQ(CountColour(green), 100 * 50);
  int top = CountColour(red);
  EXPECT_GE(top, 300 * (800 - 100));
  EXPECT_LE(top, 300 * 800);
  // Its end, scrolled to, is drawn as well: a full screen of it.
  SendMessageW(Inner(), WM_KEYDOWN, 0x23 /* end */, 0);
  UpdateWindow(Inner());
  EXPECT_GE(CountColour(red), 300 * (800 - 40));
  EXPECT_EQ(CountColour(green), 0);

  const COLORREF blue = RGB(10, 10, 230);
  std::u16string many;
  for (int i = 0; i < 60; ++i) {
    std::u16string name = u"small" + std::u16string(1, u'a' + i % 26) + std::u16string(1, u'a' + i / 26);
    Hosted().pictures[name] = htmltest::MakeSolid(8, 8, blue);
    many += u"<p><img src=\"" + name + u"\" width=\"440\" height=\"380\"></p>";
  }
  Load(many);
  ASSERT_GT(Height(), 60 * 380);
  UpdateWindow(Inner());
  size_t before = HeapBytes(), most = before;
  int screens = 0;
  for (int y = 0; y < Height(); y += 700, ++screens) {
    ASSERT_GT(CountColour(blue), 440 * 200) << "screen " << screens;
    SendMessageW(Inner(), WM_KEYDOWN, 0x22 /* page down */, 0);
    UpdateWindow(Inner());
    most = std::max(most, HeapBytes());
  }
  // Read through, the page kept no more than a few screens of copies (a
  // copy each would be 40 MB).
  EXPECT_LT(most - before, 16u << 20) << screens << " screens";
}

// Where a page shown from its first screen is cut: after enough text, just
// past the end of a block that only plain block containers hold; never
// inside a table, an open paragraph or inline element, a comment or a
// script, and nowhere on a page that has too little text.
TEST(HtmlFirstScreen, APageIsCutOnlyAfterABlockThatPlainContainersHold) {
  using qk::htmlview::FirstScreenCut;
  const size_t npos = std::string::npos;
  const std::string para = "<p>" + std::string(90, 'x') + "</p>";  // 90 characters of text
  // After the block that passes the text asked for.
  std::string page = "<html><body><div>" + Repeat(para.c_str(), 10) + "</div></body></html>";
  size_t cut = FirstScreenCut(page, 200);
  ASSERT_NE(cut, npos);
  EXPECT_EQ(page.substr(0, cut), "<html><body><div>" + Repeat(para.c_str(), 3));
  EXPECT_EQ(FirstScreenCut(page, 5000), npos);
  // Upper-case tags, and list items between which a list may be cut.
  std::string list = "<HTML><BODY><UL>" + Repeat(("<LI>" + std::string(90, 'y') + "</LI>").c_str(), 4) + "</UL>";
  cut = FirstScreenCut(list, 100);
  ASSERT_NE(cut, npos);
  EXPECT_EQ(list.substr(cut - 5, 5), "</LI>");
  EXPECT_EQ(cut, list.find("</LI>", list.find("</LI>") + 1) + 5);
  // Nothing inside a table (a layout table holds the whole page): only after it.
  const std::string table = "<table><tr><td>" + Repeat(para.c_str(), 10) + "</td></tr></table>";
  EXPECT_EQ(FirstScreenCut(table, 200), table.size());
  // Nor inside an inline element that runs over the paragraphs, nor after
  // an inline element's end.
  EXPECT_EQ(FirstScreenCut("<a href=\"x\">" + Repeat(para.c_str(), 10) + "</a>", 200), npos);
  EXPECT_EQ(FirstScreenCut(Repeat(("<b>" + std::string(90, 'z') + "</b>").c_str(), 10), 200), npos);
  // A paragraph closed by the start of the next block ends with that
  // block's end; one left open is never ended.
  std::string implied = Repeat(("<p>" + std::string(90, 'w') + "<div>d</div>").c_str(), 5);
  cut = FirstScreenCut(implied, 200);
  ASSERT_NE(cut, npos);
  EXPECT_EQ(implied.substr(cut - 6, 6), "</div>");
  EXPECT_EQ(FirstScreenCut(Repeat(("<p>" + std::string(90, 'v')).c_str(), 10), 200), npos);
  // Ends in comments, scripts and attribute values are no ends.
  std::string hidden = "<div>" + std::string(300, 'u') + "<!-- </div> --><script>var s = '</div>';</script>" +
                       "<span title=\"</div>\">s</span></div>";
  cut = FirstScreenCut(hidden, 200);
  EXPECT_EQ(cut, hidden.size());
  // A source cut off inside a tag or a comment has no cut after it.
  EXPECT_EQ(FirstScreenCut(std::string(300, 't') + "<!-- </p>", 200), npos);
}

TEST(HtmlBound, DepthTextAndTagsAreBoundedWhileOrdinaryPagesPassWhole) {
  using qk::htmlview::BoundSource;
  std::string ordinary = "<html><body><p>one<p>two<ul><li>a<li>b</ul><div><b>bold</b></div></body></html>";
  EXPECT_EQ(BoundSource(ordinary), ordinary);

  std::string deep;
  for (int i = 0; i < 1000; ++i) deep += "<div>";
  deep += "text";
  for (int i = 0; i < 1000; ++i) deep += "</div>";
  std::string bounded = BoundSource(deep, 50);
  size_t opens = 0, closes = 0;
  for (size_t at = bounded.find("<div>"); at != std::string::npos; at = bounded.find("<div>", at + 1)) ++opens;
  for (size_t at = bounded.find("</div>"); at != std::string::npos; at = bounded.find("</div>", at + 1)) ++closes;
  EXPECT_EQ(opens, 50u);
  EXPECT_EQ(closes, 50u);
  EXPECT_NE(bounded.find("text"), std::string::npos);

  // A run of paragraphs the parser closes by itself is not nesting.
  std::string paragraphs;
  for (int i = 0; i < 500; ++i) paragraphs += "<p>x";
  EXPECT_EQ(BoundSource(paragraphs, 50), paragraphs);

  // Text is cut at the bound, on a character boundary.
  std::string text = "<p>" + std::string(100, 'a') + "\xC3\xA9\xC3\xA9" + "</p>";
  EXPECT_EQ(BoundSource(text, 50, 101), "<p>" + std::string(100, 'a') + "\xC3\xA9");
  // Tags beyond the bound are left out with what follows.
  EXPECT_EQ(BoundSource("<b>1</b><i>2</i><u>3</u>", 50, 1000, 4), "<b>1</b><i>2</i>");
  // Script content beyond the depth goes with its element; within it, it is kept as raw text.
  EXPECT_EQ(BoundSource("<div><script>if (a<b) x();</script></div>", 1), "<div></div>");
  EXPECT_EQ(BoundSource("<script>if (a<b) x();</script>", 1), "<script>if (a<b) x();</script>");
  // A source cut inside a tag drops the partial tag.
  EXPECT_EQ(BoundSource("<p>ok</p><a href=\"x"), "<p>ok</p>");
}

// Table cells keep their spans within bounds, written as the layout reads
// them; a table's grid (rows times its widest row) is cut where the page's
// grids pass their bound; a self-closed element counts as open. Ordinary
// tables pass whole.
TEST(HtmlBound, TableSpansGridsAndSelfClosedElementsAreBoundedWhileOrdinaryTablesPassWhole) {
  using qk::htmlview::BoundSource;
  auto count = [](const std::string& s, const std::string& what) {
    size_t n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + what.size())) ++n;
    return n;
  };
  std::string ordinary =
      "<table><thead><tr><th colspan=\"2\">Head</th></tr></thead><tbody><tr><td rowspan=\"2\">a</td>"
      "<td>b</td></tr><tr><td>c</td></tr></tbody></table>";
  EXPECT_EQ(BoundSource(ordinary), ordinary);
  std::string data = "<table>" + Repeat("<tr><td>1</td><td>2</td><td>3</td><td>4</td><td>5</td></tr>", 2000) +
                     "</table>";
  EXPECT_EQ(BoundSource(data), data);

  // Spans held to their bounds and written as numbers; the first of each counts.
  EXPECT_EQ(BoundSource("<table><tr><td colspan=300000 rowspan='99999999999999'>x</table>"),
            "<table><tr><td colspan=\"1000\" rowspan=\"65534\">x</table>");
  EXPECT_EQ(BoundSource("<table><tr><td colspan=\" -3\" rowspan=2abc colspan=9>x</table>"),
            "<table><tr><td colspan=\"1\" rowspan=\"2\" colspan=\"9\">x</table>");

  // Rows under a wide cell are as wide as it: the grid is cut at its bound.
  size_t wide = count(BoundSource("<table>" + Repeat("<tr><td colspan=1000>x", 1000)), "<tr>");
  EXPECT_LE(wide * 1000, qk::htmlview::kMaxTableCells);
  EXPECT_GT(wide * 1000, qk::htmlview::kMaxTableCells - 1000);
  // Cells spanning the rows below push each next row's cell one place on.
  size_t stairs = count(BoundSource("<table>" + Repeat("<tr><td rowspan=65534>x", 2000)), "<tr>");
  EXPECT_LE(stairs * stairs, qk::htmlview::kMaxTableCells);
  EXPECT_GT((stairs + 2) * (stairs + 2), qk::htmlview::kMaxTableCells);
  // A table inside another's cell weighs double.
  size_t inner = count(BoundSource("<table><tr><td><table>" + Repeat("<tr><td colspan=1000>x", 1000)), "<tr>");
  EXPECT_EQ(inner - 1, wide / 2);

  // Self-closed divs nest as open ones do.
  EXPECT_EQ(count(BoundSource(Repeat("<div/>", 1000) + "text", 50), "<div"), 50u);
}

// A ">" that a quoted value let into a tag, standing where an attribute's
// name would start, is passed over: the scan goes on to the page's end.
TEST(HtmlBound, AGreaterThanSignWhereAnAttributeWouldStartIsPassedOver) {
  using qk::htmlview::BoundSource;
  EXPECT_EQ(BoundSource("<img src=name=\"x><img <html>src=\"y\"><p>after</p>"),
            "<img src='name=\"x><img' <html src=\"y\"><p>after</p>");
}

// The layout's work is bounded before parsing: hostile shapes are cut
// where their cost passes the bound, while a long article, even inside
// layout tables, passes whole.
TEST(HtmlBound, LayoutCostAndListItemsAreBoundedWhileLongArticlesPassWhole) {
  using qk::htmlview::BoundSource;
  auto narrow = [](const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
      EXPECT_LT(c, 0x80);
      out.push_back(static_cast<char>(c));
    }
    return out;
  };
  auto count = [](const std::string& s, const std::string& what) {
    size_t n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + what.size())) ++n;
    return n;
  };

  // Articles with all the text the viewer keeps.
  std::string article = narrow(htmltest::MakeArticle(500 * 1024, 20));
  ASSERT_GT(article.size(), qk::htmlview::kMaxTextChars * 9 / 10);
  EXPECT_EQ(BoundSource(article), article);
  std::string wrapped = "<table><tr><td><table><tr><td>" + Repeat("<div>", 8) + article;
  EXPECT_EQ(BoundSource(wrapped), wrapped);

  // Nested lists: depth and items both bounded.
  std::string nested = BoundSource(Repeat("<ul><li>", 20000));
  EXPECT_LE(count(nested, "<li>"), qk::htmlview::kMaxDepth + qk::htmlview::kMaxListItems);
  // The items of one list are bounded; those of separate lists are not added up.
  std::string numbered = BoundSource("<ol>" + Repeat("<li>x", 3000) + "</ol>");
  EXPECT_EQ(count(numbered, "<li>"), qk::htmlview::kMaxListItems);
  std::string lists = Repeat("<ol>" + Repeat("<li>x", qk::htmlview::kMaxListItems - 100) + "</ol>", 2);
  EXPECT_EQ(BoundSource(lists), lists);

  // Many elements: cut, with room left for any real page's.
  size_t paragraphs = count(BoundSource(Repeat("<p>x", 40000)), "<p>");
  EXPECT_LT(paragraphs, 40000u);
  EXPECT_GT(paragraphs, 10000u);

  // Text costs more the deeper it lies and the more tables hold it; an
  // entity may be an ideograph of its own.
  const std::string ideograph = "\xE6\xBC\xA2";
  std::string text = Repeat(ideograph, 250000);
  EXPECT_EQ(count(BoundSource("<p>" + text), ideograph), 250000u);
  std::string deep = Repeat("<table><tr><td>", 4) + Repeat("<blockquote>", 36) + "<p>";
  size_t deepIdeographs = count(BoundSource(deep + text), ideograph);
  EXPECT_LT(deepIdeographs, 250000u / 8);
  EXPECT_LE(count(BoundSource(deep + Repeat("&#x6F22;", 30000)), "&#x6F22;"), deepIdeographs);
}

}  // namespace
