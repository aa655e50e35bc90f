#include "common/log.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "common/encoding.h"
#include "common/settings.h"

namespace {
std::atomic<int> g_logEnabled{0};
std::atomic<int> g_stopFlag{0};
std::mutex g_stopLock;
HANDLE g_stopEvent = nullptr;

// 8-bit text of a wide text in the default code page, any length.
std::string Narrow(LPCWSTR text) {
  int needed = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string out(size_t(needed), '\0');
  if (!ConvertToMultiByte(out.data(), text, needed, CP_ACP)) return std::string();
  out.resize(strlen(out.c_str()));
  return out;
}
}  // namespace

void SetLogEnabled(int enabled) { g_logEnabled = enabled; }

int IsLogEnabled() { return g_logEnabled; }

void WriteLog(LPCWSTR text) {
  if (!g_logEnabled || !text) return;
  std::string line = Narrow(text);
  SYSTEMTIME now;
  GetLocalTime(&now);
  MEMORYSTATUS memory;
  GlobalMemoryStatus(&memory);
  bool memoryLine = line == "mem_display";

  WCHAR folder[MAX_PATH];
  GetProgramFolder(folder);
  std::string path = Narrow(folder) + (memoryLine ? "\\Quillet_MemLog.txt" : "\\Quillet_RunLog.txt");
  FILE* f = qk::DeviceFopen(path.c_str(), "at");
  if (!f) return;
  if (memoryLine) {
    fprintf(f, "AvailPhys: %lu; AvailPageFile: %lu; AvailVirtual: %lu.\n", (unsigned long)memory.dwAvailPhys,
            (unsigned long)memory.dwAvailPageFile, (unsigned long)memory.dwAvailVirtual);
  } else {
    unsigned long module = (unsigned long)reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr));
    fprintf(f, "[%02d:%02d:%02d %08lu(%08lx)] %s\n", now.wHour, now.wMinute, now.wSecond,
            (unsigned long)GetTickCount(), module, line.c_str());
  }
  fclose(f);
}

void SetScheduledWaitEvent(HANDLE event) {
  std::lock_guard<std::mutex> g(g_stopLock);
  g_stopEvent = event;
}

// The flag is raised before the event is signalled: a wait that the event
// ends must find the flag up, or it takes the wake-up for its own (the
// update monitor would start a refresh for a cancelled schedule).
void CancelScheduledWait() {
  g_stopFlag = 1;
  std::lock_guard<std::mutex> g(g_stopLock);
  if (g_stopEvent) EventModify(g_stopEvent, EVENT_SET);
}

void ClearScheduledWaitCancel() { g_stopFlag = 0; }

int IsScheduledWaitCancelled() { return g_stopFlag; }
