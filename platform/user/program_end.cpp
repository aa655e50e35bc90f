// SIGTERM and SIGINT end the program through its own Exit steps (see
// qk::CatchEndSignals). A signal handler may do almost nothing safely, so
// it only writes the signal's number to a pipe; a thread of the layer
// sleeps in read() on the pipe and makes the request, which wakes the UI
// thread's message wait. No one polls: the thread sleeps in the kernel
// until a signal comes.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "user/internal.h"

namespace qk {
namespace {

std::atomic<int> g_signalPipe{-1};  // the write end

void OnEndSignal(int number) {
  const int saved = errno;
  const int fd = g_signalPipe.load();
  const unsigned char byte = static_cast<unsigned char>(number);
  // Non-blocking: signals that come faster than the thread reads are one
  // request anyway.
  if (fd >= 0) (void)::write(fd, &byte, 1);
  errno = saved;
}

void WatchSignals(int readEnd) {
  unsigned char byte = 0;
  for (;;) {
    ssize_t n = ::read(readEnd, &byte, 1);
    if (n == 1) {
      // A second signal while the program ends is no second end.
      RequestProgramEnd();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return;
  }
}

}  // namespace

bool CatchEndSignals() {
  user::SetProgramEndThread();
  if (g_signalPipe.load() >= 0) return true;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);
  try {
    // The thread lives as long as the process: it holds nothing that the
    // program's end would have to release.
    std::thread(WatchSignals, fds[0]).detach();
  } catch (...) {
    ::close(fds[0]);
    ::close(fds[1]);
    return false;
  }
  g_signalPipe = fds[1];
  struct sigaction action {};
  action.sa_handler = OnEndSignal;
  sigemptyset(&action.sa_mask);
  // Slow calls that the signal interrupts on other threads go on.
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  return true;
}

}  // namespace qk
