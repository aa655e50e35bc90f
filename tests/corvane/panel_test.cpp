// The panel plug-in Corvane as the home screen runs it: the real Panel
// Manager ("PanelManager.exe") loads the real library, reads the panel's
// entry from the registry and shows the program it names.
//
// The hosted program is either this test binary started in its helper mode
// ("Hosted.exe": one window of class "PanelHostedWindow" that writes every
// message of the plug-in it receives to a log file and closes on WM_CLOSE)
// or the real reader. Each case waits for what it needs (a window, a line
// of the log, a process's end), never for a fixed time.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "gdi/image_codec.h"
#include "kernel/kernel.h"
#include "kernel/module.h"
#include "kernel/process.h"
#include "kernel/registry.h"
#include "kernel/wstring.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "support/pictures.h"
#include "support/remote_program.h"
#include "user/user.h"

namespace {

constexpr char16_t kHostedClass[] = u"PanelHostedWindow";
constexpr char16_t kHostedProcess[] = u"\\Program Files\\Quillet\\Hosted.exe";
constexpr char16_t kReader[] = u"\\Program Files\\Quillet\\Quillet.exe";
constexpr char16_t kPanelsKey[] = u"Software\\HandsetMaker\\PanelManager\\Panels";

// ------------------------------------------------------------ helper mode

std::string g_helperLog;

void HelperWrite(const std::string& line) {
  std::ofstream(g_helperLog, std::ios::app) << line << "\n";
}

LRESULT CALLBACK HelperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COPYDATA: {
      auto* data = reinterpret_cast<COPYDATASTRUCT*>(lParam);
      std::u16string text;
      if (data && data->cbData >= 2)
        text.assign(static_cast<const char16_t*>(data->lpData), data->cbData / 2);
      HelperWrite("copydata " + std::to_string(data ? data->dwData : 99) + " " +
                  std::to_string(data ? data->cbData : 0) + " " + qk::ToUtf8(text.c_str()));
      return TRUE;
    }
    case WM_SETTEXT:
      HelperWrite("settext [" + qk::ToUtf8(reinterpret_cast<LPCWSTR>(lParam)) + "]");
      break;
    case 6025:
    case 6027:
      HelperWrite("code " + std::to_string(message) + " " + std::to_string(wParam) + " " + std::to_string(lParam));
      return 0;
    case WM_CLOSE:
      HelperWrite("close");
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// In helper mode the binary is the hosted program: it runs before any test
// (as the test environment's set-up, once every static of the program is
// built) and ends the process. Only a start by the plug-in has the log named
// in its environment from the beginning: the test process sets it in each
// case's set-up.
class HelperMode : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* log = std::getenv("PANEL_TEST_HELPER_LOG");
    if (!log) return;
    g_helperLog = log;
    qk::SetProgramName(u"Hosted.exe");
    HWND window = qtest::CreateHostWindow(kHostedClass, HelperProc, 100, 100, u"Hosted");
    HelperWrite(window ? "started" : "no window");
    MSG msg;
    while (window && GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    HelperWrite("ended");
    std::_Exit(0);
  }
};
[[maybe_unused]] ::testing::Environment* const g_helperMode = ::testing::AddGlobalTestEnvironment(new HelperMode);

// ------------------------------------------------------------ the tests

// Messages an impostor window (same class, another program) receives.
std::string* g_impostorSeen = nullptr;
LRESULT CALLBACK ImpostorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_impostorSeen && (message == WM_COPYDATA || message == WM_SETTEXT || message == WM_CLOSE ||
                         message == 6025 || message == 6027))
    *g_impostorSeen += std::to_string(message) + ";";
  if (message == WM_CLOSE) return 0;  // stays, so that a wrong close shows
  return DefWindowProcW(window, message, wParam, lParam);
}

class PanelTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    setenv("QUILLET_HEADLESS", "1", 1);
    // The test process is a program of its own on the bus.
    qk::SetProgramName(u"PanelTest.exe");
    qk::SetProgramHost(u"PanelManager.exe", PANEL_MANAGER_EXE);
    qk::SetProgramHost(u"Quillet.exe", QUILLET_EXE);
    char self[4096] = {0};
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = 0;
    // The Panel Manager finds "Hosted.exe" (this binary) in the program
    // folder named by the environment.
    bin_ = root_ + "-bin";
    std::filesystem::create_directories(bin_);
    std::filesystem::remove(bin_ + "/Hosted");
    std::filesystem::create_symlink(self, bin_ + "/Hosted");
    setenv("QUILLET_PROGRAM_DIR", bin_.c_str(), 1);
    log_ = Host(u"\\") + "/hosted.log";
    setenv("PANEL_TEST_HELPER_LOG", log_.c_str(), 1);
    // A channel list, so that the reader shows its channels at once.
    WriteDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>t</title></head>"
                    "<body nextID=\"200\"><outline text=\"News\" type=\"rss\" uniqueID=\"900\"><outline text=\"One\" "
                    "type=\"rss\" uniqueID=\"100\" xmlUrl=\"http://127.0.0.1:9/feed.xml\"/></outline></body></opml>\n");
    g_impostorSeen = &impostorSeen_;
  }
  void TearDown() override {
    for (HANDLE process : processes_) qtest::EndProcess(process);
    if (impostor_ && IsWindow(impostor_)) DestroyWindow(impostor_);
    g_impostorSeen = nullptr;
    unsetenv("PANEL_TEST_HELPER_LOG");
    unsetenv("QUILLET_PROGRAM_DIR");
    unsetenv("QUILLET_SCREEN_PROFILE");
    std::error_code ec;
    std::filesystem::remove_all(bin_, ec);
    DeviceTest::TearDown();
  }

  // One panel's entry under the Panels key.
  static void AddPanel(const char16_t* subkey, const std::u16string& name, const std::u16string& path,
                       const std::u16string& cls, const std::u16string* process) {
    HKEY key = nullptr;
    std::u16string full = std::u16string(kPanelsKey) + u"\\" + subkey;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, full.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    auto set = [&](const char16_t* value, const std::u16string& text) {
      RegSetValueExW(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
    };
    set(u"Name", name);
    set(u"Path", path);
    set(u"Class", cls);
    if (process) set(u"Process", *process);
    RegCloseKey(key);
  }
  static std::u16string ReadPanelValue(const char16_t* subkey, const char16_t* value, bool* exists) {
    HKEY key = nullptr;
    std::u16string full = std::u16string(kPanelsKey) + u"\\" + subkey;
    *exists = false;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, full.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return u"";
    WCHAR text[260] = {0};
    DWORD size = sizeof text - 2, type = 0;
    *exists = RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<LPBYTE>(text), &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return text;
  }

  HANDLE Start(const char16_t* program, const std::u16string& line = u"") {
    std::u16string command = line;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi)) {
      ADD_FAILURE() << "could not start a program";
      return nullptr;
    }
    CloseHandle(pi.hThread);
    processes_.push_back(pi.hProcess);
    return pi.hProcess;
  }
  HANDLE StartManager(const std::u16string& panel = u"") {
    return Start(u"\\Program Files\\Quillet\\PanelManager.exe", panel);
  }
  static HWND Manager() { return FindWindowW(u"QuilletPanelManager", nullptr); }
  std::string Log() const { return qtest::ReadHostFile(log_); }
  bool LogHas(const std::string& line) const { return ("\n" + Log()).find("\n" + line + "\n") != std::string::npos; }
  bool WaitForLog(const std::string& line) {
    return qk::PumpMessagesUntil([&] { return LogHas(line); }, 60000);
  }
  // Ends the manager as the home screen does (the panel goes away) and
  // waits for its exit code.
  DWORD CloseManager(HANDLE manager) {
    PostMessageW(Manager(), WM_CLOSE, 0, 0);
    DWORD code = STILL_ACTIVE;
    EXPECT_TRUE(qk::PumpMessagesUntil(
        [&] { return GetExitCodeProcess(manager, &code) && code != STILL_ACTIVE; }, 60000));
    return code;
  }

  std::string bin_;
  std::string log_;
  std::vector<HANDLE> processes_;
  HWND impostor_ = nullptr;
  std::string impostorSeen_;
};

