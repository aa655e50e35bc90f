// Windows and messages within one program: classes and window longs, posted
// and sent messages between threads, timers on the controlled clock, modal
// loops and PostQuitMessage, message boxes answered by the test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "kernel/kernel.h"
#include "support/device_fixture.h"
#include "user/user.h"

namespace {

struct Seen {
  HWND hwnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  DWORD thread;
};
std::mutex g_seenLock;
std::vector<Seen> g_seen;

std::vector<Seen> SeenOf(UINT msg) {
  std::lock_guard<std::mutex> lock(g_seenLock);
  std::vector<Seen> out;
  for (auto& s : g_seen)
    if (s.msg == msg) out.push_back(s);
  return out;
}

LRESULT RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_TIMER || msg >= WM_USER || msg == WM_CREATE || msg == WM_DESTROY) {
    std::lock_guard<std::mutex> lock(g_seenLock);
    g_seen.push_back({hwnd, msg, wParam, lParam, GetCurrentThreadId()});
  }
  if (msg == WM_USER + 1) return static_cast<LRESULT>(wParam + lParam);
  if (msg == WM_USER + 5) {
    // Sends back to the window named in wParam while the sender waits.
    return SendMessageW(reinterpret_cast<HWND>(wParam), WM_USER + 1, 40, 2) + 1;
  }
  if (msg == WM_USER + 6) {
    PostQuitMessage(static_cast<int>(wParam));
    return 0;
  }
  if (msg == WM_USER + 7) {
    qk::RequestProgramEnd();
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

class MessagesTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    qtest::DeviceTest::SetUp();
    {
      std::lock_guard<std::mutex> lock(g_seenLock);
      g_seen.clear();
    }
    WNDCLASSW wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.cbWndExtra = 16;
    wc.lpszClassName = u"TestRecorder";
    RegisterClassW(&wc);
    qk::ClearQuit();
  }
  void TearDown() override {
    qk::SetMessageBoxHook(nullptr);
    qk::UseRealClock();
    qtest::DeviceTest::TearDown();
  }
  HWND Make(HWND parent = nullptr, int id = 0) {
    return CreateWindowExW(0, u"TestRecorder", u"Title", parent ? WS_CHILD : 0, 0, 0, 100, 50, parent,
                           reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
  }
};

TEST_F(MessagesTest, ClassesWindowsAndLongs) {
  WNDCLASSW dup{};
  dup.lpfnWndProc = RecordingProc;
  dup.lpszClassName = u"testrecorder";
  EXPECT_EQ(RegisterClassW(&dup), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
  EXPECT_EQ(CreateWindowExW(0, u"NoClass", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);

  HWND top = Make();
  ASSERT_NE(top, nullptr);
  HWND child = Make(top, 42);
  EXPECT_EQ(SeenOf(WM_CREATE).size(), 2u);
  EXPECT_TRUE(IsWindow(child));
  EXPECT_EQ(GetParent(child), top);
  EXPECT_EQ(GetDlgItem(top, 42), child);
  EXPECT_EQ(GetDlgCtrlID(child), 42);
  int marker = 0;
  SetWindowLongW(top, GWL_USERDATA, reinterpret_cast<LONG_PTR>(&marker));
  EXPECT_EQ(reinterpret_cast<int*>(GetWindowLongW(top, GWL_USERDATA)), &marker);
  SetWindowLongW(top, 8, 0x123456789LL);
  EXPECT_EQ(GetWindowLongW(top, 8), 0x123456789LL);
  EXPECT_EQ(GetWindowLongW(top, 9), 0);  // beyond the extra bytes
  EXPECT_TRUE(SetWindowTextW(top, u"Quillet"));
  char16_t text[32];
  EXPECT_EQ(GetWindowTextW(top, text, 32), 7);
  EXPECT_EQ(std::u16string(text), u"Quillet");
  EXPECT_EQ(FindWindowW(u"TESTRECORDER", u"quillet"), top);
  EXPECT_EQ(FindWindowW(u"TestRecorder", u"Other"), nullptr);

  EXPECT_TRUE(DestroyWindow(top));
  EXPECT_FALSE(IsWindow(top));
  EXPECT_FALSE(IsWindow(child));  // children go with their parent
  EXPECT_EQ(SeenOf(WM_DESTROY).size(), 2u);
  EXPECT_FALSE(DestroyWindow(top));
}

TEST_F(MessagesTest, PostedMessagesArriveInOrderAndThreadMessagesToo) {
  HWND w = Make();
  for (int i = 0; i < 5; ++i) PostMessageW(w, WM_USER + 2, i, 0);
  PostThreadMessageW(GetCurrentThreadId(), WM_USER + 3, 9, 0);
  MSG m;
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(GetMessageW(&m, nullptr, 0, 0));
    EXPECT_EQ(m.hwnd, w);
    EXPECT_EQ(m.wParam, static_cast<WPARAM>(i));
    DispatchMessageW(&m);
  }
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.hwnd, nullptr);
  EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 3));
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(SeenOf(WM_USER + 2).size(), 5u);
  // A message posted to a window destroyed meanwhile is not delivered.
  PostMessageW(w, WM_USER + 2, 99, 0);
  DestroyWindow(w);
  qk::PumpMessages();
  EXPECT_EQ(SeenOf(WM_USER + 2).size(), 5u);
  EXPECT_FALSE(PostMessageW(w, WM_USER + 2, 0, 0));
}

