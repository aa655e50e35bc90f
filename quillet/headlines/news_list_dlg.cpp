#include "quillet/headlines/news_list_dlg.h"

#include <cstdlib>
#include <optional>

#include "common/localize.h"
#include "common/log.h"
#include "common/settings.h"
#include "quillet/feeds/item_store.h"
#include "quillet/feeds/load_text.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/refresh/download_manager.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/res/resources.h"
#include "quillet/screens/channel_files.h"
#include "quillet/headlines/news_list_menu_dlg.h"
#include "quillet/screens/screen_frame.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/send_mail.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"
#include "quillet/ui/touch_list.h"
#include "shell/aygshell.h"

BEGIN_MESSAGE_MAP(CNewsListDlg, CDialog)
ON_WM_SIZE()
ON_WM_PAINT()
ON_WM_ERASEBKGND()
ON_WM_TIMER()
ON_WM_LBUTTONDOWN()
ON_WM_INITMENUPOPUP()
ON_WM_ACTIVATE()
ON_WM_CLOSE()
ON_COMMAND(ID_REFRESH, OnRefresh)
ON_COMMAND(ID_MARK_READ, OnMarkRead)
ON_COMMAND(ID_MARK_UNREAD, OnMarkUnread)
ON_COMMAND(ID_ALL_READ, OnAllRead)
ON_COMMAND(ID_ALL_UNREAD, OnAllUnread)
ON_COMMAND(ID_BACK_TO_CHANNELS, OnBackToChannels)
ON_COMMAND(ID_DELETE_ITEM, OnDeleteItem)
ON_COMMAND(ID_DELETE_ALL_ITEMS, OnDeleteAllItems)
ON_COMMAND(ID_DELETE_CHANNEL, OnDeleteChannel)
ON_COMMAND(ID_CHANNEL_PROPERTIES, OnChannelProperties)
ON_COMMAND(ID_CHANGE_CATEGORY, OnChangeCategory)
END_MESSAGE_MAP()

namespace {

BOOL IsUnreadState(DWORD state) { return state == ITEM_READ_UNREAD || state == ITEM_READ_UNREAD_FETCHED; }

CDownloadManager* Manager() {
  CRefreshApp* app = GetRefreshApp();
  return app ? &app->DownloadManager() : nullptr;
}

// The picture beside an item: its page name with ".bmp" for ".htm".
CString PicturePath(const CString& pageName) {
  CString name(pageName);
  name.Replace(u".htm", u".bmp");
  return ChannelDataFolder() + u"\\" + name;
}

}  // namespace

CNewsListDlg::CNewsListDlg(const CString& channelTitle, const CString& channelUrl, int channel,
                           CChannelListFields* owner)
    : CDialog(IDD_NEWS_LIST, owner ? CWnd::FromHandle(owner->GetDialogWindow()) : nullptr),
      m_strChannelTitle(channelTitle),
      m_strChannelUrl(channelUrl),
      m_nChannel(channel),
      m_pOwner(owner) {
  InitScreenDpi(0);
  RegisterQuilletResources();
  m_hFont = CreateSystemFont(FW_NORMAL, Dy(13));
  m_hBoldFont = CreateSystemFont(FW_BOLD, Dy(13));
  m_titleIcon.LoadFromResource(nullptr, ImageIdAt192(IDR_PNG_NEWS_TITLE_ICON, IDR_PNG_NEWS_TITLE_ICON_192));
  m_highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  m_nFullTextMessage = RefreshMessage(MSG_DOWNLOAD_ITEM_FULLTEXT);
  m_nStartMessage = RefreshMessage(MSG_DOWNLOAD_START);
  m_nRefreshMessage = RefreshMessage(MSG_DOWNLOAD_REFRESH);
  m_nFinishedMessage = RefreshMessage(MSG_DOWNLOAD_FINISHED);
}

CNewsListDlg::~CNewsListDlg() {
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
  delete m_pStore;
  m_pList = nullptr;
  delete m_pBar;
  if (m_hFont) ::DeleteObject(m_hFont);
  if (m_hBoldFont) ::DeleteObject(m_hBoldFont);
  m_contents.clear();
  m_titles.clear();
  m_titleIcon.Free();
}

void CNewsListDlg::GetCounts(int& channel, int& itemCount, int& unreadCount) const {
  channel = m_nChannel;
  itemCount = m_nItemCount;
  unreadCount = m_nUnreadCount;
}

CString CNewsListDlg::StorePath() const {
  CString path;
  path.Format(u"%s\\Ch%03d.bin", ChannelDataFolder().GetString(), m_nChannel);
  return path;
}

int CNewsListDlg::GetTitleBandHeight() const { return GetTouchFlag() ? Dy(41) : 29; }

