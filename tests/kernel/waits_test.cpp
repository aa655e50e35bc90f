// Waits between real processes: named events, mutexes and semaphores shared
// with a second program (kernel_waits_peer), processes that are not our
// children, waits on several objects, and how often a waiting program wakes.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/process.h"
#include "support/device_fixture.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::vector<std::string> Tasks(pid_t pid) {
  std::vector<std::string> tasks;
  std::string dir = "/proc/" + std::to_string(pid) + "/task";
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      if (e->d_name[0] != '.') tasks.push_back(dir + "/" + e->d_name);
    }
    ::closedir(d);
  }
  return tasks;
}

// True when every thread of the process sleeps.
bool AllThreadsAsleep(pid_t pid) {
  auto tasks = Tasks(pid);
  if (tasks.empty()) return false;
  for (const auto& task : tasks) {
    std::string stat = qtest::ReadHostFile(task + "/stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'S') return false;
  }
  return true;
}

// The times the threads of the process gave up the processor of their own.
long VoluntarySwitches(pid_t pid) {
  long total = 0;
  for (const auto& task : Tasks(pid)) {
    std::ifstream in(task + "/status");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total += std::stol(line.substr(24));
    }
  }
  return total;
}

class CrossProcessWaitTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    qtest::DeviceTest::SetUp();
    qk::SetProgramHost(u"WaitsPeer.exe", PEER_PATH);
  }
  void TearDown() override {
    for (HANDLE h : started_) {
      TerminateProcess(h, 0);
      CloseHandle(h);
    }
    qtest::DeviceTest::TearDown();
  }
  // Starts the peer as our child; its process handle (closed at the end).
  HANDLE Start(const std::u16string& args, DWORD* pid = nullptr) {
    std::u16string line = args;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(u"\\Program Files\\Quillet\\WaitsPeer.exe", line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, nullptr, &pi)) {
      ADD_FAILURE() << "the peer did not start";
      return nullptr;
    }
    CloseHandle(pi.hThread);
    started_.push_back(pi.hProcess);
    if (pid) *pid = pi.dwProcessId;
    return pi.hProcess;
  }
  // Waits (with a generous bound) until every thread of the process sleeps.
  void AwaitAsleep(pid_t pid) {
    auto start = Clock::now();
    while (!AllThreadsAsleep(pid)) {
      ASSERT_LT(MsSince(start), 20000) << "the peer never went to sleep";
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  std::vector<HANDLE> started_;
};

// A program whose threads wait with no time-out on named events and on a
// process that is not their child does not wake while nothing happens; a
// pulse then releases all of its waiting threads and leaves the event reset.
TEST_F(CrossProcessWaitTest, IdleWaiterStaysAsleepUntilPulsed) {
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, u"idle-ready");
  HANDLE wake = CreateEventW(nullptr, TRUE, FALSE, u"idle-wake");
  DWORD pid = 0;
  HANDLE peer = Start(u"idle idle-ready idle-wake", &pid);
  ASSERT_NE(peer, nullptr);
  ASSERT_EQ(WaitForSingleObject(ready, 20000), WAIT_OBJECT_0);
  AwaitAsleep(static_cast<pid_t>(pid));

  long before = VoluntarySwitches(static_cast<pid_t>(pid));
  // The count is taken over a fixed second: the bound is on how often the
  // threads woke in it, not a wait for something to happen.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  long woke = VoluntarySwitches(static_cast<pid_t>(pid)) - before;
  std::printf("idle peer: %ld voluntary context switches in 1 s\n", woke);
  EXPECT_LT(woke, 5);

  auto pulsed = Clock::now();
  EXPECT_TRUE(PulseEvent(wake));
  // Both threads were released by the event (index 0 for main, 1 for the
  // second thread, whose other object, this process, still runs).
  EXPECT_EQ(qtest::WaitForExitCode(peer, 20000), 0x100u * 1 + 0);
  std::printf("pulse to the peer's end: %.2f ms\n", MsSince(pulsed));
  EXPECT_EQ(WaitForSingleObject(wake, 0), WAIT_TIMEOUT);
  CloseHandle(ready);
  CloseHandle(wake);
}

