// The update monitor as a program. Each case starts the real "Monitor.exe"
// and, where the case needs it, the real "Quillet.exe" on the test's own
// device root (local time is UTC), writes the auto update settings as the
// options page does and broadcasts its change message. The device's clock
// is moved by the test, never waited for: the schedule is seen in the time
// notification Monitor arms (the device's list of armed notifications) and
// in the refreshes the reader broadcasts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/process.h"
#include "shell/notify.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "support/settings_registry.h"
#include "user/user.h"

namespace {

constexpr UINT kSettingsChanged = 0x880;
constexpr int64_t kMinute = 60, kHour = 3600, kDay = 86400;

std::vector<std::string>* g_seen = nullptr;
UINT g_startMessage = 0, g_finishedMessage = 0;

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_seen && message == g_startMessage) g_seen->push_back("start");
  if (g_seen && message == g_finishedMessage) g_seen->push_back("finished");
  return DefWindowProcW(window, message, wParam, lParam);
}

// Seconds since 1970 of a UTC calendar time.
int64_t At(int year, int month, int day, int hour, int minute, int second) {
  SYSTEMTIME st{WORD(year), WORD(month), 0, WORD(day), WORD(hour), WORD(minute), WORD(second), 0};
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  return int64_t(((uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10000000) - 11644473600LL;
}

class MonitorTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    setenv("TZ", "UTC", 1);
    tzset();
    setenv("QUILLET_HEADLESS", "1", 1);
    unsetenv("QUILLET_SCREENSHOT");
    unsetenv("QUILLET_SCREEN_PROFILE");
    qk::SetProgramHost(u"Monitor.exe", MONITOR_EXE);
    qk::SetProgramHost(u"Quillet.exe", QUILLET_EXE);
    qk::SetProgramHost(u"quillet-device.exe", DEVICE_TOOL_EXE);
    // One channel whose address answers nothing: a refresh runs through
    // quickly and still says it started and finished.
    WriteDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>t</title></head>"
                    "<body nextID=\"200\"><outline text=\"News\" type=\"rss\" uniqueID=\"900\"><outline text=\"One\" "
                    "type=\"rss\" uniqueID=\"100\" xmlUrl=\"http://127.0.0.1:9/feed.xml\"/></outline></body></opml>\n");
    g_startMessage = RegisterWindowMessageW(u"Quillet.Download.Start");
    g_finishedMessage = RegisterWindowMessageW(u"Quillet.Download.Finished");
    g_seen = &seen_;
    recorder_ = qtest::CreateHostWindow(u"MonitorTestRecorder", RecorderProc, 1, 1);
  }
  void TearDown() override {
    for (HANDLE process : processes_) qtest::EndProcess(process);
    if (recorder_) DestroyWindow(recorder_);
    g_seen = nullptr;
    DeviceTest::TearDown();
  }

  HANDLE Start(const char16_t* program, const std::u16string& line = u"") {
    std::u16string command = line;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi)) {
      ADD_FAILURE() << "could not start a program";
      return nullptr;
    }
    CloseHandle(pi.hThread);
    processes_.push_back(pi.hProcess);
    return pi.hProcess;
  }
  HANDLE StartMonitor() { return Start(u"\\Program Files\\Quillet\\Monitor.exe"); }
  // The reader, running with its main window.
  HANDLE StartReader() {
    HANDLE reader = Start(u"\\Program Files\\Quillet\\Quillet.exe");
    EXPECT_TRUE(qk::PumpMessagesUntil([] { return MainWindow() != nullptr; }, 60000));
    return reader;
  }
  static HWND MainWindow() { return FindWindowW(u"WCE_QuilletMainWnd", nullptr); }
  void Cradle(bool in) {
    EXPECT_EQ(qtest::WaitForExitCode(Start(u"quillet-device.exe", in ? u"cradle" : u"uncradle")), 0u);
  }

  // The device's clock, in seconds of its local time (UTC here).
  static int64_t Now() { return qk::WallClockMs() / 1000; }
  // The device's clock stands where the test sets it.
  static void SetNow(int64_t seconds) { qk::SetDeviceClock(seconds * 1000, true); }

  // The settings as the auto update page writes them, and its broadcast.
  static void Write(DWORD mode, DWORD count, DWORD unit, DWORD hour = 12, DWORD minute = 0, DWORD second = 0) {
    qtest::SetSettingDword(u"AutoUpdateMode", mode);
    qtest::SetSettingDword(u"AutoUpdateTimeNum", count);
    qtest::SetSettingDword(u"AutoUpdateTimeUnit", unit);
    qtest::SetSettingDword(u"AutoUpdateScheduleHour", hour);
    qtest::SetSettingDword(u"AutoUpdateScheduleMinute", minute);
    qtest::SetSettingDword(u"AutoUpdateScheduleSecond", second);
  }
  static void Changed() { PostMessageW(HWND_BROADCAST, kSettingsChanged, 0, 0); }

  // The wake-up Monitor has armed (seconds), if any.
  static std::optional<int64_t> Armed() {
    std::optional<int64_t> due;
    for (const auto& n : qk::ArmedNotifications())
      if (n.eventName == u"QuilletEvent") {
        EXPECT_FALSE(due) << "more than one wake-up armed";
        due = n.dueUtcMs / 1000;
      }
    return due;
  }
  // Waits for a wake-up other than the one given to be armed; answers it.
  int64_t WaitForArm(std::optional<int64_t> other = std::nullopt) {
    std::optional<int64_t> due;
    EXPECT_TRUE(qk::PumpMessagesUntil(
        [&] {
          due = Armed();
          return due && due != other;
        },
        60000))
        << "no new wake-up was armed";
    return due.value_or(0);
  }
  // Moves the clock to the armed wake-up and waits for the refresh it
  // starts to finish (the running reader says so; an update task ends);
  // answers the next wake-up.
  int64_t RefreshAt(int64_t due, bool readerRuns = true) {
    int starts = Count("start"), finishes = Count("finished");
    SetNow(due);
    EXPECT_TRUE(qk::PumpMessagesUntil([&] { return Count("start") > starts; }, 60000)) << "no refresh";
    if (readerRuns)
      EXPECT_TRUE(qk::PumpMessagesUntil([&] { return Count("finished") > finishes; }, 120000));
    else
      EXPECT_TRUE(qk::PumpMessagesUntil([] { return MainWindow() == nullptr; }, 120000)) << "the task stays";
    return WaitForArm(due);
  }
  int Count(const std::string& what) const {
    int n = 0;
    for (const auto& s : seen_) n += s == what;
    return n;
  }

  std::vector<std::string> seen_;
  std::vector<HANDLE> processes_;
  HWND recorder_ = nullptr;
};

