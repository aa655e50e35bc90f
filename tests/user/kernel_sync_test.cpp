// Events, mutexes, semaphores, threads and waits within one process, and
// processes, exit codes and named objects between two real processes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "kernel/kernel.h"
#include "kernel/process.h"
#include "shell/shellexec.h"
#include "support/device_fixture.h"

namespace {

class SyncTest : public qtest::DeviceTest {};

TEST_F(SyncTest, AutoResetEventReleasesOneWaiterPerSignal) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  std::atomic<int> woken{0};
  std::thread a([&] { if (WaitForSingleObject(event, 10000) == WAIT_OBJECT_0) ++woken; });
  std::thread b([&] { if (WaitForSingleObject(event, 10000) == WAIT_OBJECT_0) ++woken; });
  SetEvent(event);
  while (woken.load() == 0) std::this_thread::yield();
  // The one signal was taken by one waiter: none is left for this thread.
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_EQ(woken.load(), 1);
  SetEvent(event);  // releases the other waiter
  a.join();
  b.join();
  EXPECT_EQ(woken.load(), 2);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST_F(SyncTest, ManualResetEventStaysSetUntilReset) {
  HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  ResetEvent(event);
  EXPECT_EQ(WaitForSingleObject(event, 10), WAIT_TIMEOUT);
  EXPECT_TRUE(EventModify(event, EVENT_SET));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  CloseHandle(event);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(SyncTest, WaitForMultipleObjectsAnyAndAll) {
  HANDLE events[3];
  for (auto& e : events) e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetEvent(events[2]);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(3, events, TRUE, 0), WAIT_TIMEOUT);
  std::thread setter([&] {
    SetEvent(events[0]);
    SetEvent(events[1]);
  });
  EXPECT_EQ(WaitForMultipleObjects(3, events, TRUE, 5000), WAIT_OBJECT_0);
  setter.join();
  // The lowest signalled index wins.
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0);
  for (auto e : events) CloseHandle(e);
}

TEST_F(SyncTest, MutexIsOwnedRecursivelyByOneThread) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // recursion
  DWORD otherResult = 0;
  BOOL otherRelease = TRUE;
  std::thread other([&] {
    otherRelease = ReleaseMutex(mutex);
    otherResult = WaitForSingleObject(mutex, 20);
  });
  other.join();
  EXPECT_FALSE(otherRelease);
  EXPECT_EQ(otherResult, WAIT_TIMEOUT);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_FALSE(ReleaseMutex(mutex));
  std::thread taker([&] {
    otherResult = WaitForSingleObject(mutex, 1000);
    ReleaseMutex(mutex);
  });
  taker.join();
  EXPECT_EQ(otherResult, WAIT_OBJECT_0);
  CloseHandle(mutex);
}

TEST_F(SyncTest, SemaphoreCountsAndRefusesOverflow) {
  HANDLE sem = CreateSemaphoreW(nullptr, 1, 2, nullptr);
  EXPECT_EQ(WaitForSingleObject(sem, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(sem, 0), WAIT_TIMEOUT);
  LONG previous = -1;
  EXPECT_TRUE(ReleaseSemaphore(sem, 2, &previous));
  EXPECT_EQ(previous, 0);
  EXPECT_FALSE(ReleaseSemaphore(sem, 1, nullptr));
  CloseHandle(sem);
}

DWORD ReturnParam(LPVOID param) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(param)); }
DWORD ExitEarly(LPVOID) {
  ExitThread(0x1234);
  return 0;
}

TEST_F(SyncTest, ThreadsReportExitCodesAndStartSuspended) {
  DWORD id = 0;
  HANDLE t = CreateThread(nullptr, 0, ReturnParam, reinterpret_cast<LPVOID>(0x800C0008u), CREATE_SUSPENDED, &id);
  ASSERT_NE(t, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(WaitForSingleObject(t, 20), WAIT_TIMEOUT);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(ResumeThread(t), 1u);
  EXPECT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, 0x800C0008u);
  CloseHandle(t);

  HANDLE early = CreateThread(nullptr, 0, ExitEarly, nullptr, 0, nullptr);
  EXPECT_EQ(WaitForSingleObject(early, 5000), WAIT_OBJECT_0);
  GetExitCodeThread(early, &code);
  EXPECT_EQ(code, 0x1234u);
  CloseHandle(early);
}

