// The finger-scrolling engine's state machine, driven by synthetic pointer
// input on a real window and its timers on the controlled clock: press,
// hold, click, drag, flick with momentum, bounce at both ends, stop on touch.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "gdi/surface.h"
#include "quillet/ui/touch_scroller.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "user/user.h"

namespace {

CTouchScroller* g_scroller = nullptr;

LRESULT ScrollerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_TIMER && g_scroller && g_scroller->OnTimer(hwnd, wParam)) return 0;
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

struct Client : CTouchScrollClient {
  int contentHeight = 2000;
  std::vector<int> offsets;  // offset of every DrawContent
  std::vector<std::pair<int, int>> presses, clicks;
  int dragStarts = 0;
  int DrawContent(HWND, DWORD_PTR context, HDC hdc, DWORD_PTR drawParam, int offset, int width,
                  int height) override {
    EXPECT_EQ(context, 77u);
    EXPECT_EQ(drawParam, 0u);
    EXPECT_NE(hdc, nullptr);
    EXPECT_GT(width, 0);
    EXPECT_GT(height, 0);
    offsets.push_back(offset);
    return contentHeight;
  }
  BOOL OnPress(HWND, DWORD_PTR, int x, int y) override {
    presses.push_back({x, y});
    return TRUE;
  }
  BOOL OnDragStart(HWND, DWORD_PTR) override {
    ++dragStarts;
    return TRUE;
  }
  void OnClick(HWND, DWORD_PTR, int x, int y) override { clicks.push_back({x, y}); }
};

class Scroller : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    qk::gdi::ScreenConfig c = qk::gdi::KeyDeviceScreenConfig();  // 96 dpi: ScaleY(12) is 12
    c.width = 480;
    c.height = 800;
    qk::gdi::SetScreenConfig(c);
    ResetScreenDpi();
    InitScreenDpi(0);
    qk::FreezeClock(1700000000000LL, 100000);
    window_ = qtest::CreateHostWindow(u"ScrollerHost", ScrollerProc, 480, 800);
    ASSERT_NE(window_, nullptr);
    g_scroller = &scroller_;
  }
  void TearDown() override {
    scroller_.Destroy();
    g_scroller = nullptr;
    DestroyWindow(window_);
    qk::UseRealClock();
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    ResetScreenDpi();
    DeviceTest::TearDown();
  }
  void Init(int contentHeight, int top = 0) {
    client_.contentHeight = contentHeight;
    scroller_.Init(77, window_, &client_, 0, top, 480, 700);
  }
  bool Down(int x, int y) { return scroller_.OnPointerDown(window_, 0, MAKELPARAM(x, y)); }
  bool Move(int x, int y) { return scroller_.OnPointerMove(window_, 0, MAKELPARAM(x, y)); }
  bool Up(int x, int y) { return scroller_.OnPointerUp(window_, 0, MAKELPARAM(x, y)); }
  // A finger at x pressed at the first y, then moved to each further y
  // 10 ms apart; it stays down.
  void Stroke(int x, std::initializer_list<int> ys) {
    auto y = ys.begin();
    Down(x, *y);
    for (++y; y != ys.end(); ++y) {
      Run(10);
      Move(x, *y);
    }
  }
  // Lets time pass in steps, handling the timers that fall due.
  void Run(int ms, int step = 10) {
    for (int t = 0; t < ms; t += step) {
      qk::AdvanceClock(step);
      qk::PumpMessages();
    }
  }

  HWND window_ = nullptr;
  CTouchScroller scroller_;
  Client client_;
};

}  // namespace

TEST_F(Scroller, InitDrawsTheFirstFrameAtTheTop) {
  Init(2000);
  ASSERT_EQ(client_.offsets.size(), 1u);
  EXPECT_EQ(client_.offsets[0], 0);
  EXPECT_EQ(scroller_.GetContentHeight(), 2000);
  EXPECT_NE(scroller_.GetBackBufferDC(), nullptr);
  EXPECT_FALSE(scroller_.SetSize(480, 700));
  EXPECT_TRUE(scroller_.SetOffset(-50, TRUE));
  EXPECT_TRUE(scroller_.SetSize(480, 600));
  EXPECT_EQ(scroller_.GetOffset(), 0) << "a new size goes back to the top";
  EXPECT_EQ(scroller_.GetHeight(), 600);
}

TEST_F(Scroller, QuickTapShowsFeedbackThenClicks) {
  Init(2000, 50);
  scroller_.SetOffset(-100, FALSE);
  EXPECT_TRUE(Down(30, 250));
  EXPECT_TRUE(Up(30, 250));
  ASSERT_EQ(client_.presses.size(), 1u);
  EXPECT_EQ(client_.presses[0], std::make_pair(30, 300)) << "content y = y - top - offset";
  ASSERT_EQ(client_.clicks.size(), 1u);
  EXPECT_EQ(client_.clicks[0], std::make_pair(30, 300));
  EXPECT_EQ(client_.dragStarts, 0);
}

