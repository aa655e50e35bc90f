// The fixture of tests that drive the reader in its real SDL window on a
// virtual X server (Xvfb) with real X input through xdotool (the XTest
// extension): what a person types and clicks goes the way it goes for a
// person, through the desktop's keyboard layout and text input. The program
// runs on the test's own device root with its clock frozen; its state is
// read over the message bus. The test's target defines QUILLET_EXE.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/process.h"
#include "kernel/wstring.h"
#include "support/device_fixture.h"
#include "support/net_servers.h"
#include "support/remote_program.h"
#include "support/screen_checks.h"
#include "user/user.h"

namespace qtest {

class XWindowTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    if (!qnet::PeerInstalled("Xvfb") || !qnet::PeerInstalled("xdotool") || !qnet::PeerInstalled("xmodmap"))
      GTEST_SKIP() << "Xvfb, xdotool or xmodmap is not installed";
    qk::SetProgramHost(u"Quillet.exe", QUILLET_EXE);
    // A free display number, which the server writes once it listens. The
    // server keeps its state (the keys bound below) when its last client
    // leaves, rather than starting anew.
    ASSERT_TRUE(xvfb_.Start({"Xvfb", "-displayfd", "1", "-screen", "0", "800x900x24", "-nolisten", "tcp", "-noreset"},
                            true, Host(u"\\") + "/xvfb.log"));
    std::string number = xvfb_.ReadLine();
    ASSERT_FALSE(number.empty()) << ReadHostFile(Host(u"\\") + "/xvfb.log");
    display_ = ":" + number;
  }
  void TearDown() override {
    if (process_) {
      DWORD code = 0;
      if (GetExitCodeProcess(process_, &code) && code == STILL_ACTIVE) TerminateProcess(process_, 9);
      CloseHandle(process_);
    }
    xvfb_.Stop();
    unsetenv("QUILLET_SCREEN_PROFILE");
    DeviceTest::TearDown();
  }

  // Runs xdotool on the test's X server (at most a minute); its output's
  // first line, or "failed" when it did not succeed.
  std::string Xdo(std::vector<std::string> args) {
    std::vector<std::string> argv = {"env", "DISPLAY=" + display_, "timeout", "60", "xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    qnet::ChildProcess xdo;
    if (!xdo.Start(argv, true, Host(u"\\") + "/xdotool.log")) return "failed";
    std::string line = xdo.ReadLine();
    while (!xdo.ReadLine().empty()) {
    }
    return xdo.Wait() == 0 ? line : "failed";
  }

  // Starts the reader in its window on the test's X server (frozen on
  // 2026-12-08 12:00 UTC) and gives its window the keyboard; profile
  // names the screen ("" for the default touch screen).
  // stderrFile, when given, receives what the program writes on stderr.
  void Start(const char* profile, const std::string& stderrFile = "") {
    if (*profile) setenv("QUILLET_SCREEN_PROFILE", profile, 1);
    else unsetenv("QUILLET_SCREEN_PROFILE");
    const char* headless = std::getenv("QUILLET_HEADLESS");
    std::string savedHeadless = headless ? headless : "";
    const char* display = std::getenv("DISPLAY");
    std::string savedDisplay = display ? display : "";
    unsetenv("QUILLET_HEADLESS");
    setenv("DISPLAY", display_.c_str(), 1);
    setenv("QUILLET_FROZEN_CLOCK", "1796731200000", 1);
    // The desktop's libraries that the window brings in (D-Bus, the X
    // server's GL driver) keep memory until the process ends: a leak check
    // of the windowed program would report theirs. The program's own
    // leaks are checked where it runs headless.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string savedAsan = asan ? asan : "";
    setenv("ASAN_OPTIONS", (savedAsan.empty() ? std::string() : savedAsan + ":").append("detect_leaks=0").c_str(), 1);
    std::u16string line;
    PROCESS_INFORMATION pi{};
    // The child inherits the test's stderr: pointed at the file meanwhile.
    const int savedStderr = stderrFile.empty() ? -1 : dup(2);
    if (savedStderr >= 0) {
      const int file = open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (file >= 0) {
        dup2(file, 2);
        close(file);
      }
    }
    BOOL ok = CreateProcessW(u"\\Program Files\\Quillet\\Quillet.exe", line.data(), nullptr, nullptr, FALSE, 0,
                             nullptr, nullptr, nullptr, &pi);
    if (savedStderr >= 0) {
      dup2(savedStderr, 2);
      close(savedStderr);
    }
    unsetenv("QUILLET_FROZEN_CLOCK");
    if (savedAsan.empty()) unsetenv("ASAN_OPTIONS");
    else setenv("ASAN_OPTIONS", savedAsan.c_str(), 1);
    if (savedDisplay.empty()) unsetenv("DISPLAY");
    else setenv("DISPLAY", savedDisplay.c_str(), 1);
    if (!savedHeadless.empty()) setenv("QUILLET_HEADLESS", savedHeadless.c_str(), 1);
    ASSERT_TRUE(ok);
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    q_ = RemoteProgram(process_);
    // A program in a window under the sanitizers starts slowly on a loaded
    // machine.
    ASSERT_TRUE(q_.Attach(u"WCE_QuilletMainWnd", 60000));
    // Only a window that is mapped and viewable takes the pointer: a click
    // before then goes to the root window.
    window_ = Xdo({"search", "--sync", "--onlyvisible", "--name", "^Quillet$"});
    ASSERT_NE(window_, "failed") << "the reader's window did not show";
    ASSERT_NE(Xdo({"windowfocus", "--sync", window_}), "failed");
  }
  // A click of the mouse at a point of the device screen.
  void Click(int x, int y) {
    // (A move to where the pointer is would wait for ever for its motion.)
    if (x == pointerX_ && y == pointerY_) {
      ASSERT_NE(Xdo({"click", "1"}), "failed");
      return;
    }
    ASSERT_NE(Xdo({"mousemove", "--window", window_, "--sync", std::to_string(x), std::to_string(y), "click", "1"}),
              "failed");
    pointerX_ = x;
    pointerY_ = y;
  }
  void Type(const std::string& text) { ASSERT_NE(Xdo({"type", "--delay", "40", "--", text}), "failed"); }
  void Key(const std::string& name) { ASSERT_NE(Xdo({"key", "--delay", "40", name}), "failed"); }
  // Waits until pred holds, moving the program's frozen clock on so that
  // the timers the input started come due.
  testing::AssertionResult Until(const std::function<bool()>& pred) {
    return q_.WaitFor(
        [&] {
          (void)q_.Advance(10);
          return pred();
        },
        30000);
  }
  // Binds every letter beyond ASCII of text to a key of its own, for good:
  // xdotool then types each with that key, as a keyboard that has the
  // letter does, rather than through a key bound for the moment (which a
  // reader that looks the key up after it was unbound would miss). The keys
  // are codes the server's layout leaves empty; a change of the layout
  // (setxkbmap) drops them, so the typing binds after it.
  void BindTypedKeys(const std::string& text) {
    if (spareKeys_.empty() && boundKeys_.empty()) {
      qnet::ChildProcess keys;
      ASSERT_TRUE(keys.Start({"env", "DISPLAY=" + display_, "timeout", "60", "xmodmap", "-pke"}, true, ""));
      for (std::string l = keys.ReadLine(); !l.empty(); l = keys.ReadLine()) {
        // "keycode  93 =" with nothing after it.
        int code = 0;
        char rest[8] = {0};
        if (std::sscanf(l.c_str(), "keycode %d =%7s", &code, rest) == 1 && code > 8) spareKeys_.push_back(code);
      }
      ASSERT_EQ(keys.Wait(), 0);
    }
    for (size_t at = 0; at < text.size();) {
      unsigned char lead = static_cast<unsigned char>(text[at]);
      size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
      std::u16string unit = qk::FromUtf8(text.substr(at, length));
      at += length;
      if (lead < 0x80 || unit.empty()) continue;
      uint32_t point = unit[0];
      if (unit.size() == 2) point = 0x10000 + ((unit[0] - 0xD800) << 10) + (unit[1] - 0xDC00);
      if (boundKeys_.count(point)) continue;
      ASSERT_FALSE(spareKeys_.empty()) << "no free key left to bind";
      const int code = spareKeys_.back();
      spareKeys_.pop_back();
      char sym[16];
      std::snprintf(sym, sizeof sym, "U%04X", point);
      const std::string binding = "keycode " + std::to_string(code) + " = " + sym + " " + sym;
      qnet::ChildProcess bind;
      ASSERT_TRUE(bind.Start({"env", "DISPLAY=" + display_, "timeout", "60", "xmodmap", "-e", binding}, false, ""));
      ASSERT_EQ(bind.Wait(), 0) << binding;
      boundKeys_[point] = code;
    }
  }
  // Types text after what the field holds, each key once, and waits until
  // the field holds it all.
  void TypeWhole(HWND field, const std::string& text) {
    const std::string done = Text(field);
    BindTypedKeys(text);
    Type(text);
    ASSERT_TRUE(q_.WaitFor(
        [&] {
          (void)q_.Advance(10);
          return Text(field) == done + text;
        },
        30000))
        << Text(field);
  }

  qnet::ChildProcess xvfb_;
  std::string display_;
  std::string window_;
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  RemoteProgram q_;

 private:
  int pointerX_ = -1, pointerY_ = -1;
  std::vector<int> spareKeys_;
  std::map<uint32_t, int> boundKeys_;
};

}  // namespace qtest