int CNewsListDlg::ListHeight() const {
  CRect client, window;
  ::GetClientRect(m_hWnd, &client);
  ::GetWindowRect(m_hWnd, &window);
  const int top = client.top + GetTitleBandHeight();
  const int bottom = m_pBar ? ::GetSystemMetrics(SM_CYSCREEN) - window.top - Dy(40) : client.bottom;
  return bottom > top ? bottom - top : 0;
}

// ---------------------------------------------------------------- start

BOOL CNewsListDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  const BOOL touch = GetTouchFlag();
  SetWindowText(touch ? u"Quillet Reach" : u"Quillet");
  InitScreenDpi(0);
  int barHeight = 0;
  if (touch) {
    SHFullScreen(m_hWnd, SHFS_HIDESIPBUTTON);
    if (HWND bar = SHFindMenuBar(m_hWnd)) ::ShowWindow(bar, SW_HIDE);
  } else {
    HWND bar = CreateMenuBar(m_hWnd, IDR_NEWS_LIST_MENU);
    if (!bar) {
      // Without its soft keys the screen could not be left: it ends at once.
      EndDialog(IDCANCEL);
      return -1;
    }
    SetSoftKeyText(bar, ID_BACK_TO_CHANNELS, u"Channels");
    SetSoftKeyText(bar, ID_MENU_KEY, u"Menu");
    ::DrawMenuBar(bar);
    RECT r{};
    ::GetWindowRect(bar, &r);
    barHeight = r.bottom - r.top;
  }
  CRect window;
  GetWindowRect(&window);
  // The screen starts below the task bar, where the main window starts.
  if (CWnd* main = AfxGetMainWnd(); main && main->GetSafeHwnd() && main != this) {
    CRect frame;
    main->GetWindowRect(&frame);
    if (window.top < frame.top) window.top = frame.top;
  }
  const int width = ::GetSystemMetrics(SM_CXSCREEN);
  const int height = ::GetSystemMetrics(SM_CYSCREEN) - barHeight - window.top;
  MoveWindow(0, window.top, width, height > 0 ? height : 0, TRUE);

  m_pList = &m_list;
  if (touch) {
    m_pBar = new CImageButtonBar();
    m_pBar->LoadPressedImage(nullptr, ImageIdAt192(IDR_PNG_BAR_PRESSED, IDR_PNG_BAR_PRESSED_192));
  }
  CRect client;
  GetClientRect(&client);
  m_pList->Create(AfxGetInstanceHandle(), m_hWnd, client.left, client.top + GetTitleBandHeight(), client.Width(),
                  ListHeight(), reinterpret_cast<DWORD_PTR>(this), OpenArticle);
  if (m_pBar) {
    CDownloadManager* manager = Manager();
    m_pBar->SetButton(0, nullptr, ImageIdAt192(IDR_PNG_BAR_BACK, IDR_PNG_BAR_BACK_192), NEWS_BAR_BACK);
    SetRefreshImage(manager && !manager->IsIdle());
    m_pBar->SetButton(4, nullptr, ImageIdAt192(IDR_PNG_BAR_MENU, IDR_PNG_BAR_MENU_192), NEWS_BAR_MENU);
  }
  SetTimer(NEWS_DLG_TIMER_LOAD, 5, nullptr);
  return TRUE;
}

void CNewsListDlg::SetRefreshImage(BOOL running) {
  if (!m_pBar) return;
  m_pBar->SetButton(2, nullptr,
                    running ? ImageIdAt192(IDR_PNG_BAR_CANCEL, IDR_PNG_BAR_CANCEL_192)
                            : ImageIdAt192(IDR_PNG_BAR_REFRESH, IDR_PNG_BAR_REFRESH_192),
                    NEWS_BAR_REFRESH);
}

// ---------------------------------------------------------------- loading

void CNewsListDlg::LoadRows() {
  if (!m_pList) return;
  CWaitCursor wait;
  m_pList->RemoveAllItems();
  RedrawTitleBand();
  if (!m_pStore) m_pStore = new CItemStore(0);
  m_pStore->Open(StorePath(), 1, 1);
  m_pStore->ResetRecord();
  m_nItemCount = 0;
  m_nUnreadCount = 0;
  m_contents.clear();
  m_titles.clear();
  CDownloadManager* manager = Manager();
  while (m_pStore->MoveNext()) {
    const CItemRecord& record = m_pStore->Current();
    const BOOL unread = IsUnreadState(record.readFlag);
    if ((record.type >> 16) != 1) {
      ++m_nItemCount;
      if (unread) ++m_nUnreadCount;
    }
    CString date = record.date.Left(16);
    CString picture;
    if (record.type & ITEM_TYPE_THUMBNAIL) picture = PicturePath(record.pageName);
    CString page;
    if (record.type & ITEM_TYPE_PAGE) page = record.pageName;
    const BOOL queued = manager && manager->HasJob(record.link);
    m_pList->AddItem(record.title, date, record.link, picture, page, !unread, queued);
    m_contents[record.link.str()] = record.content;
    m_titles[record.link.str()] = record.title;
  }
  m_bLoaded = TRUE;
  m_pList->SetShowEmptyText(TRUE);
  if (!GetTouchFlag() && m_pList->GetItemCount() > 0 && m_pList->GetFocusedItem() < 0) m_pList->FocusNext();
  m_pList->Redraw(!IsCovered());
  RedrawTitleBand();
}