TEST_F(MonitorTest, IntervalsInMinutesHoursAndDaysRefreshTheRunningReaderWhenTheyComeDue) {
  SetNow(At(2031, 3, 10, 8, 0, 0));
  StartReader();
  Write(2, 4, 0);  // "05" "Minutes"
  int64_t before = Now();
  StartMonitor();
  int64_t due = WaitForArm();
  EXPECT_GE(due, before + 5 * kMinute);
  EXPECT_LE(due, Now() + 5 * kMinute);
  EXPECT_EQ(Count("start"), 0);

  // Each interval's refresh reaches the running reader, and the next
  // wake-up is one interval on.
  int64_t next = RefreshAt(due);
  EXPECT_EQ(next, due + 5 * kMinute);
  EXPECT_EQ(RefreshAt(next), next + 5 * kMinute);

  // Hours: the change re-arms at once, without a refresh.
  Write(2, 0, 1);
  Changed();
  due = WaitForArm(next + 5 * kMinute);
  EXPECT_EQ(due, Now() + kHour);
  EXPECT_EQ(RefreshAt(due), due + kHour);

  // Days ("Days" or any other unit).
  Write(2, 1, 2);
  Changed();
  due = WaitForArm(due + kHour);
  EXPECT_EQ(due, Now() + 2 * kDay);
  EXPECT_EQ(RefreshAt(due), due + 2 * kDay);
  EXPECT_EQ(Count("start"), 4);
  // Monitor sent its message to the one reader; it started none beside it.
  EXPECT_EQ(Count("finished"), 4);
}

