// One full-text job: the fetch program writes an item's article page with
// the channel's extraction script; the job then fetches the page's images
// (at most twelve), points the page at the local copies, makes the item's
// thumbnail and records the page in the channel's item store. A thumbnail
// job makes a thumbnail from an image already fetched.
#pragma once

#include <string>

#include "framework/afx.h"
#include "user/user.h"

// TRUE asks a job to stop.
typedef BOOL (*JobStopCallback)();

#define DOWNLOAD_JOB_FULLTEXT 0
#define DOWNLOAD_JOB_THUMBNAIL 1
// Images of a page beyond this number are pointed at local names but not
// fetched.
#define DOWNLOAD_JOB_MAX_IMAGES 12

class CDownloadJob {
 public:
  CDownloadJob(LPCWSTR link, LPCWSTR pagePath, LPCWSTR templatePath, int option, int channel, int useProxy,
               JobStopCallback stop, HWND notify);
  ~CDownloadJob();
  CDownloadJob(const CDownloadJob&) = delete;
  CDownloadJob& operator=(const CDownloadJob&) = delete;

  void Run();

  const CString& GetLink() const { return m_strLink; }
  const CString& GetPagePath() const { return m_strPagePath; }

  // The address of an image reference of a page whose item link is link:
  // absolute for "scheme://" and "//host", against the link's host for
  // "/path", else against the link's folder. Empty for an empty reference.
  static CString ResolveImageUrl(const CString& link, const CString& reference);
  // A picture source's value as an address: without the blanks and control
  // characters at its ends and the tabs and line ends inside.
  static CString TrimmedReference(const std::u16string& value);
  // The address fetched for a picture reference of the page whose item link
  // is link (see ResolveImageUrl); empty for one that is not fetched and
  // stays as written: empty, "data:" or any other scheme but http and https.
  static CString ImageAddress(const CString& link, const CString& reference);
  // The file extension given to the local copy of an image ("." included):
  // taken from the reference's last path segment, made only of letters and
  // digits, else ".img".
  static CString ImageExtension(const CString& reference);

 private:
  void LocaliseImages(DWORD& newType);
  BOOL Stopped() const { return m_pStop(); }

  HWND m_hNotify;
  CString m_strLink;
  CString m_strPagePath;
  CString m_strTemplatePath;
  int m_nChannel;
  int m_nOption;
  int m_nUseProxy;
  JobStopCallback m_pStop;
};