void CNewsListDlg::OnTimer(UINT_PTR id) {
  switch (id) {
    case NEWS_DLG_TIMER_LOAD:
      KillTimer(NEWS_DLG_TIMER_LOAD);
      LoadRows();
      return;
    case NEWS_DLG_TIMER_CLEAR: {
      KillTimer(NEWS_DLG_TIMER_CLEAR);
      {
        CSingleLock hold(&m_lock, TRUE);
        if (m_pList) {
          m_pList->RemoveAllItems();
          m_pList->Redraw(TRUE);
        }
      }
      RedrawTitleBand();
      CRect client;
      GetClientRect(&client);
      client.top += GetTitleBandHeight();
      client.bottom -= Dy(40);
      InvalidateRect(&client, FALSE);
      UpdateWindow();
      return;
    }
    case NEWS_DLG_TIMER_MENU:
      KillTimer(NEWS_DLG_TIMER_MENU);
      {
        CNewsListMenuDlg menu(this);
        menu.DoModal();
      }
      // The screen may have ended while its menu showed; else it takes the
      // keys again (an action hid the menu before it closed).
      if (!::IsWindow(m_hWnd)) return;
      ::SetActiveWindow(m_hWnd);
      // Its Properties may rename the channel: the title is read again.
      if (m_pOwner && m_pOwner->m_pOpml) {
        CString title;
        if (m_pOwner->m_pOpml->GetChannelAttribute(m_strChannelUrl, u"text", title) && !title.IsEmpty())
          m_strChannelTitle = title;
      }
      RedrawTitleBand();
      break;
    default:
      break;
  }
  if (m_pList) m_pList->OnTimer(m_hWnd, id);
  Default();
}

// ---------------------------------------------------------------- articles

BOOL CNewsListDlg::PrepareArticle(ArticleInfo& info, const CString& link, const CString& title) {
  CString body;
  if (auto it = m_contents.find(link.str()); it != m_contents.end()) body = it->second;
  CString date;
  BOOL wasRead = FALSE, hasPage = FALSE, markedRead = FALSE;
  // The link is the item's key: an empty one would reach every item of the
  // store, so nothing is written for it.
  if (m_pStore && !link.IsEmpty()) {
    if (m_pStore->FindRecord(link, u"")) {
      const CItemRecord record = m_pStore->Current();
      wasRead = !IsUnreadState(record.readFlag);
      date = record.date;
      if (!record.pageName.IsEmpty()) {
        CString page = ChannelDataFolder() + u"\\" + record.pageName;
        if (FileAccess(page)) {
          hasPage = TRUE;
          WCHAR* text = nullptr;
          int length = 0;
          if (LoadTextFile(page, &text, &length, CP_ACP) && text && length > 0) body = CString(text, length);
          free(text);
        }
      }
      int changed = SetItemReadState(m_pStore, link, ITEM_READ_READ);
      changed |= SetItemReadState(m_pStore, link, ITEM_READ_READ_FETCHED);
      markedRead = wasRead || changed;
      if (!wasRead && changed && link != NEWS_ERROR_LINK && m_nUnreadCount > 0) --m_nUnreadCount;
    }
  }
  (void)title;
  info.nChannel = m_nChannel;
  info.strChannelTitle = m_strChannelTitle;
  if (auto it = m_titles.find(link.str()); it != m_titles.end()) info.strTitle = it->second;
  else info.strTitle.Empty();
  info.strBody = body;
  info.strLink = link;
  info.strDate = date;
  info.bWasRead = wasRead;
  info.bHasPage = hasPage;
  return markedRead;
}

void CNewsListDlg::OpenArticle(HWND, DWORD_PTR context, int row, int) {
  auto* self = reinterpret_cast<CNewsListDlg*>(context);
  if (!self || !self->m_pList) return;
  CNewsListItem item;
  if (!self->m_pList->GetItem(row, item)) return;
  ArticleInfo info;
  if (self->PrepareArticle(info, item.m_strLink, item.m_strTitle)) self->m_pList->SetItemRead(row, TRUE);
  self->RedrawTitleBand();
  CScreenFrame* frame = ScreenFrame();
  if (!frame) return;
  const BOOL deleteRequested = frame->RunReadingView(info, self, self);
  // The program may have ended while the view showed.
  if (!::IsWindow(self->m_hWnd)) return;
  SHFullScreen(self->m_hWnd, SHFS_HIDESIPBUTTON);
  if (deleteRequested) {
    const CString& link = info.strLink;
    for (int i = 0, n = self->m_pList->GetItemCount(); i < n; ++i) {
      CNewsListItem candidate;
      if (self->m_pList->GetItem(i, candidate) && candidate.m_strLink == link) {
        self->DeleteRow(i);
        break;
      }
    }
  }
  self->m_pList->Redraw(TRUE);
  self->RedrawTitleBand();
  self->RedrawBar();
}

