// The end of the program while the refresh's full-text job transfers: the
// stop is made again while the end waits, so that a transfer that starts
// after the first stop (its job looked at the stop just before it came, and
// an operation starting beside it cleared the abort flag) is stopped too,
// and the end does not wait for it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "common/settings.h"
#include "common/url_download.h"
#include "kernel/kernel.h"
#include "kernel/process.h"
#include "quillet/refresh/download_manager.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/res/resources.h"
#include "quillet/frame/main_frame.h"
#include "quillet/frame/reader_app.h"
#include "support/device_fixture.h"
#include "support/http_server.h"
#include "support/net_servers.h"
#include "user/user.h"

namespace {

const char16_t kPage[] = u"\\Program Files\\Quillet\\ChannelData\\Ch100-01.htm";

// Set when the first stop's broadcast has been heard; set by the job when
// it looks at the stop before its first picture.
HANDLE g_stopHeard = nullptr;
HANDLE g_jobHeld = nullptr;
bool g_held = false;

// The job's look at the stop. Its look before the page's first picture
// comes just before the stop, and the job goes on with the picture once the
// stop has been made (the abort flag cleared by an operation starting at
// that moment); later looks see the stop.
BOOL JobStop() {
  static int looksWithPage = 0;
  if (g_held) return IsDownloadStopped();
  if (!FileAccess(kPage)) {
    looksWithPage = 0;
    return FALSE;
  }
  // The job looks once when the page is in, once as it goes through the
  // page's pictures and once before each picture.
  if (++looksWithPage < 3) return FALSE;
  g_held = true;
  SetEvent(g_jobHeld);
  WaitForSingleObject(g_stopHeard, 30000);
  ClearUrlDownloadAbort();
  return FALSE;
}

LRESULT ListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_URL_DOWNLOAD_END) {
    SetEvent(g_stopHeard);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

class ExitTransferTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ResetCachedPaths();
    SetDownloadStop(FALSE);
    ClearUrlDownloadAbort();
    RegisterQuilletResources();
    SetTouchFlag(TRUE);
    qk::SetProgramHost(u"Ambrel.exe", AMBREL_EXE);
    docroot_ = qnet::MakeTempFolder("quillet-exit-transfer");
    ASSERT_TRUE(nginx_.Start(docroot_));
    g_stopHeard = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_jobHeld = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_held = false;
  }
  void TearDown() override {
    frame_.reset();
    app_.reset();
    if (listener_.joinable()) {
      PostThreadMessageW(listenerThread_, WM_QUIT, 0, 0);
      listener_.join();
    }
    CloseHandle(g_stopHeard);
    CloseHandle(g_jobHeld);
    SetDownloadStop(FALSE);
    ClearUrlDownloadAbort();
    nginx_.Stop();
    if (!docroot_.empty()) qnet::RemoveTree(docroot_);
    DeviceTest::TearDown();
  }
  // A top-level window of its own thread that hears the stop's broadcast,
  // as a fetch program's window does.
  void StartListener() {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    listener_ = std::thread([this, ready] {
      WNDCLASSW wc{};
      wc.lpfnWndProc = ListenerProc;
      wc.lpszClassName = u"ExitTransferListener";
      RegisterClassW(&wc);
      HWND window = CreateWindowExW(0, u"ExitTransferListener", u"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                    nullptr);
      listenerThread_ = GetCurrentThreadId();
      MSG m;
      PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
      SetEvent(ready);
      while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
      DestroyWindow(window);
    });
    WaitForSingleObject(ready, 10000);
    CloseHandle(ready);
  }

  std::string docroot_;
  qtest::NginxServer nginx_;
  std::unique_ptr<CReaderApp> app_;
  std::unique_ptr<CMainFrame> frame_;
  std::thread listener_;
  DWORD listenerThread_ = 0;
};

TEST_F(ExitTransferTest, TheEndStopsAPictureTransferThatStartsAfterTheFirstStopAndDoesNotWaitForIt) {
  // The article's picture comes at 16 KB/s: two minutes for the whole of it.
  std::filesystem::create_directories(docroot_ + "/slow");
  qtest::WriteHostFile(docroot_ + "/slow/picture.png", std::string(2 << 20, 'x'));
  qtest::WriteHostFile(docroot_ + "/story.html", "<html><body><p>Story.</p><img src=\"" +
                                                     nginx_.Url("/slow/picture.png") + "\"></body></html>\n");
  std::filesystem::create_directories(Host(u"\\Program Files\\Quillet\\ChannelData"));
  app_ = std::make_unique<CReaderApp>();
  frame_ = std::make_unique<CMainFrame>();
  ASSERT_TRUE(frame_->Create(480, 800));
  StartListener();
  CDownloadManager& manager = app_->DownloadManager();
  const std::u16string url = qk::FromUtf8(nginx_.Url("/story.html"));
  manager.AddJob(url.c_str(), kPage, u"", DOWNLOAD_JOB_FULLTEXT, 100, JobStop, nullptr);
  manager.Start();
  ASSERT_EQ(WaitForSingleObject(g_jobHeld, 30000), WAIT_OBJECT_0) << "the job did not fetch its page";
  // The end of the program stops the refresh and waits for its threads.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(frame_->ChannelListWnd().StopRefreshAndWait(15000)) << "the transfer after the first stop ran on";
  const auto spent = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
  EXPECT_LT(spent.count(), 10) << "the end waited for the transfer";
  EXPECT_FALSE(manager.IsWorkerRunning());
  // The transfer did start after the first stop: the server saw its
  // request (and logs it once the transfer has left). No half picture and
  // no page of a stopped job stays.
  EXPECT_NE(nginx_.WaitForLogLine("/slow/picture.png", 10000), "") << nginx_.AccessLog();
  EXPECT_FALSE(FileAccess(kPage));
}

}  // namespace
