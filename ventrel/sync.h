// The sync-service client: login, edit token, subscription list, feeds,
// item state, over the agency's downloader.
#pragma once

#include "framework/afx.h"
#include "kernel/kernel.h"

class CDownloader;

class CVentrelSync {
 public:
  // serviceHost: "host" or "host:port" of the service.
  CVentrelSync(CDownloader* downloader, const CString& email, const CString& password, const CString& serviceHost);
  virtual ~CVentrelSync();
  CVentrelSync(const CVentrelSync&) = delete;
  CVentrelSync& operator=(const CVentrelSync&) = delete;

  virtual BOOL IsReady();
  virtual BOOL Authenticate();
  virtual BOOL GetSubscriptions(const CString& path);
  virtual BOOL GetReadingList(const CString& path);
  virtual CString GetCookie();

  BOOL GetToken();
  BOOL DownloadFeed(CString& feedId, const CString& path, int count, BOOL retry);
  BOOL SyncItem(const CString& itemId, int read, BOOL retry);
  BOOL DownloadFile(CString& url, const CString& path);
  void Terminate();
  const CString& ComputeHash(const CString& text);

  const CString& GetSID() const { return m_strSID; }
  const CString& GetToken_() const { return m_strToken; }
  CString ReaderBase() const;
  CString ApiBase() const;
  CString LoginUrl() const;

 private:
  void PrepareAgent();
  void PrepareCookie();

  CDownloader* m_pDownloader;
  CString m_strEmail;
  CString m_strPassword;
  CString m_strSID;
  CString m_strToken;
  CString m_strHash;
  CRITICAL_SECTION m_cs;
  CString m_strServiceHost;
};