BOOL CNewsListDlg::MoveArticle(ArticleInfo& info, int step, const CString& link, const CString& title) {
  if (!m_pList) return FALSE;
  const int count = m_pList->GetItemCount();
  if (count <= 0) return FALSE;
  int index = -1;
  for (int i = 0; i < count; ++i) {
    CNewsListItem row;
    if (!m_pList->GetItem(i, row)) continue;
    // The reading view gives its link as the title too, so either matches.
    if (row.m_strLink == link || (!title.IsEmpty() && row.m_strTitle == title)) index = i;
  }
  // Before the first row comes the last, after the last the first.
  int target = index + step;
  if (target < 0) target = count - 1;
  else if (target >= count) target = 0;
  CNewsListItem row;
  if (!m_pList->GetItem(target, row)) return FALSE;
  // The row shows what the store holds: read once the store took it.
  if (PrepareArticle(info, row.m_strLink, row.m_strTitle) && !row.m_bRead) {
    m_pList->SetItemRead(target, TRUE);
    // The view covers the screen: the list is drawn into its buffer only.
    m_pList->Redraw(FALSE);
  }
  return TRUE;
}

// ---------------------------------------------------------------- read state

void CNewsListDlg::WriteCount(LPCWSTR name, int value) {
  if (!m_pOwner || !m_pOwner->m_pOpml) return;
  CString text;
  text.Format(u"%d", value);
  m_pOwner->m_pOpml->SetChannelAttribute(m_strChannelUrl, name, text);
}

void CNewsListDlg::SetReadState(BOOL all, BOOL read) {
  if (m_nChannel < 1 || !m_pList) return;
  const CString path = StorePath();
  // A store that is not there takes no change: the counts stay.
  if (!FileAccess(path)) return;
  // Marking every item shows the wait cursor.
  std::optional<CWaitCursor> wait;
  if (all) wait.emplace();
  CItemStore store(0);
  store.Open(path, 0, 0);
  CSingleLock hold(&m_lock, TRUE);
  if (!all) {
    const int focused = m_pList->GetFocusedItem();
    CNewsListItem row;
    if (focused < 0 || !m_pList->GetItem(focused, row) || row.m_strLink.IsEmpty()) return;
    if (!store.FindRecord(row.m_strLink, u"")) return;
    const BOOL wasRead = !IsUnreadState(store.Current().readFlag);
    SetItemReadState(&store, row.m_strLink, read ? ITEM_READ_READ : ITEM_READ_UNREAD);
    SetItemReadState(&store, row.m_strLink, read ? ITEM_READ_READ_FETCHED : ITEM_READ_UNREAD_FETCHED);
    BOOL nowRead = wasRead;
    if (store.FindRecord(row.m_strLink, u"")) nowRead = !IsUnreadState(store.Current().readFlag);
    // The error item is counted nowhere.
    if (nowRead != wasRead && row.m_strLink != NEWS_ERROR_LINK) m_nUnreadCount += nowRead ? -1 : 1;
    if (m_nUnreadCount < 0) m_nUnreadCount = 0;
    WriteCount(u"newItemCount", m_nUnreadCount);
    m_pList->SetItemRead(focused, nowRead);
  } else {
    SetItemReadFlag(&store, read ? ITEM_READ_READ : ITEM_READ_UNREAD);
    SetItemReadFlag(&store, read ? ITEM_READ_READ_FETCHED : ITEM_READ_UNREAD_FETCHED);
    m_nUnreadCount = read ? 0 : m_nItemCount;
    WriteCount(u"newItemCount", m_nUnreadCount);
    for (int i = 0, n = m_pList->GetItemCount(); i < n; ++i) m_pList->SetItemRead(i, read);
  }
  m_pList->Redraw(TRUE);
  hold.Unlock();
  RedrawTitleBand();
}

// ---------------------------------------------------------------- deleting

BOOL CNewsListDlg::Ask(LPCWSTR question) {
  return ::MessageBoxW(m_hWnd, Localized(question), Localized(u"Confirm Delete"), MB_YESNO | MB_ICONQUESTION) ==
         IDYES;
}