TEST_F(MonitorTest, ADailyTimeIsTodayUntilItPassesThenTomorrowAndRefreshesOncePerDay) {
  SetNow(At(2031, 3, 10, 11, 59, 59));
  StartReader();
  Write(3, 19, 0, 12, 0, 0);
  StartMonitor();
  int64_t due = WaitForArm();
  EXPECT_EQ(due, At(2031, 3, 10, 12, 0, 0));
  // Due at 12:00:00 exactly: one refresh, then tomorrow, also when the
  // refresh ends within the same second.
  EXPECT_EQ(RefreshAt(due), At(2031, 3, 11, 12, 0, 0));
  EXPECT_EQ(Count("start"), 1);

  // A time that has passed today (it is 12:00:00 now) is tomorrow's.
  Write(3, 19, 0, 9, 15, 30);
  Changed();
  due = WaitForArm(At(2031, 3, 11, 12, 0, 0));
  EXPECT_EQ(due, At(2031, 3, 11, 9, 15, 30));
  EXPECT_EQ(RefreshAt(due), At(2031, 3, 12, 9, 15, 30));
  EXPECT_EQ(Count("start"), 2);
}

TEST_F(MonitorTest, WhenCradledItRefreshesOnCradlingAndEveryIntervalInTheCradleOnly) {
  SetNow(At(2031, 3, 10, 8, 0, 0));
  StartReader();
  Write(1, 0, 0);  // when cradled, every minute
  StartMonitor();
  int64_t due = WaitForArm();
  // Out of the cradle an interval passes without a refresh.
  SetNow(due);
  due = WaitForArm(due);
  EXPECT_EQ(Count("start"), 0);

  // Into the cradle: a refresh at once, and every interval after.
  Cradle(true);
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return Count("finished") >= 1; }, 120000));
  due = RefreshAt(due);
  EXPECT_EQ(Count("start"), 2);

  // Out again: nothing at once (the reader stays quiet a while), and the
  // next interval passes without a refresh.
  Cradle(false);
  EXPECT_FALSE(qk::PumpMessagesUntil([&] { return Count("start") > 2; }, 1500));
  SetNow(due);
  WaitForArm(due);
  EXPECT_EQ(Count("start"), 2);
}

TEST_F(MonitorTest, WithoutTheReaderEachRefreshStartsAnUpdateTaskThatEndsByItself) {
  SetNow(At(2031, 3, 10, 8, 0, 0));
  Write(2, 0, 0);
  StartMonitor();
  int64_t due = WaitForArm();
  ASSERT_EQ(MainWindow(), nullptr);
  // Each refresh starts the reader as an update task, which ends by
  // itself once its refresh is over.
  due = RefreshAt(due, false);
  RefreshAt(due, false);
  EXPECT_EQ(Count("start"), 2);
  // The update task wrote its folder for Monitor to start it from.
  WCHAR root[MAX_PATH] = {};
  DWORD size = sizeof root, type = 0;
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Settings", 0, KEY_READ, &key), 0);
  EXPECT_EQ(RegQueryValueExW(key, u"Root", nullptr, &type, reinterpret_cast<BYTE*>(root), &size), 0);
  RegCloseKey(key);
  EXPECT_EQ(std::u16string(root), u"\\Program Files\\Quillet");
}

TEST_F(MonitorTest, OneMonitorRunsItWakesFromIdleAtOnceAndTheUninstallMessageEndsIt) {
  SetNow(At(2031, 3, 10, 8, 0, 0));
  Write(2, 2, 0);
  HANDLE monitor = StartMonitor();
  EXPECT_EQ(WaitForArm(), Now() + 3 * kMinute);
  // A second Monitor ends at once, quietly.
  EXPECT_EQ(qtest::WaitForExitCode(StartMonitor(), 30000), 0u);
  // Off: the armed wake-up is cleared without a refresh, and Monitor waits
  // idle (an hour at a time) ...
  Write(0, 2, 0);
  Changed();
  EXPECT_TRUE(qk::PumpMessagesUntil([] { return !Armed(); }, 60000));
  // ... until it is switched on again, at once, however soon the change
  // comes after the switch off.
  // Monitor may read the settings while they are being written and arm for
  // what it saw; the broadcast that follows the writes sets it right.
  Write(2, 0, 0);
  Changed();
  EXPECT_TRUE(qk::PumpMessagesUntil([&] { return Armed() == Now() + kMinute; }, 60000));
  for (int i = 0; i < 5; ++i) {
    Write(0, 0, 0);
    Changed();
    Write(2, DWORD(i), 0);
    Changed();
  }
  EXPECT_TRUE(qk::PumpMessagesUntil([&] { return Armed() == Now() + 5 * kMinute; }, 60000));

  PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(u"Quillet.Uninstall"), 0, 0);
  EXPECT_EQ(qtest::WaitForExitCode(monitor, 30000), 0u);
  EXPECT_FALSE(Armed());
  EXPECT_EQ(Count("start"), 0);
}

