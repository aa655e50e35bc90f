// Driving a real second program over the message bus: a small window
// program (remote_target_main.cpp) started on the test's device root with
// a frozen clock, tapped, keyed and typed into through qtest::RemoteProgram,
// its modal dialog included, its timer fired by advancing its clock, and
// its screen written to a picture on request, its message boxes answered.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "gdi/image_codec.h"
#include "kernel/kernel.h"
#include "kernel/process.h"
#include "support/device_fixture.h"
#include "support/pictures.h"
#include "support/remote_program.h"
#include "user/user.h"

namespace {

class RemoteProgramTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    qk::SetProgramHost(u"Target.exe", REMOTE_TARGET_PATH);
    setenv("QUILLET_HEADLESS", "1", 1);
  }
  void TearDown() override {
    if (process_) qtest::EndProcess(process_);
    unsetenv("QUILLET_HEADLESS");
    DeviceTest::TearDown();
  }

  // Starts the target, its clock frozen when frozenMs is given.
  void Start(const char* frozenMs) {
    if (frozenMs) setenv("QUILLET_FROZEN_CLOCK", frozenMs, 1);
    std::u16string line;
    PROCESS_INFORMATION pi{};
    bool started = CreateProcessW(u"\\Program Files\\Quillet\\Target.exe", line.data(), nullptr, nullptr, FALSE, 0,
                                  nullptr, nullptr, nullptr, &pi);
    unsetenv("QUILLET_FROZEN_CLOCK");
    ASSERT_TRUE(started);
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    program_ = qtest::RemoteProgram(process_);
    ASSERT_TRUE(program_.Attach(u"RemoteTargetWnd"));
  }

  // The target's log (its main window's title), read over the bus.
  std::string Log() {
    WCHAR text[2048] = {};
    GetWindowTextW(program_.Window(), text, 2048);
    return qk::ToUtf8(text);
  }

  HANDLE process_ = nullptr;
  qtest::RemoteProgram program_;
};

// Taps, keys, soft keys and text reach the window under the point and the
// focus window of the other program, in its main loop and in its modal
// dialog's loop; each call returns once the program has handled it.
TEST_F(RemoteProgramTest, InputReachesTheMainWindowAndTheModalDialog) {
  ASSERT_NO_FATAL_FAILURE(Start("1796724000000"));
  ASSERT_TRUE(program_.Tap(240, 400));
  ASSERT_TRUE(program_.Key(VK_DOWN));
  ASSERT_TRUE(program_.Type(u"z"));
  ASSERT_TRUE(program_.SoftKey(1));
  // The right soft key's menu runs its loop inside the key press: the call
  // returns with the menu up, and a tap on its entry reaches it.
  ASSERT_TRUE(program_.SoftKey(2));
  ASSERT_TRUE(program_.Tap(470, 720));
  // Below the task bar's 52 pixels: client co-ordinates of the main window.
  EXPECT_EQ(Log(), "down 240,348;up 240,348;key 40;char z;command 201;command 203;");

  // A tap in the top band opens the modal dialog; the call returns with
  // the dialog up and active, its edit box holding the focus.
  HWND main = program_.Window();
  EXPECT_EQ(program_.ActiveWindow(), main);
  ASSERT_TRUE(program_.Tap(240, 80));
  std::string log = Log();
  size_t at = log.find("dialog ");
  ASSERT_NE(at, std::string::npos) << log;
  int cancelX = 0, cancelY = 0;
  ASSERT_EQ(std::sscanf(log.c_str() + at, "dialog %d,%d", &cancelX, &cancelY), 2);
  HWND dialog = program_.ActiveWindow();
  EXPECT_NE(dialog, nullptr);
  EXPECT_NE(dialog, main);
  EXPECT_NE(program_.FocusWindow(), dialog);  // the edit box, inside the dialog
  // The disabled owner takes no stylus: the failure says so.
  auto refused = program_.Tap(240, 700);
  EXPECT_FALSE(refused);
  EXPECT_NE(std::string(refused.message()).find("no window there"), std::string::npos) << refused.message();

  // Text into the edit box, then Return presses the default button.
  ASSERT_TRUE(program_.Type(u"Hi there"));
  WCHAR typed[32] = {};  // the edit box's text, read over the bus
  EXPECT_EQ(GetWindowTextW(program_.FocusWindow(), typed, 32), 8);
  EXPECT_EQ(std::u16string(typed), u"Hi there");
  ASSERT_TRUE(program_.Key(VK_RETURN));
  EXPECT_NE(Log().find("end 1 Hi there;"), std::string::npos) << Log();
  EXPECT_EQ(program_.ActiveWindow(), main);

  // Again, and a tap on Cancel ends it.
  ASSERT_TRUE(program_.Tap(240, 80));
  ASSERT_TRUE(program_.Type(u"x"));
  ASSERT_TRUE(program_.Tap(cancelX, cancelY));
  EXPECT_NE(Log().find("end 2 x;"), std::string::npos) << Log();
}

