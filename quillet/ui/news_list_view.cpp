// The headline list view.
#include "quillet/ui/news_list_view.h"

#include <algorithm>

#include "common/display_date.h"
#include "quillet/res/resources.h"
#include "user/user.h"

// ---------------------------------------------------------------- construction

CNewsListView::CNewsListView() : CPaintedList(41, u"No articles available.") {
  RegisterQuilletResources();
  const bool hi = m_nDpiY == 192;
  m_defaultPicture.LoadFromResource(nullptr, hi ? IDR_PNG_NEWS_DEFAULT_192 : IDR_PNG_NEWS_DEFAULT);
  m_unreadImage.LoadFromResource(nullptr, hi ? IDR_PNG_NEWS_UNREAD_192 : IDR_PNG_NEWS_UNREAD);
  m_unreadFullImage.LoadFromResource(nullptr, hi ? IDR_PNG_NEWS_UNREAD_FULL_192 : IDR_PNG_NEWS_UNREAD_FULL);
  m_pendingImage.LoadFromResource(nullptr, hi ? IDR_PNG_REFRESH_PENDING_192 : IDR_PNG_REFRESH_PENDING);
  m_readImage.LoadFromResource(nullptr, hi ? IDR_PNG_NEWS_READ_192 : IDR_PNG_NEWS_READ);
  m_readFullImage.LoadFromResource(nullptr, hi ? IDR_PNG_NEWS_READ_FULL_192 : IDR_PNG_NEWS_READ_FULL);
}

CNewsListView::~CNewsListView() = default;

CTouchImage& CNewsListView::ReadStateImage(BOOL read, BOOL fullText) {
  if (read) return fullText ? m_readFullImage : m_readImage;
  return fullText ? m_unreadFullImage : m_unreadImage;
}

// ---------------------------------------------------------------- rows

void CNewsListView::LoadPicture(CNewsListItem* row) {
  if (row->m_strPicturePath.IsEmpty() || row->m_pPicture) return;
  auto* dib = new CDib();
  if (dib->Load(row->m_strPicturePath)) {
    row->m_pPicture = dib;
    row->m_nPictureWidth = dib->GetWidth();
    row->m_nPictureHeight = dib->GetHeight();
  } else {
    delete dib;
  }
}

void CNewsListView::AddItem(LPCWSTR title, LPCWSTR date, LPCWSTR link, LPCWSTR picturePath, LPCWSTR pageFile,
                            BOOL read, BOOL pending) {
  // A list that holds all the rows it may takes no more: the row is not
  // made, and its picture not read (a channel can hold many more items).
  {
    Guard guard(m_lock);
    if (!m_pItems || m_nCount >= NEWS_LIST_MAX_ROWS) return;
  }
  // The picture is read before the lock is taken: the rows are not touched.
  auto* row = new CNewsListItem();
  row->m_strTitle = title;
  row->m_strTitle.Trim();
  row->m_strDate = date;
  row->m_strLink = link;
  row->m_strPicturePath = picturePath;
  row->m_strPageFile = pageFile;
  row->m_bRead = read ? TRUE : FALSE;
  row->m_bPending = pending ? TRUE : FALSE;
  row->m_bFullText = row->m_strPageFile.Find(u".htm") >= 0;
  LoadPicture(row);

  Guard guard(m_lock);
  if (!m_pItems || m_nCount >= NEWS_LIST_MAX_ROWS) {
    DestroyItem(row);
    return;
  }
  int index;
  if (row->m_strLink.Compare(NEWS_ERROR_LINK) == 0) {
    index = 0;
  } else {
    // Unread rows before read ones; within a group, newer dates first and a
    // new row after rows of an equal date. Error rows stay on top: the
    // search starts below them.
    int lo = 0, hi = m_nCount;
    while (lo < m_nCount && m_pItems[lo]->m_strLink.Compare(NEWS_ERROR_LINK) == 0) ++lo;
    while (lo < hi) {
      int mid = (lo + hi) / 2;
      const CNewsListItem* probe = m_pItems[mid];
      bool left;
      if (probe->m_bRead && !row->m_bRead) left = true;
      else if (!probe->m_bRead && row->m_bRead) left = false;
      else left = row->m_strDate.Compare(probe->m_strDate) > 0;
      if (left) hi = mid;
      else lo = mid + 1;
    }
    index = lo;
  }
  InsertRow(index, row);
}

void CNewsListView::RemoveAllItems() {
  Guard guard(m_lock);
  DestroyAllRows();
  m_open = CNewsListOpen();
  m_bFullPaint = TRUE;
}

BOOL CNewsListView::LoadItemBitmap(int row, LPCWSTR picturePath) {
  Guard guard(m_lock);
  if (row < 0 || row >= m_nCount) return FALSE;
  CNewsListItem* item = m_pItems[row];
  item->m_strPicturePath = picturePath;
  LoadPicture(item);
  return TRUE;
}