void CNewsListDlg::DeleteRow(int row) {
  if (m_nChannel < 1 || !m_pList) return;
  CItemStore store(0);
  store.Open(StorePath(), 0, 0);
  CSingleLock hold(&m_lock, TRUE);
  CNewsListItem item;
  // An empty link would delete whichever item has none.
  if (!m_pList->GetItem(row, item) || item.m_strLink.IsEmpty()) return;
  CWaitCursor wait;
  if (!store.DeleteItem(item.m_strLink)) return;
  // The error item is counted nowhere: the counts stay as they are.
  if (item.m_strLink != NEWS_ERROR_LINK) {
    if (!item.m_bRead && m_nUnreadCount > 0) --m_nUnreadCount;
    if (m_nItemCount > 0) --m_nItemCount;
    WriteCount(u"itemCount", m_nItemCount);
    WriteCount(u"newItemCount", m_nUnreadCount);
  }
  m_contents.erase(item.m_strLink.str());
  m_titles.erase(item.m_strLink.str());
  m_pList->RemoveItem(row);
  m_pList->Redraw(TRUE);
  hold.Unlock();
  RedrawTitleBand();
}

void CNewsListDlg::OnDeleteItem() {
  if (!Ask(u"Are you sure you want to delete this item?")) return;
  if (m_nChannel < 1 || !m_pList) return;
  DeleteRow(m_pList->GetFocusedItem());
}

void CNewsListDlg::OnDeleteAllItems() {
  if (!Ask(u"Are you sure you want to delete all these items?")) return;
  if (m_nChannel < 1) return;
  CWaitCursor wait;
  DeleteChannelItemFiles(m_nChannel);
  WriteCount(u"itemCount", 0);
  WriteCount(u"newItemCount", 0);
  m_nItemCount = 0;
  m_nUnreadCount = 0;
  m_contents.clear();
  m_titles.clear();
  SetTimer(NEWS_DLG_TIMER_CLEAR, 5, nullptr);
}

void CNewsListDlg::OnDeleteChannel() {
  if (!Ask(u"Are you sure you want to delete this channel?")) return;
  std::optional<CWaitCursor> wait(std::in_place);
  CChannelListHost* window = ChannelListHost();
  CChannelListFields* dialog = window ? window->ShownChannelList() : nullptr;
  if (dialog && dialog->m_pOpml) {
    dialog->m_pOpml->RemoveChannel(m_strChannelUrl);
    // The rows and the list of subscribed feeds are built again from the
    // channel list, which no longer holds the channel.
    window->ReloadChannelRows();
  }
  if (m_nChannel >= 1) DeleteChannelFiles(m_nChannel);
  m_bChannelDeleted = TRUE;
  wait.reset();
  SendMessage(WM_CLOSE);
}

void CNewsListDlg::OnChangeCategory() {
  CScreenFrame* frame = ScreenFrame();
  CChannelListHost* window = frame ? frame->ChannelListHost() : nullptr;
  if (!window || !window->ShownChannelList()) return;
  CString chosen;
  if (!frame->ChooseChannelCategory(chosen)) return;
  // The program may have ended while the editor showed.
  window = ChannelListHost();
  CChannelListFields* dialog = window ? window->ShownChannelList() : nullptr;
  if (!::IsWindow(m_hWnd) || !dialog || !dialog->m_pOpml || chosen.IsEmpty()) return;
  // The channel list shows the channel under its new category when this
  // screen ends.
  if (dialog->m_pOpml->MoveChannel(m_strChannelUrl, chosen)) window->RefreshList();
}

void CNewsListDlg::OnChannelProperties() {
  // The property sheet with its Details tab on a touch screen, the dialog
  // form on a key device.
  if (CScreenFrame* frame = ScreenFrame())
    frame->ShowChannelProperties(GetTouchFlag(), m_nChannel, m_strChannelUrl, m_strChannelTitle, this);
  if (!::IsWindow(m_hWnd)) return;
  // A rename there shows in the title band at once.
  CString title;
  if (m_pOwner && m_pOwner->m_pOpml && m_pOwner->m_pOpml->GetChannelAttribute(m_strChannelUrl, u"text", title) &&
      title != m_strChannelTitle) {
    m_strChannelTitle = title;
    RedrawTitleBand();
  }
}

// ---------------------------------------------------------------- refresh

void CNewsListDlg::OnRefresh() {
  if (!m_pOwner || !m_pOwner->m_pChannelList) return;
  const int row = m_pOwner->m_pChannelList->FindItemById(m_nChannel);
  if (row < 0) return;
  CChannelListHost* window = ChannelListHost();
  const BOOL running = window && window->IsRunActive();
  // A new run refreshes this channel only; during a run the command cancels.
  if (!running) m_pOwner->m_nSingleChannel = row;
  if (CWnd* parent = CWnd::FromHandle(::GetParent(m_pOwner->GetDialogWindow())))
    parent->SendMessage(WM_COMMAND, ID_REFRESH_CHANNELS, 0);
  // No run started and none waits for a connection: a later Refresh of the
  // channel list is for every channel again.
  if (!running && window && !window->IsRunActive() && !window->IsStartPending()) m_pOwner->m_nSingleChannel = -1;
  if (::IsWindow(m_hWnd)) SetFocus();
}

