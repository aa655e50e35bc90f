// The device's clock offset, shared by the programs of a device root, and
// the sleep until a time of the wall clock.
//
// The offset lives in "<device root>/.kernel/clock.shared", mapped by every
// program that reads the clock: a 32-bit generation word, bumped and woken
// (a futex on the shared mapping, so in every program) at each change, and
// the 64-bit offset in milliseconds, or the time at which the clock
// stands. A sleeper sleeps on the generation word
// with an absolute deadline on the host's real-time clock, so it wakes
// exactly when the time comes, or when the device's time is set, and never
// in between.
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <map>
#include <mutex>
#include <string>

#include "kernel/fs.h"
#include "kernel/time.h"
#include "kernel/waitable.h"

namespace qk {
namespace {

struct ClockCell {
  std::atomic<uint32_t> generation{0};
  std::atomic<uint32_t> standing{0};  // 1: the clock stands at standingMs
  std::atomic<int64_t> offsetMs{0};
  std::atomic<int64_t> standingMs{0};
};
static_assert(std::atomic<int64_t>::is_always_lock_free, "the shared clock needs a lock-free offset");
constexpr size_t kClockFileSize = 64;

// Bumped by WakeClockSleepers (the frozen clock moved, a private wake).
std::atomic<uint32_t> g_localWord{0};

std::mutex g_cellLock;
std::string g_cellRoot;
ClockCell* g_cell = nullptr;

// The cell of the current device root, mapped once per root (mappings of
// earlier roots stay: a process only ever meets a few). Null when it cannot
// be mapped; the offset is then 0.
ClockCell* Cell() {
  std::string root = DeviceRoot();
  std::lock_guard<std::mutex> guard(g_cellLock);
  if (g_cell && root == g_cellRoot) return g_cell;
  static std::map<std::string, ClockCell*>* cells = new std::map<std::string, ClockCell*>;
  auto it = cells->find(root);
  if (it == cells->end()) {
    ClockCell* cell = nullptr;
    int fd = ::open((SharedObjectFolder() + "/clock.shared").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
      struct stat st {};
      bool sized = ::fstat(fd, &st) == 0 &&
                   (st.st_size >= static_cast<off_t>(kClockFileSize) || ::ftruncate(fd, kClockFileSize) == 0);
      void* map = sized ? ::mmap(nullptr, kClockFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
      ::close(fd);
      if (map != MAP_FAILED) cell = static_cast<ClockCell*>(map);
    }
    if (!cell) return nullptr;  // looked at again next time
    it = cells->emplace(root, cell).first;
  }
  g_cellRoot = root;
  g_cell = it->second;
  return g_cell;
}

// Fills waiters with the words a clock sleeper waits on: the process's
// local word, the device cell's generation when there is a cell, and the
// caller's own word when given; returns how many.
size_t ClockWaiters(futex_waitv* waiters, uint32_t local, ClockCell* cell, uint32_t generation,
                    const std::atomic<uint32_t>* wake, uint32_t seen) {
  size_t n = 0;
  waiters[n].uaddr = reinterpret_cast<uintptr_t>(&g_localWord);
  waiters[n].val = local;
  waiters[n++].flags = FUTEX_32 | FUTEX_PRIVATE_FLAG;
  if (cell) {
    waiters[n].uaddr = reinterpret_cast<uintptr_t>(&cell->generation);
    waiters[n].val = generation;
    waiters[n++].flags = FUTEX_32;
  }
  if (wake) {
    waiters[n].uaddr = reinterpret_cast<uintptr_t>(wake);
    waiters[n].val = seen;
    waiters[n++].flags = FUTEX_32 | FUTEX_PRIVATE_FLAG;
  }
  return n;
}

// Waits until a word changes or until (on clock) comes; on a host without
// futex_waitv a nap of napNs keeps the caller's loop from spinning.
void WaitOnClockWords(futex_waitv* waiters, size_t n, const timespec* until, clockid_t clock, long napNs) {
  if (::syscall(SYS_futex_waitv, waiters, n, 0, until, clock) < 0 && errno != EAGAIN && errno != ETIMEDOUT &&
      errno != EINTR) {
    timespec nap{0, napNs};
    ::nanosleep(&nap, nullptr);
  }
}

}  // namespace

int64_t DeviceWallClockMs(int64_t hostMs) {
  ClockCell* cell = Cell();
  if (!cell) return hostMs;
  if (cell->standing.load()) return cell->standingMs.load();
  return hostMs + cell->offsetMs.load();
}

void SetDeviceClock(int64_t utcMs, bool standing) {
  ClockCell* cell = Cell();
  if (!cell) return;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  int64_t hostMs = int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  cell->offsetMs.store(utcMs - hostMs);
  cell->standingMs.store(utcMs);
  cell->standing.store(standing ? 1 : 0);
  cell->generation.fetch_add(1);
  WakeWord({&cell->generation, true});
}

void WakeClockSleepers() {
  g_localWord.fetch_add(1);
  WakeWord({&g_localWord, false});
}

bool SleepUntilWallClock(int64_t utcMs, const std::atomic<uint32_t>* wake, uint32_t seen) {
  for (;;) {
    ClockCell* cell = Cell();
    // The words are read before the clock, so a change after the look ends
    // the sleep at once.
    uint32_t generation = cell ? cell->generation.load() : 0;
    uint32_t local = g_localWord.load();
    if (wake && wake->load() != seen) return false;
    int64_t now = WallClockMs();
    if (now >= utcMs) return true;

    futex_waitv waiters[3] = {};
    const size_t n = ClockWaiters(waiters, local, cell, generation, wake, seen);
    // A frozen clock moves only when told (the local word), a standing
    // device clock when it is set (the generation); the running one
    // reaches the time on the host's real-time clock, whose own jumps the
    // host kernel follows.
    timespec deadline{};
    const timespec* until = nullptr;
    if (!ClockFrozen() && !(cell && cell->standing.load())) {
      int64_t hostMs = utcMs - (cell ? cell->offsetMs.load() : 0);
      deadline.tv_sec = static_cast<time_t>(hostMs / 1000);
      deadline.tv_nsec = static_cast<long>((hostMs % 1000) * 1000000);
      if (deadline.tv_nsec < 0) {
        deadline.tv_sec -= 1;
        deadline.tv_nsec += 1000000000L;
      }
      until = &deadline;
    }
    WaitOnClockWords(waiters, n, until, CLOCK_REALTIME, 1000000L);
  }
}

uint32_t DeviceClockSetCount() {
  ClockCell* cell = Cell();
  return cell ? cell->generation.load() : 0;
}

bool SleepUntilDeviceClockSet(uint32_t seen, const std::atomic<uint32_t>* wake, uint32_t wakeSeen) {
  for (;;) {
    ClockCell* cell = Cell();
    // The local word is read first: a WakeClockSleepers after the look at
    // *wake ends the sleep at once.
    uint32_t local = g_localWord.load();
    if (wake && wake->load() != wakeSeen) return false;
    if (cell && cell->generation.load() != seen) return true;
    futex_waitv waiters[2] = {};
    const size_t n = ClockWaiters(waiters, local, cell, seen, nullptr, 0);
    // Without a clock cell only a wake ends the sleep; the cell is looked
    // for again after a short nap.
    timespec nap{0, 100000000L};
    if (!cell) {
      timespec now{};
      ::clock_gettime(CLOCK_MONOTONIC, &now);
      nap.tv_sec += now.tv_sec + (now.tv_nsec + nap.tv_nsec) / 1000000000L;
      nap.tv_nsec = (now.tv_nsec + nap.tv_nsec) % 1000000000L;
    }
    WaitOnClockWords(waiters, n, cell ? nullptr : &nap, CLOCK_MONOTONIC, 10000000L);
  }
}

}  // namespace qk