BOOL CNewsListView::SetItemRead(int row, BOOL read) {
  return ChangeRow(row, [&](CNewsListItem& item) { item.m_bRead = read ? TRUE : FALSE; });
}

BOOL CNewsListView::SetItemPending(int row, BOOL pending) {
  return ChangeRow(row, [&](CNewsListItem& item) { item.m_bPending = pending ? TRUE : FALSE; });
}

BOOL CNewsListView::SetItemFullText(int row, BOOL fullText) {
  return ChangeRow(row, [&](CNewsListItem& item) { item.m_bFullText = fullText ? TRUE : FALSE; });
}

void CNewsListView::OpenFocusedItem() {
  {
    Guard guard(m_lock);
    if (!m_pCallback || m_nFocus < 0 || m_nFocus >= m_nCount) return;
    m_pItems[m_nFocus]->m_bRead = TRUE;
    DropRendering(m_nFocus);
    m_open.pending = true;
    m_open.row = m_nFocus;
    m_open.x = -1;
  }
  FirePendingOpen();
}

BOOL CNewsListView::GetListItemTitle(int row, CString& out) {
  return CopyRowText(row, &CNewsListItem::m_strDate, out);
}

// ---------------------------------------------------------------- scroller client

void CNewsListView::OnClick(HWND, DWORD_PTR, int x, int y) {
  Guard guard(m_lock);
  if (!m_pCallback) return;
  const int i = RowAt(y);
  if (i < 0) return;
  CNewsListItem* row = m_pItems[i];
  // A tap on the picture strip of an unread row opens it without marking
  // it read.
  if (!row->m_bRead && !(x >= 0 && x < 52 * m_nDpiX / 96)) {
    row->m_bRead = TRUE;
    DropRendering(i);
  }
  m_open.pending = true;
  m_open.row = i;
  m_open.x = x;
}

// ---------------------------------------------------------------- painting

void CNewsListView::PaintRow(CNewsListItem* row, int index, HDC dc, int width, BOOL selected) {
  const int X = m_nDpiX, Y = m_nDpiY;
  auto sx = [&](int v) { return v * X / 96; };
  auto sy = [&](int v) { return v * Y / 96; };
  // 1. Bold while unread.
  HGDIOBJ savedFont = SelectObject(dc, row->m_bRead ? m_hFont : m_hBoldFont);
  // 2. Shade: rows get lighter down the list.
  const int w = PaintRowShade(dc, index, width, selected);
  // 3. The row's picture, else the default one.
  if (row->m_pPicture) {
    row->m_pPicture->Draw(dc, sx(4), (m_nBase - row->m_nPictureHeight) / 2);
  } else if (m_defaultPicture.HasImageHandle()) {
    m_defaultPicture.Draw(dc, sx(4), m_touch ? (sy(41) - sy(32)) / 2 : 4);
  }
  // 4. Title.
  SetBkMode(dc, TRANSPARENT);
  COLORREF oldText = SetTextColor(dc, RGB(255, 255, 255));
  const int textLeft = (m_touch ? sy(32) : 32) + 2 * sx(4);
  RECT title = {textLeft, sx(2), width - sx(4), m_nBase / 2};
  DrawTextEllipsis(dc, row->m_strTitle, title, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_WORD_ELLIPSIS, 0);
  // 5. Date.
  SetTextColor(dc, RGB(192, 192, 192));
  HGDIOBJ beforeDate = SelectObject(dc, m_touch ? m_hFont : m_hSmallFont);
  CString date;
  FormatDisplayDate(date, row->m_strDate);
  RECT dateBox = {textLeft, m_nBase / 2, width - sx(4), m_nBase - sx(2)};
  DrawTextEllipsis(dc, date, dateBox, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX, 0);
  if (beforeDate) SelectObject(dc, beforeDate);
  // 6. Read state; the unread-with-full-text image places all four.
  CTouchImage& state = ReadStateImage(row->m_bRead, row->m_bFullText);
  const int stateX = width - sx(4) - m_unreadFullImage.GetWidth();
  const int stateY = 3 * m_nBase / 4 - m_unreadFullImage.GetHeight() / 2 - sy(1);
  state.Draw(dc, stateX, stateY);
  // 7. Pending full text.
  if (row->m_bPending && m_pendingImage.HasImageHandle())
    m_pendingImage.Draw(dc, width - sx(4) - sx(6) - m_unreadImage.GetWidth() - m_pendingImage.GetWidth(),
                        3 * m_nBase / 4 - m_pendingImage.GetHeight() / 2 - sy(1));
  // 8. Separator.
  SetTextColor(dc, oldText);
  FillSolid(dc, 0, m_nBase, width, m_nBase + sy(1), Dark(w + 20));
  if (savedFont) SelectObject(dc, savedFont);
}
