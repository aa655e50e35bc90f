#include "quillet/refresh/download_job.h"

#include <cstdlib>
#include <optional>
#include <string>

#include "common/log.h"
#include "common/settings.h"
#include "common/url_download.h"
#include "kernel/kernel.h"
#include "quillet/feeds/image_sources.h"
#include "quillet/feeds/item_store.h"
#include "quillet/feeds/load_text.h"
#include "quillet/refresh/refresh_state.h"

namespace {

BOOL NeverStop() { return FALSE; }

// "<folder>\Ch%03d.bin" beside the page.
CString StorePath(const CString& pagePath, int channel) {
  int slash = pagePath.ReverseFind(u'\\');
  CString path = slash >= 0 ? pagePath.Left(slash) : CString();
  CString name;
  name.Format(u"\\Ch%03d.bin", channel);
  return path + name;
}

CString ThumbnailPathOf(const CString& pagePath) {
  CString lower(pagePath);
  lower.MakeLower();
  int at = lower.ReverseFind(u'.');
  if (at >= 0 && lower.Mid(at) == CString(u".htm")) return pagePath.Left(at) + u".bmp";
  return pagePath + u".bmp";
}

bool IsAsciiAlnum(WCHAR c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

}  // namespace

CDownloadJob::CDownloadJob(LPCWSTR link, LPCWSTR pagePath, LPCWSTR templatePath, int option, int channel,
                           int useProxy, JobStopCallback stop, HWND notify)
    : m_hNotify(notify),
      m_strLink(link),
      m_strPagePath(pagePath),
      m_strTemplatePath(templatePath),
      m_nChannel(channel),
      m_nOption(option),
      m_nUseProxy(useProxy),
      m_pStop(stop ? stop : NeverStop) {}

CDownloadJob::~CDownloadJob() = default;

CString CDownloadJob::ResolveImageUrl(const CString& link, const CString& reference) {
  if (reference.IsEmpty()) return CString();
  int scheme = reference.Find(u"://");
  if (scheme > 0) {
    bool letters = true;
    for (int i = 0; i < scheme; ++i) {
      WCHAR c = reference[i];
      if (!(IsAsciiAlnum(c) || c == u'+' || c == u'-' || c == u'.')) letters = false;
    }
    if (letters) return reference;
  }
  int linkScheme = link.Find(u"://");
  CString linkSchemeText = linkScheme > 0 ? link.Left(linkScheme) : CString(u"http");
  if (reference.GetLength() >= 2 && reference[0] == u'/' && reference[1] == u'/')
    return linkSchemeText + u":" + reference;
  int hostStart = linkScheme > 0 ? linkScheme + 3 : 0;
  int pathStart = link.Find(u'/', hostStart);
  if (reference[0] == u'/') {
    if (linkScheme <= 0) return reference;
    return (pathStart >= 0 ? link.Left(pathStart) : link) + reference;
  }
  if (pathStart < 0) {
    if (linkScheme > 0) return link + u"/" + reference;
    int slash = link.ReverseFind(u'/');
    return slash >= 0 ? link.Left(slash + 1) + reference : reference;
  }
  int slash = link.ReverseFind(u'/');
  return link.Left(slash + 1) + reference;
}

CString CDownloadJob::TrimmedReference(const std::u16string& value) {
  // As an address is read: control characters and blanks at either end
  // dropped, tabs and line ends inside taken out.
  size_t from = 0, end = value.size();
  while (from < end && value[from] <= 0x20) ++from;
  while (end > from && value[end - 1] <= 0x20) --end;
  std::u16string reference;
  for (size_t i = from; i < end; ++i)
    if (value[i] != u'\t' && value[i] != u'\n' && value[i] != u'\r') reference += value[i];
  return CString(std::move(reference));
}

CString CDownloadJob::ImageAddress(const CString& link, const CString& reference) {
  if (reference.IsEmpty()) return CString();
  // A scheme: a letter, then letters, digits, "+", "-" or ".", then ":".
  // Only web pictures are fetched; "data:" and every other scheme stay.
  if ((reference[0] >= u'a' && reference[0] <= u'z') || (reference[0] >= u'A' && reference[0] <= u'Z')) {
    int i = 1;
    while (i < reference.GetLength() &&
           (IsAsciiAlnum(reference[i]) || reference[i] == u'+' || reference[i] == u'-' || reference[i] == u'.'))
      ++i;
    if (i < reference.GetLength() && reference[i] == u':') {
      CString scheme = reference.Left(i);
      scheme.MakeLower();
      if (scheme != CString(u"http") && scheme != CString(u"https")) return CString();
    }
  }
  return ResolveImageUrl(link, reference);
}

CString CDownloadJob::ImageExtension(const CString& reference) {
  int end = reference.FindOneOf(u"?#\"'");
  CString path = end >= 0 ? reference.Left(end) : reference;
  int slash = path.FindOneOf(u"/\\") >= 0 ? std::max(path.ReverseFind(u'/'), path.ReverseFind(u'\\')) : -1;
  CString segment = path.Mid(slash + 1);
  int dot = segment.ReverseFind(u'.');
  if (dot < 0) return CString(u".img");
  CString ext = segment.Mid(dot);
  int percent = ext.Find(u'%');
  if (percent >= 0) ext = ext.Left(percent);
  if (ext.GetLength() < 2 || ext.GetLength() > 9) return CString(u".img");
  for (int i = 1; i < ext.GetLength(); ++i)
    if (!IsAsciiAlnum(ext[i])) return CString(u".img");
  return ext;
}

void CDownloadJob::Run() {
  if (Stopped()) return;
  DWORD exitCode = 0;
  CString errorText;
  RunFetchProgram(m_strLink, m_strPagePath, m_nOption == DOWNLOAD_JOB_FULLTEXT ? m_strTemplatePath.GetString() : u"",
                  &exitCode, errorText, m_nUseProxy, nullptr);
  if (m_nOption == DOWNLOAD_JOB_FULLTEXT) {
    WriteLog(u"Download fulltext file");
    if (!FileAccess(m_strPagePath)) return;
    // A page that a stopped program wrote, or whose images were cut short,
    // is not recorded: it goes, so that the next refresh fetches it anew
    // instead of taking a half-written page for the article.
    if (Stopped()) {
      DeleteFileW(m_strPagePath);
      return;
    }
    // A thumbnail made earlier from the feed's own image stays recorded.
    DWORD newType = ITEM_TYPE_PAGE;
    if (FileAccess(ThumbnailPathOf(m_strPagePath))) newType |= ITEM_TYPE_THUMBNAIL;
    if (ReadSettingInt(u"Settings", u"DownloadImage", 1)) LocaliseImages(newType);
    if (Stopped()) {
      DeleteFileW(m_strPagePath);
      return;
    }
    // The read state and the type are written together, last: a store that
    // says the full text is there always has the whole page beside it.
    CItemStore store(0);
    store.Open(StorePath(m_strPagePath, m_nChannel), 0, 0);
    SetItemReadState(&store, m_strLink, ITEM_READ_MARK_FETCHED);
    SetItemType(&store, m_strLink, newType);
    return;
  }
  if (FileAccess(m_strPagePath) && !FileAccess(m_strTemplatePath) && m_hNotify &&
      SendMessageW(m_hNotify, WM_MAKE_CHANNEL_ICON, reinterpret_cast<WPARAM>(m_strTemplatePath.GetString()),
                   reinterpret_cast<LPARAM>(m_strPagePath.GetString())) != 0) {
    CItemStore store(0);
    store.Open(StorePath(m_strPagePath, m_nChannel), 0, 0);
    SetItemType(&store, m_strLink, ITEM_TYPE_THUMBNAIL);
  }
}

void CDownloadJob::LocaliseImages(DWORD& newType) {
  WCHAR* raw = nullptr;
  int length = 0;
  if (!LoadTextFile(m_strPagePath, &raw, &length, CP_ACP) || !raw || length == 0) {
    free(raw);
    return;
  }
  const std::u16string text(raw, size_t(length));
  free(raw);

  CString base = m_strPagePath;
  int dot = base.ReverseFind(u'.');
  if (dot > base.ReverseFind(u'\\')) base = base.Left(dot);
  CString thumbnail = ThumbnailPathOf(m_strPagePath);
  bool thumbnailMade = false;
  int n = 0;
  // Only the source values are rewritten, each where it stands; the rest of
  // the page (the same characters in its prose, comments and scripts
  // included) stays as written. A stop leaves the remaining sources alone:
  // the page is then dropped.
  auto localise = [&](const HtmlImageSource& source) -> std::optional<std::u16string> {
    if (Stopped()) return std::nullopt;
    const CString reference = TrimmedReference(source.value);
    if (reference.IsEmpty() || ImageAddress(m_strLink, reference).IsEmpty()) return std::nullopt;
    ++n;
    CString local;
    local.Format(u"%s-%02d%s", base.GetString(), n, ImageExtension(reference).GetString());
    CString localName = local.Mid(local.ReverseFind(u'\\') + 1);
    // The stop is looked at again right before each picture's transfer: a
    // stop made while the name was chosen fetches nothing more.
    if (Stopped()) return std::nullopt;
    if (n <= DOWNLOAD_JOB_MAX_IMAGES && !FileAccess(local)) {
      CString url = ImageAddress(m_strLink, reference);
      DWORD code = 0;
      CString error;
      InternetDownloadFile(url, local, &code, error, nullptr, nullptr, nullptr, URL_DOWNLOAD_MAX_PICTURE_BYTES);
    }
    if (!thumbnailMade && m_hNotify && FileAccess(local) && !FileAccess(thumbnail) &&
        SendMessageW(m_hNotify, WM_MAKE_CHANNEL_ICON, reinterpret_cast<WPARAM>(thumbnail.GetString()),
                     reinterpret_cast<LPARAM>(local.GetString())) != 0) {
      newType |= ITEM_TYPE_THUMBNAIL;
      thumbnailMade = true;
    }
    return localName.str();
  };
  const std::u16string written = RewriteImageSources(text, localise);

  int count = int(written.size());
  int bytes = WideCharToMultiByte(CP_ACP, 0, written.c_str(), count, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0 && count > 0) return;  // the page keeps what it had
  std::string out(size_t(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0) WideCharToMultiByte(CP_ACP, 0, written.c_str(), count, out.data(), bytes, nullptr, nullptr);
  HANDLE file = CreateFileW(m_strPagePath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD done = 0;
  if (!out.empty()) WriteFile(file, out.data(), DWORD(out.size()), &done, nullptr);
  CloseHandle(file);
}
