// The online feed search (mode 5) of the wizard's URL page (see
// input_search_page.h).
#include "quillet/new_channel/input_search_page.h"

#include "common/localize.h"
#include "common/log.h"
#include "common/settings.h"
#include "quillet/feeds/load_text.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/new_channel/download_dlg.h"
#include "quillet/new_channel/feed_search.h"
#include "quillet/new_channel/wizard_rows.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"
#include "quillet/ui/touch_list.h"
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

CString CFeedSearchResults::GetResultTitle(const CString& url) const {
  CString title;
  m_resultTitles.Lookup(url, title);
  return title;
}

void CFeedSearchResults::AddRows(CTouchMenuList* list, const CString& keywordsText) const {
  if (!list) return;
  const int column = ImageColumn();
  const BOOL touch = GetTouchFlag();
  if (!HasResults()) {
    CString keywords = keywordsText;
    if (keywords.IsEmpty()) keywords = Localized(touch ? u"[ Tap for editing keywords... ]" : u"[ keywords ]");
    list->AddItem(keywords, nullptr, static_cast<int>(kKeywordsImages[column]), kChecked[column], INPUT_ROW_FIRST);
    if (touch)
      list->AddItem(Localized(u"Search online"), nullptr, static_cast<int>(kSearchImages[column]), kChecked[column],
                    INPUT_ROW_THIRD);
    return;
  }
  list->AddItem(Localized(u"Redefine search"), nullptr, static_cast<int>(kRedefineImages[column]), -1,
                INPUT_ROW_REDEFINE);
  UINT id = INPUT_ROW_RESULT;
  for (POSITION p = m_resultUrls.GetHeadPosition(); p; ++id) {
    const CString& url = m_resultUrls.GetNext(p);
    CTouchListItem* row =
        list->AddItem(GetResultTitle(url), nullptr, static_cast<int>(kResultImages[column]), kChecked[column], id);
    // A layout while results are checked (the keys of key devices build
    // the rows again) keeps their marks.
    if (row && m_checkedUrls.Find(url)) row->m_nCheckValue = 1;
  }
}

BOOL CFeedSearchResults::Search(CWnd* parent, const CString& keywords, BOOL& replied) {
  replied = FALSE;
  CString path;
  BOOL fetched = FetchToValidateFile(parent, FeedSearchUrl(keywords), path);
  fetched = fetched && parent && ::IsWindow(parent->m_hWnd);
  if (fetched) {
    Clear();
    WCHAR* text = nullptr;
    int length = 0;
    if (LoadTextFile(path, &text, &length, CP_UTF8) && text && length > 0) {
      ReadFeedSearchReply(text, length, m_resultTitles, m_resultUrls);
      replied = TRUE;
    }
    free(text);
  }
  ::DeleteFileW(path);
  return fetched;
}

void CFeedSearchResults::Clear() {
  m_resultTitles.RemoveAll();
  m_resultUrls.RemoveAll();
  m_checkedUrls.RemoveAll();
}

void CFeedSearchResults::Toggle(CTouchMenuList* list, UINT id) {
  POSITION at = m_resultUrls.FindIndex(static_cast<int>(id - INPUT_ROW_RESULT));
  if (!at || !list) return;
  const CString url = m_resultUrls.GetAt(at);
  if (POSITION checked = m_checkedUrls.Find(url)) {
    list->SetItemCheck(id, 0);
    m_checkedUrls.RemoveAt(checked);
  } else {
    list->SetItemCheck(id, 1);
    m_checkedUrls.AddTail(url);
  }
}
