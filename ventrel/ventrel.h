// Ventrel: the sync-service client and HTTP/1.1 library of the reader. The
// one class it exports is CVentrelAgency; every string crosses by reference
// and every result is a BOOL (non-zero on success). Everything the agency
// downloads goes to files whose paths the caller passes.
//
// The service host is a setting of the agency: the built-in default
// VENTREL_DEFAULT_SERVICE_HOST, replaced by the registry value "ServiceHost"
// of the "Ventrel" settings section when present, and by SetServiceHost. A
// host may carry a port ("host:port"); the login then uses https and the
// other requests http on that port. The receive time-out (12000 ms unless
// the value "ReceiveTimeout" or SetReceiveTimeout says otherwise) bounds
// every wait for the server.
#pragma once

#include "framework/afx.h"

#define VENTREL_API __attribute__((visibility("default")))
#define VENTREL_DEFAULT_SERVICE_HOST u"www.google.com"
#define VENTREL_DEFAULT_RECEIVE_TIMEOUT 12000

class CDownloader;
class CVentrelSync;

class VENTREL_API CVentrelAgency {
 public:
  CVentrelAgency();
  ~CVentrelAgency();
  CVentrelAgency(const CVentrelAgency&) = delete;
  CVentrelAgency& operator=(const CVentrelAgency&) = delete;

  // Forgets the current login and keeps the account for the next operation,
  // which logs in (no traffic here). Both texts come form-encoded (the
  // refresh run encodes them): the login body carries them as they are.
  void Login(const CString& email, const CString& password);
  // "host:port" of an HTTP proxy for every later transfer; empty for none.
  void SetProxy(CString proxy);
  // Logs in now with the account given to Login: TRUE when the service
  // opened a session, which the operations that follow use. FALSE without
  // an account given, when the service refuses the login or cannot be
  // reached, and when Terminate ended it.
  BOOL Authenticate();
  void EnableLog(int on);
  // The subscription list into the file path. Without a session (the login
  // failed) the list is not asked for and no file is written.
  void GetSubscriptions(const CString& path);
  // The feed's latest count items into the file path; every "?" of feedId
  // becomes "%3F" in the caller's string.
  BOOL DownloadFeed(CString& feedId, const CString& path, int count);
  // Marks an item read (read non-zero) or kept unread on the service.
  BOOL SyncItem(const CString& itemId, int read);
  // Any URL into the file path, without a login; drops the login state.
  BOOL DownloadFile(CString& url, const CString& path, int& unused1, CString& unused2);
  // From another thread: aborts the running transfer; the operation fails.
  void Terminate();

  // Settings.
  void SetServiceHost(const CString& host);
  CString GetServiceHost() const;
  void SetReceiveTimeout(DWORD ms);
  // A PEM file of further CA certificates trusted for https (a host path).
  void SetCaFile(const CString& hostPath);

 private:
  CDownloader* m_pDownloader;
  CVentrelSync* m_pSync;
  CString* m_pServiceHost;
};
