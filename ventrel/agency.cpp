// The exported agency: owner of the downloader and the current sync object.
#include "ventrel/ventrel.h"

#include "common/log.h"
#include "common/settings.h"
#include "kernel/registry.h"
#include "net/winsock.h"
#include "ventrel/downloader.h"
#include "ventrel/sync.h"
#include "ventrel/vlog.h"

namespace {

#define VENTREL_SETTINGS_KEY u"\\Software\\" QUILLET_REGISTRY_COMPANY u"\\" QUILLET_REGISTRY_APP u"\\Ventrel"

// Optional overrides of the agency's settings in the "Ventrel" section.
void ReadSettings(CString& host, DWORD& timeout) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, VENTREL_SETTINGS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  WCHAR text[260] = {0};
  DWORD size = sizeof(text) - sizeof(WCHAR);
  DWORD type = 0;
  if (RegQueryValueExW(key, u"ServiceHost", nullptr, &type, reinterpret_cast<LPBYTE>(text), &size) ==
          ERROR_SUCCESS &&
      type == REG_SZ && text[0])
    host = text;
  DWORD value = 0;
  size = sizeof value;
  if (RegQueryValueExW(key, u"ReceiveTimeout", nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size) ==
          ERROR_SUCCESS &&
      type == REG_DWORD && value > 0)
    timeout = value;
  RegCloseKey(key);
}

}  // namespace

CVentrelAgency::CVentrelAgency() : m_pDownloader(nullptr), m_pSync(nullptr), m_pServiceHost(nullptr) {
  WSADATA data;
  WSAStartup(0x0101, &data);
  m_pDownloader = new CDownloader();
  CString host = VENTREL_DEFAULT_SERVICE_HOST;
  DWORD timeout = VENTREL_DEFAULT_RECEIVE_TIMEOUT;
  ReadSettings(host, timeout);
  m_pServiceHost = new CString(host);
  m_pDownloader->SetTimeout(timeout);
}

CVentrelAgency::~CVentrelAgency() {
  delete m_pSync;
  delete m_pDownloader;
  delete m_pServiceHost;
  WSACleanup();
}

void CVentrelAgency::Login(const CString& email, const CString& password) {
  if (!m_pDownloader) return;
  delete m_pSync;
  m_pSync = new CVentrelSync(m_pDownloader, email, password, *m_pServiceHost);
}

void CVentrelAgency::SetProxy(CString proxy) {
  VLog(u"CVentrelSync::SetProxy()");
  if (m_pDownloader) m_pDownloader->SetProxy(proxy);
}

BOOL CVentrelAgency::Authenticate() {
  if (!m_pSync) return FALSE;
  m_pDownloader->ResetCancel();
  return m_pSync->Authenticate();
}

void CVentrelAgency::EnableLog(int on) { SetLogEnabled(on); }

void CVentrelAgency::GetSubscriptions(const CString& path) {
  if (!m_pSync) return;
  m_pDownloader->ResetCancel();
  m_pSync->GetSubscriptions(path);
}

BOOL CVentrelAgency::DownloadFeed(CString& feedId, const CString& path, int count) {
  if (!m_pSync) return FALSE;
  m_pDownloader->ResetCancel();
  return m_pSync->DownloadFeed(feedId, path, count, FALSE);
}

BOOL CVentrelAgency::SyncItem(const CString& itemId, int read) {
  if (!m_pSync) return FALSE;
  m_pDownloader->ResetCancel();
  return m_pSync->SyncItem(itemId, read, FALSE);
}

BOOL CVentrelAgency::DownloadFile(CString& url, const CString& path, int&, CString&) {
  if (!m_pDownloader) return FALSE;
  delete m_pSync;
  m_pSync = new CVentrelSync(m_pDownloader, CString(), CString(), *m_pServiceHost);
  m_pDownloader->ResetCancel();
  return m_pSync->DownloadFile(url, path);
}

void CVentrelAgency::Terminate() {
  // Straight to the downloader: it lives as long as the agency, while the
  // sync object may be replaced by the thread that runs the transfer.
  VLog(u"CVentrelSync::Terminate()");
  if (m_pDownloader) m_pDownloader->Terminate();
}

void CVentrelAgency::SetServiceHost(const CString& host) {
  *m_pServiceHost = host;
  // The current login keeps working against the host it started with until
  // the next Login.
}

CString CVentrelAgency::GetServiceHost() const { return *m_pServiceHost; }

void CVentrelAgency::SetReceiveTimeout(DWORD ms) {
  if (m_pDownloader && ms > 0) m_pDownloader->SetTimeout(ms);
}

void CVentrelAgency::SetCaFile(const CString& hostPath) {
  if (m_pDownloader) m_pDownloader->SetCaFile(hostPath);
}
