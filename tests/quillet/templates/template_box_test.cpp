// The download box in its full mode: the sample channel list, the list of
// online templates and the templates it names, fetched from the address in
// "SupportWebsite" into the program's folder. The box runs modally over a
// plain window; the steps a user takes run inside its loop. Files come from
// nginx on loopback, and answers that stall from the scripted server.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/settings.h"
#include "common/url_download.h"
#include "display/display.h"
#include "gdi/surface.h"
#include "net/connmgr.h"
#include "quillet/res/resources.h"
#include "quillet/new_channel/download_dlg.h"
#include "quillet/ui/density.h"
#include "quillet/ui/touch_image.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "support/http_server.h"
#include "support/pictures.h"
#include "support/settings_registry.h"
#include "support/screen_checks.h"
#include "user/input.h"

namespace {

namespace fs = std::filesystem;
constexpr UINT kStepTimer = 78;
const char16_t* kTemplates = u"\\Program Files\\Quillet\\Templates";

// Steps run inside the box's loop; a step that is not ready comes again at
// the timer's next turn (bounded by time).
std::deque<std::function<bool()>> g_steps;
std::chrono::steady_clock::time_point g_stepStart;

LRESULT HostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_TIMER && wParam == kStepTimer) {
    static bool running = false;
    if (g_steps.empty() || running) return 0;
    running = true;
    const bool done = g_steps.front()();
    running = false;
    if (done) g_steps.pop_front(), g_stepStart = std::chrono::steady_clock::now();
    else if (std::chrono::steady_clock::now() - g_stepStart > std::chrono::seconds(30))
      ADD_FAILURE() << "a scripted step never became ready", g_steps.clear();
    if (g_steps.empty()) KillTimer(hwnd, kStepTimer);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

using qtest::Text;

void TapWindow(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  qk::InjectPointer(WM_LBUTTONDOWN, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
  qk::InjectPointer(WM_LBUTTONUP, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

// The box when it shows (its status line is the sign).
HWND Box() {
  HWND box = GetActiveWindow();
  return box && GetDlgItem(box, 1051) ? box : nullptr;
}

class TemplateBoxTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ResetCachedPaths();
    RegisterQuilletResources();
    qk::connmgr::UseHostNetwork();
    InitImagingFactory();
    ClearUrlDownloadAbort();
    g_steps.clear();
    docroot_ = qnet::MakeTempFolder("template-box");
  }
  void TearDown() override {
    if (host_) hostWnd_.Detach(), DestroyWindow(host_);
    qk::PumpMessages();
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    SetTouchFlag(TRUE);
    ResetScreenDpi();
    ClearUrlDownloadAbort();
    ReleaseImagingFactory();
    qnet::RemoveTree(docroot_);
    DeviceTest::TearDown();
  }
  void Serve(const std::string& name, const std::string& bytes) { qtest::WriteHostFile(docroot_ + "/" + name, bytes); }
  void Open(BOOL touch) {
    qk::gdi::SetScreenConfig(touch ? qk::gdi::DefaultScreenConfig() : qk::gdi::KeyDeviceScreenConfig());
    ResetScreenDpi();
    qk::display::ConnectScreen();
    SetTouchFlag(touch);
    InitScreenDpi(0);
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    host_ = qtest::CreateHostWindow(u"TemplateBoxHost", HostProc, w, h);
    ShowWindow(host_, SW_SHOW);
    hostWnd_.Attach(host_);
    qk::PumpMessages();
  }
  // Runs the box with the steps inside its loop; its result. Steps that
  // only guard against a failure may be left when the box ends by itself.
  INT_PTR RunBox(CDownloadDlg& box, std::vector<std::function<bool()>> steps, size_t guards = 0) {
    for (auto& s : steps) g_steps.push_back(std::move(s));
    g_stepStart = std::chrono::steady_clock::now();
    SetTimer(host_, kStepTimer, 2, nullptr);
    INT_PTR result = box.DoModal();
    EXPECT_LE(g_steps.size(), guards) << "the box closed before its steps ran";
    g_steps.clear();
    return result;
  }
  // The names in the program's "\Templates".
  std::vector<std::string> Templates() {
    std::vector<std::string> names;
    if (!fs::exists(Host(kTemplates))) return names;
    for (const auto& e : fs::directory_iterator(Host(kTemplates))) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // Waits for the end of every box's worker.
  bool WorkersEnd() {
    return qk::PumpMessagesUntil([] { return CDownloadDlg::GetRunningWorkers() == 0; }, 30000);
  }

  std::string docroot_;
  HWND host_ = nullptr;
  CWnd hostWnd_;
};

}  // namespace

// The whole list is fetched: blank lines skipped, "\r\n" line ends taken
// off, names that would leave "\Templates" skipped, a big template whole
// although an earlier cancel left the stop raised.
TEST_F(TemplateBoxTest, FetchesEveryPlainNameWholeAndSkipsNamesThatLeaveTheFolder) {
  qtest::NginxServer nginx;
  QNET_REQUIRE_PEER(nginx.Start(docroot_), "nginx");
  const std::string big(300 * 1024, 'b');
  Serve("SampleChannels.xml", "<opml version=\"1.0\"><body/></opml>\n");
  Serve("OnlineTemplates.txt",
        "news.xml\r\n\r\n../evil.xml\n..\\evil2.xml\nsub/evil3.xml\nc:evil4.xml\n\nbig.xml\r\nlast.xml");
  Serve("news.xml", "<template name=\"News\"/>\n");
  Serve("big.xml", big);
  Serve("last.xml", "<template name=\"Last\"/>\n");
  Serve("evil.xml", "outside");
  fs::create_directories(docroot_ + "/sub");
  Serve("sub/evil3.xml", "outside");
  ASSERT_TRUE(qtest::SetSettingString(u"SupportWebsite", qk::FromUtf8(nginx.Url("")).c_str()));
  WriteDeviceFile(u"\\Program Files\\Quillet\\OnlineTemplates.txt", "stale.xml\n");
  Open(TRUE);
  AbortUrlDownload();  // a stop an earlier box left raised

  CDownloadDlg box(&hostWnd_);
  std::string shownStatus;
  std::string error;
  bool sawBox = false;
  // The downloads from loopback can end, and the box close, before the
  // first step's timer comes: the steps are then left unrun.
  EXPECT_EQ(RunBox(box,
                   {[&] {
                      if (!Box()) return false;
                      sawBox = true;
                      shownStatus = Text(GetDlgItem(Box(), 1051));
                      return true;
                    },
                    // A box that stays with its error is closed.
                    [&] {
                      HWND b = Box();
                      if (!b || Text(GetDlgItem(b, IDCANCEL)) != "OK") return false;
                      error = Text(GetDlgItem(b, 1051));
                      return TapWindow(GetDlgItem(b, IDCANCEL)), true;
                    }},
                   2),
            IDOK);
  EXPECT_EQ(error, "");
  EXPECT_FALSE(box.m_bCancelled);
  EXPECT_FALSE(box.m_bFailed);
  if (sawBox) {
    EXPECT_FALSE(shownStatus.empty());
  }
  EXPECT_EQ(Templates(), (std::vector<std::string>{"big.xml", "last.xml", "news.xml"}));
  EXPECT_EQ(ReadDeviceFile(u"\\Program Files\\Quillet\\Templates\\big.xml"), big);
  EXPECT_EQ(ReadDeviceFile(u"\\Program Files\\Quillet\\SampleChannels.opml"), "<opml version=\"1.0\"><body/></opml>\n");
  // The list is gone once read; nothing lies beside the program folder.
  EXPECT_FALSE(DeviceFileExists(u"\\Program Files\\Quillet\\OnlineTemplates.txt"));
  for (const char16_t* outside : {u"\\Program Files\\evil.xml", u"\\Program Files\\Quillet\\evil.xml",
                                  u"\\Program Files\\Quillet\\Templates\\sub\\evil3.xml", u"\\evil2.xml"})
    EXPECT_FALSE(DeviceFileExists(outside)) << qk::ToUtf8(outside);
  // The unsafe names were never asked for; the others in the list's order.
  std::string log = nginx.WaitForLogLine("/last.xml");
  EXPECT_NE(log, "");
  const std::string all = nginx.AccessLog();
  EXPECT_EQ(all.find("evil"), std::string::npos) << all;
  EXPECT_LT(all.find("/SampleChannels.xml"), all.find("/OnlineTemplates.txt"));
  EXPECT_LT(all.find("/OnlineTemplates.txt"), all.find("/news.xml"));
  EXPECT_LT(all.find("/news.xml"), all.find("/big.xml"));
  EXPECT_LT(all.find("/big.xml"), all.find("/last.xml"));
  EXPECT_TRUE(WorkersEnd());
}

// When the first address has no sample channel list, the second address
// ("SecondSupportWebsite") is asked for it, and the template list and every
// template come from there too; when the second has none either, the box
// fails with the second answer's error and fetches nothing more.
TEST_F(TemplateBoxTest, TheSampleChannelListFallsBackToTheSecondAddressWhichServesTheRest) {
  qtest::NginxServer nginx;
  QNET_REQUIRE_PEER(nginx.Start(docroot_), "nginx");
  fs::create_directories(docroot_ + "/first");
  fs::create_directories(docroot_ + "/second");
  Serve("first/OnlineTemplates.txt", "wrong.xml\n");
  Serve("first/wrong.xml", "<template name=\"Wrong\"/>\n");
  Serve("second/SampleChannels.xml", "<opml version=\"1.0\"><body/></opml>\n");
  Serve("second/OnlineTemplates.txt", "news.xml\nlast.xml\n");
  Serve("second/news.xml", "<template name=\"News\"/>\n");
  Serve("second/last.xml", "<template name=\"Last\"/>\n");
  ASSERT_TRUE(qtest::SetSettingString(u"SupportWebsite", qk::FromUtf8(nginx.Url("/first")).c_str()));
  ASSERT_TRUE(qtest::SetSettingString(u"SecondSupportWebsite", qk::FromUtf8(nginx.Url("/second")).c_str()));
  Open(TRUE);
  {
    CDownloadDlg box(&hostWnd_);
    std::string error;
    EXPECT_EQ(RunBox(box,
                     {[&] {
                       HWND b = Box();
                       if (!b || Text(GetDlgItem(b, IDCANCEL)) != "OK") return false;
                       error = Text(GetDlgItem(b, 1051));
                       return TapWindow(GetDlgItem(b, IDCANCEL)), true;
                     }},
                     1),
              IDOK);
    EXPECT_EQ(error, "");
    EXPECT_FALSE(box.m_bFailed);
    EXPECT_FALSE(box.m_bCancelled);
  }
  EXPECT_EQ(Templates(), (std::vector<std::string>{"last.xml", "news.xml"}));
  EXPECT_EQ(ReadDeviceFile(u"\\Program Files\\Quillet\\SampleChannels.opml"), "<opml version=\"1.0\"><body/></opml>\n");
  ASSERT_NE(nginx.WaitForLogLine("/second/last.xml"), "");
  std::string all = nginx.AccessLog();
  EXPECT_LT(all.find("/first/SampleChannels.xml"), all.find("/second/SampleChannels.xml")) << all;
  EXPECT_LT(all.find("/second/SampleChannels.xml"), all.find("/second/OnlineTemplates.txt")) << all;
  EXPECT_LT(all.find("/second/news.xml"), all.find("/second/last.xml")) << all;
  EXPECT_EQ(all.find("/first/OnlineTemplates.txt"), std::string::npos) << all;
  EXPECT_TRUE(WorkersEnd());

  // The second address without the list either: the box fails.
  ASSERT_TRUE(qtest::SetSettingString(u"SecondSupportWebsite", qk::FromUtf8(nginx.Url("/first")).c_str()));
  DeleteFileW(u"\\Program Files\\Quillet\\SampleChannels.opml");
  CDownloadDlg box(&hostWnd_);
  std::string status;
  EXPECT_EQ(RunBox(box, {[&] {
              HWND b = Box();
              if (!b || Text(GetDlgItem(b, IDCANCEL)) != "OK") return false;
              status = Text(GetDlgItem(b, 1051));
              return TapWindow(GetDlgItem(b, IDCANCEL)), true;
            }}),
            IDCANCEL);
  EXPECT_EQ(status, "Error: HTTP/1.1 404 Not Found");
  EXPECT_TRUE(box.m_bFailed);
  EXPECT_FALSE(DeviceFileExists(u"\\Program Files\\Quillet\\SampleChannels.opml"));
  EXPECT_EQ(Templates(), (std::vector<std::string>{"last.xml", "news.xml"}));
  all = nginx.AccessLog();
  EXPECT_EQ(all.find("/first/OnlineTemplates.txt"), std::string::npos) << all;
  EXPECT_TRUE(WorkersEnd());
}

// A template the server does not have fails the box: what came before it
// stays, an older file of its name keeps what it held, nothing after it is
// asked for; the box shows the error until its button (now "OK") closes it.
TEST_F(TemplateBoxTest, AnErrorAnswerFailsTheBoxAndIsNeverStoredAsATemplate) {
  qtest::NginxServer nginx;
  QNET_REQUIRE_PEER(nginx.Start(docroot_), "nginx");
  Serve("SampleChannels.xml", "<opml/>\n");
  Serve("OnlineTemplates.txt", "news.xml\nmissing.xml\nafter.xml\n");
  Serve("news.xml", "<template name=\"News\"/>\n");
  Serve("after.xml", "<template name=\"After\"/>\n");
  WriteDeviceFile(u"\\Program Files\\Quillet\\Templates\\missing.xml", "<template name=\"Kept\"/>\n");
  ASSERT_TRUE(qtest::SetSettingString(u"SupportWebsite", qk::FromUtf8(nginx.Url("")).c_str()));
  for (BOOL touch : {TRUE, FALSE}) {
    if (host_) hostWnd_.Detach(), DestroyWindow(host_), host_ = nullptr;
    Open(touch);
    CDownloadDlg box(&hostWnd_);
    RECT frame{};
    std::string status;
    EXPECT_EQ(RunBox(box, {[&] {
                HWND b = Box();
                if (!b || Text(GetDlgItem(b, IDCANCEL)) != "OK") return false;
                status = Text(GetDlgItem(b, 1051));
                GetWindowRect(b, &frame);
                qk::PumpMessages();
                qk::display::WriteScreenPng(qtest::PicturesDir() + (touch ? "/template-box-error-480x800.png"
                                                                          : "/template-box-error-240x320.png"));
                TapWindow(GetDlgItem(b, IDCANCEL));
                return true;
              }}),
              IDCANCEL);
    EXPECT_EQ(status, "Error: HTTP/1.1 404 Not Found");
    // The box lies inside the screen at either density, centred.
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_GT(frame.left, 0);
    EXPECT_LT(frame.right, w);
    EXPECT_LE(std::abs(frame.left + frame.right - w), 1) << touch;
    EXPECT_GT(frame.top, h / 4);
    EXPECT_TRUE(box.m_bFailed);
    EXPECT_TRUE(box.m_bCancelled);
    EXPECT_EQ(Templates(), (std::vector<std::string>{"missing.xml", "news.xml"}));
    EXPECT_EQ(ReadDeviceFile(u"\\Program Files\\Quillet\\Templates\\missing.xml"), "<template name=\"Kept\"/>\n");
    EXPECT_EQ(nginx.AccessLog().find("/after.xml"), std::string::npos);
    EXPECT_TRUE(WorkersEnd());
  }
}

// While a template's answer stalls, Cancel closes the box at once and the
// window going away (as at the program's end) stops the worker too: the
// templates fetched before stay, the stalled one is not stored, nothing
// after it is asked for, and the worker ends without the box.
TEST_F(TemplateBoxTest, CancelAndTheWindowGoingStopAStalledDownload) {
  qnet::ScriptedServer server;
  QNET_REQUIRE_PEER(server.Start(R"({"rules": [
    {"path": "/SampleChannels.xml", "times": 0,
     "response": "HTTP/1.1 200 OK\r\nContent-Length: 8\r\nConnection: close\r\n\r\n<opml/>\n"},
    {"path": "/OnlineTemplates.txt", "times": 0,
     "response": "HTTP/1.1 200 OK\r\nContent-Length: 21\r\nConnection: close\r\n\r\na.xml\nslow.xml\nc.xml\n"},
    {"path": "/a.xml", "times": 0,
     "response": "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\nfine"},
    {"path": "/slow.xml", "times": 0, "hold": true,
     "response": "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nbegun"},
    {"path": "/c.xml", "times": 0,
     "response": "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\nnext"}
  ]})"),
                    "python3");
  ASSERT_TRUE(qtest::SetSettingString(u"SupportWebsite", qk::FromUtf8(server.Url("")).c_str()));
  auto stalled = [&] {
    int n = 0;
    for (const std::string& r : server.Requests()) n += r.rfind("GET /slow.xml ", 0) == 0;
    return n;
  };
  Open(TRUE);
  for (int round = 0; round < 2; ++round) {
    auto box = std::make_unique<CDownloadDlg>(&hostWnd_);
    std::string status;
    const INT_PTR result = RunBox(*box, {[&] {
      HWND b = Box();
      if (!b || stalled() <= round) return false;
      // The status names the template on its way.
      qk::PumpMessages();
      status = Text(GetDlgItem(b, 1051));
      if (status.find("slow.xml") == std::string::npos && status.find("bytes") == std::string::npos) return false;
      if (round == 0) TapWindow(GetDlgItem(b, IDCANCEL));
      else DestroyWindow(b);
      return true;
    }});
    if (round == 0) EXPECT_EQ(result, IDCANCEL);
    else EXPECT_NE(result, IDOK);
    EXPECT_TRUE(box->m_bCancelled) << round;
    EXPECT_FALSE(box->m_bFailed) << round;
    EXPECT_TRUE(IsUrlDownloadAborted()) << round;
    // The box goes while its worker may still come back from the transfer.
    box.reset();
    EXPECT_TRUE(WorkersEnd()) << round;
    EXPECT_EQ(Templates(), (std::vector<std::string>{"a.xml"})) << round;
    EXPECT_EQ(ReadDeviceFile(u"\\Program Files\\Quillet\\Templates\\a.xml"), "fine");
    for (const std::string& r : server.Requests()) EXPECT_NE(r.rfind("GET /c.xml ", 0), 0u) << round;
  }
  qk::PumpMessages();
}
