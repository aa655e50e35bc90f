// The update monitor: a program without a visible window that keeps the
// automatic refresh of the channels. At the interval of the auto update
// settings, once a day at their time, or when the device is put into its
// cradle, it makes the reader refresh: it sends WM_CHANNELS_DOWNLOAD_START
// to the reader's main window, or, when the reader is not running, starts
// "Quillet.exe /update" from the reader's folder (the setting "Root").
//
// One Monitor runs per device (the mutex "Quillet Monitor"). Two threads:
// the main thread runs the schedule, one cycle per wake-up, each kept in a
// time notification that signals the named event "QuilletEvent"; the
// user-interface thread owns a hidden dialog that receives the settings
// change broadcast (WM_AUTOUPDATE_SETTINGS_CHANGED, which restarts the
// schedule with the values read afresh), the cradle watch's message and the
// registered "Quillet.Uninstall", which ends Monitor.
#pragma once

#include "kernel/types.h"

#define WM_CHANNELS_DOWNLOAD_START 0x7E9
#define WM_CRADLE_CHANGED 0x87E
#define WM_AUTOUPDATE_SETTINGS_CHANGED 0x880

// Runs Monitor; the process's exit code (0, or 1 when the program cannot
// start: no device root, no hidden dialog).
int MonitorMain();
