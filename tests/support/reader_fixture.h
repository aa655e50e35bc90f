// The fixture of tests that run the reader as a program: a device, nginx on
// a document root of its own (site_ is its address), the reader and Ambrel
// started from the build, headless, and a window that counts the refresh
// runs the reader broadcasts. The test's target defines QUILLET_EXE and
// AMBREL_EXE.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "gdi/image_codec.h"
#include "kernel/kernel.h"
#include "kernel/process.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "support/http_server.h"
#include "support/net_servers.h"
#include "support/pictures.h"
#include "support/remote_program.h"
#include "user/user.h"

namespace qtest {

class ReaderProgramTest : public DeviceTest {
 protected:
  // docrootName names the document root's temporary folder.
  explicit ReaderProgramTest(std::string docrootName) : docrootName_(std::move(docrootName)) {}

  void SetUp() override {
    DeviceTest::SetUp();
    qk::SetProgramHost(u"Quillet.exe", QUILLET_EXE);
    qk::SetProgramHost(u"Ambrel.exe", AMBREL_EXE);
    setenv("QUILLET_HEADLESS", "1", 1);
    docroot_ = qnet::MakeTempFolder(docrootName_);
    ASSERT_TRUE(nginx_.Start(docroot_));
    site_ = nginx_.Url("");
    // The messages are registered per device root: each case has its own.
    startMessage_ = RegisterWindowMessageW(u"Quillet.Download.Start");
    finishMessage_ = RegisterWindowMessageW(u"Quillet.Download.Finished");
    started_ = finished_ = 0;
    recorder_ = CreateHostWindow(u"ReaderProgramTestRecorder", RecorderProc, 1, 1);
  }
  void TearDown() override {
    if (process_) EndProcess(process_);
    if (recorder_) DestroyWindow(recorder_);
    unsetenv("QUILLET_SCREEN_PROFILE");
    nginx_.Stop();
    qnet::RemoveTree(docroot_);
    DeviceTest::TearDown();
  }

  // Serves bytes under the name (folders are made as needed).
  void Serve(const std::string& name, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(docroot_ + "/" + name).parent_path());
    WriteHostFile(docroot_ + "/" + name, bytes);
  }
  // Writes the program's screen to <pictures>/<file>.png and reads it back,
  // to look at its pixels.
  qk::gdi::DecodedImage ShotAndRead(const std::string& file) {
    std::string path = PicturesDir() + "/" + file + ".png";
    qk::gdi::DecodedImage image;
    EXPECT_TRUE(q_.Shot(path));
    std::string bytes = ReadHostFile(path);
    EXPECT_TRUE(qk::gdi::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &image)) << path;
    return image;
  }
  // Starts "Quillet.exe /update" and waits for its end; its exit code.
  DWORD RunUpdateTask(DWORD timeoutMs) {
    std::u16string command = u"/update";
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(u"\\Program Files\\Quillet\\Quillet.exe", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, nullptr, &pi)) {
      ADD_FAILURE() << "the reader did not start";
      return DWORD(-1);
    }
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    DWORD code = WaitForExitCode(process_, timeoutMs);
    CloseHandle(process_);
    process_ = nullptr;
    return code;
  }
  // Refresh runs that started, and of those the ones that ended.
  static int RunsStarted() { return started_; }
  static int RunsFinished() { return finished_; }
  // Moves the program's clock on until that many runs have ended.
  bool WaitForRunEnd(int runs) {
    return q_.WaitFor(
        [&] {
          qk::PumpMessages();
          (void)q_.Advance(600);
          return finished_ >= runs;
        },
        60000);
  }

  std::string docroot_;
  std::string site_;
  NginxServer nginx_;
  HANDLE process_ = nullptr;
  RemoteProgram q_;

 private:
  static LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == startMessage_) ++started_;
    if (message == finishMessage_ && started_ > finished_) ++finished_;
    return DefWindowProcW(window, message, wParam, lParam);
  }
  inline static int started_ = 0, finished_ = 0;
  inline static UINT startMessage_ = 0, finishMessage_ = 0;
  std::string docrootName_;
  HWND recorder_ = nullptr;
};

}  // namespace qtest