void CNewsListDlg::OnInitMenuPopup(CMenu* popup, UINT index, BOOL sysMenu) {
  CDialog::OnInitMenuPopup(popup, index, sysMenu);
  if (!popup || !popup->GetSafeHmenu()) return;
  HMENU menu = popup->GetSafeHmenu();
  LocalizeMenu(menu);
  for (int i = 0, n = ::GetMenuItemCount(menu); i < n; ++i) {
    if (::GetSubMenu(menu, i) || ::GetMenuItemID(menu, i) != ID_REFRESH) continue;
    CString text = Localized(m_bDownloadRunning ? u"Cancel" : u"Refresh");
    ::ModifyMenuW(menu, UINT(i), MF_BYPOSITION | MF_STRING, ID_REFRESH, text);
    break;
  }
}

// ---------------------------------------------------------------- drawing

void CNewsListDlg::DrawTitleBand(HDC hdc, BOOL erase) {
  if (!hdc || !m_hWnd) return;
  CRect client;
  GetClientRect(&client);
  const int width = client.Width();
  if (width <= 0) return;
  const BOOL touch = GetTouchFlag();
  const int B = GetTitleBandHeight(), E = touch ? Dy(40) : 28;
  const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  const COLORREF dark = BlendColors(RGB(0, 0, 0), highlight, 160);
  if (erase) FillSolid(hdc, client.left, client.top, client.right, client.bottom, dark);
  HDC mem = ::CreateCompatibleDC(hdc);
  HBITMAP bitmap = ::CreateCompatibleBitmap(hdc, width, B);
  HGDIOBJ oldBitmap = ::SelectObject(mem, bitmap);
  FillSolid(mem, 0, 0, width, E / 2, dark);
  FillSolid(mem, 0, E / 2, width, E + Dy(3), BlendColors(RGB(0, 0, 0), highlight, 175));
  int textLeft = Dx(2);
  if (touch && m_titleIcon.HasImageHandle()) {
    const int ih = m_titleIcon.GetHeight(), iw = m_titleIcon.GetWidth();
    const int x = (B - ih) / 2;
    m_titleIcon.Draw(mem, x, x - Dy(1));
    textLeft = B + (iw - ih);
  }
  CString counter;
  counter.Format(u"%d/%d", m_nUnreadCount, m_nItemCount);
  ::SetBkMode(mem, TRANSPARENT);
  HGDIOBJ oldFont = ::SelectObject(mem, m_hFont);
  SIZE counterSize{};
  ::GetTextExtentPoint32W(mem, counter, counter.GetLength(), &counterSize);
  RECT title{textLeft, 0, width - Dx(8) - counterSize.cx, B - Dy(2)};
  ::SelectObject(mem, m_hBoldFont);
  ::SetTextColor(mem, BlendColors(RGB(255, 255, 255), highlight, 225));
  DrawTextEllipsis(mem, m_strChannelTitle, title,
                   DT_SINGLELINE | DT_LEFT | DT_VCENTER | DT_NOPREFIX | DT_WORD_ELLIPSIS, 0);
  ::SelectObject(mem, m_hFont);
  ::SetTextColor(mem, RGB(255, 255, 255));
  RECT count{0, 0, width - Dx(4), B};
  ::DrawTextW(mem, counter, counter.GetLength(), &count, DT_SINGLELINE | DT_RIGHT | DT_VCENTER | DT_NOPREFIX);
  ::SelectObject(mem, oldFont);
  FillSolid(mem, 0, E, width, E + 1, touch ? RGB(0, 0, 0) : RGB(255, 255, 255));
  ::BitBlt(hdc, client.left, client.top, width, B, mem, 0, 0, SRCCOPY);
  ::SelectObject(mem, oldBitmap);
  ::DeleteObject(bitmap);
  ::DeleteDC(mem);
}

BOOL CNewsListDlg::IsCovered() const {
  // A screen this one opened (the reading view, a popup) is in front: the
  // screen's pixels are that screen's until it closes.
  for (HWND w = ::GetActiveWindow(); w && w != m_hWnd; w = ::GetWindow(w, GW_OWNER))
    if (::GetWindow(w, GW_OWNER) == m_hWnd) return TRUE;
  return FALSE;
}

void CNewsListDlg::RedrawTitleBand() {
  if (!m_hWnd || !::IsWindow(m_hWnd) || IsCovered()) return;
  HDC hdc = ::GetDC(m_hWnd);
  DrawTitleBand(hdc, FALSE);
  ::ReleaseDC(m_hWnd, hdc);
}

void CNewsListDlg::DrawBar(HDC hdc) {
  if (!m_pBar) return;
  m_pBar->DrawAtScreenBottom(m_hWnd, hdc, Dy(40));
}