TEST_F(Scroller, HoldTimerShowsTheHighlightOnceAndTheReleaseClicks) {
  Init(2000);
  Down(10, 100);
  Run(90);
  EXPECT_TRUE(client_.presses.empty());
  Run(20);
  ASSERT_EQ(client_.presses.size(), 1u);
  Up(10, 100);
  EXPECT_EQ(client_.presses.size(), 1u) << "no second press feedback";
  EXPECT_EQ(client_.clicks.size(), 1u);
}

TEST_F(Scroller, PressOutsideIsIgnoredWithItsMovesAndRelease) {
  Init(2000, 50);
  EXPECT_FALSE(Down(10, 20));
  EXPECT_FALSE(Move(10, 300));
  EXPECT_FALSE(Up(10, 300));
  EXPECT_TRUE(client_.clicks.empty());
  EXPECT_EQ(scroller_.GetOffset(), 0);
  EXPECT_TRUE(Down(480, 750)) << "the edges count as inside";
  Up(480, 750);
}

TEST_F(Scroller, ElevenPixelsIsStillAClick) {
  Init(2000);
  Down(100, 300);
  EXPECT_TRUE(Move(100, 311));
  EXPECT_EQ(client_.dragStarts, 0);
  Up(100, 311);
  EXPECT_EQ(client_.clicks.size(), 1u);
  EXPECT_EQ(client_.clicks[0].second, 300) << "the click is at the press point";
  EXPECT_EQ(scroller_.GetOffset(), 0);
}

TEST_F(Scroller, SlowDragInRangeNeitherFlicksNorClicks) {
  Init(2000);
  Stroke(100, {400, 388});  // 12 pixels: the drag starts and covers the whole distance
  EXPECT_EQ(client_.dragStarts, 1);
  EXPECT_EQ(scroller_.GetOffset(), -12);
  for (int y : {300, 298, 296, 295}) {
    Run(40);
    Move(100, y);
  }
  EXPECT_EQ(scroller_.GetOffset(), -105);
  Up(100, 295);
  Run(500);
  EXPECT_TRUE(client_.clicks.empty()) << "a drag never ends in a click";
  EXPECT_EQ(scroller_.GetOffset(), -105);
  EXPECT_FALSE(scroller_.IsMoving());
}

TEST_F(Scroller, FlickDecaysUntilItStops) {
  Init(20000);
  Stroke(100, {600, 560, 520, 480});
  // Oldest sample 560 at +10 ms, newest 480 at +30 ms: dy = -80, dt = 20,
  // 45 / 20 x -80 = -180.
  Up(100, 480);
  EXPECT_DOUBLE_EQ(scroller_.GetVelocity(), -180.0);
  EXPECT_TRUE(client_.clicks.empty());
  int before = scroller_.GetOffset();
  EXPECT_EQ(before, -120);
  // The first step: 180 is between 100 and 200, so 0.8: -144.
  Run(70);
  EXPECT_EQ(scroller_.GetOffset(), before - 144);
  Run(70 * 100);
  EXPECT_FALSE(scroller_.IsMoving());
  EXPECT_EQ(scroller_.GetVelocity(), 0.0);
  int stopped = scroller_.GetOffset();
  EXPECT_LT(stopped, before - 1000);
  Run(700);
  EXPECT_EQ(scroller_.GetOffset(), stopped);
}

TEST_F(Scroller, VelocityDecayBands) {
  // 250 px/step: 0.7 until 200 or less, 0.8 until 100 or less, 0.9 down to 41, then 0.94.
  EXPECT_DOUBLE_EQ(CTouchScroller::DecayVelocity(250), 175);
  EXPECT_DOUBLE_EQ(CTouchScroller::DecayVelocity(175), 140);
  EXPECT_DOUBLE_EQ(CTouchScroller::DecayVelocity(-150), -120);
  EXPECT_DOUBLE_EQ(CTouchScroller::DecayVelocity(100), 90);
  EXPECT_DOUBLE_EQ(CTouchScroller::DecayVelocity(41), 41 * 0.9);
  EXPECT_DOUBLE_EQ(CTouchScroller::DecayVelocity(40.9), 40.9 * 0.94);
  EXPECT_DOUBLE_EQ(CTouchScroller::DecayVelocity(-3), -3 * 0.94);
}

TEST_F(Scroller, SamplesOnOneTickDoNotDivideByZero) {
  Init(20000);
  Down(100, 600);
  Move(100, 580);
  Move(100, 560);
  Move(100, 540);
  Up(100, 540);
  // dt is taken as 1 ms: 45 x (540 - 580).
  EXPECT_DOUBLE_EQ(scroller_.GetVelocity(), -1800.0);
  Run(70 * 200);
  EXPECT_FALSE(scroller_.IsMoving());
}