// The panel named on the command line is found in the registry by its exact
// name (the first of equal names wins); the program is started, the window
// found afterwards is the hosted one and is embedded at the next show (the
// marker "Corvane" and an empty title); the codes 6025 and 6027 reach it
// with their parameters; at the end it is asked to close and ends. A window
// of the same class that another program owns is never touched.
TEST_F(PanelTest, StartsTheNamedProgramEmbedsItForwardsTheCodesAndClosesOnlyItAtTheEnd) {
  const std::u16string hosted = kHostedProcess;
  const std::u16string reader = kReader;
  AddPanel(u"0", u"reader", kReader, u"WCE_QuilletMainWnd", &reader);  // only the case differs
  AddPanel(u"1", u"Reader", u"\\Program Files\\Quillet\\Hosted.exe", kHostedClass, &hosted);
  AddPanel(u"2", u"Reader", kReader, u"WCE_QuilletMainWnd", &reader);  // a later entry of the same name
  impostor_ = qtest::CreateHostWindow(kHostedClass, ImpostorProc, 10, 10, u"Impostor");
  ASSERT_TRUE(impostor_);

  HANDLE manager = StartManager(u"Reader");
  ASSERT_TRUE(WaitForLog("started"));
  // Embedded by the show the manager sends once the panel is made.
  ASSERT_TRUE(WaitForLog("copydata 0 16 Corvane"));
  EXPECT_TRUE(LogHas("settext []"));
  ASSERT_TRUE(qk::PumpMessagesUntil([] { return Manager() != nullptr; }, 60000));
  HWND hostedWindow = FindWindowW(kHostedClass, u"");
  EXPECT_NE(hostedWindow, nullptr) << "the hosted window keeps an empty title";

  // The home screen's codes reach the hosted program unchanged.
  SendMessageW(Manager(), 6025, 7, 11);
  SendMessageW(Manager(), 6027, 3, 1234567);
  ASSERT_TRUE(WaitForLog("code 6027 3 1234567"));
  EXPECT_TRUE(LogHas("code 6025 7 11"));
  // A show (the panel comes back) embeds it again.
  SendMessageW(Manager(), 6026, 0, 0);
  ASSERT_TRUE(qk::PumpMessagesUntil(
      [&] {
        std::string log = Log();
        size_t first = log.find("copydata");
        return first != std::string::npos && log.find("copydata", first + 1) != std::string::npos;
      },
      60000));

  EXPECT_EQ(CloseManager(manager), 0u);
  EXPECT_TRUE(LogHas("close"));
  EXPECT_TRUE(LogHas("ended"));
  qk::PumpMessages();
  EXPECT_EQ(impostorSeen_, "") << "the window of another program was touched";
  EXPECT_TRUE(IsWindow(impostor_));
  EXPECT_EQ(Log().find("Quillet"), std::string::npos);
}

// A panel whose name is not in the registry, or whose entry lacks
// "Process", shows nothing: the start of an empty path fails, and the
// missing value is written back empty. A running program of the class is
// then not taken (its program file does not match the empty one). The
// program the panel started is never hosted then, yet it is the panel's:
// a later show starts no second one, and it is closed with the panel.
TEST_F(PanelTest, AnEntryWithoutProcessGetsAnEmptyOneAndAnUnknownNameShowsNothing) {
  AddPanel(u"0", u"Other", u"\\Program Files\\Quillet\\Hosted.exe", kHostedClass, nullptr);
  impostor_ = qtest::CreateHostWindow(kHostedClass, ImpostorProc, 10, 10, u"Impostor");
  bool exists = true;
  ReadPanelValue(u"0", u"Process", &exists);
  ASSERT_FALSE(exists);

  HANDLE manager = StartManager(u"Nobody");
  ASSERT_TRUE(qk::PumpMessagesUntil([] { return Manager() != nullptr; }, 60000));
  // The lookup went through every entry and found none: nothing was
  // started and the entry is as it was.
  EXPECT_EQ(CloseManager(manager), 0u);
  EXPECT_EQ(Log(), "");
  ReadPanelValue(u"0", u"Process", &exists);
  EXPECT_FALSE(exists);

  manager = StartManager(u"Other");
  ASSERT_TRUE(WaitForLog("started"));
  // Started, but never matched by its program file: never embedded.
  ASSERT_TRUE(qk::PumpMessagesUntil([] { return Manager() != nullptr; }, 60000));
  SendMessageW(Manager(), 6025, 1, 2);
  // The panel comes back: the program it started still runs, so no second
  // one is started.
  SendMessageW(Manager(), 6026, 0, 0);
  EXPECT_EQ(ReadPanelValue(u"0", u"Process", &exists), u"");
  EXPECT_TRUE(exists) << "the missing value is written back empty";
  HWND started = FindWindowW(kHostedClass, u"Hosted");
  ASSERT_NE(started, nullptr);
  DWORD startedPid = 0;
  GetWindowThreadProcessId(started, &startedPid);
  HANDLE startedProcess = OpenProcess(SYNCHRONIZE, FALSE, startedPid);
  ASSERT_NE(startedProcess, nullptr);
  processes_.push_back(startedProcess);
  EXPECT_EQ(CloseManager(manager), 0u);
  // The program the panel started ends with it, asked to close.
  EXPECT_EQ(qtest::WaitForExitCode(startedProcess, 60000), 0u) << "the started program outlived its panel";
  EXPECT_TRUE(LogHas("close"));
  EXPECT_TRUE(LogHas("ended"));
  const std::string log = Log();
  EXPECT_EQ(log.find("started"), log.rfind("started")) << "a second program was started:\n" << log;
  EXPECT_EQ(log.find("copydata"), std::string::npos);
  EXPECT_EQ(log.find("code"), std::string::npos);
  EXPECT_EQ(impostorSeen_, "");
  EXPECT_TRUE(IsWindow(impostor_));
}