void CNewsListDlg::RedrawBar() {
  if (!m_pBar || !m_hWnd || IsCovered()) return;
  HDC hdc = ::GetDC(m_hWnd);
  DrawBar(hdc);
  ::ReleaseDC(m_hWnd, hdc);
}

void CNewsListDlg::LayoutList() {
  if (!m_pList) return;
  CRect client;
  GetClientRect(&client);
  m_pList->OnSize(client.Width(), ListHeight());
}

void CNewsListDlg::OnPaint() {
  const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  if (highlight != m_highlight && m_pList) {
    LayoutList();
    m_pList->Redraw(FALSE);
    if (m_pBar) m_pBar->InvalidateBackground(1);
    m_highlight = highlight;
  }
  PAINTSTRUCT ps;
  HDC hdc = ::BeginPaint(m_hWnd, &ps);
  if (m_pList) m_pList->Paint(hdc);
  DrawBar(hdc);
  DrawTitleBand(hdc, FALSE);
  ::EndPaint(m_hWnd, &ps);
}

BOOL CNewsListDlg::OnEraseBkgnd(CDC* dc) {
  if (dc) DrawTitleBand(dc->GetSafeHdc(), TRUE);
  return TRUE;
}

void CNewsListDlg::OnSize(UINT, int, int) {
  SetWindowText(GetTouchFlag() ? u"Quillet Reach" : u"Quillet");
  if (m_pList) {
    LayoutList();
    HDC hdc = ::GetDC(m_hWnd);
    m_pList->Paint(hdc);
    ::ReleaseDC(m_hWnd, hdc);
  }
  Default();
}

void CNewsListDlg::OnActivate(UINT state, CWnd* other, BOOL minimized) {
  CDialog::OnActivate(state, other, minimized);
  OnActivateFullScreen(m_hWnd);
}

void CNewsListDlg::OnClose() { EndDialog(IDCANCEL); }

// ---------------------------------------------------------------- input

BOOL CNewsListDlg::PreTranslateMessage(MSG* msg) {
  if (msg && msg->message == WM_KEYDOWN && m_pList && m_pList->GetItemCount() > 0) {
    switch (msg->wParam) {
      case VK_LEFT:
      case VK_UP:
        m_pList->FocusPrevious();
        return TRUE;
      case VK_RIGHT:
      case VK_DOWN:
        m_pList->FocusNext();
        return TRUE;
      case VK_RETURN:
        m_pList->OpenFocusedItem();
        return TRUE;
      default:
        break;
    }
  }
  return CDialog::PreTranslateMessage(msg);
}

void CNewsListDlg::OnLButtonDown(UINT, CPoint point) {
  SHRGINFO info{};
  info.cbSize = sizeof info;
  info.hwndClient = m_hWnd;
  info.ptDown = point;
  info.dwFlags = SHRG_RETURNCMD;
  if (m_pList && SHRecognizeGesture(&info) == GN_CONTEXTMENU) {
    ShowItemMenu();
    // The press was the menu's: the list does not take it as the start of a
    // tap of its own (its hold timer would press a row nobody touches).
    m_bPressTaken = TRUE;
  }
  if (::IsWindow(m_hWnd)) Default();
  m_bPressTaken = FALSE;
}

void CNewsListDlg::ShowItemMenu() {
  if (!m_pList) return;
  // The row under the finger becomes the pressed and focused one.
  m_pList->Scroller().Tap(m_nLastX, m_nLastY - GetTitleBandHeight());
  if (m_pList->GetItemCount() == 0 || m_pList->GetFocusedItem() < 0) return;
  CTouchPopupList popup;
  popup.AddItem(Localized(u"Cancel"), nullptr, ImageIdAt192(IDR_PNG_CANCEL, IDR_PNG_CANCEL_192), -1, 1);
  popup.AddItem(Localized(u"Mark as Read"), nullptr, ImageIdAt192(IDR_PNG_MARK_READ, IDR_PNG_MARK_READ_192), -1, 6);
  popup.AddItem(Localized(u"Mark as Unread"), nullptr, ImageIdAt192(IDR_PNG_MARK_UNREAD, IDR_PNG_MARK_UNREAD_192), -1,
                7);
  popup.AddItem(Localized(u"Delete this Article"), nullptr,
                ImageIdAt192(IDR_PNG_DELETE_ARTICLE, IDR_PNG_DELETE_ARTICLE_192), -1, 8);
  popup.AddItem(Localized(u"Email this Article"), nullptr, ImageIdAt192(IDR_PNG_BAR_EMAIL, IDR_PNG_BAR_EMAIL_192), -1,
                9);
  const int chosen = popup.DoModal(AfxGetInstanceHandle(), 0, m_hWnd);
  if (!::IsWindow(m_hWnd)) return;
  switch (chosen) {
    case 6:
      SendMessage(WM_COMMAND, ID_MARK_READ, 0);
      break;
    case 7:
      SendMessage(WM_COMMAND, ID_MARK_UNREAD, 0);
      break;
    case 8:
      SendMessage(WM_COMMAND, ID_DELETE_ITEM, 0);
      break;
    case 9: {
      CNewsListItem row;
      if (m_nChannel >= 1 && m_pList->GetItem(m_pList->GetFocusedItem(), row))
        SendArticleByMail(row.m_strLink, row.m_strTitle);
      break;
    }
    default:
      // 1 and no choice do nothing.
      break;
  }
}