// A thousand rounds of set and wait between two programs over auto-reset
// events: no round loses its wake-up, and a round trip takes far less than
// a timer tick of a polling wait would.
TEST_F(CrossProcessWaitTest, PingPongBetweenProgramsLosesNoWakeUp) {
  const int kRounds = 1000;
  HANDLE ping = CreateEventW(nullptr, FALSE, FALSE, u"ping");
  HANDLE pong = CreateEventW(nullptr, FALSE, FALSE, u"pong");
  HANDLE peer = Start(u"echo ping pong " + qk::FromUtf8(std::to_string(kRounds)));
  ASSERT_NE(peer, nullptr);
  std::vector<double> rounds;
  for (int i = 0; i < kRounds; ++i) {
    auto start = Clock::now();
    ASSERT_TRUE(SetEvent(ping));
    ASSERT_EQ(WaitForSingleObject(pong, 20000), WAIT_OBJECT_0) << "round " << i;
    if (i > 0) rounds.push_back(MsSince(start));  // the first round waits for the peer to start
  }
  EXPECT_EQ(qtest::WaitForExitCode(peer, 20000), DWORD(kRounds));
  std::sort(rounds.begin(), rounds.end());
  double median = rounds[rounds.size() / 2];
  std::printf("round trip (two wake-ups): median %.3f ms, 99th %.3f ms, worst %.3f ms\n", median,
              rounds[rounds.size() * 99 / 100], rounds.back());
  EXPECT_LT(median, 50.0);
  // Nothing was left over: each set was taken by exactly one wait.
  EXPECT_EQ(WaitForSingleObject(ping, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(pong, 0), WAIT_TIMEOUT);
  CloseHandle(ping);
  CloseHandle(pong);
}

// A program killed while it owns a named mutex: the next waiter, in another
// program or here, gets the mutex with WAIT_ABANDONED, once.
TEST_F(CrossProcessWaitTest, MutexOfAKilledOwnerGoesAbandonedToTheNextWaiter) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, u"abandoned");
  HANDLE held = CreateEventW(nullptr, TRUE, FALSE, u"held");
  HANDLE waiting = CreateEventW(nullptr, TRUE, FALSE, u"waiting");

  // The waiter is another program.
  HANDLE owner = Start(u"hold abandoned held");
  ASSERT_EQ(WaitForSingleObject(held, 20000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
  HANDLE taker = Start(u"take abandoned waiting");
  ASSERT_EQ(WaitForSingleObject(waiting, 20000), WAIT_OBJECT_0);
  ASSERT_TRUE(TerminateProcess(owner, 9));
  EXPECT_EQ(qtest::WaitForExitCode(taker, 20000), WAIT_ABANDONED);
  // The taker released it properly: no longer abandoned.
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));

  // The owner is gone before anyone waits; the wait is this thread's, with
  // no time to spare.
  ResetEvent(held);
  owner = Start(u"hold abandoned held");
  ASSERT_EQ(WaitForSingleObject(held, 20000), WAIT_OBJECT_0);
  ASSERT_TRUE(TerminateProcess(owner, 9));
  ASSERT_EQ(WaitForSingleObject(owner, 20000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));

  // A thread of this program waits while the owner dies.
  ResetEvent(held);
  owner = Start(u"hold abandoned held");
  ASSERT_EQ(WaitForSingleObject(held, 20000), WAIT_OBJECT_0);
  DWORD threadResult = 0;
  std::thread waiter([&] {
    threadResult = WaitForSingleObject(mutex, 20000);
    if (threadResult == WAIT_ABANDONED) ReleaseMutex(mutex);
  });
  ASSERT_TRUE(TerminateProcess(owner, 9));
  waiter.join();
  EXPECT_EQ(threadResult, WAIT_ABANDONED);
  for (HANDLE h : {mutex, held, waiting}) CloseHandle(h);
}

// One set of an auto-reset event releases exactly one of the programs
// waiting on it.
TEST_F(CrossProcessWaitTest, AutoResetEventReleasesOneProgramPerSet) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, u"one-at-a-time");
  HANDLE ready = CreateSemaphoreW(nullptr, 0, 16, u"consumers-ready");
  std::vector<HANDLE> consumers;
  for (int i = 0; i < 3; ++i) consumers.push_back(Start(u"consume one-at-a-time consumers-ready"));
  // Each consumer says it is there through the shared semaphore.
  for (int i = 0; i < 3; ++i) ASSERT_EQ(WaitForSingleObject(ready, 20000), WAIT_OBJECT_0) << i;
  for (int set = 0; set < 2; ++set) {
    ASSERT_TRUE(SetEvent(event));
    DWORD which = WaitForMultipleObjects(static_cast<DWORD>(consumers.size()), consumers.data(), FALSE, 20000);
    ASSERT_LT(which, consumers.size());
    DWORD code = 0;
    GetExitCodeProcess(consumers[which], &code);
    EXPECT_EQ(code, 1u);
    consumers.erase(consumers.begin() + which);
  }
  // Two sets, two released: the last consumer still waits, and no signal is
  // left for anyone.
  EXPECT_EQ(WaitForSingleObject(consumers[0], 300), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  ASSERT_TRUE(SetEvent(event));
  EXPECT_EQ(qtest::WaitForExitCode(consumers[0], 20000), 1u);
  CloseHandle(event);
  CloseHandle(ready);
}