TEST_F(SyncTest, NamedEventsAreSharedByName) {
  HANDLE a = CreateEventW(nullptr, TRUE, FALSE, u"Thread1");
  EXPECT_EQ(GetLastError(), 0u);
  HANDLE b = CreateEventW(nullptr, TRUE, FALSE, u"Thread1");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  HANDLE c = OpenEventW(0, FALSE, u"Thread1");
  ASSERT_NE(c, nullptr);
  SetEvent(b);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(c, 0), WAIT_OBJECT_0);
  EXPECT_EQ(OpenEventW(0, FALSE, u"NoSuchEvent"), nullptr);
  CloseHandle(a);
  CloseHandle(b);
  CloseHandle(c);
}

TEST(CommandLineTest, SplitsByThePlatformQuotingRules) {
  using V = std::vector<std::u16string>;
  EXPECT_EQ(qk::SplitCommandLine(u"-p None \"http://a/b c\" \"\""), (V{u"-p", u"None", u"http://a/b c", u""}));
  EXPECT_EQ(qk::SplitCommandLine(u"  a\tb  "), (V{u"a", u"b"}));
  EXPECT_EQ(qk::SplitCommandLine(u"\"\\Program Files\\Quillet\\x.tpl\""), (V{u"\\Program Files\\Quillet\\x.tpl"}));
  EXPECT_EQ(qk::SplitCommandLine(u"a\\\\\"b c\""), (V{u"a\\b c"}));
  EXPECT_EQ(qk::SplitCommandLine(u"a\\\"b"), (V{u"a\"b"}));
  EXPECT_EQ(qk::SplitCommandLine(u"\"say \"\"hi\"\"\""), (V{u"say \"hi\""}));
  EXPECT_EQ(qk::SplitCommandLine(u"ab\"c d\"e"), (V{u"abc de"}));
  EXPECT_TRUE(qk::SplitCommandLine(u"   ").empty());
}

class ProcessTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    qtest::DeviceTest::SetUp();
    qk::SetProgramHost(u"Peer.exe", PEER_PATH);
  }
  bool Start(const std::u16string& args, PROCESS_INFORMATION* pi) {
    std::u16string line = args;
    return CreateProcessW(u"\\Program Files\\Quillet\\Peer.exe", line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, nullptr, pi) != FALSE;
  }
  DWORD RunToEnd(const std::u16string& args) {
    PROCESS_INFORMATION pi{};
    if (!Start(args, &pi)) return 0xDEAD;
    DWORD code = qtest::WaitForExitCode(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
  }
};

TEST_F(ProcessTest, ExitCodesKeepAll32Bits) {
  EXPECT_EQ(RunToEnd(u"exit 800C0008"), 0x800C0008u);
  EXPECT_EQ(RunToEnd(u"exit FFFFFFFF"), 0xFFFFFFFFu);
  EXPECT_EQ(RunToEnd(u"exit 1"), 1u);
}

TEST_F(ProcessTest, UnknownProgramFailsToStart) {
  std::u16string line = u"x";
  PROCESS_INFORMATION pi{};
  EXPECT_FALSE(CreateProcessW(u"\\Program Files\\Quillet\\NoSuch.exe", line.data(), nullptr, nullptr, FALSE, 0,
                              nullptr, nullptr, nullptr, &pi));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(ProcessTest, RunningProcessIsStillActiveUntilTerminated) {
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(Start(u"wait", &pi));
  DWORD code = 0;
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 50), WAIT_TIMEOUT);
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  HANDLE opened = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pi.dwProcessId);
  ASSERT_NE(opened, nullptr);
  EXPECT_TRUE(TerminateProcess(opened, 0x42));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 0x42u);
  CloseHandle(opened);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