TEST_F(MessagesTest, SendFromAnotherThreadBlocksUntilHandledOnOwnerThread) {
  HWND w = Make();
  std::atomic<LRESULT> result{0};
  std::atomic<bool> returned{false};
  std::thread sender([&] {
    result = SendMessageW(w, WM_USER + 1, 40, 2);
    returned = true;
  });
  // Nothing is handled until the owner pumps.
  EXPECT_TRUE(qk::PumpMessagesUntil([&] { return !SeenOf(WM_USER + 1).empty(); }, 5000));
  sender.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(result.load(), 42);
  EXPECT_EQ(SeenOf(WM_USER + 1)[0].thread, GetCurrentThreadId());
  DestroyWindow(w);
}

TEST_F(MessagesTest, ThreadWaitingInSendStillHandlesMessagesSentToIt) {
  HWND mine = Make();
  std::atomic<HWND> theirs{nullptr};
  std::atomic<bool> stop{false};
  std::thread other([&] {
    HWND w = Make();
    theirs = w;
    while (!stop) qk::PumpMessagesUntil([&] { return stop.load(); }, 50);
    DestroyWindow(w);
  });
  while (!theirs) std::this_thread::yield();
  // Their window sends back to ours while we wait for its answer.
  LRESULT r = SendMessageW(theirs, WM_USER + 5, reinterpret_cast<WPARAM>(mine), 0);
  EXPECT_EQ(r, 43);
  auto nested = SeenOf(WM_USER + 1);
  ASSERT_EQ(nested.size(), 1u);
  EXPECT_EQ(nested[0].hwnd, mine);
  EXPECT_EQ(nested[0].thread, GetCurrentThreadId());
  stop = true;
  other.join();
  DestroyWindow(mine);
}

TEST_F(MessagesTest, SendTimeoutAndSendToDestroyedWindow) {
  HWND w = Make();  // owned by this thread, which will not pump
  std::atomic<LRESULT> ok{1};
  DWORD_PTR result = 7;
  std::thread t([&] { ok = SendMessageTimeoutW(w, WM_USER + 1, 1, 1, SMTO_NORMAL, 50, &result); });
  t.join();
  EXPECT_EQ(ok.load(), 0);
  qk::PumpMessages();  // the late message is still handled, its answer dropped
  DestroyWindow(w);
  EXPECT_EQ(SendMessageW(w, WM_USER + 1, 1, 1), 0);
}

TEST_F(MessagesTest, TimersFireByTheControlledClockAlsoWhenSetFromAWorker) {
  qk::FreezeClock(1700000000000LL, 1000);
  HWND w = Make();
  EXPECT_EQ(SetTimer(w, 7, 500, nullptr), 7u);
  std::thread worker([&] { SetTimer(w, 8, 2000, nullptr); });
  worker.join();
  qk::PumpMessages();
  EXPECT_TRUE(SeenOf(WM_TIMER).empty());
  qk::AdvanceClock(499);
  qk::PumpMessages();
  EXPECT_TRUE(SeenOf(WM_TIMER).empty());
  qk::AdvanceClock(1);
  qk::PumpMessages();
  ASSERT_EQ(SeenOf(WM_TIMER).size(), 1u);
  EXPECT_EQ(SeenOf(WM_TIMER)[0].wParam, 7u);
  qk::AdvanceClock(1500);  // 2000 ms in: both are due, each fires once
  qk::PumpMessages();
  auto fired = SeenOf(WM_TIMER);
  ASSERT_EQ(fired.size(), 3u);
  EXPECT_TRUE(KillTimer(w, 7));
  EXPECT_FALSE(KillTimer(w, 7));
  qk::AdvanceClock(10000);
  qk::PumpMessages();
  EXPECT_EQ(SeenOf(WM_TIMER).size(), 4u);  // only timer 8 is left
  EXPECT_EQ(SeenOf(WM_TIMER).back().wParam, 8u);
  DestroyWindow(w);
  qk::AdvanceClock(10000);
  qk::PumpMessages();
  EXPECT_EQ(SeenOf(WM_TIMER).size(), 4u);
}

