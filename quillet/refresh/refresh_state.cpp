#include "quillet/refresh/refresh_state.h"

#include <chrono>
#include <mutex>

#include "common/settings.h"
#include "kernel/kernel.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/refresh/download_manager.h"
#include "user/input.h"
#include "ventrel/ventrel.h"

namespace {

CRefreshState g_state;
std::atomic<CRefreshApp*> g_app{nullptr};

CString SectionPath(LPCWSTR section) {
  CString path = u"Software\\" QUILLET_REGISTRY_COMPANY u"\\" QUILLET_REGISTRY_APP u"\\";
  path += section;
  return path;
}

}  // namespace

CRefreshState& RefreshState() { return g_state; }
BOOL IsDownloadStopped() { return g_state.stop.load(); }
int ParserCancelTest(void*) { return g_state.stop.load() ? 1 : 0; }
void SetDownloadStop(BOOL stop) { g_state.stop = stop ? TRUE : FALSE; }

int RefreshProgressPercent(WPARAM wParam, LPARAM lParam) {
  long long queued = g_state.queuedChannels, processed = g_state.processedChannels;
  long long images = g_state.imageTotal, imagesDone = g_state.processedImages;
  long long left = (queued - processed + static_cast<long long>(wParam)) * 3 + images - imagesDone;
  long long total = (queued + static_cast<long long>(lParam)) * 3 + images;
  if (total <= 0) return 100;
  long long percent = 100 * left / total;
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  return static_cast<int>(percent);
}

void KeepAwake() {
  EnableHardwareKeyboard(FALSE);
  keybd_event(0x7F, 0, KEYEVENTF_KEYUP | KEYEVENTF_SILENT, 0);
  EnableHardwareKeyboard(TRUE);
}

BOOL WaitHandlingSentMessages(const std::function<bool()>& done, DWORD timeoutMs,
                              const std::function<void()>& again) {
  using Clock = std::chrono::steady_clock;
  // Host time: a frozen tick count must not make the wait endless.
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  auto nextAgain = Clock::now() + std::chrono::milliseconds(250);
  for (;;) {
    // A look for a message that nobody posts handles the sent ones and
    // leaves everything else in the queue.
    constexpr UINT kNeverPosted = 0x7FFF;
    MSG msg;
    ::PeekMessageW(&msg, nullptr, kNeverPosted, kNeverPosted, PM_NOREMOVE);
    if (done()) return TRUE;
    const auto now = Clock::now();
    if (now >= deadline) return FALSE;
    if (again && now >= nextAgain) {
      again();
      nextAgain = now + std::chrono::milliseconds(250);
    }
    qk::WaitForSentMessages(20);
  }
}

UINT RefreshMessage(LPCWSTR name) { return RegisterWindowMessageW(name); }

void BroadcastRefreshMessage(LPCWSTR name, WPARAM wParam, LPARAM lParam) {
  PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(name), wParam, lParam);
}

int ReadSettingInt(LPCWSTR section, LPCWSTR entry, int defaultValue) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, SectionPath(section), 0, KEY_READ, &key) != ERROR_SUCCESS) return defaultValue;
  DWORD type = 0, value = 0, size = sizeof value;
  LONG result = RegQueryValueExW(key, entry, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_DWORD) return defaultValue;
  return static_cast<int>(value);
}

CString ReadSettingString(LPCWSTR section, LPCWSTR entry, LPCWSTR defaultValue) {
  CString out(defaultValue);
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, SectionPath(section), 0, KEY_READ, &key) != ERROR_SUCCESS) return out;
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, entry, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
    std::u16string buffer(size / sizeof(WCHAR) + 1, u'\0');
    if (RegQueryValueExW(key, entry, nullptr, &type, reinterpret_cast<LPBYTE>(buffer.data()), &size) ==
        ERROR_SUCCESS)
      out = CString(buffer.c_str());
  }
  RegCloseKey(key);
  return out;
}

BOOL WriteSettingString(LPCWSTR section, LPCWSTR entry, LPCWSTR value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, SectionPath(section), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return FALSE;
  LONG result = RegSetValueExW(key, entry, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                               static_cast<DWORD>((wcslen(value) + 1) * sizeof(WCHAR)));
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

BOOL WriteSettingInt(LPCWSTR section, LPCWSTR entry, int value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, SectionPath(section), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return FALSE;
  const DWORD dword = static_cast<DWORD>(value);
  LONG result = RegSetValueExW(key, entry, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), sizeof dword);
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

void SetChannelAttributeIfChanged(COpmlXML* list, LPCWSTR url, LPCWSTR name, LPCWSTR value) {
  if (!list) return;
  std::lock_guard<std::recursive_mutex> hold(list->Lock());
  CString current;
  if (list->GetChannelAttribute(url, name, current) && current == CString(value)) {
    // An attribute that is absent reads as empty too: write an empty value.
    if (!current.IsEmpty()) return;
  }
  list->SetChannelAttribute(url, name, value);
}

CString LocalTimeText() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  CString text;
  text.Format(u"%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
  return text;
}

CString ChannelDataFolder() {
  WCHAR root[MAX_PATH];
  GetDataRoot(root);
  CString folder(root);
  folder += u"\\ChannelData";
  return folder;
}

CChannelListFields::~CChannelListFields() {
  CSingleLock hold(&m_runLock, TRUE);
  delete m_pAgency;
  m_pAgency = nullptr;
}

CVentrelAgency* CChannelListFields::EnsureAgency() {
  CSingleLock hold(&m_runLock, TRUE);
  if (!m_pAgency) m_pAgency = new CVentrelAgency();
  return m_pAgency;
}

CVentrelAgency* CChannelListFields::ReplaceAgency() {
  CSingleLock hold(&m_runLock, TRUE);
  delete m_pAgency;
  m_pAgency = new CVentrelAgency();
  return m_pAgency;
}

void CChannelListFields::TerminateAgency() {
  CSingleLock hold(&m_runLock, TRUE);
  if (m_pAgency) m_pAgency->Terminate();
}

CVentrelAgency* CChannelListFields::GetAgency() {
  CSingleLock hold(&m_runLock, TRUE);
  return m_pAgency;
}

BOOL CChannelListFields::IsWaitingForRefresh(LPCWSTR url) {
  CSingleLock hold(&m_runLock, TRUE);
  return m_toFetch.Contains(url);
}

void CWaitingUrls::AddTail(const CString& url) {
  m_order.push_back(url);
  ++m_count[url.str()];
}

void CWaitingUrls::RemoveHead() {
  if (m_order.empty()) return;
  auto it = m_count.find(m_order.front().str());
  if (it != m_count.end() && --it->second <= 0) m_count.erase(it);
  m_order.pop_front();
}

void CWaitingUrls::RemoveAll() {
  m_order.clear();
  m_count.clear();
}

BOOL CWaitingUrls::Contains(LPCWSTR url) const {
  return url && m_count.count(std::u16string(url)) != 0;
}

CRefreshApp::CRefreshApp() : m_pDownloadManager(new CDownloadManager()) { g_app = this; }

CRefreshApp::~CRefreshApp() {
  CRefreshApp* self = this;
  g_app.compare_exchange_strong(self, nullptr);
  delete m_pDownloadManager;
}

CRefreshApp* GetRefreshApp() { return g_app.load(); }