TEST_F(Scroller, PullDownBouncesBackInFourSteps) {
  Init(300);  // shorter than the view
  Stroke(100, {100, 200, 200, 200});
  EXPECT_EQ(scroller_.GetOffset(), 100);
  client_.offsets.clear();
  Up(100, 200);
  Run(300);
  EXPECT_EQ(client_.offsets, (std::vector<int>{50, 20, 4, 0}));
  EXPECT_FALSE(scroller_.IsMoving());
  EXPECT_TRUE(client_.clicks.empty());
}

TEST_F(Scroller, ShortListBouncesBackFromAboveToo) {
  Init(300);
  Stroke(100, {300, 200, 200, 200});
  EXPECT_EQ(scroller_.GetOffset(), -100);
  Up(100, 200);
  Run(300);
  EXPECT_EQ(scroller_.GetOffset(), 0);
}

TEST_F(Scroller, FlickPastTheEndBouncesToTheLastScreen) {
  Init(1000);  // view 700: the lowest offset is -300
  Stroke(100, {650, 600, 500, 400});
  Up(100, 400);
  ASSERT_LT(scroller_.GetVelocity(), 0);
  Run(2000);
  EXPECT_EQ(scroller_.GetOffset(), -300);
  EXPECT_FALSE(scroller_.IsMoving());
}

TEST_F(Scroller, PressDuringAFlickStopsItAndSwallowsTheClick) {
  Init(20000);
  Stroke(100, {600, 560, 520, 480});
  Up(100, 480);
  Run(140);
  ASSERT_TRUE(scroller_.IsMoving());
  int where = scroller_.GetOffset();
  EXPECT_TRUE(Down(100, 300));
  EXPECT_FALSE(scroller_.IsMoving());
  EXPECT_EQ(scroller_.GetVelocity(), 0.0);
  Up(100, 300);
  EXPECT_TRUE(client_.clicks.empty());
  Run(500);
  EXPECT_EQ(scroller_.GetOffset(), where) << "the content stays where it was stopped";
  // The next tap clicks again.
  Down(100, 300);
  Up(100, 300);
  EXPECT_EQ(client_.clicks.size(), 1u);
}

TEST_F(Scroller, TimersAreOnlyTheEnginesOwn) {
  Init(2000);
  EXPECT_TRUE(scroller_.OnTimer(window_, TOUCH_TIMER_HOLD));
  EXPECT_FALSE(scroller_.OnTimer(window_, 1029));
  EXPECT_FALSE(scroller_.OnTimer(window_, 3));
}

TEST_F(Scroller, TapGivesPressFeedbackWithoutAClick) {
  Init(2000, 50);
  scroller_.SetOffset(-30, FALSE);
  size_t frames = client_.offsets.size();
  scroller_.Tap(7, 100);
  ASSERT_EQ(client_.presses.size(), 1u);
  EXPECT_EQ(client_.presses[0], std::make_pair(7, 130));
  EXPECT_EQ(client_.offsets.size(), frames + 1) << "one redraw";
  EXPECT_TRUE(client_.clicks.empty());
  // Without a client nothing is called and nothing breaks.
  CTouchScroller bare;
  bare.Init(0, window_, nullptr, 0, 0, 100, 100);
  bare.Tap(1, 1);
  EXPECT_TRUE(bare.OnPointerDown(window_, 0, MAKELPARAM(5, 5)));
  EXPECT_TRUE(bare.OnPointerUp(window_, 0, MAKELPARAM(5, 5)));
  bare.Destroy();
}

// The last movement decides: more than 6 pixels between the oldest kept
// sample and the release flicks, 6 or fewer does not, in both directions.
TEST_F(Scroller, SevenPixelsFlickAndSixDoNot) {
  Init(20000);
  // Samples 388 (+10 ms), 384 (+20), 381 (+30): released 7 above the oldest.
  Stroke(100, {400, 388, 384, 381});
  Up(100, 381);
  // 45 / 20 x -7 = -15.75, cut to -15.
  EXPECT_DOUBLE_EQ(scroller_.GetVelocity(), -15.0);
  EXPECT_TRUE(scroller_.IsMoving());
  int released = scroller_.GetOffset();
  Run(70);
  EXPECT_EQ(scroller_.GetOffset(), released - 14) << "the first step moves 15 x 0.94, cut to 14";
  Run(70 * 100);
  EXPECT_FALSE(scroller_.IsMoving());

  // Released 6 below the oldest sample: the drag ends where it is.
  Stroke(100, {400, 412, 415, 418});
  int before = scroller_.GetOffset();
  Up(100, 418);
  EXPECT_EQ(scroller_.GetVelocity(), 0.0);
  EXPECT_FALSE(scroller_.IsMoving());
  Run(700);
  EXPECT_EQ(scroller_.GetOffset(), before);

  // Released 7 below it: a flick towards the top.
  Stroke(100, {400, 412, 416, 419});
  Up(100, 419);
  EXPECT_DOUBLE_EQ(scroller_.GetVelocity(), 15.0);
  EXPECT_TRUE(scroller_.IsMoving());
  before = scroller_.GetOffset();
  Run(70);
  EXPECT_GT(scroller_.GetOffset(), before);
  EXPECT_TRUE(client_.clicks.empty());
}