// The frozen clock moves only when advanced, in any loop of the program,
// and fires the timers that came due; the picture request writes the
// screen, where a closed dialog no longer shows.
TEST_F(RemoteProgramTest, FrozenClockFiresTimersAndPicturesShowTheScreen) {
  ASSERT_NO_FATAL_FAILURE(Start("1796724000000"));
  ASSERT_TRUE(program_.Advance(4999));
  EXPECT_EQ(Log(), "");
  ASSERT_TRUE(program_.Advance(1));
  EXPECT_EQ(Log(), "timer;");

  ASSERT_TRUE(program_.Tap(240, 80));  // the modal dialog
  ASSERT_TRUE(program_.Advance(5000));
  EXPECT_NE(Log().find("dialog-timer;"), std::string::npos) << Log();

  std::string withDialog = qtest::PicturesDir() + "/remote-dialog.png";
  std::string closed = qtest::PicturesDir() + "/remote-closed.png";
  std::filesystem::remove(withDialog);
  std::filesystem::remove(closed);
  ASSERT_TRUE(program_.Shot(withDialog));
  ASSERT_TRUE(program_.Key(VK_ESCAPE));
  ASSERT_TRUE(program_.Shot(closed));
  auto read = [](const std::string& path) {
    std::string bytes = qtest::ReadHostFile(path);
    qk::gdi::DecodedImage image;
    EXPECT_TRUE(qk::gdi::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &image)) << path;
    return image;
  };
  auto isRed = [](const qk::gdi::DecodedImage& image, int x, int y) {
    if (x >= image.width || y >= image.height) return false;
    const uint8_t* p = &image.bgra[(static_cast<size_t>(y) * image.width + x) * 4];
    return p[2] == 200 && p[1] == 30 && p[0] == 30;
  };
  auto first = read(withDialog);
  auto second = read(closed);
  ASSERT_EQ(first.width, 480);
  ASSERT_EQ(second.height, 800);
  EXPECT_TRUE(isRed(first, 10, 300));    // the main window beside the dialog
  EXPECT_FALSE(isRed(first, 150, 200));  // the dialog over it
  EXPECT_TRUE(isRed(second, 150, 200));  // painted again once the dialog closed

  // Message boxes answer as queued, then with their default button, and
  // are listed in the log file.
  std::string boxes = root_ + "/boxes.txt";
  ASSERT_TRUE(program_.LogMessageBoxes(boxes));
  ASSERT_TRUE(program_.AnswerMessageBoxes({IDNO}));
  ASSERT_TRUE(program_.Key('M'));
  ASSERT_TRUE(program_.Key('M'));
  EXPECT_NE(Log().find("key 77;box 7;char m;key 77;box 6;char m;"), std::string::npos) << Log();
  EXPECT_EQ(qtest::ReadHostFile(boxes), "Target\tDelete it? For good.\t7\nTarget\tDelete it? For good.\t6\n");

  // A program whose clock runs refuses the advance; a program gone fails
  // at once, saying so.
  PostMessageW(program_.Window(), WM_CLOSE, 0, 0);
  EXPECT_EQ(qtest::WaitForExitCode(process_), 0u);
  auto gone = program_.Settle();
  EXPECT_FALSE(gone);
  EXPECT_NE(std::string(gone.message()).find("gone"), std::string::npos) << gone.message();
  CloseHandle(process_);
  process_ = nullptr;
  ASSERT_NO_FATAL_FAILURE(Start(nullptr));
  auto refused = program_.Advance(10);
  EXPECT_FALSE(refused);
  EXPECT_NE(std::string(refused.message()).find("not frozen"), std::string::npos) << refused.message();
}

}  // namespace