TEST_F(MonitorTest, NoSettingThePageCanWriteMakesRefreshesComeEarlyOrInAStormAcross2038) {
  // 2038-01-19 03:00:00: twenty minutes on lies past 2^31 seconds.
  SetNow(At(2038, 1, 19, 3, 0, 0));
  StartReader();
  Write(2, 19, 0);
  StartMonitor();
  int64_t due = WaitForArm();
  EXPECT_GT(due, int64_t(0x7FFFFFFF));
  EXPECT_EQ(due, Now() + 20 * kMinute);

  struct Case {
    DWORD mode, count, unit, hour;
    int64_t after;  // the wake-up's distance from now
  };
  const int64_t todayNoon = At(2038, 1, 19, 12, 0, 0);
  const Case cases[] = {
      {2, 0xFFFFFFFF, 0, 12, 20 * kMinute},        // no count selected: as the default
      {2, 19, 0, 12, 20 * kMinute},                // unchanged settings, broadcast again
      {2, 0, 0xFFFFFFFF, 12, kDay},                // no unit selected: days
      {2, 0xFFFFFFFF, 0xFFFFFFFF, 12, 20 * kDay},  // neither
      {0xFFFFFFFF, 0, 0, 12, kMinute},             // no mode selected: every interval
      {3, 0, 0, 0xFFFFFFFF, -1},                   // daily, no time: at noon
  };
  for (const Case& c : cases) {
    SetNow(Now() + 7);  // so that each new wake-up differs from the last
    Write(c.mode, c.count, c.unit, c.hour);
    Changed();
    due = WaitForArm(due);
    EXPECT_EQ(due, c.after < 0 ? todayNoon : Now() + c.after) << c.mode << " " << c.count << " " << c.unit;
  }
  // None of the changes started a refresh; the last wake-up starts one.
  EXPECT_EQ(Count("start"), 0);
  EXPECT_EQ(RefreshAt(due), todayNoon + kDay);
  EXPECT_EQ(Count("start"), 1);
}

// On the days summer time begins and ends (Berlin: 2031-03-30 and
// 2031-10-26, the clock going from 02:00 to 03:00 and from 03:00 back to
// 02:00), the daily time is due when the clock shows it, with the offset in
// force then, and an interval across the change is as long as elsewhere.
TEST_F(MonitorTest, OnTheDaysSummerTimeBeginsAndEndsTheDailyTimeIsDueWhenTheClockShowsIt) {
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  SetNow(At(2031, 3, 30, 0, 30, 0));  // 01:30 winter time
  StartReader();
  Write(3, 19, 0, 12, 0, 0);
  StartMonitor();
  int64_t due = WaitForArm();
  EXPECT_EQ(due, At(2031, 3, 30, 10, 0, 0)) << "12:00 summer time";
  EXPECT_EQ(RefreshAt(due), At(2031, 3, 31, 10, 0, 0));

  // Every 20 minutes; the clock set on to the day summer time ends, at
  // 02:50 summer time: the wake-up twenty minutes on is 02:10 winter time.
  Write(2, 19, 0);
  Changed();
  due = WaitForArm(At(2031, 3, 31, 10, 0, 0));
  EXPECT_EQ(due, Now() + 20 * kMinute);
  due = RefreshAt(At(2031, 10, 26, 0, 50, 0));
  EXPECT_EQ(due, At(2031, 10, 26, 1, 10, 0));

  // Daily at 12:00 that day: 12:00 winter time.
  Write(3, 19, 0, 12, 0, 0);
  Changed();
  due = WaitForArm(due);
  EXPECT_EQ(due, At(2031, 10, 26, 11, 0, 0));
  EXPECT_EQ(RefreshAt(due), At(2031, 10, 27, 11, 0, 0));
  EXPECT_EQ(Count("start"), 3);
}