TEST_F(MessagesTest, PostQuitMessageEndsNestedModalLoops) {
  HWND w = Make();
  int depth = 0;
  bool innerEndedByQuit = false;
  bool outerEndedByQuit = false;
  PostMessageW(w, WM_USER + 6, 3, 0);  // handled inside the inner loop
  outerEndedByQuit = !qk::RunModalLoop([&] {
    if (depth == 0) {
      depth = 1;
      innerEndedByQuit = !qk::RunModalLoop([] { return false; });
    }
    return false;
  });
  EXPECT_TRUE(innerEndedByQuit);
  EXPECT_TRUE(outerEndedByQuit);
  MSG m;
  EXPECT_FALSE(GetMessageW(&m, nullptr, 0, 0));  // the quit reaches the outermost loop too
  EXPECT_EQ(m.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(m.wParam, 3u);
  DestroyWindow(w);
}

TEST_F(MessagesTest, ModalLoopHandlesMessagesSentFromAnotherThread) {
  HWND w = Make();
  std::atomic<LRESULT> ok{0};
  DWORD_PTR answer = 0;
  std::thread sender([&] {
    ok = SendMessageTimeoutW(w, WM_USER + 1, 40, 2, SMTO_NORMAL, 10000, &answer);
    PostMessageW(w, WM_USER + 2, 0, 0);  // ends the loop below
  });
  EXPECT_TRUE(qk::RunModalLoop([] { return !SeenOf(WM_USER + 2).empty(); }));
  sender.join();
  EXPECT_NE(ok.load(), 0);
  EXPECT_EQ(answer, 42u);
  auto handled = SeenOf(WM_USER + 1);
  ASSERT_EQ(handled.size(), 1u);
  EXPECT_EQ(handled[0].thread, GetCurrentThreadId());
  DestroyWindow(w);
}

TEST_F(MessagesTest, MessageBoxIsAnsweredByTheHookOrItsDefaultButton) {
  EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", MB_OK), IDOK);
  std::u16string seenText, seenCaption;
  UINT seenType = 0;
  qk::SetMessageBoxHook([&](HWND, const std::u16string& text, const std::u16string& caption, UINT type) {
    seenText = text;
    seenCaption = caption;
    seenType = type;
    return IDYES;
  });
  EXPECT_EQ(MessageBoxW(nullptr, u"Connect?", u"Confirm Connect", MB_YESNO | MB_ICONQUESTION), IDYES);
  EXPECT_EQ(seenText, u"Connect?");
  EXPECT_EQ(seenCaption, u"Confirm Connect");
  EXPECT_EQ(seenType, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
}

// With a person at the screen, a box shown by a worker thread waits for
// them; the program's end closes it as cancelled, and a box asked for after
// the end asks nobody. (In a child process: the end is for good.)
TEST_F(MessagesTest, TheProgramsEndClosesShownBoxesOnEveryThread) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        alarm(30);  // a box that never closes fails the test, not the run
        qk::SetMessageBoxesShown(true);
        std::atomic<int> answer{0};
        std::thread worker([&] { answer = MessageBoxW(nullptr, u"Try again?", u"Worker Box", MB_RETRYCANCEL); });
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        auto showing = [] {
          HWND box = FindWindowW(nullptr, u"Worker Box");
          return box && IsWindowVisible(box);
        };
        while (!showing() && std::chrono::steady_clock::now() < giveUp)
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (!showing()) std::exit(2);
        qk::RequestProgramEnd();
        worker.join();
        if (answer != IDCANCEL) std::exit(3);
        std::exit(MessageBoxW(nullptr, u"Still there?", u"Late", MB_YESNO) == IDNO ? 0 : 4);
      },
      testing::ExitedWithCode(0), "");
}

// The end asked for while the UI thread's GetMessage handles a sent message
// (after its first look for the end, before it sleeps) ends that wait: the
// UI thread does not sleep through it. (In a child process: the end is for
// good.)
TEST_F(MessagesTest, AnEndAskedForDuringASentMessageEndsTheMessageWait) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        alarm(20);  // a wait that sleeps through the end fails the test
        qk::CatchEndSignals();
        HWND w = Make();
        std::thread sender([w] { SendMessageW(w, WM_USER + 7, 0, 0); });
        MSG msg;
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        sender.join();
        std::exit(got == FALSE && msg.message == WM_QUIT ? 0 : 3);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(MessagesTest, RegisteredMessagesAreStablePerName) {
  UINT a = RegisterWindowMessageW(u"Quillet.Download.Start");
  UINT b = RegisterWindowMessageW(u"quillet.download.start");
  UINT c = RegisterWindowMessageW(u"Quillet.Download.Finished");
  EXPECT_GE(a, 0xC000u);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
}

}  // namespace
