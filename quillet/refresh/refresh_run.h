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

class CWinThread;

// The refresh run's thread as the channel-list window holds it: one run at a
// time, and its end can be waited for.
class CRefreshRunThread {
 public:
  CRefreshRunThread() = default;
  ~CRefreshRunThread();
  CRefreshRunThread(const CRefreshRunThread&) = delete;
  CRefreshRunThread& operator=(const CRefreshRunThread&) = delete;

  // Starts DownloadThreadProc for the dialog at normal priority; FALSE when
  // the thread of an earlier run still lives or no thread can be started.
  BOOL Start(CChannelListFields* dialog);
  // Whether a run's thread still lives.
  BOOL IsAlive() const;

 private:
  CWinThread* m_pThread = nullptr;
};

// Cuts short what the refresh is fetching: the sync agency's transfer, the
// one-URL downloader's transfer (its abort flag and exit event) and a
// running fetch program (the stop broadcast, also sent while the download
// manager's worker runs a job beside an open transfer). The download stop
// flag is the caller's; raising it first keeps new transfers from starting.
void StopRefreshTransfers(CChannelListFields* dialog);
// Merges one subscription of the sync service into the channel list of the
// dialog (the context): added to the synchronised category when new, its
// title and label written when known, and taken off the reload list.
void OnSubscriptionLabel(void* dialog, LPCWSTR title, LPCWSTR url, LPCWSTR label);