DWORD WaitThenReturn(LPVOID param) {
  return WaitForSingleObject(static_cast<HANDLE>(param), 20000) == WAIT_OBJECT_0 ? 9 : 1;
}

// Waits on several objects mixing this process's events, threads, named
// objects set by other programs, a child and a process that is not a child;
// time-outs end them, and a wait for all takes nothing until it takes all.
TEST_F(CrossProcessWaitTest, WaitsOnSeveralObjectsMixLocalSharedAndProcesses) {
  HANDLE local = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE named = CreateEventW(nullptr, FALSE, FALSE, u"several-named");
  HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 5, u"several-sem");
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, u"several-go");
  HANDLE threadGo = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, WaitThenReturn, threadGo, 0, nullptr);
  // A process this one started, but not through the layer: it is no child
  // of ours as far as the layer knows.
  std::string root = "QUILLET_DEVICE_ROOT=" + qk::DeviceRoot();
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) {
    if (std::string(*e).rfind("QUILLET_DEVICE_ROOT=", 0) != 0) envStore.push_back(*e);
  }
  envStore.push_back(root);
  std::vector<char*> envp;
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string path = PEER_PATH;
  char wait[] = "wait", goName[] = "several-go";
  char* argv[] = {path.data(), wait, goName, nullptr};
  pid_t foreignPid = 0;
  ASSERT_EQ(posix_spawn(&foreignPid, path.c_str(), nullptr, nullptr, argv, envp.data()), 0);
  HANDLE foreign = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(foreignPid));
  ASSERT_NE(foreign, nullptr);

  HANDLE any[5] = {local, named, semaphore, foreign, thread};
  auto start = Clock::now();
  EXPECT_EQ(WaitForMultipleObjects(5, any, FALSE, 200), WAIT_TIMEOUT);
  double waited = MsSince(start);
  EXPECT_GE(waited, 199.0);
  EXPECT_LT(waited, 10000.0);

  // A named semaphore released twice by a child: two waits, then none.
  HANDLE releaser = Start(u"release several-sem 2");
  EXPECT_EQ(WaitForMultipleObjects(5, any, FALSE, 20000), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(5, any, FALSE, 20000), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(qtest::WaitForExitCode(releaser, 20000), 0u);
  EXPECT_EQ(WaitForMultipleObjects(5, any, FALSE, 0), WAIT_TIMEOUT);
  HANDLE again = CreateSemaphoreW(nullptr, 3, 5, u"several-sem");
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(WaitForSingleObject(again, 0), WAIT_TIMEOUT);  // the count stayed 0
  CloseHandle(again);

  // The process that is not our child ends with its own exit code.
  ASSERT_TRUE(SetEvent(go));
  EXPECT_EQ(WaitForMultipleObjects(5, any, FALSE, 20000), WAIT_OBJECT_0 + 3);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(foreign, &code));
  EXPECT_EQ(code, 0x5EED0000u + WAIT_OBJECT_0);
  int status = 0;
  ::waitpid(foreignPid, &status, 0);

  // Wait for all: the named event set by another program, the local event,
  // the thread. Until the thread ends it times out and takes nothing.
  HANDLE all[3] = {named, local, thread};
  HANDLE setter = Start(u"set several-named");
  EXPECT_EQ(qtest::WaitForExitCode(setter, 20000), 0u);
  SetEvent(local);
  EXPECT_EQ(WaitForMultipleObjects(3, all, TRUE, 100), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForMultipleObjects(2, all, FALSE, 0), WAIT_OBJECT_0);  // the auto-reset signal was still there
  SetEvent(named);
  SetEvent(threadGo);
  EXPECT_EQ(WaitForMultipleObjects(3, all, TRUE, 20000), WAIT_OBJECT_0);
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(code, 9u);
  EXPECT_EQ(WaitForSingleObject(named, 0), WAIT_TIMEOUT);  // taken by the wait for all
  EXPECT_EQ(WaitForSingleObject(local, 0), WAIT_OBJECT_0);  // manual reset: still set
  // One object twice in a wait for all is refused, not waited on for ever.
  HANDLE twice[2] = {named, CreateEventW(nullptr, FALSE, FALSE, u"several-named")};
  SetEvent(named);
  EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 1000), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(WaitForSingleObject(named, 0), WAIT_OBJECT_0);
  CloseHandle(twice[1]);
  for (HANDLE h : {local, named, semaphore, go, threadGo, thread, foreign}) CloseHandle(h);
}

}  // namespace
