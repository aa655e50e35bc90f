// The refresh run: one thread that synchronises the channel list with the
// sync service (when that is on and all channels are refreshed), downloads
// the channels one after the other, reports progress with window messages
// and hands the queued full-text jobs to the download manager.
#pragma once

#include "framework/afx.h"
#include "quillet/refresh/refresh_state.h"

// The run's thread function; the parameter is the channel-list dialog's
// CChannelListFields. 1 when the dialog or its list is missing, 0 after a
// run (also one that ended early on a bad single-channel index).
DWORD DownloadThreadProc(LPVOID dialog);
// Starts DownloadThreadProc on a thread of its own at normal priority;
// FALSE when the thread cannot be started. The handle is closed.
BOOL StartRefreshRun(CChannelListFields* dialog);
// Merges one subscription of the sync service into the channel list of the
// dialog (the context): added to the synchronised category when new, its
// title and label written when known, and taken off the reload list.
void OnSubscriptionLabel(void* dialog, LPCWSTR title, LPCWSTR url, LPCWSTR label);
