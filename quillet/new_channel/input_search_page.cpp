// The online feed search (mode 5) of the wizard's URL page: the keywords
// are sent to the feed-search service through the download box, the titles
// it finds are listed, and the results the user checks are added as
// channels to one category named after the keywords.
#include "common/localize.h"
#include "common/log.h"
#include "common/settings.h"
#include "quillet/feeds/load_text.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/new_channel/download_dlg.h"
#include "quillet/new_channel/feed_search.h"
#include "quillet/new_channel/new_input_url_dlg.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"

namespace {

// Images: the touch edition at exactly 192 dpi, the touch edition
// otherwise, key devices.
const UINT kKeywordsImages[3] = {386, 384, 385};
const UINT kSearchImages[3] = {304, 303, 356};
const UINT kRedefineImages[3] = {323, 322, 368};
const UINT kResultImages[3] = {299, 245, 373};
// The mark of the selected row (touch) and of a checked result.
const int kChecked[3] = {301, 265, 371};

int ImageColumn() {
  if (!GetTouchFlag()) return 2;
  return GetScreenDpiY() == 192 ? 0 : 1;
}

}  // namespace

CString CNewInputUrlDlg::GetResultTitle(const CString& url) const {
  CString title;
  m_resultTitles.Lookup(url, title);
  return title;
}

void CNewInputUrlDlg::AddSearchRows() {
  const int column = ImageColumn();
  const BOOL touch = GetTouchFlag();
  if (!HasResults()) {
    CString keywords = m_strFirst;
    if (keywords.IsEmpty()) keywords = Localized(touch ? u"[ Tap for editing keywords... ]" : u"[ keywords ]");
    m_pList->AddItem(keywords, nullptr, static_cast<int>(kKeywordsImages[column]), kChecked[column],
                     INPUT_ROW_FIRST);
    if (touch)
      m_pList->AddItem(Localized(u"Search online"), nullptr, static_cast<int>(kSearchImages[column]), kChecked[column],
                       INPUT_ROW_THIRD);
    return;
  }
  m_pList->AddItem(Localized(u"Redefine search"), nullptr, static_cast<int>(kRedefineImages[column]), -1,
                   INPUT_ROW_REDEFINE);
  UINT id = INPUT_ROW_RESULT;
  for (POSITION p = m_resultUrls.GetHeadPosition(); p; ++id) {
    const CString& url = m_resultUrls.GetNext(p);
    CTouchListItem* row =
        m_pList->AddItem(GetResultTitle(url), nullptr, static_cast<int>(kResultImages[column]), kChecked[column], id);
    // A layout while results are checked (the keys of key devices build
    // the rows again) keeps their marks.
    if (row && m_checkedUrls.Find(url)) row->m_nCheckValue = 1;
  }
}

void CNewInputUrlDlg::Search() {
  WCHAR root[MAX_PATH] = {0};
  GetDataRoot(root);
  CString path = root;
  path += u"\\ChannelData";
  ::CreateDirectoryW(path, nullptr);
  path += u"\\Validate~.xml";
  BOOL fetched;
  {
    CDownloadDlg download(this);
    download.SetSingleDownload(FeedSearchUrl(m_strFirst), path);
    download.DoModal();
    fetched = !download.m_bCancelled && !download.m_bFailed;
  }
  if (fetched && ::IsWindow(m_hWnd)) {
    m_resultTitles.RemoveAll();
    m_resultUrls.RemoveAll();
    m_checkedUrls.RemoveAll();
    WCHAR* text = nullptr;
    int length = 0;
    if (LoadTextFile(path, &text, &length, CP_UTF8) && text && length > 0) {
      ReadFeedSearchReply(text, length, m_resultTitles, m_resultUrls);
      LayoutRows(TRUE);
    }
    free(text);
    SetFocus();
    if (!GetTouchFlag() && !HasResults()) StartInlineEdit();
  }
  ::DeleteFileW(path);
}

void CNewInputUrlDlg::RedefineSearch() {
  m_resultTitles.RemoveAll();
  m_resultUrls.RemoveAll();
  m_checkedUrls.RemoveAll();
  LayoutRows(TRUE);
  if (!GetTouchFlag()) StartInlineEdit();
}

void CNewInputUrlDlg::ToggleResult(UINT id) {
  POSITION at = m_resultUrls.FindIndex(static_cast<int>(id - INPUT_ROW_RESULT));
  if (!at || !m_pList) return;
  const CString url = m_resultUrls.GetAt(at);
  if (POSITION checked = m_checkedUrls.Find(url)) {
    m_pList->SetItemCheck(id, 0);
    m_checkedUrls.RemoveAt(checked);
  } else {
    m_pList->SetItemCheck(id, 1);
    m_checkedUrls.AddTail(url);
  }
}

void CNewInputUrlDlg::AddCheckedResults() {
  if (m_nMode != 5 || m_checkedUrls.IsEmpty()) return;
  WriteLog(u"Add Channels:");
  CString category = m_strFirst;
  if (category.IsEmpty()) category = Localized(u"Others");
  std::vector<CString> subscribed;
  if (m_pOpml) {
    for (POSITION p = m_checkedUrls.GetHeadPosition(); p;) {
      const CString& url = m_checkedUrls.GetNext(p);
      // Only web addresses become channels: a reply naming a local file
      // or another scheme adds nothing.
      if (!IsFeedAddress(url)) continue;
      // A feed the list holds already stays as it is.
      if (m_pOpml->HasChannel(url)) {
        subscribed.push_back(GetResultTitle(url));
        continue;
      }
      // A refused insertion (a channel of that title already in the
      // category) is skipped.
      m_pOpml->AddChannel(category, GetResultTitle(url), url);
    }
  }
  TellAlreadySubscribed(m_hWnd, subscribed);
  ::SendMessageW(::GetParent(m_hWnd), WM_WIZARD_CHANNELS_ADDED, 0, 0);
}

void CNewInputUrlDlg::UpdateFinishState() {
  if (m_nMode == 4) {
    m_bFinishAllowed = TRUE;
    return;
  }
  if (m_nMode != 5) return;
  m_bFinishAllowed = HasResults();
  if (GetTouchFlag()) return;
  const CString title = Localized(HasResults() ? u"Add Channels" : u"Search");
  if (title == m_strSoftKey) return;
  if (HWND bar = SHFindMenuBar(::GetParent(m_hWnd))) {
    SetSoftKeyText(bar, IDOK, HasResults() ? u"Add Channels" : u"Search");
    ::DrawMenuBar(bar);
    m_strSoftKey = title;
  }
}
