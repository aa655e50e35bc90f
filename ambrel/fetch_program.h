// Ambrel, the page-fetch program: started by Quillet for one page at a
// time, without a visible window.
//
//   Ambrel [-p proxy] url file           download mode: the URL into the file
//   Ambrel [-p proxy] url output script  script mode: the extraction script
//                                        runs over the page and writes the
//                                        article (further arguments ignored)
//
// Exit codes: 0 on success, in script mode whatever the script did (also
// when the script file is missing), and when there are too few arguments;
// the downloader's error number when a download fails (0x800C0008 when it
// stored none); ERROR_ACCESS_DENIED when the output path lies outside the
// device root; 1 when the program cannot start ("Fatal Error: MFC
// initialization failed" on the console); -1 when Quillet's stop broadcast
// (WM_URL_DOWNLOAD_END) arrives, at any moment of the run.
//
// A hidden dialog on a thread of its own hears the broadcasts: the stop
// message and the connection status (WM_CONNECTION_STATUS 16 or 32), which
// ends the wait for a data connection.
//
// A broadcast sent before the hidden dialog exists reaches nobody. So the
// caller that stops the program also sets the named event AMBREL_STOP_EVENT
// (manual reset, see common/url_download.h) before its broadcast and keeps
// it set while it waits for the program to end. Once the dialog can hear
// broadcasts the program looks at that event, and a stop raised before then
// ends it as the broadcast would.
#pragma once

#include "common/url_download.h"
#include "framework/afx.h"

// The dialog template of the hidden dialog and the string table entry.
#define IDD_AMBREL_DIALOG 101
#define IDS_AMBREL_TITLE 1

// How long a script may run and how much memory it may hold. The time stays
// below the 60 seconds that Quillet waits for the program, so a script that
// never ends is ended here and the program exits normally.
#define AMBREL_SCRIPT_TIME_MS 45000u
#define AMBREL_SCRIPT_MEMORY_BYTES (96u * 1024u * 1024u)

// The wait for a data connection: the connection event is made by
// OpenConnectionWait (not set) and closed by CloseConnectionWait;
// WaitForConnection waits for it at most ms and tells whether it was set.
void OpenConnectionWait();
BOOL WaitForConnection(DWORD ms);
void CloseConnectionWait();
// What the hidden dialog does on a broadcast, short of ending the program:
// a connection status of 16 or 32 sets the connection event; the stop
// (WM_URL_DOWNLOAD_END) stops a running download, sets the connection
// event too, so that a wait for it ends, and returns TRUE: the program
// then ends with -1 a quarter of a second later.
BOOL HearBroadcast(UINT msg, WPARAM wParam);

// Keeps the large buffers of a run in the heap for reuse (the program
// calls it first).
void AmbrelTuneMemory();
// The whole program; argv as the host gives it. Never returns.
[[noreturn]] void AmbrelMain(int argc, char** argv);
