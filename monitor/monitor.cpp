// The update monitor (see monitor.h).
//
// Settings are read afresh at each decision, from the values that the auto
// update options page writes under the settings key:
//   AutoUpdateMode            0 off, 1 when cradled, 3 daily, other: interval
//   AutoUpdateTimeNum         interval count minus one, 0..19 (other values
//                             read as 19: a page without a selection writes
//                             0xFFFFFFFF)
//   AutoUpdateTimeUnit        0 minutes, 1 hours, other days
//   AutoUpdateSchedule{Hour,Minute,Second}  the daily time (12:00:00)
// Times are seconds since 1970 of the local calendar, in 64 bits. When the
// device's clock is set, the armed wake-up is armed again from the new time.
#include "monitor/monitor.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>

#include "common/log.h"
#include "common/settings.h"
#include "kernel/kernel.h"
#include "kernel/process.h"
#include "kernel/time.h"
#include "shell/notify.h"
#include "user/dialog.h"
#include "user/user.h"

namespace {

constexpr char16_t kMainWindowClass[] = u"WCE_QuilletMainWnd";
constexpr char16_t kWakeUpEventName[] = u"QuilletEvent";
constexpr char16_t kNotificationApplication[] = u"\\\\.\\Notifications\\NamedEvents\\QuilletEvent";
constexpr char16_t kCradleKey[] = u"System\\State\\Hardware";
constexpr char16_t kCradleValue[] = u"Cradled";
constexpr DWORD kIdleWaitMs = 3600000;
constexpr DWORD kMaxIntervalCount = 19;

CRITICAL_SECTION g_lock;
HWND g_dialog = nullptr;  // under g_lock
HREGNOTIFY g_cradleWatch = nullptr;
std::atomic<bool> g_stop{false};
std::atomic<DWORD> g_cradled{0};
// Set by a settings change and by the end: ends the main thread's idle
// wait. Open for the whole run and auto-reset, so a change that comes
// before the wait begins is not lost.
HANDLE g_idleEvent = nullptr;
// Set by the user-interface thread once its dialog exists or failed.
HANDLE g_dialogReady = nullptr;
// The clock watch: raised when the device's clock is set, and the armed
// cycle's wake-up event it then sets, so that the cycle re-arms from the
// new time. The watch ends when g_stopWord turns non-zero.
std::atomic<bool> g_clockMoved{false};
std::mutex g_wakeUpLock;
HANDLE g_wakeUpEvent = nullptr;  // under g_wakeUpLock
std::atomic<uint32_t> g_stopWord{0};

DWORD Setting(LPCWSTR name, DWORD defaultValue) { return GetRegistryDword(name, defaultValue, u""); }
DWORD Mode() { return Setting(u"AutoUpdateMode", 0); }

// The interval between refreshes, in seconds.
int64_t IntervalSeconds() {
  DWORD count = Setting(u"AutoUpdateTimeNum", kMaxIntervalCount);
  if (count > kMaxIntervalCount) count = kMaxIntervalCount;
  DWORD unit = Setting(u"AutoUpdateTimeUnit", 0);
  int64_t unitSeconds = unit == 0 ? 60 : unit == 1 ? 3600 : 86400;
  return (int64_t(count) + 1) * unitSeconds;
}

constexpr int64_t kFileTimeOf1970 = 116444736000000000LL;

int64_t SystemTimeToSeconds(const SYSTEMTIME& time) {
  FILETIME ft{};
  SystemTimeToFileTime(&time, &ft);
  int64_t ticks = int64_t((uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  return (ticks - kFileTimeOf1970) / 10000000;
}

void SecondsToSystemTime(int64_t seconds, SYSTEMTIME* time) {
  uint64_t ticks = uint64_t(seconds * 10000000 + kFileTimeOf1970);
  FILETIME ft{DWORD(ticks & 0xFFFFFFFFu), DWORD(ticks >> 32)};
  FileTimeToSystemTime(&ft, time);
}

// A wake-up: the local time handed to the time notification, in seconds,
// and the moment it stands for.
struct WakeUp {
  int64_t localSeconds;
  int64_t utcMs;
};

int64_t NowUtcSeconds() {
  int64_t ms = qk::WallClockMs();
  return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

// A wake-up at a local time, with the moment the time notification takes
// it for (a local time that comes twice is the notification's to place).
WakeUp DueAt(int64_t localSeconds) {
  SYSTEMTIME local;
  SecondsToSystemTime(localSeconds, &local);
  int64_t utcMs = 0;
  if (!qk::TriggerTimeToUtcMs(local, &utcMs)) utcMs = (localSeconds - int64_t(qk::LocalOffsetMinutes()) * 60) * 1000;
  return {localSeconds, utcMs};
}

// When the next refresh is due. Daily: the daily time today, or tomorrow
// when it has passed (a time equal to now is today, unless it is the
// wake-up just served, `served`: a refresh within the same second would
// otherwise be followed by another); the local time is due with the offset
// from UTC in force then, so a daily time on the day summer time begins or
// ends is due when the clock shows it. Other modes: one interval from now,
// counted in real time (a change to or from summer time in between does
// not stretch or shorten it), or `keepUtcMs` when that comes sooner (a
// wake-up armed before the clock was set, still within one interval).
WakeUp NextWakeUp(DWORD mode, int64_t interval, int64_t served, int64_t keepUtcMs) {
  if (mode != 3) {
    int64_t due = NowUtcSeconds() + interval;
    if (keepUtcMs / 1000 < due) due = keepUtcMs / 1000;
    return DueAt(due + int64_t(qk::LocalOffsetMinutesAt(due * 1000)) * 60);
  }
  SYSTEMTIME now;
  GetLocalTime(&now);
  int64_t nowSeconds = SystemTimeToSeconds(now);
  DWORD hour = Setting(u"AutoUpdateScheduleHour", 12);
  DWORD minute = Setting(u"AutoUpdateScheduleMinute", 0);
  DWORD second = Setting(u"AutoUpdateScheduleSecond", 0);
  // A time of day that is none takes the default's part.
  if (hour > 23) hour = 12;
  if (minute > 59) minute = 0;
  if (second > 59) second = 0;
  int64_t timeOfDay = int64_t(now.wHour) * 3600 + now.wMinute * 60 + now.wSecond;
  int64_t at = nowSeconds - timeOfDay + int64_t(hour) * 3600 + minute * 60 + second;
  if (at < nowSeconds || at == served) at += 86400;
  return DueAt(at);
}

// Makes the reader refresh: a message to its running window, or a start of
// the reader as an update task.
void RefreshStep() {
  if (Mode() == 1 && g_cradled.load() == 0) return;
  WriteLog(u"Downloading...");
  if (HWND main = FindWindowW(kMainWindowClass, nullptr)) {
    WriteLog(u"-- Send WM_CHANNELS_DOWNLOAD_START. --");
    SendMessageW(main, WM_CHANNELS_DOWNLOAD_START, 0, 0);
    return;
  }
  WriteLog(u"-- Run program. --");
  CString root;
  GetRegistryString(root, u"Root", u"");
  CString program = root + u"\\Quillet.exe";
  std::u16string commandLine = u"/update";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  // Not waited for; a failed start is neither retried nor reported.
  if (CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
}

// Ends the armed cycle (it sends no refresh) and the idle wait.
void CancelSchedule() {
  CancelScheduledWait();
  SetEvent(g_idleEvent);
}

INT_PTR MonitorDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  static const UINT uninstall = RegisterWindowMessageW(u"Quillet.Uninstall");
  if (message == uninstall) {
    g_stop = true;
    g_stopWord = 1;
    qk::WakeClockSleepers();
    CancelSchedule();
    PostQuitMessage(0);
    (void)dialog;
    return TRUE;
  }
  switch (message) {
    case WM_AUTOUPDATE_SETTINGS_CHANGED:
      CancelSchedule();
      break;
    case WM_CRADLE_CHANGED:
      g_cradled = DWORD(wParam);
      if (Mode() == 1) RefreshStep();
      break;
    case WM_CHANNELS_DOWNLOAD_START:
      RefreshStep();
      break;
  }
  return FALSE;
}

DWORD MonitorUiThread(LPVOID) {
  EnterCriticalSection(&g_lock);
  std::vector<DWORD> empty = qk::DialogTemplateBuilder(WS_POPUP, 0, 0, 0, 10, 10).Build();
  HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATE>(empty.data()),
                                           nullptr, MonitorDlgProc, 0);
  if (dialog) {
    ShowWindow(dialog, SW_HIDE);
    g_dialog = dialog;
    RegistryNotifyWindow(HKEY_LOCAL_MACHINE, kCradleKey, kCradleValue, dialog, WM_CRADLE_CHANGED, 0, nullptr,
                         &g_cradleWatch);
    DWORD cradled = 0;
    if (SUCCEEDED(RegistryGetDWORD(HKEY_LOCAL_MACHINE, kCradleKey, kCradleValue, &cradled))) g_cradled = cradled;
  }
  LeaveCriticalSection(&g_lock);
  SetEvent(g_dialogReady);
  if (!dialog) return 1;

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(dialog, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }

  EnterCriticalSection(&g_lock);
  if (g_cradleWatch) RegistryCloseNotification(g_cradleWatch);
  g_cradleWatch = nullptr;
  DestroyWindow(g_dialog);
  g_dialog = nullptr;
  LeaveCriticalSection(&g_lock);
  return 0;
}

// Wakes the armed cycle whenever the device's clock is set.
DWORD ClockWatchThread(LPVOID) {
  uint32_t seen = qk::DeviceClockSetCount();
  while (qk::SleepUntilDeviceClockSet(seen, &g_stopWord, 0)) {
    seen = qk::DeviceClockSetCount();
    g_clockMoved = true;
    std::lock_guard<std::mutex> guard(g_wakeUpLock);
    if (g_wakeUpEvent) SetEvent(g_wakeUpEvent);
  }
  return 0;
}

void SetWakeUpEvent(HANDLE event) {
  std::lock_guard<std::mutex> guard(g_wakeUpLock);
  g_wakeUpEvent = event;
}

// Runs schedule cycles until one is cancelled or the mode is off.
void RunSchedule(HWND dialog) {
  // The cancel flag is cleared before anything is read: a change that
  // comes later cancels this run, which then starts again with its values.
  ClearScheduledWaitCancel();
  const int64_t interval = IntervalSeconds();
  if (Mode() == 0) return;
  int64_t served = INT64_MIN;
  for (;;) {
    CE_NOTIFICATION_TRIGGER trigger{};
    trigger.dwSize = sizeof trigger;
    trigger.dwType = CNT_TIME;
    trigger.dwEvent = 6;
    std::u16string application = kNotificationApplication;
    trigger.lpszApplication = application.data();
    trigger.lpszArguments = nullptr;
    // A setting of the clock from here on re-arms this cycle.
    g_clockMoved = false;
    const DWORD mode = Mode();
    WakeUp wakeUp = NextWakeUp(mode, interval, served, INT64_MAX);
    SecondsToSystemTime(wakeUp.localSeconds, &trigger.stStartTime);
    trigger.stEndTime = trigger.stStartTime;

    bool signalled = false;
    HANDLE wakeUpEvent = CreateEventW(nullptr, FALSE, FALSE, kWakeUpEventName);
    if (!wakeUpEvent) {
      WriteLog(u"CreateEvent failed");
    } else {
      SetScheduledWaitEvent(wakeUpEvent);
      SetWakeUpEvent(wakeUpEvent);
      // A cancel that came before the event was there to be set is seen by
      // its flag (raised before the event is looked at).
      if (!IsScheduledWaitCancelled()) {
        HANDLE notification = CeSetUserNotificationEx(nullptr, &trigger, nullptr);
        if (!notification) {
          WriteLog(u"CeSetUserNotificationEx failed");
        } else {
          WriteLog(u"Waiting for Quillet Event...");
          for (;;) {
            // The clock was set and the wake-up is not due: armed again
            // from the new time, at most one interval ahead (the daily time
            // from the new day and time).
            if (g_clockMoved.exchange(false) && !IsScheduledWaitCancelled() &&
                qk::WallClockMs() < wakeUp.utcMs) {
              WakeUp again = NextWakeUp(mode, interval, served, wakeUp.utcMs);
              if (again.localSeconds != wakeUp.localSeconds) {
                wakeUp = again;
                SecondsToSystemTime(wakeUp.localSeconds, &trigger.stStartTime);
                trigger.stEndTime = trigger.stStartTime;
                CeSetUserNotificationEx(notification, &trigger, nullptr);
              }
            }
            while (WaitForSingleObject(wakeUpEvent, INFINITE) != WAIT_OBJECT_0) WriteLog(u"Unknown Event signaled\n");
            // Woken by a cancel, or the wake-up is due: this cycle is over.
            if (IsScheduledWaitCancelled() || qk::WallClockMs() >= wakeUp.utcMs) break;
          }
          WriteLog(u"Quillet Event signaled");
          CeClearUserNotification(notification);
          signalled = true;
          served = wakeUp.localSeconds;
        }
      }
      SetWakeUpEvent(nullptr);
      SetScheduledWaitEvent(nullptr);
      CloseHandle(wakeUpEvent);
    }
    if (signalled && !IsScheduledWaitCancelled() && Mode() != 0 && dialog)
      SendMessageW(dialog, WM_CHANNELS_DOWNLOAD_START, 0, 0);
    Sleep(250);
    if (IsScheduledWaitCancelled() || Mode() == 0) return;
  }
}

}  // namespace

int MonitorMain() {
  qk::SetProgramName(u"Monitor.exe");
  std::error_code ec;
  std::string root = qk::DeviceRoot();
  std::filesystem::create_directories(root, ec);
  if (!std::filesystem::is_directory(root, ec)) {
    std::fputs("Fatal Error: MFC initialization failed\n", stdout);
    return 1;
  }

  HANDLE mutex = CreateMutexW(nullptr, TRUE, u"Quillet Monitor");
  if (!mutex) return 0;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return 0;
  }

  InitializeCriticalSection(&g_lock);
  g_idleEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  g_dialogReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE ui = CreateThread(nullptr, 0, MonitorUiThread, nullptr, 0, nullptr);
  HANDLE clockWatch = CreateThread(nullptr, 0, ClockWatchThread, nullptr, 0, nullptr);
  if (ui) WaitForSingleObject(g_dialogReady, INFINITE);
  EnterCriticalSection(&g_lock);
  bool started = g_dialog != nullptr;
  LeaveCriticalSection(&g_lock);

  while (started && !g_stop) {
    EnterCriticalSection(&g_lock);
    HWND dialog = g_dialog;
    LeaveCriticalSection(&g_lock);
    if (!dialog) break;
    RunSchedule(dialog);
    if (g_stop) break;
    Sleep(50);
    if (Mode() == 0) WaitForSingleObject(g_idleEvent, kIdleWaitMs);
  }

  // The user-interface thread has been told to end; it is given a moment
  // so that the program does not tear down what it still uses.
  if (ui) {
    WaitForSingleObject(ui, 5000);
    CloseHandle(ui);
  }
  g_stopWord = 1;
  qk::WakeClockSleepers();
  if (clockWatch) {
    WaitForSingleObject(clockWatch, 5000);
    CloseHandle(clockWatch);
  }
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  return started ? 0 : 1;
}
