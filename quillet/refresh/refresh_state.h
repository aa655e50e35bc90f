// What the refresh machinery shares with the screens: the window messages,
// the process-wide refresh state (the download-thread stop flag and the four
// run counters), the keep-awake key event, the settings it reads, and the
// two base classes through which it reaches the channel-list dialog and the
// application object.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <string>
#include <unordered_map>

#include "framework/afx.h"
#include "user/user.h"

class CChannelListView;
class COpmlXML;
class CVentrelAgency;
class CDownloadManager;

// Sent to the main window when the refresh has ended (the soft key goes back
// to "Refresh").
#define WM_CHANNELS_DOWNLOAD_END 2026
// wParam the channel number, lParam the item count (low 16 bits) and the
// new-item count (high 16 bits).
#define WM_CHANNEL_COUNTS_CHANGED 2027
// Broadcast after each channel, each image and before each full-text job.
#define WM_CHANNELS_DOWNLOAD_PROGRESS 2028
// wParam the path of the thumbnail to write, lParam the path of an image;
// the result is non-zero when the thumbnail was written.
#define WM_MAKE_CHANNEL_ICON 2076
// The Refresh/Cancel command and the Exit command.
#define ID_REFRESH_CHANNELS 32793
#define ID_APP_EXIT_COMMAND 32852
// The channel-list window's timer that watches the download manager.
#define REFRESH_TIMER_ID 3
#define REFRESH_TIMER_MS 500

#define MSG_DOWNLOAD_START u"Quillet.Download.Start"
#define MSG_DOWNLOAD_REFRESH u"Quillet.Download.Refresh"
#define MSG_DOWNLOAD_HEADLINES_FINISHED u"Quillet.Download.Headlines.Finished"
#define MSG_DOWNLOAD_FINISHED u"Quillet.Download.Finished"
#define MSG_DOWNLOAD_ITEM_FULLTEXT u"Quillet.Download.Item.Get.Fulltext"

// The category of the channels that come from the sync service.
#define SYNC_CATEGORY u"Google Reader"

// The refresh state of the process. The stop flag is raised by Cancel, Exit
// and a lost connection and cleared only by the channel-list window once
// the download manager is idle; the counters are zeroed by each run.
struct CRefreshState {
  std::atomic<BOOL> stop{FALSE};
  std::atomic<int> queuedChannels{0};
  std::atomic<int> processedChannels{0};
  std::atomic<int> imageTotal{0};
  std::atomic<int> processedImages{0};
};
CRefreshState& RefreshState();
// The stop-flag test handed to the feed parser and the full-text jobs.
BOOL IsDownloadStopped();
int ParserCancelTest(void* context);
void SetDownloadStop(BOOL stop);
// The progress band's per-cent figure for a progress message's parameters:
// never a division by zero, always 0 to 100.
int RefreshProgressPercent(WPARAM wParam, LPARAM lParam);

// Disables the hardware keyboard, injects a silent key-up of key 0x7F and
// enables the keyboard again, so that the device does not fall asleep.
void KeepAwake();

// Waits (at most timeoutMs of host time) until done() holds, handling the
// messages that other threads send to the calling thread meanwhile, so that
// a worker that sends to this thread's windows while it is waited for is
// answered instead of waiting for ever. Posted messages stay queued. again,
// when given, is called every quarter second of the wait. TRUE when done()
// held.
BOOL WaitHandlingSentMessages(const std::function<bool()>& done, DWORD timeoutMs,
                              const std::function<void()>& again = nullptr);
// How long the end of the program waits for the refresh's threads once it
// has stopped them.
#define REFRESH_STOP_WAIT_MS 20000

// A registered message of the refresh, by name.
UINT RefreshMessage(LPCWSTR name);
// Posts a registered message (or a plain one) to every top-level window.
void BroadcastRefreshMessage(LPCWSTR name, WPARAM wParam = 0, LPARAM lParam = 0);