LRESULT CNewsListDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_pList && (message == WM_LBUTTONDOWN || message == WM_MOUSEMOVE || message == WM_LBUTTONUP)) {
    const int x = short(LOWORD(lParam)), y = short(HIWORD(lParam));
    CRect client;
    GetClientRect(&client);
    const bool inBand = y > client.bottom - Dy(40);
    if (message == WM_LBUTTONUP) {
      if (m_barPress.IsPressed() && m_pBar) {
        const int command = m_barPress.Up(*m_pBar, x, y);
        HDC hdc = ::GetDC(m_hWnd);
        DrawBar(hdc);
        ::ReleaseDC(m_hWnd, hdc);
        if (command == NEWS_BAR_BACK) SendMessage(WM_CLOSE);
        else if (command == NEWS_BAR_MENU) SetTimer(NEWS_DLG_TIMER_MENU, 5, nullptr);
        else if (command == NEWS_BAR_REFRESH) OnRefresh();
        return 1;
      }
    } else {
      m_nLastX = x;
      m_nLastY = y;
      if (inBand || (message == WM_MOUSEMOVE && m_barPress.IsPressed())) {
        if (m_pBar && m_barPress.Track(message, *m_pBar, x, y, inBand)) {
          HDC hdc = ::GetDC(m_hWnd);
          DrawBar(hdc);
          ::ReleaseDC(m_hWnd, hdc);
        }
        return -1;
      }
      if (y < (GetTouchFlag() ? Dy(40) : 28)) return -1;
    }
  }
  return CDialog::WindowProc(message, wParam, lParam);
}

void CNewsListDlg::OnFullTextDone() {
  if (!m_pList) return;
  CDownloadManager* manager = Manager();
  CSingleLock hold(&m_lock, TRUE);
  BOOL reloaded = FALSE;
  for (int i = 0, n = m_pList->GetItemCount(); i < n; ++i) {
    CNewsListItem row;
    if (!m_pList->GetItem(i, row) || !row.m_bPending) continue;
    if (manager && manager->HasJob(row.m_strLink)) continue;
    if (m_pStore) {
      if (!reloaded) m_pStore->LoadFile();
      reloaded = TRUE;
      if (m_pStore->FindRecord(row.m_strLink, u"")) {
        const CItemRecord record = m_pStore->Current();
        CString picture;
        if (record.type & ITEM_TYPE_THUMBNAIL) picture = PicturePath(record.pageName);
        m_pList->LoadItemBitmap(i, picture);
        if ((record.type & ITEM_TYPE_PAGE) && record.pageName.Find(u".htm") >= 0) m_pList->SetItemFullText(i, TRUE);
      }
    }
    m_pList->SetItemPending(i, FALSE);
  }
  m_pList->Redraw(!IsCovered());
}

LRESULT CNewsListDlg::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  const UINT fullText = m_nFullTextMessage, start = m_nStartMessage, refresh = m_nRefreshMessage,
             finished = m_nFinishedMessage;
  if (message == fullText && fullText) {
    OnFullTextDone();
  } else if (message == start && start) {
    m_bDownloadRunning = TRUE;
    SetRefreshImage(TRUE);
    RedrawBar();
    return 0;
  } else if (message == refresh && refresh) {
    SetTimer(NEWS_DLG_TIMER_LOAD, 5, nullptr);
    return 0;
  } else if (message == finished && finished) {
    SetRefreshImage(FALSE);
    RedrawBar();
    SetTimer(NEWS_DLG_TIMER_LOAD, 5, nullptr);
    m_bDownloadRunning = FALSE;
    return 0;
  }
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP: {
      if (!m_pList) break;
      const int x = short(LOWORD(lParam)), y = short(HIWORD(lParam));
      if (message == WM_LBUTTONDOWN) {
        if (!m_bPressTaken) m_pList->OnPointerDown(m_hWnd, x, y);
      }
      else if (message == WM_MOUSEMOVE) m_pList->OnPointerMove(m_hWnd, x, y);
      else m_pList->OnPointerUp(m_hWnd, x, y);
      return 0;
    }
    case WM_CHANNEL_HANDOVER:
      EndDialog(IDOK);
      return 0;
    default:
      break;
  }
  return CDialog::DefWindowProc(message, wParam, lParam);
}
