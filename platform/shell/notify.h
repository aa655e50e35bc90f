// Time notifications and registry change notifications.
//
// Time notifications: CeSetUserNotificationEx with a time trigger whose
// application is "\\.\Notifications\NamedEvents\<name>" signals the named
// event <name> when the device's clock (kernel/time.h: the device clock
// offset included) reaches the trigger's start time, given in local time.
// The notification is kept by the process that set it: a thread of that
// process sleeps until the earliest time due (woken only by that time, a
// change of the device's clock or a change of the list), sets the event if
// some program holds it open, and forgets the notification. Only time
// triggers that signal a named event are offered; user notifications (a
// dialog or a sound for the user) are not, and the call fails for them.
// Each program lists what it has armed in "notify-<pid>.list" of the
// device root's kernel folder (qk::ArmedNotifications reads them).
//
// Registry change notifications: RegistryNotifyWindow watches one value
// and posts the message given to the window when the value changes, in
// this program or in another of the device root, with the new DWORD value
// as wParam (0 for a value that is gone or not a DWORD) and the user data as
// lParam. A thread of the process sleeps on the registry folder (inotify)
// and looks at the watched values when a hive file is replaced. Conditions
// are not offered: every change is posted.
#pragma once

#include <string>
#include <vector>

#include "kernel/registry.h"
#include "kernel/types.h"
#include "user/user.h"

#define CNT_TIME 2

struct CE_NOTIFICATION_TRIGGER {
  DWORD dwSize;
  DWORD dwType;   // CNT_TIME
  DWORD dwEvent;  // not read for a time trigger
  LPWSTR lpszApplication;
  LPWSTR lpszArguments;
  SYSTEMTIME stStartTime;  // local time
  SYSTEMTIME stEndTime;
};
typedef CE_NOTIFICATION_TRIGGER* PCE_NOTIFICATION_TRIGGER;
struct CE_USER_NOTIFICATION;
typedef CE_USER_NOTIFICATION* PCE_USER_NOTIFICATION;

// Arms (notification null) or replaces a notification; null on failure
// (ERROR_INVALID_PARAMETER for a trigger that is not offered).
HANDLE CeSetUserNotificationEx(HANDLE notification, CE_NOTIFICATION_TRIGGER* trigger,
                               CE_USER_NOTIFICATION* userNotification);
// Forgets a notification, whether it has fired or not.
BOOL CeClearUserNotification(HANDLE notification);

namespace qk {
// The time notifications armed by the programs of the device root (each
// program lists its own in its kernel folder), as the device's notification
// database shows them: when each is due and which event it signals.
struct ArmedNotification {
  int64_t dueUtcMs;
  std::u16string eventName;
};
std::vector<ArmedNotification> ArmedNotifications();
// The moment (milliseconds since 1970 UTC) at which a time trigger with this
// local start time is due, as CeSetUserNotificationEx arms it: with the
// offset from UTC in force at that moment. False for a time that is not a
// valid calendar time.
bool TriggerTimeToUtcMs(const SYSTEMTIME& local, int64_t* utcMs);
}  // namespace qk

typedef HANDLE HREGNOTIFY;
struct NOTIFICATIONCONDITION;

HRESULT RegistryNotifyWindow(HKEY root, LPCWSTR subKey, LPCWSTR valueName, HWND window, UINT message,
                             DWORD userData, NOTIFICATIONCONDITION* condition, HREGNOTIFY* notify);
HRESULT RegistryGetDWORD(HKEY root, LPCWSTR subKey, LPCWSTR valueName, DWORD* data);
HRESULT RegistryCloseNotification(HREGNOTIFY notify);