// The real reader in the panel, on both faces: on the touch screen the
// plug-in starts it, on the key device it finds it running. Its window
// gets an empty title and its screen shows its channels; when the panel
// goes away the reader ends.
class ReaderPanelTest : public PanelTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ReaderPanelTest, TheReaderIsShownInThePanelAndEndsWithIt) {
  const std::string profile = GetParam();
  const bool keyDevice = profile == "keydevice";
  if (keyDevice) setenv("QUILLET_SCREEN_PROFILE", "keydevice", 1);
  const std::string size = keyDevice ? "240x320" : "480x800";
  const std::u16string reader = kReader;
  AddPanel(u"0", u"Quillet", kReader, u"WCE_QuilletMainWnd", &reader);

  HANDLE running = nullptr;
  if (keyDevice) {
    running = Start(kReader);
    qtest::RemoteProgram first(running);
    ASSERT_TRUE(first.Attach(u"WCE_QuilletMainWnd", 60000));
  }
  HANDLE manager = StartManager();  // the first panel of the list
  ASSERT_TRUE(qk::PumpMessagesUntil([] { return Manager() != nullptr; }, 60000));
  qtest::RemoteProgram panel(manager);
  ASSERT_TRUE(panel.Attach(u"QuilletPanelManager", 60000));
  ASSERT_TRUE(panel.Settle());
  HWND main = FindWindowW(u"WCE_QuilletMainWnd", nullptr);
  ASSERT_TRUE(main);
  DWORD pid = 0;
  GetWindowThreadProcessId(main, &pid);
  HANDLE readerProcess = running ? running : OpenProcess(SYNCHRONIZE, FALSE, pid);
  ASSERT_TRUE(readerProcess);
  qtest::RemoteProgram q(readerProcess);
  q.Attach(main);
  ASSERT_TRUE(q.WaitFor([&] {
    WCHAR title[64] = {1, 0};
    GetWindowTextW(main, title, 64);
    return title[0] == 0;
  }, 60000)) << "the reader's title is not emptied";
  // The code the panel passes on reaches the reader and leaves it working.
  SendMessageW(Manager(), 6025, 0, 0);
  // The reader in the panel shows its channel list with the one channel.
  const std::string picture = qtest::PicturesDir() + "/panel-reader-" + size + ".png";
  const int rowTop = keyDevice ? 56 : 136, rowBottom = keyDevice ? 90 : 216;
  int rowInk = 0;
  ASSERT_TRUE(q.WaitFor([&] {
    if (!q.Shot(picture)) return false;
    std::string bytes = qtest::ReadHostFile(picture);
    qk::gdi::DecodedImage image;
    if (!qk::gdi::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &image)) return false;
    EXPECT_EQ(image.width, keyDevice ? 240 : 480);
    rowInk = 0;
    for (int y = rowTop; y < std::min(rowBottom, image.height); ++y)
      for (int x = 0; x < image.width; ++x) {
        const uint8_t* px = &image.bgra[(static_cast<size_t>(y) * image.width + x) * 4];
        if (px[0] > 200 && px[1] > 200 && px[2] > 200) ++rowInk;
      }
    return rowInk > 50;
  }, 60000)) << "the channel's row does not show (" << rowInk << ")";
  ASSERT_TRUE(panel.Shot(qtest::PicturesDir() + "/panel-manager-" + size + ".png"));

  EXPECT_EQ(CloseManager(manager), 0u);
  DWORD code = STILL_ACTIVE;
  EXPECT_TRUE(qk::PumpMessagesUntil(
      [&] { return GetExitCodeProcess(readerProcess, &code) && code != STILL_ACTIVE; }, 60000))
      << "the reader outlived its panel";
  EXPECT_FALSE(IsWindow(main));
  if (!running) CloseHandle(readerProcess);
}

INSTANTIATE_TEST_SUITE_P(Faces, ReaderPanelTest, ::testing::Values("touch", "keydevice"));

}  // namespace
