// The second program of the cross-process wait tests. Its arguments say what
// it does with the named objects of the device root it was started on:
//   echo <in> <out> <rounds>  waits for the auto-reset event in and sets out,
//                             rounds times; ends with the rounds done
//   idle <ready> <wake>       sets ready, then its main thread and a second
//                             thread wait on the manual-reset event wake (the
//                             second also on the process that started it);
//                             ends with 0x100 * thread's result + main's
//   hold <mutex> <ready>      takes the mutex, sets ready, waits for ever
//   take <mutex> <ready>      sets ready, waits for the mutex; ends with the
//                             wait's result
//   consume <event> <ready>   releases the semaphore ready, waits for the
//                             auto-reset event; ends with 1 when it got it
//   wait <event>              waits for the event; ends with 0x5EED0000 + result
//   set <event>               sets the auto-reset event
//   release <semaphore> <n>   releases the semaphore n times
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "kernel/kernel.h"
#include "kernel/process.h"

namespace {

std::u16string Arg(char** argv, int i) { return qk::FromUtf8(argv[i]); }

DWORD WaitOnThread(LPVOID param) {
  auto* waits = static_cast<HANDLE*>(param);
  return WaitForMultipleObjects(2, waits, FALSE, INFINITE);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 1;
  std::string what = argv[1];
  if (what == "echo" && argc == 5) {
    HANDLE in = CreateEventW(nullptr, FALSE, FALSE, Arg(argv, 2).c_str());
    HANDLE out = CreateEventW(nullptr, FALSE, FALSE, Arg(argv, 3).c_str());
    int rounds = std::atoi(argv[4]);
    for (int i = 0; i < rounds; ++i) {
      if (WaitForSingleObject(in, 20000) != WAIT_OBJECT_0) ExitProcess(static_cast<UINT>(i));
      SetEvent(out);
    }
    ExitProcess(static_cast<UINT>(rounds));
  }
  if (what == "idle" && argc == 4) {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, Arg(argv, 2).c_str());
    HANDLE wake = CreateEventW(nullptr, TRUE, FALSE, Arg(argv, 3).c_str());
    HANDLE starter = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(::getppid()));
    if (!ready || !wake || !starter) return 2;
    HANDLE threadWaits[2] = {starter, wake};
    HANDLE thread = CreateThread(nullptr, 0, WaitOnThread, threadWaits, 0, nullptr);
    HANDLE unnamed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE mainWaits[2] = {wake, unnamed};
    SetEvent(ready);
    DWORD mainResult = WaitForMultipleObjects(2, mainWaits, FALSE, INFINITE);
    if (WaitForSingleObject(thread, 20000) != WAIT_OBJECT_0) return 3;
    DWORD threadResult = 0;
    GetExitCodeThread(thread, &threadResult);
    ExitProcess(0x100 * threadResult + mainResult);
  }
  if ((what == "hold" || what == "take") && argc == 4) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, Arg(argv, 2).c_str());
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, Arg(argv, 3).c_str());
    if (what == "hold") {
      if (WaitForSingleObject(mutex, 20000) != WAIT_OBJECT_0) return 2;
      SetEvent(ready);
      HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      WaitForSingleObject(never, INFINITE);
      return 3;
    }
    SetEvent(ready);
    DWORD result = WaitForSingleObject(mutex, 20000);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(mutex);
    ExitProcess(result);
  }
  if (what == "consume" && argc == 4) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, Arg(argv, 2).c_str());
    HANDLE ready = CreateSemaphoreW(nullptr, 0, 16, Arg(argv, 3).c_str());
    ReleaseSemaphore(ready, 1, nullptr);
    ExitProcess(WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0 ? 1 : 2);
  }
  if (what == "wait") {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, Arg(argv, 2).c_str());
    ExitProcess(0x5EED0000u + WaitForSingleObject(event, 20000));
  }
  if (what == "set") {
    SetEvent(CreateEventW(nullptr, FALSE, FALSE, Arg(argv, 2).c_str()));
    ExitProcess(0);
  }
  if (what == "release" && argc == 4) {
    HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 16, Arg(argv, 2).c_str());
    for (int i = std::atoi(argv[3]); i > 0; --i) ReleaseSemaphore(semaphore, 1, nullptr);
    ExitProcess(0);
  }
  return 1;
}
