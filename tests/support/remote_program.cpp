// Drives a real program over the message bus (see remote_program.h).
#include "support/remote_program.h"

#include <chrono>

#include "kernel/kernel.h"
#include "kernel/process.h"
#include "kernel/wstring.h"
#include "user/remote.h"

namespace qtest {

namespace {
using qk::remote::Op;

const char* OpName(int op) {
  switch (static_cast<Op>(op)) {
    case Op::Pointer: return "stylus";
    case Op::Key: return "key";
    case Op::Text: return "text";
    case Op::Advance: return "clock advance";
    case Op::Settle: return "settle";
    case Op::Picture: return "picture";
    case Op::Active: return "active window";
    case Op::Focus: return "focus window";
    case Op::Drawings: return "drawings";
    case Op::Answer: return "message box answer";
    case Op::BoxLog: return "message box log";
  }
  return "request";
}
}  // namespace

testing::AssertionResult RemoteProgram::Failure(const char* what) {
  DWORD error = GetLastError();
  if (process_ && WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return testing::AssertionFailure() << what << ": the program is gone (exit code " << code << ")";
  }
  if (!window_) return testing::AssertionFailure() << what << ": no window attached";
  if (error == ERROR_TIMEOUT)
    return testing::AssertionFailure() << what << ": the program did not answer within " << timeoutMs_ << " ms";
  if (!IsWindow(window_))
    return testing::AssertionFailure() << what << ": the program's window is gone (the program ended or closed it)";
  return testing::AssertionFailure() << what << ": the request failed (error " << error << ")";
}

testing::AssertionResult RemoteProgram::Attach(const char16_t* className, DWORD timeoutMs) {
  window_ = nullptr;
  bool ended = false;
  qk::PumpMessagesUntil(
      [&] {
        window_ = FindWindowW(className, nullptr);
        ended = process_ && WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
        return window_ != nullptr || ended;
      },
      timeoutMs);
  if (window_) return testing::AssertionSuccess();
  std::string name = qk::ToUtf8(className);
  if (ended) return Failure(("attach to " + name).c_str());
  return testing::AssertionFailure() << "no window of class " << name << " appeared within " << timeoutMs << " ms";
}

testing::AssertionResult RemoteProgram::Request(int op, int a, int b, int x, int y, const std::u16string& text,
                                                bool settle, LRESULT* answer) {
  if (!window_) {
    SetLastError(0);
    return Failure(OpName(op));
  }
  qk::remote::Request r;
  r.a = a;
  r.b = b;
  r.x = x;
  r.y = y;
  LRESULT result = 0;
  if (!qk::remote::Send(window_, static_cast<Op>(op), r, text, timeoutMs_, &result)) return Failure(OpName(op));
  if (answer) *answer = result;
  if (static_cast<Op>(op) == Op::Active || static_cast<Op>(op) == Op::Focus || static_cast<Op>(op) == Op::Drawings)
    return testing::AssertionSuccess();
  if (result == qk::remote::kNothingThere) {
    if (static_cast<Op>(op) == Op::Pointer)
      return testing::AssertionFailure() << "stylus at " << x << "," << y
                                         << ": no window there takes input (nothing, or a disabled window)";
    return testing::AssertionFailure() << OpName(op) << ": no window has the focus";
  }
  if (result != qk::remote::kDone) {
    if (static_cast<Op>(op) == Op::Advance) return testing::AssertionFailure() << "clock advance: the program's clock is not frozen";
    if (static_cast<Op>(op) == Op::Picture) return testing::AssertionFailure() << "picture: the program could not write " << qk::ToUtf8(text);
    return testing::AssertionFailure() << OpName(op) << ": refused by the program";
  }
  return settle ? Settle() : testing::AssertionSuccess();
}

testing::AssertionResult RemoteProgram::Press(int x, int y) {
  return Request(static_cast<int>(Op::Pointer), WM_LBUTTONDOWN, 0, x, y, u"", true);
}
testing::AssertionResult RemoteProgram::Move(int x, int y) {
  return Request(static_cast<int>(Op::Pointer), WM_MOUSEMOVE, 0, x, y, u"", true);
}
testing::AssertionResult RemoteProgram::Release(int x, int y) {
  return Request(static_cast<int>(Op::Pointer), WM_LBUTTONUP, 0, x, y, u"", true);
}
testing::AssertionResult RemoteProgram::Tap(int x, int y) {
  auto down = Press(x, y);
  if (!down) return down;
  return Release(x, y);
}

testing::AssertionResult RemoteProgram::LeaveWelcomePage() {
  const HWND welcome = ActiveWindow();
  if (!welcome || welcome == window_) return testing::AssertionFailure() << "no welcome page";
  if (auto key = Key(VK_ESCAPE); !key) return key;
  if (auto settled = Advance(10); !settled) return settled;
  if (IsWindow(welcome)) return testing::AssertionFailure() << "the welcome page stayed";
  return testing::AssertionSuccess();
}

testing::AssertionResult RemoteProgram::Key(BYTE vk) { return Request(static_cast<int>(Op::Key), vk, 0, 0, 0, u"", true); }
testing::AssertionResult RemoteProgram::KeyDown(BYTE vk) { return Request(static_cast<int>(Op::Key), vk, 1, 0, 0, u"", true); }
testing::AssertionResult RemoteProgram::KeyUp(BYTE vk) { return Request(static_cast<int>(Op::Key), vk, 2, 0, 0, u"", true); }
testing::AssertionResult RemoteProgram::SoftKey(int key) {
  if (key != 1 && key != 2) return testing::AssertionFailure() << "soft key " << key << ": there are keys 1 and 2";
  return Key(static_cast<BYTE>(key == 1 ? VK_F1 : VK_F2));
}
testing::AssertionResult RemoteProgram::Type(const std::u16string& text) {
  return Request(static_cast<int>(Op::Text), 0, 0, 0, 0, text, true);
}

testing::AssertionResult RemoteProgram::Advance(int ms) {
  return Request(static_cast<int>(Op::Advance), ms, 0, 0, 0, u"", false);
}
testing::AssertionResult RemoteProgram::Settle() {
  return Request(static_cast<int>(Op::Settle), 0, 0, 0, 0, u"", false);
}
testing::AssertionResult RemoteProgram::Shot(const std::string& hostPath) {
  auto settled = Settle();
  if (!settled) return settled;
  return Request(static_cast<int>(Op::Picture), 0, 0, 0, 0, qk::FromUtf8(hostPath), false);
}

testing::AssertionResult RemoteProgram::AnswerMessageBoxes(const std::vector<int>& buttons) {
  for (int button : buttons) {
    auto queued = Request(static_cast<int>(Op::Answer), button, 0, 0, 0, u"", false);
    if (!queued) return queued;
  }
  return testing::AssertionSuccess();
}
testing::AssertionResult RemoteProgram::LogMessageBoxes(const std::string& hostPath) {
  return Request(static_cast<int>(Op::BoxLog), 0, 0, 0, 0, qk::FromUtf8(hostPath), false);
}

HWND RemoteProgram::ActiveWindow() {
  LRESULT answer = 0;
  return Request(static_cast<int>(Op::Active), 0, 0, 0, 0, u"", false, &answer) ? reinterpret_cast<HWND>(answer)
                                                                                  : nullptr;
}
testing::AssertionResult RemoteProgram::Drawings(long long* count) {
  LRESULT answer = 0;
  testing::AssertionResult result = Request(static_cast<int>(Op::Drawings), 0, 0, 0, 0, u"", false, &answer);
  if (result && count) *count = static_cast<long long>(answer);
  return result;
}
HWND RemoteProgram::FocusWindow() {
  LRESULT answer = 0;
  return Request(static_cast<int>(Op::Focus), 0, 0, 0, 0, u"", false, &answer) ? reinterpret_cast<HWND>(answer)
                                                                                 : nullptr;
}

testing::AssertionResult RemoteProgram::WaitFor(const std::function<bool()>& pred, DWORD timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto settled = Settle();
    if (!settled) return settled;
    if (pred()) return testing::AssertionSuccess();
    if (std::chrono::steady_clock::now() >= deadline)
      return testing::AssertionFailure() << "the condition did not hold within " << timeoutMs << " ms";
    // Work on the program's other threads has no message to wait on here.
    qk::PumpMessagesUntil([] { return false; }, 20);
  }
}

testing::AssertionResult StartReader(const char* profile, HANDLE* process, RemoteProgram* program, DWORD* processId) {
  if (profile && *profile) setenv("QUILLET_SCREEN_PROFILE", profile, 1);
  else if (profile) unsetenv("QUILLET_SCREEN_PROFILE");
  setenv("QUILLET_FROZEN_CLOCK", "1796731200000", 1);
  std::u16string line;
  PROCESS_INFORMATION pi{};
  const BOOL started = CreateProcessW(u"\\Program Files\\Quillet\\Quillet.exe", line.data(), nullptr, nullptr, FALSE,
                                      0, nullptr, nullptr, nullptr, &pi);
  unsetenv("QUILLET_FROZEN_CLOCK");
  if (!started) return testing::AssertionFailure() << "the reader did not start";
  CloseHandle(pi.hThread);
  *process = pi.hProcess;
  if (processId) *processId = pi.dwProcessId;
  *program = RemoteProgram(pi.hProcess);
  return program->Attach(u"WCE_QuilletMainWnd");
}

}  // namespace qtest
