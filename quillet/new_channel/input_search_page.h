// The online feed search (mode 5) of the wizard's URL page, as the page
// holds it: the keywords go to the feed-search service through the download
// box, the titles it finds become the page's rows, and the results the user
// checks are added (by the page) as channels to one category named after
// the keywords. The URL page owns one and gives it its list and its
// keywords; the search knows nothing else of the page.
#pragma once

#include "framework/afx.h"
#include "framework/coll.h"

class CTouchMenuList;

class CFeedSearchResults {
 public:
  // The results in the reply's order, and the checked ones in the order
  // they were checked.
  const CStringList& GetResultUrls() const { return m_resultUrls; }
  const CStringList& GetCheckedUrls() const { return m_checkedUrls; }
  CString GetResultTitle(const CString& url) const;
  BOOL HasResults() const { return !m_resultUrls.IsEmpty(); }

  // The search's rows: without results the keywords (and on a touch
  // screen "Search online"), else "Redefine search" and a row per result.
  void AddRows(CTouchMenuList* list, const CString& keywords) const;
  // Sends the keywords to the service through the download box (owned by
  // parent). FALSE when the download was cancelled or failed, or parent
  // went meanwhile; else the results are those of the reply (none when it
  // could not be read), and replied tells whether it could.
  BOOL Search(CWnd* parent, const CString& keywords, BOOL& replied);
  // Forgets the results and the checks.
  void Clear();
  // Checks or unchecks the result of the row.
  void Toggle(CTouchMenuList* list, UINT id);

 private:
  CMapStringToString m_resultTitles;
  CStringList m_resultUrls;
  CStringList m_checkedUrls;
};
