// The run log and memory log, and the library's small stop signal.
//
// Run log lines go to "\Quillet_RunLog.txt" in the program's folder:
// "[hh:mm:ss tttttttt(mmmmmmmm)] text" (local time, tick count, module
// handle); the text "mem_display" writes a memory line to
// "\Quillet_MemLog.txt" instead. Nothing is written while logging is off.
#pragma once

#include "kernel/kernel.h"

void SetLogEnabled(int enabled);
int IsLogEnabled();
void WriteLog(LPCWSTR text);

// Signals the scheduled-wait event when one is set and raises the stop flag.
void CancelScheduledWait();
// The event that CancelScheduledWait signals (the update monitor's wait); null for none.
void SetScheduledWaitEvent(HANDLE event);
// The stop flag raised by CancelScheduledWait, and its clear (the update
// monitor clears it when it starts its schedule afresh).
int IsScheduledWaitCancelled();
void ClearScheduledWaitCancel();