// Settings of the program's registry root: section "Settings" or "Ventrel".
int ReadSettingInt(LPCWSTR section, LPCWSTR entry, int defaultValue);
CString ReadSettingString(LPCWSTR section, LPCWSTR entry, LPCWSTR defaultValue);
BOOL WriteSettingString(LPCWSTR section, LPCWSTR entry, LPCWSTR value);
BOOL WriteSettingInt(LPCWSTR section, LPCWSTR entry, int value);

// Sets a channel's attribute in the channel list (which saves the list),
// unless it already holds that value: an unchanged list is not written again.
void SetChannelAttributeIfChanged(COpmlXML* list, LPCWSTR url, LPCWSTR name, LPCWSTR value);

// The local time as "%04d-%02d-%02d %02d:%02d:%02d".
CString LocalTimeText();
// The storage root's "\ChannelData" folder, without a trailing backslash.
CString ChannelDataFolder();

// The feed URLs a run has still to fetch, in their order, with a count of
// each URL beside them, so that whether a URL waits is answered without a
// walk of the list (a reload of a long list asks it of every channel).
class CWaitingUrls {
 public:
  void AddTail(const CString& url);
  // The first URL; the list must not be empty.
  const CString& GetHead() const { return m_order.front(); }
  void RemoveHead();
  void RemoveAll();
  BOOL IsEmpty() const { return m_order.empty(); }
  int GetCount() const { return static_cast<int>(m_order.size()); }
  BOOL Contains(LPCWSTR url) const;

 private:
  std::deque<CString> m_order;
  std::unordered_map<std::u16string, int> m_count;
};

// The fields of the channel-list dialog that the refresh reads and writes.
// The dialog derives from this class; the run thread receives it as its
// parameter. The lock guards the to-fetch list, the reload lists and the
// agency pointer, which the user-interface thread reads while a run works
// (the channel context menu, the Cancel command's Terminate).
class CChannelListFields {
 public:
  CChannelListFields() = default;
  virtual ~CChannelListFields();
  CChannelListFields(const CChannelListFields&) = delete;
  CChannelListFields& operator=(const CChannelListFields&) = delete;

  // The dialog's window; its parent is the channel-list window.
  virtual HWND GetDialogWindow() const = 0;

  // Creates the agency when the dialog holds none; the agency held after.
  CVentrelAgency* EnsureAgency();
  // Replaces the agency by a new one (after a failed feed download).
  CVentrelAgency* ReplaceAgency();
  // Cuts the running transfer of the agency short (user-interface thread).
  void TerminateAgency();
  CVentrelAgency* GetAgency();
  // Whether the feed URL is still waiting in the running refresh.
  BOOL IsWaitingForRefresh(LPCWSTR url);

  CChannelListView* m_pChannelList = nullptr;
  COpmlXML* m_pOpml = nullptr;
  CVentrelAgency* m_pAgency = nullptr;
  std::atomic<int> m_nSingleChannel{-1};
  std::atomic<BOOL> m_bHeadlinePhase{FALSE};
  CWaitingUrls m_toFetch;
  CStringList m_reloadTitles, m_reloadCategories, m_reloadUrls;
  CCriticalSection m_runLock;
};

// The application object's part that the refresh uses: the one download
// manager and the update-task flag. The program's application class derives
// from it; the last one built is the process's.
class CRefreshApp {
 public:
  CRefreshApp();
  virtual ~CRefreshApp();
  CRefreshApp(const CRefreshApp&) = delete;
  CRefreshApp& operator=(const CRefreshApp&) = delete;
  // The main window, which receives the counts and the Exit command.
  virtual HWND GetMainWindowHandle() const = 0;
  CDownloadManager& DownloadManager() { return *m_pDownloadManager; }
  std::atomic<BOOL> m_bUpdateTask{FALSE};

 private:
  CDownloadManager* m_pDownloadManager;
};
CRefreshApp* GetRefreshApp();