// When the device's clock is set, the armed wake-up is armed again from
// the new time: an interval's at most one interval ahead (kept when it is
// nearer), the daily time from the new day, today when it equals the time.
TEST_F(MonitorTest, SettingTheClockReArmsTheWakeUpFromTheNewTimeAtMostOneIntervalAhead) {
  const int64_t start = At(2031, 3, 10, 8, 0, 0);
  SetNow(start);
  StartReader();
  Write(2, 4, 0);  // every 5 minutes
  StartMonitor();
  int64_t due = WaitForArm();
  ASSERT_EQ(due, start + 5 * kMinute);

  // A minute later the clock is set back a day: due in five minutes, not
  // in a day and four.
  SetNow(start + kMinute - kDay);
  due = WaitForArm(due);
  EXPECT_EQ(due, start + kMinute - kDay + 5 * kMinute);
  EXPECT_EQ(Count("start"), 0);
  // Set on by two minutes: the wake-up armed stays, and refreshes.
  SetNow(Now() + 2 * kMinute);
  EXPECT_EQ(RefreshAt(due), due + 5 * kMinute);
  EXPECT_EQ(Count("start"), 1);

  // Daily at 12:00, served on the 9th; the clock set back to 12:00:00 on
  // the 8th: that is today's time, due at once, and then the 9th's.
  Write(3, 19, 0, 12, 0, 0);
  Changed();
  due = WaitForArm(due + 5 * kMinute);
  ASSERT_EQ(due, At(2031, 3, 9, 12, 0, 0));
  EXPECT_EQ(RefreshAt(due), At(2031, 3, 10, 12, 0, 0));
  EXPECT_EQ(RefreshAt(At(2031, 3, 8, 12, 0, 0)), At(2031, 3, 9, 12, 0, 0));
  EXPECT_EQ(Count("start"), 3);
  // The daily time set to now's: today, at once (then tomorrow).
  SetNow(At(2031, 3, 8, 17, 45, 10));
  int starts = Count("start");
  Write(3, 19, 0, 17, 45, 10);
  Changed();
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return Count("start") > starts; }, 60000)) << "no refresh today";
  EXPECT_EQ(WaitForArm(At(2031, 3, 9, 12, 0, 0)), At(2031, 3, 9, 17, 45, 10));
}

}  // namespace

// Daily at 12:00 with the clock set on: to just before the time, the
// wake-up armed from the new time is today's and refreshes at the time;
// past the time, the passed wake-up is served once (the time notification
// fires for it) and the next is tomorrow's, not today's again.
TEST_F(MonitorTest, TheClockSetOnToJustBeforeTheDailyTimeKeepsItTodayAndPastItMakesTheNextTomorrows) {
  SetNow(At(2031, 3, 10, 11, 0, 0));
  StartReader();
  Write(3, 19, 0, 12, 0, 0);
  StartMonitor();
  int64_t due = WaitForArm();
  ASSERT_EQ(due, At(2031, 3, 10, 12, 0, 0));

  // Monitor reads the daily time afresh when it arms again: its second,
  // changed without the page's broadcast, shows the wake-up armed from the
  // new time of the clock. Set on to 11:59:30, it is still today's.
  qtest::SetSettingDword(u"AutoUpdateScheduleSecond", 5);
  SetNow(At(2031, 3, 10, 11, 59, 30));
  due = WaitForArm(due);
  EXPECT_EQ(due, At(2031, 3, 10, 12, 0, 5));
  EXPECT_EQ(Count("start"), 0);
  EXPECT_EQ(RefreshAt(due), At(2031, 3, 11, 12, 0, 5));
  EXPECT_EQ(Count("start"), 1);

  // The next day at 11:00 (seen armed again, as above), set on to 13:00.
  qtest::SetSettingDword(u"AutoUpdateScheduleSecond", 6);
  SetNow(At(2031, 3, 11, 11, 0, 0));
  due = WaitForArm(At(2031, 3, 11, 12, 0, 5));
  ASSERT_EQ(due, At(2031, 3, 11, 12, 0, 6));
  int finishes = Count("finished");
  SetNow(At(2031, 3, 11, 13, 0, 0));
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return Count("finished") > finishes; }, 120000)) << "no refresh";
  EXPECT_EQ(WaitForArm(due), At(2031, 3, 12, 12, 0, 6));
  EXPECT_EQ(Count("start"), 2);
}