TEST_F(ProcessTest, ShellExecuteStartsProgramsAndRecordsEverythingElse) {
  qk::shell::ClearExecutedCommands();
  SHELLEXECUTEINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = u"\\Program Files\\Quillet\\Peer.exe";
  info.lpParameters = u"exit 2A";
  ASSERT_TRUE(ShellExecuteEx(&info));
  ASSERT_NE(info.hProcess, nullptr);
  EXPECT_EQ(qtest::WaitForExitCode(info.hProcess), 0x2Au);
  CloseHandle(info.hProcess);

  SHELLEXECUTEINFO report{};
  report.cbSize = sizeof report;
  report.lpFile = u":MSREMNET";
  report.lpParameters = u"-CMERROR 0x21 -report";
  report.nShow = 1;
  EXPECT_TRUE(ShellExecuteEx(&report));
  EXPECT_EQ(report.hProcess, nullptr);
  auto done = qk::shell::ExecutedCommands();
  ASSERT_EQ(done.size(), 2u);
  EXPECT_TRUE(done[0].started);
  EXPECT_FALSE(done[1].started);
  EXPECT_EQ(done[1].file, u":MSREMNET");
  EXPECT_EQ(done[1].parameters, u"-CMERROR 0x21 -report");
  EXPECT_EQ(done[1].show, 1);
}

// A web address goes to the desktop's URL opener as its one argument (no
// shell reads it), and a missing opener is a failure, not a silent success.
TEST_F(ProcessTest, ShellExecuteHandsWebAddressesToTheUrlOpener) {
  std::string dir = qk::HostPath(u"\\");
  std::string script = dir + "/opener.sh", out = dir + "/opened.txt";
  qtest::WriteHostFile(script, "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > \"" + out + ".tmp\" && mv \"" + out +
                                   ".tmp\" \"" + out + "\"\n");
  chmod(script.c_str(), 0755);
  setenv("QUILLET_URL_OPENER", script.c_str(), 1);
  SHELLEXECUTEINFO info{};
  info.cbSize = sizeof info;
  info.lpVerb = u"Open";
  info.lpFile = u"http://127.0.0.1/a b;$(touch x)&c=1";
  EXPECT_TRUE(ShellExecuteEx(&info));
  for (int i = 0; i < 500 && !std::filesystem::exists(out); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(qtest::ReadHostFile(out), "1|http://127.0.0.1/a b;$(touch x)&c=1");

  setenv("QUILLET_URL_OPENER", (dir + "/no-such-opener").c_str(), 1);
  info.lpFile = u"HTTPS://example.com/";
  EXPECT_FALSE(ShellExecuteEx(&info));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_ASSOCIATION));
  unsetenv("QUILLET_URL_OPENER");
  auto done = qk::shell::ExecutedCommands();
  ASSERT_FALSE(done.empty());
  EXPECT_FALSE(done.back().started);
}

TEST_F(ProcessTest, NamedMutexHeldByAnotherProcess) {
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, u"peer-release");
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, u"peer-ready");
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(Start(u"mutex \"Quillet Mobile\"", &pi));
  // The peer signals the named event from its own process.
  ASSERT_EQ(WaitForSingleObject(ready, 10000), WAIT_OBJECT_0);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, u"Quillet Mobile");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(WaitForSingleObject(mutex, 30), WAIT_TIMEOUT);
  SetEvent(release);
  EXPECT_EQ(WaitForSingleObject(mutex, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(qtest::WaitForExitCode(pi.hProcess), 7u);
  EXPECT_TRUE(ReleaseMutex(mutex));
  for (HANDLE h : {release, ready, mutex, pi.hThread, pi.hProcess}) CloseHandle(h);
  // With every holder gone the name is free again.
  HANDLE fresh = CreateMutexW(nullptr, TRUE, u"Quillet Mobile");
  EXPECT_EQ(GetLastError(), 0u);
  CloseHandle(fresh);
}

}  // namespace
